// Healing a stuck link: the ladder of waits, the guard of the SIM PIN, and
// the reset of the stick. The state they work on is the link's
// (monitor/link_machine.h). Main thread only.
#pragma once

#include "ppp/ppp.h"

// --- The ladder of waits ----------------------------------------------------

// When a link counts as stuck: the modem's nodes are there, but no DNS
// probe has been answered for a while. After each recovery that brought no
// answer the next one waits twice as long, up to an hour; an answer starts
// the ladder again. Arithmetic only, on whole seconds of the monotonic clock.
constexpr unsigned long kStuckSeconds = 300;
constexpr unsigned long kStuckMostSeconds = 3600;

struct StuckClock {
  long last_bringup_end;       // the last bring-up ended (first, after the nodes went, or a recovery's)
  long last_answer;            // the last answered probe
  bool answered;               // last_answer holds a time
  unsigned recoveries_quiet;   // recoveries since the last answer (or since the start)
};

// 300, 600, 1200, 2400, then 3600 s.
unsigned long stuck_wait_seconds(unsigned recoveries_quiet);

// Seconds without an answer, counted from the later of the last bring-up's
// end and the last answer, when they reach the ladder's wait; else 0.
unsigned long stuck_quiet_seconds(const StuckClock& clock, long now);

// --- The SIM PIN ------------------------------------------------------------

// A wrong PIN sent three times locks the SIM until its PUK is entered, and
// recoveries repeat bring-ups. So the PIN goes to a recovery's bring-up only
// once it has been proven on the SIM in the stick (a full operator record
// was read, or a DNS probe answered). After a recovery's reset every
// bring-up withholds an unproven PIN, whichever branch of the supervisor
// runs it, until one of them has found the modem again: a stick that takes
// long to come back must not get it from the bring-up of "no modem". A
// stick that goes by itself (pulled out, while no recovery waits for it)
// takes its proof with it: the next SIM may want another PIN. Arithmetic
// only.
//
// A SIM that says "SIM PUK" on the AT port is blocked: no bring-up gets the
// PIN until the stick goes by itself.
struct PinGuard {
  bool proven;        // on the SIM now in the stick
  bool awaiting;      // a recovery reset the stick; no bring-up has found it since
  bool said;          // the withholding was said since that recovery
  bool blocked;       // the SIM wants its PUK
  bool blocked_said;  // and that was said
};

// Whether a bring-up (a recovery's own, or any other) withholds the PIN.
bool pin_withheld(const PinGuard& g, bool recovery);
// A recovery reset the stick (or tried to).
void pin_guard_reset(PinGuard* g);
// A bring-up ended: it found a modem tty or not, read a full record or not.
void pin_guard_bringup(PinGuard* g, bool found, bool record_read);
// A DNS probe was answered: the SIM took the PIN it was given.
void pin_guard_answer(PinGuard* g);
// The modem's nodes went (the supervisor's "no modem" branches).
void pin_guard_nodes_gone(PinGuard* g);
// The AT port said the SIM wants its PUK.
void pin_guard_puk(PinGuard* g);

// --- The recovery -----------------------------------------------------------

struct LinkMachine;

// Resets the stick the last bring-up found (or the one device that is no
// hub, when it read no ids) and prints one line: that, why (quiet seconds
// without an answer, and what the link shows), which stick, and how the
// reset went. Counts the recovery in m. True when the reset was taken.
bool reset_stuck_stick(LinkMachine* m, unsigned long quiet);

// The PIN for a bring-up (recovery: the recovery's own): pin, or "" when
// m's guard withholds it, saying so in one line once a recovery when pin
// was not empty.
const char* bringup_pin(LinkMachine* m, const char* pin, bool recovery);
