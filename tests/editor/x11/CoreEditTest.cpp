// ctest-labels: threads
// The windowing editor on a real display (the display harness's fake engine)
// with the demo skin, under a virtual X server of the test's own: the window
// against the snapshot renderer's picture, pixel for pixel; XTest input
// against the records the plug-in receives; the pop-up menu; open and close
// in every order. The key table and the strip checks need no server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "editor/x11/CoreEdhs.h"
#include "editor/x11/CoreEdit.h"
#include "runtime/CoreBlnk.h"
#include "runtime/CoreLog_.h"
#include "skin/CoreSkin.h"
#include "tests/display/FakeBean.h"
#include "tests/support/EditorPixels.h"
#include "tests/support/FileBytes.h"
#include "tests/support/HugePng.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MemoryCap.h"
#include "tests/support/TempDir.h"
#include "tests/support/XViewer.h"
#include "tools/CoreDskn.h"
#include "tools/CoreDspg.h"

namespace {

using ENTRY = CoreCnst::POPMENUENTRY;
double stillClock() { return 1000.0; } // no blink during a comparison

// The plug-in object as the shell serves the editor (one thread here).
class FakePlugin : public CoreEdhs {
public:
    int gtprp(int id, int, int capacity, void* out) override {
        auto copy = [&](void const* from, int bytes) {
            std::memcpy(out, from, size_t(std::min(bytes, capacity)));
            return std::min(bytes, capacity);
        };
        if (id == iCpropcells && cells.empty()) display->flldd(&data);
        if (id == iCpropcells) return copy(cells.empty() ? data.cells : cells.data(), total * 8);
        if (id == iCpropcapture) return copy(&capture, 1);
        if (id == iCproparm) return copy(arm, 20);
        if (id == iCpropentries) return copy(entries.data(), int(entries.size()) * 52);
        return 0;
    }
    int stprp(int id, int, int, void* in, unsigned long size) override {
        if (id == iCpropinput && size == 20) mailbox->addms(static_cast<CoreDspc::MESSAGELOC*>(in));
        if (id == iCpropmouse && size == 12) std::memcpy(mouse, in, 12);
        if (id == iCpropchoice && size == 52) chosen.push_back(*static_cast<ENTRY*>(in));
        return 1;
    }
    void prchg(int id, int index, int value) override {
        if (listener != nullptr) listener->prchg(id, index, value);
    }
    void attch(bool on) override { editors += on ? 1 : -1; }

    // What the display posts: capture, an arming or a withdrawal.
    void setCapture(bool on) {
        capture = on;
        prchg(iCpropcapture, 0, 0);
    }
    void armMenu(bool on, std::vector<ENTRY> const& list, short const (&area)[4],
                 short percolumn = 24) {
        entries = list;
        std::int32_t count = std::int32_t(entries.size());
        arm[0] = on;
        std::memcpy(arm + 4, &count, 4);
        std::memcpy(arm + 8, area, 8);
        std::memcpy(arm + 16, &percolumn, 2);
        prchg(iCproparm, 0, 0);
    }

    CoreDsif* display = nullptr;
    CoreDspc* mailbox = nullptr;
    CoreCnst::DISPLAYDATA data; // the display's snapshot
    int total = 0;
    std::vector<double> cells; // served instead of the display's when not empty
    CoreEdit* listener = nullptr;
    std::int32_t mouse[3] = {0, 0, 0};
    unsigned char capture = 0;
    unsigned char arm[20] = {};
    std::vector<ENTRY> entries;
    std::vector<ENTRY> chosen;
    int editors = 0;
};

class EditorTest : public XViewer {
protected:
    static void SetUpTestSuite() {
        startServer();
        if (server == nullptr) return;
        folder = new TempDir("vorlanedit");
        if (!CoreDskn::wrskn(CoreAnsx(folder->file("DEMO.V2S").c_str()))) failure = "no skin";
    }
    static void TearDownTestSuite() {
        stopServer();
        delete folder;
        folder = nullptr;
    }
    void SetUp() override {
        XViewer::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        parent = topWindow(0);
        skin = std::make_unique<CoreSkin>(CoreAnsx(folder->file("DEMO.V2S").c_str()));
        display = std::make_unique<CoreDsif>(&engine, &mailbox, &blink, skin.get(), &plugin);
        plugin.display = display.get();
        plugin.mailbox = &mailbox;
        display->newdd(&plugin.data);
        plugin.total = plugin.data.total;
        for (int i = 0; i < 3; ++i) display->updte(true); // boot lines on screen
    }
    void TearDown() override {
        if (display != nullptr) display->deldd(&plugin.data);
        XViewer::TearDown();
    }

