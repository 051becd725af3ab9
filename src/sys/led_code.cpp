#include "sys/led_code.h"

std::atomic<LedCode> usb_led{kLedOff};
