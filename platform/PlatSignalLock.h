#pragma once
// The one process-wide lock around FFTW's planner. FFTW plans share global
// state (wisdom, twiddle caches), so making or destroying a plan is not
// thread-safe; several plug-in instances share the process, so every plan
// made or destroyed by this layer, in any precision, holds this lock.
// Executing an existing plan on distinct arrays needs no lock. Copies of
// the plug-in loaded side by side share FFTW but not this lock: FFTW's own
// planner lock, switched on with the first use, covers them.
// Threads: loader, engine worker or control thread, may block; never the
// audio thread (plans are made at load time only).

#include <mutex>

class PlatSignalLock {
public:
    // The planner lock; taken only around fftw(f)_plan_* and fftw(f)_destroy_plan.
    static std::mutex& planner();

    PlatSignalLock() = delete;
};
