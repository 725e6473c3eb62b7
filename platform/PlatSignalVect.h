#pragma once
// Element-wise vector operations on real arrays, complex arrays and packed
// real spectra (the Pack layout of PlatSignalFft), in double and float.
// No state, no owner. Threads: any, including the audio thread: no
// allocation, no I/O, no lock. Lengths below 1 or null pointers do nothing
// and return false. The packed products are the convolution engine's inner
// loop, so they are plain loops the compiler vectorises.

#include "platform/PlatSignalType.h"

class PlatSignalVect {
public:
    // dst = a * b for two Pack spectra of len values: index 0 and (len even)
    // index len - 1 are real products, the pairs (2k - 1, 2k) complex ones.
    // dst may be a or b; other overlaps are not supported.
    static bool mulPack(const double* a, const double* b, double* dst, int len);
    static bool mulPack(const float* a, const float* b, float* dst, int len);
    // srcDst *= src for two Pack spectra (srcDst may equal src).
    static bool mulPackInPlace(const double* src, double* srcDst, int len);
    static bool mulPackInPlace(const float* src, float* srcDst, int len);

    // Expands a Pack spectrum of len values into the full conjugate-symmetric
    // spectrum of len complex bins: dst[0] = (X0, 0), dst[k] = (src[2k-1], src[2k]),
    // dst[len/2] = (src[len-1], 0) for even len, dst[len-k] = conj(dst[k]).
    static bool conjPack(const double* src, Ipp64fc* dst, int len);

    // srcDst[i] *= src[i], complex.
    static bool mulComplexInPlace(const Ipp64fc* src, Ipp64fc* srcDst, int len);
    static bool mulComplexInPlace(const Ipp32fc* src, Ipp32fc* srcDst, int len);

    // srcDst[i] += src[i].
    static bool addInPlace(const double* src, double* srcDst, int len);
    static bool addInPlace(const float* src, float* srcDst, int len);

    PlatSignalVect() = delete;
};
