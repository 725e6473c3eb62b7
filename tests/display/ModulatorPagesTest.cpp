// ctest-labels: threads
// The modulator edit pages on a display rig (LFOs 7, function generators 9,
// envelope followers 10, envelopes 11, dynamics 12): what a visit shows, that
// visits write nothing, and exactly what a turn of the gadget's controls
// writes. Control 0 selects a field, control 1 moves it, control 2 moves the
// number part of a dual field.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tests/display/DisplayRig.h"

namespace {
using WRITE = FakeBean::WRITE;

// One program for every page; comments name the edge each value stands for.
void program(FakeBean& e) {
    e.put('i', 44, "44100");
    // LFO 1: quantisation off, a rate source off the list; LFO 2: equal bounds, a waveform off it.
    for (auto [id, v] : {std::pair{94, "0"}, {95, "20"}, {96, "1.5"}, {97, "5"}, {92, "0"}})
        e.put('d', id, v);
    e.put('d', 93, "90"), e.put('s', 89, "NOSUCH"), e.put('s', 90, "Triang"),
        e.put('s', 91, "LFO2");
    for (auto [id, v] : {std::pair{94, "2"}, {95, "2"}, {96, "2"}, {97, "2"}, {92, "16"}})
        e.put('d', id, v, 1);
    e.put('s', 90, "Wobble", 1);
    // Generators: a source and 0.123456789; constants 1 and -1; a key off the list and 0.
    e.put('s', 110, "LFO3"), e.put('b', 109, "1"), e.put('d', 107, "0.123456789");
    e.put('s', 103, "a+b");
    e.put('b', 108, "1", 1), e.put('d', 106, "1", 1), e.put('b', 109, "1", 1);
    e.put('d', 107, "-1", 1), e.put('s', 110, "NOSUCH", 2), e.put('b', 109, "1", 2);
    // Follower 1: 1000 samples (22.68 ms), an order without a row.
    e.put('h', 112, "2"), e.put('l', 114, "1000"), e.put('l', 115, "4410"), e.put('s', 116, "LFO3");
    e.put('l', 117, "441"), e.put('l', 118, "44100"), e.put('s', 119, "FUN1");
    e.put('d', 113, "0.25"), e.put('s', 252, "LFO4"), e.put('s', 253, "NOSUCH");
    e.put('d', 259, "120"), e.put('i', 260, "3"), e.put('s', 261, "FUN2");
    // Envelope 1: JOIN, 1000-sample times, a curve without a row.
    for (int j = 0; j < 4; ++j) {
        e.put('d', 134, j == 0 ? "-1" : "0.5", 0, j), e.put('l', 137, "1000", 0, j);
        e.put('h', 138, j == 3 ? "10" : std::to_string(j), 0, j);
    }
    e.put('s', 139, "LFO1"), e.put('s', 140, "LFO2"), e.put('d', 135, "0.75");
    e.put('s', 141, "FUN3"), e.put('d', 136, "0.5"), e.put('s', 142, "NOSUCH");
    // Dynamics: processor 2 with a curve without a row.
    e.put('s', 126, "LFO1"), e.put('h', 129, "0"), e.put('s', 127, "LFO2"), e.put('s', 128, "LFO3");
    e.put('h', 130, "1"), e.put('d', 131, "12.5"), e.put('d', 132, "3");
    e.put('s', 126, "FUN1", 1), e.put('h', 129, "1", 1), e.put('h', 130, "12", 1);
    e.put('d', 131, "50", 1);
}

void enter(DisplayRig& rig, short page, bool programmed = true) {
    if (programmed) program(rig.engine);
    rig.engine.put('b', 22, "1");
    rig.build();
    rig.boot();
    rig.tick();
    rig.engine.forget(); // the boot's writes
    CoreDsifPeek::request(rig.display(), page);
    rig.tick();
}

// The engine writes of the pages, without the gadget's control hand-over.
std::vector<WRITE> pageWrites(DisplayRig& rig) {
    std::vector<WRITE> found = rig.engine.writes();
    std::erase_if(found, [](WRITE const& w) { return w.id == 187 || w.id == 190; });
    return found;
}

// The raw control value that puts a choice on row r of n, or a number at
// fraction p of its range.
double rowRaw(int r, int n) { return CoreDstx::toraw((r + 0.5) / n); }
double rangeRaw(double v, double low, double high) {
    return CoreDstx::toraw((v - low) / (high - low));
}

void turn(DisplayRig& rig, short count, short field, int control, double raw) {
    rig.engine.turn(0, CoreDsgt::controlOf(field, count));
    rig.tick();
    rig.engine.turn(control, raw);
    rig.tick();
}

void clickAt(DisplayRig& rig, int column, int row) {
    rig.engine.forget();
    rig.click(column, row);
    rig.tick();
    rig.release();
}

bool redrawn(DisplayRig& rig) { // the entry ran again: the gadget was reset
    for (WRITE const& w : rig.engine.writes())
        if (w.id == 187) return true;
    return false;
}

struct TURN {
    short field;
    int control; // 1: the field, 2: a dual field's number
    double raw;
};
} // namespace

