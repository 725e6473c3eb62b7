// The converter: every recipe's output rate and length (lead, body, tail), a
// 1 kHz sine through interpolation and through fractional stages (frequency
// by DFT peak, amplitude by a least-squares fit, the first sample on the
// lead), decimation keeping the last sample, the slot cache and its
// round-robin overwrite, tiny blocks keeping their sum, and the filter
// building blocks against their formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "runtime/CorePool.h"
#include "storage/CoreRtcv.h"
#include "storage/DataRtcv.h"
#include "tests/support/RtcvRates.h"

namespace {

const double kTwoPi = 6.283185307179586;

std::vector<double> sine(int n, double freq, double rate) {
    std::vector<double> x(n);
    for (int t = 0; t < n; ++t) x[t] = std::sin(kTwoPi * freq * t / rate);
    return x;
}

// Amplitude of the best fit a sin + b cos at freq over y[from .. to - 1].
double fittedAmplitude(const double* y, int from, int to, double freq, double rate) {
    double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
    for (int t = from; t < to; ++t) {
        const double s = std::sin(kTwoPi * freq * t / rate), c = std::cos(kTwoPi * freq * t / rate);
        ss += s * s;
        cc += c * c;
        sc += s * c;
        ys += y[t] * s;
        yc += y[t] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
    return std::hypot(a, b);
}

// Frequency (Hz, on a 5 Hz grid up to 5 kHz) of the largest Hann-windowed DFT magnitude.
double peakFrequency(const double* y, int from, int to, double rate) {
    double best = 0, bestFreq = 0;
    const int len = to - from;
    for (double f = 5; f <= 5000; f += 5) {
        double re = 0, im = 0;
        for (int t = 0; t < len; ++t) {
            const double w = 0.5 - 0.5 * std::cos(kTwoPi * t / (len - 1));
            re += w * y[from + t] * std::cos(kTwoPi * f * t / rate);
            im -= w * y[from + t] * std::sin(kTwoPi * f * t / rate);
        }
        const double mag = std::hypot(re, im);
        if (mag > best) {
            best = mag;
            bestFreq = f;
        }
    }
    return bestFreq;
}

} // namespace

TEST(CoreRtcv, EveryRecipeProducesItsDocumentedRateAndLength) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    const long n =
        420; // divisible by every decimation factor's chain well enough to follow the lengths
    std::vector<double> x = sine(n, 1000, 44100);
    for (short row = 0; row < DataRtcv::iCcount; ++row) {
        long outLength = 0;
        double outRate = 0;
        double* y = conv.cnvrt(x.data(), n, outLength, fromRate(row), outRate, row);
        ASSERT_NE(y, nullptr);
        EXPECT_NEAR(outRate, documentedRate(row, table.geter(row)), 1e-9 * outRate) << row;
        // The length follows the stages with integer division.
        long want = n;
        const short count = table.getst(row);
        for (short k = 0; k < count; ++k) {
            const int f = table.getfc(row, k);
            if (k == 0 && !table.getfi(row))
                want /= f;
            else if (k + 1 >= count)
                want *= f;
            else {
                want = want * f / table.getfc(row, static_cast<short>(k + 1));
                ++k;
            }
        }
        // The whole file: the body after the lead, then a tail; k more input
        // samples (k the decimations' product) make exactly k x ratio more.
        long long up = 1, down = 1;
        conv.chainratio(row, up, down);
        EXPECT_EQ(outLength, conv.chainlength(n, row)) << row;
        EXPECT_GE(outLength, conv.chainlead(row) + want) << row;
        EXPECT_EQ(conv.chainlength(n + long(down), row) - outLength, up) << row;
        for (long i = 0; i < outLength; ++i) ASSERT_TRUE(std::isfinite(y[i])) << row << " " << i;
    }
}

TEST(CoreRtcv, LookupMissReturnsTheInputUntouched) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    std::vector<double> x = {1, 2, 3};
    long outLength = 0;
    double outRate = 44100;
    EXPECT_EQ(conv.cnvrt(x.data(), 3, outLength, 44100, outRate, -1), x.data());
    EXPECT_EQ(outLength, 3);
    EXPECT_EQ(outRate, 44100);
    // A row that does not exist converts nothing.
    EXPECT_EQ(conv.cnvrt(x.data(), 3, outLength, 44100, outRate, 200), x.data());
    EXPECT_EQ(outLength, 3);
}

