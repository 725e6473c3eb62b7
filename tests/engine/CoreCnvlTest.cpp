// The player's engine table, selection with its fallbacks, planning and the
// one-tap engine.
#include "engine/CoreCnvl.h"
#include "engine/CoreCnvlIntl.h"

#include "engine/CoreCubr.h"
#include "runtime/CorePool.h"

#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#ifndef VORLAN_TESTBRIDGE
#error "the test bridge paths come from tests/modules/testbridge"
#endif

namespace {

using Signal = std::vector<double>;

// The table as written down for the engines, row by row: block, granularity,
// block family, partitioned, needs a computation plan, GPU, listed.
struct Row {
    int block, granularity;
    bool family, partitioned, comp, gpu, listed;
};
const Row kRows[18] = {
    {1, 2, false, false, false, false, true},   {1, 2, false, false, false, false, true},
    {2, 2, false, false, false, false, true},   {1, 2, false, false, false, false, true},
    {1, 2, false, false, false, false, true},   {2, 2, false, false, false, false, true},
    {-1, 128, true, false, false, false, true}, {-1, 128, true, true, false, false, true},
    {-1, 128, true, true, true, false, true},   {-1, 128, true, false, false, false, true},
    {-1, 128, true, true, false, false, true},  {-1, 128, true, true, true, false, true},
    {-1, 1024, true, true, false, true, true},  {-1, 1024, true, true, false, true, true},
    {-1, 1024, true, true, true, true, true},   {-1, 1024, true, true, true, true, true},
    {-1, 1024, true, true, true, true, false},  {1, 2, false, false, false, false, false},
};

CoreCnvl::VALIDSTRUCT machine(bool sse2, bool gpu) {
    CoreCnvl::VALIDSTRUCT v;
    v.sse2 = sse2;
    v.gpu = gpu;
    return v;
}

TEST(CoreCnvlTable, RowsMatchTheEngineList) {
    for (short i = 0; i < CoreCnvl::iCengines; ++i) {
        SCOPED_TRACE(i);
        const CoreCnvl::ENGINEDESC d = CoreCnvlIntl::engine(i);
        const Row& r = kRows[i];
        EXPECT_NE(d.kernel, nullptr);
        EXPECT_EQ(d.block, r.block);
        EXPECT_EQ(d.granularity, r.granularity);
        EXPECT_EQ(d.blockfamily, r.family);
        EXPECT_EQ(d.partitioned, r.partitioned);
        EXPECT_EQ(d.needscomp, r.comp);
        EXPECT_EQ(d.gpu, r.gpu);
        EXPECT_EQ(d.cpu, !r.gpu);
        EXPECT_EQ(d.listed, r.listed);
        EXPECT_EQ(d.sse2, i == 2 || i == 5);
        EXPECT_EQ(d.load != nullptr, r.family);
        EXPECT_EQ(d.loadcomp != nullptr, r.comp);
        EXPECT_EQ(d.elsize(), i == 16 ? 4 : 8);
        EXPECT_EQ(d.eldel == nullptr, i == 16); // the bridge cannot free an element
    }
    EXPECT_EQ(CoreCnvlIntl::engine(16).kernel, CoreCnvlIntl::engine(17).kernel);
    EXPECT_EQ(CoreCnvlIntl::engine(8).loadcomp, CoreCnvlIntl::engine(11).loadcomp);
}

// Engines 6 to 8 need a library this build lacks, so selection never keeps
// them; their rows must still be harmless when called: loads accept, clears
// zero only the plan's own buffers, unloads drop the computation state and
// the kernels write silence over the block.
TEST(CoreCnvlTable, RowsOfTheMissingLibraryAreHarmless) {
    const int N = 8, B = 4;
    for (short i : {6, 7, 8}) {
        SCOPED_TRACE(i);
        const CoreCnvl::ENGINEDESC d = CoreCnvlIntl::engine(i);
        CoreCnvl::FFTSTRUCT plan;
        CoreCnvl::FFTEXTENSION ext;
        int n = N;
        ASSERT_TRUE(d.load(2 * N, &plan, &ext, B, n));
        EXPECT_EQ(n, N);
        EXPECT_EQ(plan.needscomp, i == 8);
        EXPECT_EQ(plan.complength, i == 8 ? 2 * N : -1);

        std::vector<Signal> bufs(5, Signal(6 * N, 1.0));
        plan.worklength = N;
        plan.partitions = 1;
        plan.work = bufs[0].data();
        plan.spectral = bufs[1].data();
        plan.spectrar = bufs[2].data();
        plan.accuml = bufs[3].data();
        plan.accumr = bufs[4].data();
        d.clear(&plan, &ext);
        for (int b = 0; b < 5; ++b)
            for (int k = 0; k < 6 * N; ++k) {
                const int zeroed = b == 0 ? (i == 6 ? 6 * N : 4 * N) : (i == 6 ? 0 : 2 * N);
                ASSERT_EQ(bufs[b][k], k < zeroed ? 0.0 : 1.0) << b << " " << k;
            }
        d.unload(&plan, &ext);
        EXPECT_FALSE(plan.needscomp);
        EXPECT_EQ(plan.compbuffer, nullptr);
        d.clear(nullptr, &ext);

        Signal in(B, 1.0), outL(B, 9.0), outR(B, 9.0), ring(2 * N, 1.0);
        ext.block = B;
        d.kernel(in.data(), in.data(), outL.data(), outR.data(), in.data(), in.data(), ring.data(),
                 ring.data(), N, N, &ext);
        EXPECT_EQ(outL, Signal(B, 0.0));
        EXPECT_EQ(outR, Signal(B, 0.0));
    }
}

TEST(CoreCnvlSelect, WithoutBridgeTheGpuEnginesAndTheMissingLibraryFallBack) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    EXPECT_EQ(std::string(c.getbv().c_str()), "N/A");
    EXPECT_EQ(c.getsl(), -1);
    EXPECT_EQ(c.getmp(), 0);
    EXPECT_FALSE(c.getpt());
    EXPECT_EQ(c.getdb(), 11);
    for (short e : {6, 7, 8, 12, 13, 14, 15, 16}) {
        SCOPED_TRACE(e);
        EXPECT_FALSE(c.ldble(e));
        EXPECT_EQ(c.set__(e, 256, 64, 128, 64, 64), 256);
        EXPECT_TRUE(c.error());
        EXPECT_EQ(c.getsl(), 11);
        EXPECT_TRUE(c.getbe());
        EXPECT_TRUE(c.perfr());
        EXPECT_EQ(c.getmp(), 128);
    }
    // A valid request clears the flag again.
    EXPECT_EQ(c.set__(3, 256, 8, 0, 0, 0), 1);
    EXPECT_FALSE(c.error());
    EXPECT_EQ(c.getsl(), 3);
    EXPECT_FALSE(c.getbe());
    // A changed default FFT engine is the fallback of the block family only.
    c.setdb(10);
    c.set__(7, 128, 64, 0, 0, 0);
    EXPECT_EQ(c.getsl(), 10);
    EXPECT_TRUE(c.error());
    c.set__(13, 128, 64, 0, 0, 0);
    EXPECT_EQ(c.getsl(), 10);
}

