// The router's start script, /etc/init.d/link3g, run by busybox sh with
// busybox's logger and syslogd, on the link3g under test installed where
// the script expects it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "daemon_fixture.h"

namespace {

using bench::Result;

const std::string kScript = "/etc/init.d/link3g";
const std::string kConf = "/etc/link3g.conf";
const std::string kSyslog = "/var/log/link3g-test.log";
// The router's tools the script uses, as busybox applets (the bench's
// stand-ins still come first).
const std::string kBusyboxDir = "/tmp/busybox";
const char* const kApplets[] = {"logger", "ls", "rm", "sleep", "tr"};
const std::string kMarker = "/tmp/pwned";

// A value as one single-quoted shell word, as a settings writer quotes it.
std::string sh_word(const std::string& value) {
  std::string out = "'";
  for (char c : value) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct Settings {
  std::string card = "AutoCheck-hsdpa", apn = "internet", dial = "*99#", user, pass, pin;
  std::string qos, lan = "192.168.1.";
};

std::vector<std::string> split_nul(const std::string& text) {
  std::vector<std::string> words;
  size_t from = 0;
  for (size_t at; (at = text.find('\0', from)) != std::string::npos; from = at + 1) {
    words.push_back(text.substr(from, at - from));
  }
  return words;
}

class StartScript : public daemon_test::Daemon {
 protected:
  void SetUp() override {
    REQUIRE_BENCH();
    bench::sh("mkdir -p " + kBusyboxDir);
    for (const char* applet : kApplets) bench::sh("ln -sf /usr/bin/busybox " + kBusyboxDir + "/" + applet);
    std::vector<std::string> link3g = bench::link3g_command();
    if (link3g.size() != 1) GTEST_SKIP() << "the start script runs link3g itself, without an emulator";
    bench::sh("install -m 0755 " + link3g[0] + " /bin/link3g");
    // The script sets the router's PATH itself; on the bench the stand-ins
    // and the busybox applets are the router's folders, put first as an
    // install puts the binary's place into its DAEMON line.
    bench::sh("sed 's|^PATH=|PATH=/bench/bin:" + kBusyboxDir + ":|' " LINK3G_SOURCE_DIR "/etc/init.d/link3g >" +
              kScript + " && chmod 755 " + kScript);
    bench::sh("rm -f /var/run/link3g.pid /var/run/link3g.status " + kMarker + " " + kSyslog +
              " && ispdns start && usbsim plug ok2");
    syslogd_ = fork();
    if (syslogd_ == 0) {
      execlp("busybox", "busybox", "syslogd", "-n", "-O", kSyslog.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_TRUE(wait_for([] { return bench::exists("/dev/log"); }, 10));
    bench::clear_journals();
  }
  void TearDown() override {
    if (!bench::inside()) return;
    script("stop");
    end_decoys();
    if (syslogd_ > 0) {
      kill(syslogd_, SIGKILL);
      waitpid(syslogd_, nullptr, 0);
    }
    bench::sh_quiet("usbsim unplug; rm -f /dev/log");
    // A sanitized daemon's reports went to syslog with its other output.
    EXPECT_EQ(syslog().find("Sanitizer"), std::string::npos) << syslog();
  }

  static Result script(const std::string& command, const std::string& caller_path = "") {
    const char* path = getenv("PATH");
    return bench::run({"env", "PATH=" + (caller_path.empty() ? std::string(path ? path : "") : caller_path),
                       "/usr/bin/busybox", "sh", kScript, command});
  }
  static void write_conf(const Settings& s) {
    bench::write_file(kConf, "# written by the test\nLINK3G_CARD=" + sh_word(s.card) + "\nLINK3G_APN=" +
                                 sh_word(s.apn) + "\nLINK3G_DIAL=" + sh_word(s.dial) + "\nLINK3G_USER=" +
                                 sh_word(s.user) + "\nLINK3G_PASS=" + sh_word(s.pass) + "\nLINK3G_PIN=" +
                                 sh_word(s.pin) + "\nLINK3G_QOS=" + sh_word(s.qos) + "\nLINK3G_LAN=" +
                                 sh_word(s.lan) + "\n");
    chmod(kConf.c_str(), 0600);
  }
  static std::string syslog() { return bench::read_file(kSyslog); }
  static bool logged(const std::string& message) {
    return syslog().find(" link3g: " + message + "\n") != std::string::npos;
  }
  static std::string lock_pid() {
    std::string pid = bench::read_file(daemon_test::kPidFile);
    return pid.substr(0, pid.find('\n'));
  }
  // Live processes of this name (zombies left out).
  static std::vector<std::string> processes(const std::string& name) {
    return bench::lines_of(bench::run({"pgrep", "-x", "-r", "DRSTtW", name}).output);
  }
  static bool up() { return script("status").status == 0; }
  // A process named pppd that link3g did not start, in a group of its own.
  void decoy_pppd(const std::vector<std::string>& args) {
    bench::sh("mkdir -p /tmp/decoy && printf '#!/bin/dash\\nwhile :; do sleep 1000; done\\n' >/tmp/decoy/pppd && "
              "chmod 755 /tmp/decoy/pppd");
    pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      std::vector<std::string> argv = {"/tmp/decoy/pppd"};
      argv.insert(argv.end(), args.begin(), args.end());
      std::vector<char*> c;
      for (std::string& a : argv) c.push_back(&a[0]);
      c.push_back(nullptr);
      execv(c[0], c.data());
      _exit(127);
    }
    decoys_.push_back(pid);
  }
  void end_decoys() {
    for (pid_t decoy : decoys_) kill(-decoy, SIGKILL);
    for (pid_t decoy : decoys_) waitpid(decoy, nullptr, 0);
    decoys_.clear();
  }
  pid_t syslogd_ = -1;
  std::vector<pid_t> decoys_;
};

TEST_F(StartScript, StartStatusStopRestart) {
  Settings s;
  s.qos = "100,120,64;";
  write_conf(s);
  EXPECT_EQ(script("status").status, 3);

  Result r = script("start");
  EXPECT_EQ(r.status, 0) << r.output << r.errors;
  std::string daemon = lock_pid();
  EXPECT_EQ(r.output, "link3g: started (pid " + daemon + ")\n");
  EXPECT_EQ(processes("link3g"), std::vector<std::string>{daemon});
  // qos ran first, with the settings' rules.
  EXPECT_NE(bench::run({"iptables", "-t", "mangle", "-S", "FORWARD"}).output.find("192.168.1.100-192.168.1.120"),
            std::string::npos);
  ASSERT_TRUE(wait_for(up, 60)) << script("status").output;
  r = script("status");
  EXPECT_EQ(r.output.rfind("link3g: up since ", 0), 0u) << r.output;
  // Both commands' output reached syslog, line by line.
  EXPECT_TRUE(logged("****PPPInit qos [100,120,64;]")) << syslog();
  EXPECT_TRUE(logged("auto check usb modem successful.")) << syslog();

  // A second start starts nothing and leaves no second logger.
  std::vector<std::string> loggers = processes("logger");
  EXPECT_EQ(loggers.size(), 1u);
  r = script("start");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "link3g: already running (pid " + daemon + ")\n");
  EXPECT_EQ(processes("link3g"), std::vector<std::string>{daemon});
  EXPECT_EQ(processes("logger"), loggers);

  // Other pppd of the router, which stop must leave alone.
  std::vector<std::string> ours = processes("pppd");
  ASSERT_EQ(ours.size(), 1u);
  decoy_pppd({"call", "isp"});
  decoy_pppd({"file", "/etc/ppp/options.ppp3g.bak"});
  decoy_pppd({"nodetach", "/etc/ppp/options.ppp3g"});
  ASSERT_TRUE(wait_for([] { return processes("pppd").size() == 4; }, 5));
  std::vector<std::string> others = processes("pppd");
  others.erase(std::find(others.begin(), others.end(), ours[0]));

  // SIGINT ends the daemon at once (no SIGKILL after the wait), though
  // the script started it in the background.
  double before = daemon_test::bench_now();
  r = script("stop");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "link3g: stopped (pid " + daemon + ")\n") << r.output;
  EXPECT_LT(daemon_test::bench_now() - before, 5.0);
  EXPECT_TRUE(processes("link3g").empty());
  EXPECT_EQ(processes("pppd"), others);
  EXPECT_TRUE(wait_for([] { return processes("logger").empty(); }, 5));
  r = script("status");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.output, "link3g: no 3g daemon runs.\n");
  EXPECT_FALSE(bench::exists(daemon_test::kPidFile));
  EXPECT_FALSE(bench::exists(daemon_test::kStatusFile));
  EXPECT_EQ(script("stop").output, "link3g: no 3g daemon runs\n");
  EXPECT_EQ(processes("pppd"), others);
  end_decoys();  // a daemon starts no pppd while one runs

