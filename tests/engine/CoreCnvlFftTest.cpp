// The FFT engines 9, 10 and 11 through the real player, against a naive
// convolution: kernel lengths around the block, blocks 1 to 1024, a kernel
// change mid-stream, the mono byte, a sharing group of engine-11 players
// against independent engine-10 players, the kernel-changed flag and clear,
// and the lengths a load accepts or refuses.
#include "engine/CoreCnvl.h"

#include "runtime/CorePool.h"

#include "tests/support/AllocCount.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using Signal = std::vector<double>;

// One stereo stream: inputs, the two kernel versions per channel, and where
// the second version takes over (in blocks).
struct Stream {
    int B = 0;
    int T = 0;
    int blocks = 0;
    int change = 0;
    Signal xl, xr, kl0, kr0, kl1, kr1;

    Stream(int B, int T, int blocks, int change, unsigned seed)
        : B(B), T(T), blocks(blocks), change(change) {
        const int n = B * blocks;
        xl = randomSignal(n, seed);
        xr = randomSignal(n, seed + 1);
        kl0 = randomSignal(T, seed + 2);
        kr0 = randomSignal(T, seed + 3);
        kl1 = randomSignal(T, seed + 4);
        kr1 = randomSignal(T, seed + 5);
    }
    size_t switchAt() const { return static_cast<size_t>(B) * change; }
};

// Plays the stream through one player, block by block with cnvlc. The
// kernel buffers are rewritten and the flag raised before block `change`;
// the flag must be consumed by every block. F is the caller's FFT length.
void play(short engine, const Stream& s, int F, bool mono, Signal& yl, Signal& yr) {
    CorePool pool;
    CoreCnvl player(&pool, CoreAnsx("H1"), 0, nullptr);
    ASSERT_EQ(player.set__(engine, s.B, s.T, F, s.B, s.T), s.B);
    ASSERT_FALSE(player.error());
    player.setms(mono);
    bool changed = true;
    player.setup(&changed);
    ASSERT_TRUE(player.plan_());
    Signal kl = s.kl0, kr = s.kr0;
    yl.assign(s.xl.size(), 0.0);
    yr.assign(s.xr.size(), 0.0);
    for (int b = 0; b < s.blocks; ++b) {
        if (b == s.change) {
            kl = s.kl1;
            kr = s.kr1;
            changed = true;
        }
        const size_t o = static_cast<size_t>(b) * s.B;
        player.cnvlc(s.xl.data() + o, s.xr.data() + o, yl.data() + o, yr.data() + o, kl.data(),
                     kr.data(), nullptr, nullptr);
        ASSERT_FALSE(changed) << "block " << b;
    }
}

TEST(CoreCnvlFft, EnginesMatchNaiveConvolutionForKernelsAroundTheBlock) {
    for (int B : {1, 2, 64, 1024}) {
        for (int T : {B / 2, B, 3 * B, 3 * B + 1}) {
            if (T < 1) continue;
            const Stream s(B, T, 12, 6, static_cast<unsigned>(B * 7 + T));
            const Signal wl = naiveConvolution(s.xl, s.kl0, s.kl1, s.switchAt());
            const Signal wr = naiveConvolution(s.xr, s.kr0, s.kr1, s.switchAt());
            for (short engine : {9, 10, 11}) {
                SCOPED_TRACE(testing::Message() << "engine " << engine << " B " << B << " T " << T);
                Signal yl, yr;
                // F = T: shorter than B + T - 1, and not a power of two for 3B + 1.
                play(engine, s, T, false, yl, yr);
                EXPECT_LT(relativeError(yl, wl), 1e-10);
                EXPECT_LT(relativeError(yr, wr), 1e-10);
            }
        }
    }
}

TEST(CoreCnvlFft, MonoByteUsesTheLeftKernelOnlyOnEngine11) {
    const Stream s(64, 150, 8, 3, 77);
    const Signal leftOnR = naiveConvolution(s.xr, s.kl0, s.kl1, s.switchAt());
    const Signal ownR = naiveConvolution(s.xr, s.kr0, s.kr1, s.switchAt());
    const Signal ownL = naiveConvolution(s.xl, s.kl0, s.kl1, s.switchAt());
    Signal yl, yr;
    play(11, s, 0, true, yl, yr);
    EXPECT_LT(relativeError(yl, ownL), 1e-10);
    EXPECT_LT(relativeError(yr, leftOnR), 1e-10);
    // Engines 9 and 10 leave the mono byte to the program.
    for (short engine : {9, 10}) {
        play(engine, s, 0, true, yl, yr);
        EXPECT_LT(relativeError(yr, ownR), 1e-10) << "engine " << engine;
    }
}

