#include "engine/CoreOpti.h"

#include "runtime/CoreButl.h"

#include <bit>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <emmintrin.h>
#include <x86intrin.h>
#define COREOPTI_X86 1
#endif

namespace {

// Positions a one-sample call may use: p and p + N must lie inside 3N.
inline bool oneSampleFits(int N, int p) { return N >= 1 && p >= N && p <= 2 * N - 1; }

// The pair kernels read out at p + 1 and clear p + 1 + N, so p stops at 2N - 2;
// they walk the taps in pairs, so N is even.
inline bool pairFits(int N, int p) { return N >= 2 && (N & 1) == 0 && p >= N && p <= 2 * N - 2; }

// Reads the output at q and starts the slot afresh in both copies.
inline double takeOutput(double* ring, int N, int q) {
    const double y = ring[q];
    ring[q] = 0.0;
    ring[q + N] = 0.0;
    return y;
}

// One-sample step on both channels in one loop, taps descending.
inline void stereoDescending(const double* inL, const double* inR, double* outL, double* outR,
                             const double* hl, const double* hr, double* ringL, double* ringR,
                             int N, int p) {
    if (!oneSampleFits(N, p)) {
        outL[0] = 0.0;
        outR[0] = 0.0;
        return;
    }
    const double xl = inL[0];
    const double xr = inR[0];
    double* upL = ringL + p;
    double* loL = ringL + p - N;
    double* upR = ringR + p;
    double* loR = ringR + p - N;
    for (int j = N - 1; j >= 0; --j) {
        const double sl = upL[j] + hl[j] * xl;
        upL[j] = sl;
        loL[j] = sl;
        const double sr = upR[j] + hr[j] * xr;
        upR[j] = sr;
        loR[j] = sr;
    }
    outL[0] = takeOutput(ringL, N, p);
    outR[0] = takeOutput(ringR, N, p);
}

// Steps 2 to 4 of the pair kernels, after the taps were accumulated: output 0,
// the part of x1 that falls one sample past the kernel window, output 1.
inline void finishPair(double* out, const double* h, double* ring, int N, int p, double x1) {
    const double y0 = takeOutput(ring, N, p);
    const double tail = ring[p + N] + h[N - 1] * x1;
    ring[p + N] = tail;
    ring[p] = tail;
    const double y1 = takeOutput(ring, N, p + 1);
    out[0] = y0;
    out[1] = y1;
}

} // namespace

void CoreOpti::cnvs0(const double* inL, const double* inR, double* outL, double* outR,
                     const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                     int p, CoreCnvl::FFTEXTENSION*) {
    if (!oneSampleFits(N, p)) {
        outL[0] = 0.0;
        outR[0] = 0.0;
        return;
    }
    const double xl = inL[0];
    const double xr = inR[0];
    double* upL = ringL + p;
    double* loL = ringL + p - N;
    double* upR = ringR + p;
    double* loR = ringR + p - N;
    for (int j = 0; j < N; ++j) {
        const double sl = upL[j] + kernL[j] * xl;
        const double sr = upR[j] + kernR[j] * xr;
        upL[j] = sl;
        loL[j] = sl;
        upR[j] = sr;
        loR[j] = sr;
    }
    outL[0] = takeOutput(ringL, N, p);
    outR[0] = takeOutput(ringR, N, p);
}

void cnvs1(const double* inL, const double* inR, double* outL, double* outR, const double* kernL,
           const double* kernR, double* ringL, double* ringR, int N, int p,
           CoreCnvl::FFTEXTENSION*) {
    stereoDescending(inL, inR, outL, outR, kernL, kernR, ringL, ringR, N, p);
}

void cnvs5(const double* inL, const double* inR, double* outL, double* outR, const double* kernL,
           const double* kernR, double* ringL, double* ringR, int N, int p,
           CoreCnvl::FFTEXTENSION*) {
    stereoDescending(inL, inR, outL, outR, kernL, kernR, ringL, ringR, N, p);
}

