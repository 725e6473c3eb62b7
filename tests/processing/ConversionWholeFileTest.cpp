// Every conversion recipe keeps the whole file: read through the WAV reader
// as the program reader reads kernels (plain gain), files whose content starts
// at their first sample come out with their whole in-band response, their
// first sample on the reported lead, and their last sample kept.
// The truth is the source itself: its spectrum, delayed by the lead and scaled
// by the rate ratio, must be the converted file's. A resampler that aligns its
// output on the input's first sample drops the very part this checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "storage/CoreWvfr.h"
#include "storage/DataRtcv.h"
#include "tests/support/RtcvRates.h"
#include "tests/support/StoreFolder.h"
#include "tests/support/WavBytes.h"
#include "tools/CoreDemo.h"

namespace {

using Signal = std::vector<double>;

// Spectrum of x at f (Hz) for a signal at rate whose time zero is sample zero.
std::complex<double> at(Signal const& x, double f, double rate, long zero) {
    std::complex<double> sum = 0.0;
    for (std::size_t t = 0; t < x.size(); ++t)
        sum += x[t] * std::polar(1.0, -2 * M_PI * f * (double(t) - double(zero)) / rate);
    return sum;
}

double peak(Signal const& x) {
    double p = 0.0;
    for (double v : x) p = std::max(p, std::fabs(v));
    return p;
}
double dB(double gain) { return std::fabs(20 * std::log10(std::fabs(gain))); }

// n samples: an impulse at where, else a seeded decaying noise (where < 0),
// else the demo's SAT2.WAV.
Signal source(long n, long where) {
    Signal x(std::size_t(n), 0.0);
    std::uint32_t seed = 12345;
    for (long t = 0; t < n && where == -1; ++t) {
        seed = seed * 1664525u + 1013904223u;
        x[std::size_t(t)] = (double(seed >> 8) / double(1u << 24) - 0.5) * std::exp(-t / 1500.0);
    }
    for (CoreDemo::IMPULSE const& i : CoreDemo::impls())
        if (where == -2 && std::string(i.file) == "SAT2.WAV")
            std::copy_n(i.samples[0].begin(), std::min(x.size(), i.samples[0].size()), x.begin());
    if (where >= 0) x[std::size_t(where)] = 1.0;
    return x;
}

using ConversionWholeFile = StoreFolder;

TEST_F(ConversionWholeFile, EveryRowKeepsTheResponseTheStartAndTheEnd) {
    // The file as the reader delivers it converted to `to`, read whole.
    auto convert = [&](Signal const& x, double from, double to, long& lead) {
        WavShape s{.tag = 3, .rate = std::uint32_t(from), .bits = 64, .before = {}, .samples = {}};
        for (double v : x) s.samples += f64Bytes(v);
        put("X.WAV", wavFile(s));
        CoreWvfr reader(&pool, store, false);
        reader.setfr(int(to), true);
        reader.open_("X.WAV");
        lead = reader.getld();
        Signal y(std::size_t(reader.getdw()), 0.0);
        long const n = reader.getdr(false);
        EXPECT_EQ(reader.getdt(n, y.data(), nullptr), n);
        y.resize(std::size_t(n));
        reader.close();
        return y;
    };
    DataRtcv table(&pool);
    std::vector<std::pair<char const*, Signal>> const sources = {
        {"impulse 256", source(256, 0)},  {"impulse 8192", source(8192, 0)},
        {"burst 8192", source(8192, -1)}, {"SAT2 256", source(256, -2)},
        {"SAT2 8192", source(8192, -2)},  {"impulse at the end, its sum kept", source(256, 255)}};
    ASSERT_GT(peak(sources[3].second), 0.0) << "the demo's SAT2.WAV";
    for (short row = 0; row < DataRtcv::iCcount; ++row) {
        // What the row's factors make, walked independently of the converter:
        // the exact ratio up / down, the product of its decimations and the
        // lowest rate its stages pass through.
        double const from = fromRate(row), to = table.geter(row);
        long long up = 1, down = 1;
        double lowest = from, rate = from;
        for (short k = 0, count = table.getst(row); k < count; ++k) {
            long long L = table.getfc(row, k), M = 1;
            if (k == 0 && !table.getfi(row))
                std::swap(L, M);
            else if (k + 1 < count)
                M = table.getfc(row, short(++k));
            up *= L, down *= M, rate = rate * double(L) / double(M);
            lowest = std::min(lowest, rate);
        }
        double const ratio = double(up) / double(down), out = from * ratio;
        ASSERT_NEAR(out, documentedRate(row, to), 1e-6 * out) << "row " << row;
        long lead0 = -1, lead = 0;
        Signal first;
        for (auto const& [name, x] : sources) {
            SCOPED_TRACE("row " + std::to_string(row) + ", " + name);
            Signal const y = convert(x, from, to, lead);
            if (lead0 < 0) lead0 = lead, first = y;
            EXPECT_EQ(lead, lead0) << "the lead does not depend on the file";
            for (double f : {0.0, 1000.0, 0.2 * lowest, 0.35 * lowest}) {
                std::complex<double> const X = at(x, f, from, 0), Y = at(y, f, out, lead) / ratio;
                if (f == 0.0 && std::abs(X) < 1e-9 * peak(x)) {
                    EXPECT_LT(std::abs(Y), 1e-6 * peak(x)) << "a sum of zero stays zero";
                    continue;
                }
                EXPECT_LT(dB(std::abs(Y / X)), 0.05) << f << " Hz, dB";
                if (f > 0.0) {
                    EXPECT_LT(std::fabs(std::arg(Y / X) / (2 * M_PI * f / out)), 0.01)
                        << f << " Hz, delay off by (output samples)";
                }
            }
        }
        // k silent samples in front, k the product of the decimations, make
        // k x ratio silent samples in front of the same conversion.
        Signal shifted(std::size_t(down), 0.0), want(std::size_t(up), 0.0);
        shifted.insert(shifted.end(), sources[0].second.begin(), sources[0].second.end());
        want.insert(want.end(), first.begin(), first.end());
        Signal const y = convert(shifted, from, to, lead);
        ASSERT_EQ(y.size(), want.size()) << "row " << row;
        double worst = 0.0;
        for (std::size_t t = 0; t < y.size(); ++t)
            worst = std::max(worst, std::fabs(y[t] - want[t]));
        EXPECT_LT(worst, 1e-6 * peak(first))
            << "row " << row << ": the start converts like the middle";
    }
}

} // namespace
