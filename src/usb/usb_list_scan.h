// Scanning the text of the kernel's USB device list. No I/O: the probes
// read the file and hand the text here.
#pragma once

#include <stddef.h>

// First-pass ids, for the trace line printed before a root hub is skipped.
struct UsbIdTrace {
  bool reached;
  int vendor;
  int product;
};

// The ids of the first device after the first root hub in text (len bytes,
// NUL-terminated). Outputs are written as the probe's rules say, also partly
// on failure. Returns 1 when a pair was read.
int scan_usb_id(const char* text, size_t len, int* vendor, int* product, UsbIdTrace* trace);

// 1 when text has "Manufacturer=" and at least five "Driver=" entries, each
// found at least 12 characters after the start of the previous one.
int scan_modem_mode(const char* text, size_t len);

// Finds the modem port line by line: the zero-based position, among the
// interfaces bound to usbserial_generic, of the first with three endpoint
// lines directly after its interface line.
struct ModemPortScan {
  bool inside;
  int interfaces;
  int endpoints;
};
constexpr int kModemPortMax = 12;
// Feeds one line (or piece of a long line); returns the port index once
// found, -1 to go on.
int scan_modem_port_line(ModemPortScan* scan, const char* line);

// Whether a stick, once switched, is a network card rather than a modem:
// its active configuration has a CDC-Ethernet interface (Cls=02 Sub=06) or
// an RNDIS one (Cls=e0 Sub=01 Prot=03, or Cls=02 Sub=02 Prot=ff), and no
// serial interface (vendor class ff, an ACM one: Cls=02 Sub=02, or one a
// serial driver has taken: usbserial_generic, option, cdc_acm). Only the
// device with the stick's ids is looked at.
enum NetDriver { kNetNone, kNetCdcEther, kNetRndis };
struct NetStickScan {
  int vendor, product;  // the stick's
  bool device;          // the lines read are the stick's
  bool active;          // and of its active configuration
  bool serial;
  NetDriver net;
};
void net_stick_scan_begin(NetStickScan* scan, int vendor, int product);
// Feeds one line (a piece of a longer one is judged on its own).
void scan_net_stick_line(NetStickScan* scan, const char* line);
// What the lines fed show: kNetNone unless a network card without serial ports.
NetDriver net_stick_driver(const NetStickScan& scan);
