// Engines 12 to 16 of the player, which lean on the external GPU bridge
// (CoreCubr).
//   12     the bridge runs the single-precision FFTs, the partitioned
//          products run here (maacf) and the overlap-add into the double
//          rings;
//   13..16 the bridge holds the whole convolution: ours is the parameter
//          block, the handle, the chained computation and the arguments of
//          each call.
// Every bridge call is made only when the entry point exists; a missing one
// fails the load or silences the kernel. Plan functions: engine worker (the
// bridge allocates and plans, may block). Kernels: whichever thread the
// engine runs the player on; nothing here allocates, logs or locks.
#include "engine/CoreCnvl.h"
#include "engine/CoreCnvlIntl.h"

#include "engine/CoreCubr.h"
#include "engine/CoreOpti.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

using FFTSTRUCT = CoreCnvl::FFTSTRUCT;
using FFTEXTENSION = CoreCnvl::FFTEXTENSION;

bool refuse(const char* what) {
    CoreLog_::loger(CoreAnsx("GPU engine not planned: ") + CoreAnsx(what), 1);
    return false;
}

// A loaded bridge; the entry points of the caller's family are checked there.
CoreCubr* bridgeOf(const FFTEXTENSION* e) {
    return e->bridge != nullptr && e->bridge->getld() ? e->bridge : nullptr;
}

// ---- engine 12 ----------------------------------------------------------------

bool fftEntries(const CoreCubr* b) {
    return b != nullptr && b->cudabridge_mallc != nullptr && b->cudabridge_free_ != nullptr &&
           b->cudabridge_plan_ != nullptr && b->cudabridge_despl != nullptr &&
           b->cudabridge_exect != nullptr;
}

// A zeroed block of bridge memory; false when the bridge refuses.
bool bridgeFloats(CoreCubr* b, float*& block, long bytes) {
    void* address = nullptr;
    if (!b->cudabridge_mallc(&address, bytes) || address == nullptr) return false;
    block = static_cast<float*>(address);
    std::memset(block, 0, static_cast<size_t>(bytes));
    return true;
}

// Engine 12, one channel.
void cnm14(const double* in, double* out, const double* kern, float* spectra, float* acc,
           double* ring, int N, int p, int ch, bool refresh, FFTEXTENSION* e) {
    CoreCubr* b = e->bridge;
    PlatBridge::Handle* h = e->handles;
    const int B = e->block;
    const int M = e->length;
    const long stride = 2L * M; // floats between two spectra
    const int P = e->partitions;

    float* x = e->gpuwork + stride;
    std::fill(x, x + stride, 0.0f);
    for (int j = 0; j < B; ++j) x[j] = static_cast<float>(in[j]);
    b->cudabridge_exect(h[0]);

    if (refresh) {
        std::fill(spectra, spectra + stride * P, 0.0f);
        if (kern != nullptr) {
            for (int i = 0; i < P; ++i) {
                const double* k = kern + static_cast<long>(i) * e->partlength;
                float* s = spectra + stride * i;
                for (int j = 0; j < e->partlens[i]; ++j) s[j] = static_cast<float>(k[j]);
            }
        }
        b->cudabridge_exect(h[2 + ch]);
    }

    const int c = *e->index;
    for (int i = 0, j = c; i < P; ++i) {
        maacf(M, x, spectra + stride * i, acc + stride * j);
        if (++j == P) j = 0;
    }

    float* y = e->gpuwork;
    float* due = acc + stride * c;
    std::copy(due, due + stride, y);
    std::fill(due, due + stride, 0.0f);
    b->cudabridge_exect(h[1]);

    // Overlap-add of the N real values only: the two floats past them are
    // not part of the signal.
    const double scale = e->scale;
    double* r = ring + p;
    for (int j = 0; j < B; ++j) {
        out[j] = r[j] + y[j] * scale;
        r[j] = 0.0;
    }
    const int split = 2 * N - p;
    for (int j = B; j < split; ++j) r[j] += y[j] * scale;
    double* w = ring + p - N;
    for (int j = std::max(B, split); j < N; ++j) w[j] += y[j] * scale;
}