    Window topWindow(int top) { // host windows at different tops do not hide each other
        Window w =
            XCreateSimpleWindow(viewer, DefaultRootWindow(viewer), 0, top, 600, 300, 0, 0, 0);
        XMapWindow(viewer, w);
        XSync(viewer, False);
        return w;
    }
    // Idles until done() holds (input reaches the editor asynchronously).
    template <class DONE> bool idle(CoreEdit& editor, DONE done, int milliseconds = 10000) {
        XSync(viewer, False);
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        for (; std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
            editor.idle();
            if (done()) return true;
        }
        return false;
    }
    void pause(CoreEdit& editor) {
        idle(
            editor, [] { return false; }, 60);
    }
    void moveTo(Window w, int x, int y) {
        Window child = 0;
        int rx = 0, ry = 0;
        XTranslateCoordinates(viewer, w, DefaultRootWindow(viewer), x, y, &rx, &ry, &child);
        XTestFakeMotionEvent(viewer, DefaultScreen(viewer), rx, ry, 0);
    }
    void click(Window w, int x, int y, unsigned button = 1) {
        moveTo(w, x, y);
        XTestFakeButtonEvent(viewer, button, True, 0);
        XTestFakeButtonEvent(viewer, button, False, 0);
    }
    void key(KeySym symbol) {
        XTestFakeKeyEvent(viewer, XKeysymToKeycode(viewer, symbol), True, 0);
        XTestFakeKeyEvent(viewer, XKeysymToKeycode(viewer, symbol), False, 0);
    }
    Window focused() {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(viewer, &focus, &revert);
        return focus;
    }
    std::vector<CoreDspc::MESSAGELOC> taken(short id) {
        std::vector<CoreDspc::MESSAGELOC> all(1);
        while (mailbox.getms(id, &all.back())) all.emplace_back();
        all.pop_back();
        return all;
    }
    std::vector<unsigned long> pixels(Window w) { return EditorPixels::grab(viewer, w); }

    // Zone pixels that differ from the renderer's picture of what the
    // plug-in serves (greys, as the first colour has them).
    int wrongPixels(CoreEdit& editor) {
        CoreCnst::DISPLAYDATA snap;
        display->newdd(&snap);
        plugin.gtprp(CorePlif::iCpropcells, 0, snap.total * 8, snap.cells);
        int counts[4] = {display->getre(0), display->getre(1), display->getre(2), 1};
        CoreDspg::IMAGE picture;
        CoreDspg::rendr(snap, counts, CoreDsif::iCdimy, 1, picture);
        display->deldd(&snap);
        return EditorPixels::wrong(pixels(editor.getwn()), editor.getly(), picture.pixels.data(),
                                   picture.width);
    }

    // A seeded screen: every cell in font 0, 1 or 3, some 2 x 2 blocks in
    // font 2, glyphs at their slots' edges and centres.
    std::vector<double> randomScreen(unsigned seed) {
        CoreCnst::DISPLAYDATA const& d = plugin.data;
        std::vector<double> cells(size_t(d.total), -1.0);
        std::mt19937 random(seed);
        auto at = [&](int f, int c, int r) -> double& {
            return cells[size_t(d.rowstarts[f][r] + c)];
        };
        auto value = [&](int f) {
            int n = display->getre(short(f)), g = int(random() % unsigned(n)), edge = random() % 3;
            return edge == 2 ? std::nextafter(double(g + 1) / n, 0.0) : (g + 0.5 * edge) / n;
        };
        for (int r = 0; r < d.rows[0]; ++r)
            for (int c = 0, f = 0; c < d.columns[0]; ++c)
                f = int(random() % 3), at(f == 2 ? 3 : f, c, r) = value(f == 2 ? 3 : f);
        for (int r = 0; r < d.rows[2]; ++r)
            for (int c = 0; c < d.columns[2]; ++c) {
                if (random() % 4 != 0) continue;
                at(2, c, r) = value(2);
                for (int f : {0, 1, 3})
                    for (int q = 0; q < 4; ++q) at(f, 2 * c + q % 2, 2 * r + q / 2) = -1.0;
            }
        return cells;
    }

