// The element sets: how vectors hold, copy, scale, fade and mix kernel data
// for the engine a player selected. Set 1 keeps doubles in the pool; set 2
// forwards to the GPU bridge, which keeps 32-bit values.
// new and delete run where vectors are built (control thread or engine
// worker); copy, adjust, fade and mix also run in the per-block vector
// update and allocate nothing.
#include "engine/CoreCnvl.h"
#include "engine/CoreCnvlIntl.h"

#include "engine/CoreCubr.h"
#include "engine/CoreOpti.h"
#include "runtime/CorePool.h"

#include <algorithm>
#include <cstring>

namespace {

// Denormal flush of n values of one array.
inline void flushValues(int n, double* values) {
    if (n > 0 && values != nullptr) kllad(n, &values);
}

// Adds one source pair into the destination with the pan matrix scaled by g.
inline void addPanned(int n, double** dstL, double** dstR, void* srcL, void* srcR,
                      const CoreCnvl::VECTORMIXSTRUCT* m, double g) {
    // An element not (yet) allocated adds nothing.
    if (srcL == nullptr || srcR == nullptr) return;
    auto* l = static_cast<double*>(srcL);
    auto* r = static_cast<double*>(srcR);
    mixr3(n, dstL, dstR, &l, &r, m->panll * g, m->panlr * g, m->panrr * g, m->panrl * g);
}

inline void addPlain(int n, double** dstL, double** dstR, void* srcL, void* srcR, double g) {
    if (srcL == nullptr || srcR == nullptr) return;
    auto* l = static_cast<double*>(srcL);
    auto* r = static_cast<double*>(srcR);
    mixr2(n, dstL, dstR, &l, &r, g);
}

// The bridge entries of set 2, when the bridge is there.
inline CoreCubr* bridgeOf(CoreCnvl::VECEXTENSION* ext) {
    return ext != nullptr ? ext->bridge : nullptr;
}

} // namespace

int CoreCnvlIntl::szel1() { return 8; }

void* CoreCnvlIntl::nwel1(VECEXTENSION*, CorePool* pool, int n) {
    if (pool == nullptr || n < 1) return nullptr;
    auto* e = static_cast<double*>(pool->mallc(0, n, "CNVL", CoreAnsx("")));
    std::fill(e, e + n, 0.0);
    return e;
}

void CoreCnvlIntl::dlel1(VECEXTENSION*, CorePool* pool, void* element) {
    if (pool != nullptr && element != nullptr) pool->free_(element);
}

void CoreCnvlIntl::copy1(VECEXTENSION*, void* dst, const void* src, int n, bool, int offset,
                         bool flush) {
    if (dst == nullptr || n < 1 || offset < 0) return;
    auto* d = static_cast<double*>(dst);
    // A caller may shift data within one element, so the ranges may overlap.
    if (src != nullptr)
        std::memmove(d + offset, src, static_cast<size_t>(n) * sizeof(double));
    else
        std::fill(d + offset, d + offset + n, 0.0);
    if (!flush) return;
    // n values from the start of the element, and the values just written:
    // a kernel loaded piece by piece at growing offsets would otherwise keep
    // the denormals of every piece but the first.
    flushValues(n, d);
    if (offset > 0) {
        double* written = d + std::max(offset, n);
        flushValues(offset + n - std::max(offset, n), written);
    }
}

void CoreCnvlIntl::adj_1(VECEXTENSION*, void* left, void* right, int n, double gain) {
    if (n < 1) return;
    auto* l = static_cast<double*>(left);
    auto* r = static_cast<double*>(right);
    // A mono pair may hold one buffer for both sides: scale it once.
    if (l == r) r = nullptr;
    if (l != nullptr && r != nullptr) {
        mixr1(n, &l, &r, gain);
    } else {
        double* one = l != nullptr ? l : r;
        if (one == nullptr) return;
        for (int i = 0; i < n; ++i) one[i] *= gain;
    }
    flushValues(n, l);
    flushValues(n, r);
}

