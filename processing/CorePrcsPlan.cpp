// CorePrcs convolver configuration: the engine of every harmonic slot and of
// the work slot, planned through the worker; the groups of slots that share
// one computation plan; the change of one slot's length; the slot-length
// queries of the property bus; and the diagnostic that times the direct
// engines. Control or display thread, with the engine and worker semaphores
// held (the entries that take them say so); plans may allocate and log.
#include "processing/CorePrcs.h"

#include <cmath>
#include <cstring>

#include "engine/CoreCnvl.h"
#include "modulation/CoreIfce.h"
#include "program/CoreProg.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreHutl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "runtime/CoreSmgd.h"

namespace {

constexpr short kOneTap = 17;       // engine of a marker slot
constexpr int kDiagnosticRuns = 20; // processing blocks each engine is timed over

// Whole microseconds from a bus value, kept inside a long.
long microsOf(double us) {
    if (!(us > 0.0)) return 0;
    return us >= 2147483647.0 ? 2147483647L : static_cast<long>(us);
}

} // namespace

// ---- slots ------------------------------------------------------------------------------

void CorePrcs::bindSlot(short s) {
    if (s < 0 || s >= cnvlcount) return;
    void* left = nullptr;
    void* right = nullptr;
    bool* changed = nullptr;
    if (s < hdimmax) {
        left = program->getli(s);
        right = program->getri(s);
        changed = program->getui(s);
    } else if (hybrid) {
        left = program->getli(hdimmax);
        right = program->getri(hdimmax);
        changed = program->getui(hdimmax);
    } else if (smoothPath()) {
        left = program->getls();
        right = program->getrs();
        changed = program->getus();
    }
    cnvls[s].kernels[0] = left;
    cnvls[s].kernels[1] = right;
    cnvls[s].cnvl->setup(changed);
    // A harmonic slot plays its vector's output pair 0.
    cnvls[s].cnvl->setvr(s < hdimmax ? program->getvr(s) : nullptr);
    cnvls[s].cnvl->setms(program->getfm());
}

bool CorePrcs::usesBlocks(short s) const {
    return s >= 0 && s < cnvlcount && cnvls[s].engine >= 0 && cnvls[s].cnvl->getbe();
}

void CorePrcs::planReset() {
    step = 0;
    planerror = false;
    planoncpu = true;
    workeronly = false;
    granularity = 0;
}

void CorePrcs::planFlags(short s) {
    CoreCnvl const* c = cnvls[s].cnvl;
    planerror = planerror || c->error();
    planoncpu = planoncpu && c->perfr();
    workeronly = workeronly || c->getpt();
    granularity = CoreButl::max__(granularity, c->getmp());
}

int CorePrcs::planSlot(short s, short engine, int size) {
    // The work slot plays the hybrid slot's kernel, or slot 0's second set.
    short const from = s == hdimmax && !hybrid ? 0 : s;
    int normal = size;
    int padded = size;
    int extended = size;
    if (size < 1) {
        normal = program->getid(from);
        padded = program->getep(from);
        extended = program->getex(from);
    }
    int const block = program->getbr(from);
    cnvls[s].engine = engine;
    int result = setcf(s, engine, block, normal, padded, block, extended);
    if (result > processingblock) {
        // The power, work and feedback buffers hold one processing block:
        // such a player would run past them.
        CoreLog_::loger(CoreAnsx("CorePrcs: engine block above the processing block on slot ") +
                            CoreAnsx(int(s)),
                        0);
        setcf(s);
        result = 0;
    }
    if (result < 1) result = 0;
    cnvls[s].cnvl->setms(program->getfm());
    // The new plan went without the element spectra made for the old one: an
    // engine chosen later (setop, setof) would otherwise transform a moving
    // kernel whole until the next load.
    if (s < hdimmax) cnvls[s].cnvl->setvr(program->getvr(s));
    planFlags(s);
    return result;
}

// ---- configuration ---------------------------------------------------------------------

