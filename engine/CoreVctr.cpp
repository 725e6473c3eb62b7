#include "engine/CoreVctr.h"

#include "engine/CoreCnvlIntl.h"

#include "engine/CorePlel.h"
#include "modulation/CoreParm.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "runtime/CoreTlst.h"

#include <algorithm>

namespace {

char const* const tag = "VCT2"; // pool owner tag of every block a vector takes

// Pool kinds of the vector's blocks.
constexpr short kindEight = 0; // doubles and longs
constexpr short kindFour = 1;  // ints
constexpr short kindByte = 4;  // flags

// own, or the largest value a child reports (get) when that is larger.
template <typename T, typename Get>
T largestOver(T own, CoreVctr* const* children, int count, Get get) {
    for (int i = 0; i < count; ++i)
        if (children[i] != nullptr) own = std::max(own, get(children[i]));
    return own;
}

} // namespace

// ---- Construction and destruction ---------------------------------------------------

CoreVctr::CoreVctr(CorePool* pool, CorePlel* cache, short /*index*/, CoreCnvl* engine, bool leaf,
                   int n, CoreAnsx* names, double* positionValues, CoreVctr** childVectors,
                   double minimum, double maximum, double* readbackValues, double readbackBase,
                   double readbackTop, CoreAnsx vectorSource, DataSrce* sources, double liquidValue,
                   CoreAnsx liquidSource, int offset, int fadeIn, int* fadeOut, int* limitValues,
                   bool nearest, short fadeInCurve, short fadeOutCurve, bool /*unused*/)
    : leaf(leaf), count(n > 0 ? n : 0), constructionsource(vectorSource),
      liquidsource(liquidSource), fadeincurve(fadeInCurve), fadeoutcurve(fadeOutCurve),
      offset(offset), fadeintime(fadeIn), readbackbase(readbackBase), readbacktop(readbackTop),
      nearest(nearest), sources(sources), pool(pool), cache(cache), engine(engine) {
    try {
        registrations = new CoreTlst;
        fadeouttimes = static_cast<int*>(pool->mallc(kindFour, 2, tag, "CoreVctr"));
        limits = static_cast<int*>(pool->mallc(kindFour, 2, tag, "CoreVctr"));
        // Values the caller does not give read as unset rather than as
        // whatever the block held.
        fadeouttimes[0] = fadeOut != nullptr ? fadeOut[0] : 0;
        fadeouttimes[1] = fadeOut != nullptr ? fadeOut[1] : 0;
        limits[0] = limitValues != nullptr ? limitValues[0] : -1;
        limits[1] = limitValues != nullptr ? limitValues[1] : -1;

        filenames = new CoreAnsx[count > 0 ? count : 1];
        children = new CoreVctr*[count > 0 ? count : 1]();
        leftelements = new void*[count > 0 ? count : 1]();
        rightelements = new void*[count > 0 ? count : 1]();
        elementflags = new bool*[count > 0 ? count : 1]();
        tree = new CoreButl::VECTORELEMENT[count > 0 ? count : 1]();
        if (count > 0) {
            positions = static_cast<double*>(pool->mallc(kindEight, count, tag, "CoreVctr"));
            readbackvalues = static_cast<double*>(pool->mallc(kindEight, count, tag, "CoreVctr"));
            peaks = static_cast<double*>(pool->mallc(kindEight, count, tag, "CoreVctr"));
            rangestart = static_cast<long*>(pool->mallc(kindEight, count, tag, "CoreVctr"));
            rangeend = static_cast<long*>(pool->mallc(kindEight, count, tag, "CoreVctr"));
            hasrange = static_cast<std::uint8_t*>(pool->mallc(kindByte, count, tag, "CoreVctr"));
            substituted = static_cast<std::uint8_t*>(pool->mallc(kindByte, count, tag, "CoreVctr"));
        }

        for (int i = 0; i < count; ++i) {
            if (names != nullptr) filenames[i] = names[i];
            positions[i] = positionValues != nullptr ? positionValues[i] : 0.0;
            readbackvalues[i] = readbackValues != nullptr ? readbackValues[i] : 0.0;
            peaks[i] = 1.0;
            rangestart[i] = 0;
            rangeend[i] = 0;
            hasrange[i] = 0;
            substituted[i] = 0;
            if (leaf) {
                elementflags[i] = new bool(true);
            } else {
                children[i] = childVectors != nullptr ? childVectors[i] : nullptr;
                // Until chnip the child's own flag is the sound answer.
                if (children[i] != nullptr) elementflags[i] = &children[i]->converged;
            }
        }
        if (!leaf && childVectors == nullptr)
            CoreLog_::loger("Inner vector built without children", 1);

        // Position tree: a later element at the position of an earlier one is
        // left out, so only the first can be found by position; its buffers
        // stay in the element arrays and still take part in an all-element mix.
        int nodes = 0;
        for (int i = 0; i < count; ++i) {
            bool duplicate = false;
            for (int j = 0; j < nodes && !duplicate; ++j)
                duplicate = tree[j].position == positions[i];
            if (duplicate) continue;
            tree[nodes].position = positions[i];
            tree[nodes].readback = readbackvalues[i];
            tree[nodes].index = i;
            tree[nodes].left = nullptr;
            tree[nodes].right = nullptr;
            ++nodes;
        }
        root = CoreButl::btini(tree, nodes);

        if (count > 1) {
            positionmin = minimum;
            positionmax = maximum;
        }

        vectorcontrol = new CoreParm("Vector Control", "Vector Control", constructionsource,
                                     positionmin, positionmax, sources);
        liquidcontrol = new CoreParm("Liquid Control", "Liquid Control", "", -1.0, 1.0, sources);
        gainpadcontrol = new CoreParm("Gainpad Control", "Gainpad Control", "", -1.0, 1.0, sources);
        gaincontrol = new CoreParm("Gain Control", "Gain Control", "", -1.0, 1.0, sources);
        pancontrol = new CoreParm("Pan Control", "Pan Control", "", -1.0, 1.0, sources);
        liquidcontrol->setsr(liquidsource, 0.0, 1.0);

        setlq(liquidValue);
        normposition = positionmin;
    } catch (...) {
        // The children stay with the caller when the vector could not be made.
        release(false);
        throw;
    }
}

