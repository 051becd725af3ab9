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
  if (s.address[0] != '\0') add(r, ", ppp0 %s", s.address);
  bool ids = s.vendor != 0 || s.product != 0;
  if (ids || s.tty[0] != '\0') add(r, ", modem");
  if (ids) add(r, " %04x:%04x", static_cast<unsigned>(s.vendor), static_cast<unsigned>(s.product));
  if (s.tty[0] != '\0') add(r, " on %s", s.tty);
  if (s.family > 0 && s.family < kDialFamilyEnd) {
    add(r, ", %s", kFamilyTexts[s.family]);
  }
  add(r, "\n");
}

const char* plural(unsigned long n) { return n == 1 ? "" : "s"; }

void add_counts_line(Report* r, const LinkStatus& s, unsigned long now) {
  add(r, "link3g: for ");
  add_duration(r, now > s.since ? now - s.since : 0);
  add(r, ", daemon pid %d, pppd started %lu time%s, %lu forced restart%s, %lu recover%s, %lu unanswered DNS probe%s\n",
      s.pid, s.pppd_starts, plural(s.pppd_starts), s.forced_restarts, plural(s.forced_restarts),
      s.recoveries, s.recoveries == 1 ? "y" : "ies", s.dns_failures, plural(s.dns_failures));
}

}  // namespace

size_t format_status_report(const LinkStatus& status, unsigned long now, const LinkBytes& bytes,
                            char* out, size_t size) {
  if (size == 0) return 0;
  Report r = {out, size, 0};
  out[0] = '\0';
  add_link_line(&r, status);
  add_counts_line(&r, status, now);
  if (bytes.known) {
    add(&r, "link3g: ppp0 received %llu bytes, sent %llu bytes\n", bytes.received, bytes.sent);
  }
  return r.pos;
}
