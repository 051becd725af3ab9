// Resetting the stick on its USB bus, as one unplugs and plugs it: the
// kernel drops the stick's drivers and tty nodes and brings them back. For
// a modem whose firmware has hung while its nodes stay.
#pragma once

#include "usb/usb_device_scan.h"

enum UsbResetResult {
  kResetDone,        // the kernel took the reset
  kResetNoDevice,    // no such device in the list (without ids: not one alone)
  kResetAmbiguous,   // more than one device fits: none is reset
  kResetOpenFailed,  // its usbfs node cannot be opened
  kResetRefused,     // the kernel refused the reset
};

// Room for "/proc/bus/usb/BBB/DDD".
constexpr int kUsbNodeSize = 32;

struct UsbResetReport {
  UsbResetResult result;
  UsbDeviceAddress device;   // when one was found
  char node[kUsbNodeSize];   // its usbfs node; empty when none was found
  int error;                 // the errno of a failed open or reset
  int fitting;               // devices that fit (kResetAmbiguous: more than one)
};

// Resets the one device with ids (0:0: the one device that is not a hub),
// found in /proc/bus/usb/devices, through its usbfs node; a hub never, and
// none when more than one fits. Prints nothing.
void reset_usb_stick(UsbId ids, UsbResetReport* report);