CoreVctr::~CoreVctr() { release(true); }

void CoreVctr::release(bool withChildren) {
    // Nothing of a tree that goes is written out; its binder forgets it.
    if (deferholder != nullptr && *deferholder == this) *deferholder = nullptr;
    deferholder = nullptr;
    deferroot = nullptr;
    stepcount = 0;
    if (elementflags != nullptr) {
        if (leaf)
            for (int i = 0; i < count; ++i) delete elementflags[i];
        delete[] elementflags;
        elementflags = nullptr;
    }
    if (children != nullptr) {
        if (withChildren && !leaf)
            for (int i = 0; i < count; ++i) delete children[i];
        delete[] children;
        children = nullptr;
    }
    delete[] leftelements;
    leftelements = nullptr;
    delete[] rightelements;
    rightelements = nullptr;
    if (registrations != nullptr) {
        for (int i = 0; i < registrations->count; ++i) {
            int* id = static_cast<int*>((*registrations)[i]);
            if (cache != nullptr) cache->relel(*id, false);
            delete id;
        }
        delete registrations;
        registrations = nullptr;
    }
    delete[] filenames;
    filenames = nullptr;
    delete[] tree;
    tree = nullptr;
    root = nullptr;
    freeBlock(positions);
    freeBlock(readbackvalues);
    freeBlock(peaks);
    freeBlock(rangestart);
    freeBlock(rangeend);
    freeBlock(hasrange);
    freeBlock(substituted);
    releaseFold();
    dropPair(outleft0, outright0);
    delete liquidcontrol;
    liquidcontrol = nullptr;
    delete gainpadcontrol;
    gainpadcontrol = nullptr;
    delete gaincontrol;
    gaincontrol = nullptr;
    delete pancontrol;
    pancontrol = nullptr;
    delete vectorcontrol;
    vectorcontrol = nullptr;
    dropPair(outleft1, outright1);
    freeBlock(fadeouttimes);
    freeBlock(limits);
    elementDelete(pool, fadeinelement);
    fadeinelement = nullptr;
    elementDelete(pool, fadeoutelement);
    fadeoutelement = nullptr;
    elementDelete(pool, tailfadeelement);
    tailfadeelement = nullptr;
}

