#include "sys/led_code.h"

SharedLedCode usb_led = {kLedOff};
