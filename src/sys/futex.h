// Blocking on a 32-bit word until another thread of this process changes
// it: the kernel's futex, private to the process (Linux 2.6.22 and later).
#pragma once

#include <stdint.h>

// Sleeps while *word holds expected, with no time limit. Returns at once
// when it already holds another value; otherwise when futex_wake_all is
// called on the word, or early on a signal; callers look at the word again.
// Returns false when the kernel refused the wait (no futex support): the
// caller must then pause some other way rather than spin.
bool futex_wait_while(int32_t* word, int32_t expected);

// Wakes every thread sleeping in futex_wait_while on word.
void futex_wake_all(int32_t* word);
