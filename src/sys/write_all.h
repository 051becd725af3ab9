// Writing a whole buffer to a descriptor, through short writes and signals.
#pragma once

#include <stddef.h>

// Writes all len bytes of text to fd. Returns 0, or the errno of the write
// that failed (ENOSPC when a write took nothing).
int write_all(int fd, const char* text, size_t len);
