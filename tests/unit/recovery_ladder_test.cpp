// When a link counts as stuck, and how long each recovery waits after the
// one before that brought no answer.
#include <gtest/gtest.h>

#include "monitor/link_recovery.h"

namespace {

TEST(RecoveryLadder, WaitsDoubleUpToAnHour) {
  const unsigned long expected[] = {300, 600, 1200, 2400, 3600, 3600, 3600};
  for (unsigned n = 0; n < 7; ++n) EXPECT_EQ(stuck_wait_seconds(n), expected[n]) << n;
  EXPECT_EQ(stuck_wait_seconds(1000000), 3600u);  // no overflow after months of it
}

TEST(RecoveryLadder, CountsFromTheLaterOfBringupAndAnswer) {
  StuckClock c = {1000, 0, false, 0};
  EXPECT_EQ(stuck_quiet_seconds(c, 1299), 0u);
  EXPECT_EQ(stuck_quiet_seconds(c, 1300), 300u);
  // An answer after the bring-up moves the start; one before it does not.
  c.answered = true;
  c.last_answer = 1200;
  EXPECT_EQ(stuck_quiet_seconds(c, 1300), 0u);
  EXPECT_EQ(stuck_quiet_seconds(c, 1500), 300u);
  c.last_answer = 900;
  EXPECT_EQ(stuck_quiet_seconds(c, 1300), 300u);
  // After two recoveries without an answer: 1200 s.
  c.recoveries_quiet = 2;
  EXPECT_EQ(stuck_quiet_seconds(c, 2199), 0u);
  EXPECT_EQ(stuck_quiet_seconds(c, 2200), 1200u);
  // A clock that seems to go back (it never should) counts as no time.
  EXPECT_EQ(stuck_quiet_seconds(c, 500), 0u);
}

}  // namespace
