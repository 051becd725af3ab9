#include <stdio.h>
#include <string.h>

#include "app/app.h"
#include "dnsfw/dnsfw.h"
#include "monitor/monitor.h"
#include "qos/qos.h"
#include "status/link_status.h"
#include "status/status_command.h"
#include "sys/daemon_lock.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitAlreadyRunning = 1;

// Before anything else: a second daemon would fight the first over the
// modem, pppd and the LED. When the lock itself cannot be had, the link
// matters more than the guard.
bool sole_daemon() {
  int holder = 0, error = 0;
  switch (take_daemon_lock(kPidLockPath, &holder, &error)) {
    case kLockTaken:
      return true;
    case kLockHeld:
      printf("link3g: a 3g daemon is already running (pid %d).\n", holder);
      return false;
    case kLockUnavailable:
      printf("link3g: %s cannot be locked (%s), running without the one-daemon guard.\n",
             kPidLockPath, strerror(error));
      return true;
  }
  return true;
}

// The daemon: the LED thread, one bring-up with the default signal
// dispositions (so SIGTERM still ends it), then the handlers and the
// supervisor, which never returns. SIGINT ends it from the start, however
// it was started. The bring-up's result does not matter:
// the supervisor runs it again while the modem is missing.
int run_3g() {
  if (!sole_daemon()) return kExitAlreadyRunning;
  RestoreStopSignal();
  link_state_begin();
  InitUsbLedTask();
  set_dial_values(BringupValues{n3g_CardName, n3g_Apn, n3g_Dial, n3g_User, n3g_Pass, n3g_Pin});
  first_link_bringup();
  InstallSignalHandlers();
  CheckUSBMode();
  return kExitOk;
}

int run_dns() {
  InitDnsForward();
  return kExitOk;
}

int run_qos() {
  printf("****PPPInit qos [%s]\n", qosBuf);
  InitQos(qosBuf, LanH);
  return kExitOk;
}

struct Command {
  const char* word;
  int (*run)();
};

// Command words are matched exactly, case included.
const Command kCommands[] = {
    {"3g", run_3g},
    {"dns", run_dns},
    {"qos", run_qos},
    {"status", run_status_command},
};

}  // namespace

int dispatch_command() {
  for (const Command& c : kCommands) {
    if (strcmp(cmd, c.word) == 0) return c.run();
  }
  return kExitOk;
}
