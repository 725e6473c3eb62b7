// CoreProg construction, teardown and unloading.
#include "program/CoreProg.h"

#include "engine/CorePlel.h"
#include "engine/CoreRvct.h"
#include "engine/CoreVctr.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "modulation/CoreRfun.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "modulation/DataRgfn.h"
#include "modulation/DataSrce.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

namespace {

// "tag" followed by n, the name of the n-th modulator of a kind and of its source.
CoreAnsx numbered(char const* tag, int n) { return CoreAnsx(tag) + CoreAnsx(n); }

} // namespace

CoreProg::CoreProg(CorePool* pool, CoreFsys* store, short capacity, CoreAnsx vectorfolder,
                   long normalceiling, long extendedceiling, long forcedoffset, long lookaheadcap,
                   long enginefigure1, long enginefigure2, int maxblock, CoreBlnk* blink,
                   CorePlel* cache)
    : vectorfolder(vectorfolder), vectorfilename("0"), rate(CoreButl::iCdefaultrate),
      maxblock(maxblock), capacity(capacity < 0 ? 0 : capacity), normalceiling(normalceiling),
      extendedceiling(extendedceiling), forcedoffset(forcedoffset), lookaheadcap(lookaheadcap),
      blink(blink), store(store), pool(pool) {
    smooth = -1; // absent until a program says otherwise
    this->enginefigure1 = enginefigure1;
    this->enginefigure2 = enginefigure2;
    try {
        if (cache) {
            this->cache = cache;
            sharedcache = true;
        } else {
            this->cache = new CorePlel(pool);
            sharedcache = false;
        }
        rawfunctions = new DataRgfn();
        functions = new DataGfun();
        sources = new DataSrce();

        // Fixed for the life of the bus: no modulator writes these.
        sources->getis(83)->setvl(1.0);  // ON
        sources->getis(0)->setvl(-1.0);  // OFF
        sources->getis(48)->setvl(-1.0); // IN_L
        sources->getis(49)->setvl(-1.0); // IN_R
        sources->getis(50)->setvl(-1.0); // OUTL
        sources->getis(51)->setvl(-1.0); // OUTR

        for (int n = 1; n <= iClfos; ++n)
            lfos[n - 1] = new CoreLfo_(numbered("LFO", n), functions, sources,
                                       sources->getsc(numbered("LFO", n)),
                                       sources->getsc(numbered("RATELFO", n)));
        for (int n = 1; n <= iCfuns; ++n)
            funs[n - 1] = new CoreFun_(numbered("FUN", n), functions, sources,
                                       sources->getsc(numbered("FUN", n)));
        for (int n = 1; n <= iCrawfuns; ++n)
            rawfuns[n - 1] = new CoreRfun(numbered("RAWFUN", n), rawfunctions, sources,
                                          sources->getsc(numbered("RAWFUN", n)));
        for (int n = 1; n <= iCprms; ++n)
            prms[n - 1] = new CorePrm_(numbered("PRM", n), functions, sources,
                                       sources->getsc(numbered("PRM", n)));
        for (int n = 1; n <= iCevfs; ++n) {
            // The bus has attack and release time sources for the first four
            // followers only; looking up EAT5/ERT5 would give OFF, which must
            // keep -1, so the fifth follower gets no time outputs at all.
            bool const times = n < iCevfs;
            evfs[n - 1] = new CoreEnvf(pool, numbered("EVF", n), true, sources,
                                       sources->getsc(numbered("EVF", n)),
                                       times ? sources->getsc(numbered("EAT", n)) : nullptr,
                                       times ? sources->getsc(numbered("ERT", n)) : nullptr);
        }
        for (int n = 1; n <= iCdnms; ++n)
            dnms[n - 1] =
                new CoreDynm(numbered("DNM", n), sources, sources->getsc(numbered("DNM", n)));
        for (int n = 1; n <= iCenvs; ++n)
            envs[n - 1] =
                new CoreEnv_(numbered("ENV", n), sources, sources->getsc(numbered("ENV", n)));

        for (int n = 1; n <= iCmixes; ++n)
            ifces[n - 1] = new CoreIfce(numbered("MIX", n), -1.0, 1.0, numbered("Mix ", n), "",
                                        sources->getsc(numbered("MIX", n)), 0.0, true, blink);
        ifces[8] = new CoreIfce("GAININ", 0.0, 1.0, "Gain in", "dB", sources->getsc("GAININ"), 1.0,
                                false, nullptr);
        ifces[9] = new CoreIfce("GAINOUT", 0.0, 1.0, "Gain out", "dB", sources->getsc("GAINOUT"),
                                1.0, false, nullptr);

        auto control = [this](char const* text) {
            return new CoreParm(text, text, "", 0.0, 1.0, sources);
        };
        padintrim = control("Gainpadin Trim Control");
        padouttrim = control("Gainpadout Trim Control");
        feedbackcontrol = control("Feedback Control");
        gaindrycontrol = control("Gaindry Control");
        lookaheadcontrol = control("Lookahead Control");

        hslots = new HLOC[this->capacity + 1];
        for (int s = 0; s <= this->capacity; ++s) {
            hslots[s].leaves.mincapacity = iClistreserve;
            hslots[s].cores.mincapacity = iClistreserve;
        }
        rawslots = new RAWLOC[iCrawslots];
        for (int r = 0; r < iCrawslots; ++r) {
            rawslots[r].name = numbered("RAW", r + 1);
            rawslots[r].cores.mincapacity = iClistreserve;
        }
    } catch (CoreAnsx const&) {
        release();
        throw;
    } catch (...) {
        release();
        throw CoreAnsx("Memory request failed for the program");
    }
}

