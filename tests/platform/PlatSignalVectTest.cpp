// Packed and complex products against complex arithmetic and against naive
// circular convolution; sums; refusal of bad lengths and null pointers.
#include <gtest/gtest.h>

#include <complex>
#include <memory>
#include <vector>

#include "platform/PlatSignalFft.h"
#include "platform/PlatSignalVect.h"
#include "tests/support/Signals.h"

TEST(PlatSignalVect, MulPackEqualsComplexProductOfExpandedSpectra) {
    for (int n : {1, 2, 3, 7, 8, 64, 1000}) {
        SCOPED_TRACE(n);
        const std::vector<double> a = randomSignal(n, 1 + n), b = randomSignal(n, 2 + n);
        std::vector<double> prod(n);
        ASSERT_TRUE(PlatSignalVect::mulPack(a.data(), b.data(), prod.data(), n));

        std::vector<Ipp64fc> ca(n), cb(n), cp(n);
        ASSERT_TRUE(PlatSignalVect::conjPack(a.data(), ca.data(), n));
        ASSERT_TRUE(PlatSignalVect::conjPack(b.data(), cb.data(), n));
        ASSERT_TRUE(PlatSignalVect::mulComplexInPlace(ca.data(), cb.data(), n));
        ASSERT_TRUE(PlatSignalVect::conjPack(prod.data(), cp.data(), n));
        for (int k = 0; k < n; ++k) {
            EXPECT_NEAR(cp[k].re, cb[k].re, 1e-15) << k;
            EXPECT_NEAR(cp[k].im, cb[k].im, 1e-15) << k;
        }

        // In place, both the distinct and the squaring form.
        std::vector<double> inPlace = b;
        ASSERT_TRUE(PlatSignalVect::mulPackInPlace(a.data(), inPlace.data(), n));
        EXPECT_EQ(inPlace, prod);
        std::vector<double> square = a, squareWant(n);
        PlatSignalVect::mulPack(a.data(), a.data(), squareWant.data(), n);
        ASSERT_TRUE(PlatSignalVect::mulPackInPlace(square.data(), square.data(), n));
        EXPECT_EQ(square, squareWant);
    }
}

TEST(PlatSignalVect, ConjPackLayout) {
    const std::vector<double> p = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<Ipp64fc> c(8);
    PlatSignalVect::conjPack(p.data(), c.data(), 8);
    const double want[8][2] = {{1, 0}, {2, 3}, {4, 5}, {6, 7}, {8, 0}, {6, -7}, {4, -5}, {2, -3}};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(c[k].re, want[k][0]) << k;
        EXPECT_EQ(c[k].im, want[k][1]) << k;
    }
    Ipp64fc one{9, 9};
    const double x = 5;
    PlatSignalVect::conjPack(&x, &one, 1);
    EXPECT_EQ(one.re, 5);
    EXPECT_EQ(one.im, 0);
}

TEST(PlatSignalVect, PackedProductIsCircularConvolution) {
    // The engine's use: forward both, multiply, inverse gives the circular convolution.
    const int order = 7, n = 1 << order;
    const std::vector<double> x = randomSignal(n, 5), h = randomSignal(n, 6);
    std::vector<double> want(n, 0.0);
    for (int t = 0; t < n; ++t)
        for (int j = 0; j < n; ++j) want[t] += x[j] * h[(t - j + n) % n];

    std::unique_ptr<PlatSignalFft<double>> fft(
        PlatSignalFft<double>::create(order, IPP_FFT_DIV_INV_BY_N));
    std::vector<double> X = x, H = h, Y(n);
    fft->forwardToPack(X.data(), X.data(), nullptr);
    fft->forwardToPack(H.data(), H.data(), nullptr);
    PlatSignalVect::mulPack(X.data(), H.data(), Y.data(), n);
    fft->inverseFromPack(Y.data(), Y.data(), nullptr);
    for (int t = 0; t < n; ++t) EXPECT_NEAR(Y[t], want[t], 1e-12) << t;

    // Float precision through the same path.
    std::vector<float> xf(x.begin(), x.end()), hf(h.begin(), h.end()), yf(n);
    std::unique_ptr<PlatSignalFft<float>> fftf(
        PlatSignalFft<float>::create(order, IPP_FFT_DIV_INV_BY_N));
    fftf->forwardToPack(xf.data(), xf.data(), nullptr);
    fftf->forwardToPack(hf.data(), hf.data(), nullptr);
    PlatSignalVect::mulPack(xf.data(), hf.data(), yf.data(), n);
    std::vector<float> inPlace = xf;
    ASSERT_TRUE(PlatSignalVect::mulPackInPlace(hf.data(), inPlace.data(), n));
    EXPECT_EQ(inPlace, yf);
    fftf->inverseFromPack(yf.data(), yf.data(), nullptr);
    for (int t = 0; t < n; ++t) EXPECT_NEAR(yf[t], want[t], 2e-5) << t;
}

TEST(PlatSignalVect, ComplexProductAndSumAgainstStdComplex) {
    const int n = 37;
    const std::vector<double> r = randomSignal(4 * n, 9);
    std::vector<Ipp64fc> a(n), b(n);
    std::vector<Ipp32fc> af(n), bf(n);
    for (int i = 0; i < n; ++i) {
        a[i] = {r[4 * i], r[4 * i + 1]};
        b[i] = {r[4 * i + 2], r[4 * i + 3]};
        af[i] = {float(a[i].re), float(a[i].im)};
        bf[i] = {float(b[i].re), float(b[i].im)};
    }
    std::vector<Ipp64fc> p = b;
    std::vector<Ipp32fc> pf = bf;
    ASSERT_TRUE(PlatSignalVect::mulComplexInPlace(a.data(), p.data(), n));
    ASSERT_TRUE(PlatSignalVect::mulComplexInPlace(af.data(), pf.data(), n));
    for (int i = 0; i < n; ++i) {
        const std::complex<double> want =
            std::complex<double>(a[i].re, a[i].im) * std::complex<double>(b[i].re, b[i].im);
        EXPECT_NEAR(p[i].re, want.real(), 1e-15);
        EXPECT_NEAR(p[i].im, want.imag(), 1e-15);
        EXPECT_NEAR(pf[i].re, want.real(), 1e-6);
        EXPECT_NEAR(pf[i].im, want.imag(), 1e-6);
    }

    std::vector<double> s = randomSignal(n, 10);
    const std::vector<double> d = randomSignal(n, 11);
    std::vector<double> sum = s;
    ASSERT_TRUE(PlatSignalVect::addInPlace(d.data(), sum.data(), n));
    for (int i = 0; i < n; ++i) EXPECT_EQ(sum[i], s[i] + d[i]);
    std::vector<float> sf(s.begin(), s.end()), df(d.begin(), d.end());
    ASSERT_TRUE(PlatSignalVect::addInPlace(df.data(), sf.data(), n));
    for (int i = 0; i < n; ++i) EXPECT_EQ(sf[i], float(s[i]) + float(d[i]));
}
