// ctest-labels: threads
// The value gadget and its fields on a display rig: touch mode and the
// controls' slots, selection by control 0 and by clicks, lists, ranges and
// dual fields read from the cells, mouse drags, the guards, and the rule
// that only what the user moves is reported.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "display/DataLclz.h"
#include "runtime/CoreButl.h"
#include "tests/display/DisplayRig.h"

namespace {
using WRITE = FakeBean::WRITE;

// Past the boot, on page -1, whose handlers leave the fields to the test.
void booted(DisplayRig& rig) {
    rig.engine.put('b', 22, "1");
    rig.build();
    rig.boot();
    CoreDsifPeek::request(rig.display(), -1);
    rig.tick();
    rig.group().reset(0); // the program page's slot field goes
}

// The cells of a field: width + unit characters from its column.
std::string cellsAt(DisplayRig& rig, int column, int row, size_t n) {
    return rig.row(row).substr(size_t(column), n);
}
std::string fontsAt(DisplayRig& rig, int column, int row, size_t n) {
    return rig.fonts(row).substr(size_t(column), n);
}

std::vector<WRITE> writesOf(DisplayRig& rig, int id) {
    std::vector<WRITE> found;
    for (WRITE const& w : rig.engine.writes())
        if (w.id == id) found.push_back(w);
    return found;
}

std::vector<CoreAnsx> texts(std::vector<char const*> const& items) {
    return std::vector<CoreAnsx>(items.begin(), items.end());
}
} // namespace

TEST(CoreDsgt, TouchModeTakesTheControlsAndGivesThemBack) {
    DisplayRig rig;
    booted(rig);
    rig.engine.turn(3, 0.25); // the program's own value of control 3
    rig.engine.forget();
    rig.gadget().reset(2, true, true, 1);
    std::vector<WRITE> expected;
    for (int k = 0; k < 8; ++k) expected.push_back({'b', 187, k, 0, "1"});
    EXPECT_EQ(writesOf(rig, 187), expected);
    EXPECT_EQ(writesOf(rig, 190), (std::vector<WRITE>{{'d', 190, 0, 0, "-1"}}));
    EXPECT_TRUE(rig.engine.alternate(7));
    EXPECT_FALSE(rig.engine.alternate(8));
    rig.engine.forget();
    rig.gadget().reset(0, false, false, -1);
    for (auto& w : expected) w.value = "0";
    EXPECT_EQ(writesOf(rig, 187), expected);
    EXPECT_EQ(rig.engine.raw(3, false), 0.25);
    EXPECT_TRUE(writesOf(rig, 190).empty());
}

