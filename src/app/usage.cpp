// --help and --version.
#include <stdio.h>

#include "app/app.h"

// Supplied by the build (scripts/version); a build that does not say still
// answers.
#ifndef LINK3G_VERSION
#define LINK3G_VERSION "unknown"
#endif

namespace {

struct OptionHelp {
  const char* forms;
  const char* what;
  size_t width;  // the value's buffer, its terminator included
};

#define LINK3G_HELP(name, letter, buffer, width, forms, what) {forms, what, width},
const OptionHelp kOptionHelp[] = {LINK3G_OPTIONS(LINK3G_HELP)};
#undef LINK3G_HELP

}  // namespace

void print_usage() {
  printf("Usage: link3g --cmd 3g --3gCard CARD [--3gApn APN] [--3gDial NUMBER]\n"
         "              [--3gUser USER] [--3gPass PASSWORD] [--3gPin PIN] &\n"
         "       link3g --cmd dns\n"
         "       link3g --cmd qos --qos 'FIRST,LAST,RATE;...' --LanH PREFIX\n"
         "       link3g --cmd status\n"
         "       link3g --help | --version\n"
         "\n"
         "Commands:\n"
         "  3g      bring the 3G link up and keep it up (runs until killed)\n"
         "  dns     start the DNS relay, add the NAT rule, reboot when DNS fails\n"
         "  qos     rate rules for ranges of LAN hosts\n"
         "  status  what the 3g daemon is doing; exit status 0 link up, 1 not up,\n"
         "          3 no daemon\n"
         "\n"
         "Options (the longest value, in characters):\n");
  for (const OptionHelp& o : kOptionHelp) {
    printf("  %-22s %s (%zu)\n", o.forms, o.what, o.width - 1);
  }
  printf("      %-18s %s\n", "--help", "this text");
  printf("      %-18s %s\n", "--version", "the version");
  printf("\nA stick that is a network card once switched (CDC-Ethernet, RNDIS) gets\n"
         "DHCP (udhcpc) instead of pppd: it keeps its own APN, dial number, user\n"
         "and password, and is never sent the PIN.\n"
         "\nManual: man 8 link3g\n");
}

void print_version() { printf("link3g %s\n", LINK3G_VERSION); }
