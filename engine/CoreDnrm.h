#pragma once
// CoreDnrm: stack-only scope that switches flush-to-zero and denormals-are-zero
// on for the calling thread, so the convolution loops never slow down on
// denormal numbers. The processing engine opens one in its process entry
// (the host's audio thread) and one in its worker loop.
// The plug-in runs inside the host's threads, so the scope hands the thread
// back in the floating-point mode it had before: the destructor restores it.
// Audio thread: no allocation, no file or log I/O, no blocking lock.
#include "platform/PlatFpu.h"

#include <cstddef>

class CoreDnrm {
public:
    // Rounding mode the callers pass (3); kept for their signature, not used.
    static const int iCrounding;

    explicit CoreDnrm(int rounding = iCrounding);
    ~CoreDnrm();

    CoreDnrm(const CoreDnrm&) = delete;
    CoreDnrm& operator=(const CoreDnrm&) = delete;
    CoreDnrm(CoreDnrm&&) = delete;
    CoreDnrm& operator=(CoreDnrm&&) = delete;
    static void* operator new(std::size_t) = delete; // scopes live on the stack
    static void* operator new[](std::size_t) = delete;

private:
    PlatFpu::Mode saved; // the thread's control word before the scope opened
};
