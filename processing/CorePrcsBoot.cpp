// CorePrcs boot: brings a constructed engine into service in twelve steps,
// one per call or all at once, each reporting its line: banner, debug level,
// master settings, bank 0 and the scan, program rate, SSE2, the convolution
// engine, meters, program 0 and the boot program, the settings completed,
// then the hand-over from the bypass to the program. A failing step
// freezes the boot for the engine's life.
// Control, display or host thread (set-chunk), never the audio thread.
#include "processing/CorePrcs.h"

#include "engine/CoreCnvl.h"
#include "program/CoreMmry.h"
#include "program/CoreProg.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"

#include <cstdio>
#include <iterator>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

CoreAnsx inBrackets(CoreAnsx const& text) {
    return CoreAnsx("(") + text.LowerCase() + CoreAnsx(")");
}

// The few words a Ko line has room for, each true of every reason holding
// its key; a file that is there is never said to be missing. Keys are whole
// phrases of the system's reasons, never a fragment a file name may hold.
CoreButl::SHORTCAUSE const sCbootcauses[] = {
    {"not a plain file", "not a file"}, {"is a directory", "a folder"},
    {"too many levels", "a link loop"}, {"round in a loop", "a link loop"},
    {"permission denied", "no access"}, {"too large", "too large"},
};

// A program's refusal that holds these words is true to them. The settings
// rows keep "not usable" for theirs: a settings file without its element
// is said to be cut short too.
CoreButl::SHORTCAUSE const sCprogramcauses[] = {{"cut short", "cut short"}};

// A Ko line: the row's own text for a file not there (no reason, or "not
// found"), else its start and the reason's words; a program's own words first.
CoreAnsx koLine(CoreAnsx const& missing, CoreAnsx const& there, CoreAnsx const& reason,
                CoreAnsx const& file, bool program = false) {
    if (reason.Length() <= 0 || reason == CoreAnsx("not found")) return missing + inBrackets(file);
    CoreAnsx words =
        program ? CoreButl::causw(reason, sCprogramcauses, int(std::size(sCprogramcauses)), "")
                : CoreAnsx("");
    if (words.Length() <= 0)
        words = CoreButl::causw(reason, sCbootcauses, int(std::size(sCbootcauses)), "not usable");
    return there + words + CoreAnsx(" ") + inBrackets(file);
}

} // namespace

bool CorePrcs::issm2() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) return false;
    return (d & (1u << 26)) != 0;
#else
    return false;
#endif
}

bool CorePrcs::boots(bool all, int& step, CoreAnsx& message, bool& first, bool& last) {
    if (failed) return false;
    CoreSmgd guard(sparesem);
    message = CoreAnsx("");
    last = true;
    while (bootstep <= 11 && !booterror) {
        // Up to the hand-over (step 10) the input passes; the step after it
        // must not take the audio from the program again.
        if (bootstep <= 10) smpby(true, 0, true, true);
        step = bootstep;
        first = bootstep == 0;
        last = bootstep > 10;
        try {
            message = bootStep(bootstep);
        } catch (...) {
            // Nothing a step calls should throw past it; a boot that cannot
            // go on stays frozen rather than half-started.
            CoreLog_::loger(CoreAnsx("boot step failed: ") + CoreAnsx(bootstep), 0);
            booterror = true;
        }
        ++bootstep;
        if (!all || booterror) break;
    }
    return !booterror;
}

CoreAnsx CorePrcs::bootStep(int n) {
    switch (n) {
    case 0: return CoreLog_::sCwarngbin + CoreLog_::sCversion_;
    case 1: return CoreLog_::sCwarngbdl + CoreAnsx(static_cast<int>(debuglevel));
    case 2:
        if (masterpresent) return CoreLog_::sCwarngbmo + inBrackets(masterfilename);
        booterror = true;
        return koLine(CoreLog_::sCwarngbmk, CoreLog_::sCwarngbmt, masterwhy, masterfilename);
    case 3:
        if (bootBank()) return CoreLog_::sCwarngbro + inBrackets(setupromname);
        booterror = true;
        return koLine(CoreLog_::sCwarngbrk, CoreLog_::sCwarngbrt, bankwhy, setupromname);
    case 4: {
        CoreSmgd lockengine(enginesem);
        CoreSmgd lockworker(workersem);
        adjrt(programrateus);
        return CoreLog_::sCwarngbpo;
    }
    case 5: return issm2() ? CoreLog_::sCwarngbso : CoreLog_::sCwarngbsk;
    case 6: bootEngine(); return CoreLog_::sCwarngbco;
    case 7: setmt(metertype, true); return CoreLog_::sCwarngbgo;
    case 8:
        if (!bootProgram()) {
            // A bank read that holds no entry at all leaves nothing else to say why.
            if (memory->getck(0, 1, nullptr, 0) < 0)
                CoreLog_::loger(CoreAnsx("Bank ") + setupromname + CoreAnsx(" holds no program"),
                                0);
            booterror = true;
            return bootProgramKo();
        }
        return CoreLog_::sCwarngbio + inBrackets(memory->getnm(currentslot));
    case 9: bootSettings(); return CoreLog_::sCwarngsto;
    default: bootEnd(); return CoreLog_::sCwarngbeo;
    }
}

