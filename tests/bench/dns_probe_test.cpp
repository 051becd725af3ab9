// The DNS reachability probe against the bench's ISP name servers; its
// datagrams are read back with a real DNS library.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "dns/dns.h"
#include "monitor/monitor.h"

namespace {

using bench::DnsQuery;
using bench::dns_queries;

double bench_now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class DnsProbe : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (bench::inside()) bench::sh("ispdns start");
  }
  void SetUp() override {
    REQUIRE_BENCH();
    bench::write_file("/etc/resolv.conf", "nameserver 127.0.1.1\nnameserver 127.0.1.2\n");
    mode("127.0.1.1", "relay");
    mode("127.0.1.2", "relay");
    bench::write_file("/bench/journal/dns.log", "");
  }
  void mode(const char* server, const char* m) { bench::sh(std::string("ispdns mode ") + server + " " + m); }
};

TEST_F(DnsProbe, QueriesAreStandardAndRotate) {
  DomainListIndex = 0;
  for (int i = 0; i < 7; ++i) EXPECT_EQ(CheckDnsQuery(), 1);
  std::vector<DnsQuery> q = dns_queries();
  ASSERT_EQ(q.size(), 7u);
  const char* ids[] = {"7329", "732a", "732b", "732c", "732d", "732e", "7329"};
  for (size_t i = 0; i < q.size(); ++i) {
    EXPECT_EQ(q[i].server, "127.0.1.1");
    EXPECT_EQ(q[i].id, ids[i]);
    EXPECT_EQ(q[i].flags, "0100");
    EXPECT_EQ(q[i].count, "1");
    EXPECT_EQ(q[i].name.rfind("www.", 0), 0u) << q[i].name;
    EXPECT_EQ(q[i].type, "A");
    EXPECT_EQ(q[i].qclass, "IN");
  }
  EXPECT_EQ(q[0].name, q[6].name);
  EXPECT_NE(q[0].name, q[1].name);
}

