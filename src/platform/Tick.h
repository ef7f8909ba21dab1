#pragma once
#include <cstdint>

namespace platform {

// Milliseconds from a monotonic clock, wrapping modulo 2^32 like the
// multimedia timer: compare unsigned, subtract modulo 2^32. Any thread.
uint32_t timeGetTime();

// Tests drive the clock: while set, timeGetTime() returns the given value.
void SetTickForTests(uint32_t value);
void AdvanceTickForTests(uint32_t ms);
void ClearTickForTests();

}  // namespace platform
