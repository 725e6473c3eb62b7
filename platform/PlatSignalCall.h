#pragma once
// The signal-library calls under the names the convolution, conversion and
// filter-design code uses, each a thin forward to the classes of this layer
// (PlatSignalFft, PlatSignalVect, PlatSignalHilb, PlatSignalThrd). They return
// ippStsNoErr or a negative status and never throw.
// Threads: the InitAlloc/Free calls plan or destroy plans (process-wide
// planner lock, may block: loader or engine worker only). Every other call is
// fit for the audio thread: no allocation, no I/O, no lock.
// Aligned allocation and the denormal modes belong to PlatMemory and PlatFpu;
// the calls below only forward to them.

#include "platform/PlatSignalFft.h"
#include "platform/PlatSignalHilb.h"
#include "platform/PlatSignalType.h"

using IppsFFTSpec_R_64f = PlatSignalFft<double>;
using IppsHilbertSpec_32f32fc = PlatSignalHilb;

// Plans a real FFT of 2^order points with one IPP_FFT_* scaling flag; *spec is
// null unless ippStsNoErr is returned.
IppStatus ippsFFTInitAlloc_R_64f(IppsFFTSpec_R_64f** spec, int order, int flag,
                                 IppHintAlgorithm hint);
IppStatus ippsFFTFree_R_64f(IppsFFTSpec_R_64f* spec);
// Work-buffer size in bytes; a transform given such a buffer may run
// concurrently with other transforms of the same spec.
IppStatus ippsFFTGetBufSize_R_64f(const IppsFFTSpec_R_64f* spec, int* bytes);
// In place, any alignment; buffer may be null.
IppStatus ippsFFTFwd_RToPack_64f_I(Ipp64f* srcDst, const IppsFFTSpec_R_64f* spec, Ipp8u* buffer);
IppStatus ippsFFTInv_PackToR_64f_I(Ipp64f* srcDst, const IppsFFTSpec_R_64f* spec, Ipp8u* buffer);
// srcDst holds n + 2 values (CCS) on entry and n reals on return.
IppStatus ippsFFTInv_CCSToR_64f_I(Ipp64f* srcDst, const IppsFFTSpec_R_64f* spec, Ipp8u* buffer);

// srcDst *= src, Pack spectra of len values.
IppStatus ippsMulPack_64f_I(const Ipp64f* src, Ipp64f* srcDst, int len);
// dst = src1 * src2, Pack spectra of len values.
IppStatus ippsMulPack_64f(const Ipp64f* src1, const Ipp64f* src2, Ipp64f* dst, int len);
// Pack spectrum of len values -> len complex bins, conjugate-symmetric.
IppStatus ippsConjPack_64fc(const Ipp64f* src, Ipp64fc* dst, int len);
// srcDst[i] *= src[i], complex.
IppStatus ippsMul_64fc_I(const Ipp64fc* src, Ipp64fc* srcDst, int len);
// srcDst[i] += src[i].
IppStatus ippsAdd_64f_I(const Ipp64f* src, Ipp64f* srcDst, int len);

// Hilbert transform of len-sample float sequences (hint accepted, not used).
IppStatus ippsHilbertInitAlloc_32f32fc(IppsHilbertSpec_32f32fc** spec, int len,
                                       IppHintAlgorithm hint);
IppStatus ippsHilbert_32f32fc(const Ipp32f* src, Ipp32fc* dst, IppsHilbertSpec_32f32fc* spec);
IppStatus ippsHilbertFree_32f32fc(IppsHilbertSpec_32f32fc* spec);

// Advisory thread count (the layer runs every transform on the caller's thread).
IppStatus ippSetNumThreads(int count);
IppStatus ippGetNumThreads(int* count);

// 64-byte aligned block of len bytes (null on failure or len < 1); release with ippsFree.
Ipp8u* ippsMalloc_8u(int len);
void ippsFree(void* block);

// Flush-to-zero on (value != 0) or off for the calling thread; the mask
// argument is accepted and left untouched.
IppStatus ippSetFlushToZero(int value, unsigned int* mask);
// Denormals-are-zero on (value != 0) or off for the calling thread.
IppStatus ippSetDenormAreZeros(int value);
