#include <stdio.h>

#include "dnsfw/dnsfw.h"
#include "status/status_read.h"
#include "sys/buffer_sizes.h"
#include "sys/if_addr.h"
#include "sys/shell_run.h"

namespace {
constexpr char kDefaultLanAddress[] = "192.168.1.1";
const char* const kPppInterfaces[] = {"ppp0", "ppp1", "ppp2"};

// The WAN interface of a running 3g daemon whose link goes the network way
// (its status file names it, read strictly); null for a PPP link or none.
const char* network_wan(LinkStatus* status) {
  int holder;
  if (read_daemon_status(&holder, status) != kDaemonStatusKnown) return nullptr;
  return status->mode == kModeNetwork && status->interface[0] != '\0' ? status->interface : nullptr;
}

}  // namespace

void CheckPPPOEDevice() {
  char lan[kAddrFieldSize] = {};
  char ppp[kAddrFieldSize] = {};
  if (!GetIf_stat("br0", lan)) snprintf(lan, sizeof lan, "%s", kDefaultLanAddress);
  LinkStatus status;
  const char* wan = network_wan(&status);
  if (wan != nullptr) {
    if (GetIf_stat(wan, ppp)) SetPPPOENat(wan, lan);
    return;
  }
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
