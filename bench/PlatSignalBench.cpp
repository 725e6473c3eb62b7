// Throughput of the signal layer: its forward-to-Pack plus inverse-from-Pack
// pair beside plain FFTW r2c plus c2r of the same length (the layer's cost
// over FFTW is the O(n) Pack permutation and scaling), the packed product,
// and sample-rate conversion of a 10-second buffer.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include <fftw3.h>

#include "platform/PlatSignalFft.h"
#include "platform/PlatSignalType.h"
#include "platform/PlatSignalVect.h"
#include "runtime/CorePool.h"
#include "storage/CoreRtcv.h"
#include "storage/DataRtcv.h"

namespace {

void fillSignal(double* x, int n) {
    for (int i = 0; i < n; ++i) x[i] = std::sin(0.001 * i * i) * 0.5;
}

void BM_LayerPackPair(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::unique_ptr<PlatSignalFft<double>> fft(
        PlatSignalFft<double>::create(int(std::log2(n)), IPP_FFT_DIV_INV_BY_N));
    double* x = static_cast<double*>(fftw_malloc(sizeof(double) * n));
    fillSignal(x, n);
    for (auto _ : state) {
        fft->forwardToPack(x, x, nullptr);
        fft->inverseFromPack(x, x, nullptr);
        benchmark::DoNotOptimize(x);
    }
    state.SetItemsProcessed(state.iterations() * n);
    fftw_free(x);
}

void BM_PlainFftwPair(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    double* x = static_cast<double*>(fftw_malloc(sizeof(double) * n));
    fftw_complex* c = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (n / 2 + 1)));
    fftw_plan fwd = fftw_plan_dft_r2c_1d(n, x, c, FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
    fftw_plan inv = fftw_plan_dft_c2r_1d(n, c, x, FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
    fillSignal(x, n);
    for (auto _ : state) {
        fftw_execute(fwd);
        fftw_execute(inv);
        benchmark::DoNotOptimize(x);
    }
    state.SetItemsProcessed(state.iterations() * n);
    fftw_destroy_plan(fwd);
    fftw_destroy_plan(inv);
    fftw_free(c);
    fftw_free(x);
}

void BM_MulPackInPlace(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    // a is the packed spectrum of a unit impulse (every bin 1 + 0i), so b keeps
    // its values: repeated products of values below 1 would sink into
    // subnormals and time the FPU's slow path instead.
    std::vector<double> a(n, 0.0), b(n);
    for (int i = 0; i < n; ++i) a[i] = (i == 0 || i % 2 == 1) ? 1.0 : 0.0;
    fillSignal(b.data(), n);
    for (auto _ : state) {
        PlatSignalVect::mulPackInPlace(a.data(), b.data(), n);
        benchmark::DoNotOptimize(b.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_MulPackThenAdd(benchmark::State& state) {
    // The partitioned engine's step: product into work, then accumulate.
    const int n = static_cast<int>(state.range(0));
    std::vector<double> x(n), h(n), work(n), acc(n, 0.0);
    fillSignal(x.data(), n);
    fillSignal(h.data(), n);
    for (auto _ : state) {
        PlatSignalVect::mulPack(x.data(), h.data(), work.data(), n);
        PlatSignalVect::addInPlace(work.data(), acc.data(), n);
        benchmark::DoNotOptimize(acc.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void rateConversion(benchmark::State& state, double from, double to) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    const long n = static_cast<long>(from * 10); // ten seconds
    std::vector<double> x(n);
    for (long i = 0; i < n; ++i) x[i] = std::sin(6.283185307179586 * 1000.0 * i / from);
    long outLength = 0;
    double outRate = to;
    conv.cnvrt(x.data(), n, outLength, from, outRate, -1); // designs built once, outside the timing
    for (auto _ : state) {
        outRate = to;
        benchmark::DoNotOptimize(conv.cnvrt(x.data(), n, outLength, from, outRate, -1));
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_Convert44100To48000(benchmark::State& state) { rateConversion(state, 44100, 48000); }
void BM_Convert96000To44100(benchmark::State& state) { rateConversion(state, 96000, 44100); }

} // namespace

BENCHMARK(BM_LayerPackPair)->RangeMultiplier(2)->Range(256, 65536);
BENCHMARK(BM_PlainFftwPair)->RangeMultiplier(2)->Range(256, 65536);
BENCHMARK(BM_MulPackInPlace)->RangeMultiplier(4)->Range(256, 65536);
BENCHMARK(BM_MulPackThenAdd)->RangeMultiplier(4)->Range(256, 65536);
BENCHMARK(BM_Convert44100To48000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert96000To44100)->Unit(benchmark::kMillisecond);
