#pragma once
// CoreAudp: marks "this thread is on the audio path" for the life of one
// scope. Every per-block step opens one; the pool's allocation entry, the
// log's writers above debug level and the growth of strings and lists call
// `forbid`, which in guarded builds (VORLAN_AUDIO_GUARD: debug and sanitizer
// builds) aborts with the name of the call when a scope is open, so a test
// that drives blocks fails on the first allocation, log line or string built
// there. Release builds compile the scope and `forbid` to nothing.
// `index` is the one check-and-default helper for indices that may be bad on
// the audio path: there it only counts, elsewhere it logs.
// Owner: the scope that declares it (stack-only, nests).
// Threads: any; the depth is per thread, the miss count process-wide.

#include <cstddef>

class CoreAudp {
public:
#ifdef VORLAN_AUDIO_GUARD
    CoreAudp() noexcept;  // opens a scope on this thread
    ~CoreAudp() noexcept; // closes it
    // Aborts, naming call, when a scope is open on this thread.
    static void forbid(char const* call) noexcept;
#else
    CoreAudp() noexcept {}
    ~CoreAudp() noexcept {}
    static void forbid(char const*) noexcept {}
#endif
    // A scope is open on this thread (always false without the guard).
    static bool inside() noexcept;
    // True when 0 <= i < n. Otherwise false, after counting the miss silently
    // inside a scope or logging "<what> index out of range: <i>" outside one.
    // Without the guard the thread is unknown, so a miss is only counted.
    static bool index(long i, long n, char const* what) noexcept;
    static long misses() noexcept; // bad indices counted silently so far, whole process

    CoreAudp(CoreAudp const&) = delete;
    CoreAudp& operator=(CoreAudp const&) = delete;
    CoreAudp(CoreAudp&&) = delete;
    CoreAudp& operator=(CoreAudp&&) = delete;
    static void* operator new(std::size_t) = delete;
    static void* operator new[](std::size_t) = delete;
};
