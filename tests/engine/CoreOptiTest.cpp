#include "engine/CoreOpti.h"

#include "engine/CoreDnrm.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Signal = std::vector<double>;

Signal randomSignal(std::mt19937& rng, int n) {
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    Signal s(static_cast<size_t>(n));
    for (double& v : s) v = d(rng);
    return s;
}

// Independent truth: y[n] = sum over k of h[k] x[n - k], the oldest input
// first, which is the order in which the ring receives the contributions.
Signal naive(const Signal& h, const Signal& x) {
    const int N = static_cast<int>(h.size());
    Signal y(x.size(), 0.0);
    for (int n = 0; n < static_cast<int>(x.size()); ++n) {
        double acc = 0.0;
        for (int k = N - 1; k >= 0; --k)
            if (n - k >= 0) acc += h[k] * x[n - k];
        y[n] = acc;
    }
    return y;
}

// Scale for relative comparisons: sum of |h[k] x[n - k]|.
double magnitude(const Signal& h, const Signal& x, int n) {
    double m = 0.0;
    for (int k = 0; k < static_cast<int>(h.size()); ++k)
        if (n - k >= 0) m += std::fabs(h[k] * x[n - k]);
    return m;
}

struct Stereo {
    Signal left;
    Signal right;
};

// Drives a kernel as the player does: a 3N ring per channel, position from N,
// set back to N at 2N before each call, advanced by the engine block after.
Stereo drive(CoreOpti::KERNEL kernel, int block, const Signal& hl, const Signal& hr,
             const Signal& xl, const Signal& xr, bool inPlace = false) {
    const int N = static_cast<int>(hl.size());
    Signal ringL(static_cast<size_t>(3 * N), 0.0), ringR(static_cast<size_t>(3 * N), 0.0);
    Stereo out{Signal(xl.size(), 0.0), Signal(xr.size(), 0.0)};
    if (inPlace) out = Stereo{xl, xr};
    int p = N;
    for (size_t k = 0; k + static_cast<size_t>(block) <= xl.size();
         k += static_cast<size_t>(block)) {
        if (p >= 2 * N) p = N;
        const double* inL = inPlace ? &out.left[k] : &xl[k];
        const double* inR = inPlace ? &out.right[k] : &xr[k];
        kernel(inL, inR, &out.left[k], &out.right[k], hl.data(), hr.data(), ringL.data(),
               ringR.data(), N, p, nullptr);
        p += block;
    }
    return out;
}

struct Engine {
    const char* name;
    CoreOpti::KERNEL kernel;
    int block;
};

const Engine kOneSample[] = {
    {"engine 0", &CoreOpti::cnvs0, 1},
    {"engine 1", &cnvs1, 1},
    {"engine 3", &CoreOpti::cnvs4, 1},
    {"engine 4", &cnvs5, 1},
};
const Engine kPairs[] = {
    {"engine 2", &CoreOpti::cnvs2, 2},
    {"engine 5", &CoreOpti::cnvs6, 2},
    {"two one-sample steps", &CoreOpti::cnvs3, 2},
};

TEST(CoreOptiDirect, OneSampleEnginesMatchNaiveConvolutionBitForBit) {
    std::mt19937 rng(11);
    for (int N : {1, 2, 5, 33}) {
        const Signal hl = randomSignal(rng, N), hr = randomSignal(rng, N);
        const int samples = 6 * N + 7; // several wraps of the ring position
        const Signal xl = randomSignal(rng, samples), xr = randomSignal(rng, samples);
        const Signal yl = naive(hl, xl), yr = naive(hr, xr);
        for (const Engine& e : kOneSample) {
            const Stereo out = drive(e.kernel, e.block, hl, hr, xl, xr);
            for (int n = 0; n < samples; ++n) {
                ASSERT_EQ(out.left[n], yl[n]) << e.name << " N=" << N << " n=" << n;
                ASSERT_EQ(out.right[n], yr[n]) << e.name << " N=" << N << " n=" << n;
            }
        }
    }
}

