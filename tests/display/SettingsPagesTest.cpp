// ctest-labels: threads
// The master (2), MIDI (3), disk (4), parameter modulator list (13) and
// settings (14), about (15) and test (16) pages on a display rig: what a
// visit shows and that it writes nothing, and exactly what a user's change
// writes. Control 0 selects a gadget field, control 1 moves it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "modulation/DataSrce.h"
#include "tests/display/DisplayRig.h"
#include "tests/support/TempDir.h"

namespace {
using WRITE = FakeBean::WRITE;

// A program and master settings every page shows; comments name the edges.
void settings(FakeBean& e, std::string const& skin) {
    e.put('b', 22, "1"), e.put('s', 47, "7.1"), e.put('l', 10, "12345"), e.put('i', 44, "44100");
    e.put('h', 48, "2"), e.put('h', 32, "1"), e.put('h', 45, "3"), e.put('h', 50, "6");
    e.put('l', 158, "12000", 0, 0), e.put('h', 51, "7"), e.put('l', 158, "1500000", 0, 1);
    e.put('d', 36, "4000000"), e.put('l', 52, "1001"), e.put('l', 65, "40000");
    e.put('l', 70, "1000"), e.put('d', 19, "2500"), e.put('h', 54, "4"), e.put('h', 43, "8");
    e.put('l', 30, "0"), e.put('b', 20, "1"), e.put('b', 35, "1"), e.put('h', 38, "2");
    e.put('l', 236, "100"), e.put('s', 62, skin); // a DSP buffer off the list
    e.put('d', 34, "120.5"), e.put('l', 49, "512"), e.put('i', 85, "1023");
    e.put('i', 257, "1073741824"), e.put('d', 5, "20971520"), e.put('s', 40, "");
    // Modulators: 1 "Cutoff Frequency" on MIX1 (before 5, also MIX1), 2 hidden on MIX2.
    for (int p : {1, 4, 5, 9}) e.put('b', 196, "1", p);
    e.put('s', 197, "1", 1), e.put('s', 198, "Cutoff Frequency", 1), e.put('s', 203, "Hz", 1);
    e.put('s', 197, "1", 5), e.put('s', 198, "Other", 5), e.put('d', 199, "0.5", 1);
    e.put('d', 200, "440", 1), e.put('s', 197, "2", 2), e.put('s', 198, "Hidden", 2);
    e.put('s', 204, "MULTIPLY", 3), e.put('s', 198, "Drive", 4), e.put('s', 202, "x", 4);
    // Modulator 3's settings: A the constant 0.123456789, B a source, odd bounds.
    e.put('s', 197, "3", 3), e.put('s', 203, "dB", 3), e.put('s', 201, "", 3);
    e.put('b', 206, "1", 3), e.put('d', 208, "0.123456789", 3), e.put('s', 211, "LFO2", 3);
    e.put('d', 214, "0.1", 3), e.put('d', 215, "1234567.891", 3), e.put('d', 216, "-0.3", 3);
    e.put('d', 217, "2", 3);
    FakeBean::MIDISLOT slot;
    slot.status = 0xB0, slot.controller = 7, slot.channel = 1, slot.value = 99;
    e.midislot(0, slot);
}

struct Rig {
    TempDir folder{"vorlanskins"};
    DisplayRig rig;
    explicit Rig(std::string const& current = "Light.V2S") {
        for (char const* name : {"Dark.V2S", "Light.V2S", "notes.txt"})
            std::ofstream(folder.file(name)) << "x";
        std::filesystem::create_directory(folder.file("Zeta"));
        settings(rig.engine, folder.file(current));
        rig.skin.getsk()->fontnames = {CoreAnsx("WHITE"), CoreAnsx("AMBER")};
        rig.skin.getsk()->fontcount = 2;
        rig.build();
        rig.boot();
        rig.tick();
    }
    void enter(short page) {
        rig.engine.forget();
        CoreDsifPeek::request(rig.display(), page);
        rig.tick();
    }
};

// What the pages write, without the gadget's control hand-over, slot
// selections and modulator refreshes.
std::vector<WRITE> settingWrites(DisplayRig& rig) {
    std::vector<WRITE> found = rig.engine.writes();
    std::erase_if(found, [](WRITE const& w) {
        return w.id == 187 || w.id == 190 || w.id == 180 || w.id == 195;
    });
    return found;
}

void turn(DisplayRig& rig, short count, short field, double position) {
    rig.engine.turn(0, CoreDsgt::controlOf(field, count));
    rig.tick();
    rig.engine.forget();
    rig.engine.turn(1, CoreDstx::toraw(position));
    rig.tick();
}
double row(int r, int n) { return (r + 0.5) / n; }

// A click with keys typed in its tick, then the release.
void press(DisplayRig& rig, int column, int row, std::string const& keys = "") {
    rig.engine.forget();
    rig.click(column, row);
    for (char c : keys) rig.key(static_cast<unsigned char>(c));
    rig.tick();
    rig.release();
    rig.tick();
}
} // namespace

