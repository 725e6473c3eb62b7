// The player's per-block steps: the harmonic chain against a naive sum of
// convolutions of the input's powers, the flag combinations of the harmonic
// step, and the crossfading steps' reading of the fade table.
#include "engine/CoreCnvl.h"

#include "engine/CoreOpti.h"
#include "runtime/CorePool.h"
#include "runtime/CoreTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using Signal = std::vector<double>;

// y[n] = sum over h of sum over j of k_h[j] * x[n - j]^h.
Signal naiveVolterra(const Signal& x, const std::vector<Signal>& kernels) {
    Signal y(x.size(), 0.0);
    for (size_t h = 0; h < kernels.size(); ++h)
        for (size_t n = 0; n < x.size(); ++n)
            for (size_t j = 0; j < kernels[h].size() && j <= n; ++j)
                y[n] += kernels[h][j] * std::pow(x[n - j], static_cast<double>(h + 1));
    return y;
}

Signal randomSignal(size_t n, unsigned seed, double scale) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-scale, scale);
    Signal s(n);
    for (double& v : s) v = u(gen);
    return s;
}

// Runs H players of one engine over the input in blocks of `frames`, as the
// block worker does: the power buffers are shared, player 1 sets the output.
void runChain(short engine, int H, int N, int frames, int blocks) {
    SCOPED_TRACE(testing::Message() << "engine " << engine << " H " << H << " N " << N);
    CorePool pool;
    const size_t total = static_cast<size_t>(frames) * blocks;
    const Signal xl = randomSignal(total, 11 + engine, 0.9);
    const Signal xr = randomSignal(total, 23 + engine, 0.9);
    std::vector<Signal> kl, kr;
    std::vector<std::unique_ptr<CoreCnvl>> players;
    for (int h = 0; h < H; ++h) {
        kl.push_back(randomSignal(static_cast<size_t>(N), 100 + h, 1.0));
        kr.push_back(randomSignal(static_cast<size_t>(N), 200 + h, 1.0));
        players.push_back(
            std::make_unique<CoreCnvl>(&pool, CoreAnsx("H") + CoreAnsx(h + 1), 0, nullptr));
        // The block-family engines take the frames as their block, the
        // partition equal to it and the whole kernel; the direct ones ignore both.
        players.back()->set__(engine, frames, N, 0, frames, N);
        ASSERT_FALSE(players.back()->error());
        ASSERT_TRUE(players.back()->plan_());
    }
    Signal yl(total), yr(total), powL(frames), powR(frames), workL(frames), workR(frames);
    for (int b = 0; b < blocks; ++b) {
        const size_t o = static_cast<size_t>(b) * frames;
        for (int h = 0; h < H; ++h)
            players[h]->vltrr(h == 0, &xl[o], &xr[o], &yl[o], &yr[o], kl[h].data(), kr[h].data(),
                              powL.data(), powR.data(), workL.data(), workR.data(), frames, nullptr,
                              nullptr);
    }
    const Signal wl = naiveVolterra(xl, kl), wr = naiveVolterra(xr, kr);
    for (size_t n = 0; n < total; ++n) {
        ASSERT_NEAR(yl[n], wl[n], 1e-12 * (1.0 + std::fabs(wl[n]))) << n;
        ASSERT_NEAR(yr[n], wr[n], 1e-12 * (1.0 + std::fabs(wr[n]))) << n;
    }
}

TEST(CoreCnvlVolterra, ChainOnDirectEnginesEqualsSumOfPowerConvolutions) {
    for (short engine : {0, 1, 3, 4}) {
        for (int H = 1; H <= 4; ++H) {
            runChain(engine, H, 7, 16, 12);
            runChain(engine, H, 16, 4, 20); // kernel longer than the block
        }
    }
    for (short engine : {9, 10}) {
        for (int H = 1; H <= 4; ++H) {
            runChain(engine, H, 7, 16, 12);
            runChain(engine, H, 16, 4, 20); // several partitions
        }
    }
    if (issm2()) {
        for (short engine : {2, 5})
            for (int H = 1; H <= 4; ++H) {
                runChain(engine, H, 8, 16, 12);
                runChain(engine, H, 20, 6, 15);
            }
    }
}

TEST(CoreCnvlVolterra, ShortCallStillRunsOneKernelCall) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    c.set__(3, 64, 4, 0, 0, 0);
    ASSERT_TRUE(c.plan_());
    // The caller's buffers hold one block; with no frames the power is not
    // refreshed, so the kernel sees what the buffer held.
    Signal x(1, 1.0), k = {1.0, 2.0, 3.0, 4.0}, out(1), outR(1), p(1, 0.5), pr(1), w(1), wr(1);
    c.vltrr(true, x.data(), x.data(), out.data(), outR.data(), k.data(), k.data(), p.data(),
            pr.data(), w.data(), wr.data(), 0, nullptr, nullptr);
    EXPECT_EQ(c.getrp(), 5); // advanced by one engine block
    EXPECT_EQ(w[0], 0.5);    // the call ran on the buffers' first block
    EXPECT_EQ(out[0], 0.0);  // nothing written past the frame count
}

