#include "modulation/CorePrm_.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "tests/support/AllocCount.h"

#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "modulation/DataSrce.h"

namespace {

class PrmTest : public ::testing::Test {
protected:
    DataSrce bus;
    DataGfun functions;
    CoreSrce* out = bus.getsc(CoreAnsx("PRM1"));
    CorePrm_ prm{CoreAnsx("PRM1"), &functions, &bus, out};

    void SetUp() override {
        bus.getsc(CoreAnsx("OFF"))->setvl(-1.0);
        bus.getsc(CoreAnsx("ON"))->setvl(1.0);
    }
    // Labelled and visible; output range and bar bounds as given.
    void configure(double min, double max, double barmin, double barmax,
                   char const* label = "Gain") {
        prm.setvl(true, CoreAnsx("OFF"), CoreAnsx("OFF"), CoreAnsx("a"), CoreAnsx(label),
                  CoreAnsx(""), CoreAnsx("dB"), CoreAnsx(""), CoreAnsx(""), min, max, barmin,
                  barmax);
    }
    // An output value of exactly v: both range ends at v.
    void showValue(double v) {
        prm.setmn(v);
        prm.setmx(v);
    }
};

TEST_F(PrmTest, ResetState) {
    configure(-24.0, 24.0, 3.0, 9.0);
    prm.setvl(false);
    EXPECT_FALSE(prm.isdis());
    EXPECT_EQ(prm.getvl(), 0.0);
    EXPECT_EQ(prm.getbf(), 0.0);
    EXPECT_STREQ(prm.getfn().c_str(), "a");
    EXPECT_STREQ(prm.getlb().c_str(), "");
    EXPECT_STREQ(prm.getun().c_str(), "");
    EXPECT_STREQ(prm.getfa()->getsc().c_str(), "");
    double mn = 1, mx = 1, bn = 1, bx = 1;
    prm.getbn(mn, mx, bn, bx);
    EXPECT_EQ(mn, 0.0);
    EXPECT_EQ(mx, 0.0);
    EXPECT_EQ(bn, 0.0);
    EXPECT_EQ(bx, 0.0);
    // Not configured: the source is left alone.
    out->setvl(0.5);
    prm.updte();
    EXPECT_EQ(out->getvl(), 0.5);
}

TEST_F(PrmTest, FullFormStoresEverything) {
    prm.setvl(false, CoreAnsx("MIX1"), CoreAnsx("0.5"), CoreAnsx("unknown"), CoreAnsx("Drive"),
              CoreAnsx("3"), CoreAnsx("dB"), CoreAnsx("+"), CoreAnsx(" gain"), -6.0, 6.0, -3.0,
              3.0);
    EXPECT_STREQ(prm.getfn().c_str(), "a");
    EXPECT_STREQ(prm.getlb().c_str(), "Drive");
    EXPECT_STREQ(prm.getpl().c_str(), "3");
    EXPECT_STREQ(prm.getun().c_str(), "dB");
    EXPECT_STREQ(prm.getpu().c_str(), "+");
    EXPECT_STREQ(prm.getou().c_str(), " gain");
    EXPECT_STREQ(prm.getfa()->getsc().c_str(), "MIX1");
    EXPECT_TRUE(prm.getfb()->iscst());
    EXPECT_EQ(prm.getmn(), -6.0);
    EXPECT_EQ(prm.getmx(), 6.0);
    EXPECT_EQ(prm.getbn(), -3.0);
    EXPECT_EQ(prm.getbx(), 3.0);
    EXPECT_EQ(prm.getbd(0), -6.0);
    EXPECT_EQ(prm.getbd(3), 3.0);
    EXPECT_EQ(prm.getbd(4), 0.0);
    EXPECT_EQ(prm.getbd(-1), 0.0);
    EXPECT_FALSE(prm.isdis()); // hidden
    prm.setds(true);
    EXPECT_TRUE(prm.isdis());
    EXPECT_STREQ(prm.getlb().c_str(), "Drive");
}

TEST_F(PrmTest, EmptyLabelGivesNoValueButTheSourceIsStillWritten) {
    prm.setvl(true, CoreAnsx("ON"), CoreAnsx("OFF"), CoreAnsx("a"), CoreAnsx(""), CoreAnsx(""),
              CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), -24.0, 24.0, -24.0, 24.0);
    EXPECT_FALSE(prm.isdis());
    prm.updte();
    EXPECT_EQ(out->getvl(), 1.0);
    EXPECT_EQ(prm.getvl(), 0.0);
    // setlb does not change the labelled flag.
    prm.setlb(CoreAnsx("Late"));
    EXPECT_EQ(prm.getvl(), 0.0);
    EXPECT_STREQ(prm.getlb().c_str(), "Late");
}

