// The first line of /proc/<pid>/stat as the process scan reads it: fgets
// into a 1024-byte buffer, handed over with the buffer's size. The bytes
// after the line's terminator are filled with ") (" so that a parser that
// looked past the terminator would find a different closing parenthesis.
#include <cctype>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "sys/proc_stat.h"

namespace {

constexpr size_t kLineBuffer = 1024;

struct Expected {
  bool closed;   // the line has a closing ')': the last one, followed by a blank
  size_t close;  // its index
  int ok;
  bool pid_known;
  int32_t pid;
  std::string name;
};

// "<pid> (<name>) ..." read from the line as a C string: the last ')' must
// be followed by a blank; the pid is "%d" (blanks, a sign, digits), then
// blanks and '('; the name is what lies between '(' and that ')', cut to 15.
Expected expected_of(const std::string& line) {
  Expected e = {false, 0, 0, false, 0, ""};
  size_t close = line.rfind(')');
  if (close == std::string::npos || close + 1 >= line.size() || line[close + 1] != ' ') return e;
  e.closed = true;
  e.close = close;
  size_t i = 0;
  while (i < close && isspace(static_cast<unsigned char>(line[i]))) ++i;
  bool negative = false;
  if (i < close && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  size_t digits = 0;
  int64_t value = 0;
  while (i < close && isdigit(static_cast<unsigned char>(line[i]))) {
    if (digits < 10) value = value * 10 + (line[i] - '0');
    ++digits;
    ++i;
  }
  if (digits == 0) return e;
  while (i < close && isspace(static_cast<unsigned char>(line[i]))) ++i;
  if (i >= close || line[i] != '(') return e;
  e.ok = 1;
  // Pids are small: the value is compared only when it fits 32 bits.
  if (digits < 10) {
    e.pid_known = true;
    e.pid = static_cast<int32_t>(negative ? -value : value);
  }
  e.name = line.substr(i + 1, close - i - 1).substr(0, 15);
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;  // fgets reads nothing: the scan skips the entry
  std::string first;
  fuzz::for_each_fgets_piece(data, size, kLineBuffer, [&](const std::string& piece) {
    first = piece;
    return false;
  });

  fuzz::Block buf(kLineBuffer);
  memcpy(buf.get(), first.data(), first.size());
  buf.get()[first.size()] = '\0';
  for (size_t i = first.size() + 1; i < kLineBuffer; ++i) buf.get()[i] = ") ("[i % 3];
  const std::string before(buf.get(), kLineBuffer);
  const std::string line(before.c_str());  // what the parser may look at

  auto* rec = static_cast<ProcStatRecord*>(malloc(sizeof(ProcStatRecord)));
  memset(rec, 0xa5, sizeof *rec);
  int got = parse_proc_stat_line(buf.get(), kLineBuffer, rec);

  Expected e = expected_of(line);
  FUZZ_CHECK(got == e.ok, "parse_proc_stat_line gives %d, expected %d for [%s]", got, e.ok,
             fuzz::shown(line).c_str());

  // The line is ended at its closing ')' (when it has one) and nothing else
  // in the buffer changes.
  for (size_t i = 0; i < kLineBuffer; ++i) {
    char want = e.closed && i == e.close ? '\0' : before[i];
    FUZZ_CHECK(buf.get()[i] == want, "byte %zu of the buffer is 0x%02x, expected 0x%02x", i,
               static_cast<unsigned char>(buf.get()[i]), static_cast<unsigned char>(want));
  }

  if (got == 1) {
    FUZZ_CHECK(memchr(rec->ProcName, '\0', sizeof rec->ProcName) != nullptr,
               "ProcName is not terminated");
    std::string name(rec->ProcName);
    FUZZ_CHECK(name == e.name, "name [%s], expected [%s]", fuzz::shown(name).c_str(),
               fuzz::shown(e.name).c_str());
    if (e.pid_known) FUZZ_CHECK(rec->pid == e.pid, "pid %d, expected %d", rec->pid, e.pid);
  }
  free(rec);
  return 0;
}
