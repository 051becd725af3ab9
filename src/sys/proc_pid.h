// Finding a running process by its name, through /proc.
#pragma once

// One step of a scan of /proc that is resumed by the next call: the pid of
// the next process called name (case ignored), 0 at the end of /proc.
// Main thread only.
int get_proc_pid_self(const char* name);

// The pid of a running process called name, or 0 after ten failed scans
// (about 50 ms). Main thread only.
int get_proc_pid(const char* name);

// As get_proc_pid, but first looks at last_pid, the answer of an earlier
// call: while that process still runs under name, it is the answer at the
// price of one read of its stat file, held open from one call to the next
// (close-on-exec), with no scan of /proc. Otherwise (last_pid 0, gone, or
// now another program's) get_proc_pid answers. Main thread only.
int get_proc_pid_again(const char* name, int last_pid);
