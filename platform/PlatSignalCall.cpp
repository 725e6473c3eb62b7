#include "platform/PlatSignalCall.h"

#include "platform/PlatFpu.h"
#include "platform/PlatMemory.h"
#include "platform/PlatSignalThrd.h"
#include "platform/PlatSignalVect.h"

IppStatus ippsFFTInitAlloc_R_64f(IppsFFTSpec_R_64f** spec, int order, int flag, IppHintAlgorithm) {
    if (spec == nullptr) return ippStsNullPtrErr;
    *spec = nullptr;
    if (order < 0 || order > IppsFFTSpec_R_64f::iCmaxorder) return ippStsFftOrderErr;
    if (flag != IPP_FFT_DIV_FWD_BY_N && flag != IPP_FFT_DIV_INV_BY_N &&
        flag != IPP_FFT_DIV_BY_SQRTN && flag != IPP_FFT_NODIV_BY_ANY)
        return ippStsFftFlagErr;
    *spec = IppsFFTSpec_R_64f::create(order, flag);
    return *spec != nullptr ? ippStsNoErr : ippStsMemAllocErr;
}

IppStatus ippsFFTFree_R_64f(IppsFFTSpec_R_64f* spec) {
    if (spec == nullptr) return ippStsNullPtrErr;
    delete spec;
    return ippStsNoErr;
}

IppStatus ippsFFTGetBufSize_R_64f(const IppsFFTSpec_R_64f* spec, int* bytes) {
    if (spec == nullptr || bytes == nullptr) return ippStsNullPtrErr;
    *bytes = spec->bufferBytes();
    return ippStsNoErr;
}

IppStatus ippsFFTFwd_RToPack_64f_I(Ipp64f* srcDst, const IppsFFTSpec_R_64f* spec, Ipp8u* buffer) {
    if (srcDst == nullptr || spec == nullptr) return ippStsNullPtrErr;
    spec->forwardToPack(srcDst, srcDst, buffer);
    return ippStsNoErr;
}

IppStatus ippsFFTInv_PackToR_64f_I(Ipp64f* srcDst, const IppsFFTSpec_R_64f* spec, Ipp8u* buffer) {
    if (srcDst == nullptr || spec == nullptr) return ippStsNullPtrErr;
    spec->inverseFromPack(srcDst, srcDst, buffer);
    return ippStsNoErr;
}

IppStatus ippsFFTInv_CCSToR_64f_I(Ipp64f* srcDst, const IppsFFTSpec_R_64f* spec, Ipp8u* buffer) {
    if (srcDst == nullptr || spec == nullptr) return ippStsNullPtrErr;
    spec->inverseFromCcs(srcDst, srcDst, buffer);
    return ippStsNoErr;
}

namespace {
IppStatus vectorStatus(bool ok, const void* a, const void* b, int len) {
    if (ok) return ippStsNoErr;
    return (a == nullptr || b == nullptr) ? ippStsNullPtrErr
                                          : (len < 1 ? ippStsSizeErr : ippStsNullPtrErr);
}
} // namespace

IppStatus ippsMulPack_64f_I(const Ipp64f* src, Ipp64f* srcDst, int len) {
    return vectorStatus(PlatSignalVect::mulPackInPlace(src, srcDst, len), src, srcDst, len);
}

IppStatus ippsMulPack_64f(const Ipp64f* src1, const Ipp64f* src2, Ipp64f* dst, int len) {
    if (dst == nullptr) return ippStsNullPtrErr;
    return vectorStatus(PlatSignalVect::mulPack(src1, src2, dst, len), src1, src2, len);
}

IppStatus ippsConjPack_64fc(const Ipp64f* src, Ipp64fc* dst, int len) {
    return vectorStatus(PlatSignalVect::conjPack(src, dst, len), src, dst, len);
}

IppStatus ippsMul_64fc_I(const Ipp64fc* src, Ipp64fc* srcDst, int len) {
    return vectorStatus(PlatSignalVect::mulComplexInPlace(src, srcDst, len), src, srcDst, len);
}

IppStatus ippsAdd_64f_I(const Ipp64f* src, Ipp64f* srcDst, int len) {
    return vectorStatus(PlatSignalVect::addInPlace(src, srcDst, len), src, srcDst, len);
}

IppStatus ippsHilbertInitAlloc_32f32fc(IppsHilbertSpec_32f32fc** spec, int len, IppHintAlgorithm) {
    if (spec == nullptr) return ippStsNullPtrErr;
    *spec = nullptr;
    if (len < 1) return ippStsSizeErr;
    *spec = PlatSignalHilb::create(len);
    return *spec != nullptr ? ippStsNoErr : ippStsMemAllocErr;
}

IppStatus ippsHilbert_32f32fc(const Ipp32f* src, Ipp32fc* dst, IppsHilbertSpec_32f32fc* spec) {
    if (src == nullptr || dst == nullptr || spec == nullptr) return ippStsNullPtrErr;
    spec->run(src, dst);
    return ippStsNoErr;
}

IppStatus ippsHilbertFree_32f32fc(IppsHilbertSpec_32f32fc* spec) {
    if (spec == nullptr) return ippStsNullPtrErr;
    delete spec;
    return ippStsNoErr;
}

IppStatus ippSetNumThreads(int count) {
    return PlatSignalThrd::setCount(count) ? ippStsNoErr : ippStsSizeErr;
}

IppStatus ippGetNumThreads(int* count) {
    if (count == nullptr) return ippStsNullPtrErr;
    *count = PlatSignalThrd::count();
    return ippStsNoErr;
}

Ipp8u* ippsMalloc_8u(int len) {
    if (len < 1) return nullptr;
    return static_cast<Ipp8u*>(PlatMemory::alloc(static_cast<size_t>(len)));
}

void ippsFree(void* block) { PlatMemory::release(block); }

IppStatus ippSetFlushToZero(int value, unsigned int*) {
    PlatFpu::setFlushToZero(value != 0);
    return ippStsNoErr;
}

IppStatus ippSetDenormAreZeros(int value) {
    PlatFpu::setDenormalsAreZero(value != 0);
    return ippStsNoErr;
}
