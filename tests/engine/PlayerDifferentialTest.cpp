// Seeded differential run of the convolution player: for each seed a random
// CPU engine, block, kernel lengths, harmonic count and block-worker path
// (plain, hybrid, crossfading), with a random schedule of kernel rewrites,
// clears, re-plans and crossfade restarts between blocks; every output block
// is compared with a naive model kept alongside. Test thread only.
#include "engine/CoreCnvl.h"

#include "engine/CoreOpti.h"
#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"

#include "tests/support/AllocCount.h"
#include "tests/support/Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {

using Signal = std::vector<double>;

enum Path { kPlain, kHybrid, kSmooth };

// One slot of the run and its naive model: the model adds every input
// sample's products into an accumulator indexed by absolute sample, oldest
// input first, and forgets the pending tail when the player's history goes.
struct Slot {
    std::unique_ptr<CoreCnvl> player;
    int order = 1;        // power of the input this slot convolves
    int T = 1;            // kernel length (samples)
    int tap = 0;          // one-tap index (engine 17)
    bool changed = false; // the slot's kernel-changed flag
    Signal kl, kr;        // kernel buffers the player reads
    Signal accL, accR;    // model: pending output, by absolute sample
    Signal ul, ur;        // model: this block's input power
};

struct Run {
    std::mt19937 gen;
    short engine = 3;
    int eb = 1;     // engine block (samples per kernel call)
    int block = 1;  // block handed to set__ (and partition length)
    int frames = 1; // samples per worker step
    int F = 0;      // FFT-length parameter
    int H = 1;      // harmonics
    Path path = kPlain;
    bool exact = false;
    CorePool pool;
    std::vector<Slot> slots; // harmonics 0..H-1, then the work slot when used

    explicit Run(unsigned seed) : gen(seed) {}
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); }
    Signal kernel(int n) { return randomSignal(n, static_cast<unsigned>(gen())); }

    bool plan(Slot& s, bool select) {
        if (select &&
            (s.player->set__(engine, block, s.T, F, block, s.T) != eb || s.player->error()))
            return false;
        s.player->setff(s.tap);
        s.player->setup(&s.changed);
        return s.player->plan_();
    }
    // The sharing group of the engine-11 slots: the slots of the sharing range
    // (store, adds, final add) when there are two or more; empty otherwise.
    std::vector<Slot*> group() {
        std::vector<Slot*> g;
        for (size_t i = 0; i < slots.size() && engine == 11; ++i)
            if (path == kPlain || (i > 0 && (path == kHybrid || static_cast<int>(i) < H)))
                g.push_back(&slots[i]);
        if (g.size() < 2) g.clear();
        return g;
    }
    // Computation plans as the engine assigns them, in slot order.
    bool chain() {
        const std::vector<Slot*> g = group();
        void* buffer = nullptr;
        for (Slot& s : slots) {
            const auto at = std::find(g.begin(), g.end(), &s);
            const short mode = at == g.end() ? 3 : at == g.begin() ? 0 : at + 1 == g.end() ? 2 : 1;
            s.player->delpc();
            s.player->set_c(mode == 3 ? nullptr : buffer, mode, mode == 3 ? 0 : 2L * frames);
            if (!s.player->planc()) return false;
            if (mode != 3) buffer = s.player->grplc();
        }
        return true;
    }
    // Sums the slot's products for this block into its accumulator (the
    // one-tap engine has kernel[tap] as its only tap).
    void model(Slot& s, size_t start) {
        for (int i = 0; i < frames; ++i)
            for (int k = engine == 17 ? s.tap : 0; k < (engine == 17 ? s.tap + 1 : s.T); ++k) {
                s.accL[start + i + k] += s.ul[i] * s.kl[k];
                s.accR[start + i + k] += s.ur[i] * s.kr[k];
            }
    }
};

