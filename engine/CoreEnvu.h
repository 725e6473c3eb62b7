#pragma once
// CoreEnvu: loads one impulse or envelope file into a one-channel CoreWave.
// A path whose extension is ".CSV" (any case) is read as a number list,
// anything else as a WAV file. A WAV file's channels are both delivered into
// the one channel, the second after the first, so a stereo file yields its
// second (right) channel and a mono file its only one; files already rely on
// that. A file that cannot be read whole leaves the loader empty and open_
// answers 0: a caller never gets a partly read wave.
// Also holds a test-tone writer (ctone) and a signal-start finder (tstrt)
// for measuring responses.
// Owner: the program's raw-vector builder makes one per file on its pool and
// item store (neither owned) and deletes it after copying the samples; the
// loader owns the wave it hands out through getim.
// Threads: loader or engine worker; reads files and allocates, so never the
// audio thread.

#include "runtime/CoreAnsx.h"

class CoreFsys;
class CorePool;
class CoreWave;

class CoreEnvu {
public:
    // Not loaded, no wave.
    CoreEnvu(CorePool* pool, CoreFsys* items);
    ~CoreEnvu(); // close, then forgets pool and item store
    CoreEnvu(CoreEnvu const&) = delete;
    CoreEnvu& operator=(CoreEnvu const&) = delete;
    CoreEnvu(CoreEnvu&&) = delete;
    CoreEnvu& operator=(CoreEnvu&&) = delete;

    // Drops the wave held, loads the file named path (through the item store)
    // and returns its length in samples; 0, with no wave, when the file is
    // missing, broken, empty or cannot be read whole.
    int open_(CoreAnsx path);
    CoreWave* getim(); // the loaded wave (still owned here), null when none
    void close();      // drops the wave; length 0, not loaded

    // Where a recorded signal starts: the first index from start on whose
    // positive sample x[i] lies more than 30 dB above the running minimum of
    // the levels clipped at -60 dB, and above -60 dB itself. start becomes
    // that index, or n when no sample qualifies.
    static void tstrt(double const* x, int n, int& start);
    // Writes samples position .. end-1 of out and sets position to end. The
    // period is in microseconds at rate samples/s; type 2 a sine of the given
    // amplitude, type 0 a square wave of the same phase (0 where the sine is
    // 0), type 1 white noise scaled by the amplitude; other types write
    // nothing. A period shorter than a sample gives silence.
    static void ctone(CorePool* pool, int type, int period, int rate, double* out, int& position,
                      int end, double& amplitude);

    // Label format of a measured segment's level.
    static inline const CoreAnsx sCwriteformat{"(%.2f dB)"};

private:
    // Drops the wave without looking at loaded: also frees a wave that a
    // failed load left behind.
    void drop();
    int readList(CoreAnsx const& path); // number list into a new wave; its length or 0
    int readWave(CoreAnsx const& path); // WAV file into a new wave; its length or 0

    int length = 0;           // samples of the loaded wave, 0 when none
    bool loaded = false;      // a wave is held
    CorePool* pool;           // pool of the wave and the readers; not owned
    CoreWave* wave = nullptr; // the loaded wave, owned; null when none
    CoreFsys* items;          // item store the files are read through; not owned
};
