// The QoS rule string.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "qos/qos.h"

namespace {

struct Parsed {
  int ok;
  QosRule rules[kQosRuleCount];
};

Parsed parse(const std::string& s) {
  Parsed p;
  memset(p.rules, 0, sizeof p.rules);
  p.ok = qos_parse(s.data(), s.size(), p.rules, kQosRuleCount);
  return p;
}

void expect_rule(const QosRule& r, int first, int last, int rate) {
  EXPECT_EQ(r.firstHost, first);
  EXPECT_EQ(r.lastHost, last);
  EXPECT_EQ(r.rate, rate);
}

TEST(QosParse, RulesFillEntriesInOrder) {
  Parsed p = parse("100,120,64;121,130,32;");
  ASSERT_EQ(p.ok, 1);
  expect_rule(p.rules[0], 100, 120, 64);
  expect_rule(p.rules[1], 121, 130, 32);
  expect_rule(p.rules[2], 0, 0, 0);
}

TEST(QosParse, IncompleteRulesKeepTheirZeros) {
  Parsed p = parse("100,120,64");  // no closing ';'
  ASSERT_EQ(p.ok, 1);
  expect_rule(p.rules[0], 100, 120, 0);
  p = parse("100,120;5;");
  ASSERT_EQ(p.ok, 1);
  expect_rule(p.rules[0], 100, 0, 120);
  expect_rule(p.rules[1], 0, 0, 5);
  p = parse(";100,120,64;");  // an empty rule still takes queue 0
  expect_rule(p.rules[0], 0, 0, 0);
  expect_rule(p.rules[1], 100, 120, 64);
}

TEST(QosParse, TokensReadAsAtoiDoes) {
  Parsed p = parse(" 100 , +120x,-5 ;abc,7,1;");
  ASSERT_EQ(p.ok, 1);
  expect_rule(p.rules[0], 100, 120, -5);
  expect_rule(p.rules[1], 0, 7, 1);
}

TEST(QosParse, FormatErrors) {
  EXPECT_EQ(parse("1,2,3,4;").ok, 0);
  std::string eleven;
  for (int i = 0; i < 11; ++i) eleven += "1,2,3;";
  EXPECT_EQ(parse(eleven).ok, 0);
  EXPECT_EQ(parse(eleven.substr(0, eleven.size() - 6)).ok, 1);
  EXPECT_EQ(parse(std::string(64, '1') + ",2,3;").ok, 0);
  EXPECT_EQ(parse("1,2,2147483648;").ok, 0);
  EXPECT_EQ(parse("1,2,2147483647;").ok, 1);
}

TEST(QosParse, TenthRuleIsTheLastWritten) {
  std::string ten;
  for (int i = 1; i <= 10; ++i) ten += std::to_string(i) + ",2,3;";
  Parsed p = parse(ten + "junk after the last rule");
  ASSERT_EQ(p.ok, 1);
  expect_rule(p.rules[9], 10, 2, 3);
}

}  // namespace
