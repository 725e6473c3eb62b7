// CoreVctr, per-block part: control binding, the update that turns the five
// controls into one element mix, peak normalisation and the output fades.
// setvl, setgn and the fold preparation run on the loader path; updte, chnup,
// chnru and setfd run once per block on the processing thread (audio thread:
// no allocation, no file or log I/O, no blocking lock).
#include "engine/CoreVctr.h"

#include "engine/CoreCnvlIntl.h"

#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

inline double flush(double v) { return CoreButl::flushSubnormal(v); }

// A peak that can divide: positive and finite.
inline bool usablePeak(double v) { return v > 0.0 && std::isfinite(v); }

// v held to lo .. hi; a value that is not a number reads as lo. Controls are
// scaled for bus values in -1 .. 1, but a constant or a source may stand
// beyond: past the ends a gain would turn negative (an inverted kernel) and
// a pan would rotate past the hard side.
inline double within(double v, double lo, double hi) { return v > hi ? hi : (v >= lo ? v : lo); }

} // namespace

// ---- Binding ------------------------------------------------------------------------

void CoreVctr::setvl(bool vectorOn, double minimum, double maximum, CoreAnsx vectorSource,
                     bool readbackOn, CoreAnsx readbackSource, double panDepth, CoreAnsx panSource,
                     double gainpadFloor, CoreAnsx gainpadSource, bool gainOn, CoreAnsx gainSource,
                     bool normaliseOn, double normalisationPosition, double normalisationWeight) {
    settle();
    vectoron = vectorOn;
    if (vectoron) {
        vectorsource = vectorSource;
        // One element is always chosen in full, wherever the control stands.
        if (count == 1)
            vectorcontrol->setsr("", 1.0, 1.0);
        else
            vectorcontrol->setsr(vectorSource, minimum, maximum);
    }
    readbackon = readbackOn;
    if (readbackon) {
        // An unknown name would fall back to "OFF", and writing the readback
        // there would move every control bound to "OFF": it is not written.
        readbacksource = sources != nullptr && sources->isact(readbackSource)
                             ? sources->getsc(readbackSource)
                             : nullptr;
        if (readbacksource == nullptr)
            CoreLog_::loger(CoreAnsx("Vector readback source not found: ") + readbackSource, 1);
        // Equal ends would give an infinite scale: the readback then stays at -1.
        double span = readbacktop - readbackbase;
        readbackscale = flush(span) != 0.0 ? flush(2.0 / span) : 0.0;
    }
    pandepth = panDepth;
    pansource = panSource;
    pancontrol->setsr(panSource, -1.0, 1.0);
    if (panDepth > 0.0) panon = true;
    gainon = gainOn;
    if (gainon) {
        gainsource = gainSource;
        gaincontrol->setsr(gainSource, 0.0, 1.0);
    }
    gainpadfloor = gainpadFloor;
    gainpadsource = gainpadSource;
    gainpadcontrol->setsr(gainpadSource, 0.0, 1.0);
    if (leaf) {
        normaliseon = normaliseOn;
        normposition = normalisationPosition;
        normweight = normalisationWeight;
    }
    unchanged = false;
    converged = false;
    residual = 1.0;
    lastindex[0] = lastindex[1] = -1;
    // The readback may go to another source or scale now: the next update
    // computes the weights, and writes it, afresh.
    weightscached = false;
}

void CoreVctr::remix() {
    unchanged = false;
    converged = false;
    // Elements or lengths may have changed under the output: what it holds
    // is no longer the sum it was mixed as (the mixes to come wash it out;
    // the buffers it was mixed from may be gone), and spectra made of the
    // elements may be stale.
    own.count = 0;
    unknown = 1.0;
    ++elementversion;
}

void CoreVctr::setlq(double value) {
    if (value >= dCliquidmax)
        liquid = dCliquidmax;
    else if (value <= dCliquidmin)
        liquid = dCliquidmin;
    else
        liquid = value;
}

double CoreVctr::getlq() { return liquid; }
double CoreVctr::getmn() { return positionmin; }
double CoreVctr::getmx() { return positionmax; }

