#pragma once
// CoreOpti: the direct (time-domain) convolution kernels of engines 0 to 5 and
// their two helpers, plus the small vector routines the element operations
// and the bridge engines use, and the processor probes. Nothing here keeps
// state; the player (CoreCnvl) owns every buffer and calls a kernel through
// its engine table once per engine block.
// Audio thread or engine worker: no allocation, no file or log I/O, no lock.
//
// Kernel arguments: in and out hold one engine block (B samples) per channel
// (in and out may be the same array); kern holds N kernel values; ring is the
// player's 3N-value accumulator, read at position p, N <= p < 2N (the player
// wraps p). Ring contract of the direct kernels: a contribution c for the
// output at q + j (0 <= j < N) is added to ring[q + j] and the sum is also
// stored (not added) at ring[q + j - N]; after out is read at q, ring[q] and
// ring[q + N] are zeroed. The FFT engines add into both copies instead; the
// two contracts are kept apart on purpose.
// A call the ring cannot take (N < 1, p outside its range, or for the
// two-sample kernels an odd N or p = 2N - 1) writes silence and leaves the
// ring untouched.
#include "engine/CoreCnvl.h"

class CoreOpti {
public:
    // Signature shared by every kernel of the engine table.
    using KERNEL = void (*)(const double* inL, const double* inR, double* outL, double* outR,
                            const double* kernL, const double* kernR, double* ringL, double* ringR,
                            int N, int p, CoreCnvl::FFTEXTENSION* ext);

    CoreOpti() = delete;

    // Engine 0: B = 1, one loop over the taps updates both channels.
    static void cnvs0(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, CoreCnvl::FFTEXTENSION* ext);
    // Engine 2: B = 2, N even, packed pairs of taps, one channel at a time (cnvm2).
    static void cnvs2(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, CoreCnvl::FFTEXTENSION* ext);
    // Engine 3: B = 1, one loop per channel (cnvm4), left first.
    static void cnvs4(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, CoreCnvl::FFTEXTENSION* ext);
    // Engine 5: B = 2, N even, pairs with the previous tap carried (cnvm6).
    static void cnvs6(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, CoreCnvl::FFTEXTENSION* ext);
    // B = 2 through two one-sample steps (cnvs1 at p, then at p + 1).
    static void cnvs3(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, CoreCnvl::FFTEXTENSION* ext);
    // B = 1 copy: out := in, ring untouched.
    static void cnvs7(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, CoreCnvl::FFTEXTENSION* ext);
};

// Engine 1: B = 1, one loop for both channels, taps from N - 1 down to 0.
void cnvs1(const double* inL, const double* inR, double* outL, double* outR, const double* kernL,
           const double* kernR, double* ringL, double* ringR, int N, int p,
           CoreCnvl::FFTEXTENSION* ext);
// Engine 4: as engine 1 (a separate engine with its own label).
void cnvs5(const double* inL, const double* inR, double* outL, double* outR, const double* kernL,
           const double* kernR, double* ringL, double* ringR, int N, int p,
           CoreCnvl::FFTEXTENSION* ext);
// One channel of engine 3: B = 1, taps ascending.
void cnvm4(const double* in, double* out, const double* kern, double* ring, int N, int p);
// One channel of engine 2: B = 2, SSE2 packed pairs.
void cnvm2(const double* in, double* out, const double* kern, double* ring, int N, int p);
// One channel of engine 5: B = 2, pairs with the previous pair's last tap carried.
void cnvm6(const double* in, double* out, const double* kern, double* ring, int N, int p);

// Vector routines; n counts values, n < 1 does nothing. Arrays are passed by
// their address (the address of the caller's pointer).

// Sets to +0.0 every one of the n values whose 11 exponent bits are all zero
// (zeros and denormals of either sign), walking from the last to the first;
// the bits are tested as integers so the test holds under denormals-are-zero.
// Returns the exponent bits (0..2047) of the first value; 0 when n < 1.
int kllad(int n, double** values);
// dstL[i] *= g, dstR[i] *= g.
void mixr1(int n, double** dstL, double** dstR, double g);
// dstL[i] += srcL[i]*g, dstR[i] += srcR[i]*g.
void mixr2(int n, double** dstL, double** dstR, double** srcL, double** srcR, double g);
// dstL[i] += srcL[i]*a + srcR[i]*d; dstR[i] += srcL[i]*b + srcR[i]*c.
void mixr3(int n, double** dstL, double** dstR, double** srcL, double** srcR, double a, double b,
           double c, double d);
// Multiplies the last t values of L and R (indices n - t .. n - 1) by w[0 .. t-1].
// When t > n only the n values that exist are scaled, each by its own weight.
void mkefo(int n, int t, double* L, double* R, const double* w);
// Complex multiply-accumulate over n interleaved (re, im) single-precision
// values: acc[k] += a[k] * b[k], computed in double and stored as single.
void maacf(int n, const float* a, const float* b, float* acc);

// True when the processor reports SSE2 (CPUID leaf 1, EDX bit 26).
bool issm2();
// Serialises with CPUID leaf 0 and returns the time-stamp counter as a double.
double cpucd();
