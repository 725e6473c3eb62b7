#pragma once
// CoreMstr: the assembly of one plug-in instance around its engine: the
// memory test, the instance's own pool, blink clock and shell item store,
// the engine built on them, and a reference to the process-wide pool and
// kernel cache every instance shares. Teardown runs the other way round.
// Owner: the plug-in object (CoreVrlg) builds one per instance and deletes
// it at close.
// Threads: built and deleted on the host's thread that loads and closes the
// plug-in; the shared pool and cache are taken and released under one
// static lock.

#include "runtime/CoreAnsx.h"

class CoreBlnk;
class CoreFsys;
class CorePlel;
class CorePool;
class CorePrcs;

class CoreMstr {
public:
    // Builds the instance for a host running at rate Hz, with the engine
    // reading its settings beside the binary codepath/codename. Never
    // throws: a failure logs "Fatal error" and leaves faild() true and the
    // engine null.
    CoreMstr(int rate, CoreAnsx const& codepath, CoreAnsx const& codename);
    ~CoreMstr();
    CoreMstr(CoreMstr const&) = delete;
    CoreMstr& operator=(CoreMstr const&) = delete;
    CoreMstr(CoreMstr&&) = delete;
    CoreMstr& operator=(CoreMstr&&) = delete;

    bool faild() const { return engine == nullptr; }
    CorePrcs* getpr() const { return engine; } // null when the assembly failed

    // The folder (with its trailing '/') and file name of the binary that
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

    CorePool* pool = nullptr;   // the instance's own blocks
    CoreBlnk* blink = nullptr;  // CPU figures and LEDs
    CoreFsys* fsys = nullptr;   // the shell's item store
    CorePrcs* engine = nullptr; // the engine; null when failed
    bool shared = false;        // this instance holds a shared reference
};