  // restart: from nothing, then over a running daemon.
  r = script("restart");
  EXPECT_EQ(r.status, 0);
  std::string second = lock_pid();
  EXPECT_EQ(r.output, "link3g: no 3g daemon runs\nlink3g: started (pid " + second + ")\n");
  ASSERT_TRUE(wait_for(up, 60));
  r = script("restart");
  EXPECT_EQ(r.status, 0);
  std::string third = lock_pid();
  EXPECT_NE(third, second);
  EXPECT_EQ(r.output, "link3g: stopped (pid " + second + ")\nlink3g: started (pid " + third + ")\n");
  EXPECT_EQ(processes("link3g"), std::vector<std::string>{third});
  EXPECT_TRUE(wait_for(up, 60));
  EXPECT_EQ(processes("logger").size(), 1u);
}

// Values of the settings file are words handed to link3g, never shell
// code: nothing runs, and the daemon's command line holds them as written.
TEST_F(StartScript, HostileValuesRunNothing) {
  Settings s;
  s.apn = "$(touch " + kMarker + ")";
  s.dial = "`touch " + kMarker + "`*99#";
  s.user = "a;touch " + kMarker + ";b";
  s.pass = "-x *";
  s.pin = "'\"; touch " + kMarker + " #";
  s.qos = "1,2,3;";
  s.lan = "1.;touch " + kMarker + ";";
  write_conf(s);
  Result r = script("start");
  ASSERT_EQ(r.status, 0) << r.output << r.errors;
  std::string daemon = lock_pid();
  EXPECT_EQ(split_nul(bench::read_file("/proc/" + daemon + "/cmdline")),
            (std::vector<std::string>{"/bin/link3g", "--cmd", "3g", "--3gCard=" + s.card, "--3gApn=" + s.apn,
                                      "--3gDial=" + s.dial, "--3gUser=" + s.user, "--3gPass=" + s.pass,
                                      "--3gPin=" + s.pin}));
  // qos got the prefix as one word, which link3g quotes for the shell.
  std::vector<std::string> lines = bench::shell_lines();
  EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                         [&](const std::string& l) {
                           return l.find(" " + sh_word(s.lan) + "1-" + sh_word(s.lan) + "2 ") != std::string::npos;
                         }),
            lines.end());
  ASSERT_TRUE(wait_for([] { return count(daemon_test::kStartOptions) >= 1; }, 40));
  std::string options = bench::read_file("/etc/ppp/options.ppp3g");
  EXPECT_NE(options.find("\nuser \"" + s.user + "\"\npassword \"" + s.pass + "\"\n"), std::string::npos) << options;
  std::string chat = bench::read_file("/etc/ppp/chat.ppp3g");
  EXPECT_NE(chat.find("\nsend \"AT+CGDCONT=1,\\\"IP\\\",\\\"" + s.apn + "\\\",,0,0^m\"\n"), std::string::npos) << chat;
  EXPECT_NE(chat.find("\nsend \"ATDT" + s.dial + "^m\"\n"), std::string::npos) << chat;
  sleep(5);
  EXPECT_FALSE(bench::exists(kMarker));
  script("stop");

  // A value with a newline reaches link3g too, which refuses to dial with it.
  s.pass = "line\ntouch " + kMarker;
  write_conf(s);
  ASSERT_EQ(script("start").status, 0);
  daemon = lock_pid();
  EXPECT_EQ(split_nul(bench::read_file("/proc/" + daemon + "/cmdline"))[7], "--3gPass=" + s.pass);
  EXPECT_TRUE(wait_for([] { return logged("gen at script: password holds a control character."); }, 30))
      << syslog();
  EXPECT_FALSE(bench::exists(kMarker));
  script("stop");

  // A settings file that others may write is not run at all.
  s = Settings();
  write_conf(s);
  bench::write_file(kConf, bench::read_file(kConf) + "touch " + kMarker + "\n");
  chmod(kConf.c_str(), 0666);
  r = script("start");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "link3g: " + kConf + " is writable by others, not read\n");
  EXPECT_FALSE(bench::exists(kMarker));
  EXPECT_EQ(script("status").status, 3);
}