TEST(CoreCnvlFft, SharingGroupEqualsIndependentPartitionedPlayers) {
    const int B = 64, T = 200, subBlocks = 4, steps = 6;
    const int frames = B * subBlocks;
    const int total = frames * steps;
    const Signal xl = randomSignal(total, 5), xr = randomSignal(total, 6);
    CorePool pool;
    std::vector<std::unique_ptr<CoreCnvl>> shared, alone;
    std::vector<Signal> kl, kr;
    for (int h = 0; h < 3; ++h) {
        kl.push_back(randomSignal(T, 40 + h));
        kr.push_back(randomSignal(T, 50 + h));
        for (auto* set : {&shared, &alone}) {
            set->push_back(
                std::make_unique<CoreCnvl>(&pool, CoreAnsx("H") + CoreAnsx(h + 1), 0, nullptr));
            ASSERT_EQ(set->back()->set__(set == &shared ? 11 : 10, B, T, 0, B, T), B);
            ASSERT_TRUE(set->back()->plan_());
        }
    }
    // Store, add, add in and output; the buffer holds every sub-block of a step.
    const long length = static_cast<long>(shared[0]->getwl()) * subBlocks;
    void* buffer = nullptr;
    for (short mode = 0; mode < 3; ++mode) {
        shared[mode]->set_c(buffer, mode, length);
        ASSERT_TRUE(shared[mode]->planc());
        buffer = shared[mode]->grplc();
        ASSERT_NE(buffer, nullptr);
    }
    Signal powL(frames), powR(frames), outL(frames), outR(frames), refL(frames), refR(frames);
    std::vector<Signal> workL(3, Signal(frames)), workR(3, Signal(frames));
    Signal scratchL(frames), scratchR(frames);
    double err = 0.0, energy = 0.0;
    const long allocations = allocationCount();
    for (int st = 0; st < steps; ++st) {
        const double* inL = xl.data() + static_cast<size_t>(st) * frames;
        const double* inR = xr.data() + static_cast<size_t>(st) * frames;
        for (int h = 0; h < 3; ++h)
            shared[h]->vltrr(h == 0, inL, inR, outL.data(), outR.data(), kl[h].data(), kr[h].data(),
                             powL.data(), powR.data(), workL[h].data(), workR[h].data(), frames,
                             nullptr, nullptr);
        EXPECT_EQ(allocationCount(), allocations); // nothing allocated per block
        for (int h = 0; h < 2; ++h)
            for (int i = 0; i < frames; ++i) {
                ASSERT_EQ(workL[h][i], 0.0) << "mode " << h;
                ASSERT_EQ(workR[h][i], 0.0) << "mode " << h;
            }
        for (int h = 0; h < 3; ++h)
            alone[h]->vltrr(h == 0, inL, inR, refL.data(), refR.data(), kl[h].data(), kr[h].data(),
                            powL.data(), powR.data(), scratchL.data(), scratchR.data(), frames,
                            nullptr, nullptr);
        for (int i = 0; i < frames; ++i) {
            err += (outL[i] - refL[i]) * (outL[i] - refL[i]) +
                   (outR[i] - refR[i]) * (outR[i] - refR[i]);
            energy += refL[i] * refL[i] + refR[i] * refR[i];
        }
    }
    ASSERT_GT(energy, 1.0);
    EXPECT_LT(std::sqrt(err / energy), 1e-10);
}