// ---- engines 13 to 16 ------------------------------------------------------------

// The two families of whole-convolution entry points.
struct WholeFamily {
    PlatBridge::op32p_t open;
    PlatBridge::op32d_t close;
    PlatBridge::op32c_t clear;
    PlatBridge::opchp_t chain;
    PlatBridge::opchd_t unchain;
};

WholeFamily op32(const CoreCubr* b) {
    return {b->cudabridge_op32p, b->cudabridge_op32d, b->cudabridge_op32c, b->cudabridge_opchp,
            b->cudabridge_opchd};
}

WholeFamily af32(const CoreCubr* b) {
    return {b->cudabridge_af32p, b->cudabridge_af32d, b->cudabridge_af32c, b->cudabridge_afchp,
            b->cudabridge_afchd};
}

void unloadWhole(FFTSTRUCT* plan, FFTEXTENSION* ext, bool af) {
    CoreCubr* b = ext->bridge;
    if (plan->handles[0] != nullptr && b != nullptr) {
        // An open chain goes before the state it hangs on.
        const PlatBridge::opchd_t unchain = af ? b->cudabridge_afchd : b->cudabridge_opchd;
        if (plan->compbuffer != nullptr && unchain != nullptr) unchain(plan->handles[0]);
        const PlatBridge::op32d_t close = af ? b->cudabridge_af32d : b->cudabridge_op32d;
        if (close != nullptr) close(plan->handles[0]);
    }
    plan->handles[0] = nullptr;
    plan->compbuffer = nullptr;
    ext->compbuffer = nullptr;
    plan->loaded = false;
    plan->partloaded = false;
    plan->needscomp = false;
}

// Loads a whole-convolution state: third is M (engines 13, 14) or N (15, 16).
bool loadWhole(FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N, bool af, bool chained) {
    CoreCubr* b = bridgeOf(ext);
    if (b == nullptr) return refuse("no bridge");
    const WholeFamily f = af ? af32(b) : op32(b);
    if (f.open == nullptr || f.close == nullptr) return refuse("bridge entry missing");
    // A state still open from an earlier load goes first, with any chain hung
    // on it: the chain's buffer belongs to that state and dies with it.
    unloadWhole(plan, ext, af);
    b->initd(0);
    const int T = plan->totallength;
    const int L = plan->partlength;
    if (B < 1 || T < 1 || L < 1)
        return refuse("block, kernel and partition lengths must be positive");
    if (static_cast<long>(B) + L - 1 > (1L << 26)) return refuse("kernel too long");
    const int P = static_cast<int>((static_cast<long>(T) + L - 1) / L);
    const int n = CoreButl::getp2(B + L - 1);
    const int third = af ? n : n / 2 + 1;
    plan->partitions = P;
    plan->worklength = n;
    ext->partitions = P;
    ext->length = third;
    ext->partlength = L;
    ext->totallength = T;
    const std::int32_t params[7] = {P, B, n, third, T, L, n};
    const bool ok = f.open(params, &plan->handles[0]);
    ext->handles = plan->handles;
    plan->loaded = ok;
    plan->partloaded = ok;
    if (chained) {
        plan->needscomp = true;
        plan->complength = 2 * third;
    }
    N = n;
    return ok;
}

void clearWhole(FFTSTRUCT* plan, FFTEXTENSION* ext, bool af) {
    CoreCubr* b = ext->bridge;
    if (plan->handles[0] == nullptr || b == nullptr) return;
    const PlatBridge::op32c_t clear = af ? b->cudabridge_af32c : b->cudabridge_op32c;
    if (clear != nullptr) clear(plan->handles[0]);
}

