// The link3g command line, the qos and status commands and the one-daemon
// lock, run as the router runs them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "daemon_fixture.h"

namespace {

using bench::link3g;
using bench::Result;

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_BENCH();
    bench::sh("iptables -t mangle -F FORWARD");
    bench::clear_journals();
  }
};

const std::string kFlush = "iptables -t mangle -F FORWARD";

std::string rule(const char* range, int first, int last, long long rate, int qid) {
  return std::string("iptables -t mangle -A FORWARD -m iprange --") + range + "-range  192.168.1." +
         std::to_string(first) + "-192.168.1." + std::to_string(last) + " -j ssqos --set-rate " +
         std::to_string(rate) + " --set-qid " + std::to_string(qid) + " \n";
}

std::string zero_traces(int from) {
  std::string out;
  for (int i = from; i < 10; ++i) out += std::to_string(i) + "_0:0->0\n";
  return out;
}

TEST_F(CommandLine, NothingOrAnUnknownWordDoesNothing) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"--cmd", "3G"}, {"--cmd", "QOS"}, {"--cmd", ""}, {"stray", "words"}}) {
    Result r = link3g(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "");
  }
  EXPECT_TRUE(bench::shell_lines().empty());
}

TEST_F(CommandLine, OptionErrorsAreReportedAndParsingGoesOn) {
  Result r = link3g({"--bogus", "x", "--cmd", "qos", "--LanH", "192.168.1."});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "msg error.\n****PPPInit qos []\n" + zero_traces(0));
  r = link3g({"--cmd"});
  EXPECT_EQ(r.output, "msg error.\n");
  r = link3g({"-1", "qos"});  // the digit 1 is no option letter
  EXPECT_EQ(r.output, "msg error.\n");
}

TEST_F(CommandLine, LastCommandWordWins) {
  Result r = link3g({"--cmd", "dns", "--cmd=qos"});
  EXPECT_EQ(r.output, "****PPPInit qos []\n");
  EXPECT_EQ(bench::shell_lines(), std::vector<std::string>{kFlush});
}

TEST_F(CommandLine, ShortFormsEqualLongForms) {
  Result shortr = link3g({"-0", "qos", "-7", "100,120,64;", "-8", "192.168.1."});
  std::vector<std::string> short_lines = bench::shell_lines();
  bench::clear_journals();
  Result longr = link3g({"--cmd", "qos", "--qos", "100,120,64;", "--LanH=192.168.1."});
  EXPECT_EQ(shortr.output, longr.output);
  EXPECT_EQ(short_lines, bench::shell_lines());
  EXPECT_EQ(short_lines.size(), 3u);
}

// Over-long values are refused, never cut: the buffer keeps what it had.
TEST_F(CommandLine, OverlongValuesAreRefused) {
  Result r = link3g({"--cmd", "qos", "--qos", std::string(255, ';'), "--LanH", std::string(23, '1')});
  EXPECT_EQ(r.output.substr(0, 20), "****PPPInit qos [;;;");
  r = link3g({"--cmd", "qos", "--qos", "1,2,3;", "--qos", std::string(256, ';'), "--LanH",
              std::string(24, '1')});
  EXPECT_EQ(r.output.rfind("msg error.\nmsg error.\n****PPPInit qos [1,2,3;]\n", 0), 0u);
  r = link3g({"--3gPass", std::string(64, 'p'), "--3gApn", std::string(63, 'a')});
  EXPECT_EQ(r.output, "msg error.\n");
}

TEST_F(CommandLine, QosRulesReachIptables) {
  Result r = link3g({"--cmd", "qos", "--qos", "100,120,64;121,130,32;", "--LanH", "192.168.1."});
  EXPECT_EQ(r.output, "****PPPInit qos [100,120,64;121,130,32;]\n0_100:120->64\n1_121:130->32\n" +
                          zero_traces(2));
  EXPECT_EQ(bench::shell_lines(),
            (std::vector<std::string>{kFlush, rule("src", 100, 120, 65536, 0),
                                      rule("dst", 100, 120, 65536, 0), rule("src", 121, 130, 32768, 1),
                                      rule("dst", 121, 130, 32768, 1)}));
  Result rules = bench::run({"iptables", "-t", "mangle", "-S", "FORWARD"});
  EXPECT_NE(rules.output.find("--src-range 192.168.1.121-192.168.1.130"), std::string::npos);
  EXPECT_NE(rules.output.find("--dst-range 192.168.1.100-192.168.1.120"), std::string::npos);
}

