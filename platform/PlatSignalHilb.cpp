#include "platform/PlatSignalHilb.h"

#include <mutex>
#include <new>

#include <fftw3.h>

#include "platform/PlatSignalLock.h"

PlatSignalHilb* PlatSignalHilb::create(int len) {
    // Same ceiling as the real FFT: keeps byte counts inside 32 bits.
    if (len < 1 || len > (1 << 26)) return nullptr;
    PlatSignalHilb* spec = new (std::nothrow) PlatSignalHilb();
    if (spec == nullptr) return nullptr;
    spec->n = len;
    spec->real = static_cast<double*>(fftw_malloc(sizeof(double) * len));
    spec->spectrum = static_cast<double*>(fftw_malloc(sizeof(double) * 2 * len));
    if (spec->real == nullptr || spec->spectrum == nullptr) {
        delete spec;
        return nullptr;
    }
    fftw_complex* bins = reinterpret_cast<fftw_complex*>(spec->spectrum);
    {
        std::lock_guard<std::mutex> hold(PlatSignalLock::planner());
        spec->forwardPlan = fftw_plan_dft_r2c_1d(len, spec->real, bins, FFTW_ESTIMATE);
        spec->inversePlan = fftw_plan_dft_1d(len, bins, bins, FFTW_BACKWARD, FFTW_ESTIMATE);
    }
    if (spec->forwardPlan == nullptr || spec->inversePlan == nullptr) {
        delete spec;
        return nullptr;
    }
    return spec;
}

PlatSignalHilb::~PlatSignalHilb() {
    if (forwardPlan != nullptr || inversePlan != nullptr) {
        std::lock_guard<std::mutex> hold(PlatSignalLock::planner());
        if (forwardPlan != nullptr) fftw_destroy_plan(static_cast<fftw_plan>(forwardPlan));
        if (inversePlan != nullptr) fftw_destroy_plan(static_cast<fftw_plan>(inversePlan));
    }
    if (real != nullptr) fftw_free(real);
    if (spectrum != nullptr) fftw_free(spectrum);
}

void PlatSignalHilb::run(const Ipp32f* src, Ipp32fc* dst) const {
    for (int i = 0; i < n; ++i) real[i] = src[i];
    fftw_execute(static_cast<fftw_plan>(forwardPlan)); // bins 0 .. n/2 into spectrum
    // Analytic-signal weights: keep DC (and Nyquist for even n), double the
    // positive frequencies, drop the negative ones.
    const int doubledEnd = (n + 1) / 2; // first bin not doubled
    for (int k = 1; k < doubledEnd; ++k) {
        spectrum[2 * k] *= 2.0;
        spectrum[2 * k + 1] *= 2.0;
    }
    const int zeroFrom = n / 2 + 1; // first bin above Nyquist
    for (int k = zeroFrom; k < n; ++k) {
        spectrum[2 * k] = 0.0;
        spectrum[2 * k + 1] = 0.0;
    }
    fftw_execute(static_cast<fftw_plan>(inversePlan));
    const double scale = 1.0 / n;
    for (int i = 0; i < n; ++i)
        dst[i] = Ipp32fc{src[i], static_cast<float>(spectrum[2 * i + 1] * scale)};
}