TEST(SettingsPages, VisitsShowTheSettingsAndWriteNothing) {
    struct Case {
        short page;
        std::vector<std::pair<int, std::string>> rows;
    } const cases[] = {
        {2,
         {{0, "  MasterMode    RTE: 12.34 ms                   44100 Hz  "}, // 12.345 cut
          {3, "MODE:        1 Guru           METERS:      2 Peak         "},
          {6, "OPT FREQD:   7 FFTW pa 2Mono  *L FREQD:    1.500 s        "},
          {7, "PROG RATE:   1.0 ms           *GUI RATE:   40.0 ms        "},  // 1001 us stays
          {11, "GHOST MODE:  1 yes            *DSPBUFFER:  128            "}, // 100 stays
          {12, "LOADER PR:   2 normal         *SKIN:       Light.V2S      "}}},
        {3,
         {{0, "  MidiMode                         BPM: 120.5             "},
          {1, "        Ctr:    Ch:     Val:                        SAVE  "},
          {2, "1:      7       1       99      <     Cutoff Fre          "},   // 1 before 5
          {3, "2:      0       0       0       <     (-)                 "}}}, // 2 is hidden
        {4,
         {{0, "  DiskMode                      MEM: 20 Mb                "},
          {7, "LOCAL MEM:       0 Kb                                     "},
          {8, "SHARED MEM:      1.04858E+06 Kb                           "},
          {11, "BRIDGE:                                                   "}}},
        {13,
         {{0, "  EditMode: PRMs                                    EXIT  "},
          {2, "2:  1 CUTOFF FRE██ 440.00 Hz      1:         <>    MVE DW "},
          {3, "5:  DRIVE        0.000x           3:     Hidden    VISIB  "},
          {4, "6:  1 OTHER      0.0000           4:   <MULT..>     EDIT  "},
          {6, "                                  8:         <>           "}}},
        {14,
         {{0, "  EditMode: PARM 4                                  PRMs  "},
          {4, "Assign:   MIX3                FUN:      a                 "},
          {5, "A:        0.12346             B:        LFO2              "},
          {7, "Pre lb:   No                  Post lb:  No                "},
          {8, "Min:      0.1                 Max:      1.23457E+06       "}}},
        {15,
         {{0, "  AboutPage      Vorlan3 olvio 1.3.508              EXIT  "},
          {1, "Dynamic convolution for audio effects                     "},
          {9, "Thank you for listening                                   "}}},
    };
    for (Case const& c : cases) {
        Rig r;
        CoreDsifPeek::prmselect(r.rig.display()) = 3;
        CoreDsifPeek::prmcopy(r.rig.display()) = 3;
        r.enter(c.page);
        DisplayRig::SCREEN first = r.rig.cells();
        for (int visit = 0; visit < 3; ++visit) {
            for (int i = 0; i < 20; ++i) r.rig.tick();
            CoreDsifPeek::request(r.rig.display(), -1);
            r.rig.tick();
            CoreDsifPeek::request(r.rig.display(), c.page);
            r.rig.tick();
        }
        EXPECT_EQ(settingWrites(r.rig), std::vector<WRITE>()) << c.page;
        EXPECT_EQ(r.rig.page(), c.page);
        EXPECT_EQ(r.rig.cells(), first) << c.page;
        for (auto const& [row, text] : c.rows) EXPECT_EQ(r.rig.row(row), text) << c.page;
    }
}

