// The network way of a bring-up: a stick that is a network card once
// switched needs its driver and, once the kernel has made its interface,
// DHCP; no dial values, no PIN (the stick keeps its own profile).
#include <stdio.h>

#include "ppp/ppp.h"
#include "sys/module_list.h"
#include "sys/pause.h"
#include "sys/shell_run.h"

namespace {

// How long the kernel may take to make the interface once the driver binds.
constexpr unsigned kInterfaceSeconds = 10;

void load_net_module(const char* name) {
  if (is_module_exist(name)) return;
  doSystemCmd("insmod /lib/modules/2.6.30.9/kernel/drivers/net/usb/%s.ko", name);
}

}  // namespace

int net_bringup(const UsbId& id, NetDriver net, char* ifname) {
  // The generic serial driver, loaded for the stick's ids, holds every
  // interface no other driver had taken: they are let go first.
  if (is_module_exist("usbserial")) doSystemCmd("rmmod usbserial");
  load_net_module("usbnet");
  load_net_module("cdc_ether");  // rndis_host binds through its symbols too
  if (net == kNetRndis) load_net_module("rndis_host");
  for (unsigned waited = 0; !find_stick_interface(id, ifname); ++waited) {
    if (waited == kInterfaceSeconds) {
      printf("no network interface for %04x:%04x.\n", id.vendor, id.product);
      return 0;
    }
    wait_seconds(1);
  }
  if (!write_dhcp_script()) return 0;
  printf("network stick %04x:%04x on %s.\n", id.vendor, id.product, ifname);
  return 1;
}
