#include "readers.h"

#include <cstdio>
#include <cstring>

#include "fuzz_check.h"
#include "ppp/value_quote.h"
#include "sys/shell_quote.h"

namespace fuzz {

// --- The quoting properties ---------------------------------------------------

namespace {

using QuoteFn = int (*)(const char*, char*, size_t);

// Runs quote on value with output blocks of several sizes and returns what it
// writes with room enough. A result either fits whole (1) or is refused with
// an empty output (0); nothing is written outside the size given.
std::string quoted_checked(QuoteFn quote, const char* name, const std::string& value,
                           size_t room, unsigned size_seed) {
  const char* v = value.c_str();
  Block full(room);
  memset(full.get(), 0x5a, room);
  int ok = quote(v, full.get(), room);
  FUZZ_CHECK(ok == 1, "%s refused a %zu-byte value with its documented room of %zu: [%s]", name,
             value.size(), room, shown(value).c_str());
  const char* end = static_cast<const char*>(memchr(full.get(), 0, room));
  FUZZ_CHECK(end != nullptr, "%s left its output without a NUL", name);
  std::string out(full.get(), static_cast<size_t>(end - full.get()));

  {
    Block exact(out.size() + 1);
    FUZZ_CHECK(quote(v, exact.get(), exact.size()) == 1 && out == exact.get(),
               "%s fails or differs with exactly %zu bytes of room", name, exact.size());
  }
  if (!out.empty()) {
    Block tight(out.size());
    memset(tight.get(), 0x5a, tight.size());
    FUZZ_CHECK(quote(v, tight.get(), tight.size()) == 0 && tight.get()[0] == '\0',
               "%s with one byte too few must refuse and leave the output empty", name);
  }
  {
    Block none(1);
    none.get()[0] = 0x5a;
    FUZZ_CHECK(quote(v, none.get(), 0) == 0 && none.get()[0] == 0x5a,
               "%s with size 0 must refuse and write nothing", name);
  }
  {
    size_t size = size_seed % (out.size() + 2);
    Block some(size);
    memset(some.get(), 0x5a, size == 0 ? 1 : size);  // a block of 0 bytes has 1
    int r = quote(v, some.get(), size);
    if (size >= out.size() + 1) {
      FUZZ_CHECK(r == 1 && out == some.get(), "%s fails with %zu bytes of room", name, size);
    } else {
      FUZZ_CHECK(r == 0, "%s accepted %zu bytes of room for %zu characters", name, size,
                 out.size());
      FUZZ_CHECK(some.get()[0] == (size > 0 ? '\0' : 0x5a),
                 "%s refused %zu bytes of room but left its first byte 0x%02x", name, size,
                 static_cast<unsigned char>(some.get()[0]));
    }
  }
  return out;
}

std::string words_shown(const std::vector<std::string>& words) {
  std::string s;
  for (const std::string& w : words) s += "[" + shown(w) + "]";
  return s;
}

void check_sh(const std::string& value, const std::string& q) {
  // As an argument of its own and glued to the text after it, the way the
  // QoS rules put a host number right after the quoted LAN prefix.
  std::string line = "cmd " + q + " " + q + "7 next";
  std::vector<std::string> words;
  std::string why;
  FUZZ_CHECK(sh_words(line, &words, &why), "sh cannot take the quoted value literally (%s): %s",
             why.c_str(), shown(line).c_str());
  std::vector<std::string> expected = {"cmd"};
  if (!value.empty()) expected.push_back(value);
  expected.push_back(value + "7");
  expected.push_back("next");
  FUZZ_CHECK(words == expected, "sh reads %s as %s, not %s", shown(line).c_str(),
             words_shown(words).c_str(), words_shown(expected).c_str());
}

void check_pppd(const std::string& value, const std::string& q) {
  std::string file = "user " + q + "\nmodem\n";
  std::vector<std::string> words = pppd_words(file);
  std::vector<std::string> expected = {"user", value, "modem"};
  FUZZ_CHECK(words == expected, "pppd reads %s as %s, not %s", shown(file).c_str(),
             words_shown(words).c_str(), words_shown(expected).c_str());
}

void check_comgt(const std::string& value, const std::string& q) {
  struct Line {
    const char* before;
    const char* after;
    const char* sent_before;
    const char* sent_after;
  };
  // The two chat-script lines that carry a value: the APN and the number.
  const Line lines[] = {
      {"AT+CGDCONT=1,\\\"IP\\\",\\\"", "\\\",,0,0", "AT+CGDCONT=1,\"IP\",\"", "\",,0,0"},
      {"ATDT", "", "ATDT", ""},
  };
  for (const Line& l : lines) {
    std::string line = std::string("send \"") + l.before + q + l.after + "^m\"\n";
    std::string sent, why;
    FUZZ_CHECK(comgt_send_string(line, &sent, &why), "comgt stops at %s (%s)", shown(line).c_str(),
               why.c_str());
    std::string expected = std::string(l.sent_before) + value + l.sent_after + "\r";
    FUZZ_CHECK(sent == expected, "comgt sends [%s] for %s, not [%s]", shown(sent).c_str(),
               shown(line).c_str(), shown(expected).c_str());
  }
}

}  // namespace

void check_value_quoting(const std::string& value, unsigned size_seed) {
  FUZZ_CHECK(value.size() <= 63 && value.find('\0') == std::string::npos, "harness: bad value");
  const char* v = value.c_str();

  bool control = false;
  for (char c : value) {
    unsigned char u = static_cast<unsigned char>(c);
    control = control || u < 0x20 || u == 0x7f;
  }
  FUZZ_CHECK(has_control_char(v) == (control ? 1 : 0), "has_control_char gives %d for [%s]",
             has_control_char(v), shown(value).c_str());

  // The shell quoting refuses nothing: command lines may carry any value.
  std::string sh = quoted_checked(shell_quote, "shell_quote", value, kShellQuotedSize, size_seed);
  check_sh(value, sh);

  std::string word = quoted_checked(ppp_option_word, "ppp_option_word", value, kQuotedValueSize,
                                    size_seed * 3 + 1);
  std::string esc = quoted_checked(comgt_escape, "comgt_escape", value, kQuotedValueSize,
                                   size_seed * 5 + 2);
  // A value with a control character never reaches the files (the script
  // writer refuses it); every other value must come back unchanged.
  if (control) return;
  check_pppd(value, word);
  check_comgt(value, esc);
}

}  // namespace fuzz
