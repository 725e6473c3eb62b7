#include <gtest/gtest.h>

#include "runtime/CoreTime.h"

namespace {
double fakeMs = 1000.0; // the test's clock, milliseconds
double fakeClock() { return fakeMs; }

TEST(CoreTime, AverageOverMarkedStepsThenReset) {
    CoreTime meter(&fakeClock);
    meter.setmp(true, 0);
    fakeMs += 15.0;
    meter.setmp(false, 3);
    fakeMs += 100.0; // between steps: not counted
    meter.setmp(true, 0);
    fakeMs += 5.0;
    meter.setmp(false, 1);
    meter.setms(1); // a unit without time
    EXPECT_DOUBLE_EQ(meter.getmp(), 20.0 / 5.0);
    EXPECT_DOUBLE_EQ(meter.getmp(), 0.0);
}

TEST(CoreTime, NoUnitsGivesZeroAndStillResetsTheTime) {
    CoreTime meter(&fakeClock);
    meter.setmp(true, 0);
    fakeMs += 10.0;
    meter.setmp(false, 0);
    EXPECT_DOUBLE_EQ(meter.getmp(), 0.0);
    meter.setms(2); // had the 10 ms survived, this would read 5
    EXPECT_DOUBLE_EQ(meter.getmp(), 0.0);
}

TEST(CoreTime, EndMarkBeforeAnyStartMeasuresFromCreation) {
    CoreTime meter(&fakeClock);
    fakeMs += 30.0;
    meter.setmp(false, 1);
    EXPECT_DOUBLE_EQ(meter.getmp(), 30.0);
}
} // namespace
