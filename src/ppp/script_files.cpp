#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <fcntl.h>
#include <unistd.h>

#include "ppp/ppp.h"
#include "sys/eintr.h"
#include "sys/small_file.h"

namespace {

constexpr size_t kLineSize = 256;
constexpr size_t kLogEntrySize = 32 + kLineSize;
constexpr mode_t kLogMode = 0666;
constexpr mode_t kChatMode = 0666;
constexpr mode_t kOptionsMode = 0600;  // they hold the password; pppd runs as root

// A dial file is written whole beside its place and renamed into it, so
// pppd never reads half of one.
struct DialFile {
  const char* path;
  const char* temp_path;
  mode_t mode;
};

const DialFile kOptions = {kOptionsPath, kOptionsTempPath, kOptionsMode};
const DialFile kOptionsEx = {kOptionsExPath, kOptionsExTempPath, kOptionsMode};
const DialFile kChat = {kChatPath, kChatTempPath, kChatMode};

// The first failure of this generation's writes: the file and its errno.
const char* failed_path = nullptr;
int failed_errno = 0;

void note_failure(const DialFile& file, int err) {
  if (failed_path != nullptr) return;
  failed_path = file.path;
  failed_errno = err;
}

// The first line makes the temporary file afresh (whatever stood at its
// name, a link included, is removed, and the open follows no link); every
// later line is appended to that same file.
int open_temp(const DialFile& file, int truncate) {
  if (truncate && unlink(file.temp_path) != 0 && errno != ENOENT) return -1;
  int flags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | (truncate ? O_CREAT | O_EXCL : O_APPEND);
  return retry_on_eintr([&] { return open(file.temp_path, flags, file.mode); });
}

void write_line(const DialFile& file, int truncate, const char* line, size_t len) {
  int fd = open_temp(file, truncate);
  if (fd < 0) {
    note_failure(file, errno);
    return;
  }
  int err = write_all(fd, line, len);
  if (close(fd) != 0 && err == 0) err = errno;
  if (err != 0) note_failure(file, err);
}

// The log copy goes out in one write, so that it never interleaves with
// what other programs append. It is a copy: its errors fail nothing.
void write_log_entry(const char* prefix, const char* line, size_t len) {
  int log = retry_on_eintr([] { return open(kMessagesPath, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, kLogMode); });
  if (log < 0) return;
  char entry[kLogEntrySize];
  int n = snprintf(entry, sizeof entry, "%s%.*s", prefix, static_cast<int>(len), line);
  if (n > 0) write_all(log, entry, static_cast<size_t>(n));
  close(log);
}

// Formats once into line, with the newline; 0 when it would not fit.
LINK3G_PRINTF(2, 0) size_t format_line(char* line, const char* fmt, va_list ap) {
  int n = vsnprintf(line, kLineSize - 1, fmt, ap);
  if (n < 0 || static_cast<size_t>(n) >= kLineSize - 1) return 0;
  line[n] = '\n';
  line[n + 1] = '\0';
  return static_cast<size_t>(n) + 1;
}

void remove_temps() {
  unlink(kOptions.temp_path);
  unlink(kOptionsEx.temp_path);
  unlink(kChat.temp_path);
}

bool put_in_place(const DialFile& file) {
  if (rename(file.temp_path, file.path) == 0) return true;
  note_failure(file, errno);
  return false;
}

}  // namespace

void begin_dial_files() {
  failed_path = nullptr;
  failed_errno = 0;
}

int finish_dial_files() {
  // options.ppp3g last: once it is there, the supervisor starts pppd.
  if (failed_path == nullptr && put_in_place(kOptionsEx) && put_in_place(kChat) &&
      put_in_place(kOptions)) {
    return 1;
  }
  remove_temps();
  printf("gen at script: %s cannot be written (%s).\n", failed_path, strerror(failed_errno));
  return 0;
}

int do_ppp_opfile(int ex, int truncate, const char* fmt, ...) {
  char line[kLineSize];
  va_list ap;
  va_start(ap, fmt);
  size_t len = format_line(line, fmt, ap);
  va_end(ap);
  if (len == 0) return 0;
  write_line(kOptions, truncate, line, len);
  if (ex) write_line(kOptionsEx, truncate, line, len);
  write_log_entry("ppp options file: ", line, len);
  return 1;
}

int do_ppp_chatfile(int truncate, const char* fmt, ...) {
  char line[kLineSize];
  va_list ap;
  va_start(ap, fmt);
  size_t len = format_line(line, fmt, ap);
  va_end(ap);
  if (len == 0) return 0;
  write_line(kChat, truncate, line, len);
  write_log_entry("chat file: ", line, len);
  return 1;
}
