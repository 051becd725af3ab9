#include "sys/if_addr.h"

#include <arpa/inet.h>
#include <string.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The dotted-decimal IPv4 address of ifname into addr; 0 on success, -1
// otherwise. Names that do not fit the request's 15 characters are refused
// rather than cut: a cut name may be another interface.
int query_ipv4(const char* ifname, char* addr) {
  struct ifreq req;
  memset(&req, 0, sizeof req);
  if (strlen(ifname) >= sizeof req.ifr_name) return -1;
  strncpy(req.ifr_name, ifname, sizeof req.ifr_name - 1);
  int sock = socket(AF_INET, SOCK_DGRAM, 0);
  if (sock < 0) return -1;
  int rc = ioctl(sock, SIOCGIFADDR, &req);
  close(sock);
  if (rc < 0) return -1;
  struct sockaddr_in sin;
  memcpy(&sin, &req.ifr_addr, sizeof sin);
  char text[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text) == nullptr) return -1;
  memcpy(addr, text, strlen(text) + 1);
  return 0;
}

}  // namespace

int getIfIp(const char* ifname, char* addr) {
  return query_ipv4(ifname, addr);
}

int GetIf_stat(const char* ifname, char* addr) {
  return query_ipv4(ifname, addr) == 0 ? 1 : 0;
}
