// The 3g daemon's status record. The supervisor tells it what it and the
// bring-ups it runs see; whenever that changes a field, the whole status file is
// written again, and only then: a pass that changes nothing costs nothing.
// Main thread only.
#pragma once

#include "usb/modem_family.h"

// Starts the record: this process's pid, state "starting".
void status_begin();

// The stick's USB ids (0:0 when none were read). Kept, and written with
// the next note that follows.
void status_note_modem_ids(int vendor, int product);

// The bring-up's outcomes: no modem tty; a modem on tty but no dial
// configuration; a configuration for family on tty.
void status_note_no_modem();
void status_note_no_family(const char* tty);
void status_note_configured(const char* tty, ModemFamily family);

// The supervisor's: it started pppd (forced: to restart a failing link);
// pppd runs and ppp0 has no address; ppp0 has address and dns_failures
// probes in a row went unanswered.
void status_note_pppd_start(int forced);
void status_note_no_address();
void status_note_link(const char* address, int dns_failures);
// A stuck link was recovered: the stick reset and brought up again.
void status_note_recovery();