// ---- Element function access --------------------------------------------------------

CoreCnvl::VECEXTENSION* CoreVctr::elementExtension() {
    CoreCnvl::VECEXTENSION* ext = nullptr;
    if (engine != nullptr) engine->getve(ext);
    return ext;
}

short CoreVctr::elementSet() {
    if (engine == nullptr) return 1;
    CoreCnvl::ELNEW fn = nullptr;
    engine->getne(fn);
    return fn == &CoreCnvlIntl::nwel2 ? 2 : 1;
}

void* CoreVctr::elementNew(CorePool* from, int n) {
    CoreCnvl::ELNEW fn = &CoreCnvlIntl::nwel1;
    if (engine != nullptr) engine->getne(fn);
    if (n < 1) return nullptr;
    if (fn == nullptr) throw CoreAnsx("Element set without an allocator");
    void* element = fn(elementExtension(), from, n);
    if (element == nullptr) throw CoreAnsx("Memory request failed ") + CoreAnsx(n);
    return element;
}

void CoreVctr::elementDelete(CorePool* from, void* element) {
    if (element == nullptr) return;
    CoreCnvl::ELDEL fn = &CoreCnvlIntl::dlel1;
    if (engine != nullptr) engine->getde(fn);
    if (fn != nullptr) fn(elementExtension(), from, element);
}

CoreCnvl::ELADJ CoreVctr::elementAdjust() const {
    CoreCnvl::ELADJ fn = &CoreCnvlIntl::adj_1;
    if (engine != nullptr) engine->getae(fn);
    return fn;
}

CoreCnvl::ELFADE CoreVctr::elementFade() const {
    CoreCnvl::ELFADE fn = &CoreCnvlIntl::fade1;
    if (engine != nullptr) engine->getfd(fn);
    return fn;
}

CoreCnvl::ELMIX CoreVctr::elementMix() const {
    CoreCnvl::ELMIX fn = &CoreCnvlIntl::vmix1;
    if (engine != nullptr) engine->getvm(fn);
    return fn;
}

void CoreVctr::elementCopy(void* dst, void const* src, int n, bool transfer, int offset,
                           bool flush) {
    if (dst == nullptr || n <= 0) return;
    CoreCnvl::ELCOPY fn = &CoreCnvlIntl::copy1;
    if (engine != nullptr) engine->getce(fn);
    if (fn != nullptr)
        fn(elementExtension(), dst, src, n, transfer, offset < 0 ? 0 : offset, flush);
}

bool CoreVctr::validIndex(int i, char const* operation) const {
    if (i >= 0 && i < count) return true;
    CoreLog_::loger(CoreAnsx("Vector element index out of range in ") + CoreAnsx(operation) + ": " +
                        CoreAnsx(i),
                    1);
    return false;
}

void CoreVctr::freeRaw(void* block) {
    if (block != nullptr) pool->free_(block);
}

void CoreVctr::dropPair(void*& left, void*& right) {
    elementDelete(pool, left);
    if (right != left) elementDelete(pool, right);
    left = right = nullptr;
}

// ---- Tree-wide operations -----------------------------------------------------------

void CoreVctr::chnna(CoreAnsx name) {
    this->name = name;
    if (leaf) return;
    for (int i = 0; i < count; ++i)
        if (children[i] != nullptr) children[i]->chnna(name + "_" + CoreAnsx(i));
}

