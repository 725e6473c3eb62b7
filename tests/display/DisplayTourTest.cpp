// ctest-labels: threads
// The whole display on the fakes. A tour reaches every page by the user's own
// means (the button rows, the pages' buttons, the value gadget, a program
// choice, the batches, a failing boot) and on every page clicks each word the
// page draws in its button font, types into each edit field and moves each
// value field; a seeded random walk of clicks, keys, wheel steps, drags and
// control turns covers every page again; a variant ticks on one thread while
// another posts input and reads snapshots. After every tick the screen must
// be whole (each cell of the 58 x 14 main zone and the extra zone in exactly
// one font, the snapshot equal to the buffer) and the engine written only
// the properties the page on screen may write.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "display/CoreDsch.h"
#include "display/CoreDsed.h"
#include "tests/display/DisplayRig.h"
#include "tests/display/ProgramStock.h"
#include "tests/support/LogCapture.h"

namespace {
using WRITE = FakeBean::WRITE;
using SCREEN = DisplayRig::SCREEN;

// What every page from 0 to 19 may write: the wheel (82), the bypass (258),
// the modulator refresh (195), the gadget's control hand-over and moves (187,
// 189 to 191) and a program choice's batch (223 to 225).
std::set<int> const everyPage{82, 258, 195, 187, 189, 190, 191, 223, 224, 225};

// What each page writes besides (the settings it edits, its filters, saves
// and refreshes); a property outside both sets written while the page is on
// screen is a fault. The batch pages clear the message rows and hand the
// controls back; the display's thread selects "ACTION" at a batch's end.
std::map<short, std::set<int>> const pageWrites = {
    {0, {23, 24, 50, 83, 193, 244, 245}},
    {1, {171}},
    {2, {19, 20, 21, 30, 32, 35, 38, 41, 45, 48, 50, 51, 52, 54, 62, 65, 70, 79, 158, 236}},
    {3, {79, 179, 180}},
    {4, {}},
    {5, {23, 50, 55, 150, 161, 165}},
    {6, {56, 64, 67, 167, 170, 176, 177}},
    {7, {90, 91, 92, 93, 98, 99, 100}},
    {8, {0, 1, 7, 8, 9, 10, 11, 12, 13, 39}},
    {9, {103, 104, 105}},
    {10, {112, 114, 115, 116, 117, 118, 119, 120, 121, 252, 253, 259, 260, 261}},
    {11, {134, 135, 136, 137, 138, 139, 140, 141, 142, 143}},
    {12, {126, 127, 128, 129, 130, 131, 132, 133}},
    {13, {196, 205}},
    {14, {197, 198, 201, 202, 203, 204, 210, 211, 214, 215, 216, 217}},
    {15, {}},
    {16, {}},
    {17, {171}},
    {18, {83, 193, 244, 245}},
    {19, {32, 41, 48, 79}},
    {20, {144}},
    {21, {}},
    {22, {187, 222, 223}},
    {23, {187, 222, 223}},
};

bool isBatch(short page) { return page == 22 || page == 23; }

// One string per cell of a decoded row (symbols are several bytes).
std::vector<std::string> cellsOf(std::string const& row) {
    std::vector<std::string> cells;
    for (unsigned char c : row)
        if ((c & 0xC0) == 0x80 && !cells.empty())
            cells.back() += char(c);
        else
            cells.emplace_back(1, char(c));
    return cells;
}

// The screen is whole: each cell of the main and extra zones holds a font
// 0 to 3, and the snapshot shows it in that font's zone alone (a doubled
// glyph from its even corner), at a glyph position inside the strip.
bool whole(CoreDsif& display) {
    CoreCnst::DISPLAYDATA data;
    display.newdd(&data);
    display.flldd(&data);
    CoreDsbf const& buffer = CoreDsifPeek::buffer(display);
    bool good = data.total == 3 * 17 * 58 + 8 * 29;
    for (int y = 0; good && y < CoreDsif::iCdimy + CoreDsif::iCdimaddy; ++y)
        for (int x = 0; good && x < CoreDsif::iCdimx; ++x) {
            short font = buffer.getcl(short(x), short(y))->getfn();
            good = font >= 0 && font <= 3;
            for (short zone = 0; good && zone < 4; ++zone) {
                int size = zone == 2 ? 2 : 1, column = x / size, row = y / size;
                if (x % size != 0 || y % size != 0 || row >= data.rows[zone]) continue;
                double v = data.cells[data.rowstarts[zone][row] + column];
                good = (v >= 0.0) == (zone == font) && v < 1.0;
            }
        }
    display.deldd(&data);
    return good;
}

struct TOUR {
    DisplayRig rig;
    std::set<short> reached{20};               // pages the user's input led to
    short last = 20;                           // page after the last tick
    std::map<short, std::set<int>> unexpected; // page: properties it should not write

