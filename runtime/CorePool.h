#pragma once
// Tracked allocator for every numeric buffer (samples, kernels, spectra, work
// arrays). Each block is recorded with its element kind, count and owner tag so
// that statistics and leaks can be reported; failed requests are retried, then
// logged and thrown as a `CoreAnsx`.
// Owner: one pool per plug-in instance plus one shared by the process; the
// structures that allocate receive the pool as a constructor argument and
// release their blocks through the same pool.
// Threads: any thread may allocate or release (engine worker, loader, display,
// host threads); never from the audio thread, since a request may reach the
// system allocator and sleep between retries. The pool lock is a leaf lock.

#include <cstdint>
#include <unordered_map>

#include "runtime/CoreAnsx.h"
#include "runtime/CoreSmph.h"

class CorePool {
public:
    CorePool();
    ~CorePool();
    CorePool(CorePool const&) = delete;
    CorePool& operator=(CorePool const&) = delete;
    CorePool(CorePool&&) = delete;
    CorePool& operator=(CorePool&&) = delete;

    // A 16-byte aligned block for `count` elements of `kind` (see `getdm`),
    // recorded under `tag` (at most 7 characters kept). `opname` only
    // documents the call site. Throws "Memory request failed <bytes>" after
    // the retries, on a cap overrun, on a negative count or a size that does
    // not fit; the pool is unchanged then.
    void* mallc(short kind, int count, char const* tag, CoreAnsx opname);
    // Releases a block from this pool's `mallc`; an unknown pointer is only
    // logged (with debugging on) and left alone.
    void free_(void* pointer);

    long getma();           // bytes recorded now, 20 per block included
    long getxa();           // highest value `getma` has reached, bytes
    long getxr();           // largest single request, bytes
    void setal(long bytes); // sets the byte cap and switches it on

    static short getdm(short kind); // element size of a kind, bytes (0 for unknown kinds)

    void logst(); // statistics lines (debug level 2)
    void logdp(); // one line per live block (debug level 2)

    static const int iCattempts; // retries after a failed first attempt
    static const int iCoverhead; // bytes added to every request
    // Pause after each retry, milliseconds (100). Tests lower it so an
    // injected failure does not cost half a second.
    static int iVretrypause;

private:
    // One live block.
    struct ALLOCREC {
        short kind;      // element kind as requested
        void* pointer;   // aligned address handed to the caller
        int count;       // element count as requested
        int bytes;       // size of the underlying block: element size x count + 20
        char tag[8];     // owner tag, NUL-terminated
        void* raw;       // underlying block, as the platform allocator gave it
        ALLOCREC* older; // record allocated before it and still live, or null
        ALLOCREC* newer; // record allocated after it and still live, or null
    };

    // One platform allocation under the pool lock.
    void* lockedAlloc(int bytes);
    // Logs and throws the failure of a request of `bytes`.
    [[noreturn]] void failRequest(int64_t bytes);

    long cap;         // byte cap, used only while capon is set
    long current;     // bytes recorded now
    long peaktotal;   // highest `current` so far, bytes
    long peakrequest; // largest single request, bytes
    bool capon;       // whether `cap` applies
    // The live blocks' records, owned: a chain in allocation order, and an
    // index by the caller's address, so that a release costs the same however
    // many blocks the pool holds (the shared pool holds every instance's).
    ALLOCREC* oldest; // first of the chain, or null
    ALLOCREC* newest; // last of the chain, or null
    std::unordered_map<void const*, ALLOCREC*> records;
    CoreSmph lock; // guards the platform calls, the records and the counters
};
