#pragma once
// The signal layer's thread-count setting. Advisory: every transform of this
// layer runs single-threaded on the calling thread, whatever the count; the
// value is kept so that settings and the log can report it.
// No owner (static). Threads: any; the value is atomic.

class PlatSignalThrd {
public:
    // Stores count; false (and no change) when count < 1.
    static bool setCount(int count);
    // The stored count; until set, the hardware's concurrency (at least 1).
    static int count();

    PlatSignalThrd() = delete;
};
