// The link bring-up: modem, family and dial configuration in one call,
// with what it leaves on disk and on the LED.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "ppp/ppp.h"
#include "sys/led_code.h"

namespace {

const char kOptions[] = "/etc/ppp/options.ppp3g";
const char kOptionsEx[] = "/etc/ppp/options.ppp3g.ex";
const char kChat[] = "/etc/ppp/chat.ppp3g";

double bench_now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class LinkBringup : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_BENCH();
    // An earlier generation, which a failed bring-up must not leave usable.
    bench::sh("mkdir -p /etc/ppp && echo old > /etc/ppp/options.ppp3g && "
              "echo old > /etc/ppp/options.ppp3g.ex && echo old > /etc/ppp/chat.ppp3g");
    bench::clear_journals();
    usb_led = kLedOff;
  }
  int bring_up(const char* card, const char* pin = "") {
    out_ = bench::capture_stdout([&] {
      result_ = Init3gPPP(card, "cmd-apn", "*77#", "cmd-user", "cmd-pass", pin);
      returned_ = bench_now();
    });
    return result_;
  }
  int result_ = -1;
  double returned_ = 0;
  std::string out_;
};

TEST_F(LinkBringup, EmptyCardNameFailsAfterTheModem) {
  EXPECT_EQ(bring_up(""), 0);
  EXPECT_NE(out_.find("device name: /dev/ttyUSB0\n"), std::string::npos);
  EXPECT_NE(out_.find(" get usb modem type failed.\nfast: 552 / Init3gPPP\n"), std::string::npos);
  EXPECT_EQ(usb_led.load(), kLedFastBlink);
  EXPECT_FALSE(bench::exists(kOptions));
  EXPECT_EQ(bench::read_file(kChat), "old\n");
}

TEST_F(LinkBringup, NamedFamilyUsesTheCommandLineAndPausesThreeSeconds) {
  EXPECT_EQ(bring_up("AutoCheck-hsdpa"), 1);
  std::string options = bench::read_file(kOptions);
  EXPECT_EQ(options.rfind("/dev/ttyUSB0\n460800\nuser cmd-user\npassword cmd-pass\n", 0), 0u);
  EXPECT_NE(bench::read_file(kChat).find("\\\"cmd-apn\\\""), std::string::npos);
  std::vector<bench::ShellRecord> j = bench::shell_journal();
  ASSERT_FALSE(j.empty());
  EXPECT_GE(returned_ - j.back().time, 3.0);
  EXPECT_EQ(usb_led.load(), kLedSlowBlink);  // from 0 after the ids were read
}

TEST_F(LinkBringup, OperatorRecordReplacesTheCommandLine) {
  EXPECT_EQ(bring_up("AutoCheck", "1234"), 1);
  std::string options = bench::read_file(kOptions), chat = bench::read_file(kChat);
  EXPECT_NE(options.find("\nuser o2\npassword o2\n"), std::string::npos);
  EXPECT_NE(chat.find("\\\"internet\\\""), std::string::npos);
  EXPECT_NE(chat.find("ATDT*99#^m"), std::string::npos);
  for (const char* v : {"cmd-apn", "*77#", "cmd-user", "cmd-pass", "1234"}) {
    EXPECT_EQ((options + chat).find(v), std::string::npos) << v;
  }
}

TEST_F(LinkBringup, RecordWithAnUnknownFamilyWritesNothing) {
  for (const char* family : {"0", "5"}) {
    bench::sh(std::string("usbsim set op_family=") + family);
    EXPECT_EQ(bring_up("AutoCheck", "1234"), 0) << family;
    EXPECT_NE(out_.find("gen at script failed.\n"), std::string::npos);
    EXPECT_FALSE(bench::exists(kOptions));
    EXPECT_EQ(bench::read_file(kOptionsEx), "old\n");
    EXPECT_EQ(bench::read_file(kChat), "old\n");
  }
}

TEST_F(LinkBringup, NoModemNoConfiguration) {
  bench::sh("usbsim unplug");
  EXPECT_EQ(bring_up("AutoCheck-hsdpa"), 0);
  EXPECT_NE(out_.find("get usb id modem failed.\ninit modem failed.\n"), std::string::npos);
  EXPECT_FALSE(bench::exists(kOptions));
}

// The slow blink is set only over an LED that is off.
TEST_F(LinkBringup, LedCodeIsKeptUnlessOff) {
  usb_led = kLedSteady;
  EXPECT_EQ(bring_up("AutoCheck-td"), 1);
  EXPECT_EQ(usb_led.load(), kLedSteady);
  usb_led = kLedOff;
  EXPECT_EQ(bring_up("AutoCheck-td"), 1);
  EXPECT_EQ(usb_led.load(), kLedSlowBlink);
}

}  // namespace
