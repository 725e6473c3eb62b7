#pragma once
// Test access to a program's records: until the program reader exists, the
// tests fill slot records and vectors the way the kernel builder leaves them
// (sized, faded and linked on the loader path), or read a slot's top ELEMENT
// through the element readers as the program reader will. Test thread only.

#include "engine/CoreCnvl.h"
#include "engine/CoreRvct.h"
#include "engine/CoreVctr.h"
#include "modulation/CoreParm.h"
#include "program/CoreProg.h"
#include "runtime/CorePool.h"

#include <memory>
#include <vector>

class ProgProbe : public CoreProg {
public:
    static constexpr long kLookaheadCap = 4096; // samples

    explicit ProgProbe(CorePool* pool, short capacity = 2, CorePlel* cache = nullptr)
        : CoreProg(pool, nullptr, capacity, "vectors/", 10000, 1000000, -1, kLookaheadCap, 7, 9,
                   8192, nullptr, cache) {}

    HLOC& slot(int s) { return hslots[s]; }
    RAWLOC& raw(int r) { return rawslots[r]; }
    short& loaded() { return slots; }
    bool& hybrid() { return forcehybrid; }
    short cap() const { return capacity; }
    CoreAnsx vectorFile() const { return vectorfilename; }
    CoreRfun* rawfun(int i) { return rawfuns[i]; }
    CoreParm* trimIn() { return padintrim; }
    CoreParm* trimOut() { return padouttrim; }
    bool ownsCache() const { return !sharedcache; }
    CorePlel* kernelCache() { return cache; }
    long& offsetCeiling() { return forcedoffset; } // FORCEOFFSET, us; -1 none
    int& depth() { return elementdepth; }
    CoreAnsx sectionPath() const { return currentpath; }

    // Kernel slot s read from its top ELEMENT as the program reader reads it.
    CoreVctr* readSlot(int s, CoreNode* element) {
        elementdepth = 1;
        currentpath = "";
        hslots[s].inuse = true;
        CoreProg::loaded = true; // uload deletes what was read
        hslots[s].root = elmnt(pool, cache, store, hslots, sources, static_cast<short>(s), element,
                               elementdepth, currentpath, vectorfolder, forcedoffset, capacity);
        return hslots[s].root;
    }

    // Raw slot r read from its top ELEMENT as the program reader reads it.
    CoreRvct* readRaw(int r, CoreNode* element) {
        elementdepth = 1;
        currentpath = "";
        rawslots[r].inuse = true;
        rawslots[r].root = relmn(pool, cache, store, rawslots, sources, static_cast<short>(r),
                                 element, elementdepth, currentpath, vectorfolder);
        return rawslots[r].root;
    }

    // A player of its own on every kernel slot, the hybrid slot included,
    // so kernels are registered with the cache as under the engine.
    void attachPlayers() {
        for (int s = 0; s <= capacity; ++s) {
            players.push_back(
                std::make_unique<CoreCnvl>(pool, CoreAnsx("H") + CoreAnsx(s + 1), 0, nullptr));
            setcv(s, players.back().get());
        }
    }
    int& minBlock() { return minblock; }
    CoreAnsx group() { return groupName(); }

    // The vectors are deleted while the players they were built for still exist.
    ~ProgProbe() { uload(); }

    // Slot s as built: a leaf root over two constant kernels (+0.5, -0.5) of
    // n samples at positions 0 and 1 of its Vector control on key, written
    // back to readback (none when null), registered with the kernel cache
    // through a player of its own; extended length n, normal length normal
    // (n when 0); fade-in 2, fade-outs 4, offset 1.
    CoreVctr* buildSlot(int s, char const* key, char const* readback, int n = 32, int normal = 0) {
        if (normal <= 0) normal = n;
        players.push_back(
            std::make_unique<CoreCnvl>(pool, CoreAnsx("H") + CoreAnsx(s + 1), 0, nullptr));
        setcv(s, players.back().get());
        double positions[2] = {0.0, 1.0}, readbacks[2] = {0.0, 1.0};
        auto* v =
            new CoreVctr(pool, cache, static_cast<short>(s), players.back().get(), true, 2, nullptr,
                         positions, nullptr, 0.0, 1.0, readbacks, 0.0, 1.0, key, sources, 0.01,
                         "OFF", 0, 0, nullptr, nullptr, false, 0, 0, s < capacity);
        v->setvl(true, 0.0, 1.0, key, readback != nullptr, readback ? readback : "", 0.0, "OFF",
                 1.0, "OFF", false, "OFF", false, 0.0, 1.0);
        for (int i = 0; i < 2; ++i) {
            void *l = nullptr, *r = nullptr;
            v->newip(&l, &r, n);
            auto *dl = static_cast<double*>(l), *dr = static_cast<double*>(r);
            for (int k = 0; k < n; ++k) dl[k] = dr[k] = i == 0 ? 0.5 : -0.5;
            v->setip(i, dl, dr, CoreAnsx("K") + CoreAnsx(i), n, 44100, 0, 0, this, 0);
        }
        v->chncp(normal, n, n);
        HLOC& h = hslots[s];
        CoreProg::loaded = true; // as the reader leaves it: uload deletes the tree
        h.inuse = true;
        h.root = v;
        h.leaves.Add(v);
        h.offset = 1;
        h.fadeinlength = 2;
        h.normalfadeout = h.extendedfadeout = h.currentfadeout = 4;
        h.normallength = normal;
        h.extendedlength = h.currentlength = n;
        h.fadein = v->newfi(2);
        h.normalfade = v->newfo(4);
        h.extendedfade = v->newfe(4);
        h.currentfade = h.normalfade;
        h.fadesbuilt = true;
        v->setcr(h.currentfade, h.currentfadeout, h.currentlength, h.fadeinlength);
        v->chnip();
        h.left = v->getlc();
        h.right = v->getrc();
        return v;
    }

    // Raw slot r as built: a leaf raw vector over one-value elements at
    // positions 0..1 on key, written back to readback (none when null),
    // mixed into an output of n values.
    CoreRvct* buildRaw(int r, char const* key, char const* readback, std::vector<double> values,
                       int n = 4) {
        int const count = static_cast<int>(values.size());
        std::vector<double> positions(count), readbacks(count);
        for (int i = 0; i < count; ++i)
            positions[i] = readbacks[i] = count > 1 ? i / (count - 1.0) : 0.0;
        auto* v = new CoreRvct(pool, cache, true, count, nullptr, nullptr, positions.data(), 0.0,
                               1.0, readbacks.data(), 0.0, 1.0, sources, 0.01, "OFF");
        v->setvl(true, 0.0, 1.0, key, readback != nullptr, readback ? readback : "");
        std::vector<double*> arrays(count);
        std::vector<int> lengths(count, 1);
        for (int i = 0; i < count; ++i) arrays[i] = &values[i];
        v->setre(n, arrays.data(), lengths.data());
        v->chncp(n, -1, -1);
        RAWLOC& raw = rawslots[r];
        raw.inuse = true;
        raw.root = v;
        raw.leaves.Add(v);
        return v;
    }

private:
    std::vector<std::unique_ptr<CoreCnvl>> players; // the slots' players, one per built slot
};
