// The bridge engines 12 to 15 through the real player and the CPU stand-in
// bridge: engine 12 against a naive convolution (single precision), and for
// 13 to 15 what the bridge is handed (parameter block, state handle, spectra
// slot, channel, sub-block, chained computation), read back from the stand-in
// bridge's recording.
#include "engine/CoreCnvl.h"
#include "engine/CoreCnvlIntl.h"

#include "engine/CoreCubr.h"
#include "runtime/CorePool.h"

#include "tests/support/ConvolutionTruth.h"
#include "tests/support/Signals.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#ifndef VORLAN_TESTBRIDGE
#error "the test bridge paths come from tests/modules/testbridge"
#endif

namespace {

using Signal = std::vector<double>;

// Layout of the stand-in bridge's recording (tests/modules/testbridge).
struct Recording {
    std::int32_t params[7];
    int opens;
    int family;
    void* handle;
    int closes;
    int clears;
    void* chainHandle;
    void* chainBuffer;
    short chainMode;
    int chainLength;
    int unchains;
    struct Call {
        int entry;
        void* handle;
        const double* in;
        double* out;
        const double* kernel;
        double* ring;
        int p;
        int slot;
        int channel;
        bool* changed;
        short subBlock;
    } calls[64];
    int callCount;
};

// The bridge library stays loaded for the whole program, so its recording
// outlives each test's loader.
Recording* recording() {
    static void* library = dlopen(VORLAN_TESTBRIDGE, RTLD_NOW);
    static auto* get = reinterpret_cast<Recording* (*)()>(
        library == nullptr ? nullptr : dlsym(library, "testbridge_recrd"));
    Recording* r = get == nullptr ? nullptr : get();
    if (r != nullptr) std::memset(r, 0, sizeof *r);
    return r;
}

// A loader pointed at the stand-in bridge, and a pool.
struct Bench {
    CorePool pool;
    CoreCubr bridge;
    Bench() { bridge.setpl({CoreAnsx(VORLAN_TESTBRIDGE)}); }
};

TEST(CoreCnvlGpu, Engine12MatchesNaiveConvolutionInSinglePrecision) {
    const int B = 64, blocks = 10, change = 4;
    for (int T : {40, 64, 3 * 64 + 1}) {
        SCOPED_TRACE(testing::Message() << "T " << T);
        Bench b;
        CoreCnvl player(&b.pool, CoreAnsx("H1"), 0, &b.bridge);
        ASSERT_EQ(player.set__(12, B, T, T, B, T), B);
        ASSERT_FALSE(player.error());
        EXPECT_TRUE(player.getpt());
        bool changed = true;
        player.setup(&changed);
        ASSERT_TRUE(player.plan_());
        EXPECT_EQ(player.getwl(), 2 * B);
        const int n = B * blocks;
        const Signal xl = randomSignal(n, 1), xr = randomSignal(n, 2);
        const Signal kl0 = randomSignal(T, 3), kr0 = randomSignal(T, 4);
        const Signal kl1 = randomSignal(T, 5), kr1 = randomSignal(T, 6);
        Signal kl = kl0, kr = kr0, yl(n), yr(n);
        for (int blk = 0; blk < blocks; ++blk) {
            if (blk == change) {
                kl = kl1;
                kr = kr1;
                changed = true;
            }
            const size_t o = static_cast<size_t>(blk) * B;
            player.cnvlc(xl.data() + o, xr.data() + o, yl.data() + o, yr.data() + o, kl.data(),
                         kr.data(), nullptr, nullptr);
            EXPECT_FALSE(changed);
        }
        const size_t at = static_cast<size_t>(B) * change;
        EXPECT_LT(relativeError(yl, naiveConvolution(xl, kl0, kl1, at)), 1e-5);
        EXPECT_LT(relativeError(yr, naiveConvolution(xr, kr0, kr1, at)), 1e-5);
        // Clear forgets the stream and the spectra; the kernel is taken again.
        player.clear();
        changed = false;
        for (int blk = 0; blk < blocks; ++blk) {
            const size_t o = static_cast<size_t>(blk) * B;
            player.cnvlc(xl.data() + o, xr.data() + o, yl.data() + o, yr.data() + o, kl.data(),
                         kr.data(), nullptr, nullptr);
        }
        EXPECT_LT(relativeError(yl, naiveConvolution(xl, kl1, kl1, 0)), 1e-5);
        player.delpl();
        // The same delay line as engine 10: a partition other than the block is refused.
        player.set__(12, B, T, T, B / 2, T);
        EXPECT_FALSE(player.plan_());
    }
}

TEST(CoreCnvlGpu, Engine13HandsTheParameterBlockAndChannelsToTheBridge) {
    Recording* rec = recording();
    ASSERT_NE(rec, nullptr);
    Bench b;
    const int B = 64, T = 200;
    CoreCnvl player(&b.pool, CoreAnsx("H1"), 0, &b.bridge);
    ASSERT_EQ(player.set__(13, B, T, 256, B, T), B);
    bool changed = true;
    player.setup(&changed);
    ASSERT_TRUE(player.plan_());
    EXPECT_EQ(player.getwl(), 128);
    const std::int32_t want[7] = {4, 64, 128, 65, 200, 64, 128}; // P, B, N, M, T, L, N
    for (int i = 0; i < 7; ++i) EXPECT_EQ(rec->params[i], want[i]) << "field " << i;
    EXPECT_EQ(rec->family, 0);
    ASSERT_NE(rec->handle, nullptr);

    const Signal xl = randomSignal(3 * B, 7), xr = randomSignal(3 * B, 8);
    const Signal kl = randomSignal(T, 9), kr = randomSignal(T, 10);
    Signal yl(3 * B), yr(3 * B);
    for (int blk = 0; blk < 3; ++blk) {
        const size_t o = static_cast<size_t>(blk) * B;
        player.cnvlc(xl.data() + o, xr.data() + o, yl.data() + o, yr.data() + o, kl.data(),
                     kr.data(), nullptr, nullptr);
    }
    ASSERT_EQ(rec->callCount, 6);
    for (int c = 0; c < 6; ++c) {
        const Recording::Call& call = rec->calls[c];
        EXPECT_EQ(call.entry, 15);
        EXPECT_EQ(call.handle, rec->handle);
        EXPECT_EQ(call.channel, c % 2);
        EXPECT_EQ(call.kernel, c % 2 == 0 ? kl.data() : kr.data());
        EXPECT_EQ(call.ring, player.getrg(c % 2 == 1));
        EXPECT_EQ(call.changed, &changed);
        EXPECT_EQ(call.p, 128 + 64 * (c / 2 % 2)); // the ring wraps at 2N
    }
    // The stand-in convolves exactly, so the stream is the naive one.
    EXPECT_LT(relativeError(yl, naiveConvolution(xl, kl, kl, 0)), 1e-12);
    EXPECT_LT(relativeError(yr, naiveConvolution(xr, kr, kr, 0)), 1e-12);
    player.clear();
    EXPECT_EQ(rec->clears, 1);
    player.delpl();
    EXPECT_EQ(rec->closes, 1);
    // Nothing left to call: silence, no bridge call.
    ASSERT_TRUE(player.plan_());
    player.delpl();
    const int calls = rec->callCount;
    std::fill(yl.begin(), yl.end(), 3.0);
    player.cnvlc(xl.data(), xr.data(), yl.data(), yr.data(), kl.data(), kr.data(), nullptr,
                 nullptr);
    EXPECT_EQ(rec->callCount, calls);
    EXPECT_EQ(yl[0], 0.0);
}

// Engines 14 and 15 chain the players of a group through the bridge; mono
// mode sends the left kernel to spectra slot 1 for both channels.
TEST(CoreCnvlGpu, ChainedEnginesPassSlotChannelSubBlockAndComputationPlan) {
    for (short engine : {14, 15}) {
        SCOPED_TRACE(testing::Message() << "engine " << engine);
        Recording* rec = recording();
        ASSERT_NE(rec, nullptr);
        Bench b;
        const int B = 64, T = 100, sub = 3;
        CoreCnvl player(&b.pool, CoreAnsx("H1"), 0, &b.bridge);
        ASSERT_EQ(player.set__(engine, B, T, 0, B, T), B);
        ASSERT_TRUE(player.plan_());
        const int third = engine == 14 ? 65 : 128;
        EXPECT_EQ(rec->params[3], third);
        EXPECT_EQ(rec->params[0], 2);
        EXPECT_EQ(rec->family, engine == 14 ? 0 : 1);
        int length = 0, block = 0;
        EXPECT_TRUE(player.getci(length, block));
        EXPECT_EQ(length, 2 * third);
        EXPECT_EQ(block, B);

        player.set_c(nullptr, 0, 2L * third * sub);
        ASSERT_TRUE(player.planc());
        EXPECT_EQ(rec->chainHandle, rec->handle);
        EXPECT_EQ(rec->chainMode, 0);
        EXPECT_EQ(rec->chainLength, 2 * third * sub);
        EXPECT_NE(player.grplc(), nullptr); // the bridge's own buffer, handed on

        const Signal x = randomSignal(B * sub, 11);
        const Signal kl = randomSignal(T, 12), kr = randomSignal(T, 13);
        Signal pl(B * sub), pr(B * sub), wl(B * sub), wr(B * sub), ol(B * sub), orr(B * sub);
        for (bool mono : {false, true}) {
            player.setms(mono);
            rec->callCount = 0;
            player.vltrr(true, x.data(), x.data(), ol.data(), orr.data(), kl.data(), kr.data(),
                         pl.data(), pr.data(), wl.data(), wr.data(), B * sub, nullptr, nullptr);
            ASSERT_EQ(rec->callCount, 2 * sub);
            for (int c = 0; c < 2 * sub; ++c) {
                const Recording::Call& call = rec->calls[c];
                EXPECT_EQ(call.entry, engine == 14 ? 16 : 17);
                EXPECT_EQ(call.handle, rec->handle);
                EXPECT_EQ(call.channel, c % 2);
                EXPECT_EQ(call.slot, mono ? 1 : c % 2);
                EXPECT_EQ(call.kernel, mono || c % 2 == 0 ? kl.data() : kr.data());
                EXPECT_EQ(call.subBlock, c / 2);
                EXPECT_EQ(call.in, (c % 2 == 0 ? pl.data() : pr.data()) + B * (c / 2));
            }
        }
        rec->family = -1;
        player.clear();
        EXPECT_EQ(rec->clears, 1);
        EXPECT_EQ(rec->family, engine == 14 ? 0 : 1);
        player.delpc();
        EXPECT_EQ(rec->unchains, 1);
        EXPECT_EQ(player.grplc(), nullptr);
        player.delpl();
        EXPECT_EQ(rec->closes, 1);
    }
}

// Planning again over an open chain: the chain comes off before its state
// closes, and its buffer is no longer handed on.
TEST(CoreCnvlGpu, ReplanningAChainedEngineReleasesItsChainFirst) {
    Recording* rec = recording();
    ASSERT_NE(rec, nullptr);
    Bench b;
    const int B = 64, T = 100;
    CoreCnvl player(&b.pool, CoreAnsx("H1"), 0, &b.bridge);
    ASSERT_EQ(player.set__(14, B, T, 0, B, T), B);
    ASSERT_TRUE(player.plan_());
    player.set_c(nullptr, 0, 130);
    ASSERT_TRUE(player.planc());
    ASSERT_NE(player.grplc(), nullptr);

    ASSERT_TRUE(player.plan_());
    EXPECT_EQ(rec->unchains, 1);
    EXPECT_EQ(rec->closes, 1);
    EXPECT_EQ(rec->opens, 2);
    EXPECT_EQ(player.grplc(), nullptr);
    int length = 0, block = 0;
    EXPECT_TRUE(player.getci(length, block));
    player.delpc();
    player.delpl();
    EXPECT_EQ(rec->closes, 2);
}

TEST(CoreCnvlGpu, WithoutABridgeNothingLoadsAndTheKernelsAreSilent) {
    // Called directly without a plan, the bridge kernels write silence.
    CoreCnvl::FFTEXTENSION ext;
    ext.block = 4;
    double in[4] = {1, 2, 3, 4}, outL[4] = {9, 9, 9, 9}, outR[4] = {9, 9, 9, 9};
    double ring[12] = {};
    for (auto kernel :
         {CoreCnvlIntl::cns14, CoreCnvlIntl::cns15, CoreCnvlIntl::cns16, CoreCnvlIntl::cns17}) {
        kernel(in, in, outL, outR, in, in, ring, ring, 4, 4, &ext);
        EXPECT_EQ(outL[3], 0.0);
        EXPECT_EQ(outR[0], 0.0);
    }
    CoreCnvl::FFTSTRUCT plan;
    int N = 0;
    EXPECT_FALSE(CoreCnvlIntl::load7(0, &plan, &ext, 4, N));
    EXPECT_FALSE(CoreCnvlIntl::load8(0, &plan, &ext, 4, N));
}

} // namespace
