#pragma once
// Test access to an engine's fields (CorePrcs names this struct a friend; it
// reads only), and the engine as the instance assembly builds it over a
// test data kit. Test thread only.

#include "engine/CorePlel.h"
#include "modulation/CoreMidi.h"
#include "processing/CorePrcs.h"
#include "runtime/CorePool.h"
#include "tests/support/DataKit.h"

#include <memory>
#include <string>

struct CorePrcsPeek {
    CorePrcs const& e;

    int block() const { return e.processingblock; }
    int ring() const { return e.ringsize; }
    int wrap() const { return e.ringwrap; }
    int base() const { return e.baselatency; }
    int forced() const { return e.forcedoffset; }
    int ahead() const { return e.lookahead; }
    int compensation() const { return e.delaycompensation; }
    int inwrite() const { return e.inwrite; }
    int bypasswrite() const { return e.bypasswrite; }
    int dspbuffer() const { return e.dspbuffer; }
    bool threaded() const { return e.threaded; }
    bool dspmissing() const { return e.dspbuffermissing; }
    bool fastmissing() const { return e.fastbootmissing; }
    bool merged() const { return e.installermerged; }
    bool present() const { return e.masterpresent; }
    std::string datapath() const { return e.datapath.c_str(); }
    std::string masterpath() const { return e.masterpath.c_str(); }
    std::string skin() const { return e.chosenskin.c_str(); }
    std::string magic() const { return e.magic.c_str(); }
    double tempo() const { return e.defaulttempo; }
    double protection() const { return e.protectiondb; }
    short alternatives() const { return e.altcount; }
    std::string alternative(int i) const { return e.altpaths[i].c_str(); }
    short slots() const { return e.cnvlcount; }
    // Slot i of MIDI learn as "status/controller".
    std::string midi(short i) const {
        bool learning = false;
        int status = 0, controller = 0, channel = 0, value = 0;
        e.midi->getms(i, learning, status, controller, channel, value);
        return std::to_string(status) + "/" + std::to_string(controller);
    }
    // Every key the engine writes back, as text, in one line.
    std::string owned() const {
        std::string s;
        auto add = [&s](char const* k, auto v) {
            s += std::string(k) + "=" + std::to_string(v) + " ";
        };
        add("METERTYPE", e.metertype);
        add("OTIMED", e.otimed);
        add("OFREQD", e.ofreqd);
        add("PROGRAMRATE", e.programrateus);
        add("EXPORTAUDIOQUALITY", e.exportquality);
        add("FORCEOFFSET", e.forceoffset);
        add("LTIMED", e.ltimed);
        add("LFREQD", e.lfreqd);
        add("GUIRATE", e.guirate);
        add("HDIM", e.hdim);
        add("BPMDEFAULT", e.defaulttempo);
        add("AHEADLENGTH", e.aheadlength);
        add("SCANBOOT", e.scanboot);
        add("AUTOTHREAD", e.autothread);
        add("FASTBOOT", e.fastboot);
        add("RATECONVERSION", e.rateconversion);
        add("FONTCOLOUR", e.fontcolour);
        s += std::string("SKINNAME=") + e.skinname.c_str() + " ";
        add("NODROP", e.nodrop);
        add("LOADERPRIORITY", e.loaderpriority);
        add("MODE", e.mode != 0); // a switch, written "1" or "0"
        add("DSPBUFFER", e.dspbuffer);
        for (short i = 0; i < CoreMidi::iCslots; ++i) s += midi(i) + " ";
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
