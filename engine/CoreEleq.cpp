#include "engine/CoreEleq.h"

#include <cmath>
#include <cstring>

#include "engine/CoreSpln.h"
#include "platform/PlatSignalCall.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"

const int CoreEleq::iCsplinemaxfactor = 256;
const double CoreEleq::dCmagnitudefloor = std::pow(10.0, CoreButl::dCdbmin / 20.0);

namespace {

char const* const cTag = "ELEQ";

// Everything one design holds; whatever has been taken goes back on every
// exit path, including a pool exception halfway.
struct Work {
    explicit Work(CorePool* pool) : pool(pool) {}
    ~Work() {
        for (void*& block : blocks)
            if (block != nullptr) {
                pool->free_(block);
                block = nullptr;
            }
        if (fft != nullptr) ippsFFTFree_R_64f(fft);
        if (hilbert != nullptr) ippsHilbertFree_32f32fc(hilbert);
    }
    Work(Work const&) = delete;
    Work& operator=(Work const&) = delete;

    template <typename T> T* take(short kind, int count, char const* what) {
        for (void*& block : blocks)
            if (block == nullptr) {
                block = pool->mallc(kind, count, cTag, what);
                return static_cast<T*>(block);
            }
        throw CoreAnsx("Memory request failed"); // more blocks than slots: a programming error
    }

    CorePool* pool;                             // the caller's pool; not owned
    void* blocks[12] = {};                      // pool blocks taken, null when free
    IppsFFTSpec_R_64f* fft = nullptr;           // real FFT of N points, 1/sqrt(N) both ways
    IppsHilbertSpec_32f32fc* hilbert = nullptr; // Hilbert transform of N points
};

// Plans the real FFT of N points in work and takes its scratch (null when it
// needs none, pool tag what); false, logged, when it cannot be planned.
bool planFft(Work& work, int N, char const* what, Ipp8u*& fftBuffer) {
    if (ippsFFTInitAlloc_R_64f(&work.fft, CoreButl::geto2(N), IPP_FFT_DIV_BY_SQRTN,
                               ippAlgHintAccurate) != ippStsNoErr) {
        CoreLog_::loger("Correction filter: FFT could not be planned", 1);
        return false;
    }
    int fftBytes = 0;
    ippsFFTGetBufSize_R_64f(work.fft, &fftBytes);
    fftBuffer = fftBytes > 0 ? work.take<Ipp8u>(4, fftBytes, what) : nullptr;
    return true;
}

double magnitude(Ipp64fc const& c) { return std::hypot(c.re, c.im); }

// The floor also catches NaN from a broken measurement.
double floored(double v) { return v > CoreEleq::dCmagnitudefloor ? v : CoreEleq::dCmagnitudefloor; }

// Bin position on the logarithmic band scale: b^u / b of nb bins.
double logBin(double b, double u, int nb) { return std::pow(b, u) / b * static_cast<double>(nb); }

int clampedBin(double x, int nb) {
    if (!(x > 0.0)) return 0;
    if (x >= static_cast<double>(nb)) return nb;
    return static_cast<int>(x);
}

// Copies and transforms one response into the full spectrum of N bins.
void spectrumOf(Work& work, double* buffer, Ipp8u* fftBuffer, Ipp64fc* spectrum, int N, int length,
                double const* response, bool window) {
    std::memset(buffer, 0, sizeof(double) * static_cast<std::size_t>(N + 2));
    if (length > 0)
        std::memcpy(buffer, response, sizeof(double) * static_cast<std::size_t>(length));
    if (window) CoreButl::windw(buffer, length, 4);
    ippsFFTFwd_RToPack_64f_I(buffer, work.fft, fftBuffer);
    ippsConjPack_64fc(buffer, spectrum, N);
}

} // namespace

int CoreEleq::eqgts(int length1, int length2) {
    return CoreButl::getp2(length1 > length2 ? length1 : length2);
}