TEST(SettingsPages, AMasterChangeWritesItsRowAlone) {
    struct Case {
        short field;
        double position;
        std::vector<WRITE> writes;
    } const cases[] = {
        {0, row(1, 2), {}}, // Guru again
        {0, row(0, 2), {{'b', 41, 0, 0, "0"}}},
        {1, row(5, 9), {{'m', 48, 0, 0, "5"}}},
        {2, row(0, 2), {{'h', 32, 0, 0, "0"}}},
        {3, row(4, 5), {{'h', 45, 0, 0, "5"}}},
        {4, row(5, 15), {}}, // the engine in force
        {4, row(2, 15), {{'h', 50, 0, 0, "3"}}},
        {5, 0.5, {{'l', 158, 0, 0, "18000"}}},
        {6, row(6, 15), {}},
        {6, row(2, 15), {{'h', 51, 0, 0, "3"}}},
        {7, 0.5, {{'l', 158, 0, 1, "2003000"}}}, // seconds to whole microseconds
        {8, 0.5, {{'l', 52, 0, 0, "20500"}}},
        {9, 0.5, {{'l', 65, 0, 0, "77500"}}},
        {10, 0.5, {{'l', 70, 0, 0, "1250"}}},
        {11, 0.5, {{'d', 19, 0, 0, "3000"}}},
        {12, 1.0, {{'h', 54, 0, 0, "8"}}}, // the list cut to property 43
        {13, 0.5, {{'l', 30, 0, 0, "4500000"}}},
        {14, row(0, 2), {{'b', 20, 0, 0, "0"}}},
        {15, row(1, 2), {{'b', 21, 0, 0, "1"}}},
        {16, row(0, 2), {{'b', 35, 0, 0, "0"}}},
        {17, row(3, 7), {{'l', 236, 0, 0, "1024"}}},
        {18, row(4, 5), {{'h', 38, 0, 0, "4"}}},
        {19, row(2, 3), {{'s', 62, 0, 0, "Zeta"}}}, // files, then folders
    };
    for (Case const& c : cases) {
        Rig r;
        r.enter(2);
        turn(r.rig, 20, c.field, c.position);
        EXPECT_EQ(settingWrites(r.rig), c.writes) << c.field;
        EXPECT_EQ(r.rig.requested(), c.writes.size() && c.field == 0 ? 19 : 2) << c.field;
        bool marked = c.field == 6 && !c.writes.empty(); // engine 3 is not usable
        EXPECT_EQ(r.rig.row(6)[11], marked ? '!' : ' ') << c.field;
        if (c.field == 18) {
            EXPECT_EQ(CoreDsifPeek::batchlevel(r.rig.display()), 4);
        }
        if (c.field == 2) {
            EXPECT_EQ(CoreDsifPeek::fontcolour(r.rig.display()), 0);
        }
    }
}