bool CorePrcs::adjoc(short engine, int size) {
    CoreLog_::debug(CoreAnsx("optimization adjustment starts"), 1, 5);
    planReset();
    bool const forceot2 = program->getf2();
    for (short s = 0; s < cnvlcount; ++s) {
        cnvls[s].engine = -1;
        setcf(s);
    }
    CoreCnvl const* table = cnvls[0].cnvl; // every player has the same engine table
    bool all = true;
    int const loaded = CoreButl::min__(static_cast<int>(loadedslots), static_cast<int>(hdimmax));
    for (short i = 0; i < loaded; ++i) {
        short chosen = engine;
        if ((!hybrid || i > 0) && (program->getv3(i) || forceot2) && !table->getbe(engine))
            chosen = cnvls[i].cnvl->getdb();
        else if (cnvls[i].marker)
            chosen = kOneTap;
        int const block = planSlot(i, chosen, size);
        step = CoreButl::max__(step, block);
        all = all && block >= 1;
    }
    short const w = workSlot();
    if (hybrid) {
        int const block = planSlot(w, table->getbe(engine) ? engine : cnvls[w].cnvl->getdb(), size);
        step = CoreButl::max__(step, block);
        all = all && block >= 1;
    } else if (smoothPath() && loaded >= 1) {
        int const block = planSlot(w, cnvls[0].engine, size);
        step = CoreButl::max__(step, block);
        all = all && block >= 1;
    } else {
        setcf(w);
    }
    decideHandoff();
    adjot();
    CoreLog_::debug(CoreAnsx("CONVOLUTION:") + CoreAnsx(step), 0, 3);
    setpp();
    adjrt(programperiod);
    otimed = engine;
    CoreLog_::debug(CoreAnsx("optimization adjustment ends"), 1, 5);
    return all;
}

bool CorePrcs::adjop(short engine) {
    CoreSmgd guard(bypasssem);
    return adjoc(engine, -1);
}

bool CorePrcs::setop(short engine) {
    if (failed) return false;
    CoreSmgd lockengine(enginesem);
    CoreSmgd lockworker(workersem);
    bool all = false;
    {
        CoreSmgd guard(bypasssem);
        all = adjoc(engine < 1 ? otimed : engine, -1);
    }
    bool const shared = setck();
    return all && shared;
}

bool CorePrcs::setof(short engine) {
    if (failed) return false;
    CoreSmgd lockengine(enginesem);
    CoreSmgd lockworker(workersem);
    CoreCnvl const* table = cnvls[0].cnvl;
    if (!table->getbe(engine) || !table->ldble(engine)) return false;
    ofreqd = engine;
    for (short s = 0; s < cnvlcount; ++s) cnvls[s].cnvl->setdb(engine);
    {
        CoreSmgd guard(bypasssem);
        adjoc(otimed, -1);
    }
    setck();
    return true;
}