bool CoreEleq::eqcal(CorePool* pool, Ipp64fc* spectrum1, Ipp64fc* spectrum2, int N, int length1,
                     double* response1, int length2, double* response2, int span,
                     double bandFraction, bool window, short splineDegree, double weight,
                     double taperLevel, int resolution, int reference) {
    if (pool == nullptr || spectrum1 == nullptr || spectrum2 == nullptr ||
        !CoreButl::ispo2(static_cast<unsigned>(N)) || length1 < 0 || length2 < 0 || length1 > N ||
        length2 > N || (length1 > 0 && response1 == nullptr) ||
        (length2 > 0 && response2 == nullptr)) {
        CoreLog_::loger("Correction filter: unusable sizes or buffers", 1);
        return false;
    }

    Work work(pool);
    Ipp8u* fftBuffer = nullptr;
    if (!planFft(work, N, "eqcal", fftBuffer)) return false;
    double* buffer1 = work.take<double>(0, N + 2, "eqcal");
    double* buffer2 = work.take<double>(0, N + 2, "eqcal");
    spectrumOf(work, buffer1, fftBuffer, spectrum1, N, length1, response1, window);
    spectrumOf(work, buffer2, fftBuffer, spectrum2, N, length2, response2, false);

    // Bands of R bins each, laid on a logarithmic scale from bin nb / b to nb.
    int b = span / 2;
    int half = N / 2;
    int nb = half + 1;
    int R = bandFraction == 0.0
                ? 1
                : static_cast<int>(CoreButl::max__(static_cast<double>(nb) * bandFraction, 1.0));
    int bandCount = R > 0 ? nb / R : 0;
    if (b < 1 || bandCount < 1)
        return false; // b < 1 has no scale; b = 1 squeezes every band to nothing
    double step = 1.0 / static_cast<double>(bandCount);
    double scale = static_cast<double>(b);

    using POINT = CoreSpln::POINT;
    POINT* p1 = work.take<POINT>(0, 3 * (bandCount + 2), "eqcal");
    POINT* p2 = work.take<POINT>(0, 3 * (bandCount + 2), "eqcal");
    int m = 0;
    for (int k = 0; k < bandCount; ++k) {
        double u = static_cast<double>(k) * step;
        int lo = clampedBin(logBin(scale, u, nb), nb);
        int hi = clampedBin(logBin(scale, u + step, nb), nb);
        if (hi <= lo) continue;
        if (m == 0) {
            p1[0] = POINT{0.0, magnitude(spectrum1[0]), 0.0};
            p2[0] = POINT{0.0, magnitude(spectrum2[0]), 0.0};
            m = 1;
        }
        double sum1 = 0.0;
        double sum2 = 0.0;
        for (int i = lo; i < hi; ++i) {
            sum1 += magnitude(spectrum1[i]);
            sum2 += magnitude(spectrum2[i]);
        }
        double x = static_cast<double>(clampedBin(logBin(scale, u + 0.5 * step, nb), nb));
        double bins = static_cast<double>(hi - lo);
        p1[m] = POINT{x, sum1 / bins, 0.0};
        p2[m] = POINT{x, sum2 / bins, 0.0};
        ++m;
    }
    if (m == 0) return false;

    p1[m] = POINT{static_cast<double>(half), magnitude(spectrum1[half]), 0.0};
    p2[m] = POINT{static_cast<double>(half), magnitude(spectrum2[half]), 0.0};
    ++m;
    // DC and Nyquist carry little of the measurement: they copy their neighbours.
    if (m >= 2) {
        p2[m - 1].y = p2[m - 2].y;
        p2[0].y = p2[1].y;
    }
    if (taperLevel > 0.0) {
        int r = -1;
        if (reference > 0) {
            double at = std::trunc(std::pow(2.0, static_cast<double>(reference) / scale) * 0.5 *
                                   static_cast<double>(m));
            r = at < static_cast<double>(m - 1) ? static_cast<int>(at) : m - 1;
        }
        CoreSpln::fixbd(p2, m, taperLevel, r);
    }
    if (m > 1) {
        p1[m - 1].y = p1[m - 2].y;
        p1[0].y = p1[1].y;
    }
    for (int i = 0; i < m; ++i) {
        p1[i].y = CoreButl::divmg(floored(p1[i].y), floored(p2[i].y), weight);
        p1[i].z = 0.0;
    }

    // Smooth the point gains and spread them over every bin.
    if (resolution < 1) resolution = 1;
    long wanted = static_cast<long>(resolution) * m * iCsplinemaxfactor;
    int count = wanted < nb ? static_cast<int>(wanted) : nb;
    int degree = splineDegree < 0 ? 0 : splineDegree;
    CoreSpln spline(degree + 1);
    POINT* curve = work.take<POINT>(0, 3 * count, "eqcal");
    POINT* resampled = work.take<POINT>(0, 3 * nb, "eqcal");
    spline.splne(m - 1, p1, count, curve);
    CoreSpln::map__(count, curve, nb, resampled);

    // Minimum phase: the phase is minus the Hilbert transform of the log
    // magnitude taken as an even sequence over all N bins.
    double* gain = work.take<double>(0, nb, "eqcal");
    float* logGain = work.take<float>(1, N, "eqcal");
    Ipp32fc* analytic = work.take<Ipp32fc>(1, 2 * N, "eqcal");
    for (int i = 0; i < nb; ++i) {
        gain[i] = floored(resampled[i].y);
        logGain[i] = static_cast<float>(std::log(gain[i]));
    }
    for (int k = 0; k < half; ++k) logGain[N - 1 - k] = logGain[k + 1];
    if (ippsHilbertInitAlloc_32f32fc(&work.hilbert, N, ippAlgHintNone) != ippStsNoErr) {
        CoreLog_::loger("Correction filter: Hilbert transform could not be planned", 1);
        return false;
    }
    ippsHilbert_32f32fc(logGain, analytic, work.hilbert);
    for (int i = 0; i <= half; ++i) {
        double phase = -static_cast<double>(analytic[i].im);
        spectrum2[i].re = gain[i] * std::cos(phase);
        spectrum2[i].im = gain[i] * std::sin(phase);
    }
    return true;
}

