// Reading hexadecimal digits out of kernel text (USB ids, the status
// file's modem key) without the scanf family, which would bring its whole
// number-scanning machinery into a small static binary.
#pragma once

#include <stddef.h>

// Reads up to max_digits hexadecimal digits (either case) from the start
// of text, at most len bytes, stopping at the first other byte. Returns
// how many were read (0 when text does not start with one), with their
// value in *value; *value is left as it was when none were read. No sign,
// blank or "0x" is taken.
size_t parse_hex_digits(const char* text, size_t len, size_t max_digits, unsigned* value);