// The fade positions the two crossfading steps read, backwards from the
// shared position; `fade` moves on as the adding step consumes it. The
// one-block step (perCall) starts each call at B - 1 at least; the run of
// frames restarts at B - 1 only when the position runs out.
void fadePositions(bool perCall, int eb, int frames, long& fade, std::vector<long>& at) {
    long idx = std::max(fade, static_cast<long>(eb) - 1);
    for (int f = 0; f < frames; ++f) {
        if (perCall && f % eb == 0) idx = std::max(idx, static_cast<long>(eb) - 1);
        if (idx < 0) idx = eb - 1;
        at[f] = idx--;
    }
    fade = idx;
}

void playSeed(unsigned seed) {
    Run r(seed);
    std::vector<short> engines = {0, 1, 3, 4, 9, 10, 11, 17};
    if (issm2()) engines.insert(engines.end(), {2, 5});
    r.engine = engines[seed % engines.size()]; // every engine a few times
    const bool fft = r.engine >= 9 && r.engine <= 11;
    r.exact = r.engine == 0 || r.engine == 1 || r.engine == 3 || r.engine == 4 || r.engine == 17;
    r.eb = fft ? 1 << r.pick(0, 7) : (r.engine == 2 || r.engine == 5 ? 2 : 1);
    r.frames = r.eb * (fft ? 1 << r.pick(0, 2) : r.pick(1, 24));
    r.block = fft ? r.eb : r.frames;
    r.H = r.pick(1, 4);
    r.path = static_cast<Path>(seed / engines.size() % 3); // and every path
    const int ref = fft ? r.eb : r.frames; // lengths shorter, equal, longer, off the multiple
    SCOPED_TRACE(testing::Message()
                 << "seed " << seed << " engine " << r.engine << " B " << r.eb << " frames "
                 << r.frames << " H " << r.H << " path " << r.path);
    const int blocks = std::clamp(2048 / r.frames, 24, 160);
    const size_t S = static_cast<size_t>(blocks) * r.frames;
    const long before = r.pool.getma();
    r.slots.resize(static_cast<size_t>(r.H + (r.path == kPlain ? 0 : 1)));
    for (size_t i = 0; i < r.slots.size(); ++i) {
        Slot& s = r.slots[i];
        const bool work = static_cast<int>(i) == r.H;
        s.order = work ? 1 : static_cast<int>(i) + 1;
        const int lengths[5] = {std::max(1, ref / 2), ref, 3 * ref, 3 * ref + 1,
                                r.pick(1, 4 * ref + 3)};
        s.T = work && r.path == kSmooth ? r.slots[0].T : lengths[r.pick(0, 4)];
        if (r.eb == 2 && s.T % 2 != 0) ++s.T; // the pair engines need an even ring
        s.tap = r.engine == 17 ? r.pick(0, s.T - 1) : 0;
        s.kl = r.kernel(s.T);
        s.kr = r.kernel(s.T);
        s.accL.assign(S + static_cast<size_t>(s.T), 0.0);
        s.accR = s.accL;
        s.ul.resize(static_cast<size_t>(r.frames));
        s.ur = s.ul;
        s.player = std::make_unique<CoreCnvl>(
            &r.pool, CoreAnsx("H") + CoreAnsx(static_cast<int>(i) + 1), 0, nullptr);
    }
    const int T0 = r.slots[0].T; // engine 9: F none, short, or beyond B + T - 1
    if (r.engine == 9)
        r.F = std::array<int, 3>{0, T0, 4 * CoreButl::getp2(r.eb + T0)}[r.pick(0, 2)];
    for (Slot& s : r.slots) ASSERT_TRUE(r.plan(s, true));
    ASSERT_TRUE(r.chain());

    // Crossfade tables (the slot-0 one and the work one) and the shared position.
    const int period = r.pick(r.eb, 3 * r.frames);
    Signal up(static_cast<size_t>(period) + 1), down(up.size());
    for (size_t i = 0; i < up.size(); ++i) {
        up[i] = std::uniform_real_distribution<double>(0.0, 1.0)(r.gen);
        down[i] = 1.0 - up[i];
    }
    long fade = period, modelFade = period;
    std::vector<long> at(static_cast<size_t>(r.frames));

    const Signal xl = randomSignal(static_cast<int>(S), seed * 7 + 1);
    const Signal xr = randomSignal(static_cast<int>(S), seed * 7 + 2);
    const size_t n = static_cast<size_t>(r.frames);
    Signal outL(n), outR(n), powL(n), powR(n), workL(n), workR(n), wantL(n), wantR(n);
    Signal gotAll, wantAll;
    for (int b = 0; b < blocks; ++b) {
        const size_t start = static_cast<size_t>(b) * n;
        for (int e = 0; e < 3 && b > 0 && r.pick(0, 2) == 0; ++e) { // up to three events
            const int what = r.pick(0, r.path == kSmooth ? 3 : 2);
            Slot& s = r.slots[static_cast<size_t>(r.pick(0, static_cast<int>(r.slots.size()) - 1))];
            if (what == 0) { // a new kernel from this block on; the old tail plays out
                s.kl = r.kernel(s.T);
                s.kr = r.kernel(s.T);
                s.changed = true;
            } else if (what == 3) { // a modulation update restarts the crossfade
                fade = modelFade = r.pick(0, period);
            } else { // clear, or a re-plan as the engine does it: the history goes
                if (what == 1) {
                    s.player->clear();
                } else {
                    s.player->delpc();
                    s.player->delpl();
                    ASSERT_TRUE(r.plan(s, r.pick(0, 1) == 0));
                    ASSERT_TRUE(r.chain());
                }
                // A sharing group keeps one time-domain tail, in its last slot's
                // rings, so its history goes as a whole (the engine clears all).
                std::vector<Slot*> gone = r.group();
                if (std::find(gone.begin(), gone.end(), &s) == gone.end()) gone = {&s};
                for (Slot* g : gone) {
                    if (g != &s) g->player->clear();
                    std::fill(g->accL.begin() + static_cast<long>(start), g->accL.end(), 0.0);
                    std::fill(g->accR.begin() + static_cast<long>(start), g->accR.end(), 0.0);
                }
            }
        }
        // The model: each slot's input power, its products, then the output sum
        // in the order the steps set and add.
        for (size_t j = 0; j < r.slots.size(); ++j)
            for (size_t i = 0; i < n; ++i) {
                Slot& s = r.slots[j];
                s.ul[i] = s.order == 1 ? xl[start + i] : r.slots[j - 1].ul[i] * xl[start + i];
                s.ur[i] = s.order == 1 ? xr[start + i] : r.slots[j - 1].ur[i] * xr[start + i];
            }
        for (Slot& s : r.slots) r.model(s, start);
        if (r.path == kSmooth) fadePositions(r.H == 1, r.eb, r.frames, modelFade, at);
        for (size_t i = 0; i < n; ++i) {
            const size_t m = start + i;
            auto term = [&](size_t j, bool right) {
                const Slot& s = r.slots[j];
                const double y = right ? s.accR[m] : s.accL[m];
                if (r.path != kSmooth || (j != 0 && static_cast<int>(j) != r.H)) return y;
                return y * (j == 0 ? up : down)[static_cast<size_t>(at[i])];
            };
            wantL[i] = term(0, false);
            wantR[i] = term(0, true);
            for (size_t j = 1; j < r.slots.size(); ++j) { // crossfading: the work slot second
                const size_t k =
                    r.path == kSmooth ? (j == 1 ? static_cast<size_t>(r.H) : j - 1) : j;
                wantL[i] += term(k, false);
                wantR[i] += term(k, true);
            }
        }
        // The player, as the block worker drives it.
        const double* inL = xl.data() + start;
        const double* inR = xr.data() + start;
        const long allocations = allocationCount();
        auto& sl = r.slots;
        if (r.path == kPlain && r.H == 1) {
            for (int k = 0; k < r.frames; k += r.eb)
                sl[0].player->cnvlc(inL + k, inR + k, &outL[k], &outR[k], sl[0].kl.data(),
                                    sl[0].kr.data(), nullptr, nullptr);
        } else if (r.path == kPlain) {
            for (int h = 0; h < r.H; ++h)
                sl[h].player->vltrr(h == 0, inL, inR, outL.data(), outR.data(), sl[h].kl.data(),
                                    sl[h].kr.data(), powL.data(), powR.data(), workL.data(),
                                    workR.data(), r.frames, nullptr, nullptr);
        } else if (r.path == kHybrid) {
            for (size_t h = 0; h < sl.size(); ++h)
                sl[h].player->vltry(static_cast<int>(h) == r.H, h == 0, inL, inR, outL.data(),
                                    outR.data(), sl[h].kl.data(), sl[h].kr.data(), powL.data(),
                                    powR.data(), workL.data(), workR.data(), r.frames, nullptr,
                                    nullptr);
        } else if (r.H == 1) {
            for (int k = 0; k < r.frames; k += r.eb)
                for (bool set : {true, false}) {
                    Slot& s = sl[set ? 0 : 1];
                    s.player->cnvsc(set, inL + k, inR + k, &outL[k], &outR[k], s.kl.data(),
                                    s.kr.data(), &workL[k], &workR[k], (set ? up : down).data(),
                                    fade, nullptr, nullptr);
                }
        } else {
            for (bool set : {true, false}) {
                Slot& s = sl[set ? 0 : static_cast<size_t>(r.H)];
                s.player->cnvsy(set, inL, inR, outL.data(), outR.data(), s.kl.data(), s.kr.data(),
                                powL.data(), powR.data(), workL.data(), workR.data(),
                                (set ? up : down).data(), fade, r.frames, nullptr, nullptr);
            }
            for (int h = 1; h < r.H; ++h)
                sl[h].player->vltry(false, false, inL, inR, outL.data(), outR.data(),
                                    sl[h].kl.data(), sl[h].kr.data(), powL.data(), powR.data(),
                                    workL.data(), workR.data(), r.frames, nullptr, nullptr);
        }
        ASSERT_EQ(allocationCount(), allocations) << "block " << b;
        ASSERT_EQ(fade, modelFade) << "block " << b;
        for (const Slot& s : r.slots) ASSERT_TRUE(!fft || !s.changed) << "block " << b;
        for (size_t i = 0; i < n && r.exact; ++i) {
            ASSERT_EQ(outL[i], wantL[i]) << "block " << b << " sample " << i;
            ASSERT_EQ(outR[i], wantR[i]) << "block " << b << " sample " << i;
        }
        for (size_t i = 0; i < n; ++i) {
            gotAll.insert(gotAll.end(), {outL[i], outR[i]});
            wantAll.insert(wantAll.end(), {wantL[i], wantR[i]});
        }
    }
    // Each block's rms error against the rms of the whole wanted signal.
    double energy = 0.0;
    for (double v : wantAll) energy += v * v;
    ASSERT_GT(energy, 0.0);
    const double rms = std::sqrt(energy / static_cast<double>(wantAll.size()));
    for (int b = 0; b < blocks; ++b) {
        double err = 0.0;
        for (size_t i = 2 * b * n; i < 2 * (b + 1) * n; ++i)
            err += (gotAll[i] - wantAll[i]) * (gotAll[i] - wantAll[i]);
        ASSERT_LE(std::sqrt(err / (2.0 * static_cast<double>(n))), 1e-10 * rms) << "block " << b;
    }
    r.slots.clear();
    EXPECT_EQ(r.pool.getma(), before); // re-plans left nothing behind
}

TEST(PlayerDifferential, RandomConfigurationsAndEventsMatchTheNaiveModel) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        playSeed(seed);
        if (HasFatalFailure()) return;
    }
}

} // namespace
