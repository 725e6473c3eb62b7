#pragma once
// CoreDemo: a demo installation beside a plug-in. Into the plug-in's folder
// it writes the master settings, named as the engine looks for them (the
// plug-in's file name with the extension ".xml"), whose DATAPATH names the
// data folder relative to the plug-in's folder; into that data folder a bank
// setup, four programs and the impulses they play, computed here, and the
// demo skin package. The programs: a neutral init (a unit impulse), a room
// (one harmonic), a saturator (three harmonics) and a sweep (two spaces
// crossfaded by an LFO), each keeping a full-scale sine at or below full
// scale. The settings force the latency offset,
// so the delay the engine reports is the delay of what it plays, fix the
// processing block, convert the impulses to the host's rate, and name the
// skin, so none is picked at random.
// Owner: nobody; static members only. Threads: any thread (writes files).

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/CoreAnsx.h"
#include "tools/CoreDdoc.h"

class CoreDemo {
public:
    CoreDemo() = delete;

    using CHANNELS = std::vector<std::vector<double>>; // one sample array per channel

    // Noise of its own (xorshift), so every machine writes the same impulses.
    struct NOISE {
        std::uint32_t state;
        double next() { // uniform in -1 .. 1
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            return state / 2147483647.5 - 1.0;
        }
    };

    static constexpr int iCrate = 44100;        // sample rate of every impulse file, Hz
    static constexpr long iCforceoffset = 1000; // FORCEOFFSET and each vector's OFFSET, us
    static constexpr int iCharmonics = 3;       // HDIM: harmonics the engine may run
    // DSPBUFFER, samples: written at once, so that the first boot keeps it
    // and every instance, the first included, plays and reports one latency.
    static constexpr int iCdspbuffer = 2048;
    // RATECONVERSION, us: so that at any host rate every impulse file is
    // converted and the programs sound the same. The engine measures a file
    // by its converted length counted at the file's rate, so the limit
    // covers the longest file (0.46 s) times the largest ratio (384/44.1).
    static constexpr long iCrateconversion = 5000000;

    // Folders, relative to the plug-in's folder and to the data folder.
    static inline char const* const sCdatapath = "data/"; // DATAPATH
    static inline char const* const sCprograms = "programs/";
    static inline char const* const sCvectors = "vectors/";
    static inline char const* const sCsetups = "setups/";
    static inline char const* const sCskins = "skins/";
    static inline char const* const sCsetup = "DEMO.XML"; // SETUPROMNAME

    // The programs in bank order. The engine reads location 0 at its files'
    // own rate, whatever the host's, so it holds a unit impulse, which is the
    // same at every rate; the room the boot plays is the setup's LOAD entry.
    static constexpr int iCprograms = 4;
    static constexpr int iCinit = 0, iCroom = 1, iCsaturator = 2, iCsweep = 3; // locations
    static inline char const* const sCprogramfiles[iCprograms] = {"INIT.XML", "ROOM.XML",
                                                                  "SATURATOR.XML", "SWEEP.XML"};

    // The master settings file name for a plug-in file name, as the engine
    // forms it; "" when the name is empty, "0" or holds a folder.
    static CoreAnsx mstnm(CoreAnsx const& pluginfile);
    // Writes the whole installation for the plug-in file pluginfile in the
    // folder folder, the master settings last. False (and logged) when the
    // name is refused or any file cannot be written.
    static bool wrdem(CoreAnsx const& folder, CoreAnsx const& pluginfile);
    // One file of it: bytes as they stand, or a WAV at iCrate of one or two
    // channels. False when it cannot be written.
    static bool wrtxt(std::string const& path, std::string const& bytes);
    static bool wrwav(std::string const& path, CHANNELS samples);

    // ---- what is written ----------------------------------------------------------------
    static CoreDdoc::VALUES mstvl();           // the master settings
    static CoreDdoc::PROGRAM prgrm(int index); // program index of sCprogramfiles
    // The impulse files in the vector folder: names and samples.
    struct IMPULSE {
        char const* file; // name in the vector folder
        CHANNELS samples; // at iCrate
    };
    static std::vector<IMPULSE> impls();
};
