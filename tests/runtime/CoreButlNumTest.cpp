// Numeric and signal routines of CoreButl, checked against direct formulas,
// a naive DFT and hand-worked values.

#include "runtime/CoreButl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;

TEST(CoreButlNum, PowersOfTwo) {
    EXPECT_EQ(CoreButl::getp2(0), 1);
    EXPECT_EQ(CoreButl::getp2(1), 2);
    EXPECT_EQ(CoreButl::getp2(2), 2);
    EXPECT_EQ(CoreButl::getp2(3), 4);
    EXPECT_EQ(CoreButl::getp2(5), 8);
    EXPECT_EQ(CoreButl::getp2(1000), 1024);
    EXPECT_EQ(CoreButl::getp2(1024), 1024);
    EXPECT_EQ(CoreButl::getp2(-5), 1); // guarded caller fault
    EXPECT_GT(CoreButl::getp2(std::numeric_limits<int>::max()), 0);
    EXPECT_EQ(CoreButl::geto2(0), 0);
    EXPECT_EQ(CoreButl::geto2(1), 1);
    EXPECT_EQ(CoreButl::geto2(4), 2);
    EXPECT_EQ(CoreButl::geto2(5), 3);
    EXPECT_EQ(CoreButl::geto2(1000), 10);
    // geto2 is the exponent of getp2 for every n.
    for (int n = 0; n < 5000; ++n) EXPECT_EQ(1 << CoreButl::geto2(n), CoreButl::getp2(n)) << n;
    EXPECT_FALSE(CoreButl::ispo2(1));
    EXPECT_TRUE(CoreButl::ispo2(2));
    EXPECT_FALSE(CoreButl::ispo2(6));
    EXPECT_EQ(CoreButl::nrobn(12), 2);
    EXPECT_EQ(CoreButl::nrobn(7), 0);
    EXPECT_EQ(CoreButl::revbt(1, 3), 4u);
    EXPECT_EQ(CoreButl::revbt(6, 3), 3u);
    EXPECT_EQ(CoreButl::revbt(5, 0), 0u);
}

TEST(CoreButlNum, MultiplesAndTimes) {
    EXPECT_EQ(CoreButl::setmn(10, 4), 12);
    EXPECT_EQ(CoreButl::setmn(12, 4), 12);
    EXPECT_EQ(CoreButl::setmn(10, 1), 10);
    EXPECT_EQ(CoreButl::setmn(0, 4), 0);
    EXPECT_EQ(CoreButl::setmn(-3, 4), -3);
    EXPECT_EQ(CoreButl::tpfup(44100, 1000), 44);
    EXPECT_EQ(CoreButl::tpfup(44100, 0), 0);
    EXPECT_EQ(CoreButl::tpfup(44100, -7), -7);
    EXPECT_EQ(CoreButl::tpfup(48000, 1000000), 48000);
    EXPECT_DOUBLE_EQ(CoreButl::tpfud(44100, 1000), 44.1);
    EXPECT_DOUBLE_EQ(CoreButl::upftp(44100, 44100), 1e6);
    EXPECT_DOUBLE_EQ(CoreButl::upftp(0, 123), 123.0);
}

TEST(CoreButlNum, ConstantsAgreeWithTheirDefinitions) {
    EXPECT_DOUBLE_EQ(CoreButl::dCdbfact, 1.0 / 192.64);
    EXPECT_DOUBLE_EQ(CoreButl::dCmidifactor, 1.0 / 127.0);
    EXPECT_DOUBLE_EQ(CoreButl::dCsqrt2, std::sqrt(2.0));
    EXPECT_NEAR(static_cast<double>(CoreButl::dClog2fact * std::log(2.0L)), 1.0, 1e-18);
    EXPECT_EQ(CoreButl::iCsmphprecision, 1);
    EXPECT_EQ(CoreButl::iCdefaultrate, 44100);
    EXPECT_EQ(CoreButl::bCversionseparator, '_');
}

TEST(CoreButlNum, SubnormalsFlushToPositiveZero) {
    double sub = std::numeric_limits<double>::denorm_min();
    EXPECT_EQ(CoreButl::flushSubnormal(sub), 0.0);
    EXPECT_FALSE(std::signbit(CoreButl::flushSubnormal(-0.0)));
    EXPECT_FALSE(std::signbit(CoreButl::flushSubnormal(-sub)));
    double smallest = std::numeric_limits<double>::min();
    EXPECT_EQ(CoreButl::flushSubnormal(smallest), smallest);
    EXPECT_EQ(CoreButl::lindb(0.0), CoreButl::dCdbmin);
    EXPECT_EQ(CoreButl::lindb(-1.0), CoreButl::dCdbmin);
    EXPECT_EQ(CoreButl::lindb(sub), CoreButl::dCdbmin);
    EXPECT_EQ(CoreButl::lindb(1e-20), CoreButl::dCdbmin);
    EXPECT_NEAR(CoreButl::lindb(0.5), 20.0 * std::log10(0.5), 1e-12);
}

