#include "sys/futex.h"

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

void futex_wait_while(int32_t* word, int32_t expected) {
  // No timeout: callers that need one keep to their timed waits. The result
  // does not matter: woken, told the word differs, or interrupted, the
  // caller reads the word again.
  syscall(SYS_futex, word, kFutexWait | kFutexPrivateFlag, expected, nullptr);
}

void futex_wake_all(int32_t* word) {
  syscall(SYS_futex, word, kFutexWake | kFutexPrivateFlag, INT_MAX);
}
