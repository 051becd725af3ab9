#include "sys/if_addr.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <string.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The socket getIfIp_steady asks on; -1 until one could be made.
int steady_sock = -1;

// The dotted-decimal IPv4 address of ifname into addr, asked on sock; 0 on
// success, -1 otherwise. Names that do not fit the request's 15 characters
// are refused rather than cut: a cut name may be another interface.
int query_ipv4_on(int sock, const char* ifname, char* addr) {
  struct ifreq req;
  memset(&req, 0, sizeof req);
  if (strlen(ifname) >= sizeof req.ifr_name) return -1;
  strncpy(req.ifr_name, ifname, sizeof req.ifr_name - 1);
  if (ioctl(sock, SIOCGIFADDR, &req) < 0) return -1;
  struct sockaddr_in sin;
  memcpy(&sin, &req.ifr_addr, sizeof sin);
  char text[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text) == nullptr) return -1;
  memcpy(addr, text, strlen(text) + 1);
  return 0;
}

int query_ipv4(const char* ifname, char* addr) {
  int sock = socket(AF_INET, SOCK_DGRAM, 0);
  if (sock < 0) return -1;
  int rc = query_ipv4_on(sock, ifname, addr);
  close(sock);
  return rc;
}

bool steady_socket() {
  if (steady_sock < 0) {
    steady_sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (steady_sock < 0) return false;
    // The LED thread may start a command at any moment: no child holds it.
    fcntl(steady_sock, F_SETFD, FD_CLOEXEC);
  }
  return true;
}

}  // namespace

int getIfIp_steady(const char* ifname, char* addr) {
  return steady_socket() ? query_ipv4_on(steady_sock, ifname, addr) : -1;
}

int if_exists_steady(const char* ifname) {
  struct ifreq req;
  memset(&req, 0, sizeof req);
  if (!ifname_plain(ifname) || !steady_socket()) return 0;
  strncpy(req.ifr_name, ifname, sizeof req.ifr_name - 1);
  return ioctl(steady_sock, SIOCGIFINDEX, &req) == 0 ? 1 : 0;
}

int ifname_plain(const char* name) {
  size_t len = strlen(name);
  if (len == 0 || len >= kIfNameSize) return 0;
  for (size_t i = 0; i < len; ++i) {
    char c = name[i];
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '_' || c == '-';
    if (!plain) return 0;
  }
  return 1;
}

int getIfIp(const char* ifname, char* addr) {
  return query_ipv4(ifname, addr);
}

int GetIf_stat(const char* ifname, char* addr) {
  return query_ipv4(ifname, addr) == 0 ? 1 : 0;
}
