#include "platform/PlatSignalVect.h"

namespace {

// The hot loop: the three arrays are distinct, which lets the compiler keep
// the pair products in vector registers without run-time overlap checks.
template <typename T>
void mulPackDistinct(const T* __restrict a, const T* __restrict b, T* __restrict d, int len) {
    d[0] = a[0] * b[0];
    const int pairsEnd = (len % 2 == 0) ? len - 1 : len; // first index past the complex pairs
    for (int i = 1; i < pairsEnd; i += 2) {
        const T ar = a[i], ai = a[i + 1], br = b[i], bi = b[i + 1];
        d[i] = ar * br - ai * bi;
        d[i + 1] = ar * bi + ai * br;
    }
    if (len % 2 == 0 && len >= 2) d[len - 1] = a[len - 1] * b[len - 1];
}

// d is one of the sources (in place): every pair is read before it is written.
template <typename T> void mulPackAliased(const T* a, const T* b, T* d, int len) {
    d[0] = a[0] * b[0];
    const int pairsEnd = (len % 2 == 0) ? len - 1 : len;
    for (int i = 1; i < pairsEnd; i += 2) {
        const T ar = a[i], ai = a[i + 1], br = b[i], bi = b[i + 1];
        d[i] = ar * br - ai * bi;
        d[i + 1] = ar * bi + ai * br;
    }
    if (len % 2 == 0 && len >= 2) d[len - 1] = a[len - 1] * b[len - 1];
}

template <typename T> bool mulPackAny(const T* a, const T* b, T* d, int len) {
    if (a == nullptr || b == nullptr || d == nullptr || len < 1) return false;
    if (d == a || d == b)
        mulPackAliased(a, b, d, len);
    else
        mulPackDistinct(a, b, d, len);
    return true;
}

template <typename T, typename C> bool mulComplexAny(const C* src, C* srcDst, int len) {
    if (src == nullptr || srcDst == nullptr || len < 1) return false;
    const T* s = &src[0].re;
    T* d = &srcDst[0].re;
    for (int i = 0; i < 2 * len; i += 2) {
        const T sr = s[i], si = s[i + 1], dr = d[i], di = d[i + 1];
        d[i] = dr * sr - di * si;
        d[i + 1] = dr * si + di * sr;
    }
    return true;
}

template <typename T> bool addAny(const T* src, T* srcDst, int len) {
    if (src == nullptr || srcDst == nullptr || len < 1) return false;
    for (int i = 0; i < len; ++i) srcDst[i] += src[i];
    return true;
}

} // namespace

bool PlatSignalVect::mulPack(const double* a, const double* b, double* dst, int len) {
    return mulPackAny(a, b, dst, len);
}
bool PlatSignalVect::mulPack(const float* a, const float* b, float* dst, int len) {
    return mulPackAny(a, b, dst, len);
}
bool PlatSignalVect::mulPackInPlace(const double* src, double* srcDst, int len) {
    return mulPackAny<double>(srcDst, src, srcDst, len);
}
bool PlatSignalVect::mulPackInPlace(const float* src, float* srcDst, int len) {
    return mulPackAny<float>(srcDst, src, srcDst, len);
}

bool PlatSignalVect::conjPack(const double* src, Ipp64fc* dst, int len) {
    if (src == nullptr || dst == nullptr || len < 1) return false;
    dst[0] = Ipp64fc{src[0], 0.0};
    const int half = len / 2;
    // Bins 1 .. ceil(len/2) - 1 are stored as pairs; for even len the Nyquist
    // bin is the lone last value.
    for (int k = 1; 2 * k < len; ++k) {
        dst[k] = Ipp64fc{src[2 * k - 1], src[2 * k]};
        dst[len - k] = Ipp64fc{src[2 * k - 1], -src[2 * k]};
    }
    if (len % 2 == 0 && len >= 2) dst[half] = Ipp64fc{src[len - 1], 0.0};
    return true;
}

bool PlatSignalVect::mulComplexInPlace(const Ipp64fc* src, Ipp64fc* srcDst, int len) {
    return mulComplexAny<double>(src, srcDst, len);
}
bool PlatSignalVect::mulComplexInPlace(const Ipp32fc* src, Ipp32fc* srcDst, int len) {
    return mulComplexAny<float>(src, srcDst, len);
}

bool PlatSignalVect::addInPlace(const double* src, double* srcDst, int len) {
    return addAny(src, srcDst, len);
}
bool PlatSignalVect::addInPlace(const float* src, float* srcDst, int len) {
    return addAny(src, srcDst, len);
}
