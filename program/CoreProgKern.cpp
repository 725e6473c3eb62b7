// CoreProg kernel building: every slot's impulse files read (twice: to size,
// then to load), synchronised, cut to the slot's dimensions, faded, handed to
// the vectors and the shared kernel cache; the slot dimensions and their later
// change by the engine; the hybrid slot's copy and head.
#include "program/CoreProg.h"

#include "engine/CorePlel.h"
#include "engine/CoreVctr.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePmsg.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreWvfr.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

char const* const sCowner = "PRG2"; // pool owner tag of the building's blocks

CoreAnsx quoted(CoreAnsx const& text) { return CoreAnsx("\"") + text + CoreAnsx("\""); }

// An 8-byte pool block of n zeroed values, freed with the scope.
template <typename T> class BLOCK {
public:
    static_assert(sizeof(T) == 8, "pool kind 0 holds 8-byte values");
    BLOCK(CorePool* pool, long n, char const* op) : pool(pool) {
        long const count = n > 0 ? n : 1;
        if (count > std::numeric_limits<int>::max()) throw CoreAnsx("Memory request failed");
        data = static_cast<T*>(pool->mallc(0, static_cast<int>(count), sCowner, op));
        std::fill(data, data + count, T());
    }
    ~BLOCK() { release(); }
    BLOCK(BLOCK const&) = delete;
    BLOCK& operator=(BLOCK const&) = delete;
    void release() {
        if (data) pool->free_(data);
        data = nullptr;
    }
    T& operator[](long i) { return data[i]; }
    T* data = nullptr; // the block; null once released

private:
    CorePool* pool; // owner of the block
};

// The files' read buffers: a one-channel file's right is its left.
class READS {
public:
    READS(CorePool* pool, int n) : pool(pool), left(n, nullptr), right(n, nullptr) {}
    ~READS() {
        for (std::size_t i = 0; i < left.size(); ++i) drop(static_cast<int>(i));
    }
    READS(READS const&) = delete;
    READS& operator=(READS const&) = delete;
    void drop(int i) {
        if (right[i] && right[i] != left[i]) pool->free_(right[i]);
        if (left[i]) pool->free_(left[i]);
        left[i] = right[i] = nullptr;
    }
    CorePool* pool;
    std::vector<double*> left;  // per file, pool blocks
    std::vector<double*> right; // per file, pool blocks or the left one
};

// 64-bit FNV-1a of a text: the cache identity's digest of load settings.
std::uint64_t fnv(std::string const& text) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// Locale-free: under a decimal comma identical kernels would stop being shared.
void put(std::string& out, char const* key, double v) {
    CoreAnsx text;
    out += key;
    out += text.sprintf("%.17g", v).c_str();
    out += ';';
}

// "#" and the 16 hexadecimal digits of a digest.
std::string hexOf(std::uint64_t digest) {
    std::string text = "#";
    for (int shift = 60; shift >= 0; shift -= 4)
        text += "0123456789abcdef"[(digest >> shift) & 15u];
    return text;
}

int clampInt(long v) {
    if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

} // namespace

// ---- helpers -------------------------------------------------------------------------------

CoreAnsx CoreProg::groupName() {
    CoreAnsx const archive = store ? store->getll() : CoreAnsx("NULL");
    std::string const text = archive.c_str();
    std::size_t const cut = text.find_last_of("/\\");
    return CoreAnsx(cut == std::string::npos ? text.c_str() : text.substr(cut + 1).c_str());
}