TEST(CoreDsgt, FieldsShowTheirValuesAndFollowTheSelectedControl) {
    DisplayRig rig;
    booted(rig);
    CoreDsgt& g = rig.gadget();
    g.reset(3, true, true, 1);
    auto letters = texts({"A", "B", "C", "D"});
    g.gettx(0)->defne(0, 2, 3, 6, DataLclz::sCunitms, false, 2);
    g.gettx(0)->setrg(0.0, 10.0, 2.5);
    g.gettx(1)->defne(0, 2, 4, 6, CoreAnsx(""), false, -1);
    g.gettx(1)->setel(4, letters.data(), 2);
    g.gettx(2)->defne(0, 2, 5, 6, DataLclz::sCunitdb, false, -1);
    g.gettx(2)->setrg(0.0, 10.0, 0.0);
    rig.tickFields(); // control 0 at the bottom: field 0 selected, its position on control 1
    EXPECT_EQ(cellsAt(rig, 2, 3, 9), "2.50 ms  ");
    EXPECT_EQ(fontsAt(rig, 2, 3, 9), "111111111");
    EXPECT_EQ(cellsAt(rig, 2, 4, 6), "C     ");
    EXPECT_EQ(fontsAt(rig, 2, 4, 6), "000000");
    EXPECT_EQ(g.gettx(1)->getvl(), 0.625);
    EXPECT_EQ(cellsAt(rig, 2, 5, 9), "0 dB     ");
    EXPECT_EQ(rig.engine.raw(1, false), -0.5);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(g.gettx(short(i))->ischg());

    struct Step {
        char const* name;
        int control; // turned to raw, or -1: a click at (column, 3)
        double raw;
        int column;
        int selected;
        double control1; // raw on control 1 afterwards
    } const steps[] = {
        {"control 0 at its top selects the last field", 0, 1.0, 0, 2, -1.0},
        {"control 0 back at the middle field", 0, 0.0, 0, 1, 0.25},
        {"a list position of 0.99 shows element 3", 1, 0.98, 0, 1, 0.98},
        {"a click one cell past the value cells selects", -1, 0, 8, 0, -0.5},
    };
    for (Step const& s : steps) {
        if (s.control >= 0)
            rig.engine.turn(s.control, s.raw);
        else
            rig.click(s.column, 3);
        rig.tickFields();
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(fontsAt(rig, 2, 3 + i, 1), i == s.selected ? "1" : "0") << s.name;
        EXPECT_EQ(rig.engine.raw(1, false), s.control1) << s.name;
    }
    EXPECT_EQ(cellsAt(rig, 2, 4, 1), "D");
    EXPECT_TRUE(g.gettx(1)->ischg());
    EXPECT_EQ(g.gettx(1)->getel(), 3);
    EXPECT_EQ(g.gettx(1)->getvl(), 0.99);
    auto more = texts({"E", "F"}); // a second list call adds to the first
    g.gettx(1)->setel(2, more.data(), 5);
    rig.tickFields();
    EXPECT_EQ(cellsAt(rig, 2, 4, 1), "F");
    EXPECT_EQ(g.gettx(1)->getel(), 5);
    EXPECT_FALSE(g.gettx(1)->ischg());
}

// One dual field at the top left, bound to controls 1 and 2: the list x, y,
// z at its second element and the number 40 within 0..100.
CoreDstx* dualField(DisplayRig& rig) {
    booted(rig);
    rig.gadget().reset(1, true, true, 1);
    auto keys = texts({"x", "y", "z"});
    CoreDstx* f = rig.gadget().gettx(0);
    f->defne(0, 0, 2, 5, CoreAnsx(""), false, 0);
    f->setel(3, keys.data(), 0.0, 100.0, true, 1, 40.0);
    return f;
}

TEST(CoreDsgt, DualFieldFollowsTheControlMovedLast) {
    DisplayRig rig;
    CoreDstx* f = dualField(rig);
    rig.tickFields();
    EXPECT_EQ(rig.engine.raw(2, false), CoreDstx::toraw(0.4)); // second position on control 2
    struct Step {
        int control;
        double raw;
        bool ranged;
        char const* shown;
    } const steps[] = {{-1, 0, false, "y    "},
                       {2, 0.0, true, "50   "},
                       {1, 0.9, false, "z    "},
                       {2, -1.0, true, "0    "}};
    for (Step const& s : steps) {
        if (s.control >= 0) rig.engine.turn(s.control, s.raw);
        rig.tickFields();
        EXPECT_EQ(f->isrng(), s.ranged) << s.control;
        EXPECT_EQ(f->ischg(), s.control >= 0) << s.control;
        EXPECT_EQ(cellsAt(rig, 0, 2, 5), s.shown) << s.control;
    }
}

// A drag on a dual field moves the part its first step points at, up and
// down the list (control 1), sideways the number (control 2), to the release.
TEST(CoreDsgt, DragOnADualFieldMovesThePartItStartsOn) {
    DisplayRig rig;
    CoreDstx* f = dualField(rig);
    struct Step {
        bool press; // released and clicked again first
        int dx, dy; // pixels moved
        bool ranged;
        char const* shown;
    } const steps[] = {{true, 3, -20, false, "z    "},  // 0.5 + 0.0036 + 0.24
                       {false, 100, 0, false, "z    "}, // still the list
                       {true, 50, 0, true, "46   "},    // 0.4 + 0.06
                       {false, 0, -5, true, "52   "},   // still the number
                       {true, 0, 40, false, "y    "}};
    int x = 0, y = 0;
    for (Step const& s : steps) {
        if (s.press) {
            rig.release();
            rig.tickFields();
            rig.click(0, 2);
            rig.tickFields();
            x = 0, y = 2 * CoreDspg::iCcelly;
        }
        rig.drag(x += s.dx, y += s.dy);
        rig.tickFields();
        EXPECT_EQ(f->isrng(), s.ranged) << s.shown;
        EXPECT_TRUE(f->ischg()) << s.shown;
        EXPECT_EQ(cellsAt(rig, 0, 2, 5), s.shown);
        double const part = s.ranged ? f->getvl() / 100.0 : f->getvl();
        EXPECT_NEAR(rig.engine.raw(s.ranged ? 2 : 1, false), CoreDstx::toraw(part), 1e-12);
    }
}