// The settings file runs as root only when root alone may change it and its
// folder, and neither it nor the caller chooses what the script runs.
TEST_F(StartScript, OnlyRootChoosesWhatRuns) {
  bench::sh("mkdir -p /tmp/evil && for tool in link3g logger ls rm sleep tr pgrep kill; do "
            "printf '#!/bin/sh\\ntouch " + kMarker + "\\n' >/tmp/evil/$tool && chmod 755 /tmp/evil/$tool; done");
  Settings s;
  write_conf(s);
  bench::write_file(kConf, bench::read_file(kConf) + "touch " + kMarker + "\n");
  chmod(kConf.c_str(), 0644);
  bench::sh("chown 1000:1000 " + kConf);
  Result r = script("start");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "link3g: " + kConf + " is not root's, not read\n");
  EXPECT_FALSE(bench::exists(kMarker));

  bench::sh("rm " + kConf);
  write_conf(s);
  bench::write_file(kConf, bench::read_file(kConf) + "DAEMON=/tmp/evil/link3g\nPATH=/tmp/evil\n");
  r = script("start", "/tmp/evil:/bench/bin:/usr/bin:/bin");
  ASSERT_EQ(r.status, 0) << r.output << r.errors;
  std::string daemon = lock_pid();
  EXPECT_EQ(r.output, "link3g: started (pid " + daemon + ")\n");
  EXPECT_EQ(split_nul(bench::read_file("/proc/" + daemon + "/cmdline")).at(0), "/bin/link3g");
  ASSERT_TRUE(wait_for(up, 60));
  EXPECT_FALSE(bench::exists(kMarker));

  // A full /var/run leaves the pid file empty: the lock still names the
  // daemon, and stop ends it.
  bench::write_file(daemon_test::kPidFile, "");
  r = script("stop", "/tmp/evil:/usr/bin:/bin");
  EXPECT_EQ(r.output, "link3g: stopped (pid " + daemon + ")\n");
  EXPECT_TRUE(processes("link3g").empty());
  EXPECT_TRUE(processes("pppd").empty());
  EXPECT_FALSE(bench::exists(kMarker));

  // A read-only /var/run: no lock at all, and restart still leaves one
  // daemon.
  bench::sh("mount -t tmpfs -o ro link3g-ro /var/run");
  ASSERT_EQ(script("start").status, 0);
  std::vector<std::string> first = processes("link3g");
  ASSERT_EQ(first.size(), 1u);
  r = script("restart");
  EXPECT_EQ(r.output.rfind("link3g: stopped (pid " + first[0] + ")\nlink3g: started (pid ", 0), 0u) << r.output;
  EXPECT_EQ(processes("link3g").size(), 1u);
  script("stop");
  EXPECT_TRUE(processes("link3g").empty());
  bench::sh("umount /var/run");
}

}  // namespace