void CoreProg::growElements(HLOC& h, int n) {
    if (n <= h.elementlength) return;
    // The cache lock is held throughout, so the record count tells exactly
    // whether a pair was registered; the group is never searched for matches.
    CorePlel::BRACKET bracket(*cache, groupName() + CoreAnsx("#grown"), false);
    for (int v = 0; v < h.leaves.count; ++v) {
        auto* leaf = static_cast<CoreVctr*>(h.leaves[unsigned(v)]);
        for (int e = 0; e < leaf->getne(); ++e) {
            void *oldl = nullptr, *oldr = nullptr;
            leaf->getip(e, &oldl, &oldr);
            if (!oldl) continue;
            void *l = nullptr, *r = nullptr;
            leaf->newip(&l, &r, n);
            // Kept first: the grown pair replaces the old one in the list.
            std::size_t held = 0;
            while (held < h.owned.size() && h.owned[held].left != oldl) ++held;
            if (held == h.owned.size()) {
                try {
                    h.owned.reserve(h.owned.size() + 1);
                } catch (...) {
                    leaf->delip(l, r);
                    throw;
                }
            }
            long a = 0, b = 0;
            leaf->getrz(e, a, b);
            int const before = cache->getnr();
            try {
                // Registered without sharing: writing into it below touches
                // nobody else's kernel.
                leaf->setip(e, static_cast<double*>(l), static_cast<double*>(r),
                            leaf->getfn(e) + CoreAnsx("#grown"), h.usable, convertedrate, a, b,
                            this, static_cast<short>(&h - hslots));
            } catch (...) {
                leaf->delip(l, r);
                throw;
            }
            leaf->cpyip(e, oldl, oldr, h.elementlength);
            bool const registered = cache->getnr() != before;
            if (held < h.owned.size()) {
                // The old pair was ours alone: nothing reads it any more.
                leaf->delip(h.owned[held].left, h.owned[held].right);
                h.owned.erase(h.owned.begin() + static_cast<long>(held));
            }
            if (!registered) h.owned.push_back({leaf, l, r}); // room reserved above
        }
    }
    h.elementlength = n;
}

// ---- dimensions ----------------------------------------------------------------------------

bool CoreProg::setnp(short slot, long nl, long xl) {
    HLOC* hp = slotAt(slot, "setnp");
    if (!hp) return false;
    HLOC& h = *hp;
    bool const changed = nl != h.normallimit || xl != h.extendedlimit;
    h.normallimit = clampInt(nl);
    h.extendedlimit = clampInt(xl);
    long const head = std::max(h.fadeinlength, h.offset);
    h.normalfadeend = clampInt(head + 1 + h.normalfadeout);
    h.extendedfadeend = clampInt(head + 1 + h.extendedfadeout);
    long const usable = h.usable;
    h.normallength =
        CoreButl::setmn(clampInt(std::max(std::min(nl, usable), long(h.normalfadeend))), 4);
    h.extendedlength =
        clampInt(std::max({std::min(xl, usable), long(h.extendedfadeend), long(h.normallength)}));
    h.block = std::min(std::max(CoreButl::getp2(h.extendedlength / 4), minblock), maxblock);
    if (h.block < 1) h.block = 1;
    h.padded = CoreButl::getp2(clampInt(long(h.extendedlength) + h.block - 1));
    h.maximum = std::max(h.usable, h.padded);
    h.normalbound =
        clampInt(std::max(std::min(long(h.normalceiling), usable), long(h.normallength)));
    h.extendedbound =
        clampInt(std::max(std::min(long(h.extendedceiling), usable), long(h.extendedlength)));
    CoreLog_::debug(CoreAnsx("iVirv2dim:") + CoreAnsx(h.normallength), 3, 3);
    CoreLog_::debug(CoreAnsx("iVirv3dim:") + CoreAnsx(h.extendedlength), 3, 3);
    CoreLog_::debug(CoreAnsx("iVirv3paddim:") + CoreAnsx(h.padded), 3, 3);
    CoreLog_::debug(CoreAnsx("iVirv3blockdim:") + CoreAnsx(h.block), 3, 3);
    CoreLog_::debug(CoreAnsx("iVirmaxdim:") + CoreAnsx(h.maximum), 3, 3);
    return changed;
}

// The root's outputs into the slot record; chncp remade a switching root's
// second pair as well and freed the old one.
static void adoptOutputs(CoreProg::HLOC& h) {
    h.left = h.root->getlc();
    h.right = h.root->getrc();
    if (h.secondleft) {
        h.secondleft = h.root->getls();
        h.secondright = h.root->getrs();
    }
}

