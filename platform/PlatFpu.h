#pragma once
// PlatFpu: the calling thread's floating-point control state, as far as the
// engine needs it: flush-to-zero (results that would be denormal become 0) and
// denormals-are-zero (denormal operands are read as 0). On x86-64 both live in
// MXCSR; on AArch64 one bit of FPCR does both; elsewhere the calls are no-ops.
// Static only; it changes the state of the thread that calls it, so any thread
// may call it, including the audio thread (no allocation, no I/O, no lock).
#include <cstdint>

class PlatFpu {
public:
    // Saved control word of one thread (MXCSR or FPCR); opaque to callers.
    using Mode = std::uint64_t;

    PlatFpu() = delete;

    // Switches flush-to-zero on or off for the calling thread.
    static void setFlushToZero(bool on);
    // Switches denormals-are-zero on or off for the calling thread.
    static void setDenormalsAreZero(bool on);
    // True when the calling thread has flush-to-zero on.
    static bool flushToZero();
    // True when the calling thread has denormals-are-zero on.
    static bool denormalsAreZero();
    // The calling thread's whole control word, to be given back to restore().
    static Mode save();
    // Puts back a control word taken with save() on the same thread.
    static void restore(Mode mode);
    // True when this build can switch the modes (x86-64 SSE or AArch64).
    static bool supported();
};
