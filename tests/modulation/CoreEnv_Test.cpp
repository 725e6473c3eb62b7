#include "modulation/CoreEnv_.h"

#include <gtest/gtest.h>

#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "tests/support/AllocCount.h"

namespace {

// Bus as the program leaves it, with the activation on BUS1 and the
// deactivation on BUS2, both low.
struct Rig {
    DataSrce bus;
    CoreSrce* out;
    CoreEnv_ env;
    Rig() : out(bus.getsc("ENV1")), env(CoreAnsx("ENV1"), &bus, bus.getsc("ENV1")) {
        bus.getsc("ON")->setvl(1.0);
        for (char const* k : {"OFF", "IN_L", "IN_R", "OUTL", "OUTR", "BUS1", "BUS2"})
            bus.getsc(k)->setvl(-1.0);
    }
    void configure(double l0, double l1, double l2, double l3, int t0, int t1, int t2, int t3,
                   short c0 = 0, short c1 = 0, short c2 = 0, short c3 = 0) {
        double const levels[4] = {l0, l1, l2, l3};
        int const times[4] = {t0, t1, t2, t3};
        short const curves[4] = {c0, c1, c2, c3};
        ASSERT_TRUE(env.setvl("BUS1", "BUS2", levels, times, curves, 1.0, "ON", 1.0, "ON"));
    }
    void gate(bool on) { bus.getsc("BUS1")->setvl(on ? 1.0 : -1.0); }
    void release(bool on) { bus.getsc("BUS2")->setvl(on ? 1.0 : -1.0); }
    // One block; the output level |o| read back from the bus.
    double block(double samples = 25.0) {
        env.updte(samples);
        return (out->getvl() + 1.0) * 0.5;
    }
};

} // namespace

TEST(CoreEnv_Test, UnboundActivationNeverRunsAndWritesMinusOne) {
    Rig r;
    double const levels[4] = {0.5, 1.0, 1.0, 1.0};
    int const times[4] = {0, 0, 0, 0};
    short const curves[4] = {0, 0, 0, 0};
    EXPECT_FALSE(r.env.setvl("", "BUS2", levels, times, curves, 1.0, "ON", 1.0, "ON"));
    r.bus.getsc("OFF")->setvl(1.0); // even a high "OFF" does not start it
    for (int i = 0; i < 5; ++i) {
        r.env.updte(64.0);
        EXPECT_EQ(r.out->getvl(), -1.0);
    }
}

TEST(CoreEnv_Test, StagesWalkBlockByBlockWithSustainAndRelease) {
    Rig r;
    r.configure(0.0, 1.0, 0.5, 0.25, 100, 100, 100, 100);
    EXPECT_EQ(r.block(), 0.0); // nothing before the trigger
    r.gate(true);
    EXPECT_EQ(r.block(), 0.0); // trigger block: start level 0
    // Attack 0 -> 1 over 100 samples, decay 1 -> 0.5, slope 0.5 -> 0.25.
    double const ramp[] = {0.25,  0.5, 0.75,   1.0,   0.875,  0.75,
                           0.625, 0.5, 0.4375, 0.375, 0.3125, 0.25};
    for (double expected : ramp) EXPECT_DOUBLE_EQ(r.block(), expected);
    for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(r.block(), 0.25) << "sustain holds, block " << i;
    r.release(true);
    // The release starts where the sustain stood (one block back) and runs
    // 100 samples to 0.
    EXPECT_DOUBLE_EQ(r.block(), 0.1875);
    EXPECT_DOUBLE_EQ(r.block(), 0.125);
    EXPECT_DOUBLE_EQ(r.block(), 0.0625);
    EXPECT_EQ(r.block(), 0.0);
    EXPECT_EQ(r.block(), 0.0); // ended
    EXPECT_EQ(r.out->getvl(), -1.0);
}

TEST(CoreEnv_Test, ReleaseEdgeDuringDecayIsRememberedUntilSustain) {
    Rig r;
    r.configure(0.0, 1.0, 0.5, 0.25, 100, 100, 100, 100);
    r.gate(true);
    r.block();
    for (int i = 0; i < 5; ++i) r.block(); // into the decay
    r.release(true);
    r.block();
    r.release(false);                      // the edge is gone again before the sustain
    for (int i = 0; i < 6; ++i) r.block(); // elapsed 300: end of the slope
    EXPECT_DOUBLE_EQ(r.block(), 0.25);     // sustain entered for one block
    EXPECT_DOUBLE_EQ(r.block(), 0.1875);   // and released at once
}