TEST(CoreDsgt, MouseDragMovesTheArmedFieldUntilRelease) {
    for (bool withHost : {true, false}) {
        DisplayRig rig;
        rig.engine.put('b', 22, "1");
        rig.build(withHost);
        rig.boot();
        CoreDsifPeek::request(rig.display(), -1);
        rig.tick();
        rig.group().reset(0);
        CoreDsgt& g = rig.gadget();
        g.reset(2, true, true, 1);
        g.gettx(0)->defne(0, 0, 2, 8, CoreAnsx(""), false, 4);
        g.gettx(0)->setrg(0.0, 10.0, 2.5);
        g.gettx(1)->defne(0, 0, 3, 8, CoreAnsx(""), false, 4);
        g.gettx(1)->setrg(0.0, 1.0, 0.5);
        rig.click(4, 3); // selects and arms field 1 at pixels (32, 36)
        rig.tickFields();
        rig.drag(32 + 10, 36 - 5);
        rig.tickFields();
        double const dragged = withHost ? 0.5 + 10 * 0.0012 + 5 * 0.012 : 0.5;
        EXPECT_DOUBLE_EQ(g.gettx(1)->getvl(), dragged);
        EXPECT_EQ(g.gettx(1)->ischg(), withHost);
        EXPECT_EQ(rig.engine.raw(1, false), CoreDstx::toraw(g.gettx(1)->getvl()));
        EXPECT_EQ(CoreDsifPeek::held(rig.display()), withHost); // no host: dropped at once
        rig.host.mouse(32 + 10, 36 - 5, 0x100);                 // only the low byte is the button
        rig.tickFields();                                       // the first tick without it disarms
        EXPECT_FALSE(CoreDsifPeek::held(rig.display()));
        rig.drag(400, 0);
        rig.tickFields();
        EXPECT_DOUBLE_EQ(g.gettx(1)->getvl(), dragged);
        EXPECT_FALSE(g.gettx(1)->ischg());
        EXPECT_EQ(g.gettx(0)->getvl(), 2.5);
        // A click elsewhere with the release unseen (a quick click inside one
        // tick) ends the drag: the next press's jump leaves the field alone.
        rig.click(4, 3);
        rig.tickFields();
        rig.drag(32 + 10, 36 - 5);
        rig.tickFields();
        double const again = g.gettx(1)->getvl();
        rig.click(40, 6);
        rig.tickFields();
        rig.drag(32 + 300, 36 + 200);
        rig.tickFields();
        EXPECT_DOUBLE_EQ(g.gettx(1)->getvl(), again);
    }
}

