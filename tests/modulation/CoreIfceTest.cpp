// ctest-labels: threads
#include "modulation/CoreIfce.h"

#include <atomic>
#include <cmath>
#include <thread>

#include <gtest/gtest.h>

#include "modulation/CoreSrce.h"
#include "runtime/CoreBlnk.h"

namespace {

// Fake wall clock in days, stepped by the tests.
double fakeNow = 20000.0;
double fakeClock() { return fakeNow; }
void advanceSeconds(double s) { fakeNow += s / 86400.0; }

// A mix control as the program builds it, on the fake clock.
struct Mix {
    CoreSrce source{"MIX1", ""};
    CoreBlnk blinker{&fakeClock};
    CoreIfce control{"Mix 1", -1.0, 1.0, "Mix", "", &source, 0.0, true, &blinker, &fakeClock};
};

} // namespace

TEST(CoreIfceTest, SettingAFractionWritesTheSourceAndTheIndicator) {
    Mix m;
    EXPECT_EQ(m.source.getvl(), 0.0); // nothing written before setiv
    m.source.setvl(0.9);
    m.control.setiv(0.0, true, true);
    EXPECT_EQ(m.source.getvl(), 0.0);
    m.control.setvl(0.5, false);
    EXPECT_EQ(m.source.getvl(), 0.0);
    advanceSeconds(0.5); // no change, so still blinking: look in the lit half
    EXPECT_EQ(m.control.getml(), 3);
    m.control.setvl(0.75, false);
    EXPECT_DOUBLE_EQ(m.source.getvl(), 0.5);
    EXPECT_DOUBLE_EQ(m.control.getiv(true), 0.5);
    EXPECT_DOUBLE_EQ(m.control.getvl(true), 0.75);
    EXPECT_EQ(m.control.getml(), 1);
    EXPECT_EQ(m.control.getll(), 1);
    m.control.setvl(0.25, true);
    EXPECT_EQ(m.control.getml(), 2);
}

TEST(CoreIfceTest, IndicatorIsSteadyForThreeSecondsThenBlinks) {
    Mix m;
    m.control.setiv(0.0, true, true);
    advanceSeconds(0.5);
    EXPECT_EQ(m.control.getml(), 3); // expired from the start: blinking, lit half
    advanceSeconds(1.0);             // dark half
    EXPECT_EQ(m.control.getml(), 0);
    m.control.setvl(0.75, false); // a change: steady again
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(m.control.getml(), 1) << i;
        advanceSeconds(0.5); // steady through both blink halves
    }
    advanceSeconds(0.9); // 3.4 s: over
    bool sawDark = false, sawLit = false;
    for (int i = 0; i < 8; ++i) {
        short const s = m.control.getml();
        EXPECT_TRUE(s == 0 || s == 1);
        sawDark |= s == 0;
        sawLit |= s == 1;
        EXPECT_EQ(m.control.getll(), s);
        advanceSeconds(0.5);
    }
    EXPECT_TRUE(sawDark);
    EXPECT_TRUE(sawLit);
    m.control.mswhl(0); // same value again: no new steady period
    advanceSeconds(1.0);
    short const a = m.control.getml();
    advanceSeconds(1.0);
    EXPECT_NE(m.control.getml(), a);
}

TEST(CoreIfceTest, InvalidSlotIgnoresSettingAndShowsNothing) {
    Mix m;
    m.control.setiv(0.2, false, true);
    EXPECT_DOUBLE_EQ(m.source.getvl(), 0.2);
    m.control.setvl(0.9, false);
    EXPECT_DOUBLE_EQ(m.control.getiv(false), 0.2);
    EXPECT_DOUBLE_EQ(m.source.getvl(), 0.2);
    EXPECT_FALSE(m.control.isval(true));
    EXPECT_EQ(m.control.getml(), 0);
}

