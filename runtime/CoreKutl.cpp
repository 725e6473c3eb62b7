#include "runtime/CoreKutl.h"

#include "platform/PlatTime.h"

void CoreKutl::cnmpd(long ms, timespec& deadline) {
    timeval now{};
    gettimeofday(&now, nullptr);
    cnmpd(ms, now, deadline);
}

void CoreKutl::cnmpd(long ms, timeval const& now, timespec& deadline) {
    constexpr long long perSecond = 1000000000LL;
    long long nanoseconds = PlatTime::DurationToNanoseconds(ms);
    long long seconds = static_cast<long long>(now.tv_sec) + nanoseconds / perSecond;
    long long rest = static_cast<long long>(now.tv_usec) * 1000LL + nanoseconds % perSecond;
    // Carry (and, for a negative wait, borrow) so the field stays in
    // 0..999,999,999: a timed wait refuses anything else.
    seconds += rest / perSecond;
    rest %= perSecond;
    if (rest < 0) {
        rest += perSecond;
        seconds -= 1;
    }
    deadline.tv_sec = static_cast<time_t>(seconds);
    deadline.tv_nsec = static_cast<long>(rest);
}
