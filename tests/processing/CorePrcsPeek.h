#pragma once
// Test access to an engine's fields (CorePrcs names this struct a friend; it
// reads only), and the engine as the instance assembly builds it over a
// test data kit. Test thread only.

#include "engine/CorePlel.h"
#include "processing/CorePrcs.h"
#include "runtime/CorePool.h"
#include "tests/support/DataKit.h"

#include <memory>
#include <string>

struct CorePrcsPeek {
    CorePrcs const& e;

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
