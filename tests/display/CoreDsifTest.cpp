// ctest-labels: threads
// The display object on fakes: construction and teardown, the tick frame,
// the boot page, batch posting and the batch pages, the button row, the
// snapshot and its geometry.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "display/CorePrbn.h"
#include "tests/display/DisplayRig.h"

namespace {
using WRITE = FakeBean::WRITE;
using BOOTSTEP = FakeBean::BOOTSTEP;

std::string pad(std::string text, size_t width = 58) {
    text.resize(width, ' ');
    return text;
}

std::string repeat(char c, size_t n) { return std::string(n, c); }

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

std::vector<WRITE> without(std::vector<WRITE> writes, int id) {
    std::erase_if(writes, [id](WRITE const& w) { return w.id == id; });
    return writes;
}

bool waitFor(std::function<bool()> const& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done())
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}
} // namespace

TEST(CoreDsif, FreshDisplayWaitsBlankOnTheBootPage) {
    DisplayRig rig;
    rig.engine.setb(46, true); // engine busy: the boot page without an editor waits
    rig.build();
    rig.tick(false);
    EXPECT_EQ(rig.page(), 20);
    EXPECT_EQ(rig.requested(), 20);
    DisplayRig::SCREEN screen = rig.cells();
    for (int r = 0; r < 17; ++r) {
        EXPECT_EQ(screen.text[r], pad("")) << r;
        EXPECT_EQ(screen.fonts[r], r < 14 ? repeat('0', 58) : repeat('0', 49) + repeat('3', 9));
    }
    EXPECT_EQ(rig.engine.bootcalls(), 0);

    // The snapshot of a fresh display, value by value.
    CoreCnst::DISPLAYDATA data;
    rig.display().newdd(&data);
    rig.display().flldd(&data);
    ASSERT_EQ(data.total, 3190);
    ASSERT_EQ(data.zones, 4);
    EXPECT_EQ(std::vector<int>(data.rows, data.rows + 4), (std::vector<int>{17, 17, 8, 17}));
    EXPECT_EQ(std::vector<int>(data.columns, data.columns + 4), (std::vector<int>{58, 58, 29, 58}));
    int const zoneStarts[4] = {0, 986, 1972, 2204};
    for (int f = 0; f < 4; ++f)
        for (int r = 0; r < data.rows[f]; ++r)
            EXPECT_EQ(data.rowstarts[f][r], zoneStarts[f] + r * data.columns[f]);
    for (int r = 0; r < 17; ++r)
        for (int c = 0; c < 58; ++c) {
            bool empty = r >= 14 && c >= 49;
            EXPECT_EQ(data.cells[data.rowstarts[0][r] + c], empty ? -1.0 : 0.5 / 108)
                << c << "," << r;
            EXPECT_EQ(data.cells[data.rowstarts[1][r] + c], -1.0);
            EXPECT_EQ(data.cells[data.rowstarts[3][r] + c], empty ? 0.5 : -1.0);
        }
    for (int i = 1972; i < 2204; ++i) EXPECT_EQ(data.cells[i], -1.0);
    // A record made again frees what it held; freed twice it stays empty.
    rig.display().newdd(&data);
    rig.display().deldd(&data);
    rig.display().deldd(&data);
    EXPECT_EQ(data.cells, nullptr);
    EXPECT_EQ(data.total, 0);
    rig.display().flldd(&data); // an empty record is left alone
}

TEST(CoreDsif, ExtraColumnsFollowTheSkin) {
    struct Case {
        bool skin;
        int addchars;
        short columns;
    } const cases[] = {
        {true, 0, 49}, {false, 0, 49}, {true, 70, 58}, {true, 30, 30}, {true, -5, 49}};
    for (Case const& c : cases) {
        DisplayRig rig;
        rig.skin.getsk()->displayaddchars = c.addchars;
        rig.engine.setb(46, true);
        std::unique_ptr<CoreDsif> bare; // a display without a skin
        if (!c.skin)
            bare =
                std::make_unique<CoreDsif>(&rig.engine, &rig.mailbox, &rig.blink, nullptr, nullptr);
        CoreDsif& display = c.skin ? rig.build() : *bare;
        EXPECT_EQ(display.getax(), c.columns) << c.addchars;
        EXPECT_EQ(display.getay(), 3);
        EXPECT_EQ(display.getax(0), c.columns);
        EXPECT_EQ(display.getdx(2), 29);
        EXPECT_EQ(display.getre(0), 108);
        EXPECT_EQ(display.getre(1), 94);
        EXPECT_EQ(display.getre(3), 1);
        if (c.skin) {
            EXPECT_EQ(rig.fonts(15), repeat('0', c.columns) + repeat('3', 58 - c.columns));
        }
    }
}

