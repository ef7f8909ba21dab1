#pragma once
// Counts the program's C++ allocations, from every thread, while a counter
// is alive. Only the test executable that links AllocationCounter.cpp
// replaces operator new for this; GLib's own allocations are not seen.

#include <cstdint>

namespace testsupport {

class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;
    uint64_t Count() const;
};

}  // namespace testsupport
