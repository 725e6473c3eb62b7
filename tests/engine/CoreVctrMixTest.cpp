// The per-block vector update: weights, readback, liquid convergence, pan,
// gain, the all-element mix, normalisation, output fades, the updated-flag
// gate, and a moving vector played through a convolution player.
#include "engine/CoreVctr.h"

#include "engine/CoreCnvl.h"
#include "engine/CorePlel.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CorePool.h"
#include "tests/engine/CoreVctrPeek.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <memory>
#include <random>
#include <vector>

namespace {

using Signal = std::vector<double>;

using Peek = CoreVctrPeek;

struct Options {
    std::vector<double> positions{0.0, 1.0};
    double minimum = 0.0, maximum = 1.0;
    double liquid = 0.5;
    bool nearest = false;
    bool leaf = true;
    std::vector<CoreVctr*> children;
    std::vector<double> readback;
    double readbackBase = 0.0, readbackTop = 1.0;
    bool vectorOn = true, readbackOn = false, gainOn = false, normalise = false;
    double panDepth = 0.0, floor = 1.0, normPosition = 0.0, normWeight = 1.0;
    int length = 8;
    CoreCnvl* engine = nullptr;
};

// Vector on "MIX1" (position), liquid on "MIX2", pan "MIX3", gainpad
// "MIX4", gain "MIX5", readback written to "MIX8". All sources start at -1:
// retention 0, gainpad 0, gain 0, pan -depth.
class Rig {
public:
    explicit Rig(Options const& o) : opts(o) {
        for (int i = 0; i < 8; ++i) set("MIX" + std::to_string(i + 1), -1.0);
        set("MIX3", 0.0);
        std::vector<double> pos(o.positions);
        std::vector<double> rb(o.readback.empty() ? o.positions : o.readback);
        std::vector<CoreVctr*> kids(o.children);
        int n = static_cast<int>(pos.size());
        v = std::make_unique<CoreVctr>(&pool, nullptr, 0, o.engine, o.leaf, n, nullptr, pos.data(),
                                       kids.empty() ? nullptr : kids.data(), o.minimum, o.maximum,
                                       rb.data(), o.readbackBase, o.readbackTop, "MIX1", &sources,
                                       o.liquid, "MIX2", 0, 0, nullptr, nullptr, o.nearest, 0, 0,
                                       false);
        v->setvl(o.vectorOn, o.minimum, o.maximum, "MIX1", o.readbackOn, "MIX8", o.panDepth, "MIX3",
                 o.floor, "MIX4", o.gainOn, "MIX5", o.normalise, o.normPosition, o.normWeight);
        v->chncp(o.length, -1, -1);
        if (!o.leaf) v->chnip();
        left.assign(n, Signal(o.length, 0.0));
        right.assign(n, Signal(o.length, 0.0));
    }
    ~Rig() { v.reset(); }
    Rig(Rig const&) = delete;
    Rig& operator=(Rig const&) = delete;

    void set(std::string const& key, double value) { sources.getsc(key.c_str())->setvl(value); }
    double get(std::string const& key) { return sources.getsc(key.c_str())->getvl(); }
    // Element i: left = a * delta at i, right = b * delta at i (weights show per sample).
    void deltas(double a = 1.0, double b = 2.0) {
        for (size_t i = 0; i < left.size(); ++i) {
            left[i][i] = a;
            right[i][i] = b;
        }
        install();
    }
    void install() {
        for (size_t i = 0; i < left.size(); ++i)
            v->setip(static_cast<int>(i), left[i].data(), right[i].data(), "", opts.length, 0, 0, 0,
                     nullptr, 0);
    }
    double* outL() { return static_cast<double*>(v->getlc()); }
    double* outR() { return static_cast<double*>(v->getrc()); }
    Signal lefts() { return Signal(outL(), outL() + opts.length); }
    // Position p in minimum..maximum as a bus value on MIX1.
    void position(double p) {
        set("MIX1", 2.0 * (p - opts.minimum) / (opts.maximum - opts.minimum) - 1.0);
    }

    Options opts;
    CorePool pool;
    DataSrce sources;
    std::unique_ptr<CoreVctr> v;
    std::vector<Signal> left, right;
};

void expectChoice(CoreVctr const& v, int i0, double w0, int i1, double w1) {
    EXPECT_EQ(Peek::index(v, 0), i0);
    EXPECT_DOUBLE_EQ(Peek::weight(v, 0), w0);
    EXPECT_EQ(Peek::index(v, 1), i1);
    EXPECT_DOUBLE_EQ(Peek::weight(v, 1), w1);
}

} // namespace

