// ctest-labels: threads
// The display object on fakes: construction and teardown, the tick frame,
// the boot page, batch posting and the batch pages, the button row and the
// snapshot.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/display/DisplayRig.h"

namespace {
using WRITE = FakeBean::WRITE;
using BOOTSTEP = FakeBean::BOOTSTEP;

std::string pad(std::string text) { return text.resize(58, ' '), text; }
std::string repeat(char c, size_t n) { return std::string(n, c); }
void flag(DisplayRig& rig, int id, bool value) { rig.engine.put('b', id, value ? "1" : "0"); }

// A display past its boot (fast boot, one tick), on page 0 or 18 by the mode.
void booted(DisplayRig& rig, bool mode = true) {
    flag(rig, 22, true);
    flag(rig, 41, mode);
    rig.build();
    rig.boot();
}

// What a posted program load writes, in order.
std::vector<WRITE> loadWrites(int index, std::string const& action) {
    std::vector<WRITE> w{{'v', 225, 0, 0, ""}};
    for (auto [name, value] :
         std::vector<std::pair<std::string, std::string>>{{"LOADED", "LOADED:"},
                                                          {"LOADING", "LOADING:"},
                                                          {"NEWPROGRAM", std::to_string(index)},
                                                          {"ACTION", action},
                                                          {"NEXTSTEP", "READPROGRAM"}}) {
        w.push_back({'s', 223, 0, 0, name});
        w.push_back({'s', 224, 0, 0, value});
    }
    return w;
}

bool waitFor(std::function<bool()> const& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}
} // namespace

TEST(CoreDsif, FreshDisplayWaitsBlankOnTheBootPage) {
    DisplayRig rig;
    flag(rig, 46, true); // busy engine: the boot page without an editor waits
    rig.build();
    rig.tick(false);
    EXPECT_EQ(rig.page(), 20);
    EXPECT_EQ(rig.requested(), 20);
    for (int r = 0; r < 17; ++r) {
        EXPECT_EQ(rig.row(r), pad(""));
        EXPECT_EQ(rig.fonts(r), r < 14 ? repeat('0', 58) : repeat('0', 49) + repeat('3', 9));
    }
    // The snapshot, value by value.
    CoreCnst::DISPLAYDATA data;
    rig.display().newdd(&data);
    rig.display().flldd(&data);
    ASSERT_EQ(data.total, 3190);
    ASSERT_EQ(data.zones, 4);
    int const rows[4] = {17, 17, 8, 17}, columns[4] = {58, 58, 29, 58},
              starts[4] = {0, 986, 1972, 2204};
    for (int f = 0; f < 4; ++f) {
        EXPECT_EQ(data.rows[f], rows[f]);
        EXPECT_EQ(data.columns[f], columns[f]);
        for (int r = 0; r < rows[f]; ++r)
            EXPECT_EQ(data.rowstarts[f][r], starts[f] + r * columns[f]);
    }
    for (int r = 0; r < 17; ++r)
        for (int c = 0; c < 58; ++c) {
            bool empty = r >= 14 && c >= 49;
            EXPECT_EQ(data.cells[data.rowstarts[0][r] + c], empty ? -1.0 : 0.5 / 108);
            EXPECT_EQ(data.cells[data.rowstarts[1][r] + c], -1.0);
            EXPECT_EQ(data.cells[data.rowstarts[3][r] + c], empty ? 0.5 : -1.0);
        }
    EXPECT_EQ(std::count(data.cells + 1972, data.cells + 2204, -1.0), 232);
    // Made again, the record frees what it held; freed twice it stays empty.
    rig.display().newdd(&data);
    rig.display().deldd(&data);
    rig.display().deldd(&data);
    EXPECT_EQ(data.cells, nullptr);
    rig.display().flldd(&data);
}

