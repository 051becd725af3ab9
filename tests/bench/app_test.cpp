// The link3g command line and the qos command, run as the router runs them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bench_support.h"

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

}  // namespace
