// Parsers of /proc text: module list pieces, process stat lines and
// interface counters.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sys/if_addr.h"
#include "sys/module_list.h"
#include "sys/net_dev.h"
#include "sys/proc_stat.h"

namespace {

int matches(const std::string& piece, const char* name) {
  return module_piece_matches(piece.data(), piece.size(), name);
}

TEST(ModulePiece, WholeFirstWordMustMatch) {
  const std::string line = "usb_storage 39136 0 - Live 0xc0a2e000\n";
  EXPECT_EQ(matches(line, "usb_storage"), 1);
  EXPECT_EQ(matches(line, "usb-storage"), 0);
  EXPECT_EQ(matches(line, "usb"), 0);
  EXPECT_EQ(matches(line, "Live"), 0);
  EXPECT_EQ(matches("  cdc_acm 1 0", "cdc_acm"), 1);
  EXPECT_EQ(matches("\n", "cdc_acm"), 0);
}

TEST(ModulePiece, OverlongFirstWordNeverMatches) {
  std::string word(100, 'a');
  EXPECT_EQ(matches(word + " 1 0", std::string(63, 'a').c_str()), 0);
  EXPECT_EQ(matches(word + " 1 0", word.c_str()), 0);
  EXPECT_EQ(matches(std::string(63, 'b') + " 1", std::string(63, 'b').c_str()), 1);
}

ProcStatRecord parse(std::string line, int* ok) {
  ProcStatRecord rec;
  memset(&rec, 0x55, sizeof rec);
  *ok = parse_proc_stat_line(&line[0], line.size() + 1, &rec);
  return rec;
}

TEST(ProcStat, NameEndsAtTheLastParenthesisBeforeABlank) {
  int ok;
  ProcStatRecord r = parse("812 (pppd) S 1 812 812 0 -1", &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(r.pid, 812);
  EXPECT_STREQ(r.ProcName, "pppd");
  r = parse("9 (a) b) S 1 2 3", &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_STREQ(r.ProcName, "a) b");
}

TEST(ProcStat, LongNamesAreCutToFifteenCharacters) {
  int ok;
  ProcStatRecord r = parse("7 (abcdefghijklmnopqrstuvwxyz) R 0", &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_STREQ(r.ProcName, "abcdefghijklmno");
}

TEST(ProcStat, MalformedLinesAreSkipped) {
  int ok;
  parse("7 (name)S 1", &ok);
  EXPECT_EQ(ok, 0);
  parse("7 (name", &ok);
  EXPECT_EQ(ok, 0);
  parse("7 (a) b) S 1 (x)y", &ok);  // the last one closes nothing
  EXPECT_EQ(ok, 0);
  parse("(name) S 1", &ok);
  EXPECT_EQ(ok, 0);
}

// ppp0's byte counters from /proc/net/dev lines as 2.6 and later kernels
// write them.
TEST(NetDev, ByteCountersOfTheNamedInterface) {
  auto parse = [](const std::string& line, const char* ifname, LinkBytes* b) {
    return parse_net_dev_line(line.data(), line.size(), ifname, b);
  };
  LinkBytes b = {0, 1, 1};
  ASSERT_EQ(parse("  ppp0:  123456     789    0    0    0     0          0         0   654321     987    0    "
                  "0    0     0       0          0\n", "ppp0", &b), 1);
  EXPECT_EQ(b.known, 1);
  EXPECT_EQ(b.received, 123456u);
  EXPECT_EQ(b.sent, 654321u);
  // A wide first number joined to the colon; 64-bit counters.
  ASSERT_EQ(parse("  ppp0:18446744073709551615 1 0 0 0 0 0 0 4294967296 2 0 0 0 0 0 0", "ppp0", &b), 1);
  EXPECT_EQ(b.received, 18446744073709551615ull);
  EXPECT_EQ(b.sent, 4294967296ull);
  b = {0, 7, 7};
  const std::string refused[] = {
      "  ppp01: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16",   // another interface
      "   ppp: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16",
      "Inter-|   Receive                                                |  Transmit",
      " face |bytes    packets errs drop fifo frame compressed multicast|bytes",
      "  ppp0: 1 2 3 4 5 6 7 8",                           // no transmit side
      "  ppp0: 1 2 3 4 5 6 7 8 -9 10",
      "  ppp0: 1x 2 3 4 5 6 7 8 9",
      "  ppp0: 18446744073709551616 2 3 4 5 6 7 8 9",       // past 64 bits
      "  ppp0: 000000000000000000001 2 3 4 5 6 7 8 9",      // more digits than a counter has
      "ppp0",
  };
  for (const std::string& line : refused) {
    EXPECT_EQ(parse(line, "ppp0", &b), 0) << line;
  }
  EXPECT_EQ(b.known, 0);
  EXPECT_EQ(b.received, 7u);
}

}  // namespace

// The address comes back as text in network byte order on every processor.
TEST(InterfaceAddress, LoopbackReadsAsDottedQuad) {
  char addr[24] = "untouched";
  ASSERT_EQ(getIfIp("lo", addr), 0);
  EXPECT_STREQ(addr, "127.0.0.1");
  EXPECT_EQ(GetIf_stat("no-such-if0", addr), 0);
  EXPECT_STREQ(addr, "127.0.0.1");
}