TEST(CoreCnvlFft, KernelSpectraFollowTheFlagAndSurviveClear) {
    const Stream s(64, 130, 4, 99, 31);
    const Signal wl = naiveConvolution(s.xl, s.kl0, s.kl0, 0);
    const Signal wr = naiveConvolution(s.xr, s.kr0, s.kr0, 0);
    for (short engine : {9, 10, 11}) {
        SCOPED_TRACE(testing::Message() << "engine " << engine);
        CorePool pool;
        CoreCnvl player(&pool, CoreAnsx("H1"), 0, nullptr);
        player.set__(engine, s.B, s.T, 0, s.B, s.T);
        ASSERT_TRUE(player.plan_());
        Signal yl(s.xl.size()), yr(s.xr.size());
        auto run = [&](Signal& kl, Signal& kr) {
            for (int b = 0; b < s.blocks; ++b) {
                const size_t o = static_cast<size_t>(b) * s.B;
                player.cnvlc(s.xl.data() + o, s.xr.data() + o, yl.data() + o, yr.data() + o,
                             kl.data(), kr.data(), nullptr, nullptr);
            }
        };
        // No flag at all: every block counts as a kernel change.
        Signal kl = s.kl1, kr = s.kr1;
        run(kl, kr);
        kl = s.kl0;
        kr = s.kr0;
        player.clear();
        run(kl, kr);
        EXPECT_LT(relativeError(yl, wl), 1e-10);
        // A flag that is never raised: the first block after clear still
        // computes the spectra, so the output is not silent.
        bool changed = false;
        player.setup(&changed);
        player.clear();
        run(kl, kr);
        EXPECT_LT(relativeError(yl, wl), 1e-10);
        EXPECT_LT(relativeError(yr, wr), 1e-10);
        // Raised with a new kernel after clear: the new one from the first block.
        kl = s.kl1;
        kr = s.kr1;
        changed = true;
        player.clear();
        run(kl, kr);
        EXPECT_FALSE(changed);
        EXPECT_LT(relativeError(yl, naiveConvolution(s.xl, s.kl1, s.kl1, 0)), 1e-10);
        // Not raised and no clear: the stored spectra stay, whatever the
        // buffer now holds, and the stream continues seamlessly.
        kl = s.kl0;
        kr = s.kr0;
        changed = true;
        player.clear();
        run(kl, kr);
        kl = s.kl1;
        run(kl, kr);
        Signal twice = s.xl;
        twice.insert(twice.end(), s.xl.begin(), s.xl.end());
        const Signal w2 = naiveConvolution(twice, s.kl0, s.kl0, 0);
        EXPECT_LT(relativeError(yl, Signal(w2.begin() + static_cast<long>(s.xl.size()), w2.end())),
                  1e-10);
    }
}

TEST(CoreCnvlFft, LoadSizesAndRefusals) {
    CorePool pool;
    CoreCnvl player(&pool, CoreAnsx("H1"), 0, nullptr);
    // Engine 9: N from max(F, B + T - 1), rounded up to a power of two.
    player.set__(9, 64, 100, 3000, 64, 100);
    ASSERT_TRUE(player.plan_());
    EXPECT_EQ(player.getwl(), 4096);
    player.delpl();
    player.set__(9, 64, 1000, 16, 64, 1000);
    ASSERT_TRUE(player.plan_());
    EXPECT_EQ(player.getwl(), 2048); // 64 + 1000 - 1 = 1063
    player.delpl();
    // Engines 10, 11: N = getp2(B + L - 1) = 2B, also when that is already a power of two.
    for (short engine : {10, 11}) {
        player.set__(engine, 1, 5, 0, 1, 5);
        ASSERT_TRUE(player.plan_());
        EXPECT_EQ(player.getwl(), 2);
        player.delpl();
        player.set__(engine, 128, 300, 0, 128, 300);
        ASSERT_TRUE(player.plan_());
        EXPECT_EQ(player.getwl(), 256);
        player.delpl();
        // A partition other than the block would delay partitions wrongly.
        player.set__(engine, 128, 300, 0, 64, 300);
        EXPECT_FALSE(player.plan_());
        EXPECT_FALSE(player.isplanned());
    }
    // No kernel length: nothing to divide by.
    CoreCnvl fresh(&pool, CoreAnsx("H2"), 0, nullptr);
    for (short engine : {9, 10, 11}) {
        fresh.set__(engine, 64, 0, 0, 64, 0);
        EXPECT_FALSE(fresh.plan_()) << "engine " << engine;
    }
    CoreCnvl nopart(&pool, CoreAnsx("H3"), 0, nullptr);
    nopart.set__(10, 64, 100, 0, 0, 100);
    EXPECT_FALSE(nopart.plan_());
}

