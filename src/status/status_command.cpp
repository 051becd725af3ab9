#include "status/status_command.h"

#include <stdio.h>

#include "status/link_status.h"
#include "status/status_read.h"
#include "status/status_text.h"
#include "sys/net_dev.h"
#include "sys/uptime.h"

namespace {

constexpr size_t kReportSize = 512;

}  // namespace

int run_status_command() {
  int holder = 0;
  LinkStatus status;
  DaemonStatus daemon = read_daemon_status(&holder, &status);
  if (daemon == kNoDaemon) {
    printf("link3g: no 3g daemon runs.\n");
    return kStatusNoDaemon;
  }
  if (daemon == kDaemonStatusUnknown) {
    printf("link3g: a 3g daemon runs (pid %d), its status is not known.\n", holder);
    return kStatusLinkNotUp;
  }
  LinkBytes bytes;
  read_net_dev(status_interface(status), &bytes);
  char report[kReportSize];
  format_status_report(status, seconds_since_boot(), bytes, report, sizeof report);
  fputs(report, stdout);
  return status.state == kStateUp ? kStatusLinkUp : kStatusLinkNotUp;
}