TEST(CoreDsgt, GuardsAgainstEmptyRangesListsAndFields) {
    DisplayRig rig;
    booted(rig);
    CoreDsgt& g = rig.gadget();
    double const nan = std::numeric_limits<double>::quiet_NaN();
    double const inf = std::numeric_limits<double>::infinity();
    struct Case {
        char const* name;
        double minimum, maximum, value;
        double position; // read back from control 1
        char const* shown;
    } const cases[] = {
        {"zero-width range", 5.0, 5.0, 5.0, 0.0, "5.00"},
        {"NaN value", 0.0, 1.0, nan, 0.0, "    "} /* "0": not drawn, page -1 blanked it */,
        {"infinite value", 0.0, 1.0, inf, 1.0, "inf "},
        {"above the range", 0.0, 1.0, 3.0, 1.0, "3.00"},
        {"NaN range", nan, 1.0, 0.5, 0.0, "0.50"},
    };
    for (Case const& c : cases) {
        g.reset(1, true, true, 1);
        g.gettx(0)->defne(0, 0, 2, 4, CoreAnsx(""), false, c.name[0] == 'N' ? -1 : 2);
        g.gettx(0)->setrg(c.minimum, c.maximum, c.value);
        rig.tickFields();
        EXPECT_EQ(CoreDstx::toposition(rig.engine.raw(1, false)), c.position) << c.name;
        EXPECT_FALSE(g.gettx(0)->ischg()) << c.name;
        EXPECT_EQ(cellsAt(rig, 0, 2, 4), c.shown) << c.name;
    }
    g.reset(1, true, true, 1); // a list without elements
    g.gettx(0)->defne(0, 0, 2, 4, CoreAnsx(""), false, -1);
    g.gettx(0)->setel(0, nullptr, 3);
    rig.tickFields();
    EXPECT_EQ(g.gettx(0)->getel(), 0);
    EXPECT_EQ(rig.engine.raw(1, false), -1.0);
    rig.engine.turn(1, nan); // a NaN from the control is the bottom
    rig.tickFields();
    EXPECT_EQ(g.gettx(0)->getvl(), 0.0);
    g.reset(0, true, true, 1); // no fields: nothing selected, nothing written
    rig.engine.forget();
    g.focus(short(1));
    g.focus(2, 3, true);
    rig.tickFields();
    EXPECT_TRUE(writesOf(rig, 190).empty());
    EXPECT_EQ(g.gettx(0), nullptr);
    EXPECT_EQ(CoreDsgt::indexOf(nan, 4), 0);
    EXPECT_EQ(CoreDsgt::indexOf(5.0, 4), 3);
    // Shown times become whole microseconds by the nearest.
    EXPECT_EQ(CoreDsif::tomicros(1.001, 1000.0), 1001); // 1000.9999999999999 before rounding
    EXPECT_EQ(CoreDsif::tomicros(nan, 1e6), 0);
    EXPECT_EQ(CoreDsif::tomicros(1e9, 1e6), INT_MAX);
}

// The helpers no page calls: a list built element by element, selection by
// index, the origin cell taken as no click (as the edit fields take it), and
// a field bound without posting, which takes the control's value at its
// next update.
TEST(CoreDsgt, HelpersSelectBindAndTakeTheOriginAsNoClick) {
    DisplayRig rig;
    booted(rig);
    CoreDsgt& g = rig.gadget();
    g.reset(2, true, true, 1);
    g.gettx(0)->defne(0, 0, 0, 6, CoreAnsx(""), false, 2); // on the origin cell
    g.gettx(0)->setrg(0.0, 10.0, 2.5);
    g.gettx(1)->defne(0, 2, 4, 6, CoreAnsx(""), false, -1);
    for (char const* t : {"X", "Y"}) g.gettx(1)->addel(CoreAnsx(t), 0.0);
    rig.tickFields();
    EXPECT_EQ(cellsAt(rig, 2, 4, 1), "X");
    // A choice or a value set by the page is shown and counts as reported.
    g.gettx(1)->setel(1);
    rig.tickFields();
    EXPECT_EQ(cellsAt(rig, 2, 4, 1), "Y");
    EXPECT_FALSE(g.gettx(1)->ischg());
    g.gettx(1)->setel(0);
    g.gettx(0)->setvl(5.0);
    EXPECT_EQ(g.gettx(0)->getvl(), 5.0);
    EXPECT_FALSE(g.gettx(0)->ischg());
    g.focus(short(1));
    rig.tickFields();
    EXPECT_EQ(fontsAt(rig, 2, 4, 1), "1");
    rig.engine.forget();
    g.focus(0, 0, true);
    rig.tickFields();
    EXPECT_TRUE(writesOf(rig, 190).empty());
    EXPECT_EQ(fontsAt(rig, 2, 4, 1), "1");

    g.reset(1, false, false, -1);
    g.gettx(0)->defne(0, 2, 3, 6, CoreAnsx(""), false, 2);
    g.gettx(0)->setrg(0.0, 10.0, 2.5);
    rig.engine.turn(4, 0.5);
    rig.engine.forget();
    g.setmx(0, 4);
    EXPECT_TRUE(rig.engine.writes().empty());
    rig.tickFields();
    EXPECT_EQ(g.gettx(0)->getvl(), 7.5);
    EXPECT_TRUE(g.gettx(0)->ischg());
}

