// ctest-labels: threads
// Program browsing on a display rig: the drawing helpers and parameter rows,
// the program pop-up menu (its entries against the item document read back
// by the storage XML reader, the arm record), the program page in both views
// and the list page, over a fake program memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "display/CoreDsgm.h"
#include "display/CoreDsmn.h"
#include "modulation/CoreIfce.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "tests/display/DisplayRig.h"
#include "tests/display/ProgramStock.h"

namespace {
using WRITE = FakeBean::WRITE;

std::string pad(std::string text, size_t n = 58, char fill = ' ') {
    return text.resize(n, fill), text;
}

// The menu content the plug-in owns; freed after the rig that fills it.
struct CONTENT {
    CoreCnst::POPMENUCONTENTDATA data;
    ~CONTENT() { delete[] data.entries; }
};

// Booted onto page 0 with a stocked memory (unless empty) and the content.
void booted(DisplayRig& rig, CONTENT* content = nullptr, bool stocked = true) {
    rig.engine.put('b', 22, "1");
    if (stocked) stockPrograms(rig.engine);
    rig.build();
    if (content) rig.display().setpd(&content->data);
    rig.boot();
    rig.tick();
}

std::vector<WRITE> writesOf(DisplayRig& rig, std::function<bool(WRITE const&)> const& keep) {
    std::vector<WRITE> found;
    for (WRITE const& w : rig.engine.writes())
        if (keep(w)) found.push_back(w);
    return found;
}

// The batch variables a posted command writes, in order, after clearing them.
std::vector<WRITE> batch(std::vector<std::pair<std::string, std::string>> const& vars) {
    std::vector<WRITE> w{{'v', 225, 0, 0, ""}};
    for (auto const& [name, value] : vars) {
        w.push_back({'s', 223, 0, 0, name});
        w.push_back({'s', 224, 0, 0, value});
    }
    return w;
}
std::vector<WRITE> load(int slot, std::string const& action, std::string const& step) {
    return batch({{"LOADED", "LOADED:"},
                  {"LOADING", "LOADING:"},
                  {"NEWPROGRAM", std::to_string(slot)},
                  {"ACTION", action},
                  {"NEXTSTEP", step}});
}
bool isBatchWrite(WRITE const& w) { return w.id >= 223 && w.id <= 225; }

// A row of 58 cells with texts placed at their columns.
std::string placed(std::vector<std::pair<size_t, std::string>> const& texts) {
    std::string row = pad("");
    for (auto const& [column, text] : texts) row.replace(column, text.size(), text);
    return row;
}

// The cells of a screen row from a column on (rows hold UTF-8 symbols).
std::string from(DisplayRig& rig, int row, size_t column) {
    std::string text = rig.row(row);
    size_t at = 0;
    for (size_t cell = 0; cell < column && at < text.size(); ++cell) do
            ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80);
    return text.substr(at);
}

// The program page's list entry of a slot.
std::string entry(int slot, std::string const& name) {
    std::string number = std::to_string(slot);
    return slot < 1000 ? " " + pad(pad(number, 3) + " " + name, 20) : pad(number + " " + name, 21);
}

void type(DisplayRig& rig, std::string const& keys) {
    for (char k : keys) rig.key(static_cast<unsigned char>(k));
}

void click(DisplayRig& rig, int column, int row, int ticks = 1) {
    rig.click(column, row);
    for (int i = 0; i < ticks; ++i) rig.tick();
    rig.release();
}
} // namespace

