// The status LED: the levels written to /proc/led_enable and their timing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "monitor/monitor.h"
#include "sys/led_code.h"

namespace {

struct LedWrite {
  double time;
  int value;  // what was written: "0" lights the LED
};

std::vector<LedWrite> led_writes() {
  std::vector<LedWrite> out;
  for (const std::string& line : bench::lines_of(bench::read_file("/bench/journal/led.log"))) {
    std::stringstream ss(line);
    LedWrite w{0, -1};
    ss >> w.time >> w.value;
    out.push_back(w);
  }
  return out;
}

class Led : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_BENCH();
    bench::clear_journals();
    usb_led = kLedOff;
    usb_led_state = 0;
    usb_led_flash_slow_flag = 0;
  }
  void ticks(int n) {
    for (int i = 0; i < n; ++i) usb_led_timer();
  }
};

TEST_F(Led, HeldCodesWriteOnlyOnChange) {
  ticks(3);
  EXPECT_TRUE(led_writes().empty());
  usb_led = kLedSteady;
  ticks(5);
  usb_led = kLedOff;
  ticks(5);
  std::vector<LedWrite> w = led_writes();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0].value, 0);  // lit
  EXPECT_EQ(w[1].value, 1);  // dark
}

TEST_F(Led, FastBlinkTogglesEveryTickSlowEveryFourth) {
  usb_led = kLedFastBlink;
  ticks(4);
  EXPECT_EQ(led_writes().size(), 4u);
  EXPECT_EQ(usb_led_flash_slow_flag, 0);
  bench::clear_journals();
  usb_led = kLedSlowBlink;
  ticks(8);
  EXPECT_EQ(led_writes().size(), 2u);
}

// Switching between the blinks keeps the level and the slow count.
TEST_F(Led, SlowCountSurvivesOtherCodes) {
  usb_led = kLedSlowBlink;
  ticks(2);
  usb_led = kLedFastBlink;
  ticks(1);  // level 1 now
  EXPECT_EQ(usb_led_flash_slow_flag, 2);
  usb_led = kLedSlowBlink;
  ticks(1);
  EXPECT_EQ(led_writes().size(), 1u);
  ticks(1);  // the fourth slow tick: back to level 0
  std::vector<LedWrite> w = led_writes();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0].value, 0);
  EXPECT_EQ(w[1].value, 1);
  EXPECT_EQ(usb_led_state, 0);
}

// The thread on the bench's clock: level 0 once at start, then the pattern
// of each code with its period.
TEST_F(Led, ThreadPatternsAndPeriods) {
  usb_led = kLedFastBlink;
  ASSERT_EQ(InitUsbLedTask(), 0);
  sleep(2);  // the bench's clock: sleeps are sped up alike
  usb_led = kLedSlowBlink;
  sleep(6);
  usb_led = kLedSteady;
  sleep(1);
  std::vector<LedWrite> w = led_writes();
  ASSERT_GE(w.size(), 10u);
  EXPECT_EQ(w[0].value, 1);  // InitUsbLedTask: level 0
  // A tick is 250 ms plus the time its write takes.
  double fast = w[3].time - w[2].time;
  EXPECT_GE(fast, 0.24);
  EXPECT_LT(fast, 0.75);
  // Slow blink: four ticks between changes.
  size_t i = w.size() - 2;
  EXPECT_GE(w[i].time - w[i - 1].time, 0.99);
  EXPECT_LT(w[i].time - w[i - 1].time, 1.6);
  EXPECT_EQ(w.back().value, 0);  // steady: lit, and held
  size_t held = w.size();
  sleep(2);
  EXPECT_EQ(led_writes().size(), held);
}

}  // namespace