TEST(CoreDsif, ExtraColumnsFollowTheSkin) {
    struct Case {
        bool skin;
        int addchars;
        short columns;
    } const cases[] = {
        {true, 0, 49}, {false, 70, 49}, {true, 70, 58}, {true, 30, 30}, {true, -5, 49}};
    for (Case const& c : cases) {
        DisplayRig rig;
        rig.skin.getsk()->displayaddchars = c.addchars;
        flag(rig, 46, true);
        CoreDsif display(&rig.engine, &rig.mailbox, &rig.blink, c.skin ? &rig.skin : nullptr,
                         nullptr);
        EXPECT_EQ(display.getax(), c.columns);
        EXPECT_EQ(display.getax(0), c.columns);
        EXPECT_EQ(display.read_(0, short(c.columns - 1), 16), 0.5 / 108);
        EXPECT_EQ(display.read_(3, c.columns, 16), c.columns < 58 ? 0.5 : -1.0);
    }
}

TEST(CoreDsif, BootWithAnEditorPrintsOneStepPerTick) {
    DisplayRig rig;
    rig.build();
    std::vector<std::string> const rows = {" 1  Reading master settings", " 2  Scanning bank 0",
                                           "Engine ready"};
    for (size_t step = 0; step < rows.size(); ++step) {
        rig.tick();
        EXPECT_EQ(rig.engine.bootcalls(), int(step + 1));
        for (size_t r = 0; r <= step + 1; ++r)
            EXPECT_EQ(rig.row(int(r)), pad(r <= step ? rows[r] : ""));
    }
    EXPECT_EQ(rig.fonts(0), "1110" + repeat('0', 54));
    rig.tick(); // the finished step prints nothing and ends the boot
    EXPECT_EQ(rig.row(3), pad(""));
    EXPECT_EQ(rig.requested(), 0);
    rig.tick(); // page 0 entered: rows 0 to 12 cleared before it draws
    EXPECT_EQ(rig.page(), 0);
    EXPECT_EQ(rig.row(0).substr(0, 12), "  ProgMode  ");
    EXPECT_EQ(rig.row(1).substr(0, 40), pad("").substr(0, 40));
}

TEST(CoreDsif, BootEndsByModeOrFailure) {
    BOOTSTEP const one{1, "one", false, false, true}, done{9, "done", false, true, true};
    struct Case {
        char const* name;
        std::vector<BOOTSTEP> script;
        bool fast, mode;
        int ticks;  // ticks until the request
        short page; // page entered
        std::string row0, row1;
    } const cases[] = {
        {"fast boot in one tick", {one, one, done}, true, true, 1, 0, "", ""},
        {"simple mode", {one, done}, false, false, 2, 18, "", ""},
        {"first step fails and finishes",
         {{5, "bad", false, true, false}},
         false,
         true,
         1,
         21,
         "",
         ""},
        {"failed step before the end is shown",
         {one, {2, "broken", false, false, false}, done},
         true,
         true,
         1,
         21,
         " 1  one",
         " 2  broken"},
    };
    for (Case const& c : cases) {
        DisplayRig rig;
        rig.engine.boot(c.script);
        flag(rig, 22, c.fast);
        flag(rig, 41, c.mode);
        rig.build();
        for (int i = 0; i < c.ticks; ++i) rig.tick();
        EXPECT_EQ(rig.requested(), c.page) << c.name;
        rig.tick();
        EXPECT_EQ(rig.page(), c.page) << c.name;
        if (c.page != 21) continue;
        EXPECT_EQ(rig.row(0), pad(c.row0)) << c.name; // the error page keeps the lines
        EXPECT_EQ(rig.row(1), pad(c.row1)) << c.name;
        rig.display().setdp(); // and only the home page code leaves it
        rig.tick();
        EXPECT_EQ(rig.page(), 0) << c.name;
        EXPECT_EQ(rig.row(1).substr(0, 40), pad("").substr(0, 40)) << c.name;
    }
}

