// The endless loop that keeps the 3G link up. Each pass looks at three
// facts (is a pppd running, is a modem node there, has ppp0 an address) and
// acts on them. It prints nothing.
#include "monitor/monitor.h"
#include "ppp/ppp.h"
#include "ppp/ppp_paths.h"
#include "status/status_record.h"
#include "sys/buffer_sizes.h"
#include "sys/led_code.h"
#include "sys/option_buffers.h"
#include "sys/pause.h"
#include "sys/sys.h"

int ppp_ex_flag = 0;

namespace {

constexpr unsigned kPassSeconds = 2;
constexpr unsigned kDnsTroubleSeconds = 1;
constexpr int kForcedRestartAbove = 5;
constexpr int kRestartGrace = -3;
constexpr int kDnsTroubleAbove = 1;

struct SupervisorState {
  int ppp_restart_count;  // failures counted on a confirmed link
  int dns_fail_count;     // probes unanswered since the last answered one
  int link_confirmed;     // a probe was answered since pppd last started
  int pppd_pid;           // what the last look for pppd found; 0 none
};

// The modem counts as there when one of these two nodes can be opened,
// whatever tty the bring-up chose.
bool modem_present() {
  return CheckFileExist("/dev/ttyUSB1") || CheckFileExist("/dev/ttyACM0");
}

void run_bringup() {
  Init3gPPP(n3g_CardName, n3g_Apn, n3g_Dial, n3g_User, n3g_Pass, n3g_Pin);
}

// The options files alternate; the .ex one runs no chat script.
void start_pppd(SupervisorState* s) {
  if (!CheckFileExist(kOptionsPath)) return;  // no successful bring-up yet
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
  if (getIfIp("ppp0", addr) != 0) {
    count_failure(s);
    status_note_no_address();
    return;
  }
  usb_led = kLedSteady;
  status_note_link(addr, s->dns_fail_count);
  if (CheckDnsQuery()) {
    s->ppp_restart_count = 0;
    s->dns_fail_count = 0;
    s->link_confirmed = 1;
    status_note_link(addr, 0);
    return;
  }
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
      run_bringup();
    }
    check_link(s);
  } else if (modem_present()) {
    start_pppd(s);
  } else {
    usb_led = kLedOff;
    status_note_no_modem();
    run_bringup();
  }
}

}  // namespace

void CheckUSBMode() {
  SupervisorState s = {0, 0, 0, 0};
  for (;;) {
    supervise_once(&s);
    wait_seconds(kPassSeconds);
  }
}
