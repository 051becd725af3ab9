#pragma once

#include "usb/usb.h"

// Room for a tty path in the bring-up's result buffer.
constexpr int kTtyBufferSize = 32;

// Picks the modem tty for the stick with id (0:0 when no ids were read):
// /dev/ttyACM0 when it is served, else /dev/ttyUSB<n> with n from the
// device list. Writes it to tty and returns 1, or returns 0 when the chosen
// node cannot be opened.
int select_modem_tty(const UsbId& id, char* tty);
