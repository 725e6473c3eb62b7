#pragma once
// CoreXutl: the operating-system calls the rest of the system goes through:
// sleeping, the two clocks, process and thread identifiers, and a few
// file-system calls (delete, copy, is-directory, make directory, write a
// whole text file).
// Owner: nobody; static only, no state.
// Threads: sleep, tgtme, ttime, getti and getpi suit any thread (the audio
// thread never sleeps, though); the file calls are for control or display
// threads and the loading path, may block.

#include "runtime/CoreAnsx.h"

class CoreXutl {
public:
    CoreXutl() = delete;

    // Sleeps ms milliseconds; 0 or less returns at once.
    static void sleep(int ms);
    // Milliseconds on a monotonic clock: only differences mean anything.
    // Used for durations (timed locks, time meters), never for dates.
    static double tgtme();
    // Wall-clock time in days since the epoch, microsecond resolution.
    static double ttime();
    // Identifier of the calling thread.
    static unsigned long getti();
    // Identifier of the process.
    static int getpi();
    // Deletes a file; true on success.
    static bool delfl(CoreAnsx const& path);
    // Copies a file with its data and permissions over any existing
    // destination, replacing it whole (CoreButl::wrall); flag has no effect.
    // True on success.
    static bool cpyfl(CoreAnsx const& source, CoreAnsx const& destination, bool flag);
    // True when path names an existing directory.
    static bool ispvl(CoreAnsx const& path);
    // Creates one directory, mode 0775 (less the umask); false when it
    // exists already or cannot be made.
    static bool crdir(CoreAnsx const& path);
    // Replaces the file's content with text and a line feed, whole
    // (CoreButl::wrall): a failed write leaves the previous file as it was,
    // and nothing is written when the file cannot be written (missing
    // folder, a directory, no permission). flag has no effect. True when the
    // whole text was written.
    static bool lgexc(CoreAnsx const& path, CoreAnsx const& text, bool flag);

    static constexpr double dVtdatetimeconst = 1.0 / 86400.0; // days per second
};