TEST_F(CommandLine, EmptyAndIncompleteRulesAddNothing) {
  for (const char* rules : {"", "100,120,64", "100,120;"}) {
    bench::clear_journals();
    Result r = link3g({"--cmd", "qos", "--qos", rules, "--LanH", "192.168.1."});
    EXPECT_EQ(bench::shell_lines(), std::vector<std::string>{kFlush}) << rules;
    EXPECT_NE(r.output.find("\n0_"), std::string::npos);
  }
  Result r = link3g({"--cmd", "qos", "--qos", ";100,120,64;", "--LanH", "192.168.1."});
  EXPECT_EQ(bench::shell_lines().back(), rule("dst", 100, 120, 65536, 1));
  EXPECT_NE(r.output.find("0_0:0->0\n1_100:120->64\n"), std::string::npos);
}

TEST_F(CommandLine, ShortPrefixOnlyFlushes) {
  Result r = link3g({"--cmd", "qos", "--qos", "100,120,64;", "--LanH", "19"});
  EXPECT_EQ(r.output, "****PPPInit qos [100,120,64;]\n");
  EXPECT_EQ(bench::shell_lines(), std::vector<std::string>{kFlush});
}

TEST_F(CommandLine, FormatErrorKeepsTheOldRules) {
  link3g({"--cmd", "qos", "--qos", "100,120,64;", "--LanH", "192.168.1."});
  bench::clear_journals();
  Result r = link3g({"--cmd", "qos", "--qos", "1,2,3,4;", "--LanH", "192.168.1."});
  EXPECT_EQ(r.output, "****PPPInit qos [1,2,3,4;]\ncmd fmt error.\nQos Fmt error .\n");
  EXPECT_TRUE(bench::shell_lines().empty());
  Result rules = bench::run({"iptables", "-t", "mangle", "-S", "FORWARD"});
  EXPECT_NE(rules.output.find("192.168.1.100-192.168.1.120"), std::string::npos);
}

// A rate whose product with 1024 overflows 32 bits goes on as the number meant.
TEST_F(CommandLine, LargeRatesAreNotWrapped) {
  link3g({"--cmd", "qos", "--qos", "1,2,2097152;", "--LanH", "10.0.0."});
  ASSERT_EQ(bench::shell_lines().size(), 3u);
  EXPECT_NE(bench::shell_lines()[1].find("--set-rate 2147483648 --set-qid 0"), std::string::npos);
}

TEST_F(CommandLine, HostilePrefixIsNeverRunByTheShell) {
  link3g({"--cmd", "qos", "--qos", "1,2,3;", "--LanH", "1.;touch /tmp/pwned;"});
  std::vector<std::string> lines = bench::shell_lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find(" '1.;touch /tmp/pwned;'1-'1.;touch /tmp/pwned;'2 "), std::string::npos);
  EXPECT_FALSE(bench::exists("/tmp/pwned"));
}

