#include "sys/uptime.h"

#include <sys/sysinfo.h>

// sysinfo() gives the kernel's own count since boot, the same that
// /proc/uptime and `uptime` show, so the status's times can be set beside
// theirs. 0 should the call ever fail: a time, never garbage.
unsigned long seconds_since_boot() {
  struct sysinfo info;
  if (sysinfo(&info) != 0) return 0;
  return static_cast<unsigned long>(info.uptime);
}
