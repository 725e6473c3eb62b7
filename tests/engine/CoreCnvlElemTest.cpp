// The element sets the vectors use to hold, copy, scale, fade and mix kernel
// data: set 1 against hand-computed values, set 2 forwarded to the stand-in
// bridge, and which set a player hands out.
#include "engine/CoreCnvl.h"
#include "engine/CoreCnvlIntl.h"

#include "engine/CoreCubr.h"
#include "engine/CoreOpti.h"
#include "runtime/CorePool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#ifndef VORLAN_TESTBRIDGE
#error "the test bridge paths come from tests/modules/testbridge"
#endif

namespace {

using Signal = std::vector<double>;
constexpr double kSubnormal = 1e-310;

bool isPositiveZero(double v) { return v == 0.0 && !std::signbit(v); }

TEST(CoreCnvlElem, PlayerHandsOutSet1UntilAnEngineIsSelected) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    CoreCnvl::VECEXTENSION stale;
    CoreCnvl::VECEXTENSION* e = &stale;
    c.getve(e);
    EXPECT_EQ(e, nullptr);
    CoreCnvl::ELSIZE size = nullptr;
    CoreCnvl::ELNEW nw = nullptr;
    CoreCnvl::ELDEL dl = nullptr;
    CoreCnvl::ELCOPY cp = nullptr;
    CoreCnvl::ELADJ ad = nullptr;
    CoreCnvl::ELFADE fd = nullptr;
    CoreCnvl::ELMIX mx = nullptr;
    c.getse(size);
    c.getne(nw);
    c.getde(dl);
    c.getce(cp);
    c.getae(ad);
    c.getfd(fd);
    c.getvm(mx);
    EXPECT_EQ(size, &CoreCnvlIntl::szel1);
    EXPECT_EQ(nw, &CoreCnvlIntl::nwel1);
    EXPECT_EQ(dl, &CoreCnvlIntl::dlel1);
    EXPECT_EQ(cp, &CoreCnvlIntl::copy1);
    EXPECT_EQ(ad, &CoreCnvlIntl::adj_1);
    EXPECT_EQ(fd, &CoreCnvlIntl::fade1);
    EXPECT_EQ(mx, &CoreCnvlIntl::vmix1);
    c.set__(3, 64, 8, 0, 0, 0);
    c.getve(e);
    EXPECT_NE(e, nullptr);
    c.set__(); // the index stays, so the extension is still handed out
    c.getve(e);
    EXPECT_NE(e, nullptr);
}

TEST(CoreCnvlElem, NewIsZeroedAndDeleteGivesTheBlockBack) {
    CorePool pool;
    const long before = pool.getma();
    auto* e = static_cast<double*>(CoreCnvlIntl::nwel1(nullptr, &pool, 100));
    ASSERT_NE(e, nullptr);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(e[i], 0.0);
    EXPECT_GE(pool.getma(), before + 800);
    CoreCnvlIntl::dlel1(nullptr, &pool, e);
    EXPECT_EQ(pool.getma(), before);
    CoreCnvlIntl::dlel1(nullptr, &pool, nullptr); // harmless
    EXPECT_EQ(CoreCnvlIntl::nwel1(nullptr, &pool, 0), nullptr);
}

TEST(CoreCnvlElem, CopyFillsAtTheOffsetAndFlushesFromTheStart) {
    Signal dst(8, 9.0);
    dst[0] = kSubnormal;
    dst[1] = -0.0;
    const Signal src = {1.0, 2.0, kSubnormal};
    CoreCnvlIntl::copy1(nullptr, dst.data(), src.data(), 3, true, 4, true);
    EXPECT_EQ(dst[4], 1.0);
    EXPECT_EQ(dst[5], 2.0);
    // The flush covers n values from dst[0] and the values just copied.
    EXPECT_TRUE(isPositiveZero(dst[0]));
    EXPECT_TRUE(isPositiveZero(dst[1]));
    EXPECT_EQ(dst[2], 9.0);
    EXPECT_TRUE(isPositiveZero(dst[6]));
    EXPECT_EQ(dst[7], 9.0);

    CoreCnvlIntl::copy1(nullptr, dst.data(), nullptr, 2, false, 5, false);
    EXPECT_EQ(dst[4], 1.0);
    EXPECT_EQ(dst[5], 0.0);
    EXPECT_EQ(dst[6], 0.0);
    EXPECT_EQ(dst[7], 9.0);
}

