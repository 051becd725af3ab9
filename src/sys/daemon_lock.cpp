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
// Rounds of open and lock: a foreign file removed, or a name that moved on
// while another start made its file, costs one.
constexpr int kLockRounds = 8;
constexpr size_t kAsidePathSize = 64;
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
// hard link planted there could name any file of ours). *st receives what
// it is, for the judgement of a foreign one.
bool own_file(int fd, struct stat* st) {
  if (fstat(fd, st) != 0) {
    memset(st, 0, sizeof *st);
    return false;
  }
  if (!S_ISREG(st->st_mode) || st->st_uid != geteuid() || st->st_nlink != 1) return false;
  return (st->st_mode & 07777) == kFileMode || fchmod(fd, kFileMode) == 0;
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether path still names the file st describes (not followed, if a link).
bool still_named(const char* path, const struct stat& st) {
  struct stat now;
  return lstat(path, &now) == 0 && same_file(now, st);
}

// Removes what stands at path when it is still the file judged foreign.
// Two starts may judge the same file at once, and the first to remove it
// makes a new one there at once: so the name is first moved aside, which
// takes whatever it names now in one step, and only the judged file is
// removed. Another one found there goes back, unless its name has been
// taken again meanwhile.
void remove_if_still(const char* path, const struct stat& judged) {
  char aside[kAsidePathSize];
  int n = snprintf(aside, sizeof aside, "%s.%d", path, static_cast<int>(getpid()));
  if (n <= 0 || static_cast<size_t>(n) >= sizeof aside) return;
  if (rename(path, aside) != 0) return;  // gone already: the next round sees what is there
  if (!still_named(aside, judged)) link(aside, path);
  unlink(aside);
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

// The file at path, opened without following a link; -1 with errno when
// none can be had. A link found there is removed (errno EAGAIN: the next
// round makes the file anew).
int open_pid_file(const char* path) {
  int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (fd < 0 && errno == ELOOP) {
    struct stat link_st;
    if (lstat(path, &link_st) == 0) remove_if_still(path, link_st);
    errno = EAGAIN;
  }
  return fd;
}

}  // namespace

// Each round opens what the name leads to now and locks it. A foreign file
// is removed and the next round takes the new one; so is a file another
// start had opened when the name moved on: the lock is kept only on the
// file the name leads to once it is held.
DaemonLockResult take_daemon_lock(const char* path, int* holder, int* error) {
  *holder = 0;
  *error = 0;
  for (int round = 0; round < kLockRounds; ++round) {
    int fd = open_pid_file(path);
    if (fd < 0) {
      if (errno == EAGAIN) continue;
      *error = errno;
      return kLockUnavailable;
    }
    struct stat st;
    if (!own_file(fd, &st)) {
      close(fd);
      remove_if_still(path, st);
      continue;
    }
    DaemonLockResult result = lock_file(fd, holder);
    if (result == kLockTaken && still_named(path, st)) {
      write_pid(fd);  // a pid not written costs nothing: the lock holds
      return kLockTaken;  // fd stays open: closing it would drop the lock
    }
    int err = errno;
    close(fd);
    if (result == kLockUnavailable) {
      *error = err;
      return kLockUnavailable;
    }
    if (result == kLockTaken) continue;  // the name moved on between the open and the lock
    // Only a daemon of our user counts. Another user's lock is on a file
    // they opened before it was ours alone: a new file leaves it behind.
    if (*holder == 0 || runs_as(*holder, geteuid())) return kLockHeld;
    remove_if_still(path, st);
    *holder = 0;
  }
  *error = EAGAIN;
  return kLockUnavailable;
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
