// Takes a freshly plugged stick from whatever state it is in to a working
// modem tty: reload the serial drivers, read the stick's ids, switch it out
// of its CD-ROM/storage personality by the first strategy that works, load
// usbserial for it and pick the tty.
#include <stdio.h>
#include <string.h>

#include "sys/file_exist.h"
#include "sys/led_code.h"
#include "sys/module_list.h"
#include "sys/pause.h"
#include "sys/shell_run.h"
#include "usb/usb.h"

namespace {

constexpr unsigned kDriverReloadSeconds = 3;
constexpr unsigned kNoStickSeconds = 2;
constexpr unsigned kSerialLoadSeconds = 2;
constexpr unsigned kStorageLoadSeconds = 6;
constexpr unsigned kEjectSeconds = 6;
constexpr unsigned kDirectSwitchSeconds = 5;

constexpr UsbId kDirectSwitchStick = {0x1e89, 0xf000};
constexpr UsbId kMarkerStick = {0x0408, 0xf000};

bool same(const UsbId& a, const UsbId& b) { return a.vendor == b.vendor && a.product == b.product; }

void reload_serial_drivers() {
  doSystemCmd("rmmod usbserial");
  doSystemCmd("rmmod cdc-acm");
  doSystemCmd("insmod /lib/modules/2.6.30.9/kernel/drivers/usb/class/cdc-acm.ko");
  wait_seconds(kDriverReloadSeconds);
}

// The serial driver for the stick's modem ids. The switch-file path names
// the vendor with at least three digits, the others with four.
void load_usbserial(const UsbId& id, bool three_digit_vendor) {
  if (three_digit_vendor) {
    doSystemCmd("insmod /lib/modules/2.6.30.9/kernel/drivers/usb/serial/usbserial.ko "
                "vendor=0x%03x product=0x%04x", id.vendor, id.product);
  } else {
    doSystemCmd("insmod /lib/modules/2.6.30.9/kernel/drivers/usb/serial/usbserial.ko "
                "vendor=0x%04x product=0x%04x", id.vendor, id.product);
  }
  wait_seconds(kSerialLoadSeconds);
}

// A switched stick whose serial driver bound no port of it (so no modem
// tty) but that has a network interface is a network card.
bool network_card(const UsbId& id, NetDriver* net) {
  *net = network_stick_driver(id);
  if (*net == kNetNone) return false;
  printf("auto_init_modem, %04x:%04x is a network stick (%s).\n", id.vendor, id.product,
         *net == kNetRndis ? "rndis_host" : "cdc_ether");
  return true;
}

// The stage after which the modem showed: load usbserial and report it.
bool modem_ready(const UsbId& id, int stage) {
  load_usbserial(id, false);
  printf("auto_init_modem, USB Momdem has init ok %d.\n", stage);
  return true;
}

// After a switching action: the modem shows and its (new) ids can be read.
bool switched(UsbId* id) {
  return CheckUsbModemMode() && GetUsbID_cdrom(&id->vendor, &id->product);
}

// The generic ways out of the storage personality, in order; true once the
// modem shows (usbserial then loaded).
bool switch_generic(UsbId* id) {
  if (CheckUsbModemMode()) return modem_ready(*id, 2);
  if (!is_module_exist("usb_storage")) {
    doSystemCmd("insmod /lib/modules/2.6.30.9/kernel/drivers/usb/storage/usb-storage.ko");
    wait_seconds(kStorageLoadSeconds);
  }
  if (CheckUsbModemMode()) return modem_ready(*id, 3);
  doSystemCmd("eject /dev/sr0");
  doSystemCmd("eject /dev/sda");
  wait_seconds(kEjectSeconds);
  if (switched(id)) return modem_ready(*id, 4);
  if (!same(*id, kDirectSwitchStick)) return false;
  doSystemCmd("/bin/modemswitch -v 0x%04x -p 0x%04x -R ", id->vendor, id->product);
  wait_seconds(kDirectSwitchSeconds);
  return switched(id) && modem_ready(*id, 5);
}

// The stick-specific strategies; true once the modem shows with readable
// ids (usbserial then loaded).
bool switch_specific(UsbId* id) {
  int count = init_usbmodemIDList(id->vendor, id->product);
  printf("get cdrom vid[%04x] pid[%04x] fileIDTry[%d]\n", id->vendor, id->product, count);
  if (same(*id, kMarkerStick)) {
    switch_Guanta_Q111();
  } else {
    walk_switch_files(count);
  }
  if (!CheckUsbModemMode() && id->vendor == kHuaweiVendor) re_eject_huawei(id->vendor, id->product);
  if (!CheckUsbModemMode()) {
    printf("CheckUsbModemMode failed.\n");
    return false;
  }
  if (!GetUsbID_cdrom(&id->vendor, &id->product)) {
    printf("get usb modem id failed.\n");
    return false;
  }
  printf("get usbmode vid[%04x] pid[%04x]\n", id->vendor, id->product);
  load_usbserial(*id, true);
  return true;
}

bool modem_node_served() {
  return CheckFileExist("/dev/ttyACM0") || CheckFileExist("/dev/ttyUSB0");
}

}  // namespace

int bring_up_modem(char* tty, UsbId* ids, NetDriver* net) {
  *net = kNetNone;
  reload_serial_drivers();
  UsbId& id = *ids;
  id = {0, 0};
  if (modem_node_served()) {
    printf("auto_init_modem, USB Momdem has init ok 1.\n");
    return select_modem_tty(id, tty);
  }
  memset(ext_usbModemID, 0, sizeof ext_usbModemID);
  if (!GetUsbID_cdrom(&id.vendor, &id.product)) {
    printf("get usb id modem failed.\n");
    wait_seconds(kNoStickSeconds);
    return 0;
  }
  usb_led = kLedOff;
  printf("get cdrom vid[%04x] pid[%04x]\n", id.vendor, id.product);
  if (!switch_generic(&id) && !switch_specific(&id)) return 0;
  return network_card(id, net) ? 1 : select_modem_tty(id, tty);
}

int auto_init_modem(char* tty) {
  UsbId ids;
  NetDriver net;
  return bring_up_modem(tty, &ids, &net) && net == kNetNone;
}
