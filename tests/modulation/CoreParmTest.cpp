#include "modulation/CoreParm.h"

#include <cmath>

#include <gtest/gtest.h>

#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"

namespace {

// The bus as a program leaves it right after building it.
struct ProgramBus {
    DataSrce bus;
    ProgramBus() {
        bus.getsc(CoreAnsx("ON"))->setvl(1.0);
        for (char const* k : {"OFF", "IN_L", "IN_R", "OUTL", "OUTR"})
            bus.getsc(CoreAnsx(k))->setvl(-1.0);
    }
    CoreParm make(double lower = -1.0, double upper = 1.0) {
        return CoreParm(CoreAnsx("Test Control"), CoreAnsx("Test"), CoreAnsx("-"), lower, upper,
                        &bus);
    }
};

TEST(CoreParmTest, FreshParameterReturnsItsLowerBound) {
    ProgramBus p;
    CoreParm parm(CoreAnsx("n"), CoreAnsx("l"), CoreAnsx("u"), 3.0, 7.0, &p.bus);
    EXPECT_EQ(parm.getvl(), 3.0);
    EXPECT_EQ(parm.getsl(), 3.0);
    EXPECT_EQ(parm.getsu(), 3.0);
    EXPECT_EQ(parm.getbl(), 3.0);
    EXPECT_EQ(parm.getbu(), 7.0);
    EXPECT_FALSE(parm.iscst());
    EXPECT_FALSE(parm.actve());
    EXPECT_STREQ(parm.getsc().c_str(), "");
}

TEST(CoreParmTest, ConstantMapsOntoTheScale) {
    ProgramBus p;
    CoreParm parm(CoreAnsx("n"), CoreAnsx("l"), CoreAnsx("u"), 0.0, 1.0, &p.bus);
    parm.setsr(CoreAnsx("0.5"), 0.0, 10.0);
    EXPECT_TRUE(parm.iscst());
    EXPECT_FALSE(parm.actve());
    EXPECT_EQ(parm.getcv(), 0.5);
    EXPECT_DOUBLE_EQ(parm.getvl(), 7.5);
    EXPECT_STREQ(parm.getsa().c_str(), "0.5000000000");
    EXPECT_STREQ(parm.getsc().c_str(), "0.5");

    parm.setsr(CoreAnsx("abc"), 0.0, 1.0); // no number: constant 0, the middle
    EXPECT_TRUE(parm.iscst());
    EXPECT_EQ(parm.getcv(), 0.0);
    EXPECT_DOUBLE_EQ(parm.getvl(), 0.5);

    parm.setsr(CoreAnsx("off"), 0.0, 1.0); // lower-case is no key
    EXPECT_TRUE(parm.iscst());

    parm.setsr(CoreAnsx("3"), 0.0, 1.0); // not clamped
    EXPECT_DOUBLE_EQ(parm.getvl(), 2.0);
    EXPECT_STREQ(parm.getsa().c_str(), "3.0000000000");
}

TEST(CoreParmTest, SourceMapsLinearly) {
    ProgramBus p;
    CoreParm parm = p.make();
    parm.setsr(CoreAnsx("PRM3"), -12.0, 12.0);
    EXPECT_TRUE(parm.actve());
    EXPECT_FALSE(parm.iscst());
    CoreSrce* prm3 = p.bus.getsc(CoreAnsx("PRM3"));
    for (double v : {-1.0, -0.5, 0.0, 0.25, 1.0}) {
        prm3->setvl(v);
        EXPECT_DOUBLE_EQ(parm.getvl(), 12.0 * v) << v; // independent: the line through both ends
    }
    EXPECT_STREQ(parm.getsa().c_str(), "PRM3");

    parm.setsr(CoreAnsx("ON"), 2.0, 5.0);
    EXPECT_EQ(parm.getvl(), 5.0);
    parm.setsr(CoreAnsx(""), 2.0, 5.0);
    EXPECT_FALSE(parm.actve());
    EXPECT_FALSE(parm.iscst());
    EXPECT_EQ(parm.getvl(), 2.0);
    parm.setsr(CoreAnsx("OFF"), 2.0, 5.0);
    EXPECT_FALSE(parm.actve());
    EXPECT_EQ(parm.getvl(), 2.0);
}

TEST(CoreParmTest, RebindingTakesEffectAtTheNextRead) {
    ProgramBus p;
    CoreParm parm = p.make();
    p.bus.getsc(CoreAnsx("LFO1"))->setvl(0.5);
    p.bus.getsc(CoreAnsx("LFO2"))->setvl(-0.5);
    parm.setsr(CoreAnsx("LFO1"), 0.0, 1.0);
    EXPECT_DOUBLE_EQ(parm.getvl(), 0.75);
    parm.setsr(CoreAnsx("LFO2"), 0.0, 1.0);
    EXPECT_DOUBLE_EQ(parm.getvl(), 0.25);
    p.bus.getsc(CoreAnsx("LFO2"))->setvl(1.0);
    EXPECT_DOUBLE_EQ(parm.getvl(), 1.0);
}

TEST(CoreParmTest, EqualScaleEndsGiveThatEnd) {
    ProgramBus p;
    CoreParm parm = p.make();
    parm.setsr(CoreAnsx("MIX1"), 4.0, 4.0);
    for (double v : {-1.0, 0.0, 0.7, 1.0}) {
        p.bus.getsc(CoreAnsx("MIX1"))->setvl(v);
        EXPECT_EQ(parm.getvl(), 4.0);
    }
}

TEST(CoreParmTest, ZeroAndSubnormalResultsArePositiveZero) {
    ProgramBus p;
    CoreParm parm = p.make();
    parm.setsr(CoreAnsx("MIX1"), -1.0, 1.0);
    p.bus.getsc(CoreAnsx("MIX1"))->setvl(0.0);
    double v = parm.getvl();
    EXPECT_EQ(v, 0.0);
    EXPECT_FALSE(std::signbit(v));
    // A subnormal span is stored as zero, so the lower end comes back.
    parm.setsr(CoreAnsx("ON"), 0.0, 1e-310);
    v = parm.getvl();
    EXPECT_EQ(v, 0.0);
    EXPECT_FALSE(std::signbit(v));
    parm.setsr(CoreAnsx("ON"), -1e-310, 0.0);
    v = parm.getvl();
    EXPECT_EQ(v, 0.0);
    EXPECT_FALSE(std::signbit(v));
}

TEST(CoreParmTest, WithoutBusNumbersStillBind) {
    CoreParm parm(CoreAnsx("n"), CoreAnsx("l"), CoreAnsx("u"), 1.0, 2.0, nullptr);
    EXPECT_EQ(parm.getvl(), 1.0);
    parm.setsr(CoreAnsx("1"), 0.0, 8.0);
    EXPECT_DOUBLE_EQ(parm.getvl(), 8.0);
    parm.setsr(CoreAnsx(""), 0.0, 8.0);
    EXPECT_EQ(parm.getvl(), 0.0); // reads as "OFF"
}

TEST(CoreParmTest, NonFiniteOrSignedZeroConstantsAreStoredSoundly) {
    ProgramBus p;
    CoreParm parm = p.make();
    for (char const* text : {"nan", "-nan", "inf", "-Infinity", "1e999"}) {
        parm.setsr(CoreAnsx(text), 0.0, 10.0);
        EXPECT_TRUE(parm.iscst()) << text;
        EXPECT_EQ(parm.getcv(), 0.0) << text;
        EXPECT_EQ(parm.getvl(), 5.0) << text; // read as constant 0: the middle
        EXPECT_STREQ(parm.getsa().c_str(), "0.0000000000") << text;
    }
    for (char const* text : {"-0", "-1e-310"}) {
        parm.setsr(CoreAnsx(text), 0.0, 10.0);
        EXPECT_FALSE(std::signbit(parm.getcv())) << text;
        EXPECT_STREQ(parm.getsa().c_str(), "0.0000000000") << text;
    }
}

} // namespace
