// Every conversion recipe against the analytic signal at the rate it really
// produces: three tones inside the band of the lower of the file's and the
// delivered rate (at 0.05, 0.35 and 0.4 times it; no stage may run below
// that rate) and, when the row goes down, one above the output Nyquist.
// Each in-band tone must come out at unit gain with the block's first sample
// on the lead the converter reports; the high tone must be gone. A few rows
// are also read through the WAV reader, which must deliver the same samples.
//
// Bounds, from the filter design (Blackman to the 11th power over a sinc
// whose cutoff is the lower Nyquist of each stage):
// - gain within 0.002 dB (0.05 dB for the tone at 0.4 of the rate);
// - delay within 1e-4 output samples of the lead (any slip in the phase
//   bookkeeping moves it by a whole fraction 1 / L of a sample);
// - the high tone's alias and everything else left after removing the tones
//   (images of interpolation, block-edge leakage, noise) below -90 dB:
//   the window's stopband floor sits at -96 dB or lower for every row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/CorePool.h"
#include "storage/CoreRtcv.h"
#include "storage/CoreWvfr.h"
#include "storage/DataRtcv.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RtcvRates.h"
#include "tests/support/StoreFolder.h"
#include "tests/support/WavBytes.h"

namespace {

const double kPi = 3.14159265358979323846;
const long kInput = 32768; // input samples per row: the middle half clear of the edges' ringing

// What a row's stages promise for a block of n samples: output length and
// rate, the lowest rate met on the way (it bounds the band the row passes),
// tau (s) such that output t carries the input at time t / rate + tau, and
// where the block's own samples lie (from lead, body samples).
struct Promise {
    long length;
    double rate;
    double lowest;
    double tau;
    long lead;
    long body;
};

Promise promise(DataRtcv& table, CoreRtcv& conv, short row, long n) {
    Promise p{n, fromRate(row), fromRate(row), 0.0, 0, 0};
    const short count = table.getst(row);
    for (short k = 0; k < count; ++k) {
        int L = 1, M = 1;
        const bool decimate = k == 0 && !table.getfi(row);
        if (decimate) {
            M = table.getfc(row, k);
        } else if (k + 1 >= count) {
            L = table.getfc(row, k);
        } else {
            L = table.getfc(row, k);
            M = table.getfc(row, static_cast<short>(k + 1));
            ++k;
        }
        p.rate = p.rate * L / M;
        p.length = p.length * L / M;
        p.lowest = std::min(p.lowest, p.rate);
    }
    // The first sample lands on the lead exactly, whatever the length.
    p.body = p.length;
    p.lead = conv.chainlead(row);
    p.tau = -double(p.lead) / p.rate;
    p.length = conv.chainlength(n, row);
    EXPECT_GE(p.length, p.lead + p.body) << "row " << row;
    return p;
}

double folded(double f, double rate) {
    f = std::fmod(f, rate);
    return f > rate / 2 ? rate - f : f;
}

const size_t kInBand = 3; // in-band tones per row

// The tones for a row: three in band, and (going down) one between the
// output and input Nyquist whose alias lands clear of the others.
std::vector<double> tones(const Promise& p, double from) {
    const double low = std::min(from, p.rate);
    std::vector<double> f = {0.05 * low, 0.35 * low, 0.4 * low};
    if (p.rate >= from) return f;
    for (double c : {0.5, 0.4, 0.6, 0.3, 0.7}) {
        const double high = p.rate / 2 + c * (from / 2 - p.rate / 2);
        const double a = folded(high, p.rate);
        const double gap = 0.02 * p.rate;
        if (a > gap && a < p.rate / 2 - gap &&
            std::none_of(f.begin(), f.end(), [&](double g) { return std::fabs(a - g) <= gap; })) {
            f.push_back(high);
            break;
        }
    }
    return f;
}

// Least-squares fit of sin and cos at each frequency (Hz) to y[from .. to - 1]
// at rate; returns the (sin, cos) pairs, and in rest the rms left over.
std::vector<double> fit(const double* y, long from, long to, double rate,
                        const std::vector<double>& freqs, double& rest) {
    const size_t m = 2 * freqs.size();
    std::vector<double> A(m * m, 0.0), r(m, 0.0), b(m);
    auto basis = [&](long t) {
        for (size_t i = 0; i < freqs.size(); ++i) {
            b[2 * i] = std::sin(2 * kPi * freqs[i] * t / rate);
            b[2 * i + 1] = std::cos(2 * kPi * freqs[i] * t / rate);
        }
    };
    for (long t = from; t < to; ++t) {
        basis(t);
        for (size_t i = 0; i < m; ++i) {
            r[i] += b[i] * y[t];
            for (size_t j = 0; j < m; ++j) A[i * m + j] += b[i] * b[j];
        }
    }
    for (size_t c = 0; c < m; ++c) // Gauss-Jordan; distinct tones keep it well conditioned
        for (size_t i = 0; i < m; ++i) {
            if (i == c) continue;
            const double q = A[i * m + c] / A[c * m + c];
            for (size_t j = 0; j < m; ++j) A[i * m + j] -= q * A[c * m + j];
            r[i] -= q * r[c];
        }
    for (size_t i = 0; i < m; ++i) r[i] /= A[i * m + i];
    double sum = 0;
    for (long t = from; t < to; ++t) {
        basis(t);
        double v = y[t];
        for (size_t i = 0; i < m; ++i) v -= r[i] * b[i];
        sum += v * v;
    }
    rest = std::sqrt(sum / double(to - from));
    return r;
}

std::vector<double> input(const std::vector<double>& freqs, double rate) {
    std::vector<double> x(kInput, 0.0);
    for (long t = 0; t < kInput; ++t)
        for (double f : freqs) x[t] += 0.5 * std::sin(2 * kPi * f * t / rate);
    return x;
}

// Checks y (length samples at p.rate) of a row against the analytic tones,
// in the middle half of the block.
void checkTones(short row, const Promise& p, const std::vector<double>& freqs, const double* y,
                long length) {
    ASSERT_EQ(length, p.length) << "row " << row;
    std::vector<double> at(freqs.begin(), freqs.begin() + kInBand);
    if (freqs.size() > kInBand) at.push_back(folded(freqs[kInBand], p.rate));
    double rest = 0;
    const std::vector<double> ab =
        fit(y, p.lead + p.body / 4, p.lead + p.body - p.body / 4, p.rate, at, rest);
    for (size_t i = 0; i < kInBand; ++i) {
        const double gain = 20 * std::log10(std::hypot(ab[2 * i], ab[2 * i + 1]) / 0.5);
        EXPECT_LT(std::fabs(gain), i + 1 < kInBand ? 0.002 : 0.05)
            << "row " << row << " tone " << freqs[i] << " Hz, gain dB";
        // 0.5 sin(w t + phi) = 0.5 cos(phi) sin(w t) + 0.5 sin(phi) cos(w t), phi = 2 pi f tau.
        const double slip = std::remainder(
            std::atan2(ab[2 * i + 1], ab[2 * i]) - 2 * kPi * freqs[i] * p.tau, 2 * kPi);
        EXPECT_LT(std::fabs(slip / (2 * kPi * freqs[i]) * p.rate), 1e-4)
            << "row " << row << " tone " << freqs[i] << " Hz, delay off by (output samples)";
    }
    if (freqs.size() > kInBand) {
        const size_t a = 2 * kInBand;
        EXPECT_LT(20 * std::log10(std::hypot(ab[a], ab[a + 1]) / 0.5 + 1e-30), -90)
            << "row " << row << " alias dB";
    }
    EXPECT_LT(20 * std::log10(rest / 0.5 + 1e-30), -90) << "row " << row << " residue dB";
}

} // namespace

