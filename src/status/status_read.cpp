#include "status/status_read.h"

#include "status/status_text.h"
#include "sys/daemon_lock.h"
#include "sys/small_file.h"

namespace {

// The file as the holder wrote it: 1 when it can be read and is its own.
int read_holders_file(int holder, LinkStatus* status) {
  char text[kStatusTextSize];
  ssize_t n = read_file_bounded(kStatusPath, text, sizeof text);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof text) return 0;  // none, or too long to be ours
  return parse_status_text(text, static_cast<size_t>(n), status) && status->pid == holder;
}

}  // namespace

DaemonStatus read_daemon_status(int* holder, LinkStatus* status) {
  // A file left by a daemon that has died says nothing: the lock decides.
  if (!daemon_lock_holder(kPidLockPath, holder)) return kNoDaemon;
  return read_holders_file(*holder, status) ? kDaemonStatusKnown : kDaemonStatusUnknown;
}
