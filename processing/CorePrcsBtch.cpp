// CorePrcs batch machine: long operations on programs (loads, bank setups,
// clearing, deleting, moving, saving, the hybrid and mono switches,
// versioning) run as chains of named steps that the display drives through
// the property bus, one step per call, with audio in bypass from the first
// step of a chain to the call that ends it (a version's ends it once its
// file is written). Display thread, may block.
#include "processing/CorePrcs.h"

#include <atomic>
#include <climits>

#include "program/CoreMmry.h"
#include "program/CoreProg.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreXutl.h"
#include "storage/CoreVars.h"
#include "storage/CoreXml_.h"

namespace {

std::atomic<int> stepFailures{0}; // test hook: steps left that throw before their work
std::atomic<int> testWait{CorePrcs::iCtestwait}; // ms of the TEST step; a test hook shortens it

// A number as the display writes one: leading blanks, an optional sign,
// decimal digits up to the first other character; no digits read as 0.
// Saturates rather than overflows.
int numberOf(CoreAnsx const& text) {
    char const* c = text.c_str();
    while (*c == ' ' || *c == '\t') ++c;
    bool negative = false;
    if (*c == '+' || *c == '-') negative = *c++ == '-';
    long long v = 0;
    for (; *c >= '0' && *c <= '9'; ++c)
        if (v < INT_MAX) v = v * 10 + (*c - '0');
    if (v > INT_MAX) v = INT_MAX;
    return static_cast<int>(negative ? -v : v);
}

CoreAnsx join(CoreAnsx const& a, CoreAnsx const& b) { return a + CoreAnsx(" ") + b; }

// The load lock, the engine lock and the worker lock for one step's work,
// taken in the engine's lock order and released in reverse.
struct StepLocks {
    StepLocks(CoreSmph& load, CoreSmph& engine, CoreSmph& worker) : l(load), e(engine), w(worker) {}
    CoreSmgd l, e, w;
};

} // namespace

void CorePrcs::failNextSteps(int n) { stepFailures.store(n > 0 ? n : 0); }

void CorePrcs::testStepWait(int ms) { testWait.store(ms > 0 ? ms : iCtestwait); }

bool CorePrcs::batch(CoreVars* store, CoreAnsx& message) noexcept {
    CoreAnsx step("");
    try {
        message = CoreAnsx("");
        if (store == nullptr) return true;
        step = store->getit(CoreAnsx("NEXTSTEP"));
        CoreLog_::debug(CoreAnsx("batch ") + step, 0, 2);
        // A chain whose last step ended the muting itself (a version, which
        // waits for the bank's lock while the program plays) ends without
        // muting again.
        if (step != CoreAnsx("END") || getby()) smpby(true, 0, true, true);
        if (stepFailures.load() > 0 && stepFailures.fetch_sub(1) > 0)
            throw CoreAnsx("injected step failure");
        if (runStep(step, store, message)) return false;
        smpby(false, 0, true, false);
        CoreLog_::debug(CoreAnsx("batch terminated"), 0, 2);
        return true;
    } catch (...) {
        // The chain ends here: the display thread must not die with audio
        // left in bypass. The locks of the step were released on the way out.
        try {
            CoreLog_::loger(CoreAnsx("batch step failed: ") + step, 0);
            message = join(sCbatchfailed, step);
            if (store != nullptr) store->addit(CoreAnsx("NEXTSTEP"), CoreAnsx("END"));
        } catch (...) {
        }
        try {
            smpby(false, 0, true, false);
        } catch (...) {
        }
        return true;
    }
}