    explicit TOUR(std::vector<FakeBean::BOOTSTEP> boot = FakeBean::threeLines) {
        FakeBean& e = rig.engine;
        e.boot(std::move(boot));
        e.put('b', 22, "1"), e.put('b', 41, "1"), e.put('s', 47, "7.1");
        stockPrograms(e);
        for (int p : {1, 3}) e.put('b', 196, "1", p), e.put('s', 198, "Drive", p);
        rig.skin.getsk()->fontnames = {CoreAnsx("WHITE"), CoreAnsx("AMBER")};
        rig.skin.getsk()->fontcount = 2;
        rig.build();
        rig.engine.forget();
        for (int i = 0; i < 10 && rig.page() == 20; ++i) tick();
    }

    // The screen is whole and the writes of the tick are the page's.
    void after() {
        short page = rig.page();
        ASSERT_GE(page, 0);
        ASSERT_LE(page, 23);
        if (page != last) reached.insert(page);
        last = page;
        ASSERT_TRUE(whole(rig.display())) << "page " << page;
        for (WRITE const& w : rig.engine.writes()) {
            if (w.kind == 'r') continue; // a read the fake logs
            bool common = page <= 19 && everyPage.count(w.id);
            if (!common && !pageWrites.at(page).count(w.id)) unexpected[page].insert(w.id);
        }
        rig.engine.forget();
    }