TEST(CoreOptiDirect, PairEnginesMatchNaiveConvolution) {
    std::mt19937 rng(12);
    for (int N : {2, 4, 34}) {
        const Signal hl = randomSignal(rng, N), hr = randomSignal(rng, N);
        const int samples = 6 * N + 8;
        const Signal xl = randomSignal(rng, samples), xr = randomSignal(rng, samples);
        const Signal yl = naive(hl, xl), yr = naive(hr, xr);
        for (const Engine& e : kPairs) {
            const Stereo out = drive(e.kernel, e.block, hl, hr, xl, xr);
            for (int n = 0; n < samples; ++n) {
                ASSERT_NEAR(out.left[n], yl[n], 1e-12 * magnitude(hl, xl, n))
                    << e.name << " N=" << N << " n=" << n;
                ASSERT_NEAR(out.right[n], yr[n], 1e-12 * magnitude(hr, xr, n))
                    << e.name << " N=" << N << " n=" << n;
            }
        }
        // The two packed forms differ only in schedule, not in values; the pair
        // built from one-sample steps is the one-sample arithmetic exactly.
        const Stereo e2 = drive(&CoreOpti::cnvs2, 2, hl, hr, xl, xr);
        const Stereo e5 = drive(&CoreOpti::cnvs6, 2, hl, hr, xl, xr);
        const Stereo e3 = drive(&CoreOpti::cnvs3, 2, hl, hr, xl, xr);
        for (int n = 0; n < samples; ++n) {
            ASSERT_EQ(e2.left[n], e5.left[n]) << n;
            ASSERT_EQ(e2.right[n], e5.right[n]) << n;
            ASSERT_EQ(e3.left[n], yl[n]) << n;
            ASSERT_EQ(e3.right[n], yr[n]) << n;
        }
    }
}

TEST(CoreOptiDirect, DelayAndIdentityKernelsAcrossTheWrap) {
    std::mt19937 rng(13);
    const int N = 6;
    const int samples = 7 * N;
    const Signal xl = randomSignal(rng, samples), xr = randomSignal(rng, samples);
    Signal identity(N, 0.0), delay(N, 0.0);
    identity[0] = 1.0;
    delay[1] = 1.0;
    std::vector<Engine> all(std::begin(kOneSample), std::end(kOneSample));
    all.insert(all.end(), std::begin(kPairs), std::end(kPairs));
    for (const Engine& e : all) {
        const Stereo same = drive(e.kernel, e.block, identity, identity, xl, xr);
        const Stereo late = drive(e.kernel, e.block, delay, delay, xl, xr);
        for (int n = 0; n < samples; ++n) {
            ASSERT_EQ(same.left[n], xl[n]) << e.name << " n=" << n;
            ASSERT_EQ(same.right[n], xr[n]) << e.name << " n=" << n;
            ASSERT_EQ(late.left[n], n > 0 ? xl[n - 1] : 0.0) << e.name << " n=" << n;
            ASSERT_EQ(late.right[n], n > 0 ? xr[n - 1] : 0.0) << e.name << " n=" << n;
        }
    }
}

TEST(CoreOptiDirect, InputAndOutputMayBeTheSameArray) {
    std::mt19937 rng(14);
    const int N = 8;
    const Signal hl = randomSignal(rng, N), hr = randomSignal(rng, N);
    const Signal xl = randomSignal(rng, 5 * N), xr = randomSignal(rng, 5 * N);
    std::vector<Engine> all(std::begin(kOneSample), std::end(kOneSample));
    all.insert(all.end(), std::begin(kPairs), std::end(kPairs));
    for (const Engine& e : all) {
        const Stereo apart = drive(e.kernel, e.block, hl, hr, xl, xr, false);
        const Stereo shared = drive(e.kernel, e.block, hl, hr, xl, xr, true);
        EXPECT_EQ(apart.left, shared.left) << e.name;
        EXPECT_EQ(apart.right, shared.right) << e.name;
    }
}

