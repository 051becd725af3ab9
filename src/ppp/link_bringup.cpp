// Turns a plugged stick into a ready dial configuration. The supervisor
// starts pppd only once /etc/ppp/options.ppp3g exists again, so that file
// is how a successful bring-up is handed over.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "ppp/ppp.h"
#include "sys/led_code.h"
#include "sys/pause.h"
#include "usb/operator_profile.h"
#include "usb/usb.h"

namespace {

constexpr unsigned kModemFailedSeconds = 2;
constexpr unsigned kConfiguredSeconds = 3;

// The dial configuration from the operator record serialcom left.
int gen_from_record(const OperatorProfile& record, const char* tty) {
  char user[kProfileTextSize], pass[kProfileTextSize], apn[kProfileTextSize],
      dial[kProfileTextSize];
  profile_text(record.user, user);
  profile_text(record.password, pass);
  profile_text(record.apn, apn);
  profile_text(record.dial, dial);
  return gen_at_script(record.family, tty, apn, dial, user, pass);
}

}  // namespace

int link_bringup(const BringupValues& v, BringupOutcome* outcome) {
  memset(outcome, 0, sizeof *outcome);
  outcome->result = kBringupNoModem;
  unlink(kOptionsPath);
  unlink(kDhcpScriptPath);
  char tty[kTtyBufferSize] = {};
  NetDriver net;
  if (!bring_up_modem(tty, &outcome->ids, &net)) {
    printf("init modem failed.\n");
    wait_seconds(kModemFailedSeconds);
    return 0;
  }
  if (net != kNetNone) {
    if (!net_bringup(outcome->ids, net, outcome->interface)) return 0;
    outcome->result = kBringupNetwork;
    return 1;
  }
  memcpy(outcome->tty, tty, sizeof tty);
  outcome->result = kBringupNoFamily;
  LedCode off = kLedOff;
  usb_led.compare_exchange_strong(off, kLedSlowBlink);  // only an LED that is off
  OperatorProfile record;
  memset(&record, 0, sizeof record);
  ModemFamily family = getUsbModemType(v.card, tty, &record, v.pin);
  if (family == kFamilyNone) {
    printf(" get usb modem type failed.\n");
    usb_led = kLedFastBlink;
    printf("fast: %d / %s\n", 552, "Init3gPPP");
    return 0;
  }
  outcome->record_read = family == kFamilyInRecord;
  int written = family == kFamilyInRecord ? gen_from_record(record, tty)
                                          : gen_at_script(family, tty, v.apn, v.dial, v.user, v.pass);
  if (!written) {
    printf("gen at script failed.\n");
    return 0;
  }
  outcome->result = kBringupConfigured;
  outcome->family = family == kFamilyInRecord ? static_cast<ModemFamily>(record.family) : family;
  wait_seconds(kConfiguredSeconds);
  return 1;
}

int Init3gPPP(const char* card, const char* apn, const char* dial, const char* user,
              const char* pass, const char* pin) {
  BringupOutcome outcome;
  return link_bringup(BringupValues{card, apn, dial, user, pass, pin}, &outcome);
}
