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
