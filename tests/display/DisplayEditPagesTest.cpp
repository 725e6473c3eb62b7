// ctest-labels: threads
// The kernel (5), memory (6) and global (8) pages on a display rig: what they
// show, that viewing writes nothing, and that each user action writes exactly
// what it changed (batches in their variable order), read from the fake
// engine's write log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "modulation/DataSrce.h"
#include "tests/display/DisplayRig.h"

namespace {
using WRITE = FakeBean::WRITE;

void enter(DisplayRig& rig, short page) {
    rig.engine.put('b', 22, "1");
    rig.build();
    rig.boot();
    CoreDsifPeek::request(rig.display(), page);
    rig.tick();
    ASSERT_EQ(rig.page(), page);
    rig.engine.forget(); // the boot's steps
}

// The write log without the gadget's control hand-over (187, 190).
std::vector<WRITE> changes(DisplayRig& rig) {
    std::vector<WRITE> found;
    for (WRITE const& w : rig.engine.writes())
        if (w.id != 187 && w.id != 190) found.push_back(w);
    return found;
}

// A batch as the bus sees it: 225, then each variable's name and value.
std::vector<WRITE> batch(std::vector<std::pair<std::string, std::string>> const& variables) {
    std::vector<WRITE> w{{'v', 225, 0, 0, ""}};
    for (auto const& [name, value] : variables) {
        w.push_back({'s', 223, 0, 0, name});
        w.push_back({'s', 224, 0, 0, value});
    }
    return w;
}

// The user selects gadget field index of count (control 0) and moves it to
// position (control 1); one tick each.
void move(DisplayRig& rig, short index, short count, double position) {
    rig.engine.turn(0, CoreDsgt::controlOf(index, count));
    rig.tick();
    rig.engine.turn(1, CoreDstx::toraw(position));
    rig.tick();
}
double entry(int e, int n) { return (e + 0.5) / n; }

// A click (with keys typed in its tick); the button stays held.
void press(DisplayRig& rig, int column, int row, std::string const& keys = "") {
    rig.click(column, row);
    for (char c : keys) rig.key(static_cast<unsigned char>(c));
    rig.tick();
}

std::string cells(DisplayRig& rig, int row, int column, int n) {
    return rig.row(row).substr(size_t(column), size_t(n));
}
} // namespace

TEST(DisplayEditPages, ViewingWritesNothing) {
    DataSrce catalogue;
    std::vector<CoreAnsx> labels(84), keys(84);
    catalogue.getgs(labels.data(), keys.data());
    for (short page : {5, 6, 8}) {
        DisplayRig rig;
        FakeBean& e = rig.engine;
        e.put('l', 10, "4007"), e.put('b', 11, "1"), e.put('l', 7, "2500"), e.put('d', 19, "0");
        e.put('h', 55, "3"), e.put('h', 54, "8"), e.put('d', 14, "2"), e.put('b', 58, "1");
        e.put('s', 9, "NOSUCHKEY"), e.put('s', 13, keys[5].c_str()), e.put('s', 39, "");
        e.put('b', 192, "1", 3), e.put('d', 193, "0.3", 3), e.put('d', 0, "2");
        e.put('i', 67, "105"), e.name(105, "Warm"), e.put('s', 56, "Warm");
        enter(rig, page);
        for (int visit = 0; visit < 10; ++visit) {
            CoreDsifPeek::request(rig.display(), visit % 2 ? page : short(-1));
            for (int i = 0; i < 20; ++i) rig.tick();
        }
        EXPECT_EQ(changes(rig), std::vector<WRITE>{}) << "page " << page;
    }
}

