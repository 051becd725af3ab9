// Does a name server of /etc/resolv.conf answer a DNS query sent now? Any
// datagram back from that server's port 53 counts; the reply is never
// parsed.
#include <arpa/inet.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

// Moves the rotation on after a query went out.
void advance_rotation() {
  ++DomainListIndex;
  if (DomainListIndex >= kDomainListEntries || DomainList[DomainListIndex].length == 0) {
    DomainListIndex = 0;
  }
}

// The server's address, port 53; false when server is no IPv4 address.
bool server_address(const char* server, struct sockaddr_in* dest) {
  memset(dest, 0, sizeof *dest);
  dest->sin_family = AF_INET;
  dest->sin_port = htons(kDnsPort);
  return inet_pton(AF_INET, server, &dest->sin_addr) == 1;
}

// Sends the current question to dest; false when nothing went out.
bool send_query(int sock, const struct sockaddr_in& dest) {
  unsigned char query[kDnsQueryMax];
  size_t len = build_dns_query(DomainListIndex, query);
  if (len == 0) {
    DomainListIndex = 0;  // the table's end: nothing is sent
    return false;
  }
  ssize_t sent = sendto(sock, query, len, 0, reinterpret_cast<const struct sockaddr*>(&dest), sizeof dest);
  if (sent <= 0) return false;  // the same question goes out next time
  advance_rotation();
  return true;
}

bool from_server(const struct sockaddr_in& from, socklen_t len, const struct sockaddr_in& server) {
  return len >= sizeof from && from.sin_family == AF_INET && from.sin_port == server.sin_port &&
         from.sin_addr.s_addr == server.sin_addr.s_addr;
}

// A reply of any content from the server's port 53; a zero-length one is
// none. A datagram from anywhere else is no answer: it is dropped and the
// wait goes on for the rest of its 2 s, as it does when the server stays
// silent or refuses the port (the socket is not connected, so the kernel
// reports no refusal to it).
int await_reply(int sock, const struct sockaddr_in& server) {
  ReadableWait wait;
  readable_wait_begin(&wait, sock, kAnswerSeconds);
  while (readable_wait_next(&wait) == 1) {
    unsigned char reply[kReplySize];
    struct sockaddr_in from;
    socklen_t len = sizeof from;
    ssize_t n = retry_on_eintr([&] {
      return recvfrom(sock, reply, sizeof reply, 0, reinterpret_cast<struct sockaddr*>(&from), &len);
    });
    if (n < 0) return 0;
    if (from_server(from, len, server)) return n > 0 ? 1 : 0;
  }
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
  struct sockaddr_in dest;
  int answered = server_address(server, &dest) && send_query(sock, dest) ? await_reply(sock, dest) : 0;
  close(sock);
  return answered;
}

int CheckDnsQuery() { return ask_server(1) || ask_server(2) ? 1 : 0; }
