#pragma once
// Test access to an engine's fields (CorePrcs names this struct a friend), and
// the engine as the instance assembly builds it over a test data kit. Besides
// reading, it sets what later steps of the engine will set (the convolver
// setup's step, the program load's flags and side ring, the boot's end), each
// under the engine's locks where the engine itself would hold them.
// Test thread only.

#include "engine/CoreCnvl.h"
#include "engine/CorePlel.h"
#include "modulation/CoreIfce.h"
#include "processing/CorePrcs.h"
#include "program/CoreProg.h"
#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"
#include "tests/support/DataKit.h"

#include <memory>
#include <string>

struct CorePrcsPeek {
    CorePrcs& e;

    int block() const { return e.processingblock; }
    int ring() const { return e.ringsize; }
    int base() const { return e.baselatency; }
    int forced() const { return e.forcedoffset; }
    int ahead() const { return e.lookahead; }
    int compensation() const { return e.delaycompensation; }
    int inwrite() const { return e.inwrite; }
    int bypasswrite() const { return e.bypasswrite; }
    bool threaded() const { return e.threaded; }
    bool dspmissing() const { return e.dspbuffermissing; }
    bool merged() const { return e.installermerged; }
    bool present() const { return e.masterpresent; }
    std::string datapath() const { return e.datapath.c_str(); }
    std::string masterpath() const { return e.masterpath.c_str(); }
    std::string skin() const { return e.chosenskin.c_str(); }
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
    // Holds the worker semaphore as a block that does not end would.
    void holdWorker(bool on) { on ? void(e.workersem.locks()) : void(e.workersem.relse()); }
    // GAININ and GAINOUT as fractions of their range (the gains are twice that).
    void gains(double in, double out) {
        e.program->getif(8)->setiv(in, true, true);
        e.program->getif(9)->setiv(out, true, true);
    }

    std::string alternatives() const { // "A|B|"
        std::string s;
        for (int i = 0; i < e.altcount; ++i) s += std::string(e.altpaths[i].c_str()) + "|";
        return s;
    }
};

// The engine over a kit's code folder, as the shell builds it (no blink clock).
struct EngineKit {
    DataKit kit;
    CorePool pool;
    CorePlel cache{&pool};

    std::unique_ptr<CorePrcs> make(char const* codename = "0", CoreFsys* shell = nullptr,
                                   char const* mastertext = "0", bool keeplog = true,
                                   int rate = 44100) {
        return std::make_unique<CorePrcs>(&pool, CoreAnsx(kit.code().c_str()), rate, nullptr,
                                          CoreAnsx(codename), false, keeplog, shell,
                                          CoreAnsx(mastertext), false, &cache);
    }
};
