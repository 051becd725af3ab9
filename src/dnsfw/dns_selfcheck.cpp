#include <stdio.h>
#include <stdlib.h>

#include "dnsfw/dnsfw.h"
#include "monitor/monitor.h"
#include "sys/buffer_sizes.h"
#include "sys/sys.h"

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
  fflush(stdout);
  // Single-threaded here: the C library's system() is safe to use.
  if (system("reboot &") == -1) printf("reboot could not be started.\n");
}
