#pragma once
// CoreRvct: a vector without convolution engine whose elements are raw value
// arrays (curves) rather than impulse responses. The program uses it as a
// table of curves for the raw-function modulators, steered by the same
// controls as a kernel vector. Its value blocks are its own (tag "RVCT") and
// are never registered with the element cache.
// Owner: the program's raw slot; a raw vector owns its child raw vectors.
// Threads: filled on the program's loader path ("control or display thread,
// may block"); updated on the processing thread (audio thread: no
// allocation, no file or log I/O, no blocking lock).

#include "engine/CoreVctr.h"

class CoreRvct : public CoreVctr {
public:
    // children, when given, must be raw vectors: they are destroyed as such.
    CoreRvct(CorePool* pool, CorePlel* cache, bool leaf, int n, CoreAnsx* names,
             CoreVctr** children, double* positions, double minimum, double maximum,
             double* readbackValues, double readbackBase, double readbackTop, DataSrce* sources,
             double liquid, CoreAnsx liquidSource);
    ~CoreRvct();
    CoreRvct(CoreRvct const&) = delete;
    CoreRvct& operator=(CoreRvct const&) = delete;
    CoreRvct(CoreRvct&&) = delete;
    CoreRvct& operator=(CoreRvct&&) = delete;

    // Gives every element exactly n values: the first min(n, lengths[i]) of
    // values[i], the rest repeating the last one; a length of 0 or less gives
    // 0.0. Left and right are the same block. Returns the element count.
    int setre(int n, double** values, int* lengths);

    // Binds the controls (engine/CoreRvctMix.cpp).
    void setvl(bool vectorOn, double minimum, double maximum, CoreAnsx vectorSource,
               bool readbackOn, CoreAnsx readbackSource);
    // One block's update of the tree (engine/CoreRvctMix.cpp).
    void chnup() noexcept;

private:
    CorePool* rawpool; // pool of the value blocks (not owned)
    CoreTlst* blocks;  // double* value blocks taken with tag "RVCT" (owned)
};
