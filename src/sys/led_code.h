// The LED code shared by every stage of the 3g daemon: the main thread
// stores a code, the LED thread reads it once per tick. A single word,
// read and written atomically without a lock; no ordering with any other
// data is needed, so relaxed accesses are enough.
#pragma once

#include <stdint.h>

using LedCode = int32_t;

constexpr LedCode kLedOff = 0;
constexpr LedCode kLedSlowBlink = 1;
constexpr LedCode kLedFastBlink = 2;
constexpr LedCode kLedSteady = 3;

// The word and its two ways in: writers assign a code, the LED thread loads.
struct SharedLedCode {
  LedCode word;

  LedCode load() const { return __atomic_load_n(&word, __ATOMIC_RELAXED); }
  void store(LedCode code) { __atomic_store_n(&word, code, __ATOMIC_RELAXED); }
  SharedLedCode& operator=(LedCode code) {
    store(code);
    return *this;
  }
  // Stores desired only while the word holds expected; otherwise expected
  // receives what the word holds. True when the store happened.
  bool compare_exchange_strong(LedCode& expected, LedCode desired) {
    return __atomic_compare_exchange_n(&word, &expected, desired, false, __ATOMIC_RELAXED,
                                       __ATOMIC_RELAXED);
  }
};

extern SharedLedCode usb_led;
