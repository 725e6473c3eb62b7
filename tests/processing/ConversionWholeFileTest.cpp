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
#include <vector>

#include "storage/CoreWvfr.h"
#include "storage/DataRtcv.h"
#include "tests/support/RtcvRates.h"
#include "tests/support/StoreFolder.h"
#include "tests/support/WavBytes.h"
#include "tools/CoreDemo.h"

namespace {

using Signal = std::vector<double>;
double const kPi = 3.14159265358979323846;

// What a row's factors make, walked independently of the converter: the
// exact ratio up / down, the product of its decimations and the lowest rate
// its stages pass through.
struct Chain {
    long long up = 1, down = 1;
    double lowest = 0.0;
};

Chain chain(DataRtcv& table, short row) {
    Chain c;
    double rate = fromRate(row);
    c.lowest = rate;
    short const count = table.getst(row);
    for (short k = 0; k < count; ++k) {
        long long L = 1, M = 1;
        if (k == 0 && !table.getfi(row))
            M = table.getfc(row, k);
        else if (k + 1 >= count)
            L = table.getfc(row, k);
        else
            L = table.getfc(row, k), M = table.getfc(row, short(++k));
        c.up *= L;
        c.down *= M;
        rate = rate * double(L) / double(M);
        c.lowest = std::min(c.lowest, rate);
    }
    return c;
}

// Spectrum of x at f (Hz) for a signal at rate whose time zero is sample zero.
std::complex<double> at(Signal const& x, double f, double rate, long zero) {
    std::complex<double> sum = 0.0;
    for (std::size_t t = 0; t < x.size(); ++t)
        sum += x[t] * std::polar(1.0, -2 * kPi * f * (double(t) - double(zero)) / rate);
    return sum;
}

double peak(Signal const& x) {
    double p = 0.0;
    for (double v : x) p = std::max(p, std::fabs(v));
    return p;
}

Signal impulse(long n, long where) {
    Signal x(std::size_t(n), 0.0);
    x[std::size_t(where)] = 1.0;
    return x;
}

Signal burst(long n) {
    Signal x(static_cast<std::size_t>(n), 0.0);
    std::uint32_t seed = 12345;
    for (long t = 0; t < n; ++t) {
        seed = seed * 1664525u + 1013904223u;
        x[std::size_t(t)] = (double(seed >> 8) / double(1u << 24) - 0.5) * std::exp(-t / 1500.0);
    }
    return x;
}

Signal sat2(long n) {
    for (CoreDemo::IMPULSE const& i : CoreDemo::impls())
        if (std::string(i.file) == "SAT2.WAV") {
            Signal x = i.samples[0];
            x.resize(std::size_t(n), 0.0);
            return x;
        }
    return {};
}

class ConversionWholeFile : public StoreFolder {
protected:
    // The file as the reader delivers it converted to `to`, read whole.
    Signal convert(Signal const& x, double from, double to, long& lead) {
        WavShape s;
        s.tag = 3;
        s.bits = 64;
        s.rate = std::uint32_t(from);
        for (double v : x) s.samples += f64Bytes(v);
        put("X.WAV", wavFile(s));
        CoreWvfr reader(&pool, store, false);
        reader.setfr(int(to), true);
        reader.open_("X.WAV");
        lead = reader.getld();
        long const n = reader.getdr(false);
        Signal y(std::size_t(reader.getdw()), 0.0);
        EXPECT_GE(long(y.size()), n);
        EXPECT_EQ(reader.getdt(n, y.data(), nullptr), n);
        reader.close();
        y.resize(std::size_t(n));
        return y;
    }
};

TEST_F(ConversionWholeFile, EveryRowKeepsTheResponseTheStartAndTheEnd) {
    DataRtcv table(&pool);
    Signal const sat = sat2(256);
    ASSERT_EQ(sat.size(), 256u);
    struct Source {
        char const* name;
        Signal x;
    };
    std::vector<Source> const sources = {{"impulse 256", impulse(256, 0)},
                                         {"impulse 8192", impulse(8192, 0)},
                                         {"burst 8192", burst(8192)},
                                         {"SAT2 256", sat},
                                         {"SAT2 8192", sat2(8192)}};
    for (short row = 0; row < DataRtcv::iCcount; ++row) {
        Chain const c = chain(table, row);
        double const from = fromRate(row), to = table.geter(row);
        double const ratio = double(c.up) / double(c.down), out = from * ratio;
        ASSERT_NEAR(out, documentedRate(row, to), 1e-6 * out) << "row " << row;
        long lead0 = -1;
        Signal first;
        for (Source const& src : sources) {
            SCOPED_TRACE("row " + std::to_string(row) + ", " + src.name);
            long lead = 0;
            Signal const y = convert(src.x, from, to, lead);
            if (lead0 < 0) lead0 = lead, first = y;
            EXPECT_EQ(lead, lead0) << "the lead does not depend on the file";
            double const top = peak(src.x);
            for (double f : {0.0, 1000.0, 0.2 * c.lowest, 0.35 * c.lowest}) {
                std::complex<double> const X = at(src.x, f, from, 0);
                std::complex<double> const Y = at(y, f, out, lead) / ratio;
                if (f == 0.0 && std::abs(X) < 1e-9 * top) {
                    EXPECT_LT(std::abs(Y), 1e-6 * top) << "a sum of zero stays zero";
                    continue;
                }
                std::complex<double> const h = Y / X;
                EXPECT_LT(std::fabs(20 * std::log10(std::abs(h))), 0.05) << f << " Hz, dB";
                if (f > 0.0) {
                    EXPECT_LT(std::fabs(std::arg(h) / (2 * kPi * f / out)), 0.01)
                        << f << " Hz, delay off by (output samples)";
                }
            }
        }
        // k silent samples in front, k the product of the decimations, make
        // k x ratio silent samples in front of the same conversion.
        Signal shifted(std::size_t(c.down), 0.0);
        shifted.insert(shifted.end(), sources[0].x.begin(), sources[0].x.end());
        long lead = 0;
        Signal const y = convert(shifted, from, to, lead);
        ASSERT_EQ(y.size(), first.size() + std::size_t(c.up)) << "row " << row;
        double worst = 0.0;
        for (std::size_t t = 0; t < y.size(); ++t)
            worst = std::max(
                worst,
                std::fabs(y[t] - (t < std::size_t(c.up) ? 0.0 : first[t - std::size_t(c.up)])));
        EXPECT_LT(worst, 1e-6 * peak(first))
            << "row " << row << ": the start converts like the middle";
        // An impulse at the last sample keeps its sum.
        Signal const end = convert(impulse(256, 255), from, to, lead);
        double sum = 0.0;
        for (double v : end) sum += v;
        EXPECT_LT(std::fabs(20 * std::log10(std::fabs(sum / ratio))), 0.05) << "row " << row;
    }
}

} // namespace
