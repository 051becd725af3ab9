#include "status/status_text.h"

#include <arpa/inet.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "sys/hex_digits.h"
#include "sys/shell_quote.h"

namespace {

const char* const kStateWords[] = {"starting",   "no-modem", "no-family",
                                   "connecting", "up",       "dns-failing"};
constexpr int kStateCount = static_cast<int>(sizeof kStateWords / sizeof kStateWords[0]);

const char* const kFamilyWords[] = {"", "gsm", "evdo", "td-scdma"};
constexpr int kFamilyCount = static_cast<int>(sizeof kFamilyWords / sizeof kFamilyWords[0]);

// A value before quoting: the longest is a tty path.
constexpr size_t kValueSize = kStatusTtySize;
constexpr char kTtyPrefix[] = "/dev/";
constexpr size_t kUsbIdText = 9;  // "%04x:%04x"
constexpr size_t kUsbIdDigits = 4;
constexpr int kMaxUsbId = 0xffff;

// --- Values: one writer and one strict reader per kind -------------------

void show_number(unsigned long n, char* out) { snprintf(out, kValueSize, "%lu", n); }

// Decimal digits only, no sign, no blank, at most max.
bool take_number(const char* text, unsigned long max, unsigned long* n) {
  if (*text == '\0') return false;
  unsigned long v = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    unsigned long digit = static_cast<unsigned long>(*p - '0');
    if (v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *n = v;
  return true;
}

int word_index(const char* text, const char* const* words, int count) {
  for (int i = 0; i < count; ++i) {
    if (strcmp(text, words[i]) == 0) return i;
  }
  return -1;
}

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// The path characters a tty node name is made of.
bool is_path_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '/' || c == '_' || c == '-' || c == '.';
}

// --- The keys, in the order they are written ------------------------------

void show_state(const LinkStatus& s, char* out) { snprintf(out, kValueSize, "%s", link_state_word(s.state)); }
bool take_state(const char* v, LinkStatus* s) {
  int i = word_index(v, kStateWords, kStateCount);
  if (i < 0) return false;
  s->state = static_cast<LinkState>(i);
  return true;
}

void show_since(const LinkStatus& s, char* out) { show_number(s.since, out); }
bool take_since(const char* v, LinkStatus* s) { return take_number(v, ULONG_MAX, &s->since); }

void show_pid(const LinkStatus& s, char* out) { snprintf(out, kValueSize, "%d", s.pid); }
bool take_pid(const char* v, LinkStatus* s) {
  unsigned long pid;
  if (!take_number(v, INT_MAX, &pid) || pid == 0) return false;
  s->pid = static_cast<int>(pid);
  return true;
}

void show_modem(const LinkStatus& s, char* out) {
  bool known = s.vendor != 0 || s.product != 0;
  if (known) {
    snprintf(out, kValueSize, "%04x:%04x", static_cast<unsigned>(s.vendor) & kMaxUsbId,
             static_cast<unsigned>(s.product) & kMaxUsbId);
  } else {
    out[0] = '\0';
  }
}
bool take_modem(const char* v, LinkStatus* s) {
  if (*v == '\0') {
    s->vendor = s->product = 0;
    return true;
  }
  if (strlen(v) != kUsbIdText || v[4] != ':') return false;
  for (size_t i = 0; i < kUsbIdText; ++i) {
    if (i != 4 && !is_lower_hex(v[i])) return false;
  }
  unsigned vendor, product;
  if (parse_hex_digits(v, kUsbIdDigits, kUsbIdDigits, &vendor) != kUsbIdDigits ||
      parse_hex_digits(v + kUsbIdDigits + 1, kUsbIdDigits, kUsbIdDigits, &product) != kUsbIdDigits) {
    return false;
  }
  s->vendor = static_cast<int>(vendor);
  s->product = static_cast<int>(product);
  return true;
}

void show_tty(const LinkStatus& s, char* out) { snprintf(out, kValueSize, "%s", s.tty); }
bool take_tty(const char* v, LinkStatus* s) {
  size_t len = strlen(v);
  if (len >= sizeof s->tty) return false;
  if (len > 0) {
    if (strncmp(v, kTtyPrefix, sizeof kTtyPrefix - 1) != 0 || len == sizeof kTtyPrefix - 1) return false;
    for (const char* p = v; *p != '\0'; ++p) {
      if (!is_path_char(*p)) return false;
    }
  }
  memcpy(s->tty, v, len + 1);
  return true;
}

void show_family(const LinkStatus& s, char* out) { snprintf(out, kValueSize, "%s", family_word(s.family)); }
bool take_family(const char* v, LinkStatus* s) {
  int i = word_index(v, kFamilyWords, kFamilyCount);
  if (i < 0) return false;
  s->family = i;
  return true;
}

void show_address(const LinkStatus& s, char* out) { snprintf(out, kValueSize, "%s", s.address); }
// Empty, or a dotted quad and nothing else.
bool take_address(const char* v, LinkStatus* s) {
  size_t len = strlen(v);
  if (len >= sizeof s->address) return false;
  struct in_addr a;
  if (len > 0 && (strspn(v, "0123456789.") != len || inet_pton(AF_INET, v, &a) != 1)) return false;
  memcpy(s->address, v, len + 1);
  return true;
}

void show_starts(const LinkStatus& s, char* out) { show_number(s.pppd_starts, out); }
bool take_starts(const char* v, LinkStatus* s) { return take_number(v, ULONG_MAX, &s->pppd_starts); }

void show_forced(const LinkStatus& s, char* out) { show_number(s.forced_restarts, out); }
bool take_forced(const char* v, LinkStatus* s) { return take_number(v, ULONG_MAX, &s->forced_restarts); }

void show_recoveries(const LinkStatus& s, char* out) { show_number(s.recoveries, out); }
bool take_recoveries(const char* v, LinkStatus* s) { return take_number(v, ULONG_MAX, &s->recoveries); }

void show_dns(const LinkStatus& s, char* out) { show_number(s.dns_failures, out); }
bool take_dns(const char* v, LinkStatus* s) { return take_number(v, ULONG_MAX, &s->dns_failures); }

struct StatusKey {
  const char* key;
  void (*show)(const LinkStatus&, char* out);  // kValueSize bytes
  bool (*take)(const char* value, LinkStatus*);
};

const StatusKey kKeys[] = {
    {"state", show_state, take_state},
    {"since", show_since, take_since},
    {"pid", show_pid, take_pid},
    {"modem", show_modem, take_modem},
    {"tty", show_tty, take_tty},
    {"family", show_family, take_family},
    {"address", show_address, take_address},
    {"pppd_starts", show_starts, take_starts},
    {"forced_restarts", show_forced, take_forced},
    {"recoveries", show_recoveries, take_recoveries},
    {"dns_failures", show_dns, take_dns},
};
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

const StatusKey* key_of(const char* name, size_t len, size_t* index) {
  for (size_t i = 0; i < kKeyCount; ++i) {
    if (strlen(kKeys[i].key) == len && memcmp(kKeys[i].key, name, len) == 0) {
      *index = i;
      return &kKeys[i];
    }
  }
  return nullptr;
}

bool has_control_byte(const char* text, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\n') || c == 0x7f) return true;
  }
  return false;
}

