#pragma once
// CoreSmph: the spin lock that guards every structure shared between threads.
// A counter is 1 when free and 0 when held; a try decrements it and undoes the
// decrement when the result is negative. Between tries the caller sleeps
// CoreButl::iCsmphprecision ms, so the lock never blocks in the kernel except
// in those sleeps. Not recursive, not fair, no owner check: any thread may
// release, and the timed form takes the lock by force when its time is up.
// Prefer the scoped guard CoreSmgd where the lock is released in the same
// scope.
// Owner: the structure it guards, as a member.
// Threads: any thread; an uncontended locks/relse is one atomic instruction,
// so the audio thread may take the locks the design names.

class CoreSmph {
public:
    CoreSmph();
    ~CoreSmph();
    CoreSmph(CoreSmph const&) = delete;
    CoreSmph& operator=(CoreSmph const&) = delete;
    CoreSmph(CoreSmph&&) = delete;
    CoreSmph& operator=(CoreSmph&&) = delete;

    // Waits without limit; returns the counter after the successful take (0).
    int locks();
    // One try; true when the lock is now held by the caller.
    bool locka();
    // Waits at most about limit ms (monotonic clock); past it the lock is
    // taken by force and the break is counted. The caller holds the lock on
    // return either way. Returns the counter after the take (0).
    int locks(int limit);
    // Releases (whoever holds it); returns the new counter value.
    int relse();
    // As locks(), returning the number of 1 ms sleeps the wait took.
    int debgl();
    // Number of locks taken by force since construction.
    int geter() const;

    static constexpr int iCsphinit = 1; // counter value of a free lock

private:
    int counter; // 1 free, 0 held, below 0 only during a failed try; atomics only
    int breaks;  // locks taken by force after a time-out; atomics only
};
