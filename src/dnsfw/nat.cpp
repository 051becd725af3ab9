#include <stdio.h>

#include "dnsfw/dnsfw.h"
#include "sys/buffer_sizes.h"
#include "sys/if_addr.h"
#include "sys/shell_run.h"

namespace {
constexpr char kDefaultLanAddress[] = "192.168.1.1";
const char* const kPppInterfaces[] = {"ppp0", "ppp1", "ppp2"};
}  // namespace

void CheckPPPOEDevice() {
  char lan[kAddrFieldSize] = {};
  char ppp[kAddrFieldSize] = {};
  if (!GetIf_stat("br0", lan)) snprintf(lan, sizeof lan, "%s", kDefaultLanAddress);
  for (const char* ifname : kPppInterfaces) {
    if (GetIf_stat(ifname, ppp)) {
      SetPPPOENat(ifname, lan);
      return;
    }
  }
}

// The LAN is the router's own address with prefix length 24, host part
// included, as iptables accepts it.
void SetPPPOENat(const char* ifname, const char* lanAddress) {
  doSystemCmd("iptables -t nat -F POSTROUTING");
  doSystemCmd("iptables -t nat -A POSTROUTING -s %s/24 -o %s -j MASQUERADE ", lanAddress, ifname);
}
