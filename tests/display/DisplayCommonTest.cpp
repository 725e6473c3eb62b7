// ctest-labels: threads
// The input handling every page from -1 to 19 shares, on a display rig: the
// selected slot, bypass presses, program choices, wheel steps, clicks on the
// button row and the extra zone (the held flag: CoreDsgtTest's drag).
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "tests/display/DisplayRig.h"

namespace {
using WRITE = FakeBean::WRITE;

void booted(DisplayRig& rig, bool withHost = true) {
    rig.engine.put('b', 22, "1");
    rig.build(withHost);
    rig.boot();
    rig.tick();
}

std::vector<WRITE> writesOf(DisplayRig& rig, int id) {
    std::vector<WRITE> found;
    for (WRITE const& w : rig.engine.writes())
        if (w.id == id) found.push_back(w);
    return found;
}
} // namespace

TEST(DisplayCommon, MailboxRecordsOfOneTick) {
    struct Case {
        char const* name;
        std::vector<int> bypass, programs, wheel; // records posted (bypass: count)
        std::vector<WRITE> writes;                // writes of 258, 82 and 225
        std::string newprogram;                   // posted load, "" none
        bool menuclick = false;                   // PROG, the page's own menu entry, clicked too
    } const cases[] = {
        {"three bypass presses toggle once", {3}, {}, {}, {{'b', 258, 0, 0, "1"}}, ""},
        {"+1, +1, -2 sum to nothing", {0}, {}, {1, 1, -2}, {}, ""},
        {"wheel steps are summed", {0}, {}, {3, -1}, {{'i', 82, 0, 0, "2"}}, ""},
        {"the sum is held to the int range",
         {0},
         {},
         {INT_MAX, INT_MAX, 5},
         {{'i', 82, 0, 0, std::to_string(INT_MAX)}},
         ""},
        {"-1 posts nothing", {0}, {-1, 12}, {}, {}, ""},
        {"beyond the last slot posts nothing", {0}, {10000}, {}, {}, ""},
        {"of two choices the older loads", {0}, {12, 34}, {}, {{'v', 225, 0, 0, ""}}, "12"},
        {"a click on the page's own entry keeps the choice",
         {0},
         {12},
         {},
         {{'v', 225, 0, 0, ""}},
         "12",
         true},
    };
    for (Case const& c : cases) {
        DisplayRig rig;
        booted(rig);
        rig.engine.put('b', 258, "0");
        // Parameter row 1 shows control 1 and is chosen: the wheel's target.
        rig.engine.put('b', CoreBnid::iCmodshown, "1");
        rig.engine.put('s', CoreBnid::iCmodprelabel, "1");
        rig.click(2, 9), rig.tick(), rig.release(), rig.tick();
        rig.engine.forget();
        for (int i = 0; i < c.bypass[0]; ++i) rig.bypass();
        for (int index : c.programs) rig.choose(index);
        for (int steps : c.wheel) rig.wheel(steps);
        if (c.menuclick) rig.click(3, 13);
        rig.tick();
        rig.release();
        std::vector<WRITE> seen;
        for (WRITE const& w : rig.engine.writes())
            if (w.id == 258 || w.id == 82 || w.id == 225) seen.push_back(w);
        EXPECT_EQ(seen, c.writes) << c.name;
        EXPECT_EQ(rig.engine.var("NEWPROGRAM"), c.newprogram) << c.name;
        EXPECT_EQ(rig.requested(), c.newprogram.empty() ? 0 : 22) << c.name;
        if (c.newprogram.empty()) continue;
        EXPECT_EQ(rig.engine.var("ACTION"), "LIST");
        ASSERT_TRUE(rig.runBatch());
        EXPECT_EQ(rig.page(), 1); // the program list page
        rig.tick();               // the newer choice was dropped
        EXPECT_EQ(writesOf(rig, 225).size(), 1u);
    }
}

// Row 7 after a load fell back, for reasons the plug-in's own cases do not reach.
TEST(DisplayCommon, AFailedLoadSaysWhyInAFewWords) {
    std::pair<char const*, char const*> const rows[] = {
        {"sat2.wav: not a RIFF/WAVE file", "SAT2.WAV NOT A WAV"},
        {"MY RM.WAV: fmt chunk too long", "MY RM.WAV NOT LOADED"}, // 36 columns
        {"/data/programs/ROOM.XML: FADEOUT 61 s is over 60 s", "ROOM.XML OVER 60 S"},
        {"program file not found: /data/programs/LOST.V2P", "LOST.V2P MISSING"},
        {"/data/Programs/ARC.V2P: not an archive", "ARC.V2P NOT ARCHIVE"}, // there, garbage
        {"/data/programs/BIG.XML: File too large", "BIG.XML TOO LARGE"},
        {"BIG.CSV: cannot be opened: File too large", "BIG.CSV TOO LARGE"},
        {"SAT2.WAV: cannot be opened: missing", "SAT2.WAV MISSING"},
        {"", "NOT LOADED"}};
    DisplayRig rig;
    booted(rig);
    rig.engine.put('b', 263, "1"), rig.engine.put('i', 264, "12");
    for (auto const& [reason, line] : rows) {
        rig.engine.put('s', 265, reason);
        rig.tick();
        std::string const row = rig.row(7);
        EXPECT_EQ(row.substr(0, row.find_last_not_of(' ') + 1),
                  "SLOT 12 FAILED: " + std::string(line));
    }
}