TEST(CoreEnv_Test, RetriggerDuringReleaseContinuesFromTheCurrentLevel) {
    Rig r;
    r.configure(0.0, 1.0, 1.0, 1.0, 100, 0, 0, 100);
    r.gate(true);
    for (int i = 0; i < 8; ++i) r.block();
    r.release(true);
    r.gate(false);
    double const falling = r.block();
    EXPECT_GT(falling, 0.0);
    EXPECT_LT(falling, 1.0);
    r.gate(true);
    double const atTrigger = r.block(); // release goes on one more block, then the trigger
    EXPECT_LT(atTrigger, falling);
    // Attack from atTrigger to 1 over 100 samples: a quarter of the way.
    EXPECT_DOUBLE_EQ(r.block(), 1.0 - (1.0 - atTrigger) * 0.75);
}

TEST(CoreEnv_Test, PositiveStartLevelMakesTheOutputJump) {
    Rig r;
    r.configure(0.6, 1.0, 1.0, 1.0, 1000, 0, 0, 0);
    r.gate(true);
    EXPECT_DOUBLE_EQ(r.block(), 0.6);
}

TEST(CoreEnv_Test, ZeroTimeStageReachesItsDestinationNextBlock) {
    Rig r;
    r.configure(0.0, 0.8, 0.8, 0.8, 0, 1000, 1000, 1000);
    r.gate(true);
    EXPECT_EQ(r.block(), 0.0);
    EXPECT_DOUBLE_EQ(r.block(), 0.8);
}

TEST(CoreEnv_Test, StageShorterThanABlockDoesNotOvershoot) {
    Rig r;
    // Attack 10 and decay 5 samples, blocks of 25: the decay has ended within
    // the block in which it began.
    r.configure(0.0, 1.0, 0.8, 0.8, 10, 5, 1000, 1000, 0, 2, 0, 0);
    r.gate(true);
    r.block();
    EXPECT_DOUBLE_EQ(r.block(), 0.8);
    EXPECT_DOUBLE_EQ(r.block(), 0.8);
}

TEST(CoreEnv_Test, CurveExponentBendsTheRamp) {
    Rig r;
    r.configure(0.0, 1.0, 1.0, 1.0, 100, 0, 0, 0, 2);
    r.gate(true);
    r.block();
    EXPECT_DOUBLE_EQ(r.block(), 1.0 - 0.75 * 0.75);
    Rig linear; // exponent 1 stays linear
    linear.configure(0.0, 1.0, 1.0, 1.0, 100, 0, 0, 0, 1);
    linear.gate(true);
    linear.block();
    EXPECT_DOUBLE_EQ(linear.block(), 0.25);
}

TEST(CoreEnv_Test, FactorsAndTheirControlsScaleLevelsAndTimes) {
    Rig r;
    double const levels[4] = {0.0, 1.0, 1.0, 1.0};
    int const times[4] = {100, 0, 0, 0};
    short const curves[4] = {0, 0, 0, 0};
    r.bus.getsc("BUS3")->setvl(0.0); // control at half scale
    ASSERT_TRUE(r.env.setvl("BUS1", "BUS2", levels, times, curves, 0.8, "BUS3", 2.0, "ON"));
    r.gate(true);
    r.block(50.0);
    // Destination 0.8 x 0.5 x 1 = 0.4; the attack lasts 2 x 1 x 100 = 200 samples.
    EXPECT_DOUBLE_EQ(r.block(50.0), 0.1);
    EXPECT_DOUBLE_EQ(r.block(50.0), 0.2);
}

TEST(CoreEnv_Test, PendingCopyRoundTripsThroughRefresh) {
    Rig r;
    r.configure(0.1, 0.9, 0.5, 0.3, 10, 20, 30, 40, 1, 2, 3, 4);
    r.env.setlv(1, 0.7);
    r.env.settm(3, 99);
    r.env.setlv(7, 1.0);                     // out of range: ignored
    EXPECT_DOUBLE_EQ(r.env.getlv()[1], 0.9); // current copy untouched until the refresh
    EXPECT_TRUE(r.env.rfrvl());
    EXPECT_DOUBLE_EQ(r.env.getlv()[0], 0.1);
    EXPECT_DOUBLE_EQ(r.env.getlv()[1], 0.7);
    EXPECT_DOUBLE_EQ(r.env.getlv()[3], 0.3);
    EXPECT_EQ(r.env.gettm()[0], 10);
    EXPECT_EQ(r.env.gettm()[3], 99);
    EXPECT_EQ(r.env.getcv()[2], 3);
    EXPECT_DOUBLE_EQ(r.env.getlf(), 1.0);
    EXPECT_DOUBLE_EQ(r.env.gettf(), 1.0);
    EXPECT_STREQ(r.env.getpr(0)->getsc().c_str(), "BUS1");
    EXPECT_STREQ(r.env.getpr(3)->getsc().c_str(), "ON");
    EXPECT_EQ(r.env.getpr(4), nullptr);
    r.env.setas("");
    EXPECT_FALSE(r.env.rfrvl());
}

