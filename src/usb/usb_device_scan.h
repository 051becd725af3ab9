// Which device of the kernel's USB device list a reset is for. Each device
// block starts with its T: line (bus and device numbers), its D: line tells
// a hub (class 09), which is never one, and its P: line carries the ids.
// Fed line by line (or in the pieces a bounded reader gives), no I/O.
#pragma once

#include <stddef.h>

#include "usb/usb.h"

// Where a device sits: its usbfs node is /proc/bus/usb/BBB/DDD.
struct UsbDeviceAddress {
  int bus;
  int device;
  UsbId ids;
};

struct UsbDeviceScan {
  UsbId wanted;         // the stick's ids; 0:0 for the one device that is no hub
  bool line_start;      // the next piece starts a line
  bool in_block;        // a T: line with both numbers was read
  bool hub;             // the block's D: line says class 09
  UsbDeviceAddress block;
  int matches;          // devices that fit (no hub among them)
  UsbDeviceAddress first;
};

void usb_device_scan_begin(UsbDeviceScan* scan, UsbId wanted);
// One piece of the list (a line, or part of a longer one; len bytes).
void usb_device_scan_piece(UsbDeviceScan* scan, const char* piece, size_t len);
// Ends the scan and returns how many devices that are no hub fit: with
// wanted ids, those that carry them; without, every one. *out receives the
// device only when exactly one fits: a reset of the wrong one of two is
// not to be risked.
int usb_device_scan_end(UsbDeviceScan* scan, UsbDeviceAddress* out);
