// When a link counts as stuck, and how long each recovery waits after the
// one before that brought no answer.
#include <gtest/gtest.h>

#include <string.h>

#include "monitor/link_machine.h"
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

// The PIN's guard through the stories that could lock a SIM.
TEST(RecoveryPin, NeverAnUnprovenPinAfterAResetNorAnOldProofOnANewSim) {
  PinGuard g = {false, false, false, false, false};
  EXPECT_FALSE(pin_withheld(g, false));  // the designed first bring-up
  EXPECT_TRUE(pin_withheld(g, true));
  // A reset whose stick stays off the bus: the bring-ups of "no modem"
  // withhold it too, until one finds the modem.
  pin_guard_reset(&g);
  pin_guard_bringup(&g, false, false);
  pin_guard_nodes_gone(&g);
  EXPECT_TRUE(pin_withheld(g, false));
  pin_guard_bringup(&g, true, false);
  EXPECT_FALSE(pin_withheld(g, false));
  // Proven, then reset: the nodes going with the reset keep the proof.
  pin_guard_answer(&g);
  pin_guard_reset(&g);
  pin_guard_nodes_gone(&g);
  EXPECT_FALSE(pin_withheld(g, true));
  pin_guard_bringup(&g, true, false);
  // Pulled out with no recovery waiting: the next SIM has proven nothing.
  pin_guard_nodes_gone(&g);
  EXPECT_FALSE(pin_withheld(g, false));
  EXPECT_TRUE(pin_withheld(g, true));
  pin_guard_bringup(&g, true, true);  // a full record read
  EXPECT_FALSE(pin_withheld(g, true));
  // A SIM that wants its PUK gets no PIN, proven or not, not even after a
  // reset; a stick pulled out takes that with it too.
  pin_guard_puk(&g);
  EXPECT_TRUE(pin_withheld(g, false));
  pin_guard_reset(&g);
  pin_guard_nodes_gone(&g);
  pin_guard_bringup(&g, true, true);
  EXPECT_TRUE(pin_withheld(g, false));
  pin_guard_nodes_gone(&g);
  EXPECT_FALSE(pin_withheld(g, false));
}

// When the AT port is looked for and the radio read: never in the pass of
// a bring-up's own choosing, never on the tty the dial configuration uses.
TEST(RecoveryPin, RadioAskedAfterABringupThenEveryMinuteNeverOnTheDialTty) {
  LinkMachine m;
  machine_begin(&m, 1, 0);
  EXPECT_FALSE(radio_read_due(m, 100));
  BringupOutcome found = {};
  found.result = kBringupConfigured;
  found.ids = {0x19d2, 0x0031};
  strcpy(found.tty, "/dev/ttyUSB2");
  on_bringup(&m, found, 100);
  EXPECT_TRUE(radio_read_due(m, 100));
  RadioFacts facts;
  radio_facts_clear(&facts);
  facts.sim = kSimPuk;
  on_at_port(&m, "/dev/ttyUSB1", facts, 102);
  EXPECT_FALSE(radio_read_due(m, 161));
  EXPECT_TRUE(radio_read_due(m, 162));
  EXPECT_TRUE(m.pin.blocked);
  on_radio(&m, facts, 162);
  // A later bring-up reads it again at once; one that dials on the port
  // found has it looked for again.
  on_bringup(&m, found, 170);
  EXPECT_TRUE(radio_read_due(m, 170));
  EXPECT_STREQ(m.at_port, "/dev/ttyUSB1");
  strcpy(found.tty, "/dev/ttyUSB1");
  on_bringup(&m, found, 180);
  EXPECT_STREQ(m.at_port, "");
  EXPECT_TRUE(radio_read_due(m, 180));
  // None answered: asked no more until the next bring-up; nodes gone: none.
  on_at_port(&m, "", facts, 182);
  EXPECT_FALSE(radio_read_due(m, 1000));
  on_bringup(&m, found, 1000);
  on_nodes_gone(&m);
  EXPECT_FALSE(radio_read_due(m, 2000));
  EXPECT_EQ(m.radio.sim, kSimUnknown);
  // A network stick has no AT port to ask; its way and interface are shown
  // until its interface goes, and the pppd found before is not taken for
  // its udhcpc.
  on_bringup(&m, found, 2000);
  m.pppd_pid = 4321;
  BringupOutcome net = {};
  net.result = kBringupNetwork;
  net.ids = {0x12d1, 0x14dc};
  strcpy(net.interface, "eth1");
  on_bringup(&m, net, 2100);
  EXPECT_FALSE(radio_read_due(m, 2100));
  EXPECT_FALSE(radio_read_due(m, 9000));
  EXPECT_EQ(m.pppd_pid, 0);
  LinkStatus shown;
  machine_status(m, &shown);
  EXPECT_EQ(shown.mode, kModeNetwork);
  EXPECT_STREQ(shown.interface, "eth1");
  EXPECT_STREQ(shown.tty, "");
  EXPECT_EQ(shown.family, 0);
  EXPECT_EQ(shown.state, kStateConnecting);
  EXPECT_STREQ(stuck_reason(m.phase, m.mode), "the modem was brought up again");
  on_pppd_started(&m, false);
  on_no_address(&m);
  EXPECT_STREQ(stuck_reason(m.phase, m.mode), "no DHCP lease");
  on_nodes_gone(&m);
  machine_status(m, &shown);
  EXPECT_EQ(shown.mode, kModePpp);
  EXPECT_STREQ(shown.interface, "");
}

}  // namespace