    static inline TempDir* folder = nullptr;
    Window parent = 0;
    FakeBean engine;
    CoreDspc mailbox;
    CoreBlnk blink{&stillClock};
    std::unique_ptr<CoreSkin> skin;
    FakePlugin plugin;
    std::unique_ptr<CoreDsif> display; // last: goes first
};

TEST(CoreEditMapping, KeyTableAndStripChecks) {
    // Those the window test types are left out here.
    unsigned long const keysyms[] = {XK_KP_Enter,   XK_End,    XK_Home,       XK_Right,
                                     XK_Insert,     XK_space,  XK_asciitilde, XK_nobreakspace,
                                     XK_ydiaeresis, XK_Escape, XK_Up,         XK_KP_1,
                                     0x7f,          0x9f,      0x100};
    int const codes[] = {13, '#', '$', '\'', '-', ' ', '~', 0xa0, 0xff, -1, -1, -1, -1, -1, -1};
    for (size_t i = 0; i < std::size(codes); ++i)
        EXPECT_EQ(CoreEdit::keycd(keysyms[i]), codes[i]) << keysyms[i];

    struct CASE {
        int sizes[3][2]; // FONT1, FONTNEG, FONT2: width, height
        char const* why; // "" when good
    } const cases[] = {
        {{{864, 12}, {752, 12}, {1728, 24}}, ""},
        {{{865, 12}, {752, 12}, {1728, 24}}, "FONT1 width"},
        {{{864, 12}, {750, 12}, {1728, 24}}, "FONTNEG width"},
        {{{864, 12}, {752, 12}, {1729, 24}}, "FONT2 width"},
        {{{864, 12}, {846, 12}, {1728, 24}}, "FONTNEG cell"},
        {{{864, 12}, {752, 12}, {864, 12}}, "FONT2 cell"},
    };
    for (CASE const& c : cases) {
        CoreStrp::IMAGE set[3];
        for (int s = 0; s < 3; ++s) set[s].width = c.sizes[s][0], set[s].height = c.sizes[s][1];
        int cx = 0, cy = 0;
        char const* why = "";
        EXPECT_EQ(CoreStrp::check(set, cx, cy, why), *c.why == '\0') << c.why;
        EXPECT_NE(std::string(why).find(c.why), std::string::npos) << why;
    }

    // The demo skin's colours load; no skin, a colour it lacks or bytes that
    // are no PNG give the built-in glyphs (an error where a skin was meant).
    TempDir temp("vorlanstrp");
    ASSERT_TRUE(CoreDskn::wrskn(CoreAnsx(temp.file("DEMO.V2S").c_str())));
    CoreSkin demo(CoreAnsx(temp.file("DEMO.V2S").c_str()));
    std::tuple<CoreSkin*, int, bool> const loads[] = {{nullptr, 0, false},
                                                      {&demo, 0, true},
                                                      {&demo, 1, true},
                                                      {&demo, 2, false},
                                                      {&demo, -1, false}};
    for (auto const& [from, colour, skinned] : loads) {
        LogCapture log;
        CoreStrp strips;
        EXPECT_EQ(strips.loads(from, colour), skinned) << colour;
        EXPECT_EQ(strips.getcx() * 100 + strips.getcy(), 812);
        EXPECT_EQ(log.text().find("***ERROR***") != std::string::npos, from && !skinned);
    }
    CoreStrp::IMAGE image;
    unsigned char const junk[] = "\x89PNG\r\n\x1a\n not really";
    EXPECT_FALSE(CoreStrp::decod(junk, int(sizeof junk), image));
}

// A skin picture too large to decode, or a background that cannot hold the
// display, is refused before it is decoded, with a line said at every debug
// level; the editor opens as it does when that item is unreadable, and never
// allocates 100 MB on the way.
TEST(CoreEditMapping, APictureThatCannotServeOpensAsAnUnreadableOne) {
    std::string const huge = hugePng();
    TempDir temp("vorlanback");
    ASSERT_TRUE(CoreDskn::wrskn(CoreAnsx(temp.file("DEMO.V2S").c_str())));
    CoreSkin const demo(CoreAnsx(temp.file("DEMO.V2S").c_str()));
    auto bytesOf = [&](std::string const& item) {
        int size = 0;
        unsigned char const* data = demo.getbt(CoreAnsx(item.c_str()), size);
        return std::string(reinterpret_cast<char const*>(data), size_t(size));
    };
    // The demo skin as a folder whose item holds bytes instead; the editor's
    // window size on it.
    auto rectWith = [&](std::string const& item, std::string const& bytes, int& wide, int& high) {
        std::string const folder = temp.file(item + std::to_string(bytes.size()));
        std::filesystem::create_directories(folder);
        for (char const* name : {"ROM.XML", "BACKGROUND.PNG", "GREEN1.PNG", "GREENNEG.PNG",
                                 "GREEN2.PNG", "AMBER1.PNG", "AMBERNEG.PNG", "AMBER2.PNG"})
            writeBytes(folder + "/" + name, name == item ? bytes : bytesOf(name));
        CoreSkin skin(CoreAnsx(folder.c_str()));
        CoreEdit editor(nullptr, nullptr, &skin, 0);
        PlatVst::Rect* rect = nullptr;
        if (!editor.getrc(&rect)) return false;
        wide = rect->right, high = rect->bottom;
        return true;
    };
    struct Row {
        char const* item;
        std::string bytes;
        char const* said;
    } const rows[] = {
        {"BACKGROUND.PNG", huge, "is larger than a picture may be"},
        {"BACKGROUND.PNG", bytesOf("GREEN1.PNG"), "does not hold the display"},
        {"GREEN1.PNG", huge, "is larger than a picture may be"},
    };
    for (Row const& row : rows) {
        SCOPED_TRACE(row.said);
        int wide = 0, high = 0, unreadablewide = -1, unreadablehigh = -1;
        ASSERT_TRUE(rectWith(row.item, "no picture", unreadablewide, unreadablehigh));
        LogCapture log;
        EXPECT_TRUE(underMemoryCap([&] {
            CoreLog_::setdb(0, false); // only what is said at every level
            return rectWith(row.item, row.bytes, wide, high) && wide == unreadablewide &&
                   high == unreadablehigh;
        }));
        EXPECT_TRUE(LogCapture::error(log.text(), row.said)) << log.text();
    }
}

TEST_F(EditorTest, WindowShowsTheRenderersPicture) {
    struct CASE {
        bool withSkin;
        unsigned seed; // 0: the display's own screen (the boot lines)
        int width, height;
    } const cases[] = {{true, 0, 496, 248}, {true, 7, 496, 248}, {false, 11, 464, 216}};
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.seed);
        plugin.cells = c.seed != 0 ? randomScreen(c.seed) : std::vector<double>();
        CoreEdit editor(&plugin, display.get(), c.withSkin ? skin.get() : nullptr, 0);
        PlatVst::Rect* rect = nullptr;
        ASSERT_TRUE(editor.getrc(&rect));
        EXPECT_EQ(rect->right * 1000 + rect->bottom, c.width * 1000 + c.height);
        ASSERT_TRUE(editor.open(parent));
        XWindowAttributes a;
        ASSERT_TRUE(XGetWindowAttributes(viewer, editor.getwn(), &a));
        EXPECT_EQ(a.width * 1000 + a.height + (a.map_state == IsViewable),
                  rect->right * 1000 + rect->bottom + 1);
        pause(editor);
        EXPECT_EQ(wrongPixels(editor), 0);
        if (c.seed == 0) continue;
        plugin.cells = randomScreen(c.seed + 1); // only the changed cells are drawn again
        editor.idle();
        EXPECT_EQ(wrongPixels(editor), 0);
    }

    // The second colour has its ink in exactly the pixels where the first has.
    plugin.cells = randomScreen(5);
    CoreEdit green(&plugin, display.get(), skin.get(), 0),
        amber(&plugin, display.get(), skin.get(), 1);
    ASSERT_TRUE(green.open(parent));
    ASSERT_TRUE(amber.open(topWindow(400)));
    EXPECT_EQ(plugin.editors, 2);
    pause(green);
    pause(amber);
    std::vector<unsigned long> g = pixels(green.getwn()), m = pixels(amber.getwn());
    ASSERT_EQ(g.size(), m.size());
    int wrong = 0, inked = 0;
    for (size_t i = 0; i < g.size(); ++i) {
        inked += g[i] == CoreDspg::iClight * 0x010101ul;
        wrong += (g[i] == CoreDspg::iClight * 0x010101ul) != (m[i] == 0xffb000ul);
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(inked, 1000);
}

