// Cost of the per-block vector update at 96,000-sample kernels: an 8-element
// vector settled and moving (with and without an output fade), and one
// settled slot played through the partitioned FFT engine with and without
// the updated-flag gate.
#include "engine/CoreCnvl.h"
#include "engine/CoreVctr.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CorePool.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int kLength = 96000; // kernel samples
constexpr int kElements = 8;

struct Slot {
    explicit Slot(CoreCnvl* engine, bool fade) {
        sources.getsc("MIX2")->setvl(1.0); // Liquid full: retention 0.5
        sources.getsc("MIX1")->setvl(-1.0);
        std::vector<double> pos(kElements);
        for (int i = 0; i < kElements; ++i) pos[i] = i;
        v = std::make_unique<CoreVctr>(&pool, nullptr, 0, engine, true, kElements, nullptr,
                                       pos.data(), nullptr, 0.0, kElements - 1.0, pos.data(), 0.0,
                                       1.0, "MIX1", &sources, 0.5, "MIX2", 0, 0, nullptr, nullptr,
                                       false, 0, 0, false);
        v->setvl(true, 0.0, kElements - 1.0, "MIX1", false, "", 0.0, "", 1.0, "", false, "", false,
                 0.0, 1.0);
        v->chncp(kLength, -1, -1);
        data.assign(kElements, std::vector<double>(kLength));
        for (int i = 0; i < kElements; ++i) {
            for (int s = 0; s < kLength; ++s)
                data[i][s] = std::sin(0.001 * s * (i + 1)) * std::exp(-s / 20000.0);
            v->setip(i, data[i].data(), data[i].data(), "", kLength, 0, 0, 0, nullptr, 0);
        }
        if (fade) {
            window.assign(4800, 0.0);
            for (int s = 0; s < 4800; ++s) window[s] = 1.0 - s / 4799.0;
            v->newfi(480);
            v->setcr(window.data(), 4800, kLength, 480);
        }
    }
    void block(double bus) {
        position->setvl(bus);
        v->chnru(true);
        v->setfd(false, 0, 0);
    }
    void settle() {
        for (int k = 0; k < 200; ++k) block(0.1);
    }
    CorePool pool;
    DataSrce sources;
    CoreSrce* position = sources.getsc("MIX1"); // the Vector control's source
    std::vector<std::vector<double>> data;
    std::vector<double> window;
    std::unique_ptr<CoreVctr> v;
};

void BM_ChnruSettled(benchmark::State& state) {
    Slot slot(nullptr, state.range(0) != 0);
    slot.settle();
    for (auto _ : state) slot.block(0.1);
}
BENCHMARK(BM_ChnruSettled)->Arg(0)->Arg(1)->ArgName("fade");

void BM_ChnruMoving(benchmark::State& state) {
    Slot slot(nullptr, state.range(0) != 0);
    double bus = -1.0;
    for (auto _ : state) {
        bus = bus > 0.99 ? -1.0 : bus + 0.013; // a new pair of weights every block
        slot.block(bus);
    }
}
BENCHMARK(BM_ChnruMoving)->Arg(0)->Arg(1)->ArgName("fade");

// One block of a settled slot: update, fade, and one convolution block of
// 512 samples through engine 10 (falls back to engine 3 when 10 is not
// loadable here; the label says which ran).
void BM_SettledSlotThroughPlayer(benchmark::State& state) {
    const int B = 512, L = 512;
    CorePool pool;
    CoreCnvl player(&pool, "H1", 0, nullptr);
    bool fft =
        player.set__(10, B, kLength, 0, L, kLength) >= 1 && player.getsl() == 10 && player.plan_();
    if (!fft) {
        player.set__(3, B, kLength, 0, 0, 0);
        player.plan_();
    }
    Slot slot(&player, true);
    player.setup(slot.v->getuc());
    CoreVctr::bVupdategate = state.range(0) != 0;
    std::vector<double> in(B), outL(B), outR(B), pw(B), pw2(B), wk(B), wk2(B);
    for (int s = 0; s < B; ++s) in[s] = std::sin(0.01 * s);
    auto run = [&] {
        slot.block(0.1);
        player.vltrr(true, in.data(), in.data(), outL.data(), outR.data(),
                     static_cast<double*>(slot.v->getlc()), static_cast<double*>(slot.v->getrc()),
                     pw.data(), pw2.data(), wk.data(), wk2.data(), B, nullptr, nullptr);
        *slot.v->getuc() = false;
    };
    for (int k = 0; k < 200; ++k) run();
    for (auto _ : state) run();
    CoreVctr::bVupdategate = true;
    state.SetLabel(fft ? "engine 10" : "engine 3 (10 not loadable)");
}
BENCHMARK(BM_SettledSlotThroughPlayer)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("gate")
    ->Unit(benchmark::kMicrosecond);

} // namespace
