#include "sys/led_code.h"

#include "sys/futex.h"

SharedLedCode usb_led = {kLedOff};

// The read-modify-writes are sequentially consistent so that the new code
// is visible before the kernel looks for a sleeper to wake; writers store a
// few times per pass at most, so the cost does not matter.
void SharedLedCode::store(LedCode code) {
  if (__atomic_exchange_n(&word, code, __ATOMIC_SEQ_CST) != code) futex_wake_all(&word);
}

bool SharedLedCode::compare_exchange_strong(LedCode& expected, LedCode desired) {
  bool stored = __atomic_compare_exchange_n(&word, &expected, desired, false, __ATOMIC_SEQ_CST,
                                            __ATOMIC_RELAXED);
  if (stored && expected != desired) futex_wake_all(&word);
  return stored;
}

bool SharedLedCode::wait_while(LedCode code) { return futex_wait_while(&word, code); }
