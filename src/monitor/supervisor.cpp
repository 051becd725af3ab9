// The endless loop that keeps the 3G link up. Each pass looks at three
// facts (is a pppd running, is a modem node there, has ppp0 an address) and
// acts on them. It prints nothing of its own, but for the rare recovery of
// a stuck link.
#include "dns/dns.h"
#include "monitor/link_recovery.h"
#include "monitor/monitor.h"
#include "ppp/ppp.h"
#include "status/status_record.h"
#include "sys/buffer_sizes.h"
#include "sys/file_exist.h"
#include "sys/if_addr.h"
#include "sys/led_code.h"
#include "sys/pause.h"
#include "sys/proc_pid.h"
#include "sys/shell_run.h"

int ppp_ex_flag = 0;

namespace {

// The command line's dial values, handed over once before the first
// bring-up; the strings are the caller's, and last as long as the process.
BringupValues dial_values = {"", "", "", "", "", ""};

constexpr unsigned kPassSeconds = 2;
constexpr unsigned kDnsTroubleSeconds = 1;
constexpr int kForcedRestartAbove = 5;
constexpr int kRestartGrace = -3;
constexpr int kDnsTroubleAbove = 1;
// After a reset the kernel drops the stick's tty nodes, then brings them
// back: a moment for the first, then this long at most for the second.
constexpr unsigned kResetSettleSeconds = 1;
constexpr unsigned kResetNodesSeconds = 5;

// What a pass saw of the link, for the recovery's message.
enum PassSeen { kSeenBringup, kSeenNoConfiguration, kSeenPppdStarted, kSeenNoAddress, kSeenNoAnswer, kSeenAnswer };

const char* const kSeenTexts[] = {
    "the modem was brought up again", "no dial configuration", "pppd does not stay up",
    "ppp0 has no address",            "DNS does not answer",   "DNS answers",
};

struct SupervisorState {
  int ppp_restart_count;  // failures counted on a confirmed link
  int dns_fail_count;     // probes unanswered since the last answered one
  int link_confirmed;     // a probe was answered since pppd last started
  int pppd_pid;           // what the last look for pppd found; 0 none
  PassSeen seen;          // what this pass saw
};

// The modem counts as there when one of these two nodes can be opened,
// whatever tty the bring-up chose.
bool modem_present() {
  return CheckFileExist("/dev/ttyUSB1") || CheckFileExist("/dev/ttyACM0");
}

// Every bring-up the daemon runs: what it found goes into the status file
// and into what the recovery knows of the stick.
int supervised_bringup(const char* pin) {
  BringupOutcome outcome;
  BringupValues values = dial_values;
  values.pin = pin;
  int rc = link_bringup(values, &outcome);
  switch (outcome.result) {
    case kBringupNoModem:
      status_note_no_modem();
      break;
    case kBringupNoFamily:
      status_note_modem_ids(outcome.ids.vendor, outcome.ids.product);
      status_note_no_family(outcome.tty);
      break;
    case kBringupConfigured:
      status_note_modem_ids(outcome.ids.vendor, outcome.ids.product);
      status_note_configured(outcome.tty, outcome.family);
      break;
  }
  recovery_note_bringup(outcome, monotonic_seconds());
  return rc;
}

// The bring-up of a modem whose nodes have gone: a stick pulled out takes
// its PIN's proof with it, and one that a recovery reset waits for it.
void run_bringup(SupervisorState* s) {
  recovery_note_nodes_gone();
  supervised_bringup(bringup_pin(dial_values.pin, false));
  s->seen = kSeenBringup;
}

// The options files alternate; the .ex one runs no chat script.
void start_pppd(SupervisorState* s) {
  if (!CheckFileExist(kOptionsPath)) {  // no successful bring-up yet
    s->seen = kSeenNoConfiguration;
    return;
  }
  s->seen = kSeenPppdStarted;
  usb_led = kLedSlowBlink;
  if (ppp_ex_flag == 0) {
    doSystemCmd("pppd file /etc/ppp/options.ppp3g &");
    ppp_ex_flag = 1;
  } else {
    doSystemCmd("pppd file /etc/ppp/options.ppp3g.ex &");
    ppp_ex_flag = 0;
  }
  s->link_confirmed = 0;
  status_note_pppd_start(0);
}

void force_restart(SupervisorState* s) {
  doSystemCmd("killall -9 pppd");
  doSystemCmd("pppd file /etc/ppp/options.ppp3g.ex &");
  s->link_confirmed = 0;
  s->ppp_restart_count = kRestartGrace;
  status_note_pppd_start(1);
}

// A failure counts towards a forced restart only on a confirmed link.
void count_failure(SupervisorState* s) {
  if (s->link_confirmed) ++s->ppp_restart_count;
}

void check_link(SupervisorState* s) {
  char addr[kAddrFieldSize] = {};
  if (getIfIp_steady("ppp0", addr) != 0) {
    s->seen = kSeenNoAddress;
    count_failure(s);
    status_note_no_address();
    return;
  }
  usb_led = kLedSteady;
  status_note_link(addr, s->dns_fail_count);
  if (CheckDnsQuery()) {
    s->seen = kSeenAnswer;
    s->ppp_restart_count = 0;
    s->dns_fail_count = 0;
    s->link_confirmed = 1;
    status_note_link(addr, 0);
    return;
  }
  s->seen = kSeenNoAnswer;
  ++s->dns_fail_count;
  count_failure(s);
  status_note_link(addr, s->dns_fail_count);
}

void supervise_once(SupervisorState* s) {
  if (s->ppp_restart_count > kForcedRestartAbove) force_restart(s);
  if (s->dns_fail_count > kDnsTroubleAbove) {
    if (s->link_confirmed) usb_led = kLedFastBlink;
    wait_seconds(kDnsTroubleSeconds);
  }
  // The pppd found last time is looked at first: a steady link then costs
  // one file read instead of a scan of /proc.
  s->pppd_pid = get_proc_pid_again("pppd", s->pppd_pid);
  if (s->pppd_pid > 0) {
    if (!modem_present()) {
      usb_led = kLedOff;
      status_note_no_modem();  // shown now, not once the bring-up has failed
      doSystemCmd("killall -9 pppd &");
      run_bringup(s);
    }
    check_link(s);
  } else if (modem_present()) {
    start_pppd(s);
  } else {
    usb_led = kLedOff;
    status_note_no_modem();
    run_bringup(s);
  }
}

void wait_for_modem_nodes() {
  wait_seconds(kResetSettleSeconds);
  for (unsigned waited = 0; waited < kResetNodesSeconds && !modem_present(); ++waited) wait_seconds(1);
}

// A modem whose firmware hangs keeps its nodes: nothing above ever runs a
// bring-up for it, and the link would stay down for good. So a link
// without an answer for long enough (the ladder of waits) is taken down,
// its stick reset on the bus and brought up again, never with a PIN that
// has not been proven.
void recover_if_stuck(SupervisorState* s) {
  long now = monotonic_seconds();
  if (s->seen == kSeenAnswer) recovery_note_answer(now);
  unsigned long quiet = recovery_stuck_for(now);
  if (quiet == 0 || !modem_present()) return;
  doSystemCmd("killall -9 pppd");
  if (reset_stuck_stick(quiet, kSeenTexts[s->seen])) wait_for_modem_nodes();
  supervised_bringup(bringup_pin(dial_values.pin, true));
}

}  // namespace

void set_dial_values(const BringupValues& values) { dial_values = values; }

int first_link_bringup() { return supervised_bringup(dial_values.pin); }

void CheckUSBMode() {
  SupervisorState s = {0, 0, 0, 0, kSeenBringup};
  for (;;) {
    supervise_once(&s);
    recover_if_stuck(&s);
    wait_seconds(kPassSeconds);
  }
}