TEST_F(EditorTest, ClicksDragsWheelAndKeysBecomeRecords) {
    CoreEdit editor(&plugin, display.get(), skin.get(), 0);
    plugin.listener = &editor;
    ASSERT_TRUE(editor.open(parent));
    Window w = editor.getwn();
    CoreEdit::LAYOUT const& l = editor.getly();
    // Press, drag 50 pixels up, release: one click record with the cell and
    // the press position; the mouse record follows with the button byte.
    int const presses[][4] = {{10, 5, 3, 4}, {57, 13, 7, 11}, {0, 14, 0, 0}, {48, 16, 5, 6}};
    for (auto const& [column, row, dx, dy] : presses) {
        bool extra = row >= 14;
        int wx = (extra ? l.addx : l.mainx) + column * l.cellx + dx;
        int wy = (extra ? l.addy + (row - 14) * l.celly : l.mainy + row * l.celly) + dy;
        int x = wx - l.mainx, y = wy - l.mainy;
        moveTo(w, wx, wy);
        XTestFakeButtonEvent(viewer, 1, True, 0);
        std::vector<CoreDspc::MESSAGELOC> got;
        ASSERT_TRUE(idle(editor, [&] { return !(got = taken(CoreDspc::iCclick)).empty(); }));
        EXPECT_EQ(std::vector<int>({got[0].word1, got[0].word2, got[0].word3, got[0].word4,
                                    plugin.mouse[0], plugin.mouse[1], plugin.mouse[2]}),
                  std::vector<int>({column, row, x, y, x, y, 1}));
        moveTo(w, wx, wy - 50);
        ASSERT_TRUE(idle(editor, [&] { return plugin.mouse[1] == y - 50 && plugin.mouse[2]; }));
        XTestFakeButtonEvent(viewer, 1, False, 0);
        ASSERT_TRUE(idle(editor, [&] { return plugin.mouse[2] == 0 && plugin.mouse[0] == x; }));
    }
    // The gap, another button and the background post nothing; the wheel
    // posts +1 up and -1 down.
    click(w, l.mainx + 20, l.mainy + l.rows * l.celly + 3);
    click(w, l.mainx + 20, l.mainy + 20, 3);
    click(w, 2, 2);
    click(w, 40, 40, 4);
    click(w, 40, 40, 5);
    std::vector<CoreDspc::MESSAGELOC> steps;
    ASSERT_TRUE(idle(editor, [&] {
        for (auto const& r : taken(CoreDspc::iCwheel)) steps.push_back(r);
        return steps.size() >= 2;
    }));
    EXPECT_EQ(steps[0].word1 * 10 + steps[1].word1, 10 - 1);
    EXPECT_TRUE(taken(CoreDspc::iCclick).empty());

    // Keys: none without capture; under capture the focus comes to the
    // editor and the keys arrive as display codes; then the focus goes back.
    XSetInputFocus(viewer, parent, RevertToParent, CurrentTime);
    key(XK_a);
    pause(editor);
    EXPECT_TRUE(taken(CoreDspc::iCkey).empty());
    plugin.setCapture(true);
    ASSERT_TRUE(idle(editor, [&] { return focused() == w; }));
    for (KeySym s : {XK_w, XK_a, XK_comma, XK_Left, XK_Delete, XK_BackSpace, XK_Return}) key(s);
    std::string codes;
    ASSERT_TRUE(idle(editor, [&] {
        for (auto const& r : taken(CoreDspc::iCkey)) codes += char(r.word1);
        return codes.size() >= 7;
    }));
    EXPECT_EQ(codes, std::string("wa,%.\b\r"));
    plugin.setCapture(false);
    ASSERT_TRUE(idle(editor, [&] { return focused() == parent; }));
    key(XK_b);
    pause(editor);
    EXPECT_TRUE(taken(CoreDspc::iCkey).empty());
}

