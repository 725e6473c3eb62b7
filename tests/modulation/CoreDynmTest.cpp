#include "modulation/CoreDynm.h"

#include <cmath>

#include <gtest/gtest.h>

#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "tests/support/AllocCount.h"

namespace {

// Threshold on BUS1, input on BUS2, ratio on BUS3; levels are set as linear
// unipolar amplitudes, the way the controls read them.
struct Rig {
    DataSrce bus;
    CoreSrce* out;
    CoreDynm dyn;
    Rig() : out(bus.getsc("DNM1")), dyn(CoreAnsx("DNM1"), &bus, bus.getsc("DNM1")) {
        bus.getsc("ON")->setvl(1.0);
        bus.getsc("OFF")->setvl(-1.0);
    }
    void levels(double threshold, double input, double ratio) {
        bus.getsc("BUS1")->setvl(2.0 * threshold - 1.0);
        bus.getsc("BUS2")->setvl(2.0 * input - 1.0);
        bus.getsc("BUS3")->setvl(ratio);
    }
    double gain() {
        dyn.updte();
        return (out->getvl() + 1.0) * 0.5;
    }
};

double db(double linear) { return 20.0 * std::log10(linear); }

} // namespace

TEST(CoreDynmTest, CompressorFollowsTheRatioAboveTheThreshold) {
    Rig r;
    r.dyn.setvl("BUS1", "BUS2", true, "BUS3", false, 0, 100.0, 0.0);
    r.levels(0.1, 0.5, 0.5);
    // Above the threshold the output level grows with the ratio:
    // gain = (input / threshold)^(ratio - 1).
    EXPECT_NEAR(r.gain(), std::pow(5.0, -0.5), 1e-12);
    r.levels(0.1, 0.1, 0.5); // at the threshold
    EXPECT_EQ(r.gain(), 1.0);
    EXPECT_EQ(r.out->getvl(), 1.0);
    r.levels(0.5, 0.1, 0.5); // below it
    EXPECT_EQ(r.gain(), 1.0);
}

TEST(CoreDynmTest, RangeLimitCapsTheSpanAndPadIsAdded) {
    Rig r;
    r.dyn.setvl("BUS1", "BUS2", true, "BUS3", false, 0, 6.0, 2.0);
    r.levels(0.1, 0.5, 0.5);
    EXPECT_NEAR(db(r.gain()), -0.5 * 6.0 + 2.0, 1e-9);
    r.dyn.setvl("BUS1", "BUS2", true, "BUS3", false, 0, 0.0, -6.0);
    EXPECT_NEAR(r.gain(), std::pow(10.0, -6.0 / 20.0), 1e-12);
}

TEST(CoreDynmTest, CurveEasesTheRatioInFromTheThreshold) {
    Rig r;
    double const over = db(0.5 / 0.1);
    for (short c : {0, 1, 2, 3}) {
        r.dyn.setvl("BUS1", "BUS2", true, "BUS3", true, c, 20.0, 0.0);
        r.levels(0.1, 0.5, 0.5);
        double const x = 1.0 - over / 20.0;
        double const p = c >= 2 ? std::pow(x, c) : x;
        double const ratio = (1.0 - 0.5) * p + 0.5;
        EXPECT_NEAR(db(r.gain()), (ratio - 1.0) * over, 1e-9) << "curve " << c;
    }
}

TEST(CoreDynmTest, CurveNumbersAreClampedAndZeroMeansOffInTheEditorForm) {
    Rig r;
    r.dyn.setvl("BUS1", "BUS2", true, "BUS3", true, 9, 20.0, 0.0);
    EXPECT_EQ(r.dyn.getrc(), 9); // stored as 8
    r.dyn.setvl("BUS1", "BUS2", true, "BUS3", true, 40, 20.0, 0.0);
    EXPECT_EQ(r.dyn.getrc(), 9);
    r.dyn.setvl("BUS1", "BUS2", true, "BUS3", false, 3, 20.0, 0.0);
    EXPECT_EQ(r.dyn.getrc(), 0);
    r.dyn.setvl(0, "BUS1", "BUS2", "BUS3", -1, 20.0, 0.0);
    EXPECT_EQ(r.dyn.getrc(), 0);
    r.dyn.setvl(0, "BUS1", "BUS2", "BUS3", 0, 20.0, 0.0);
    EXPECT_EQ(r.dyn.getrc(), 0);
    r.dyn.setvl(0, "BUS1", "BUS2", "BUS3", 3, 20.0, 0.0); // curve exponent 2
    EXPECT_EQ(r.dyn.getrc(), 3);
    r.levels(0.1, 0.5, 0.5);
    double const over = db(5.0);
    double const x = 1.0 - over / 20.0;
    EXPECT_NEAR(db(r.gain()), ((0.5 * x * x + 0.5) - 1.0) * over, 1e-9);
}