TEST(ModulatorPages, VisitsShowTheProgramAndWriteNothing) {
    struct Case {
        short page;
        std::vector<std::pair<int, std::string>> rows;
    } const cases[] = {
        {7,
         {{0, "  EditMode: LFOs                                    EXIT  "},
          {4, "1:  1.50 Hz  5.00 Hz  -1  OFF      Triang  90. dg  LFO2   "},
          {5, "2:  2.00 Hz  2.00 Hz  16  OFF      Sine    0 dg    OFF    "}}},
        {9,
         {{2, "1:  LFO3              0.12346  (-5.0)   a+b               "},
          {3, "2:  1.00000  ( 0.0)   -1.0000  (-192.6) a                 "},
          {4, "3:  OFF               0        (-6.0)   a                 "}}},
        {10,
         {{1, "                                                  << 1 >> "},
          {3, "Att Min:      23 ms                                       "},
          {4, "Att Max:      100 ms                                      "},
          {10, "Highpass:     120 Hz   O: 2   Highpass Sc:   FUN2         "}}},
        {11,
         {{4, "Start:    JOIN      Attack:   23 ms     LINEAR            "},
          {7, "Sustain:  0.500     Release:  23 ms     LINEAR            "}}},
        {12,
         {{3, "Dynmc Type:   COMP       EXPN                             "},
          {6, "Curve:        ANALOG     LINEAR                           "},
          {7, "Range:        12.5 dB    50.0 dB                          "}}},
    };
    for (Case const& c : cases) {
        DisplayRig rig;
        enter(rig, c.page);
        DisplayRig::SCREEN first = rig.cells();
        for (int visit = 0; visit < 10; ++visit) {
            for (int i = 0; i < 20; ++i) rig.tick();
            CoreDsifPeek::request(rig.display(), -1);
            rig.tick();
            CoreDsifPeek::request(rig.display(), c.page);
            rig.tick();
        }
        EXPECT_EQ(pageWrites(rig), std::vector<WRITE>()) << c.page;
        EXPECT_EQ(rig.cells(), first) << c.page;
        for (auto const& [row, text] : c.rows) EXPECT_EQ(rig.row(row), text) << c.page;
    }
}