TEST(CoreCnvlSelect, WithoutSse2ThePairEnginesFallBackToEngine3) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    CoreCnvlIntl::setvs(c, machine(false, false));
    for (short e : {2, 5}) {
        EXPECT_FALSE(c.ldble(e));
        EXPECT_EQ(c.set__(e, 64, 8, 0, 0, 0), 1);
        EXPECT_TRUE(c.error());
        EXPECT_EQ(c.getsl(), 3);
    }
    CoreCnvlIntl::setvs(c, machine(true, false));
    EXPECT_EQ(c.set__(5, 64, 8, 0, 0, 0), 2);
    EXPECT_FALSE(c.error());
    EXPECT_EQ(c.getsl(), 5);
}

TEST(CoreCnvlSelect, IndexOutsideTheTableIsRefusedSafely) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    for (short e : {-1, 18, 19, 255, -32768, 32767}) {
        SCOPED_TRACE(e);
        EXPECT_FALSE(c.ldble(e));
        EXPECT_FALSE(c.isfft(e));
        EXPECT_EQ(c.set__(e, 64, 8, 0, 0, 0), 1);
        EXPECT_TRUE(c.error());
        EXPECT_EQ(c.getsl(), 3);
        EXPECT_TRUE(c.plan_());
    }
}

TEST(CoreCnvlSelect, UnusableDefaultFftEngineFallsBackTo11) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    for (short bad : {6, 8, 14, -3, 40}) {
        c.setdb(bad);
        c.set__(7, 128, 64, 0, 0, 0);
        EXPECT_EQ(c.getsl(), 11) << bad;
        EXPECT_TRUE(c.error());
    }
}

