// Cost of the engine's whole audio path: ten seconds of stereo audio at
// 44.1 kHz through the host entry in host blocks of 512, the block worker
// running 10 (or 1) harmonic slots with 2-second kernels on the partitioned
// FFT engine that shares one inverse transform per group (11), unthreaded,
// at processing blocks 256, 512 and 1,024. Counter "core%": the process CPU
// time as a share of one core over the audio's duration (the host side does
// not pace here, so wall time would say the same).
#include <benchmark/benchmark.h>

#include "engine/CoreCnvl.h"
#include "processing/CorePrcs.h"
#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"

#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

using Signal = std::vector<double>;

// This program's access to the engine's fields (the engine names the struct
// a friend for its tests): slots configured as a loaded program would be.
struct CorePrcsPeek {
    static void configure(CorePrcs& e, std::vector<Signal> const& kernels, bool* changed) {
        e.lockp();
        int const length = static_cast<int>(kernels[0].size());
        int const block = CoreButl::min__(CoreButl::getp2(length / 4), e.processingblock);
        int const padded = CoreButl::getp2(length + block - 1);
        int const harmonics = static_cast<int>(kernels.size());
        for (short h = 0; h < harmonics; ++h) {
            e.cnvls[h].kernels[0] = const_cast<double*>(kernels[h].data());
            e.cnvls[h].kernels[1] = const_cast<double*>(kernels[h].data());
            e.cnvls[h].cnvl->setup(&changed[h]);
            e.cnvls[h].engine = 11;
            e.setcf(h, 11, block, length, padded, block, length);
        }
        e.harmonicsinuse = static_cast<short>(harmonics);
        e.step = block;
        e.hostblock = 512;
        e.decideHandoff();
        e.setpp();
        e.adjrt(3000);
        e.setck();
        e.rlsep();
        e.bootpending.setvl(false);
        e.smpby(false, 0, true, false);
    }
};

namespace {

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Arguments: processing block, harmonics.
void BM_Engine(benchmark::State& state) {
    int const dsp = static_cast<int>(state.range(0));
    int const harmonics = static_cast<int>(state.range(1));
    int const rate = 44100;
    CorePool pool;
    std::string const master = "<MASTER><THREADS>0</THREADS><HDIM>10</HDIM><LFREQD>2000000</"
                               "LFREQD><DSPBUFFER>" +
                               std::to_string(dsp) + "</DSPBUFFER></MASTER>";
    auto engine =
        std::make_unique<CorePrcs>(&pool, CoreAnsx("/tmp/"), rate, nullptr, CoreAnsx("0"), true,
                                   true, nullptr, CoreAnsx(master.c_str()), false, nullptr);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<Signal> kernels(static_cast<std::size_t>(harmonics), Signal(2 * rate));
    for (Signal& k : kernels)
        for (std::size_t i = 0; i < k.size(); ++i) k[i] = u(rng) * 0.01 / (1.0 + i * 1e-3);
    bool changed[16] = {};
    CorePrcsPeek::configure(*engine, kernels, changed);

    std::vector<float> in[2], out[2];
    for (int c = 0; c < 2; ++c) {
        in[c].resize(512);
        out[c].resize(512);
        for (float& v : in[c]) v = static_cast<float>(u(rng) * 0.3);
    }
    void* ins[2] = {in[0].data(), in[1].data()};
    void* outs[2] = {out[0].data(), out[1].data()};
    long const total = 10L * rate;
    double share = 0.0;
    for (auto _ : state) {
        double const start = cpuSeconds();
        for (long done = 0; done < total; done += 512)
            engine->prcss(ins, outs, 512, true, 0, 0.0, false, 2);
        share = (cpuSeconds() - start) / 10.0;
        benchmark::DoNotOptimize(out[0].data());
    }
    state.counters["core%"] = share * 100.0;
}

BENCHMARK(BM_Engine)
    ->ArgsProduct({{256, 512, 1024}, {10, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