// ---- Per-block update ---------------------------------------------------------------

void CoreVctr::findWeights(double p) {
    // Walk the position tree keeping the last node passed on each side.
    CoreButl::VECTORELEMENT const* node = root;
    CoreButl::VECTORELEMENT const* lower = nullptr;
    CoreButl::VECTORELEMENT const* upper = nullptr;
    while (node != nullptr) {
        if (p == node->position) {
            lower = node;
            upper = nullptr;
            break;
        }
        if (p < node->position) {
            upper = node;
            node = node->left;
        } else {
            lower = node;
            node = node->right;
        }
    }

    int i0 = -1, i1 = -1;
    double w0 = 0.0, w1 = 0.0;
    if (lower == nullptr) {
        if (upper != nullptr) {
            i1 = upper->index;
            w1 = 1.0;
        }
    } else if (upper == nullptr) {
        i0 = lower->index;
        w0 = 1.0;
    } else {
        double dup = upper->position - p;
        double dlo = p - lower->position;
        if (nearest) {
            // The winner always sits in the first slot; a tie goes up.
            i0 = dup > dlo ? lower->index : upper->index;
            w0 = 1.0;
        } else {
            double s = flush(1.0 / (dlo + dup));
            i0 = lower->index;
            i1 = upper->index;
            w0 = dup * s;
            w1 = dlo * s;
        }
    }

    if (readbackon && readbacksource != nullptr && (i0 >= 0 || i1 >= 0)) {
        // A missing neighbour's term reads the other's value under weight 0.
        double r0 = readbackvalues[i0 >= 0 ? i0 : i1];
        double r1 = readbackvalues[i1 >= 0 ? i1 : i0];
        readbacksource->setvl(flush((w0 * r0 + w1 * r1 - readbackbase) * readbackscale - 1.0));
    }
    cachedindex[0] = i0;
    cachedindex[1] = i1;
    // Unscaled: the gain of each block is applied to a copy.
    cachedweight[0] = flush(w0);
    cachedweight[1] = flush(w1);
    weightscached = true;
}

void CoreVctr::updte(bool mix) noexcept {
    CoreAudp audio;
    CoreCnvl::VECTORMIXSTRUCT record;
    updateGains(record);
    if (vectoron) updateWeights(record);
    mixedlast = false;
    if (!mix) return;
    // A whole mix keeps what the tree left unwritten: write that first.
    bool const part = deferroot != nullptr && deferroot->partnow;
    if (!part) settle();
    if (panon) updatePan(record);
    bool missing = trackChanges(record); // an element without buffers cannot be mixed
    updateConvergence(record.retention);
    // A converged output is left as it is: the mix function would only flush
    // values that were flushed when they were written.
    if (!converged && !missing && currentleft != nullptr && currentright != nullptr &&
        currentlength > 0) {
        mixOutput(record);
        mixedlast = true;
    }
    if (part) {
        STEP& step = steps[deferroot->stepcount % iCsteps];
        step.record = record;
        step.mixed = mixedlast;
    }
    unchanged = true;
}

void CoreVctr::updateGains(CoreCnvl::VECTORMIXSTRUCT& record) {
    // A floor below 0 would invert the kernel at full Gainpad.
    double floor = gainpadfloor > 0.0 ? gainpadfloor : 0.0;
    double g = flush(1.0 - (1.0 - floor) * within(gainpadcontrol->getvl(), 0.0, 1.0));
    if (gainon) g = flush(g * within(gaincontrol->getvl(), 0.0, 1.0));
    gain = g;
    // A constant bound outside the bus range must not make the smoothing grow.
    double liquidvalue = within(liquidcontrol->getvl(), 0.0, 1.0);
    double retention = flush(liquid * liquidvalue);
    double fresh = flush(1.0 - retention);
    record.gain = flush(gain * normmakeup * fresh);
    record.retention = retention;
}

