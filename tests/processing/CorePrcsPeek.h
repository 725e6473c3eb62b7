#pragma once
// Test access to an engine's fields (CorePrcs names this struct a friend), and
// the engine as the instance assembly builds it over a test data kit. Besides
// reading, it sets what later steps of the engine will set (the convolver
// setup's step, the program load's flags and side ring, the boot's end), each
// under the engine's locks where the engine itself would hold them.
// Test thread only.

#include "engine/CoreCnvl.h"
#include "engine/CorePlel.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreIfce.h"
#include "processing/CorePrcs.h"
#include "program/CoreProg.h"
#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"
#include "tests/support/DataKit.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

struct CorePrcsPeek {
    CorePrcs& e;

    int block() const { return e.processingblock; }
    int ring() const { return e.ringsize; }
    int base() const { return e.baselatency; }
    int forced() const { return e.forcedoffset; }
    int ahead() const { return e.lookahead; }
    int compensation() const { return e.delaycompensation.load(); }
    // The input's lead over the output before any program offset: the
    // delay compensation when FORCEOFFSET is on, else base + lookahead (0).
    int lead() const { return e.baselatency + e.lookahead + std::max(e.forcedoffset, 0); }
    int drydelay() const { return e.drydelay; }
    int inwrite() const { return e.inwrite; }
    int bypasswrite() const { return e.bypasswrite; }
    bool threaded() const { return e.threaded; }
    bool dspmissing() const { return e.dspbuffermissing; }
    bool merged() const { return e.installermerged; }
    bool present() const { return e.masterpresent; }
    std::string datapath() const { return e.datapath.c_str(); }
    std::string masterpath() const { return e.masterpath.c_str(); }
    std::string skin() const { return e.chosenskin.c_str(); }
    std::string skinfolder() const { return e.skinsub.c_str(); } // SKINSUBPATH
    CoreMmry* memory() const { return e.memory; }
    int outread() const { return e.outread; }
    int handed() const { return e.handedend; }
    int produced() const { return e.producedend; }
    int carry() const { return e.carry; }
    int current() const { return e.currentblock; }
    bool handoff() const { return e.handoff; }
    int rate() const { return e.programrate; }
    int realtime() const { return e.realtimerate; }
    int offline() const { return e.offlinerate; }
    long period() const { return e.programperiod; }
    long effective() const { return e.effectiveperiod; }
    bool ratechange() const { return e.ratechange.load(); }
    short order() const { return e.smoothorder; }
    double in(int c, int i) const { return e.inring[c][i]; }
    double side(int c, int i) const { return e.sidering[c][i]; }
    bool sidering() const { return e.fourinput && e.sidering[0] != nullptr; }
    double const* falling() const { return e.fallingtable; }
    double const* rising() const { return e.risingtable; }
    double const* slot0() const { return e.slot0table; }

    // A pass-through configuration: slot 0 plays a unit impulse on an engine
    // whose block is the step (direct below 3 samples, else partitioned FFT),
    // as the only harmonic; then the worker-only flag, the host block and the
    // hand-off decision. A step of 0 leaves nothing configured.
    void setstep(int step, int hostblock, bool workeronly = false) {
        static double const unit[16] = {1.0};
        e.lockp();
        if (step >= 1) {
            e.cnvls[0].kernels[0] = const_cast<double*>(unit);
            e.cnvls[0].kernels[1] = const_cast<double*>(unit);
            e.cnvls[0].cnvl->setup(nullptr);
            short const engine = step < 3 ? 3 : 10;
            e.cnvls[0].engine = engine;
            e.setcf(0, engine, step, 16, CoreButl::getp2(step + 15), step, 16);
            e.harmonicsinuse = 1;
        }
        e.step = step;
        e.hostblock = hostblock;
        e.workeronly = workeronly;
        e.decideHandoff();
        e.rlsep();
    }
    // As the program load will: a side ring and the four-input flag.
    void sides() {
        e.lockp();
        for (double*& ring : e.sidering) {
            ring = static_cast<double*>(e.pool->mallc(0, e.ringsize, "PRCS", CoreAnsx("")));
            for (int i = 0; i < e.ringsize; ++i) ring[i] = 0.0;
        }
        e.fourinput = true;
        e.rlsep();
    }
    void hybrid(bool capable) {
        e.hybrid = true;
        e.smoothcapable = capable;
    }
    void smoothing(short order) { e.smoothorder = order; }
    void booted() { e.bootpending.setvl(false); }
    // The property bus's view: the failed flag, the fields the block worker
    // and the boot will write, and the objects the bus reaches.
    void fail(bool on) { e.failed = on; }
    void levels(double const* working) {
        for (int i = 0; i < CorePrcs::iCmeterlevels; ++i) e.meterreadings[i] = working[i];
        e.newlevels.store(true);
    }
    void overflowAt(double days) {
        e.overflow.setvl(true);
        e.overflowtime.store(days);
    }
    void updated() { e.updated.store(true); }
    // An accessor body that throws, as one out of memory would.
    int throwing(int id) {
        return e.bean_(-7, "peek", id, []() -> int { throw CoreAnsx("lost"); });
    }
    void bootError(bool on) { e.booterror = on; }
    bool selected() const { return e.programselected; }
    bool fellBack() const { return e.fallback; }
    short debug() const { return e.debuglevel; }
    CoreFsys* programStore() const { return e.programfsys; }
    std::string programName() const { return e.program->getnm().c_str(); }
    CoreProg* program() const { return e.program; }
    // Holds the worker semaphore as a block that does not end would.
    void holdWorker(bool on) { on ? void(e.workersem.locks()) : void(e.workersem.relse()); }
    // Holds the bypass semaphore as a load re-sizing the rings would.
    void holdBypass(bool on) { on ? void(e.bypasssem.locks()) : void(e.bypasssem.relse()); }
    // GAININ and GAINOUT as fractions of their range (the gains are twice that).
    void gains(double in, double out) {
        e.program->getif(8)->setiv(in, true, true);
        e.program->getif(9)->setiv(out, true, true);
    }