// One "key=value" line (without its newline); marks the key seen.
bool take_line(const char* line, size_t len, LinkStatus* status, bool* seen) {
  const char* eq = static_cast<const char*>(memchr(line, '=', len));
  if (eq == nullptr) return false;
  size_t index;
  const StatusKey* key = key_of(line, static_cast<size_t>(eq - line), &index);
  if (key == nullptr || seen[index]) return false;
  char value[kValueSize];
  size_t value_len = len - static_cast<size_t>(eq - line) - 1;
  if (!shell_unquote(eq + 1, value_len, value, sizeof value)) return false;
  seen[index] = true;
  return key->take(value, status);
}

}  // namespace

const char* link_state_word(LinkState state) {
  int i = static_cast<int>(state);
  return i >= 0 && i < kStateCount ? kStateWords[i] : "";
}

const char* family_word(int family) {
  return family > 0 && family < kFamilyCount ? kFamilyWords[family] : "";
}

size_t format_status_text(const LinkStatus& status, char* out, size_t size) {
  if (size == 0) return 0;
  size_t pos = 0;
  for (const StatusKey& k : kKeys) {
    char value[kValueSize], quoted[kShellQuotedSize];
    k.show(status, value);
    int n = shell_quote(value, quoted, sizeof quoted)
                ? snprintf(out + pos, size - pos, "%s=%s\n", k.key, quoted)
                : -1;
    if (n < 0 || static_cast<size_t>(n) >= size - pos) {
      out[0] = '\0';
      return 0;
    }
    pos += static_cast<size_t>(n);
  }
  return pos;
}

int parse_status_text(const char* text, size_t len, LinkStatus* status) {
  if (len == 0 || text[len - 1] != '\n' || has_control_byte(text, len)) return 0;
  LinkStatus parsed;
  memset(&parsed, 0, sizeof parsed);
  bool seen[kKeyCount] = {};
  for (size_t at = 0; at < len;) {
    const char* nl = static_cast<const char*>(memchr(text + at, '\n', len - at));
    size_t line_len = static_cast<size_t>(nl - (text + at));
    if (!take_line(text + at, line_len, &parsed, seen)) return 0;
    at += line_len + 1;
  }
  for (bool s : seen) {
    if (!s) return 0;
  }
  *status = parsed;
  return 1;
}
