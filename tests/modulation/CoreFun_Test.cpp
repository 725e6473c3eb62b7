#include "modulation/CoreFun_.h"

#include <cmath>
#include <cstdlib>

#include <gtest/gtest.h>

#include "tests/support/AllocCount.h"

#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "modulation/DataSrce.h"

namespace {

class FunTest : public ::testing::Test {
protected:
    DataSrce bus;
    DataGfun functions;
    CoreSrce* out = bus.getsc(CoreAnsx("FUN1"));
    CoreFun_ fun{CoreAnsx("FUN1"), &functions, &bus, out};

    void SetUp() override {
        bus.getsc(CoreAnsx("OFF"))->setvl(-1.0);
        bus.getsc(CoreAnsx("ON"))->setvl(1.0);
    }
    double run(char const* a, char const* b, char const* fn) {
        fun.setvl(CoreAnsx(a), CoreAnsx(b), CoreAnsx(fn));
        fun.updte();
        return out->getvl();
    }
};

TEST_F(FunTest, UnknownFunctionKeyBecomesTheFirstEntry) {
    fun.setvl(CoreAnsx("ON"), CoreAnsx("OFF"), CoreAnsx("no such function"));
    EXPECT_STREQ(fun.getfn().c_str(), "a");
    fun.updte();
    EXPECT_EQ(out->getvl(), 1.0);
    fun.setfn(CoreAnsx("A+B")); // keys are case-sensitive
    EXPECT_STREQ(fun.getfn().c_str(), "a");
    fun.setfn(CoreAnsx("a*b"));
    EXPECT_STREQ(fun.getfn().c_str(), "a*b");
}

TEST_F(FunTest, TwoInputsThroughTheCatalogue) {
    EXPECT_EQ(run("ON", "OFF", "a+b"), 0.0);
    EXPECT_EQ(run("ON", "OFF", "a-b"), 1.0); // 2, bounded to 1
    EXPECT_EQ(run("0.5", "-0.5", "a*b"), -0.25);
    EXPECT_EQ(run("0.5", "-0.25", "min(a,b)"), -0.25);
    EXPECT_EQ(run("0.5", "-0.25", "max(a,b)"), 0.5);
    EXPECT_EQ(run("0.5", "0.25", "(a+b)/2"), 0.375);
    // A constant outside -1..1 folds before the function sees it.
    EXPECT_EQ(run("1.5", "OFF", "a"), -0.5);
    // Subnormal results are stored as +0.0.
    EXPECT_EQ(run("1e-200", "1e-200", "a*b"), 0.0);
    EXPECT_FALSE(std::signbit(out->getvl()));
}

TEST_F(FunTest, SettersChangeOneSettingAndKeepTheOthers) {
    EXPECT_EQ(run("ON", "OFF", "a-b"), 1.0);
    fun.setfn(CoreAnsx("a+b"));
    fun.updte();
    EXPECT_EQ(out->getvl(), 0.0);
    EXPECT_STREQ(fun.getfa()->getsc().c_str(), "ON");
    fun.setib(CoreAnsx("ON"));
    fun.updte();
    EXPECT_EQ(out->getvl(), 1.0);
    fun.setia(CoreAnsx("-0.75"));
    fun.updte();
    EXPECT_EQ(out->getvl(), 0.25);
    EXPECT_STREQ(fun.getfn().c_str(), "a+b");
    fun.rfrvl(); // re-applying the settings changes nothing
    fun.updte();
    EXPECT_EQ(out->getvl(), 0.25);
    EXPECT_STREQ(fun.getfa()->getsc().c_str(), "-0.75");
    EXPECT_STREQ(fun.getfb()->getsc().c_str(), "ON");
}

TEST_F(FunTest, ReadingItsOwnOutputSeesThePreviousBlock) {
    out->setvl(0.0);
    fun.setvl(CoreAnsx("FUN1"), CoreAnsx("0.25"), CoreAnsx("a+b"));
    double const expected[] = {0.25, 0.5, 0.75, 1.0, 1.0};
    for (double e : expected) {
        fun.updte();
        EXPECT_EQ(out->getvl(), e);
    }
}

TEST_F(FunTest, ReadingAnLfoSeesTheSameBlockInProgramOrder) {
    CoreLfo_ lfo(CoreAnsx("LFO1"), &functions, &bus, bus.getsc(CoreAnsx("LFO1")),
                 bus.getsc(CoreAnsx("RATELFO1")));
    lfo.setvl(1.0, 1.0, 0.0, CoreAnsx(""), CoreAnsx("Rise S"), 0.0, CoreAnsx(""));
    fun.setvl(CoreAnsx("LFO1"), CoreAnsx("OFF"), CoreAnsx("a"));
    double const expected[] = {0.25, 0.5, 0.75, 1.0, -0.75};
    for (double e : expected) {
        lfo.updte(0.125, 120.0);
        fun.updte();
        EXPECT_EQ(out->getvl(), e);
    }
}

TEST_F(FunTest, BlockUpdateAllocatesNothing) {
    fun.setvl(CoreAnsx("MIX1"), CoreAnsx("0.3"), CoreAnsx("sin(a+b)"));
    long const before = allocationCount();
    for (int i = 0; i < 1000; ++i) fun.updte();
    EXPECT_EQ(allocationCount(), before);
}

} // namespace