void CoreVctr::updateWeights(CoreCnvl::VECTORMIXSTRUCT& record) {
    double p = vectorcontrol->getvl();
    if (!weightscached || p != lastposition) {
        lastposition = p;
        findWeights(p);
    }
    record.index0 = cachedindex[0];
    record.index1 = cachedindex[1];
    record.weight0 = flush(cachedweight[0] * record.gain);
    record.weight1 = flush(cachedweight[1] * record.gain);
}

void CoreVctr::updatePan(CoreCnvl::VECTORMIXSTRUCT& record) {
    // Hard left or right is the end: a larger angle would invert a side.
    double q = within(pandepth * within(pancontrol->getvl(), -1.0, 1.0), -1.0, 1.0);
    double a = q * CoreButl::dCpi / 2.0;
    if (a >= 0.0) {
        record.panll = flush(std::cos(a));
        record.panlr = flush(std::sin(a));
        record.panrl = 0.0;
        record.panrr = 1.0;
    } else {
        record.panll = 1.0;
        record.panlr = 0.0;
        record.panrl = flush(std::sin(-a));
        record.panrr = flush(std::cos(a));
    }
    unchanged = unchanged && q == lastpan;
    lastpan = q;
}

bool CoreVctr::trackChanges(CoreCnvl::VECTORMIXSTRUCT& record) {
    bool missing = false;
    if (vectoron) {
        std::int32_t index[2] = {record.index0, record.index1};
        double weight[2] = {record.weight0, record.weight1};
        for (int k = 0; k < 2; ++k) {
            unchanged = unchanged && index[k] == lastindex[k] && weight[k] == lastweight[k];
            lastindex[k] = index[k];
            lastweight[k] = weight[k];
            if (index[k] >= 0) {
                bool* steady = elementflags[index[k]];
                unchanged = unchanged && (steady == nullptr || *steady);
                if (leftelements[index[k]] == nullptr || rightelements[index[k]] == nullptr)
                    index[k] = -1;
            }
        }
        record.index0 = index[0];
        record.index1 = index[1];
    } else {
        unchanged = unchanged && record.gain == lastmixgain;
        lastmixgain = record.gain;
        for (int i = 0; i < count; ++i) {
            bool* steady = elementflags[i];
            unchanged = unchanged && (steady == nullptr || *steady);
            missing = missing || leftelements[i] == nullptr || rightelements[i] == nullptr;
        }
    }
    return missing;
}

void CoreVctr::updateConvergence(double retention) {
    if (unchanged) {
        if (!converged) {
            residual = flush(residual * retention);
            converged = residual < dCbenchmarktolerance;
        }
    } else {
        converged = false;
        residual = 1.0;
    }
}

void CoreVctr::mixOutput(CoreCnvl::VECTORMIXSTRUCT const& record) {
    CoreCnvl::ELMIX mixfn = elementMix();
    CoreCnvl::VECEXTENSION* ext = elementExtension();
    double retention = record.retention;
    trackSum(record);
    if (deferroot != nullptr && deferroot->partnow) {
        bool const split =
            foldon && retention != 0.0 && scratchleft != nullptr && scratchright != nullptr;
        steps[deferroot->stepcount % iCsteps].split = split;
        for (int r = 0; r < deferroot->partcount; ++r)
            mixPart(record, split, deferroot->partfrom[r], deferroot->partto[r]);
        return;
    }
    if (!foldon) {
        mixfn(ext, false, vectoron, panon, &record, currentlength, count, currentleft, currentright,
              leftelements, rightelements);
        return;
    }
    CoreCnvl::ELFADE fadefn = elementFade();
    // The plain memory elements fold the fade into the mix's own pass.
    bool const fused = mixfn == &CoreCnvlIntl::vmix1 && fadefn == &CoreCnvlIntl::fade1;
    auto mixFaded = [&](CoreCnvl::VECTORMIXSTRUCT const* mix, void* left, void* right) {
        if (fused) {
            CoreCnvlIntl::vmixf(mix, vectoron, panon, currentlength, count, left, right,
                                leftelements, rightelements, foldLength(), foldheadlength, foldhead,
                                foldtaillength, foldtail, false);
            return;
        }
        mixfn(ext, false, vectoron, panon, mix, currentlength, count, left, right, leftelements,
              rightelements);
        fadefn(ext, foldLength(), left, right, foldheadlength, foldhead, foldtaillength, foldtail);
    };
    if (retention == 0.0 || scratchleft == nullptr || scratchright == nullptr) {
        // Nothing is kept of the old output: fade the new mix in place.
        // Without a scratch pair (retention above 0) this only comes
        // close, but a settled output is still never faded twice.
        mixFaded(&record, currentleft, currentright);
        return;
    }
    // The output fade goes into the fresh share only, so the faded regions
    // keep their shape and the smoothing settles on the faded mix.
    if (fused && CoreCnvlIntl::vmixf(&record, vectoron, panon, currentlength, count, currentleft,
                                     currentright, leftelements, rightelements, foldLength(),
                                     foldheadlength, foldhead, foldtaillength, foldtail, true))
        return;
    CoreCnvl::VECTORMIXSTRUCT share = record;
    share.retention = 0.0;
    mixFaded(&share, scratchleft, scratchright);
    CoreCnvl::VECTORMIXSTRUCT add;
    add.gain = 1.0;
    add.retention = retention;
    void* sharel[1] = {scratchleft};
    void* sharer[1] = {scratchright};
    mixfn(ext, false, false, false, &add, currentlength, 1, currentleft, currentright, sharel,
          sharer);
}

