// The 3g daemon's status file, published from the link's state: the whole
// file is written again whenever what it shows changes, and only then, so
// that a pass that changes nothing costs nothing. Main thread only.
#pragma once

#include "status/link_status.h"

// Writes status to the status file when it differs from what was last
// written there. A write that fails costs one message (repeated only after
// a write has succeeded again) and stays due: the next call tries again.
void status_publish(const LinkStatus& status);
