#include "sys/hex_digits.h"

namespace {

// The value of one hexadecimal digit, or -1.
int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

size_t parse_hex_digits(const char* text, size_t len, size_t max_digits, unsigned* value) {
  unsigned v = 0;
  size_t n = 0;
  for (; n < len && n < max_digits; ++n) {
    int d = digit_value(text[n]);
    if (d < 0) break;
    v = v * 16 + static_cast<unsigned>(d);
  }
  if (n > 0) *value = v;
  return n;
}