bool CorePrcs::setck() {
    for (short s = 0; s < cnvlcount; ++s) {
        CNVLLOC& c = cnvls[s];
        c.groupused = false;
        c.groupbuffer = nullptr;
        c.grouplength = 0;
        c.sharemode = 3;
        c.group = -1;
        int length = -1;
        int block = 1;
        if (c.engine >= 0 && c.cnvl->getci(length, block) && length >= 1) {
            c.planlength = length;
            c.planblock = block >= 1 ? block : 1;
        } else {
            c.planlength = -1;
            c.planblock = 1;
        }
    }
    for (int s = CoreButl::max__(static_cast<int>(harmonicsinuse), 0); s < hdimmax; ++s)
        cnvls[s].planlength = -1;
    // Slot 0 and the work slot of the smoothing path never share: their
    // kernels swap places every period.
    short first = 0;
    short last = workSlot();
    if (hybrid) {
        first = 1;
    } else if (smoothPath()) {
        first = 1;
        last = static_cast<short>(hdimmax - 1);
    }
    short g = 0;
    for (short s = first; s <= last; ++s) {
        CNVLLOC& lead = cnvls[s];
        int const length = lead.planlength;
        if (length < 1) continue;
        lead.planlength = -1;
        lead.sharemode = 0;
        lead.group = g;
        short end = -1;
        for (short t = static_cast<short>(s + 1); t <= last; ++t) {
            if (cnvls[t].planlength != length) continue;
            cnvls[t].planlength = -1;
            cnvls[t].sharemode = 1;
            cnvls[t].group = g;
            end = t;
        }
        if (end < 0) {
            lead.sharemode = 3;
            lead.group = -1;
            continue;
        }
        cnvls[end].sharemode = 2;
        cnvls[g].groupused = true;
        cnvls[g].grouplength = static_cast<long>(length) * step / lead.planblock;
        ++g;
    }
    bool ok = true;
    for (short s = 0; s < cnvlcount; ++s) {
        CNVLLOC& c = cnvls[s];
        if (c.sharemode == 3) {
            setcd(s, nullptr, 3, 0);
            continue;
        }
        CNVLLOC& group = cnvls[c.group];
        void* buffer = setcd(s, group.groupbuffer, c.sharemode, group.grouplength);
        group.groupbuffer = buffer;
        if (buffer == nullptr) ok = false;
    }
    return ok;
}

void CorePrcs::setod(short slot, short sel, double us) {
    if (failed) return;
    CoreSmgd lockengine(enginesem);
    CoreSmgd lockworker(workersem);
    long const samples = CoreButl::tpfup(samplerate, microsOf(us));
    if (slot < 0 || slot >= harmonicsinuse) {
        clepr(true);
        return;
    }
    short const target = sel == 1 ? hybridSlot(slot) : slot;
    bool const changed = program->setod(target, sel, samples);
    // The outputs may have been remade even by a change the program refused.
    int const loaded = CoreButl::min__(static_cast<int>(loadedslots), static_cast<int>(hdimmax));
    short const w = workSlot();
    bool const usework = hybrid || smoothPath();
    for (short s = 0; s < loaded; ++s) bindSlot(s);
    if (usework) bindSlot(w);
    if (!changed) {
        clepr(true);
        return;
    }
    {
        CoreSmgd guard(bypasssem);
        planReset();
        // Every slot that keeps its plan still counts for the step and the
        // flags: a slot on the bridge must keep every block on the worker.
        for (short s = 0; s < loaded; ++s) {
            if (s == slot || cnvls[s].engine < 0) continue;
            step = CoreButl::max__(step, cnvls[s].cnvl->getcb());
            planFlags(s);
        }
        bool const replanwork = usework && slot == 0;
        if (usework && !replanwork && cnvls[w].engine >= 0) {
            step = CoreButl::max__(step, cnvls[w].cnvl->getcb());
            planFlags(w);
        }
        if (replanwork && hybrid) step = CoreButl::max__(step, planSlot(w, cnvls[w].engine, -1));
        step = CoreButl::max__(step, planSlot(slot, cnvls[slot].engine, -1));
        if (replanwork && !hybrid) step = CoreButl::max__(step, planSlot(w, cnvls[0].engine, -1));
        decideHandoff();
        adjot();
        setpp();
        adjrt(programperiod);
        setck();
    }
    clepr(true);
}

void CorePrcs::setco(short slot, double us) {
    if (failed) return;
    CoreSmgd lockengine(enginesem);
    CoreSmgd lockworker(workersem);
    short const target = hybridSlot(slot);
    program->setco(target, CoreButl::tpfup(samplerate, microsOf(us)), usesBlocks(target));
}

// ---- queries ---------------------------------------------------------------------------

double CorePrcs::getmo(short slot) {
    return CoreButl::upftp(samplerate, program->getmo(hybridSlot(slot)));
}

double CorePrcs::getco(short slot) {
    return CoreButl::upftp(samplerate, program->getco(hybridSlot(slot)));
}

