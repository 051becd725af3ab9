// The dns command: the relay's start script, the NAT rule and the DNS
// self-check, with the real iptables and a real relay.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

const char kScriptHead[] =
    "#!/bin/sh\nmkdir -p /etc/dnrd\nkillall -9 dnrd\nlanip=`nvram_get 2860 lan_ipaddr`\n";

class DnsCommand : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (bench::inside()) bench::sh("ispdns start");
  }
  void SetUp() override {
    REQUIRE_BENCH();
    bench::sh("rm -f /etc/dnsfw.sh /bench/state/reboot-requested; iptables -t nat -F POSTROUTING;"
              "for i in ppp0 ppp1 ppp2 br0 lanport; do ip link del $i 2>/dev/null; done; true");
    bench::write_file("/etc/resolv.conf", "nameserver 127.0.1.1\nnameserver 127.0.1.2\n");
    bench::sh("ispdns mode 127.0.1.1 relay; ispdns mode 127.0.1.2 relay");
    bench::clear_journals();
  }
  void TearDown() override { bench::run({"killall", "-9", "dnrd"}); }
  static void interface(const std::string& name, const std::string& addr) {
    bench::sh("ip tuntap add " + name + " mode tun && ip link set " + name + " up" +
              (addr.empty() ? "" : " && ip addr add " + addr + " dev " + name));
  }
  static void lan(const std::string& addr) {
    bench::sh("ip link add br0 type veth peer name lanport && ip addr add " + addr +
              "/24 dev br0 && ip link set br0 up && ip link set lanport up");
  }
  bench::Result dns() { return bench::link3g({"--cmd", "dns"}); }
  // The dns command on a router that has been up for `seconds`: a time
  // namespace moves the boot clock that sysinfo() reads, in front of the
  // whole command so that an emulator running the binary sees it too.
  bench::Result dns_up_for(long seconds) {
    long now = static_cast<long>(std::floor(std::stod(bench::read_file("/proc/uptime"))));
    std::vector<std::string> argv = {"unshare", "-T", "--boottime", std::to_string(seconds - now), "--fork"};
    for (const std::string& w : bench::link3g_command()) argv.push_back(w);
    argv.insert(argv.end(), {"--cmd", "dns"});
    return bench::run(argv);
  }
  std::string relay_line() {
    std::vector<std::string> lines = bench::lines_of(bench::read_file("/etc/dnsfw.sh"));
    return lines.size() == 5 ? lines[4] : "(script of " + std::to_string(lines.size()) + " lines)";
  }
  std::string nat_rules() { return bench::run({"iptables", "-t", "nat", "-S", "POSTROUTING"}).output; }
};

TEST_F(DnsCommand, ScriptForTwoServers) {
  dns();
  EXPECT_EQ(bench::read_file("/etc/dnsfw.sh"),
            std::string(kScriptHead) + "dnrd -a $lanip -R /etc/dnrd -s 127.0.1.1 -s 127.0.1.2 &\n");
  std::vector<std::string> lines = bench::shell_lines();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[0], "echo '#!/bin/sh' > /etc/dnsfw.sh");
  EXPECT_EQ(lines[4], "echo 'dnrd -a $lanip -R /etc/dnrd -s 127.0.1.1 -s 127.0.1.2 &' >> /etc/dnsfw.sh");
  EXPECT_EQ(lines[5], "chmod +x /etc/dnsfw.sh ");
  EXPECT_EQ(lines[6], "/etc/dnsfw.sh ");
}