void CoreVctr::chnup(bool mix) noexcept {
    CoreAudp audio;
    // A whole update of the tree: what it left unwritten first.
    if (mix && deferroot == this && !partnow) chnwr();
    // Children first: a parent's element flags are its children's converged flags.
    if (!leaf && children != nullptr)
        for (int i = 0; i < count; ++i)
            if (children[i] != nullptr) children[i]->chnup(mix);
    updte(mix);
}

void CoreVctr::chnru(bool mix) noexcept {
    CoreAudp audio;
    partnow = mix && deferroot == this && planPart();
    chnup(mix);
    if (partnow) ++stepcount;
    partnow = false;
    // The engine re-reads the kernel when the flag is up; a settled output
    // has nothing new for it.
    if (mix && (mixedlast || !bVupdategate)) *activeupdated = true;
}

// ---- Normalisation ------------------------------------------------------------------

void CoreVctr::setgn(double g) {
    if (!leaf || !normaliseon || count < 1) return;
    settle();
    double p = normposition;
    double dlo = p - positionmin + 1.0;
    double dup = positionmax - p + 1.0;
    int lo = -1, up = -1;
    for (int i = 0; i < count; ++i) {
        double d = p - positions[i];
        if (d >= 0.0) {
            if (d < dlo) {
                dlo = d;
                lo = i;
            }
        } else if (-d < dup) {
            dup = -d;
            up = i;
        }
    }
    double reference;
    if (lo < 0 && up < 0)
        reference = peaks[0];
    else if (lo < 0)
        reference = peaks[up];
    else if (up < 0)
        reference = peaks[lo];
    else
        reference = (dlo * peaks[up] + dup * peaks[lo]) / (dlo + dup);
    // A silent reference cannot set a level: each element then sets its own.
    // Outside 0 .. 1 the blend could give an element a negative factor (an
    // inverted kernel) or lift it above the loudest.
    double w = usablePeak(reference) ? within(normweight, 0.0, 1.0) : 1.0;

    double* factors = static_cast<double*>(pool->mallc(0, count, "VCT2", "CoreVctr::setgn"));
    double makeup = 0.0;
    for (int i = 0; i < count; ++i) {
        if (!usablePeak(peaks[i])) {
            factors[i] = 0.0; // silent element: left as it is
            continue;
        }
        double t = (usablePeak(reference) ? (1.0 - w) * g / reference : 0.0) + w * g / peaks[i];
        factors[i] = t;
        if (t * peaks[i] > makeup) makeup = t * peaks[i];
    }
    if (!(makeup > 0.0) || !std::isfinite(makeup)) {
        pool->free_(factors);
        return;
    }
    CoreCnvl::ELADJ adjust = elementAdjust();
    for (int i = 0; i < count; ++i) {
        if (factors[i] == 0.0 || getsb(i)) continue; // another owner's buffers stay as they are
        // The cache may hand one buffer to several elements: scale it once.
        bool seen = false;
        for (int j = 0; j < i && !seen; ++j)
            seen = leftelements[j] == leftelements[i] && rightelements[j] == rightelements[i] &&
                   factors[j] != 0.0;
        if (seen || leftelements[i] == nullptr) continue;
        adjust(elementExtension(), leftelements[i], rightelements[i], allocatedlength,
               flush(factors[i] / makeup));
    }
    normmakeup = flush(makeup);
    pool->free_(factors);
    remix(); // the kernels and the makeup changed
}