TEST_F(EditorTest, PopupListsTheEntriesAndPostsALeaf) {
    CoreEdit editor(&plugin, display.get(), skin.get(), 0);
    plugin.listener = &editor;
    ASSERT_TRUE(editor.open(parent));
    Window w = editor.getwn();
    CoreEdit::LAYOUT const& l = editor.getly();
    auto entry = [](int parent, char const* text) {
        ENTRY e{parent, {}};
        std::strncpy(e.text, text, 47);
        return e;
    };
    std::vector<ENTRY> const list = {entry(-1, "Programs"), entry(-1, "Drums (DRUMS)"),
                                     entry(1, "1 - Kick"), entry(1, "2 - Snare"),
                                     entry(-1, "7 - Pad")};
    short const area[4] = {0, 2, 5, 2}; // column, row, width, height; every edge inside
    auto openMenu = [&](std::vector<ENTRY> const& with, short percolumn) {
        plugin.armMenu(true, with, area, percolumn);
        pause(editor); // the editor reads the arm record before the press arrives
        click(w, l.mainx + 5 * l.cellx, l.mainy + 4 * l.celly + 2);
        bool opened = idle(editor, [&] { return editor.getpw() != 0; });
        pause(editor);
        return opened;
    };
    auto closed = [&] { return idle(editor, [&] { return editor.getpw() == 0; }); };

    plugin.armMenu(true, list, area);
    click(w, l.mainx + 6 * l.cellx + 1, l.mainy + 2 * l.celly); // beside the area: a click
    ASSERT_TRUE(idle(editor, [&] { return !taken(CoreDspc::iCclick).empty(); }));
    ASSERT_TRUE(openMenu(list, 24));
    Window p = editor.getpw();
    EXPECT_TRUE(taken(CoreDspc::iCclick).empty()) << "the menu takes the press";
    int px = 0, py = 0, ax = 0, ay = 0;
    Window child = 0;
    XTranslateCoordinates(viewer, p, DefaultRootWindow(viewer), 0, 0, &px, &py, &child);
    XTranslateCoordinates(viewer, w, DefaultRootWindow(viewer), l.mainx, l.mainy + 4 * l.celly, &ax,
                          &ay, &child);
    EXPECT_EQ(px * 10000 + py, ax * 10000 + ay) << "under the area";

    // Inside a frame, font 0 on the menu's own background and font 1 under
    // the pointer; a category chooses nothing, a leaf is posted and ends the
    // menu.
    int const inset = CoreEdit::iCpopupinset;
    click(p, 30, inset + 1 * l.celly + 5);
    moveTo(p, 30, inset + 3 * l.celly + 5);
    pause(editor);
    std::vector<unsigned long> shown = pixels(p);
    int const width = 24 * l.cellx + 2 * inset, height = 5 * l.celly + 2 * inset;
    ASSERT_EQ(shown.size(), size_t(width * height));
    std::uint32_t const dark = CoreDspg::iCdark * 0x010101u, light = CoreDspg::iClight * 0x010101u;
    std::uint32_t back = 0, edge = 0;
    CoreEdit::popcl(dark, back, edge);
    EXPECT_NE(back, dark);
    EXPECT_NE(edge, back);
    auto at = [&](int x, int y) { return shown[size_t(y * width + x)]; };
    int ring = 0;
    for (int x = 0; x < width; ++x) ring += (at(x, 0) != edge) + (at(x, height - 1) != edge);
    for (int y = 0; y < height; ++y) ring += (at(0, y) != edge) + (at(width - 1, y) != edge);
    EXPECT_EQ(ring, 0) << "the outer ring is the frame";
    EXPECT_EQ(at(inset, inset + 3 * l.celly), light) << "inverse under the pointer";
    EXPECT_EQ(at(inset, inset + 2 * l.celly), back);
    EXPECT_EQ(at(inset - 1, inset), back) << "background inside the frame";
    EXPECT_TRUE(plugin.chosen.empty());
    click(p, 30, inset + 3 * l.celly + 5);
    ASSERT_TRUE(closed());
    ASSERT_EQ(plugin.chosen.size(), 1u);
    EXPECT_EQ(std::memcmp(&plugin.chosen[0], &list[3], 52), 0);

    // More one-entry columns than the screen holds: the wheel scrolls them
    // by a column, no further than either end.
    int const fit = DisplayWidth(viewer, DefaultScreen(viewer)) / (24 * l.cellx);
    std::vector<ENTRY> wide(list.begin(), list.begin() + 1);
    while (int(wide.size()) < fit + 2) wide.push_back(entry(-1, "leaf"));
    for (auto [down, up, pick] : {std::tuple{3, 0, 2}, {1, 3, 1}}) {
        wide[size_t(pick)].parent = -2 - pick;
        ASSERT_TRUE(openMenu(wide, 1));
        Window q = editor.getpw();
        for (int k = 0; k < down + up; ++k) {
            click(q, inset + 5, inset + 5, k < down ? 5 : 4);
            pause(editor);
        }
        click(q, inset + 5 + (up > 0) * 24 * l.cellx, inset + 5);
        ASSERT_TRUE(closed());
        EXPECT_EQ(plugin.chosen.back().parent, -2 - pick) << down << up;
    }
    plugin.chosen.resize(1);

    // Escape, a click outside, a withdrawal and close each end it unchosen.
    ASSERT_TRUE(openMenu(list, 24));
    key(XK_Escape);
    EXPECT_TRUE(closed());
    ASSERT_TRUE(openMenu(list, 24));
    click(DefaultRootWindow(viewer), 1000, 700);
    EXPECT_TRUE(closed());
    ASSERT_TRUE(openMenu(list, 24));
    plugin.armMenu(false, list, area);
    EXPECT_TRUE(closed());
    ASSERT_TRUE(openMenu(list, 24));
    editor.close();
    EXPECT_EQ(editor.getpw() + plugin.chosen.size(), 1u);
    EXPECT_TRUE(taken(CoreDspc::iCclick).empty());
}

