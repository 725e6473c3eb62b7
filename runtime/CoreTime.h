#pragma once
// Meter of processing time per unit of work: the engine brackets each step
// with a start mark and an end mark that counts units, and its host-call entry
// reads the average and resets the meter.
// Owner: the engine (one per engine); copy and move are deleted.
// Threads: marks from the engine worker and the audio thread (a mark is one
// clock read under a spin lock taken in brief pauses, CoreSmgd::BRIEF; no
// allocation); reads from the host's call.
// Durations come from a monotonic clock, so a wall-clock step cannot make a
// measurement negative.

#include "runtime/CoreSmph.h"

class CoreTime {
public:
    // Clock in milliseconds on a monotonic scale.
    using CLOCK = double (*)();

    CoreTime();
    // Meter on another clock (tests step a fake one).
    explicit CoreTime(CLOCK clock);
    CoreTime(CoreTime const&) = delete;
    CoreTime& operator=(CoreTime const&) = delete;
    CoreTime(CoreTime&&) = delete;
    CoreTime& operator=(CoreTime&&) = delete;

    // start true: marks now; start false: adds the time since the mark and `units`.
    void setmp(bool start, int units);
    void setms(int units); // counts units without time
    // Milliseconds per unit since the last read (0 with no units), then resets.
    double getmp();
    void sleep(int ms); // sleeps ms milliseconds

private:
    CLOCK clock;        // time source, milliseconds
    double mark;        // clock reading at the last start mark, ms
    double accumulated; // time measured since the last read, ms
    int units;          // work units counted since the last read
    CoreSmph lock;      // guards mark, accumulated and units
};
