// The named signal-library calls: statuses on bad calls, the transform calls
// on caller buffers, the advisory thread count, the aligned allocator and the
// denormal modes as the calls switch them.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "platform/PlatFpu.h"
#include "platform/PlatSignalCall.h"

TEST(PlatSignalCall, SpecCreationReportsFailures) {
    IppsFFTSpec_R_64f* spec = reinterpret_cast<IppsFFTSpec_R_64f*>(0x1);
    EXPECT_EQ(ippsFFTInitAlloc_R_64f(&spec, -1, IPP_FFT_DIV_INV_BY_N, ippAlgHintAccurate),
              ippStsFftOrderErr);
    EXPECT_EQ(spec, nullptr);
    EXPECT_EQ(ippsFFTInitAlloc_R_64f(&spec, 40, IPP_FFT_DIV_INV_BY_N, ippAlgHintAccurate),
              ippStsFftOrderErr);
    EXPECT_EQ(ippsFFTInitAlloc_R_64f(&spec, 4, 5, ippAlgHintAccurate), ippStsFftFlagErr);
    EXPECT_EQ(spec, nullptr);
    EXPECT_EQ(ippsFFTInitAlloc_R_64f(nullptr, 4, IPP_FFT_DIV_INV_BY_N, ippAlgHintAccurate),
              ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTFree_R_64f(nullptr), ippStsNullPtrErr);
    int bytes = -1;
    EXPECT_EQ(ippsFFTGetBufSize_R_64f(nullptr, &bytes), ippStsNullPtrErr);
    EXPECT_EQ(ippsMulPack_64f_I(nullptr, nullptr, 4), ippStsNullPtrErr);
    double v[2] = {1, 2};
    EXPECT_EQ(ippsMulPack_64f(v, v, nullptr, 2), ippStsNullPtrErr);
    EXPECT_EQ(ippsMulPack_64f(v, v, v, 0), ippStsSizeErr);
    EXPECT_EQ(ippsMalloc_8u(0), nullptr);
    ippsFree(nullptr);
    EXPECT_EQ(ippsAdd_64f_I(v, v, 0), ippStsSizeErr);
    IppsHilbertSpec_32f32fc* hs = nullptr;
    EXPECT_EQ(ippsHilbertInitAlloc_32f32fc(&hs, 0, ippAlgHintNone), ippStsSizeErr);
    EXPECT_EQ(hs, nullptr);
}

TEST(PlatSignalCall, ConvolutionThroughTheNamedCallsWithTheirWorkBuffer) {
    // The stage pattern of the converter: kernel spectrum once, then
    // forward, multiply, inverse in place with the spec's reported buffer.
    const int order = 4, n = 16;
    IppsFFTSpec_R_64f* spec = nullptr;
    ASSERT_EQ(ippsFFTInitAlloc_R_64f(&spec, order, IPP_FFT_DIV_INV_BY_N, ippAlgHintAccurate),
              ippStsNoErr);
    int bytes = 0;
    ASSERT_EQ(ippsFFTGetBufSize_R_64f(spec, &bytes), ippStsNoErr);
    ASSERT_GT(bytes, 0);
    Ipp8u* work = ippsMalloc_8u(bytes);
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(work) % 64, 0u);
    std::vector<double> h(n, 0.0), x(n, 0.0);
    h[0] = 0.5;
    h[3] = 0.25;
    for (int i = 0; i < 8; ++i) x[i] = i + 1;
    ASSERT_EQ(ippsFFTFwd_RToPack_64f_I(h.data(), spec, work), ippStsNoErr);
    ASSERT_EQ(ippsFFTFwd_RToPack_64f_I(x.data(), spec, work), ippStsNoErr);
    std::vector<double> y(n);
    ASSERT_EQ(ippsMulPack_64f(h.data(), x.data(), y.data(), n), ippStsNoErr);
    ASSERT_EQ(ippsMulPack_64f_I(h.data(), x.data(), n), ippStsNoErr);
    EXPECT_EQ(y, x);
    ASSERT_EQ(ippsFFTInv_PackToR_64f_I(x.data(), spec, nullptr), ippStsNoErr);
    for (int t = 0; t < n; ++t) {
        const double want =
            (t < 8 ? 0.5 * (t + 1) : 0.0) + (t >= 3 && t < 11 ? 0.25 * (t - 2) : 0.0);
        EXPECT_NEAR(x[t], want, 1e-13) << t;
    }
    EXPECT_EQ(ippsFFTFree_R_64f(spec), ippStsNoErr);
    ippsFree(work);
}

TEST(PlatSignalCall, ThreadCountIsStoredAndStartsAtHardwareConcurrency) {
    int count = -1;
    ASSERT_EQ(ippGetNumThreads(&count), ippStsNoErr);
    const unsigned hw = std::thread::hardware_concurrency();
    EXPECT_EQ(count, hw == 0 ? 1 : int(hw));
    EXPECT_EQ(ippSetNumThreads(3), ippStsNoErr);
    ippGetNumThreads(&count);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(ippSetNumThreads(0), ippStsSizeErr);
    ippGetNumThreads(&count);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(ippGetNumThreads(nullptr), ippStsNullPtrErr);
}

#if defined(__x86_64__)
TEST(PlatSignalCall, FlushToZeroAndDenormalsAreZeroOnThisThread) {
    const PlatFpu::Mode saved = PlatFpu::save();
    volatile double tiny = 1e-300, small = 1e-10, denormal = 1e-310, one = 1.0;
    ippSetFlushToZero(0, nullptr);
    ippSetDenormAreZeros(0);
    EXPECT_NE(tiny * small, 0.0);
    EXPECT_NE(denormal * one, 0.0);
    ippSetFlushToZero(1, nullptr);
    EXPECT_EQ(tiny * small, 0.0); // a denormal result is flushed
    ippSetFlushToZero(0, nullptr);
    ippSetDenormAreZeros(1);
    EXPECT_EQ(denormal * one, 0.0); // a denormal operand reads as zero
    PlatFpu::restore(saved);
}
#endif
