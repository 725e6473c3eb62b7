#pragma once
// CoreWave: a block of sample channels, each a pool block of doubles of the
// same length. It is the in-memory form of impulse responses and envelopes
// once they have been read from a WAV file or a number list.
// Owner: whoever builds it (the impulse loader, a vector, the program); the
// channel blocks belong to the pool given at construction and go back to it
// when the buffer is destroyed.
// Threads: built and filled on the loader or engine worker; once filled it
// may be read from the audio thread (reading allocates nothing and locks
// nothing). reset, copy_ and merge touch no file and allocate nothing.

#include "runtime/CorePool.h"

class CoreWave {
public:
    // One pool block of `frames` doubles per channel (tag "WAVE"), cleared to
    // 0. Negative frames or channels count as 0. Pool exhaustion throws
    // CoreAnsx; nothing is kept then.
    CoreWave(CorePool* pool, long frames, short channels);
    ~CoreWave();
    CoreWave(CoreWave const&) = delete;
    CoreWave& operator=(CoreWave const&) = delete;
    CoreWave(CoreWave&&) = delete;
    CoreWave& operator=(CoreWave&&) = delete;

    double** getwv();             // the channel pointer array (getch entries)
    double* getwv(short channel); // one channel's samples; null when out of range
    long getdm();                 // frames per channel
    short getch();                // channel count

    void reset(); // every sample of every channel to 0

    // Samples position .. position+n-1 of each channel become the source's
    // samples of the same channel from sourcePosition on, with n the count
    // clipped to what both buffers hold. Channels the source lacks are left
    // alone. Returns n (0 when nothing was copied).
    long copy_(long position, long count, CoreWave* source, long sourcePosition);
    // As copy_, adding the source's samples instead of assigning them.
    long merge(long position, long count, CoreWave* source, long sourcePosition);

private:
    // Shared walk of copy_ and merge.
    long blend(long position, long count, CoreWave* source, long sourcePosition, bool add);

    double** channels; // owned array (new[]) of `count` pointers to pool blocks
    long length;       // frames per channel
    short count;       // channel count
    CorePool* pool;    // owns the channel blocks; not owned here
};
