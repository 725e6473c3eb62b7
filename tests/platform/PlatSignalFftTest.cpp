// Real FFTs in Pack and CCS layout against a naive DFT computed in long
// double, for every scaling flag, in and out of place, on misaligned arrays,
// with and without a caller work buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "platform/PlatSignalFft.h"
#include "platform/PlatSignalType.h"
#include "tests/support/Signals.h"

namespace {

using Cx = std::complex<long double>;

// Bin k of the unscaled forward DFT of x (e^-i convention). The angle uses
// (k t) mod n so the reference keeps full accuracy at large n.
Cx dftBin(const std::vector<double>& x, long k) {
    const long n = static_cast<long>(x.size());
    const long double pi = 3.141592653589793238462643383279502884L;
    Cx sum = 0;
    for (long t = 0; t < n; ++t) {
        const long double a = -2.0L * pi * static_cast<long double>((k * t) % n) / n;
        sum += static_cast<long double>(x[t]) * Cx(std::cos(a), std::sin(a));
    }
    return sum;
}

std::vector<Cx> dft(const std::vector<double>& x) {
    std::vector<Cx> out(x.size());
    for (std::size_t k = 0; k < x.size(); ++k) out[k] = dftBin(x, static_cast<long>(k));
    return out;
}

double forwardScale(int flag, int n) {
    if (flag == IPP_FFT_DIV_FWD_BY_N) return 1.0 / n;
    if (flag == IPP_FFT_DIV_BY_SQRTN) return 1.0 / std::sqrt(double(n));
    return 1.0;
}
double inverseScale(int flag, int n) {
    if (flag == IPP_FFT_DIV_INV_BY_N) return 1.0 / n;
    if (flag == IPP_FFT_DIV_BY_SQRTN) return 1.0 / std::sqrt(double(n));
    return 1.0;
}

// Expected Pack values from a full spectrum.
std::vector<double> packOf(const std::vector<Cx>& X, double scale) {
    const int n = static_cast<int>(X.size());
    std::vector<double> p(n);
    p[0] = double(X[0].real()) * scale;
    for (int k = 1; 2 * k < n; ++k) {
        p[2 * k - 1] = double(X[k].real()) * scale;
        p[2 * k] = double(X[k].imag()) * scale;
    }
    if (n >= 2) p[n - 1] = double(X[n / 2].real()) * scale;
    return p;
}

double maxAbs(const std::vector<double>& v) {
    double m = 0;
    for (double x : v) m = std::max(m, std::fabs(x));
    return m;
}

struct Aligned {
    // Frees memory from std::aligned_alloc.
    void operator()(void* p) const { std::free(p); }
};
// A 64-byte aligned block of count doubles plus one, so data() + 1 is
// 8 bytes off any 16-byte boundary.
std::unique_ptr<double, Aligned> alignedDoubles(int count) {
    const std::size_t bytes = ((count + 1) * sizeof(double) + 63) / 64 * 64;
    return std::unique_ptr<double, Aligned>(static_cast<double*>(std::aligned_alloc(64, bytes)));
}

const int kFlags[] = {IPP_FFT_DIV_FWD_BY_N, IPP_FFT_DIV_INV_BY_N, IPP_FFT_DIV_BY_SQRTN,
                      IPP_FFT_NODIV_BY_ANY};

} // namespace