TEST(CoreOptiDirect, CallsTheRingCannotTakeWriteSilenceAndLeaveTheRing) {
    const double in[2] = {0.5, -0.25};
    double outL[2] = {9.0, 9.0}, outR[2] = {9.0, 9.0};
    // No kernel at all: nothing to read, nothing to write.
    for (const Engine& e : kOneSample) {
        outL[0] = outR[0] = 9.0;
        e.kernel(in, in, outL, outR, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr);
        EXPECT_EQ(outL[0], 0.0) << e.name;
        EXPECT_EQ(outR[0], 0.0) << e.name;
    }
    // An odd N reaches p = 2N - 1, where a pair would read past the ring.
    const Signal h = {1.0, 0.5, 0.25};
    Signal ring(9, 7.0);
    for (const Engine& e : kPairs) {
        for (int p : {3, 5}) {
            outL[0] = outL[1] = outR[0] = outR[1] = 9.0;
            e.kernel(in, in, outL, outR, h.data(), h.data(), ring.data(), ring.data(), 3, p,
                     nullptr);
            EXPECT_EQ(outL[0], 0.0) << e.name << " p=" << p;
            EXPECT_EQ(outR[1], 0.0) << e.name << " p=" << p;
        }
    }
    // A position outside N .. 2N - 1.
    for (const Engine& e : kOneSample) {
        e.kernel(in, in, outL, outR, h.data(), h.data(), ring.data(), ring.data(), 3, 6, nullptr);
        EXPECT_EQ(outL[0], 0.0) << e.name;
    }
    EXPECT_EQ(ring, Signal(9, 7.0));
}

