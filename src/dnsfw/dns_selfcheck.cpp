#include <stdio.h>
#include <stdlib.h>

#include "dns/dns.h"
#include "dnsfw/dnsfw.h"
#include "status/status_read.h"
#include "sys/buffer_sizes.h"
#include "sys/if_addr.h"
#include "sys/uptime.h"

namespace {

// The start-up scripts and ip-up run the check at every boot and link-up,
// so a dead ISP name server with the link up would reboot the router again
// every two minutes or so, the LAN down most of the time, over a fault a
// reboot cannot mend. A router younger than this is therefore not rebooted.
constexpr unsigned long kRebootMinUptimeSeconds = 600;

// ip-up runs the check at every link-up, and with the ISP's name servers
// dead each of the 3g daemon's recoveries is a link-up: a reboot would only
// start its healing over, and take the LAN down each time. So a running
// daemon that has recovered the link at least once holds the reboot back.
bool daemon_is_healing() {
  int holder = 0;
  LinkStatus status;
  if (read_daemon_status(&holder, &status) != kDaemonStatusKnown || status.recoveries == 0) return false;
  printf("The 3g daemon is healing the link (%lu recoveries): the reboot is held back.\n", status.recoveries);
  return true;
}

// Reboots the router, unless it came up too short a time ago or the 3g
// daemon heals the link. An uptime that cannot be read counts as 0: the
// reboot is then held back.
void RebootUnlessJustBooted() {
  unsigned long uptime = seconds_since_boot();
  if (uptime < kRebootMinUptimeSeconds) {
    printf("The router has been up for %lu s, less than %lu s: the reboot is held back.\n", uptime,
           kRebootMinUptimeSeconds);
    return;
  }
  if (daemon_is_healing()) return;
  fflush(stdout);
  // Single-threaded here: the C library's system() is safe to use.
  if (system("reboot &") == -1) printf("reboot could not be started.\n");
}

}  // namespace

// Asks the name servers of /etc/resolv.conf directly (not the relay just
// started) and reboots the router when two probes in a row go unanswered.
void CheckDNSOK() {
  printf("start check if dns is ok.\n");
  char addr[kAddrFieldSize] = {};
  if (!GetIf_stat("ppp0", addr)) {
    printf("ISP is not PPP.\n");
    return;
  }
  if (CheckDnsQuery() || CheckDnsQuery()) {
    printf("check dns ok.\n");
    return;
  }
  printf("Sorry, We can't get domain host with this DNS, we have to restart system.\n");
  RebootUnlessJustBooted();
}
