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

}  // namespace