TEST(SettingsPages, MasterEntryButtonsAndEmptyLists) {
    Rig simple;
    simple.rig.engine.put('b', 41, "0");
    simple.enter(2);
    EXPECT_EQ(simple.rig.requested(), 19); // raised on the first tick
    simple.rig.tick();
    EXPECT_EQ(simple.rig.page(), 19);
    EXPECT_EQ(settingWrites(simple.rig), std::vector<WRITE>());

    Rig gone("Gone.V2S"); // not in the folder: row 0
    gone.enter(2);
    EXPECT_EQ(gone.rig.row(12).substr(43, 9), "Dark.V2S ");
    press(gone.rig, 52, 1);
    EXPECT_EQ(settingWrites(gone.rig), (std::vector<WRITE>{{'v', 79, 0, 0, ""}}));
    for (auto [column, row, page] : {std::tuple{41, 1, 15}, {55, 2, 16}}) {
        gone.rig.click(column, row);
        gone.rig.tick();
        EXPECT_EQ(gone.rig.requested(), page);
        gone.rig.release();
        CoreDsifPeek::request(gone.rig.display(), 2);
        gone.rig.tick();
    }

    Rig bare; // no fonts, no skin folder: those fields store nothing
    bare.rig.skin.getsk()->fontnames.clear();
    bare.rig.engine.put('s', 62, "");
    bare.enter(2);
    turn(bare.rig, 20, 2, 0.9);
    turn(bare.rig, 20, 19, 0.9);
    EXPECT_EQ(settingWrites(bare.rig), std::vector<WRITE>());
}

TEST(SettingsPages, MidiSlotsShowLearnAndStore) {
    Rig r;
    r.enter(3);
    r.rig.engine.put('b', 59, "1");
    r.rig.tick();
    EXPECT_EQ(r.rig.row(1).substr(0, 2), "IN");
    EXPECT_EQ(r.rig.fonts(1).substr(0, 2), "11");
    r.rig.tick();
    EXPECT_EQ(r.rig.row(1).substr(0, 2), "  ");
    // Two learn clicks: on, then off again.
    press(r.rig, 32, 3);
    EXPECT_EQ(settingWrites(r.rig), (std::vector<WRITE>{{'h', 179, -1, -1, "1"}}));
    EXPECT_EQ(r.rig.row(3).substr(4, 2), "->");
    EXPECT_EQ(r.rig.row(3)[32], ' ');
    press(r.rig, 32, 3);
    EXPECT_FALSE(r.rig.engine.midislot(1).learn);
    EXPECT_EQ(r.rig.row(3).substr(4, 2), "  ");
    // 64 typed on slot 1 (status 0xB0) keeps the status and stores 64.
    press(r.rig, 8, 2, "64\r");
    EXPECT_EQ(settingWrites(r.rig), (std::vector<WRITE>{{'h', 179, 0xB0, 64, "0"}}));
    EXPECT_EQ(r.rig.row(2).substr(8, 3), "64 ");
    EXPECT_EQ(r.rig.engine.midislot(0).status, 0xB0);
}

TEST(SettingsPages, DiskFigures) { // the visit shows 1023 bytes, 2^30 bytes and 20 Mb
    Rig r;
    r.rig.engine.put('i', 85, "1024"), r.rig.engine.put('d', 5, "5000");
    r.enter(4);
    EXPECT_EQ(r.rig.row(7).substr(17, 5), "1 Kb ");
    EXPECT_EQ(r.rig.row(0).substr(32, 10), "MEM: 0 Mb ");
}

