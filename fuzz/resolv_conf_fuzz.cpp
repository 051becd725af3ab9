// /etc/resolv.conf as its readers take it: fgets pieces of at most 63
// characters, each judged by nameserver_of_piece with its strlen, and every
// field then judged by usable_nameserver, which decides what may reach the
// shell lines of the DNS relay's start script. Then the readers themselves
// (read_nameservers, and getDns and GetDns on top of it) on the same text:
// this program's open hands them the input in place of /etc/resolv.conf,
// so the host's file is never opened, and the reader cuts it in its pieces.
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "dns/dns.h"
#include "dnsfw/dnsfw.h"
#include "fake_fopen.h"
#include "fuzz_check.h"
#include "monitor/monitor.h"

namespace {

using Field = char[kNameserverFieldSize];

bool blank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

// "nameserver %s" on the piece (a C string): the first ten characters are
// the keyword, the value is the first word after it. A value too long for
// the field leaves it empty.
bool expected_field(const std::string& piece, std::string* value) {
  value->clear();
  if (piece.compare(0, 10, "nameserver") != 0) return false;
  size_t i = 10;
  while (i < piece.size() && blank(piece[i])) ++i;
  size_t start = i;
  while (i < piece.size() && !blank(piece[i])) ++i;
  if (i - start < kNameserverFieldSize) *value = piece.substr(start, i - start);
  return true;
}

// A dotted quad as inet_pton(AF_INET) takes it: four decimal numbers of at
// most 255 without leading zeros, separated by single dots, nothing else.
bool dotted_quad(const std::string& text) {
  int parts = 0;
  size_t i = 0;
  for (;;) {
    size_t start = i;
    int value = 0;
    while (i < text.size() && isdigit(static_cast<unsigned char>(text[i])) && i - start < 4) {
      value = value * 10 + (text[i++] - '0');
    }
    size_t digits = i - start;
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[start] == '0')) {
      return false;
    }
    ++parts;
    if (i == text.size()) return parts == 4;
    if (text[i] != '.' || parts == 4) return false;
    ++i;
  }
}

void check_usable(const std::string& text) {
  fuzz::Block t(text.size() + 1);
  fuzz::fill_terminated(&t, text);
  int got = usable_nameserver(t.get());
  std::string c_text(t.get());
  int want = dotted_quad(c_text) ? 1 : 0;
  FUZZ_CHECK(got == want, "usable_nameserver([%s]) gives %d, expected %d",
             fuzz::shown(c_text).c_str(), got, want);
  // What is usable goes into shell lines unquoted: digits and dots only.
  if (got == 1) {
    FUZZ_CHECK(c_text.find_first_not_of("0123456789.") == std::string::npos && c_text.size() >= 7 &&
                   c_text.size() <= 15,
               "usable server text [%s] holds more than a dotted quad",
               fuzz::shown(c_text).c_str());
  }
}

std::string field_text(const char* field) {
  return std::string(field, strnlen(field, kNameserverFieldSize));
}

// The field the readers must hand back for nameserver line n (from 0).
std::string nth(const std::vector<std::string>& servers, size_t n) {
  return n < servers.size() ? servers[n] : std::string();
}

void check_zero_filled(const char* field, const char* what) {
  size_t len = strnlen(field, kNameserverFieldSize);
  FUZZ_CHECK(len < kNameserverFieldSize, "%s not terminated", what);
  for (size_t i = len; i < kNameserverFieldSize; ++i) {
    FUZZ_CHECK(field[i] == '\0', "%s byte %zu is 0x%02x after the value", what, i,
               static_cast<unsigned char>(field[i]));
  }
}

