#include "status/status_text.h"

#include <stdarg.h>
#include <stdio.h>

#include "sys/printf_check.h"

namespace {

// What each state is called in the report, in LinkState's order.
const char* const kStateTexts[] = {"starting",   "no modem", "no modem family",
                                   "connecting", "up",       "up but DNS does not answer"};
static_assert(sizeof kStateTexts / sizeof kStateTexts[0] == kLinkStateCount, "a text per state");
const char* const kFamilyTexts[] = {"", "GSM", "CDMA EVDO", "TD-SCDMA"};
static_assert(sizeof kFamilyTexts / sizeof kFamilyTexts[0] == kDialFamilyEnd, "a text per family");

constexpr unsigned long kSecondsPerMinute = 60;
constexpr unsigned long kSecondsPerHour = 3600;

struct Report {
  char* out;
  size_t size;
  size_t pos;
};

void add(Report* r, const char* fmt, ...) LINK3G_PRINTF(2, 3);
void add(Report* r, const char* fmt, ...) {
  if (r->pos + 1 >= r->size) return;
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(r->out + r->pos, r->size - r->pos, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  size_t room = r->size - r->pos - 1;
  r->pos += static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room;
}

// h:mm:ss, hours as many as there are.
void add_duration(Report* r, unsigned long seconds) {
  add(r, "%lu:%02lu:%02lu", seconds / kSecondsPerHour, seconds % kSecondsPerHour / kSecondsPerMinute,
      seconds % kSecondsPerMinute);
}

void add_link_line(Report* r, const LinkStatus& s) {
  int state = static_cast<int>(s.state);
  bool known = state >= 0 && state < kLinkStateCount;
  add(r, "link3g: %s since ", known ? kStateTexts[state] : "?");
  add_duration(r, s.since);
  add(r, " (uptime)");
  if (s.address[0] != '\0') add(r, ", %s %s", status_interface(s), s.address);
  bool ids = s.vendor != 0 || s.product != 0;
  if (s.mode == kModeNetwork) {
    add(r, ", network stick");
  } else if (ids || s.tty[0] != '\0') {
    add(r, ", modem");
  }
  if (ids) add(r, " %04x:%04x", static_cast<unsigned>(s.vendor), static_cast<unsigned>(s.product));
  if (s.tty[0] != '\0') add(r, " on %s", s.tty);
  if (s.mode == kModeNetwork) add(r, " on %s", s.interface);
  if (s.family > 0 && s.family < kDialFamilyEnd) {
    add(r, ", %s", kFamilyTexts[s.family]);
  }
  add(r, "\n");
}

const char* plural(unsigned long n) { return n == 1 ? "" : "s"; }

void add_counts_line(Report* r, const LinkStatus& s, unsigned long now) {
  add(r, "link3g: for ");
  add_duration(r, now > s.since ? now - s.since : 0);
  add(r, ", daemon pid %d, %s started %lu time%s, %lu forced restart%s, %lu recover%s, %lu unanswered DNS probe%s\n",
      s.pid, s.mode == kModeNetwork ? "udhcpc" : "pppd", s.pppd_starts, plural(s.pppd_starts), s.forced_restarts, plural(s.forced_restarts),
      s.recoveries, s.recoveries == 1 ? "y" : "ies", s.dns_failures, plural(s.dns_failures));
}

// What the modem said of its radio on its AT port, or why nothing is known.
const char* const kRegistrationTexts[] = {"registration unknown", "registered (home)", "registered (roaming)",
                                          "searching for a network", "registration denied", "not registered"};
static_assert(sizeof kRegistrationTexts / sizeof kRegistrationTexts[0] == kRegistrationCount, "a text each");
const char* const kSimTexts[] = {"SIM unknown", "SIM ready", "SIM wants its PIN", "SIM blocked, wants its PUK",
                                 "no SIM"};
static_assert(sizeof kSimTexts / sizeof kSimTexts[0] == kSimStateCount, "a text each");
const char* const kNetworkTexts[] = {"GSM",  "GSM Compact", "UMTS", "EDGE",       "HSDPA",
                                     "HSUPA", "HSPA",       "LTE",  "EC-GSM-IoT", "NB-IoT"};
constexpr int kNetworkTextCount = sizeof kNetworkTexts / sizeof kNetworkTexts[0];

bool nothing_known(const RadioFacts& f) {
  return f.signal_dbm == kSignalUnknown && f.operator_name[0] == '\0' && f.registration == kRegUnknown &&
         f.network == kNetworkUnknown && f.sim == kSimUnknown;
}

void add_radio_line(Report* r, const LinkStatus& s) {
  const RadioFacts& f = s.radio;
  if (s.at_port[0] == '\0') {
    add(r, "link3g: no AT port to ask\n");
    return;
  }
  if (nothing_known(f)) {
    add(r, "link3g: the modem's AT port does not answer\n");
    return;
  }
  if (f.signal_dbm == kSignalUnknown) {
    add(r, "link3g: signal unknown");
  } else {
    add(r, "link3g: signal %d dBm", f.signal_dbm);
  }
  if (f.operator_name[0] == '\0') {
    add(r, ", no operator");
  } else {
    add(r, ", operator %s", f.operator_name);
  }
  int reg = static_cast<int>(f.registration);
  add(r, ", %s", reg >= 0 && reg < kRegistrationCount ? kRegistrationTexts[reg] : kRegistrationTexts[0]);
  add(r, ", %s", f.network >= 0 && f.network < kNetworkTextCount ? kNetworkTexts[f.network] : "network unknown");
  int sim = static_cast<int>(f.sim);
  add(r, ", %s\n", sim >= 0 && sim < kSimStateCount ? kSimTexts[sim] : kSimTexts[0]);
}

}  // namespace

const char* status_interface(const LinkStatus& s) {
  return s.mode == kModeNetwork && s.interface[0] != '\0' ? s.interface : "ppp0";
}

size_t format_status_report(const LinkStatus& status, unsigned long now, const LinkBytes& bytes,
                            char* out, size_t size) {
  if (size == 0) return 0;
  Report r = {out, size, 0};
  out[0] = '\0';
  add_link_line(&r, status);
  add_counts_line(&r, status, now);
  add_radio_line(&r, status);
  if (bytes.known) {
    add(&r, "link3g: %s received %llu bytes, sent %llu bytes\n", status_interface(status), bytes.received,
        bytes.sent);
  }
  return r.pos;
}
