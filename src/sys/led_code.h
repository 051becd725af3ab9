// The LED code shared by every stage of the 3g daemon: the main thread
// stores a code, the LED thread reads it once per tick. A single word,
// read and written atomically without a lock; no ordering with any other
// data is needed, so relaxed loads are enough.
//
// While the LED shows a held code the LED thread sleeps on the word itself
// (wait_while) instead of ticking, so every store that changes the code
// wakes it. A store of the code already there wakes nothing: the
// supervisor stores the steady code on every pass.
#pragma once

#include <stdint.h>

using LedCode = int32_t;

constexpr LedCode kLedOff = 0;
constexpr LedCode kLedSlowBlink = 1;
constexpr LedCode kLedFastBlink = 2;
constexpr LedCode kLedSteady = 3;

// The word and its ways in: writers assign a code, the LED thread loads
// and, when there is nothing to show, waits for a change.
struct SharedLedCode {
  LedCode word;

  LedCode load() const { return __atomic_load_n(&word, __ATOMIC_RELAXED); }
  void store(LedCode code);
  SharedLedCode& operator=(LedCode code) {
    store(code);
    return *this;
  }
  // Stores desired only while the word holds expected; otherwise expected
  // receives what the word holds. True when the store happened.
  bool compare_exchange_strong(LedCode& expected, LedCode desired);
  // Blocks while the word holds code, without a time limit; may return
  // early (a signal), so callers load again. False when this kernel cannot
  // block on the word: the caller pauses its own way instead.
  bool wait_while(LedCode code);
};

extern SharedLedCode usb_led;
