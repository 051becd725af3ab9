#include "monitor/recovery_ladder.h"

unsigned long stuck_wait_seconds(unsigned recoveries_quiet) {
  unsigned long wait = kStuckSeconds;
  for (unsigned i = 0; i < recoveries_quiet && wait < kStuckMostSeconds; ++i) wait *= 2;
  return wait < kStuckMostSeconds ? wait : kStuckMostSeconds;
}

unsigned long stuck_quiet_seconds(const StuckClock& clock, long now) {
  long since = clock.last_bringup_end;
  if (clock.answered && clock.last_answer > since) since = clock.last_answer;
  if (now <= since) return 0;
  unsigned long quiet = static_cast<unsigned long>(now - since);
  return quiet >= stuck_wait_seconds(clock.recoveries_quiet) ? quiet : 0;
}
