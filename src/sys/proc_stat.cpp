#include "sys/proc_stat.h"

#include <ctype.h>
#include <stdlib.h>
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

}  // namespace

int parse_proc_stat_line(char* line, size_t len, ProcStatRecord* rec) {
  len = strnlen(line, len);
  long close = closing_paren(line, len);
  if (close < 0) return 0;
  line[close] = '\0';
  memset(rec, 0, sizeof *rec);
  char* end = nullptr;
  long pid = strtol(line, &end, 10);
  if (end == line) return 0;
  while (isspace(static_cast<unsigned char>(*end))) ++end;
  if (*end != '(') return 0;
  rec->pid = static_cast<int32_t>(pid);
  strncpy(rec->ProcName, end + 1, sizeof rec->ProcName - 1);
  return 1;
}
