#pragma once
// CoreHutl: file-system helpers that look at folders and at the plug-in's own
// bundle: wildcard matching, one-level folder listing, the bundle's name and
// folder, file modification time and a millisecond counter.
// Owner: nobody; static only, no state.
// Threads: control or display thread, or the loading path (may block on file
// I/O); cpucd and fslpr suit any thread.

#include "runtime/CoreAnsx.h"

class CoreHutl {
public:
    CoreHutl() = delete;

    // Whole name against whole mask, ignoring case: "*" any run (also none),
    // "?" any one character, everything else itself.
    static bool match(char const* name, char const* mask);
    // Names (no paths) of the entries directly inside folder: files matching
    // fileMask, then (unless folderMask is "0") folders matching folderMask,
    // each group in byte order. *list (a new[] array or null) is deleted and
    // replaced by a new[] array of count names the caller deletes with
    // delete[]; with nothing found, count is 0 and the array holds one "".
    static void readr(CoreAnsx const& folder, CoreAnsx const& fileMask, CoreAnsx** list, int& count,
                      CoreAnsx const& folderMask);
    // Name of the plug-in's bundle (the shared object, or its ".vst" folder);
    // folder receives the folder holding it, with a trailing "/". unused is
    // ignored.
    static CoreAnsx appnm(void* unused, CoreAnsx& folder);
    // Whether root + sub (plain concatenation, letters matched without
    // regard to case as files are opened) names a folder strictly below root,
    // links followed: never root itself. sub must be relative and hold no
    // ".." component; where the folder does not exist yet, its nearest
    // existing ancestor decides. False when root does not exist.
    static bool below(CoreAnsx const& root, CoreAnsx const& sub);
    // Modification time of a file in seconds since the epoch; 0 when missing.
    static double getst(CoreAnsx const& path);
    // Milliseconds on the monotonic clock, for performance measurement.
    static double cpucd();
    // Does nothing on this platform.
    static void fslpr(int value, bool flag);
};
