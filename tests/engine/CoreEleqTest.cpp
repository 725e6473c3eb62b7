#include "engine/CoreEleq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "runtime/CorePool.h"

namespace {

using cplx = std::complex<double>;
double const kPi = 3.14159265358979323846;

// Plain O(N^2) transform with e^(-i...) forward, unscaled.
std::vector<cplx> naiveDft(std::vector<cplx> const& x, bool inverse) {
    size_t const n = x.size();
    double const sign = inverse ? 1.0 : -1.0;
    std::vector<cplx> out(n);
    for (size_t k = 0; k < n; ++k) {
        cplx sum = 0.0;
        for (size_t t = 0; t < n; ++t)
            sum += x[t] * std::polar(1.0, sign * 2.0 * kPi * double((k * t) % n) / double(n));
        out[k] = sum;
    }
    return out;
}

// Minimum-phase spectrum with magnitude g[0 .. N/2] by the real cepstrum:
// fold the cepstrum of ln|H| onto positive quefrencies and exponentiate.
std::vector<cplx> cepstralMinimumPhase(std::vector<double> const& g, int N) {
    std::vector<cplx> logMag(N);
    for (int k = 0; k <= N / 2; ++k) {
        logMag[k] = std::log(g[k]);
        if (k > 0 && k < N / 2) logMag[N - k] = std::log(g[k]);
    }
    std::vector<cplx> c = naiveDft(logMag, true);
    std::vector<cplx> folded(N, 0.0);
    folded[0] = c[0] / double(N);
    folded[N / 2] = c[N / 2] / double(N);
    for (int n = 1; n < N / 2; ++n) folded[n] = 2.0 * c[n] / double(N);
    std::vector<cplx> spectrum = naiveDft(folded, false);
    for (cplx& v : spectrum) v = std::exp(v);
    return spectrum;
}

std::vector<double> noise(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> d(0.0, 1.0);
    std::vector<double> v(n);
    for (double& x : v) x = d(gen);
    return v;
}

struct Design {
    explicit Design(int N) : N(N), s1(N), s2(N) {}
    bool run(CorePool& pool, std::vector<double>& r1, std::vector<double>& r2, int span,
             double fraction, short degree, double weight, double taper = 0.0, int reference = -1) {
        return CoreEleq::eqcal(&pool, s1.data(), s2.data(), N, int(r1.size()), r1.data(),
                               int(r2.size()), r2.data(), span, fraction, false, degree, weight,
                               taper, 2, reference);
    }
    int N;
    std::vector<Ipp64fc> s1;
    std::vector<Ipp64fc> s2;
};

class CoreEleqTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(pool.getma(), 0) << "work buffers left in the pool"; }
    CorePool pool;
};

} // namespace

TEST_F(CoreEleqTest, SpanTwoHasNoBandsAndLeavesBothPlainSpectra) {
    int const N = 64;
    std::vector<double> r1 = noise(50, 1);
    std::vector<double> r2 = noise(64, 2);
    Design d(N);
    EXPECT_FALSE(d.run(pool, r1, r2, 2, 0.005, 3, 1.0));

    // Both spectra are the plain transforms, scaled by 1/sqrt(N).
    std::vector<cplx> x1(N, 0.0), x2(N, 0.0);
    for (size_t i = 0; i < r1.size(); ++i) x1[i] = r1[i];
    for (size_t i = 0; i < r2.size(); ++i) x2[i] = r2[i];
    std::vector<cplx> f1 = naiveDft(x1, false), f2 = naiveDft(x2, false);
    double const scale = 1.0 / std::sqrt(double(N));
    for (int k = 0; k < N; ++k) {
        EXPECT_NEAR(d.s1[k].re, f1[k].real() * scale, 1e-12) << k;
        EXPECT_NEAR(d.s1[k].im, f1[k].imag() * scale, 1e-12) << k;
        EXPECT_NEAR(d.s2[k].re, f2[k].real() * scale, 1e-12) << k;
        EXPECT_NEAR(d.s2[k].im, f2[k].imag() * scale, 1e-12) << k;
    }
}