    // As the program load will, its buffers stage without the ring offset
    // and the side ring: the document read into the program, its flags,
    // every slot planned (engine 0: the engine in force) and bound, the
    // harmonics in use, the shared plans, the feedback, dry and lookahead
    // figures and the program rate; then the processing state cleared.
    bool load(KitProgram const& document, short engine = 0) {
        KitNode doc(DataKit::programXml(document));
        e.lockp();
        bool ok = e.program->load_(doc.root, false);
        if (ok) {
            CoreProg& g = *e.program;
            e.hybrid = g.getfh();
            e.programharmonics = g.gethc(false);
            e.loadedslots = g.gethc(true);
            e.smoothorder = g.getst();
            e.smoothcapable = false;
            for (short i = 0; i < e.loadedslots; ++i) e.cnvls[i].marker = g.ismkr(i);
            if (e.hybrid) e.cnvls[e.hdimmax].marker = g.ismkr(e.hdimmax);
            e.bypasssem.locks();
            ok = e.adjoc(engine >= 1 ? engine : e.otimed, -1);
            e.bypasssem.relse();
            int const o = g.getof() > 0 ? g.getof() : 0;
            for (short i = 0; i < e.cnvlcount; ++i) {
                e.bindSlot(i);
                e.cnvls[i].cnvl->setff(o);
            }
            if (!e.hybrid && e.smoothorder >= 0) {
                e.mkesf(e.programrate);
                e.smoothcapable = true;
            }
            e.harmonicsinuse = std::min(e.programharmonics, e.hdim);
            if (e.hdim == 0) {
                e.smoothorder = -1;
                e.resetSmoothing();
            } else {
                e.smoothorder = g.getst();
            }
            ok = e.setck() && ok;
            e.feedback = g.hasfb();
            e.dry = g.hasdr();
            e.programahead = g.getab();
            e.aheadoffset = static_cast<int>(std::lround(g.getab() * g.getaf()));
            e.adjrt(g.getpr() >= 1 ? g.getpr() : e.programrateus);
            e.clepr(true);
        }
        e.rlsep();
        return ok;
    }
    CorePrcs::CNVLLOC const& slot(int s) const { return e.cnvls[s]; }
    int work() const { return e.hdimmax; }
    int step() const { return e.step; }
    short inuse() const { return e.harmonicsinuse; }
    bool planerror() const { return e.planerror; }
    bool workeronly() const { return e.workeronly; }
    int granularity() const { return e.granularity; }
    short inforce() const { return e.otimed; }
    CorePool& pool() const { return *e.pool; }
    CoreEnvf& meter(int k) const { return *e.meterfollowers[k]; }
    // The kernel slot s plays, over the length its engine reads.
    std::vector<double> kernel(int s, int c) const {
        auto const* k = static_cast<double const*>(e.cnvls[s].kernels[c]);
        short const from = s == e.hdimmax && !e.hybrid ? 0 : static_cast<short>(s);
        int const n = e.cnvls[s].cnvl->getbe() ? e.program->getex(from) : e.program->getid(from);
        return k != nullptr ? std::vector<double>(k, k + n) : std::vector<double>();
    }
    // Sample i of slot s's left kernel as the player reads it.
    double tap(int s, int i) const { return static_cast<double const*>(e.cnvls[s].kernels[0])[i]; }
    bool overflowed() const { return e.overflow.getvl(); }
    // CPU figure i, seconds per sample, as the host entry keeps it.
    double cpu(int i) const {
        e.metersem.locks();
        double const v = e.cpufigures[i];
        e.metersem.relse();
        return v;
    }
    void cpu(int i, double v) {
        e.metersem.locks();
        e.cpufigures[i] = v;
        e.metersem.relse();
    }
    // The smoothing paths a load would leave: hybrid, smoothing-capable, HDIM.
    void paths(bool hybrid, bool capable, short limit) {
        e.hybrid = hybrid;
        e.smoothcapable = capable;
        e.hdim = limit;
    }
    CoreTevn& bypassEvent() { return e.bypassevent; }
    // Bypass positions outside the ring, as a resize that set them apart left them.
    void staleBypass(int write, int read) {
        e.bypasswrite = write;
        e.bypassread = read;
    }
    int bypassread() const { return e.bypassread; }
    void clearOverflow() { e.overflow.setvl(false); }
    bool newlevels() { return e.newlevels.exchange(false); }
    int straddles() const { return e.straddles; }
    short selector() const { return e.smoothselector; }
    double const* worktable() const { return e.worktable; }
    void ahead(int offset) {
        e.programahead = 0.0; // the updates leave the offset alone
        e.aheadoffset = offset;
    }
    void setin(int c, int i, double v) { e.inring[c][i] = v; }