TEST_F(EditorTest, OpenAndCloseInAnyOrderAreSafe) {
    CoreEdit editor(&plugin, display.get(), skin.get(), 0);
    editor.idle();
    editor.close();
    {
        LogCapture log;
        EXPECT_FALSE(editor.open(0));
        EXPECT_FALSE(editor.open(0x7fffff0));
        ::unsetenv("DISPLAY");
        EXPECT_FALSE(editor.open(parent));
        ::setenv("DISPLAY", server->display().c_str(), 1);
        EXPECT_NE(log.text().find("***ERROR***"), std::string::npos);
    }
    PlatVst::Rect* rect = nullptr;
    EXPECT_TRUE(editor.getrc(&rect) && rect->right == 496 && !editor.isopn());
    EXPECT_EQ(plugin.editors, 0);

    // Twenty cycles, open twice (one child), and a second editor beside.
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(editor.open(parent));
        editor.idle();
        editor.close();
    }
    ASSERT_TRUE(editor.open(parent));
    ASSERT_TRUE(editor.open(parent));
    CoreEdit second(&plugin, display.get(), skin.get(), 1);
    ASSERT_TRUE(second.open(topWindow(400)));
    EXPECT_EQ(plugin.editors, 2);
    Window *kids = nullptr, root = 0, up = 0;
    unsigned count = 0;
    XQueryTree(viewer, parent, &root, &up, &kids, &count);
    XFree(kids);
    EXPECT_EQ(count, 1u);

    // The parent destroyed under an open editor: it stays still until close.
    XDestroyWindow(viewer, parent);
    pause(editor);
    second.idle();
    EXPECT_TRUE(editor.isopn());
    editor.close();
    second.close();
    EXPECT_EQ(plugin.editors, 0);
}

} // namespace
