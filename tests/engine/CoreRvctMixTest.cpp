// The raw vector's update: the Vector and Liquid controls steer a table of
// curves; pan, gainpad and gain are fixed and the readback is written.
#include "engine/CoreRvct.h"

#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CorePool.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

TEST(CoreRvctMix, CurvesAreInterpolatedAndOtherControlsStayFixed) {
    CorePool pool;
    DataSrce sources;
    for (char const* key : {"MIX1", "MIX2", "MIX3", "MIX4", "MIX5", "MIX8"})
        sources.getsc(key)->setvl(-1.0);
    double positions[3] = {0.0, 2.0, 4.0};
    double readback[3] = {-4.0, 0.0, 4.0};
    auto v = std::make_unique<CoreRvct>(&pool, nullptr, true, 3, nullptr, nullptr, positions, 0.0,
                                        4.0, readback, -4.0, 4.0, &sources, 0.5, "MIX2");
    std::vector<double> a = {1, 2, 3, 4}, b = {10, 20}, c = {-8};
    double* values[3] = {a.data(), b.data(), c.data()};
    int lengths[3] = {4, 2, 1};
    ASSERT_EQ(v->setre(4, values, lengths), 3);
    v->chncp(4, -1, -1);
    v->setvl(true, 0.0, 4.0, "MIX1", true, "MIX8");
    double const* out = static_cast<double const*>(v->getlc());
    double const* outR = static_cast<double const*>(v->getrc());

    sources.getsc("MIX1")->setvl(-0.75); // position 0.5: 3/4 of a, 1/4 of b
    // Whatever the pan, gainpad and gain sources say, they are not bound.
    sources.getsc("MIX3")->setvl(1.0);
    sources.getsc("MIX4")->setvl(1.0);
    v->chnup();
    const std::vector<double> want = {3.25, 6.5, 7.25, 8.0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(out[i], want[i]) << i;
        EXPECT_EQ(outR[i], out[i]); // one block for both sides, added once per side
    }
    EXPECT_DOUBLE_EQ(sources.getsc("MIX8")->getvl(), -0.75);

    // With Liquid at full the curve moves half way per block (liquid 0.5).
    sources.getsc("MIX2")->setvl(1.0);
    sources.getsc("MIX1")->setvl(1.0); // position 4: c alone
    v->chnup();
    EXPECT_DOUBLE_EQ(out[1], 0.5 * 6.5 + 0.5 * -8.0);
    for (int k = 0; k < 100; ++k) v->chnup();
    EXPECT_TRUE(*v->getca());
    EXPECT_NEAR(out[3], -8.0, 1e-15);
    EXPECT_DOUBLE_EQ(sources.getsc("MIX8")->getvl(), 1.0);
    EXPECT_EQ(v->getmn(), 0.0);
    EXPECT_EQ(v->getmx(), 4.0);
}
