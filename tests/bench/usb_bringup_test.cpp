// The modem bring-up on the bench's simulated sticks, one fresh router per
// scenario (CTest passes the stick): the commands in order, the waits
// between them on the bench clock, the messages, the tty and the LED code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bringup_lines.h"
#include "sys/led_code.h"
#include "usb/usb.h"

namespace {

using namespace bringup_lines;

const std::string kOk1 = "auto_init_modem, USB Momdem has init ok 1.\n";

class Bringup : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_BENCH();
    const char* stick = getenv("BENCH_STICK");
    stick_ = stick ? stick : "";
    bench::clear_journals();
    // Marks that the call must clear, or must leave alone.
    memset(ext_usbModemID, 'x', sizeof ext_usbModemID);
    usb_led = kLedSteady;
  }
  // Runs the bring-up; the result, tty and output are kept.
  void bring_up() {
    char buffer[32] = "untouched";
    out_ = bench::capture_stdout([&] { result_ = auto_init_modem(buffer); });
    tty_ = buffer;
    journal_ = bench::timed_journal();
    lines_.clear();
    for (const bench::ShellRecord& r : journal_.records) lines_.push_back(r.line);
  }
  bool table_cleared() const {
    for (int i = 0; i < kSwitchFileSlots; ++i) {
      if (ext_usbModemID[i][0] == 'x') return false;
    }
    return true;
  }
  std::string stick_, out_, tty_;
  int result_ = -1;
  bench::Timed journal_;
  std::vector<std::string> lines_;
};

// The wait lasts its full time; what comes on top is the commands' own run
// time on the bench clock, which a loaded machine stretches.
#define EXPECT_WAIT(from, to, seconds)                                   \
  do {                                                                        \
    EXPECT_GE(journal_.gap(from, to), (seconds)-0.05) << from << " -> " << to; \
    EXPECT_LE(journal_.gap(from, to), (seconds) + 1.5) << from << " -> " << to; \
  } while (0)

TEST_F(Bringup, AcmModemIsServedAtOnce) {
  ASSERT_EQ(stick_, "ok1-acm");
  bring_up();
  EXPECT_EQ(result_, 1);
  EXPECT_EQ(tty_, "/dev/ttyACM0");
  EXPECT_EQ(lines_, reload());
  EXPECT_EQ(out_, kOk1 + "auto check usb modem successful. ttyACM0\n");
  EXPECT_FALSE(table_cleared());
  EXPECT_EQ(usb_led.load(), kLedSteady);
}

TEST_F(Bringup, OptionServedPortNeedsNoIds) {
  ASSERT_EQ(stick_, "ok1-option");
  bring_up();
  EXPECT_EQ(tty_, "/dev/ttyUSB0");
  EXPECT_EQ(lines_, reload());
  EXPECT_EQ(out_, kOk1 + found("/dev/ttyUSB0"));
}

TEST_F(Bringup, ModemPersonalityLoadsUsbserialAtOnce) {
  ASSERT_EQ(stick_, "ok2");
  bring_up();
  EXPECT_EQ(tty_, "/dev/ttyUSB0");
  EXPECT_EQ(lines_, plus(reload(), {serial("12d1", "1001")}));
  EXPECT_WAIT(kAcm, serial("12d1", "1001"), 3);
  EXPECT_EQ(out_, "=====vid[12d1],pid[1001]\nget cdrom vid[12d1] pid[1001]\n"
                  "auto_init_modem, USB Momdem has init ok 2.\n" + found("/dev/ttyUSB0"));
  EXPECT_TRUE(table_cleared());
  EXPECT_EQ(usb_led.load(), kLedOff);
}

TEST_F(Bringup, StorageDriverSwitches) {
  ASSERT_EQ(stick_, "ok3");
  bring_up();
  EXPECT_EQ(lines_, plus(reload(), {kStorage, serial("12d1", "1003")}));
  EXPECT_WAIT(kStorage, serial("12d1", "1003"), 6);
  EXPECT_NE(out_.find("auto_init_modem, USB Momdem has init ok 3.\n"), std::string::npos);
  EXPECT_EQ(tty_, "/dev/ttyUSB0");
}

