#include "platform/PlatSignalLock.h"

std::mutex& PlatSignalLock::planner() {
    // A function-local static is built on first use, so specs created from
    // other statics' constructors still find the lock alive.
    static std::mutex lock;
    return lock;
}
