// Analytic signals against known transforms: cos -> sin, sin -> -cos, an
// even sequence has a transform that vanishes at 0 and n/2, constants -> 0.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "platform/PlatSignalHilb.h"

namespace {
const double kTwoPi = 6.283185307179586;
}

TEST(PlatSignalHilb, CosineGivesSineAndSineGivesMinusCosine) {
    for (int n : {8, 64, 1024, 9, 243}) {
        std::unique_ptr<PlatSignalHilb> h(PlatSignalHilb::create(n));
        ASSERT_NE(h, nullptr);
        for (int cycles : {1, 3}) {
            std::vector<float> c(n), s(n);
            for (int t = 0; t < n; ++t) {
                c[t] = float(std::cos(kTwoPi * cycles * t / n));
                s[t] = float(std::sin(kTwoPi * cycles * t / n));
            }
            std::vector<Ipp32fc> zc(n), zs(n);
            h->run(c.data(), zc.data());
            h->run(s.data(), zs.data());
            for (int t = 0; t < n; ++t) {
                EXPECT_EQ(zc[t].re, c[t]);
                EXPECT_NEAR(zc[t].im, std::sin(kTwoPi * cycles * t / n), 1e-5) << n << " " << t;
                EXPECT_NEAR(zs[t].im, -std::cos(kTwoPi * cycles * t / n), 1e-5) << n << " " << t;
            }
        }
    }
}

TEST(PlatSignalHilb, EvenSequenceHasZeroTransformAtZeroAndHalf) {
    const int n = 64;
    std::vector<float> x(n);
    for (int t = 0; t <= n / 2; ++t) {
        x[t] = float(std::exp(-0.1 * t) + 0.3 * std::cos(0.7 * t));
        x[(n - t) % n] = x[t];
    }
    std::unique_ptr<PlatSignalHilb> h(PlatSignalHilb::create(n));
    std::vector<Ipp32fc> z(n);
    h->run(x.data(), z.data());
    EXPECT_NEAR(z[0].im, 0.0, 1e-6);
    EXPECT_NEAR(z[n / 2].im, 0.0, 1e-6);
    // And the transform of an even sequence is odd.
    for (int t = 1; t < n / 2; ++t) EXPECT_NEAR(z[t].im, -z[n - t].im, 1e-6) << t;
}

TEST(PlatSignalHilb, ConstantsAndTinyLengths) {
    for (int n : {1, 2, 3, 16}) {
        std::unique_ptr<PlatSignalHilb> h(PlatSignalHilb::create(n));
        ASSERT_NE(h, nullptr);
        std::vector<float> x(n, 2.5f);
        std::vector<Ipp32fc> z(n, Ipp32fc{-1, -1});
        h->run(x.data(), z.data());
        for (int t = 0; t < n; ++t) {
            EXPECT_EQ(z[t].re, 2.5f);
            EXPECT_NEAR(z[t].im, 0.0f, 1e-6);
        }
    }
    EXPECT_EQ(PlatSignalHilb::create(0), nullptr);
    EXPECT_EQ(PlatSignalHilb::create(-5), nullptr);
}
