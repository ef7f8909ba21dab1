#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<int> counters{0};
std::atomic<uint64_t> allocations{0};

void* Allocate(std::size_t n) {
    if (counters.load(std::memory_order_relaxed) > 0) allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

// Every form that pairs with the plain delete is replaced, so that no
// block crosses between this allocator and the library's.
void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace testsupport {

AllocationCounter::AllocationCounter() {
    allocations = 0;
    ++counters;
}
AllocationCounter::~AllocationCounter() { --counters; }
uint64_t AllocationCounter::Count() const { return allocations.load(); }

}  // namespace testsupport
