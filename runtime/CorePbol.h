#pragma once
// A flag read and written under its own lock, for switches one thread sets and
// another polls (engine worker, loader, display).
// Owner: the object that shares the flag; copy and move are deleted.
// Threads: any thread; the lock is held only for the read or the write, and
// taken in brief pauses (CoreSmgd::BRIEF): the audio path reads flags.

#include "runtime/CoreSmph.h"

class CorePbol {
public:
    explicit CorePbol(bool value);
    CorePbol(CorePbol const&) = delete;
    CorePbol& operator=(CorePbol const&) = delete;
    CorePbol(CorePbol&&) = delete;
    CorePbol& operator=(CorePbol&&) = delete;

    bool getvl();           // the flag, read under the lock
    void setvl(bool value); // sets the flag under the lock

private:
    bool value;    // the flag
    CoreSmph lock; // guards value
};