// A page of 20 fields loaded from the engine, each written back through its
// conversion whenever it reports a change. Sweeping the selection over them
// changes nothing; one move of control 1 changes the selected field alone.
TEST(CoreDsgt, OnlyWhatTheUserMovesIsWrittenBack) {
    DisplayRig rig;
    booted(rig);
    auto buffers = texts({"32", "64", "128", "256", "512", "1024", "2048"});
    auto shapes = texts({"SINE", "SQUARE", "SAW", "NOISE"});
    constexpr int fields = 20;
    for (int i = 0; i < fields; ++i) {
        int id = 300 + i;
        if (i % 4 == 0) rig.engine.put('i', id, std::to_string(1001 + 37 * i)); // microseconds
        if (i % 4 == 1) rig.engine.put('s', id, i == 1 ? "100" : "512");        // a DSP buffer
        if (i % 4 == 2) rig.engine.put('d', id, FakeBean::exact(0.1 * i));      // 1.0 and above
        if (i % 4 == 3) rig.engine.put('s', id, "NOPE");                        // no such key
    }
    CoreDsgt& g = rig.gadget();
    g.reset(fields, true, true, 1);
    CoreBean::BEANSTRUCT none{};
    for (int i = 0; i < fields; ++i) {
        CoreDstx* f = g.gettx(short(i));
        int id = 300 + i;
        f->defne(0, short(i / 10 * 29), short(1 + i % 10), 8, CoreAnsx(""), false, 1);
        if (i % 4 == 0) f->setrg(0.0, 2000.0, rig.engine.getbi(id, &none) / 1000.0);
        if (i % 4 == 1)
            f->setel(7, buffers.data(),
                     CoreButl::getci(rig.engine.getbs(id, &none), 7, buffers.data(), true, false));
        if (i % 4 == 2) f->setrg(0.0, 1.0, rig.engine.getbd(id, &none));
        if (i % 4 == 3)
            f->setel(4, shapes.data(),
                     CoreButl::getci(rig.engine.getbs(id, &none), 4, shapes.data(), false, false));
    }
    auto pageTick = [&] {
        rig.tickFields();
        std::vector<int> changed;
        for (int i = 0; i < fields; ++i) {
            CoreDstx* f = g.gettx(short(i));
            if (!f->ischg()) continue;
            changed.push_back(i);
            int id = 300 + i;
            if (i % 4 == 0) rig.engine.setbi(id, CoreDsif::tomicros(f->getvl(), 1000.0), &none);
            if (i % 4 == 1) rig.engine.setbs(id, buffers[size_t(f->getel())], &none);
            if (i % 4 == 2) rig.engine.setbd(id, f->getvl(), &none);
            if (i % 4 == 3) rig.engine.setbs(id, shapes[size_t(f->getel())], &none);
        }
        return changed;
    };
    rig.engine.forget();
    for (int t = 0; t < 200; ++t) {
        rig.engine.turn(0, std::sin(t * 0.1));
        EXPECT_TRUE(pageTick().empty()) << t;
    }
    for (WRITE const& w : rig.engine.writes()) EXPECT_LT(w.id, 300) << w;
    EXPECT_EQ(rig.row(1).substr(0, 8), "1.0     "); // 1001 us in ms, one decimal
    EXPECT_EQ(rig.row(2).substr(0, 8), "128     "); // 100 shows its nearest buffer
    short selected = CoreDsgt::indexOf(std::sin(199 * 0.1), fields);
    rig.engine.turn(1, 0.7);
    EXPECT_EQ(pageTick(), std::vector<int>{selected});
    EXPECT_TRUE(pageTick().empty());
    int pagewrites = 0;
    for (WRITE const& w : rig.engine.writes()) pagewrites += w.id >= 300;
    EXPECT_EQ(pagewrites, 1);
    EXPECT_EQ(g.gettx(0)->getvl(), 1.001);
    EXPECT_EQ(g.gettx(2)->getvl(), 2 == selected ? 0.85 : 0.2);
}