TEST(CoreCnvlElem, KernelCopiedInPiecesIsFlushedEverywhereAndWithinBounds) {
    // Exactly sized on the heap so ASan sees any write or flush past the end.
    const int n = 7, piece = 3;
    std::vector<double> src(n, 1.0);
    src[5] = kSubnormal;
    src[6] = -kSubnormal;
    auto* dst = new double[n];
    for (int off = 0; off < n; off += piece)
        CoreCnvlIntl::copy1(nullptr, dst, src.data() + off, std::min(piece, n - off), true, off,
                            true);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(dst[i], 1.0);
    EXPECT_TRUE(isPositiveZero(dst[5]));
    EXPECT_TRUE(isPositiveZero(dst[6]));
    // Shifting within one element (overlapping ranges) keeps the values.
    for (int i = 0; i < n; ++i) dst[i] = i;
    CoreCnvlIntl::copy1(nullptr, dst, dst, n - 1, false, 1, false);
    for (int i = 1; i < n; ++i) EXPECT_EQ(dst[i], i - 1);
    delete[] dst;
}

TEST(CoreCnvlElem, AdjustScalesAndAlwaysFlushes) {
    Signal l = {1.0, 1e-300, -2.0}, r = {4.0, -0.0, 0.5};
    CoreCnvlIntl::adj_1(nullptr, l.data(), r.data(), 3, 1e-10);
    EXPECT_EQ(l[0], 1e-10);
    EXPECT_TRUE(isPositiveZero(l[1])); // 1e-310 is subnormal
    EXPECT_EQ(l[2], -2e-10);
    EXPECT_EQ(r[0], 4e-10);
    EXPECT_TRUE(isPositiveZero(r[1]));
    // A mono pair sharing one buffer is scaled once, not twice.
    Signal m = {2.0, 3.0};
    CoreCnvlIntl::adj_1(nullptr, m.data(), m.data(), 2, 0.5);
    EXPECT_EQ(m, (Signal{1.0, 1.5}));
}

TEST(CoreCnvlElem, FadeShapesBothEndsAndFlushesOnlyWhenItFades) {
    const Signal in = {1, 1, 1, 1, 1, 1};
    const Signal window = {0.25, 0.5}, tail = {0.75, 0.5, 0.125};
    Signal l = in, r = in;
    CoreCnvlIntl::fade1(nullptr, 6, l.data(), r.data(), 2, window.data(), 3, tail.data());
    EXPECT_EQ(l, (Signal{0.25, 0.5, 1, 0.75, 0.5, 0.125}));
    EXPECT_EQ(r, l);
    Signal m = in; // mono pair: faded once
    CoreCnvlIntl::fade1(nullptr, 6, m.data(), m.data(), 2, window.data(), 3, tail.data());
    EXPECT_EQ(m, l);

    Signal d = {kSubnormal, 1.0}, d2 = {1.0, kSubnormal};
    CoreCnvlIntl::fade1(nullptr, 2, d.data(), d2.data(), 0, nullptr, 0, nullptr);
    EXPECT_EQ(d[0], kSubnormal); // no fade, no flush
    CoreCnvlIntl::fade1(nullptr, 2, d.data(), d2.data(), 0, nullptr, 1, tail.data());
    EXPECT_TRUE(isPositiveZero(d[0]));
    EXPECT_TRUE(isPositiveZero(d2[1]));
    EXPECT_EQ(d[1], 0.75);
}