TEST(ProgramBrowsing, ButtonsCaptionsAndParameterRows) {
    DisplayRig rig;
    stockPrograms(rig.engine);
    CoreDsif& d = rig.build(); // left on the boot page: the screen stays as drawn here
    struct Case {
        char const* name;
        std::function<bool()> draw;
        bool hit;
        std::string text, fonts; // row 4 from column 10
    } const cases[] = {
        {"first character", [&] { return d.drbtn(10, 4, " GO ", 10, 4); }, true, " GO ", "0000"},
        {"one right of the last", [&] { return d.drbtn(10, 4, " GO ", 14, 4); }, false, " GO ",
         "1111"},
        {"another row", [&] { return d.drbtn(10, 4, " GO ", 11, 5); }, false, " GO ", "1111"},
        {"toggle's trailing blank",
         [&] { return d.drtbt(10, 4, CoreAnsx("OFF"), CoreAnsx("ON"), true, 13, 4); }, true, ".ON ",
         "0000"},
        {"two-state on text's length",
         [&] { return d.drtb2(10, 4, CoreAnsx("OFF"), CoreAnsx("LONGER"), true, 15, 4); }, true,
         "LONGER", "000000"},
        {"caption with a head",
         [&] { return d.label(CoreAnsx("X"), CoreAnsx("ON"), 10, 4), false; }, false, "X ON",
         "1000"},
    };
    for (Case const& c : cases) {
        rig.display().label(CoreAnsx(""), CoreAnsx(pad("", 10).c_str()), 10, 4);
        EXPECT_EQ(c.draw(), c.hit) << c.name;
        EXPECT_EQ(rig.row(4).substr(10, c.text.size()), c.text) << c.name;
        EXPECT_EQ(rig.fonts(4).substr(10, c.fonts.size()), c.fonts) << c.name;
    }
    DisplayRig::blinkPhase(false); // a set toggle's dot blinks
    d.drtbt(10, 4, CoreAnsx("OFF"), CoreAnsx("ON"), true, 0, 0);
    EXPECT_EQ(rig.row(4).substr(10, 4), " ON ");
    DisplayRig::blinkPhase(true);

    // Parameter rows of modulator 0 (Cutoff, 440 Hz, bar 0.25) and the others.
    struct Row {
        char const* name;
        std::function<void()> setup;
        int column;
        short n, bar;
        bool a, b;
        std::string text, fonts; // 32 cells from column 0
    } const rows[] = {
        {"the example row", [&] { rig.engine.put('s', 197, "", 0); }, 0, 0, 0, false, false,
         "CUTOFF:     █▌ 440.00 Hz" + pad("", 8), pad("", 32, '0')},
        {"pre-label, dragged", [&] { rig.engine.put('s', 197, "1", 0); }, 0, 0, 0, true, false,
         "1 CUTOFF:   █▌ 440.00 Hz" + pad("", 8), "00" + pad("", 30, '1')},
        {"bare at column 4, bar 1", [] {}, 4, 0, 1, false, true,
         "XXXX1 CUTOFF    █ 440.00 Hz" + pad("", 5), pad("", 32, '0')},
        {"bar at 0", [&] { rig.engine.put('d', 199, "0", 0); }, 0, 0, 0, false, false,
         "1 CUTOFF:    440.00 Hz" + pad("", 10), "10" + pad("", 30, '0')},
        {"units around the value",
         [&] {
             rig.engine.put('s', 201, " x ", 0), rig.engine.put('s', 202, " k ", 0);
             rig.engine.put('d', 200, "0.7", 0);
         },
         0, 0, 0, false, false, "1 CUTOFF:    x0.70k Hz" + pad("", 10), "10" + pad("", 30, '0')},
        {"no such shown modulator", [] {}, 0, 4, 0, false, false, pad("", 29) + "XXX",
         pad("", 32, '0')},
    };
    for (Row const& r : rows) {
        r.setup();
        d.label(CoreAnsx(""), CoreAnsx(pad("", 32, 'X').c_str()), 0, 6);
        d.drprm(r.column, 6, r.n, r.bar, r.a, r.b);
        std::string shown = rig.row(6), fonts = rig.fonts(6);
        EXPECT_EQ(shown.substr(0, r.text.size()), r.text) << r.name;
        EXPECT_EQ(fonts.substr(0, 32), r.fonts) << r.name;
    }

    // Names, places and moves.
    rig.engine.put('s', 198, "", 5);
    rig.engine.put('s', 204, "MULTIPLY", 5);
    rig.engine.put('s', 198, "0", 9);
    rig.engine.put('s', 204, "ADD", 9);
    EXPECT_EQ(d.getpn(2), CoreAnsx("Resona.."));
    EXPECT_EQ(d.getpn(5), CoreAnsx("<MULT..>"));
    EXPECT_EQ(d.getpn(9), CoreAnsx("<ADD>"));
    EXPECT_EQ(d.getpn(16), CoreAnsx("UNDEFINED"));
    EXPECT_EQ(d.getpp(0, false), 1);
    EXPECT_EQ(d.getpp(2, true), 5);
    EXPECT_EQ(d.getpp(4, true), -1);
    rig.engine.put('s', 197, "9", 2);
    rig.engine.put('s', 197, "X", 9);
    short const controls[] = {0, -1, -1, -1, -1}; // shown 0, 2, 5, 9; none
    for (short n = 0; n < 5; ++n) EXPECT_EQ(d.prtmx(n), controls[n]) << n;
    rig.engine.put('s', 197, "3", 9);
    EXPECT_EQ(d.prtmx(3), 2);
    rig.engine.forget();
    EXPECT_EQ(d.prmsw(0, true), 9); // looks at 15 first, then down to the shown 9
    EXPECT_EQ(rig.engine.writes(), (std::vector<WRITE>{{'v', 205, 9, 0, ""}}));
    EXPECT_EQ(d.getpn(9), CoreAnsx("Cutoff"));
    for (int k : {0, 2, 5}) rig.engine.put('b', 196, "0", k);
    EXPECT_EQ(d.prmsw(9, false), 9); // the only shown one stays
    EXPECT_EQ(rig.engine.writes().size(), 1u);

    // Lists fetched from the engine.
    std::vector<CoreAnsx> list;
    int count = -1;
    rig.engine.files("/kits", {"a.wav", "b.txt", "c.wav"});
    d.readr(CoreAnsx("/kits"), CoreAnsx("*.wav"), list, count);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(list, (std::vector<CoreAnsx>{CoreAnsx("a.wav"), CoreAnsx("c.wav")}));
    rig.engine.put('i', 900, "-3");
    d.rsvas(list, count, 900, 901);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(list.empty());
}

