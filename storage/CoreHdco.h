#pragma once
// CoreHdco: a small writer that collects blocks as items of one archive file,
// one call at a time: the first call writes the archive, later calls append
// to it. The impulse builder receives one and stores each measured response
// through it; it never keeps data between calls.
// Owner: whoever builds it (not owned by the impulse builder it is handed to).
// Threads: control or display thread, or the loading path; may block on file I/O.

#include "runtime/CoreAnsx.h"

class CoreFsys;

class CoreHdco {
public:
    CoreHdco(CoreAnsx archive, bool flag);
    ~CoreHdco();
    CoreHdco(CoreHdco const&) = delete;
    CoreHdco& operator=(CoreHdco const&) = delete;
    CoreHdco(CoreHdco&&) = delete;
    CoreHdco& operator=(CoreHdco&&) = delete;

    // Stores size bytes at data as the item itemName of the archive. False,
    // logged, when the block is missing or the archive cannot be written.
    bool addit(CoreAnsx itemName, long size, void const* data);

private:
    CoreAnsx archivename; // archive file written and appended to
    bool flag;            // given at construction; kept, read by nothing
    bool appended;        // the archive has been written by an earlier call
    CoreFsys* store;      // store of the call in progress, null between calls
};
