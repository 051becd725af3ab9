// The status LED: the levels written to /proc/led_enable and their timing.
#include <dirent.h>
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
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

// The thread once the LED shows a held code. It runs for the rest of the
// program: started by ThreadPatternsAndPeriods when the whole suite runs,
// here when this test runs alone. The fixture leaves the thread's own
// state alone; only usb_led is stored.
class LedThread : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_BENCH();
    if (tasks().size() < 2) {
      ASSERT_EQ(InitUsbLedTask(), 0);
    }
    bench::clear_journals();
  }
  static std::vector<long> tasks() {
    std::vector<long> out;
    DIR* d = opendir("/proc/self/task");
    while (struct dirent* e = d ? readdir(d) : nullptr) {
      if (e->d_name[0] != '.') out.push_back(std::atol(e->d_name));
    }
    if (d) closedir(d);
    return out;
  }
  // The LED thread is the newest task (a sanitizer's helper starts first).
  static long led_tid() {
    std::vector<long> t = tasks();
    return *std::max_element(t.begin(), t.end());
  }
  // How often a task has gone to sleep and been woken again.
  static long sleeps(long tid) {
    std::string status = bench::read_file("/proc/self/task/" + std::to_string(tid) + "/status");
    size_t at = status.find("voluntary_ctxt_switches:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 24);
  }
  static double now() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  }
  // Stores code and waits until the LED has shown it and stays so.
  static void hold(LedCode code) {
    usb_led = code;
    size_t seen = 0;
    do {
      seen = led_writes().size();
      sleep(1);
    } while (led_writes().size() != seen);
  }
};

// Held, the thread sleeps until the code changes (a store of the same code
// does not wake it), shows the change at once, and blinks again on its
// 250 ms cadence.
TEST_F(LedThread, HeldCodeSleepsUntilTheCodeChanges) {
  for (LedCode held : {kLedSteady, kLedOff}) {
    hold(held);
    long tid = led_tid(), before = sleeps(tid);
    ASSERT_GE(before, 0);
    for (int pass = 0; pass < 4; ++pass) {  // the same code again, as the supervisor stores it
      usb_led = held;
      sleep(1);
    }
    // Sixteen if it kept ticking, four if a store of the same code woke it;
    // a stray signal at most.
    EXPECT_LE(sleeps(tid) - before, 1) << "code " << held;
    bench::clear_journals();
    double changed = now();
    usb_led = kLedFastBlink;
    sleep(2);
    usb_led = held;
    std::vector<LedWrite> w = led_writes();
    ASSERT_GE(w.size(), 5u);
    // At once, not at a tick up to 250 ms later (a write itself takes some
    // tens of ms on the sped-up clock).
    EXPECT_LT(w[0].time - changed, 0.25) << "code " << held;
    for (size_t i = 1; i < w.size(); ++i) {
      EXPECT_GE(w[i].time - w[i - 1].time, 0.24);
      EXPECT_LT(w[i].time - w[i - 1].time, 0.75);
      EXPECT_NE(w[i].value, w[i - 1].value);
    }
  }
  // The bring-up's conditional store wakes it too: a slow blink toggles
  // within four ticks.
  hold(kLedOff);
  bench::clear_journals();
  LedCode off = kLedOff;
  ASSERT_TRUE(usb_led.compare_exchange_strong(off, kLedSlowBlink));
  sleep(2);
  EXPECT_FALSE(led_writes().empty());
  usb_led = kLedOff;
}

}  // namespace