TEST(ProgramBrowsing, PopUpMenuOfTheCategoryTree) {
    CONTENT content;
    DisplayRig rig;
    std::string const longname(60, 'N');
    rig.engine.program(12, "Warm Room", {"ROOM", "SMALL", ""});
    rig.engine.program(40, "Long Hall", {"ROOM", "LARGE", ""});
    rig.engine.program(7, longname, {"Echo", "", ""});
    rig.engine.word("ROOM", "Rooms");
    rig.engine.word("ECHO", "Echoes");
    rig.engine.word("LARGE", "Large");
    rig.engine.put('s', 56, "Long Hall");
    rig.engine.put('s', 250, "Last");
    rig.engine.put('h', 251, "24");
    booted(rig, &content, false);
    CoreCnst::POPMENUCONTENTDATA const& c = content.data;

    // Pre-order, categories as "dictionary text (node text)", every text
    // zero-terminated within its 48 bytes.
    ASSERT_EQ(c.count, 8);
    std::vector<int> parents;
    for (int i = 0; i < c.count; ++i) {
        parents.push_back(c.entries[i].parent);
        EXPECT_EQ(c.entries[i].text[47], '\0') << i;
    }
    EXPECT_EQ(parents, (std::vector<int>{-1, -1, 1, -1, 3, 4, 3, 6}));
    EXPECT_STREQ(c.entries[0].text, "Last");
    EXPECT_STREQ(c.entries[1].text, "Echoes (ECHO)");
    EXPECT_EQ(std::string(c.entries[2].text), ("7 - " + longname).substr(0, 47));
    EXPECT_STREQ(c.entries[4].text, "SMALL (SMALL)");

    // The same items read back from the menu's document by the XML reader.
    CoreDsmn* menu = CoreDsifPeek::popups(rig.display()).getmn(0);
    CoreXml_ reader;
    CoreNode* root = reader.getfc(menu->gettx());
    ASSERT_NE(root, nullptr);
    std::vector<std::pair<int, std::string>> walked; // entry i is walked[i - 1]
    std::function<void(CoreNode const*, int)> walk = [&](CoreNode const* node, int parent) {
        CoreTlst const* children = node->getcn();
        for (int i = 0; children && i < children->count; ++i) {
            auto const* child = static_cast<CoreNode const*>((*children)[unsigned(i)]);
            walked.emplace_back(parent, child->gettx().Trim().c_str());
            walk(child, int(walked.size()));
        }
    };
    walk(root->getcd(), -1);
    ASSERT_EQ(int(walked.size()), c.count - 1);
    for (int i = 1; i < c.count; ++i) {
        EXPECT_EQ(c.entries[i].parent, walked[size_t(i - 1)].first) << i;
        EXPECT_EQ(std::string(c.entries[i].text), walked[size_t(i - 1)].second.substr(0, 47)) << i;
    }

    // The arm record over the name "Long Hall"; a page change withdraws it
    // by its armed byte alone.
    std::vector<std::uint8_t> armed = {1, 0, 0,  0, 8, 0, 0,  0, 0, 0,
                                       2, 0, 17, 0, 2, 0, 24, 0, 0, 0};
    auto lastRecord = [&] {
        auto calls = rig.host.calls();
        for (size_t i = calls.size(); i-- > 0;)
            if (calls[i].kind == 's' && calls[i].id == CorePlif::iCproparm) {
                EXPECT_TRUE(i + 1 < calls.size() && calls[i + 1].kind == 'c');
                return calls[i].payload;
            }
        return std::vector<std::uint8_t>();
    };
    EXPECT_EQ(lastRecord(), armed);

    // While armed a program's label loads it; the title or a category none.
    for (int i : {0, 3}) rig.display().setmr(CoreAnsx(c.entries[i].text));
    EXPECT_EQ(rig.requested(), 0);
    rig.display().setmr(CoreAnsx(c.entries[5].text));
    EXPECT_EQ(rig.engine.var("NEWPROGRAM"), "12");
    ASSERT_TRUE(rig.runBatch());
    EXPECT_EQ(rig.page(), 0);

    click(rig, 12, 13); // KERN
    armed[0] = 0;
    EXPECT_EQ(lastRecord(), armed);
    rig.display().setmr(CoreAnsx(c.entries[5].text)); // withdrawn: nothing
    EXPECT_EQ(rig.requested(), 5);

    // The tree is rebuilt only when asked, though 244 runs on every entry.
    auto entries = [&](bool rebuild) {
        CoreDsifPeek::request(rig.display(), 5);
        rig.tick();
        if (rebuild) CoreDsifPeek::rebuildMenu(rig.display());
        rig.engine.forget();
        CoreDsifPeek::request(rig.display(), 0);
        rig.tick();
        EXPECT_EQ(writesOf(rig, [](WRITE const& w) { return w.id == 244; }).size(), 1u);
        EXPECT_EQ(writesOf(rig, [](WRITE const& w) { return w.id == 245; }).empty(), !rebuild);
        return c.count;
    };
    rig.engine.program(55, "Plate", {"PLATE", "", ""});
    EXPECT_EQ(entries(false), 8);
    EXPECT_EQ(entries(true), 10);

    DisplayRig empty; // a memory without programs: the title alone
    CONTENT none;
    booted(empty, &none, false);
    EXPECT_EQ(none.data.count, 1);
}

