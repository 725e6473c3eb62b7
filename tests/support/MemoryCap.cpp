#include "tests/support/MemoryCap.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <new>

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

#ifdef VORLAN_COVERAGE
// gcc's coverage runtime: a child that ends in _exit writes no counts of its
// own unless asked, and would count what the parent ran before the fork twice.
extern "C" void __gcov_reset();
extern "C" void __gcov_dump();
#endif

bool underMemoryCap(std::function<bool()> const& body) {
    std::fflush(nullptr);
    pid_t const child = fork();
    if (child < 0) return false;
    if (child == 0) {
#ifdef VORLAN_COVERAGE
        __gcov_reset();
#endif
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
        bool const ok = body();
        std::fflush(nullptr);
#ifdef VORLAN_COVERAGE
        __gcov_dump();
#endif
        _exit(ok ? 0 : 3);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
