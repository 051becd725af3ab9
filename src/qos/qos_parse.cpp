#include "qos/qos.h"

#include <ctype.h>
#include <stdint.h>

namespace {

constexpr size_t kTokenMax = 63;

struct QosScan {
  char token[kTokenMax + 1];
  size_t token_len;
  int entry;   // rule being filled
  int commas;  // ',' seen in that rule
};

// The token as atoi reads it (blanks, a sign, digits, then anything),
// refusing a value that does not fit 32 bits.
bool token_value(const QosScan& s, int32_t* value) {
  size_t i = 0;
  while (i < s.token_len && isspace(static_cast<unsigned char>(s.token[i]))) ++i;
  bool negative = i < s.token_len && s.token[i] == '-';
  if (i < s.token_len && (s.token[i] == '-' || s.token[i] == '+')) ++i;
  int64_t v = 0;
  for (; i < s.token_len && isdigit(static_cast<unsigned char>(s.token[i])); ++i) {
    v = v * 10 + (s.token[i] - '0');
    if (v > static_cast<int64_t>(INT32_MAX) + 1) return false;
  }
  v = negative ? -v : v;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// Handles one separator; false on a format error.
bool separator(QosScan* s, char sep, QosRule* table, int count) {
  if (sep == ',' && s->commas == 2) return false;
  if (s->entry >= count) return false;  // an eleventh rule
  int32_t value;
  if (!token_value(*s, &value)) return false;
  QosRule* rule = &table[s->entry];
  if (sep == ';') {
    rule->rate = value;
    ++s->entry;
    s->commas = 0;
  } else {
    (s->commas == 0 ? rule->firstHost : rule->lastHost) = value;
    ++s->commas;
  }
  s->token_len = 0;
  return true;
}

}  // namespace

int qos_parse(const char* rules, size_t len, QosRule* table, int count) {
  QosScan s = {};
  for (size_t i = 0; i < len && rules[i] != '\0'; ++i) {
    char c = rules[i];
    if (c == ',' || c == ';') {
      if (!separator(&s, c, table, count)) return 0;
    } else if (s.token_len < kTokenMax) {
      s.token[s.token_len++] = c;
    } else {
      return 0;  // a token that long is no number we could take
    }
  }
  return 1;
}