TEST_F(Bringup, EjectSwitchesAndIdsAreReadAgain) {
  ASSERT_EQ(stick_, "ok4");
  bring_up();
  EXPECT_EQ(lines_, plus(reload(), {kStorage, kEjectCd, kEjectDisk, serial("19d2", "0002")}));
  EXPECT_WAIT(kStorage, kEjectCd, 6);
  EXPECT_WAIT(kEjectDisk, serial("19d2", "0002"), 6);
  EXPECT_EQ(out_, "=====vid[19d2],pid[2000]\nget cdrom vid[19d2] pid[2000]\n=====vid[19d2],pid[0002]\n"
                  "auto_init_modem, USB Momdem has init ok 4.\n" + found("/dev/ttyUSB1"));
}

// With the storage driver already loaded, nothing is loaded and nobody waits.
TEST_F(Bringup, LoadedStorageDriverCostsNoWait) {
  ASSERT_EQ(stick_, "ok4");
  bench::sh(kStorage);
  bench::clear_journals();
  bring_up();
  EXPECT_EQ(lines_, plus(reload(), {kEjectCd, kEjectDisk, serial("19d2", "0002")}));
  EXPECT_WAIT(kAcm, kEjectCd, 3);
}

TEST_F(Bringup, DirectSwitchOfTheOneStick) {
  ASSERT_EQ(stick_, "ok5");
  bring_up();
  const std::string direct = "/bin/modemswitch -v 0x1e89 -p 0xf000 -R ";
  EXPECT_EQ(lines_, plus(reload(), {kStorage, kEjectCd, kEjectDisk, direct, serial("1e89", "1a20")}));
  EXPECT_WAIT(direct, serial("1e89", "1a20"), 5);
  EXPECT_NE(out_.find("auto_init_modem, USB Momdem has init ok 5.\n"), std::string::npos);
}

TEST_F(Bringup, FailedDirectSwitchGoesOnWithTheSameIds) {
  ASSERT_EQ(stick_, "ok5");
  bench::sh("usbsim set switch=");
  bring_up();
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(lines_.back(), "/bin/modemswitch -v 0x1e89 -p 0xf000 -R ");
  EXPECT_NE(out_.find("get cdrom vid[1e89] pid[f000] fileIDTry[0]\nCheckUsbModemMode failed.\n"),
            std::string::npos);
  EXPECT_EQ(tty_, "untouched");
}

TEST_F(Bringup, SwitchFilesUntilTheModemShows) {
  ASSERT_EQ(stick_, "zte-mf626");
  bring_up();
  EXPECT_EQ(lines_, mf626_switch_file_lines());
  EXPECT_WAIT(switch_file("19d2_2000.mf622"), switch_file("19d2_2000.mf626"), 5);
  EXPECT_WAIT(switch_file("19d2_2000.mf626"), serial("19d2", "0031"), 5);
  EXPECT_NE(out_.find(kMf626FirstFile + kMf626SecondFile), std::string::npos) << out_;
  EXPECT_NE(out_.find(kMf626Found), std::string::npos);
  EXPECT_STREQ(ext_usbModemID[0], "19d2_2000.mf622");
  EXPECT_STREQ(ext_usbModemID[1], "19d2_2000.mf626");
  EXPECT_EQ(ext_usbModemID[2][0], '\0');
  EXPECT_EQ(usb_led.load(), kLedOff);
}

// A name the shell would misread reaches modemswitch as one word, quoted.
TEST_F(Bringup, OddSwitchFileNamesAreQuoted) {
  ASSERT_EQ(stick_, "zte-mf626");
  bench::sh("cd /bin/usb_modeswitch.d && rm -f 19d2_2000.mf622 && "
            "cp 19d2_2000.mf626 '19d2_2000 $(touch pwned);x'");
  bring_up();
  EXPECT_NE(std::find(lines_.begin(), lines_.end(),
                      "/bin/modemswitch -c '/bin/usb_modeswitch.d/19d2_2000 $(touch pwned);x'"),
            lines_.end());
  EXPECT_FALSE(bench::exists("/pwned"));
  EXPECT_FALSE(bench::exists("/bin/usb_modeswitch.d/pwned"));
}

TEST_F(Bringup, MarkerFileOnTheSticksStorage) {
  ASSERT_EQ(stick_, "marker");
  bench::sh("mkdir -p /bin/usb_modeswitch.d && echo x > /bin/usb_modeswitch.d/0408_f000.cfg");
  bring_up();
  EXPECT_EQ(lines_, plus(reload(), {kStorage, kEjectCd, kEjectDisk, "mount /dev/sda /mnt", "umount /mnt",
                                    "mount /dev/sdb /mnt", "touch /mnt/wcdma.cfg", "umount /mnt",
                                    serial("408", "ea03")}));
  EXPECT_NE(out_.find("fileIDTry[1]\nswitch_Guanta_Q111 check usb modem ok.\n"), std::string::npos)
      << out_;
  EXPECT_EQ(tty_, "/dev/ttyUSB1");
}