double CorePrcs::getod(short slot, short sel) {
    int const n = program->getod(sel == 1 ? hybridSlot(slot) : slot, sel);
    return n == 0 ? 0.0 : CoreButl::upftp(samplerate, n);
}

double CorePrcs::getib(short slot, short sel, bool ext) {
    int const n = program->getib(slot, sel, ext);
    return n == 0 ? 0.0 : CoreButl::upftp(samplerate, n);
}

bool CorePrcs::getoe(short slot, short sel) {
    if (slot < 0 || slot >= cnvlcount) return false;
    if (sel == 1) return usesBlocks(slot);
    if (sel == 0) return cnvls[slot].engine >= 0 && !cnvls[slot].cnvl->getbe();
    return false;
}

void CorePrcs::setmc(long i, int n) {
    if (CoreIfce* control = program->getif(i)) control->settf(n);
}

// ---- diagnostic ------------------------------------------------------------------------

void CorePrcs::cnfop() {
    if (failed) return;
    CoreSmgd lockengine(enginesem);
    CoreSmgd lockworker(workersem);
    CoreLog_::debug(CoreAnsx("diagnostic starts"), 0, 3);
    long const wanted = CoreButl::tpfup(samplerate, ltimed);
    int const kernel =
        CoreButl::getp2(static_cast<int>(CoreButl::max__(1L, CoreButl::min__(wanted, 1L << 20))));
    double* buffers[5] = {};
    int const sizes[5] = {ringsize, ringsize, ringsize, ringsize, kernel};
    short fastest = -1;
    try {
        for (int k = 0; k < 5; ++k)
            buffers[k] = static_cast<double*>(pool->mallc(0, sizes[k], "PRCS", CoreAnsx("")));
        CoreCnvl* player = cnvls[0].cnvl;
        double best = -1.0;
        for (short e = 1; e <= 5; ++e) {
            if (player->isfft(e) || !player->ldble(e)) continue;
            CoreLog_::debug(CoreAnsx("testing optimization ") + CoreAnsx(int(e)), 0, 3);
            // An engine whose plan fails is not a candidate: it would time
            // silence, and its block of 0 divides nothing. The block is the
            // candidates' granularity: every one is a direct engine, whose
            // granularity is 2. The engine's granularity field cannot serve:
            // the boot runs this before any program is planned, while it is
            // still 0, a block no engine plans with.
            int const block = setcf(0, e, 2, kernel, kernel, 2, kernel);
            if (block < 1 || block > processingblock) continue;
            for (int k = 0; k < 5; ++k)
                std::memset(buffers[k], 0, sizeof(double) * static_cast<std::size_t>(sizes[k]));
            int const per = processingblock / block;
            double const begin = CoreHutl::cpucd();
            for (int run = 0; run < kDiagnosticRuns; ++run)
                for (int j = 0; j < per; ++j)
                    player->cnvlc(buffers[0] + j * block, buffers[1] + j * block,
                                  buffers[2] + j * block, buffers[3] + j * block, buffers[4],
                                  buffers[4], nullptr, nullptr);
            double const elapsed = CoreHutl::cpucd() - begin;
            CoreLog_::debug(CoreAnsx("result ") + CoreAnsx(elapsed), 0, 3);
            if (best < 0.0 || elapsed < best) {
                best = elapsed;
                fastest = e;
            }
        }
    } catch (...) {
        CoreLog_::loger(CoreAnsx("CorePrcs: engine diagnostic failed"), 0);
    }
    for (double*& b : buffers)
        if (b != nullptr) pool->free_(b);
    // Slot 0 was planned over the diagnostic's kernel: the program's slots
    // get their plans back.
    setcf(0);
    if (fastest >= 1) otimed = fastest;
    if (loadedslots > 0) {
        {
            CoreSmgd guard(bypasssem);
            adjoc(otimed, -1);
            for (short s = 0; s < cnvlcount; ++s) bindSlot(s);
        }
        setck();
    }
    CoreLog_::debug(CoreAnsx("diagnostic ends"), 0, 3);
}
