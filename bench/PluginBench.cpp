// Cost of the whole plug-in, loaded through the tools' host from a temporary
// installation: the static program (ten harmonics of one stereo 2 s kernel
// each) and the dynamic one (the same harmonics, each a pair of 2 s kernels
// crossfaded by an LFO), at host blocks 64, 512 and 1,024, single and double
// precision, with the engine's processing block (DSPBUFFER) at 2,048 or equal
// to the host block. PROGRAMRATE is 3 ms and LFREQD 2.1 s throughout.
// Counters: "core%", the process CPU time (every thread) as a share of one
// core over the audio rendered; "dyn/static", on a dynamic case, its core%
// over the static case's of the same row (run before it in this program).
// VORLAN_BENCH_PLUGIN names another build's vorlan.so; VORLAN_BENCH_SECONDS
// the audio rendered per case (default 5, after one second of warm-up).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>

#include "tools/CoreWkld.h"

namespace {

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

std::string plugin() {
    char const* other = std::getenv("VORLAN_BENCH_PLUGIN");
    return other != nullptr && *other != '\0' ? other : VORLAN_PLUGIN_SO;
}

double seconds() {
    char const* text = std::getenv("VORLAN_BENCH_SECONDS");
    double const s = text != nullptr ? std::atof(text) : 0.0;
    return s > 0.0 ? s : 5.0;
}

// A temporary folder for one case's installation, removed with everything in
// it when the case ends, however it ends.
struct Installation {
    char path[32] = "/tmp/vorlanbenchXXXXXX";
    bool const made = mkdtemp(path) != nullptr;
    ~Installation() {
        std::error_code error;
        if (made) std::filesystem::remove_all(path, error);
    }
};

// core% of the static cases by (block, double, DSPBUFFER).
std::map<std::tuple<long, bool, int>, double>& staticShare() {
    static std::map<std::tuple<long, bool, int>, double> shares;
    return shares;
}

void run(benchmark::State& state, CoreWkld::PROGRAM program) {
    int const block = static_cast<int>(state.range(0));
    bool const dbl = state.range(1) != 0;
    int const dspbuffer = state.range(2) != 0 ? static_cast<int>(state.range(2)) : block;
    Installation const folder;
    if (!folder.made) return state.SkipWithError("no temporary folder");
    std::string const base = std::string(folder.path) + "/";
    if (!CoreWkld::wrins(base, plugin(), program, dspbuffer))
        return state.SkipWithError("installation not written");
    double share = 0.0;
    {
        CoreHost host(base + "vorlan.so", CoreWkld::iCrate, block);
        if (!CoreWkld::start(host)) return state.SkipWithError("the plug-in did not load");
        CoreWkld::rendr(host, CoreWkld::noise(1.0), dbl);
        CoreHost::CHANNELS const in = CoreWkld::noise(seconds());
        for (auto _ : state) {
            double const t0 = cpuSeconds();
            CoreHost::CHANNELS out;
            host.rendr(in, out, dbl);
            share = (cpuSeconds() - t0) / seconds();
            benchmark::DoNotOptimize(out);
        }
    }
    state.counters["core%"] = 100.0 * share;
    auto const key = std::make_tuple(long(block), dbl, state.range(2) != 0 ? dspbuffer : 0);
    if (program == CoreWkld::iCstatic) staticShare()[key] = share;
    auto const found = staticShare().find(key);
    if (program == CoreWkld::iCdynamic && found != staticShare().end() && found->second > 0.0)
        state.counters["dyn/static"] = share / found->second;
}

void Static(benchmark::State& state) { run(state, CoreWkld::iCstatic); }
void Dynamic(benchmark::State& state) { run(state, CoreWkld::iCdynamic); }

// Host block, double precision, DSPBUFFER (0: the host block).
void rows(benchmark::internal::Benchmark* b) {
    b->ArgNames({"block", "double", "dspbuffer"});
    b->ArgsProduct({{64, 512, 1024}, {0, 1}, {2048, 0}});
    b->Iterations(1)->Unit(benchmark::kSecond);
}

} // namespace

BENCHMARK(Static)->Apply(rows);
BENCHMARK(Dynamic)->Apply(rows);
