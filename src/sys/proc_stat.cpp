#include "sys/proc_stat.h"

#include <ctype.h>
#include <stdint.h>
#include <string.h>

namespace {

// The closing ')' of the name: the last one, and it must be followed by a
// blank. Returns its index or -1.
long closing_paren(const char* line, size_t len) {
  for (size_t i = len; i > 0; --i) {
    if (line[i - 1] != ')') continue;
    return (i < len && line[i] == ' ') ? static_cast<long>(i - 1) : -1;
  }
  return -1;
}

// The pid as "%d" reads it: blanks, a sign, decimal digits; a value past
// 32 bits is held at the limit (pids are far smaller). *end receives where
// the digits stop; false when there are none. Written here rather than
// taken from strtol, whose number scanner would be the biggest thing in a
// small static binary.
bool take_pid(const char* text, const char** end, int32_t* pid) {
  constexpr int64_t kLimit = INT32_MAX;
  const char* p = text;
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  const char* digits = p;
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value <= kLimit) value = value * 10 + (*p - '0');
  }
  if (p == digits) return false;
  if (value > kLimit) value = kLimit;
  *pid = static_cast<int32_t>(negative ? -value : value);
  *end = p;
  return true;
}

}  // namespace

int parse_proc_stat_line(char* line, size_t len, ProcStatRecord* rec) {
  len = strnlen(line, len);
  long close = closing_paren(line, len);
  if (close < 0) return 0;
  line[close] = '\0';
  memset(rec, 0, sizeof *rec);
  const char* end = nullptr;
  int32_t pid = 0;
  if (!take_pid(line, &end, &pid)) return 0;
  while (isspace(static_cast<unsigned char>(*end))) ++end;
  if (*end != '(') return 0;
  rec->pid = pid;
  strncpy(rec->ProcName, end + 1, sizeof rec->ProcName - 1);
  return 1;
}
