// What the running 3g daemon says of the link, for the commands that ask:
// whether a daemon runs is the lock's word, and its file counts only when
// it is well-formed and carries the lock holder's pid. The file is outside
// input: it is parsed strictly, never run.
#pragma once

#include "status/link_status.h"

enum DaemonStatus {
  kNoDaemon,             // no process holds the daemon's lock
  kDaemonStatusUnknown,  // one does (*holder), its file cannot be taken
  kDaemonStatusKnown,    // one does, and *status is its file
};

DaemonStatus read_daemon_status(int* holder, LinkStatus* status);
