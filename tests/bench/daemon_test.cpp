// The 3g daemon as the router runs it, one fresh router per scenario (CTest
// passes the stick): the supervisor's decisions seen through the command
// journal, the LED, the DNS queries and the modem's journal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bringup_lines.h"
#include "daemon_fixture.h"
#include "dial_files.h"

namespace {

using daemon_test::Daemon;
using daemon_test::kKillPppd;
using daemon_test::kStartEx;
using daemon_test::kStartOptions;
using daemon_test::bench_now;

namespace {

// The name server logs each query when it gets to run: a few real
// milliseconds of scheduling, which the sped-up clock multiplies. Query
// times are compared within this much of the daemon's own waits.
double query_time_allowance() {
  const char* speed = std::getenv("BENCH_SPEED");
  return 0.05 + 0.01 * (speed != nullptr ? std::atof(speed) : 1.0);
}

}  // namespace

TEST_F(Daemon, FirstStartThenTheLinkIsConfirmed) {
  ASSERT_EQ(stick_, "ok2");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return count(kStartOptions) == 1; }, 30));
  EXPECT_EQ(count(kStartEx), 0u);
  ASSERT_TRUE(wait_for([] { return link_up() && dns_queries() > 0; }, kSetupLimit));
  std::string modem = bench::read_file("/bench/journal/modem.log");
  EXPECT_NE(modem.find("AT+CGDCONT=1,\"IP\",\"internet\",,0,0"), std::string::npos);
  EXPECT_NE(modem.find("ATDT*99#"), std::string::npos);
  // A confirmed link holds the LED steady: lit, and no more writes.
  sleep(4);
  std::vector<std::string> led = bench::lines_of(bench::read_file("/bench/journal/led.log"));
  sleep(4);
  EXPECT_EQ(bench::lines_of(bench::read_file("/bench/journal/led.log")).size(), led.size());
  EXPECT_EQ(led.back().substr(led.back().size() - 1), "0");
  // The next ordinary start takes the other file.
  bench::sh("killall -9 pppd");
  EXPECT_TRUE(wait_for([] { return count(kStartEx) == 1; }, 10));
}

TEST_F(Daemon, StartsAlternateWhenPppdKeepsExiting) {
  ASSERT_EQ(stick_, "ok2");
  bench::write_file("/bench/state/pppd.conf", "start=fail\n");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return count(kStartOptions) + count(kStartEx) >= 5; }, 60));
  std::vector<std::string> starts;
  for (const std::string& l : commands()) {
    if (l.rfind("pppd file", 0) == 0) starts.push_back(l);
  }
  EXPECT_EQ(std::vector<std::string>(starts.begin(), starts.begin() + 5),
            (std::vector<std::string>{kStartOptions, kStartEx, kStartOptions, kStartEx, kStartOptions}));
}

// Six counted failures after a confirmed link force a restart with the .ex
// file; the alternation of ordinary starts is not touched by it.
TEST_F(Daemon, ForcedRestartAfterSixFailuresOfAConfirmedLink) {
  ASSERT_EQ(stick_, "ok2");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return link_up() && dns_queries() > 0; }, kSetupLimit));
  dns_dead();
  double dead = bench_now();
  ASSERT_TRUE(wait_for([] { return count(kKillPppd) == 1; }, 150));
  double took = bench_now() - dead;
  ASSERT_TRUE(wait_for([] { return count(kStartEx) == 1; }, 5));
  // Six probes of about 12 s, each pass 2 s more, 1 s more from the third.
  EXPECT_GT(took, 6 * 14.0);
  EXPECT_LT(took, 6 * 15.0 + 20.0);
  std::vector<std::string> c = commands();
  auto kill_at = std::find(c.begin(), c.end(), kKillPppd);
  ASSERT_NE(kill_at + 1, c.end());
  EXPECT_EQ(*(kill_at + 1), kStartEx);
  // DNS still dead: the link is not confirmed again, so no second restart.
  sleep(120);
  EXPECT_EQ(count(kKillPppd), 1u);
  // The next ordinary start takes .ex: the flag still says so from the
  // first start, whatever the forced restart used.
  bench::sh("killall -9 pppd");
  ASSERT_TRUE(wait_for([] { return count(kStartEx) == 2; }, 30));
  EXPECT_EQ(count(kStartOptions), 1u);
}