bool chainWhole(FFTSTRUCT* plan, FFTEXTENSION* ext, void* buffer, std::int16_t mode, int length,
                bool af) {
    CoreCubr* b = bridgeOf(ext);
    const PlatBridge::opchp_t chain =
        b == nullptr ? nullptr : (af ? b->cudabridge_afchp : b->cudabridge_opchp);
    if (chain == nullptr || plan->handles[0] == nullptr) return refuse("no bridge state to chain");
    void* holder = buffer;
    const bool ok = chain(plan->handles[0], &holder, mode, length);
    plan->compbuffer = holder;
    ext->compbuffer = static_cast<double*>(holder);
    ext->compmode = mode;
    ext->complength = length;
    return ok;
}

void unchainWhole(FFTSTRUCT* plan, FFTEXTENSION* ext, bool af) {
    CoreCubr* b = ext->bridge;
    const PlatBridge::opchd_t unchain =
        b == nullptr ? nullptr : (af ? b->cudabridge_afchd : b->cudabridge_opchd);
    if (unchain != nullptr && plan->handles[0] != nullptr) unchain(plan->handles[0]);
    // The buffer may have been the bridge's own: never used again.
    plan->compbuffer = nullptr;
    ext->compbuffer = nullptr;
    ext->compmode = 3;
}

// The bridge's state for this player, or null (then the kernel is silent).
PlatBridge::Handle stateOf(const FFTEXTENSION* e) {
    return e->handles != nullptr ? e->handles[0] : nullptr;
}

// cns16 and cns17: spectra slots 0 and 1, or slot 1 and the left kernel twice
// in mono mode. False, with nothing called, without the entry point or a state.
bool chainedCall(PlatBridge::cnm16_t call, const double* inL, const double* inR, double* outL,
                 double* outR, const double* kernL, const double* kernR, double* ringL,
                 double* ringR, int p, FFTEXTENSION* e) {
    PlatBridge::Handle h = stateOf(e);
    if (call == nullptr || h == nullptr) return false;
    if (e->monomode) {
        call(h, inL, outL, kernL, ringL, p, 1, 0, e->changed, e->subblock);
        call(h, inR, outR, kernL, ringR, p, 1, 1, e->changed, e->subblock);
    } else {
        call(h, inL, outL, kernL, ringL, p, 0, 0, e->changed, e->subblock);
        call(h, inR, outR, kernR, ringR, p, 1, 1, e->changed, e->subblock);
    }
    return true;
}

} // namespace

// ---- engine 12: bridge FFTs, products here ------------------------------------

bool CoreCnvlIntl::load7(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N) {
    uloa7(plan, ext);
    CoreCubr* b = bridgeOf(ext);
    if (b == nullptr || !fftEntries(b)) return refuse("no bridge");
    if (plan->pool == nullptr) return refuse("no pool");
    b->initd(0);
    const int T = plan->totallength;
    const int L = plan->partlength;
    if (B < 1 || T < 1 || L < 1)
        return refuse("block, kernel and partition lengths must be positive");
    // Same delay line as engine 10: partition i is late by i blocks.
    if (L != B) return refuse("the partition length must equal the block");
    const long P = (static_cast<long>(T) + L - 1) / L;
    const int n = CoreButl::getp2(B + L - 1);
    const long M = n / 2 + 1;
    if (static_cast<long>(B) + L - 1 > (1L << 26) || P * M * 8 > INT_MAX)
        return refuse("kernel too long");
    plan->fftlength = F;
    plan->worklength = n;
    planPartitions(plan, ext, static_cast<int>(P), "CNV7");
    ext->length = static_cast<int>(M);
    ext->scale = 1.0 / n;
    ext->handles = plan->handles;
    ext->spectravalid = false;

    // Each step only when every earlier one succeeded.
    bool ok = bridgeFloats(b, plan->gpuwork, M * 16);
    ok = ok && b->cudabridge_plan_(n, plan->gpuwork + 2 * M, plan->gpuwork + 2 * M, -1, 1,
                                   &plan->handles[0]);
    ok = ok && b->cudabridge_plan_(n, plan->gpuwork, plan->gpuwork, 1, 1, &plan->handles[1]);
    float** spectra[2] = {&plan->gpuspectral, &plan->gpuspectrar};
    float** accum[2] = {&plan->gpuaccuml, &plan->gpuaccumr};
    for (int ch = 0; ch < 2; ++ch) {
        ok = ok && bridgeFloats(b, *spectra[ch], M * P * 8);
        ok = ok && b->cudabridge_plan_(n, *spectra[ch], *spectra[ch], -1, static_cast<int>(P),
                                       &plan->handles[2 + ch]);
        ok = ok && bridgeFloats(b, *accum[ch], M * P * 8);
    }
    if (!ok) {
        uloa7(plan, ext);
        return refuse("bridge allocation or plan failed");
    }
    ext->gpuwork = plan->gpuwork;
    ext->gpuspectral = plan->gpuspectral;
    ext->gpuspectrar = plan->gpuspectrar;
    ext->gpuaccuml = plan->gpuaccuml;
    ext->gpuaccumr = plan->gpuaccumr;
    plan->loaded = true;
    plan->partloaded = true;
    N = n;
    return true;
}

