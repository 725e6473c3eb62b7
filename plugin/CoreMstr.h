#pragma once
// CoreMstr: the assembly of one plug-in instance around its engine: the
// memory test, the instance's own pool, then in this order the blink clock,
// the display's input mailbox, the shell item store, the engine, the skin
// the engine names (property 62) and the display with its bus to the
// engine; besides, a reference to the process-wide pool and kernel cache
// every instance shares. Teardown runs the other way round: the display
// first (it stops its thread, waiting for a batch in progress), then the
// skin, the engine, the item store, the mailbox and the blink clock.
// Owner: the plug-in object (CoreVrlg) builds one per instance and deletes
// it at close, after it stopped the control thread.
// Threads: built and deleted on the host's thread that loads and closes the
// plug-in; the shared pool and cache are taken and released under one
// static lock.

#include "runtime/CoreAnsx.h"

class CoreBlnk;
class CoreDsif;
class CoreDspc;
class CoreFsys;
class CorePlel;
class CorePlif;
class CorePool;
class CorePrbn;
class CorePrcs;
class CoreSkin;

class CoreMstr {
public:
    // Builds the instance for a host running at rate Hz, with the engine
    // reading its settings beside the binary codepath/codename; plugin is
    // the display's host side (not owned, outlives the assembly; may be
    // null). Never throws: a failure logs "Fatal error" and leaves faild()
    // true and every part null.
    CoreMstr(int rate, CoreAnsx const& codepath, CoreAnsx const& codename, CorePlif* plugin);
    ~CoreMstr();
    CoreMstr(CoreMstr const&) = delete;
    CoreMstr& operator=(CoreMstr const&) = delete;
    CoreMstr(CoreMstr&&) = delete;
    CoreMstr& operator=(CoreMstr&&) = delete;

    bool faild() const { return display == nullptr; }
    CorePrcs* getpr() const { return engine; }  // null when the assembly failed
    CoreDsif* getds() const { return display; } // null when the assembly failed
    CoreDspc* getmb() const { return mailbox; } // the display's input mailbox
    CoreSkin* getsk() const { return skin; }    // the skin read at open
    // The ten host parameters (MIX1..8, GAININ, GAINOUT as fractions 0..1)
    // as they will stand once the boot has loaded its program: read from the
    // bank 0 setup and the documents of location 0 and the boot program as
    // the program reader sets them, without building kernels. A gain no
    // readable document gives answers 0.5 (0 dB), a MIX control none gives 0
    // (unused). Owner's thread, before the boot starts; logs nothing.
    void btval(float* values) const;

    // The absolute folder (with its trailing '/') and file name of the binary that
    // holds this code; "" and "0" when the loader cannot tell.
    static void where(CoreAnsx& folder, CoreAnsx& file);
    // Instances holding the shared pool and cache now, and the shared
    // objects themselves (null while nobody holds them).
    static int users();
    static CorePool* sharedPool();
    static CorePlel* sharedCache();
    // Test hook: the next n assemblies fail as a failed memory test would
    // (also armed by the environment variable VORLAN_FAIL_ASSEMBLY=n when
    // the first assembly of the process runs).
    static void failNext(int n);

private:
    static bool acquire(); // one more user of the shared pool and cache; false on failure
    static void release(); // one user less; the last one deletes them
    void clear() noexcept; // deletes what exists, in teardown order

    CorePool* pool = nullptr;    // the instance's own blocks
    CoreBlnk* blink = nullptr;   // CPU figures, LEDs and the display's blinking
    CoreDspc* mailbox = nullptr; // the display's input records
    CoreFsys* fsys = nullptr;    // the shell's item store
    CorePrcs* engine = nullptr;  // the engine; null when failed
    CoreSkin* skin = nullptr;    // the skin property 62 names
    CorePrbn* bus = nullptr;     // the display's bus to the engine
    CoreDsif* display = nullptr; // the display; null when failed
    bool shared = false;         // this instance holds a shared reference
};
