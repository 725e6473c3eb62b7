#include "tests/support/MemoryCap.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <new>

#include "tests/support/ChildProcess.h"

#if defined(__SANITIZE_ADDRESS__)
#define VORLAN_CAP_BY_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORLAN_CAP_BY_ASAN 1
#endif
#endif

#ifdef VORLAN_CAP_BY_ASAN
// Read by the sanitizer at start-up; ASAN_OPTIONS still override it.
extern "C" __attribute__((visibility("default"), used)) char const* __asan_default_options() {
    return "max_allocation_size_mb=100";
}
#endif

bool underMemoryCap(std::function<bool()> const& body) {
    return inChild([&body] {
#ifndef VORLAN_CAP_BY_ASAN
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        rlim_t const cap = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(100) << 20);
        rlimit const limit{cap, cap};
        if (pages <= 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(4);
        // A refused allocation fails the check even where the code under
        // test would catch std::bad_alloc and carry on.
        std::set_new_handler([] { _exit(5); });
#endif
        return body();
    });
}
