#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <fcntl.h>
#include <unistd.h>

#include "ppp/ppp.h"
#include "ppp/ppp_paths.h"
#include "sys/write_all.h"

namespace {

constexpr size_t kLineSize = 256;
constexpr size_t kLogEntrySize = 32 + kLineSize;
constexpr mode_t kFileMode = 0666;

// "w+" or "a+" as open(2) flags; -1 when the file cannot be opened.
int open_target(const char* path, int truncate) {
  int flags = O_RDWR | O_CREAT | (truncate ? O_TRUNC : O_APPEND);
  int fd;
  do {
    fd = open(path, flags, kFileMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

void write_and_close(int fd, const char* text, size_t len) {
  if (fd < 0) return;
  write_all(fd, text, len);  // the dial files are written as far as they go
  close(fd);
}

// The log copy goes out in one write, so that it never interleaves with
// what other programs append.
void write_log_entry(int log, const char* prefix, const char* line, size_t len) {
  char entry[kLogEntrySize];
  int n = snprintf(entry, sizeof entry, "%s%.*s", prefix, static_cast<int>(len), line);
  if (n > 0) write_and_close(log, entry, static_cast<size_t>(n));
}

// Formats once into line, with the newline; 0 when it would not fit.
LINK3G_PRINTF(2, 0) size_t format_line(char* line, const char* fmt, va_list ap) {
  int n = vsnprintf(line, kLineSize - 1, fmt, ap);
  if (n < 0 || static_cast<size_t>(n) >= kLineSize - 1) return 0;
  line[n] = '\n';
  line[n + 1] = '\0';
  return static_cast<size_t>(n) + 1;
}

}  // namespace

int do_ppp_opfile(int ex, int truncate, const char* fmt, ...) {
  char line[kLineSize];
  va_list ap;
  va_start(ap, fmt);
  size_t len = format_line(line, fmt, ap);
  va_end(ap);
  if (len == 0) return 0;
  int options = open_target(kOptionsPath, truncate);
  int options_ex = ex ? open_target(kOptionsExPath, truncate) : -1;
  int log = open_target(kMessagesPath, 0);
  write_and_close(options, line, len);
  write_and_close(options_ex, line, len);
  if (log >= 0) write_log_entry(log, "ppp options file: ", line, len);
  return 1;
}

int do_ppp_chatfile(int truncate, const char* fmt, ...) {
  char line[kLineSize];
  va_list ap;
  va_start(ap, fmt);
  size_t len = format_line(line, fmt, ap);
  va_end(ap);
  if (len == 0) return 0;
  int chat = open_target(kChatPath, truncate);
  int log = open_target(kMessagesPath, 0);
  write_and_close(chat, line, len);
  if (log >= 0) write_log_entry(log, "chat file: ", line, len);
  return 1;
}
