#pragma once
// Aligned raw blocks for the tracked pool: the stand-in for the vendor signal
// library's aligned allocator, which this platform does not have.
// Owner: nobody; static only. Every block handed out is released with
// `release` by whoever asked for it (in practice only `CorePool`).
// Threads: any thread; control or engine worker, never the audio thread
// (it calls the system allocator).

#include <cstddef>

class PlatMemory {
public:
    PlatMemory() = delete;

    // A block of at least `bytes` bytes at a 64-byte boundary, or null when
    // the system has none (or a failure was injected with `failNext`).
    // A request of 0 bytes still gets a distinct, releasable block.
    static void* alloc(size_t bytes);

    // Returns a block from `alloc`; null is ignored.
    static void release(void* block);

    // Test hook: the next n calls of `alloc` fail (n <= 0 clears the hook).
    static void failNext(int n);

    // Byte alignment of every block from `alloc`.
    static constexpr size_t iCalignment = 64;
};
