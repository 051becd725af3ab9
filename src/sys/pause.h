#pragma once

#include <time.h>

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

// A wait for fd that may be taken up again after it ended readable (a
// datagram that was not the one waited for): each part waits for what is
// left of the time. The first part costs no clock reading beyond the
// deadline's own.
struct ReadableWait {
  int fd;
  struct timespec deadline;  // monotonic
  struct timespec left;      // as of the last look
  bool left_known;
};
void readable_wait_begin(ReadableWait* w, int fd, unsigned seconds);
// 1 readable, 0 time's up, -1 an error other than an interruption.
int readable_wait_next(ReadableWait* w);

// Whole seconds of the monotonic clock: for measuring how long something
// lasted, whatever the wall clock does (a router often sets it late).
long monotonic_seconds();