bool CorePrcs::runStep(CoreAnsx const& step, CoreVars* store, CoreAnsx& message) {
    auto var = [&](char const* name) { return store->getit(CoreAnsx(name)); };
    auto num = [&](char const* name) { return numberOf(var(name)); };
    auto locks = [&] { return StepLocks(loadsem, enginesem, workersem); };
    CoreAnsx next("END");
    auto is = [&](char const* name) { return step == CoreAnsx(name); };

    if (is("READSETUP") || is("CLEARBANK")) {
        {
            auto held = locks();
            writeBack(false);
            memory->clear(num("BANK"));
        }
        message = var("BANKCLEARED");
        next = CoreAnsx(is("READSETUP") ? "READSETUP_1" : "CLEAREDBANK_2");
    } else if (is("READSETUP_1")) {
        // The bank emptied by the step before stays empty when the name would
        // read a file outside the setup folder.
        bool const read = nameUsable(var("LIBRARY"), "batch LIBRARY (bank file)", false) &&
                          memory->loads(var("LIBRARY"), num("BANK"), true);
        // The chain goes on as after a cleared bank; the line says the read
        // failed.
        message = read ? join(var("LOADED"), var("LIBRARY")) : join(sCloadfailed, var("LIBRARY"));
        next = CoreAnsx("READSETUP_2");
    } else if (is("READSETUP_2") || is("CLEAREDBANK_2")) {
        message = loadStep(store, true);
    } else if (is("READPROGRAM") || is("REPLACEMEMORYLOC") || is("CHANGEHYBRID_2") ||
               is("CHANGEMONO_2")) {
        {
            auto held = locks();
            writeBack(false);
        }
        message = join(var("LOADING"), CoreButl::disps(var("NEWPROGRAM")));
        next = step == CoreAnsx("READPROGRAM")        ? CoreAnsx("READPROGRAM_2")
               : step == CoreAnsx("REPLACEMEMORYLOC") ? CoreAnsx("REPLACEMEMORYLOC_2")
               : step == CoreAnsx("CHANGEHYBRID_2")   ? CoreAnsx("CHANGEHYBRID_3")
                                                      : CoreAnsx("CHANGEMONO_3");
    } else if (is("READPROGRAM_2") || is("CHANGEHYBRID_3") || is("CHANGEMONO_3")) {
        message = loadStep(store, false);
    } else if (is("REPLACEMEMORYLOC_2")) {
        message = loadStep(store, false);
        next = CoreAnsx("REPLACEMEMORYLOC_3");
    } else if (is("DELETEMEMORYLOC")) {
        memory->clrpr(num("PROG"));
        message = join(var("DELETED"), var("PROG"));
    } else if (is("REPLACEMEMORYLOC_3")) {
        memory->clrpr(num("OLDPROGRAM"));
        message = join(var("DELETED"), var("OLDPROGRAM"));
    } else if (is("OVERWRITEMEMORYLOC")) {
        memory->mvepr(num("OLDPROGRAM"), num("NEWPROGRAM"), true);
        message = join(var("MOVED"), var("OLDPROGRAM"));
    } else if (is("SAVEBANK")) {
        clearSaveError();
        bool const usable = nameUsable(var("LIBRARY"), "batch LIBRARY (bank file)", false);
        CoreAnsx why("not written");
        // The bank's lock may be waited for: none of the engine's is held.
        bool const saved = usable && memory->saves(var("LIBRARY"), num("BANK"), &why);
        if (usable && !saved)
            svrsn(datapath + setupsub + var("LIBRARY"), CoreAnsx("BANK NOT SAVED"), why);
        if (saved && why.Length() > 0) { // saved, no longer marking what boots
            CoreSmgd guard(beansem);
            saveerror = CoreAnsx("BANK SAVED, NO BOOT: ") + why.UpperCase();
        }
        message =
            saved ? join(var("BANKSAVED"), var("BANKSTRING")) : join(sCsavefailed, var("LIBRARY"));
    } else if (is("SAVEPROGRAM")) {
        clearSaveError();
        // Under fallback the live program is location 0's, and a location
        // deleted or moved meanwhile is no longer this program's: storing
        // there would put another program's text in its place.
        bool stored = false;
        CoreAnsx refusal("not written"), file("");
        {
            auto held = locks();
            stored = writeBack(true);
            if (!stored && svref().Length() > 0) refusal = svref();
            file = memory->getpf(fallback ? failedslot : currentslot.load());
        }
        if (!stored) svrsn(file, CoreAnsx("NOT SAVED"), refusal);
        message = stored ? var("SAVING") : sCsavefailed;
        next = CoreAnsx(stored ? "SAVEPROGRAM_1" : "END");
    } else if (is("SAVEPROGRAM_1")) {
        bool saved = false;
        {
            auto held = locks();
            saved = svprf(CoreAnsx("0"), false);
        }
        message = saved ? var("SAVING") : sCsavefailed;
    } else if (is("CHANGEHYBRID")) {
        {
            auto held = locks();
            program->setfh(var("BVFORCEHYBRID").Length() > 0);
        }
        message = var("HYBRID");
        next = CoreAnsx("CHANGEHYBRID_2");
    } else if (is("CHANGEMONO")) {
        {
            auto held = locks();
            program->setfm(var("BVFORCEMONO").Length() > 0);
        }
        message = var("MONO");
        next = CoreAnsx("CHANGEMONO_2");
    } else if (is("VERSIONING")) {
        clearSaveError();
        message = var("SAVING");
        next = CoreAnsx("VERSIONING_2");
    } else if (is("VERSIONING_2")) {
        // Where the version goes depends on the bank's entries; they are
        // counted before the engine's locks are taken, so a slow read of
        // the bank file never holds them.
        CoreAnsx unread("");
        int const entries = bankEntries(unread);
        VERSIONSAVE version;
        int slot = -1;
        {
            auto held = locks();
            version = saveVersion(var("VERSIONINGNAME"), entries, unread);
            slot = currentslot;
        }
        // The file exists now; only then may the bank name it. Only the
        // version's own write is muted: the wait for the bank's lock, which
        // another instance may hold for seconds, plays the program. The
        // bank's lock is never taken under the engine's.
        if (version.saved) {
            smpby(false, 0, true, false);
            joinBank(slot, version);
        }
        bool shown = false;
        {
            CoreSmgd guard(beansem);
            shown = saveerror.Length() > 0;
        }
        // Once, whichever step of the version failed.
        if (!version.saved && !shown)
            svrsn(var("VERSIONINGNAME"), CoreAnsx("VERSION NOT SAVED"), saverefusal);
        message = version.saved ? var("SAVING") : sCsavefailed;
    } else if (is("TEST")) {
        CoreXutl::sleep(testWait.load());
        message = CoreAnsx("TEST");
    } else {
        return false;
    }
    store->addit(CoreAnsx("NEXTSTEP"), next);
    return true;
}

CoreAnsx CorePrcs::loadStep(CoreVars* store, bool fromcurrent) {
    CoreAnsx const wanted = store->getit(CoreAnsx("NEWPROGRAM"));
    int start = 0;
    if (fromcurrent)
        start = currentslot;
    else if (wanted.Length() > 0)
        start = numberOf(wanted);
    if (start < 0 || start >= CoreMmry::iCmemorydim) start = 0;
    // Upwards from the start, wrapping past the last location; bounded, so
    // an empty memory answers -1 and nothing is loaded.
    int const slot = memory->getck(start, 1, nullptr, 0);
    if (slot < 0) {
        CoreLog_::loger(CoreAnsx("batch load: no program in memory"), 1);
        return join(store->getit(CoreAnsx("LOADED")), sCnoprogram);
    }
    loadSelect(slot, true);
    CoreAnsx name("");
    {
        CoreSmgd lockload(loadsem);
        name = program->getnm();
    }
    return join(store->getit(CoreAnsx("LOADED")), name);
}
