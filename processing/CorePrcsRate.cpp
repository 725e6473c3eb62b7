// CorePrcs rate adaptation and block sizing: the program rates from the
// modulation period and the sample rate, the host's block size and the
// hand-off decision, the crossfade tables of the smoothing path, the
// harmonics in use, the slots' extended lengths and the CPU load readout.
#include "processing/CorePrcs.h"

#include <cmath>
#include <cstring>

#include "engine/CoreCnvl.h"
#include "program/CoreProg.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreXutl.h"

namespace {

constexpr long kLargestRate = 1L << 30;  // samples; keeps the rounding within an int
constexpr double kStallsLineMs = 1000.0; // shortest time between two lines of dropped calls

void debug(char const* text, int value, short level) {
    CoreLog_::debug(CoreAnsx(text) + CoreAnsx(value), 0, level);
}

} // namespace

void CorePrcs::adjrt(long us) {
    programperiod = us;
    long const samples = CoreButl::min__(CoreButl::tpfup(samplerate, us), kLargestRate);
    int const realtime = CoreButl::max__(1, CoreButl::setmn(static_cast<int>(samples), step));
    // EXPORTAUDIOQUALITY "0.5" or a bus value of 0 would divide by 0.
    int const divisor = CoreButl::max__(1, exportquality);
    int const offline = CoreButl::max__(1, CoreButl::setmn(realtime / divisor, step));
    realtimerate = realtime;
    offlinerate = offline;
    programrate = realtime;
    countdown = 0;
    if (smoothorder >= 0) fadesOrOff(realtime);
    processlevel = 0;
    debug("slow PROG RATE ", realtime, 2);
    debug("fast PROG RATE ", offline, 2);
    effectiveperiod =
        step >= 2 ? static_cast<long>(CoreButl::upftp(samplerate, realtime)) : programperiod;
}

void CorePrcs::updrt(long us) {
    CoreSmgd engine(enginesem);
    CoreSmgd worker(workersem);
    adjrt(us);
}

void CorePrcs::applyRate(int rate) {
    samplerate = rate;
    program->setrt(rate);
    // The period asked for, not the rounded one: that would grow at every change.
    adjrt(programperiod);
}

void CorePrcs::rateDelays() {
    int forced = 0, ahead = 0, size = 0;
    if (!delaysAtRate(forced, ahead, size)) {
        CoreLog_::loger(CoreAnsx("CorePrcs: the delays at ") + CoreAnsx(samplerate.load()) +
                            CoreAnsx(" Hz need a ring beyond the largest; those of the last "
                                     "rate are kept"),
                        0);
        return;
    }
    if (forced == forcedoffset && ahead == lookahead && size == ringsize) return;
    // What the loaded program plays beyond the forced offset (its offset
    // grew with the rate it loaded at) stays reported until it loads again.
    int const reported = delaycompensation.load();
    int const beyond = openedoffset > 0
                           ? CoreButl::max__(reported - baselatency - forcedoffset - lookahead, 0)
                           : 0;
    try {
        // The bypass path plays on the audio thread without the engine
        // semaphore: the rings, their size and every position indexing them
        // change in this one section, so a bypass call finds the old rings
        // with the old positions or the new with the new, never a mix.
        CoreSmgd bypassing(bypasssem);
        if (size != ringsize) allocateRings(size);
        forcedoffset = forced;
        lookahead = ahead;
        if (openedoffset > 0) {
            int const figure = baselatency + forcedoffset + lookahead;
            delaycompensation.store(figure + beyond + processingblock < ringsize ? figure + beyond
                                                                                 : figure);
        }
        restPositions();
        for (double* ring : bypassring)
            std::memset(ring, 0, sizeof(double) * static_cast<std::size_t>(ringsize));
    } catch (...) {
        CoreLog_::loger(CoreAnsx("CorePrcs: no rings for the delays at ") +
                            CoreAnsx(samplerate.load()) +
                            CoreAnsx(" Hz; those of the last rate are kept"),
                        0);
        return;
    }
    program->setac(lookahead);
    programahead = program->getab();
    aheadoffset = aheadSamples();
    clepr(true, true); // the bypass ring was cleared with its positions
    debug("irate DELAY COMPENSATION:", delaycompensation.load(), 3);
}