TEST(CoreRtcv, SineAt1kHzDoubledIn44100To88200) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    const int n = 44100 / 2;
    std::vector<double> x = sine(n, 1000, 44100);
    long outLength = 0;
    double outRate = 88200;
    const double* y = conv.cnvrt(x.data(), n, outLength, 44100, outRate, -1);
    const long lead = conv.chainlead(14);
    ASSERT_EQ(outLength, conv.chainlength(n, 14));
    ASSERT_GE(outLength, lead + 2 * n);
    ASSERT_EQ(outRate, 88200);
    const int from = int(lead) + 8192, to = int(lead) + 2 * n - 8192;
    EXPECT_NEAR(peakFrequency(y, from, from + 8820, 88200), 1000, 5);
    const double amp = fittedAmplitude(y, from, to, 1000, 88200);
    EXPECT_LT(std::fabs(20 * std::log10(amp)), 1.0) << amp;
    // Interpolation keeps the sine itself, sample by sample away from the
    // edges, the first input sample on output lead.
    for (int t = from; t < to; ++t)
        ASSERT_NEAR(y[t], std::sin(kTwoPi * 1000 * (t - lead) / 88200), 1e-4) << t;
}

TEST(CoreRtcv, SineAt1kHzThroughFractionalStages96000To48000) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    const int n = 48000;
    std::vector<double> x = sine(n, 1000, 96000);
    long outLength = 0;
    double outRate = 48000;
    const double* y = conv.cnvrt(x.data(), n, outLength, 96000, outRate, -1);
    const long lead = conv.chainlead(30);
    ASSERT_GE(outLength, lead + n / 2);
    ASSERT_EQ(outRate, 48000);
    const int from = int(lead) + 4096, to = int(lead) + n / 2 - 4096;
    EXPECT_NEAR(peakFrequency(y, from, from + 4800, 48000), 1000, 5);
    const double amp = fittedAmplitude(y, from, to, 1000, 48000);
    EXPECT_LT(std::fabs(20 * std::log10(amp)), 1.0) << amp;
}

TEST(CoreRtcv, DecimationHalvesAndKeepsTheLastSample) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    const int n = 20000;
    std::vector<double> x = sine(n, 1000, 192000);
    long outLength = 0;
    double outRate = 96000;
    const long lead = conv.chainlead(55);
    const double* y = conv.cnvrt(x.data(), n, outLength, 192000, outRate, 55);
    ASSERT_GE(outLength, lead + n / 2);
    EXPECT_EQ(outRate, 96000);
    const double amp = fittedAmplitude(y, int(lead) + 4096, int(lead) + n / 2 - 4096, 1000, 96000);
    EXPECT_LT(std::fabs(20 * std::log10(amp)), 1.0) << amp;
    // An impulse at the last sample keeps its sum (half of it at half the rate).
    std::vector<double> last(n, 0.0);
    last[n - 1] = 1.0;
    y = conv.cnvrt(last.data(), n, outLength, 192000, outRate, 55);
    double sum = 0;
    for (long i = 0; i < outLength; ++i) sum += y[i];
    EXPECT_NEAR(sum, 0.5, 1e-6);
}