TEST(CoreCnvlSelect, BlockZeroSelectsButCopiesNothing) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    EXPECT_EQ(c.set__(3, 0, 8, 0, 0, 0), -1);
    EXPECT_EQ(c.getsl(), 3);
    EXPECT_EQ(c.getcb(), 0);
    EXPECT_FALSE(c.perfr());
    EXPECT_FALSE(c.plan_()); // no kernel was copied
    EXPECT_EQ(c.set__(10, -5, 8, 0, 0, 0), -1);
    EXPECT_EQ(c.getsl(), 10);
    EXPECT_FALSE(c.getbe()); // the family flag is a copy, not taken here
    int length = 0, block = 0;
    EXPECT_FALSE(c.getci(length, block));
    EXPECT_EQ(block, 0);
}

TEST(CoreCnvlSelect, ReleaseKeepsTheIndexForTheGetters) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    c.set__(10, 256, 64, 0, 0, 0);
    int length = 0, block = 0;
    c.getci(length, block);
    EXPECT_EQ(length, -1);
    EXPECT_EQ(block, 256);
    c.set__();
    EXPECT_EQ(c.getsl(), 10);
    EXPECT_EQ(c.getmp(), 128);
    EXPECT_FALSE(c.getbe());
    EXPECT_FALSE(c.perfr());
    EXPECT_FALSE(c.error());
    EXPECT_FALSE(c.plan_());
}

TEST(CoreCnvlSelect, BridgeWithDeviceMakesTheGpuEnginesUsable) {
    CorePool pool;
    CoreCubr bridge;
    bridge.setpl({CoreAnsx(VORLAN_TESTBRIDGE)});
    CoreCnvl c(&pool, "H1", 0, &bridge);
    EXPECT_NE(std::string(c.getbv().c_str()), "N/A");
    EXPECT_FALSE(std::string(c.getbv().c_str()).empty());
    for (short e = 12; e <= 16; ++e) EXPECT_TRUE(c.ldble(e)) << e;
    EXPECT_EQ(c.set__(13, 1024, 64, 0, 64, 64), 1024);
    EXPECT_FALSE(c.error());
    EXPECT_TRUE(c.getpt());
    EXPECT_FALSE(c.perfr());
    EXPECT_EQ(c.getmp(), 1024);

    CoreCubr empty;
    empty.setpl({CoreAnsx(VORLAN_TESTBRIDGE_NODEVICE)});
    CoreCnvl d(&pool, "H2", 0, &empty);
    EXPECT_EQ(std::string(d.getbv().c_str()), "N/A");
    d.set__(13, 1024, 64, 0, 64, 64);
    EXPECT_TRUE(d.error());
    EXPECT_EQ(d.getsl(), 11);
}

