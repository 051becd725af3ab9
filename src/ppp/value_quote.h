#pragma once

#include <stddef.h>

// Room for a value of up to 63 characters written in either form below.
constexpr size_t kQuotedValueSize = 2 * 64 + 3;

// A value as one word of a pppd options file. A non-empty value without a
// blank, '#' (pppd ends a word there), quote or backslash is written as it
// is; anything else, the empty value included, as one double-quoted word
// with '\' and '"' escaped, the form every pppd from 2.4.4 on reads back
// unchanged. Returns 1, or 0 (out empty) when it does not fit size.
int ppp_option_word(const char* value, char* out, size_t size);

// A value inside a quoted comgt send string: '"', '\' and '^' get a
// backslash (comgt reads "^X" as a control character). Returns 1, or 0 (out
// empty) when it does not fit size.
int comgt_escape(const char* value, char* out, size_t size);

// 1 when value holds a control character (no file line can hold one).
int has_control_char(const char* value);