// Releases what load7 made, whatever stage it reached.
void CoreCnvlIntl::uloa7(FFTSTRUCT* plan, FFTEXTENSION* ext) {
    CoreCubr* b = ext->bridge;
    for (PlatBridge::Handle& h : plan->handles) {
        if (h != nullptr && b != nullptr && b->cudabridge_despl != nullptr) b->cudabridge_despl(h);
        h = nullptr;
    }
    for (float** a : {&plan->gpuwork, &plan->gpuspectral, &plan->gpuspectrar, &plan->gpuaccuml,
                      &plan->gpuaccumr}) {
        if (*a != nullptr && b != nullptr && b->cudabridge_free_ != nullptr)
            b->cudabridge_free_(*a);
        *a = nullptr;
    }
    dropPartitions(plan, ext);
    ext->gpuwork = nullptr;
    ext->gpuspectral = nullptr;
    ext->gpuspectrar = nullptr;
    ext->gpuaccuml = nullptr;
    ext->gpuaccumr = nullptr;
    ext->handles = nullptr;
}

void CoreCnvlIntl::clea7(FFTSTRUCT* plan, FFTEXTENSION* ext) {
    ext->spectravalid = false;
    if (!plan->loaded) return; // a half-made plan has no sizes to clear by
    const long M = ext->length;
    const long PM = M * plan->partitions;
    if (plan->gpuwork != nullptr) std::fill(plan->gpuwork, plan->gpuwork + 4 * M, 0.0f);
    for (float* a : {plan->gpuspectral, plan->gpuspectrar, plan->gpuaccuml, plan->gpuaccumr})
        if (a != nullptr) std::fill(a, a + 2 * PM, 0.0f);
    plan->index = 0;
    ext->spectravalid = false;
}

void CoreCnvlIntl::cns14(const double* inL, const double* inR, double* outL, double* outR,
                         const double* kernL, const double* kernR, double* ringL, double* ringR,
                         int N, int p, FFTEXTENSION* ext) {
    const CoreCubr* b = ext->bridge;
    if (b == nullptr || b->cudabridge_exect == nullptr || ext->gpuwork == nullptr ||
        ext->handles == nullptr || ext->partitions < 1 || ringL == nullptr || ringR == nullptr ||
        N != 2 * (ext->length - 1) || p < N || p + ext->block > 2 * N)
        return silence(outL, outR, ext);
    const bool refresh = refreshDue(ext);
    cnm14(inL, outL, kernL, ext->gpuspectral, ext->gpuaccuml, ringL, N, p, 0, refresh, ext);
    cnm14(inR, outR, kernR, ext->gpuspectrar, ext->gpuaccumr, ringR, N, p, 1, refresh, ext);
    if (refresh) refreshDone(ext);
    nextPartition(ext);
}

