#include "sys/pause.h"

#include <errno.h>
#include <time.h>
#include <poll.h>

namespace {

constexpr long kNanosPerSecond = 1000000000L;
constexpr long kNanosPerMicro = 1000L;
constexpr long kNanosPerMilli = 1000000L;
constexpr int kMillisPerSecond = 1000;
// Longest single poll(): its time-out is an int of milliseconds.
constexpr time_t kLongestPollSeconds = 86400;

struct timespec now_monotonic() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts;
}

// Seconds and nanoseconds are kept apart: on a 32-bit router, 64-bit
// divisions would need the compiler's helper library.
struct timespec add_time(struct timespec t, time_t seconds, long nanos) {
  t.tv_sec += seconds + nanos / kNanosPerSecond;
  t.tv_nsec += nanos % kNanosPerSecond;
  if (t.tv_nsec >= kNanosPerSecond) {
    t.tv_nsec -= kNanosPerSecond;
    ++t.tv_sec;
  }
  return t;
}

// Time left until deadline; false when it has passed.
bool remaining(const struct timespec& deadline, struct timespec* left) {
  struct timespec now = now_monotonic();
  left->tv_sec = deadline.tv_sec - now.tv_sec;
  left->tv_nsec = deadline.tv_nsec - now.tv_nsec;
  if (left->tv_nsec < 0) {
    left->tv_nsec += kNanosPerSecond;
    --left->tv_sec;
  }
  return left->tv_sec > 0 || (left->tv_sec == 0 && left->tv_nsec > 0);
}

// poll()'s time-out for what is left: rounded up, so that a wait never
// ends just before the deadline and spins; capped (the caller waits again
// for the rest).
int poll_millis(const struct timespec& left) {
  if (left.tv_sec >= kLongestPollSeconds) {
    return static_cast<int>(kLongestPollSeconds * kMillisPerSecond);
  }
  return static_cast<int>(left.tv_sec * kMillisPerSecond +
                          (left.tv_nsec + kNanosPerMilli - 1) / kNanosPerMilli);
}

void wait_until(const struct timespec& deadline) {
  struct timespec left;
  while (remaining(deadline, &left)) nanosleep(&left, nullptr);
}

}  // namespace

long monotonic_seconds() { return static_cast<long>(now_monotonic().tv_sec); }

void wait_seconds(unsigned seconds) {
  wait_until(add_time(now_monotonic(), static_cast<time_t>(seconds), 0));
}

void wait_microseconds(unsigned long micros) {
  constexpr unsigned long kMicrosPerSecond = 1000000UL;
  wait_until(add_time(now_monotonic(), static_cast<time_t>(micros / kMicrosPerSecond),
                      static_cast<long>(micros % kMicrosPerSecond) * kNanosPerMicro));
}

void readable_wait_begin(ReadableWait* w, int fd, unsigned seconds) {
  w->fd = fd;
  w->deadline = add_time(now_monotonic(), static_cast<time_t>(seconds), 0);
  w->left = {static_cast<time_t>(seconds), 0};
  w->left_known = true;
}

int readable_wait_next(ReadableWait* w) {
  if (!w->left_known && !remaining(w->deadline, &w->left)) return 0;
  for (;;) {
    // poll() rather than select(): any descriptor number will do, where an
    // fd_set ends at FD_SETSIZE.
    struct pollfd watched = {w->fd, POLLIN, 0};
    int rc = poll(&watched, 1, poll_millis(w->left));
    if (rc > 0) {
      w->left_known = false;
      return 1;
    }
    if (rc < 0 && errno != EINTR) return -1;
    if (!remaining(w->deadline, &w->left)) return 0;
  }
}

int wait_readable(int fd, unsigned seconds) {
  ReadableWait w;
  readable_wait_begin(&w, fd, seconds);
  return readable_wait_next(&w);
}
