#include "status/daemon_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace {

constexpr mode_t kFileMode = 0644;
constexpr int kLockAttempts = 3;  // the holder may end between two looks
constexpr size_t kPidTextSize = 16;

struct flock whole_file(short type) {
  struct flock fl;
  memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;  // start 0, length 0: the whole file
  return fl;
}

// 1 when another process holds a lock on fd, with its pid.
int holder_of(int fd, int* holder) {
  struct flock fl = whole_file(F_WRLCK);
  if (fcntl(fd, F_GETLK, &fl) != 0 || fl.l_type == F_UNLCK) return 0;
  *holder = static_cast<int>(fl.l_pid);
  return 1;
}

// The pid is for people and scripts; the lock, not the text, decides.
bool write_pid(int fd) {
  char text[kPidTextSize];
  int n = snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
  return n > 0 && ftruncate(fd, 0) == 0 && pwrite(fd, text, static_cast<size_t>(n), 0) == n;
}

}  // namespace

DaemonLockResult take_daemon_lock(const char* path, int* holder, int* error) {
  *holder = 0;
  *error = 0;
  int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
  if (fd < 0) {
    *error = errno;
    return kLockUnavailable;
  }
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    struct flock fl = whole_file(F_WRLCK);
    if (fcntl(fd, F_SETLK, &fl) == 0) {
      write_pid(fd);  // a pid not written costs nothing: the lock holds
      return kLockTaken;  // fd stays open: closing it would drop the lock
    }
    if (errno != EAGAIN && errno != EACCES) {
      *error = errno;
      close(fd);
      return kLockUnavailable;
    }
    if (holder_of(fd, holder)) break;
  }
  close(fd);
  return kLockHeld;
}

int daemon_lock_holder(const char* path, int* holder) {
  *holder = 0;
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  int held = holder_of(fd, holder);
  close(fd);
  return held;
}