TEST(PlatSignalFft, PackCcsAndRoundTripMatchNaiveDftForEveryFlag) {
    for (int order : {0, 1, 3, 6, 12}) {
        const int n = 1 << order;
        const std::vector<double> x = randomSignal(n, 100 + order);
        const std::vector<Cx> X = dft(x);
        for (int flag : kFlags) {
            SCOPED_TRACE("n=" + std::to_string(n) + " flag=" + std::to_string(flag));
            std::unique_ptr<PlatSignalFft<double>> fft(PlatSignalFft<double>::create(order, flag));
            ASSERT_NE(fft, nullptr);
            EXPECT_EQ(fft->size(), n);
            EXPECT_EQ(fft->order(), order);
            EXPECT_EQ(fft->flag(), flag);
            const double fs = forwardScale(flag, n);
            const std::vector<double> want = packOf(X, fs);
            const double tol = 1e-12 * std::max(1.0, maxAbs(want));

            std::vector<double> pack(n);
            fft->forwardToPack(x.data(), pack.data(), nullptr);
            for (int i = 0; i < n; ++i) EXPECT_NEAR(pack[i], want[i], tol) << "pack " << i;

            std::vector<double> ccs(n + 2, 99.0);
            fft->forwardToCcs(x.data(), ccs.data(), nullptr);
            for (int k = 0; k <= n / 2; ++k) {
                EXPECT_NEAR(ccs[2 * k], double(X[k].real()) * fs, tol) << "ccs re " << k;
                EXPECT_NEAR(ccs[2 * k + 1], (k == 0 || 2 * k == n) ? 0.0 : double(X[k].imag()) * fs,
                            tol)
                    << "ccs im " << k;
            }

            // Inverse of forward gives x times the product of the two scalings.
            const double both = fs * inverseScale(flag, n);
            std::vector<double> back(n);
            fft->inverseFromPack(pack.data(), back.data(), nullptr);
            // An unscaled pair multiplies by n.
            for (int i = 0; i < n; ++i)
                EXPECT_NEAR(back[i], x[i] * both * n, 1e-12 * n) << "pack back " << i;
            std::vector<double> back2(n);
            fft->inverseFromCcs(ccs.data(), back2.data(), nullptr);
            for (int i = 0; i < n; ++i)
                EXPECT_NEAR(back2[i], back[i], 1e-12 * n) << "ccs back " << i;
        }
    }
}

TEST(PlatSignalFft, InverseMatchesNaiveSynthesisAndIgnoresCcsEndImaginaries) {
    // An independent check of the inverse: synthesise x from a random Pack spectrum.
    const int order = 6, n = 1 << order;
    const std::vector<double> pack = randomSignal(n, 11);
    std::vector<double> want(n);
    const long double pi = 3.141592653589793238462643383279502884L;
    for (int t = 0; t < n; ++t) {
        long double s = pack[0] + pack[n - 1] * ((t % 2) ? -1.0L : 1.0L);
        for (int k = 1; k < n / 2; ++k) {
            const long double a = 2.0L * pi * ((k * t) % n) / n;
            s += 2.0L * (pack[2 * k - 1] * std::cos(a) - pack[2 * k] * std::sin(a));
        }
        want[t] = double(s / n);
    }
    std::unique_ptr<PlatSignalFft<double>> fft(
        PlatSignalFft<double>::create(order, IPP_FFT_DIV_INV_BY_N));
    std::vector<double> got(n);
    fft->inverseFromPack(pack.data(), got.data(), nullptr);
    for (int t = 0; t < n; ++t) EXPECT_NEAR(got[t], want[t], 1e-14);

    std::vector<double> ccs(n + 2);
    ccs[0] = pack[0];
    ccs[1] = 123.0; // must be ignored
    for (int i = 1; i < n - 1; ++i) ccs[i + 1] = pack[i];
    ccs[n] = pack[n - 1];
    ccs[n + 1] = -77.0; // must be ignored
    fft->inverseFromCcs(ccs.data(), ccs.data(), nullptr);
    for (int t = 0; t < n; ++t) EXPECT_NEAR(ccs[t], want[t], 1e-14);
}

TEST(PlatSignalFft, PackMatchesDftAtEveryPowerOfTwoUpTo65536) {
    for (int order = 1; order <= 16; ++order) {
        const int n = 1 << order;
        const std::vector<double> x = randomSignal(n, 500 + order);
        std::unique_ptr<PlatSignalFft<double>> fft(
            PlatSignalFft<double>::create(order, IPP_FFT_DIV_INV_BY_N));
        ASSERT_NE(fft, nullptr);
        std::vector<double> pack(n);
        fft->forwardToPack(x.data(), pack.data(), nullptr);
        // All bins up to 1024 points; above, a spread of bins including both ends.
        std::vector<long> bins;
        if (n <= 1024) {
            for (long k = 0; k <= n / 2; ++k) bins.push_back(k);
        } else {
            for (long k : {0L, 1L, 2L, 3L, long(n / 2 - 1), long(n / 2)}) bins.push_back(k);
            std::mt19937 gen(order);
            for (int i = 0; i < 24; ++i) bins.push_back(1 + long(gen() % (n / 2 - 1)));
        }
        double worst = 0, peak = 0;
        for (long k : bins) {
            const Cx want = dftBin(x, k);
            const double re = (k == 0) ? pack[0] : (2 * k == n) ? pack[n - 1] : pack[2 * k - 1];
            const double im = (k == 0 || 2 * k == n) ? 0.0 : pack[2 * k];
            worst = std::max(worst, double(std::abs(Cx(re, im) - want)));
            peak = std::max(peak, double(std::abs(want)));
        }
        EXPECT_LT(worst / peak, 1e-12) << "n=" << n;
    }
}

