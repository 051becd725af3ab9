#include "sys/daemon_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Ours alone: a file that others may open is a lock that others may block
// (a read lock of theirs is enough to refuse our write lock).
constexpr mode_t kFileMode = 0600;
constexpr int kLockAttempts = 3;  // the holder may end between two looks
constexpr int kFreshFiles = 2;    // the file found, then one made anew
constexpr size_t kPidTextSize = 16;
constexpr size_t kProcPathSize = 32;

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

// Whether process pid runs as uid (the owner of its /proc folder).
bool runs_as(int pid, uid_t uid) {
  char proc[kProcPathSize];
  struct stat st;
  snprintf(proc, sizeof proc, "/proc/%d", pid);
  return stat(proc, &st) == 0 && st.st_uid == uid;
}

// A pid file planted by another user is no daemon's: the daemon's own is
// root's (as on the router) or the caller's.
bool trusted_owner(uid_t owner) { return owner == 0 || owner == geteuid(); }

// A pid file we may trust: a regular file of ours with no other name (a
// hard link planted there could name any file of ours).
bool own_file(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
    return false;
  }
  return (st.st_mode & 07777) == kFileMode || fchmod(fd, kFileMode) == 0;
}

// The pid file, opened without following a link; whatever else stands at
// its name (a link, another user's file) is removed and the file made anew.
// -1 with errno when it cannot be had.
int open_own(const char* path) {
  int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (fd >= 0 && own_file(fd)) return fd;
  if (fd < 0 && errno != ELOOP) return -1;
  if (fd >= 0) close(fd);
  if (unlink(path) != 0 && errno != ENOENT) return -1;
  return open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
}

// kLockTaken, kLockHeld (with the holder's pid when it can be seen), or
// kLockUnavailable with errno set.
DaemonLockResult lock_file(int fd, int* holder) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    struct flock fl = whole_file(F_WRLCK);
    if (fcntl(fd, F_SETLK, &fl) == 0) return kLockTaken;
    if (errno != EAGAIN && errno != EACCES) return kLockUnavailable;
    if (holder_of(fd, holder)) break;
  }
  return kLockHeld;
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
  for (int fresh = 0; fresh < kFreshFiles; ++fresh) {
    int fd = open_own(path);
    if (fd < 0) {
      *error = errno;
      return kLockUnavailable;
    }
    DaemonLockResult result = lock_file(fd, holder);
    if (result == kLockTaken) {
      write_pid(fd);  // a pid not written costs nothing: the lock holds
      return kLockTaken;  // fd stays open: closing it would drop the lock
    }
    if (result == kLockUnavailable) *error = errno;
    close(fd);
    // Only a daemon of our user counts. Another user's lock is on a file
    // they opened before it was ours alone: a new file leaves it behind.
    if (result == kLockUnavailable || *holder == 0 || runs_as(*holder, geteuid())) return result;
    if (unlink(path) != 0) return kLockHeld;
    *holder = 0;
  }
  return kLockHeld;
}

int daemon_lock_holder(const char* path, int* holder) {
  *holder = 0;
  int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  struct stat st;
  int held = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && trusted_owner(st.st_uid) &&
             holder_of(fd, holder);
  close(fd);
  // The daemon is the file's owner: a lock of anyone else's says nothing.
  if (held && !runs_as(*holder, st.st_uid)) held = 0;
  if (!held) *holder = 0;
  return held;
}