// --help and --version answer and run nothing, whatever else is given;
// getopt_long's abbreviations apply to them as to every long option.
TEST_F(CommandLine, HelpAndVersionRunNothing) {
  Result help = link3g({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.output.rfind("Usage: link3g --cmd 3g --3gCard CARD", 0), 0u) << help.output;
  for (const char* part : {"--cmd status", "-0, --cmd WORD", "(63)\n", "-7, --qos RULES", "(255)\n",
                           "-8, --LanH PREFIX", "(23)\n", "man 8 link3g"}) {
    EXPECT_NE(help.output.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(link3g({"--h"}).output, help.output);
  EXPECT_EQ(link3g({"--cmd", "qos", "--qos", "1,2,3;", "--LanH", "10.0.0.", "--help"}).output, help.output);
  Result version = link3g({"--version"});
  EXPECT_EQ(version.status, 0);
  ASSERT_GT(version.output.size(), 8u);
  EXPECT_EQ(version.output.rfind("link3g ", 0), 0u);
  EXPECT_EQ(version.output.find_first_of(" \n", 7), version.output.size() - 1) << version.output;
  EXPECT_EQ(link3g({"--ver"}).output, version.output);
  EXPECT_EQ(link3g({"--version", "--cmd", "qos"}).output, version.output);
  for (const char* unknown : {"-h", "-V", "--helpme", "--version=1", "--versions"}) {
    Result r = link3g({unknown});
    EXPECT_EQ(r.status, 0) << unknown;
    EXPECT_EQ(r.output, "msg error.\n") << unknown;
  }
  EXPECT_TRUE(bench::shell_lines().empty());
}

// The manual page names every option of --help, short and long forms
// together, as its OPTIONS section writes them in roff.
TEST_F(CommandLine, ManualHasEveryOptionOfTheHelp) {
  std::string manual = bench::read_file(LINK3G_SOURCE_DIR "/docs/link3g.8");
  ASSERT_FALSE(manual.empty());
  auto roff = [](const std::string& option) {
    std::string out;
    for (char c : option) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
  };
  size_t options = 0;
  for (std::string line : bench::lines_of(link3g({"--help"}).output)) {
    line.erase(0, line.find_first_not_of(' '));
    if (line.rfind("-", 0) != 0) continue;
    std::string name = line.substr(0, line.find(' '));
    std::string entry;
    if (line.rfind("--", 0) == 0) {
      entry = ".B " + roff(name) + "\n";
    } else {
      size_t at = line.find("--");
      ASSERT_NE(at, std::string::npos) << line;
      entry = ".BR " + roff(line.substr(0, 2)) + " \", \" " + roff(line.substr(at, line.find(' ', at) - at)) + " ";
    }
    EXPECT_NE(manual.find("\n.TP\n" + entry), std::string::npos) << entry;
    ++options;
  }
  EXPECT_EQ(options, 11u);
}

const std::string kNoDaemon = "link3g: no 3g daemon runs.\n";

// link3g --cmd status without a daemon that holds the lock, and with a test
// that holds it in the daemon's place, to feed the status file.
class StatusCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_BENCH();
    bench::sh("rm -rf /var/run/link3g.status /var/run/link3g.pid /tmp/pwned");
    bench::clear_journals();
  }
  void TearDown() override {
    if (lock_fd_ >= 0) close(lock_fd_);
    if (bench::inside()) bench::sh_quiet("rm -rf /var/run/link3g.status /var/run/link3g.pid");
  }
  void hold_lock() {
    lock_fd_ = open("/var/run/link3g.pid", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(lock_fd_, 0);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(lock_fd_, F_SETLK, &fl), 0);
  }
  static std::string status_text(const std::string& pid, const std::string& state = "up") {
    return "state=" + state + "\nsince=751\npid=" + pid +
           "\nmodem=12d1:1001\ntty=/dev/ttyUSB1\nfamily=gsm\naddress=10.64.64.2\npppd_starts=1\n"
           "forced_restarts=0\nrecoveries=0\ndns_failures=0\n";
  }
  // The status command, stopped after 10 s should it hang.
  static Result status() {
    std::vector<std::string> argv = {"timeout", "10"};
    for (const std::string& w : bench::link3g_command()) argv.push_back(w);
    argv.insert(argv.end(), {"--cmd", "status"});
    return bench::run(argv);
  }
  int lock_fd_ = -1;
};

TEST_F(StatusCommand, NoDaemonIsThreeEvenWithAFileLeftBehind) {
  Result r = status();
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.output, kNoDaemon);
  // A daemon that died leaves both files; nobody holds the lock.
  bench::write_file("/var/run/link3g.pid", std::to_string(getpid()) + "\n");
  bench::write_file("/var/run/link3g.status", status_text(std::to_string(getpid())));
  r = status();
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.output, kNoDaemon);
}