void CoreCnvlIntl::fade1(VECEXTENSION*, int n, void* left, void* right, int windowLength,
                         const void* window, int tailLength, const void* tailWindow) {
    auto* l = static_cast<double*>(left);
    auto* r = static_cast<double*>(right);
    if (n < 1 || l == nullptr || r == nullptr) return;
    const bool same = l == r; // a mono pair is faded once
    const auto* w = static_cast<const double*>(window);
    const auto* t = static_cast<const double*>(tailWindow);
    if (windowLength > 0 && w != nullptr) {
        const int len = std::min(windowLength, n);
        for (int i = 0; i < len; ++i) {
            l[i] *= w[i];
            if (!same) r[i] *= w[i];
        }
    }
    if (tailLength > 0 && t != nullptr) {
        if (same) {
            // mkefo scales both arrays, which would fade a shared buffer twice.
            const int first = tailLength > n ? tailLength - n : 0;
            for (int i = first; i < tailLength; ++i) l[n - tailLength + i] *= t[i];
        } else {
            mkefo(n, tailLength, l, r, t);
        }
    }
    if (windowLength != 0 || tailLength != 0) {
        flushValues(n, l);
        if (!same) flushValues(n, r);
    }
}

void CoreCnvlIntl::vmix1(VECEXTENSION*, bool skip, bool selected, bool pan,
                         const VECTORMIXSTRUCT* mix, int n, int count, void* dstL, void* dstR,
                         void* const* srcL, void* const* srcR) {
    auto* dl = static_cast<double*>(dstL);
    auto* dr = static_cast<double*>(dstR);
    if (n < 1 || dl == nullptr || dr == nullptr) return;
    if (!skip && mix != nullptr) {
        mixr1(n, &dl, &dr, mix->retention);
        if (!selected) {
            for (int k = 0; k < count && srcL != nullptr && srcR != nullptr; ++k) {
                if (pan)
                    addPanned(n, &dl, &dr, srcL[k], srcR[k], mix, mix->gain);
                else
                    addPlain(n, &dl, &dr, srcL[k], srcR[k], mix->gain);
            }
        } else if (srcL != nullptr && srcR != nullptr) {
            const std::int32_t index[2] = {mix->index0, mix->index1};
            const double weight[2] = {mix->weight0, mix->weight1};
            for (int e = 0; e < 2; ++e) {
                // An index past the element count would read a stray pointer.
                if (index[e] < 0 || index[e] >= count) continue;
                if (pan)
                    addPanned(n, &dl, &dr, srcL[index[e]], srcR[index[e]], mix, weight[e]);
                else
                    addPlain(n, &dl, &dr, srcL[index[e]], srcR[index[e]], weight[e]);
            }
        }
    }
    flushValues(n, dl);
    flushValues(n, dr);
}

int CoreCnvlIntl::szel2() { return 4; }

void* CoreCnvlIntl::nwel2(VECEXTENSION* ext, CorePool*, int n) {
    CoreCubr* b = bridgeOf(ext);
    if (b == nullptr || b->cudabridge_avnwe == nullptr || n < 1) return nullptr;
    void* element = nullptr;
    if (!b->cudabridge_avnwe(&element, n)) return nullptr;
    return element;
}

void CoreCnvlIntl::copy2(VECEXTENSION* ext, void* dst, const void* src, int n, bool transfer,
                         int offset, bool flush) {
    CoreCubr* b = bridgeOf(ext);
    if (b == nullptr || b->cudabridge_avcpe == nullptr) return;
    b->cudabridge_avcpe(dst, src, n, transfer, offset, flush);
}

void CoreCnvlIntl::adj_2(VECEXTENSION* ext, void* left, void* right, int n, double gain) {
    CoreCubr* b = bridgeOf(ext);
    if (b == nullptr || b->cudabridge_avade == nullptr) return;
    b->cudabridge_avade(left, right, n, static_cast<float>(gain));
}

void CoreCnvlIntl::fade2(VECEXTENSION* ext, int n, void* left, void* right, int windowLength,
                         const void* window, int tailLength, const void* tailWindow) {
    CoreCubr* b = bridgeOf(ext);
    if (b == nullptr || b->cudabridge_avfde == nullptr) return;
    b->cudabridge_avfde(n, left, right, windowLength, static_cast<const double*>(window),
                        tailLength, static_cast<const double*>(tailWindow));
}

void CoreCnvlIntl::vmix2(VECEXTENSION* ext, bool skip, bool selected, bool pan,
                         const VECTORMIXSTRUCT* mix, int n, int count, void* dstL, void* dstR,
                         void* const* srcL, void* const* srcR) {
    CoreCubr* b = bridgeOf(ext);
    if (b == nullptr || b->cudabridge_avvmx == nullptr) return;
    b->cudabridge_avvmx(skip, selected, pan, mix, n, count, dstL, dstR, srcL, srcR);
}