// ---- Output fades -------------------------------------------------------------------

int CoreVctr::foldLength() const {
    // Never past the buffers, whatever length setcr was given.
    return foldlength < allocatedlength ? foldlength : allocatedlength;
}

void CoreVctr::setfd(bool tail, int a, int b) noexcept {
    CoreAudp audio;
    int n = tail ? a : totallength;
    int headlength = tail ? 0 : fadeinlength;
    void* head = tail ? nullptr : fadeinelement;
    int taillen = tail ? b : taillength;
    void* tailwindow = tail ? tailfadeelement : crossfadewindow;
    // A window of this vector's own is never read past its end, whatever
    // length the caller gave with it.
    int known = rampLength(head);
    if (known >= 0) headlength = std::min(headlength, known);
    known = rampLength(tailwindow);
    if (known >= 0) taillen = std::min(taillen, known);
    bool empty = n <= 0 || (headlength <= 0 && taillen <= 0);

    bool same = foldon && n == foldlength && headlength == foldheadlength && head == foldhead &&
                taillen == foldtaillength && tailwindow == foldtail;
    if (same || (empty && !foldon)) return; // the fade is already part of the output
    settle();

    CoreCnvl::ELFADE fadefn = elementFade();
    // A new fade: the output so far was mixed without it (or with another
    // one, which the mixes that follow wash out at the liquid rate).
    if (foldon) remix();
    foldon = !empty;
    foldlength = n;
    foldheadlength = headlength;
    foldhead = head;
    foldtaillength = taillen;
    foldtail = tailwindow;
    if (foldon && currentleft != nullptr && currentright != nullptr) {
        unknown = 1.0; // faded on top of the fade it was mixed with
        fadefn(elementExtension(), foldLength(), currentleft, currentright, foldheadlength,
               foldhead, foldtaillength, foldtail);
        *activeupdated = true;
    }
}

void CoreVctr::setfd(void* left, void* right, int n, void* window) noexcept {
    CoreAudp audio;
    if (left == nullptr || right == nullptr || n <= 0) return;
    settle(); // the pair may be an output of the tree
    CoreCnvl::ELFADE fadefn = elementFade();
    fadefn(elementExtension(), n, left, right, n, window, 0, nullptr);
}

void CoreVctr::prepareFold() {
    bool wanted = crossfadewindow != nullptr || fadeinelement != nullptr ||
                  tailfadeelement != nullptr || foldon;
    if (wanted && scratchleft != nullptr && scratchlength == allocatedlength) return;
    releaseFold();
    if (!wanted || allocatedlength <= 0) return;
    scratchlength = allocatedlength;
    scratchleft = elementNew(pool, allocatedlength);
    try {
        scratchright = elementNew(pool, allocatedlength);
    } catch (...) {
        releaseFold();
        throw;
    }
}

void CoreVctr::releaseFold() {
    elementDelete(pool, scratchleft);
    elementDelete(pool, scratchright);
    scratchleft = nullptr;
    scratchright = nullptr;
    scratchlength = 0;
}

// ---- The output as a sum of elements -----------------------------------------------

