#include "status/status_record.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "status/link_status.h"
#include "status/status_text.h"
#include "sys/small_file.h"
#include "sys/uptime.h"

namespace {

LinkStatus record;
bool begun = false;  // only the 3g daemon publishes; other callers of the bring-up do not
bool changed = false;
bool write_failure_shown = false;  // one message until a write succeeds again

void set_state(LinkState state) {
  if (record.state == state) return;
  record.state = state;
  record.since = seconds_since_boot();  // read only on a change
  changed = true;
}

void set_int(int* field, int value) {
  if (*field == value) return;
  *field = value;
  changed = true;
}

void set_count(unsigned long* field, unsigned long value) {
  if (*field == value) return;
  *field = value;
  changed = true;
}

// A value that does not fit is shown as none rather than cut.
template <size_t N>
void set_text(char (&field)[N], const char* value) {
  if (strlen(value) >= N) value = "";
  if (strcmp(field, value) == 0) return;
  memcpy(field, value, strlen(value) + 1);
  changed = true;
}

void publish() {
  if (!begun || !changed) return;
  char text[kStatusTextSize];
  size_t len = format_status_text(record, text, sizeof text);
  int err = len > 0 ? write_file_whole(kStatusPath, kStatusTempPath, text, len) : EOVERFLOW;
  if (err == 0) {
    changed = false;  // a failed write stays due: the next pass tries again
    write_failure_shown = false;
    return;
  }
  if (!write_failure_shown) printf("link3g: %s cannot be written (%s).\n", kStatusPath, strerror(err));
  write_failure_shown = true;
}

void forget_modem() {
  set_int(&record.vendor, 0);
  set_int(&record.product, 0);
  set_text(record.tty, "");
  set_int(&record.family, 0);
}

// A pppd seen in the pass that found the modem gone is on its way out (the
// supervisor has just killed it): what it shows does not undo "no modem" or
// "no family". Only a new configuration or a new pppd leaves those.
bool without_configuration() {
  return record.state == kStateNoModem || record.state == kStateNoFamily;
}

}  // namespace

void status_begin() {
  memset(&record, 0, sizeof record);
  record.state = kStateStarting;
  record.since = seconds_since_boot();
  record.pid = static_cast<int>(getpid());
  begun = true;
  changed = true;
  publish();
}

void status_note_modem_ids(int vendor, int product) {
  set_int(&record.vendor, vendor);
  set_int(&record.product, product);
}

void status_note_no_modem() {
  set_state(kStateNoModem);
  forget_modem();
  set_text(record.address, "");
  publish();
}

void status_note_no_family(const char* tty) {
  set_state(kStateNoFamily);
  set_text(record.tty, tty);
  set_int(&record.family, 0);
  set_text(record.address, "");
  publish();
}

void status_note_configured(const char* tty, ModemFamily family) {
  set_state(kStateConnecting);
  set_text(record.tty, tty);
  set_int(&record.family, family);
  set_text(record.address, "");
  publish();
}

void status_note_pppd_start(int forced) {
  set_state(kStateConnecting);
  set_count(&record.pppd_starts, record.pppd_starts + 1);
  if (forced) set_count(&record.forced_restarts, record.forced_restarts + 1);
  set_text(record.address, "");
  publish();
}

void status_note_no_address() {
  if (without_configuration()) return;
  set_state(kStateConnecting);
  set_text(record.address, "");
  publish();
}

void status_note_link(const char* address, int dns_failures) {
  if (without_configuration()) return;
  set_state(dns_failures > 0 ? kStateDnsFailing : kStateUp);
  set_text(record.address, address);
  set_count(&record.dns_failures, dns_failures > 0 ? static_cast<unsigned long>(dns_failures) : 0);
  publish();
}

void status_note_recovery() {
  set_count(&record.recoveries, record.recoveries + 1);
  publish();
}
