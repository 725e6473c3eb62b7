#include "modulation/CoreMidi.h"

#include "runtime/CoreAnsx.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"

CoreMidi::CoreMidi() : activity(false), queue{} {
    for (LEARNSLOT& s : slots) s = LEARNSLOT{false, 176, 127, 16, 0};
    clearOutputs();
}

void CoreMidi::clearOutputs() {
    for (MIDISLIDERCALLBACKINFO& o : outputs) o = MIDISLIDERCALLBACKINFO{false, 0.0f};
}

void CoreMidi::apply(int channel, int status, int controller, int value) {
    activity.store(true);
    for (int i = 0; i < iCslots; ++i) {
        LEARNSLOT& s = slots[i];
        if (s.learning) {
            s.learning = false;
            s.status = status;
            s.controller = controller;
        }
        if (s.controller == controller && s.status == status) {
            s.channel = channel + 1;
            s.value = value;
            outputs[i].changed = true;
            outputs[i].value = static_cast<float>(value * CoreButl::dCmidifactor);
        }
    }
}

namespace {
// The key a slot answers, status byte and controller; -1 for values no
// message byte holds, which are never merged.
int keyOf(int status, int controller) {
    return status >= 0 && status < 256 && controller >= 0 && controller < 256
               ? status << 8 | controller
               : -1;
}
} // namespace

void CoreMidi::compact() {
    // From the newest back: the first event met of each key stays, moved
    // to the end of the survivors, which then slide to the front in order.
    int first = queued;
    for (int i = queued - 1; i >= 0; --i) {
        int const key = keyOf(queue[i].status, queue[i].controller);
        if (key >= 0) {
            if (seen[std::size_t(key)]) continue;
            seen[std::size_t(key)] = true;
        }
        queue[--first] = queue[i];
    }
    int const kept = queued - first;
    for (int i = 0; i < kept; ++i) {
        queue[i] = queue[first + i];
        int const key = keyOf(queue[i].status, queue[i].controller);
        if (key >= 0) seen[std::size_t(key)] = false;
    }
    queued = kept;
}

int CoreMidi::after(int key) const {
    if (key < 0 || !waiting[std::size_t(key)]) return 0;
    // Within a key the frames left never fall from one event to the next,
    // so the newest holds the most.
    for (int i = queued - 1; i >= 0; --i)
        if (keyOf(queue[i].status, queue[i].controller) == key) return queue[i].frames;
    return 0;
}

void CoreMidi::recount() {
    for (int i = 0; i < queued; ++i)
        if (int const key = keyOf(queue[i].status, queue[i].controller); key >= 0)
            waiting[std::size_t(key)] = true;
}

CoreMidi::MIDISLIDERCALLBACKINFO* CoreMidi::mdctr(int frame, int channel, int status,
                                                  int controller, int value) noexcept {
    clearOutputs();
    int const key = keyOf(status, controller);
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    // The host may send a control's next value at an earlier frame of a
    // later call while the last one still waits for its frame in this
    // block: it plays right after it, never before.
    if (int const behind = after(key); frame < behind) frame = behind;
    if (frame <= 0) {
        apply(channel, status, controller, value);
        return outputs;
    }
    if (queued == iCqueuemax) compact();
    if (queued == iCqueuemax) {
        MIDIEVENT const oldest = queue[0];
        for (int i = 1; i < queued; ++i) queue[i - 1] = queue[i];
        --queued;
        if (int const k = keyOf(oldest.status, oldest.controller); k >= 0) {
            waiting[std::size_t(k)] = false;
            recount();
        }
        apply(oldest.channel, oldest.status, oldest.controller, oldest.value);
    }
    queue[queued++] = MIDIEVENT{frame, channel, status, controller, value};
    if (key >= 0) waiting[std::size_t(key)] = true;
    return outputs;
}

CoreMidi::MIDISLIDERCALLBACKINFO* CoreMidi::updte(int frames) noexcept {
    CoreAudp audio;

    clearOutputs();
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    int kept = 0;
    for (int i = 0; i < queued; ++i) {
        MIDIEVENT& e = queue[i];
        if (frames >= 0) e.frames -= frames;
        if (frames < 0 || e.frames < 1) {
            apply(e.channel, e.status, e.controller, e.value);
            if (int const key = keyOf(e.status, e.controller); key >= 0)
                waiting[std::size_t(key)] = false;
        } else {
            queue[kept++] = e; // later events keep their order
        }
    }
    bool const left = kept < queued;
    queued = kept;
    if (left) recount();
    return outputs;
}

int CoreMidi::mdctr(int channel, int status, int controller, int value) {
    apply(channel, status, controller, value);
    return channel + 1;
}

void CoreMidi::setms(short slot, int status, int controller) {
    if (slot < 0 || slot >= iCslots) {
        CoreLog_::loger(
            CoreAnsx("MIDI learn slot out of range: ") + CoreAnsx(static_cast<int>(slot)), 1);
        return;
    }
    LEARNSLOT& s = slots[slot];
    if (controller < 0) {
        s.learning = !s.learning;
        return;
    }
    s.learning = false;
    s.status = status;
    s.controller = controller < 127 ? controller : 127;
}

bool CoreMidi::getms(short slot, bool& learning, int& status, int& controller, int& channel,
                     int& value) {
    if (slot < 0 || slot >= iCslots) {
        CoreLog_::loger(
            CoreAnsx("MIDI learn slot out of range: ") + CoreAnsx(static_cast<int>(slot)), 1);
        return false;
    }
    LEARNSLOT const& s = slots[slot];
    learning = s.learning;
    status = s.status;
    controller = s.controller;
    channel = s.channel;
    value = s.value;
    return true;
}

bool CoreMidi::actvt() { return activity.exchange(false); }

int CoreMidi::getel() {
    CoreSmgd guard(lock, CoreSmgd::BRIEF{});
    return queued;
}
