#pragma once
// CoreLutl: creates the folders along a path and empties a folder of its files.
// Owner: nobody; static only, no state.
// Threads: control or display thread, or the loading path (may block on file I/O).

#include "runtime/CoreAnsx.h"

class CoreLutl {
public:
    CoreLutl() = delete;

    // Creates every folder of the folder part of path (the file name part is
    // not created); existing folders are left alone, failures are silent.
    // A relative path stays relative.
    static void crtpt(CoreAnsx const& path);
    // Deletes every file directly inside folder; sub-folders are not touched.
    static void clept(CoreAnsx const& folder);
};
