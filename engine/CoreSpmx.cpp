#include "engine/CoreSpmx.h"

#include "engine/CoreCnvlIntl.h"
#include "engine/CoreVctr.h"
#include "runtime/CorePool.h"

#include <algorithm>

namespace {

CNVL_CLONES
void scaled(double* __restrict dst, double const* __restrict src, double w, int n) {
    for (int k = 0; k < n; ++k) dst[k] = src[k] * w;
}

CNVL_CLONES
void added(double* __restrict dst, double const* __restrict src, double w, int n) {
    for (int k = 0; k < n; ++k) dst[k] += src[k] * w;
}

// Two terms in one pass (the same sums as scaled, then added).
CNVL_CLONES
void twoTerms(double* __restrict dst, double const* __restrict a, double wa,
              double const* __restrict b, double wb, int n) {
    for (int k = 0; k < n; ++k) dst[k] = a[k] * wa + b[k] * wb;
}

} // namespace

bool CoreSpmx::setup(CoreVctr* vector, CoreCnvl::FFTEXTENSION const& ext) {
    clear();
    if (vector == nullptr || ext.spectral == nullptr || ext.spectrar == nullptr ||
        ext.partlens == nullptr || ext.partitions < 1 || ext.length < 2)
        return false;
    void const* left[iCelements];
    void const* right[iCelements];
    int const found = vector->chnel(left, right, iCelements);
    if (found < 1) return false;
    long const values = static_cast<long>(ext.partitions) * ext.length;
    if (values * 2 * found > iCbudget) return false;
    try {
        for (int i = 0; i < found; ++i) {
            ELEMENT& e = elements[i];
            e = ELEMENT{};
            e.left = left[i];
            e.right = right[i];
            for (double*& s : e.spectra)
                s = static_cast<double*>(pool->mallc(0, static_cast<int>(values), "CNV4", ""));
            count = i + 1;
        }
        unwritten = static_cast<unsigned char*>(pool->mallc(4, ext.partitions, "CNV4", ""));
    } catch (...) {
        clear();
        throw;
    }
    root = vector;
    length = ext.length;
    partitions = ext.partitions;
    partlength = ext.partlength;
    totallength = ext.totallength;
    root->chndf(ext.partlength, &root);
    return true;
}

bool CoreSpmx::rebnd(CoreVctr* vector, CoreCnvl::FFTEXTENSION const& ext) {
    if (vector == nullptr || vector != root || ext.length != length ||
        ext.partitions != partitions || ext.partlength != partlength ||
        ext.totallength != totallength)
        return false;
    void const* left[iCelements];
    void const* right[iCelements];
    if (vector->chnel(left, right, iCelements) != count) return false;
    for (int i = 0; i < count; ++i)
        if (elements[i].left != left[i] || elements[i].right != right[i]) return false;
    // The tree may have been relinked since: every node takes the root again.
    root->chndf(ext.partlength, &root);
    return true;
}

void CoreSpmx::clear() {
    if (root != nullptr) root->chndf(0);
    release();
}

void CoreSpmx::whole() noexcept {
    // Every partition is transformed from the kernel now, the ones the
    // last mix left to its two terms too.
    paired = false;
    if (root != nullptr) root->chnwr();
}

void CoreSpmx::release() {
    for (int i = 0; i < count; ++i)
        for (double*& s : elements[i].spectra) {
            if (s != nullptr) pool->free_(s);
            s = nullptr;
        }
    count = 0;
    if (unwritten != nullptr) pool->free_(unwritten);
    unwritten = nullptr;
    paired = false;
    root = nullptr;
    length = 0;
    partitions = 0;
    partlength = 0;
    totallength = 0;
}

void CoreSpmx::make(CoreCnvl::FFTEXTENSION* ext, ELEMENT& e, CoreVctr const* owner) noexcept {
    int const L = ext->partlength;
    long const mixedlength = owner->getcd();
    int valid = 0;
    while (valid < partitions && static_cast<long>(valid) * L + ext->partlens[valid] <= mixedlength)
        ++valid;
    void const* buffers[2] = {e.left, e.right};
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < valid; ++i)
            CoreCnvlIntl::prtsp(ext,
                                static_cast<double const*>(buffers[ch]) + static_cast<long>(i) * L,
                                ext->partlens[i], e.spectra[ch] + static_cast<long>(i) * length);
    e.owner = owner;
    e.version = owner->getev();
    e.valid = valid;
}

bool CoreSpmx::mixed(CoreCnvl::FFTEXTENSION* ext, double const* kernL,
                     double const* kernR) noexcept {
    if (mixSpectra(ext, kernL, kernR)) return true;
    whole();
    return false;
}

bool CoreSpmx::mixSpectra(CoreCnvl::FFTEXTENSION* ext, double const* kernL,
                          double const* kernR) noexcept {
    // Only the vector's own output pair is its sum (a diagnostic, say, may
    // play another kernel on the same player).
    if (root == nullptr || ext->length != length || ext->partitions != partitions ||
        kernL == nullptr || kernL != root->getlc() || kernR != root->getrc())
        return false;
    paired = false;
    CoreVctr::LINEARSUM sum;
    if (!root->chnsm(sum, 1.0)) return false;
    // Each term's element, its spectra brought up to date; the partitions
    // every term has spectra for.
    ELEMENT* used[CoreVctr::LINEARSUM::iCterms];
    int clean = partitions;
    for (int j = 0; j < sum.count; ++j) {
        ELEMENT* e = nullptr;
        for (int i = 0; i < count && e == nullptr; ++i)
            if (elements[i].left == sum.left[j] && elements[i].right == sum.right[j])
                e = &elements[i];
        if (e == nullptr) return false; // an element bound after the spectra were made
        if (e->owner != sum.owner[j] || e->version != sum.owner[j]->getev())
            make(ext, *e, sum.owner[j]);
        used[j] = e;
        clean = std::min(clean, e->valid);
    }
    int const L = ext->partlength;
    bool const two = sum.count == 2;
    double* out[2] = {ext->spectral, ext->spectrar};
    double const* kern[2] = {kernL, kernR};
    for (int i = 0; i < partitions; ++i) {
        long const from = static_cast<long>(i) * L;
        long const to = from + ext->partlens[i];
        bool dirty = i >= clean;
        for (int r = 0; r < sum.ranges && !dirty; ++r) dirty = sum.from[r] < to && from < sum.to[r];
        long const at = static_cast<long>(i) * length;
        unwritten[i] = two && !dirty ? 1 : 0;
        if (unwritten[i] != 0) continue;
        // Read from the kernel: the root writes out what it left there first.
        if (dirty && !root->chnpw(from, to)) root->chnwr();
        for (int ch = 0; ch < 2; ++ch) {
            double* s = out[ch] + at;
            if (dirty) {
                CoreCnvlIntl::prtsp(ext, kern[ch] + from, ext->partlens[i], s);
            } else if (sum.count == 0) {
                std::fill(s, s + length, 0.0);
            } else {
                int j = 1;
                if (sum.count >= 2) {
                    twoTerms(s, used[0]->spectra[ch] + at, sum.weight[0], used[1]->spectra[ch] + at,
                             sum.weight[1], length);
                    j = 2;
                } else {
                    scaled(s, used[0]->spectra[ch] + at, sum.weight[0], length);
                }
                for (; j < sum.count; ++j)
                    added(s, used[j]->spectra[ch] + at, sum.weight[j], length);
            }
        }
    }
    if (two) {
        pair[0] = used[0];
        pair[1] = used[1];
        pairweight[0] = sum.weight[0];
        pairweight[1] = sum.weight[1];
        paired = true;
    }
    return true;
}
