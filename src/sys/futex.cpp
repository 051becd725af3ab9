#include "sys/futex.h"

#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <unistd.h>
#include <sys/syscall.h>

namespace {

// From the kernel's futex interface; musl ships no <linux/futex.h>.
constexpr int kFutexWait = 0;
constexpr int kFutexWake = 1;
constexpr int kFutexPrivateFlag = 128;

}  // namespace

bool futex_wait_while(int32_t* word, int32_t expected) {
  // No timeout: callers that need one keep to their timed waits. Woken,
  // told the word differs (EAGAIN) or interrupted (EINTR), the caller reads
  // the word again.
  if (syscall(SYS_futex, word, kFutexWait | kFutexPrivateFlag, expected, nullptr) == 0) return true;
  return errno == EAGAIN || errno == EINTR;
}

void futex_wake_all(int32_t* word) {
  syscall(SYS_futex, word, kFutexWake | kFutexPrivateFlag, INT_MAX);
}
