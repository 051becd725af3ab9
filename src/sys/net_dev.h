// The byte counters of one interface, as /proc/net/dev lists them:
//   "  ppp0:  123456  789 0 0 0 0 0 0  654321  987 0 0 0 0 0 0"
// (name, a colon, eight receive fields, eight transmit fields; old kernels
// may join a wide first number to the colon).
#pragma once

#include <stddef.h>


// Bytes an interface has received and sent, as the kernel counts them.
struct LinkBytes {
  int known;  // 0 when the interface is not listed
  unsigned long long received;
  unsigned long long sent;
};

constexpr char kNetDevPath[] = "/proc/net/dev";
// Room for one line of /proc/net/dev: sixteen 20-digit fields and a name.
constexpr size_t kNetDevLineSize = 512;

// Reads one line (len bytes, without or with its newline). Returns 1 and
// sets bytes when it is ifname's line with both byte counters readable,
// else 0 (bytes untouched).
int parse_net_dev_line(const char* line, size_t len, const char* ifname, LinkBytes* bytes);

// ifname's counters from /proc/net/dev; bytes->known is 0 when it is not
// listed or the file cannot be read.
void read_net_dev(const char* ifname, LinkBytes* bytes);
