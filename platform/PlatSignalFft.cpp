#include "platform/PlatSignalFft.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <thread>

#include <fftw3.h>

#include "platform/PlatSignalLock.h"
#include "platform/PlatSignalType.h"

namespace {

// The FFTW entry points of one precision, so the class body is written once.
template <typename T> struct Fftw;

template <> struct Fftw<double> {
    using Plan = fftw_plan;
    using Complex = fftw_complex;
    static void* alloc(std::size_t bytes) { return fftw_malloc(bytes); }
    static void release(void* p) { fftw_free(p); }
    static int alignmentOf(double* p) { return fftw_alignment_of(p); }
    static Plan planForward(int n, double* in, double* out, unsigned flags) {
        return fftw_plan_dft_r2c_1d(n, in, reinterpret_cast<Complex*>(out), flags);
    }
    static Plan planInverse(int n, double* in, double* out, unsigned flags) {
        return fftw_plan_dft_c2r_1d(n, reinterpret_cast<Complex*>(in), out, flags);
    }
    static void destroy(void* plan) { fftw_destroy_plan(static_cast<Plan>(plan)); }
    static void forward(void* plan, double* in, double* out) {
        fftw_execute_dft_r2c(static_cast<Plan>(plan), in, reinterpret_cast<Complex*>(out));
    }
    static void inverse(void* plan, double* in, double* out) {
        fftw_execute_dft_c2r(static_cast<Plan>(plan), reinterpret_cast<Complex*>(in), out);
    }
};

template <> struct Fftw<float> {
    using Plan = fftwf_plan;
    using Complex = fftwf_complex;
    static void* alloc(std::size_t bytes) { return fftwf_malloc(bytes); }
    static void release(void* p) { fftwf_free(p); }
    static int alignmentOf(float* p) { return fftwf_alignment_of(p); }
    static Plan planForward(int n, float* in, float* out, unsigned flags) {
        return fftwf_plan_dft_r2c_1d(n, in, reinterpret_cast<Complex*>(out), flags);
    }
    static Plan planInverse(int n, float* in, float* out, unsigned flags) {
        return fftwf_plan_dft_c2r_1d(n, reinterpret_cast<Complex*>(in), out, flags);
    }
    static void destroy(void* plan) { fftwf_destroy_plan(static_cast<Plan>(plan)); }
    static void forward(void* plan, float* in, float* out) {
        fftwf_execute_dft_r2c(static_cast<Plan>(plan), in, reinterpret_cast<Complex*>(out));
    }
    static void inverse(void* plan, float* in, float* out) {
        fftwf_execute_dft_c2r(static_cast<Plan>(plan), reinterpret_cast<Complex*>(in), out);
    }
};

constexpr std::size_t kBufferAlign =
    64; // alignment the caller's work buffer is rounded up to, bytes

std::size_t roundUp(std::size_t bytes) { return (bytes + kBufferAlign - 1) & ~(kBufferAlign - 1); }

template <typename T>
void copyScaled(const T* __restrict src, T* __restrict dst, int count, T scale) {
    if (count <= 0) return;
    if (scale == T(1)) {
        std::memcpy(dst, src, sizeof(T) * count);
    } else {
        for (int i = 0; i < count; ++i) dst[i] = src[i] * scale;
    }
}

} // namespace

