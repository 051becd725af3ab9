#include "usb/at_answers.h"

#include <string.h>
#include <strings.h>

namespace {

constexpr int kRssiMax = 31;
constexpr int kDbmAtZero = -113;
constexpr int kCmeSimNotInserted = 10;
constexpr int kNumberMax = 9999;  // no field of these answers is larger

struct Span {
  const char* at;
  size_t len;
};

bool line_end(char c) { return c == '\r' || c == '\n'; }

// The rest of the first line that begins with prefix (case ignored, as
// modems differ), without the prefix; false when no line does.
bool line_after(const char* text, size_t len, const char* prefix, Span* rest) {
  size_t plen = strlen(prefix);
  for (size_t i = 0; i + plen <= len; ++i) {
    if (i > 0 && !line_end(text[i - 1])) continue;
    if (strncasecmp(text + i, prefix, plen) != 0) continue;
    size_t end = i + plen;
    while (end < len && !line_end(text[end]) && text[end] != '\0') ++end;
    *rest = {text + i + plen, end - i - plen};
    return true;
  }
  return false;
}

void skip_blanks(Span* s) {
  while (s->len > 0 && *s->at == ' ') {
    ++s->at;
    --s->len;
  }
}

// A decimal number at the start of s (blanks before it skipped), moving s
// past it; -1 when there is none, or it is out of range.
int take_number(Span* s) {
  skip_blanks(s);
  int value = 0;
  size_t digits = 0;
  while (s->len > 0 && *s->at >= '0' && *s->at <= '9') {
    value = value * 10 + (*s->at - '0');
    if (value > kNumberMax) return -1;
    ++s->at;
    --s->len;
    ++digits;
  }
  return digits > 0 ? value : -1;
}

// Past the next comma; false when there is none.
bool take_comma(Span* s) {
  skip_blanks(s);
  if (s->len == 0 || *s->at != ',') return false;
  ++s->at;
  --s->len;
  return true;
}

bool printable(char c) { return c >= 0x20 && c <= 0x7e; }

// The quoted name at the start of s into name: printable ASCII only, at
// most its room; moves s past the closing quote (or to its end).
void take_name(Span* s, char (&name)[kOperatorSize]) {
  size_t n = 0;
  skip_blanks(s);
  if (s->len == 0 || *s->at != '"') return;
  ++s->at;
  --s->len;
  while (s->len > 0 && *s->at != '"') {
    if (printable(*s->at) && n < sizeof name - 1) name[n++] = *s->at;
    ++s->at;
    --s->len;
  }
  name[n] = '\0';
  if (s->len > 0) {
    ++s->at;
    --s->len;
  }
}

bool is_line(const Span& s, const char* word) { return s.len == strlen(word) && strncasecmp(s.at, word, s.len) == 0; }

// The line (without its ending) that starts at i, and the index past it.
Span line_at(const char* text, size_t len, size_t* i) {
  size_t start = *i;
  while (*i < len && !line_end(text[*i])) ++*i;
  Span line = {text + start, *i - start};
  while (*i < len && line_end(text[*i])) ++*i;
  return line;
}

}  // namespace

AtResult at_final_result(const char* text, size_t len) {
  for (size_t i = 0; i < len;) {
    Span line = line_at(text, len, &i);
    if (is_line(line, "OK")) return kAtOk;
    if (is_line(line, "ERROR")) return kAtError;
    if (line.len >= 10 && (strncasecmp(line.at, "+CME ERROR", 10) == 0 || strncasecmp(line.at, "+CMS ERROR", 10) == 0)) {
      return kAtError;
    }
  }
  return kAtNoAnswer;
}

int parse_csq(const char* text, size_t len, int* dbm) {
  Span s;
  if (!line_after(text, len, "+CSQ:", &s)) return 0;
  int rssi = take_number(&s);
  *dbm = rssi >= 0 && rssi <= kRssiMax ? kDbmAtZero + 2 * rssi : kSignalUnknown;
  return 1;
}

int parse_cops(const char* text, size_t len, char (&name)[kOperatorSize], int* network) {
  name[0] = '\0';
  *network = kNetworkUnknown;
  Span s;
  if (!line_after(text, len, "+COPS:", &s)) return 0;
  // mode, then format and name, then the access technology: each optional.
  if (take_number(&s) < 0 || !take_comma(&s) || take_number(&s) < 0 || !take_comma(&s)) return 1;
  take_name(&s, name);
  if (take_comma(&s)) *network = take_number(&s);
  if (*network < 0) *network = kNetworkUnknown;
  return 1;
}

int parse_creg(const char* text, size_t len, Registration* registration) {
  static const Registration kByStat[] = {kRegNone, kRegHome, kRegSearching, kRegDenied, kRegUnknown, kRegRoaming};
  Span s;
  if (!line_after(text, len, "+CREG:", &s)) return 0;
  int stat = -1;
  if (take_number(&s) >= 0 && take_comma(&s)) stat = take_number(&s);
  *registration = stat >= 0 && stat < static_cast<int>(sizeof kByStat / sizeof kByStat[0]) ? kByStat[stat]
                                                                                            : kRegUnknown;
  return 1;
}

int parse_cpin(const char* text, size_t len, SimState* sim) {
  Span s;
  if (line_after(text, len, "+CPIN:", &s)) {
    skip_blanks(&s);
    if (is_line(s, "READY")) {
      *sim = kSimReady;
    } else if (is_line(s, "SIM PIN")) {
      *sim = kSimPin;
    } else if (is_line(s, "SIM PUK")) {
      *sim = kSimPuk;
    } else {
      *sim = kSimUnknown;
    }
    return 1;
  }
  if (line_after(text, len, "+CME ERROR:", &s)) {
    skip_blanks(&s);
    Span words = s;
    *sim = take_number(&s) == kCmeSimNotInserted || is_line(words, "SIM not inserted") ? kSimAbsent : kSimUnknown;
    return 1;
  }
  return 0;
}

