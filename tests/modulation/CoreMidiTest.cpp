#include "modulation/CoreMidi.h"

#include <gtest/gtest.h>

#include "runtime/CoreVutl.h"
#include "tests/support/AllocCount.h"

namespace {

struct Slot {
    bool learning = true;
    int status = -9, controller = -9, channel = -9, value = -9;
};

Slot read(CoreMidi& midi, short i) {
    Slot s;
    EXPECT_TRUE(midi.getms(i, s.learning, s.status, s.controller, s.channel, s.value));
    return s;
}

int changedCount(CoreMidi::MIDISLIDERCALLBACKINFO const* out) {
    int n = 0;
    for (int i = 0; i < CoreMidi::iCslots; ++i) n += out[i].changed ? 1 : 0;
    return n;
}

} // namespace

TEST(CoreMidiTest, SlotsStartOnControllerChangeDefaults) {
    CoreMidi midi;
    for (short i = 0; i < 8; ++i) {
        Slot const s = read(midi, i);
        EXPECT_FALSE(s.learning);
        EXPECT_EQ(s.status, 176);
        EXPECT_EQ(s.controller, 127);
        EXPECT_EQ(s.channel, 16);
        EXPECT_EQ(s.value, 0);
    }
    EXPECT_FALSE(midi.actvt());
    EXPECT_EQ(midi.getel(), 0);
}

TEST(CoreMidiTest, BindingClampsTheControllerAndNegativeTogglesLearning) {
    CoreMidi midi;
    midi.setms(2, 176, 200);
    EXPECT_EQ(read(midi, 2).controller, 127);
    midi.setms(2, 177, 7);
    midi.setms(2, 190, -1);
    Slot s = read(midi, 2);
    EXPECT_TRUE(s.learning);
    EXPECT_EQ(s.status, 177);
    EXPECT_EQ(s.controller, 7);
    midi.setms(2, 190, -1);
    EXPECT_FALSE(read(midi, 2).learning);
    midi.setms(2, 176, 1); // binding ends learning
    midi.setms(2, 176, -1);
    midi.setms(2, 176, 3);
    EXPECT_FALSE(read(midi, 2).learning);
}

TEST(CoreMidiTest, OutOfRangeSlotsAreRefused) {
    CoreMidi midi;
    midi.setms(8, 176, 1);
    midi.setms(-1, 176, 1);
    Slot s;
    EXPECT_FALSE(midi.getms(8, s.learning, s.status, s.controller, s.channel, s.value));
    EXPECT_FALSE(midi.getms(-3, s.learning, s.status, s.controller, s.channel, s.value));
    EXPECT_EQ(s.status, -9); // nothing written
    for (short i = 0; i < 8; ++i) EXPECT_EQ(read(midi, i).controller, 127);
}

TEST(CoreMidiTest, LearningSlotAdoptsTheEventAndReportsItScaled) {
    CoreMidi midi;
    midi.setms(5, 176, -1); // learn
    CoreMidi::MIDISLIDERCALLBACKINFO* out = midi.mdctr(0, 3, 176, 7, 127);
    EXPECT_TRUE(out[5].changed);
    EXPECT_EQ(out[5].value, 1.0f);
    EXPECT_EQ(changedCount(out), 1); // the other slots wait for controller 127
    Slot const s = read(midi, 5);
    EXPECT_FALSE(s.learning);
    EXPECT_EQ(s.controller, 7);
    EXPECT_EQ(s.channel, 4);
    EXPECT_EQ(s.value, 127);
    EXPECT_TRUE(midi.actvt());
    EXPECT_FALSE(midi.actvt());

    out = midi.mdctr(0, 15, 176, 7, 64); // any channel answers
    EXPECT_EQ(out[5].value, static_cast<float>(64.0 / 127.0));
    EXPECT_EQ(read(midi, 5).channel, 16);
    out = midi.mdctr(0, 0, 177, 7, 10); // another status does not
    EXPECT_EQ(changedCount(out), 0);
    EXPECT_EQ(midi.mdctr(9, 176, 127, 0), 10); // applied at once, all default slots answer
    EXPECT_EQ(changedCount(out), 7);
    out = midi.updte(64);
    EXPECT_EQ(changedCount(out), 0); // cleared by the next call
}

