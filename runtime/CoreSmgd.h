#pragma once
// CoreSmgd: holds a CoreSmph for one scope, so every exit path (return or
// exception) releases it. Stack-only: it cannot be copied, moved or made with
// new.
// Owner: the scope that declares it.
// Threads: whichever thread takes the lock; as cheap as CoreSmph itself.

#include <cstddef>

class CoreSmph;

class CoreSmgd {
public:
    // Tags of the adopting and the brief forms.
    struct ADOPT {};
    struct BRIEF {};

    // Takes the lock without limit (CoreSmph::locks()).
    explicit CoreSmgd(CoreSmph& lock);
    // Takes the lock with a limit in ms (CoreSmph::locks(int)): held by force
    // when the limit passes.
    CoreSmgd(CoreSmph& lock, int limit);
    // Takes nothing: adopts a lock the caller already holds (a try that
    // succeeded, CoreSmph::locka()), to release it on every path out.
    CoreSmgd(CoreSmph& lock, ADOPT) noexcept;
    // Takes the lock without limit, pausing at most 0.1 ms between tries
    // (CoreSmph::locks() sleeps 1 ms, longer than the audio thread's
    // shortest calls): for locks every holder keeps for a read or a write,
    // which the audio thread takes too.
    CoreSmgd(CoreSmph& lock, BRIEF) noexcept;
    // Releases the lock (CoreSmph::relse()).
    ~CoreSmgd();

    CoreSmgd(CoreSmgd const&) = delete;
    CoreSmgd& operator=(CoreSmgd const&) = delete;
    CoreSmgd(CoreSmgd&&) = delete;
    CoreSmgd& operator=(CoreSmgd&&) = delete;
    static void* operator new(std::size_t) = delete;
    static void* operator new[](std::size_t) = delete;

private:
    CoreSmph& held; // the lock taken in the constructor
};