TEST(CoreCnvlFft, ModeAboveThreeWritesSilenceNotStaleData) {
    const int B = 64;
    CorePool pool;
    CoreCnvl player(&pool, CoreAnsx("H1"), 0, nullptr);
    player.set__(11, B, B, 0, B, B);
    ASSERT_TRUE(player.plan_());
    player.setci(nullptr, 7, 0);
    const Signal x = randomSignal(B, 3), k = randomSignal(B, 4);
    Signal yl(B, 5.0), yr(B, 5.0);
    player.cnvlc(x.data(), x.data(), yl.data(), yr.data(), k.data(), k.data(), nullptr, nullptr);
    for (int i = 0; i < B; ++i) {
        EXPECT_EQ(yl[i], 0.0);
        EXPECT_EQ(yr[i], 0.0);
    }
    // A store without a buffer outputs its own share instead of losing it.
    player.setci(nullptr, 0, 0);
    player.clear();
    player.cnvlc(x.data(), x.data(), yl.data(), yr.data(), k.data(), k.data(), nullptr, nullptr);
    const Signal w = naiveConvolution(x, k, k, 0);
    EXPECT_LT(relativeError(yl, w), 1e-10);
}

} // namespace

TEST(CoreCnvlFft, ClearAfterALoadThatRanOutOfMemoryStaysInsideItsBuffers) {
    const int savedPause = CorePool::iVretrypause;
    CorePool::iVretrypause = 0;
    for (short engine : {9, 10, 11}) {
        CorePool pool;
        CoreCnvl player(&pool, CoreAnsx("H1"), 0, nullptr);
        // A large plan first, so the work length it leaves behind is long...
        player.set__(engine, 1024, 8192, 0, 1024, 8192);
        ASSERT_TRUE(player.plan_());
        // ...then a smaller one whose later buffers cannot be had.
        player.set__(engine, 64, 100000, 0, 64, 100000);
        pool.setal(pool.getma() + 64 * 1024);
        bool planned = true;
        try {
            planned = player.plan_();
        } catch (CoreAnsx const&) {
            planned = false;
        }
        EXPECT_FALSE(planned) << "engine " << engine;
        player.clear(); // must touch only buffers that exist, at their own size
        EXPECT_FALSE(player.isplanned());
    }
    CorePool::iVretrypause = savedPause;
}

TEST(CoreCnvlFft, SwitchingMonoRebuildsTheSpectraWithoutAKernelChange) {
    // The kernels never change and their flag is raised only once: switching
    // the mono byte alone must bring the left kernel to the right channel from
    // that block on (the older tail kept), and back again.
    const Stream s(64, 150, 9, 3, 91);
    CorePool pool;
    CoreCnvl player(&pool, CoreAnsx("H1"), 0, nullptr);
    ASSERT_EQ(player.set__(11, s.B, s.T, 0, s.B, s.T), s.B);
    bool changed = true;
    player.setup(&changed);
    ASSERT_TRUE(player.plan_());
    Signal yl(s.xl.size(), 0.0), yr(s.xr.size(), 0.0);
    for (int b = 0; b < s.blocks; ++b) {
        if (b == 3) player.setms(true);
        if (b == 6) player.setms(false);
        const size_t o = static_cast<size_t>(b) * s.B;
        player.cnvlc(s.xl.data() + o, s.xr.data() + o, yl.data() + o, yr.data() + o, s.kl0.data(),
                     s.kr0.data(), nullptr, nullptr);
    }
    // Right channel: own kernel, left kernel from block 3, own again from block 6.
    const size_t at3 = 3 * static_cast<size_t>(s.B), at6 = 6 * static_cast<size_t>(s.B);
    Signal want(s.xr.size(), 0.0);
    // Each input sample is heard through the kernel it met; split by input time.
    Signal xBefore6(s.xr), xFrom6(s.xr.size(), 0.0);
    for (size_t i = at6; i < xBefore6.size(); ++i) {
        xFrom6[i] = xBefore6[i];
        xBefore6[i] = 0.0;
    }
    const Signal part1 = naiveConvolution(xBefore6, s.kr0, s.kl0, at3);
    const Signal part2 = naiveConvolution(xFrom6, s.kr0, s.kr0, 0);
    for (size_t i = 0; i < want.size(); ++i) want[i] = part1[i] + part2[i];
    EXPECT_LT(relativeError(yr, want), 1e-10);
    EXPECT_LT(relativeError(yl, naiveConvolution(s.xl, s.kl0, s.kl0, 0)), 1e-10);
}
