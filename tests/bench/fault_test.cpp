// Faults the daemon must live through, each on a fresh router (CTest passes
// the stick): it keeps running, runs nothing it should not, and brings the
// link up again once the fault has cleared.
#include <gtest/gtest.h>

#include <string>

#include "bench_support.h"
#include "daemon_fixture.h"

namespace {

using daemon_test::Daemon;
using daemon_test::kKillPppd;
using daemon_test::kStartEx;
using daemon_test::kStartOptions;

class Fault : public Daemon {
 protected:
  bool printed(const std::string& text) const {
    return bench::read_file("/tmp/daemon.out").find(text) != std::string::npos;
  }
  // Pulls the stick and puts it back once the daemon has noticed: a new
  // bring-up runs only when the modem's node has gone.
  void replug(const char* stick) {
    size_t bringups = count("rmmod usbserial");
    bench::sh("usbsim unplug");
    ASSERT_TRUE(wait_for([bringups] { return count("rmmod usbserial") > bringups; }, 30));
    bench::sh(std::string("usbsim plug ") + stick);
  }
  void expect_link_back(double limit) {
    EXPECT_TRUE(wait_for([] { return link_up(); }, limit));
    EXPECT_TRUE(alive());
  }
};

TEST_F(Fault, StickPulledDuringTheDriverReload) {
  ASSERT_EQ(stick_, "zte-mf626");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return count("rmmod cdc-acm") == 1; }, 10));
  bench::sh("usbsim unplug");
  ASSERT_TRUE(wait_for([this] { return printed("get usb id modem failed."); }, 30));
  bench::sh("usbsim replug");
  expect_link_back(120);
}

TEST_F(Fault, StickPulledDuringTheSwitchFileWalk) {
  ASSERT_EQ(stick_, "zte-mf626");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return count("/bin/modemswitch -c /bin/usb_modeswitch.d/19d2_2000.mf622") == 1; }, 60));
  bench::sh("usbsim unplug");
  ASSERT_TRUE(wait_for([this] { return printed("CheckUsbModemMode failed."); }, 30));
  EXPECT_EQ(count("/bin/modemswitch -c /bin/usb_modeswitch.d/19d2_2000.mf626"), 0u);
  bench::sh("usbsim replug");
  expect_link_back(120);
}

// Forty files match the stick: 31 are tried, none is the good one, and the
// daemon waits for the stick to come back.
TEST_F(Fault, FortyUselessSwitchFiles) {
  ASSERT_EQ(stick_, "zte-mf626");
  bench::sh("cd /bin/usb_modeswitch.d && mkdir -p /root/good && mv 19d2_2000.mf626 /root/good/ && "
            "for i in $(seq 10 49); do cp 19d2_2000.mf622 19d2_2000.x$i; done");
  start_gsm();
  ASSERT_TRUE(wait_for([this] { return printed("CheckUsbModemMode failed."); }, 400));
  EXPECT_NE(bench::read_file("/tmp/daemon.out").find("fileIDTry[31]"), std::string::npos);
  size_t runs = 0;
  for (const std::string& l : commands()) runs += l.rfind("/bin/modemswitch -c", 0) == 0;
  EXPECT_EQ(runs, 31u);
  bench::sh("rm -f /bin/usb_modeswitch.d/19d2_2000.x* && mv /root/good/19d2_2000.mf626 /bin/usb_modeswitch.d/ "
            "&& usbsim replug");
  expect_link_back(200);
}

TEST_F(Fault, SerialcomHangsThenComesRight) {
  ASSERT_EQ(stick_, "ok2");
  bench::sh("usbsim set serialcom=hang");
  start({"--3gCard", "AutoCheck", "--3gPin", "1234"});
  ASSERT_TRUE(wait_for([this] { return printed(" get usb modem type failed.\n"); }, 80));
  EXPECT_EQ(count("killall -9 serialcom"), 1u);
  EXPECT_EQ(bench::run({"pidof", "serialcom"}).output, "");
  bench::sh("usbsim set serialcom=record");
  replug("ok2");
  expect_link_back(120);
}

TEST_F(Fault, EmptyOperatorRecord) {
  ASSERT_EQ(stick_, "ok2");
  bench::sh("usbsim set serialcom=empty");
  start({"--3gCard", "AutoCheck", "--3gPin", "1234"});
  ASSERT_TRUE(wait_for([this] { return printed(" get usb modem type failed.\n"); }, 60));
  EXPECT_EQ(count("killall -9 serialcom"), 0u);  // a wrong-sized record ends the wait at once
}

// A FIFO at the record's name is no record: it neither holds the daemon
// nor counts, and a real record later brings the link up.
TEST_F(Fault, FifoForTheOperatorRecord) {
  ASSERT_EQ(stick_, "ok2");
  bench::sh("usbsim set serialcom=fifo");
  start({"--3gCard", "AutoCheck", "--3gPin", "1234"});
  ASSERT_TRUE(wait_for([this] { return printed(" get usb modem type failed.\n"); }, 60));
  EXPECT_TRUE(alive());
  bench::sh("usbsim set serialcom=record");
  replug("ok2");
  expect_link_back(120);
}

