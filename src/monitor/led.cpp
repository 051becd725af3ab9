// The status LED: a thread of its own turns the code in usb_led into a
// pattern, waking every 250 ms and writing the LED only when its level
// changes (a held code costs no command).
#include <pthread.h>

#include "monitor/monitor.h"
#include "sys/led_code.h"
#include "sys/pause.h"
#include "sys/sys.h"

// Both belong to the LED thread once it runs.
int32_t usb_led_state = 0;
int32_t usb_led_flash_slow_flag = 0;

namespace {

constexpr unsigned long kTickMicros = 250000;
constexpr int32_t kSlowBlinkTicks = 4;

void set_level(int32_t level) {
  UsbLedShow(level);
  usb_led_state = level;
}

void toggle() { set_level(usb_led_state ? 0 : 1); }

}  // namespace

// The file takes the inverted level: "0" lights the LED.
void UsbLedShow(int level) {
  if (level) {
    doSystemCmd("echo 0 > /proc/led_enable");
  } else {
    doSystemCmd("echo 1 > /proc/led_enable");
  }
}

void usb_led_timer() {
  switch (usb_led.load()) {
    case kLedOff:
      if (usb_led_state == 1) set_level(0);
      break;
    case kLedSteady:
      if (usb_led_state == 0) set_level(1);
      break;
    case kLedFastBlink:
      toggle();
      break;
    case kLedSlowBlink:
      if (++usb_led_flash_slow_flag < kSlowBlinkTicks) break;
      usb_led_flash_slow_flag = 0;
      toggle();
      break;
    default:
      break;
  }
}

void* MyUsbLedThread(void*) {
  for (;;) {
    usb_led_timer();
    wait_microseconds(kTickMicros);
  }
  return nullptr;
}

int InitUsbLedTask() {
  UsbLedShow(0);
  usb_led_state = 0;
  pthread_t thread;
  int rc = pthread_create(&thread, nullptr, MyUsbLedThread, nullptr);
  if (rc == 0) pthread_detach(thread);  // never joined
  return rc;
}