void CorePrcs::irate(int rate) {
    if (rate < 1) {
        CoreLog_::loger(CoreAnsx("irate: sample rate refused: ") + CoreAnsx(rate), 0);
        return;
    }
    requestedrate.store(rate);
    // Under the load lock, so no load lands between the new rate and the
    // reload it asks for.
    CoreSmgd lockload(loadsem);
    bool stale = false;
    {
        CoreSmgd engine(enginesem);
        CoreSmgd worker(workersem);
        if (rate != samplerate) {
            // While the boot is pending the rate is only recorded: its
            // program loads at it, and its end reloads one loaded before.
            if (bootpending.getvl()) {
                samplerate = rate;
                program->setrt(rate);
            } else {
                applyRate(rate);
            }
            rateDelays();
            debug("irate *rate:", rate, 3);
        }
        stale = !bootpending.getvl() && rateStale();
    }
    // The kernels were converted for the old rate: the program is loaded
    // again at this one, as a block-size change reloads it.
    if (stale) reloadHeld(false);
}

void CorePrcs::tellStalls(bool closing) noexcept {
    int const seen = stalls.load();
    if (stallsreported.load() == seen) return;
    // The first drop at once, then the running total at most once a second:
    // a host that drops a call at every pass must not fill the log.
    double const now = CoreXutl::tgtme();
    if (!closing && now - stallsline.load() < kStallsLineMs) return;
    if (stallsreported.exchange(seen) == seen) return; // another thread told it
    stallsline.store(now);
    try {
        CoreLog_::loger(CoreAnsx("CorePrcs: the engine or the worker kept the host waiting, calls "
                                 "or chunks dropped: ") +
                            CoreAnsx(seen),
                        0);
    } catch (...) {
        // No memory for the line: the count is lost with it, nothing else.
    }
}

void CorePrcs::updgu(int rate) {
    // The host entry cannot log; the calls and chunks it dropped are told
    // here, whatever page the display shows.
    tellStalls(false);
    // The rate itself waits for the host's own rate call, which reloads the
    // program for it: taken here first, that call would find nothing to
    // change and leave the old rate's kernels playing.
    if (rate >= 1) requestedrate.store(rate);
    if (bootpending.getvl() || bypass.getvl()) return;
    if (!enginesem.locka()) return;
    CoreSmgd engine(enginesem, CoreSmgd::ADOPT{});
    if (!workersem.locka()) return;
    CoreSmgd worker(workersem, CoreSmgd::ADOPT{});
    program->updte(false, 0.0, 0.0, tempo.load());
    updated.store(true);
}

void CorePrcs::decideHandoff() noexcept {
    if (workeronly)
        handoff = threaded;
    else if (threaded)
        handoff = autothread ? step > hostblock : step > threadsmindim;
    currentblock = handoff ? processingblock : step;
    currentblock2 = currentblock;
}

void CorePrcs::blksz(int frames) {
    if (frames < 1) {
        CoreLog_::loger(CoreAnsx("blksz: block size refused: ") + CoreAnsx(frames), 0);
        return;
    }
    CoreSmgd engine(enginesem);
    CoreSmgd worker(workersem);
    if (frames == hostblock) return;
    hostblock = frames;
    // Recorded while the boot is pending too: the boot derives the stored
    // processing block from what the host really sends.
    if (bootpending.getvl()) return;
    decideHandoff();
}

void CorePrcs::setrc(long us) {
    if (us >= 0) rateconversion = us;
    program->setrc(rateconversion);
}

