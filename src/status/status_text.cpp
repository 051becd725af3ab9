#include "status/status_text.h"

#include <arpa/inet.h>
#include <limits.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "sys/hex_digits.h"
#include "sys/shell_quote.h"

namespace {

// The words of each state and family, in the enums' order.
const char* const kStateWords[] = {"starting",   "no-modem", "no-family",
                                   "connecting", "up",       "dns-failing"};
static_assert(sizeof kStateWords / sizeof kStateWords[0] == kLinkStateCount, "a word per state");
constexpr int kStateCount = kLinkStateCount;

const char* const kFamilyWords[] = {"", "gsm", "evdo", "td-scdma"};
static_assert(sizeof kFamilyWords / sizeof kFamilyWords[0] == kDialFamilyEnd, "a word per family");
constexpr int kFamilyCount = kDialFamilyEnd;

// A value before quoting: the longest is a tty path.
constexpr size_t kValueSize = kStatusTtySize;
constexpr char kTtyPrefix[] = "/dev/";
constexpr size_t kUsbIdText = 9;  // "%04x:%04x"
constexpr size_t kUsbIdDigits = 4;
constexpr int kMaxUsbId = 0xffff;

// What a key's value is, and so how it is written and how strictly read.
enum ValueKind {
  kStateWord,   // a word of kStateWords
  kFamilyWord,  // a word of kFamilyWords, "" when undecided
  kCount,       // decimal digits, an unsigned long
  kPid,         // decimal digits, 1 .. INT_MAX
  kUsbIds,      // "vvvv:pppp" in lower-case hex, or empty for 0:0
  kTtyPath,     // empty, or a path under /dev/ of plain characters
  kAddress,     // empty, or a dotted quad
};

struct StatusKey {
  const char* key;
  ValueKind kind;
  size_t field;  // offset of the field in LinkStatus (kUsbIds: the vendor's)
};

// The keys, in the order they are written.
const StatusKey kKeys[] = {
    {"state", kStateWord, offsetof(LinkStatus, state)},
    {"since", kCount, offsetof(LinkStatus, since)},
    {"pid", kPid, offsetof(LinkStatus, pid)},
    {"modem", kUsbIds, offsetof(LinkStatus, vendor)},
    {"tty", kTtyPath, offsetof(LinkStatus, tty)},
    {"family", kFamilyWord, offsetof(LinkStatus, family)},
    {"address", kAddress, offsetof(LinkStatus, address)},
    {"pppd_starts", kCount, offsetof(LinkStatus, pppd_starts)},
    {"forced_restarts", kCount, offsetof(LinkStatus, forced_restarts)},
    {"recoveries", kCount, offsetof(LinkStatus, recoveries)},
    {"dns_failures", kCount, offsetof(LinkStatus, dns_failures)},
};
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

// A field by its offset (copied, so that no pointer is cast to a wider
// alignment).
template <typename T>
T get(const LinkStatus& s, size_t field) {
  T v;
  memcpy(&v, reinterpret_cast<const char*>(&s) + field, sizeof v);
  return v;
}
template <typename T>
void put(LinkStatus* s, size_t field, T v) {
  memcpy(reinterpret_cast<char*>(s) + field, &v, sizeof v);
}
const char* text_at(const LinkStatus& s, size_t field) { return reinterpret_cast<const char*>(&s) + field; }
size_t text_size(ValueKind kind) { return kind == kTtyPath ? sizeof LinkStatus::tty : sizeof LinkStatus::address; }

// --- Writing --------------------------------------------------------------

void show_usb_ids(const LinkStatus& s, char* out) {
  if (s.vendor == 0 && s.product == 0) {
    out[0] = '\0';
    return;
  }
  snprintf(out, kValueSize, "%04x:%04x", static_cast<unsigned>(s.vendor) & kMaxUsbId,
           static_cast<unsigned>(s.product) & kMaxUsbId);
}

// The value of key k into out (kValueSize bytes).
void show_value(const StatusKey& k, const LinkStatus& s, char* out) {
  switch (k.kind) {
    case kStateWord: snprintf(out, kValueSize, "%s", link_state_word(get<LinkState>(s, k.field))); break;
    case kFamilyWord: snprintf(out, kValueSize, "%s", family_word(get<int>(s, k.field))); break;
    case kCount: snprintf(out, kValueSize, "%lu", get<unsigned long>(s, k.field)); break;
    case kPid: snprintf(out, kValueSize, "%d", get<int>(s, k.field)); break;
    case kUsbIds: show_usb_ids(s, out); break;
    case kTtyPath:
    case kAddress: snprintf(out, kValueSize, "%s", text_at(s, k.field)); break;
  }
}

// --- Reading, strictly ------------------------------------------------------

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

bool take_usb_ids(const char* v, LinkStatus* s) {
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

bool good_tty(const char* v, size_t len) {
  if (len == 0) return true;
  if (strncmp(v, kTtyPrefix, sizeof kTtyPrefix - 1) != 0 || len == sizeof kTtyPrefix - 1) return false;
  for (const char* p = v; *p != '\0'; ++p) {
    if (!is_path_char(*p)) return false;
  }
  return true;
}

// Empty, or a dotted quad and nothing else.
bool good_address(const char* v, size_t len) {
  struct in_addr a;
  return len == 0 || (strspn(v, "0123456789.") == len && inet_pton(AF_INET, v, &a) == 1);
}

bool take_text(const StatusKey& k, const char* v, LinkStatus* s) {
  size_t len = strlen(v);
  if (len >= text_size(k.kind)) return false;
  if (!(k.kind == kTtyPath ? good_tty(v, len) : good_address(v, len))) return false;
  memcpy(reinterpret_cast<char*>(s) + k.field, v, len + 1);
  return true;
}

// Value v of key k into s; false when it is not well-formed for the key.
bool take_value(const StatusKey& k, const char* v, LinkStatus* s) {
  unsigned long n;
  int i;
  switch (k.kind) {
    case kStateWord:
      if ((i = word_index(v, kStateWords, kStateCount)) < 0) return false;
      put(s, k.field, static_cast<LinkState>(i));
      return true;
    case kFamilyWord:
      if ((i = word_index(v, kFamilyWords, kFamilyCount)) < 0) return false;
      put(s, k.field, i);
      return true;
    case kCount:
      if (!take_number(v, ULONG_MAX, &n)) return false;
      put(s, k.field, n);
      return true;
    case kPid:
      if (!take_number(v, INT_MAX, &n) || n == 0) return false;
      put(s, k.field, static_cast<int>(n));
      return true;
    case kUsbIds: return take_usb_ids(v, s);
    case kTtyPath:
    case kAddress: return take_text(k, v, s);
  }
  return false;
}

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
  return take_value(*key, value, status);
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
    show_value(k, status, value);
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
