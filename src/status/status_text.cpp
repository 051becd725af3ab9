#include "status/status_text.h"

#include <arpa/inet.h>
#include <limits.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "sys/hex_digits.h"
#include "sys/if_addr.h"
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

// The radio's words, in the enums' order; "" unknown.
const char* const kRegistrationWords[] = {"", "home", "roaming", "searching", "denied", "unregistered"};
static_assert(sizeof kRegistrationWords / sizeof kRegistrationWords[0] == kRegistrationCount, "a word each");
const char* const kSimWords[] = {"", "ready", "pin", "puk", "absent"};
static_assert(sizeof kSimWords / sizeof kSimWords[0] == kSimStateCount, "a word each");
// The access technologies of AT+COPS, from kNetworkUnknown (-1) on.
const char* const kNetworkWords[] = {"",      "GSM",   "GSM-compact", "UMTS", "EDGE",       "HSDPA",
                                     "HSUPA", "HSPA",  "LTE",         "EC-GSM-IoT", "NB-IoT"};
constexpr int kNetworkCount = sizeof kNetworkWords / sizeof kNetworkWords[0];
const char* const kModeWords[] = {"ppp", "network"};
static_assert(sizeof kModeWords / sizeof kModeWords[0] == kLinkModeCount, "a word per mode");
static_assert(kStatusIfNameSize == kIfNameSize, "an interface name fits");

// A value before quoting: the longest is an operator's name.
constexpr size_t kValueSize = 64;
static_assert(kValueSize > kStatusTtySize && kValueSize > kOperatorSize, "room for every value");
constexpr int kSignalLowest = -113;
constexpr int kSignalHighest = -51;
constexpr char kTtyPrefix[] = "/dev/";
constexpr size_t kUsbIdText = 9;  // "%04x:%04x"
constexpr size_t kUsbIdDigits = 4;
constexpr int kMaxUsbId = 0xffff;

// What a key's value is, and so how it is written and how strictly read.
enum ValueKind {
  kCount,       // decimal digits, an unsigned long
  kPid,         // decimal digits, 1 .. INT_MAX
  kUsbIds,      // "vvvv:pppp" in lower-case hex, or empty for 0:0
  kTtyPath,     // empty, or a path under /dev/ of plain characters
  kAddress,     // empty, or a dotted quad
  kWord,        // a word of the key's table (an int field: the word's index + first)
  kSignal,      // empty for unknown, or -113 .. -51 (dBm, odd)
  kOperator,    // printable ASCII, at most 32 bytes
  kIfName,      // empty, or an interface name of plain characters
};

struct WordTable {
  const char* const* words;
  int count;
  int first;  // the field's value of words[0]
};
const WordTable kStateTable = {kStateWords, kStateCount, 0};
const WordTable kFamilyTable = {kFamilyWords, kFamilyCount, 0};  // "" when undecided
const WordTable kRegistrationTable = {kRegistrationWords, kRegistrationCount, 0};
const WordTable kSimTable = {kSimWords, kSimStateCount, 0};
const WordTable kNetworkTable = {kNetworkWords, kNetworkCount, kNetworkUnknown};
const WordTable kModeTable = {kModeWords, kLinkModeCount, 0};

struct StatusKey {
  const char* key;
  ValueKind kind;
  size_t field;  // offset of the field in LinkStatus (kUsbIds: the vendor's)
  const WordTable* words = nullptr;  // kWord's
};

// The keys, in the order they are written.
const StatusKey kKeys[] = {
    {"state", kWord, offsetof(LinkStatus, state), &kStateTable},
    {"since", kCount, offsetof(LinkStatus, since)},
    {"pid", kPid, offsetof(LinkStatus, pid)},
    {"modem", kUsbIds, offsetof(LinkStatus, vendor)},
    {"tty", kTtyPath, offsetof(LinkStatus, tty)},
    {"family", kWord, offsetof(LinkStatus, family), &kFamilyTable},
    {"address", kAddress, offsetof(LinkStatus, address)},
    {"pppd_starts", kCount, offsetof(LinkStatus, pppd_starts)},
    {"forced_restarts", kCount, offsetof(LinkStatus, forced_restarts)},
    {"recoveries", kCount, offsetof(LinkStatus, recoveries)},
    {"dns_failures", kCount, offsetof(LinkStatus, dns_failures)},
    // The radio's keys: a daemon of an earlier release writes none of them.
    {"at_port", kTtyPath, offsetof(LinkStatus, at_port)},
    {"signal_dbm", kSignal, offsetof(LinkStatus, radio.signal_dbm)},
    {"operator", kOperator, offsetof(LinkStatus, radio.operator_name)},
    {"registration", kWord, offsetof(LinkStatus, radio.registration), &kRegistrationTable},
    {"network", kWord, offsetof(LinkStatus, radio.network), &kNetworkTable},
    {"sim", kWord, offsetof(LinkStatus, radio.sim), &kSimTable},
    // The network way's keys: without them the link is a PPP one.
    {"mode", kWord, offsetof(LinkStatus, mode), &kModeTable},
    {"interface", kIfName, offsetof(LinkStatus, interface)},
};
static_assert(sizeof(LinkState) == sizeof(int) && sizeof(Registration) == sizeof(int) &&
                  sizeof(SimState) == sizeof(int) && sizeof(LinkMode) == sizeof(int),
              "word fields are ints");
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];
// Every key before the radio's is in every file.
constexpr size_t kRequiredKeys = 11;

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
size_t text_size(ValueKind kind) {
  switch (kind) {
    case kTtyPath: return kStatusTtySize;
    case kOperator: return kOperatorSize;
    case kIfName: return kStatusIfNameSize;
    default: return kAddrFieldSize;
  }
}