TEST(ProgramBrowsing, ProgramPageDetailView) {
    DisplayRig rig;
    booted(rig);
    EXPECT_EQ(rig.row(0), placed({{0, "  ProgMode"},
                                  {12, "Q"},
                                  {16, "SMP: 12345"},
                                  {31, "KRN: 4"},
                                  {44, "PRF: 12 %"},
                                  {55, " L "}}));
    EXPECT_EQ(rig.row(1).substr(40), " SAVE      RELOAD ");
    EXPECT_EQ(rig.row(2).substr(40), " ECONO     BYPASS ");
    EXPECT_EQ(rig.row(3).substr(40), " NODROP    EDIT   ");
    EXPECT_EQ(rig.row(5), pad("DSC: A long hall with stone walls"));
    EXPECT_EQ(rig.row(6), pad("FRT: 44100 Hz -> 48000 Hz"));
    EXPECT_EQ(rig.row(8), placed({{0, "GAIN IN:    -6.020 dB"}, {29, "GAIN OUT:   0.0000 dB"}}));

    struct Case {
        char const* name;
        int column, row;
        std::function<void(FakeBean&)> setup;
        std::vector<WRITE> writes; // of the batch variables and the toggles' properties
        short page;
    } const cases[] = {
        {"reload", 50, 1, nullptr, load(40, "PROG", "READPROGRAM_2"), 22},
        {"save", 40, 1, nullptr,
         batch({{"SAVING", "SAVING..."}, {"ACTION", "PROG"}, {"NEXTSTEP", "SAVEPROGRAM"}}), 22},
        {"bypass", 50, 2, nullptr, {{'b', 258, 0, 0, "1"}}, 0},
        {"econo", 47, 2, nullptr, {{'b', 23, 0, 0, "1"}, {'h', 50, 0, 0, "-1"}}, 0},
        {"no drop", 40, 3, nullptr, {{'b', 24, 0, 0, "1"}}, 0},
        {"no drop in ghost mode", 40, 3, [](FakeBean& e) { e.put('b', 35, "1"); }, {}, 0},
        {"no drop without 25", 40, 3, [](FakeBean& e) { e.put('b', 25, "0"); }, {}, 0},
        {"edit", 50, 3, nullptr, {}, 6},
    };
    for (Case const& c : cases) {
        DisplayRig one;
        booted(one);
        if (c.setup) c.setup(one.engine);
        one.engine.forget();
        click(one, c.column, c.row);
        EXPECT_EQ(writesOf(one,
                           [](WRITE const& w) {
                               return isBatchWrite(w) || w.id == 258 || w.id == 23 || w.id == 50 ||
                                      w.id == 24;
                           }),
                  c.writes)
            << c.name;
        EXPECT_EQ(one.requested(), c.page) << c.name;
    }
}