void cnvm4(const double* in, double* out, const double* h, double* ring, int N, int p) {
    if (!oneSampleFits(N, p)) {
        out[0] = 0.0;
        return;
    }
    const double x = in[0];
    double* up = ring + p;
    double* lo = ring + p - N;
    for (int j = 0; j < N; ++j) {
        const double s = up[j] + h[j] * x;
        up[j] = s;
        lo[j] = s;
    }
    out[0] = takeOutput(ring, N, p);
}

void CoreOpti::cnvs4(const double* inL, const double* inR, double* outL, double* outR,
                     const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                     int p, CoreCnvl::FFTEXTENSION*) {
    cnvm4(inL, outL, kernL, ringL, N, p);
    cnvm4(inR, outR, kernR, ringR, N, p);
}

void cnvm2(const double* in, double* out, const double* h, double* ring, int N, int p) {
    if (!pairFits(N, p)) {
        out[0] = 0.0;
        out[1] = 0.0;
        return;
    }
    const double x0 = in[0];
    const double x1 = in[1];
    double* up = ring + p;
    double* lo = ring + p - N;
#if defined(COREOPTI_X86)
    const __m128d X0 = _mm_set1_pd(x0);
    const __m128d X1 = _mm_set1_pd(x1);
    // First pair: the tap before h[0] is 0.
    __m128d prev = _mm_set_pd(h[0], 0.0);
    __m128d cur = _mm_loadu_pd(h);
    __m128d sum =
        _mm_add_pd(_mm_loadu_pd(up), _mm_add_pd(_mm_mul_pd(cur, X0), _mm_mul_pd(prev, X1)));
    _mm_storeu_pd(up, sum);
    _mm_storeu_pd(lo, sum);
    for (int j = 2; j < N; j += 2) {
        prev = _mm_loadu_pd(h + j - 1);
        cur = _mm_loadu_pd(h + j);
        sum =
            _mm_add_pd(_mm_loadu_pd(up + j), _mm_add_pd(_mm_mul_pd(cur, X0), _mm_mul_pd(prev, X1)));
        _mm_storeu_pd(up + j, sum);
        _mm_storeu_pd(lo + j, sum);
    }
#else
    for (int j = 0; j < N; j += 2) {
        const double before = j > 0 ? h[j - 1] : 0.0;
        const double s0 = up[j] + (h[j] * x0 + before * x1);
        const double s1 = up[j + 1] + (h[j + 1] * x0 + h[j] * x1);
        up[j] = s0;
        lo[j] = s0;
        up[j + 1] = s1;
        lo[j + 1] = s1;
    }
#endif
    finishPair(out, h, ring, N, p, x1);
}

void CoreOpti::cnvs2(const double* inL, const double* inR, double* outL, double* outR,
                     const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                     int p, CoreCnvl::FFTEXTENSION*) {
    cnvm2(inL, outL, kernL, ringL, N, p);
    cnvm2(inR, outR, kernR, ringR, N, p);
}

void cnvm6(const double* in, double* out, const double* h, double* ring, int N, int p) {
    if (!pairFits(N, p)) {
        out[0] = 0.0;
        out[1] = 0.0;
        return;
    }
    const double x0 = in[0];
    const double x1 = in[1];
    double* up = ring + p;
    double* lo = ring + p - N;
    double carry = 0.0; // the tap before the current pair
    for (int j = 0; j < N; j += 2) {
        const double h0 = h[j];
        const double h1 = h[j + 1];
        const double s0 = up[j] + (h0 * x0 + carry * x1);
        const double s1 = up[j + 1] + (h1 * x0 + h0 * x1);
        up[j] = s0;
        lo[j] = s0;
        up[j + 1] = s1;
        lo[j + 1] = s1;
        carry = h1;
    }
    finishPair(out, h, ring, N, p, x1);
}

void CoreOpti::cnvs6(const double* inL, const double* inR, double* outL, double* outR,
                     const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                     int p, CoreCnvl::FFTEXTENSION*) {
    cnvm6(inL, outL, kernL, ringL, N, p);
    cnvm6(inR, outR, kernR, ringR, N, p);
}