TEST_F(Bringup, HuaweiMessagesAfterTheSwitchFiles) {
  ASSERT_EQ(stick_, "huawei");
  bring_up();
  std::vector<std::string> expected =
      plus(reload(), {kStorage, kEjectCd, kEjectDisk, switch_file("12d1_1446"),
                      switch_file("12d1_1446.e1552"), "modemswitch -v 0x12d1 -p 0x1446 -H "});
  const char* messages[][2] = {
      {"/var/h1", "55534243123456780000000000000011062000000100000000000000000000"},
      {"/var/h3", "5553424312345679000000000000061b000000020000000000000000000000"},
      {"/var/h4", "5553424312345678000000000000061e000000000000000000000000000000"},
      {"/var/h5", "55534243123456780600000080010a11060000000000000000000000000000"}};
  for (auto& m : messages) {
    std::string f = m[0];
    expected = plus(expected, {"echo 'DefaultVendor= 0x12d1\n' > " + f,
                               "echo 'DefaultProduct= 0x1446\n' >> " + f, "echo 'TargetClass=0xff\n' >> " + f,
                               "echo 'MessageContent=\"" + std::string(m[1]) + "\"' >> " + f,
                               "echo 'NeedResponse=1\n' >> " + f, "modemswitch -c " + f});
  }
  expected.push_back(serial("12d1", "1001"));
  EXPECT_EQ(lines_, expected);
  EXPECT_EQ(bench::read_file("/var/h5"),
            "DefaultVendor= 0x12d1\n\nDefaultProduct= 0x1446\n\nTargetClass=0xff\n\n"
            "MessageContent=\"55534243123456780600000080010a11060000000000000000000000000000\"\n"
            "NeedResponse=1\n\n");
  EXPECT_WAIT("modemswitch -v 0x12d1 -p 0x1446 -H ", "echo 'DefaultVendor= 0x12d1\n' > /var/h1", 2);
  EXPECT_WAIT("modemswitch -c /var/h5", serial("12d1", "1001"), 2);
  EXPECT_EQ(tty_, "/dev/ttyUSB0");
}

TEST_F(Bringup, StickThatNeverSwitches) {
  ASSERT_EQ(stick_, "never");
  bring_up();
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(tty_, "untouched");
  EXPECT_EQ(lines_, plus(reload(), {kStorage, kEjectCd, kEjectDisk}));
  EXPECT_EQ(out_, "=====vid[14cd],pid[1212]\nget cdrom vid[14cd] pid[1212]\n"
                  "get cdrom vid[14cd] pid[1212] fileIDTry[0]\nCheckUsbModemMode failed.\n");
}

TEST_F(Bringup, NoStickAtAll) {
  ASSERT_EQ(stick_, "");
  bring_up();
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(out_, "get usb id modem failed.\n");
  EXPECT_EQ(lines_, reload());
  EXPECT_TRUE(table_cleared());
  EXPECT_EQ(usb_led.load(), kLedSteady);
}

TEST_F(Bringup, ViaRunsForItsSticks) {
  ASSERT_EQ(stick_, "via");
  bring_up();
  EXPECT_EQ(lines_, plus(reload(), {serial("15eb", "7152"), "via"}));
  EXPECT_EQ(tty_, "/dev/ttyUSB0");
}

TEST_F(Bringup, AcmStickWithoutItsAcmPort) {
  ASSERT_EQ(stick_, "acm-by-id");
  bring_up();
  EXPECT_EQ(result_, 0);
  EXPECT_NE(out_.find("auto check usb modem successful,but device name: /dev/ttyACM0 error\n"),
            std::string::npos);
  EXPECT_TRUE(bench::exists("/dev/ttyUSB0"));
}

TEST_F(Bringup, PortFoundPastTheFirst2048Bytes) {
  ASSERT_EQ(stick_, "long-list");
  bring_up();
  EXPECT_EQ(result_, 1);
  EXPECT_EQ(tty_, "/dev/ttyUSB3");
  EXPECT_EQ(lines_.back(), serial("12d1", "1465"));
}

TEST_F(Bringup, Usb11RootHubIsTakenForTheStick) {
  ASSERT_EQ(stick_, "usb11-bus");
  bring_up();
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(lines_.back(), serial("1d6b", "0001"));
  EXPECT_NE(out_.find("device name: /dev/ttyUSB0 error\n"), std::string::npos);
}

}  // namespace
