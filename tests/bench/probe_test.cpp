// The system probes against a real /proc, /dev and network namespace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_support.h"
#include "sys/file_exist.h"
#include "sys/if_addr.h"
#include "sys/module_list.h"
#include "sys/proc_pid.h"

namespace {

class Probes : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_BENCH(); }
  void TearDown() override {
    for (pid_t pid : children_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  // Starts a process whose name is name (a copy of sleep under that name).
  pid_t start_named(const std::string& name) {
    std::string path = "/tmp/names/" + name;
    bench::sh("mkdir -p /tmp/names && { [ -e '" + path + "' ] || cp /bin/sleep '" + path + "'; }");
    pid_t pid = fork();
    if (pid == 0) {
      execl(path.c_str(), name.c_str(), "600", nullptr);
      _exit(127);
    }
    children_.push_back(pid);
    usleep(50000);
    return pid;
  }
  // Ends a process of start_named and reaps it: its pid is free again.
  void stop(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    children_.erase(std::find(children_.begin(), children_.end(), pid));
  }
  std::vector<pid_t> children_;
};

TEST_F(Probes, FileExistMeansOpenableForReading) {
  EXPECT_EQ(CheckFileExist("/etc"), 1);
  EXPECT_EQ(CheckFileExist("/dev/null"), 1);
  EXPECT_EQ(CheckFileExist("/no/such/path"), 0);
  // A usbserial node whose device has gone: the node is there, the open fails.
  bench::sh("mknod /dev/ttyUSB9 c 188 9");
  EXPECT_EQ(CheckFileExist("/dev/ttyUSB9"), 0);
}

// Looking at a tty must never make it the daemon's controlling terminal: a
// session leader without one opens a modem port, then asks for /dev/tty.
TEST_F(Probes, FileExistNeverTakesAControllingTerminal) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::string slave = ptsname(master);
  pid_t child = fork();
  if (child == 0) {
    setsid();
    int seen = CheckFileExist(slave.c_str());
    int tty = open("/dev/tty", O_RDWR);
    _exit(seen == 1 && tty < 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(master);
}

TEST_F(Probes, ModulesMatchWholeNames) {
  bench::write_file("/bench/state/modules",
                    "usb_storage 39136 0 - Live 0xc0a2e000\n" + std::string(200, 'x') +
                        " cdc_acm 1 0\nusbserial 30528 0 - Live 0xc0130000\n");
  EXPECT_EQ(is_module_exist("usb_storage"), 1);
  EXPECT_EQ(is_module_exist("usbserial"), 1);
  EXPECT_EQ(is_module_exist("usb-storage"), 0);
  EXPECT_EQ(is_module_exist("usb"), 0);
  // The continuation piece of the long line starts with a blank and then
  // cdc_acm: a piece is judged as a line of its own.
  EXPECT_EQ(is_module_exist("cdc_acm"), 0);
  bench::write_file("/bench/state/modules", std::string(127, 'x') + " cdc_acm 1 0\n");
  EXPECT_EQ(is_module_exist("cdc_acm"), 1);
  bench::write_file("/bench/state/modules", "");
  EXPECT_EQ(is_module_exist("usb_storage"), 0);
}

TEST_F(Probes, ProcessesAreFoundByWholeNameIgnoringCase) {
  pid_t pppd = start_named("pppd");
  EXPECT_EQ(get_proc_pid("PPPD"), pppd);
  EXPECT_EQ(get_proc_pid("pppd"), pppd);
  EXPECT_EQ(get_proc_pid("ppp"), 0);
  pid_t odd = start_named("a) b");
  EXPECT_EQ(get_proc_pid("a) b"), odd);
}

TEST_F(Probes, TwoProcessesOfOneNameComeInTurn) {
  pid_t first = start_named("pppd");
  pid_t second = start_named("pppd");
  int a = get_proc_pid("pppd"), b = get_proc_pid("pppd"), c = get_proc_pid("pppd");
  EXPECT_NE(a, b);
  EXPECT_TRUE((a == first && b == second) || (a == second && b == first));
  EXPECT_TRUE(c == first || c == second);
}

// The look that starts from the pid found last time: that process while it
// runs under the name, else a scan; a pid now carrying another name never
// counts.
TEST_F(Probes, LookAgainStartsFromTheLastPid) {
  pid_t first = start_named("pppd");
  EXPECT_EQ(get_proc_pid_again("pppd", 0), first);
  EXPECT_EQ(get_proc_pid_again("PPPD", first), first);
  stop(first);
  pid_t restarted = start_named("pppd");
  EXPECT_EQ(get_proc_pid_again("pppd", first), restarted);
  // The last pid now belongs to a process of another name.
  pid_t other = start_named("pppd-helper");
  EXPECT_EQ(get_proc_pid_again("pppd", other), restarted);
  stop(restarted);
  EXPECT_EQ(get_proc_pid_again("pppd", other), 0);
  EXPECT_EQ(get_proc_pid_again("pppd-helper", getpid()), other);
  // Two of the name: the one found last stays the answer, where successive
  // scans would take them in turn.
  pid_t a = start_named("pppd"), b = start_named("pppd");
  int found = get_proc_pid_again("pppd", 0);
  EXPECT_TRUE(found == a || found == b);
  for (int pass = 0; pass < 3; ++pass) EXPECT_EQ(get_proc_pid_again("pppd", b), b);
  stop(b);
  EXPECT_EQ(get_proc_pid_again("pppd", b), a);
}

TEST_F(Probes, MissingProcessCostsTenScans) {
  struct timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  EXPECT_EQ(get_proc_pid("nosuchprocess"), 0);
  clock_gettime(CLOCK_MONOTONIC, &t1);
  double elapsed = static_cast<double>(t1.tv_sec - t0.tv_sec) +
                   static_cast<double>(t1.tv_nsec - t0.tv_nsec) / 1e9;
  EXPECT_GE(elapsed, 0.05);
}

TEST_F(Probes, InterfaceAddresses) {
  bench::sh("ip tuntap add ppp7 mode tun && ip tuntap add ppp8 mode tun && "
            "ip addr add 10.64.64.2 peer 10.64.64.1 dev ppp8");
  char addr[24] = "untouched";
  EXPECT_EQ(getIfIp("ppp7", addr), -1);
  EXPECT_EQ(GetIf_stat("ppp7", addr), 0);
  EXPECT_EQ(getIfIp("ppp9", addr), -1);
  EXPECT_EQ(GetIf_stat("ppp9", addr), 0);
  EXPECT_EQ(getIfIp("abcdefghijklmnopq", addr), -1);
  EXPECT_STREQ(addr, "untouched");
  EXPECT_EQ(getIfIp("ppp8", addr), 0);
  EXPECT_STREQ(addr, "10.64.64.2");
  char other[24] = "";
  EXPECT_EQ(GetIf_stat("lo", other), 1);
  EXPECT_STREQ(other, "127.0.0.1");
  bench::sh("ip link del ppp7 && ip link del ppp8");
}

}  // namespace
