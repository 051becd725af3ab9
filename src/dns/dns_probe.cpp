// Does a name server of /etc/resolv.conf answer a DNS query sent now? Any
// datagram back from that server's port 53 counts; the reply is never
// parsed.
#include <arpa/inet.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "dns/dns.h"
#include "sys/eintr.h"
#include "sys/pause.h"

int32_t DomainListIndex = 0;

namespace {

constexpr uint16_t kDnsPort = 53;
constexpr unsigned kAnswerSeconds = 2;
constexpr size_t kReplySize = 256;
constexpr int kAttemptsPerServer = 3;
constexpr size_t kServerBufferSize = 32;
constexpr unsigned long kMicrosPerSecond = 1000000UL;
constexpr long kNanosPerMicro = 1000L;

// Moves the rotation on after a query went out.
void advance_rotation() {
  ++DomainListIndex;
  if (DomainListIndex >= kDomainListEntries || DomainList[DomainListIndex].length == 0) {
    DomainListIndex = 0;
  }
}

// Sends the current question to server; false when nothing went out. The
// socket is connected to the server, so the kernel hands it only datagrams
// from that address and port: a stray one from anywhere else is no answer.
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
  if (connect(sock, reinterpret_cast<struct sockaddr*>(&dest), sizeof dest) != 0) return false;
  ssize_t sent = sendto(sock, query, len, 0, nullptr, 0);
  if (sent <= 0) return false;  // the same question goes out next time
  advance_rotation();
  return true;
}

unsigned long micros_since(const struct timespec& start) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<unsigned long>(now.tv_sec - start.tv_sec) * kMicrosPerSecond +
         static_cast<unsigned long>(now.tv_nsec / kNanosPerMicro) -
         static_cast<unsigned long>(start.tv_nsec / kNanosPerMicro);
}

// A reply of any content from the server; a zero-length one is none. A
// connected socket also reports the server's "port unreachable" as an
// error: that is no answer either, and the wait still lasts its full time,
// as it does for a server that stays silent.
int await_reply(int sock) {
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  if (wait_readable(sock, kAnswerSeconds) != 1) return 0;
  unsigned char reply[kReplySize];
  ssize_t n = retry_on_eintr([&] { return recvfrom(sock, reply, sizeof reply, 0, nullptr, nullptr); });
  if (n >= 0) return n > 0 ? 1 : 0;
  constexpr unsigned long kAnswerMicros = kAnswerSeconds * kMicrosPerSecond;
  unsigned long spent = micros_since(start);
  if (spent < kAnswerMicros) wait_microseconds(kAnswerMicros - spent);
  return 0;
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