TEST(CoreDsif, BootWithoutEndOrWithoutEditor) {
    DisplayRig endless; // an engine that never finishes cannot hold a tick
    endless.engine.boot(std::vector<BOOTSTEP>(600, {1, "again", true, false, true}));
    flag(endless, 22, true);
    endless.build();
    endless.tick();
    endless.tick();
    EXPECT_EQ(endless.engine.bootcalls(), 2 * CoreDsif::iCbootpasses);
    for (bool mode : {true, false}) { // no editor: wait for the engine, run no step
        DisplayRig rig;
        flag(rig, 46, true);
        flag(rig, 41, mode);
        rig.build();
        for (int i = 0; i < 3; ++i) rig.tick(false);
        EXPECT_EQ(rig.requested(), 20);
        flag(rig, 46, false);
        EXPECT_EQ(rig.boot(false), mode ? 0 : 18);
        EXPECT_EQ(rig.engine.bootcalls(), 0);
    }
}

TEST(CoreDsif, LoadPostsItsVariablesAndTheBatchPageShowsTheSteps) {
    std::string const name(70, 'n');
    for (bool mode : {true, false}) {
        short const home = mode ? 0 : 18, batch = mode ? 22 : 23;
        DisplayRig rig;
        rig.engine.name(1234, name);
        booted(rig, mode);
        rig.engine.forget();
        rig.engine.gate(2);
        rig.display().loadp(1234);
        EXPECT_EQ(rig.engine.writes(), loadWrites(1234, "PROG"));
        EXPECT_EQ(rig.requested(), batch);
        EXPECT_EQ(rig.page(), home); // until the next tick
        rig.tick();
        EXPECT_EQ(rig.page(), batch);
        EXPECT_EQ(rig.engine.writes().back(), (WRITE{'v', 222, 0, 0, ""}));
        ASSERT_TRUE(waitFor([&] { return rig.engine.waiting(); }));
        rig.tick();
        std::string const loading = "LOADING: 1234 " + name;
        EXPECT_EQ(rig.row(0), pad("  BatchMode"));
        EXPECT_EQ(rig.fonts(0), repeat('1', 58));
        EXPECT_EQ(rig.row(2), loading.substr(loading.size() - 58)); // the last 58 characters
        EXPECT_EQ(rig.row(3), pad("LOADING:"));
        EXPECT_EQ(rig.row(4), pad(""));
        EXPECT_EQ(rig.row(13), pad("READPROGRAM 2/3"));
        EXPECT_EQ(rig.fonts(13), repeat('1', 58));
        rig.engine.gate(-1);
        ASSERT_TRUE(rig.runBatch());
        EXPECT_EQ(rig.page(), home);
        EXPECT_EQ(rig.engine.stepcalls(), 4); // three steps and the end
    }
}

TEST(CoreDsif, BatchReturnsToItsActionOrHome) {
    struct Case {
        char const* action;
        short page;
    } const cases[] = {{"MAST", 2}, {"NOPE", 0}, {"BTCH", 0}, {"", 0}};
    for (Case const& c : cases) {
        DisplayRig rig;
        booted(rig);
        rig.engine.gate(0);
        rig.display().loadp(3);
        rig.tick();
        ASSERT_TRUE(waitFor([&] { return rig.engine.waiting(); }));
        rig.engine.setvar("ACTION", c.action);
        rig.engine.gate(-1);
        ASSERT_TRUE(rig.runBatch());
        EXPECT_EQ(rig.page(), c.page) << c.action;
    }
}

TEST(CoreDsif, NeverEndingBatchFreesTheDisplay) {
    DisplayRig rig;
    booted(rig);
    rig.engine.endless(true);
    rig.engine.gate(10);
    rig.display().loadp(1);
    rig.tick();
    ASSERT_TRUE(waitFor([&] { return rig.engine.waiting(); }));
    rig.tick(); // the last eight lines
    for (int r = 0; r < 8; ++r) EXPECT_EQ(rig.row(r + 2), pad("endless " + std::to_string(r + 3)));
    rig.engine.gate(-1);
    ASSERT_TRUE(rig.runBatch());
    EXPECT_EQ(rig.engine.stepcalls(), CoreDsif::iCbatchsteps);
    EXPECT_EQ(rig.page(), 0);
}

