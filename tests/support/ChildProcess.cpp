#include "tests/support/ChildProcess.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#ifdef VORLAN_COVERAGE
// gcc's coverage runtime: a child that ends in _exit writes no counts of its
// own unless asked, and would count what the parent ran before the fork twice.
extern "C" void __gcov_reset();
extern "C" void __gcov_dump();
#endif

bool inChild(std::function<bool()> const& body) {
    std::fflush(nullptr);
    pid_t const child = fork();
    if (child < 0) return false;
    if (child == 0) {
#ifdef VORLAN_COVERAGE
        __gcov_reset();
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

bool underFileSizeLimit(std::function<bool()> const& body) {
    return inChild([&body] {
        std::signal(SIGXFSZ, SIG_DFL);
        bool const ok = body();
        rlimit limit{};
        if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
        limit.rlim_cur = limit.rlim_max;
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 && ok;
    });
}
