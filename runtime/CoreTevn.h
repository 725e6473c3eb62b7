#pragma once
// CoreTevn: an auto-reset event. SetEvent wakes one waiter; a WaitFor that
// finds it signalled clears it. WaitFor makes one timed wait with no loop, so
// an early wake-up without a signal returns "not signalled": callers wait in
// their own loops.
// Owner: the object whose thread waits on it (engine, display thread).
// Threads: SetEvent/ResetEvent from any thread except the audio path (they
// take a mutex); WaitFor on the waiting thread, blocks up to its time-out.

#include <pthread.h>

class CoreTevn {
public:
    // The four arguments are accepted for callers' sake and ignored.
    CoreTevn(void* attributes = nullptr, bool manual = false, bool initial = false,
             char const* name = nullptr);
    ~CoreTevn();
    CoreTevn(CoreTevn const&) = delete;
    CoreTevn& operator=(CoreTevn const&) = delete;
    CoreTevn(CoreTevn&&) = delete;
    CoreTevn& operator=(CoreTevn&&) = delete;

    // Signals and wakes one waiter.
    void SetEvent();
    // Clears the signal.
    void ResetEvent();
    // Waits up to ms milliseconds for the signal; iCwrsignaled (and the
    // signal cleared) or iCwrnotsignaled.
    int WaitFor(int ms);

    static constexpr int iCwrsignaled = 1;    // WaitFor: the event was signalled
    static constexpr int iCwrnotsignaled = 0; // WaitFor: time-out or early wake-up

private:
    bool signalled;           // guarded by mutex
    pthread_mutex_t mutex;    // guards signalled
    pthread_cond_t condition; // signalled by SetEvent
};
