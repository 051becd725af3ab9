// The daemon's status file as `link3g --cmd status` reads it: at most 1023
// bytes, handed over in an exact-size heap block. A text it accepts must be
// one the daemon could have written: every field well-formed, written again
// it reads back the same, and a shell that sources it assigns each key
// exactly the value read. The report made of it holds no control character.
// On a refusal the record is not touched. shell_unquote, on the first line,
// agrees with the sh reader whenever it accepts.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "readers.h"
#include "status/status_text.h"
#include "sys/shell_quote.h"

namespace {

std::string format(const LinkStatus& s) {
  char text[kStatusTextSize];
  size_t len = format_status_text(s, text, sizeof text);
  FUZZ_CHECK(len > 0, "a record read back does not fit the status text");
  return std::string(text, len);
}

void check_fields(const LinkStatus& s) {
  FUZZ_CHECK(s.state >= kStateStarting && s.state <= kStateDnsFailing, "state %d", s.state);
  FUZZ_CHECK(s.pid > 0, "pid %d", s.pid);
  FUZZ_CHECK(s.vendor >= 0 && s.vendor <= 0xffff && s.product >= 0 && s.product <= 0xffff,
             "ids %d:%d", s.vendor, s.product);
  FUZZ_CHECK(s.family >= 0 && s.family <= 3, "family %d", s.family);
  FUZZ_CHECK(memchr(s.tty, '\0', sizeof s.tty) != nullptr, "tty not terminated");
  FUZZ_CHECK(memchr(s.address, '\0', sizeof s.address) != nullptr, "address not terminated");
  FUZZ_CHECK(s.mode == kModePpp || s.mode == kModeNetwork, "mode %d", s.mode);
  FUZZ_CHECK(memchr(s.interface, '\0', sizeof s.interface) != nullptr, "interface not terminated");
}

// Each line, as sh reads it, is one word: the key, '=', the value read.
void check_sh_reading(const std::string& text) {
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    std::string line = text.substr(at, nl - at);
    at = nl + 1;
    size_t eq = line.find('=');
    char value[kShellQuotedSize];
    FUZZ_CHECK(shell_unquote(line.data() + eq + 1, line.size() - eq - 1, value, sizeof value) == 1,
               "accepted line [%s] does not unquote", fuzz::shown(line).c_str());
    std::vector<std::string> words;
    std::string why;
    FUZZ_CHECK(fuzz::sh_words(line, &words, &why), "sh would not read [%s]: %s",
               fuzz::shown(line).c_str(), why.c_str());
    std::string want = line.substr(0, eq + 1) + value;
    FUZZ_CHECK(words.size() == 1 && words[0] == want, "sh reads [%s] otherwise than [%s]",
               fuzz::shown(line).c_str(), fuzz::shown(want).c_str());
  }
}

void check_report(const LinkStatus& s, const uint8_t* data, size_t size) {
  unsigned long now = size > 0 ? static_cast<unsigned long>(data[0]) * 4099u : 0;
  LinkBytes bytes = {1, ~0ULL, size};
  char out[512];
  size_t len = format_status_report(s, now, bytes, out, sizeof out);
  FUZZ_CHECK(len < sizeof out && out[len] == '\0', "report length %zu", len);
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    FUZZ_CHECK(c == '\n' || (c >= 0x20 && c < 0x7f), "report byte 0x%02x at %zu", c, i);
  }
}

// What shell_unquote takes, sh reads the same way: one word (none for an
// empty plain value).
void check_unquote(const std::string& first_line) {
  char out[kShellQuotedSize];
  if (shell_unquote(first_line.data(), first_line.size(), out, sizeof out) != 1) {
    FUZZ_CHECK(out[0] == '\0', "refusal leaves text behind");
    return;
  }
  std::vector<std::string> words;
  std::string why;
  FUZZ_CHECK(fuzz::sh_words(first_line, &words, &why), "sh would not read [%s]: %s",
             fuzz::shown(first_line).c_str(), why.c_str());
  std::vector<std::string> want;
  if (!first_line.empty()) want.push_back(out);
  FUZZ_CHECK(words == want, "[%s] unquoted to [%s], sh reads it otherwise",
             fuzz::shown(first_line).c_str(), fuzz::shown(std::string(out)).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= kStatusTextSize) return 0;  // the command takes no longer file
  const std::string text(reinterpret_cast<const char*>(data), size);
  check_unquote(text.substr(0, std::min(text.find('\n'), kShellQuotedSize - 1)));

  fuzz::Block buf(size);
  memcpy(buf.get(), data, size);
  LinkStatus status, untouched;
  memset(&status, 0xa5, sizeof status);
  untouched = status;
  if (parse_status_text(buf.get(), size, &status) != 1) {
    FUZZ_CHECK(memcmp(&status, &untouched, sizeof status) == 0, "refused text written into the record");
    return 0;
  }
  check_fields(status);
  std::string again = format(status);
  LinkStatus back;
  FUZZ_CHECK(parse_status_text(again.data(), again.size(), &back) == 1, "[%s] does not read back",
             fuzz::shown(again).c_str());
  FUZZ_CHECK(format(back) == again, "[%s] reads back otherwise", fuzz::shown(again).c_str());
  check_sh_reading(text);
  check_report(status, data, size);
  return 0;
}