TEST_F(DnsCommand, OneServerCases) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"nameserver 127.0.1.1\n", "127.0.1.1"},
      {"nameserver 127.0.1.1\nnameserver 127.0.1.1\n", "127.0.1.1"},
      {"nameserver 1.2.3\nnameserver 127.0.1.2\n", "127.0.1.2"},  // short: no server
      {"nameserver 127.0.1.1\nnameserver 1.2\n", "127.0.1.1"},
      {"nameserver $(reboot)\nnameserver 127.0.1.2\n", "127.0.1.2"},
      {"nameserver 127.0.1.1';reboot;'\nnameserver fe80::1\nnameserver 127.0.1.2\n", "(none)"},
  };
  for (const auto& c : cases) {
    bench::sh("rm -f /etc/dnsfw.sh");
    bench::write_file("/etc/resolv.conf", c.first);
    dns();
    if (c.second == "(none)") {
      EXPECT_FALSE(bench::exists("/etc/dnsfw.sh")) << c.first;
    } else {
      EXPECT_EQ(relay_line(), "dnrd -a $lanip -R /etc/dnrd -s " + c.second + " &") << c.first;
    }
  }
  EXPECT_FALSE(bench::exists("/bench/state/reboot-requested"));
  EXPECT_EQ(bench::read_file("/bench/journal/standins.log").find("reboot"), std::string::npos);
}

TEST_F(DnsCommand, OnlyTheFirstTwoOfThreeServers) {
  bench::write_file("/etc/resolv.conf",
                    "search lan\nnameserver 127.0.1.2\nnameserver 127.0.1.1\nnameserver 127.0.1.3\n");
  dns();
  EXPECT_EQ(relay_line(), "dnrd -a $lanip -R /etc/dnrd -s 127.0.1.2 -s 127.0.1.1 &");
}

TEST_F(DnsCommand, NoResolvConfNoAction) {
  bench::sh("rm -f /etc/resolv.conf");
  bench::Result r = dns();
  EXPECT_EQ(r.output, "");
  EXPECT_TRUE(bench::shell_lines().empty());
  EXPECT_FALSE(bench::exists("/etc/dnsfw.sh"));
  bench::write_file("/etc/resolv.conf", "search lan\n");
  EXPECT_EQ(dns().output, "");
}

TEST_F(DnsCommand, MasqueradeOntoTheActivePppInterface) {
  lan("192.168.8.1");
  interface("ppp1", "");
  interface("ppp2", "10.64.64.9 peer 10.64.64.1");
  bench::Result r = dns();
  EXPECT_NE(nat_rules().find("-A POSTROUTING -s 192.168.8.0/24 -o ppp2 -j MASQUERADE"),
            std::string::npos) << nat_rules();
  EXPECT_EQ(r.output, "start check if dns is ok.\nISP is not PPP.\n");
}

TEST_F(DnsCommand, DefaultLanAndOneRuleAfterTwoRuns) {
  interface("ppp0", "10.64.64.2 peer 10.64.64.1");
  bench::sh("ip link add lanport type veth peer name lanport2");  // a LAN, but no br0
  bench::sh("ip addr add 192.168.1.1/24 dev lanport && ip link set lanport up");
  dns();
  bench::Result r = dns();
  EXPECT_EQ(r.output, "start check if dns is ok.\ncheck dns ok.\n");
  std::string rules = nat_rules();
  EXPECT_EQ(rules, "-P POSTROUTING ACCEPT\n-A POSTROUTING -s 192.168.1.0/24 -o ppp0 -j MASQUERADE\n");
  EXPECT_EQ(bench::shell_lines().back(),
            "iptables -t nat -A POSTROUTING -s 192.168.1.1/24 -o ppp0 -j MASQUERADE ");
  EXPECT_EQ(bench::run({"pidof", "dnrd"}).output.find(' '), std::string::npos);
  EXPECT_NE(bench::run({"pidof", "dnrd"}).output, "");
}

TEST_F(DnsCommand, NoPppAddressNoNatChange) {
  bench::sh("iptables -t nat -A POSTROUTING -o eth9 -j MASQUERADE");
  interface("ppp0", "");
  bench::Result r = dns();
  EXPECT_NE(nat_rules().find("-o eth9"), std::string::npos);
  EXPECT_EQ(r.output, "start check if dns is ok.\nISP is not PPP.\n");
}