TEST(DisplayEditPages, MemoryButtons) {
    auto overwrite = batch({{"OLDPROGRAM", "105"},
                            {"NEWPROGRAM", "301"},
                            {"MOVED", "MOVED:"},
                            {"ACTION", "MEMO"},
                            {"NEXTSTEP", "OVERWRITEMEMORYLOC"}});
    overwrite.insert(overwrite.begin(), WRITE{'i', 67, 0, 0, "301"});
    struct Case {
        char const* name;
        int p, s, button; // selected slot, browsed slot, button row (2 OVWRTE, 3 DELETE)
        std::vector<WRITE> writes;
        std::vector<int> used; // used slots after the batch
    } const cases[] = {
        {"overwrite from slot 0", 0, 107, 2, {}, {0, 105, 107}},
        {"overwrite onto slot 0", 105, 0, 2, {}, {0, 105, 107}},
        {"overwrite onto itself", 105, 105, 2, {}, {0, 105, 107}},
        {"delete slot 0", 105, 0, 3, {}, {0, 105, 107}},
        {"overwrite moves", 105, 301, 2, overwrite, {0, 107, 301}},
        {"delete another slot",
         105,
         107,
         3,
         batch({{"PROG", "107"},
                {"DELETED", "DELETED:"},
                {"ACTION", "MEMO"},
                {"NEXTSTEP", "DELETEMEMORYLOC"}}),
         {0, 105}},
        {"delete the loaded slot loads the next",
         105,
         105,
         3,
         batch({{"OLDPROGRAM", "105"},
                {"DELETED", "DELETED:"},
                {"LOADED", "LOADED:"},
                {"LOADING", "LOADING:"},
                {"NEWPROGRAM", "107"},
                {"ACTION", "MEMO"},
                {"NEXTSTEP", "REPLACEMEMORYLOC"}}),
         {0, 107}},
    };
    for (Case const& k : cases) {
        DisplayRig rig;
        rig.engine.name(0, "Init"), rig.engine.name(105, "Warm"), rig.engine.name(107, "Cold");
        rig.engine.put('i', 67, std::to_string(k.p));
        enter(rig, 6);
        move(rig, 1, 2, entry(k.s / 100, 100));
        move(rig, 0, 2, entry(k.s % 100, 100));
        EXPECT_EQ(CoreDsifPeek::bankprogram(rig.display()), std::make_pair(k.s / 100, k.s % 100));
        if (k.s == 301) { // an empty slot, in the double-size font
            EXPECT_EQ(cells(rig, 2, 14, 16), "< e m p t y >   ") << k.name;
            EXPECT_EQ(rig.fonts(2)[14], '2');
        }
        CoreDsifPeek::menurebuild(rig.display(), false);
        rig.engine.forget();
        press(rig, 52, k.button);
        EXPECT_EQ(changes(rig), k.writes) << k.name;
        EXPECT_EQ(CoreDsifPeek::menurebuild(rig.display()), !k.writes.empty()) << k.name;
        ASSERT_TRUE(rig.runBatch()) << k.name;
        EXPECT_EQ(rig.page(), 6) << k.name;
        for (int slot : {0, 105, 107, 301}) {
            CoreBean::BEANSTRUCT at{slot, 0};
            bool used = std::count(k.used.begin(), k.used.end(), slot) > 0;
            EXPECT_EQ(rig.engine.getbs(167, &at) != CoreAnsx("0"), used)
                << k.name << " slot " << slot;
        }
    }
}

TEST(DisplayEditPages, MemoryTextsGoOutTrimmed) {
    DisplayRig rig;
    rig.engine.name(105, "Old"), rig.engine.put('i', 67, "105"), rig.engine.put('s', 56, "Old");
    rig.engine.put('s', 176, "x", 0, 1), rig.engine.put('s', 76, "Old_01");
    enter(rig, 6);
    EXPECT_EQ(cells(rig, 6, 8, 15), "    / X   /    ");
    EXPECT_EQ(cells(rig, 9, 0, 4), "    "); // no new name before a rename
    struct Step {
        int column, row;
        char const* keys;
        std::vector<WRITE> writes;
        char const* stale = ""; // keys posted and ticked while no field is armed
    } const steps[] = {
        {8, 5, "Warm\r", {{'s', 56, 0, 0, "Warm"}, {'s', 167, 105, 0, "Warm"}}},
        {14, 6, "ab\r", {{'s', 176, 0, 1, "AB"}, {'s', 170, 105, 1, "AB"}}},
        {20, 6, "cd\r", {{'s', 176, 0, 2, "CD"}, {'s', 170, 105, 2, "CD"}}, "QQ"},
        {8, 7, "Dark\r", {{'s', 64, 0, 0, "Dark"}, {'s', 177, 105, 0, "Dark"}}},
        {8, 9, "......\r", {}}, // the new name emptied
        {50, 9, "", {}},        // saving a version without a name posts nothing
        {8, 9, "Warm2\r", {}},
    };
    for (Step const& s : steps) {
        for (char const* k = s.stale; *k != 0; ++k) rig.key(static_cast<unsigned char>(*k));
        if (*s.stale != 0) rig.tick();
        rig.engine.forget();
        CoreDsifPeek::menurebuild(rig.display(), false);
        press(rig, s.column, s.row, s.keys);
        rig.release();
        rig.tick();
        EXPECT_EQ(changes(rig), s.writes) << s.keys;
        // A changed name, category or description is the pop-up's to show.
        EXPECT_EQ(CoreDsifPeek::menurebuild(rig.display()), !s.writes.empty()) << s.keys;
    }
    EXPECT_EQ(cells(rig, 6, 14, 3), "AB ");
    EXPECT_EQ(cells(rig, 9, 0, 4), "NEW:");
    rig.engine.forget();
    press(rig, 52, 9);
    EXPECT_EQ(changes(rig), batch({{"SAVING", "SAVING..."},
                                   {"VERSIONINGNAME", "Warm2"},
                                   {"ACTION", "PROG"},
                                   {"NEXTSTEP", "VERSIONING"}}));
    EXPECT_TRUE(CoreDsifPeek::menurebuild(rig.display()));
    ASSERT_TRUE(rig.runBatch());
    EXPECT_EQ(rig.page(), 0);
    EXPECT_EQ(rig.engine.versions(), std::vector<std::string>{"Warm2"});
}