TEST(CoreEnv_Test, PendingSourcesAndTimeFactorRebindAtRefresh) {
    Rig r;
    r.configure(0.0, 1.0, 1.0, 1.0, 100, 0, 0, 100);
    r.bus.getsc("BUS3")->setvl(0.0); // half scale
    r.bus.getsc("BUS5")->setvl(0.0);
    r.bus.getsc("BUS4")->setvl(-1.0);
    r.env.setls("BUS3");
    r.env.settf(4.0);
    r.env.setts("BUS5");
    r.env.setds("BUS4");
    EXPECT_TRUE(r.env.rfrvl());
    EXPECT_DOUBLE_EQ(r.env.gettf(), 4.0);
    r.gate(true);
    r.block(50.0);
    // Destination 1 x 0.5 = 0.5; the attack lasts 4 x 0.5 x 100 = 200 samples.
    EXPECT_DOUBLE_EQ(r.block(50.0), 0.125);
    EXPECT_DOUBLE_EQ(r.block(50.0), 0.25);
    for (int i = 0; i < 3; ++i) r.block(50.0); // sustain at 0.5
    r.release(true);                           // BUS2 no longer releases
    EXPECT_DOUBLE_EQ(r.block(50.0), 0.5);
    EXPECT_DOUBLE_EQ(r.block(50.0), 0.5);
    r.bus.getsc("BUS4")->setvl(1.0);
    // Release over 4 x 0.5 x 100 = 200 samples from 0.5.
    EXPECT_DOUBLE_EQ(r.block(50.0), 0.375);
    EXPECT_DOUBLE_EQ(r.block(50.0), 0.25);
}

TEST(CoreEnv_Test, ResetClearsTablesAndUnbindsControls) {
    Rig r;
    r.configure(0.1, 0.9, 0.5, 0.3, 10, 20, 30, 40, 1, 2, 3, 4);
    r.gate(true);
    r.block();
    r.env.setvl();
    EXPECT_EQ(r.env.gettm()[1], 0);
    EXPECT_EQ(r.env.getlv()[1], 0.0);
    EXPECT_STREQ(r.env.getpr(0)->getsc().c_str(), "");
    EXPECT_EQ(r.env.getpr(2)->getsl(), 0.0);
    EXPECT_EQ(r.env.getpr(2)->getsu(), 1.0);
    EXPECT_EQ(r.block(), 0.0);
    EXPECT_FALSE(r.env.rfrvl()); // the pending copy was reset too
}

TEST(CoreEnv_Test, BlocksAllocateNothing) {
    Rig r;
    r.configure(0.2, 1.0, 0.5, 0.25, 100, 100, 100, 100, 2, 3, 0, 4);
    long const before = allocationCount();
    for (int i = 0; i < 200; ++i) {
        r.gate(i % 40 < 30);
        r.release(i % 40 >= 30);
        r.env.updte(25.0);
    }
    EXPECT_EQ(allocationCount(), before);
}

TEST(CoreEnv_Test, SustainHeldForHoursStillRampsTheRelease) {
    Rig r;
    r.configure(0.0, 1.0, 0.5, 0.5, 100, 100, 100, 400);
    r.gate(true);
    r.block(100.0);
    for (int i = 0; i < 4; ++i) r.block(100.0); // attack, decay and slope done: sustain at 0.5
    // About fourteen hours at 48 kHz: more samples than a 32-bit count holds.
    for (int i = 0; i < 25; ++i) EXPECT_DOUBLE_EQ(r.block(1.0e8), 0.5);
    r.release(true);
    EXPECT_DOUBLE_EQ(r.block(100.0), 0.375);
    EXPECT_DOUBLE_EQ(r.block(100.0), 0.25);
    EXPECT_DOUBLE_EQ(r.block(100.0), 0.125);
    EXPECT_EQ(r.block(100.0), 0.0);
}
