// What the supervisor knows for healing a stuck link: which stick the last
// bring-up found, whether the SIM PIN has been proven, and the ladder of
// waits. Main thread only.
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

// --- The recovery -----------------------------------------------------------

// A bring-up ended at now (monotonic seconds) with outcome.
void recovery_note_bringup(const BringupOutcome& outcome, long now);
// A DNS probe was answered at now.
void recovery_note_answer(long now);

// Seconds without an answer when the link counts as stuck at now; else 0.
unsigned long recovery_stuck_for(long now);

// Resets the stick the last bring-up found (or the one device that is no
// hub, when it read no ids) and prints one line: that, why (quiet seconds
// without an answer, and what the supervisor saw), which stick, and how the
// reset went. Counts the recovery. True when the reset was taken.
bool reset_stuck_stick(unsigned long quiet, const char* why);

// The PIN for a recovery's bring-up: pin once it has been proven since the
// daemon started (a full operator record was read, or a probe answered);
// otherwise "", saying so in one line when pin was not empty. A wrong PIN
// sent three times locks the SIM, and recoveries repeat.
const char* recovery_pin(const char* pin);
