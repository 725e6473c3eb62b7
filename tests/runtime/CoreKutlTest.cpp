#include <gtest/gtest.h>

#include "runtime/CoreKutl.h"

namespace {
timespec deadlineFrom(long ms, long seconds, long microseconds) {
    timeval now{};
    now.tv_sec = seconds;
    now.tv_usec = microseconds;
    timespec deadline{};
    CoreKutl::cnmpd(ms, now, deadline);
    return deadline;
}
} // namespace

TEST(CoreKutl, DeadlineCarriesIntoTheNextSecond) {
    timespec d = deadlineFrom(500, 10, 999500); // 10.9995 s + 0.5 s
    EXPECT_EQ(d.tv_sec, 11);
    EXPECT_EQ(d.tv_nsec, 499500000);

    d = deadlineFrom(500, 5, 500000); // lands exactly on a whole second
    EXPECT_EQ(d.tv_sec, 6);
    EXPECT_EQ(d.tv_nsec, 0);
}

TEST(CoreKutl, DeadlineAddsWholeSecondsAndBorrowsForNegativeWaits) {
    timespec d = deadlineFrom(2500, 100, 250000);
    EXPECT_EQ(d.tv_sec, 102);
    EXPECT_EQ(d.tv_nsec, 750000000);

    d = deadlineFrom(-1, 5, 0);
    EXPECT_EQ(d.tv_sec, 4);
    EXPECT_EQ(d.tv_nsec, 999000000);
}

TEST(CoreKutl, DeadlineFollowsTheWallClock) {
    timeval before{};
    gettimeofday(&before, nullptr);
    timespec d{};
    CoreKutl::cnmpd(1000, d);
    timeval after{};
    gettimeofday(&after, nullptr);
    double at = static_cast<double>(d.tv_sec) + d.tv_nsec * 1e-9;
    EXPECT_GE(at, before.tv_sec + before.tv_usec * 1e-6 + 1.0 - 1e-6);
    EXPECT_LE(at, after.tv_sec + after.tv_usec * 1e-6 + 1.0 + 1e-6);
    EXPECT_GE(d.tv_nsec, 0);
    EXPECT_LT(d.tv_nsec, 1000000000);
}
