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
#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"

#include <algorithm>
#include <cstdint>
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

// The mix as separate passes (scale, each source, flush): what a pair that
// is one buffer on both sides gets, each pass treating it twice.
void vmixSeparate(const CoreCnvl::VECTORMIXSTRUCT* mix, bool selected, bool pan, int n, int count,
                  double* dl, double* dr, void* const* srcL, void* const* srcR) {
    if (mix != nullptr) {
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
    vmixf(skip ? nullptr : mix, selected, pan, n, count, dstL, dstR, srcL, srcR, 0, 0, nullptr, 0,
          nullptr, false);
}

namespace {

// One source of a fused mix for one output channel: x * a, or x * a + y * d
// when it is panned (y is the other channel of the same element).
struct TERM {
    const double* x;
    const double* y; // null: not panned
    double a;
    double d;
};

constexpr int kTile = 256; // samples a fused mix holds between its terms

// One channel: dst := flush(fade(dst * keep + the terms, in order)), or
// with split dst := flush(dst * keep + flush(fade(the terms))). Works
// through the buffer a tile at a time, so each value is read and written
// once however many terms there are. fresh: nothing of dst is kept, the
// first term (plain) is written rather than added to dst * 0.
CNVL_CLONES // no FMA: every sum rounds as the separate passes rounded it
    void
    mixChannel(int n, double* dst, double keep, bool fresh, bool split, const TERM* terms,
               int count, bool last, int headLength, const double* head, int fadeLength,
               int tailLength, const double* tail, int from, int to) {
    alignas(64) double t[kTile];
    const int tailStart = fadeLength - tailLength; // first sample the tail window scales
    // One or two plain terms, the last pass: a tile the fade leaves alone is
    // one loop, each value read, summed in the same order and written once.
    const bool plain = last && count >= 1 && count <= 2 && terms[0].y == nullptr &&
                       (count == 1 || terms[1].y == nullptr);
    const bool two = count == 2;
    const auto flushed = [](double v) { return CoreButl::flushSubnormal(v); };
    for (int base = std::max(from, 0); base < std::min(to, n); base += kTile) {
        const int m = std::min({kTile, n - base, to - base});
        const bool faded = (headLength > 0 && base < headLength) ||
                           (tailLength > 0 && base < fadeLength && base + m > tailStart);
        if (plain && !faded) {
            double* o = dst + base;
            const double* x0 = terms[0].x + base;
            const double* x1 = two ? terms[1].x + base : x0;
            const double a0 = terms[0].a;
            const double a1 = two ? terms[1].a : 0.0;
            // With split, fresh holds: the share is the terms, flushed, then
            // added to the kept part (at gain 1, which changes no value).
            if (split && two)
                for (int i = 0; i < m; ++i)
                    o[i] = flushed(o[i] * keep + flushed(x0[i] * a0 + x1[i] * a1));
            else if (split)
                for (int i = 0; i < m; ++i) o[i] = flushed(o[i] * keep + flushed(x0[i] * a0));
            else if (fresh && two)
                for (int i = 0; i < m; ++i) o[i] = flushed(x0[i] * a0 + x1[i] * a1);
            else if (fresh)
                for (int i = 0; i < m; ++i) o[i] = flushed(x0[i] * a0);
            else if (two)
                for (int i = 0; i < m; ++i) o[i] = flushed(o[i] * keep + x0[i] * a0 + x1[i] * a1);
            else
                for (int i = 0; i < m; ++i) o[i] = flushed(o[i] * keep + x0[i] * a0);
            continue;
        }
        const double* d = dst + base;
        if (split && !fresh)
            std::fill(t, t + m, 0.0);
        else if (!fresh)
            for (int i = 0; i < m; ++i) t[i] = d[i] * keep;
        for (int k = 0; k < count; ++k) {
            const double* x = terms[k].x + base;
            const double a = terms[k].a;
            if (terms[k].y == nullptr) {
                if (k == 0 && fresh)
                    for (int i = 0; i < m; ++i) t[i] = x[i] * a;
                else
                    for (int i = 0; i < m; ++i) t[i] += x[i] * a;
            } else {
                const double* y = terms[k].y + base;
                const double dd = terms[k].d;
                for (int i = 0; i < m; ++i) t[i] += x[i] * a + y[i] * dd;
            }
        }
        // The fade scales what the flush of the separate passes left; a
        // value it would have cleared first still ends as +0.
        for (int i = std::max(0, base); i < std::min(headLength, base + m); ++i)
            t[i - base] *= head[i];
        for (int i = std::max(tailStart, base); i < std::min(fadeLength, base + m); ++i)
            t[i - base] *= tail[i - tailStart];
        if (split) // the faded share as the scratch pass left it, then the kept part
            for (int i = 0; i < m; ++i) t[i] = d[i] * keep + flushed(t[i]) * 1.0;
        double* o = dst + base;
        if (!last) { // a pass before further terms: the sums as they are
            std::copy(t, t + m, o);
            continue;
        }
        for (int i = 0; i < m; ++i) o[i] = flushed(t[i]);
    }
}

} // namespace

bool CoreCnvlIntl::vmixf(const VECTORMIXSTRUCT* mix, bool selected, bool pan, int n, int count,
                         void* dstL, void* dstR, void* const* srcL, void* const* srcR,
                         int fadeLength, int headLength, const void* head, int tailLength,
                         const void* tail, bool split, int from, int to) {
    auto* dl = static_cast<double*>(dstL);
    auto* dr = static_cast<double*>(dstR);
    if (n < 1 || dl == nullptr || dr == nullptr) return true;
    // The fresh share must be whole before the kept part joins it.
    split = split && mix != nullptr;
    if (split && (dl == dr || fadeLength > n || (!selected && count > iCmixterms))) return false;
    // The separate passes below treat the whole buffer only.
    if ((dl == dr || fadeLength > n) && (from > 0 || to < n)) return false;
    if (dl == dr || fadeLength > n) {
        // One buffer for both sides, or a fade past the mixed values: the
        // separate passes, which handle both.
        vmixSeparate(mix, selected, pan, n, count, dl, dr, srcL, srcR);
        fade1(nullptr, fadeLength, dl, dr, headLength, head, tailLength, tail);
        return true;
    }
    const int f = std::max(fadeLength, 0);
    const auto* w = static_cast<const double*>(head);
    const auto* tw = static_cast<const double*>(tail);
    const int hl = w != nullptr && headLength > 0 ? std::min(headLength, f) : 0;
    // Window value i belongs to index f - tailLength + i; indices below 0 do not exist.
    const int tl = tw != nullptr && tailLength > 0 ? std::min(tailLength, f) : 0;
    if (tl > 0 && tailLength > f) tw += tailLength - f;

    // Up to two chosen elements, else every element: the terms of each side.
    TERM left[iCmixterms], right[iCmixterms];
    int terms = 0;
    double keep = mix != nullptr ? mix->retention : 1.0;
    // Nothing of the old output is kept: the first plain term is a write
    // (the same values once flushed, as 0 * dst + x is x or a signed zero).
    auto pass = [&](bool last) {
        const bool fresh = (keep == 0.0 || split) && terms > 0 && left[0].y == nullptr;
        mixChannel(n, dl, keep, fresh, split, left, terms, last, last ? hl : 0, w, f, last ? tl : 0,
                   tw, from, to);
        mixChannel(n, dr, keep, fresh, split, right, terms, last, last ? hl : 0, w, f,
                   last ? tl : 0, tw, from, to);
        terms = 0;
        keep = 1.0;
    };
    auto add = [&](void* sl, void* sr, double g) {
        // An element not (yet) allocated adds nothing.
        if (sl == nullptr || sr == nullptr) return;
        const auto* l = static_cast<const double*>(sl);
        const auto* r = static_cast<const double*>(sr);
        if (terms == iCmixterms) pass(false);
        if (pan) {
            left[terms] = {l, r, mix->panll * g, mix->panrl * g};
            right[terms] = {l, r, mix->panlr * g, mix->panrr * g};
        } else {
            left[terms] = {l, nullptr, g, 0.0};
            right[terms] = {r, nullptr, g, 0.0};
        }
        ++terms;
    };
    if (mix != nullptr && srcL != nullptr && srcR != nullptr) {
        if (!selected) {
            for (int k = 0; k < count; ++k) add(srcL[k], srcR[k], mix->gain);
        } else {
            const std::int32_t index[2] = {mix->index0, mix->index1};
            const double weight[2] = {mix->weight0, mix->weight1};
            for (int e = 0; e < 2; ++e)
                // An index past the element count would read a stray pointer.
                if (index[e] >= 0 && index[e] < count)
                    add(srcL[index[e]], srcR[index[e]], weight[e]);
        }
    }
    pass(true);
    return true;
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