TEST(CoreDsif, BootWithAnEditorPrintsItsSteps) {
    // Hand-written screen of the default boot, one step per tick.
    DisplayRig rig;
    rig.build();
    std::vector<std::string> const rows = {" 1  Reading master settings", " 2  Scanning bank 0",
                                           "Engine ready"};
    for (size_t step = 0; step < rows.size(); ++step) {
        rig.tick();
        EXPECT_EQ(rig.engine.bootcalls(), int(step + 1));
        for (size_t r = 0; r <= step; ++r) EXPECT_EQ(rig.row(int(r)), pad(rows[r])) << r;
        EXPECT_EQ(rig.row(int(step + 1)), pad(""));
    }
    EXPECT_EQ(rig.fonts(0), "1110" + repeat('0', 54));
    EXPECT_EQ(rig.fonts(2), repeat('0', 58));
    rig.tick(); // the finished step prints nothing
    EXPECT_EQ(rig.row(3), pad(""));
    EXPECT_EQ(rig.page(), 20);
    EXPECT_EQ(rig.requested(), 0);
    rig.tick(); // page 0: rows 0..12 cleared on entry
    EXPECT_EQ(rig.page(), 0);
    EXPECT_EQ(rig.row(0), pad(""));
}

TEST(CoreDsif, BootEndsByModeOrFailure) {
    BOOTSTEP const ok1{1, "one", false, false, true};
    BOOTSTEP const done{9, "done", false, true, true};
    struct Case {
        char const* name;
        std::vector<BOOTSTEP> script;
        bool fast;
        bool mode;
        int ticks;  // ticks until the page changes
        short page; // page entered
        std::string row0;
        std::string row1;
    } const cases[] = {
        {"fast boot runs every step in one tick", {ok1, ok1, done}, true, true, 1, 0, "", ""},
        {"simple mode", {ok1, done}, false, false, 2, 18, "", ""},
        {"first step fails and finishes",
         {{5, "bad", false, true, false}},
         false,
         true,
         1,
         21,
         "",
         ""},
        {"failed step before the end is shown",
         {ok1, {2, "broken", false, false, false}, done},
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
        rig.engine.setb(22, c.fast);
        rig.engine.setb(41, c.mode);
        rig.build();
        for (int i = 0; i < c.ticks; ++i) rig.tick();
        EXPECT_EQ(rig.requested(), c.page) << c.name;
        EXPECT_EQ(rig.page(), 20) << c.name;
        rig.tick();
        EXPECT_EQ(rig.page(), c.page) << c.name;
        if (c.page == 21) { // the error page keeps the boot lines
            EXPECT_EQ(rig.row(0), pad(c.row0)) << c.name;
            EXPECT_EQ(rig.row(1), pad(c.row1)) << c.name;
            rig.display().setdp(); // and only the home page code leaves it
            rig.tick();
            EXPECT_EQ(rig.page(), 0) << c.name;
            EXPECT_EQ(rig.row(0), pad("")) << c.name;
        }
    }
}

TEST(CoreDsif, BootThatNeverEndsStillEndsEachTick) {
    DisplayRig rig;
    rig.engine.boot(std::vector<BOOTSTEP>(600, {1, "again", true, false, true}));
    rig.engine.setb(22, true);
    rig.build();
    rig.tick();
    EXPECT_EQ(rig.engine.bootcalls(), CoreDsif::iCbootpasses);
    rig.tick();
    EXPECT_EQ(rig.engine.bootcalls(), 2 * CoreDsif::iCbootpasses);
    EXPECT_EQ(rig.page(), 20);
}

TEST(CoreDsif, BootWithoutAnEditorWaitsForTheEngine) {
    for (bool mode : {true, false}) {
        DisplayRig rig;
        rig.engine.setb(46, true);
        rig.engine.setb(41, mode);
        rig.build();
        for (int i = 0; i < 3; ++i) rig.tick(false);
        EXPECT_EQ(rig.requested(), 20);
        rig.engine.setb(46, false);
        EXPECT_EQ(rig.boot(false), mode ? 0 : 18);
        EXPECT_EQ(rig.engine.bootcalls(), 0);
    }
}

TEST(CoreDsif, LoadPostsItsVariablesAndTheBatchPageShowsTheSteps) {
    struct Case {
        bool mode;
        short home;  // page the boot ends on
        short batch; // page of the batch
    } const cases[] = {{true, 0, 22}, {false, 18, 23}};
    std::string const name(70, 'n');
    for (Case const& c : cases) {
        DisplayRig rig;
        rig.engine.setb(41, c.mode);
        rig.engine.setb(22, true);
        rig.engine.name(1234, name);
        rig.build();
        ASSERT_EQ(rig.boot(), c.home);
        rig.engine.forget();
        rig.engine.gate(2);
        rig.display().loadp(1234);
        EXPECT_EQ(rig.engine.writes(), loadWrites(1234, "PROG"));
        EXPECT_EQ(rig.requested(), c.batch);
        EXPECT_EQ(rig.page(), c.home); // the request waits for the next tick
        rig.tick();
        EXPECT_EQ(rig.page(), c.batch);
        EXPECT_EQ(rig.engine.writes().back(), (WRITE{'v', 222, 0, 0, ""}));
        ASSERT_TRUE(waitFor([&] { return rig.engine.waiting(); }));
        rig.tick();
        std::string const loading = "LOADING: 1234 " + name;
        EXPECT_EQ(rig.row(0), pad("  BatchMode"));
        EXPECT_EQ(rig.fonts(0), repeat('1', 58));
        EXPECT_EQ(rig.row(2), loading.substr(loading.size() - 58));
        EXPECT_EQ(rig.row(3), pad("LOADING:"));
        EXPECT_EQ(rig.row(4), pad(""));
        EXPECT_EQ(rig.row(13), pad("READPROGRAM 2/3"));
        EXPECT_EQ(rig.fonts(13), repeat('1', 58));
        rig.engine.gate(-1);
        ASSERT_TRUE(rig.runBatch());
        EXPECT_EQ(rig.page(), c.home);
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
        rig.engine.setb(22, true);
        rig.build();
        rig.boot();
        rig.engine.gate(0);
        rig.display().loadp(3);
        rig.tick();
        ASSERT_TRUE(waitFor([&] { return rig.engine.waiting(); }));
        rig.engine.setvar("ACTION", c.action);
        rig.engine.gate(-1);
        ASSERT_TRUE(rig.runBatch()) << c.action;
        EXPECT_EQ(rig.page(), c.page) << c.action;
    }
}

TEST(CoreDsif, NeverEndingBatchFreesTheDisplay) {
    DisplayRig rig;
    rig.engine.setb(22, true);
    rig.build();
    rig.boot();
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
    rig.engine.setb(22, true);
    rig.build();
    rig.display().loadp(5);  // during the boot
    rig.display().loadp(-1); // nothing to load
    EXPECT_TRUE(without(rig.engine.writes(), 144).empty());
    rig.boot();
    rig.engine.forget();
    rig.tick(); // the first tick off the boot page posts it
    EXPECT_EQ(rig.engine.writes().front(), (WRITE{'v', 225, 0, 0, ""}));
    EXPECT_EQ(rig.engine.var("NEWPROGRAM"), "5");
    EXPECT_EQ(rig.page(), 22);

    rig.display().loadp(7); // during the batch: kept, and replaced by a newer one
    rig.display().loadp(8);
    rig.display().setdp(); // the batch page is not left early
    EXPECT_EQ(rig.requested(), 22);
    ASSERT_TRUE(rig.runBatch());
    rig.engine.forget();
    rig.tick(); // the batch may already be running: only the posting is compared
    std::vector<WRITE> posted = without(rig.engine.writes(), 222);
    posted.resize(std::min(posted.size(), loadWrites(8, "PROG").size()));
    EXPECT_EQ(posted, loadWrites(8, "PROG"));
    ASSERT_TRUE(rig.runBatch());
    rig.engine.forget();
    rig.tick();
    EXPECT_TRUE(rig.engine.writes().empty());
}

TEST(CoreDsif, MenuChoiceLoadsOnlyANumberedLabelWhileArmed) {
    struct Case {
        char const* label;
        bool armed;
        std::string loads; // "" for nothing
    } const cases[] = {
        {"12 - Warm Room", true, "12"},
        {"  7-x", true, "7"},
        {"ROOMS (ROOMS)", true, ""},
        {"LST", true, ""},
        {"-3 - x", true, ""},
        {"12 - Warm Room", false, ""},
        {"", true, ""},
    };
    for (Case const& c : cases) {
        DisplayRig rig;
        rig.engine.setb(22, true);
        rig.build();
        rig.boot();
        rig.engine.forget();
        CoreDsifPeek::armProgramMenu(rig.display(), c.armed);
        rig.display().setmr(CoreAnsx(c.label));
        EXPECT_EQ(rig.engine.var("NEWPROGRAM"), c.loads) << c.label;
        EXPECT_EQ(rig.requested(), c.loads.empty() ? 0 : 22) << c.label;
    }
}

TEST(CoreDsif, TickFrameEntersRequestedPagesWithTheirMenusAndHandlers) {
    DisplayRig rig;
    rig.engine.setb(22, true);
    rig.build();
    rig.boot();
    rig.display().drmnu(false);
    std::string const menuRow = rig.row(13);
    // Page -1: no menu holds it, nothing on entry, the main zone emptied in
    // font 3 on every tick; the button row stays.
    CoreDsifPeek::request(rig.display(), -1);
    EXPECT_EQ(rig.page(), 0);
    rig.tick();
    EXPECT_EQ(rig.page(), -1);
    for (int r = 0; r < 13; ++r) EXPECT_EQ(rig.fonts(r), repeat('3', 57) + "0") << r;
    EXPECT_EQ(rig.row(13), menuRow);
    EXPECT_EQ(CoreDsifPeek::currentmenu(rig.display()), CoreDsifPeek::menu(rig.display(), 0));
    // A page two menus hold: the later menu becomes current.
    CoreDsifPeek::menu(rig.display(), 4)->addit(13, CoreAnsx("PRMS"));
    CoreDsifPeek::request(rig.display(), 13);
    rig.tick();
    EXPECT_EQ(CoreDsifPeek::currentmenu(rig.display()), CoreDsifPeek::menu(rig.display(), 4));
    for (int r = 0; r < 13; ++r) EXPECT_EQ(rig.fonts(r), repeat('0', 58)) << r; // cleared on entry
    // setdp empties the screen and goes home.
    rig.display().setdp();
    EXPECT_EQ(rig.requested(), 0);
    EXPECT_EQ(rig.fonts(13), repeat('0', 58));
    rig.tick();
    EXPECT_EQ(rig.page(), 0);
}

TEST(CoreDsif, ButtonRowShowsTheCurrentMenu) {
    DisplayRig rig;
    rig.engine.setb(22, true);
    rig.build();
    rig.boot();
    rig.display().fnmnu(0);
    std::string const text = ". PROG      KERN      MAST      MIDI      DISK            ";
    std::string const changed =
        repeat('0', 10) + "1111111100111111110011111111001111111100" + repeat('1', 8);
    std::string const resting = repeat('1', 8) + "00" + changed.substr(10);
    rig.display().drmnu(true);
    EXPECT_EQ(rig.row(13), text);
    EXPECT_EQ(rig.fonts(13), changed);
    rig.display().drmnu(false);
    EXPECT_EQ(rig.fonts(13), resting);
    DisplayRig::blinkPhase(false); // the mark and the gaps blink
    EXPECT_EQ(rig.row(13), "  PROG      KERN      MAST      MIDI      DISK            ");
    DisplayRig::blinkPhase(true);
    // Page 1 holds no item: the menu and its mark stay.
    rig.display().fnmnu(1);
    rig.display().drmnu(false);
    EXPECT_EQ(rig.row(13), text);
    rig.display().fnmnu(13);
    rig.display().drmnu(false);
    EXPECT_EQ(rig.row(13), "  MEMO    . PRMS      GLOB      LFOS      FUNS      More> ");
}

TEST(CoreDsif, SmallServices) {
    DisplayRig rig;
    rig.engine.seti(44, 48000);
    rig.engine.seth(32, 3);
    rig.engine.seth(38, 7);
    rig.build();
    EXPECT_EQ(rig.display().getfc(), 3);
    EXPECT_EQ(CoreDsifPeek::batchlevel(rig.display()), 1);
    struct Case {
        double microseconds;
        int samples;
    } const cases[] = {{1000.0, 48}, {10.4, 0}, {31.25, 2}, {-31.25, -2}, {1e12, 2147483647}};
    for (Case const& c : cases)
        EXPECT_EQ(rig.display().fnu2t(c.microseconds), c.samples) << c.microseconds;
    EXPECT_EQ(rig.display().fnt2u(24), 500.0);
    rig.engine.seti(44, 0);
    EXPECT_EQ(rig.display().fnu2t(12.6), 13);
    EXPECT_EQ(rig.display().fnt2u(5), 5.0);
    rig.engine.forget();
    rig.display().upprm();
    std::vector<WRITE> const writes = rig.engine.writes();
    ASSERT_EQ(writes.size(), 16u);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(writes[size_t(k)], (WRITE{'v', 195, k, 0, ""}));

    // The bus that stands in for the engine serves nothing yet.
    CorePrbn bus(nullptr);
    CoreBean::BEANSTRUCT index{3, 1};
    EXPECT_FALSE(bus.getbb(41, &index));
    EXPECT_EQ(bus.getbi(44, nullptr), 0);
    EXPECT_EQ(bus.getbs(47, &index), CoreAnsx(""));
    short const levels[] = {-1, 0, 1, 2, 3, 4, 5};
    short const valid[] = {1, 0, 1, 2, 3, 4, 1};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(bus.gettp(levels[i]), valid[i]);
}

TEST(CoreDsif, BuildsAndTeardownsAlsoMidBatch) {
    for (int i = 0; i < 100; ++i) {
        DisplayRig rig;
        rig.engine.setb(22, true);
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