TEST_F(CoreEleqTest, ArgumentsThatDescribeNoDesignAreRefused) {
    std::vector<double> r1 = noise(48, 3), r2 = noise(48, 4);
    Design d(64);
    EXPECT_FALSE(d.run(pool, r1, r2, 0, 0.005, 3, 1.0)); // no scale at all
    EXPECT_FALSE(d.run(pool, r1, r2, 200, 2.0, 3, 1.0)); // band wider than the spectrum
    Design odd(48);                                      // not a power of two
    EXPECT_FALSE(odd.run(pool, r1, r2, 200, 0.005, 3, 1.0));
    std::vector<double> tooLong = noise(100, 5); // longer than N
    EXPECT_FALSE(d.run(pool, tooLong, r2, 200, 0.005, 3, 1.0));
}

TEST_F(CoreEleqTest, WeightZeroGivesAnAllPass) {
    int const N = 256;
    std::vector<double> r1 = noise(200, 6), r2 = noise(256, 7);
    // Cubic smoothing, and a degree far above the few points of very wide
    // bands (the order must be clamped, or the curve collapses to zero).
    for (auto [fraction, degree] : {std::pair{0.005, short(3)}, std::pair{0.3, short(20)}}) {
        Design d(N);
        ASSERT_TRUE(d.run(pool, r1, r2, 2 * (N / 2 + 1), fraction, degree, 0.0));
        for (int k = 0; k <= N / 2; ++k) {
            EXPECT_NEAR(d.s2[k].re, 1.0, 1e-6) << k;
            EXPECT_NEAR(d.s2[k].im, 0.0, 1e-6) << k;
        }
    }
}

TEST_F(CoreEleqTest, FractionZeroMeansOneBinPerBand) {
    int const N = 128;
    std::vector<double> r1 = noise(128, 8), r2 = noise(128, 9);
    // A fraction so small that nb * fraction < 1 also gives one-bin bands:
    // both must design the same filter, and a coarser band must not.
    Design zero(N), tiny(N), coarse(N);
    ASSERT_TRUE(zero.run(pool, r1, r2, 130, 0.0, 3, 1.0));
    ASSERT_TRUE(tiny.run(pool, r1, r2, 130, 1e-9, 3, 1.0));
    ASSERT_TRUE(coarse.run(pool, r1, r2, 130, 0.1, 3, 1.0));
    bool differs = false;
    for (int k = 0; k <= N / 2; ++k) {
        ASSERT_TRUE(std::isfinite(zero.s2[k].re) && std::isfinite(zero.s2[k].im)) << k;
        EXPECT_EQ(zero.s2[k].re, tiny.s2[k].re) << k;
        EXPECT_EQ(zero.s2[k].im, tiny.s2[k].im) << k;
        differs = differs || std::fabs(zero.s2[k].re - coarse.s2[k].re) > 1e-3;
    }
    EXPECT_TRUE(differs);
}

TEST_F(CoreEleqTest, DesignedFilterIsTheMinimumPhaseOfItsMagnitude) {
    int const N = 512;
    std::vector<double> r1 = noise(300, 10), r2 = noise(512, 11);
    Design d(N);
    ASSERT_TRUE(d.run(pool, r1, r2, 2 * (N / 2 + 1), 0.02, 3, 1.0, 0.0));

    std::vector<double> g(N / 2 + 1);
    for (int k = 0; k <= N / 2; ++k) g[k] = std::hypot(d.s2[k].re, d.s2[k].im);
    std::vector<cplx> expected = cepstralMinimumPhase(g, N);
    for (int k = 0; k <= N / 2; ++k) {
        EXPECT_NEAR(d.s2[k].re, expected[k].real(), 2e-5 * g[k] + 1e-12) << k;
        EXPECT_NEAR(d.s2[k].im, expected[k].imag(), 2e-5 * g[k] + 1e-12) << k;
    }

    // Its impulse (the full symmetric spectrum inverted) holds its energy at
    // the start, as a minimum-phase filter does.
    std::vector<cplx> full(N);
    for (int k = 0; k <= N / 2; ++k) {
        full[k] = cplx(d.s2[k].re, d.s2[k].im);
        if (k > 0 && k < N / 2) full[N - k] = std::conj(full[k]);
    }
    std::vector<cplx> h = naiveDft(full, true);
    double total = 0.0, head = 0.0, back = 0.0;
    for (int n = 0; n < N; ++n) {
        EXPECT_NEAR(h[n].imag(), 0.0, 1e-9 * N);
        total += std::norm(h[n]);
        if (n < N / 8) head += std::norm(h[n]);
        if (n >= N / 2) back += std::norm(h[n]); // where a non-causal part would wrap to
    }
    EXPECT_GT(head / total, 0.95);
    EXPECT_LT(back / total, 0.01);
}

