#pragma once
// CoreMidi: the MIDI-learn map of one engine instance. Eight slots, each bound
// to a status byte and controller number, turn incoming controller events
// into eight change flags with values scaled to 0..1. A slot set to learn
// adopts the next event's status and controller.
// Event queue contract: events with a frame offset in the future are queued
// by the engine's event path (the host's process call, or the control pass
// for a host that does not process) and taken by updte on the processing
// path; both hold the queue lock while they touch it, so the compaction
// below never moves an event updte is reading. Events keep the order they
// were sent in for each key (status and controller, on any channel: the key
// a slot answers): an event never plays before one sent earlier for its key,
// so one sent later at an earlier frame (frame 0 included) waits as long as
// the newest of its key still queued and plays right after it, and what was
// sent last for a control is what it holds. An event whose key has nothing
// queued plays at its own frame, at once for frame 0. The queue holds
// iCqueuemax events in the map itself, so nothing here allocates. An event
// that finds it full first compacts it: of the waiting events with the same
// key only the newest stays, and the survivors keep their arrival order. The
// host's messages come with the status kind alone (channel apart), at most
// 7 x 128 keys, so the event then finds room and each key's last value plays.
// Only more distinct bytes sent through the bus can leave it full: the oldest
// event is then applied at once, ahead of its frame.
// Both mdctr(frame, ...) and updte apply under the queue lock, a frame-0
// message included. The lock covers the queue alone: the learn slots that
// applying writes (setms and getms reach them too), the outputs (cleared
// before the lock is taken, read by the caller after it is released) and
// the immediate mdctr(channel, ...) go without it, so every one of these
// calls must come from one thread at a time (the engine's locks see to it).
// Owner: the processing engine. Threads: engine processing path, the audio
// thread included (no allocation, no log); setms/getms from the property
// bus, serialised with processing by the engine; actvt and getel from any
// thread.

#include <atomic>
#include <bitset>

#include "runtime/CoreSmph.h"

class CoreMidi {
public:
    static constexpr int iCslots = 8;       // learn slots and outputs
    static constexpr int iCqueuemax = 1024; // future events held at most

    // Result of a call, one entry per slot; valid until the next call.
    struct MIDISLIDERCALLBACKINFO {
        bool changed; // the slot answered an event since the last clear
        float value;  // the event value x 1/127, 0..1
    };

    CoreMidi(); // slots not learning, status 176, controller 127, channel + 1 = 16
    ~CoreMidi() = default;
    CoreMidi(CoreMidi const&) = delete;
    CoreMidi& operator=(CoreMidi const&) = delete;
    CoreMidi(CoreMidi&&) = delete;
    CoreMidi& operator=(CoreMidi&&) = delete;

    // Clears the outputs; an event with frame > 0, or one whose key has an
    // event queued, is queued for that many frames but no fewer than that
    // event's (compacting a full queue first); otherwise applied at once.
    MIDISLIDERCALLBACKINFO* mdctr(int frame, int channel, int status, int controller,
                                  int value) noexcept;
    // Clears the outputs and counts every queued event down by frames,
    // applying (in order) those now below 1 frame, or all when frames < 0.
    MIDISLIDERCALLBACKINFO* updte(int frames) noexcept;
    // Applies an event at once without clearing the outputs; returns channel + 1.
    int mdctr(int channel, int status, int controller, int value);
    // Binds a slot (controller at most 127) and ends its learning; a negative
    // controller toggles learning instead. Slots outside 0..7 are refused.
    void setms(short slot, int status, int controller);
    // Reads a slot; false (and nothing written) for slots outside 0..7.
    bool getms(short slot, bool& learning, int& status, int& controller, int& channel, int& value);
    bool actvt(); // an event was applied since the last call; clears the flag
    int getel();  // queued events

private:
    struct LEARNSLOT {
        bool learning;  // adopts the next applied event
        int status;     // status byte answered
        int controller; // controller number answered, 0..127
        int channel;    // channel + 1 of the last answered event
        int value;      // value of the last answered event, 0..127
    };
    struct MIDIEVENT {
        int frames;     // frames left until it is due
        int channel;    // 0..15
        int status;     // status byte
        int controller; // controller number
        int value;      // controller value
    };

    void apply(int channel, int status, int controller, int value);
    void clearOutputs();
    void compact();           // keeps the newest queued event of each key; lock held
    int after(int key) const; // frames left of key's newest queued event, 0 none; lock held
    void recount();           // marks the keys queued again after events left; lock held

    std::atomic<bool> activity;              // an event was applied; read by other threads
    MIDIEVENT queue[iCqueuemax];             // future events, in arrival order
    int queued = 0;                          // events in queue
    std::bitset<256 * 256> seen;             // compact's keys met, all clear between calls
    std::bitset<256 * 256> waiting;          // keys with an event in queue
    CoreSmph lock;                           // guards queue and queued
    LEARNSLOT slots[iCslots];                // learn slots
    MIDISLIDERCALLBACKINFO outputs[iCslots]; // handed out by mdctr and updte
};
