// ctest-labels: threads
// Edit fields and their group on a display rig: typing through key records,
// clicks that arm and disarm, keyboard capture posted to the host, read back
// from the cells.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/display/DisplayRig.h"

namespace {
// Past the boot, on page -1, whose handlers leave the fields to the test.
void booted(DisplayRig& rig) {
    rig.engine.put('b', 22, "1");
    rig.build();
    rig.boot();
    CoreDsifPeek::request(rig.display(), -1);
    rig.tick();
}

// The capture flags posted to the host, each set and then announced.
std::vector<int> captures(DisplayRig& rig) {
    std::vector<int> flags;
    auto calls = rig.host.calls();
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].id != CorePlif::iCpropcapture) continue;
        EXPECT_EQ(calls[i].kind, 's');
        EXPECT_EQ(calls[i].payload.size(), 1u);
        EXPECT_TRUE(i + 1 < calls.size() && calls[i + 1].kind == 'c' &&
                    calls[i + 1].id == CorePlif::iCpropcapture);
        flags.push_back(calls[i].payload.empty() ? -1 : calls[i].payload[0]);
        ++i;
    }
    return flags;
}

void type(DisplayRig& rig, std::string const& keys) {
    for (char c : keys) rig.key(static_cast<unsigned char>(c));
}
} // namespace

TEST(CoreDsge, FieldsTakeKeysByKind) {
    struct Case {
        char const* name;
        short kind, width;
        bool clear;
        char const* initial;
        int at;            // click column within the field
        char const* keys;  // typed in the click's tick
        char const* armed; // cells while armed (after the keys)
        char const* shown; // cells two ticks later
        char const* value; // getvs then
        bool changed;      // ischg reports once
    } const cases[] = {
        {"whole number holding 0", 1, 4, true, "0", 0, "", "....", "0   ", "0 ", false},
        {"typing the last cell ends it", 1, 4, true, "7", 0, "1234", "1234", "1234", "1234", true},
        // A whole number ends at a character it cannot hold and keeps its
        // committed value; "." stays Delete.
        {"whole number: a letter drops the edit", 1, 4, true, "7", 0, "1a2b3c45", "", "7   ", "7",
         false},
        {"whole number: - drops the edit", 1, 4, true, "7", 0, "-5\r", "", "7   ", "7", false},
        {"whole number: a comma drops the edit", 1, 4, true, "7", 0, "6,5\r", "", "7   ", "7",
         false},
        {"whole number: ab drops the edit", 1, 4, true, "7", 0, "ab\r", "", "7   ", "7", false},
        {"whole number: . deletes", 1, 4, true, "7", 0, "6.5\r", "65..", "65  ", "65", true},
        {"whole number: digits taken", 1, 4, true, "7", 0, "64\r", "64..", "64  ", "64", true},
        {"Right at the end drops an untouched edit", 0, 4, false, "ab", 2, "''", "ab..", "ab  ",
         "ab", false},
        {"_ overwrites as -; insert in a full line drops", 0, 4, false, "abcd", 0, "_-x\r", "-bcd",
         "-bcd", "-bcd", true},
        {"decimal: n is minus, comma the point", 2, 6, true, "1", 0, "n1,5\r", "-1.5..", "-1.5  ",
         "-1.5", true},
        {"decimal: a blank is the point", 2, 6, true, "1", 0, "2 25\r", "2.25..", "2.25  ", "2.25",
         true},
        {"End on a blank line goes to the first cell", 0, 4, true, "q", 3, "#z\r", "z...", "z   ",
         "z   ", true},
        {"Backspace at 0 removes the cell under the cursor", 0, 4, false, "abcd", 0, "\b\r", "bcd.",
         "bcd ", "bcd ", true},
        {"insert mode shifts the rest right", 0, 5, false, "abc", 1, "-XY\r", "aXYbc", "aXYbc",
         "aXYbc", true},
    };
    for (Case const& c : cases) {
        DisplayRig rig;
        booted(rig);
        rig.group().reset(1);
        CoreDsed* f = rig.group().gettx(0);
        f->defne(0, 1, 10, 2, c.width, c.clear, c.kind);
        f->setvs(CoreAnsx(c.initial));
        rig.click(10 + c.at, 2);
        type(rig, c.keys);
        rig.tickFields();
        std::string const armed = rig.row(2).substr(10, size_t(c.width));
        bool ended = !f->getar();
        if (!ended) type(rig, "\r"); // Return ends the rest
        rig.release();
        rig.tickFields();
        rig.tickFields();
        if (!ended) {
            EXPECT_EQ(armed, c.armed) << c.name;
        }
        EXPECT_EQ(rig.row(2).substr(10, size_t(c.width)), c.shown) << c.name;
        EXPECT_EQ(f->getvs(), CoreAnsx(c.value)) << c.name;
        EXPECT_EQ(f->ischg(), c.changed) << c.name;
        EXPECT_FALSE(f->ischg()) << c.name;
        EXPECT_EQ(captures(rig), (std::vector<int>{1, 0})) << c.name;
    }
}