TEST(CoreCnvlPlan, ZeroLengthLeavesTheRingsUnallocated) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    c.set__(3, 64, 0, 0, 0, 0);
    EXPECT_TRUE(c.plan_());
    EXPECT_EQ(c.getrl(), 0);
    EXPECT_EQ(c.getrg(false), nullptr);
    // Running it plays silence and the position does not run away.
    Signal in(4, 1.0), out(4, 7.0), pow(4), work(4);
    for (int i = 0; i < 10; ++i)
        c.vltrr(true, in.data(), in.data(), out.data(), out.data() + 2, in.data(), in.data(),
                pow.data(), pow.data() + 2, work.data(), work.data() + 2, 2, nullptr, nullptr);
    EXPECT_EQ(out, Signal(4, 0.0));
    EXPECT_EQ(c.getrp(), 0);
}

TEST(CoreCnvlPlan, ReplanningWithTheSameLengthKeepsAndZeroesTheRings) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    c.set__(3, 64, 8, 0, 0, 0);
    ASSERT_TRUE(c.plan_());
    const double* left = c.getrg(false);
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(c.getrl(), 24);
    EXPECT_EQ(c.getrp(), 8);
    Signal x(16, 1.0), k(8, 0.5), y(16), pw(16), wk(16), y2(16), pw2(16), wk2(16);
    c.vltrr(true, x.data(), x.data(), y.data(), y2.data(), k.data(), k.data(), pw.data(),
            pw2.data(), wk.data(), wk2.data(), 16, nullptr, nullptr);
    bool any = false;
    for (int i = 0; i < 24; ++i) any = any || c.getrg(false)[i] != 0.0;
    EXPECT_TRUE(any);

    c.set__(3, 64, 8, 0, 0, 0);
    ASSERT_TRUE(c.plan_());
    EXPECT_EQ(c.getrg(false), left);
    EXPECT_EQ(c.getrp(), 8);
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(c.getrg(false)[i], 0.0);
        EXPECT_EQ(c.getrg(true)[i], 0.0);
    }

    c.set__(3, 64, 10, 0, 0, 0);
    ASSERT_TRUE(c.plan_());
    EXPECT_EQ(c.getrl(), 30);
    c.cleas();
    EXPECT_EQ(c.getrl(), 0);
    EXPECT_FALSE(c.isplanned());
}

TEST(CoreCnvlPlan, BlockThatDoesNotDivideTheLengthIsRefused) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    ASSERT_EQ(c.set__(2, 64, 7, 0, 0, 0), 2);
    EXPECT_FALSE(c.plan_());
    EXPECT_FALSE(c.isplanned());
    // Unplanned, the step plays silence instead of running the kernel.
    Signal x(4, 1.0), k(7, 1.0), out(4, 3.0), pw(4), wk(4), pw2(4), wk2(4), out2(4, 3.0);
    c.vltrr(true, x.data(), x.data(), out.data(), out2.data(), k.data(), k.data(), pw.data(),
            pw2.data(), wk.data(), wk2.data(), 4, nullptr, nullptr);
    EXPECT_EQ(out, Signal(4, 0.0));
    ASSERT_EQ(c.set__(2, 64, 8, 0, 0, 0), 2);
    EXPECT_TRUE(c.plan_());
}

TEST(CoreCnvlPlan, SelectionUnplansAndFailedLoadsLeaveItUnplanned) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    c.set__(3, 64, 8, 0, 0, 0);
    ASSERT_TRUE(c.plan_());
    EXPECT_TRUE(c.isplanned());
    c.set__(3, 64, 16, 0, 0, 0); // a step now would walk a ring of the old size
    EXPECT_FALSE(c.isplanned());
    ASSERT_TRUE(c.plan_());
    c.delpl();
    EXPECT_FALSE(c.isplanned());
}

TEST(CoreCnvlPlan, LogsTheSizes) {
    LogCapture log;
    CorePool pool;
    CoreCnvl c(&pool, "H2", 0, nullptr);
    c.set__(3, 64, 8, 64, 0, 0);
    ASSERT_TRUE(c.plan_());
    EXPECT_NE(log.text().find("player H2: 8:64:8"), std::string::npos) << log.text();
}

