// The 3g daemon's status file and its lock, as other programs on the
// router meet them: a whole story read by a shell in a loop, and a /var/run
// that takes nothing. One fresh router per scenario (CTest passes the stick).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_support.h"
#include "daemon_fixture.h"

namespace {

using daemon_test::Daemon;

// The status file through a whole story, read all along by a shell that
// sources it in a loop, as a web page's script would.
TEST_F(Daemon, StatusFileThroughAWholeStory) {
  ASSERT_EQ(stick_, "zte-mf626");
  // Logs "STATE SINCE" whenever either changes, and BROKEN whenever what it
  // sourced is not a whole status file.
  pid_t reader = fork();
  if (reader == 0) {
    execlp("nice", "nice", "-n", "19", "busybox", "sh", "-c",
           "exec >/tmp/reader.log; last=; f=/var/run/link3g.status\n"
           "while :; do\n"
           "  [ -e $f ] || continue\n"
           "  unset state since pid pppd_starts forced_restarts dns_failures\n"
           "  . $f || echo BROKEN source\n"
           "  case $state in starting|no-modem|no-family|connecting|up|dns-failing) ;;\n"
           "    *) echo BROKEN state=$state ;; esac\n"
           "  for n in \"$since\" \"$pid\" \"$pppd_starts\" \"$forced_restarts\" \"$dns_failures\"; do\n"
           "    case $n in *[!0-9]*|'') echo BROKEN numbers ;; esac\n"
           "  done\n"
           "  [ \"$state $since\" = \"$last\" ] || { last=\"$state $since\"; echo \"$last\"; }\n"
           "done",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  start({"--3gCard", "AutoCheck-hsdpa", "--3gApn", "internet", "--3gDial", "*99#"});
  ASSERT_TRUE(wait_for([] { return status_of("state") == "up"; }, kSetupLimit));
  EXPECT_EQ(status_of("pid"), std::to_string(pid_));
  EXPECT_EQ(status_of("modem"), "19d2:0031");
  EXPECT_EQ(status_of("tty"), "/dev/ttyUSB2");
  EXPECT_EQ(status_of("family"), "gsm");
  EXPECT_EQ(status_of("address"), "10.64.64.2");
  EXPECT_EQ(status_of("pppd_starts"), "1");

  // Something sent over the link shows in the counters the command reads.
  int sock = socket(AF_INET, SOCK_DGRAM, 0);
  struct sockaddr_in peer = {};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(9);
  inet_pton(AF_INET, "10.64.64.1", &peer.sin_addr);
  EXPECT_EQ(sendto(sock, "x", 1, 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer), 1);
  close(sock);
  bench::Result r;
  auto sent = [&r] {
    size_t at = r.output.find(" bytes, sent ");
    return at == std::string::npos ? 0 : std::stoul(r.output.substr(at + 13));
  };
  // pppd takes the datagram off the link a moment later.
  EXPECT_TRUE(wait_for([&] { return r = bench::link3g({"--cmd", "status"}), sent() >= 29; }, 5))
      << r.output;  // IPv4, UDP and one byte
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output.rfind("link3g: up since ", 0), 0u) << r.output;
  EXPECT_NE(r.output.find(" (uptime), ppp0 10.64.64.2, modem 19d2:0031 on /dev/ttyUSB2, GSM\n"), std::string::npos)
      << r.output;

  // A steady link writes nothing: the same file, untouched, pass after pass.
  struct stat before, after;
  ASSERT_EQ(stat(daemon_test::kStatusFile.c_str(), &before), 0);
  size_t probes = dns_queries();
  sleep(12);
  ASSERT_EQ(stat(daemon_test::kStatusFile.c_str(), &after), 0);
  EXPECT_GE(dns_queries(), probes + 4);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

  // pppd holds no descriptor of the lock file.
  std::string pppd = bench::run({"pgrep", "-x", "pppd"}).output;
  ASSERT_FALSE(pppd.empty());
  std::string fds = bench::run({"sh", "-c", "ls -l /proc/" + pppd.substr(0, pppd.find_first_of(" \n")) + "/fd"}).output;
  EXPECT_NE(fds.find("/dev/"), std::string::npos) << fds;
  EXPECT_EQ(fds.find("link3g"), std::string::npos) << fds;

  dns_dead();
  ASSERT_TRUE(wait_for([] { return status_of("state") == "dns-failing"; }, 30));
  EXPECT_EQ(bench::link3g({"--cmd", "status"}).status, 1);
  ASSERT_EQ(stat(daemon_test::kStatusFile.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file, renamed over the old one
  ASSERT_TRUE(wait_for([] { return status_of("forced_restarts") == "1"; }, 150));
  EXPECT_EQ(status_of("pppd_starts"), "2");
  EXPECT_GE(std::stoi(status_of("dns_failures")), 6);
  bench::sh("ispdns mode 127.0.1.1 relay; ispdns mode 127.0.1.2 relay");
  ASSERT_TRUE(wait_for([] { return status_of("state") == "up"; }, kSetupLimit));
  EXPECT_EQ(status_of("dns_failures"), "0");

  bench::sh("usbsim unplug");
  // Shown from the pass that finds the modem gone, before its bring-up runs.
  ASSERT_TRUE(wait_for([] { return status_of("state") == "no-modem"; }, 5));
  EXPECT_EQ(status_of("modem") + status_of("tty") + status_of("family"), "");
  // Bring-ups keep failing while the stick is out: the state stays put (the
  // dying pppd of the pass that found the modem gone does not count).
  sleep(10);
  EXPECT_EQ(status_of("state"), "no-modem");
  std::string unplugged = bench::read_file("/tmp/reader.log");
  unplugged = unplugged.substr(unplugged.find("no-modem "));
  EXPECT_EQ(bench::lines_of(unplugged).size(), 1u) << unplugged;
  bench::sh("usbsim replug");
  ASSERT_TRUE(wait_for([] { return status_of("state") == "up"; }, kSetupLimit));
  EXPECT_EQ(status_of("modem"), "19d2:0031");
  EXPECT_GE(std::stoi(status_of("pppd_starts")), 3);

  // Killed, the daemon leaves its file behind, which counts for nothing;
  // the pppd it started does not keep the next one out.
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  r = bench::link3g({"--cmd", "status"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.output, "link3g: no 3g daemon runs.\n");
  // The reader runs at the lowest priority: let it catch up first.
  EXPECT_TRUE(wait_for([] {
    std::vector<std::string> l = bench::lines_of(bench::read_file("/tmp/reader.log"));
    return !l.empty() && l.back().rfind("up ", 0) == 0;
  }, 10));
  kill(reader, SIGKILL);
  waitpid(reader, nullptr, 0);
  EXPECT_FALSE(bench::run({"pgrep", "-x", "pppd"}).output.empty());
  start({"--3gCard", "AutoCheck-hsdpa", "--3gApn", "internet", "--3gDial", "*99#"});
  EXPECT_TRUE(wait_for([this] { return status_of("pid") == std::to_string(pid_); }, 5));
  EXPECT_EQ(bench::read_file("/tmp/daemon.out").find("already running"), std::string::npos);

  // What the reader saw: never a broken file, each state in its turn, and
  // a new "since" only with a new state.
  std::vector<std::string> seen = bench::lines_of(bench::read_file("/tmp/reader.log"));
  std::vector<std::string> states;
  unsigned long last_since = 0;
  for (const std::string& l : seen) {
    ASSERT_EQ(l.find("BROKEN"), std::string::npos) << l;
    std::string state = l.substr(0, l.find(' '));
    unsigned long since = std::stoul(l.substr(l.find(' ') + 1));
    EXPECT_TRUE(states.empty() || states.back() != state) << "since moved without a change: " << l;
    EXPECT_GE(since, last_since) << l;
    last_since = since;
    states.push_back(state);
  }
  const std::vector<std::string> story = {"starting", "connecting", "up",         "dns-failing", "connecting",
                                          "up",       "no-modem",   "connecting", "up"};
  auto at = states.begin();
  for (const std::string& s : story) {
    at = std::find(at, states.end(), s);
    ASSERT_NE(at, states.end()) << "no " << s << " in its turn; seen:\n" << bench::read_file("/tmp/reader.log");
  }
}

// A /var/run that takes nothing: one message each for the lock and the
// status file, and the link comes up all the same; once it takes files
// again, the next change is written.
TEST_F(Daemon, UnwritableRunFolder) {
  ASSERT_EQ(stick_, "ok2");
  bench::sh("mount -t tmpfs -o ro link3g-ro /var/run");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return link_up() && dns_queries() > 0; }, kSetupLimit));
  std::vector<std::string> out = bench::lines_of(bench::read_file("/tmp/daemon.out"));
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out[0],
            "link3g: /var/run/link3g.pid cannot be locked (Read-only file system), running without the "
            "one-daemon guard.");
  EXPECT_EQ(std::count(out.begin(), out.end(),
                       "link3g: /var/run/link3g.status cannot be written (Read-only file system)."),
            1);
  EXPECT_TRUE(alive());
  bench::sh("mount -o remount,rw /var/run");
  // The failed write is tried again on the next pass, with no change due.
  EXPECT_TRUE(wait_for([] { return status_of("state") == "up"; }, 10));
  dns_dead();
  EXPECT_TRUE(wait_for([] { return status_of("state") == "dns-failing"; }, 30));
  EXPECT_EQ(status_of("pppd_starts"), "1");
}

// --- The radio, asked on the stick's second AT port -------------------------

// The modem journal's commands on one port ("ttyUSB1"), in order.
std::vector<std::string> port_commands(const std::string& port) {
  std::vector<std::string> out;
  for (const std::string& l : bench::lines_of(bench::read_file("/bench/journal/modem.log"))) {
    size_t a = l.find(' ');
    if (a != std::string::npos && l.compare(a + 1, port.size() + 1, port + " ") == 0) {
      out.push_back(l.substr(a + port.size() + 2));
    }
  }
  return out;
}

// Whether any radio command went to port.
bool radio_asked_on(const std::string& port) {
  for (const std::string& c : port_commands(port)) {
    for (const char* what : {"+CSQ", "+COPS", "+CREG", "+CPIN", "^CURC"}) {
      if (c.find(what) != std::string::npos) return true;
    }
  }
  return false;
}

// A value of the status file as a shell that sources it sees it.
std::string sourced(const std::string& key) {
  return bench::run({"sh", "-c", ". " + daemon_test::kStatusFile + " && printf %s \"$" + key + "\""}).output;
}

std::string status_report() { return bench::link3g({"--cmd", "status"}).output; }

struct RadioStick {
  const char* stick;
  const char* at_port;
  const char* dial_port;
  bool huawei;  // told AT^CURC=0 before anything else
};
const RadioStick kRadioSticks[] = {
    {"zte-mf626", "ttyUSB1", "ttyUSB2", false},
    {"ok2", "ttyUSB2", "ttyUSB0", true},
    {"ok1-acm", "ttyACM1", "ttyACM0", false},
};

// What the modem says on its second AT port shows in the status file and
// in the status command, read again every minute; the port pppd dials on
// is never asked, and the port's lock goes with each read.
TEST_F(Daemon, RadioFactsFromTheSecondAtPort) {
  const RadioStick* stick = nullptr;
  for (const RadioStick& s : kRadioSticks) {
    if (stick_ == s.stick) stick = &s;
  }
  ASSERT_NE(stick, nullptr) << stick_;
  bench::sh("usbsim set signal=-63 operator=Example registration=roaming network=LTE");
  start_gsm();
  ASSERT_TRUE(wait_for([] { return status_of("sim") == "ready"; }, kSetupLimit));
  EXPECT_EQ(status_of("at_port"), std::string("/dev/") + stick->at_port);
  EXPECT_EQ(status_of("signal_dbm"), "-63");
  EXPECT_EQ(sourced("operator"), "Example");
  EXPECT_EQ(status_of("registration"), "roaming");
  EXPECT_EQ(status_of("network"), "LTE");
  EXPECT_NE(status_report().find("\nlink3g: signal -63 dBm, operator Example, registered (roaming), LTE, SIM ready\n"),
            std::string::npos)
      << status_report();
  std::vector<std::string> asked = port_commands(stick->at_port);
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked[0] == "AT^CURC=0", stick->huawei) << asked[0];
  EXPECT_FALSE(bench::exists(std::string("/var/lock/LCK..") + stick->at_port));

