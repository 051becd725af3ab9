#pragma once

// Waits that last their full time. Once the daemon has installed its signal
// handlers, every command that ends delivers SIGCHLD, which cuts sleep(),
// usleep(), nanosleep() and poll() short with EINTR whatever SA_RESTART
// says; these helpers resume with the time that remains, measured on the
// monotonic clock.

void wait_seconds(unsigned seconds);
void wait_microseconds(unsigned long micros);

// Waits up to seconds for fd to become readable. Returns 1 when it is, 0 on
// time-out, -1 on an error other than an interruption.
int wait_readable(int fd, unsigned seconds);

// Whole seconds of the monotonic clock: for measuring how long something
// lasted, whatever the wall clock does (a router often sets it late).
long monotonic_seconds();