TEST(CoreCnvlPlan, ComputationPlanOwnedByTheFirstPlayerIsFreedWithIt) {
    CorePool pool;
    const long before = pool.getma();
    double borrowed[8] = {};
    {
        CoreCnvl first(&pool, "H1", 0, nullptr);
        first.set__(11, 128, 64, 0, 64, 64);
        first.set_c(nullptr, 0, 64);
        EXPECT_TRUE(first.planc());
        void* shared = first.grplc();
        ASSERT_NE(shared, nullptr);
        EXPECT_GT(pool.getma(), before);

        CoreCnvl next(&pool, "H2", 0, nullptr);
        next.set__(11, 128, 64, 0, 64, 64);
        next.set_c(shared, 1, 64);
        EXPECT_TRUE(next.planc());
        EXPECT_EQ(next.grplc(), shared);
        next.set_c(borrowed, 2, 4);
        EXPECT_TRUE(next.planc()); // re-plans: the old one is unloaded first
        EXPECT_EQ(next.grplc(), static_cast<void*>(borrowed));
        // Neither player calls delpc: the destructor must release what it owns.
    }
    EXPECT_EQ(pool.getma(), before);

    CoreCnvl direct(&pool, "H3", 0, nullptr);
    direct.set__(3, 64, 8, 0, 0, 0);
    direct.set_c(borrowed, 0, 8);
    EXPECT_TRUE(direct.planc()); // engine 3 needs none
    EXPECT_EQ(direct.grplc(), nullptr);
}

TEST(CoreCnvlPlan, RefusedOwnerOfAComputationPlanLeavesTheHandedBufferAlone) {
    CorePool pool;
    // A buffer that belongs to someone else, handed to a first-of-group player
    // whose plan is then refused (no length).
    void* foreign = pool.mallc(0, 16, "TEST", CoreAnsx(""));
    const long held = pool.getma();
    {
        CoreCnvl c(&pool, "H1", 0, nullptr);
        c.set__(11, 128, 64, 0, 128, 64);
        ASSERT_TRUE(c.plan_());
        c.set_c(foreign, 0, 0);
        EXPECT_FALSE(c.planc());
        EXPECT_EQ(c.grplc(), nullptr);
        c.delpc();
        c.delpl();
    }
    EXPECT_EQ(pool.getma(), held);
    pool.free_(foreign);
}

TEST(CoreCnvlPlan, ReselectionWithoutReleasingFreesThePlansWithTheirOwnFunctions) {
    CorePool pool;
    const long before = pool.getma();
    {
        CoreCnvl c(&pool, "H1", 0, nullptr);
        c.set__(11, 128, 128, 0, 128, 256);
        ASSERT_TRUE(c.plan_());
        c.set_c(nullptr, 0, 128);
        ASSERT_TRUE(c.planc());
        // Straight to another engine: neither delpc nor delpl first.
        c.set__(3, 64, 8, 0, 0, 0);
        ASSERT_TRUE(c.plan_());
        EXPECT_EQ(pool.getma() - before, 2L * (24 * 8 + 20)); // only the new rings
        c.set__(10, 128, 128, 0, 128, 256);
        ASSERT_TRUE(c.plan_());
        c.set__(); // released without delpl
        EXPECT_EQ(pool.getma(), before);
    }
    EXPECT_EQ(pool.getma(), before);
}

TEST(CoreCnvlPlan, WorkLengthWhoseRingsWouldOverflowIsRefused) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    c.set__(3, 64, 800000000, 0, 0, 0);
    EXPECT_FALSE(c.plan_());
    EXPECT_FALSE(c.isplanned());
    EXPECT_EQ(c.getrl(), 0);
}

// out[n] = k[t] x[n - t] for the one-tap engine, through the ring wrap.
Signal oneTapRun(short engine, int N, int tap, const Signal& x, const Signal& k) {
    CorePool pool;
    CoreCnvl c(&pool, "H1", 0, nullptr);
    c.set__(engine, 64, N, 0, 0, 0);
    c.setff(tap);
    EXPECT_TRUE(c.plan_());
    Signal out(x.size()), outR(x.size());
    for (size_t n = 0; n < x.size(); ++n) {
        c.cnvlc(&x[n], &x[n], &out[n], &outR[n], k.data(), k.data(), nullptr, nullptr);
        EXPECT_EQ(out[n], outR[n]);
    }
    return out;
}

