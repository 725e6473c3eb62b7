#include <gtest/gtest.h>

#include <cmath>

#include "runtime/CoreBlnk.h"

namespace {
double fakeDays = 0.0; // the test's clock, days since the epoch
double fakeClock() { return fakeDays; }

constexpr double kOrigin = 19876.25;
constexpr double kSecond = 1.0 / 86400.0; // days

bool blinkAt(CoreBlnk& blink, double seconds) {
    fakeDays = kOrigin + seconds * kSecond;
    return blink.getvl();
}

TEST(CoreBlnk, OnInTheFirstSecondOfEachPeriod) {
    fakeDays = kOrigin;
    CoreBlnk blink(&fakeClock);
    EXPECT_TRUE(blinkAt(blink, 0.5));
    EXPECT_FALSE(blinkAt(blink, 1.5));
    EXPECT_TRUE(blinkAt(blink, 2.5));
    EXPECT_FALSE(blinkAt(blink, 0.0));
    // Away from the instants of change: on exactly when the whole seconds
    // elapsed are even, with the period of the named constant.
    EXPECT_DOUBLE_EQ(CoreBlnk::dVblink, 2.0);
    for (int tenth = 0; tenth < 600; ++tenth) {
        double seconds = tenth * 0.1 + 0.05;
        bool expected = static_cast<long>(std::floor(seconds / (CoreBlnk::dVblink / 2))) % 2 == 0;
        EXPECT_EQ(blinkAt(blink, seconds), expected) << seconds << " s";
    }
}
} // namespace