bool CoreProg::setod(short slot, short which, long limit) {
    HLOC* hp = slotAt(slot, "setod");
    if (!hp || !hp->inuse || !hp->root || (which != 0 && which != 1)) return false;
    HLOC& h = *hp;
    // What setnp changes, so a failed rebuild leaves the slot as it was
    // (dimensions that do not match the outputs would send the player past
    // their end).
    int const saved[] = {h.normallimit,  h.extendedlimit,  h.normalfadeend, h.extendedfadeend,
                         h.normallength, h.extendedlength, h.block,         h.padded,
                         h.maximum,      h.normalbound,    h.extendedbound};
    auto restore = [&] {
        int const* v = saved;
        for (int* f : {&h.normallimit, &h.extendedlimit, &h.normalfadeend, &h.extendedfadeend,
                       &h.normallength, &h.extendedlength, &h.block, &h.padded, &h.maximum,
                       &h.normalbound, &h.extendedbound})
            *f = *v++;
    };
    // The other limit stays as stored: a call with the stored limits changes nothing.
    bool const changed =
        which == 0 ? setnp(slot, limit, h.extendedlimit) : setnp(slot, h.normallimit, limit);
    if (!changed) return false;
    try {
        // Elements never shorter than the outputs mixed from them.
        growElements(h, h.maximum);
        // New outputs are made before the old ones go (chncp), so a failure
        // leaves the previous ones playing.
        h.root->chncp(h.normallength, h.extendedlength, h.padded);
        h.root->chnip();
    } catch (...) {
        // chncp can fail after it replaced the outputs (making its fold
        // scratch): the slot then has the new dimensions, and in any case
        // the record must hold the outputs the tree holds, never freed ones.
        if (h.root->getlc() == h.left) restore();
        adoptOutputs(h);
        throw;
    }
    h.changed = true;
    adoptOutputs(h);
    HLOC& hybrid = hslots[capacity];
    if (forcehybrid && hybrid.inuse && hybrid.root) {
        if (slot == capacity) hslots[0].changed = true;
        if (slot == 0) {
            cpyir(capacity, 0);
            trsir(capacity, hslots[0].normallength);
            return true;
        }
    }
    if (slot == 0 && smooth >= 0) {
        h.root->setsc();
        h.secondleft = h.root->getls();
        h.secondright = h.root->getrs();
    }
    return true;
}

void CoreProg::trsir(short slot, long n) {
    HLOC* hp = slotAt(slot, "trsir");
    if (!hp || n <= 0) return;
    long const count = std::min(n, long(hp->elementlength));
    for (int v = 0; v < hp->leaves.count; ++v) {
        auto* leaf = static_cast<CoreVctr*>(hp->leaves[unsigned(v)]);
        for (int e = 0; e < leaf->getne(); ++e) {
            void *l = nullptr, *r = nullptr;
            leaf->getip(e, &l, &r);
            if (!l) continue;
            if (leaf->getsb(e)) { // another program's kernel
                CoreLog_::loger(
                    CoreAnsx("trsir: shared element left alone in slot ") + CoreAnsx(int(slot)), 1);
                continue;
            }
            leaf->copyd(l, r, nullptr, nullptr, static_cast<int>(count), 0);
        }
    }
}

void CoreProg::cpyir(short dst, short src) {
    HLOC* to = slotAt(dst, "cpyir");
    HLOC* from = slotAt(src, "cpyir");
    if (!to || !from || to == from) return;
    if (to->leaves.count != from->leaves.count) {
        CoreLog_::loger(CoreAnsx("cpyir: slots of different shapes ") + CoreAnsx(int(dst)) +
                            CoreAnsx(" ") + CoreAnsx(int(src)),
                        1);
        return;
    }
    growElements(*to, from->elementlength);
    int const count = std::min(from->elementlength, to->elementlength);
    for (int v = 0; v < to->leaves.count; ++v) {
        auto* target = static_cast<CoreVctr*>(to->leaves[unsigned(v)]);
        auto* source = static_cast<CoreVctr*>(from->leaves[unsigned(v)]);
        int const n = std::min(target->getne(), source->getne());
        for (int e = 0; e < n; ++e) {
            void *sl = nullptr, *sr = nullptr, *tl = nullptr;
            source->getip(e, &sl, &sr);
            target->getip(e, &tl, nullptr);
            if (!sl || !tl || target->getsb(e)) continue;
            target->cpyip(e, sl, sr, count);
        }
    }
}

// ---- sync points ---------------------------------------------------------------------------

