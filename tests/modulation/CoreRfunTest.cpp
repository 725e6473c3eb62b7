#include "modulation/CoreRfun.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/AllocCount.h"

#include "modulation/CoreSrce.h"
#include "modulation/DataRgfn.h"
#include "modulation/DataSrce.h"

namespace {

class RfunTest : public ::testing::Test {
protected:
    DataSrce bus;
    DataRgfn raws;
    CoreSrce* out = bus.getsc(CoreAnsx("RAWFUN1"));
    CoreRfun rfun{CoreAnsx("RAWFUN1"), &raws, &bus, out};
    std::vector<double> first{0.5, 0.25, 0.5, 0.75, 1.0};
    std::vector<double> second{1.0, 2.0};

    void SetUp() override {
        bus.getsc(CoreAnsx("OFF"))->setvl(-1.0);
        bus.getsc(CoreAnsx("ON"))->setvl(1.0);
    }
    void configure(char const* a, char const* b, char const* fn, int rate = 4,
                   double initial = -1.0) {
        rfun.setvl(CoreAnsx(a), CoreAnsx(b), CoreAnsx("RAW1"), CoreAnsx("RAW2"), CoreAnsx(fn), rate,
                   initial);
    }
    void attachBoth() {
        rfun.setvl(0, first.data(), static_cast<int>(first.size()));
        rfun.setvl(1, second.data(), static_cast<int>(second.size()));
        rfun.chckv();
    }
};

TEST_F(RfunTest, FunctionKeyAndRawNames) {
    configure("OFF", "OFF", "NOPE");
    EXPECT_STREQ(rfun.getfn().c_str(), "RSINGLE");
    configure("OFF", "OFF", "RMULTI");
    EXPECT_STREQ(rfun.getfn().c_str(), "RMULTI");
    EXPECT_STREQ(rfun.getfr(0).c_str(), "RAW1");
    EXPECT_STREQ(rfun.getfr(1).c_str(), "RAW2");
    EXPECT_STREQ(rfun.getfr(2).c_str(), "");
    EXPECT_STREQ(rfun.getfr(-1).c_str(), "");
    rfun.setvl();
    EXPECT_STREQ(rfun.getfr(0).c_str(), "");
    EXPECT_STREQ(rfun.getfr(1).c_str(), "");
    EXPECT_FALSE(rfun.isact());
}

TEST_F(RfunTest, ActiveOnlyWithBothArrays) {
    EXPECT_FALSE(rfun.isact()); // built inactive
    configure("OFF", "OFF", "RSINGLE");
    EXPECT_FALSE(rfun.isact()); // configured, nothing attached yet
    rfun.setvl(0, first.data(), 5);
    rfun.chckv();
    EXPECT_FALSE(rfun.isact());
    rfun.setvl(1, second.data(), 2); // too late: chckv has retired it
    EXPECT_FALSE(rfun.isact());

    configure("OFF", "OFF", "RSINGLE");
    attachBoth();
    EXPECT_TRUE(rfun.isact());

    // Any nonzero index means array 1; a null array or no length detaches.
    configure("OFF", "OFF", "RSINGLE");
    rfun.setvl(0, first.data(), 5);
    rfun.setvl(7, second.data(), 2);
    EXPECT_TRUE(rfun.isact());
    EXPECT_EQ(rfun.getex().array1, second.data());
    rfun.setvl(-3, second.data(), -2);
    EXPECT_FALSE(rfun.isact());
    EXPECT_EQ(rfun.getex().array1, nullptr);
    rfun.setvl(1, nullptr, 4);
    EXPECT_EQ(rfun.getex().length1, 0);
}

TEST_F(RfunTest, InitialValueIsStoredUnipolar) {
    configure("OFF", "OFF", "RSINGLE", 4, -1.0);
    EXPECT_EQ(rfun.getex().value, 0.0);
    configure("OFF", "OFF", "RSINGLE", 4, 1.0);
    EXPECT_EQ(rfun.getex().value, 1.0);
    configure("OFF", "OFF", "RSINGLE", 4, 0.0);
    EXPECT_EQ(rfun.getex().value, 0.5);
    EXPECT_EQ(rfun.getex().rate, 4.0);
}

TEST_F(RfunTest, SingleValueEnvelope) {
    configure("ON", "OFF", "RSINGLE", 4);
    attachBoth();
    rfun.updte(64.0);
    double const v = std::exp(-1.0 / (0.5 * 4.0)) - 0.5;
    EXPECT_DOUBLE_EQ(rfun.getex().value, v);
    EXPECT_DOUBLE_EQ(out->getvl(), 2.0 * v - 1.0);
    EXPECT_EQ(rfun.getex().samples, 64.0);
    EXPECT_EQ(rfun.getex().a, 1.0);
    EXPECT_EQ(rfun.getex().b, 0.0);
}

TEST_F(RfunTest, SingleValueWithDegenerateArraysStaysFinite) {
    configure("OFF", "OFF", "RSINGLE", 4);
    attachBoth();
    first[0] = 0.0; // exp(-inf) - 0.5
    rfun.updte(64.0);
    EXPECT_EQ(rfun.getex().value, -0.5);
    EXPECT_EQ(out->getvl(), -2.0);
    first[0] = -0.0; // exp(+inf): bounded to 1
    rfun.updte(64.0);
    EXPECT_EQ(out->getvl(), 1.0);
    first[0] = std::nan("");
    rfun.updte(64.0);
    EXPECT_TRUE(std::isfinite(out->getvl()));
    EXPECT_TRUE(std::isfinite(rfun.getex().value));
    configure("OFF", "OFF", "RSINGLE", 0); // rate 0
    first[0] = 0.5;
    attachBoth();
    rfun.updte(64.0);
    EXPECT_EQ(out->getvl(), -2.0);
}

TEST_F(RfunTest, MultiValueTableLookup) {
    configure("OFF", "OFF", "RMULTI");
    attachBoth();
    rfun.updte(32.0); // a = 0: first entry after the skipped one
    EXPECT_EQ(rfun.getex().value, 0.25);
    EXPECT_EQ(out->getvl(), -0.5);

    configure("ON", "ON", "RMULTI"); // far past the end: the last value
    attachBoth();
    rfun.updte(32.0);
    EXPECT_EQ(rfun.getex().value, 1.0);
    EXPECT_EQ(out->getvl(), 1.0);

    // a x 1e8 x b = about 1.5: between entries 2 and 3 of the table.
    configure("-0.99999997", "ON", "RMULTI");
    attachBoth();
    rfun.updte(32.0);
    double const p = rfun.getex().a * 1e8 / (1.0 / rfun.getex().b);
    ASSERT_GT(p, 1.0);
    ASSERT_LT(p, 2.0);
    double const frac = p - std::floor(p);
    double const expected = first[2] + (first[3] - first[2]) * frac;
    EXPECT_NEAR(rfun.getex().value, expected, 1e-12);
    EXPECT_NEAR(out->getvl(), 2.0 * expected - 1.0, 1e-12);

    // b = 0: infinite step, position 0.
    configure("0.5", "OFF", "RMULTI");
    attachBoth();
    rfun.updte(32.0);
    EXPECT_EQ(rfun.getex().value, 0.25);
}

TEST_F(RfunTest, ResultsAreClampedButNotFoldedSoTheSourceReachesMinusThree) {
    configure("OFF", "OFF", "RMULTI");
    attachBoth();
    first[1] = -0.5;
    rfun.updte(32.0);
    EXPECT_EQ(out->getvl(), -2.0);
    first[1] = -4.0;
    rfun.updte(32.0);
    EXPECT_EQ(rfun.getex().value, -1.0);
    EXPECT_EQ(out->getvl(), -3.0);
    first[1] = 1e-320; // subnormal: stored as +0.0, then B(0) = -1 exactly
    rfun.updte(32.0);
    EXPECT_EQ(rfun.getex().value, 0.0);
    EXPECT_EQ(out->getvl(), -1.0);
}

TEST_F(RfunTest, UpdateAfterAFailedAttachReadsNoStaleArray) {
    auto* held = new std::vector<double>{0.5, 0.25, 0.5};
    configure("OFF", "OFF", "RSINGLE");
    rfun.setvl(0, held->data(), 3);
    rfun.setvl(1, held->data(), 3);
    rfun.chckv();
    rfun.updte(16.0);
    double const last = out->getvl();
    // The program unloads its raw vectors and reloads; the raw build fails,
    // so neither attachment nor chckv follows.
    delete held;
    configure("OFF", "OFF", "RSINGLE");
    EXPECT_FALSE(rfun.isact());
    rfun.updte(16.0); // must not touch the freed array (sanitizer run)
    EXPECT_EQ(out->getvl(), last);
    EXPECT_EQ(rfun.getex().array0, nullptr);
    EXPECT_EQ(rfun.getex().array1, nullptr);

    rfun.setvl(); // retired: no update either
    rfun.updte(16.0);
    EXPECT_EQ(out->getvl(), last);
}

TEST_F(RfunTest, BlockUpdateAllocatesNothing) {
    configure("MIX1", "0.25", "RMULTI");
    attachBoth();
    long const before = allocationCount();
    for (int i = 0; i < 1000; ++i) rfun.updte(128.0);
    EXPECT_EQ(allocationCount(), before);
}

} // namespace
