#pragma once
// CoreKutl: turns a wait in milliseconds into the absolute wall-clock
// deadline that a timed POSIX condition wait takes.
// Owner: nobody; static only.
// Threads: any thread that may block (it serves timed waits).

#include <ctime>
#include <sys/time.h>

class CoreKutl {
public:
    CoreKutl() = delete;

    // deadline = now (wall clock) + ms, nanoseconds kept below 1e9.
    static void cnmpd(long ms, timespec& deadline);
    // The same from a given current time (the wall-clock reading above).
    static void cnmpd(long ms, timeval const& now, timespec& deadline);
};