TEST_F(CoreEleqTest, CorrectingAnImpulseTowardsAMinimumPhaseTargetGivesTheTarget) {
    // The gain towards 1 + 0.5 z^-1 is the smooth |1 + 0.5 e^(-iw)|, and that
    // filter is already minimum phase, so the filtered impulse becomes the
    // target itself.
    int const N = 1024;
    std::vector<double> r1(N, 0.0), r2(N, 0.0);
    r1[0] = 1.0;
    r2[0] = 1.0;
    r2[1] = 0.5;
    std::vector<double> filtered = r1;
    ASSERT_TRUE(CoreEleq::eqcaf(&pool, N, filtered.data(), N, r2.data(), 2 * (N / 2 + 1), 0.005,
                                false, 3, 1.0, 0.0));
    EXPECT_NEAR(filtered[0], 1.0, 0.02);
    EXPECT_NEAR(filtered[1], 0.5, 0.02);
    for (int n = 2; n < N; ++n) EXPECT_NEAR(filtered[n], 0.0, 0.02) << n;
}

TEST_F(CoreEleqTest, EqualResponsesAreLeftUnchanged) {
    int const length = 700;
    std::vector<double> r = noise(length, 12);
    for (int i = 0; i < length; ++i) r[i] *= std::exp(-i / 80.0);
    std::vector<double> filtered = r;
    ASSERT_TRUE(CoreEleq::eqcaf(&pool, length, filtered.data(), length, r.data(), 2000, 0.005,
                                false, 3, 1.0, 0.0));
    for (int i = 0; i < length; ++i) EXPECT_NEAR(filtered[i], r[i], 1e-4) << i;

    // No design, no change.
    std::vector<double> kept = r;
    EXPECT_FALSE(CoreEleq::eqcaf(&pool, length, kept.data(), length, r.data(), 2, 0.005, false, 3,
                                 1.0, 0.0));
    EXPECT_EQ(kept, r);
}

TEST_F(CoreEleqTest, SilentBandsStayFinite) {
    int const N = 256;
    std::vector<double> silent(N, 0.0), r = noise(N, 13);
    // Silence to correct, silence as target, and a target with a dead band
    // (a pure tone leaves most bins empty); with and without the taper.
    std::vector<double> tone(N);
    for (int i = 0; i < N; ++i) tone[i] = std::sin(2.0 * kPi * 16.0 * i / N);
    struct Case {
        std::vector<double>* a;
        std::vector<double>* b;
        double taper;
        int ref;
    };
    for (Case c :
         {Case{&silent, &r, 0.0, -1}, Case{&r, &silent, 0.0, -1}, Case{&silent, &silent, 0.0, -1},
          Case{&r, &tone, 0.2, 40}, Case{&tone, &r, 0.2, -1}}) {
        Design d(N);
        ASSERT_TRUE(d.run(pool, *c.a, *c.b, 2 * (N / 2 + 1), 0.005, 3, 1.0, c.taper, c.ref));
        for (int k = 0; k <= N / 2; ++k) {
            ASSERT_TRUE(std::isfinite(d.s2[k].re)) << k;
            ASSERT_TRUE(std::isfinite(d.s2[k].im)) << k;
        }
    }
}

TEST_F(CoreEleqTest, EngineSettingsOnALongResponse) {
    // The engine's own settings (fraction 0.005, no window, cubic, weight 1,
    // resolution 2) with a span that starts the bands well above DC.
    int const N = 32768;
    std::vector<double> r1(N, 0.0), r2(N, 0.0);
    r1[0] = 1.0;
    r2[0] = 1.0;
    r2[1] = 0.5;
    std::vector<Ipp64fc> s1(N), s2(N);
    ASSERT_TRUE(CoreEleq::eqcal(&pool, s1.data(), s2.data(), N, N, r1.data(), N, r2.data(), 2000,
                                0.005, false, 3, 1.0, 0.0, 2, -1));
    for (int k = 0; k <= N / 2; k += 7) {
        double w = 2.0 * kPi * k / N;
        double target = std::abs(cplx(1.0, 0.0) + 0.5 * std::polar(1.0, -w));
        EXPECT_NEAR(std::hypot(s2[k].re, s2[k].im), target, 0.02 * target) << k;
    }
}