TEST_F(Fault, PppdDiesAgainAndAgainThenComesRight) {
  ASSERT_EQ(stick_, "ok2");
  bench::write_file("/bench/state/pppd.conf", "start=fail\n");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return count(kStartOptions) + count(kStartEx) >= 10; }, 90));
  bench::write_file("/bench/state/pppd.conf", "");
  expect_link_back(30);
}

TEST_F(Fault, PppdHangsWithoutALink) {
  ASSERT_EQ(stick_, "ok2");
  bench::write_file("/bench/state/pppd.conf", "link=none\n");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return count(kStartOptions) == 1; }, 30));
  sleep(120);
  // Never confirmed: nothing counted, nothing restarted, pppd left alone.
  EXPECT_EQ(count(kKillPppd), 0u);
  EXPECT_EQ(count(kStartOptions) + count(kStartEx), 1u);
  bench::write_file("/bench/state/pppd.conf", "");
  bench::sh("killall -9 pppd");
  expect_link_back(30);
}

// Late answers (past the two seconds) count as none; garbage counts as an
// answer. A confirmed link whose DNS answers late is restarted.
TEST_F(Fault, DnsLateOrGarbage) {
  ASSERT_EQ(stick_, "ok2");
  bench::sh("ispdns mode 127.0.1.1 garbage; ispdns mode 127.0.1.2 garbage");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return link_up() && dns_queries() >= 3; }, 40));
  bench::sh("ispdns mode 127.0.1.1 late:3; ispdns mode 127.0.1.2 late:3");
  ASSERT_TRUE(wait_for([] { return count(kKillPppd) == 1; }, 150));
  bench::sh("ispdns mode 127.0.1.1 relay; ispdns mode 127.0.1.2 relay");
  expect_link_back(30);
  sleep(60);
  EXPECT_EQ(count(kKillPppd), 1u);
}

// Configuration that cannot be written: nothing starts until the fault is
// gone and the stick comes back.
TEST_F(Fault, ReadOnlyEtcPpp) {
  ASSERT_EQ(stick_, "ok2");
  bench::sh("mkdir -p /etc/ppp && mount -t tmpfs -o ro none /etc/ppp");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return count("insmod /lib/modules/2.6.30.9/kernel/drivers/usb/serial/usbserial.ko "
                                         "vendor=0x12d1 product=0x1001") == 1; }, 30));
  sleep(20);
  EXPECT_EQ(count(kStartOptions) + count(kStartEx), 0u);
  bench::sh("umount /etc/ppp");
  replug("ok2");
  expect_link_back(60);
}

// A full /etc/ppp: no dial file is left cut, no pppd starts, and once
// there is room again the next bring-up dials.
TEST_F(Fault, FullEtcPpp) {
  ASSERT_EQ(stick_, "ok2");
  bench::sh("mkdir -p /etc/ppp && mount -t tmpfs -o size=4k none /etc/ppp");
  start_gsm();
  ASSERT_TRUE(wait_for([this] { return printed(" cannot be written (No space left on device).\n"
                                               "gen at script failed.\n"); }, 30));
  sleep(10);
  EXPECT_TRUE(alive());
  EXPECT_EQ(count(kStartOptions) + count(kStartEx), 0u);
  EXPECT_EQ(bench::run({"ls", "-A", "/etc/ppp"}).output, "");
  bench::sh("mount -o remount,size=64k /etc/ppp");
  replug("ok2");
  expect_link_back(60);
}

// Hostile values in every dial option: written quoted where a file can hold
// them, never run, and the daemon dials with them.
TEST_F(Fault, HostileDialValues) {
  ASSERT_EQ(stick_, "ok2");
  start({"--3gCard", "AutoCheck-hsdpa", "--3gApn", "in\"t;touch /tmp/pwned^x", "--3gDial", "*99#`reboot`",
         "--3gUser", "$(touch /tmp/pwned)", "--3gPass", "a b#c'%n", "--3gPin", "1;reboot"});
  expect_link_back(60);
  EXPECT_FALSE(bench::exists("/tmp/pwned"));
  EXPECT_EQ(bench::read_file("/bench/journal/standins.log").find("reboot requested"), std::string::npos);
  std::string modem = bench::read_file("/bench/journal/modem.log");
  EXPECT_NE(modem.find("ATDT*99#`reboot`"), std::string::npos);
}

TEST_F(Fault, ControlCharacterInAValueStopsOnlyTheConfiguration) {
  ASSERT_EQ(stick_, "ok2");
  start({"--3gCard", "AutoCheck-hsdpa", "--3gPass", "x\nconnect \"/bin/touch /tmp/pwned\""});
  ASSERT_TRUE(wait_for([this] { return printed("gen at script: password holds a control character.\n"
                                               "gen at script failed.\n"); }, 30));
  sleep(20);
  EXPECT_TRUE(alive());
  EXPECT_FALSE(bench::exists("/etc/ppp/options.ppp3g"));
  EXPECT_EQ(count(kStartOptions) + count(kStartEx), 0u);
  EXPECT_FALSE(bench::exists("/tmp/pwned"));
}

}  // namespace