TEST(CoreDynmTest, ExpanderInvertsTheRatioAndStaysFiniteAtZero) {
    Rig r;
    r.dyn.setvl(1, "BUS1", "BUS2", "BUS3", 0, 100.0, 0.0);
    EXPECT_EQ(r.dyn.getst(), 1);
    r.levels(0.1, 0.5, 0.5);
    EXPECT_NEAR(r.gain(), 5.0, 1e-9); // (input / threshold)^(1/0.5 - 1)
    r.levels(0.1, 0.5, 0.0);          // ratio control at mid-scale
    r.dyn.updte();
    EXPECT_TRUE(std::isfinite(r.out->getvl()));
    r.dyn.setvl(1, "BUS1", "BUS2", "BUS3", 0, 0.0, 0.0); // no span left
    r.dyn.updte();
    EXPECT_TRUE(std::isfinite(r.out->getvl()));
    EXPECT_EQ(r.out->getvl(), 1.0);
}

TEST(CoreDynmTest, UnboundInputKeepsWritingTheLastGain) {
    Rig r;
    r.dyn.setvl("BUS1", "", true, "BUS3", false, 0, 10.0, 0.0);
    r.levels(0.1, 0.9, 0.5);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.gain(), 0.0);
    EXPECT_EQ(r.out->getvl(), -1.0);
    r.dyn.setvl();
    EXPECT_EQ(r.gain(), 0.0);
    EXPECT_EQ(r.dyn.getrc(), 0);
    EXPECT_EQ(r.dyn.getst(), 0);
}

TEST(CoreDynmTest, RefreshAppliesOnePendingEditAndKeepsTheRest) {
    Rig r;
    r.dyn.setvl("BUS1", "BUS2", false, "BUS3", true, 2, 12.0, 1.5);
    r.dyn.setbd(4, -3.0);
    r.dyn.setbd(7, 99.0); // unknown setting: ignored
    EXPECT_EQ(r.dyn.getbd(4), 1.5);
    r.dyn.rfrvl();
    EXPECT_EQ(r.dyn.getbd(4), -3.0);
    EXPECT_EQ(r.dyn.getbd(3), 12.0);
    EXPECT_EQ(r.dyn.getbd(0), 0.0);
    EXPECT_EQ(r.dyn.getst(), 1);
    EXPECT_EQ(r.dyn.getrc(), 3);
    EXPECT_STREQ(r.dyn.getbs(0).c_str(), "BUS1");
    EXPECT_STREQ(r.dyn.getbs(2).c_str(), "BUS3");
    EXPECT_STREQ(r.dyn.getbs(3).c_str(), "");
    r.dyn.setst(0);
    r.dyn.setrc(0);
    r.dyn.setbs(1, "BUS4");
    r.dyn.rfrvl();
    EXPECT_EQ(r.dyn.getst(), 0);
    EXPECT_EQ(r.dyn.getrc(), 0);
    EXPECT_STREQ(r.dyn.getbs(1).c_str(), "BUS4");
}

TEST(CoreDynmTest, BlocksAllocateNothing) {
    Rig r;
    r.dyn.setvl(1, "BUS1", "BUS2", "BUS3", 4, 24.0, 1.0);
    long const before = allocationCount();
    for (int i = 0; i < 200; ++i) {
        r.levels(0.1, 0.002 * i, 0.01 * (i % 200) - 1.0);
        r.dyn.updte();
    }
    EXPECT_EQ(allocationCount(), before);
}
