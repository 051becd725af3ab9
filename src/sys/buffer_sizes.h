// Buffer widths shared by more than one file. Widths used in one file only
// are named there.
#pragma once

#include <stddef.h>

// Command lines handed to the shell: at most 1023 characters and the NUL.
constexpr size_t kCmdBufSize = 1024;

// Dotted-decimal IPv4 text fields of callers (24 bytes; 16 would do).
constexpr size_t kAddrFieldSize = 24;
