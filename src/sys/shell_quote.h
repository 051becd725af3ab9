#pragma once

#include <stddef.h>

// Room for any value of up to 63 characters once quoted for the shell
// ('\'' for each quote in it, and the two outer quotes).
constexpr size_t kShellQuotedSize = 4 * 64 + 3;

// Writes value so that the shell passes it on as exactly one word (or as
// nothing, for the empty value) and never interprets it. A value made only
// of characters the shell never interprets (letters, digits and ._,+-:/@=%)
// is copied as it is, so ordinary values give the usual command lines;
// anything else is single-quoted. Returns 1, or 0 (with out empty) when the
// result does not fit size bytes.
int shell_quote(const char* value, char* out, size_t size);

// Reads back one word as shell_quote writes it: plain characters as they
// are, or single-quoted pieces joined by \' for a quote. len bytes of in
// are read; the value goes to out, NUL-terminated. Anything a shell would
// read differently, or that shell_quote never writes (blanks, $, `, ", a
// backslash other than in \', an unclosed quote, a NUL), is refused.
// Returns 1, or 0 (with out empty) when refused or when the value does not
// fit size bytes.
int shell_unquote(const char* in, size_t len, char* out, size_t size);