bool CoreEleq::eqcaf(CorePool* pool, int length1, double* response1, int length2, double* response2,
                     int span, double bandFraction, bool window, short splineDegree, double weight,
                     double taperLevel) {
    if (pool == nullptr || response1 == nullptr || length1 < 1 || length2 < 0 ||
        (length2 > 0 && response2 == nullptr)) {
        CoreLog_::loger("Correction filter: unusable responses", 1);
        return false;
    }
    int N = eqgts(length1, length2);
    Work work(pool);
    Ipp64fc* spectrum1 = work.take<Ipp64fc>(0, 2 * N, "eqcaf");
    Ipp64fc* spectrum2 = work.take<Ipp64fc>(0, 2 * N, "eqcaf");
    if (!eqcal(pool, spectrum1, spectrum2, N, length1, response1, length2, response2, span,
               bandFraction, window, splineDegree, weight, taperLevel, 1, -1))
        return false;

    Ipp8u* fftBuffer = nullptr;
    if (!planFft(work, N, "eqcaf", fftBuffer)) return false;
    // Only bins 0 .. N/2 of the filter are valid, which is all the CCS
    // inverse reads.
    int nb = N / 2 + 1;
    ippsMul_64fc_I(spectrum2, spectrum1, nb);
    double* ccs = work.take<double>(0, N + 2, "eqcaf");
    std::memcpy(ccs, spectrum1, sizeof(Ipp64fc) * static_cast<std::size_t>(nb));
    ippsFFTInv_CCSToR_64f_I(ccs, work.fft, fftBuffer);
    for (int i = 0; i < length1; ++i) response1[i] = CoreButl::flushSubnormal(ccs[i]);
    return true;
}
