
#include <string.h>

#include "dns/dns.h"

namespace {

// "www.example.com" as labels, each a length byte and its characters, then
// the root's zero byte, QTYPE 1 (A) and QCLASS 1 (IN), big-endian.
constexpr DomainQuestion encode(const char* name) {
  DomainQuestion q = {0, {}};
  int out = 1, label_start = 0;
  for (int i = 0;; ++i) {
    if (name[i] == '.' || name[i] == '\0') {
      q.question[label_start] = static_cast<unsigned char>(out - label_start - 1);
      if (name[i] == '\0') break;
      label_start = out++;
    } else {
      q.question[out++] = static_cast<unsigned char>(name[i]);
    }
  }
  q.question[out++] = 0;
  q.question[out++] = 0;
  q.question[out++] = 1;
  q.question[out++] = 0;
  q.question[out++] = 1;
  q.length = out;
  return q;
}

constexpr unsigned char kFlagsHigh = 0x01;  // standard query, recursion desired

}  // namespace

const DomainQuestion DomainList[kDomainListEntries] = {
    encode("www.google.com"),    encode("www.baidu.com"),  encode("www.yahoo.com"),
    encode("www.wikipedia.org"), encode("www.amazon.com"), encode("www.bing.com"),
    {0, {}},
};

size_t build_dns_query(int index, unsigned char (&out)[kDnsQueryMax]) {
  if (index < 0 || index >= kDomainListEntries) return 0;
  const DomainQuestion& q = DomainList[index];
  if (q.length <= 0) return 0;
  unsigned id = kDnsQueryIdBase + static_cast<unsigned>(index);
  const unsigned char header[12] = {static_cast<unsigned char>(id >> 8),
                                    static_cast<unsigned char>(id & 0xff), kFlagsHigh, 0, 0, 1,
                                    0, 0, 0, 0, 0, 0};
  memcpy(out, header, sizeof header);
  memcpy(out + sizeof header, q.question, static_cast<size_t>(q.length));
  return sizeof header + static_cast<size_t>(q.length);
}