// Three sources of two values; the mix record with distinct pan gains.
class MixTest : public testing::Test {
protected:
    void SetUp() override {
        for (int k = 0; k < 3; ++k) {
            sl[k] = {1.0 + k, 2.0 - k};
            sr[k] = {0.5 * k, -1.0 - k};
            pl[k] = sl[k].data();
            pr[k] = sr[k].data();
        }
        m.gain = 2.0;
        m.retention = 0.5;
        m.panll = 0.9;
        m.panlr = 0.1;
        m.panrl = 0.2;
        m.panrr = 0.8;
        m.weight0 = 0.25;
        m.weight1 = 0.75;
        m.index0 = 2;
        m.index1 = 0;
    }
    void run(bool skip, bool selected, bool pan) {
        CoreCnvlIntl::vmix1(nullptr, skip, selected, pan, &m, 2, 3, dl.data(), dr.data(), pl, pr);
    }
    // dst after retention plus one source added with gain g.
    void addExpected(Signal& el, Signal& er, int k, double g, bool pan) {
        for (int i = 0; i < 2; ++i) {
            if (pan) {
                el[i] += sl[k][i] * m.panll * g + sr[k][i] * m.panrl * g;
                er[i] += sl[k][i] * m.panlr * g + sr[k][i] * m.panrr * g;
            } else {
                el[i] += sl[k][i] * g;
                er[i] += sr[k][i] * g;
            }
        }
    }
    Signal sl[3], sr[3];
    void* pl[3] = {};
    void* pr[3] = {};
    CoreCnvl::VECTORMIXSTRUCT m;
    Signal dl = {4.0, 8.0}, dr = {-4.0, 2.0};
};

TEST_F(MixTest, FourModesEqualTheHandComputedMix) {
    for (int mode = 0; mode < 4; ++mode) {
        const bool selected = mode >= 2, pan = (mode & 1) != 0;
        SCOPED_TRACE(mode);
        dl = {4.0, 8.0};
        dr = {-4.0, 2.0};
        Signal el = {2.0, 4.0}, er = {-2.0, 1.0};
        if (!selected) {
            for (int k = 0; k < 3; ++k) addExpected(el, er, k, m.gain, pan);
        } else {
            addExpected(el, er, 2, m.weight0, pan);
            addExpected(el, er, 0, m.weight1, pan);
        }
        run(false, selected, pan);
        for (int i = 0; i < 2; ++i) {
            EXPECT_DOUBLE_EQ(dl[i], el[i]);
            EXPECT_DOUBLE_EQ(dr[i], er[i]);
        }
    }
}

TEST_F(MixTest, PairModeSkipsMissingAndOutOfRangeElements) {
    m.index0 = -1;
    m.index1 = 3; // one past the element count
    run(false, true, false);
    EXPECT_EQ(dl, (Signal{2.0, 4.0})); // retention only
    EXPECT_EQ(dr, (Signal{-2.0, 1.0}));
}

TEST_F(MixTest, ElementWithoutBuffersAddsNothing) {
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(mode);
        void* keep = pl[2];
        pl[2] = nullptr; // element 2 never allocated
        dl = {4.0, 8.0};
        dr = {-4.0, 2.0};
        Signal el = {2.0, 4.0}, er = {-2.0, 1.0};
        const bool selected = mode >= 2, pan = (mode & 1) != 0;
        if (selected)
            addExpected(el, er, 0, m.weight1, pan);
        else
            for (int k = 0; k < 2; ++k) addExpected(el, er, k, m.gain, pan);
        run(false, selected, pan);
        pl[2] = keep;
        for (int i = 0; i < 2; ++i) {
            EXPECT_DOUBLE_EQ(dl[i], el[i]);
            EXPECT_DOUBLE_EQ(dr[i], er[i]);
        }
    }
}

TEST_F(MixTest, SkipLeavesTheMixButStillFlushes) {
    dl = {kSubnormal, 3.0};
    dr = {-0.0, -kSubnormal};
    run(true, false, true);
    EXPECT_TRUE(isPositiveZero(dl[0]));
    EXPECT_EQ(dl[1], 3.0);
    EXPECT_TRUE(isPositiveZero(dr[0]));
    EXPECT_TRUE(isPositiveZero(dr[1]));
}

