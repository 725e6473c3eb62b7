// Cost of decoding a WAV file's samples, per sample delivered: a stereo file
// of every encoding the reader takes, held in memory by the item store, so
// the figure is the decode (peak included) and not the disk.
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreWvfr.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr long kFrames = 1L << 18; // frames of the file
constexpr int kChannels = 2;

void putLe(std::string& to, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) to += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A plain 44-byte header and kFrames frames of noise at nearly full scale.
std::string wavBytes(int tag, int bits) {
    int const width = bits / 8;
    std::string data;
    data.reserve(std::size_t(kFrames) * kChannels * width);
    std::uint32_t seed = 12345;
    for (long k = 0; k < kFrames * kChannels; ++k) {
        seed = seed * 1664525u + 1013904223u;
        double const v = (static_cast<double>(seed >> 8) / 8388608.0 - 1.0) * 0.9;
        if (tag == 3 && bits == 32) {
            float const f = static_cast<float>(v);
            std::uint32_t b;
            std::memcpy(&b, &f, sizeof b);
            putLe(data, b, 4);
        } else if (tag == 3) {
            std::uint64_t b;
            std::memcpy(&b, &v, sizeof b);
            putLe(data, b, 8);
        } else if (bits == 8) {
            putLe(data, static_cast<std::uint64_t>(128 + static_cast<int>(v * 127)), 1);
        } else {
            double const scale = static_cast<double>((1LL << (bits - 1)) - 1);
            putLe(data, static_cast<std::uint64_t>(static_cast<std::int64_t>(v * scale)), width);
        }
    }
    std::string wav = "RIFF";
    putLe(wav, 36 + data.size(), 4);
    wav += "WAVEfmt ";
    putLe(wav, 16, 4);
    putLe(wav, static_cast<std::uint64_t>(tag), 2);
    putLe(wav, kChannels, 2);
    putLe(wav, 44100, 4);
    putLe(wav, 44100u * kChannels * static_cast<unsigned>(width), 4);
    putLe(wav, static_cast<std::uint64_t>(kChannels * width), 2);
    putLe(wav, static_cast<std::uint64_t>(bits), 2);
    wav += "data";
    putLe(wav, data.size(), 4);
    return wav + data;
}

void BM_WavDecode(benchmark::State& state) {
    int const tag = static_cast<int>(state.range(0)), bits = static_cast<int>(state.range(1));
    std::string const wav = wavBytes(tag, bits);
    CorePool pool;
    CoreFsys store(&pool);
    int const item = store.crtit("B.WAV", false);
    store.setit(item, wav.data(), static_cast<long>(wav.size()), "", true, false);
    std::vector<double> left(kFrames), right(kFrames);
    CoreWvfr reader(&pool, &store, false);
    for (auto _ : state) {
        reader.open_("B.WAV");
        benchmark::DoNotOptimize(reader.getdt(kFrames, left.data(), right.data()));
        benchmark::ClobberMemory();
    }
    // Seconds per delivered sample, shown in ns.
    state.counters["per_sample"] = benchmark::Counter(
        double(kFrames * kChannels),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_WavDecode)
    ->ArgNames({"tag", "bits"})
    ->Args({1, 8})
    ->Args({1, 16})
    ->Args({1, 24})
    ->Args({1, 32})
    ->Args({3, 32})
    ->Args({3, 64})
    ->Unit(benchmark::kMicrosecond);