TEST(ProgramBrowsing, ProgramPageNameAndSlotField) {
    struct Case {
        std::string name;
        bool converted; // property 31
        size_t twice;   // 2L, the field's column
    } const cases[] = {{"", false, 0},
                       {"Long Hall", true, 18},
                       {"ABCDEFGHIJKLMNOP", true, 32},
                       {"ABCDEFGHIJKLMNOPQRS", false, 32}};
    for (Case const& c : cases) {
        DisplayRig rig;
        booted(rig);
        rig.engine.put('s', 56, c.name);
        rig.engine.put('b', 31, c.converted ? "1" : "0");
        for (int row : {2, 3})
            rig.display().label(CoreAnsx(""), CoreAnsx(pad("", 40, 'X').c_str()), 0, row);
        rig.tick();
        EXPECT_EQ(rig.row(2).substr(c.twice, 40 - c.twice), pad("40", 37 - c.twice) + "XXX")
            << c.name;
        EXPECT_EQ(rig.row(3).substr(c.twice, 40 - c.twice),
                  pad(c.converted ? "c" : "", 35 - c.twice) + "XXXXX")
            << c.name;
        EXPECT_EQ(rig.fonts(2).substr(0, 2), c.twice ? "23" : "00") << c.name;
    }

    // Confirming the selected slot's number reloads it only in the detail
    // view; another number loads in both; a sign, a comma or letters load
    // nothing.
    struct Typed {
        bool list;
        char const* keys;
        std::string loads;
    } const typed[] = {{false, "40\r", "40"}, {true, "40\r", ""},   {true, "12\r", "12"},
                       {false, "-5\r", ""},   {false, "6,5\r", ""}, {false, "ab\r", ""},
                       {false, "6.5\r", "65"}};
    for (Typed const& t : typed) {
        DisplayRig rig;
        booted(rig);
        if (t.list) click(rig, 55, 0, 2);
        click(rig, 18, 2);
        type(rig, t.keys);
        rig.tick();
        EXPECT_EQ(rig.engine.var("NEWPROGRAM"), t.loads) << t.keys;
        EXPECT_EQ(rig.requested(), t.loads.empty() ? 0 : 22) << t.keys;
    }
}

