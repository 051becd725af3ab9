// The router's uptime, which its `uptime` shows too: many routers have no
// wall clock until NTP has answered, so the status tells time by it.
#pragma once

// Whole seconds since boot.
unsigned long seconds_since_boot();