// A decimator is a low-pass then a pick of every M-th sample: a tone well
// inside the new band comes out sample for sample (no delay), one above the
// new Nyquist is gone. Both fail when the phases are misaligned.
TEST(CoreRtcv, DecimationKeepsThePassbandAndRejectsAliases) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    const int n = 40000;
    for (short row : {short(55), short(54), short(65)}) {
        const double in = fromRate(row), out = table.geter(row);
        const int M = table.getfc(row, 0);
        const double pass = 0.4 * out, stop = 0.7 * in / 2; // stop folds into the new band
        std::vector<double> x = sine(n, pass, in), z = sine(n, stop, in);
        long outLength = 0;
        double outRate = out;
        const double* y = conv.cnvrt(x.data(), n, outLength, in, outRate, row);
        const long lead = conv.chainlead(row);
        ASSERT_GE(outLength, lead + n / M);
        for (int i = 4096; i < n / M - 4096; ++i)
            ASSERT_NEAR(y[lead + i], std::sin(kTwoPi * pass * i * M / in), 1e-3) << row << " " << i;
        y = conv.cnvrt(z.data(), n, outLength, in, outRate, row);
        double peak = 0;
        for (int i = 4096; i < n / M - 4096; ++i) peak = std::max(peak, std::fabs(y[lead + i]));
        EXPECT_LT(peak, 1e-3) << row;
    }
}

TEST(CoreRtcv, TwoFractionalStagesFill176400To192000) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    std::vector<double> x = sine(700, 1000, 176400);
    long outLength = 0;
    double outRate = 192000;
    conv.cnvrt(x.data(), 700, outLength, 176400, outRate, -1);
    EXPECT_EQ(outRate, 192000);
    const CoreRtcv::STAGELOC* s0 = conv.getsl(0);
    const CoreRtcv::STAGELOC* s1 = conv.getsl(1);
    EXPECT_EQ(s0->kind, 2);
    EXPECT_EQ(s0->L, 8);
    EXPECT_EQ(s0->M, 7);
    EXPECT_GE(s0->outlen, s0->lead + 800);
    EXPECT_EQ(s0->anchor, 0);
    EXPECT_EQ(s1->kind, 2);
    EXPECT_EQ(s1->L, 20);
    EXPECT_EQ(s1->M, 21);
    EXPECT_EQ(s1->n, s0->outlen);
    EXPECT_EQ(s1->anchor, s0->lead); // the second stage places the first sample where it fell
    EXPECT_EQ(s1->lead, conv.chainlead(49));
    EXPECT_EQ(outLength, s1->outlen);
    EXPECT_EQ(outLength, conv.chainlength(700, 49));
    EXPECT_FALSE(conv.getsl(2)->built);
}

TEST(CoreRtcv, SlotsAreReusedAndOverwrittenRoundRobin) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    EXPECT_EQ(conv.mkclc(0, 44100, 2, 1, 64), 0);
    EXPECT_EQ(conv.getns(), 1);
    EXPECT_EQ(conv.mkclc(0, 44100, 2, 1, 64), 0); // same design: reused
    EXPECT_EQ(conv.getns(), 1);
    EXPECT_EQ(conv.mkclc(1, 44100, 1, 2, 64), 1);
    EXPECT_EQ(conv.mkclc(2, 44100, 3, 2, 64), 2);
    EXPECT_EQ(conv.getns(), 0);
    EXPECT_EQ(conv.mkclc(0, 44100, 2, 1, 64), 0); // still cached; next moves past it
    EXPECT_EQ(conv.getns(), 1);
    EXPECT_EQ(conv.mkclc(0, 44100, 4, 1, 64), 1); // a fourth design overwrites slot 1
    EXPECT_EQ(conv.getsl(1)->L, 4);
    EXPECT_EQ(conv.mkclc(1, 44100, 1, 2, 64), 2); // the overwritten one is rebuilt at the next slot
    EXPECT_EQ(conv.getsl(2)->kind, 1);
    EXPECT_EQ(conv.mkclc(0, 44100, 2, 1, 65), 0); // another length is another design
    EXPECT_EQ(conv.getsl(0)->n, 65);
    EXPECT_EQ(conv.mkclc(0, 44100, 2, 1, 65, 3), 1); // and so is another anchor
    EXPECT_EQ(conv.getsl(1)->lead, conv.getsl(0)->lead + 6);
    EXPECT_EQ(conv.mkclc(0, 44100, 0, 1, 64), -1); // no factor: refused, nothing overwritten
    EXPECT_EQ(conv.getns(), 2);
}