TEST_F(PrmTest, ShowingFillsAMissingLabel) {
    configure(0.0, 1.0, 0.0, 1.0, "0");
    prm.setds(true);
    EXPECT_STREQ(prm.getlb().c_str(), "NULL");
    EXPECT_TRUE(prm.isdis());

    prm.setvl(false);
    prm.setds(false); // unconfigured and asked to hide: stays as it is
    EXPECT_FALSE(prm.isdis());
    out->setvl(0.5);
    prm.updte();
    EXPECT_EQ(out->getvl(), 0.5);

    prm.setds(true); // unconfigured and shown: configured with label "NULL"
    EXPECT_TRUE(prm.isdis());
    EXPECT_STREQ(prm.getlb().c_str(), "NULL");
    EXPECT_STREQ(prm.getfn().c_str(), "a");
    prm.updte();
    EXPECT_EQ(out->getvl(), -1.0); // input A is "OFF"

    prm.setds(false);
    EXPECT_FALSE(prm.isdis());
    EXPECT_EQ(prm.getvl(), 0.0); // hiding also unlabels
}

TEST_F(PrmTest, ValueFollowsTheLastUpdate) {
    configure(-24.0, 24.0, -24.0, 24.0);
    out->setvl(0.0);
    EXPECT_EQ(prm.getvl(), 0.0);
    out->setvl(1.0);
    EXPECT_EQ(prm.getvl(), 24.0);
    out->setvl(-1.0);
    EXPECT_EQ(prm.getvl(), -24.0);
    prm.setsa(CoreAnsx("0.5"));
    EXPECT_EQ(prm.getvl(), -24.0); // no fresh evaluation
    prm.updte();
    EXPECT_EQ(prm.getvl(), 12.0);
    prm.setfn(CoreAnsx("0.25"), CoreAnsx("0.25"), CoreAnsx("a+b"));
    prm.updte();
    EXPECT_EQ(prm.getvl(), 12.0);
    prm.setfn(CoreAnsx("a-b"));
    prm.updte();
    EXPECT_EQ(prm.getvl(), 0.0);
    // Worked out read only with A's source at 0.75: 0.75 - 0.25, and nothing written.
    prm.setsa(CoreAnsx("MIX1"));
    EXPECT_EQ(prm.getvw(bus.getsc(CoreAnsx("MIX1")), 0.75), 12.0);
    EXPECT_EQ(out->getvl(), 0.0);
}

TEST_F(PrmTest, BarFractionForward) {
    configure(0.0, 0.0, 0.0, 10.0);
    showValue(2.5);
    EXPECT_EQ(prm.getbf(), 0.25);
    showValue(12.0);
    EXPECT_EQ(prm.getbf(), 1.0);
    showValue(-1.0);
    EXPECT_EQ(prm.getbf(), 0.0);
}

TEST_F(PrmTest, BarFractionReversed) {
    configure(0.0, 0.0, 10.0, 0.0);
    showValue(2.5);
    EXPECT_DOUBLE_EQ(prm.getbf(), 0.75);
    showValue(-1.0);
    EXPECT_EQ(prm.getbf(), 1.0);
    showValue(12.0); // no lower cap: the display clamps
    EXPECT_DOUBLE_EQ(prm.getbf(), -0.2);
}

TEST_F(PrmTest, EqualBarBoundsUseScaleOne) {
    configure(0.0, 0.0, 5.0, 5.0);
    showValue(5.5);
    EXPECT_EQ(prm.getbf(), 0.5);
    showValue(4.0);
    EXPECT_EQ(prm.getbf(), 0.0);
}

TEST_F(PrmTest, SingleBarSettersRederive) {
    configure(0.0, 0.0, 0.0, 10.0);
    prm.setbx(-10.0); // now reversed: start -10, scale -0.1
    showValue(-2.5);
    EXPECT_DOUBLE_EQ(prm.getbf(), 0.25);
    showValue(-12.0);
    EXPECT_EQ(prm.getbf(), 1.0);
    prm.setbn(-20.0); // forward again: -20..-10
    showValue(-12.5);
    EXPECT_DOUBLE_EQ(prm.getbf(), 0.75);
    showValue(-25.0);
    EXPECT_EQ(prm.getbf(), 0.0);
    // Bounds a subnormal apart count as equal instead of giving an infinite scale.
    prm.setbn(0.0, 0.0, 0.0, 1e-310);
    showValue(0.5);
    EXPECT_EQ(prm.getbf(), 0.5);
}

TEST_F(PrmTest, UpdateAndQueriesAllocateNothing) {
    configure(-24.0, 24.0, -24.0, 24.0);
    prm.setfn(CoreAnsx("MIX1"), CoreAnsx("0.1"), CoreAnsx("a*b"));
    long const before = allocationCount();
    double sink = 0.0;
    for (int i = 0; i < 1000; ++i) {
        prm.updte();
        sink += prm.getvl() + prm.getbf() + prm.getbd(i & 3);
    }
    EXPECT_EQ(allocationCount(), before);
    EXPECT_TRUE(sink == sink);
}

} // namespace
