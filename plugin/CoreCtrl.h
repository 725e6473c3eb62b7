#pragma once
// CoreCtrl: the control thread of one plug-in instance. Each pass runs the
// property bridge's pass (headless boot, GUI-rate update, parameter
// modulators, meters, automation, MIDI, deferred program changes) and then
// sleeps for the engine's GUI rate; Terminate wakes it at once.
// Owner: the plug-in object starts it at open and joins and deletes it at
// close (Terminate, WaitFor, delete); a boot in progress is never cancelled.
// Threads: its own (Execute); the owner's thread for the rest.

#include "runtime/CoreTevn.h"
#include "runtime/CoreTthr.h"

class CorePpwr;

class CoreCtrl final : public CoreTthr {
public:
    explicit CoreCtrl(CorePpwr* bridge); // starts the thread
    CoreCtrl(CoreCtrl const&) = delete;
    CoreCtrl& operator=(CoreCtrl const&) = delete;
    CoreCtrl(CoreCtrl&&) = delete;
    CoreCtrl& operator=(CoreCtrl&&) = delete;

    void Terminate() override; // ends the loop after the pass in hand
    void Execute() override;

private:
    CorePpwr* bridge; // borrowed
    CoreTevn wake;    // cuts the sleep short
};