void CoreVctr::chncp(long length, long length1, long allocated) {
    settle();
    long len0 = length > 0 ? length : 0;
    long len1 = length1 >= 0 ? length1 : len0;
    // Mixing and copying run over the current length, which either selector
    // may choose: the outputs are never shorter than both lengths.
    long alloc = std::max({allocated, len0, len1});
    if (!leaf)
        for (int i = 0; i < count; ++i) {
            CoreVctr* child = children[i];
            if (child == nullptr) continue;
            bool linked = leftelements[i] == child->outleft0 && leftelements[i] != nullptr;
            child->chncp(length, length1, -1);
            // The child's old outputs are gone: an element linked to them
            // follows to the new ones rather than pointing at freed memory.
            if (linked) {
                leftelements[i] = child->outleft0;
                rightelements[i] = child->outright0;
            }
        }

    // New buffers first, so a failed allocation leaves the old outputs in
    // place. A switching root resizes its second pair too: copying or mixing
    // the new length into the old, shorter pair would run past it.
    void* made[4] = {nullptr, nullptr, nullptr, nullptr};
    try {
        for (int k = 0; k < (switching ? 4 : 2); ++k)
            made[k] = elementNew(pool, static_cast<int>(alloc));
    } catch (...) {
        for (void* element : made) elementDelete(pool, element);
        // The children already hold outputs of the new size: a parent that
        // keeps a longer length would mix past the end of their buffers.
        if (!leaf) {
            int held = static_cast<int>(std::max(len0, len1));
            length0 = std::min(length0, held);
            this->length1 = std::min(this->length1, held);
            currentlength = std::min(currentlength, held);
            remix();
        }
        throw;
    }
    dropPair(outleft0, outright0);
    void* newleft = made[0];
    void* newright = made[1];
    if (switching) {
        dropPair(outleft1, outright1);
        outleft1 = made[2];
        outright1 = made[3];
        pairleft[1] = outleft1;
        pairright[1] = outright1;
        updated[1] = true;
    }

    length0 = static_cast<int>(len0);
    this->length1 = static_cast<int>(len1);
    currentlength = length0;
    allocatedlength = static_cast<int>(alloc);
    outleft0 = newleft;
    outright0 = newright;
    pairleft[0] = outleft0;
    pairright[0] = outright0;
    currentleft = outleft0;
    currentright = outright0;
    activepair = 0;
    updated[0] = true;
    activeupdated = &updated[0];
    remix();
    // Fresh outputs hold zeros: the sum of no elements.
    own.count = 0;
    unknown = 0.0;
    prepareFold();
}

void CoreVctr::chncd(short selector) {
    if (selector != 0 && selector != 1) return;
    int next = selector == 0 ? length0 : length1;
    if (next != currentlength) settle();
    // A settled output was mixed over the old length only: the samples the
    // new length brings in must be mixed before anyone reads them.
    if (next != currentlength) remix();
    currentlength = next;
    if (leaf) return;
    for (int i = 0; i < count; ++i)
        if (children[i] != nullptr) children[i]->chncd(selector);
}

void CoreVctr::chnip() {
    if (leaf) return;
    settle();
    for (int i = 0; i < count; ++i) {
        CoreVctr* child = children[i];
        if (child == nullptr) continue;
        child->chnip();
        if (leftelements[i] != child->outleft0 || rightelements[i] != child->outright0)
            remix(); // other buffers feed the mix now
        leftelements[i] = child->outleft0;
        rightelements[i] = child->outright0;
        elementflags[i] = &child->converged;
    }
}

void CoreVctr::chndc() {
    settle();
    if (!leaf)
        for (int i = 0; i < count; ++i) {
            CoreVctr* child = children[i];
            if (child == nullptr) continue;
            // An element linked to the child's outputs is missing until the
            // next chnip, never a freed buffer.
            if (leftelements[i] != nullptr && leftelements[i] == child->outleft0) {
                leftelements[i] = nullptr;
                rightelements[i] = nullptr;
                remix();
            }
            child->chndc();
        }
    dropPair(outleft0, outright0);
    dropPair(outleft1, outright1);
    pairleft[0] = pairleft[1] = nullptr;
    pairright[0] = pairright[1] = nullptr;
    currentleft = currentright = nullptr;
    releaseFold();
}

