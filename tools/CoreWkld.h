#pragma once
// CoreWkld: fixed workloads for measuring and checking the whole plug-in. It
// writes an installation around a copy of a built plug-in (the demo data,
// then a setup of its own whose first entry is the program chosen), renders
// a seeded noise input through it with the tools' host, and sums the output
// up per second. The programs: ten harmonics of one stereo 2 s kernel each
// (static), the same ten harmonics each a pair of 2 s kernels crossfaded by
// an LFO (dynamic), and one harmonic of a 300-tap kernel (short). Every
// sample comes from fixed seeds, so every machine writes the same files.
// Owner: nobody; static members only. Threads: the caller's (writes files,
// loads the plug-in).

#include <string>
#include <vector>

#include "tools/CoreHost.h"

class CoreWkld {
public:
    CoreWkld() = delete;

    enum PROGRAM { iCstatic = 0, iCdynamic = 1, iCshort = 2 };
    static constexpr int iCrate = 44100;        // host and impulse rate, Hz
    static constexpr int iCharmonics = 10;      // harmonics of the static and dynamic programs
    static constexpr long iCprogramrate = 3000; // PROGRAMRATE, us
    static constexpr long iClfreqd = 2100000;   // LFREQD, us: a 2 s kernel stays whole

    // Writes the installation for program into folder (with a trailing '/')
    // beside a copy of plugin named "vorlan.so"; the engine runs processing
    // blocks of dspbuffer samples. False when a file cannot be written.
    static bool wrins(std::string const& folder, std::string const& plugin, PROGRAM program,
                      int dspbuffer);

    // Seeded stereo noise of the given length at iCrate, peak 0.25.
    static CoreHost::CHANNELS noise(double seconds);

    // Starts the plug-in host has loaded and waits for its boot (and program
    // load); false when it did not load or did not report them.
    static bool start(CoreHost& host);
    // Renders in through host; the plug-in's latency is cut from the output.
    static CoreHost::CHANNELS rendr(CoreHost& host, CoreHost::CHANNELS const& in, bool dbl);

    // Per second and channel: peak magnitude and RMS, in that order.
    struct SECOND {
        double peak[2];
        double rms[2];
    };
    static std::vector<SECOND> persc(CoreHost::CHANNELS const& out);
};