TEST(ModulatorPages, ATurnWritesWhatThePageSays) {
    auto curve = [](int j, std::string v) { return WRITE{'h', 138, 0, j, v}; };
    struct Case {
        char const* name;
        short page, count;
        std::vector<TURN> turns;
        std::vector<WRITE> writes; // in order
        bool all;                  // the writes are all there are, else a part of them
    } const cases[] = {
        // clang-format off
        {"min rate alone", 7, 28, {{0, 1, rangeRaw(10, 0, 20)}}, {{'d', 98, 0, 0, "10"}}, true},
        {"quantisation -1, the shapeless LFO set up", 7, 28, {{9, 1, rowRaw(0, 8)}},
         {{'d', 92, 1, 0, "-1"}, {'s', 90, 1, 0, "Sine"}}, true},
        {"rate source", 7, 28, {{3, 1, rowRaw(2, 84)}}, {{'s', 100, 0, 0, "LFO2"}}, true},
        {"waveform", 7, 28, {{4, 1, rowRaw(2, 33)}}, {{'s', 90, 0, 0, "Square"}}, true},
        {"A to a number", 9, 24, {{0, 2, 0.0}},
         {{'s', 104, 0, 0, "0"}, {'s', 105, 0, 0, "0.123456789"}, {'s', 103, 0, 0, "a+b"}}, true},
        {"B edited, A's key kept", 9, 24, {{7, 2, 0.5}},
         {{'s', 104, 2, 0, "NOSUCH"}, {'s', 105, 2, 0, "0.5"}, {'s', 103, 2, 0, ""}}, true},
        {"10 ms, the rest as stored", 10, 13, {{1, 1, rangeRaw(10, 1, 600)}},
         {{'l', 114, 0, 0, "441"}, {'l', 115, 0, 0, "4410"}, {'l', 117, 0, 0, "441"},
          {'l', 118, 0, 0, "44100"}, {'s', 116, 0, 0, "LFO3"}, {'s', 119, 0, 0, "FUN1"},
          {'d', 120, 0, 0, "0.25"}, {'h', 112, 0, 0, "2"}, {'s', 252, 0, 0, "LFO4"},
          {'s', 253, 0, 0, "NOSUCH"}, {'d', 259, 0, 0, "120"}, {'i', 260, 0, 0, "3"},
          {'s', 261, 0, 0, "FUN2"}, {'v', 121, 0, 0, ""}}, true},
        {"minimum above maximum", 10, 13, {{1, 1, rangeRaw(300, 1, 600)}},
         {{'l', 114, 0, 0, "13230"}, {'l', 115, 0, 0, "13230"}, {'v', 121, 0, 0, ""}}, false},
        {"detector off", 10, 13, {{0, 1, rowRaw(9, 10)}}, {{'h', 112, 0, 0, "9"}}, false},
        {"one curve, whole envelope", 11, 18, {{14, 1, rowRaw(1, 10)}},
         {{'d', 134, 0, 0, "-1"}, {'l', 137, 0, 0, "1000"}, curve(0, "1"),
          {'d', 134, 0, 1, "0.5"}, {'l', 137, 0, 1, "1000"}, curve(1, "1"),
          {'d', 134, 0, 2, "0.5"}, {'l', 137, 0, 2, "1000"}, curve(2, "2"),
          {'d', 134, 0, 3, "0.5"}, {'l', 137, 0, 3, "1000"}, curve(3, "10"),
          {'s', 139, 0, 0, "LFO1"}, {'s', 140, 0, 0, "LFO2"}, {'d', 135, 0, 0, "0.75"},
          {'s', 141, 0, 0, "FUN3"}, {'d', 136, 0, 0, "0.5"}, {'s', 142, 0, 0, "NOSUCH"},
          {'v', 143, 0, 0, ""}}, true},
        {"JOIN, a number, JOIN", 11, 18, {{2, 2, 0.0}, {2, 1, 0.9}},
         {{'d', 134, 0, 0, "0.5"}, {'v', 143, 0, 0, ""}, {'d', 134, 0, 0, "-1"},
          {'v', 143, 0, 0, ""}}, false},
        {"processor 2's curve", 12, 14, {{11, 1, rowRaw(3, 10)}},
         {{'h', 129, 1, 0, "1"}, {'s', 127, 1, 0, ""}, {'s', 126, 1, 0, "FUN1"},
          {'s', 128, 1, 0, ""}, {'h', 130, 1, 0, "3"}, {'d', 131, 1, 0, "50"},
          {'d', 132, 1, 0, "0"}, {'v', 133, 1, 0, ""}}, true},
        {"EXPN and COMP", 12, 14, {{1, 1, rowRaw(1, 2)}, {8, 1, rowRaw(0, 2)}},
         {{'h', 129, 0, 0, "1"}, {'h', 129, 1, 0, "0"}}, false},
    }; // clang-format on
    for (Case const& c : cases) {
        DisplayRig rig;
        enter(rig, c.page);
        for (TURN const& t : c.turns) turn(rig, c.count, t.field, t.control, t.raw);
        std::vector<WRITE> seen = pageWrites(rig);
        if (c.all) {
            EXPECT_EQ(seen, c.writes) << c.name;
            continue;
        }
        auto at = seen.begin(); // each expected write after the one before
        for (WRITE const& w : c.writes) {
            at = std::find(at, seen.end(), w);
            EXPECT_NE(at, seen.end()) << c.name << ": " << w;
        }
    }
}