TEST(CoreCnvlOneTap, DelaysByTheTapAndScalesByItsValue) {
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Signal x(100), k(8);
    for (double& v : x) v = u(gen);
    for (double& v : k) v = u(gen);
    for (int t : {0, 3, 7}) {
        const Signal y = oneTapRun(17, 8, t, x, k);
        for (size_t n = 0; n < x.size(); ++n) {
            const double want = n >= static_cast<size_t>(t) ? k[t] * x[n - t] : 0.0;
            EXPECT_EQ(y[n], want) << "t " << t << " n " << n;
        }
    }
    // A tap outside the kernel plays silence instead of writing past the ring.
    EXPECT_EQ(oneTapRun(17, 8, 8, x, k), Signal(x.size(), 0.0));
    EXPECT_EQ(oneTapRun(17, 8, -1, x, k), Signal(x.size(), 0.0));
}

TEST(CoreCnvlOneTap, BlockEngineDelaysEveryFrameOfTheBlock) {
    // Engine 16 hands the one-tap kernel the caller's block, not one sample.
    const int N = 8, B = 4, t = 3;
    Signal x(40), k(N), ringL(3 * N), ringR(3 * N), yL(x.size()), yR(x.size());
    for (size_t n = 0; n < x.size(); ++n) x[n] = 1.0 + static_cast<double>(n);
    for (int i = 0; i < N; ++i) k[i] = 0.5 * (i + 1);
    CoreCnvl::FFTEXTENSION ext;
    ext.block = B;
    ext.onetap = t;
    int p = N;
    for (size_t n = 0; n < x.size(); n += B) {
        if (p >= 2 * N) p -= N;
        CoreCnvlIntl::cns18(&x[n], &x[n], &yL[n], &yR[n], k.data(), k.data(), ringL.data(),
                            ringR.data(), N, p, &ext);
        p += B;
    }
    for (size_t n = 0; n < x.size(); ++n) {
        const double want = n >= static_cast<size_t>(t) ? k[t] * x[n - t] : 0.0;
        EXPECT_EQ(yL[n], want) << n;
        EXPECT_EQ(yR[n], want) << n;
    }
}

TEST(CoreCnvlOneTap, SubnormalInputIsTakenAsZero) {
    Signal x = {1e-310, -0.0, 2.0}, k = {-3.0, 0.0};
    const Signal y = oneTapRun(17, 2, 0, x, k);
    EXPECT_EQ(y[0], 0.0);
    EXPECT_EQ(y[1], 0.0);
    EXPECT_EQ(y[2], -6.0);
}

} // namespace

TEST(CoreCnvlPlan, ComputationBufferIsFreedByTheOwnerWhateverModeIsSetLater) {
    CorePool pool;
    const long before = pool.getma();
    {
        CoreCnvl first(&pool, "H1", 0, nullptr);
        first.set__(11, 128, 64, 0, 64, 64);
        first.set_c(nullptr, 0, 64);
        ASSERT_TRUE(first.planc());
        void* shared = first.grplc();
        ASSERT_NE(shared, nullptr);

        CoreCnvl next(&pool, "H2", 0, nullptr);
        next.set__(11, 128, 64, 0, 64, 64);
        next.set_c(shared, 1, 64);
        ASSERT_TRUE(next.planc());
        // The borrower's mode is changed to "store" after planning: releasing it
        // must still leave the owner's buffer alone...
        next.setci(static_cast<double*>(shared), 0, 64);
        next.delpc();
        // ...and the owner, switched away from "store", still frees its buffer.
        first.setci(static_cast<double*>(shared), 2, 64);
    }
    EXPECT_EQ(pool.getma(), before);
}