  bench::sh("usbsim set signal=unknown registration=searching");
  ASSERT_TRUE(wait_for([] { return status_of("registration") == "searching"; }, 75));
  EXPECT_EQ(status_of("signal_dbm") + status_of("operator") + status_of("network"), "");
  EXPECT_NE(status_report().find("\nlink3g: signal unknown, no operator, searching for a network, network unknown, "
                                 "SIM ready\n"),
            std::string::npos)
      << status_report();
  EXPECT_FALSE(radio_asked_on(stick->dial_port)) << bench::read_file("/bench/journal/modem.log");
}

// A port another program holds is left alone (a stale lock is not), a
// port that says nothing or garbage, and an operator's name made to harm:
// they change the values shown, and nothing else.
TEST_F(Daemon, LockedSilentOrHostileAtPortChangesOnlyTheValues) {
  ASSERT_EQ(stick_, "zte-mf626");
  pid_t holder = fork();
  if (holder == 0) {
    pause();
    _exit(0);
  }
  char lock[16];
  snprintf(lock, sizeof lock, "%10d\n", static_cast<int>(holder));
  bench::write_file("/var/lock/LCK..ttyUSB1", lock);
  bench::write_file("/var/lock/LCK..ttyUSB0", "     99999\n");  // no such process
  start_gsm();
  ASSERT_TRUE(wait_for([] { return link_up() && !port_commands("ttyUSB0").empty(); }, kSetupLimit));
  ASSERT_TRUE(wait_for([] { return !bench::exists("/var/lock/LCK..ttyUSB0"); }, 10));
  EXPECT_TRUE(wait_for([] { return status_report().find("\nlink3g: no AT port to ask\n") != std::string::npos; }, 10))
      << status_report();
  EXPECT_EQ(bench::read_file("/var/lock/LCK..ttyUSB1"), lock);
  EXPECT_TRUE(port_commands("ttyUSB1").empty());
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  // Not asked again until the next bring-up.
  sleep(70);
  EXPECT_TRUE(port_commands("ttyUSB1").empty());
  bench::sh("usbsim unplug");
  ASSERT_TRUE(wait_for([] { return status_of("state") == "no-modem"; }, 10));
  bench::sh("usbsim replug");
  ASSERT_TRUE(wait_for([] { return status_of("at_port") == "/dev/ttyUSB1"; }, kSetupLimit));

  // Shell words, quotes, control bytes and more than 32 bytes.
  const std::string hostile = "$(reboot)';`id`\x01\x1b[2J|x&&" + std::string(30, 'A');
  ASSERT_EQ(bench::run({"usbsim", "set", "operator=" + hostile}).status, 0);
  const std::string shown = std::string("$(reboot)';`id`[2J|x&&AAAAAAAAAAAAAAAAAAAAAAAAAA").substr(0, 32);
  ASSERT_TRUE(wait_for([&] { return sourced("operator") == shown; }, 75)) << bench::read_file(daemon_test::kStatusFile);
  EXPECT_NE(status_report().find(", operator " + shown + ", registered (home), "), std::string::npos);

  bench::sh("usbsim set status_mode=garbage");
  // Its information lines are broken or not at the start of a line: only
  // the SIM's (a NUL in it dropped) still reads.
  ASSERT_TRUE(wait_for([] { return status_of("signal_dbm") == "" && status_of("operator") == ""; }, 75))
      << bench::read_file(daemon_test::kStatusFile);
  EXPECT_EQ(status_of("registration") + status_of("network"), "");
  EXPECT_EQ(status_of("sim"), "ready");
  EXPECT_EQ(bench::run({"sh", "-c", ". " + daemon_test::kStatusFile}).status, 0);

  bench::sh("usbsim set status_mode=silent");
  EXPECT_TRUE(wait_for([] {
    return status_report().find("\nlink3g: the modem's AT port does not answer\n") != std::string::npos;
  }, 75)) << status_report();
  EXPECT_TRUE(link_up());
  EXPECT_TRUE(alive());
  EXPECT_FALSE(bench::exists("/bench/state/reboot-requested"));
  EXPECT_FALSE(radio_asked_on("ttyUSB2")) << bench::read_file("/bench/journal/modem.log");
}

}  // namespace
