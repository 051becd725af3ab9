#include "sys/pause.h"

#include <cerrno>
#include <ctime>
#include <sys/select.h>

namespace {

constexpr long kNanosPerSecond = 1000000000L;
constexpr long kNanosPerMicro = 1000L;

struct timespec now_monotonic() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts;
}

struct timespec add_nanos(struct timespec t, long long nanos) {
  nanos += t.tv_nsec;
  t.tv_sec += static_cast<time_t>(nanos / kNanosPerSecond);
  t.tv_nsec = static_cast<long>(nanos % kNanosPerSecond);
  return t;
}

// Time left until deadline; false when it has passed.
bool remaining(const struct timespec& deadline, struct timespec* left) {
  struct timespec now = now_monotonic();
  long long nanos = (static_cast<long long>(deadline.tv_sec) - now.tv_sec) * kNanosPerSecond +
                    (deadline.tv_nsec - now.tv_nsec);
  if (nanos <= 0) return false;
  left->tv_sec = static_cast<time_t>(nanos / kNanosPerSecond);
  left->tv_nsec = static_cast<long>(nanos % kNanosPerSecond);
  return true;
}

void wait_until(const struct timespec& deadline) {
  struct timespec left;
  while (remaining(deadline, &left)) nanosleep(&left, nullptr);
}

}  // namespace

void wait_seconds(unsigned seconds) {
  wait_until(add_nanos(now_monotonic(), static_cast<long long>(seconds) * kNanosPerSecond));
}

void wait_microseconds(unsigned long micros) {
  wait_until(add_nanos(now_monotonic(), static_cast<long long>(micros) * kNanosPerMicro));
}

int wait_readable(int fd, unsigned seconds) {
  struct timespec deadline =
      add_nanos(now_monotonic(), static_cast<long long>(seconds) * kNanosPerSecond);
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