// read_nameservers, getDns and GetDns on the file text (or on no file when
// text is null), against the fields found piece by piece.
void check_readers(const std::string* text, const std::vector<std::string>& servers, size_t pick) {
  fuzz::serve_file(kResolvConfPath, text);
  int lines = text == nullptr ? -1 : static_cast<int>(servers.size());

  const int first = static_cast<int>(pick % 4), count = static_cast<int>(1 + pick % 3);
  fuzz::Block block(kNameserverFieldSize * static_cast<size_t>(count));
  memset(block.get(), 0x5a, block.size());
  auto* fields = reinterpret_cast<Field*>(block.get());
  int got = read_nameservers(first, fields, count);
  FUZZ_CHECK(got == lines, "read_nameservers(%d, %d) gives %d, expected %d", first, count, got,
             lines);
  for (int j = 0; j < count; ++j) {
    check_zero_filled(fields[j], "read_nameservers field");
    std::string want = text == nullptr ? "" : nth(servers, static_cast<size_t>(first + j));
    FUZZ_CHECK(field_text(fields[j]) == want, "read_nameservers field %d is [%s], expected [%s]",
               first + j, fuzz::shown(field_text(fields[j])).c_str(), fuzz::shown(want).c_str());
  }

  // getDns(n): the n-th server (from 1) into the probe's 32-byte buffer.
  for (int n = 1; n <= 3; ++n) {
    fuzz::Block dest(32);
    memset(dest.get(), 0x5a, dest.size());
    int r = getDns(n, dest.get());
    FUZZ_CHECK(r == (lines < 0 ? 0 : lines + 1), "getDns(%d) gives %d with %d lines", n, r, lines);
    std::string want = text == nullptr ? "" : nth(servers, static_cast<size_t>(n - 1));
    check_zero_filled(dest.get(), "getDns field");
    FUZZ_CHECK(field_text(dest.get()) == want, "getDns(%d) gives [%s], expected [%s]", n,
               fuzz::shown(field_text(dest.get())).c_str(), fuzz::shown(want).c_str());
  }

  // GetDns: the first two into two 24-byte fields.
  fuzz::Block one(kNameserverFieldSize), two(kNameserverFieldSize);
  memset(one.get(), 0x5a, kNameserverFieldSize);
  memset(two.get(), 0x5a, kNameserverFieldSize);
  int r = GetDns(one.get(), two.get());
  FUZZ_CHECK(r == (lines < 0 ? 0 : lines), "GetDns gives %d with %d lines", r, lines);
  std::string want1 = text == nullptr ? "" : nth(servers, 0);
  std::string want2 = text == nullptr ? "" : nth(servers, 1);
  FUZZ_CHECK(field_text(one.get()) == want1 && field_text(two.get()) == want2,
             "GetDns gives [%s] [%s], expected [%s] [%s]",
             fuzz::shown(field_text(one.get())).c_str(), fuzz::shown(field_text(two.get())).c_str(),
             fuzz::shown(want1).c_str(), fuzz::shown(want2).c_str());
  fuzz::serve_file(nullptr, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> servers;  // the field of every nameserver piece, in order
  fuzz::for_each_fgets_piece(data, size, kResolvPieceSize, [&](const std::string& raw) {
    FUZZ_CHECK(raw.size() <= kResolvPieceSize - 1, "harness: piece of %zu", raw.size());
    fuzz::Block piece(raw.size() + 1);
    fuzz::fill_terminated(&piece, raw);
    size_t len = strlen(piece.get());  // as both readers pass it
    std::string text = raw.substr(0, len);

    // The field is a block of its own, so a write past its 24 bytes is seen.
    fuzz::Block field_block(kNameserverFieldSize);
    memset(field_block.get(), 0x5a, kNameserverFieldSize);
    Field& field = *reinterpret_cast<Field*>(field_block.get());
    int got = nameserver_of_piece(piece.get(), len, field);

    std::string value;
    bool is_server = expected_field(text, &value);
    FUZZ_CHECK(got == (is_server ? 1 : 0), "nameserver_of_piece([%s]) gives %d",
               fuzz::shown(text).c_str(), got);
    // The field is always cleared whole: the readers copy all 24 bytes.
    size_t flen = strnlen(field, kNameserverFieldSize);
    FUZZ_CHECK(flen < kNameserverFieldSize, "field not terminated");
    for (size_t i = flen; i < kNameserverFieldSize; ++i) {
      FUZZ_CHECK(field[i] == '\0', "field byte %zu is 0x%02x after the value", i,
                 static_cast<unsigned char>(field[i]));
    }
    std::string f(field, flen);
    FUZZ_CHECK(f == value, "field [%s] for [%s], expected [%s]", fuzz::shown(f).c_str(),
               fuzz::shown(text).c_str(), fuzz::shown(value).c_str());
    if (got == 1) servers.push_back(f);
    check_usable(f);
    return true;
  });

  const std::string file(reinterpret_cast<const char*>(data), size);
  check_readers(&file, servers, size);
  check_readers(nullptr, servers, size);

  // The raw input as a server text, too (the probe's 32-byte buffer holds
  // whatever getDns copied; here any text up to its first NUL).
  std::string whole(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
  check_usable(whole);
  return 0;
}