TEST(CoreButlNum, PeaksAndCopies) {
    double buf[] = {0.1, -0.9, 0.9, 0.3};
    EXPECT_DOUBLE_EQ(CoreButl::getgn(buf, 0, 4), 0.9);
    EXPECT_DOUBLE_EQ(CoreButl::getgn(buf, 3, 1), 0.3);
    EXPECT_EQ(CoreButl::getgn(buf, 0, 0), 0.0);
    EXPECT_EQ(CoreButl::getpk(buf, 0, 4), 1); // first of equals
    EXPECT_EQ(CoreButl::getpk(buf, 2, 2), 2); // counted from the buffer start
    EXPECT_EQ(CoreButl::getpk(buf, 0, 0), 0);
    EXPECT_EQ(CoreButl::getsg(buf, 4), -1);
    double* channels[] = {buf, buf + 2};
    EXPECT_DOUBLE_EQ(CoreButl::getgn(channels, 1, 1, 1), 0.3);

    double dst[5] = {9, 9, 9, 9, 9};
    CoreButl::movp0(5, 2, dst, buf);
    EXPECT_EQ(dst[0], 0.1);
    EXPECT_EQ(dst[1], -0.9);
    EXPECT_EQ(dst[2], 0.0);
    EXPECT_EQ(dst[4], 0.0);

    double src[] = {1, 2, 3, 4, 5};
    double out[4] = {7, 7, 7, 7};
    CoreButl::mvwav(src, 5, 1, out, 4, 2); // src[1] lands on out[2]
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[1], 1.0);
    EXPECT_EQ(out[2], 2.0);
    EXPECT_EQ(out[3], 3.0);
}

