// Blocking on a 32-bit word until another thread of this process changes
// it: the kernel's futex, private to the process (Linux 2.6.22 and later).
#pragma once

#include <stdint.h>

// Sleeps while *word holds expected, with no time limit. Returns at once
// when it already holds another value; otherwise when futex_wake_all is
// called on the word, or early on a signal. Callers look at the word again.
void futex_wait_while(int32_t* word, int32_t expected);

// Wakes every thread sleeping in futex_wait_while on word.
void futex_wake_all(int32_t* word);