TEST(SettingsPages, ModulatorListSelectsMovesAndHides) {
    // Visible 1, 4, 5, 9; each step: input, the writes, the selection after it.
    int const cellx = CoreDspg::iCcellx, celly = CoreDspg::iCcelly;
    struct Step {
        char const* what;
        int column, row; // a click, or with dy/dx a drag from the last click
        int dx, dy;
        std::vector<WRITE> writes;
        short selected;
    } const steps[] = {
        {"no selection: up", 50, 1, 0, 0, {}, -1},
        {"no selection: down", 50, 2, 0, 0, {}, -1},
        {"number label", 2, 2, 0, 0, {}, -1},
        {"select 1", 10, 2, 0, 0, {}, 1},
        {"first visible up", 50, 1, 0, 0, {{'v', 205, 9, 1, ""}}, 9},
        {"down wraps", 50, 2, 0, 0, {{'v', 205, 1, 9, ""}}, 1},
        {"hide", 50, 3, 0, 0, {{'b', 196, 1, 0, "0"}}, 1},
        {"show", 50, 3, 0, 0, {{'b', 196, 1, 0, "1"}}, 1},
        {"select 4", 10, 3, 0, 0, {}, 4},
        {"drag up 7", 10, 3, 0, -7, {{'v', 205, 1, 4, ""}}, 1},
        {"and 7 more", 10, 3, 0, -14, {{'v', 205, 9, 1, ""}}, 9},
        {"16 right", 10, 3, 16, -14, {{'b', 196, 9, 0, "0"}}, 9},
    };
    Rig r;
    r.enter(13);
    EXPECT_EQ(r.rig.row(3).substr(50, 8) + r.rig.row(4).substr(50, 8), std::string(16, ' '));
    for (Step const& s : steps) {
        r.rig.engine.forget();
        if (s.dx == 0 && s.dy == 0) {
            r.rig.release();
            r.rig.tick();
            r.rig.click(s.column, s.row);
        } else {
            r.rig.drag(s.column * cellx + s.dx, s.row * celly + s.dy);
        }
        r.rig.tick();
        EXPECT_EQ(settingWrites(r.rig), s.writes) << s.what;
        EXPECT_EQ(CoreDsifPeek::prmselect(r.rig.display()), s.selected) << s.what;
    }
    r.rig.release();
    // Hidden 9 in the right column, still selected: the exchanges carried
    // modulator 4's settings, its label with them, to place 9.
    r.rig.tick();
    EXPECT_EQ(r.rig.row(8).substr(34, 13), "10:     Drive");
    EXPECT_EQ(r.rig.fonts(8).substr(39, 8), "11111111");

    Rig all; // 16 visible: 11 rows; the only invisible one stays in place
    for (int p = 0; p < 16; ++p) all.rig.engine.put('b', 196, "1", p);
    all.enter(13);
    EXPECT_EQ(all.rig.row(12).substr(0, 4), "11: ");
    all.rig.engine.put('b', 196, "0", 5);
    for (auto [column, row] : {std::pair{40, 2}, {50, 1}, {50, 2}}) {
        all.rig.click(column, row);
        all.rig.tick();
        all.rig.release();
    }
    EXPECT_EQ(settingWrites(all.rig), std::vector<WRITE>());
    EXPECT_EQ(CoreDsifPeek::prmselect(all.rig.display()), 5);

    // A drag row left by the program pages: every call stays in 0..15.
    for (short left : {short(7), short(40)}) {
        Rig rows;
        CoreDsifPeek::prmselect(rows.rig.display()) = left;
        rows.enter(13);
        for (int button = 1; button <= 4; ++button) press(rows.rig, 52, button);
        for (WRITE const& w : rows.rig.engine.writes())
            EXPECT_TRUE(w.element >= 0 && w.element < 16) << w;
        EXPECT_EQ(rows.rig.requested(), left == 7 ? 14 : 13);
    }
}