void CoreOpti::cnvs3(const double* inL, const double* inR, double* outL, double* outR,
                     const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                     int p, CoreCnvl::FFTEXTENSION* ext) {
    // The second step runs at p + 1, which must still lie below 2N; like the
    // other two-sample engines it needs an even N to meet the wrap at 2N.
    if (!pairFits(N, p)) {
        outL[0] = outL[1] = 0.0;
        outR[0] = outR[1] = 0.0;
        return;
    }
    cnvs1(inL, inR, outL, outR, kernL, kernR, ringL, ringR, N, p, ext);
    cnvs1(inL + 1, inR + 1, outL + 1, outR + 1, kernL, kernR, ringL, ringR, N, p + 1, ext);
}

void CoreOpti::cnvs7(const double* inL, const double* inR, double* outL, double* outR,
                     const double*, const double*, double*, double*, int, int,
                     CoreCnvl::FFTEXTENSION*) {
    outL[0] = inL[0];
    outR[0] = inR[0];
}

int kllad(int n, double** values) {
    if (n < 1 || values == nullptr || *values == nullptr) return 0;
    constexpr std::uint64_t kExponent = 0x7FF0000000000000ull;
    double* v = *values;
    for (int i = n - 1; i >= 0; --i) {
        if ((std::bit_cast<std::uint64_t>(v[i]) & kExponent) == 0) v[i] = 0.0;
    }
    return static_cast<int>((std::bit_cast<std::uint64_t>(v[0]) & kExponent) >> 52);
}

void mixr1(int n, double** dstL, double** dstR, double g) {
    if (n < 1) return;
    double* l = *dstL;
    double* r = *dstR;
    for (int i = 0; i < n; ++i) {
        l[i] *= g;
        r[i] *= g;
    }
}

void mixr2(int n, double** dstL, double** dstR, double** srcL, double** srcR, double g) {
    if (n < 1) return;
    double* l = *dstL;
    double* r = *dstR;
    const double* sl = *srcL;
    const double* sr = *srcR;
    for (int i = 0; i < n; ++i) {
        l[i] += sl[i] * g;
        r[i] += sr[i] * g;
    }
}

void mixr3(int n, double** dstL, double** dstR, double** srcL, double** srcR, double a, double b,
           double c, double d) {
    if (n < 1) return;
    double* l = *dstL;
    double* r = *dstR;
    const double* sl = *srcL;
    const double* sr = *srcR;
    for (int i = 0; i < n; ++i) {
        const double xl = sl[i];
        const double xr = sr[i];
        l[i] += xl * a + xr * d;
        r[i] += xl * b + xr * c;
    }
}

void mkefo(int n, int t, double* L, double* R, const double* w) {
    if (n < 1 || t < 1) return;
    // Weight i belongs to index n - t + i; indices below 0 do not exist.
    const int first = t > n ? t - n : 0;
    for (int i = first; i < t; ++i) {
        const int k = n - t + i;
        L[k] *= w[i];
        R[k] *= w[i];
    }
}

void maacf(int n, const float* a, const float* b, float* acc) {
    for (int k = 0; k < n; ++k) {
        const double are = a[2 * k];
        const double aim = a[2 * k + 1];
        const double bre = b[2 * k];
        const double bim = b[2 * k + 1];
        const double re = static_cast<double>(acc[2 * k]) + (bre * are - bim * aim);
        const double im = static_cast<double>(acc[2 * k + 1]) + (bim * are + bre * aim);
        acc[2 * k] = static_cast<float>(re);
        acc[2 * k + 1] = static_cast<float>(im);
    }
}

bool issm2() {
#if defined(COREOPTI_X86)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) return false;
    return (d & (1u << 26)) != 0;
#else
    return false;
#endif
}

double cpucd() {
#if defined(COREOPTI_X86)
    unsigned a = 0, b = 0, c = 0, d = 0;
    __get_cpuid(0, &a, &b, &c, &d);
    const unsigned long long tsc = __rdtsc();
    const double high = static_cast<double>(static_cast<std::uint32_t>(tsc >> 32));
    const double low = static_cast<double>(static_cast<std::uint32_t>(tsc));
    return high * CoreButl::dC2e32 + low;
#else
    return 0.0;
#endif
}
