#include "platform/Tick.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(Tick, RealClockIsMonotonicMilliseconds) {
    platform::ClearTickForTests();
    const uint32_t start = platform::timeGetTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const uint32_t elapsed = platform::timeGetTime() - start;
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 60000u);  // milliseconds, not micro- or nanoseconds
}

TEST(Tick, TestClockWrapsModulo32Bits) {
    platform::SetTickForTests(0xFFFFFFF0u);
    const uint32_t before = platform::timeGetTime();
    platform::AdvanceTickForTests(0x20);
    EXPECT_EQ(platform::timeGetTime(), 0x10u);
    EXPECT_EQ(platform::timeGetTime() - before, 0x20u);
    // Set on another thread, seen here.
    std::thread([] { platform::SetTickForTests(1234); }).join();
    EXPECT_EQ(platform::timeGetTime(), 1234u);
    platform::ClearTickForTests();
    EXPECT_NE(platform::timeGetTime(), 1234u);
}

TEST(Tick, AdvanceWithoutOverrideStartsFromTheRealClock) {
    platform::ClearTickForTests();
    const uint32_t real = platform::timeGetTime();
    platform::AdvanceTickForTests(100000);
    const uint32_t pinned = platform::timeGetTime();
    EXPECT_GE(pinned - real, 100000u);
    EXPECT_LT(pinned - real, 160000u);
    EXPECT_EQ(platform::timeGetTime(), pinned);  // held still
    platform::ClearTickForTests();
}

}  // namespace