TEST(ProgramBrowsing, ProgramPageListView) {
    DisplayRig rig;
    booted(rig);
    click(rig, 55, 0, 2); // " L "
    EXPECT_EQ(rig.row(0), placed({{0, "  ProgMode"},
                                  {12, "RTE: 2.9 ms"},
                                  {28, "MEM: 3.5 Mb"},
                                  {44, "48000 Hz"},
                                  {55, " V "}}));
    auto const& stock = stockedPrograms();
    auto listed = [&](size_t first) {
        for (size_t n = 0; n < 12; ++n) {
            std::string expected = n < stock.size() ? entry(stock[(first + n) % stock.size()].slot,
                                                            stock[(first + n) % stock.size()].name)
                                                    : pad("", 21);
            EXPECT_EQ(from(rig, int(n + 1), 37), expected) << first << " row " << n;
        }
    };
    listed(0);
    EXPECT_EQ(rig.fonts(4).substr(37), pad("", 21, '1')); // the selected slot 40
    EXPECT_EQ(rig.row(8).substr(0, 36),
              placed({{0, "GAINS:      -6.020 dB"}, {25, "0.0000 dB"}}).substr(0, 36));
    click(rig, 36, 12); // five occupied slots on: 55 heads the list
    listed(5);
    click(rig, 36, 1);
    listed(0);

    // A list row loads its slot, the selected slot nothing.
    rig.engine.forget();
    click(rig, 40, 4);
    EXPECT_TRUE(writesOf(rig, isBatchWrite).empty());
    click(rig, 40, 2);
    EXPECT_EQ(writesOf(rig, isBatchWrite), load(7, "PROG", "READPROGRAM"));
    EXPECT_EQ(CoreDsifPeek::bankprogram(rig.display()), (std::pair<int, int>{0, 7}));
    EXPECT_EQ(CoreDsifPeek::browsetop(rig.display()), 7);
    ASSERT_TRUE(rig.runBatch());
    EXPECT_EQ(rig.page(), 0);
    rig.tick();
    EXPECT_EQ(rig.row(0).substr(55), " V "); // the list view stays chosen

    // Silence and tiny memory; a drag on the Cutoff row moves control 0.
    rig.engine.put('d', 3, "0");
    rig.engine.put('d', 5, "10000");
    rig.tick();
    EXPECT_EQ(rig.row(8).substr(0, 21), "GAINS:      -192.6 dB");
    EXPECT_EQ(rig.row(0).substr(28, 10), "MEM: 0 Mb ");
    rig.engine.forget();
    rig.click(5, 9);
    rig.tick();
    int px = 5 * CoreDspg::iCcellx, py = 9 * CoreDspg::iCcelly;
    rig.drag(px + 30, py - 10);
    rig.tick();
    int x = px, y = py;
    double expected = CoreIfce::getnh(0.5, x, y, px + 30, py - 10);
    auto moved = writesOf(rig, [](WRITE const& w) { return w.id == 193; });
    ASSERT_FALSE(moved.empty());
    EXPECT_EQ(moved.back(), (WRITE{'d', 193, 0, 0, FakeBean::exact(expected)}));
    EXPECT_EQ(rig.fonts(9).substr(2, 10), pad("", 10, '1')); // dragged: drawn in font 1
    rig.release();
    rig.tick();
    EXPECT_EQ(rig.fonts(9).substr(2, 10), pad("", 10, '0'));
}

TEST(ProgramBrowsing, EmptyMemoryListsAndLoadsNothing) {
    for (bool zero : {false, true}) { // searches that find nothing answer -1 or 0
        DisplayRig rig;
        rig.engine.noneAsZero(zero);
        booted(rig, nullptr, false);
        click(rig, 55, 0, 2);
        for (int n = 1; n <= 12; ++n) EXPECT_EQ(from(rig, n, 37), pad("", 21)) << zero;
        rig.engine.forget();
        click(rig, 40, 1);
        CoreDsifPeek::request(rig.display(), 1); // the list page too
        rig.tick();
        click(rig, 5, 1);
        EXPECT_EQ(rig.row(1).substr(0, 16), pad("", 16));
        EXPECT_TRUE(writesOf(rig, isBatchWrite).empty()) << zero;
    }
}