// ---- engines 13 to 16: the whole convolution on the bridge ---------------------

bool CoreCnvlIntl::load8(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N) {
    plan->fftlength = F;
    return loadWhole(plan, ext, B, N, false, false);
}
void CoreCnvlIntl::uloa8(FFTSTRUCT* plan, FFTEXTENSION* ext) { unloadWhole(plan, ext, false); }
void CoreCnvlIntl::clea8(FFTSTRUCT* plan, FFTEXTENSION* ext) { clearWhole(plan, ext, false); }

bool CoreCnvlIntl::load9(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N) {
    plan->fftlength = F;
    return loadWhole(plan, ext, B, N, false, true);
}
void CoreCnvlIntl::uloa9(FFTSTRUCT* plan, FFTEXTENSION* ext) { unloadWhole(plan, ext, false); }
void CoreCnvlIntl::clea9(FFTSTRUCT* plan, FFTEXTENSION* ext) { clearWhole(plan, ext, false); }

bool CoreCnvlIntl::lod10(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N) {
    plan->fftlength = F;
    return loadWhole(plan, ext, B, N, true, true);
}
void CoreCnvlIntl::ulo10(FFTSTRUCT* plan, FFTEXTENSION* ext) { unloadWhole(plan, ext, true); }
void CoreCnvlIntl::cle10(FFTSTRUCT* plan, FFTEXTENSION* ext) { clearWhole(plan, ext, true); }

bool CoreCnvlIntl::lcom2(FFTSTRUCT* plan, FFTEXTENSION* ext, void* buffer, std::int16_t mode,
                         int length) {
    return chainWhole(plan, ext, buffer, mode, length, false);
}
void CoreCnvlIntl::ucom2(FFTSTRUCT* plan, FFTEXTENSION* ext) { unchainWhole(plan, ext, false); }

bool CoreCnvlIntl::lcom3(FFTSTRUCT* plan, FFTEXTENSION* ext, void* buffer, std::int16_t mode,
                         int length) {
    return chainWhole(plan, ext, buffer, mode, length, true);
}
void CoreCnvlIntl::ucom3(FFTSTRUCT* plan, FFTEXTENSION* ext) { unchainWhole(plan, ext, true); }

void CoreCnvlIntl::cns15(const double* inL, const double* inR, double* outL, double* outR,
                         const double* kernL, const double* kernR, double* ringL, double* ringR,
                         int, int p, FFTEXTENSION* ext) {
    const CoreCubr* b = ext->bridge;
    PlatBridge::Handle h = stateOf(ext);
    if (b == nullptr || b->cudabridge_cnm15 == nullptr || h == nullptr)
        return silence(outL, outR, ext);
    b->cudabridge_cnm15(h, inL, outL, kernL, ringL, p, 0, ext->changed);
    b->cudabridge_cnm15(h, inR, outR, kernR, ringR, p, 1, ext->changed);
}

void CoreCnvlIntl::cns16(const double* inL, const double* inR, double* outL, double* outR,
                         const double* kernL, const double* kernR, double* ringL, double* ringR,
                         int, int p, FFTEXTENSION* ext) {
    const CoreCubr* b = ext->bridge;
    if (!chainedCall(b == nullptr ? nullptr : b->cudabridge_cnm16, inL, inR, outL, outR, kernL,
                     kernR, ringL, ringR, p, ext))
        silence(outL, outR, ext);
}

void CoreCnvlIntl::cns17(const double* inL, const double* inR, double* outL, double* outR,
                         const double* kernL, const double* kernR, double* ringL, double* ringR,
                         int, int p, FFTEXTENSION* ext) {
    const CoreCubr* b = ext->bridge;
    if (!chainedCall(b == nullptr ? nullptr : b->cudabridge_cnm17, inL, inR, outL, outR, kernL,
                     kernR, ringL, ringR, p, ext))
        silence(outL, outR, ext);
}