TEST_F(Daemon, NothingIsCountedBeforeTheLinkIsConfirmed) {
  ASSERT_EQ(stick_, "ok2");
  dns_dead();
  start_gsm();
  ASSERT_TRUE(wait_for([] { return link_up(); }, kSetupLimit));
  ASSERT_TRUE(wait_for([] { return dns_queries() >= 6 * 4; }, 90));
  EXPECT_EQ(count(kKillPppd), 0u);
  EXPECT_EQ(count(kStartOptions), 1u);
  // From the third unanswered probe on, every pass pauses one second more.
  std::vector<double> t = query_times();
  ASSERT_GE(t.size(), 18u);
  double first = t[6] - t[0], third = t[18] - t[12];
  EXPECT_GE(first, 14.0 - query_time_allowance());
  EXPECT_LT(first, 15.5);
  EXPECT_NEAR(third - first, 1.0, 0.6);
}

TEST_F(Daemon, ModemOnlyOnTtyUSB0IsNeverStarted) {
  ASSERT_EQ(stick_, "ok2");
  bench::sh("usbsim set ports=1 && usbsim replug && usbsim switch");
  bench::clear_journals();
  start_gsm();
  ASSERT_TRUE(wait_for([] { return count("rmmod usbserial") >= 3; }, 80));
  EXPECT_EQ(count(kStartOptions) + count(kStartEx), 0u);
}

TEST_F(Daemon, FailedBringupWithTheNodePresentStartsNothing) {
  ASSERT_EQ(stick_, "ok2");
  start({"--3gCard", "NoSuchCard"});
  ASSERT_TRUE(wait_for([] {
    return bench::read_file("/tmp/daemon.out").find(" get usb modem type failed.\nfast: 552 / Init3gPPP\n") !=
           std::string::npos;
  }, 30));
  size_t before = commands().size();
  std::vector<std::string> led = bench::lines_of(bench::read_file("/bench/journal/led.log"));
  sleep(30);
  EXPECT_EQ(commands().size(), before);
  // Fast blink: a write every tick, a tick every 250 ms plus the time the
  // write takes (more on a busy machine), but at least half again as many
  // as the slow blink's one a second.
  size_t writes = bench::lines_of(bench::read_file("/bench/journal/led.log")).size() - led.size();
  EXPECT_GT(writes, 30u * 3 / 2);
  EXPECT_LE(writes, 30u * 4 + 2);
}

TEST_F(Daemon, UnpluggedAndReplugged) {
  ASSERT_EQ(stick_, "zte-mf626");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return link_up() && dns_queries() > 0; }, kSetupLimit));
  bench::clear_journals();
  bench::sh("usbsim unplug");
  ASSERT_TRUE(wait_for([] { return count("rmmod usbserial") >= 1; }, 20));
  std::vector<std::string> c = commands();
  // pppd saw its modem hang up, or the daemon killed it: either way the
  // bring-up runs again, with nothing to find.
  EXPECT_TRUE(std::find(c.begin(), c.end(), "killall -9 pppd &") != c.end() ||
              std::find(c.begin(), c.end(), "rmmod usbserial") != c.end());
  ASSERT_TRUE(wait_for([] {
    return bench::read_file("/tmp/daemon.out").find("get usb id modem failed.") != std::string::npos;
  }, 20));
  EXPECT_FALSE(link_up());
  bench::sh("usbsim replug");
  ASSERT_TRUE(wait_for([] { return count(kStartOptions) + count(kStartEx) >= 1; }, 90));
  EXPECT_TRUE(wait_for([] { return link_up(); }, 30));
  EXPECT_EQ(count("/bin/modemswitch -c /bin/usb_modeswitch.d/19d2_2000.mf626"), 1u);
}

