#pragma once

// Lets the compiler check the format string of every printf-style function.
#define LINK3G_PRINTF(fmt_index, first_arg) \
  __attribute__((format(printf, fmt_index, first_arg)))
