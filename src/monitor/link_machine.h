// The link as the 3g daemon sees it, held in one place: its phase, what the
// status file shows of it, the supervisor's counters, the recovery's clock
// and the PIN's proof. The supervisor moves it by the transitions below,
// one for each thing a pass can find or do, and publishes it whenever it
// has moved; nothing else writes it. Arithmetic only: the transitions run
// no command and touch no file, so that they can be read (and tested) as
// the state machine they are. Main thread only.
#pragma once

#include "monitor/link_recovery.h"
#include "ppp/ppp.h"
#include "status/link_status.h"

// The phases of the link. Each shows as one state of the status file; the
// two of "connecting" are told apart for the recovery's message.
enum LinkPhase {
  kPhaseStarting,     // starting: the first bring-up runs
  kPhaseNoModem,      // no-modem: the nodes are gone, or no modem tty could be brought up
  kPhaseNoFamily,     // no-family: a modem, but no dial configuration for it
  kPhaseConfigured,   // connecting: the configuration is written, pppd not yet started
  kPhasePppdStarted,  // connecting: pppd started in this pass (or it did not stay)
  kPhaseNoAddress,    // connecting: pppd runs, ppp0 has no address
  kPhaseUp,           // up: ppp0 has an address; the last probe answered, or none yet
  kPhaseDnsFailing,   // dns-failing: ppp0 has an address; the last probe went unanswered
  kLinkPhaseCount
};

struct LinkMachine {
  LinkPhase phase;
  unsigned long since;  // seconds since boot when the shown state began
  bool since_due;       // the shown state changed: since is stamped before it is published
  int pid;              // the daemon's
  // What the status file shows of the dial configuration: the stick's ids
  // as its bring-up read them, the tty and the family; none without one.
  UsbId modem;
  char tty[kStatusTtySize];
  int family;
  char address[kAddrFieldSize];  // of the link's interface; empty when it has none
  // The way the last bring-up chose: pppd and ppp0, or udhcpc on the
  // network stick's interface.
  LinkMode mode;
  char interface[kIfNameSize];  // the network way's; empty on the PPP way
  // The supervisor's counters.
  int ppp_restart_count;  // failures counted on a confirmed link
  int dns_fail_count;     // probes unanswered since the last answered one
  int link_confirmed;     // a probe was answered since pppd last started
  int pppd_pid;           // what the last look for pppd (udhcpc) found; 0 none
  unsigned long pppd_starts, forced_restarts, recoveries;
  // The unanswered probes as the status file shows them: as of the last
  // pass that showed the link (a pass that found the modem gone does not).
  unsigned long dns_failures_shown;
  // The stick's AT port and what it said last (monotonic seconds). A
  // bring-up that found the modem has the port looked for (when none is
  // known) or the radio read again, in a pass of its own.
  char at_port[kStatusTtySize];  // empty: none found since the last bring-up
  bool at_port_search_due;
  RadioFacts radio;
  long radio_read_at;
  // Healing a stuck link.
  StuckClock clock;
  UsbId stick;  // the ids the last bring-up read: the stick a reset is for
  PinGuard pin;
};

// The status file's state for a phase, and what the recovery's message
// says a link stuck in it shows.
LinkState shown_state(LinkPhase phase);
const char* stuck_reason(LinkPhase phase, LinkMode mode);

// The daemon starts: phase starting, now (seconds since boot) its time.
void machine_begin(LinkMachine* m, int pid, unsigned long now);
// The record the status file is written from.
void machine_status(const LinkMachine& m, LinkStatus* out);

// --- Transitions; mono is the monotonic clock's seconds -----------------------

// A bring-up ended with outcome; a network stick's sets the network way.
void on_bringup(LinkMachine* m, const BringupOutcome& outcome, long mono);
// The modem's nodes are gone (the pass runs a bring-up next).
void on_nodes_gone(LinkMachine* m);
// pppd was started (forced: the restart of a failing confirmed link).
void on_pppd_started(LinkMachine* m, bool forced);
// pppd runs and ppp0 has no address.
void on_no_address(LinkMachine* m);
// ppp0 has address; the probe is about to run.
void on_address(LinkMachine* m, const char* address);
// The probe was answered, or not.
void on_probe(LinkMachine* m, bool answered, long mono);
// The time (seconds since boot) of a shown state that began with the
// transitions since the last publish: read only then, so that a steady
// pass reads no clock but the monotonic one.
void stamp_since(LinkMachine* m, unsigned long now);
// A stuck link's stick was reset (or its reset tried).
void on_recovery(LinkMachine* m);
// After a bring-up found the modem: its AT port (empty: none answered) and
// what it said.
void on_at_port(LinkMachine* m, const char* port, const RadioFacts& facts, long mono);
// A read of the radio on the AT port: answered, or facts all unknown.
void on_radio(LinkMachine* m, const RadioFacts& facts, long mono);
// Whether the AT port is to be looked for, or the radio read again, now
// (mono): after a bring-up that found the modem, then every 60 s while the
// port is known.
bool radio_read_due(const LinkMachine& m, long mono);

// Whether a forced restart is due, and whether the pass starts with the
// extra pause of DNS trouble.
bool forced_restart_due(const LinkMachine& m);
bool dns_trouble(const LinkMachine& m);