TEST_F(DnsProbe, DeadServersCostSixQueriesAndTwelveSeconds) {
  mode("127.0.1.1", "drop");
  mode("127.0.1.2", "drop");
  double start = bench_now();
  EXPECT_EQ(CheckDnsQuery(), 0);
  double took = bench_now() - start;
  EXPECT_GE(took, 11.9);
  EXPECT_LT(took, 14.0);
  std::vector<DnsQuery> q = dns_queries();
  ASSERT_EQ(q.size(), 6u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(q[i].server, i < 3 ? "127.0.1.1" : "127.0.1.2");
}

TEST_F(DnsProbe, SecondServerAnswersWhenTheFirstIsDead) {
  mode("127.0.1.1", "drop");
  EXPECT_EQ(CheckDnsQuery(), 1);
  std::vector<DnsQuery> q = dns_queries();
  ASSERT_EQ(q.size(), 4u);
  EXPECT_EQ(q[3].server, "127.0.1.2");
}

TEST_F(DnsProbe, OnlyUsableServersAreAsked) {
  mode("127.0.1.1", "drop");
  bench::write_file("/etc/resolv.conf", "nameserver 127.0.1.1\n");
  EXPECT_EQ(CheckDnsQuery(), 0);
  EXPECT_EQ(dns_queries().size(), 3u);
  bench::write_file("/bench/journal/dns.log", "");
  bench::write_file("/etc/resolv.conf",
                    "nameserver 1.2.3\n  nameserver 127.0.1.2\nnameserver fe80::1\n");
  EXPECT_EQ(CheckDnsQuery(), 0);
  bench::write_file("/etc/resolv.conf", "nameserver 127.0.1.2;reboot\nnameserver garbage\n");
  EXPECT_EQ(CheckDnsQuery(), 0);
  bench::write_file("/etc/resolv.conf", "nameserver 127.000.000.002.000.000\n");
  EXPECT_EQ(CheckDnsQuery(), 0);
  EXPECT_TRUE(dns_queries().empty());
}

TEST_F(DnsProbe, AnyReplyCountsButAnEmptyOne) {
  mode("127.0.1.1", "garbage");
  EXPECT_EQ(SendDns("127.0.1.1"), 1);
  mode("127.0.1.1", "empty");
  EXPECT_EQ(SendDns("127.0.1.1"), 0);
  mode("127.0.1.1", "late:1");
  EXPECT_EQ(SendDns("127.0.1.1"), 1);
  mode("127.0.1.1", "late:3");
  EXPECT_EQ(SendDns("127.0.1.1"), 0);
}

TEST_F(DnsProbe, FailedSendDoesNotAdvanceTheRotation) {
  DomainListIndex = 2;
  EXPECT_EQ(SendDns("10.99.99.99"), 0);  // no route: nothing leaves
  EXPECT_EQ(DomainListIndex, 2);
  EXPECT_EQ(SendDns("127.0.1.1"), 1);
  EXPECT_EQ(DomainListIndex, 3);
  EXPECT_EQ(dns_queries().at(0).id, "732b");
}

void on_signal(int) {}

// Commands that end during the wait (as the LED thread's do) must not make
// an answered query look unanswered.
TEST_F(DnsProbe, EndingChildrenDoNotFailALateAnswer) {
  struct sigaction sa = {}, saved;
  sa.sa_handler = on_signal;
  sigaction(SIGCHLD, &sa, &saved);
  pid_t spawner = fork();
  if (spawner == 0) {
    for (int i = 0; i < 20; ++i) {
      if (fork() == 0) _exit(0);
      usleep(100000);
    }
    _exit(0);
  }
  mode("127.0.1.1", "late:1.5");
  for (int i = 0; i < 15; ++i) {
    if (fork() == 0) {
      usleep(100000);
      _exit(0);
    }
  }
  EXPECT_EQ(SendDns("127.0.1.1"), 1);
  while (waitpid(-1, nullptr, WNOHANG) > 0 || waitpid(-1, nullptr, 0) > 0) {
  }
  sigaction(SIGCHLD, &saved, nullptr);
}

// Local UDP ports open now but for the name servers' (from /proc/net/udp).
std::vector<unsigned> udp_ports() {
  std::vector<unsigned> ports;
  std::vector<std::string> lines = bench::lines_of(bench::read_file("/proc/net/udp"));
  for (size_t i = 1; i < lines.size(); ++i) {
    unsigned addr = 0, port = 0;
    if (sscanf(lines[i].c_str(), " %*d: %8X:%4X", &addr, &port) == 2 && port != 53) ports.push_back(port);
  }
  return ports;
}

// A datagram from anywhere but the name server's port 53 is no answer,
// however it is timed: here one reaches every local port while the probe
// waits on a server that stays silent.
TEST_F(DnsProbe, StrayDatagramIsNoAnswer) {
  mode("127.0.1.1", "drop");
  std::atomic<bool> done{false};
  std::thread stray([&done] {
    int sock = socket(AF_INET, SOCK_DGRAM, 0);
    const char text[] = "stray reply";
    while (!done) {
      for (unsigned port : udp_ports()) {
        struct sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(sock, text, sizeof text, 0, reinterpret_cast<struct sockaddr*>(&to), sizeof to);
      }
      usleep(20000);
    }
    close(sock);
  });
  struct timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  int answered = SendDns("127.0.1.1");
  clock_gettime(CLOCK_MONOTONIC, &t1);
  done = true;
  stray.join();
  EXPECT_EQ(answered, 0);
  EXPECT_EQ(dns_queries().size(), 1u);
  // The strays do not cut the wait short: it lasts its 2 s (bench time).
  EXPECT_GE(static_cast<double>(t1.tv_sec - t0.tv_sec) + static_cast<double>(t1.tv_nsec - t0.tv_nsec) / 1e9, 1.9);
}

}  // namespace