TEST(CoreMidiTest, FutureEventsWaitForTheirBlockAndKeepTheirOrder) {
    CoreMidi midi;
    midi.setms(0, 176, 1);
    CoreMidi::MIDISLIDERCALLBACKINFO* out = midi.mdctr(300, 0, 176, 1, 10);
    EXPECT_FALSE(out[0].changed);
    midi.mdctr(310, 0, 176, 1, 20);
    midi.mdctr(600, 0, 176, 1, 30);
    EXPECT_EQ(midi.getel(), 3);
    EXPECT_FALSE(midi.actvt());
    out = midi.updte(256);
    EXPECT_FALSE(out[0].changed);
    EXPECT_EQ(midi.getel(), 3);
    out = midi.updte(256); // 44 and 54 frames left: both below one block now
    EXPECT_TRUE(out[0].changed);
    EXPECT_EQ(out[0].value, static_cast<float>(20.0 / 127.0)); // the later one wins
    EXPECT_EQ(read(midi, 0).value, 20);
    EXPECT_EQ(midi.getel(), 1);
    out = midi.updte(-1); // flush
    EXPECT_EQ(read(midi, 0).value, 30);
    EXPECT_EQ(midi.getel(), 0);
    out = midi.updte(256);
    EXPECT_FALSE(out[0].changed);

    // Sent after one still queued for its key, an event at an earlier frame (0 too) plays after
    // it; another key's plays at once.
    midi.setms(1, 176, 2);
    midi.mdctr(300, 0, 176, 1, 40);
    EXPECT_FALSE(midi.mdctr(0, 0, 176, 1, 50)[0].changed);
    midi.mdctr(100, 0, 176, 1, 60);
    EXPECT_TRUE(midi.mdctr(0, 0, 176, 2, 70)[1].changed);
    EXPECT_FALSE(midi.updte(256)[0].changed);
    EXPECT_EQ(midi.updte(256)[0].value, static_cast<float>(60.0 / 127.0));
    EXPECT_EQ(midi.getel(), 0);
}

TEST(CoreMidiTest, QueuedEventsAreFreedWithTheMap) {
    CoreMidi midi;
    for (int i = 1; i <= 20; ++i) midi.mdctr(i * 100, 0, 176, 1, i);
    EXPECT_EQ(midi.getel(), 20); // the leak checker sees them freed by the destructor
}

TEST(CoreMidiTest, BlocksAndDueEventsAllocateNothing) {
    CoreMidi midi;
    midi.setms(0, 176, 1);
    for (int i = 1; i <= 8; ++i) midi.mdctr(i * 64, 0, 176, 1, i); // queueing may allocate
    long const before = allocationCount();
    for (int i = 0; i < 10; ++i) {
        midi.updte(64);
        midi.mdctr(0, 0, 176, 1, 5);
        midi.mdctr(0, 176, 1, 6);
    }
    EXPECT_EQ(allocationCount(), before);
    EXPECT_EQ(midi.getel(), 0);
}

TEST(CoreMidiTest, QueueingAllocatesNothingAndAFullQueueKeepsEachKeysNewest) {
    CoreMidi midi;
    midi.setms(0, 176, 1);
    midi.setms(1, 176, 2);
    long const before = allocationCount();
    for (int i = 0; i < CoreMidi::iCqueuemax; ++i) // controllers 1 and 2 in turn, any channel
        EXPECT_FALSE(midi.mdctr(1000, i % 16, 176, 1 + i % 2, i % 100)[0].changed);
    EXPECT_EQ(midi.getel(), CoreMidi::iCqueuemax);
    CoreMidi::MIDISLIDERCALLBACKINFO const* out = midi.mdctr(1000, 0, 176, 1, 120);
    EXPECT_FALSE(out[0].changed); // each key's newest stays, and it waits for its frame
    EXPECT_EQ(midi.getel(), 3);
    EXPECT_EQ(allocationCount(), before);
    midi.updte(-1);
    EXPECT_EQ(read(midi, 0).value, 120);
    EXPECT_EQ(read(midi, 1).value, (CoreMidi::iCqueuemax - 1) % 100);
}

TEST(CoreMidiTest, EmptyingTheQueueKeepsItsRoomForTheNextBlock) {
    CoreMidi midi;
    midi.setms(0, 176, 1);
    for (int i = 1; i <= 8; ++i) midi.mdctr(i * 64, 0, 176, 1, i);
    midi.updte(-1); // everything due: the queue is empty again
    ASSERT_EQ(midi.getel(), 0);
    CoreVutl::failNextReallocs(100); // no queue growth may be needed now
    EXPECT_NO_THROW(midi.mdctr(64, 0, 176, 1, 9));
    CoreVutl::failNextReallocs(0);
    EXPECT_EQ(midi.getel(), 1);
    EXPECT_FLOAT_EQ(midi.updte(64)[0].value, static_cast<float>(9 / 127.0));
}
