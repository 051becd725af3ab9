// The LED code shared by every stage of the 3g daemon: the main thread
// stores a code, the LED thread reads it once per tick. A single word,
// read and written atomically without a lock.
#pragma once

#include <atomic>
#include <cstdint>

using LedCode = int32_t;

constexpr LedCode kLedOff = 0;
constexpr LedCode kLedSlowBlink = 1;
constexpr LedCode kLedFastBlink = 2;
constexpr LedCode kLedSteady = 3;

extern std::atomic<LedCode> usb_led;
