#include "monitor/link_recovery.h"

#include <stdio.h>
#include <string.h>

#include "monitor/link_machine.h"
#include "usb/usb_reset.h"

namespace {

void print_reset(unsigned long quiet, const char* why, const UsbResetReport& r) {
  printf("link3g: the link is stuck, no DNS answer for %lu s (%s): ", quiet, why);
  unsigned vendor = static_cast<unsigned>(r.device.ids.vendor) & 0xffffU;
  unsigned product = static_cast<unsigned>(r.device.ids.product) & 0xffffU;
  switch (r.result) {
    case kResetDone:
      printf("reset the stick %04x:%04x, bus %d device %d.\n", vendor, product, r.device.bus,
             r.device.device);
      break;
    case kResetNoDevice:
      printf("no single USB stick to reset; bringing it up again.\n");
      break;
    case kResetAmbiguous:
      printf("%d USB devices are %04x:%04x, none is reset; bringing it up again.\n", r.fitting, vendor,
             product);
      break;
    case kResetOpenFailed:
      printf("cannot open %s of the stick %04x:%04x (%s); bringing it up again.\n", r.node, vendor,
             product, strerror(r.error));
      break;
    case kResetRefused:
      printf("the reset of the stick %04x:%04x, bus %d device %d, was refused (%s); bringing it up again.\n",
             vendor, product, r.device.bus, r.device.device, strerror(r.error));
      break;
  }
}

}  // namespace

bool pin_withheld(const PinGuard& g, bool recovery) { return g.blocked || (!g.proven && (recovery || g.awaiting)); }

void pin_guard_reset(PinGuard* g) {
  g->awaiting = true;
  g->said = false;
}

void pin_guard_bringup(PinGuard* g, bool found, bool record_read) {
  if (found) g->awaiting = false;
  if (record_read) g->proven = true;
}

void pin_guard_answer(PinGuard* g) { g->proven = true; }

void pin_guard_nodes_gone(PinGuard* g) {
  if (g->awaiting) return;  // a reset is no new SIM
  g->proven = false;
  g->blocked = false;
  g->blocked_said = false;
}

void pin_guard_puk(PinGuard* g) { g->blocked = true; }

bool reset_stuck_stick(LinkMachine* m, unsigned long quiet) {
  UsbResetReport report;
  reset_usb_stick(m->stick, &report);
  print_reset(quiet, stuck_reason(m->phase, m->mode), report);
  on_recovery(m);
  return report.result == kResetDone;
}

const char* bringup_pin(LinkMachine* m, const char* pin, bool recovery) {
  if (pin[0] == '\0' || !pin_withheld(m->pin, recovery)) return pin;
  if (m->pin.blocked) {
    if (!m->pin.blocked_said) {
      printf("link3g: the SIM is blocked and needs its PUK: no bring-up gets the PIN until the stick is "
             "pulled out.\n");
    }
    m->pin.blocked_said = true;
    return "";
  }
  if (!m->pin.said) {
    printf("link3g: the SIM PIN is withheld from this bring-up: it has not been proven on this SIM "
           "(no operator record was read, no DNS probe answered).\n");
  }
  m->pin.said = true;
  return "";
}

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