TEST(SettingsPages, ModulatorSettingsWriteTheirGroups) {
    DataSrce catalogue;
    std::vector<CoreAnsx> labels(84), keys(84);
    catalogue.getgs(labels.data(), keys.data());
    auto bound = [](int id, double v) { return WRITE{'d', id, 3, 0, FakeBean::exact(v)}; };
    struct Step {
        char const* what;
        short field;     // a gadget field turned, or -1
        double position; // for the field
        int column, row; // else a click with keys
        char const* keys;
        std::vector<WRITE> writes;
    } const steps[] = {
        {"No", 0, row(0, 9), 0, 0, "", {{'s', 197, 3, 0, ""}}},
        {"MIX3", 0, row(3, 9), 0, 0, "", {{'s', 197, 3, 0, "3"}}},
        {"B",
         3,
         row(5, 84),
         0,
         0,
         "",
         {{'s', 210, 3, 0, "0.123456789"},
          {'s', 211, 3, 0, keys[5].c_str()},
          {'s', 204, 3, 0, "MULTIPLY"}}},
        {"bar max",
         -1,
         0,
         40,
         9,
         "7\r",
         {bound(214, 0.1), bound(215, 1234567.891), bound(216, -0.3), bound(217, 7)}},
        {"pre-unit emptied", -1, 0, 10, 7, "\b\r", {{'s', 201, 3, 0, ""}}},
        {"label", -1, 0, 10, 2, "Gain  \r", {{'s', 198, 3, 0, "Gain"}}},
    };
    Rig r;
    CoreDsifPeek::prmselect(r.rig.display()) = 3;
    CoreDsifPeek::prmcopy(r.rig.display()) = 4;
    r.enter(14);
    EXPECT_EQ(r.rig.row(0).substr(0, 19), "  EditMode: PARM 5 ");
    for (Step const& s : steps) {
        if (s.field >= 0)
            turn(r.rig, 4, s.field, s.position);
        else
            press(r.rig, s.column, s.row, s.keys);
        EXPECT_EQ(settingWrites(r.rig), s.writes) << s.what;
    }
    EXPECT_EQ(r.rig.row(7).substr(10, 3), "No ");

    Rig none; // no selection: the title and the way back, nothing read or written
    none.enter(14);
    for (auto [column, row] : {std::pair{10, 2}, {10, 8}}) press(none.rig, column, row);
    EXPECT_EQ(settingWrites(none.rig), std::vector<WRITE>());
    for (int row = 1; row < 13; ++row) EXPECT_EQ(none.rig.row(row), std::string(58, ' '));
    press(none.rig, 52, 0);
    EXPECT_EQ(none.rig.requested(), 13);
}

TEST(SettingsPages, AboutAndTheStressTest) {
    Rig about;
    about.enter(15);
    press(about.rig, 52, 0);
    EXPECT_EQ(about.rig.page(), 2);

    struct Case {
        int slot, cycle, occupied;
        char const* loaded;
    } const cases[] = {{360, 360, 1, "1"}, {399, 400, 405, "405"}};
    for (Case const& c : cases) {
        Rig r;
        r.rig.engine.name(c.occupied, "Room"), r.rig.engine.put('i', 67, std::to_string(c.slot));
        int* counters = CoreDsifPeek::testcounters(r.rig.display());
        counters[0] = 2, counters[1] = c.cycle, counters[2] = 1; // due now
        r.enter(16);
        EXPECT_EQ(r.rig.engine.var("NEWPROGRAM"), c.loaded);
        EXPECT_EQ(r.rig.engine.var("ACTION"), "TEST");
        EXPECT_EQ(r.rig.requested(), 22);
        ASSERT_TRUE(r.rig.runBatch()); // back on the page for one tick of its period
        EXPECT_EQ(r.rig.page(), 16);
        r.rig.engine.setvar("NEWPROGRAM", "");
        r.rig.click(52, 0); // due again: EXIT in that tick wins
        r.rig.tick();
        EXPECT_EQ(r.rig.engine.var("NEWPROGRAM"), c.loaded);
        EXPECT_EQ(r.rig.requested(), 2);
    }
    Rig every; // period 1 loads on every visit
    every.rig.engine.name(5, "Room");
    CoreDsifPeek::testcounters(every.rig.display())[0] = 1;
    CoreDsifPeek::testcounters(every.rig.display())[2] = 1;
    every.enter(16);
    for (int visit = 0; visit < 3; ++visit) {
        every.rig.engine.setvar("NEWPROGRAM", "");
        CoreDsifPeek::request(every.rig.display(), 16);
        every.rig.tick();
        EXPECT_EQ(every.rig.engine.var("NEWPROGRAM"), "5");
    }
}
