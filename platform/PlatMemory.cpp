#include "platform/PlatMemory.h"

#include <atomic>
#include <cstdlib>

namespace {
// Injected failures still to hand out; decremented by each failing `alloc`.
std::atomic<int> failuresLeft{0};

// Takes one injected failure if any is pending.
bool takeInjectedFailure() {
    int left = failuresLeft.load(std::memory_order_relaxed);
    while (left > 0) {
        if (failuresLeft.compare_exchange_weak(left, left - 1, std::memory_order_relaxed))
            return true;
    }
    return false;
}
} // namespace

void* PlatMemory::alloc(size_t bytes) {
    if (takeInjectedFailure()) return nullptr;
    // posix_memalign may answer a 0-byte request with null; callers read null
    // as failure, so always ask for at least one byte.
    void* block = nullptr;
    if (posix_memalign(&block, iCalignment, bytes == 0 ? 1 : bytes) != 0) return nullptr;
    return block;
}

void PlatMemory::release(void* block) { std::free(block); }

void PlatMemory::failNext(int n) { failuresLeft.store(n > 0 ? n : 0, std::memory_order_relaxed); }