template <typename T> PlatSignalFft<T>* PlatSignalFft<T>::create(int order, int flag) {
    if (order < 0 || order > iCmaxorder) return nullptr;
    if (flag != IPP_FFT_DIV_FWD_BY_N && flag != IPP_FFT_DIV_INV_BY_N &&
        flag != IPP_FFT_DIV_BY_SQRTN && flag != IPP_FFT_NODIV_BY_ANY)
        return nullptr;
    PlatSignalFft* spec = new (std::nothrow) PlatSignalFft();
    if (spec == nullptr) return nullptr;
    const int n = 1 << order;
    spec->n = n;
    spec->log2n = order;
    spec->scaling = flag;
    const double byN = 1.0 / n;
    const double bySqrtN = 1.0 / std::sqrt(static_cast<double>(n));
    spec->forwardScale = static_cast<T>(flag == IPP_FFT_DIV_FWD_BY_N   ? byN
                                        : flag == IPP_FFT_DIV_BY_SQRTN ? bySqrtN
                                                                       : 1.0);
    spec->inverseScale = static_cast<T>(flag == IPP_FFT_DIV_INV_BY_N   ? byN
                                        : flag == IPP_FFT_DIV_BY_SQRTN ? bySqrtN
                                                                       : 1.0);
    spec->realScratch = static_cast<T*>(Fftw<T>::alloc(sizeof(T) * n));
    spec->complexScratch = static_cast<T*>(Fftw<T>::alloc(sizeof(T) * 2 * (n / 2 + 1)));
    if (spec->realScratch == nullptr || spec->complexScratch == nullptr) {
        delete spec;
        return nullptr;
    }
    spec->realAlign = Fftw<T>::alignmentOf(spec->realScratch);
    spec->complexAlign = Fftw<T>::alignmentOf(spec->complexScratch);
    {
        // Estimate only: deterministic, quick, and it never writes the arrays
        // (measuring would, and would make load times vary).
        std::lock_guard<std::mutex> hold(PlatSignalLock::planner());
        spec->forwardPlan = Fftw<T>::planForward(n, spec->realScratch, spec->complexScratch,
                                                 FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
        spec->inversePlan = Fftw<T>::planInverse(n, spec->complexScratch, spec->realScratch,
                                                 FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
    }
    if (spec->forwardPlan == nullptr || spec->inversePlan == nullptr) {
        delete spec;
        return nullptr;
    }
    return spec;
}

template <typename T> PlatSignalFft<T>::~PlatSignalFft() {
    if (forwardPlan != nullptr || inversePlan != nullptr) {
        std::lock_guard<std::mutex> hold(PlatSignalLock::planner());
        if (forwardPlan != nullptr) Fftw<T>::destroy(forwardPlan);
        if (inversePlan != nullptr) Fftw<T>::destroy(inversePlan);
    }
    if (realScratch != nullptr) Fftw<T>::release(realScratch);
    if (complexScratch != nullptr) Fftw<T>::release(complexScratch);
}

template <typename T> int PlatSignalFft<T>::bufferBytes() const {
    return static_cast<int>(roundUp(sizeof(T) * n) + sizeof(T) * 2 * (n / 2 + 1) + kBufferAlign);
}

namespace {
// Arrays of a work buffer aligned up to kBufferAlign: n reals, then the complex bins.
template <typename T> void carve(unsigned char* buffer, int n, T*& real, T*& complex) {
    const std::uintptr_t raw = reinterpret_cast<std::uintptr_t>(buffer);
    unsigned char* aligned = buffer + (roundUp(raw) - raw);
    real = reinterpret_cast<T*>(aligned);
    complex = reinterpret_cast<T*>(aligned + roundUp(sizeof(T) * n));
}
} // namespace

template <typename T>
PlatSignalFft<T>::Lease::Lease(const PlatSignalFft& fft, unsigned char* buffer)
    : s{nullptr, nullptr} {
    if (buffer != nullptr) {
        carve(buffer, fft.n, s.real, s.complex);
        // The plans may run on other arrays only with the alignment they were made for.
        if (Fftw<T>::alignmentOf(s.real) == fft.realAlign &&
            Fftw<T>::alignmentOf(s.complex) == fft.complexAlign)
            return;
    }
    if (!fft.scratchBusy.test_and_set(std::memory_order_acquire)) {
        claimed = &fft;
        s = Scratch{fft.realScratch, fft.complexScratch};
        return;
    }
    // Another thread is in the spec's scratch: sharing it would mix both
    // transforms, so this call works in a block of its own.
    temporary =
        static_cast<unsigned char*>(Fftw<T>::alloc(static_cast<std::size_t>(fft.bufferBytes())));
    if (temporary != nullptr) {
        carve(temporary, fft.n, s.real, s.complex);
        return;
    }
    // No memory either: wait for the other call to finish rather than fail.
    while (fft.scratchBusy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    claimed = &fft;
    s = Scratch{fft.realScratch, fft.complexScratch};
}

template <typename T> PlatSignalFft<T>::Lease::~Lease() {
    if (claimed != nullptr) claimed->scratchBusy.clear(std::memory_order_release);
    if (temporary != nullptr) Fftw<T>::release(temporary);
}

template <typename T> void PlatSignalFft<T>::runForward(const T* src, const Scratch& s) const {
    T* in = const_cast<T*>(src); // the r2c plan preserves its input
    if (Fftw<T>::alignmentOf(in) != realAlign) {
        std::memcpy(s.real, src, sizeof(T) * n);
        in = s.real;
    }
    Fftw<T>::forward(forwardPlan, in, s.complex);
}

template <typename T> void PlatSignalFft<T>::runInverse(T* dst, const Scratch& s) const {
    if (Fftw<T>::alignmentOf(dst) == realAlign) {
        Fftw<T>::inverse(inversePlan, s.complex, dst);
    } else {
        Fftw<T>::inverse(inversePlan, s.complex, s.real);
        std::memcpy(dst, s.real, sizeof(T) * n);
    }
}

template <typename T>
void PlatSignalFft<T>::forwardToPack(const T* src, T* dst, unsigned char* buffer) const {
    const Lease lease(*this, buffer);
    const Scratch& s = lease.s;
    runForward(src, s);
    const T* c = s.complex; // (re, im) of bins 0 .. n/2
    dst[0] = c[0] * forwardScale;
    if (n >= 2) {
        // Pack is CCS without Im X0 and Im X(n/2).
        copyScaled(c + 2, dst + 1, n - 2, forwardScale);
        dst[n - 1] = c[n] * forwardScale;
    }
}

template <typename T>
void PlatSignalFft<T>::inverseFromPack(const T* src, T* dst, unsigned char* buffer) const {
    const Lease lease(*this, buffer);
    const Scratch& s = lease.s;
    T* c = s.complex;
    // The inverse scaling is applied here: the transform is linear, and this
    // saves a pass over the result.
    c[0] = src[0] * inverseScale;
    c[1] = 0;
    if (n >= 2) {
        copyScaled(src + 1, c + 2, n - 2, inverseScale);
        c[n] = src[n - 1] * inverseScale;
        c[n + 1] = 0;
    }
    runInverse(dst, s);
}

template <typename T>
void PlatSignalFft<T>::forwardToCcs(const T* src, T* dst, unsigned char* buffer) const {
    const Lease lease(*this, buffer);
    const Scratch& s = lease.s;
    runForward(src, s);
    const int values = 2 * (n / 2 + 1);
    copyScaled(s.complex, dst, values, forwardScale);
    dst[1] = 0;
    dst[values - 1] = 0;
}

template <typename T>
void PlatSignalFft<T>::inverseFromCcs(const T* src, T* dst, unsigned char* buffer) const {
    const Lease lease(*this, buffer);
    const Scratch& s = lease.s;
    const int values = 2 * (n / 2 + 1);
    copyScaled(src, s.complex, values, inverseScale);
    // A real signal has no imaginary part at DC or Nyquist; whatever the
    // caller left there must not leak into the result.
    s.complex[1] = 0;
    s.complex[values - 1] = 0;
    runInverse(dst, s);
}

template class PlatSignalFft<double>;
template class PlatSignalFft<float>;
