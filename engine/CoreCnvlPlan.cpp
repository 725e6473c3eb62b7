// Engines 6, 7 and 8 (never usable here: their validity test asks for a
// library this build does not have, so selection always replaces them), the
// one-tap engine 17, the computation plan shared by the "ch" engines 8
// and 11, and the partition bookkeeping of the partitioned engines (10, 11,
// 12). Plan functions run on the engine worker (may allocate); kernels on
// the audio thread or the engine worker (no allocation, no I/O, no lock).
#include "engine/CoreCnvl.h"
#include "engine/CoreCnvlIntl.h"

#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"

#include <algorithm>

namespace {

// Zeroes count values of an array that may not exist.
inline void zeroValues(double* values, long count) {
    if (values != nullptr && count > 0) std::fill(values, values + count, 0.0);
}

// One channel of the one-tap kernel.
inline double oneTap(double x, const double* kern, double* ring, int N, int p, int t) {
    const double v = kern[t] * CoreButl::flushSubnormal(x);
    ring[p + t] = v;
    ring[p - N + t] = v;
    return ring[p];
}

} // namespace

void CoreCnvlIntl::planPartitions(FFTSTRUCT* plan, FFTEXTENSION* ext, int P, const char* tag) {
    const int T = plan->totallength;
    const int L = plan->partlength;
    plan->partlens = static_cast<int*>(plan->pool->mallc(3, P, tag, CoreAnsx("")));
    for (int i = 0; i < P; ++i) plan->partlens[i] = std::min(T - L * i, L);
    plan->partitions = P;
    plan->index = 0;
    ext->partitions = P;
    ext->partlens = plan->partlens;
    ext->partlength = L;
    ext->totallength = T;
    ext->index = &plan->index;
}

void CoreCnvlIntl::dropPartitions(FFTSTRUCT* plan, FFTEXTENSION* ext) {
    if (plan->partlens != nullptr && plan->pool != nullptr) plan->pool->free_(plan->partlens);
    plan->partlens = nullptr;
    plan->loaded = false;
    plan->partloaded = false;
    plan->index = 0;
    plan->partitions = 0;
    ext->partlens = nullptr;
    ext->partitions = 0;
    ext->spectravalid = false;
}

bool CoreCnvlIntl::load1(int, FFTSTRUCT*, FFTEXTENSION*, int, int&) { return true; }
void CoreCnvlIntl::uloa1(FFTSTRUCT*, FFTEXTENSION*) {}

void CoreCnvlIntl::clea1(FFTSTRUCT* plan, FFTEXTENSION*) {
    if (plan == nullptr) return;
    const long N = plan->worklength;
    const long PN = 2L * plan->partitions * N;
    zeroValues(plan->work, 4 * N);
    zeroValues(plan->spectral, PN);
    zeroValues(plan->spectrar, PN);
    zeroValues(plan->accuml, PN);
    zeroValues(plan->accumr, PN);
}

bool CoreCnvlIntl::load2(int, FFTSTRUCT*, FFTEXTENSION*, int, int&) { return true; }
void CoreCnvlIntl::uloa2(FFTSTRUCT*, FFTEXTENSION*) {}

void CoreCnvlIntl::clea2(FFTSTRUCT* plan, FFTEXTENSION*) {
    if (plan == nullptr) return;
    zeroValues(plan->work, 6L * plan->worklength);
}

bool CoreCnvlIntl::load6(int, FFTSTRUCT* plan, FFTEXTENSION* ext, int, int& N) {
    plan->needscomp = true;
    plan->complength = 2 * N;
    ext->compmode = 3;
    ext->complength = 2 * N;
    return true;
}

void CoreCnvlIntl::uloa6(FFTSTRUCT* plan, FFTEXTENSION* ext) {
    plan->compbuffer = nullptr;
    ext->compbuffer = nullptr;
    plan->needscomp = false;
    plan->partloaded = false;
}

void CoreCnvlIntl::clea6(FFTSTRUCT* plan, FFTEXTENSION* ext) { clea1(plan, ext); }

bool CoreCnvlIntl::lcom1(FFTSTRUCT* plan, FFTEXTENSION* ext, void* buffer, std::int16_t mode,
                         int length) {
    ext->compmode = mode;
    ext->complength = length;
    void* use = buffer;
    if (mode == 0) {
        // The first player of a chain owns the buffer; the others borrow it. A
        // refused owner must not keep the buffer it was handed: its unload would
        // free a buffer it never made.
        if (plan->pool == nullptr || length < 1) {
            plan->compowned = false;
            plan->compbuffer = nullptr;
            ext->compbuffer = nullptr;
            return false;
        }
        use = plan->pool->mallc(0, 2 * length, "CNV+", CoreAnsx(""));
        std::fill(static_cast<double*>(use), static_cast<double*>(use) + 2L * length, 0.0);
    }
    plan->compbuffer = use;
    // Ownership is fixed here, when the buffer is made: the mode in the
    // extension can be changed later (setci) and must not decide what is freed.
    plan->compowned = (mode == 0);
    ext->compbuffer = static_cast<double*>(use);
    return true;
}

void CoreCnvlIntl::ucom1(FFTSTRUCT* plan, FFTEXTENSION* ext) {
    if (plan->compowned && plan->pool != nullptr && plan->compbuffer != nullptr)
        plan->pool->free_(plan->compbuffer);
    plan->compowned = false;
    plan->compbuffer = nullptr;
    ext->compbuffer = nullptr;
    ext->compmode = 3;
}

void CoreCnvlIntl::cnvs8(const double*, const double*, double* outL, double* outR, const double*,
                         const double*, double*, double*, int, int, FFTEXTENSION* ext) {
    silence(outL, outR, ext);
}

void CoreCnvlIntl::cnvs9(const double*, const double*, double* outL, double* outR, const double*,
                         const double*, double*, double*, int, int, FFTEXTENSION* ext) {
    silence(outL, outR, ext);
}

void CoreCnvlIntl::cns13(const double*, const double*, double* outL, double* outR, const double*,
                         const double*, double*, double*, int, int, FFTEXTENSION* ext) {
    silence(outL, outR, ext);
}

void CoreCnvlIntl::cns18(const double* inL, const double* inR, double* outL, double* outR,
                         const double* kernL, const double* kernR, double* ringL, double* ringR,
                         int N, int p, FFTEXTENSION* ext) {
    const int t = ext != nullptr ? ext->onetap : 0;
    // Engine 17 runs one sample per call, engine 16 the caller's whole block.
    const int count = ext != nullptr && ext->block > 1 ? ext->block : 1;
    // A tap outside the kernel, or a block past the ring's upper copy, would
    // write past the ring.
    if (t < 0 || t >= N || p < N || p > 2 * N - count || ringL == nullptr || ringR == nullptr) {
        silence(outL, outR, count);
        return;
    }
    for (int i = 0; i < count; ++i) {
        outL[i] = oneTap(inL[i], kernL, ringL, N, p + i, t);
        outR[i] = oneTap(inR[i], kernR, ringR, N, p + i, t);
    }
}
