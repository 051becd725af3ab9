#include "status/status_command.h"

#include <stdio.h>

#include "status/link_status.h"
#include "status/status_text.h"
#include "sys/daemon_lock.h"
#include "sys/net_dev.h"
#include "sys/small_file.h"
#include "sys/uptime.h"

namespace {

constexpr size_t kReportSize = 512;

// The running daemon's status: 1 when its file can be read and is its own.
int read_status(int holder, LinkStatus* status) {
  char text[kStatusTextSize];
  ssize_t n = read_file_bounded(kStatusPath, text, sizeof text);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof text) return 0;  // none, or too long to be ours
  return parse_status_text(text, static_cast<size_t>(n), status) && status->pid == holder;
}

}  // namespace

int run_status_command() {
  int holder = 0;
  // A file left by a daemon that has died says nothing: the lock decides.
  if (!daemon_lock_holder(kPidLockPath, &holder)) {
    printf("link3g: no 3g daemon runs.\n");
    return kStatusNoDaemon;
  }
  LinkStatus status;
  if (!read_status(holder, &status)) {
    printf("link3g: a 3g daemon runs (pid %d), its status is not known.\n", holder);
    return kStatusLinkNotUp;
  }
  LinkBytes bytes;
  read_net_dev("ppp0", &bytes);
  char report[kReportSize];
  format_status_report(status, seconds_since_boot(), bytes, report, sizeof report);
  fputs(report, stdout);
  return status.state == kStateUp ? kStatusLinkUp : kStatusLinkNotUp;
}
