#include "monitor/link_machine.h"

#include <string.h>

namespace {

constexpr int kForcedRestartAbove = 5;
constexpr int kRestartGrace = -3;
constexpr int kDnsTroubleAbove = 1;
constexpr long kRadioReadSeconds = 60;

struct PhaseInfo {
  LinkState shown;
  const char* stuck;      // the recovery's reason
  const char* stuck_net;  // the same on the network way
};

// A link stuck with the nodes there and no configuration has a failed
// bring-up behind it, whichever way it failed; "brought up again" is a pass
// that has just run a bring-up, which no recovery follows at once.
const PhaseInfo kPhases[kLinkPhaseCount] = {
    {kStateStarting, "the modem was brought up again", "the modem was brought up again"},
    {kStateNoModem, "no dial configuration", "no dial configuration"},
    {kStateNoFamily, "no dial configuration", "no dial configuration"},
    {kStateConnecting, "the modem was brought up again", "the modem was brought up again"},
    {kStateConnecting, "pppd does not stay up", "udhcpc does not stay up"},
    {kStateConnecting, "ppp0 has no address", "no DHCP lease"},
    {kStateUp, "DNS answers", "DNS answers"},
    {kStateDnsFailing, "DNS does not answer", "DNS does not answer"},
};

void enter(LinkMachine* m, LinkPhase phase) {
  if (shown_state(m->phase) != shown_state(phase)) m->since_due = true;
  m->phase = phase;
}

// A value that does not fit is shown as none rather than cut.
template <size_t N>
void set_text(char (&field)[N], const char* value) {
  size_t len = strlen(value);
  if (len >= N) len = 0;
  memcpy(field, value, len);
  field[len] = '\0';
}

// The AT port is the stick's until its nodes go.
void forget_at_port(LinkMachine* m) {
  set_text(m->at_port, "");
  m->at_port_search_due = false;
  radio_facts_clear(&m->radio);
}

// A bring-up found the modem on tty: its AT port is looked for, or, known
// already (and not the tty pppd now dials on), read again.
void radio_after_bringup(LinkMachine* m, long mono) {
  if (strcmp(m->at_port, m->tty) == 0) forget_at_port(m);
  if (m->at_port[0] == '\0') {
    m->at_port_search_due = true;
  } else {
    m->radio_read_at = mono - kRadioReadSeconds;
  }
}

// The way of the stick a bring-up found (or none: the designed PPP way).
// When the way changes, the program found last is the other way's: it
// is looked for afresh.
void take_way(LinkMachine* m, LinkMode mode, const char* interface) {
  if (m->mode != mode) m->pppd_pid = 0;
  m->mode = mode;
  set_text(m->interface, interface);
}

void forget_modem(LinkMachine* m) {
  m->modem = {0, 0};
  set_text(m->tty, "");
  m->family = 0;
  forget_at_port(m);
  take_way(m, kModePpp, "");
}

void take_radio(LinkMachine* m, const RadioFacts& facts, long mono) {
  m->radio = facts;
  m->radio_read_at = mono;
  if (facts.sim == kSimPuk) pin_guard_puk(&m->pin);
}

// A pppd seen in the pass that found the modem gone is on its way out (the
// pass has just killed it): what it shows does not undo "no modem" or "no
// family". Only a new configuration or a new pppd leaves those.
bool without_configuration(const LinkMachine& m) {
  return m.phase == kPhaseNoModem || m.phase == kPhaseNoFamily;
}

// A failure counts towards a forced restart only on a confirmed link.
void count_failure(LinkMachine* m) {
  if (m->link_confirmed) ++m->ppp_restart_count;
}

// ppp0 has an address: up or dns-failing by the probes unanswered so far,
// which the status file shows as they are now.
void show_link(LinkMachine* m) {
  enter(m, m->dns_fail_count > 0 ? kPhaseDnsFailing : kPhaseUp);
  m->dns_failures_shown = m->dns_fail_count > 0 ? static_cast<unsigned long>(m->dns_fail_count) : 0;
}

}  // namespace

LinkState shown_state(LinkPhase phase) { return kPhases[phase].shown; }

const char* stuck_reason(LinkPhase phase, LinkMode mode) {
  return mode == kModeNetwork ? kPhases[phase].stuck_net : kPhases[phase].stuck;
}

void machine_begin(LinkMachine* m, int pid, unsigned long now) {
  memset(m, 0, sizeof *m);
  radio_facts_clear(&m->radio);
  m->phase = kPhaseStarting;
  m->since = now;
  m->pid = pid;
}