TEST_F(StatusCommand, TheHoldersFileIsShown) {
  hold_lock();
  std::string me = std::to_string(getpid());
  bench::write_file("/var/run/link3g.status", status_text(me));
  Result r = status();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output.substr(0, r.output.find('\n') + 1),
            "link3g: up since 0:12:31 (uptime), ppp0 10.64.64.2, modem 12d1:1001 on /dev/ttyUSB1, GSM\n");
  EXPECT_NE(r.output.find("daemon pid " + me + ", pppd started 1 time, 0 forced restarts"), std::string::npos);
  for (const char* state : {"starting", "no-modem", "no-family", "connecting", "dns-failing"}) {
    bench::write_file("/var/run/link3g.status", status_text(me, state));
    EXPECT_EQ(status().status, 1) << state;
  }
  // Not the holder's file: a daemon runs, but what it does is not known.
  bench::write_file("/var/run/link3g.status", status_text("1"));
  r = status();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "link3g: a 3g daemon runs (pid " + me + "), its status is not known.\n");
}

// The status file is outside input: nothing in it is run, printed raw or
// allowed to hang the command.
TEST_F(StatusCommand, HostileFileDoesNothing) {
  hold_lock();
  std::string me = std::to_string(getpid());
  std::string good = status_text(me);
  const std::string unknown = "link3g: a 3g daemon runs (pid " + me + "), its status is not known.\n";
  auto replace = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  std::vector<std::string> files = {
      replace("state=up", "state=$(touch /tmp/pwned)"),
      replace("state=up", "state=up;touch /tmp/pwned"),
      replace("tty=/dev/ttyUSB1", "tty='/dev/x'\"$(touch /tmp/pwned)\""),
      replace("tty=/dev/ttyUSB1", "tty=`touch /tmp/pwned`"),
      replace("tty=/dev/ttyUSB1", "tty='/dev/\x1b]0;owned\x07\x1b[2J'"),
      replace("address=10.64.64.2", "address=10.64.64.2\r\x1b[1A"),
      replace("family=gsm", "family=gsm\ntouch /tmp/pwned"),
      std::string(300, 'A') + "=1\n" + good,
      std::string("state=up\0pid=1\n", 15) + good,
      good + good,
  };
  std::string big;
  while (big.size() < 200000) big += good;
  files.push_back(big);
  for (const std::string& text : files) {
    bench::write_file("/var/run/link3g.status", text);
    Result r = status();
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_EQ(r.output, unknown) << text;
  }
  // Not a file at all.
  for (const char* make : {"mkfifo /var/run/link3g.status", "ln -s /dev/zero /var/run/link3g.status",
                           "mkdir /var/run/link3g.status"}) {
    bench::sh(std::string("rm -rf /var/run/link3g.status && ") + make);
    Result r = status();
    EXPECT_EQ(r.status, 1) << make;
    EXPECT_EQ(r.output, unknown) << make;
  }
  EXPECT_FALSE(bench::exists("/tmp/pwned"));
  EXPECT_TRUE(bench::shell_lines().empty());
}

// The daemons at the router's own speed, with a stick that leaves the
// first one quiet: its card name is no one's, so after one bring-up it
// waits, running nothing, in state no-family.
class OneDaemon : public daemon_test::Daemon {
 protected:
  void SetUp() override {
    REQUIRE_BENCH();
    bench::sh("rm -f /var/run/link3g.status /var/run/link3g.pid && usbsim plug ok2");
    bench::clear_journals();
  }
  void TearDown() override {
    Daemon::TearDown();
    if (bench::inside()) bench::sh_quiet("usbsim unplug");
  }
  static Result status() { return link3g({"--cmd", "status"}); }
};

