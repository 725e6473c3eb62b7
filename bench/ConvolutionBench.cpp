// Cost of the convolution players in steady state, in nanoseconds per output
// sample per harmonic (stereo), as the block worker drives them: H players
// chained through vltrr over one processing block. Engines: 3 (direct, short
// kernels only), 9 (one FFT per block), 10 (uniformly partitioned), 11 (as
// 10, the group sharing one inverse transform). Beside them, in the same run,
// the roofline of the partitioned engines: the signal-layer work a block
// cannot avoid (per channel and harmonic one forward transform and P packed
// multiply-adds; per channel one inverse per harmonic, or per group when
// shared), timed with the layer's own transforms and products.
// Counters: "ns/smp/h" (seconds per sample and harmonic, shown scaled) and
// "bytes/player" (pool bytes one planned player holds, rings included).
#include <benchmark/benchmark.h>

#include "engine/CoreCnvl.h"
#include "platform/PlatSignalFft.h"
#include "platform/PlatSignalType.h"
#include "platform/PlatSignalVect.h"
#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"

#include <memory>
#include <random>
#include <vector>

namespace {

using Signal = std::vector<double>;

Signal randomSignal(size_t n, unsigned seed, double scale) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-scale, scale);
    Signal s(n);
    for (double& v : s) v = u(gen);
    return s;
}

void perSampleAndHarmonic(benchmark::State& state, int B, int H) {
    state.counters["ns/smp/h"] = benchmark::Counter(static_cast<double>(B) * H,
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

// Arguments: engine, block B, kernel length T, harmonics H.
void BM_Player(benchmark::State& state) {
    const short engine = static_cast<short>(state.range(0));
    const int B = static_cast<int>(state.range(1));
    const int T = static_cast<int>(state.range(2));
    const int H = static_cast<int>(state.range(3));
    CorePool pool;
    std::vector<std::unique_ptr<CoreCnvl>> players;
    std::vector<Signal> kl, kr;
    long bytes = 0;
    void* buffer = nullptr;
    for (int h = 0; h < H; ++h) {
        kl.push_back(randomSignal(static_cast<size_t>(T), 10 + h, 1.0 / T));
        kr.push_back(randomSignal(static_cast<size_t>(T), 50 + h, 1.0 / T));
        players.push_back(
            std::make_unique<CoreCnvl>(&pool, CoreAnsx("H") + CoreAnsx(h + 1), 0, nullptr));
        CoreCnvl& p = *players.back();
        const long before = pool.getma();
        p.set__(engine, B, T, 0, B, T);
        if (!p.plan_()) {
            state.SkipWithError("plan failed");
            return;
        }
        if (h == 0) bytes = pool.getma() - before;
        if (engine == 11 && H > 1) {
            const short mode = h == 0 ? 0 : h == H - 1 ? 2 : 1;
            p.set_c(buffer, mode, p.getwl());
            if (!p.planc()) {
                state.SkipWithError("computation plan failed");
                return;
            }
            buffer = p.grplc();
        }
    }
    const Signal xl = randomSignal(static_cast<size_t>(B), 1, 0.9);
    const Signal xr = randomSignal(static_cast<size_t>(B), 2, 0.9);
    Signal outL(B), outR(B), powL(B), powR(B), workL(B), workR(B);
    bool changed = true;
    for (auto& p : players) p->setup(&changed);
    auto block = [&] {
        for (int h = 0; h < H; ++h)
            players[h]->vltrr(h == 0, xl.data(), xr.data(), outL.data(), outR.data(), kl[h].data(),
                              kr[h].data(), powL.data(), powR.data(), workL.data(), workR.data(), B,
                              nullptr, nullptr);
    };
    block(); // kernel spectra; the loop below is steady state
    for (auto _ : state) {
        block();
        benchmark::DoNotOptimize(outL.data());
        benchmark::ClobberMemory();
    }
    perSampleAndHarmonic(state, B, H);
    state.counters["bytes/player"] = static_cast<double>(bytes);
}

// Arguments: block B, kernel length T, harmonics H, inverse shared (0/1).
void BM_Roofline(benchmark::State& state) {
    const int B = static_cast<int>(state.range(0));
    const int T = static_cast<int>(state.range(1));
    const int H = static_cast<int>(state.range(2));
    const bool shared = state.range(3) != 0;
    const int N = 2 * B;
    const int P = (T + B - 1) / B;
    std::unique_ptr<PlatSignalFft<double>> fft(
        PlatSignalFft<double>::create(CoreButl::geto2(N), IPP_FFT_DIV_INV_BY_N));
    std::vector<unsigned char> scratch(static_cast<size_t>(fft->bufferBytes()));
    // Per channel: the harmonics' spectra and accumulators, a product buffer.
    const size_t PN = static_cast<size_t>(P) * N;
    std::vector<Signal> spectra, accum;
    for (int i = 0; i < 2 * H; ++i) {
        spectra.push_back(randomSignal(PN, 100 + i, 1.0));
        accum.push_back(Signal(PN, 0.0));
    }
    Signal x = randomSignal(static_cast<size_t>(N), 3, 1.0), product(N), y(N);
    int c = 0;
    for (auto _ : state) {
        for (int h = 0; h < H; ++h) {
            for (int ch = 0; ch < 2; ++ch) {
                fft->forwardToPack(x.data(), y.data(), scratch.data());
                double* acc = accum[2 * h + ch].data();
                const double* s = spectra[2 * h + ch].data();
                for (int i = 0; i < P; ++i) {
                    PlatSignalVect::mulPack(y.data(), s + static_cast<size_t>(i) * N,
                                            product.data(), N);
                    PlatSignalVect::addInPlace(product.data(),
                                               acc + static_cast<size_t>((c + i) % P) * N, N);
                }
                if (!shared || h == H - 1)
                    fft->inverseFromPack(acc + static_cast<size_t>(c) * N, y.data(),
                                         scratch.data());
            }
        }
        c = (c + 1) % P;
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    perSampleAndHarmonic(state, B, H);
}

void rooflineArgs(benchmark::internal::Benchmark* b) {
    for (int B : {256, 1024})
        for (int T : {4 * B, 96000})
            for (int H : {1, 10})
                for (int shared : {0, 1})
                    if (H > 1 || shared == 0) b->Args({B, T, H, shared});
}

// Engine 3 runs T multiply-adds per sample: only the short kernels.
void playerArgsFiltered(benchmark::internal::Benchmark* b) {
    for (int B : {256, 1024})
        for (int T : {4 * B, 96000})
            for (int H : {1, 10}) {
                if (T == 4 * B) b->Args({3, B, T, H});
                for (int engine : {9, 10, 11}) b->Args({engine, B, T, H});
            }
}

} // namespace

BENCHMARK(BM_Player)
    ->Apply(playerArgsFiltered)
    ->ArgNames({"engine", "B", "T", "H"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Roofline)
    ->Apply(rooflineArgs)
    ->ArgNames({"B", "T", "H", "shared"})
    ->Unit(benchmark::kMicrosecond);