TEST(ProgramBrowsing, ListPageByCategory) {
    DisplayRig rig;
    rig.engine.program(300, "Deep Stone", {"ROOM", "LARGE", "STONE"});
    booted(rig);
    CoreDsifPeek::request(rig.display(), 1);
    rig.tick();
    // The category column (names cut after their index) and the grid of the
    // selected category in slot order, blank after its last program.
    auto column = [&](std::vector<std::string> const& names, int selected) {
        for (size_t i = 0; i < 11; ++i) {
            std::string text =
                i < names.size() ? pad(" " + pad(std::to_string(i), 4) + names[i], 9) : pad("", 9);
            EXPECT_EQ(from(rig, int(i + 1), 48).substr(0, 9), text) << i;
            char font = i >= names.size() ? '0' : int(i) == selected ? '1' : '0';
            EXPECT_EQ(rig.fonts(int(i + 1))[48], font) << i;
        }
    };
    auto grid = [&](std::vector<std::string> const& names) {
        for (size_t i = 0; i < 22; ++i)
            EXPECT_EQ(rig.row(int(i % 11 + 1)).substr(i / 11 * 20, 16),
                      pad(i < names.size() ? names[i] : "", 16))
                << i;
    };
    auto level = [&](int expected, char const* filter) {
        EXPECT_EQ(CoreDsifPeek::level(rig.display()), expected);
        EXPECT_EQ(rig.engine.level(), expected);
        auto filters = writesOf(rig, [](WRITE const& w) { return w.id == 171; });
        ASSERT_FALSE(filters.empty());
        EXPECT_EQ(filters.back(), (WRITE{'s', 171, expected, 0, filter}));
    };
    column({"ROOM", "ECHO", "PLATE"}, 0);
    grid({"Warm Room", "Cellar", "Long Hall", "Cathedral", "Deep Stone", "Chamber"});
    level(0, "ROOM");
    EXPECT_EQ(rig.row(12), placed({{0, "  40 ROOM/LONG HALL    A long hall with stone walls"}}));

    click(rig, 50, 2); // ECHO chosen, then descended into: its subcategories
    grid({"Tape Echo", "Slap Back", "Space Echo"});
    click(rig, 50, 2);
    column({"TAPE", "SPACE"}, 0);
    grid({"Tape Echo", "Slap Back"});
    level(1, "TAPE");
    click(rig, 50, 1); // TAPE has no subcategories: the level stays
    level(1, "TAPE");
    click(rig, 50, 0); // "  UP   ": ECHO as chosen before
    column({"ROOM", "ECHO", "PLATE"}, 1);
    level(0, "ECHO");

    // Three levels down and back: ROOM, LARGE, STONE; a repeated click at
    // the deepest level moves the engine's level but not the page's.
    for (auto [row, ticks] : {std::pair{1, 1}, {1, 1}, {2, 1}, {2, 1}}) click(rig, 50, row, ticks);
    column({"STONE"}, 0);
    level(2, "STONE");
    click(rig, 50, 1);
    level(2, "STONE");
    click(rig, 50, 0);
    column({"SMALL", "LARGE"}, 1);
    click(rig, 50, 0);
    column({"ROOM", "ECHO", "PLATE"}, 0);
    level(0, "ROOM");

    grid({"Deep Stone", "Chamber"}); // the grid's top stayed where STONE left it

    // A name loads with "LIST"; the batch returns here with the program
    // page's list at that slot; a blank cell loads nothing.
    rig.engine.forget();
    click(rig, 5, 11);
    EXPECT_TRUE(writesOf(rig, isBatchWrite).empty());
    click(rig, 5, 1);
    EXPECT_EQ(writesOf(rig, isBatchWrite), load(300, "LIST", "READPROGRAM"));
    ASSERT_TRUE(rig.runBatch());
    EXPECT_EQ(rig.page(), 1);
    EXPECT_EQ(CoreDsifPeek::programtop(rig.display()), 300);
}

TEST(ProgramBrowsing, ListPageAllProgramsAndNothingMatching) {
    DisplayRig rig;
    for (int slot = 1; slot <= 40; ++slot)
        rig.engine.program(slot, "P" + std::to_string(slot), {"A", "", ""});
    booted(rig, nullptr, false);
    CoreDsifPeek::request(rig.display(), 1);
    rig.tick();
    click(rig, 50, 0, 2);         // " ALL "
    auto cells = [&](int first) { // 33 cells in slot order, wrapping past the last
        for (int i = 0; i < 33; ++i)
            EXPECT_EQ(rig.row(i % 11 + 1).substr(size_t(i / 11 * 20), 16),
                      pad("P" + std::to_string((first + i - 1) % 40 + 1), 16))
                << first << " cell " << i;
    };
    cells(1);
    EXPECT_EQ(rig.row(0).substr(50, 7), ".CATEG ");
    click(rig, 44, 0, 2); // " >> "
    cells(34);
    click(rig, 38, 0, 2); // " << "
    cells(1);

    // Nothing matches: blank cells that load nothing, whatever a search that
    // finds nothing answers; slot 0 is not taken for a match.
    for (bool zero : {false, true}) {
        DisplayRig one;
        one.engine.noneAsZero(zero);
        one.engine.program(0, "Zero", {"ROOM", "", ""});
        one.engine.program(5, "Five", {"ECHO", "", ""});
        booted(one, nullptr, false);
        CoreDsifPeek::request(one.display(), 1);
        one.tick();
        click(one, 50, 2, 2); // ECHO
        EXPECT_EQ(one.row(1).substr(0, 16), pad("Five", 16)) << zero;
        EXPECT_EQ(one.row(2).substr(0, 16), pad("", 16)) << zero;
        one.engine.forget();
        click(one, 5, 2);
        EXPECT_TRUE(writesOf(one, isBatchWrite).empty()) << zero;
    }
}