TEST(ModulatorPages, RefreshRaisedMaximumsAndButtons) {
    DisplayRig lfo;
    enter(lfo, 7);
    lfo.engine.put('d', 96, "3"), lfo.engine.put('d', 97, "7");
    lfo.tick(); // no click: both rate fields follow the engine
    EXPECT_EQ(lfo.gadget().gettx(0)->getvl(), 3.0);
    EXPECT_EQ(lfo.gadget().gettx(1)->getvl(), 7.0);
    turn(lfo, 28, 0, 1, rangeRaw(10, 0, 20));
    EXPECT_EQ(lfo.gadget().gettx(1)->getvl(), 10.0); // raised in the same tick
    for (auto [column, page] : {std::pair{49, 7}, {50, 0}, {57, 0}, {20, 7}}) {
        clickAt(lfo, column, 0);
        EXPECT_EQ(lfo.requested(), page) << column;
        CoreDsifPeek::request(lfo.display(), 7);
        lfo.tick();
    }

    DisplayRig follower;
    enter(follower, 10);
    turn(follower, 13, 1, 1, rangeRaw(300, 1, 600));
    follower.tick(); // the raised maximum is drawn with the fields
    EXPECT_EQ(follower.row(3).substr(14, 6), "300 ms");
    EXPECT_EQ(follower.row(4).substr(14, 6), "300 ms");
    follower.engine.put('l', 114, "4410", 4);
    // Steps of "<<" and ">>": column, follower shown after it, redrawn.
    struct STEP {
        int column;
        char const* shown;
        bool redraw;
    } const steps[] = {{50, "1 ", false}, {55, "2 ", true},  {55, "3 ", true}, {55, "4 ", true},
                       {55, "5 ", true},  {55, "5 ", false}, {50, "4 ", true}};
    for (STEP const& step : steps) {
        clickAt(follower, step.column, 1);
        follower.tick();
        EXPECT_EQ(follower.row(1).substr(53, 2), step.shown);
        EXPECT_EQ(redrawn(follower), step.redraw) << step.shown;
        if (std::string(step.shown) == "5 ") { // follower 5's own minimum attack
            EXPECT_EQ(follower.row(3).substr(14, 6), "100 ms");
        }
    }

    DisplayRig envelope;
    enter(envelope, 11);
    for (STEP const& step : {STEP{50, "1 ", false}, {55, "2 ", true}, {55, "2 ", false}}) {
        clickAt(envelope, step.column, 1);
        envelope.tick();
        EXPECT_EQ(envelope.row(1).substr(53, 2), step.shown);
        EXPECT_EQ(redrawn(envelope), step.redraw) << step.shown;
    }
}

TEST(ModulatorPages, AnEmptyEngineIsSafe) {
    // Sample rate 0, LFO bounds 0 and 0, empty texts: every field of every
    // page turned both ways, under the sanitizers.
    for (auto [page, count] :
         {std::pair<short, short>{7, 28}, {9, 24}, {10, 13}, {11, 18}, {12, 14}}) {
        DisplayRig rig;
        enter(rig, page, false);
        for (short field = 0; field < count; ++field) {
            turn(rig, count, field, 1, 0.3);
            turn(rig, count, field, 2, -0.7);
        }
        for (int k = 0; k < 3; ++k) EXPECT_LE(std::abs(rig.engine.raw(k, false)), 1.0);
        for (WRITE const& w : pageWrites(rig)) EXPECT_TRUE(w.element >= 0 && w.element < 8) << w;
    }
}