namespace {

// Adds w times the element pair (l, r) of owner to sum, merging a pair it
// holds already; false when sum is full.
bool addTerm(CoreVctr::LINEARSUM& sum, void const* l, void const* r, double w,
             CoreVctr const* owner) {
    for (int k = 0; k < sum.count; ++k)
        if (sum.left[k] == l && sum.right[k] == r) {
            sum.weight[k] += w;
            return true;
        }
    if (sum.count == CoreVctr::LINEARSUM::iCterms) return false;
    sum.left[sum.count] = l;
    sum.right[sum.count] = r;
    sum.weight[sum.count] = w;
    sum.owner[sum.count] = owner;
    ++sum.count;
    return true;
}

} // namespace

void CoreVctr::trackSum(CoreCnvl::VECTORMIXSTRUCT const& record) noexcept {
    // Outside the faded ends every mix is out := retention * out + the
    // weighted elements, so the weights of a sum follow the same recursion.
    double const r = record.retention;
    LINEARSUM next;
    bool ok = !panon; // pan crosses the channels: no sum per channel
    double u = r * unknown;
    for (int k = 0; k < own.count && ok && r != 0.0; ++k)
        ok = addTerm(next, own.left[k], own.right[k], r * own.weight[k], own.owner[k]);
    auto add = [&](int i, double w) {
        if (i < 0 || i >= count) return true;
        void const* l = leftelements[i];
        void const* rt = rightelements[i];
        if (l == nullptr || rt == nullptr) return true; // the mix skipped it too
        if (leaf) return !getsb(i) && addTerm(next, l, rt, w, this);
        CoreVctr const* child = children[i];
        if (child == nullptr || l != child->outleft0 || rt != child->outright0) return false;
        u += child->unknown;
        for (int k = 0; k < child->own.count; ++k)
            if (!addTerm(next, child->own.left[k], child->own.right[k], w * child->own.weight[k],
                         child->own.owner[k]))
                return false;
        return true;
    };
    if (vectoron)
        ok = ok && add(record.index0, record.weight0) && add(record.index1, record.weight1);
    else
        for (int i = 0; i < count && ok; ++i) ok = add(i, record.gain);
    if (!ok) {
        own.count = 0;
        unknown = 1.0;
        return;
    }
    own = next;
    unknown = u;
}

bool CoreVctr::chnsm(LINEARSUM& sum, double scale) const noexcept {
    // What the mixes before a change left decays by the retention; below
    // this share of the output it is past the precision that matters.
    constexpr double kNegligible = 1e-14;
    if (unknown > kNegligible || switching || currentleft != outleft0 || currentright != outright0)
        return false;
    for (int k = 0; k < own.count; ++k)
        if (!addTerm(sum, own.left[k], own.right[k], scale * own.weight[k], own.owner[k]))
            return false;
    return chnrg(sum);
}

bool CoreVctr::chnrg(LINEARSUM& sum) const noexcept {
    auto range = [&](long from, long to) {
        if (to <= from) return true;
        if (sum.ranges == LINEARSUM::iCranges) return false;
        sum.from[sum.ranges] = from;
        sum.to[sum.ranges] = to;
        ++sum.ranges;
        return true;
    };
    // The folded fade scales its ends; nothing past the mixed length is mixed.
    long const fold = foldLength();
    bool ok = true;
    if (foldon && foldhead != nullptr) ok = range(0, std::min<long>(foldheadlength, fold));
    if (foldon && foldtail != nullptr) ok = ok && range(fold - foldtaillength, fold);
    ok = ok && range(currentlength, LONG_MAX);
    if (!leaf)
        for (int i = 0; i < count && ok; ++i)
            if (children[i] != nullptr) ok = children[i]->chnrg(sum);
    return ok;
}

int CoreVctr::chnel(void const** left, void const** right, int capacity) const {
    int found = 0;
    auto visit = [&](auto&& self, CoreVctr const* v) -> bool {
        for (int i = 0; i < v->count; ++i) {
            if (!v->leaf) {
                if (v->children[i] != nullptr && !self(self, v->children[i])) return false;
                continue;
            }
            void const* l = v->leftelements[i];
            void const* r = v->rightelements[i];
            if (l == nullptr || r == nullptr) continue;
            bool seen = false;
            for (int k = 0; k < found && !seen; ++k) seen = left[k] == l && right[k] == r;
            if (seen) continue;
            if (found == capacity) return false;
            left[found] = l;
            right[found] = r;
            ++found;
        }
        return true;
    };
    return visit(visit, this) ? found : -1;
}