TEST(PlatSignalFft, InPlaceOnMisalignedArraysAndWithWorkBufferGivesSameValues) {
    const int order = 9, n = 1 << order;
    const std::vector<double> x = randomSignal(n, 3);
    std::unique_ptr<PlatSignalFft<double>> fft(
        PlatSignalFft<double>::create(order, IPP_FFT_DIV_INV_BY_N));
    std::vector<double> ref(n);
    fft->forwardToPack(x.data(), ref.data(), nullptr);

    auto block = alignedDoubles(n + 2);
    double* off = block.get() + 1; // 8 bytes past a 64-byte boundary
    std::copy(x.begin(), x.end(), off);
    fft->forwardToPack(off, off, nullptr);
    for (int i = 0; i < n; ++i) ASSERT_NEAR(off[i], ref[i], 1e-12 * n) << i;
    fft->inverseFromPack(off, off, nullptr);
    for (int i = 0; i < n; ++i) ASSERT_NEAR(off[i], x[i], 1e-13) << i;

    // A caller buffer that starts off any boundary is aligned inside.
    const int bytes = fft->bufferBytes();
    ASSERT_GT(bytes, int(sizeof(double) * n));
    std::vector<unsigned char> work(bytes + 3);
    std::copy(x.begin(), x.end(), off);
    fft->forwardToPack(off, off, work.data() + 3);
    for (int i = 0; i < n; ++i) ASSERT_NEAR(off[i], ref[i], 1e-12 * n) << i;
    fft->inverseFromPack(off, off, work.data() + 3);
    for (int i = 0; i < n; ++i) ASSERT_NEAR(off[i], x[i], 1e-13) << i;

    // CCS inverse in place on a misaligned array.
    std::vector<double> ccs(n + 2);
    fft->forwardToCcs(x.data(), ccs.data(), nullptr);
    std::copy(ccs.begin(), ccs.end(), off);
    fft->inverseFromCcs(off, off, work.data() + 3);
    for (int i = 0; i < n; ++i) ASSERT_NEAR(off[i], x[i], 1e-13) << i;
}

TEST(PlatSignalFft, FloatPrecisionMatchesDft) {
    for (int order : {0, 1, 3, 6, 10}) {
        const int n = 1 << order;
        const std::vector<double> xd = randomSignal(n, 40 + order);
        const std::vector<float> x(xd.begin(), xd.end());
        std::vector<double> xr(x.begin(), x.end()); // the float values, exactly
        const std::vector<double> want = packOf(dft(xr), 1.0);
        std::unique_ptr<PlatSignalFft<float>> fft(
            PlatSignalFft<float>::create(order, IPP_FFT_DIV_INV_BY_N));
        ASSERT_NE(fft, nullptr);
        std::vector<float> v = x;
        fft->forwardToPack(v.data(), v.data(), nullptr);
        const double tol = 1e-5 * std::max(1.0, maxAbs(want));
        for (int i = 0; i < n; ++i) EXPECT_NEAR(v[i], want[i], tol) << "n=" << n << " i=" << i;
        fft->inverseFromPack(v.data(), v.data(), nullptr);
        for (int i = 0; i < n; ++i) EXPECT_NEAR(v[i], x[i], 1e-5) << "n=" << n << " i=" << i;
        EXPECT_EQ(fft->size(), n);
        EXPECT_EQ(fft->order(), order);
        EXPECT_EQ(fft->flag(), IPP_FFT_DIV_INV_BY_N);

        // CCS both ways, through a caller work buffer: the Pack bins with zero
        // imaginaries at both ends.
        std::vector<unsigned char> work(fft->bufferBytes());
        std::vector<float> ccs(n + 2, 99.0f);
        fft->forwardToCcs(x.data(), ccs.data(), work.data());
        for (int k = 0; 2 * k <= n; ++k) {
            const bool end = k == 0 || 2 * k == n;
            EXPECT_NEAR(ccs[2 * k], want[k == 0 ? 0 : end ? n - 1 : 2 * k - 1], tol) << k;
            EXPECT_NEAR(ccs[2 * k + 1], end ? 0.0 : want[2 * k], tol) << k;
        }
        fft->inverseFromCcs(ccs.data(), ccs.data(), work.data());
        for (int i = 0; i < n; ++i) EXPECT_NEAR(ccs[i], x[i], 1e-5) << "n=" << n << " i=" << i;
    }
}