int CoreVctr::chnfi() {
    if (fadeintime > 0 || leaf) return fadeintime;
    return largestOver(fadeintime, children, count, [](CoreVctr* c) { return c->chnfi(); });
}

short CoreVctr::chnci() {
    if (fadeincurve >= 0 || leaf) return fadeincurve;
    return largestOver(fadeincurve, children, count, [](CoreVctr* c) { return c->chnci(); });
}

short CoreVctr::chnco() {
    if (fadeoutcurve >= 0 || leaf) return fadeoutcurve;
    return largestOver(fadeoutcurve, children, count, [](CoreVctr* c) { return c->chnco(); });
}

int CoreVctr::chnfo(short k) {
    if (k != 0 && k != 1) return 0;
    if (limits[k] >= 0 || leaf) return fadeouttimes[k];
    return largestOver(fadeouttimes[k], children, count, [k](CoreVctr* c) { return c->chnfo(k); });
}

int CoreVctr::chnls(short k) {
    if (k != 0 && k != 1) return -1;
    if (limits[k] >= 0 || leaf) return limits[k];
    return largestOver(limits[k], children, count, [k](CoreVctr* c) { return c->chnls(k); });
}

void CoreVctr::ulink() {
    if (children == nullptr) return;
    settle();
    for (int i = 0; i < count; ++i) {
        CoreVctr* child = children[i];
        if (!leaf && child != nullptr) {
            child->bindDefer(nullptr); // a tree of its own now
            // Nothing of a child that may now be deleted on its own is
            // read again through this vector.
            if (elementflags[i] == &child->converged) elementflags[i] = nullptr;
            if (leftelements[i] != nullptr && leftelements[i] == child->outleft0) {
                leftelements[i] = nullptr;
                rightelements[i] = nullptr;
                remix();
            }
        }
        children[i] = nullptr;
    }
}

// ---- Element buffers ----------------------------------------------------------------

void CoreVctr::newip(void** left, void** right, int n) {
    // The cache deletes registered buffers with its own pool; without a cache
    // the vector's pool stands in.
    CorePool* from = cache != nullptr ? cache->getpl() : pool;
    if (from == nullptr) from = pool;
    if (left != nullptr) *left = elementNew(from, n);
    if (right != nullptr) {
        try {
            *right = elementNew(from, n);
        } catch (...) {
            if (left != nullptr) {
                elementDelete(from, *left);
                *left = nullptr;
            }
            throw;
        }
    }
}

void CoreVctr::setip(int i, double* left, double* right, CoreAnsx name, long length, int rate,
                     long rangeStart, long rangeEnd, void* owner, short variant) {
    if (!validIndex(i, "setip")) return;
    settle();
    leftelements[i] = left;
    rightelements[i] = right;
    substituted[i] = 0;
    // A settled output still holds the mix of the old buffers.
    remix();
    if (cache == nullptr || engine == nullptr) return;
    CoreCnvl::ELDEL deleter = nullptr;
    engine->getde(deleter);
    // The id's place is made first: once the cache holds the pair, nothing
    // may fail before the id is kept, or the pair would be released (and
    // the caller's buffers deleted) behind the caller's back.
    int* held = new int(-1);
    try {
        registrations->Add(held);
    } catch (...) {
        delete held;
        throw;
    }
    try {
        *held = cache->addel(deleter, elementExtension(), &leftelements[i], &rightelements[i], name,
                             length, rate, rangeStart, rangeEnd, owner, variant, allocatedlength,
                             elementSet());
    } catch (...) {
        registrations->Delete(registrations->count - 1);
        delete held;
        throw;
    }
    // Another owner's pair: this vector must leave its contents alone.
    substituted[i] = (leftelements[i] != left || rightelements[i] != right) ? 1 : 0;
}

