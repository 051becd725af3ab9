#include <cstdio>
#include <cstring>

#include "dnsfw/dnsfw.h"
#include "monitor/resolv_conf.h"
#include "sys/sys.h"

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
  first[0] = second[0] = '\0';
  FILE* f = fopen("/etc/resolv.conf", "r");
  if (f == nullptr) return 0;
  char piece[kResolvPieceSize];
  int count = 0;
  while (fgets(piece, sizeof piece, f) != nullptr) {
    char field[kNameserverFieldSize];
    if (!nameserver_of_piece(piece, strlen(piece), field)) continue;
    if (count == 0) memcpy(first, field, sizeof field);
    if (count == 1) memcpy(second, field, sizeof field);
    ++count;
  }
  fclose(f);
  return count;
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