TEST(ProgramBrowsing, CategoryPagingWrapsAndProgLeavesTheListPages) {
    DisplayRig rig;
    std::vector<std::string> matches; // category A: 30 programs, more than 22 cells
    for (int slot = 1; slot <= 40; ++slot) {
        bool a = slot % 4 != 0;
        rig.engine.program(slot, "P" + std::to_string(slot), {a ? "A" : "B", "", ""});
        if (a) matches.push_back("P" + std::to_string(slot));
    }
    booted(rig, nullptr, false);
    CoreDsifPeek::request(rig.display(), 1);
    rig.tick();
    auto grid = [&](size_t first, char const* when) {
        for (size_t i = 0; i < 22; ++i)
            EXPECT_EQ(rig.row(int(i % 11 + 1)).substr(i / 11 * 20, 16),
                      pad(first + i < matches.size() ? matches[first + i] : "", 16))
                << when << " cell " << i;
    };
    grid(0, "first page");
    click(rig, 44, 0, 2); // " >> "
    grid(22, "second page");
    click(rig, 44, 0, 2); // past the last match: the first again
    grid(0, "wrapped");

    // The list pages show the program pages' row with PROG marked; PROG
    // still leads back.
    struct Exit {
        short from, to;
    } const exits[] = {{1, 0}, {17, 18}};
    for (Exit const& e : exits) {
        CoreDsifPeek::request(rig.display(), e.from);
        rig.tick();
        ASSERT_EQ(rig.page(), e.from);
        click(rig, 3, 13, 2);
        EXPECT_EQ(rig.page(), e.to) << e.from;
    }
}

TEST(ProgramBrowsing, PopUpGroupFocusesTheMenuUnderAPressedCell) {
    CoreDsgm group(nullptr, nullptr);
    group.reset(2);
    group.getmn(0)->defne(2, 3, 4, 2); // columns 2..6, rows 3..5
    group.getmn(1)->defne(10, 0, 3, 1);
    struct Cell {
        short column, row;
        bool pressed;
        short menu;  // what focus answers
        bool inzero; // the cell lies in menu 0's area
    } const cells[] = {{2, 3, true, 0, true},   {6, 5, true, 0, true},   {7, 5, true, -1, false},
                       {10, 1, true, 1, false}, {2, 3, false, -1, true}, {13, 1, true, 1, false}};
    for (Cell const& c : cells) {
        EXPECT_EQ(group.focus(c.column, c.row, c.pressed), c.menu) << c.column << "," << c.row;
        EXPECT_EQ(group.getmn(0)->ishre(c.column, c.row), c.inzero) << c.column << "," << c.row;
    }
}

TEST(ProgramBrowsing, PopUpItemsAddedAtTheTopAndBelowAParentPushInPreOrder) {
    CoreDsmn menu(nullptr, nullptr);
    CoreNode* top = menu.adden("TOP");
    menu.adden("LEAF", top);
    menu.adden("NEXT");
    CoreCnst::POPMENUCONTENTDATA content;
    ASSERT_EQ(menu.pushd(&content, "T"), 4);
    struct Entry {
        int parent;
        char const* text;
    } const want[] = {{-1, "T"}, {-1, "TOP"}, {1, "LEAF"}, {-1, "NEXT"}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(content.entries[i].text, want[i].text) << i;
        if (i > 0) {
            EXPECT_EQ(content.entries[i].parent, want[i].parent) << i;
        }
    }
    delete[] content.entries;
}
