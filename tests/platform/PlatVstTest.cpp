// The interface records must match, byte for byte, what a 64-bit host built
// against the interface lays out; a few numbers hosts depend on are pinned too.
#include <gtest/gtest.h>

#include <cstddef>
#include <memory>

#include "platform/PlatVst.h"

namespace {

struct Field {
    char const* name;
    std::size_t offset;
    std::size_t expected;
};

using V = PlatVst;

TEST(PlatVst, RecordLayoutsMatchTheHostsSixtyFourBitLayout) {
    static_assert(sizeof(void*) == 8, "the plug-in is built for 64-bit hosts");
    const Field fields[] = {
        {"Effect.magic", offsetof(V::Effect, magic), 0},
        {"Effect.dispatcher", offsetof(V::Effect, dispatcher), 8},
        {"Effect.process", offsetof(V::Effect, process), 16},
        {"Effect.setParameter", offsetof(V::Effect, setParameter), 24},
        {"Effect.getParameter", offsetof(V::Effect, getParameter), 32},
        {"Effect.numPrograms", offsetof(V::Effect, numPrograms), 40},
        {"Effect.numInputs", offsetof(V::Effect, numInputs), 48},
        {"Effect.flags", offsetof(V::Effect, flags), 56},
        {"Effect.reserved1", offsetof(V::Effect, reserved1), 64},
        {"Effect.initialDelay", offsetof(V::Effect, initialDelay), 80},
        {"Effect.ioRatio", offsetof(V::Effect, ioRatio), 92},
        {"Effect.object", offsetof(V::Effect, object), 96},
        {"Effect.user", offsetof(V::Effect, user), 104},
        {"Effect.uniqueID", offsetof(V::Effect, uniqueID), 112},
        {"Effect.version", offsetof(V::Effect, version), 116},
        {"Effect.processReplacing", offsetof(V::Effect, processReplacing), 120},
        {"Effect.processDoubleReplacing", offsetof(V::Effect, processDoubleReplacing), 128},
        {"Effect.future", offsetof(V::Effect, future), 136},
        {"sizeof Effect", sizeof(V::Effect), 192},
        {"Events.reserved", offsetof(V::Events, reserved), 8},
        {"Events.events", offsetof(V::Events, events), 16},
        {"sizeof Events", sizeof(V::Events), 32},
        {"Event.deltaFrames", offsetof(V::Event, deltaFrames), 8},
        {"sizeof Event", sizeof(V::Event), 32},
        {"MidiEvent.midiData", offsetof(V::MidiEvent, midiData), 24},
        {"MidiEvent.detune", offsetof(V::MidiEvent, detune), 28},
        {"sizeof MidiEvent", sizeof(V::MidiEvent), 32},
        {"SysexEvent.dumpBytes", offsetof(V::SysexEvent, dumpBytes), 16},
        {"SysexEvent.sysexDump", offsetof(V::SysexEvent, sysexDump), 32},
        {"sizeof SysexEvent", sizeof(V::SysexEvent), 48},
        {"TimeInfo.tempo", offsetof(V::TimeInfo, tempo), 32},
        {"TimeInfo.timeSigNumerator", offsetof(V::TimeInfo, timeSigNumerator), 64},
        {"TimeInfo.flags", offsetof(V::TimeInfo, flags), 84},
        {"sizeof TimeInfo", sizeof(V::TimeInfo), 88},
        {"Rect.right", offsetof(V::Rect, right), 6},
        {"sizeof Rect", sizeof(V::Rect), 8},
    };
    for (const Field& f : fields) EXPECT_EQ(f.offset, f.expected) << f.name;
}

TEST(PlatVst, NumbersHostsDependOn) {
    const int numbers[][2] = {
        {V::effectMagic, ('V' << 24) | ('s' << 16) | ('t' << 8) | 'P'},
        {V::opEditIdle, 19},
        {V::opGetChunk, 23},
        {V::opProcessEvents, 25},
        {V::opCanDo, 51},
        {V::opGetVstVersion, 58},
        {V::opSetProcessPrecision, 77},
        {V::hostGetTime, 7},
        {V::hostGetCurrentProcessLevel, 23},
        {V::hostEndEdit, 44},
        {V::flagCanDoubleReplacing, 0x1000},
        {V::timeTempoValid, 0x400},
    };
    for (const auto& n : numbers) EXPECT_EQ(n[0], n[1]);
}

TEST(PlatVst, EventListReadsPastItsDeclaredTwoEntries) {
    // Hosts allocate the list with as many pointers as events.
    constexpr int count = 5;
    V::MidiEvent midi[count]{};
    const std::size_t bytes = offsetof(V::Events, events) + count * sizeof(V::Event*);
    std::unique_ptr<char[]> block(new char[bytes]);
    auto* list = reinterpret_cast<V::Events*>(block.get());
    list->numEvents = count;
    auto** slots = reinterpret_cast<V::Event**>(block.get() + offsetof(V::Events, events));
    for (int i = 0; i < count; ++i) {
        midi[i].type = V::eventMidi;
        midi[i].deltaFrames = 10 * i;
        slots[i] = reinterpret_cast<V::Event*>(&midi[i]);
    }
    for (int i = 0; i < count; ++i) EXPECT_EQ(V::eventAt(list, i)->deltaFrames, 10 * i);
}

} // namespace