TEST(CoreDsif, LoadsDuringBootOrBatchWaitTheirTurn) {
    DisplayRig rig;
    flag(rig, 22, true);
    rig.build();
    rig.display().loadp(5);  // during the boot: kept
    rig.display().loadp(-1); // nothing to load
    rig.display().setdp();   // the boot is not cut short
    rig.boot();
    EXPECT_EQ(rig.engine.var("NEWPROGRAM"), "");
    rig.engine.gate(0); // the batch must not end before the loads below are made
    rig.tick();         // the first tick off the boot page posts it
    EXPECT_EQ(rig.engine.var("NEWPROGRAM"), "5");
    EXPECT_EQ(rig.page(), 22);
    rig.display().loadp(7); // during the batch: kept, and replaced by a newer one
    rig.display().loadp(8);
    rig.display().setdp();
    EXPECT_EQ(rig.requested(), 22);
    rig.engine.gate(-1);
    ASSERT_TRUE(rig.runBatch());
    rig.engine.forget();
    rig.tick();
    std::vector<WRITE> posted = rig.engine.writes(); // the batch may run already
    posted.resize(std::min(posted.size(), size_t(11)));
    EXPECT_EQ(posted, loadWrites(8, "PROG"));
    ASSERT_TRUE(rig.runBatch());
    rig.tick();
    EXPECT_EQ(rig.page(), 0);
}

TEST(CoreDsif, MenuChoiceLoadsOnlyANumberedLabelWhileArmed) {
    struct Case {
        char const* label;
        bool armed;
        std::string loads;
    } const cases[] = {
        {"12 - Warm Room", true, "12"}, {"  7-x", true, "7"}, {"ROOMS (ROOMS)", true, ""},
        {"-3 - x", true, ""},           {"", true, ""},       {"12 - Warm Room", false, ""}};
    for (Case const& c : cases) {
        DisplayRig rig;
        booted(rig);
        CoreDsifPeek::armProgramMenu(rig.display(), c.armed);
        rig.display().setmr(CoreAnsx(c.label));
        EXPECT_EQ(rig.engine.var("NEWPROGRAM"), c.loads) << c.label;
        EXPECT_EQ(rig.requested(), c.loads.empty() ? 0 : 22) << c.label;
    }
}

TEST(CoreDsif, TickFrameEntersRequestedPagesWithTheirMenusAndHandlers) {
    DisplayRig rig;
    booted(rig);
    rig.display().drmnu(false);
    std::string const menuRow = rig.row(13);
    // Page -1: no menu holds it, nothing on entry, the main zone emptied in
    // font 3 on every tick; the button row stays.
    CoreDsifPeek::request(rig.display(), -1);
    rig.tick();
    EXPECT_EQ(rig.page(), -1);
    for (int r = 0; r < 13; ++r) EXPECT_EQ(rig.fonts(r), repeat('3', 57) + "0");
    EXPECT_EQ(rig.row(13), menuRow);
    EXPECT_EQ(CoreDsifPeek::currentmenu(rig.display()), CoreDsifPeek::menu(rig.display(), 0));
    // A page two menus hold: the later menu becomes current; rows 0..12
    // cleared of page -1's font 3 (the page then draws in fonts 0 and 1).
    CoreDsifPeek::menu(rig.display(), 4)->addit(13, CoreAnsx("PRMS"));
    CoreDsifPeek::request(rig.display(), 13);
    rig.tick();
    EXPECT_EQ(CoreDsifPeek::currentmenu(rig.display()), CoreDsifPeek::menu(rig.display(), 4));
    for (int r = 0; r < 13; ++r) EXPECT_EQ(rig.fonts(r).find_first_not_of("01"), std::string::npos);
    rig.display().setdp(); // empties the screen, home next tick
    EXPECT_EQ(rig.fonts(13), repeat('0', 58));
    EXPECT_EQ(rig.page(), 13);
    rig.tick();
    EXPECT_EQ(rig.page(), 0);
}

