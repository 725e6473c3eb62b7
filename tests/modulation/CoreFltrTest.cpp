#include "modulation/CoreFltr.h"

#include <cmath>
#include <complex>

#include <gtest/gtest.h>

namespace {

constexpr double pi = 3.141592653589793;
constexpr double rate = 44100.0;

// Steady-state peak of a sine of frequency f after the filter.
double sinePeak(CoreFltr& filter, double f) {
    double peak = 0.0;
    for (int n = 0; n < 40000; ++n) {
        double const y = filter.prcss(std::sin(2.0 * pi * f * n / rate));
        if (n >= 30000) peak = std::max(peak, std::fabs(y));
    }
    return peak;
}

// Magnitude of one section, from its difference equation
// y[n] = b (a y[n-1] + x[n] - x[n-1]) as a transfer function.
double sectionMagnitude(double cutoff, double f) {
    double const t = std::tan(pi * cutoff / rate);
    double const k = t * (t + std::sqrt(2.0));
    double const a = 1.0 / (1.0 + k), b = 1.0 - k;
    std::complex<double> const z1 = std::polar(1.0, -2.0 * pi * f / rate);
    return std::abs(b * (1.0 - z1) / (1.0 - a * b * z1));
}

} // namespace

TEST(CoreFltrTest, RunsHalfTheOrderInSectionsUpToWhatWasAllocated) {
    double const cutoff = 1000.0, probe = 700.0;
    double const one = sectionMagnitude(cutoff, probe);
    struct Case {
        int built, order, sections;
    } const cases[] = {{8, 8, 4}, {8, 3, 1}, {8, 12, 4}, {8, 1, 0}, {3, 8, 1}, {0, 8, 0}};
    for (Case const& c : cases) {
        CoreFltr filter(CoreFltr::iChighpass, c.built);
        filter.setvl(cutoff, 0.0, rate, c.order);
        // The sampled sine misses its true peak by at most a sample's phase.
        EXPECT_NEAR(sinePeak(filter, probe), std::pow(one, c.sections), 2e-3)
            << "built " << c.built << " order " << c.order;
    }
}

TEST(CoreFltrTest, RejectsDirectCurrent) {
    CoreFltr filter(CoreFltr::iChighpass, 8);
    filter.setvl(100.0, 0.0, rate, 8);
    double y = 1.0;
    for (int n = 0; n < 44100; ++n) y = filter.prcss(1.0);
    EXPECT_LT(std::fabs(y), 1e-6);
}

TEST(CoreFltrTest, WithoutSectionsOrCutoffItPassesTheInput) {
    CoreFltr unset(CoreFltr::iChighpass, 8);
    EXPECT_EQ(unset.prcss(0.25), 0.25);
    CoreFltr zero(CoreFltr::iChighpass, 8);
    zero.setvl(0.0, 0.0, rate, 8);
    for (double x : {0.5, -0.25, 0.75}) EXPECT_DOUBLE_EQ(zero.prcss(x), x);
}

TEST(CoreFltrTest, CutoffPastHalfTheRateOrNoRateStaysFinite) {
    // 0.8 of the rate would put the section's pole outside the unit circle.
    for (double fs : {rate, 0.0, -1.0}) {
        CoreFltr filter(CoreFltr::iChighpass, 8);
        filter.setvl(0.8 * rate, 0.0, fs, 8);
        double y = 0.0;
        for (int n = 0; n < 20000; ++n) y = filter.prcss(std::sin(0.1 * n));
        EXPECT_TRUE(std::isfinite(y)) << fs;
    }
    CoreFltr norate(CoreFltr::iChighpass, 8);
    norate.setvl(100.0, 0.0, 0.0, 8);
    EXPECT_DOUBLE_EQ(norate.prcss(0.3), 0.3);
}