TEST(RtcvRows, EveryRowKeepsItsBandAtItsDelayAndRejectsAliases) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    int down = 0;
    for (short row = 0; row < DataRtcv::iCcount; ++row) {
        const double from = fromRate(row);
        const Promise p = promise(table, conv, row, kInput);
        // The rate really produced: rows built on 11 miss the nominal one.
        ASSERT_NEAR(p.rate, documentedRate(row, table.geter(row)), 1e-9 * p.rate) << "row " << row;
        EXPECT_GE(p.lowest, std::min(from, p.rate) * (1 - 1e-12))
            << "row " << row << ": a stage runs below both ends";
        const std::vector<double> freqs = tones(p, from);
        ASSERT_EQ(freqs.size() > kInBand, p.rate < from)
            << "row " << row << ": no clear place for the high tone";
        down += p.rate < from;
        std::vector<double> x = input(freqs, from);
        long length = 0;
        double rate = table.geter(row);
        const double* y = conv.cnvrt(x.data(), kInput, length, from, rate, row);
        EXPECT_NEAR(rate, p.rate, 1e-9 * p.rate) << "row " << row;
        checkTones(row, p, freqs, y, length);
    }
    EXPECT_EQ(down, 54); // every row that goes down was given a high tone
}

// The reader converts a whole item in one call, exactly as the converter
// does on its own; with plain gain the samples are the converter's.
class RtcvRowsRead : public StoreFolder {};