long CoreProg::synch(CorePool* pool, double const* left, double const* right, long n,
                     double balance, bool hrtf, bool train, double threshold, bool jitter,
                     int index, long first, bool positive) {
    if (!right) right = left;
    if (!left || n <= 0) return index == 0 ? 0 : first;
    BLOCK<double> negl(pool, positive ? 1 : n, "CoreProg::synch");
    BLOCK<double> negr(pool, positive || right == left ? 1 : n, "CoreProg::synch");
    double const* L = left;
    double const* R = right;
    if (!positive) {
        for (long k = 0; k < n; ++k) negl[k] = -left[k];
        if (right != left)
            for (long k = 0; k < n; ++k) negr[k] = -right[k];
        L = negl.data;
        R = right == left ? negl.data : negr.data;
    }
    double const b = balance;
    auto mix = [&](long k) { return L[k] * (1.0 - b) + R[k] * b; };
    // Index of the largest value of f over 0..n-1, strictly above a running
    // value that starts at `top` (the first occurrence wins); -1 for none.
    auto largest = [n](auto f, double& top) {
        long at = -1;
        for (long k = 0; k < n; ++k)
            if (f(k) > top) {
                top = f(k);
                at = k;
            }
        return at;
    };

    if (hrtf) {
        double top = 0.0;
        long at = largest([&](long k) { return L[k]; }, top);
        long const r = largest([&](long k) { return R[k]; }, top);
        if (r >= 0) at = r;
        if (at >= 0) return at;
        top = 0.0;
        at = largest([&](long k) { return std::fabs(L[k]); }, top);
        long const m = largest([&](long k) { return std::fabs(R[k]); }, top);
        return m >= 0 ? m : at;
    }
    if (train && index != 0) return first;
    if (train && threshold > 0.0) {
        double top = 0.0;
        largest(mix, top);
        double t = top * threshold;
        for (long k = 0; k < n; ++k)
            if (mix(k) > t) return k;
        top = 0.0;
        largest([&](long k) { return std::fabs(mix(k)); }, top);
        t = top * threshold;
        for (long k = 0; k < n; ++k)
            if (std::fabs(mix(k)) > t) return k;
        return 0;
    }
    if (jitter) {
        double top = 0.0;
        long const p = std::max(0L, largest([&](long k) { return L[k]; }, top));
        top = 0.0;
        long const q = std::max(0L, largest([&](long k) { return R[k]; }, top));
        return static_cast<long>((1.0 - b) * double(p) + b * double(q));
    }
    double top = 0.0;
    long const at = largest(mix, top);
    if (at >= 0) return at;
    if (index != 0) return first;
    top = 0.0;
    return std::max(0L, largest([&](long k) { return std::fabs(mix(k)); }, top));
}

// ---- building ------------------------------------------------------------------------------

void CoreProg::start(bool keep) {
    started = true;
    loadedfiles = 0;
    datasize = 0.0;
    CoreLog_::debug(CoreAnsx("starting wave reader"), 5, 2);
    try {
        CoreWvfr reader(pool, store, true);
        convertedrate = 0;
        largestoffset = -1;
        for (short s = 0; s < slots && s < capacity; ++s) {
            if (!hslots[s].inuse) continue;
            streh(s, &reader, s == 0 ? -1 : hslots[0].offset, keep);
            largestoffset = std::max(largestoffset, hslots[s].offset);
        }
        HLOC& hybrid = hslots[capacity];
        if (forcehybrid) {
            if (hybrid.inuse && hybrid.root) {
                CoreLog_::debug(CoreAnsx("starting hybrid"), 5, 2);
                streh(capacity, &reader, hslots[0].offset, keep);
                trsir(capacity, hslots[0].normallength);
            }
        } else if (smooth >= 0 && hslots[0].root) {
            hslots[0].root->setsc();
            hslots[0].secondleft = hslots[0].root->getls();
            hslots[0].secondright = hslots[0].root->getrs();
        }
    } catch (...) {
        throw CoreAnsx("");
    }
}