    void tick() {
        rig.tick();
        after();
    }
    // Ticks until no batch runs or is due.
    void settle() {
        for (int i = 0; i < 3 && !isBatch(rig.page()); ++i) tick();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (isBatch(rig.page()) || isBatch(rig.requested())) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "batch never ended";
            tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // The page again, its set's mode in force, without counting it reached.
    void enter(short page) {
        bool simple = page >= 17 && page <= 19;
        rig.engine.put('b', 41, simple ? "0" : "1");
        CoreDsifPeek::request(rig.display(), page);
        rig.tick();
        rig.tick();
        rig.engine.forget();
        last = rig.page();
    }
};

// Where the user can act on the page now: the first cell of every word drawn
// on rows 0 to 13 (buttons, list rows, captions), keyed by its place and text.
std::map<std::pair<int, int>, std::string> buttonWords(DisplayRig& rig) {
    std::map<std::pair<int, int>, std::string> words;
    SCREEN screen = rig.cells();
    for (int r = 0; r < CoreDsif::iCdimy; ++r) {
        std::vector<std::string> text = cellsOf(screen.text[size_t(r)]);
        std::string const& fonts = screen.fonts[size_t(r)];
        for (size_t c = 0; c < fonts.size() && c < text.size(); ++c) {
            bool starts =
                text[c] != " " && (c == 0 || fonts[c - 1] != fonts[c] || text[c - 1] == " ");
            if (!starts) continue;
            std::string word;
            for (size_t k = c; k < text.size() && fonts[k] == fonts[c] && text[k] != " "; ++k)
                word += text[k];
            words[{int(c), r}] = word;
        }
    }
    return words;
}

// The first cell each field of the edit group and of the value gadget
// answers to, -1 for a hidden field.
template <class FIELD>
std::vector<std::pair<int, int>> fieldCells(std::function<FIELD*(short)> const& at) {
    std::vector<std::pair<int, int>> places;
    for (short i = 0; FIELD* field = at(i); ++i) {
        std::pair<int, int> place{-1, -1};
        for (int r = 0; r < CoreDsif::iCdimy && place.first < 0; ++r)
            for (int c = 0; c < CoreDsif::iCdimx && place.first < 0; ++c)
                if (field->ishre(short(c), short(r))) place = {c, r};
        places.push_back(place);
    }
    return places;
}

// One user input drawn by the generator: a click anywhere (the button row
// and the extra zone too), a key, wheel steps, a drag, a release, a turn of
// one of the gadget's controls, a bypass press or a program choice (one in
// eight for no program).
void randomInput(DisplayRig& rig, std::mt19937& random) {
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    static char const keys[] = "0123456789-.aZ \r\b\x1b";
    switch (pick(10)) {
    case 0:
    case 1:
    case 2: rig.click(pick(CoreDsif::iCdimx), pick(CoreDsif::iCdimy + CoreDsif::iCdimaddy)); break;
    case 3: rig.key(static_cast<unsigned char>(keys[pick(sizeof keys - 1)])); break;
    case 4: rig.wheel(pick(7) - 3); break;
    case 5:
        rig.drag(pick(CoreDsif::iCdimx * CoreDspg::iCcellx),
                 pick(CoreDsif::iCdimy * CoreDspg::iCcelly));
        break;
    case 6: rig.release(); break;
    case 7:
        rig.engine.turn(pick(3), std::uniform_real_distribution<double>(-1.0, 1.0)(random));
        break;
    case 8: rig.bypass(); break;
    default: {
        auto const& stock = stockedPrograms();
        int n = pick(int(stock.size()) + 1);
        rig.choose(n < int(stock.size()) ? stock[size_t(n)].slot : -1);
    }
    }
}

// Works one page: every button word (again as the page redraws, e.g. after
// a view change or a menu scroll), every edit field with keys typed, every
// value field turned by the controls and dragged, the wheel, the bypass and
// a program choice. Returns to the page after each action that leaves it.
void workPage(TOUR& tour, short page) {
    DisplayRig& rig = tour.rig;
    auto back = [&] {
        tour.settle();
        if (rig.page() != page) tour.enter(page);
    };
    auto press = [&](int column, int row, std::string const& keys, int dragx) {
        rig.click(column, row);
        for (char k : keys) rig.key(static_cast<unsigned char>(k));
        tour.tick();
        if (dragx != 0 && rig.page() == page) {
            rig.drag(column * CoreDspg::iCcellx + dragx, row * CoreDspg::iCcelly - 7);
            tour.tick();
        }
        rig.release();
        tour.tick();
        back();
    };
    tour.enter(page);
    // Every word once; a menu row's scroll words only when nothing new is
    // left, first to the right end, the way back once.
    std::set<std::pair<std::pair<int, int>, std::string>> done;
    bool backDone = false;
    for (int round = 0; round < 16; ++round) {
        bool fresh = false;
        std::map<std::string, std::pair<int, int>> scrolls;
        for (auto const& [place, word] : buttonWords(rig)) {
            if (word.find("More") != std::string::npos) {
                scrolls[word] = place;
                continue;
            }
            // An earlier press may have redrawn the place (a view changed).
            auto now = buttonWords(rig);
            if (now.count(place) == 0 || now.at(place) != word) continue;
            if (!done.insert({place, word}).second) continue;
            fresh = true;
            press(place.first, place.second, "", 0);
        }
        if (fresh) continue;
        if (scrolls.count("More>")) {
            press(scrolls["More>"].first, scrolls["More>"].second, "", 0);
        } else if (scrolls.count("<More") && !backDone) {
            backDone = true;
            press(scrolls["<More"].first, scrolls["<More"].second, "", 0);
        } else {
            break;
        }
    }
    auto edits = fieldCells<CoreDsed>([&](short i) { return rig.group().gettx(i); });
    for (auto [column, row] : edits)
        if (column >= 0) press(column, row, "12\r", 0);
    auto values = fieldCells<CoreDstx>([&](short i) { return rig.gadget().gettx(i); });
    short count = short(values.size());
    for (short i = 0; i < count; ++i) {
        for (double position : {0.1, 0.9}) {
            if (rig.page() != page) tour.enter(page);
            rig.engine.turn(0, CoreDsgt::controlOf(i, count));
            tour.tick();
            rig.engine.turn(1, CoreDstx::toraw(position));
            rig.engine.turn(2, CoreDstx::toraw(1.0 - position));
            tour.tick();
            back();
        }
        if (values[size_t(i)].first >= 0)
            press(values[size_t(i)].first, values[size_t(i)].second, "", 40);
    }
    rig.wheel(2);
    rig.bypass();
    tour.tick();
    back();
    rig.choose(120);
    tour.tick();
    back();
}
} // namespace

TEST(DisplayTour, EveryPageByItsOwnRouteWithEveryControlWorked) {
    LogCapture quiet;
    TOUR tour;
    EXPECT_EQ(tour.rig.page(), 0);
    std::deque<short> due{0};
    std::set<short> worked;
    while (!due.empty()) {
        short page = due.front();
        due.pop_front();
        if (!worked.insert(page).second) continue;
        workPage(tour, page);
        for (short p : tour.reached)
            if (p < 20 && !worked.count(p)) due.push_back(p);
    }
    // The boot error page keeps the boot's lines; only the home code leaves it.
    TOUR failed({{1, "kernel folder missing", false, false, false}});
    EXPECT_EQ(failed.rig.page(), 21);
    failed.rig.click(5, 13);
    failed.tick();
    EXPECT_EQ(failed.rig.page(), 21);
    failed.rig.display().setdp();
    failed.tick();
    EXPECT_EQ(failed.rig.page(), 0);
    tour.reached.merge(failed.reached);
    tour.unexpected.merge(failed.unexpected);
    std::set<short> every;
    for (short p = 0; p < 24; ++p) every.insert(p);
    EXPECT_EQ(tour.reached, every);
    EXPECT_EQ(tour.rig.snapshot(), tour.rig.cells());
    EXPECT_EQ(tour.unexpected, (std::map<short, std::set<int>>{}));

    // The display goes while a batch runs.
    tour.rig.engine.slow(20);
    tour.rig.choose(12);
    tour.tick();
    tour.tick();
    EXPECT_EQ(tour.rig.page(), 22);
    tour.rig.destroy();
}

TEST(DisplayTour, SeededRandomWalkOverEveryPage) {
    LogCapture quiet;
    TOUR tour;
    std::mt19937 random(39);
    for (int step = 0; step < 2000; ++step) {
        if (step % 100 == 0) tour.enter(short(step / 100)); // pages 0 to 19 in turn
        randomInput(tour.rig, random);
        tour.tick();
        if (isBatch(tour.rig.page())) tour.settle();
        if (HasFatalFailure()) return;
    }
    EXPECT_EQ(tour.unexpected, (std::map<short, std::set<int>>{}));
}

// The control thread ticks while the editor's thread posts input and reads
// snapshots, and the display's thread steps the batches that input starts.
TEST(DisplayTour, TicksWhileAnotherThreadPostsInputAndReadsSnapshots) {
    LogCapture quiet;
    TOUR tour;
    DisplayRig& rig = tour.rig;
    std::atomic<bool> stop{false};
    std::atomic<int> snapshots{0}, torn{0};
    std::thread editor([&] {
        std::mt19937 random(7);
        while (!stop) {
            randomInput(rig, random);
            SCREEN screen = rig.snapshot();
            for (std::string const& fonts : screen.fonts)
                if (fonts.size() != size_t(CoreDsif::iCdimx) ||
                    fonts.find('!') != std::string::npos)
                    ++torn;
            ++snapshots;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::set<short> seen;
    for (int i = 0; i < 3000; ++i) {
        rig.tick();
        seen.insert(rig.page());
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    stop = true;
    editor.join();
    EXPECT_GT(snapshots.load(), 0);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(seen.size(), 1u);
    rig.release();
    rig.engine.forget();
    tour.settle();
    EXPECT_EQ(rig.snapshot(), rig.cells());
}
