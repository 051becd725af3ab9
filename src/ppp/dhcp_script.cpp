// The script udhcpc runs for a network stick's lease. Everything in it
// comes from the lease, which the stick (or whoever answers on its
// network) makes up: each value is used only as one quoted word and only
// when it has the form its use wants, so that no lease can run a command
// or add a line of its own to resolv.conf. A new lease runs the router's
// /etc/ppp/ip-up as pppd does at link-up (interface, "udhcpc" for the tty,
// speed, address, peer), so that what it does for the link (the NAT rule,
// through link3g --cmd dns) is done for both ways.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "ppp/ppp.h"
#include "sys/small_file.h"

namespace {

constexpr char kDhcpScript[] =
    "#!/bin/sh\n"
    "# link3g: the network stick's lease, from udhcpc.\n"
    "set -f\n"
    "quad() { case \"$1\" in ''|*[!0-9.]*) return 1;; esac; }\n"
    "case \"$1\" in\n"
    "deconfig) ifconfig \"$interface\" 0.0.0.0 up;;\n"
    "bound|renew)\n"
    "  quad \"$ip\" || exit 1\n"
    "  m=255.255.255.0; quad \"$subnet\" && m=\"$subnet\"\n"
    "  ifconfig \"$interface\" \"$ip\" netmask \"$m\" up\n"
    "  while route del default dev \"$interface\" 2>/dev/null; do :; done\n"
    "  for r in $router; do quad \"$r\" && route add default gw \"$r\" dev \"$interface\" && break; done\n"
    "  r=/etc/resolv.conf\n"
    "  for s in $dns; do quad \"$s\" && echo \"nameserver $s\"; done > $r.new\n"
    "  case \"$domain\" in ''|*[!A-Za-z0-9.-]*) ;; *) echo \"search $domain\" >> $r.new;; esac\n"
    "  if grep -q nameserver $r.new; then mv -f $r.new $r; else rm -f $r.new; fi\n"
    "  [ \"$1\" = bound ] && [ -x /etc/ppp/ip-up ] && /etc/ppp/ip-up \"$interface\" udhcpc 0 \"$ip\" '' &;;\n"
    "esac\n"
    "exit 0\n";

}  // namespace

int write_dhcp_script() {
  int err = write_file_whole(kDhcpScriptPath, kDhcpScriptTempPath, kDhcpScript, sizeof kDhcpScript - 1, 0700);
  if (err == 0) return 1;
  printf("gen dhcp script: %s cannot be written (%s).\n", kDhcpScriptPath, strerror(err));
  return 0;
}