TEST(CoreCnvlElem, Set2ForwardsToTheBridge) {
    CorePool pool;
    CoreCubr bridge;
    bridge.setpl({CoreAnsx(VORLAN_TESTBRIDGE)});
    CoreCnvl c(&pool, "H1", 0, &bridge);
    ASSERT_EQ(c.set__(16, 1024, 64, 0, 64, 64), 1024);
    ASSERT_FALSE(c.error());
    CoreCnvl::ELSIZE size = nullptr;
    CoreCnvl::ELNEW nw = nullptr;
    CoreCnvl::ELDEL dl = &CoreCnvlIntl::dlel1;
    CoreCnvl::ELCOPY cp = nullptr;
    CoreCnvl::ELADJ ad = nullptr;
    c.getse(size);
    c.getne(nw);
    c.getde(dl);
    c.getce(cp);
    c.getae(ad);
    EXPECT_EQ(size(), 4);
    EXPECT_EQ(dl, nullptr); // the bridge cannot free an element
    CoreCnvl::VECEXTENSION* e = nullptr;
    c.getve(e);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->bridge, &bridge);

    void* a = nw(e, &pool, 4);
    void* b = nw(e, &pool, 4);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    const double host[4] = {1.0, -2.0, 0.5, 4.0};
    cp(e, a, host, 4, true, 0, false);
    cp(e, b, host, 4, true, 0, false);
    ad(e, a, b, 4, 0.5);
    const auto* fa = static_cast<const float*>(a);
    const auto* fb = static_cast<const float*>(b);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(fa[i], static_cast<float>(host[i] * 0.5));
        EXPECT_FLOAT_EQ(fb[i], static_cast<float>(host[i] * 0.5));
    }

    // Fade both ends of a and b, then mix b into a and into a fresh d.
    CoreCnvl::ELFADE fd = nullptr;
    CoreCnvl::ELMIX vm = nullptr;
    c.getfd(fd);
    c.getvm(vm);
    const double head[1] = {0.5}, tail[1] = {0.25}, shape[4] = {0.5, 1.0, 1.0, 0.25};
    fd(e, 4, a, b, 1, head, 1, tail);
    void* d = nw(e, &pool, 4);
    ASSERT_NE(d, nullptr);
    cp(e, d, host, 4, true, 0, false);
    CoreCnvl::VECTORMIXSTRUCT mix;
    mix.retention = 2.0;
    mix.gain = 3.0;
    void* const src[1] = {b};
    vm(e, false, false, false, &mix, 4, 1, a, d, src, src);
    const auto* fdst = static_cast<const float*>(d);
    for (int i = 0; i < 4; ++i) {
        const double faded = host[i] * 0.5 * shape[i];
        EXPECT_FLOAT_EQ(fb[i], static_cast<float>(faded));
        EXPECT_FLOAT_EQ(fa[i], static_cast<float>(faded * 5.0));
        EXPECT_FLOAT_EQ(fdst[i], static_cast<float>(host[i] * 2.0 + faded * 3.0));
    }
    // The stand-in bridge allocates with the C allocator.
    std::free(a);
    std::free(b);
    std::free(d);

    // Without a bridge set 2 does nothing and makes nothing.
    EXPECT_EQ(CoreCnvlIntl::nwel2(nullptr, &pool, 4), nullptr);
    CoreCnvl::VECEXTENSION none;
    EXPECT_EQ(CoreCnvlIntl::nwel2(&none, &pool, 4), nullptr);
    CoreCnvlIntl::adj_2(&none, nullptr, nullptr, 4, 1.0);
    CoreCnvlIntl::fade2(&none, 4, nullptr, nullptr, 0, nullptr, 0, nullptr);
    CoreCnvlIntl::vmix2(&none, false, false, false, nullptr, 4, 0, nullptr, nullptr, nullptr,
                        nullptr);
}

