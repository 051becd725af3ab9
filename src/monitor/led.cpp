// The status LED: a thread of its own turns the code in usb_led into a
// pattern, ticking every 250 ms while a blink runs and writing the LED only
// when its level changes (a held code costs no command). Once the LED shows
// a held code (off or steady) the thread sleeps until the code changes, so
// a steady link costs it no wakeups at all.
#include <pthread.h>

#include "monitor/monitor.h"
#include "sys/led_code.h"
#include "sys/pause.h"
#include "sys/shell_run.h"

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

// One tick; returns the code it acted on.
LedCode led_tick() {
  LedCode code = usb_led.load();
  switch (code) {
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
  return code;
}

// Off at level 0, steady at level 1: further ticks would change nothing.
bool shows_held(LedCode code) {
  return (code == kLedOff && usb_led_state == 0) || (code == kLedSteady && usb_led_state == 1);
}

}  // namespace

void usb_led_timer() { led_tick(); }

// A held code shown waits for the next store that changes usb_led, then
// ticks at once; blinks tick on the 250 ms cadence, as does everything
// should the kernel refuse the untimed wait.
void* MyUsbLedThread(void*) {
  for (;;) {
    LedCode code = led_tick();
    if (shows_held(code) && usb_led.wait_while(code)) continue;
    wait_microseconds(kTickMicros);
  }
  return nullptr;
}

// The file takes the inverted level: "0" lights the LED.
void UsbLedShow(int level) {
  if (level) {
    doSystemCmd("echo 0 > /proc/led_enable");
  } else {
    doSystemCmd("echo 1 > /proc/led_enable");
  }
}

int InitUsbLedTask() {
  UsbLedShow(0);
  usb_led_state = 0;
  pthread_t thread;
  int rc = pthread_create(&thread, nullptr, MyUsbLedThread, nullptr);
  if (rc == 0) pthread_detach(thread);  // never joined
  return rc;
}