// N = 1, kernel {c}: work = c * power, so the flags can be read off exactly.
TEST(CoreCnvlVolterra, SeparateFlagsRestartThePowerAndSetTheOutput) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    c.set__(3, 64, 1, 0, 0, 0);
    ASSERT_TRUE(c.plan_());
    const double kern[1] = {2.0};
    struct Case {
        bool firstPower, setOutput;
        double power, out; // expected after the call
    };
    // Start: power 3, output 10, input 5.
    const Case cases[] = {
        {true, true, 5.0, 10.0},    // power := x, out := 2x
        {true, false, 5.0, 20.0},   // power := x, out += 2x
        {false, true, 5.0, 10.0},   // setting the output restarts the power too
        {false, false, 15.0, 40.0}, // power *= x, out += 2 * 15
    };
    for (const Case& t : cases) {
        double in[2] = {5.0, 5.0}, pw[2] = {3.0, 3.0}, out[2] = {10.0, 10.0}, wk[2];
        c.vltry(t.firstPower, t.setOutput, &in[0], &in[1], &out[0], &out[1], kern, kern, &pw[0],
                &pw[1], &wk[0], &wk[1], 1, nullptr, nullptr);
        EXPECT_EQ(pw[0], t.power) << t.firstPower << t.setOutput;
        EXPECT_EQ(pw[1], t.power);
        EXPECT_EQ(out[0], t.out) << t.firstPower << t.setOutput;
        EXPECT_EQ(out[1], t.out);
    }
}

TEST(CoreCnvlVolterra, CpuEnginesLeaveTheMetersAlone) {
    static double now = 0.0;
    CoreTime a([] { return now; }), b([] { return now; });
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    c.set__(3, 64, 2, 0, 0, 0);
    ASSERT_TRUE(c.plan_());
    a.setmp(true, 0);
    b.setmp(true, 0);
    Signal x(4, 1.0), k(2, 1.0), o(4), o2(4), p(4), p2(4), w(4), w2(4);
    now = 5.0;
    c.vltrr(true, x.data(), x.data(), o.data(), o2.data(), k.data(), k.data(), p.data(), p2.data(),
            w.data(), w2.data(), 4, &a, &b);
    now = 9.0;
    a.setmp(false, 1);
    b.setmp(false, 1);
    EXPECT_EQ(a.getmp(), 9.0);
    EXPECT_EQ(b.getmp(), 9.0); // a step that touched it would have marked it at 5
}

// Engine 2 (B = 2) with the kernel {1, 0}: work = input, so the outputs show
// which fade positions each player read.
class CrossfadeTest : public testing::Test {
protected:
    void SetUp() override {
        if (!issm2()) GTEST_SKIP() << "the two-sample engines need SSE2";
        c = std::make_unique<CoreCnvl>(&pool, "H1", 0, nullptr);
        ASSERT_EQ(c->set__(2, 64, 2, 0, 0, 0), 2);
        ASSERT_TRUE(c->plan_());
        for (int i = 0; i < 16; ++i) fade[i] = 1.0 + i; // fade[i] = i + 1
    }
    CorePool pool;
    std::unique_ptr<CoreCnvl> c;
    double fade[16] = {};
    const double kern[2] = {1.0, 0.0};
};

TEST_F(CrossfadeTest, SetAndAddReadTheSamePositionsOnlyTheAdderConsumes) {
    double in[2] = {1.0, 1.0}, wk[2], wk2[2];
    for (long start : {5L, 0L, -1L}) {
        SCOPED_TRACE(start);
        const long first = std::max(start, 1L);
        long index = start;
        double sl[2], sr[2];
        c->cnvsc(true, in, in, sl, sr, kern, kern, wk, wk2, fade, index, nullptr, nullptr);
        EXPECT_EQ(index, start);
        EXPECT_EQ(sl[0], fade[first]);
        EXPECT_EQ(sl[1], fade[first - 1]);
        EXPECT_EQ(sr[1], fade[first - 1]);
        double al[2] = {100.0, 100.0}, ar[2] = {100.0, 100.0};
        c->cnvsc(false, in, in, al, ar, kern, kern, wk, wk2, fade, index, nullptr, nullptr);
        EXPECT_EQ(index, first - 2);
        EXPECT_EQ(al[0], 100.0 + fade[first]);
        EXPECT_EQ(al[1], 100.0 + fade[first - 1]);
        EXPECT_EQ(ar[0], 100.0 + fade[first]);
    }
}

TEST_F(CrossfadeTest, RunOfFramesRestartsTheTableEveryEngineBlock) {
    double in[6] = {1, 1, 1, 1, 1, 1}, wk[6], wk2[6];
    // Expected positions for a start of 1 (B - 1) and of 4 over 6 frames.
    const struct {
        long start;
        int reads[6];
    } runs[] = {{1, {1, 0, 1, 0, 1, 0}}, {4, {4, 3, 2, 1, 0, 1}}, {-1, {1, 0, 1, 0, 1, 0}}};
    for (const auto& r : runs) {
        SCOPED_TRACE(r.start);
        long index = r.start;
        double sl[6], sr[6], cl[6] = {}, cr[6] = {};
        const long setNext = c->cnvsy(true, in, in, sl, sr, kern, kern, cl, cr, wk, wk2, fade,
                                      index, 6, nullptr, nullptr);
        EXPECT_EQ(index, r.start);
        for (int f = 0; f < 6; ++f) {
            EXPECT_EQ(sl[f], fade[r.reads[f]]) << f;
            EXPECT_EQ(sr[f], fade[r.reads[f]]) << f;
            EXPECT_EQ(cl[f], 1.0);
        }
        double al[6] = {}, ar[6] = {};
        const long addNext = c->cnvsy(false, in, in, al, ar, kern, kern, cl, cr, wk, wk2, fade,
                                      index, 6, nullptr, nullptr);
        for (int f = 0; f < 6; ++f) {
            EXPECT_EQ(al[f], fade[r.reads[f]]) << f;
            EXPECT_EQ(ar[f], fade[r.reads[f]]) << f;
        }
        EXPECT_EQ(setNext, r.reads[5] - 1);
        EXPECT_EQ(addNext, r.reads[5] - 1);
        EXPECT_EQ(index, r.reads[5] - 1);
    }
}

} // namespace