// The one-pass mix (and fade) against the separate scalar passes it
// replaced: scale, one add per source, flush, then the fade and its flush;
// with split the fresh share is mixed and faded into a scratch pair first.
// Same values to the bit, over sizes around the tile, unaligned buffers,
// more sources than one pass holds, and subnormal and negative-zero values.
TEST(CoreCnvlElem, OnePassMixEqualsTheSeparatePasses) {
    struct Row {
        int n, offset, count;
        bool selected, pan, split;
        double retention;
        int fade, head, tail;
    };
    const Row rows[] = {
        {1, 0, 1, false, false, false, 0.0, 0, 0, 0},
        {7, 1, 3, false, true, false, 0.5, 7, 3, 2},
        {255, 3, 2, true, false, false, 0.0, 200, 9, 50},
        {256, 0, 2, true, false, true, 0.25, 256, 0, 40},
        {257, 2, 20, false, false, false, 0.75, 0, 0, 0},
        {1000, 1, 2, true, true, true, 0.5, 900, 300, 300},
        {600, 0, 5, false, false, true, 0.0, 600, 10, 700},
        {300, 1, 3, true, false, false, 0.1, 400, 5, 5},
        // One or two plain terms: tiles the fade leaves alone take one loop.
        {1000, 1, 2, true, false, false, 0.3, 0, 0, 0},
        {700, 0, 2, true, false, true, 0.4, 700, 20, 30},
        {520, 2, 1, false, false, false, 0.6, 0, 0, 0},
        {900, 3, 1, false, false, true, 0.2, 900, 0, 100},
        {513, 1, 2, true, false, false, 0.0, 513, 0, 1},
    };
    std::mt19937 gen(49);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    auto fill = [&](Signal& v, int n) {
        v.assign(n + 4, 0.0);
        for (double& x : v) x = value(gen);
        v[1] = 1e-310, v[2] = -0.0; // a subnormal and a negative zero in every buffer
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.n * 100 + row.count);
        const int n = row.n, o = row.offset;
        std::vector<Signal> sl(row.count), sr(row.count);
        std::vector<void*> pl(row.count), pr(row.count);
        for (int k = 0; k < row.count; ++k) {
            fill(sl[k], n), fill(sr[k], n);
            pl[k] = sl[k].data() + o, pr[k] = sr[k].data() + o;
        }
        Signal head, tail, dl, dr;
        const int room = std::max(n, row.fade); // a fade may reach past the mixed values
        fill(head, row.head), fill(tail, row.tail), fill(dl, room), fill(dr, room);
        CoreCnvl::VECTORMIXSTRUCT m;
        m.retention = row.retention;
        m.gain = 0.8;
        m.panll = 0.9, m.panlr = 0.3, m.panrl = 0.2, m.panrr = 0.7;
        m.index0 = row.count - 1, m.index1 = 0, m.weight0 = 0.6, m.weight1 = -0.35;
        Signal el = dl, er = dr; // the separate passes
        double *xl = el.data() + o, *xr = er.data() + o;
        Signal scratchL(n, 0.5), scratchR(n, -0.5);
        double* s[2] = {row.split ? scratchL.data() : xl, row.split ? scratchR.data() : xr};
        CoreCnvl::VECTORMIXSTRUCT fresh = m;
        if (row.split) fresh.retention = 0.0;
        mixr1(n, &s[0], &s[1], fresh.retention);
        for (int e = 0; e < (row.selected ? 2 : row.count); ++e) {
            const int k = row.selected ? (e == 0 ? m.index0 : m.index1) : e;
            const double g = row.selected ? (e == 0 ? m.weight0 : m.weight1) : m.gain;
            auto *a = static_cast<double*>(pl[k]), *b = static_cast<double*>(pr[k]);
            if (row.pan)
                mixr3(n, &s[0], &s[1], &a, &b, m.panll * g, m.panlr * g, m.panrr * g, m.panrl * g);
            else
                mixr2(n, &s[0], &s[1], &a, &b, g);
        }
        kllad(n, &s[0]), kllad(n, &s[1]);
        CoreCnvlIntl::fade1(nullptr, row.fade, s[0], s[1], row.head, head.data(), row.tail,
                            tail.data());
        if (row.split) {
            mixr1(n, &xl, &xr, m.retention);
            mixr2(n, &xl, &xr, &s[0], &s[1], 1.0);
            kllad(n, &xl), kllad(n, &xr);
        }
        if (!CoreCnvlIntl::vmixf(&m, row.selected, row.pan, n, row.count, dl.data() + o,
                                 dr.data() + o, pl.data(), pr.data(), row.fade, row.head,
                                 head.data(), row.tail, tail.data(), row.split)) {
            EXPECT_TRUE(row.split); // only a split mix may be left to the scratch pair
            continue;
        }
        EXPECT_EQ(std::memcmp(dl.data(), el.data(), dl.size() * sizeof(double)), 0);
        EXPECT_EQ(std::memcmp(dr.data(), er.data(), dr.size() * sizeof(double)), 0);
    }
}

} // namespace