TEST(CoreIfceTest, AlternateSlotIsResetWhenEnteredAndNeverStartsTheClock) {
    Mix m;
    m.control.setiv(0.5, true, true);
    m.control.mode_(true);
    EXPECT_TRUE(m.control.isalt());
    EXPECT_FALSE(m.control.isval(false));
    EXPECT_TRUE(m.control.isval(true));
    EXPECT_EQ(m.control.getiv(false), -1.0);
    m.control.setvl(0.3, false); // invalid until set
    EXPECT_EQ(m.control.getiv(false), -1.0);
    m.control.setiv(0.0, true, false);
    m.control.setvl(1.0, false);
    EXPECT_EQ(m.control.getiv(false), 1.0);
    EXPECT_DOUBLE_EQ(m.control.getiv(true), 0.5);
    EXPECT_DOUBLE_EQ(m.source.getvl(), 0.5); // only the main slot feeds the source
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(m.control.getml(), 1); // steady: the clock is never read here
        advanceSeconds(1.0);
    }
    m.control.mode_(false);
    EXPECT_FALSE(m.control.isalt());
    EXPECT_DOUBLE_EQ(m.control.getvl(false), 0.75);
}

TEST(CoreIfceTest, WheelAndDrag) {
    Mix m;
    m.control.setiv(-0.9, true, true); // fraction 0.05
    m.control.mswhl(-3);
    EXPECT_EQ(m.control.getvl(false), 0.0);
    m.control.setvl(0.5, false);
    m.control.mswhl(2);
    EXPECT_DOUBLE_EQ(m.control.getvl(false), 0.5 + 4.0 / 128.0);
    m.control.settf(16);
    m.control.mswhl(4);
    EXPECT_EQ(m.control.getvl(false), 1.0);
    m.control.settf(0); // refused
    m.control.mswhl(-1);
    EXPECT_DOUBLE_EQ(m.control.getvl(false), 1.0 - 1.0 / 16.0);

    int px = 100, py = 100;
    EXPECT_DOUBLE_EQ(CoreIfce::getnh(0.5, px, py, 110, 90), 0.632);
    EXPECT_EQ(px, 110);
    EXPECT_EQ(py, 90);
    EXPECT_EQ(CoreIfce::getnh(0.9, px, py, 110, 0), 1.0);
    EXPECT_EQ(CoreIfce::getnh(0.1, px, py, 0, 0), 0.0);
}

TEST(CoreIfceTest, GainControlWithoutIndicatorAndEmptyRange) {
    CoreSrce gain("GAININ", "");
    CoreIfce control("Gain in", 1.0, 1.0, "Gain", "dB", &gain, 1.0, false, nullptr);
    control.setiv(1.0, true, true);
    EXPECT_EQ(control.getvl(false), 0.0);
    control.setvl(0.7, false);
    EXPECT_EQ(control.getiv(false), 1.0);
    EXPECT_EQ(control.getml(), 0);
    EXPECT_STREQ(control.getun().c_str(), "dB");
    EXPECT_STREQ(control.getlb().c_str(), "Gain");
    EXPECT_EQ(control.getcp(), -1);
    control.setcp(5);
    EXPECT_EQ(control.getcp(), 5);
    EXPECT_EQ(control.getpa(), -2.0);
    control.setpa(0.25);
    EXPECT_EQ(control.getpa(), 0.25);
}

TEST(CoreIfceTest, EngineAndDisplayThreadsShareAControl) {
    CoreSrce source("MIX2", "");
    CoreBlnk blinker;
    CoreIfce control("Mix 2", -1.0, 1.0, "Mix", "", &source, 0.0, true, &blinker);
    control.setiv(0.0, true, true);
    std::atomic<bool> bad{false};
    constexpr int rounds = 20000;
    std::thread engine([&] {
        for (int i = 0; i < rounds; ++i) {
            control.setvl((i % 101) / 100.0, true);
            if (i % 97 == 0) control.setiv(0.0, true, true);
            control.setpa(i);
        }
    });
    std::thread display([&] {
        for (int i = 0; i < rounds; ++i) {
            short const s = control.getml();
            double const f = control.getvl(false);
            if (s < 0 || s > 3 || f < 0.0 || f > 1.0 || control.getll() > 3) bad = true;
            if (i % 50 == 0) control.mswhl(i % 3 - 1);
            if (control.getpa() > rounds) bad = true;
        }
    });
    // The audio thread reads the bus without the control's lock.
    std::thread audio([&] {
        for (int i = 0; i < rounds; ++i) {
            double const v = source.getvl();
            if (!(v >= -1.0 && v <= 1.0)) bad = true;
        }
    });
    engine.join();
    display.join();
    audio.join();
    EXPECT_FALSE(bad.load());
    EXPECT_EQ(control.getpa(), rounds - 1.0);
    EXPECT_DOUBLE_EQ(source.getvl(), control.getiv(true));
}
