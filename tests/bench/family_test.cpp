// The modem family: card names, and serialcom's operator record in all the
// ways serialcom can behave.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "sys/led_code.h"
#include "usb/usb.h"

namespace {

const char kTty[] = "/dev/ttyUSB0";

class Family : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The ok2 stick's AT port, served by usbserial.
    if (bench::inside()) {
      bench::sh("usbsim plug ok2 && insmod /lib/modules/2.6.30.9/kernel/drivers/usb/serial/usbserial.ko "
                "vendor=0x12d1 product=0x1001");
    }
  }
  void SetUp() override {
    REQUIRE_BENCH();
    bench::sh_quiet("killall -9 serialcom; rm -f /var/imsi");
    bench::sh("usbsim unset serialcom serialcom_delay op_family op_apn");
    bench::clear_journals();
    memset(&record_, 0, sizeof record_);
    usb_led = kLedOff;
  }
  int detect(const char* card, const char* pin) {
    out_ = bench::capture_stdout([&] { family_ = getUsbModemType(card, kTty, &record_, pin); });
    lines_ = bench::shell_lines();
    return family_;
  }
  size_t count(const std::string& line) const {
    return static_cast<size_t>(std::count(lines_.begin(), lines_.end(), line));
  }
  size_t traces(const std::string& text) const {
    size_t n = 0;
    for (size_t at = out_.find(text); at != std::string::npos; at = out_.find(text, at + 1)) ++n;
    return n;
  }
  OperatorProfile record_;
  int family_ = 99;
  std::string out_;
  std::vector<std::string> lines_;
};

TEST_F(Family, CardNamesAreMatchedExactly) {
  EXPECT_EQ(detect("AutoCheck-evdo", "12"), 2);
  EXPECT_EQ(out_, "470:getUsbModemType-AutoCheck-evdo//dev/ttyUSB0/pin[12]\n");
  EXPECT_EQ(detect("AutoCheck-hsdpa", "12"), 1);
  EXPECT_EQ(detect("AutoCheck-td", "12"), 3);
  for (const char* miss : {"autocheck-hsdpa", "AutoCheck-HSDPA", "AUTOCHECK", "", "AutoCheck "}) {
    EXPECT_EQ(detect(miss, "1234"), -1) << miss;
  }
  EXPECT_TRUE(lines_.empty());
}

TEST_F(Family, NamedFamiliesRunSerialcomOnlyWithAFullPin) {
  EXPECT_EQ(detect("AutoCheck-hsdpa", "123"), 1);
  EXPECT_TRUE(lines_.empty());
  EXPECT_EQ(detect("AutoCheck-hsdpa", "1234"), 1);
  EXPECT_EQ(lines_, std::vector<std::string>{"serialcom /dev/ttyUSB0 1234"});
}

TEST_F(Family, OperatorRecordGivesFamilyAndDialValues) {
  EXPECT_EQ(detect("AutoCheck", ""), 0);
  ASSERT_FALSE(lines_.empty());
  EXPECT_EQ(lines_.front(), "serialcom /dev/ttyUSB0 ");  // an empty PIN leaves the blank
  EXPECT_EQ(lines_.back(), "killall -9 serialcom");
  EXPECT_STREQ(record_.user, "o2");
  EXPECT_STREQ(record_.apn, "internet");
  EXPECT_STREQ(record_.dial, "*99#");
  EXPECT_EQ(record_.family, 1);
}

TEST_F(Family, OpenFamilyIsDecidedByTheRecordsApn) {
  bench::sh("usbsim set op_family=4 op_apn=a");
  EXPECT_EQ(detect("AutoCheck", "1234"), 0);
  EXPECT_EQ(record_.family, 2);
  bench::sh("usbsim set op_family=4 op_apn=ab");
  EXPECT_EQ(detect("AutoCheck", "1234"), 0);
  EXPECT_EQ(record_.family, 1);
  bench::sh("usbsim set op_family=3 op_apn=");
  EXPECT_EQ(detect("AutoCheck", "1234"), 0);
  EXPECT_EQ(record_.family, 3);
}

// serialcom ends without a record: started again at every look, each time
// followed by a second's wait; the LED blinks fast from the fourth look.
TEST_F(Family, SerialcomWithoutRecordIsRestarted) {
  bench::sh("usbsim set serialcom=never serialcom_delay=0");
  bench::write_file("/var/imsi", std::string(244, 'o'));  // an old record never counts
  EXPECT_EQ(detect("AutoCheck", "1234"), -1);
  EXPECT_EQ(count("serialcom /dev/ttyUSB0 1234"), 17u);
  EXPECT_EQ(lines_.back(), "killall -9 serialcom");
  EXPECT_EQ(traces("fast: 437 / get_gsm_type\n"), 13u);
  EXPECT_EQ(usb_led.load(), kLedFastBlink);
  bench::Timed t = bench::timed_journal();
  // Sixteen looks of 2 s each plus a 1 s wait after each restart, what
  // the commands themselves took left out.
  double took = t.between_commands();
  EXPECT_GE(took, 16 * 3.0 - 0.5);
  EXPECT_LT(took, 16 * 3.0 + 8.0);
}

TEST_F(Family, HangingSerialcomIsKilled) {
  bench::sh("usbsim set serialcom=hang");
  EXPECT_EQ(detect("AutoCheck", "1234"), -1);
  EXPECT_EQ(lines_, (std::vector<std::string>{"serialcom /dev/ttyUSB0 1234", "killall -9 serialcom"}));
  EXPECT_EQ(traces("fast: 437 / get_gsm_type\n"), 13u);
  EXPECT_EQ(bench::run({"pidof", "serialcom"}).output, "");
}

TEST_F(Family, ShortRecordIsRejectedLongOneAccepted) {
  bench::sh("usbsim set serialcom=short");
  EXPECT_EQ(detect("AutoCheck", "1234"), -1);
  EXPECT_EQ(count("killall -9 serialcom"), 0u);
  bench::sh("usbsim set serialcom=long");
  bench::clear_journals();
  EXPECT_EQ(detect("AutoCheck", "1234"), 0);
  EXPECT_STREQ(record_.apn, "internet");
}

TEST_F(Family, PinNeverReachesTheShellUnquoted) {
  EXPECT_EQ(detect("AutoCheck-td", "12;touch /tmp/pwned"), 3);
  EXPECT_EQ(lines_, std::vector<std::string>{"serialcom /dev/ttyUSB0 '12;touch /tmp/pwned'"});
  EXPECT_FALSE(bench::exists("/tmp/pwned"));
  EXPECT_NE(bench::read_file("/bench/journal/standins.log").find("serialcom /dev/ttyUSB0 '12;touch /tmp/pwned'"),
            std::string::npos);
  bench::clear_journals();
  EXPECT_EQ(detect("AutoCheck", "%n%s$(reboot)"), 0);
  EXPECT_EQ(lines_.front(), "serialcom /dev/ttyUSB0 '%n%s$(reboot)'");
}

// A PIN that would not fit serialcom's command line is not cut: a wrong PIN
// tried a few times locks the SIM.
TEST_F(Family, OverlongPinIsNotUsed) {
  EXPECT_EQ(detect("AutoCheck", std::string(50, '1').c_str()), -1);
  EXPECT_TRUE(lines_.empty());
  EXPECT_NE(out_.find("PIN too long"), std::string::npos);
}

}  // namespace
