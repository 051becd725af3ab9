#pragma once

// Runs line with "/bin/sh -c" in a child of our own and waits for that
// child only. Returns its wait status, or -1 when it could not be started.
// system() is not used: some C libraries' system() saves and restores the
// SIGINT, SIGQUIT and SIGCHLD dispositions without a lock, which breaks
// when the LED thread and the main thread run commands at the same time.
int run_shell_line(const char* line);