CoreProg::~CoreProg() {
    try {
        uload();
    } catch (...) {
        // The vectors are deleted below whatever uload managed.
    }
    release();
}

void CoreProg::release() noexcept {
    if (hslots) {
        for (int s = 0; s <= capacity; ++s) {
            HLOC& h = hslots[s];
            freeOwned(h);
            delete h.root; // left over when uload could not finish
            h.root = nullptr;
            h.leaves.Clear();
            h.cores.Clear();
            h.fadein = h.normalfade = h.extendedfade = h.currentfade = nullptr;
            h.left = h.right = h.secondleft = h.secondright = nullptr;
            h.convolver = nullptr;
        }
        delete[] hslots;
        hslots = nullptr;
    }
    if (rawslots) {
        detachRawFunctions();
        for (int r = 0; r < iCrawslots; ++r) {
            RAWLOC& raw = rawslots[r];
            delete raw.root;
            raw.root = nullptr;
            raw.inuse = false;
            raw.cores.Clear();
            raw.leaves.Clear();
        }
        delete[] rawslots;
        rawslots = nullptr;
    }
    for (CoreParm** p :
         {&padintrim, &padouttrim, &feedbackcontrol, &gaindrycontrol, &lookaheadcontrol}) {
        delete *p;
        *p = nullptr;
    }
    auto drop = [](auto& list) {
        for (auto*& item : list) {
            delete item;
            item = nullptr;
        }
    };
    drop(ifces);
    drop(envs);
    drop(dnms);
    drop(evfs);
    drop(prms);
    drop(rawfuns);
    drop(funs);
    drop(lfos);
    delete sources;
    sources = nullptr;
    delete rawfunctions;
    rawfunctions = nullptr;
    delete functions;
    functions = nullptr;
    if (cache) {
        try {
            cache->garlk();
        } catch (...) {
            // An empty group left behind only costs its record.
        }
        if (!sharedcache) delete cache;
        cache = nullptr;
    }
    store = nullptr;
    messages = nullptr;
    blink = nullptr;
    pool = nullptr;
}

void CoreProg::uload() {
    for (CoreAnsx& c : category) c = "";
    description = "";
    vectorfilename = "0";
    if (loaded) {
        for (int s = 0; s <= capacity; ++s) {
            HLOC& h = hslots[s];
            if (!h.inuse) continue;
            freeOwned(h); // through the tree's vectors: before it goes
            delete h.root;
            forgetTree(h);
            h.leaves.Clear();
            h.cores.Clear();
            h.inuse = false;
            h.maximum = h.normallength = h.extendedlength = h.elementlength = 0;
            h.changed = false;
        }
        loaded = false;
        for (CorePrm_* p : prms)
            if (p) p->setvl(false);
    }
    if (started) {
        for (int s = 0; s <= capacity; ++s) {
            HLOC& h = hslots[s];
            h.left = h.right = nullptr;
            if (h.fadesbuilt) {
                h.currentfade = nullptr;
                h.fadesbuilt = false;
            }
        }
        started = false;
    }
    // Nothing may reach the deleted roots through the slot count (updte).
    slots = 0;
    namechanged = false;
}

void CoreProg::freeOwned(HLOC& h) noexcept {
    for (OWNED const& o : h.owned) o.vector->delip(o.left, o.right);
    h.owned.clear();
}

void CoreProg::forgetTree(HLOC& h) {
    // Every one of these pointed into the deleted tree; keeping any would
    // hand a player or the smoothing path freed memory.
    h.root = nullptr;
    h.fadein = h.normalfade = h.extendedfade = h.currentfade = nullptr;
    h.left = h.right = h.secondleft = h.secondright = nullptr;
    h.fadesbuilt = false;
}

void CoreProg::init_() {
    uload();
    uloar();
}