void CoreVctr::getip(int i, void** left, void** right) {
    bool ok = validIndex(i, "getip");
    if (left != nullptr) *left = ok ? leftelements[i] : nullptr;
    if (right != nullptr) *right = ok ? rightelements[i] : nullptr;
}

void CoreVctr::cpyip(int i, void* left, void* right, int n) {
    if (!validIndex(i, "cpyip")) return;
    settle();
    elementCopy(leftelements[i], left, n, false, 0, false);
    if (rightelements[i] != leftelements[i])
        elementCopy(rightelements[i], right, n, false, 0, false);
    remix(); // new contents must reach the output
}

void CoreVctr::copyd(void* dstLeft, void* dstRight, void* srcLeft, void* srcRight, int n,
                     int offset) {
    settle();
    elementCopy(dstLeft, srcLeft, n, true, offset, true);
    if (dstRight != dstLeft) elementCopy(dstRight, srcRight, n, true, offset, true);
    // The destination may be one of this vector's elements.
    remix();
}

void CoreVctr::delip(void* left, void* right) {
    settle();
    CorePool* from = cache != nullptr ? cache->getpl() : pool;
    if (from == nullptr) from = pool;
    elementDelete(from, left);
    if (right != left) elementDelete(from, right);
}

void CoreVctr::setpk(int i, double peak) {
    if (validIndex(i, "setpk")) peaks[i] = peak;
}

void CoreVctr::setrz(int i, long a, long b) {
    if (i < 0 || i >= count) return;
    hasrange[i] = 1;
    rangestart[i] = a;
    rangeend[i] = b;
}

bool CoreVctr::getrz(int i, long& a, long& b) {
    if (i < 0 || i >= count) {
        a = 0;
        b = 0;
        return false;
    }
    a = rangestart[i];
    b = rangeend[i];
    return hasrange[i] != 0;
}

bool CoreVctr::getsb(int i) const { return i >= 0 && i < count && substituted[i] != 0; }

CoreAnsx CoreVctr::getfn(int i) {
    if (!validIndex(i, "getfn")) return CoreAnsx("");
    return filenames[i];
}

int CoreVctr::getne() const { return count; }

double CoreVctr::getps(int i) const { return i >= 0 && i < count ? positions[i] : 0.0; }

void CoreVctr::getnz(bool& on, double& position, double& weight) const {
    on = normaliseon;
    position = normposition;
    weight = normweight;
}

void CoreVctr::getup(int& offset, int& fadeIn) {
    offset = this->offset;
    fadeIn = fadeintime;
}

// ---- Outputs and switching ----------------------------------------------------------

void* CoreVctr::getlc() { return outleft0; }
void* CoreVctr::getrc() { return outright0; }
void* CoreVctr::getls() { return outleft1; }
void* CoreVctr::getrs() { return outright1; }
bool* CoreVctr::getuc() { return &updated[0]; }
bool* CoreVctr::getus() { return &updated[1]; }
bool* CoreVctr::getca() { return &converged; }
int CoreVctr::getcd() const { return currentlength; }
int CoreVctr::getal() const { return allocatedlength; }
short CoreVctr::getap() const { return activepair; }
CoreAnsx CoreVctr::getnm() const { return name; }

void CoreVctr::setsc() {
    settle();
    void* newleft = elementNew(pool, allocatedlength);
    void* newright = nullptr;
    try {
        newright = elementNew(pool, allocatedlength);
    } catch (...) {
        elementDelete(pool, newleft);
        throw;
    }
    // Pair 0 becomes the output again: when pair 1 was playing, the
    // smoothing continues from what it holds.
    if (activepair == 1 && outleft0 != nullptr && outright0 != nullptr) {
        elementCopy(outleft0, outleft1, currentlength, false, 0, false);
        elementCopy(outright0, outright1, currentlength, false, 0, false);
    }
    dropPair(outleft1, outright1);
    outleft1 = newleft;
    outright1 = newright;
    pairleft[0] = outleft0;
    pairright[0] = outright0;
    pairleft[1] = outleft1;
    pairright[1] = outright1;
    activepair = 0;
    currentleft = outleft0;
    currentright = outright0;
    activeupdated = &updated[0];
    switching = true;
    updated[1] = true;
    remix();
}

