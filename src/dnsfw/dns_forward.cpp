#include <stdio.h>
#include <string.h>

#include "dns/dns.h"
#include "dnsfw/dnsfw.h"
#include "sys/shell_run.h"

namespace {

constexpr char kScriptPath[] = "/etc/dnsfw.sh";

// Keeps only values that are IPv4 addresses, in their order: anything else
// would reach two shells (the echo line and the script it writes).
void keep_usable_servers(char (&first)[kNameserverFieldSize], char (&second)[kNameserverFieldSize]) {
  if (!usable_nameserver(second)) second[0] = '\0';
  if (!usable_nameserver(first)) {
    memcpy(first, second, sizeof first);
    second[0] = '\0';
  }
}

void write_script(const char* first, const char* second) {
  doSystemCmd("echo '#!/bin/sh' > %s", kScriptPath);
  doSystemCmd("echo 'mkdir -p /etc/dnrd' >> %s", kScriptPath);
  doSystemCmd("echo 'killall -9 dnrd' >> %s", kScriptPath);
  doSystemCmd("echo 'lanip=`nvram_get 2860 lan_ipaddr`' >> %s", kScriptPath);
  if (second[0] != '\0' && strcmp(first, second) != 0) {
    doSystemCmd("echo 'dnrd -a $lanip -R /etc/dnrd -s %s -s %s &' >> %s", first, second,
                kScriptPath);
  } else {
    doSystemCmd("echo 'dnrd -a $lanip -R /etc/dnrd -s %s &' >> %s", first, kScriptPath);
  }
}

}  // namespace

int GetDns(char* first, char* second) {
  if (first == nullptr || second == nullptr) return 0;
  char fields[2][kNameserverFieldSize];
  int lines = read_nameservers(0, fields, 2);
  memcpy(first, fields[0], sizeof fields[0]);
  memcpy(second, fields[1], sizeof fields[1]);
  return lines < 0 ? 0 : lines;
}

void InitDnsForward() {
  char first[kNameserverFieldSize] = {}, second[kNameserverFieldSize] = {};
  if (GetDns(first, second) <= 0) return;
  keep_usable_servers(first, second);
  if (first[0] == '\0') return;  // as good as no name server at all
  write_script(first, second);
  doSystemCmd("chmod +x %s ", kScriptPath);
  doSystemCmd("%s ", kScriptPath);
  CheckPPPOEDevice();
  CheckDNSOK();
}