TEST_F(Daemon, PppdRunningWhileTheModemGoes) {
  ASSERT_EQ(stick_, "ok2");
  bench::write_file("/bench/state/pppd.conf", "link=none\n");  // pppd hangs on
  start_gsm();
  ASSERT_TRUE(wait_for([] { return count(kStartOptions) == 1; }, 30));
  sleep(3);
  bench::sh("rm -f /dev/ttyUSB1 /dev/ttyACM0");  // the nodes go, pppd keeps its port
  ASSERT_TRUE(wait_for([] { return count("killall -9 pppd &") == 1 && count("rmmod usbserial") == 2; }, 10));
  std::vector<std::string> c = commands();
  auto kill_at = std::find(c.begin(), c.end(), "killall -9 pppd &");
  ASSERT_NE(kill_at + 1, c.end());
  EXPECT_EQ(*(kill_at + 1), "rmmod usbserial");  // the bring-up, in the same pass
}

TEST_F(Daemon, SignalsOnceSupervising) {
  ASSERT_EQ(stick_, "ok2");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return count(kStartOptions) == 1; }, 30));
  for (int sig : {SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGQUIT}) {
    kill(pid_, sig);
    sleep(1);
    EXPECT_TRUE(alive()) << "signal " << sig;
  }
  kill(pid_, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid_, &status, 0), pid_);
  pid_ = -1;
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
}

TEST_F(Daemon, EvdoDialsWithoutAnApn) {
  ASSERT_EQ(stick_, "via");
  start({"--3gCard", "AutoCheck-evdo", "--3gApn", "unused", "--3gDial", "#777", "--3gUser", "card",
         "--3gPass", "card"});
  ASSERT_TRUE(wait_for([] { return link_up(); }, kSetupLimit));
  std::string modem = bench::read_file("/bench/journal/modem.log");
  EXPECT_NE(modem.find("ATDT#777"), std::string::npos);
  EXPECT_EQ(modem.find("CGDCONT"), std::string::npos);
  EXPECT_EQ(count("via"), 1u);
}

TEST_F(Daemon, AutoCheckDialsWithTheOperatorsValues) {
  ASSERT_EQ(stick_, "huawei");
  start({"--3gCard", "AutoCheck", "--3gApn", "cmdline.apn", "--3gDial", "*98#", "--3gPin", "1234"});
  ASSERT_TRUE(wait_for([] { return link_up(); }, kSetupLimit));
  std::string modem = bench::read_file("/bench/journal/modem.log");
  EXPECT_NE(modem.find("AT+CGDCONT=1,\"IP\",\"internet.t-mobile\",,0,0"), std::string::npos);
  EXPECT_NE(modem.find("ATDT*99***1#"), std::string::npos);
  EXPECT_EQ(modem.find("cmdline.apn"), std::string::npos);
  std::string options = bench::read_file("/etc/ppp/options.ppp3g");
  EXPECT_NE(options.find("\nuser web\npassword web\n"), std::string::npos);
  EXPECT_EQ(count("serialcom /dev/ttyUSB0 1234"), 1u);
}

