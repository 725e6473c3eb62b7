// The vector update at the ends of its ranges: control values beyond the
// bus range and normalisation weights past their ends.
#include "engine/CoreVctr.h"

#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CorePool.h"
#include "tests/engine/CoreVctrPeek.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using Signal = std::vector<double>;

using Peek = CoreVctrPeek;

// One or two delta elements on "MIX1" (position), "MIX2" (liquid), "MIX3"
// (pan), "MIX4" (gainpad), "MIX5" (gain); every source starts at -1 except
// pan (0): retention 0, no gainpad, gain 0 when switched on.
struct Edge {
    Edge(std::vector<double> pos, double panDepth, double floor, bool gainOn, bool normalise,
         double normWeight, int length = 8)
        : length(length) {
        for (char const* key : {"MIX1", "MIX2", "MIX4", "MIX5"}) set(key, -1.0);
        set("MIX3", 0.0);
        int n = static_cast<int>(pos.size());
        v = std::make_unique<CoreVctr>(&pool, nullptr, 0, nullptr, true, n, nullptr, pos.data(),
                                       nullptr, pos.front(), pos.back(), pos.data(), 0.0, 1.0,
                                       "MIX1", &sources, 0.5, "MIX2", 0, 0, nullptr, nullptr, false,
                                       0, 0, false);
        v->setvl(true, pos.front(), pos.back(), "MIX1", false, "", panDepth, "MIX3", floor, "MIX4",
                 gainOn, "MIX5", normalise, pos.front(), normWeight);
        v->chncp(length, -1, -1);
        left.assign(n, Signal(length, 0.0));
        right.assign(n, Signal(length, 0.0));
    }
    void set(char const* key, double value) { sources.getsc(key)->setvl(value); }
    void install() {
        for (size_t i = 0; i < left.size(); ++i)
            v->setip(static_cast<int>(i), left[i].data(), right[i].data(), "", length, 0, 0, 0,
                     nullptr, 0);
    }
    double* outL() { return static_cast<double*>(v->getlc()); }
    double* outR() { return static_cast<double*>(v->getrc()); }

    int length;
    CorePool pool;
    DataSrce sources;
    std::unique_ptr<CoreVctr> v;
    std::vector<Signal> left, right;
};

} // namespace

TEST(CoreVctrEdge, ControlsBeyondTheBusRangeStopAtTheirEnds) {
    // Gainpad past full with floor 0 stops at gain 0, never inverts; a Gain
    // constant past 1 does not amplify; below the range Gainpad does nothing.
    Edge e({0.0}, 0.0, 0.0, true, false, 1.0);
    e.left[0][0] = 1.0;
    e.right[0][0] = 1.0;
    e.install();
    e.set("MIX4", 3.0);
    e.set("MIX5", 5.0);
    e.v->chnru(true);
    EXPECT_EQ(e.outL()[0], 0.0);
    e.set("MIX4", -3.0);
    e.v->chnru(true);
    EXPECT_EQ(e.outL()[0], 1.0);

    // A Pan value past +1, or a depth past one quarter turn, is a hard pan:
    // left goes wholly to the right, nothing is inverted.
    for (double depth : {1.0, 2.0}) {
        Edge p({0.0}, depth, 1.0, false, false, 1.0);
        p.left[0][0] = 1.0;
        p.right[0][0] = 2.0;
        p.install();
        p.set("MIX3", depth == 1.0 ? 2.0 : 1.0);
        p.v->chnru(true);
        EXPECT_NEAR(p.outL()[0], 0.0, 1e-15) << depth;
        EXPECT_DOUBLE_EQ(p.outR()[0], 3.0) << depth;
        p.set("MIX3", -4.0);
        p.v->chnru(true);
        EXPECT_DOUBLE_EQ(p.outL()[0], 3.0) << depth;
        EXPECT_NEAR(p.outR()[0], 0.0, 1e-15) << depth;
    }
}

TEST(CoreVctrEdge, NormalisationWeightPastItsEndsStaysABlend) {
    // Weights past 1 (or below 0) act as 1 (or 0): the loudest kernel peaks
    // at 1 and no kernel is inverted.
    for (double w : {2.0, -1.0}) {
        Edge e({0.0, 1.0, 2.0}, 0.0, 1.0, false, true, w);
        double peaks[3] = {1.0, 2.0, 8.0};
        for (int i = 0; i < 3; ++i) {
            e.left[i][0] = peaks[i];
            e.right[i][0] = peaks[i];
            e.v->setpk(i, peaks[i]);
        }
        e.install();
        e.v->setgn(1.0);
        double top = 0.0;
        for (int i = 0; i < 3; ++i) {
            EXPECT_GT(e.left[i][0], 0.0) << w << " " << i;
            top = std::max(top, e.left[i][0]);
        }
        EXPECT_DOUBLE_EQ(top, 1.0) << w;
        if (w > 1.0) {
            // Per element only: every kernel at 1, makeup 1.
            for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(e.left[i][0], 1.0);
            EXPECT_DOUBLE_EQ(Peek::makeup(*e.v), 1.0);
        } else {
            // Reference only (peak 1 at position 0): shape kept, loudest at 1.
            for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(e.left[i][0], peaks[i] / 8.0);
            EXPECT_DOUBLE_EQ(Peek::makeup(*e.v), 8.0);
        }
    }
}
