// Turns a plugged stick into a ready dial configuration. The supervisor
// starts pppd only once /etc/ppp/options.ppp3g exists again, so that file
// is how a successful bring-up is handed over.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "ppp/ppp.h"
#include "ppp/ppp_paths.h"
#include "status/status_record.h"
#include "sys/led_code.h"
#include "sys/pause.h"
#include "usb/modem_tty.h"
#include "usb/operator_profile.h"
#include "usb/usb.h"

namespace {

constexpr unsigned kModemFailedSeconds = 2;
constexpr unsigned kConfiguredSeconds = 3;
constexpr ModemFamily kFamilyUndecided = -1;
constexpr ModemFamily kFamilyInRecord = 0;

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

int Init3gPPP(const char* card, const char* apn, const char* dial, const char* user,
              const char* pass, const char* pin) {
  unlink(kOptionsPath);
  char tty[kTtyBufferSize] = {};
  if (!auto_init_modem(tty)) {
    status_note_no_modem();
    printf("init modem failed.\n");
    wait_seconds(kModemFailedSeconds);
    return 0;
  }
  LedCode off = kLedOff;
  usb_led.compare_exchange_strong(off, kLedSlowBlink);  // only an LED that is off
  OperatorProfile record;
  memset(&record, 0, sizeof record);
  ModemFamily family = getUsbModemType(card, tty, &record, pin);
  if (family == kFamilyUndecided) {
    status_note_no_family(tty);
    printf(" get usb modem type failed.\n");
    usb_led = kLedFastBlink;
    printf("fast: %d / %s\n", 552, "Init3gPPP");
    return 0;
  }
  int written = family == kFamilyInRecord ? gen_from_record(record, tty)
                                          : gen_at_script(family, tty, apn, dial, user, pass);
  if (!written) {
    status_note_no_family(tty);
    printf("gen at script failed.\n");
    return 0;
  }
  status_note_configured(tty, family == kFamilyInRecord ? record.family : family);
  wait_seconds(kConfiguredSeconds);
  return 1;
}
