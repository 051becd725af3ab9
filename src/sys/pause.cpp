#include "sys/pause.h"

#include <errno.h>
#include <time.h>
#include <sys/select.h>

namespace {

constexpr long kNanosPerSecond = 1000000000L;
constexpr long kNanosPerMicro = 1000L;

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

void wait_until(const struct timespec& deadline) {
  struct timespec left;
  while (remaining(deadline, &left)) nanosleep(&left, nullptr);
}

}  // namespace

void wait_seconds(unsigned seconds) {
  wait_until(add_time(now_monotonic(), static_cast<time_t>(seconds), 0));
}

void wait_microseconds(unsigned long micros) {
  constexpr unsigned long kMicrosPerSecond = 1000000UL;
  wait_until(add_time(now_monotonic(), static_cast<time_t>(micros / kMicrosPerSecond),
                      static_cast<long>(micros % kMicrosPerSecond) * kNanosPerMicro));
}

int wait_readable(int fd, unsigned seconds) {
  struct timespec deadline = add_time(now_monotonic(), static_cast<time_t>(seconds), 0);
  struct timespec left = {static_cast<time_t>(seconds), 0};
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    struct timeval tv = {left.tv_sec, static_cast<suseconds_t>(left.tv_nsec / kNanosPerMicro)};
    int rc = select(fd + 1, &readable, nullptr, nullptr, &tv);
    if (rc > 0) return 1;
    if (rc < 0 && errno != EINTR) return -1;
    if (!remaining(deadline, &left)) return 0;
  }
}