TEST_F(OneDaemon, SecondIsRefusedUntilTheFirstIsKilled) {
  start({"--3gCard", "NoSuchCard"});
  ASSERT_TRUE(wait_for([] { return status_of("state") == "no-family"; }, 30));
  ASSERT_TRUE(wait_for([] { return status_of("sim") == "ready"; }, 30));  // its own last write
  EXPECT_EQ(status_of("pid"), std::to_string(pid_));
  EXPECT_EQ(status_of("modem"), "12d1:1001");
  EXPECT_EQ(status_of("tty"), "/dev/ttyUSB0");
  EXPECT_EQ(status_of("family"), "");
  EXPECT_EQ(bench::read_file(daemon_test::kPidFile), std::to_string(pid_) + "\n");
  Result r = status();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output.rfind("link3g: no modem family since ", 0), 0u) << r.output;
  EXPECT_NE(r.output.find(" (uptime), modem 12d1:1001 on /dev/ttyUSB0\n"), std::string::npos) << r.output;

  std::vector<std::string> before = commands();
  std::string file = bench::read_file(daemon_test::kStatusFile);
  Result second = link3g({"--cmd", "3g", "--3gCard", "AutoCheck-hsdpa", "--3gApn", "internet"});
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.output, "link3g: a 3g daemon is already running (pid " + std::to_string(pid_) + ").\n");
  sleep(3);
  EXPECT_EQ(commands(), before);
  EXPECT_EQ(bench::read_file(daemon_test::kStatusFile), file);
  EXPECT_EQ(bench::read_file(daemon_test::kPidFile), std::to_string(pid_) + "\n");

  // The lock ends with the process, even when it is killed.
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  r = status();
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.output, kNoDaemon);
  start({"--3gCard", "NoSuchCard"});
  ASSERT_TRUE(wait_for([this] { return status_of("pid") == std::to_string(pid_); }, 10));
  EXPECT_TRUE(alive());
  EXPECT_EQ(status().status, 1);
  EXPECT_EQ(bench::read_file("/tmp/daemon.out").find("already running"), std::string::npos);
}

// Two starts at once over a file planted at the pid file's name (another
// user's file, a hard link, a link): both judge it foreign, and exactly one
// of them runs, every time.
TEST_F(OneDaemon, TwoRacingStartsOverAForeignFileMakeOneDaemon) {
  std::vector<std::string> argv = bench::link3g_command();
  argv.insert(argv.end(), {"--cmd", "3g", "--3gCard", "NoSuchCard"});
  const char* plants[] = {"echo 1 > /var/run/link3g.pid && chown nobody /var/run/link3g.pid",
                          "echo 1 > /var/run/other && ln -f /var/run/other /var/run/link3g.pid",
                          "echo 1 > /var/run/other && ln -sf /var/run/other /var/run/link3g.pid"};
  for (int round = 0; round < 20; ++round) {
    bench::sh(std::string("rm -f /var/run/link3g.pid /var/run/other && ") + plants[round % 3]);
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t racers[2];
    for (pid_t& racer : racers) {
      racer = fork();
      if (racer == 0) {
        close(go[1]);
        char byte;
        if (read(go[0], &byte, 1) != 0) _exit(125);  // both start when the pipe closes
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(&a[0]);
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
      }
    }
    close(go[0]);
    close(go[1]);
    // The loser says so and ends at once; the winner stays.
    int status = 0;
    pid_t ended = 0;
    for (int tick = 0; tick < 100 && ended == 0; ++tick) {
      for (pid_t racer : racers) {
        if (ended == 0 && waitpid(racer, &status, WNOHANG) == racer) ended = racer;
      }
      usleep(50000);
    }
    pid_t winner = ended == racers[0] ? racers[1] : racers[0];
    usleep(500000);
    bool winner_alive = waitpid(winner, nullptr, WNOHANG) == 0;
    std::string holder = bench::read_file(daemon_test::kPidFile);
    for (pid_t racer : racers) kill(racer, SIGKILL);
    for (pid_t racer : racers) waitpid(racer, nullptr, 0);
    ASSERT_NE(ended, 0) << "round " << round << ": both ran";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "round " << round;
    EXPECT_TRUE(winner_alive) << "round " << round;
    EXPECT_EQ(holder, std::to_string(winner) + "\n") << "round " << round;
  }
  EXPECT_EQ(bench::read_file("/var/run/other"), "1\n");  // what the links named is untouched
}

}  // namespace
