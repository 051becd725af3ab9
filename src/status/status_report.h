// What `link3g --cmd status` prints: the status as lines a person reads at
// a glance. Text only, no I/O.
#pragma once

#include <stddef.h>

#include "status/link_status.h"
#include "sys/net_dev.h"

// Writes the report into out (size bytes, cut if need be, always
// terminated) and returns its length. now is seconds since boot.
size_t format_status_report(const LinkStatus& status, unsigned long now, const LinkBytes& bytes,
                            char* out, size_t size);
