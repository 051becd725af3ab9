// Values written into pppd options files and comgt scripts.
#include <gtest/gtest.h>

#include <string>

#include "ppp/value_quote.h"

namespace {

std::string word(const char* v) {
  char out[kQuotedValueSize];
  EXPECT_EQ(ppp_option_word(v, out, sizeof out), 1);
  return out;
}

std::string escaped(const char* v) {
  char out[kQuotedValueSize];
  EXPECT_EQ(comgt_escape(v, out, sizeof out), 1);
  return out;
}

TEST(PppOptionWord, PlainValuesStayAsTheyAre) {
  EXPECT_EQ(word("internet"), "internet");
  EXPECT_EQ(word("user@isp.net"), "user@isp.net");
}

TEST(PppOptionWord, AwkwardValuesBecomeOneQuotedWord) {
  EXPECT_EQ(word(""), "\"\"");
  EXPECT_EQ(word("a b"), "\"a b\"");
  EXPECT_EQ(word("abc#def"), "\"abc#def\"");
  EXPECT_EQ(word("it's"), "\"it's\"");
  EXPECT_EQ(word("a\"b\\c"), "\"a\\\"b\\\\c\"");
}

TEST(ComgtEscape, QuotesBackslashesAndCaretsAreEscaped) {
  EXPECT_EQ(escaped("internet"), "internet");
  EXPECT_EQ(escaped("*99#"), "*99#");
  EXPECT_EQ(escaped("in\"ter\\net^x"), "in\\\"ter\\\\net\\^x");
}

TEST(ValueQuote, TooSmallABufferIsRefused) {
  char out[4];
  EXPECT_EQ(ppp_option_word("a b", out, sizeof out), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(comgt_escape("^^", out, sizeof out), 0);
}

TEST(ValueQuote, ControlCharactersAreFound) {
  EXPECT_EQ(has_control_char("pass\nconnect x"), 1);
  EXPECT_EQ(has_control_char("a\tb"), 1);
  EXPECT_EQ(has_control_char("a\x7f"), 1);
  EXPECT_EQ(has_control_char("plain text ~!@#"), 0);
}

}  // namespace
