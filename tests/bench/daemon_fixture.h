// The 3g daemon run as the router runs it, for scenario tests: start it,
// wait on the bench clock for what the journals show, read them.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"

namespace daemon_test {

const std::string kStartOptions = "pppd file /etc/ppp/options.ppp3g &";
const std::string kStartEx = "pppd file /etc/ppp/options.ppp3g.ex &";
const std::string kKillPppd = "killall -9 pppd";
const std::string kStatusFile = "/var/run/link3g.status";
const std::string kPidFile = "/var/run/link3g.pid";

inline double bench_now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class Daemon : public ::testing::Test {
 protected:
  // How long a set-up step (the first link up, a failed bring-up) may take
  // in bench seconds: it asserts nothing of the daemon's own timing, and on
  // a busy machine the commands of a bring-up cost many seconds of the
  // sped-up clock.
  static constexpr double kSetupLimit = 180;
  void SetUp() override {
    REQUIRE_BENCH();
    const char* stick = getenv("BENCH_STICK");
    stick_ = stick ? stick : "";
    bench::sh("ispdns start");
    // serialcom writes the operator record in the byte order of the router's
    // processor, which is that of the binary under test.
    const std::string order = bench::link3g_byte_order();
    if (!order.empty() && order != bench::host_byte_order()) bench::sh("usbsim set serialcom_order=" + order);
    bench::clear_journals();
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    // A sanitized daemon reports what it finds on standard error.
    EXPECT_EQ(bench::read_file("/tmp/daemon.err").find("Sanitizer"), std::string::npos)
        << bench::read_file("/tmp/daemon.err");
  }
  void start(std::vector<std::string> args) {
    std::vector<std::string> command = bench::link3g_command();
    command.insert(command.end(), {"--cmd", "3g"});
    args.insert(args.begin(), command.begin(), command.end());
    pid_ = fork();
    if (pid_ == 0) {
      FILE* out = freopen("/tmp/daemon.out", "w", stdout);
      FILE* err = freopen("/tmp/daemon.err", "w", stderr);
      if (out == nullptr || err == nullptr) _exit(126);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
  }
  void start_gsm() { start({"--3gCard", "AutoCheck-hsdpa", "--3gApn", "internet", "--3gDial", "*99#"}); }
  // Commands the daemon ran, without the LED's.
  static std::vector<std::string> commands() {
    std::vector<std::string> out;
    for (const std::string& l : bench::shell_lines()) {
      if (l.find("/proc/led_enable") == std::string::npos) out.push_back(l);
    }
    return out;
  }
  static size_t count(const std::string& line) {
    std::vector<std::string> c = commands();
    return static_cast<size_t>(std::count(c.begin(), c.end(), line));
  }
  // Polls cond on the bench clock; false after limit bench seconds.
  static bool wait_for(const std::function<bool()>& cond, double limit) {
    double end = bench_now() + limit;
    while (bench_now() < end) {
      if (cond()) return true;
      usleep(250000);
    }
    return cond();
  }
  static bool link_up() {
    return bench::run({"ip", "-4", "addr", "show", "dev", "ppp0"}).output.find("inet ") != std::string::npos;
  }
  static size_t dns_queries() { return bench::lines_of(bench::read_file("/bench/journal/dns.log")).size(); }
  // Times of the DNS queries, bench seconds.
  static std::vector<double> query_times() {
    std::vector<double> t;
    for (const std::string& l : bench::lines_of(bench::read_file("/bench/journal/dns.log"))) {
      t.push_back(std::stod(l.substr(0, l.find(' '))));
    }
    return t;
  }
  static void dns_dead() { bench::sh("ispdns mode 127.0.1.1 drop; ispdns mode 127.0.1.2 drop"); }
  // A key of the daemon's status file, read as the daemon writes ordinary
  // values (unquoted); "" when the file or the key is missing.
  static std::string status_of(const std::string& key) {
    for (const std::string& l : bench::lines_of(bench::read_file(kStatusFile))) {
      if (l.compare(0, key.size() + 1, key + "=") == 0) return l.substr(key.size() + 1);
    }
    return "";
  }
  bool alive() const { return waitpid(pid_, nullptr, WNOHANG) == 0; }
  std::string stick_;
  pid_t pid_ = -1;
};

}  // namespace daemon_test
