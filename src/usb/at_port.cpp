#include "usb/at_port.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "sys/eintr.h"
#include "sys/pause.h"
#include "sys/small_file.h"

namespace {

constexpr char kLockDir[] = "/var/lock/LCK..";
constexpr mode_t kLockMode = 0644;
constexpr size_t kLockTextSize = 16;  // "%10d\n", the HDB UUCP format
constexpr size_t kCommandSize = 32;   // the longest command and its carriage return
constexpr int kEmptyReadsMost = 4;    // a port that keeps saying "readable" with nothing to read

const char* base_name(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

// The pid a lock file names (HDB: ASCII digits, blanks before them); 0
// when it names none.
int lock_holder(const char* lock) {
  char text[kLockTextSize];
  ssize_t n = read_file_once(lock, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, text, sizeof text);
  if (n <= 0) return 0;
  int pid = 0;
  for (const char* p = text; *p != '\0' && *p != '\n'; ++p) {
    if (*p == ' ') continue;
    if (*p < '0' || *p > '9' || pid > 99999999) return 0;
    pid = pid * 10 + (*p - '0');
  }
  return pid;
}

bool alive(int pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

// Creates our lock file; -1 when a live process holds the port. A lock
// that cannot be made at all (no /var/lock) takes nothing: then no other
// program keeps one either.
int take_lock(const char* tty, char (&lock)[kAtLockPathSize]) {
  lock[0] = '\0';
  char path[kAtLockPathSize];
  int n = snprintf(path, sizeof path, "%s%s", kLockDir, base_name(tty));
  if (n <= 0 || static_cast<size_t>(n) >= sizeof path) return 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kLockMode);
    if (fd >= 0) {
      char text[kLockTextSize];
      int len = snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
      write_all(fd, text, static_cast<size_t>(len));
      close(fd);
      memcpy(lock, path, sizeof path);
      return 0;
    }
    if (errno != EEXIST) return 0;
    if (alive(lock_holder(path))) return -1;
    unlink(path);  // stale: its process has gone
  }
  return -1;
}

void drop_lock(char (&lock)[kAtLockPathSize]) {
  if (lock[0] != '\0') unlink(lock);
  lock[0] = '\0';
}

// Raw bytes, no echo, no translation, no modem control; reads that return
// what is there (the waits are the reader's).
void make_raw(struct termios* t) {
  t->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
  t->c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
  t->c_cflag |= CS8 | CLOCAL | CREAD;
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
}

// The n bytes just read after the first got: a NUL is never part of an
// answer, and the reply is read as a string.
size_t drop_nuls(char* reply, size_t got, size_t n) {
  size_t kept = got;
  for (size_t i = got; i < got + n; ++i) {
    if (reply[i] != '\0') reply[kept++] = reply[i];
  }
  return kept;
}

}  // namespace

AtOpenResult at_open(const char* tty, AtSession* s) {
  s->fd = -1;
  if (take_lock(tty, s->lock) < 0) return kAtInUse;
  // O_NOCTTY: never our controlling terminal; O_NONBLOCK: no wait for carrier.
  s->fd = retry_on_eintr([&] { return open(tty, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
  struct termios raw;
  if (s->fd < 0 || tcgetattr(s->fd, &s->saved) != 0) {
    at_close(s);
    return kAtUnusable;
  }
  raw = s->saved;
  make_raw(&raw);
  if (tcsetattr(s->fd, TCSANOW, &raw) != 0) {
    at_close(s);
    return kAtUnusable;
  }
  tcflush(s->fd, TCIOFLUSH);  // whatever an earlier user left unread
  return kAtOpened;
}

void at_close(AtSession* s) {
  if (s->fd >= 0) {
    tcsetattr(s->fd, TCSANOW, &s->saved);
    close(s->fd);
  }
  s->fd = -1;
  drop_lock(s->lock);
}

AtResult at_command(AtSession* s, const char* command, char* reply, size_t size, unsigned seconds) {
  reply[0] = '\0';
  char line[kCommandSize];
  int n = snprintf(line, sizeof line, "%s\r", command);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof line || write_all(s->fd, line, static_cast<size_t>(n)) != 0) {
    return kAtNoAnswer;
  }
  size_t got = 0;
  int empty = 0;
  ReadableWait wait;
  readable_wait_begin(&wait, s->fd, seconds);
  while (got + 1 < size && empty < kEmptyReadsMost && readable_wait_next(&wait) == 1) {
    ssize_t r = read_some(s->fd, reply + got, size - 1 - got);
    if (r == 0 || (r < 0 && errno != EAGAIN)) break;  // hung up
    if (r < 0) {
      ++empty;
      continue;
    }
    got = drop_nuls(reply, got, static_cast<size_t>(r));
    reply[got] = '\0';
    AtResult result = at_final_result(reply, got);
    if (result != kAtNoAnswer) return result;
  }
  return kAtNoAnswer;
}