// AutoCheck with a stick that only its second switch file switches, as the
// router runs it: the bring-up's commands and messages, the dial files from
// the operator record, a link confirmed by answered DNS; then, with DNS
// dead, one whole probe: three queries to each server, two seconds apart.
TEST_F(Daemon, AutoCheckBySwitchFileThenDeadDns) {
  ASSERT_EQ(stick_, "zte-mf626");
  start({"--3gCard", "AutoCheck", "--3gApn", "cmdline.apn", "--3gDial", "*98#", "--3gPin", "1234"});
  ASSERT_TRUE(wait_for([] { return link_up() && dns_queries() > 0; }, kSetupLimit));
  std::vector<std::string> c = commands();
  auto started = std::find(c.begin(), c.end(), kStartOptions);
  ASSERT_NE(started, c.end());
  EXPECT_EQ(std::vector<std::string>(c.begin(), started + 1),
            bringup_lines::plus(bringup_lines::mf626_switch_file_lines(),
                                {"serialcom /dev/ttyUSB2 1234", "killall -9 serialcom", kStartOptions}));
  std::string out = bench::read_file("/tmp/daemon.out");
  size_t first = out.find(bringup_lines::kMf626FirstFile);
  size_t second = out.find(bringup_lines::kMf626SecondFile, first);
  size_t found = out.find(bringup_lines::kMf626Found + "470:getUsbModemType-AutoCheck//dev/ttyUSB2/pin[1234]\n",
                          second);
  EXPECT_TRUE(first != std::string::npos && second != std::string::npos && found != std::string::npos) << out;
  dial_files::Files files = dial_files::gsm("/dev/ttyUSB2", "3gnet", "*99#", "unicom", "unicom1");
  EXPECT_EQ(bench::read_file("/etc/ppp/options.ppp3g"), files.options);
  EXPECT_EQ(bench::read_file("/etc/ppp/options.ppp3g.ex"), files.options_ex);
  EXPECT_EQ(bench::read_file("/etc/ppp/chat.ppp3g"), files.chat);
  std::string modem = bench::read_file("/bench/journal/modem.log");
  EXPECT_NE(modem.find("AT+CGDCONT=1,\"IP\",\"3gnet\",,0,0"), std::string::npos);
  EXPECT_NE(modem.find("ATDT*99#"), std::string::npos);

  dns_dead();
  // The dead probe: the three queries to the first server just before the
  // first one to the second server, and the three from there.
  std::vector<bench::DnsQuery> probe;
  ASSERT_TRUE(wait_for([&probe] {
    std::vector<bench::DnsQuery> q = bench::dns_queries();
    auto to_second = std::find_if(q.begin(), q.end(),
                                  [](const bench::DnsQuery& x) { return x.server == "127.0.1.2"; });
    if (to_second - q.begin() < 3 || q.end() - to_second < 3) return false;
    probe.assign(to_second - 3, to_second + 3);
    return true;
  }, 30));
  double late = query_time_allowance();
  for (size_t i = 0; i < probe.size(); ++i) {
    const bench::DnsQuery& q = probe[i];
    EXPECT_EQ(q.server, i < 3 ? "127.0.1.1" : "127.0.1.2") << i;
    EXPECT_TRUE(q.id >= "7329" && q.id <= "732e") << q.id;
    EXPECT_EQ(q.flags, "0100");
    EXPECT_EQ(q.count, "1");
    EXPECT_EQ(q.name.rfind("www.", 0), 0u) << q.name;
    EXPECT_EQ(q.type, "A");
    EXPECT_EQ(q.qclass, "IN");
    if (i > 0) {
      EXPECT_GE(probe[i].time - probe[i - 1].time, 2.0 - late) << i;
      EXPECT_LT(probe[i].time - probe[i - 1].time, 2.5 + late) << i;
    }
  }
}

// comgt's waitfor also matches the modem's echo of the command: with an
// echoing modem an APN holding "err" fails a good connection. A modem set
// to echo off dials the same script.
TEST_F(Daemon, EchoedApnWithErrFailsTheChat) {
  ASSERT_EQ(stick_, "ok2");
  start({"--3gCard", "AutoCheck-hsdpa", "--3gApn", "terra.net", "--3gDial", "*99#"});
  ASSERT_TRUE(wait_for([] { return count(kStartOptions) == 1; }, 30));
  ASSERT_TRUE(wait_for([] {
    return bench::read_file("/bench/journal/standins.log").find("connect script failed") != std::string::npos;
  }, 30));
  EXPECT_EQ(bench::read_file("/bench/journal/modem.log").find("ATDT"), std::string::npos);
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  bench::sh("killall -9 pppd; usbsim set at_echo=off && usbsim unplug && usbsim plug ok2");
  bench::clear_journals();
  start({"--3gCard", "AutoCheck-hsdpa", "--3gApn", "terra.net", "--3gDial", "*99#"});
  EXPECT_TRUE(wait_for([] { return link_up(); }, kSetupLimit));
}

}  // namespace
