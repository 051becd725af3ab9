// Does a name server of /etc/resolv.conf answer a DNS query sent now? Any
// datagram back counts; the reply is never parsed.
#include <arpa/inet.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "monitor/dns_question.h"
#include "monitor/monitor.h"
#include "monitor/resolv_conf.h"
#include "sys/pause.h"

int32_t DomainListIndex = 0;

namespace {

constexpr uint16_t kDnsPort = 53;
constexpr unsigned kAnswerSeconds = 2;
constexpr size_t kReplySize = 256;
constexpr int kAttemptsPerServer = 3;
constexpr size_t kServerBufferSize = 32;

// Moves the rotation on after a query went out.
void advance_rotation() {
  ++DomainListIndex;
  if (DomainListIndex >= kDomainListEntries || DomainList[DomainListIndex].length == 0) {
    DomainListIndex = 0;
  }
}

// Sends the current question to server; false when nothing went out.
bool send_query(int sock, const char* server) {
  struct sockaddr_in dest;
  memset(&dest, 0, sizeof dest);
  dest.sin_family = AF_INET;
  dest.sin_port = htons(kDnsPort);
  if (inet_pton(AF_INET, server, &dest.sin_addr) != 1) return false;
  unsigned char query[kDnsQueryMax];
  size_t len = build_dns_query(DomainListIndex, query);
  if (len == 0) {
    DomainListIndex = 0;  // the table's end: nothing is sent
    return false;
  }
  ssize_t sent = sendto(sock, query, len, 0, reinterpret_cast<struct sockaddr*>(&dest), sizeof dest);
  if (sent <= 0) return false;  // the same question goes out next time
  advance_rotation();
  return true;
}

// A reply of any content and from any sender; a zero-length one is none.
int await_reply(int sock) {
  if (wait_readable(sock, kAnswerSeconds) != 1) return 0;
  unsigned char reply[kReplySize];
  ssize_t n;
  do {
    n = recvfrom(sock, reply, sizeof reply, 0, nullptr, nullptr);
  } while (n < 0 && errno == EINTR);
  return n > 0 ? 1 : 0;
}

// Up to three queries to the n-th name server; 1 on the first answer.
int ask_server(int n) {
  char server[kServerBufferSize] = {};
  getDns(n, server);
  if (!usable_nameserver(server)) return 0;
  for (int attempt = 0; attempt < kAttemptsPerServer; ++attempt) {
    if (SendDns(server)) return 1;
  }
  return 0;
}

}  // namespace

int SendDns(const char* server) {
  int sock = socket(AF_INET, SOCK_DGRAM, 0);
  if (sock < 0) {
    printf("Cannot create dns socket .\n");
    return 0;
  }
  int answered = send_query(sock, server) ? await_reply(sock) : 0;
  close(sock);
  return answered;
}

int CheckDnsQuery() { return ask_server(1) || ask_server(2) ? 1 : 0; }