TEST_F(RtcvRowsRead, WavReaderDeliversTheConvertedTones) {
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    // Two fractional stages, decimation by 16, and two rows built on 11
    // (up to 352,000 Hz, down to 48,109.09 Hz).
    for (short row : {short(9), short(20), short(57), short(73)}) {
        const double from = fromRate(row);
        const Promise p = promise(table, conv, row, kInput);
        const std::vector<double> freqs = tones(p, from);
        const std::vector<double> x = input(freqs, from);
        WavShape s;
        s.tag = 3;
        s.bits = 64;
        s.rate = static_cast<std::uint32_t>(from);
        for (double v : x) s.samples += f64Bytes(v);
        const std::string name = "ROW" + std::to_string(row) + ".WAV";
        put(name, wavFile(s));

        CoreWvfr reader(&pool, store, false);
        reader.setfr(static_cast<int>(table.geter(row)), true);
        reader.open_(name.c_str());
        EXPECT_EQ(reader.getrt(), std::lround(documentedRate(row, table.geter(row))))
            << "the rate really produced is reported, not the nominal one";
        std::vector<double> left(size_t(reader.getdw()) + 1, 0.0);
        const long got = reader.imprt(name.c_str(), left.data(), nullptr);
        checkTones(row, p, freqs, left.data(), got);
    }
}

// Every ordered pair of the common rates, most of them missing from the
// table: getrt is the rate of the delivered samples, measured from a 1 kHz
// tone's period, and a pair not converted exactly says so in the log, once
// however often the reader opens the file; getdr is the count delivered; the
// samples are the converter's for the row the reader takes (what it delivered
// before its counts were made exact).
TEST_F(RtcvRowsRead, EveryPairOfRatesReportsWhatItDelivers) {
    const int rates[] = {22050, 44100, 48000, 88200, 96000, 176400, 192000, 384000};
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    for (int from : rates) {
        WavShape s;
        s.tag = 3;
        s.bits = 64;
        s.rate = std::uint32_t(from);
        std::vector<double> x(size_t(from / 10)); // 100 periods
        for (size_t t = 0; t < x.size(); ++t) {
            x[t] = 0.5 * std::sin(2 * kPi * 1000.0 * double(t) / from + 0.3);
            s.samples += f64Bytes(x[t]);
        }
        put("PAIR.WAV", wavFile(s));
        for (int to : rates) {
            SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
            LogCapture log;
            CoreWvfr reader(&pool, store, false);
            reader.setfr(to, true);
            reader.open_("PAIR.WAV");
            const long announced = reader.getdr(false), lead = reader.getld();
            std::vector<double> y(size_t(reader.getdw()) + 1);
            const long got = reader.getdt(long(y.size()), y.data(), nullptr);
            EXPECT_EQ(got, announced);
            // The middle half of the file's own samples, after the lead.
            const long body = long(double(x.size()) * reader.getrt() / from);
            double first = -1, last = -1;
            int rises = 0;
            for (long t = lead + body / 4 + 1; t < lead + body - body / 4; ++t)
                if (y[size_t(t) - 1] < 0 && y[size_t(t)] >= 0) {
                    last = double(t - 1) + y[size_t(t) - 1] / (y[size_t(t) - 1] - y[size_t(t)]);
                    first = first < 0 ? last : first;
                    ++rises;
                }
            ASSERT_GT(rises, 20);
            EXPECT_NEAR(1000.0 * (last - first) / (rises - 1), reader.getrt(), 0.5 + 1e-5 * to);
            reader.close();
            reader.open_("PAIR.WAV"); // as a load opens each file twice
            std::string const said = log.text();
            std::size_t const at = said.find("no exact conversion");
            EXPECT_EQ(at != std::string::npos, reader.getrt() != to);
            EXPECT_EQ(said.find("no exact conversion", at + 1), std::string::npos) << said;
            const int row = table.getpt(from, to);
            if (row < 0) continue;
            long length = 0;
            double rate = to;
            const double* ref =
                conv.cnvrt(x.data(), long(x.size()), length, from, rate, short(row));
            ASSERT_EQ(length, got);
            EXPECT_TRUE(std::equal(ref, ref + length, y.begin()));
        }
    }
}
