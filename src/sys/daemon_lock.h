// One 3g daemon at a time: an exclusive record lock on a pid file. The
// kernel drops the lock when the process ends, however it ends (SIGKILL
// too), and a child never holds it: record locks are not inherited over
// fork, and the descriptor is closed on exec.
#pragma once

enum DaemonLockResult {
  kLockTaken,        // ours for the life of the process; the file holds our pid
  kLockHeld,         // another process holds it
  kLockUnavailable,  // the file cannot be created or locked
};

// Takes the lock on path, a regular file of ours of mode 0600: whatever
// else stands there (a link, another user's file) is removed and the file
// made anew, and a lock held by another user's process does not count. On
// kLockHeld, *holder receives the holder's pid
// (0 when it cannot be seen); on kLockUnavailable, *error the errno. The
// descriptor stays open for the rest of the process: closing any
// descriptor of the file would drop the lock.
DaemonLockResult take_daemon_lock(const char* path, int* holder, int* error);

// 1 when some process holds the lock on path, with its pid in *holder (0
// when it cannot be seen); 0 when none does or path cannot be opened. Only
// a regular file of root's or the caller's counts, and only a lock its
// owner's process holds. Never
// called by the holder itself (a process does not see its own lock).
int daemon_lock_holder(const char* path, int* holder);
