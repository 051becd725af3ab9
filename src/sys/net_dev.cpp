#include "sys/net_dev.h"

#include <string.h>

#include "sys/line_reader.h"

namespace {

constexpr int kReceivedField = 0;  // counted from the first field after the colon
constexpr int kSentField = 8;
constexpr int kDigitsMax = 20;     // a 64-bit counter

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// One field of decimal digits at *at; false when there is none or it is
// too long for 64 bits.
bool take_field(const char* line, size_t len, size_t* at, unsigned long long* value) {
  while (*at < len && is_blank(line[*at])) ++*at;
  size_t start = *at;
  unsigned long long v = 0;
  while (*at < len && line[*at] >= '0' && line[*at] <= '9') {
    unsigned long long digit = static_cast<unsigned long long>(line[*at] - '0');
    if (*at - start >= kDigitsMax || v > (~0ULL - digit) / 10) return false;
    v = v * 10 + digit;
    ++*at;
  }
  if (*at == start || (*at < len && !is_blank(line[*at]))) return false;
  *value = v;
  return true;
}

}  // namespace

int parse_net_dev_line(const char* line, size_t len, const char* ifname, LinkBytes* bytes) {
  const char* colon = static_cast<const char*>(memchr(line, ':', len));
  if (colon == nullptr) return 0;
  size_t name_start = 0, name_end = static_cast<size_t>(colon - line);
  while (name_start < name_end && is_blank(line[name_start])) ++name_start;
  size_t name_len = name_end - name_start;
  if (name_len != strlen(ifname) || memcmp(line + name_start, ifname, name_len) != 0) return 0;
  size_t at = name_end + 1;
  unsigned long long received = 0, sent = 0, skipped;
  for (int field = 0; field <= kSentField; ++field) {
    unsigned long long* into = field == kReceivedField ? &received : field == kSentField ? &sent : &skipped;
    if (!take_field(line, len, &at, into)) return 0;
  }
  bytes->known = 1;
  bytes->received = received;
  bytes->sent = sent;
  return 1;
}

void read_net_dev(const char* ifname, LinkBytes* bytes) {
  bytes->known = 0;
  LineReader in;
  if (!line_reader_open(&in, kNetDevPath)) return;
  char line[kNetDevLineSize];
  // A line longer than the buffer comes in pieces: only a whole line (or
  // the file's unterminated last one) is read, never a piece of one.
  bool line_start = true;
  while (size_t got = line_reader_piece(&in, line, sizeof line)) {
    size_t len = strlen(line);
    bool whole = len > 0 && line[len - 1] == '\n';
    bool last = line[got - 1] != '\n' && got + 1 < sizeof line;  // the file ended in it
    if (line_start && (whole || last) && parse_net_dev_line(line, len, ifname, bytes)) break;
    line_start = whole;
  }
  line_reader_close(&in);
}
