#include <stdio.h>
#include <string.h>

#include "app/app.h"
#include "dnsfw/dnsfw.h"
#include "monitor/monitor.h"
#include "ppp/ppp.h"
#include "qos/qos.h"
#include "sys/option_buffers.h"

namespace {

// The daemon: the LED thread, one bring-up with the default signal
// dispositions (so SIGTERM still ends it), then the handlers and the
// supervisor, which never returns. The bring-up's result does not matter:
// the supervisor runs it again while the modem is missing.
void run_3g() {
  InitUsbLedTask();
  Init3gPPP(n3g_CardName, n3g_Apn, n3g_Dial, n3g_User, n3g_Pass, n3g_Pin);
  InstallSignalHandlers();
  CheckUSBMode();
}

void run_dns() { InitDnsForward(); }

void run_qos() {
  printf("****PPPInit qos [%s]\n", qosBuf);
  InitQos(qosBuf, LanH);
}

struct Command {
  const char* word;
  void (*run)();
};

// Command words are matched exactly, case included.
const Command kCommands[] = {
    {"3g", run_3g},
    {"dns", run_dns},
    {"qos", run_qos},
};

}  // namespace

void dispatch_command() {
  for (const Command& c : kCommands) {
    if (strcmp(cmd, c.word) == 0) {
      c.run();
      return;
    }
  }
}
