// When a link counts as stuck: the modem's nodes are there, but no DNS
// probe has been answered for a while. After each recovery that brought no
// answer the next one waits twice as long, up to an hour; an answer starts
// the ladder again. Arithmetic only, on whole seconds of the monotonic clock.
#pragma once

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