TEST(CoreDsif, ButtonRowShowsTheCurrentMenu) {
    DisplayRig rig;
    booted(rig);
    rig.display().fnmnu(0);
    std::string const text = ". PROG      KERN      MAST      MIDI      DISK            ";
    std::string const others = "00" + repeat('1', 8) + "00" + repeat('1', 8) + "00" +
                               repeat('1', 8) + "00" + repeat('1', 8) + "00" +
                               repeat('1', 8); // buttons 1 to 5 and the gaps
    "0011111111001111111100111111110011111111001111111100" + repeat('1', 6);
    rig.display().drmnu(true); // the page's own button in font 0 on the change tick only
    EXPECT_EQ(rig.row(13), text);
    EXPECT_EQ(rig.fonts(13), repeat('0', 8) + others);
    rig.display().drmnu(false);
    EXPECT_EQ(rig.fonts(13), repeat('1', 8) + others);
    DisplayRig::blinkPhase(false); // the mark blinks
    EXPECT_EQ(rig.row(13), " " + text.substr(1));
    DisplayRig::blinkPhase(true);
    rig.display().fnmnu(1); // no menu holds page 1: menu and mark stay
    rig.display().drmnu(false);
    EXPECT_EQ(rig.row(13), text);
    rig.display().fnmnu(13);
    rig.display().drmnu(false);
    EXPECT_EQ(rig.row(13), "  MEMO    . PRMS      GLOB      LFOS      FUNS      More> ");
}

TEST(CoreDsif, SmallServices) {
    DisplayRig rig;
    rig.engine.put('i', 44, "48000");
    rig.engine.put('h', 32, "3");
    rig.engine.put('h', 38, "7");
    rig.build();
    EXPECT_EQ(rig.display().getfc(), 3);
    EXPECT_EQ(CoreDsifPeek::batchlevel(rig.display()), 1);
    std::pair<double, int> const toSamples[] = {
        {1000.0, 48}, {10.4, 0}, {31.25, 2}, {-31.25, -2}, {1e12, 2147483647}};
    for (auto [us, samples] : toSamples) EXPECT_EQ(rig.display().fnu2t(us), samples) << us;
    EXPECT_EQ(rig.display().fnt2u(24), 500.0);
    rig.engine.put('i', 44, "0");
    EXPECT_EQ(rig.display().fnu2t(12.6), 13);
    EXPECT_EQ(rig.display().fnt2u(5), 5.0);
    rig.engine.forget();
    rig.display().upprm();
    std::vector<WRITE> const writes = rig.engine.writes();
    ASSERT_EQ(writes.size(), 16u);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(writes[size_t(k)], (WRITE{'v', 195, k, 0, ""}));
    // The priority rule every bus applies (the engine's adapter is tested
    // with the plug-in, where it lives).
    short const levels[] = {-1, 0, 1, 2, 3, 4, 5}, valid[] = {1, 0, 1, 2, 3, 4, 1};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(CoreBean::tplvl(levels[i]), valid[i]);
}

TEST(CoreDsif, BuildsAndTeardownsAlsoMidBatch) {
    for (int i = 0; i < 100; ++i) {
        DisplayRig rig;
        flag(rig, 22, true);
        rig.build();
        if (i % 10 != 0) continue;
        rig.boot();
        rig.engine.slow(20);
        rig.display().loadp(i);
        rig.tick();
        ASSERT_TRUE(waitFor([&] { return rig.engine.stepcalls() > 0; }));
        rig.destroy(); // waits for the rest of the batch
        EXPECT_EQ(rig.engine.stepcalls(), 4);
    }
}

TEST(CoreDsif, SnapshotFromAnotherThreadWhileTicking) {
    DisplayRig rig;
    rig.engine.boot(
        std::vector<BOOTSTEP>(200, {1, "a boot line that scrolls", false, false, true}));
    rig.build();
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        CoreCnst::DISPLAYDATA data;
        rig.display().newdd(&data);
        while (!stop) rig.display().flldd(&data);
        rig.display().deldd(&data);
    });
    for (int i = 0; i < 150; ++i) rig.tick();
    stop = true;
    reader.join();
    EXPECT_EQ(rig.snapshot(), rig.cells());
}
