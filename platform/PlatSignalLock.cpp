#include "platform/PlatSignalLock.h"

#include <fftw3.h>

std::mutex& PlatSignalLock::planner() {
    // A function-local static is built on first use, so specs created from
    // other statics' constructors still find the lock alive.
    static std::mutex lock;
    // Two copies of the plug-in in one process (two installations, or a host
    // that copies the file) each have a lock of their own here but share one
    // FFTW: its own planner lock, shared by every copy, keeps their planning
    // from corrupting its heap. Set before this copy makes its first plan.
    static bool const shared = [] {
        fftw_make_planner_thread_safe();
        fftwf_make_planner_thread_safe();
        return true;
    }();
    static_cast<void>(shared);
    return lock;
}