    std::string found() const { return e.foundfolder.c_str(); } // the program's folder
    std::string alternatives() const {                          // "A|B|"
        std::string s;
        for (int i = 0; i < e.altcount; ++i) s += std::string(e.altpaths[i].c_str()) + "|";
        return s;
    }
    // Bean 262's line for a program save failed for reason; the boot's Ko line for a master file
    // refused for it (the boot freezes).
    std::string saveLine(char const* why) {
        e.svrsn(CoreAnsx("X.XML"), CoreAnsx("NOT SAVED"), CoreAnsx(why));
        return e.getbs(262, nullptr).c_str();
    }
    std::string masterKo(char const* why) {
        e.masterpresent = false;
        e.masterwhy = CoreAnsx(why);
        return e.bootStep(2).c_str();
    }
};

// A program text with its top-level elements sorted: writing the live
// state into a document moves the elements it rewrites, so two writes of
// one program differ in order only. The location's own entries a chunk
// carries (SEQUENCE, ORIGINALFILENAME, VECTORFILENAME) are left out.
inline std::string canonProgram(std::string const& text) {
    std::string const open = "<PROGRAM>", close = "</PROGRAM>";
    std::size_t const from = text.find(open), to = text.rfind(close);
    if (from == std::string::npos || to == std::string::npos) return text;
    std::vector<std::string> parts;
    int depth = 0;
    std::size_t start = from + open.size();
    for (std::size_t i = start; i < to; ++i) {
        if (text[i] != '<') continue;
        bool const closing = text[i + 1] == '/';
        depth += closing ? -1 : 1;
        if (closing && depth == 0) {
            std::size_t const end = text.find('>', i) + 1;
            std::string const part = text.substr(start, end - start);
            if (part.rfind("<SEQUENCE>", 0) != 0 && part.rfind("<ORIGINALFILENAME>", 0) != 0 &&
                part.rfind("<VECTORFILENAME>", 0) != 0)
                parts.push_back(part);
            start = end;
        }
    }
    std::sort(parts.begin(), parts.end());
    std::string out;
    for (auto const& p : parts) out += p;
    return out;
}

// The engine over a kit's code folder, as the shell builds it (no blink clock).
struct EngineKit {
    DataKit kit;
    CorePool pool;
    CorePlel cache{&pool};

    std::unique_ptr<CorePrcs> make(char const* codename = "0", CoreFsys* shell = nullptr,
                                   char const* mastertext = "0", bool keeplog = true,
                                   int rate = 44100, CoreBlnk* blink = nullptr) {
        return std::make_unique<CorePrcs>(&pool, CoreAnsx(kit.code().c_str()), rate, blink,
                                          CoreAnsx(codename), false, keeplog, shell,
                                          CoreAnsx(mastertext), false, &cache);
    }
};
