#include "runtime/CoreAudp.h"

#include "runtime/CoreAnsx.h"
#include "runtime/CoreLog_.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

std::atomic<long> missCount{0}; // bad indices counted inside scopes, every thread

#ifdef VORLAN_AUDIO_GUARD
thread_local int depth = 0; // scopes open on this thread

// Plain write(2) of a fixed text: the report itself must not allocate.
void report(char const* text) {
    std::size_t size = std::strlen(text);
    while (size > 0) {
        ssize_t written = ::write(2, text, size);
        if (written <= 0) return;
        text += written;
        size -= static_cast<std::size_t>(written);
    }
}
#endif

} // namespace

#ifdef VORLAN_AUDIO_GUARD
CoreAudp::CoreAudp() noexcept { ++depth; }

CoreAudp::~CoreAudp() noexcept { --depth; }

void CoreAudp::forbid(char const* call) noexcept {
    if (depth <= 0) return;
    report("audio path: ");
    report(call != nullptr ? call : "(unnamed call)");
    report(" reached inside an audio scope\n");
    std::abort();
}

bool CoreAudp::inside() noexcept { return depth > 0; }
#else
bool CoreAudp::inside() noexcept { return false; }
#endif

bool CoreAudp::index(long i, long n, char const* what) noexcept {
    if (i >= 0 && i < n) return true;
#ifdef VORLAN_AUDIO_GUARD
    bool const quiet = inside();
#else
    bool const quiet = true;
#endif
    if (quiet) {
        missCount.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    try {
        CoreLog_::loger(CoreAnsx(what != nullptr ? what : "") + CoreAnsx(" index out of range: ") +
                            CoreAnsx(i),
                        0);
    } catch (...) {
    }
    return false;
}

long CoreAudp::misses() noexcept { return missCount.load(std::memory_order_relaxed); }
