// What `link3g --cmd status` prints: the status as lines a person reads at
// a glance. Text only, no I/O.
#pragma once

#include <stddef.h>

#include "status/link_status.h"

// Bytes ppp0 has received and sent, as the kernel counts them.
struct LinkBytes {
  int known;  // 0 when ppp0 is not listed
  unsigned long long received;
  unsigned long long sent;
};

// Writes the report into out (size bytes, cut if need be, always
// terminated) and returns its length. now is seconds since boot.
size_t format_status_report(const LinkStatus& status, unsigned long now, const LinkBytes& bytes,
                            char* out, size_t size);
