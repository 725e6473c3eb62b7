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