const char* word_of(const WordTable& t, int value) {
  int i = value - t.first;
  return i >= 0 && i < t.count ? t.words[i] : "";
}

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
    case kCount: snprintf(out, kValueSize, "%lu", get<unsigned long>(s, k.field)); break;
    case kPid: snprintf(out, kValueSize, "%d", get<int>(s, k.field)); break;
    case kUsbIds: show_usb_ids(s, out); break;
    case kTtyPath:
    case kAddress:
    case kOperator:
    case kIfName: snprintf(out, kValueSize, "%s", text_at(s, k.field)); break;
    case kWord: snprintf(out, kValueSize, "%s", word_of(*k.words, get<int>(s, k.field))); break;
    case kSignal: {
      int dbm = get<int>(s, k.field);
      if (dbm == kSignalUnknown) {
        out[0] = '\0';
      } else {
        snprintf(out, kValueSize, "%d", dbm);
      }
      break;
    }
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

// Printable ASCII (the file as a whole has no control bytes).
bool good_operator(const char* v, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    if (static_cast<unsigned char>(v[i]) > 0x7e) return false;
  }
  return true;
}

bool good_text(ValueKind kind, const char* v, size_t len) {
  switch (kind) {
    case kTtyPath: return good_tty(v, len);
    case kOperator: return good_operator(v, len);
    case kIfName: return len == 0 || ifname_plain(v);
    default: return good_address(v, len);
  }
}

// Empty, or "-" and the digits of a dBm value AT+CSQ can give.
bool take_signal(const char* v, int* dbm) {
  unsigned long n;
  if (*v == '\0') {
    *dbm = kSignalUnknown;
    return true;
  }
  if (*v != '-' || !take_number(v + 1, static_cast<unsigned long>(-kSignalLowest), &n)) return false;
  int value = -static_cast<int>(n);
  if (value < kSignalLowest || value > kSignalHighest || (value - kSignalLowest) % 2 != 0) return false;
  *dbm = value;
  return true;
}

bool take_text(const StatusKey& k, const char* v, LinkStatus* s) {
  size_t len = strlen(v);
  if (len >= text_size(k.kind)) return false;
  if (!good_text(k.kind, v, len)) return false;
  memcpy(reinterpret_cast<char*>(s) + k.field, v, len + 1);
  return true;
}

// Value v of key k into s; false when it is not well-formed for the key.
bool take_value(const StatusKey& k, const char* v, LinkStatus* s) {
  unsigned long n;
  int i;
  switch (k.kind) {
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
    case kAddress:
    case kOperator:
    case kIfName: return take_text(k, v, s);
    case kWord:
      if ((i = word_index(v, k.words->words, k.words->count)) < 0) return false;
      put(s, k.field, i + k.words->first);
      return true;
    case kSignal: {
      int dbm;
      if (!take_signal(v, &dbm)) return false;
      put(s, k.field, dbm);
      return true;
    }
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
  radio_facts_clear(&parsed.radio);
  bool seen[kKeyCount] = {};
  for (size_t at = 0; at < len;) {
    const char* nl = static_cast<const char*>(memchr(text + at, '\n', len - at));
    size_t line_len = static_cast<size_t>(nl - (text + at));
    if (!take_line(text + at, line_len, &parsed, seen)) return 0;
    at += line_len + 1;
  }
  for (size_t i = 0; i < kRequiredKeys; ++i) {
    if (!seen[i]) return 0;
  }
  *status = parsed;
  return 1;
}