int CorePrcs::getpf(int i) {
    if (!CoreAudp::index(i, 2, "getpf meter")) return 0;
    if (workersem.locka()) {
        CoreSmgd worker(workersem, CoreSmgd::ADOPT{});
        CoreSmgd meter(metersem);
        double const percent = std::trunc(static_cast<double>(samplerate) * cpufigures[i] * 100.0);
        cpupercent[i].store(percent > 2147483647.0 ? 2147483647 : static_cast<int>(percent));
    }
    return static_cast<short>(cpupercent[i].load());
}

void CorePrcs::mkesf(long n) {
    if (n < 1) n = 1;
    // Room for both program rates: the block worker rebuilds the tables on a
    // rate switch, where nothing may be allocated.
    long const need =
        CoreButl::max__(n, static_cast<long>(CoreButl::max__(realtimerate, offlinerate))) + 1;
    if (fallingtable == nullptr || tablecapacity < need) {
        if (need > kLargestRate) throw CoreAnsx("CorePrcs: crossfade table too long");
        int const count = static_cast<int>(need);
        auto* falling = static_cast<double*>(pool->mallc(0, count, "PRCS", CoreAnsx("")));
        double* rising = nullptr;
        try {
            rising = static_cast<double*>(pool->mallc(0, count, "PRCS", CoreAnsx("")));
        } catch (...) {
            pool->free_(falling);
            throw;
        }
        slot0table = nullptr;
        worktable = nullptr;
        if (fallingtable != nullptr) pool->free_(fallingtable);
        if (risingtable != nullptr) pool->free_(risingtable);
        fallingtable = falling;
        risingtable = rising;
        tablecapacity = need;
    }
    CoreButl::fdecc(n + 1, fallingtable, smoothorder, false);
    CoreButl::fdecc(n + 1, risingtable, smoothorder, false);
    CoreButl::cfdcc(n + 1, risingtable);
    resetSmoothing();
}

void CorePrcs::resetSmoothing() noexcept {
    program->setsp(0);
    slot0table = fallingtable;
    worktable = risingtable;
    smoothselector = 0;
}

bool CorePrcs::setst(short order) {
    CoreSmgd engine(enginesem);
    CoreSmgd worker(workersem);
    if (hybrid && order >= 0) {
        smoothorder = -1;
        program->setst(-1);
        return false;
    }
    if (!smoothcapable) {
        if (order >= 0) program->setst(order);
        return order < 0;
    }
    smoothorder = order;
    program->setst(order);
    if (order >= 0) {
        if (!fadesOrOff(programrate)) return false;
        harmonicsinuse = static_cast<short>(CoreButl::min__(programharmonics, hdim));
        if (hdim != 0) {
            smoothorder = program->getst();
            return true;
        }
        smoothorder = -1;
    }
    resetSmoothing();
    return true;
}

void CorePrcs::setsp(short sel) {
    program->setsp(sel);
    slot0table = sel != 0 ? risingtable : fallingtable;
    worktable = sel != 0 ? fallingtable : risingtable;
}

void CorePrcs::adjhc() {
    harmonicsinuse = static_cast<short>(CoreButl::min__(programharmonics, hdim));
    if (hdim != 0) {
        smoothorder = program->getst();
        // Tables for the rates in force now, or the first block would build them.
        if (smoothorder >= 0 &&
            tablecapacity < static_cast<long>(CoreButl::max__(realtimerate, offlinerate)) + 1)
            fadesOrOff(programrate);
        return;
    }
    smoothorder = -1;
    resetSmoothing();
}

void CorePrcs::adjot() {
    int const slots = CoreButl::min__(static_cast<int>(loadedslots), static_cast<int>(cnvlcount));
    for (short i = 0; i < slots; ++i)
        if (cnvls[i].cnvl != nullptr)
            program->setot(i, static_cast<short>(cnvls[i].cnvl->getbe() ? 1 : 0));
    if (hybrid) program->setot(hdimmax, 1);
}

bool CorePrcs::fadesOrOff(long n) {
    try {
        mkesf(n);
        return true;
    } catch (...) {
        CoreLog_::loger(CoreAnsx("CorePrcs: no crossfade tables, smoothing off"), 0);
        smoothorder = -1;
        resetSmoothing();
        return false;
    }
}
