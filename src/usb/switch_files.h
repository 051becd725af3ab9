#pragma once

#include "usb/usb.h"

// The directory init_usbmodemIDList reads.
constexpr char kSwitchFileDir[] = "/bin/usb_modeswitch.d/";

// Collects into slots the names of entries of dir (which ends in '/') that
// begin with the "%04x_%04x" prefix of vendor and product, in listing order,
// at most max of them. Directories (and every type with the directory bit)
// are skipped. So are names whose path in dir would not fit a slot: a cut
// name would be another file. Returns the count stored.
int collect_switch_files(const char* dir, int vendor, int product,
                         char (*slots)[kSwitchFileNameSize], int max);