TEST(CoreVctrMix, WeightsAtTheEdgesOfThePositionRange) {
    Options o;
    o.positions = {0.2, 1.0, 1.6};
    o.maximum = 2.0;
    Rig rig(o);
    rig.deltas();
    rig.position(0.0); // below the first element
    rig.v->chnru(true);
    expectChoice(*rig.v, -1, 0.0, 0, 1.0);
    EXPECT_EQ(rig.lefts(), (Signal{1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(rig.outR()[0], 2.0);
    rig.position(2.0); // above the last
    rig.v->chnru(true);
    expectChoice(*rig.v, 2, 1.0, -1, 0.0);
    EXPECT_EQ(rig.lefts(), (Signal{0, 0, 1, 0, 0, 0, 0, 0}));
    rig.position(1.0); // exact hit: lower only
    rig.v->chnru(true);
    expectChoice(*rig.v, 1, 1.0, -1, 0.0);
    rig.position(0.5); // between 0.2 and 1.0
    rig.v->chnru(true);
    expectChoice(*rig.v, 0, 0.625, 1, 0.375);
    EXPECT_DOUBLE_EQ(rig.outL()[0], 0.625);
    EXPECT_DOUBLE_EQ(rig.outL()[1], 0.375);
    EXPECT_DOUBLE_EQ(rig.outR()[1], 0.75);
}

TEST(CoreVctrMix, NearestModeTieGoesUpAndTheWinnerTakesTheFirstSlot) {
    Options o;
    o.positions = {0.0, 1.0, 2.0};
    o.maximum = 2.0;
    o.nearest = true;
    Rig rig(o);
    rig.deltas();
    rig.position(0.5);
    rig.v->chnru(true);
    expectChoice(*rig.v, 1, 1.0, -1, 0.0);
    EXPECT_EQ(rig.lefts(), (Signal{0, 1, 0, 0, 0, 0, 0, 0}));
    rig.position(0.25);
    rig.v->chnru(true);
    expectChoice(*rig.v, 0, 1.0, -1, 0.0);
    rig.position(1.75);
    rig.v->chnru(true);
    expectChoice(*rig.v, 2, 1.0, -1, 0.0);
}

TEST(CoreVctrMix, SingleElementAndDuplicatePositions) {
    Options one;
    one.positions = {0.7};
    one.minimum = -5.0;
    one.maximum = 5.0;
    Rig a(one);
    a.deltas();
    for (double bus : {-1.0, 0.3, 1.0}) {
        a.set("MIX1", bus);
        a.v->chnru(true);
        EXPECT_EQ(a.outL()[0], 1.0) << bus;
    }
    EXPECT_EQ(a.v->getmn(), 0.0);
    EXPECT_EQ(a.v->getmx(), 0.0);

    // The second element at 1.0 is never found by position ...
    Options dup;
    dup.positions = {0.0, 1.0, 1.0};
    Rig b(dup);
    b.deltas();
    b.position(1.0);
    b.v->chnru(true);
    EXPECT_EQ(b.lefts(), (Signal{0, 1, 0, 0, 0, 0, 0, 0}));
    // ... but the vector switched off mixes all three with the gain as weight.
    dup.vectorOn = false;
    Rig c(dup);
    c.deltas();
    c.v->chnru(true);
    EXPECT_EQ(c.lefts(), (Signal{1, 1, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(c.outR()[2], 2.0);
    // Elements without buffers yet are left out instead of read.
    Rig empty(dup);
    empty.v->chnru(true);
    dup.vectorOn = true;
    Rig emptyOn(dup);
    emptyOn.v->chnru(true);
    EXPECT_EQ(emptyOn.lefts(), Signal(8, 0.0));
}

TEST(CoreVctrMix, ReadbackIsWrittenOnRecomputeWithItsMapping) {
    Options o;
    o.positions = {0.2, 1.0, 1.6};
    o.maximum = 2.0;
    o.readback = {10.0, 20.0, 40.0};
    o.readbackTop = 40.0;
    o.readbackOn = true;
    Rig rig(o);
    rig.deltas();
    rig.position(0.5);
    rig.v->chnru(false); // weights are found without mixing too
    EXPECT_DOUBLE_EQ(rig.get("MIX8"), (0.625 * 10 + 0.375 * 20) * 0.05 - 1.0);
    EXPECT_EQ(rig.outL()[0], 0.0);
    rig.set("MIX8", 0.9);
    rig.v->chnru(true); // same position: cached, readback not written again
    EXPECT_EQ(rig.get("MIX8"), 0.9);
    rig.position(1.6);
    rig.v->chnru(true);
    EXPECT_DOUBLE_EQ(rig.get("MIX8"), 1.0);

    // Top equal to base: scale 0, the readback stays finite at -1.
    o.readbackTop = o.readbackBase;
    Rig flat(o);
    flat.deltas();
    flat.position(0.5);
    flat.v->chnru(true);
    EXPECT_EQ(flat.get("MIX8"), -1.0);
}

TEST(CoreVctrMix, LiquidSmoothsAndConvergesAfterTheExpectedBlocks) {
    for (double liquid : {0.5, 0.9, 0.99}) {
        Options o;
        o.liquid = liquid;
        Rig rig(o);
        rig.deltas();
        rig.set("MIX2", 1.0); // Liquid control full: retention = liquid
        rig.position(0.25);
        rig.v->chnru(true); // the change
        EXPECT_FALSE(*rig.v->getca());
        double expect = 0.75 * (1.0 - liquid); // from silence, one step of (1 - r)
        EXPECT_NEAR(rig.outL()[0], expect, 1e-15);
        const int blocks = static_cast<int>(std::ceil(std::log(1e-20) / std::log(liquid)));
        for (int k = 1; k < blocks; ++k) {
            rig.v->chnru(true);
            expect = liquid * expect + 0.75 * (1.0 - liquid);
            ASSERT_FALSE(*rig.v->getca()) << liquid << " block " << k;
        }
        EXPECT_NEAR(rig.outL()[0], expect, 1e-13);
        rig.v->chnru(true);
        EXPECT_TRUE(*rig.v->getca()) << liquid;
        const double settled = rig.outL()[0];
        for (int k = 0; k < 10; ++k) rig.v->chnru(true);
        EXPECT_EQ(rig.outL()[0], settled); // nothing mixed once converged
    }
    // Liquid control at 0: the new mix at once, converged on the next block.
    Options o;
    Rig zero(o);
    zero.deltas();
    zero.position(0.25);
    zero.v->chnru(true);
    EXPECT_EQ(zero.outL()[0], 0.75);
    EXPECT_FALSE(*zero.v->getca());
    zero.v->chnru(true);
    EXPECT_TRUE(*zero.v->getca());
    // A constant Liquid source outside the bus range counts as full Liquid:
    // retention 0.5, not 1.0 (which would freeze the output at silence).
    CorePool pool;
    DataSrce sources;
    double pos = 0.0;
    Signal e(4, 1.0);
    CoreVctr wild(&pool, nullptr, 0, nullptr, true, 1, nullptr, &pos, nullptr, 0, 0, &pos, 0, 1,
                  "MIX1", &sources, 0.5, "3", 0, 0, nullptr, nullptr, false, 0, 0, false);
    wild.setvl(true, 0, 0, "MIX1", false, "", 0, "", 1, "", false, "", false, 0, 1);
    wild.chncp(4, -1, -1);
    wild.setip(0, e.data(), e.data(), "", 4, 0, 0, 0, nullptr, 0);
    for (int k = 0; k < 3; ++k) wild.chnru(true);
    EXPECT_DOUBLE_EQ(static_cast<double*>(wild.getlc())[0], 0.875);
    // setlq clamps like the constructor.
    zero.v->setlq(2.0);
    EXPECT_EQ(zero.v->getlq(), 0.99);
    zero.v->setlq(0.0);
    EXPECT_EQ(zero.v->getlq(), 0.01);
    zero.v->setlq(0.3);
    EXPECT_EQ(zero.v->getlq(), 0.3);
}

TEST(CoreVctrMix, InnerVectorWaitsForItsChildren) {
    CorePool pool;
    DataSrce sources;
    sources.getsc("MIX2")->setvl(1.0);
    sources.getsc("MIX1")->setvl(-1.0);
    std::vector<Signal> bufs(2, Signal(4, 1.0));
    auto child = [&](double liquid, int i) {
        double pos = 0.0;
        auto* c = new CoreVctr(&pool, nullptr, 0, nullptr, true, 1, nullptr, &pos, nullptr, 0.0,
                               0.0, &pos, 0.0, 1.0, "MIX1", &sources, liquid, "MIX2", 0, 0, nullptr,
                               nullptr, false, 0, 0, false);
        c->setvl(true, 0, 0, "MIX1", false, "", 0, "", 1, "", false, "", false, 0, 1);
        c->setip(0, bufs[i].data(), bufs[i].data(), "", 4, 0, 0, 0, nullptr, 0);
        return c;
    };
    CoreVctr* kids[2] = {child(0.9, 0), child(0.5, 1)};
    double pos[2] = {0.0, 1.0};
    // The parent's own Liquid is on "MIX3", held at 0.
    sources.getsc("MIX3")->setvl(-1.0);
    CoreVctr parent(&pool, nullptr, 0, nullptr, false, 2, nullptr, pos, kids, 0.0, 1.0, pos, 0.0,
                    1.0, "MIX1", &sources, 0.5, "MIX3", 0, 0, nullptr, nullptr, false, 0, 0, false);
    parent.setvl(false, 0, 1, "MIX1", false, "", 0, "", 1, "", false, "", false, 0, 1);
    parent.chncp(4, -1, -1);
    parent.chnip();
    const int childBlocks = static_cast<int>(std::ceil(std::log(1e-20) / std::log(0.9)));
    int block = 0;
    while (!*kids[0]->getca()) {
        parent.chnru(true);
        ++block;
        if (!*kids[0]->getca()) {
            ASSERT_FALSE(*parent.getca()) << block;
        }
        ASSERT_LT(block, 1000);
    }
    EXPECT_EQ(block, childBlocks + 1);
    parent.chnru(true);
    EXPECT_TRUE(*parent.getca());
    EXPECT_NEAR(static_cast<double*>(parent.getlc())[0], 2.0, 1e-15);
}

TEST(CoreVctrMix, PanMatricesAndChangeByValue) {
    Options o;
    o.positions = {0.0};
    o.panDepth = 1.0;
    Rig rig(o);
    rig.left[0].assign(o.length, 1.0);
    rig.right[0].assign(o.length, 2.0);
    rig.install();
    rig.set("MIX3", 0.0); // pan 0: identity
    rig.v->chnru(true);
    EXPECT_EQ(rig.outL()[3], 1.0);
    EXPECT_EQ(rig.outR()[3], 2.0);
    rig.v->chnru(true);
    EXPECT_TRUE(*rig.v->getca());
    rig.set("MIX3", 1.0); // a = pi/2: (cos, sin, 0, 1)
    rig.v->chnru(true);
    EXPECT_FALSE(*rig.v->getca()); // a pan change alone is a change
    EXPECT_NEAR(rig.outL()[3], std::cos(M_PI / 2), 1e-15);
    EXPECT_DOUBLE_EQ(rig.outR()[3], 3.0);
    rig.set("MIX3", -1.0); // a = -pi/2: (1, 0, sin, cos)
    rig.v->chnru(true);
    EXPECT_DOUBLE_EQ(rig.outL()[3], 3.0);
    EXPECT_NEAR(rig.outR()[3], 2.0 * std::cos(M_PI / 2), 1e-15);
    rig.set("MIX3", 0.5); // a = pi/4
    rig.v->chnru(true);
    EXPECT_DOUBLE_EQ(rig.outL()[3], std::cos(M_PI / 4));
    EXPECT_DOUBLE_EQ(rig.outR()[3], std::sin(M_PI / 4) + 2.0);
}

TEST(CoreVctrMix, GainpadGainAndTheUncompoundedCache) {
    Options o;
    o.liquid = 0.5;
    Rig rig(o);
    rig.deltas();
    rig.position(0.5);
    rig.set("MIX4", 1.0); // full Gainpad with floor 1: no effect
    rig.v->chnru(true);
    EXPECT_EQ(rig.outL()[0], 0.5);
    // Same position for many blocks with a gain below 1 (retention 0): the
    // weights keep their value instead of shrinking block after block.
    o.floor = 0.5;
    Rig half(o);
    half.deltas();
    half.position(0.5);
    half.set("MIX4", 1.0);
    for (int k = 0; k < 20; ++k) half.v->chnru(true);
    EXPECT_EQ(half.outL()[0], 0.25);
    EXPECT_EQ(half.outL()[1], 0.25);
    // The Gain control multiplies when switched on.
    o.floor = 1.0;
    o.gainOn = true;
    Rig gained(o);
    gained.deltas();
    gained.position(0.0);
    gained.set("MIX5", 0.5); // Gain 0.75
    gained.v->chnru(true);
    EXPECT_EQ(gained.outL()[0], 0.75);

    // Floor 0 with full Gainpad: gain 0, the output decays at the liquid rate.
    o.gainOn = false;
    o.floor = 0.0;
    Rig fade(o);
    fade.deltas();
    fade.set("MIX2", 1.0);
    fade.position(0.0);
    for (int k = 0; k < 200; ++k) fade.v->chnru(true);
    const double full = fade.outL()[0];
    EXPECT_NEAR(full, 1.0, 1e-15);
    fade.set("MIX4", 1.0);
    double expect = full;
    for (int k = 0; k < 10; ++k) {
        fade.v->chnru(true);
        expect *= 0.5;
        EXPECT_EQ(fade.outL()[0], expect);
    }
    // Settled once the residual share is below the tolerance: silence.
    for (int k = 0; k < 2000; ++k) fade.v->chnru(true);
    EXPECT_TRUE(*fade.v->getca());
    EXPECT_LT(fade.outL()[0], 1e-20);
}

TEST(CoreVctrMix, NormalisationScalesToUnitPeakWithMakeup) {
    // Elements with peaks 2, 4 and a silent one; the reference peak at
    // position 0.5 lies halfway between the first two (3).
    for (double weight : {0.0, 1.0, 0.25}) {
        Options o;
        o.positions = {0.0, 1.0, 2.0};
        o.maximum = 2.0;
        o.normalise = true;
        o.normPosition = 0.5;
        o.normWeight = weight;
        Rig rig(o);
        const double peaks[3] = {2.0, 4.0, 0.0};
        for (int i = 0; i < 3; ++i) {
            rig.left[i].assign(o.length, 0.0);
            rig.left[i][1] = -peaks[i];
            rig.left[i][2] = peaks[i] / 2;
            rig.right[i] = rig.left[i];
            rig.v->setpk(i, peaks[i]);
        }
        rig.install();
        rig.v->setgn(0.5);
        double t[2], makeup = 0.0;
        for (int i = 0; i < 2; ++i) {
            t[i] = (1 - weight) * 0.5 / 3.0 + weight * 0.5 / peaks[i];
            makeup = std::max(makeup, t[i] * peaks[i]);
        }
        EXPECT_DOUBLE_EQ(Peek::makeup(*rig.v), makeup) << weight;
        double loudest = 0.0;
        for (int i = 0; i < 2; ++i) {
            EXPECT_DOUBLE_EQ(rig.left[i][1], -peaks[i] * t[i] / makeup);
            loudest = std::max(loudest, std::fabs(rig.left[i][1]));
        }
        EXPECT_DOUBLE_EQ(loudest, 1.0);
        EXPECT_EQ(rig.left[2], Signal(o.length, 0.0)); // silent: untouched, no NaN
        // Mixing element 1 restores t_1 times its original level.
        rig.position(1.0);
        rig.v->chnru(true);
        EXPECT_DOUBLE_EQ(rig.outL()[1], -4.0 * t[1]);
    }
    // A buffer shared by left and right, and by two elements, is scaled once;
    // a silent reference falls back to per-element levels.
    Options o;
    o.positions = {0.0, 1.0};
    o.normalise = true;
    o.normWeight = 0.0;
    Rig rig(o);
    Signal shared(o.length, 0.0);
    shared[0] = 4.0;
    rig.v->setip(0, shared.data(), shared.data(), "", o.length, 0, 0, 0, nullptr, 0);
    rig.v->setip(1, shared.data(), shared.data(), "", o.length, 0, 0, 0, nullptr, 0);
    rig.v->setpk(0, 4.0);
    rig.v->setpk(1, 4.0);
    rig.v->setgn(1.0);
    EXPECT_EQ(shared[0], 1.0);
    Rig silent(o);
    silent.left[1][0] = 2.0;
    silent.install();
    silent.v->setpk(0, 0.0);
    silent.v->setpk(1, 2.0);
    silent.v->setgn(1.0);
    EXPECT_EQ(silent.left[1][0], 1.0);
    EXPECT_TRUE(std::isfinite(Peek::makeup(*silent.v)));
}

TEST(CoreVctrMix, FadeAppliedEveryBlockKeepsItsShape) {
    const int n = 32;
    Signal window = {0.9, 0.7, 0.5, 0.3, 0.1, 0.0};
    for (int run = 0; run < 4; ++run) {
        const bool hybrid = run % 2 != 0;
        const double liquidBus = run < 2 ? 1.0 : -1.0; // retention 0.9, then 0
        Options o;
        o.length = n;
        o.liquid = 0.9;
        Rig rig(o);
        for (int i = 0; i < 2; ++i) {
            for (int s = 0; s < n; ++s) rig.left[i][s] = 1.0 + i + 0.01 * s;
            rig.right[i] = rig.left[i];
        }
        rig.install();
        Signal head(n, 1.0), tail(n, 1.0);
        if (hybrid) {
            rig.v->newfe(5);
            for (int s = 0; s < 5; ++s) tail[n - 5 + s] = 1.0 - s / 4.0;
        } else {
            rig.v->newfi(4);
            rig.v->setcr(window.data(), 6, n, 4);
            for (int s = 0; s < 4; ++s) head[s] = s / 3.0;
            for (int s = 0; s < 6; ++s) tail[n - 6 + s] = window[s];
        }
        rig.set("MIX2", liquidBus);
        Signal at300;
        for (int k = 0; k < 1000; ++k) {
            rig.position(k < 40 ? (k % 7) / 6.0 : 0.25); // moving, then still
            rig.v->chnru(true);
            if (hybrid)
                rig.v->setfd(true, n, 5);
            else
                rig.v->setfd(false, 0, 0);
            if (k == 700) at300 = rig.lefts();
        }
        EXPECT_TRUE(*rig.v->getca());
        EXPECT_EQ(rig.lefts(), at300); // a settled output no longer changes
        for (int s = 0; s < n; ++s) {
            double mixed = 0.75 * rig.left[0][s] + 0.25 * rig.left[1][s];
            EXPECT_NEAR(rig.outL()[s], head[s] * tail[s] * mixed, 1e-12) << run << " " << s;
            EXPECT_EQ(rig.outR()[s], rig.outL()[s]);
        }
    }
    // The four-argument form fades the head of any two buffers.
    Options o;
    Rig rig(o);
    Signal l(8, 2.0), r(8, 4.0), w = {0.0, 0.5, 1.0};
    rig.v->setfd(l.data(), r.data(), 3, w.data());
    EXPECT_EQ(l, (Signal{0, 1, 2, 2, 2, 2, 2, 2}));
    EXPECT_EQ(r, (Signal{0, 2, 4, 4, 4, 4, 4, 4}));
}

TEST(CoreVctrMix, UpdatedFlagFollowsRealChangesUnderTheGate) {
    for (bool gate : {true, false}) {
        CoreVctr::bVupdategate = gate;
        Options o;
        Rig rig(o);
        rig.deltas();
        bool* flag = rig.v->getuc();
        int raised = 0;
        for (int k = 0; k < 30; ++k) {
            rig.position(k < 5 ? k / 4.0 : 1.0);
            *flag = false;
            rig.v->chnru(true);
            raised += *flag ? 1 : 0;
            *flag = false;
            rig.v->chnru(false); // a GUI-rate update never touches the flag
            EXPECT_FALSE(*flag);
        }
        // Gated: the five moves and the block that settles nothing (liquid 0
        // converges on the first unchanged block, which mixes no more).
        EXPECT_EQ(raised, gate ? 5 : 30);
    }
    CoreVctr::bVupdategate = true;
}

// A two-element vector under a moving control, played through a player.
// Once the smoothing has settled, every output block equals the direct
// convolution of the input with the interpolated kernel.
namespace {

struct PlayResult {
    Signal outL, outR;
    int raised = 0;
    short engine = -1;
};

PlayResult play(bool gate, std::vector<int> const& checkBlocks, std::vector<double> const& plan,
                Signal const& xl, Signal const& xr, std::vector<Signal> const& kernels, int B,
                int T, bool check) {
    CoreVctr::bVupdategate = gate;
    PlayResult res;
    CorePool pool;
    CoreCnvl player(&pool, "H1", 0, nullptr);
    const int L = 64;
    if (player.set__(10, B, T, 0, L, T) < 1 || player.getsl() != 10 || !player.plan_()) {
        player.set__(3, B, T, 0, 0, 0);
        EXPECT_TRUE(player.plan_());
    }
    res.engine = player.getsl();
    DataSrce sources;
    sources.getsc("MIX2")->setvl(1.0);
    double pos[2] = {0.0, 1.0};
    CoreVctr v(&pool, nullptr, 0, &player, true, 2, nullptr, pos, nullptr, 0.0, 1.0, pos, 0.0, 1.0,
               "MIX1", &sources, 0.5, "MIX2", 0, 0, nullptr, nullptr, false, 0, 0, false);
    v.setvl(true, 0.0, 1.0, "MIX1", false, "", 0.0, "", 1.0, "", false, "", false, 0.0, 1.0);
    v.chncp(T, -1, -1);
    std::vector<Signal> ks(kernels);
    v.setip(0, ks[0].data(), ks[1].data(), "", T, 0, 0, 0, nullptr, 0);
    v.setip(1, ks[2].data(), ks[3].data(), "", T, 0, 0, 0, nullptr, 0);
    player.setup(v.getuc());
    const int blocks = static_cast<int>(plan.size());
    res.outL.assign(blocks * B, 0.0);
    res.outR.assign(blocks * B, 0.0);
    Signal pw(B), pw2(B), wk(B), wk2(B);
    size_t next = 0;
    for (int b = 0; b < blocks; ++b) {
        sources.getsc("MIX1")->setvl(2.0 * plan[b] - 1.0);
        v.chnru(true);
        v.setfd(false, 0, 0);
        res.raised += *v.getuc() ? 1 : 0;
        player.vltrr(true, &xl[b * B], &xr[b * B], &res.outL[b * B], &res.outR[b * B],
                     static_cast<double*>(v.getlc()), static_cast<double*>(v.getrc()), pw.data(),
                     pw2.data(), wk.data(), wk2.data(), B, nullptr, nullptr);
        *v.getuc() = false; // the engine side's read-and-clear
        if (!check || next >= checkBlocks.size() || checkBlocks[next] != b) continue;
        ++next;
        const double p = plan[b];
        for (int s = b * B; s < (b + 1) * B; ++s) {
            double yl = 0.0, yr = 0.0;
            for (int k = 0; k < T && k <= s; ++k) {
                yl += ((1 - p) * kernels[0][k] + p * kernels[2][k]) * xl[s - k];
                yr += ((1 - p) * kernels[1][k] + p * kernels[3][k]) * xr[s - k];
            }
            EXPECT_NEAR(res.outL[s], yl, 1e-11) << "block " << b << " sample " << s;
            EXPECT_NEAR(res.outR[s], yr, 1e-11) << "block " << b << " sample " << s;
        }
    }
    EXPECT_EQ(next, check ? checkBlocks.size() : 0u);
    CoreVctr::bVupdategate = true;
    return res;
}

} // namespace

TEST(CoreVctrMix, MovingVectorThroughAPlayerMatchesDirectConvolution) {
    const int B = 64, T = 256, move = 12, hold = 90;
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<Signal> kernels(4, Signal(T));
    for (Signal& k : kernels)
        for (int i = 0; i < T; ++i) k[i] = u(gen) * std::exp(-i / 60.0);
    std::vector<double> plan;
    std::vector<int> checks;
    double from = 0.0;
    for (double to : {0.3, 1.0, 0.0, 0.625}) {
        for (int k = 1; k <= move; ++k) plan.push_back(from + (to - from) * k / move);
        for (int k = 0; k < hold; ++k) plan.push_back(to);
        checks.push_back(static_cast<int>(plan.size()) - 1);
        from = to;
    }
    Signal xl(plan.size() * B), xr(plan.size() * B);
    for (double& s : xl) s = u(gen);
    for (double& s : xr) s = u(gen);

    PlayResult gated = play(true, checks, plan, xl, xr, kernels, B, T, true);
    PlayResult open = play(false, checks, plan, xl, xr, kernels, B, T, false);
    std::cout << "[ player ] engine " << gated.engine
              << (gated.engine == 10 ? " (partitioned FFT)" : " (direct: engine 10 not loadable)")
              << "; updated flag raised " << gated.raised << " of " << plan.size()
              << " blocks with the gate, " << open.raised << " without\n";
    RecordProperty("engine", gated.engine);
    // The gate spares refreshes but never changes a sample.
    EXPECT_EQ(gated.outL, open.outL);
    EXPECT_EQ(gated.outR, open.outR);
    EXPECT_LT(gated.raised, open.raised);
    EXPECT_EQ(open.raised, static_cast<int>(plan.size()));
}

TEST(CoreVctrMix, LongerLengthSelectedAfterSettlingIsMixed) {
    Options o;
    Rig rig(o);
    rig.v->chncp(4, 8, -1); // normal 4, extended 8
    for (int i = 0; i < 2; ++i) {
        rig.left[i].assign(o.length, 1.0 + i);
        rig.right[i] = rig.left[i];
    }
    rig.install();
    rig.position(0.5);
    for (int k = 0; k < 3; ++k) rig.v->chnru(true);
    ASSERT_TRUE(*rig.v->getca());
    EXPECT_EQ(rig.outL()[5], 0.0); // beyond the normal length: never mixed yet
    rig.v->chncd(1);
    rig.v->chnru(true);
    EXPECT_EQ(rig.lefts(), Signal(o.length, 1.5));
}

TEST(CoreVctrMix, ReplacedFadeRampsAreFollowedNotRead) {
    const int n = 16;
    for (bool hybrid : {false, true}) {
        Options o;
        o.length = n;
        Rig rig(o);
        for (int i = 0; i < 2; ++i) {
            rig.left[i].assign(n, 1.0);
            rig.right[i] = rig.left[i];
        }
        rig.install();
        rig.position(0.5);
        auto fade = [&](int tail) {
            if (hybrid)
                rig.v->setfd(true, n, tail);
            else
                rig.v->setfd(false, 0, 0);
        };
        if (hybrid) {
            rig.v->newfe(6);
        } else {
            rig.v->setcr(rig.v->newfo(6), 6, n, 0);
        }
        for (int k = 0; k < 3; ++k) {
            rig.v->chnru(true);
            fade(6);
        }
        // A new ramp replaces the one the fade was folded with; the next
        // block mixes before the fade is given again (ASan: no freed reads).
        if (hybrid)
            rig.v->newfe(4);
        else
            rig.v->newfo(4);
        rig.position(0.25); // a moving block mixes (every element is 1.0)
        for (int k = 0; k < 3; ++k) {
            rig.v->chnru(true);
            fade(4);
        }
        Signal want(n, 1.0);
        for (int s = 0; s < 4; ++s) want[n - 4 + s] = 1.0 - s / 3.0;
        Signal got = rig.lefts();
        for (int s = 0; s < n; ++s) EXPECT_NEAR(got[s], want[s], 1e-15) << hybrid << " " << s;
    }
}

TEST(CoreVctrMix, UnknownReadbackSourceLeavesOffAlone) {
    CorePool pool;
    DataSrce sources;
    sources.getsc("OFF")->setvl(-1.0);
    sources.getsc("MIX1")->setvl(0.0); // position 0.5
    sources.getsc("MIX2")->setvl(-1.0);
    double pos[2] = {0.0, 1.0};
    Signal e(4, 1.0);
    CoreVctr v(&pool, nullptr, 0, nullptr, true, 2, nullptr, pos, nullptr, 0.0, 1.0, pos, 0.0, 1.0,
               "MIX1", &sources, 0.5, "MIX2", 0, 0, nullptr, nullptr, false, 0, 0, false);
    v.setvl(true, 0.0, 1.0, "MIX1", true, "NO SUCH SOURCE", 0, "", 1, "", false, "", false, 0, 1);
    v.chncp(4, -1, -1);
    v.setip(0, e.data(), e.data(), "", 4, 0, 0, 0, nullptr, 0);
    v.setip(1, e.data(), e.data(), "", 4, 0, 0, 0, nullptr, 0);
    v.chnru(true);
    EXPECT_EQ(sources.getsc("OFF")->getvl(), -1.0); // the readback (0) went nowhere
    EXPECT_EQ(static_cast<double*>(v.getlc())[0], 1.0);
}

namespace {

// Kernel s of element i before normalisation: peak[i] at sample i, a quarter
// of it elsewhere; the right side is the left at minus half.
constexpr double kPeaks[2] = {2.0, 5.0};
double original(int i, int s, bool right) {
    double v = kPeaks[i] * (s == i ? 1.0 : 0.25);
    return right ? -0.5 * v : v;
}

// A normalising two-element vector loaded the way a program loads one: own
// buffers filled, registered in a sharing group, then normalised.
std::unique_ptr<CoreVctr> loadNormalised(CorePool& pool, DataSrce& sources, CoreCnvl* engine,
                                         CorePlel& cache, void* owner) {
    double pos[2] = {0.0, 1.0};
    auto v = std::make_unique<CoreVctr>(&pool, &cache, 0, engine, true, 2, nullptr, pos, nullptr,
                                        0.0, 1.0, pos, 0.0, 1.0, "MIX1", &sources, 0.5, "MIX2", 0,
                                        0, nullptr, nullptr, false, 0, 0, false);
    v->setvl(true, 0.0, 1.0, "MIX1", false, "", 0.0, "", 1.0, "", false, "", true, 0.5, 0.5);
    v->chncp(8, -1, -1);
    CorePlel::BRACKET group(cache, "SET.V2V", true);
    for (int i = 0; i < 2; ++i) {
        void* l = nullptr;
        void* r = nullptr;
        v->newip(&l, &r, 8);
        for (int s = 0; s < 8; ++s) {
            static_cast<double*>(l)[s] = original(i, s, false);
            static_cast<double*>(r)[s] = original(i, s, true);
        }
        v->setip(i, static_cast<double*>(l), static_cast<double*>(r), CoreAnsx("IR") + CoreAnsx(i),
                 8, 48000, 0, 7, owner, 0);
        v->setpk(i, kPeaks[i]);
    }
    v->setgn(0.8);
    return v;
}

Signal mixedAtQuarter(CoreVctr& v, bool right) {
    v.chnru(true);
    auto* out = static_cast<double*>(right ? v.getrc() : v.getlc());
    return Signal(out, out + 8);
}

} // namespace

TEST(CoreVctrMix, TwoOwnersOfANormalisedSharedPairHearTheLoneLevel) {
    CorePool pool;
    DataSrce sources;
    sources.getsc("MIX1")->setvl(-0.5); // position 0.25
    sources.getsc("MIX2")->setvl(-1.0); // retention 0
    CoreCnvl engine(&pool, "H1", 0, nullptr);
    CorePlel aloneCache(&pool);
    CorePlel shared(&pool);
    int owners[3] = {0, 0, 0};
    auto lone = loadNormalised(pool, sources, &engine, aloneCache, &owners[0]);
    auto first = loadNormalised(pool, sources, &engine, shared, &owners[1]);
    const Signal firstBefore = mixedAtQuarter(*first, false);
    auto second = loadNormalised(pool, sources, &engine, shared, &owners[2]);
    ASSERT_TRUE(second->getsb(0));
    ASSERT_TRUE(second->getsb(1));
    EXPECT_EQ(shared.getnr(), 2);

    // The level a lone owner hears, from the normalisation rule itself:
    // reference peak at 0.5 is 3.5, weight 0.5, gain 0.8.
    double t[2];
    for (int i = 0; i < 2; ++i) t[i] = 0.5 * 0.8 / 3.5 + 0.5 * 0.8 / kPeaks[i];
    for (bool right : {false, true}) {
        Signal want(8);
        for (int s = 0; s < 8; ++s)
            want[s] = 0.75 * t[0] * original(0, s, right) + 0.25 * t[1] * original(1, s, right);
        Signal alone = mixedAtQuarter(*lone, right);
        Signal a = mixedAtQuarter(*first, right);
        Signal b = mixedAtQuarter(*second, right);
        for (int s = 0; s < 8; ++s) {
            EXPECT_NEAR(alone[s], want[s], 1e-14) << right << " " << s;
            EXPECT_NEAR(a[s], want[s], 1e-14) << right << " " << s;
            EXPECT_NEAR(b[s], want[s], 1e-14) << right << " " << s;
        }
    }
    // The second load left the first owner's sound as it was.
    first->chnru(true);
    EXPECT_EQ(
        Signal(static_cast<double*>(first->getlc()), static_cast<double*>(first->getlc()) + 8),
        firstBefore);
    second.reset();
    first.reset();
    EXPECT_EQ(shared.getnr(), 0);
}

TEST(CoreVctrMix, ReadbackBoundAnewIsWrittenAtAnUnchangedPosition) {
    Options o;
    o.readback = {10.0, 30.0};
    o.readbackTop = 40.0;
    o.readbackOn = true;
    Rig rig(o);
    rig.deltas();
    rig.position(0.5);
    rig.v->chnru(true);
    EXPECT_DOUBLE_EQ(rig.get("MIX8"), 0.0); // (20 - 0) * 2/40 - 1
    rig.set("MIX7", 0.9);
    rig.v->setvl(true, 0.0, 1.0, "MIX1", true, "MIX7", 0.0, "MIX3", 1.0, "MIX4", false, "MIX5",
                 false, 0.0, 1.0);
    rig.v->chnru(true); // same position, new readback source
    EXPECT_DOUBLE_EQ(rig.get("MIX7"), 0.0);
}

TEST(CoreVctrMix, ChangedElementsOfASettledVectorAreMixedAgain) {
    Options o;
    Rig rig(o);
    rig.deltas(1.0, 2.0);
    rig.position(0.0);
    for (int b = 0; b < 3; ++b) rig.v->chnru(true);
    ASSERT_TRUE(*rig.v->getca());
    EXPECT_EQ(rig.outL()[0], 1.0);
    Signal l(o.length, 0.5), r(o.length, 0.25);
    rig.v->cpyip(0, l.data(), r.data(), o.length); // new contents
    rig.v->chnru(true);
    EXPECT_EQ(rig.outL()[3], 0.5);
    EXPECT_EQ(rig.outR()[3], 0.25);
    for (int b = 0; b < 3; ++b) rig.v->chnru(true);
    Signal other(o.length, 3.0);
    rig.v->setip(0, other.data(), other.data(), "", o.length, 0, 0, 0, nullptr, 0); // new buffers
    rig.v->chnru(true);
    EXPECT_EQ(rig.outL()[5], 3.0);
    EXPECT_EQ(rig.outR()[5], 3.0);
}

TEST(CoreVctrMix, SwitchingEnabledAgainWhilePairOnePlaysKeepsTheOutput) {
    Options o;
    o.liquid = 0.9;
    Rig rig(o);
    rig.deltas(1.0, 2.0);
    rig.set("MIX2", 1.0); // retention 0.9
    rig.position(0.0);
    rig.v->setsc();
    rig.v->setcc(1);
    for (int b = 0; b < 1000 && !*rig.v->getca(); ++b) rig.v->chnru(true);
    ASSERT_TRUE(*rig.v->getca());
    double settled = static_cast<double*>(rig.v->getls())[0];
    EXPECT_NEAR(settled, 1.0, 1e-12);
    rig.v->setsc(); // pair 0 plays again: it continues from pair 1, and mixes
    EXPECT_FALSE(*rig.v->getca());
    EXPECT_EQ(rig.v->getap(), 0);
    EXPECT_EQ(rig.outL()[0], settled);
    rig.v->chnru(true);
    EXPECT_NEAR(rig.outL()[0], 1.0, 1e-12);
}

TEST(CoreVctrMix, OwnFadeRampsAreNeverReadPastTheirEnd) {
    for (bool tailOnly : {false, true}) {
        Options o;
        o.length = 16;
        Rig rig(o);
        Signal ones(16, 1.0);
        rig.v->setip(0, ones.data(), ones.data(), "", 16, 0, 0, 0, nullptr, 0);
        rig.v->setip(1, ones.data(), ones.data(), "", 16, 0, 0, 0, nullptr, 0);
        rig.position(0.0);
        rig.v->newfi(4);
        void* tail = rig.v->newfe(3);
        rig.v->setcr(tail, 10, 16, 10); // lengths beyond both ramps (ASan watches)
        rig.v->chnru(true);
        if (tailOnly)
            rig.v->setfd(true, 16, 12);
        else
            rig.v->setfd(false, 0, 0);
        for (int j = 0; j < 16; ++j) {
            double head = j < 4 && !tailOnly ? j / 3.0 : 1.0;
            double fall = j >= 13 ? 1.0 - (j - 13) / 2.0 : 1.0;
            EXPECT_DOUBLE_EQ(rig.outL()[j], head * fall) << j << (tailOnly ? " tail" : "");
        }
    }
}