TEST(CoreRtcv, TinyBlocksStayInsideTheirBuffers) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv conv(&pool, &table);
    std::vector<double> one = {0.5};
    long outLength = -1;
    double outRate = 0;
    auto sum = [&](const double* y) {
        double s = 0;
        for (long i = 0; i < outLength; ++i) s += y[i];
        return s;
    };
    // Interpolation of one sample: its sum doubles with the rate.
    const double* y = conv.cnvrt(one.data(), 1, outLength, 44100, outRate, 14);
    EXPECT_EQ(outLength, conv.chainlength(1, 14));
    EXPECT_NEAR(sum(y), 1.0, 1e-6);
    // Decimation by 16 of 1, 16, 20 and 31 samples (fewer than 2M): nothing lost.
    for (long n : {1L, 16L, 20L, 31L}) {
        std::vector<double> x(n, 1.0);
        y = conv.cnvrt(x.data(), n, outLength, 96000, outRate, 20);
        EXPECT_EQ(outLength, conv.chainlength(n, 20));
        EXPECT_NEAR(sum(y), n / 16.0, 1e-6) << n;
    }
    // Fractional stages of a few samples.
    for (long n : {1L, 2L, 3L, 7L}) {
        std::vector<double> x(n, 1.0);
        y = conv.cnvrt(x.data(), n, outLength, 44100, outRate, 9);
        EXPECT_EQ(outLength, conv.chainlength(n, 9));
        EXPECT_EQ(outRate, 48000);
        EXPECT_NEAR(sum(y), n * 48000.0 / 44100.0, 1e-6) << n;
    }
    // An empty block converts nothing.
    EXPECT_EQ(conv.cnvrt(one.data(), 0, outLength, 44100, outRate, 14), one.data());
    EXPECT_EQ(outLength, 0);
}

TEST(CoreRtcv, FilterBuildingBlocks) {
    const int n = 16, h = 8;
    std::vector<double> w(n, 1.0), w2(n, 1.0);
    CoreRtcv::flblk(n, w.data(), 0, false);
    CoreRtcv::flblk(n, w2.data(), 0.5, true); // power 1 + ceil(0.5) = 2, first h + 1 values
    for (int k = 0; k < n; ++k) {
        const double b =
            0.42 - 0.5 * std::cos(kTwoPi * k / (n - 1)) + 0.08 * std::cos(2 * kTwoPi * k / (n - 1));
        EXPECT_NEAR(w[k], b, 1e-15);
        EXPECT_NEAR(w2[k], k <= h ? b * b : 1.0, 1e-15);
    }
    std::vector<double> one = {3.0};
    CoreRtcv::flblk(1, one.data(), 0, false); // one value has no window shape
    EXPECT_EQ(one[0], 3.0);

    std::vector<double> s(n, -9.0), d(n, 0.0), fr(n, 0.0);
    CoreRtcv::flint(n, s.data(), 4, false);
    EXPECT_EQ(s[h - 1], 1.0);
    for (int k = 1; k < h; ++k)
        EXPECT_NEAR(s[h - 1 + k], std::sin(kTwoPi / 2 * k / 4) * 4 / (kTwoPi / 2 * k), 1e-15);
    EXPECT_EQ(s[n - 1], -9.0); // 2h - 1 taps only
    CoreRtcv::fldec(n, d.data(), 4, false);
    CoreRtcv::flfrc(n, fr.data(), 1.0, 4.0, false);
    EXPECT_NEAR(d[h - 1], 0.25, 1e-15);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(d[i], fr[i], 1e-15);

    std::vector<double> m = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    CoreRtcv::flhcp(10, m.data()); // mirror about index 4, tap 9 zero
    EXPECT_EQ(m, (std::vector<double>{1, 2, 3, 4, 5, 4, 3, 2, 1, 0}));

    int steps = 0, carries = 0;
    CoreRtcv::frcps(7, 3, 2, 0, 6, steps, carries); // 3 6 2 5 1 4 0 3 6
    EXPECT_EQ(steps, 9);
    EXPECT_EQ(carries, 3);
    steps = carries = 0;
    CoreRtcv::frcps(4, 2, 1, 0, 1, steps, carries); // never reached: stops instead of spinning
    EXPECT_EQ(steps, 4);
}