// ---- Mixes written in part ----------------------------------------------------------

void CoreVctr::chndf(int granule, CoreVctr** holder) noexcept {
    chnwr();
    defergranule = granule > 0 ? granule : 0;
    // One binder at a time: one taking over leaves the other without a root.
    if (deferholder != nullptr && deferholder != holder && *deferholder == this)
        *deferholder = nullptr;
    deferholder = defergranule > 0 ? holder : nullptr;
    stepcount = 0;
    partnow = false;
    bindDefer(defergranule > 0 ? this : nullptr);
}

void CoreVctr::bindDefer(CoreVctr* to) noexcept {
    deferroot = to;
    if (!leaf && children != nullptr)
        for (int i = 0; i < count; ++i)
            if (children[i] != nullptr) children[i]->bindDefer(to);
}

bool CoreVctr::partable() const noexcept {
    bool ok = deferroot != nullptr && !switching && !panon && currentleft != nullptr &&
              currentright != nullptr && currentleft != currentright && leftelements != nullptr &&
              rightelements != nullptr && elementMix() == &CoreCnvlIntl::vmix1 &&
              elementFade() == &CoreCnvlIntl::fade1 && !(foldon && foldLength() > currentlength) &&
              (vectoron || count <= CoreCnvlIntl::iCmixterms);
    if (!leaf && children != nullptr)
        for (int i = 0; i < count && ok; ++i)
            ok = children[i] == nullptr ||
                 (children[i]->deferroot == deferroot && children[i]->partable());
    return ok;
}

long CoreVctr::treeTop() const noexcept {
    long top = currentlength;
    if (!leaf && children != nullptr)
        for (int i = 0; i < count; ++i)
            if (children[i] != nullptr) top = std::max(top, children[i]->treeTop());
    return top;
}

bool CoreVctr::planPart() noexcept {
    LINEARSUM sum;
    bool ok = defergranule > 0 && partable() && chnrg(sum);
    long const g = defergranule;
    long const top = treeTop();
    // chnrg's ranges rounded out to whole granules, inside the mixed
    // lengths, sorted and merged.
    long from[LINEARSUM::iCranges], to[LINEARSUM::iCranges];
    int n = 0;
    if (ok) {
        for (int i = 0; i < sum.ranges; ++i) {
            long const f = sum.from[i] / g * g;
            long const t = sum.to[i] >= top ? top : std::min(top, (sum.to[i] + g - 1) / g * g);
            if (f >= t) continue;
            int at = n;
            while (at > 0 && from[at - 1] > f) {
                from[at] = from[at - 1];
                to[at] = to[at - 1];
                --at;
            }
            from[at] = f;
            to[at] = t;
            ++n;
        }
        int merged = 0;
        for (int i = 0; i < n; ++i) {
            if (merged > 0 && from[i] <= to[merged - 1]) {
                to[merged - 1] = std::max(to[merged - 1], to[i]);
                continue;
            }
            from[merged] = from[i];
            to[merged] = to[i];
            ++merged;
        }
        n = merged;
    }
    bool same = ok && n == partcount && top == segmenttop;
    for (int i = 0; i < n && same; ++i) same = from[i] == partfrom[i] && to[i] == partto[i];
    // Steps left out of other ranges or segments: written now.
    if (!same) chnwr();
    if (!ok) return false;
    if (!same) {
        partcount = n;
        std::copy(from, from + n, partfrom);
        std::copy(to, to + n, partto);
        segmenttop = top;
        segmentwidth = std::max(1L, (top + iCsteps - 1) / iCsteps);
    }
    // This step goes where the one iCsteps back was: its segment takes it
    // before it goes.
    catchUp(static_cast<int>(stepcount % iCsteps));
    return true;
}

