#pragma once
// PlatTime: the duration conversion the event deadline needs, standing in for
// a call this platform lacks. A duration here is a count of milliseconds.
// Owner: nobody; static only.
// Threads: any thread (pure arithmetic).

class PlatTime {
public:
    PlatTime() = delete;

    // Nanoseconds in a duration of milliseconds (negative stays negative).
    static long long DurationToNanoseconds(long milliseconds);
};
