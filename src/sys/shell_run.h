#pragma once

#include "sys/printf_check.h"

// Formats a command line (cut after 1023 characters) and runs it with
// /bin/sh -c, waiting for the shell. Returns the shell's wait status, or -1
// when no shell could be started. A line ending in "&" returns as soon as
// the shell has put its job in the background. Safe from several threads.
int doSystemCmd(const char* fmt, ...) LINK3G_PRINTF(1, 2);

// Runs line with "/bin/sh -c" in a child of our own and waits for that
// child only. Returns its wait status, or -1 when it could not be started.
// system() is not used: some C libraries' system() saves and restores the
// SIGINT, SIGQUIT and SIGCHLD dispositions without a lock, which breaks
// when the LED thread and the main thread run commands at the same time.
int run_shell_line(const char* line);