void machine_status(const LinkMachine& m, LinkStatus* out) {
  memset(out, 0, sizeof *out);
  out->state = shown_state(m.phase);
  out->since = m.since;
  out->pid = m.pid;
  out->vendor = m.modem.vendor;
  out->product = m.modem.product;
  memcpy(out->tty, m.tty, sizeof out->tty);
  out->family = m.family;
  memcpy(out->address, m.address, sizeof out->address);
  out->pppd_starts = m.pppd_starts;
  out->forced_restarts = m.forced_restarts;
  out->recoveries = m.recoveries;
  out->dns_failures = m.dns_failures_shown;
  memcpy(out->at_port, m.at_port, sizeof out->at_port);
  out->radio = m.radio;
  out->mode = m.mode;
  memcpy(out->interface, m.interface, sizeof out->interface);
}

void on_bringup(LinkMachine* m, const BringupOutcome& outcome, long mono) {
  set_text(m->address, "");
  switch (outcome.result) {
    case kBringupNoModem:
      enter(m, kPhaseNoModem);
      forget_modem(m);
      break;
    case kBringupNoFamily:
      enter(m, kPhaseNoFamily);
      m->modem = outcome.ids;
      set_text(m->tty, outcome.tty);
      m->family = 0;
      break;
    case kBringupConfigured:
      enter(m, kPhaseConfigured);
      m->modem = outcome.ids;
      set_text(m->tty, outcome.tty);
      m->family = outcome.family;
      break;
    case kBringupNetwork:
      enter(m, kPhaseConfigured);
      forget_modem(m);
      m->modem = outcome.ids;
      take_way(m, kModeNetwork, outcome.interface);
      break;
  }
  if (outcome.result == kBringupNoFamily || outcome.result == kBringupConfigured) {
    take_way(m, kModePpp, "");
    radio_after_bringup(m, mono);
  }
  m->clock.last_bringup_end = mono;
  m->stick = outcome.ids;
  pin_guard_bringup(&m->pin, outcome.result != kBringupNoModem, outcome.record_read);
}

void on_nodes_gone(LinkMachine* m) {
  enter(m, kPhaseNoModem);
  forget_modem(m);
  set_text(m->address, "");
  pin_guard_nodes_gone(&m->pin);
}

void on_pppd_started(LinkMachine* m, bool forced) {
  enter(m, kPhasePppdStarted);
  m->link_confirmed = 0;
  ++m->pppd_starts;
  if (forced) {
    ++m->forced_restarts;
    m->ppp_restart_count = kRestartGrace;
  }
  set_text(m->address, "");
}

void on_no_address(LinkMachine* m) {
  count_failure(m);
  if (without_configuration(*m)) return;
  enter(m, kPhaseNoAddress);
  set_text(m->address, "");
}

void on_address(LinkMachine* m, const char* address) {
  if (without_configuration(*m)) return;
  show_link(m);
  set_text(m->address, address);
}

void on_probe(LinkMachine* m, bool answered, long mono) {
  if (answered) {
    m->ppp_restart_count = 0;
    m->dns_fail_count = 0;
    m->link_confirmed = 1;
    m->clock.last_answer = mono;
    m->clock.answered = true;
    m->clock.recoveries_quiet = 0;
    pin_guard_answer(&m->pin);
  } else {
    ++m->dns_fail_count;
    count_failure(m);
  }
  if (!without_configuration(*m)) show_link(m);
}

void stamp_since(LinkMachine* m, unsigned long now) {
  if (m->since_due) m->since = now;
  m->since_due = false;
}

void on_recovery(LinkMachine* m) {
  ++m->recoveries;
  ++m->clock.recoveries_quiet;
  pin_guard_reset(&m->pin);
}

void on_at_port(LinkMachine* m, const char* port, const RadioFacts& facts, long mono) {
  set_text(m->at_port, port);
  m->at_port_search_due = false;
  take_radio(m, facts, mono);
}

void on_radio(LinkMachine* m, const RadioFacts& facts, long mono) { take_radio(m, facts, mono); }

bool radio_read_due(const LinkMachine& m, long mono) {
  return m.at_port_search_due || (m.at_port[0] != '\0' && mono - m.radio_read_at >= kRadioReadSeconds);
}

bool forced_restart_due(const LinkMachine& m) { return m.ppp_restart_count > kForcedRestartAbove; }

bool dns_trouble(const LinkMachine& m) { return m.dns_fail_count > kDnsTroubleAbove; }