void CoreVctr::setcc(short k) {
    if (!switching) return;
    if (k != 0 && k != 1) {
        CoreLog_::loger(CoreAnsx("Vector output pair out of range: ") + CoreAnsx(int(k)), 1);
        return;
    }
    settle();
    if (k != activepair) {
        // The smoothing continues from what the active pair holds.
        elementCopy(pairleft[k], pairleft[activepair], currentlength, false, 0, false);
        elementCopy(pairright[k], pairright[activepair], currentlength, false, 0, false);
    }
    currentleft = pairleft[k];
    currentright = pairright[k];
    activeupdated = &updated[k];
    activepair = k;
    remix();
}

void CoreVctr::setcr(void* window, int tailLength, int totalLength, int fadeInLength) {
    settle();
    crossfadewindow = window;
    taillength = tailLength;
    totallength = totalLength;
    fadeinlength = fadeInLength;
    prepareFold();
}

void* CoreVctr::rampElement(int n, bool falling) {
    int size = n > 0 ? n : 0;
    double* ramp = static_cast<double*>(pool->mallc(kindEight, size, tag, "CoreVctr ramp"));
    void* element = nullptr;
    try {
        CoreButl::fdecc(size, ramp);
        if (falling) CoreButl::cfdcc(size, ramp);
        element = elementNew(pool, size);
        elementCopy(element, ramp, size, true, 0, false);
    } catch (...) {
        pool->free_(ramp);
        throw;
    }
    pool->free_(ramp);
    return element;
}

void CoreVctr::redirectWindow(void* old, void* fresh, int n) {
    if (old == nullptr) return;
    int room = fresh != nullptr && n > 0 ? n : 0;
    bool moved = false;
    if (crossfadewindow == old) {
        crossfadewindow = fresh;
        taillength = std::min(taillength, room);
    }
    if (foldhead == old) {
        foldhead = fresh;
        foldheadlength = std::min(foldheadlength, room);
        moved = true;
    }
    if (foldtail == old) {
        foldtail = fresh;
        foldtaillength = std::min(foldtaillength, room);
        moved = true;
    }
    // The output was faded with the old window; the next mix refolds it.
    if (moved && foldon) remix();
}

int CoreVctr::rampLength(void const* window) const {
    if (window == nullptr) return 0;
    if (window == fadeinelement) return fadeinsize;
    if (window == fadeoutelement) return fadeoutsize;
    if (window == tailfadeelement) return tailfadesize;
    return -1;
}

void* CoreVctr::newfi(int n) {
    settle();
    void* element = rampElement(n, false);
    redirectWindow(fadeinelement, element, n);
    elementDelete(pool, fadeinelement);
    fadeinelement = element;
    fadeinsize = element != nullptr ? n : 0;
    prepareFold();
    return element;
}

void* CoreVctr::newfo(int n) {
    settle();
    void* element = rampElement(n, true);
    redirectWindow(fadeoutelement, element, n);
    elementDelete(pool, fadeoutelement);
    fadeoutelement = element;
    fadeoutsize = element != nullptr ? n : 0;
    return element;
}

void* CoreVctr::newfe(int n) {
    settle();
    // Built before the old one goes, so the windows still pointing at the
    // old ramp can be moved over instead of being left dangling.
    void* element = rampElement(n, true);
    redirectWindow(tailfadeelement, element, n);
    elementDelete(pool, tailfadeelement);
    tailfadeelement = element;
    tailfadesize = element != nullptr ? n : 0;
    prepareFold();
    return tailfadeelement;
}