TEST(DisplayCommon, SelectedSlotAndMousePosition) {
    std::pair<std::string, std::pair<int, int>> const slots[] = {
        {"1234", {12, 34}}, {"-5", {0, 0}}, {"20000", {99, 99}}};
    DisplayRig rig;
    booted(rig);
    for (auto const& [slot, expected] : slots) {
        rig.engine.put('i', 67, slot);
        rig.tick();
        EXPECT_EQ(CoreDsifPeek::bankprogram(rig.display()), expected) << slot;
    }
    rig.host.mouse(123, 45, 0);
    rig.tick();
    EXPECT_EQ(CoreDsifPeek::mouse(rig.display()), std::make_pair(123, 45));
}

TEST(DisplayCommon, ButtonRowClicks) {
    struct Click {
        int column, row;
        short page; // on the next tick
    } const clicks[] = {
        {15, 13, 5}, // KERN on menu 0
        {5, 12, 5},  // another row: not the menu
        {15, 13, 5}, // the current page's own button
        {59, 13, 5}, // beyond the row
        {5, 13, 0},  // PROG
        {38, 13, 3}, // MIDI: columns 30 to 39
        {55, 13, 3}, // item 5 of menu 0 is blank
    };
    DisplayRig rig;
    booted(rig);
    for (Click const& c : clicks) {
        rig.click(c.column, c.row);
        rig.tick();
        rig.release();
        rig.tick();
        EXPECT_EQ(rig.page(), c.page) << c.column << "," << c.row;
    }
    // Posted between two ticks, clicks are each taken, one a tick, in order.
    for (Click const& c : clicks) rig.click(c.column, c.row);
    for (Click const& c : clicks) {
        rig.tick();
        EXPECT_EQ(rig.requested(), c.page) << c.column << "," << c.row;
    }
    CoreDsifPeek::request(rig.display(), 6); // menu 1 holds eight pages
    rig.tick();
    std::string const scrolls[] = {"  <More     GLOB      LFOS      FUNS      EVFS      More> ",
                                   "  <More     LFOS      FUNS      EVFS      ENVS      DYNS  ",
                                   "  <More     GLOB      LFOS      FUNS      EVFS      More> ",
                                   ". MEMO      PRMS      GLOB      LFOS      FUNS      More> "};
    int const columns[] = {55, 55, 2, 2};
    for (int i = 0; i < 4; ++i) {
        rig.click(columns[i], 13);
        rig.tick();
        EXPECT_EQ(rig.row(13), scrolls[i]) << i;
        EXPECT_EQ(rig.requested(), 6) << i;
    }
}

TEST(DisplayCommon, ExtraZoneShowsTheMixControlsModulators) {
    DisplayRig rig;
    booted(rig);
    struct Entry {
        int modulator; // carried by control k, -1 none
        char const* label;
        char const* value;
        char const* unit;
    } const entries[8] = {
        {0, "Cutoff frequency", "12.5", "Hz"},
        {1, "gain", "1234.5", "dB"},
        {-1, "", "", ""},
        {16, "x", "1", "u"},
        {3, "Mix", "-0.004", "%"},
        {4, "Q", "99999.9", "a long unit"},
        {5, "Rate", "0.125", ""},
        {6, "Very long", "-12345", "ms"},
    };
    for (int k = 0; k < 8; ++k) {
        Entry const& e = entries[k];
        if (e.modulator != -1) rig.engine.put('h', 194, std::to_string(e.modulator), k);
        if (e.modulator < 0 || e.modulator > 15) continue;
        rig.engine.put('s', 198, e.label, e.modulator);
        rig.engine.put('d', 200, e.value, e.modulator);
        rig.engine.put('s', 203, e.unit, e.modulator);
    }
    rig.tick();
    // Entries start at columns 0, 7, 13, 19, 26, 32, 38 and 44.
    // Labels abbreviated and upper-cased, values "%.2f" cut to 5 (4 before
    // a point), units cut to 5, each centred in 5 from columns 0, 7, 13, 19,
    // 26, 32, 38 and 44; "-" for no modulator.
    EXPECT_EQ(rig.row(14), "CUTOF  GAIN    -     -     MIX    Q   RATE  VERY          ");
    EXPECT_EQ(rig.row(15), "12.50  1234               -0.00 99999 0.12  -1234         ");
    EXPECT_EQ(rig.row(16), " Hz     dB                  %   a lon        ms           ");
    rig.gadget().reset(0, true, true, 1); // touch mode: every entry "-"
    rig.tick();
    EXPECT_EQ(rig.row(14), "  -      -     -     -      -     -     -     -           ");
    EXPECT_EQ(rig.row(15), std::string(58, ' '));
}