void CoreProg::streh(short slot, CoreWvfr* reader, long ref, bool keep) {
    HLOC* hp = slotAt(slot, "streh");
    if (!hp || !hp->root || !reader) {
        CoreLog_::loger(CoreAnsx("streh: no vectors in slot ") + CoreAnsx(int(slot)), 1);
        throw CoreAnsx("");
    }
    HLOC& h = *hp;
    CoreVctr* const root = h.root;
    CoreAnsx const number(slot + 1);
    // 1.
    CoreLog_::debug(CoreAnsx("starting H") + number, 2, 2);
    CoreLog_::debug(CoreAnsx("iVleafvectors:") + CoreAnsx(h.leaves.count), 3, 3);
    CoreLog_::debug(CoreAnsx("iVcorevectors:") + CoreAnsx(h.cores.count), 3, 3);
    auto samples = [this](long us) { return clampInt(CoreButl::tpfup(rate, us)); };
    // 2.
    int const align = samples(alignoffset);
    // 3.
    int vectoroffset = 0, vectorfadein = 0;
    for (CoreTlst* list : {&h.leaves, &h.cores})
        for (int v = 0; v < list->count; ++v) {
            int o = 0, f = 0;
            static_cast<CoreVctr*>((*list)[unsigned(v)])->getup(o, f);
            vectoroffset = std::max(vectoroffset, o);
            vectorfadein = std::max(vectorfadein, f);
        }
    int const fadeouts[2] = {root->chnfo(0), root->chnfo(1)};
    int const limits[2] = {root->chnls(0), root->chnls(1)};
    for (long const us :
         {long(vectoroffset), long(vectorfadein), long(fadeouts[0]), long(fadeouts[1])})
        if (us > iCmosttime) {
            // The load's reason: the user must learn which program and why.
            CoreLog_::logfl(programfile + CoreAnsx(": over 60 s, H") + number +
                                CoreAnsx(" has a fade or offset of ") + CoreAnsx(us) +
                                CoreAnsx(" us"),
                            0);
            throw CoreAnsx("");
        }
    // 4. A limit the vectors leave unset (negative) is no limit: the ceiling applies.
    h.offset = ref >= 0 ? clampInt(ref) : samples(vectoroffset);
    h.fadeinlength = samples(vectorfadein);
    h.normalfadeout = samples(fadeouts[0]);
    h.normalceiling = samples(normalceiling);
    h.extendedceiling = samples(extendedceiling);
    h.extendedfadeout = samples(fadeouts[1]);
    // A fade-out is added to its kernel: unbounded it would make that kernel
    // as long as the fade, and every block as slow. Each has its own ceiling.
    auto const cut = [this, &number](int& fadeout, int ceiling, int written, char const* key,
                                     long ceilingus) {
        if (fadeout <= ceiling || ceiling <= 0) return;
        CoreLog_::logtg(programfile + CoreAnsx(": H") + number + CoreAnsx(": FADEOUT of ") +
                            CoreAnsx(long(written)) + CoreAnsx(" us cut to ") + CoreAnsx(key) +
                            CoreAnsx(" ") + CoreAnsx(ceilingus) + CoreAnsx(" us"),
                        1);
        fadeout = ceiling;
    };
    cut(h.normalfadeout, h.normalceiling, fadeouts[0], "LTIMED", normalceiling);
    cut(h.extendedfadeout, h.extendedceiling, fadeouts[1], "LFREQD", extendedceiling);
    long normallimit =
        limits[0] < 0 ? h.normalceiling : std::min<long>(h.normalceiling, samples(limits[0]));
    long const extendedlimit = limits[1] > 0 ? std::min<long>(samples(limits[1]), h.extendedceiling)
                                             : std::min<long>(normallimit, h.extendedceiling);
    for (int* f : {&h.fadeinlength, &h.normalfadeout, &h.extendedfadeout, &h.offset})
        if (*f <= 0) *f = 1;
    // 5.
    CoreLog_::debug(CoreAnsx("iVtoffset:") + CoreAnsx(h.offset), 3, 3);
    CoreLog_::debug(CoreAnsx("iVtfadein:") + CoreAnsx(h.fadeinlength), 3, 3);
    CoreLog_::debug(CoreAnsx("iVtfadeout:") + CoreAnsx(h.normalfadeout), 3, 3);
    CoreLog_::debug(CoreAnsx("iVtlimitsize:") + CoreAnsx(normallimit), 3, 3);
    CoreLog_::debug(CoreAnsx("iVtfadeoutext:") + CoreAnsx(h.extendedfadeout), 3, 3);
    CoreLog_::debug(CoreAnsx("iVtlimitsizeext:") + CoreAnsx(extendedlimit), 3, 3);

    // 6. Files in leaf-list order, each with the leaf and element it fills.
    std::vector<CoreVctr*> leafof;
    std::vector<int> elementof;
    std::vector<CoreAnsx> names;
    for (int v = 0; v < h.leaves.count; ++v) {
        auto* leaf = static_cast<CoreVctr*>(h.leaves[unsigned(v)]);
        for (int e = 0; e < leaf->getne(); ++e) {
            leafof.push_back(leaf);
            elementof.push_back(e);
            names.push_back(leaf->getfn(e));
        }
    }
    int const E = static_cast<int>(names.size());
    std::vector<void*> eleft(E, nullptr), eright(E, nullptr); // impulse elements made
    std::vector<char> handed(E, 0);                           // given to their vector
    try {
        BLOCK<long> frames(pool, E, "CoreProg::streh"), bound(pool, E, "CoreProg::streh");
        BLOCK<long> raw(pool, E, "CoreProg::streh"), length(pool, E, "CoreProg::streh");
        BLOCK<long> sync(pool, E, "CoreProg::streh"), first(pool, E, "CoreProg::streh");
        BLOCK<long> last(pool, E, "CoreProg::streh");
        BLOCK<double> peak(pool, E, "CoreProg::streh");
        BLOCK<double> ratefactor(pool, E, "CoreProg::streh"); // per file
        READS reads(pool, E);

        // 7.
        if (!keep) reader->setfr(rate, true);
        // 8. Sizing pass.
        // largestown: the longest file's own length at the delivered rate; the
        // lead and tail a conversion adds do not make a marker file long.
        long longestdelivered = 0, largestbound = 0, largestown = 0;
        // The ceiling judges each file's own length, counted at its own rate:
        // over is the longest file (in time) that passes it, -1 for none.
        int over = -1, overrate = 0;
        bool foreign = false; // a file whose rate is not the program's
        for (int i = 0; i < E; ++i) {
            try {
                reader->open_(names[i]);
            } catch (...) {
                CoreLog_::logfl(quoted(names[i]), 1);
                throw;
            }
            frames[i] = reader->getdr(false);
            bound[i] = reader->getdw();
            raw[i] = reader->getdr(true);
            filerate = reader->getrr();
            datasize += double(frames[i]) * reader->getca() * 8.0;
            CoreLog_::debug(
                CoreAnsx("opened ") + quoted(names[i]) + CoreAnsx(":") + CoreAnsx(frames[i]), 3, 3);
            longestdelivered = std::max(longestdelivered, frames[i]);
            largestbound = std::max(largestbound, bound[i]);
            largestown = std::max(largestown, reader->getow());
            foreign = foreign || filerate != rate;
            if (raw[i] > CoreButl::tpfup(filerate, conversionceiling) &&
                (over < 0 || double(raw[i]) * overrate > double(raw[over]) * filerate)) {
                over = i;
                overrate = filerate;
            }
            reader->close();
        }
        // 9. Rate decision, for the whole slot: its kernels share one rate.
        reader->set32(false);
        h.marker = largestown < 16;
        // A marker plays one tap: the value its file holds at the sync point.
        // Converted, that value is a filtered sample, too small when the file
        // is upsampled, so a marker is read at its file's rate in every slot.
        bool const switchedoff = largestown < 16;
        // A kernel read at its file's rate plays at the program's, too fast or
        // too slow: say so, unless conversion is off (location 0, a ceiling of
        // 0) or the marker slot is read so by design.
        if (over >= 0 && !keep && conversionceiling > 0 && foreign && !switchedoff)
            CoreLog_::notce(
                CoreAnsx("H") + number + CoreAnsx(": ") + quoted(names[over]) + CoreAnsx(" at ") +
                CoreAnsx(overrate) + CoreAnsx(" Hz, ") + CoreAnsx(raw[over]) +
                CoreAnsx(" frames, is longer than RATECONVERSION (") + CoreAnsx(conversionceiling) +
                CoreAnsx(" us): the slot is read unconverted and plays at ") + CoreAnsx(rate) +
                CoreAnsx(" Hz"));
        if (over >= 0 || switchedoff) {
            reader->setfr(-1, true);
            for (int i = 0; i < E; ++i) frames[i] = bound[i] = raw[i];
            longestdelivered = largestbound = largestown = 0;
            for (int i = 0; i < E; ++i) {
                longestdelivered = std::max(longestdelivered, frames[i]);
                largestbound = std::max(largestbound, bound[i]);
                largestown = std::max(largestown, raw[i]);
            }
        }
        // 10.
        if (alignbalance < 0.0 || alignbalance > 1.0) alignbalance = 0.0;
        // 11. Data pass.
        for (int i = 0; i < E; ++i) {
            if (messages) {
                try {
                    messages->addrw(CoreLog_::sCstatsexe + CoreAnsx(" H") + number +
                                    CoreAnsx(": ") + CoreAnsx(int(100L * i / E)) + CoreAnsx("%"));
                } catch (...) {
                    // A lost progress row does not fail the slot.
                }
            }
            long const room = std::max(bound[i], 1L);
            if (room > std::numeric_limits<int>::max()) throw CoreAnsx("");
            reads.left[i] = static_cast<double*>(
                pool->mallc(0, static_cast<int>(room), sCowner, "CoreProg::streh"));
            std::fill(reads.left[i], reads.left[i] + room, 0.0);
            reader->open_(names[i]);
            if (convertedrate == 0 || convertedrate == filerate) convertedrate = reader->getrt();
            if (reader->getca() == 1) {
                reads.right[i] = reads.left[i];
            } else {
                reads.right[i] = static_cast<double*>(
                    pool->mallc(0, static_cast<int>(room), sCowner, "CoreProg::streh"));
                std::fill(reads.right[i], reads.right[i] + room, 0.0);
            }
            length[i] = reader->getdt(room, reads.left[i], reads.right[i]);
            // The peak of the file's own samples, both channels, the whole
            // read: a downsampled impulse loses height the rate factor below
            // gives back, so a peak taken after conversion would count the
            // factor twice in a normalised vector.
            double const top = reader->getpk();
            peak[i] = top > 0.0 ? top : 1.0;
            // Conversion keeps the size of the samples, so a kernel delivered
            // at n times its file's rate holds n times the sound: it plays at
            // its file's level scaled by file rate over delivered rate (1 when
            // read unconverted), whatever the other files' rates.
            int const delivered = reader->getrt();
            ratefactor[i] = delivered > 0 ? double(reader->getrr()) / double(delivered) : 1.0;
            reader->close();
        }
        // 12.
        bool positive = false;
        for (int i = 0; i < E && !positive; ++i)
            positive = inphs(reads.left[i], static_cast<int>(length[i]));
        // 13.
        for (int i = 0; i < E; ++i) {
            sync[i] =
                synch(pool, reads.left[i], reads.right[i], length[i], alignbalance, hrtfmode,
                      trainmode, h.trainthreshold, jittermode, i, i == 0 ? 0 : sync[0], positive);
            // A normalised vector sets its elements' levels by the files'
            // own peaks, so it keeps the factor.
            if (ratefactor[i] != 1.0) {
                for (long k = 0; k < length[i]; ++k) reads.left[i][k] *= ratefactor[i];
                if (reads.right[i] != reads.left[i])
                    for (long k = 0; k < length[i]; ++k) reads.right[i][k] *= ratefactor[i];
            }
        }
        // 14. Every slot but a marker slot aligns on slot 0's first impulse.
        if (syncversion >= 2) {
            if (slot == 0) firstsync = sync[0];
            if (largestown >= 16)
                for (int i = 0; i < E; ++i)
                    if (firstsync < length[i]) sync[i] = firstsync;
        }
        // 15.
        h.usable = 0;
        for (int i = 0; i < E; ++i) {
            sync[i] = std::max(sync[i] - align, 0L);
            // Nothing of the impulse lies in the file: it cannot be cut.
            if (sync[i] > length[i]) {
                // The load's reason: the user must learn which program and why.
                CoreLog_::logfl(programfile + CoreAnsx(": H") + number + CoreAnsx(" ") +
                                    quoted(names[i]) + CoreAnsx(": sync point ") +
                                    CoreAnsx(sync[i]) + CoreAnsx(" past the end ") +
                                    CoreAnsx(length[i]),
                                0);
                throw CoreAnsx("");
            }
            h.usable = std::max(h.usable, clampInt(length[i] - sync[i]));
        }
        h.longestfile = clampInt(longestdelivered);
        CoreLog_::debug(CoreAnsx("peaks detected"), 3, 3);
        // 16.
        if (!h.extended && normallimit <= 0 && extendedlimit > 0) h.extended = true;
        setnp(slot, normallimit, extendedlimit);
        // 17.
        for (int i = 0; i < E; ++i) leafof[i]->newip(&eleft[i], &eright[i], h.maximum);
        h.elementlength = h.maximum;
        h.longestwritten = 0;
        // 18. Cut and copy.
        for (int i = 0; i < E; ++i) {
            first[i] = std::max(sync[i] - h.offset, 0L);
            long const destination = std::max(long(h.offset) - sync[i], 0L);
            long count = std::min(length[i] - first[i], long(h.maximum) - destination - 1);
            if (count < 0) count = 0;
            last[i] = first[i] + count;
            double* const l = reads.left[i] + first[i];
            double* const r = (forcemono ? reads.left[i] : reads.right[i]) + first[i];
            leafof[i]->copyd(eleft[i], eright[i], l, r, static_cast<int>(count),
                             static_cast<int>(destination));
            h.longestwritten = std::max(h.longestwritten, clampInt(count + destination));
            reads.drop(i);
        }
        // 19. Fades and outputs.
        CoreLog_::debug(CoreAnsx("irs synchronized and saved"), 3, 3);
        h.extendedfadeout = std::min(h.extendedfadeout, h.extendedlength);
        h.fadein = root->newfi(h.fadeinlength);
        h.normalfade = root->newfo(h.normalfadeout);
        h.extendedfade = root->newfe(h.extendedfadeout);
        h.fadesbuilt = true;
        h.currentfade = h.extended ? h.extendedfade : h.normalfade;
        h.currentfadeout = h.extended ? h.extendedfadeout : h.normalfadeout;
        h.currentlength = h.extended ? h.extendedlength : h.normallength;
        CoreLog_::debug(CoreAnsx("fades completed"), 3, 3);
        root->chncp(h.normallength, h.extendedlength, h.padded);
        // Normalisation scales an element over its vector's output length:
        // sized to the whole element, no sample a later, longer kernel
        // (setod) reaches is left at the file's level.
        for (int v = 0; v < h.leaves.count; ++v)
            static_cast<CoreVctr*>(h.leaves[unsigned(v)])
                ->chncp(h.normallength, h.extendedlength, h.maximum);

        // 20. Registration. The identity names every setting that shapes the
        // kernel, so only identically built kernels are shared.
        h.owned.reserve(h.owned.size() + E);
        std::string settings;
        put(settings, "M", forcemono ? 1 : 0);
        put(settings, "H", hrtfmode ? 1 : 0);
        put(settings, "T", trainmode ? 1 : 0);
        put(settings, "J", jittermode ? 1 : 0);
        put(settings, "V", syncversion);
        put(settings, "B", alignbalance);
        put(settings, "A", align);
        put(settings, "R", h.trainthreshold);
        put(settings, "O", h.offset);
        put(settings, "F", h.fadeinlength);
        put(settings, "N", h.normallength);
        put(settings, "X", h.extendedlength);
        put(settings, "P", h.padded);
        put(settings, "Z", h.maximum);
        put(settings, "C", convertedrate);
        put(settings, "G", gainir);
        {
            CorePlel::BRACKET bracket(*cache, groupName(), sharedcache);
            int i = 0;
            for (int v = 0; v < h.leaves.count; ++v) {
                auto* leaf = static_cast<CoreVctr*>(h.leaves[unsigned(v)]);
                int const n = leaf->getne();
                std::string digest = settings;
                bool on = false;
                double position = 0.0, weight = 0.0;
                leaf->getnz(on, position, weight);
                put(digest, "n", on ? 1 : 0);
                put(digest, "p", position);
                put(digest, "w", weight);
                put(digest, "lo", leaf->getmn());
                put(digest, "hi", leaf->getmx());
                for (int e = 0; e < n; ++e) {
                    digest += std::string(names[i + e].c_str()) + "|";
                    put(digest, "e", leaf->getps(e));
                    put(digest, "k", peak[i + e]);
                    put(digest, "s", double(sync[i + e]));
                }
                CoreAnsx const hex(hexOf(fnv(digest)).c_str());
                for (int e = 0; e < n; ++e, ++i) {
                    leaf->setfd(eleft[i], eright[i], h.fadeinlength, h.fadein);
                    int const before = cache->getnr();
                    leaf->setip(e, static_cast<double*>(eleft[i]), static_cast<double*>(eright[i]),
                                names[i] + hex, h.usable, convertedrate, first[i], last[i], this,
                                slot);
                    handed[i] = 1;
                    if (!leaf->getsb(e) && cache->getnr() == before)
                        h.owned.push_back({leaf, eleft[i], eright[i]}); // room reserved above
                    leaf->setpk(e, peak[i]);
                    leaf->setrz(e, first[i], last[i]);
                }
                leaf->setgn(gainir);
            }
        }
        // 21.
        root->chnip();
        root->chnna(CoreAnsx("VECTOR") + CoreAnsx(int(slot)));
        h.left = root->getlc();
        h.right = root->getrc();
        loadedfiles += E;
        CoreLog_::debug(CoreAnsx("vectors completed"), 3, 3);
    } catch (...) {
        // Elements given to a vector belong to the cache or are listed as
        // the program's; the others are freed here.
        for (int i = 0; i < E; ++i)
            if (!handed[i] && eleft[i]) leafof[i]->delip(eleft[i], eright[i]);
        CoreLog_::debug(CoreAnsx("end H") + number, 3, 2);
        throw CoreAnsx("");
    }
    // 22.
    CoreLog_::debug(CoreAnsx("end H") + number, 3, 2);
}
