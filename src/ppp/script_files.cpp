// The dial files of one generation, each built whole in a buffer of its
// own and then written beside its place and renamed into it, so that pppd
// never reads half of one.
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
// Room for a whole dial file: the longest the writers make is the chat
// script, some 40 lines of at most 200 characters.
constexpr size_t kDialFileSize = 8192;
constexpr mode_t kLogMode = 0666;
constexpr mode_t kChatMode = 0666;
constexpr mode_t kOptionsMode = 0600;  // they hold the password; pppd runs as root

// A file's text as it is built. Apart from the file's names, and left
// zero, so that the buffers take no room in the binary (.bss, not .data).
struct DialText {
  char bytes[kDialFileSize];
  size_t len;
  bool overflow;  // a line did not fit: the file is not written
};
DialText options_text, options_ex_text, chat_text;

struct DialFile {
  const char* path;
  const char* temp_path;
  mode_t mode;
  DialText* body;
};

DialFile options_file = {kOptionsPath, kOptionsTempPath, kOptionsMode, &options_text};
DialFile options_ex_file = {kOptionsExPath, kOptionsExTempPath, kOptionsMode, &options_ex_text};
DialFile chat_file = {kChatPath, kChatTempPath, kChatMode, &chat_text};

void add_line(DialFile* file, int truncate, const char* line, size_t len) {
  if (truncate) {
    file->body->len = 0;
    file->body->overflow = false;
  }
  DialText* t = file->body;
  if (t->len + len > sizeof t->bytes) {
    t->overflow = true;
    return;
  }
  memcpy(t->bytes + t->len, line, len);
  t->len += len;
}

// In the order they are put in place: options.ppp3g last, since once it is
// there the supervisor starts pppd.
DialFile* const kInPlaceOrder[] = {&options_ex_file, &chat_file, &options_file};

bool failed(const DialFile& file, int err) {
  if (err == 0) return false;
  printf("gen at script: %s cannot be written (%s).\n", file.path, strerror(err));
  for (const DialFile* f : kInPlaceOrder) unlink(f->temp_path);
  return true;
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

}  // namespace

void begin_dial_files() {
  for (DialFile* file : kInPlaceOrder) {
    file->body->len = 0;
    file->body->overflow = false;
  }
}

// Every file is written whole beside its place before any is renamed into
// it: a write error leaves none of this generation's files, new or cut.
int finish_dial_files() {
  for (const DialFile* f : kInPlaceOrder) {
    const DialText& t = *f->body;
    int err = t.overflow ? EFBIG : write_file_temp(f->temp_path, t.bytes, t.len, f->mode);
    if (failed(*f, err)) return 0;
  }
  for (const DialFile* f : kInPlaceOrder) {
    if (failed(*f, rename(f->temp_path, f->path) == 0 ? 0 : errno)) return 0;
  }
  return 1;
}

int do_ppp_opfile(int ex, int truncate, const char* fmt, ...) {
  char line[kLineSize];
  va_list ap;
  va_start(ap, fmt);
  size_t len = format_line(line, fmt, ap);
  va_end(ap);
  if (len == 0) return 0;
  add_line(&options_file, truncate, line, len);
  if (ex) add_line(&options_ex_file, truncate, line, len);
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
  add_line(&chat_file, truncate, line, len);
  write_log_entry("chat file: ", line, len);
  return 1;
}
