#include "platform/Tick.h"

#include <atomic>
#include <ctime>

namespace platform {
namespace {

// Bit 32 marks the test override, the low 32 bits hold its value: one word,
// so a reader on another thread never sees the mark without the value.
constexpr uint64_t kOverridden = uint64_t{1} << 32;
std::atomic<uint64_t> testTick{0};

uint32_t RealTick() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

}  // namespace

uint32_t timeGetTime() {
    const uint64_t t = testTick.load(std::memory_order_acquire);
    return (t & kOverridden) ? static_cast<uint32_t>(t) : RealTick();
}

void SetTickForTests(uint32_t value) { testTick.store(kOverridden | value, std::memory_order_release); }

// Without an override the test clock starts from the real one.
void AdvanceTickForTests(uint32_t ms) {
    uint64_t old = testTick.load(std::memory_order_acquire);
    uint64_t next;
    do {
        const uint32_t base = (old & kOverridden) ? static_cast<uint32_t>(old) : RealTick();
        next = kOverridden | static_cast<uint32_t>(base + ms);
    } while (!testTick.compare_exchange_weak(old, next, std::memory_order_acq_rel));
}

void ClearTickForTests() { testTick.store(0, std::memory_order_release); }

}  // namespace platform