TEST(DisplayEditPages, KernelMarkersAndSwitches) {
    // Marker at 8, switch at 23, marker at 26 of a row.
    auto markers = [](DisplayRig& rig, int row) {
        return cells(rig, row, 8, 3) + "|" + cells(rig, row, 23, 1) + "|" + cells(rig, row, 26, 3);
    };
    struct Case {
        int n;
        char const* even; // row 6
        char const* odd;  // row 7
    } const cases[] = {
        {1, "   | |   ", "   | |   "},
        {2, "(1)|>|   ", "   | |   "},
        {6, "(3)|>|   ", "   |<|(2)"},
        {7, "(3)|>|   ", "   |<|(3)"},
    };
    for (Case const& c : cases) {
        DisplayRig rig;
        rig.engine.kernelslots(c.n);
        rig.engine.put('h', 74, "-1"), rig.engine.put('h', 75, std::to_string(c.n));
        for (int j = 0; j < 8; ++j) rig.engine.put('b', 162, j == 2 ? "0" : "1", j);
        enter(rig, 5);
        rig.tick();
        EXPECT_EQ(markers(rig, 5), "(1)|>|   ") << c.n;
        EXPECT_EQ(markers(rig, 6), c.even) << c.n;
        EXPECT_EQ(markers(rig, 7), c.odd) << c.n;
    }

    DisplayRig rig;
    FakeBean& e = rig.engine;
    e.put('b', 27, "1"), e.put('i', 67, "5"), e.put('s', 56, "warm"), e.put('h', 75, "6");
    e.put('s', 64, "0123456789012345678901234567890123456789"), e.put('d', 160, "100000", 1, 0);
    e.put('b', 162, "1", 1), e.put('h', 54, "8"), e.put('h', 55, "12"), e.put('h', 43, "10");
    enter(rig, 5);
    rig.tick();
    EXPECT_EQ(markers(rig, 5), "(1)| |(1)");
    EXPECT_EQ(cells(rig, 1, 13, 8), "8 (7th) "); // HDIM above the list: its last entry
    {
        // A stored limit above the harmonic maximum runs, and is offered, as it.
        DisplayRig capped;
        capped.engine.put('h', 54, "12"), capped.engine.put('h', 55, "12");
        capped.engine.put('h', 43, "10");
        enter(capped, 5);
        capped.tick();
        EXPECT_EQ(cells(capped, 1, 13, 8), "10 (9th)");
    }
    EXPECT_EQ(rig.row(12), "  5 WARM    01234567890123456789012345678901" + std::string(14, ' '));
    move(rig, 2, 10, 0.25); // even group, time domain: 25 ms to slots 1, 3 and 5
    EXPECT_EQ(changes(rig), (std::vector<WRITE>{{'d', 161, 1, 0, "25000"},
                                                {'d', 161, 3, 0, "25000"},
                                                {'d', 161, 5, 0, "25000"}}));
    struct Press {
        int column, row;
        std::vector<WRITE> writes;
    } const presses[] = {
        {23,
         6,
         {{'b', 165, 1, 0, "1"},
          {'b', 165, 3, 0, "1"},
          {'b', 165, 5, 0, "1"},
          {'h', 50, 0, 0, "-1"}}},
        {55, 1, {{'b', 23, 0, 0, "1"}, {'h', 50, 0, 0, "-1"}}},
        {51, 2,
         batch({{"HYBRID", "HYBRID LOADING..."},
                {"LOADED", "LOADED:"},
                {"LOADING", "LOADING:"},
                {"NEWPROGRAM", "5"},
                {"BVFORCEHYBRID", ""},
                {"ACTION", "KERN"},
                {"NEXTSTEP", "CHANGEHYBRID"}})},
        {51, 2,
         batch({{"HYBRID", "HYBRID LOADING..."},
                {"LOADED", "LOADED:"},
                {"LOADING", "LOADING:"},
                {"NEWPROGRAM", "5"},
                {"BVFORCEHYBRID", "1"},
                {"ACTION", "KERN"},
                {"NEXTSTEP", "CHANGEHYBRID"}})},
        {41, 1,
         batch({{"MONO", "MONO LOADING..."},
                {"LOADED", "LOADED:"},
                {"LOADING", "LOADING:"},
                {"NEWPROGRAM", "5"},
                {"BVFORCEMONO", "1"},
                {"ACTION", "KERN"},
                {"NEXTSTEP", "CHANGEMONO"}})},
        {40, 2, batch({{"SAVING", "SAVING..."}, {"ACTION", "KERN"}, {"NEXTSTEP", "SAVEPROGRAM"}})},
    };
    bool hybrid = true;
    for (Press const& p : presses) {
        rig.engine.forget();
        press(rig, p.column, p.row);
        EXPECT_EQ(changes(rig), p.writes) << p.column << "," << p.row;
        rig.release();
        if (rig.requested() != 22) continue;
        ASSERT_TRUE(rig.runBatch());
        EXPECT_EQ(rig.page(), 5);
        if (p.row == 2 && p.column == 51) { // forcing switched both ways
            hybrid = !hybrid;
            EXPECT_EQ(rig.engine.getbb(27, nullptr), hybrid);
        }
    }
}