TEST(CoreDsge, CursorCellAndNothingToShow) {
    DisplayRig rig;
    booted(rig);
    rig.group().reset(2);
    CoreDsed* f = rig.group().gettx(0);
    f->defne(0, 1, 10, 2, 4, false, 0);
    f->setvs(CoreAnsx("abcd"));
    rig.group().gettx(1)->defne(0, 1, 20, 2, 4, false, 0);
    rig.group().gettx(1)->setvs(CoreAnsx("wxyz"));
    rig.tickFields();
    rig.group().gettx(1)->setvs(CoreAnsx("0")); // nothing to show: nothing drawn
    rig.click(11, 2);
    rig.tickFields();
    EXPECT_EQ(rig.fonts(2).substr(10, 4), "0100");
    EXPECT_EQ(rig.fonts(2).substr(20, 4), "3333"); // as page -1 left the cells
    for (bool insert : {false, true}) {
        if (insert) type(rig, "-");
        rig.tickFields();
        DisplayRig::blinkPhase(false); // only an insert-mode cursor blinks
        EXPECT_EQ(rig.row(2).substr(10, 4), insert ? "a cd" : "abcd");
        DisplayRig::blinkPhase(true);
    }
    f->setvs(CoreAnsx("zzzz")); // ignored while armed
    EXPECT_EQ(f->getvs(), CoreAnsx("abcd"));
}

TEST(CoreDsge, ClicksArmOneFieldAndRouteTheKeys) {
    DisplayRig rig;
    booted(rig);
    CoreDsge& g = rig.group();
    g.reset(3);
    g.gettx(0)->defne(0, 1, 0, 0, 4, true, 1); // at (0, 0): never hit
    g.gettx(1)->defne(0, 1, 10, 2, 4, true, 1);
    g.gettx(2)->defne(0, 1, 20, 2, 4, true, 1);
    g.gettx(2)->setrg(10, 2, 4, 1); // armed with field 1 by the same click
    type(rig, "9");                 // queued while inactive: dropped by the next click
    rig.click(0, 0);
    rig.tickFields();
    EXPECT_FALSE(g.gettx(0)->getar());
    EXPECT_TRUE(captures(rig).empty());
    rig.click(11, 2);
    rig.tickFields(); // keys after the arming click go to both armed fields
    type(rig, "5");
    rig.tickFields();
    EXPECT_EQ(rig.row(2).substr(10, 14), "5...      5...");
    rig.click(0, 5); // outside every field: both confirmed
    rig.tickFields();
    EXPECT_EQ(g.gettx(1)->getvi(), 5);
    EXPECT_TRUE(g.gettx(1)->ischg());
    EXPECT_TRUE(g.gettx(2)->ischg());
    EXPECT_EQ(captures(rig), (std::vector<int>{1, 1, 0}));
    g.gettx(2)->setrg(20, 2, 4, 1); // apart again
    rig.click(10, 2);
    type(rig, "1");
    rig.tickFields();
    rig.click(20, 2); // the first field's edit is confirmed, the second armed
    rig.tickFields();
    EXPECT_EQ(g.gettx(1)->getvs(), CoreAnsx("1"));
    EXPECT_TRUE(g.gettx(2)->getar());
    // A page change drops the edit (to the boot error page, which keeps the
    // group as it is).
    CoreDsifPeek::request(rig.display(), 21);
    type(rig, "7");
    rig.tickFields();
    EXPECT_FALSE(g.gettx(2)->getar());
    EXPECT_EQ(g.gettx(2)->getvs(), CoreAnsx("5"));
    EXPECT_EQ(captures(rig), (std::vector<int>{1, 1, 0, 1, 1, 0}));
    CoreDspc::MESSAGELOC left{};
    EXPECT_TRUE(rig.mailbox.getms(CoreDspc::iCkey, &left)); // not taken once inactive
    EXPECT_EQ(left.word1, '7');
    CoreDsifPeek::request(rig.display(), -1);
    rig.tick();
    g.reset(0); // no fields: a pressed click switches capture off
    rig.click(3, 3);
    rig.tickFields();
    EXPECT_EQ(captures(rig).back(), 0);
    EXPECT_EQ(captures(rig).size(), 7u);
    EXPECT_EQ(g.gettx(0), nullptr);
}

// Input the editor posts faster than the ticks: each click is taken a tick
// after the one before it, and the keys between two clicks go to what the
// first one armed.
TEST(CoreDsge, InputPostedBetweenTicksIsTakenInOrder) {
    DisplayRig rig;
    booted(rig);
    CoreDsge& g = rig.group();
    g.reset(2);
    g.gettx(0)->defne(0, 1, 10, 2, 4, true, 1);
    g.gettx(1)->defne(0, 1, 20, 2, 4, true, 1);
    rig.click(10, 2);
    type(rig, "12");
    rig.click(20, 2);
    type(rig, "34");
    rig.click(0, 5);
    for (int k = 0; k < 3; ++k) rig.tickFields();
    EXPECT_EQ(g.gettx(0)->getvi(), 12);
    EXPECT_EQ(g.gettx(1)->getvi(), 34);
    CoreDspc::MESSAGELOC left{};
    EXPECT_FALSE(rig.mailbox.getms(CoreDspc::iCclick, &left));
}