void CorePrcs::bootEnd() {
    // The load lock first, so no other load or reload runs until the program
    // plays; a rate that changes during the boot's reload is checked again.
    CoreSmgd lockload(loadsem);
    int tried = 0;
    for (;;) {
        {
            CoreSmgd engine(enginesem);
            CoreSmgd worker(workersem);
            // A reload that could not bring the kernels to this rate is not
            // tried again: the program plays as it loaded.
            if (!rateStale() || samplerate == tried) {
                bootpending.setvl(false);
                // A block size the host gave during the boot was only recorded.
                decideHandoff();
                bootHandover();
                return;
            }
            tried = samplerate;
        }
        // The host's rate came after the boot's program loaded: loaded again
        // while the boot is pending, as its own loads are, so the bypass
        // keeps playing the held input.
        reloadHeld(true);
    }
}

bool CorePrcs::bootBank() {
    bootTidy();
    bool loaded = false;
    try {
        loaded = memory->loads(setupromname, 0, true, &bankwhy);
    } catch (...) {
        loaded = false;
        bankwhy = CoreAnsx("not read");
    }
    // The folder scan needs a store of program memory's own: with the
    // instance's shared one (the plug-in's case) it would do nothing, and
    // the bank it feeds would be read from an empty list.
    if (!loaded || !scanboot || shellfsys != nullptr) return loaded;
    bool scanned = true;
    try {
        if (!frozenboot) {
            memory->scanp(true);
            scanned = memory->loads(CoreAnsx("0"), 2, false);
        } else {
            memory->scanp(false);
            scanned = memory->loads(CoreMmry::sCscanboot, 2, false);
        }
    } catch (...) {
        CoreLog_::loger(CoreAnsx("boot: the program scan was not loaded"), 0);
    }
    // A read a close stopped (false, nothing logged) ends the boot here: the
    // bank's above, the scan's as well.
    return scanned || !memory->ended();
}

void CorePrcs::bootEntries(std::vector<int> const& sequences, std::vector<bool> const& loads,
                           int& first, int& boot) {
    // The boot reads bank 0 into an empty memory.
    CoreMmry::bootEntries(sequences, loads, CoreMmry::iCmemorydim, first, boot);
}

void CorePrcs::bootEngine() {
    CoreCnvl* c0 = cnvls[0].cnvl;
    if (!c0->getbe(ofreqd) || !c0->ldble(ofreqd)) ofreqd = CoreCnvl::iCdefaultbe_;
    bridgeversion = c0->getbv();
    {
        CoreSmgd lockengine(enginesem);
        CoreSmgd lockworker(workersem);
        for (short i = 0; i < cnvlcount; ++i) {
            cnvls[i].cnvl->setdb(ofreqd);
            cnvls[i].cnvl->set__(ofreqd, -1, -1, -1, -1, -1);
        }
    }
    if (otimedmissing) cnfop();
}

bool CorePrcs::bootProgram() {
    if (memory->getvl(0, false) == CoreAnsx("0") || !ldpdm(0, false)) return false;
    currentslot = 0;
    int const p = memory->getpr();
    if (p >= 0) {
        int const wanted = requestedrate.load();
        if (wanted >= 1 && wanted != samplerate) {
            CoreSmgd lockengine(enginesem);
            CoreSmgd lockworker(workersem);
            samplerate = wanted;
            program->setrt(samplerate);
            adjrt(effectiveperiod);
            rateDelays();
            CoreLog_::debug(CoreAnsx("boots *rate:") + CoreAnsx(samplerate), 0, 3);
        }
        // Named from this load's own outcome, not from the flag a load on
        // another thread may have rewritten since.
        currentslot = ldpdm(p, false) ? p : 0;
        programselected = true;
    }
    return true;
}

CoreAnsx CorePrcs::bootProgramKo() {
    CoreAnsx const head("PROGRAM #0 Ko");
    CoreMmry::MEMORYLOC entry; // a failed bank entry keeps its file, and why
    memory->getel(0, &entry);
    if (entry.file.Length() <= 0) return head; // the bank holds no location 0
    CoreAnsx why = entry.why;
    // One the bank read was never loaded: the bank's reason stands.
    if (!entry.failed) {
        CoreSmgd guard(beansem);
        why = failreason;
    }
    return koLine(head + CoreAnsx(": not found "), head + CoreAnsx(": "), why,
                  CoreButl::getfn(entry.file, false), true);
}

void CorePrcs::bootSettings() {
    bool const save = fastbootmissing || otimedmissing || dspbuffermissing || installermerged;
    if (fastbootmissing) fastboot = true;
    if (dspbuffermissing) {
        int v = CoreButl::getp2(hostblock >= 1 ? hostblock : 1);
        if (v < iCmindelaydim) v = iCmindelaydim;
        if (v > iCmaxdelaydim) v = iCmaxdelaydim;
        dspbuffer = v;
    }
    if (installermerged) std::remove(installerpath.c_str());
    if (save) savem();
}