TEST(DisplayEditPages, GlobalConversionsAndRules) {
    struct Case {
        char const* name;
        short field;
        double position;
        WRITE written; // compared with a tolerance for doubles
        double tolerance;
    } const cases[] = {
        {"0 dB", 0, 0.5, {'d', 0, 0, 0, "1"}, 0},
        {"6.0206 dB", 1, (6.0206 + 40) / 80, {'d', 1, 0, 0, "2"}, 1e-4},
        {"dry at its bottom", 8, 0, {'d', 12, 0, 0, FakeBean::exact(std::pow(10, -192.5 / 20))}, 0},
        {"50 %", 5, 0.5, {'d', 8, 0, 0, "0.5"}, 0},
        {"4.007 ms", 7, 0.4007, {'l', 7, 0, 0, "4007"}, 0},
        {"rate on: written at once", 3, 0.75, {'b', 11, 0, 0, "1"}, 0},
        {"smoothing off passes -1", 4, entry(0, 31), {'r', 14, -1, 0, "1"}, 0},
        {"mix state only: value again, valid", 12, 0.75, {'d', 191, 2, 0, "0.5"}, 0},
        {"mix state only: value again, not valid", 13, 0.25, {'d', 189, 3, 0, "-0.5"}, 0},
    };
    for (Case const& c : cases) {
        DisplayRig rig;
        FakeBean& e = rig.engine;
        e.put('d', 0, "2"), e.put('d', 1, "1"), e.put('d', 19, "10000"), e.put('l', 10, "4007");
        e.put('d', 14, "3"), e.put('d', 12, "1"), e.put('d', 266, "4007"); // the lookahead played
        CoreBean::BEANSTRUCT second{2, 0}, third{3, 0};
        e.setbd(193, 0.75, &second); // not valid, raw 0.5
        e.setbd(191, -0.5, &third);  // valid
        enter(rig, 8);
        EXPECT_NEAR(rig.gadget().gettx(0)->getvl(), 6.0206, 1e-4); // 2.0 read as dB
        move(rig, c.field, 27, c.position);
        std::vector<WRITE> seen = changes(rig);
        ASSERT_FALSE(seen.empty()) << c.name;
        WRITE const& w = seen[0];
        EXPECT_EQ(std::make_tuple(w.kind, w.id, w.element),
                  std::make_tuple(c.written.kind, c.written.id, c.written.element))
            << c.name;
        EXPECT_NEAR(std::stod(w.value), std::stod(c.written.value), c.tolerance) << c.name;
        if (c.field == 3) // the rate follows at once
            EXPECT_EQ(seen, (std::vector<WRITE>{c.written, {'l', 10, 0, 0, "4007"}}));
        else
            EXPECT_EQ(seen.size(), 1u) << c.name;
    }

    DisplayRig rig;
    rig.engine.put('l', 10, "250000"), rig.engine.put('b', 11, "1"), rig.engine.put('i', 67, "42");
    rig.engine.smoothable(false);
    enter(rig, 8);
    // The period that plays, past the drag's top.
    EXPECT_EQ(cells(rig, 3, 10, 8), "250.0 ms");
    move(rig, 3, 27, 0.25); // own rate off: 10 stays
    EXPECT_EQ(changes(rig), (std::vector<WRITE>{{'b', 11, 0, 0, "0"}}));
    rig.engine.forget();
    move(rig, 4, 27, entry(1, 31)); // "LINEAR" cannot switch live: the program reloads
    EXPECT_EQ(changes(rig), [] {
        auto w = batch({{"LOADED", "LOADED:"},
                        {"LOADING", "LOADING:"},
                        {"NEWPROGRAM", "42"},
                        {"ACTION", "GLOB"},
                        {"NEXTSTEP", "READPROGRAM"}});
        w.insert(w.begin(), WRITE{'r', 14, 0, 0, "0"});
        return w;
    }());
    ASSERT_TRUE(rig.runBatch());
    EXPECT_EQ(rig.page(), 8);
}
