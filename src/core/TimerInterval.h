#pragma once
// A timer's interval from a stored count of seconds or minutes. Stored
// counts reach far beyond 32 bits of milliseconds, and a timer refuses a
// negative interval, so the product is taken in 64 bits and bounded to what
// a timer holds (about 24.8 days); a negative count means no wait.

#include <algorithm>
#include <cstdint>

inline int32_t TimerIntervalMs(int64_t count, int64_t unitMs) {
    return static_cast<int32_t>(std::clamp<int64_t>(count * unitMs, 0, INT32_MAX));
}