TEST(CoreButlNum, LinearAndComplementFades) {
    double r[5];
    CoreButl::fdecc(5, r);
    for (int i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(r[i], i / 4.0);
    double one[1] = {5.0};
    CoreButl::fdecc(1, one);
    EXPECT_EQ(one[0], 0.0);
    CoreButl::cfdcc(5, r);
    EXPECT_DOUBLE_EQ(r[0], 1.0);
    EXPECT_EQ(r[4], 0.0);
    EXPECT_FALSE(std::signbit(r[4]));
    double tiny[1] = {1.0 - 1e-310}; // rounds to 1, complement 0
    CoreButl::cfdcc(1, tiny);
    EXPECT_EQ(tiny[0], 0.0);
}

TEST(CoreButlNum, OrderFades) {
    double f[3];
    CoreButl::fdecc(3, f, 2, false);
    EXPECT_DOUBLE_EQ(f[0], 1.0);
    EXPECT_DOUBLE_EQ(f[1], 0.25);
    EXPECT_EQ(f[2], 0.0);
    CoreButl::fdecc(3, f, 3, true);
    EXPECT_DOUBLE_EQ(f[1], 0.125);
    CoreButl::fdecc(3, f, 1, true);
    EXPECT_DOUBLE_EQ(f[1], 0.5);
    CoreButl::fdecc(3, f, 0, false);
    EXPECT_DOUBLE_EQ(f[1], 0.5);

    double g[11];
    CoreButl::fdecc(11, g, 20, true);
    EXPECT_NEAR(g[0], 1e-5, 1e-18);
    EXPECT_DOUBLE_EQ(g[10], 1.0);
    EXPECT_NEAR(g[5], std::pow(10.0, -50.0 / 20.0), 1e-15);
    CoreButl::fdecc(11, g, 22, false); // level curve squared
    EXPECT_DOUBLE_EQ(g[0], 1.0);
    EXPECT_NEAR(g[10], 1e-10, 1e-22);

    // A high power drives the tail into the subnormal range: stored as +0.
    std::vector<double> h(200);
    CoreButl::fdecc(200, h.data(), 19, true);
    for (double v : h) EXPECT_TRUE(v == 0.0 || std::fabs(v) >= std::numeric_limits<double>::min());

    // One sample: finite, no division by zero.
    for (short order : {0, 2, 20, 25}) {
        double s[1] = {0.0};
        CoreButl::fdecc(1, s, order, false);
        EXPECT_TRUE(std::isfinite(s[0])) << order;
    }
}

double directWindow(int type, int i, int n) {
    double x = kPi * i / (n - 1);
    switch (type) {
    case 0: return 0.5 * (1 - std::cos(2 * x));
    case 1: return 0.53836 - 0.46164 * std::cos(2 * kPi * i / (n + 1));
    case 2:
        return 1 - 1.93 * std::cos(2 * x) + 1.29 * std::cos(4 * x) - 0.388 * std::cos(6 * x) +
               0.032 * std::cos(8 * x);
    case 3:
        return 0.3635819 - 0.4891775 * std::cos(2 * x) + 0.1365995 * std::cos(4 * x) -
               0.0106411 * std::cos(6 * x);
    default: {
        double sum = 0;
        for (int k = 0; k < 11; ++k)
            sum += (k % 2 ? -1 : 1) * CoreButl::dCalbrecht[k] * std::cos(2 * k * x);
        return sum;
    }
    }
}

TEST(CoreButlNum, WindowsMatchTheirFormulas) {
    double hann[5] = {1, 1, 1, 1, 1};
    CoreButl::windw(hann, 5, 0);
    double expected[5] = {0, 0.5, 1, 0.5, 0};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(hann[i], expected[i], 1e-15);

    for (short type = 0; type <= 4; ++type) {
        double w[8];
        for (int i = 0; i < 8; ++i) w[i] = 2.0;
        CoreButl::windw(w, 8, type);
        for (int i = 0; i < 8; ++i)
            EXPECT_NEAR(w[i], 2.0 * directWindow(type, i, 8), 1e-12) << type;
    }
    // Albrecht peaks at about 1 in the middle of an odd window.
    double a[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    CoreButl::windw(a, 9, 4);
    EXPECT_NEAR(a[4], 1.0, 1e-6);

    double untouched[3] = {1, 2, 3};
    CoreButl::windw(untouched, 3, 5);
    EXPECT_EQ(untouched[2], 3.0);

    for (short type = 0; type <= 4; ++type) {
        double s[1] = {1.0};
        CoreButl::windw(s, 1, type);
        EXPECT_TRUE(std::isfinite(s[0])) << type;
    }
}

TEST(CoreButlNum, NoiseStaysInRangeAndSpreads) {
    std::vector<double> n(4000);
    CoreButl::whtns(n.data(), 4000, 0.5);
    double lo = 1, hi = -1, sum = 0;
    for (double v : n) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        sum += v;
    }
    EXPECT_GE(lo, -0.5 * 32766.0 / 32767.0 - 1e-12);
    EXPECT_LE(hi, 0.5 * 32772.0 / 32767.0);
    EXPECT_LT(lo, -0.4);
    EXPECT_GT(hi, 0.4);
    EXPECT_NEAR(sum / 4000, 0.0, 0.05);
}

TEST(CoreButlNum, TaperKeepsAFlatResponseFlat) {
    std::vector<double> m(64, 0.25);
    CoreButl::fixbd(m.data(), 64, 0.1, 0);
    for (double v : m) EXPECT_NEAR(v, 0.25, 1e-12);
    std::vector<double> r(64, 0.25);
    CoreButl::fixbd(r.data(), 64, 0.1, 500); // reference past the end: band mean
    for (double v : r) EXPECT_NEAR(v, 0.25, 1e-12);
}

TEST(CoreButlNum, TaperPullsTheEndsToTheReference) {
    int n = 64;
    std::vector<double> m(n, 1.0);
    m[0] = 0.001;
    m[63] = 0.001;
    m[10] = 0.5; // reference bin
    CoreButl::fixbd(m.data(), n, 0.1, 10);
    double T = 0.5 * n * 0.1;      // 3.2: last 3 bins, low end B = 25.6
    EXPECT_NEAR(m[0], 0.5, 1e-12); // bin 0 takes the reference level
    double d = 20 * std::log10(0.001), R = 20 * std::log10(0.5);
    double level = d - (d - R) * (-1 + T) / T;
    EXPECT_NEAR(m[63], std::pow(10.0, level / 20), 1e-12);
    EXPECT_NEAR(m[40], 1.0, 1e-12); // middle untouched
    double B = 8 * T;
    double l20 = 0.0 - (0.0 - R) * (B - 20) / B;
    EXPECT_NEAR(m[20], std::pow(10.0, l20 / 20), 1e-12);
}

void naiveDft(int n, int inverse, std::vector<double> const& re, std::vector<double> const& im,
              std::vector<double>& oRe, std::vector<double>& oIm) {
    oRe.assign(n, 0);
    oIm.assign(n, 0);
    double sign = inverse ? 1 : -1;
    for (int k = 0; k < n; ++k) {
        std::complex<double> s = 0;
        for (int t = 0; t < n; ++t)
            s += std::complex<double>(re[t], im[t]) * std::polar(1.0, sign * 2 * kPi * k * t / n);
        if (inverse) s /= n;
        oRe[k] = s.real();
        oIm[k] = s.imag();
    }
}

TEST(CoreButlNum, FftAgreesWithANaiveDft) {
    for (int n : {2, 8, 64, 256}) {
        std::vector<double> re(n), im(n), fr(n), fi(n), dr, di;
        for (int i = 0; i < n; ++i) {
            re[i] = std::sin(0.37 * i) + 0.1 * i;
            im[i] = std::cos(1.3 * i * i);
        }
        for (int inverse : {0, 1}) {
            CoreButl::fftdb(n, inverse, re.data(), im.data(), fr.data(), fi.data());
            naiveDft(n, inverse, re, im, dr, di);
            for (int k = 0; k < n; ++k) {
                EXPECT_NEAR(fr[k], dr[k], 1e-9 * n) << n << " " << k;
                EXPECT_NEAR(fi[k], di[k], 1e-9 * n) << n << " " << k;
            }
        }
        // Forward then inverse gives the input back; a null imaginary part is zeros.
        std::vector<double> zr(n), zi(n), br(n), bi(n);
        CoreButl::fftdb(n, 0, re.data(), nullptr, zr.data(), zi.data());
        CoreButl::fftdb(n, 1, zr.data(), zi.data(), br.data(), bi.data());
        for (int k = 0; k < n; ++k) {
            EXPECT_NEAR(br[k], re[k], 1e-10 * n);
            EXPECT_NEAR(bi[k], 0.0, 1e-10 * n);
        }
    }
}

TEST(CoreButlNum, FftRefusesOtherLengths) {
    double a[6] = {}, b[6] = {}, c[6] = {};
    EXPECT_THROW(CoreButl::fftdb(6, 0, a, b, c, b), CoreAnsx);
    EXPECT_THROW(CoreButl::fftdb(1, 0, a, b, c, b), CoreAnsx);
    EXPECT_THROW(CoreButl::fftdb(0, 0, a, b, c, b), CoreAnsx);
}

TEST(CoreButlNum, SampleDecoding) {
    char s16[] = {0x00, static_cast<char>(0x80)};
    EXPECT_DOUBLE_EQ(CoreButl::dbfch(s16, 0, 2), -32768.0 / 32767.0);
    char s16b[] = {static_cast<char>(0xFF), 0x7F};
    EXPECT_DOUBLE_EQ(CoreButl::dbfch(s16b, 0, 2), 1.0);
    char u8[] = {0x11, static_cast<char>(0x80), static_cast<char>(0xFF), 0x00};
    EXPECT_EQ(CoreButl::dbfch(u8, 1, 1), 0.0);
    EXPECT_DOUBLE_EQ(CoreButl::dbfch(u8, 2, 1), 1.0);
    EXPECT_DOUBLE_EQ(CoreButl::dbfch(u8, 3, 1), -128.0 / 127.0);
    char s24[] = {0x00, 0x00, 0x00, static_cast<char>(0x80)}; // offset 1: 0x800000
    EXPECT_DOUBLE_EQ(CoreButl::dbfch(s24, 1, 3), -8388608.0 / 8388607.0);
    char s24b[] = {0x01, 0x00, 0x00};
    EXPECT_DOUBLE_EQ(CoreButl::dbfch(s24b, 0, 3), 1.0 / 8388607.0);
    char f32[4];
    float v = -0.375f;
    std::memcpy(f32, &v, 4);
    EXPECT_EQ(CoreButl::dbfch(f32, 0, 4), -0.375);
}

TEST(CoreButlNum, SampleStoringRoundTrips) {
    char buf[16] = {};
    CoreButl::chfdb(0.1, buf, 3, true);
    double d;
    std::memcpy(&d, buf + 3, 8);
    EXPECT_EQ(d, 0.1);
    CoreButl::chfdb(0.1, buf, 1, false);
    EXPECT_EQ(CoreButl::dbfch(buf, 1, 4), static_cast<double>(0.1f));
    CoreButl::chffl(0.5f, buf, 0, true);
    std::memcpy(&d, buf, 8);
    EXPECT_EQ(d, 0.5);
    CoreButl::wrfwv("RIFF", buf + 8);
    EXPECT_EQ(std::memcmp(buf + 8, "RIFF", 4), 0);
}

TEST(CoreButlNum, TableInterpolation) {
    double t[] = {10, 20, 40, 80};
    double next = 0;
    EXPECT_DOUBLE_EQ(CoreButl::envsv(1.5, 4, t, 1.0, next, false), 30.0);
    EXPECT_EQ(next, 40.0);
    EXPECT_DOUBLE_EQ(CoreButl::envsv(-2.0, 4, t, 1.0, next, false), 10.0);
    EXPECT_EQ(next, 10.0);
    EXPECT_DOUBLE_EQ(CoreButl::envsv(9.0, 4, t, 1.0, next, false), 80.0);
    EXPECT_EQ(next, 80.0);
    // skipFirst shifts by one entry: position 0.5 lies between t[1] and t[2].
    EXPECT_DOUBLE_EQ(CoreButl::envsv(0.5, 4, t, 1.0, next, true), 30.0);
    EXPECT_DOUBLE_EQ(CoreButl::envsv(-0.5, 4, t, 1.0, next, true), 20.0);
    EXPECT_EQ(next, 20.0);
    EXPECT_DOUBLE_EQ(CoreButl::envsv(3.0, 8, t, 2.0, next, false), 30.0); // step 2
    EXPECT_DOUBLE_EQ(CoreButl::envsv(1e300, 4, t, 1.0, next, false), 80.0);
    // The inverse lookups find the fractional index back.
    EXPECT_DOUBLE_EQ(CoreButl::envst(30.0, 4, t, 2.0, false), 3.0);
    EXPECT_DOUBLE_EQ(CoreButl::envst(99.0, 4, t, 2.0, false), 8.0);
    std::vector<double> rising(40);
    for (int i = 0; i < 40; ++i) rising[i] = i * 3.0;
    EXPECT_DOUBLE_EQ(CoreButl::enste(100.5, 40, rising.data(), 1.0, false), 33.5);
    std::vector<double> falling(40);
    for (int i = 0; i < 40; ++i) falling[i] = 100.0 - i;
    EXPECT_DOUBLE_EQ(CoreButl::enste(70.25, 40, falling.data(), 1.0, true), 29.75);
    EXPECT_EQ(CoreButl::lsswt(100, 10000, 1000, 10), 5);
}

std::vector<double> inorder(CoreButl::VECTORELEMENT const* node) {
    if (node == nullptr) return {};
    std::vector<double> out = inorder(node->left);
    out.push_back(node->position);
    std::vector<double> right = inorder(node->right);
    out.insert(out.end(), right.begin(), right.end());
    return out;
}

int depth(CoreButl::VECTORELEMENT const* node) {
    return node == nullptr ? 0 : 1 + std::max(depth(node->left), depth(node->right));
}

TEST(CoreButlNum, KernelTree) {
    using E = CoreButl::VECTORELEMENT;
    E three[] = {{3, 0.3, 0, nullptr, nullptr},
                 {1, 0.1, 1, nullptr, nullptr},
                 {2, 0.2, 2, nullptr, nullptr}};
    E* root = CoreButl::btini(three, 3);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->position, 2.0);
    EXPECT_EQ(root->index, 2); // whole elements moved
    EXPECT_EQ(root->readback, 0.2);
    ASSERT_NE(root->left, nullptr);
    ASSERT_NE(root->right, nullptr);
    EXPECT_EQ(root->left->position, 1.0);
    EXPECT_EQ(root->right->position, 3.0);
    EXPECT_EQ(root->left->left, nullptr);

    E dup[] = {{1, 0, 0, nullptr, nullptr},
               {2, 0, 1, nullptr, nullptr},
               {2, 0, 2, nullptr, nullptr},
               {3, 0, 3, &dup[0], &dup[0]}};
    root = CoreButl::btini(dup, 4);
    EXPECT_EQ(inorder(root), (std::vector<double>{1, 2}));
    EXPECT_EQ(dup[3].left, nullptr); // children cleared even outside the tree

    std::vector<E> many(100);
    for (int i = 0; i < 100; ++i)
        many[i] = {static_cast<double>((i * 37) % 100), 0, i, nullptr, nullptr};
    root = CoreButl::btini(many.data(), 100);
    std::vector<double> sorted = inorder(root);
    ASSERT_EQ(sorted.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(sorted[i], i);
    EXPECT_LE(depth(root), 7);
    EXPECT_EQ(CoreButl::btini(many.data(), 0), nullptr);
}

} // namespace
