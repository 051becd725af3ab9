// The endless loop that keeps the 3G link up. Each pass looks at three
// facts (is a pppd running, is a modem node there, has ppp0 an address):
// they are the guards that choose its transition of the link's state
// (monitor/link_machine.h), which it acts on and publishes. It prints
// nothing of its own, but for the rare recovery of a stuck link.
//
//   forced restart due?  -> kill pppd, start it with the .ex file
//   pppd runs
//     modem gone         -> kill pppd, bring-up      (then the address, below)
//     ppp0 has no address                   -> count a failure
//     ppp0 has an address -> probe DNS      -> up, or dns-failing
//   no pppd, modem there
//     configuration      -> start pppd, the two files in turn
//     none               -> nothing: the bring-up failed
//   no pppd, no modem    -> bring-up
//   stuck 300 s and more (the ladder) with the modem there
//                        -> kill pppd, reset the stick, bring-up
//
// A stick that is a network card goes the same way with udhcpc for pppd,
// its interface for ppp0, and the interface's presence for the nodes.
#include "dns/dns.h"
#include "monitor/link_machine.h"
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
#include "sys/shell_quote.h"
#include "sys/uptime.h"

#include <unistd.h>

int ppp_ex_flag = 0;

namespace {

// The command line's dial values, handed over once before the first
// bring-up; the strings are the caller's, and last as long as the process.
BringupValues dial_values = {"", "", "", "", "", ""};

// The link's state: its one holder.
LinkMachine link_state;
// Whether the pass under way ran a bring-up (the radio waits for the next).
bool bringup_ran = false;

constexpr unsigned kPassSeconds = 2;
constexpr unsigned kDnsTroubleSeconds = 1;
// After a reset the kernel drops the stick's tty nodes, then brings them
// back: a moment for the first, then this long at most for the second.
constexpr unsigned kResetSettleSeconds = 1;
constexpr unsigned kResetNodesSeconds = 5;

void publish() {
  if (link_state.since_due) stamp_since(&link_state, seconds_since_boot());
  LinkStatus status;
  machine_status(link_state, &status);
  status_publish(status);
}

// What each way runs and kills: the link's program, and its interface.
struct LinkWay {
  const char* program;
  const char* kill;
  const char* kill_background;
};
const LinkWay kWays[kLinkModeCount] = {
    {"pppd", "killall -9 pppd", "killall -9 pppd &"},
    {"udhcpc", "killall -9 udhcpc", "killall -9 udhcpc &"},
};

const LinkWay& way() { return kWays[link_state.mode]; }
bool network_way() { return link_state.mode == kModeNetwork; }
const char* link_interface() { return network_way() ? link_state.interface : "ppp0"; }

// The modem counts as there when one of these two nodes can be opened,
// whatever tty the bring-up chose; a network stick while its interface is.
bool modem_present() {
  if (network_way()) return if_exists_steady(link_state.interface) != 0;
  return CheckFileExist("/dev/ttyUSB1") || CheckFileExist("/dev/ttyACM0");
}

// After a bring-up that found the modem, in a pass that runs none (the
// ports a silent stick has cost their wait after pppd has been started,
// not before): which of the modem's other ports answers AT, and what it
// says of the radio and the SIM. Then the radio again every 60 s while the
// modem is there: also, and most, when the link does not come up.
void read_radio_if_due() {
  if (network_way() || bringup_ran || !radio_read_due(link_state, monotonic_seconds()) || !modem_present()) return;
  RadioFacts facts;
  if (link_state.at_port[0] == '\0') {
    char port[kTtyBufferSize];
    if (find_at_port(link_state.tty, link_state.modem.vendor == kHuaweiVendor, port, &facts)) {
      read_radio_facts(port, &facts);
    }
    on_at_port(&link_state, port, facts, monotonic_seconds());
  } else {
    read_radio_facts(link_state.at_port, &facts);
    on_radio(&link_state, facts, monotonic_seconds());
  }
  publish();
}

// Every bring-up the daemon runs; what it found moves the link.
int supervised_bringup(const char* pin) {
  BringupOutcome outcome;
  BringupValues values = dial_values;
  values.pin = pin;
  int rc = link_bringup(values, &outcome);
  on_bringup(&link_state, outcome, monotonic_seconds());
  publish();
  bringup_ran = true;
  return rc;
}

// The modem's nodes are gone: a stick pulled out takes its PIN's proof
// with it (unless a recovery's reset took them), and it is shown at once,
// not once the bring-up has failed.
void bring_up_again() {
  usb_led = kLedOff;
  on_nodes_gone(&link_state);
  publish();
}

void run_bringup() { supervised_bringup(bringup_pin(&link_state, dial_values.pin, false)); }

// udhcpc in the foreground of a background shell, so that the pid found
// stays its own; the script sets the address, the route and resolv.conf.
void run_udhcpc() {
  char name[kShellQuotedSize];
  if (!shell_quote(link_state.interface, name, sizeof name)) return;
  doSystemCmd("udhcpc -f -i %s -s %s &", name, kDhcpScriptPath);
}

// The options files alternate; the .ex one runs no chat script. Without
// them (no successful bring-up yet) nothing starts until the nodes go.
void start_pppd() {
  if (network_way()) {
    if (!CheckFileExist(kDhcpScriptPath)) return;
    usb_led = kLedSlowBlink;
    run_udhcpc();
    on_pppd_started(&link_state, false);
    publish();
    return;
  }
  if (!CheckFileExist(kOptionsPath)) return;
  usb_led = kLedSlowBlink;
  if (ppp_ex_flag == 0) {
    doSystemCmd("pppd file /etc/ppp/options.ppp3g &");
    ppp_ex_flag = 1;
  } else {
    doSystemCmd("pppd file /etc/ppp/options.ppp3g.ex &");
    ppp_ex_flag = 0;
  }
  on_pppd_started(&link_state, false);
  publish();
}

void force_restart() {
  doSystemCmd("%s", way().kill);
  if (network_way()) {
    run_udhcpc();
  } else {
    doSystemCmd("pppd file /etc/ppp/options.ppp3g.ex &");
  }
  on_pppd_started(&link_state, true);
  publish();
}

void check_link() {
  char addr[kAddrFieldSize] = {};
  if (getIfIp_steady(link_interface(), addr) != 0) {
    on_no_address(&link_state);
    publish();
    return;
  }
  usb_led = kLedSteady;
  on_address(&link_state, addr);
  publish();
  bool answered = CheckDnsQuery() != 0;
  on_probe(&link_state, answered, monotonic_seconds());
  publish();
}

void supervise_once() {
  if (forced_restart_due(link_state)) force_restart();
  if (dns_trouble(link_state)) {
    if (link_state.link_confirmed) usb_led = kLedFastBlink;
    wait_seconds(kDnsTroubleSeconds);
  }
  // The pppd found last time is looked at first: a steady link then costs
  // one read instead of a scan of /proc.
  link_state.pppd_pid = get_proc_pid_again(way().program, link_state.pppd_pid);
  if (link_state.pppd_pid > 0) {
    if (!modem_present()) {
      const LinkWay& gone = way();
      bring_up_again();
      doSystemCmd("%s", gone.kill_background);
      run_bringup();
    }
    check_link();
  } else if (modem_present()) {
    start_pppd();
  } else {
    bring_up_again();
    run_bringup();
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
void recover_if_stuck() {
  unsigned long quiet = stuck_quiet_seconds(link_state.clock, monotonic_seconds());
  if (quiet == 0 || !modem_present()) return;
  doSystemCmd("%s", way().kill);
  bool reset = reset_stuck_stick(&link_state, quiet);
  publish();
  if (reset) wait_for_modem_nodes();
  supervised_bringup(bringup_pin(&link_state, dial_values.pin, true));
}

}  // namespace

void set_dial_values(const BringupValues& values) { dial_values = values; }

void link_state_begin() {
  machine_begin(&link_state, static_cast<int>(getpid()), seconds_since_boot());
  publish();
}

int first_link_bringup() { return supervised_bringup(dial_values.pin); }

void CheckUSBMode() {
  for (;;) {
    bringup_ran = false;
    supervise_once();
    recover_if_stuck();
    read_radio_if_due();
    publish();  // a write that failed is tried again on every pass
    wait_seconds(kPassSeconds);
  }
}