TEST(CoreOptiDirect, CopyKernelPassesInputThrough) {
    const double inL[1] = {0.75}, inR[1] = {-0.5};
    double outL[1] = {0.0}, outR[1] = {0.0};
    CoreOpti::cnvs7(inL, inR, outL, outR, nullptr, nullptr, nullptr, nullptr, 4, 4, nullptr);
    EXPECT_EQ(outL[0], 0.75);
    EXPECT_EQ(outR[0], -0.5);
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

TEST(CoreOptiVector, KlladClearsZerosAndDenormalsOfEitherSign) {
    const double largestDenormal = std::bit_cast<double>(0x000FFFFFFFFFFFFFull);
    Signal v = {-0.0,    DBL_TRUE_MIN, -DBL_TRUE_MIN, largestDenormal, -largestDenormal,
                DBL_MIN, -DBL_MIN,     -1.5};
    double* p = v.data();
    EXPECT_EQ(kllad(static_cast<int>(v.size()), &p), 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(bits(v[i]), 0u) << i; // +0.0 exactly
    EXPECT_EQ(v[5], DBL_MIN);
    EXPECT_EQ(v[6], -DBL_MIN);
    EXPECT_EQ(v[7], -1.5);

    Signal w = {1.0, -DBL_TRUE_MIN};
    p = w.data();
    EXPECT_EQ(kllad(2, &p), 1023); // exponent bits of 1.0
    EXPECT_EQ(bits(w[1]), 0u);
    EXPECT_EQ(kllad(0, &p), 0);
}

TEST(CoreOptiVector, KlladHoldsUnderDenormalsAreZero) {
    Signal v = {DBL_TRUE_MIN, -0.0, DBL_MIN};
    double* p = v.data();
    {
        CoreDnrm scope;
        kllad(3, &p);
    }
    EXPECT_EQ(bits(v[0]), 0u);
    EXPECT_EQ(bits(v[1]), 0u);
    EXPECT_EQ(v[2], DBL_MIN);
}

TEST(CoreOptiVector, Mixr3WeightsGoWhereTheyBelong) {
    Signal dl = {1.0, 1.0}, dr = {10.0, 10.0};
    Signal sl = {2.0, 3.0}, sr = {5.0, 7.0};
    double *pdl = dl.data(), *pdr = dr.data(), *psl = sl.data(), *psr = sr.data();
    // a = c = 1, b = d = 0 is a plain add, left into left and right into right.
    mixr3(2, &pdl, &pdr, &psl, &psr, 1.0, 0.0, 1.0, 0.0);
    EXPECT_EQ(dl, (Signal{3.0, 4.0}));
    EXPECT_EQ(dr, (Signal{15.0, 17.0}));
    // left gets srcL*a + srcR*d, right gets srcL*b + srcR*c.
    dl = {0.0, 0.0};
    dr = {0.0, 0.0};
    mixr3(2, &pdl, &pdr, &psl, &psr, 2.0, 3.0, 5.0, 7.0);
    EXPECT_EQ(dl, (Signal{2.0 * 2 + 5.0 * 7, 3.0 * 2 + 7.0 * 7}));
    EXPECT_EQ(dr, (Signal{2.0 * 3 + 5.0 * 5, 3.0 * 3 + 7.0 * 5}));
    // mixr1 and mixr2 scale and add with one gain.
    mixr1(2, &pdl, &pdr, 0.5);
    EXPECT_EQ(dl, (Signal{19.5, 27.5}));
    mixr2(2, &pdl, &pdr, &psl, &psr, 2.0);
    EXPECT_EQ(dr, (Signal{15.5 + 10.0, 22.0 + 14.0}));
}

TEST(CoreOptiVector, MkefoScalesTheTailAndStaysInsideShortArrays) {
    Signal l = {1, 1, 1, 1, 1}, r = {2, 2, 2, 2, 2};
    const Signal w = {10, 20, 30, 40, 50, 60, 70};
    mkefo(5, 2, l.data(), r.data(), w.data());
    EXPECT_EQ(l, (Signal{1, 1, 1, 10, 20}));
    EXPECT_EQ(r, (Signal{2, 2, 2, 20, 40}));
    // t > n: the weights keep their places at the end; the ones before the
    // array have no value to scale.
    Signal a = {1, 1, 1}, b = {1, 1, 1};
    mkefo(3, 5, a.data(), b.data(), w.data());
    EXPECT_EQ(a, (Signal{30, 40, 50}));
    mkefo(3, 0, a.data(), b.data(), w.data());
    EXPECT_EQ(a, (Signal{30, 40, 50}));
}

TEST(CoreOptiVector, MaacfMatchesADoubleReference) {
    std::mt19937 rng(15);
    std::uniform_real_distribution<float> d(-2.0f, 2.0f);
    const int n = 37;
    std::vector<float> a(2 * n), b(2 * n), acc(2 * n);
    for (auto* v : {&a, &b, &acc})
        for (float& x : *v) x = d(rng);
    std::vector<std::complex<double>> ref(n);
    for (int k = 0; k < n; ++k)
        ref[k] = std::complex<double>(acc[2 * k], acc[2 * k + 1]) +
                 std::complex<double>(a[2 * k], a[2 * k + 1]) *
                     std::complex<double>(b[2 * k], b[2 * k + 1]);
    maacf(n, a.data(), b.data(), acc.data());
    for (int k = 0; k < n; ++k) {
        EXPECT_EQ(acc[2 * k], static_cast<float>(ref[k].real())) << k;
        EXPECT_EQ(acc[2 * k + 1], static_cast<float>(ref[k].imag())) << k;
    }
}

TEST(CoreOptiProbe, ProcessorProbes) {
#if defined(__x86_64__)
    EXPECT_TRUE(issm2()); // every x86-64 processor has SSE2
    EXPECT_GT(cpucd(), 0.0);
#else
    GTEST_SKIP() << "probes read x86 registers";
#endif
}

} // namespace