TEST_F(DnsCommand, LanClientResolvesThroughTheRelay) {
  lan("192.168.1.1");
  dns();
  usleep(500000);
  bench::Result r = bench::run({"/usr/bin/python3", "-c",
                                "import dns.resolver as r; x = r.Resolver(configure=False);"
                                "x.nameservers = ['192.168.1.1']; x.lifetime = 3;"
                                "print(x.resolve('www.example.org', 'A')[0])"});
  EXPECT_EQ(r.output, "93.184.216.34\n");
}

TEST_F(DnsCommand, DeadDnsRequestsAReboot) {
  interface("ppp0", "10.64.64.2 peer 10.64.64.1");
  bench::sh("ispdns mode 127.0.1.1 drop; ispdns mode 127.0.1.2 drop");
  bench::Result r = dns_up_for(3600);
  EXPECT_EQ(r.output,
            "start check if dns is ok.\n"
            "Sorry, We can't get domain host with this DNS, we have to restart system.\n");
  std::vector<bench::ShellRecord> j = bench::shell_journal();
  ASSERT_FALSE(j.empty());
  EXPECT_EQ(j.back().line, "reboot &");
  // Two probes of six unanswered queries each: about 24 seconds after the
  // command before them ended.
  double took = j.back().time - j[j.size() - 2].done();
  EXPECT_GE(took, 24.0);
  EXPECT_LT(took, 27.0);
  usleep(500000);
  EXPECT_TRUE(bench::exists("/bench/state/reboot-requested"));
}

TEST_F(DnsCommand, SecondProbeAnswerAvoidsTheReboot) {
  interface("ppp0", "10.64.64.2 peer 10.64.64.1");
  // Dead for the first probe (six queries, about 12 s), back for the second.
  bench::sh("ispdns mode 127.0.1.1 drop; ispdns mode 127.0.1.2 drop;"
            "(sleep 11; ispdns mode 127.0.1.2 relay) >/dev/null 2>&1 &");
  bench::Result r = dns_up_for(3600);  // old enough that a wrong reboot would show
  EXPECT_EQ(r.output, "start check if dns is ok.\ncheck dns ok.\n");
  EXPECT_FALSE(bench::exists("/bench/state/reboot-requested"));
}

// A router younger than ten minutes is not rebooted for dead DNS (a reboot
// loop while the ISP's name servers are down); from ten minutes on it is.
TEST_F(DnsCommand, DeadDnsRebootHeldBackInTheFirstTenMinutes) {
  interface("ppp0", "10.64.64.2 peer 10.64.64.1");
  bench::sh("ispdns mode 127.0.1.1 drop; ispdns mode 127.0.1.2 drop");
  // Two probes take about 24 s, on the real clock too: 540 s is still young.
  bench::Result r = dns_up_for(540);
  EXPECT_EQ(r.status, 0);
  std::smatch m;
  const std::regex expected(
      "start check if dns is ok\\.\n"
      "Sorry, We can't get domain host with this DNS, we have to restart system\\.\n"
      "The router has been up for ([0-9]+) s, less than 600 s: the reboot is held back\\.\n");
  ASSERT_TRUE(std::regex_match(r.output, m, expected)) << r.output;
  EXPECT_GE(std::stol(m[1]), 540);
  EXPECT_LT(std::stol(m[1]), 600);
  std::vector<std::string> lines = bench::shell_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "reboot &"), 0);
  EXPECT_EQ(bench::read_file("/bench/journal/standins.log").find("reboot"), std::string::npos);

  bench::clear_journals();
  r = dns_up_for(600);
  EXPECT_EQ(r.output,
            "start check if dns is ok.\n"
            "Sorry, We can't get domain host with this DNS, we have to restart system.\n");
  lines = bench::shell_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "reboot &");
  usleep(500000);
  EXPECT_TRUE(bench::exists("/bench/state/reboot-requested"));
}

}  // namespace