void CoreVctr::mixPart(CoreCnvl::VECTORMIXSTRUCT const& record, bool split, long from,
                       long to) noexcept {
    long const end = std::min<long>(to, currentlength);
    if (from >= end) return;
    CoreCnvlIntl::vmixf(&record, vectoron, panon, currentlength, count, currentleft, currentright,
                        leftelements, rightelements, foldon ? foldLength() : 0,
                        foldon ? foldheadlength : 0, foldon ? foldhead : nullptr,
                        foldon ? foldtaillength : 0, foldon ? foldtail : nullptr, split,
                        static_cast<int>(from), static_cast<int>(end));
}

void CoreVctr::replay(int k, long from, long to) noexcept {
    if (!leaf && children != nullptr)
        for (int i = 0; i < count; ++i)
            if (children[i] != nullptr) children[i]->replay(k, from, to);
    if (steps[k].mixed) mixPart(steps[k].record, steps[k].split, from, to);
}

bool CoreVctr::wrote(int k) const noexcept {
    STEP const& s = steps[k];
    // Kept output (Liquid), a kept part beside the fresh share, pan's
    // second terms or no source at all: the old values take part.
    if (!s.mixed || s.split || s.record.retention != 0.0 || panon) return false;
    if (leftelements == nullptr || rightelements == nullptr) return false;
    auto const source = [&](long e) {
        return e >= 0 && e < count && leftelements[e] != nullptr && rightelements[e] != nullptr;
    };
    if (vectoron) return source(s.record.index0) || source(s.record.index1);
    for (int e = 0; e < count; ++e)
        if (source(e)) return true;
    return false;
}

bool CoreVctr::treeWrote(int k) const noexcept {
    if (!wrote(k)) return false;
    if (!leaf && children != nullptr)
        for (int i = 0; i < count; ++i)
            if (children[i] != nullptr && !children[i]->treeWrote(k)) return false;
    return true;
}

void CoreVctr::catchUp(int j) noexcept {
    long first = segmentdone[j];
    segmentdone[j] = stepcount;
    if (first >= stepcount) return;
    // A step that wrote every node of the tree from its sources alone hides
    // the steps before it: the catch-up starts at the latest such step.
    for (long k = stepcount - 1; k > first; --k)
        if (treeWrote(static_cast<int>(k % iCsteps))) {
            first = k;
            break;
        }
    // A stretch at a time, so each stretch of every output and element
    // stays in cache through all the steps.
    constexpr long kStretch = 512;
    long const begin = j * segmentwidth;
    long const end = std::min(segmenttop, begin + segmentwidth);
    for (long b = begin; b < end; b += kStretch) {
        long const e = std::min(end, b + kStretch);
        long at = b;
        for (int r = 0; r <= partcount && at < e; ++r) {
            long const gap = r < partcount ? std::min(e, partfrom[r]) : e;
            if (at < gap)
                for (long k = first; k < stepcount; ++k)
                    replay(static_cast<int>(k % iCsteps), at, gap);
            if (r < partcount) at = std::max(at, partto[r]);
        }
    }
}

void CoreVctr::chnwr() noexcept {
    if (deferroot != nullptr && deferroot != this) {
        deferroot->chnwr();
        return;
    }
    if (stepcount <= 0 || partnow) return;
    CoreAudp audio;
    for (int j = 0; j < iCsteps; ++j) catchUp(j);
    stepcount = 0;
    std::fill(segmentdone, segmentdone + iCsteps, 0L);
}

bool CoreVctr::chnpw(long from, long to) const noexcept {
    if (deferroot != nullptr && deferroot != this) return deferroot->chnpw(from, to);
    if (stepcount <= 0) return true;
    to = std::min(to, segmenttop);
    if (from >= to) return true;
    for (int r = 0; r < partcount; ++r)
        if (partfrom[r] <= from && to <= partto[r]) return true;
    // Or every segment it touches is up to date.
    for (long j = from / segmentwidth; j * segmentwidth < to; ++j)
        if (j >= iCsteps || segmentdone[j] < stepcount) return false;
    return true;
}
