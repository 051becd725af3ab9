// Shell and system probes: how the rest of link3g acts on the system and
// looks at it. None of these print anything.
#pragma once

#include "sys/printf_check.h"

// Formats a command line (cut after 1023 characters) and runs it with
// /bin/sh -c, waiting for the shell. Returns the shell's wait status, or -1
// when no shell could be started. A line ending in "&" returns as soon as
// the shell has put its job in the background. Safe from several threads.
int doSystemCmd(const char* fmt, ...) LINK3G_PRINTF(1, 2);

// 1 when path can be opened for reading, else 0. A device node whose device
// has gone counts as absent, a directory as present.
int CheckFileExist(const char* path);

// 1 when /proc/modules lists a module called name (underscore form).
int is_module_exist(const char* name);

// One step of a scan of /proc that is resumed by the next call: the pid of
// the next process called name (case ignored), 0 at the end of /proc.
// Main thread only.
int get_proc_pid_self(const char* name);

// The pid of a running process called name, or 0 after ten failed scans
// (about 50 ms). Main thread only.
int get_proc_pid(const char* name);

// As get_proc_pid, but first looks at last_pid, the answer of an earlier
// call: while that process still runs under name, it is the answer at the
// price of reading one file, with no scan of /proc. Otherwise (last_pid 0,
// gone, or now another program's) get_proc_pid answers. Main thread only.
int get_proc_pid_again(const char* name, int last_pid);

// IPv4 address of ifname as dotted-decimal text into addr (at least 16
// bytes). Note the opposite conventions: getIfIp returns 0 on success and
// -1 otherwise; GetIf_stat returns 1 on success and 0 otherwise. addr is
// left untouched on failure.
int getIfIp(const char* ifname, char* addr);
int GetIf_stat(const char* ifname, char* addr);
