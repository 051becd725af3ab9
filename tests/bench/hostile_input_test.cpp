// Whatever the kernel files, the configuration files and the command line
// hold: no crash, no overrun (the sanitizer builds run these too), the
// neutral answer, and nothing ever executed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "dns/dns.h"
#include "monitor/monitor.h"
#include "ppp/ppp.h"
#include "usb/usb.h"

namespace {

const char kDevices[] = "/proc/bus/usb/devices";

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_BENCH();
    bench::clear_journals();
  }
  static void probe_list(int* found, int* modem, int* port) {
    int vendor = -1, product = -1;
    bench::capture_stdout([&] {
      *found = GetUsbID_cdrom(&vendor, &product);
      *modem = CheckUsbModemMode();
      *port = GetDefaultModemID();
    });
  }
};

TEST_F(HostileInput, DeviceListsOfEveryShape) {
  const std::string stick =
      "\nT:  Bus=01 Lev=00\nP:  Vendor=1d6b ProdID=0002 Rev= 2.06\nS:  Manufacturer=Linux 2.6.30.9 ehci_hcd\n"
      "\nP:  Vendor=12d1 ProdID=1001 Rev= 0.00\nI:* Driver=usbserial_generic\nE:  Ad=81\nE:  Ad=01\nE:  Ad=82\n";
  struct Case {
    const char* what;
    std::string text;
    int found, modem, port;
  };
  std::vector<Case> cases = {
      {"empty", "", 0, 0, 0},
      {"garbage", std::string(5000, '\xff') + std::string(300, '\0') + "Vendor=", 0, 0, 0},
      {"10000-character lines", std::string(10000, 'D') + "\n" + std::string(10000, 'E') + "Ad=\n", 0, 0, 0},
      {"1 MB after a real stick", stick + std::string(1 << 20, 'x'), 1, 0, 0},
      {"keys at the window's edge", std::string(2040, ' ') + " Manufacturer=Linux Vendor=12", 0, 0, 0},
      {"a stick at the end of 1 MB", std::string(1 << 20, '\n') + stick, 0, 0, 0},
  };
  for (const Case& c : cases) {
    bench::write_file(kDevices, c.text);
    int found, modem, port;
    probe_list(&found, &modem, &port);
    EXPECT_EQ(found, c.found) << c.what;
    EXPECT_EQ(modem, c.modem) << c.what;
    EXPECT_EQ(port, c.port) << c.what;
  }
  bench::sh("rm -f /proc/bus/usb/devices && mkdir /proc/bus/usb/devices");  // unreadable
  int found, modem, port;
  probe_list(&found, &modem, &port);
  EXPECT_EQ(found + modem + port, 0);
  bench::sh("rmdir /proc/bus/usb/devices");
  probe_list(&found, &modem, &port);
  EXPECT_EQ(found + modem + port, 0);
}

TEST_F(HostileInput, ResolvConfOfEveryShape) {
  bench::sh("ispdns start");
  std::string many;
  for (int i = 0; i < 10000; ++i) many += "nameserver 127.0.1.1\n";
  struct Case {
    const char* what;
    std::string text;
    int answered;
  };
  std::vector<Case> cases = {
      {"empty", "", 0},
      {"binary garbage", std::string("\x00\x01nameserver\xff\xfe 127.0.1.1", 24) + std::string(3000, '\x80'), 0},
      {"10,000 lines", many, 1},
      {"a 10,000-character line", "nameserver " + std::string(10000, '1') + "\n", 0},
  };
  for (const Case& c : cases) {
    bench::write_file("/etc/resolv.conf", c.text);
    EXPECT_EQ(CheckDnsQuery(), c.answered) << c.what;
  }
  bench::sh("rm -f /etc/resolv.conf");
  EXPECT_EQ(CheckDnsQuery(), 0);
  bench::Result r = bench::link3g({"--cmd", "dns"});
  EXPECT_EQ(r.output, "");
  EXPECT_FALSE(bench::exists("/etc/dnsfw.sh"));
}

TEST_F(HostileInput, EtcPppMissingOrReadOnly) {
  // A dial configuration that cannot be written fails the bring-up.
  bench::sh("rm -rf /etc/ppp");
  EXPECT_EQ(gen_at_script(1, "/dev/ttyUSB0", "internet", "*99#", "u", "p"), 0);
  EXPECT_FALSE(bench::exists("/etc/ppp/options.ppp3g"));
  bench::sh("mkdir -p /etc/ppp && mount -t tmpfs -o ro none /etc/ppp");
  EXPECT_EQ(gen_at_script(2, "/dev/ttyUSB0", "internet", "#777", "u", "p"), 0);
  EXPECT_FALSE(bench::exists("/etc/ppp/options.ppp3g"));
  bench::sh("umount /etc/ppp");
  EXPECT_NE(bench::read_file("/var/log/messages").find("chat file: exit 1\n"), std::string::npos);
}

// Every option at its longest, one character more, and values meant to
// break out into the shell, a config file or printf.
TEST_F(HostileInput, EveryOptionAtItsLimitAndBeyond) {
  const std::vector<std::pair<std::string, size_t>> options = {
      {"--cmd", 63}, {"--3gCard", 63}, {"--3gApn", 63}, {"--3gDial", 63}, {"--3gUser", 63},
      {"--3gPass", 63}, {"--3gPin", 63}, {"--qos", 255}, {"--LanH", 23}};
  for (const auto& o : options) {
    EXPECT_EQ(bench::link3g({o.first, std::string(o.second, 'a')}).output, "") << o.first;
    EXPECT_EQ(bench::link3g({o.first, std::string(o.second + 1, 'a')}).output, "msg error.\n") << o.first;
    EXPECT_EQ(bench::link3g({o.first, std::string(10000, 'a')}).output, "msg error.\n") << o.first;
  }
  for (const char* v : {"$(touch /tmp/pwned)", "`touch /tmp/pwned`", ";touch /tmp/pwned;", "%n%n%s%s",
                        "a\nb", "'\"\\"}) {
    bench::Result r = bench::link3g({"--cmd", "qos", "--qos", v, "--LanH", v});
    EXPECT_EQ(r.status, 0) << v;
  }
  EXPECT_FALSE(bench::exists("/tmp/pwned"));
}

}  // namespace
