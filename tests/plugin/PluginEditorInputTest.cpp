// ctest-labels: threads
// The editor of the built plug-in over the real engine and the demo data,
// opened in a window of the test's own on a virtual X server and worked
// through XTest while the test thread calls idle about 30 times a second:
// a page change from the menu row, a value dragged up, a name typed on the
// memory page, the program pop-up; the window against the snapshot
// renderer's picture on the program, kernel and batch pages; and closing at
// awkward moments without an X error reaching the test's own handler.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "display/CoreCnst.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsfn.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/EditorPixels.h"
#include "tests/support/XViewer.h"
#include "tools/CoreDemo.h"
#include "tools/CoreDskn.h"
#include "tools/CoreDspg.h"
#include "tools/CorePeer.h"

namespace {

using V = PlatVst;
using D = CoreDskn;
using ENTRY = CoreCnst::POPMENUENTRY;
constexpr int cellx = CoreDspg::iCcellx, celly = CoreDspg::iCcelly; // the demo skin's cells

class PluginEditorInputTest : public XViewer {
protected:
    static void SetUpTestSuite() {
        rig = new PluginRig();
        // The display ticks every 15 ms.
        startServer();
        if (!rig->settings({{"GUIRATE", "5000"}})) failure = "no settings";
    }
    static void TearDownTestSuite() {
        stopServer();
        delete rig;
        rig = nullptr;
    }

    // A host window with the instance's editor open in it, on page 0.
    void open(CorePeer& peer, char const* title = "  ProgMode") {
        parent = XCreateSimpleWindow(viewer, DefaultRootWindow(viewer), 0, 0, 600, 300, 0, 0, 0);
        XMapWindow(viewer, parent);
        XSync(viewer, False);
        void* const id = reinterpret_cast<void*>(std::uintptr_t(parent));
        ASSERT_EQ(peer.host().dispt(V::opEditOpen, 0, 0, id), 1);
        Window root = 0, up = 0, *list = nullptr;
        unsigned n = 0;
        XQueryTree(viewer, parent, &root, &up, &list, &n);
        editor = n == 1 ? list[0] : 0;
        if (list != nullptr) XFree(list);
        ASSERT_NE(editor, 0u);
        ASSERT_TRUE(idle(peer, [&] { return peer.titled(title); })) << peer.dump();
    }
    // Calls idle about 30 times a second until done() holds or the time runs out.
    bool idle(CorePeer& peer, std::function<bool()> const& done, double seconds = 30.0) {
        auto const end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            XSync(viewer, False);
            peer.host().dispt(V::opEditIdle);
            if (done()) return true;
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(33));
        }
    }
    void settle(CorePeer& peer) { // a few idles and display ticks
        auto const never = [] { return false; };
        idle(peer, never, 0.3);
    }
    // The pointer over the middle of a cell, moved by dy pixels.
    void point(int column, int row, int dy = 0) {
        move(editor, D::iCdisplayx + column * cellx + cellx / 2,
             D::iCdisplayy + row * celly + celly / 2 + dy);
    }
    void move(Window w, int x, int y) {
        int rx = 0, ry = 0;
        Window child = 0;
        XTranslateCoordinates(viewer, w, DefaultRootWindow(viewer), x, y, &rx, &ry, &child);
        XTestFakeMotionEvent(viewer, DefaultScreen(viewer), rx, ry, 0);
    }
    void button(bool down) { XTestFakeButtonEvent(viewer, 1, down ? True : False, 0); }
    void click(int column, int row) {
        point(column, row);
        button(true);
        button(false);
    }
    void key(KeySym symbol) {
        XTestFakeKeyEvent(viewer, XKeysymToKeycode(viewer, symbol), True, 0);
        XTestFakeKeyEvent(viewer, XKeysymToKeycode(viewer, symbol), False, 0);
    }
    void type(std::string const& text) {
        KeyCode const shift = XKeysymToKeycode(viewer, XK_Shift_L);
        for (char c : text) {
            bool const upper = std::isupper(static_cast<unsigned char>(c)) != 0;
            if (upper) XTestFakeKeyEvent(viewer, shift, True, 0);
            key(KeySym(std::tolower(static_cast<unsigned char>(c))));
            if (upper) XTestFakeKeyEvent(viewer, shift, False, 0);
        }
    }
    Window focused() {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(viewer, &focus, &revert);
        return focus;
    }
    // The pop-up: the override-redirect window that shows; 0 when none.
    Window popup() {
        Window root = 0, up = 0, *list = nullptr, found = 0;
        unsigned n = 0;
        XQueryTree(viewer, DefaultRootWindow(viewer), &root, &up, &list, &n);
        for (unsigned k = 0; k < n; ++k) {
            XWindowAttributes a{};
            if (XGetWindowAttributes(viewer, list[k], &a) && a.override_redirect &&
                a.map_state == IsViewable)
                found = list[k];
        }
        if (list != nullptr) XFree(list);
        return found;
    }
    // Opens the program pop-up with a press on the name, which page 0 arms.
    Window menu(CorePeer& peer) {
        click(1, 2);
        Window shown = 0;
        idle(peer, [&] { return (shown = popup()) != 0; });
        return shown;
    }
    // A click on the pop-up's line of the program whose entry holds name.
    bool choose(CorePeer& peer, char const* name) {
        std::vector<ENTRY> const list = peer.entries();
        Window const shown = menu(peer);
        for (std::size_t k = 1; k < list.size() && shown != 0; ++k)
            if (std::strstr(list[k].text, name) != nullptr) {
                move(shown, 30, CoreEdit::iCpopupinset + int(k) * celly + celly / 2);
                button(true);
                button(false);
                return true;
            }
        return false;
    }

    // Zone pixels where the window differs from the renderer's picture of
    // the snapshot. The snapshot is read before and after the grab, and the
    // try is repeated while they differ (a blink or a tick fell between) or
    // the editor's drawing has not reached the server yet, while still().
    int unlike(
        CorePeer& peer, std::function<bool()> const& still = [] { return true; }) {
        CoreEdit::LAYOUT const zones{D::iCbackgroundx,
                                     D::iCbackgroundy,
                                     D::iCdisplayx,
                                     D::iCdisplayy,
                                     D::iCdisplayaddx,
                                     D::iCdisplayaddy,
                                     cellx,
                                     celly,
                                     CorePeer::iCcolumns,
                                     14,
                                     D::iCdisplayaddchars,
                                     3};
        int const total = CorePeer::iCcells;
        std::vector<double> before(total), after(total);
        int wrong = -1;
        for (int attempt = 0; attempt < 40 && wrong != 0 && still(); ++attempt) {
            if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (peer.get(100104, before.data(), total * 8) != total * 8) continue;
            peer.host().dispt(V::opEditIdle);
            XSync(viewer, False);
            std::vector<unsigned long> const shown = EditorPixels::grab(viewer, editor);
            if (peer.get(100104, after.data(), total * 8) != total * 8 || before != after) continue;
            CoreDspg::IMAGE picture;
            if (!CoreDspg::rendr(before.data(), total, 1, picture)) return -1;
            wrong = EditorPixels::wrong(shown, zones, picture.pixels.data(), picture.width);
        }
        return wrong;
    }

    static PluginRig* rig;
    Window parent = 0;
    Window editor = 0;
};
PluginRig* PluginEditorInputTest::rig = nullptr;

TEST_F(PluginEditorInputTest, ClicksDragsKeysAndThePopupWorkTheRealDisplay) {
    CorePeer peer(rig->path());
    open(peer);
    ASSERT_TRUE(idle(peer, [&] { return peer.large(1).rfind("Demo Room ", 0) == 0; }))
        << peer.large(1);
    EXPECT_EQ(unlike(peer), 0) << "page 0\n" << peer.dump();

    // The pop-up lists 100107's entries; Escape closes it and loads nothing.
    int const updates = peer.host().updts();
    std::size_t const count = peer.entries().size();
    ASSERT_GE(count, 7u);
    Window shown = menu(peer);
    ASSERT_NE(shown, 0u);
    XWindowAttributes a{};
    XGetWindowAttributes(viewer, shown, &a);
    EXPECT_EQ(a.height, int(count) * celly + 2 * CoreEdit::iCpopupinset);
    key(XK_Escape);
    ASSERT_TRUE(idle(peer, [&] { return popup() == 0; }));
    settle(peer);
    EXPECT_EQ(peer.host().updts(), updates);
    EXPECT_TRUE(peer.titled("  ProgMode")) << peer.dump();
    // A click on a leaf loads that program: the batch page while it loads,
    // then page 0 with its name.
    ASSERT_TRUE(choose(peer, "Demo Saturator"));
    ASSERT_TRUE(idle(peer, [&] { return peer.titled("  BatchMode"); })) << peer.dump();
    EXPECT_EQ(unlike(peer, [&] { return peer.titled("  BatchMode"); }), 0) << "batch page\n"
                                                                           << peer.dump();
    ASSERT_TRUE(idle(peer,
                     [&] {
                         return peer.host().updts() > updates && peer.titled("  ProgMode") &&
                                peer.large(1).rfind("Demo Saturator ", 0) == 0;
                     }))
        << peer.dump() << peer.large(1);

    // The chunk of the saturator as loaded, restored after the rename below.
    void* data = nullptr;
    std::intptr_t const size = peer.host().dispt(V::opGetChunk, 0, 0, &data);
    ASSERT_GT(size, 0);
    std::string const chunk(static_cast<char const*>(data), std::size_t(size));
    auto listed = [&](char const* name) {
        for (ENTRY const& e : peer.entries())
            if (std::strcmp(e.text, name) == 0) return true;
        return false;
    };

    // KERN on the menu row brings the kernel page.
    std::size_t const kern = peer.row(13).find("KERN");
    ASSERT_NE(kern, std::string::npos);
    click(int(kern), 13);
    ASSERT_TRUE(idle(peer, [&] { return peer.titled("  KernelMode"); })) << peer.dump();
    settle(peer);
    EXPECT_EQ(unlike(peer), 0) << "page 5\n" << peer.dump();

    // The memory page (EDIT on page 0): a click on the name field takes the
    // keyboard, a name typed and Return change the program's name, and the
    // keyboard goes back to the host's window.
    click(int(peer.row(13).find("PROG")), 13);
    ASSERT_TRUE(idle(peer, [&] { return peer.titled("  ProgMode"); })) << peer.dump();
    ASSERT_EQ(peer.row(3).find("EDIT"), 51u);
    click(51, 3);
    ASSERT_TRUE(idle(peer, [&] { return peer.titled("  EditMode: Memory"); })) << peer.dump();
    Window const host = parent, ours = editor;
    click(8, 5);
    ASSERT_TRUE(idle(peer, [&] { return focused() == ours; }));
    type("Warm");
    key(XK_Return);
    EXPECT_TRUE(idle(peer, [&] { return focused() == host; }));
    // The field is typed over from where it was clicked.
    EXPECT_TRUE(idle(peer, [&] {
        return peer.row(5).substr(8, 16) == "Warm Saturator  " &&
               peer.row(12).find(" WARM SATURATOR") != std::string::npos;
    })) << peer.dump();

    // The sweep's row 1 (page 0, row 9) shows LFO 1's rate, 0.1 to 1.1 Hz,
    // driven by mix control 1: 50 pixels up raise the control by 0.6 of its
    // span, so the row's rate by 0.6 Hz.
    click(52, 0); // the memory page's EXIT
    ASSERT_TRUE(idle(peer, [&] { return peer.titled("  ProgMode"); })) << peer.dump();
    // The pop-up lists the name as it is now, and again after a host chunk
    // restore put the old one back.
    EXPECT_TRUE(idle(peer, [&] { return listed("2 - Warm Saturator"); }));
    EXPECT_FALSE(listed("2 - Demo Saturator"));
    ASSERT_EQ(peer.host().dispt(V::opSetChunk, 0, size, const_cast<char*>(chunk.data())), 1);
    EXPECT_TRUE(idle(peer, [&] {
        return listed("2 - Demo Saturator") && !listed("2 - Warm Saturator") &&
               peer.titled("  ProgMode");
    })) << peer.dump();
    ASSERT_TRUE(choose(peer, "Demo Sweep"));
    ASSERT_TRUE(idle(peer, [&] {
        return peer.titled("  ProgMode") && peer.large(1).rfind("Demo Sweep ", 0) == 0 &&
               peer.row(9).find(" Hz") != std::string::npos;
    })) << peer.dump();
    EXPECT_EQ(peer.row(9).substr(0, 12), "1 LFO RATE: ") << peer.dump();
    auto rate = [&] {
        std::string const row = peer.row(9).substr(0, peer.row(9).find(" Hz"));
        return std::atof(row.substr(row.rfind(' ') + 1).c_str());
    };
    double const before = rate();
    EXPECT_NEAR(before, 0.2, 1e-4) << peer.dump();
    point(5, 9);
    button(true);
    settle(peer);
    point(5, 9, -50);
    EXPECT_TRUE(idle(peer, [&] { return rate() != before; })) << peer.dump();
    settle(peer);
    button(false);
    EXPECT_NEAR(rate(), before + 0.6, 1e-3) << peer.dump();

    peer.host().dispt(V::opEditClose);
}

// Closing at awkward moments: with the pop-up open, after the host's window
// went away, and the whole instance in the middle of a load with its editor
// open. No X error reaches the handler that was there before, and that
// handler is back once the last editor has closed.
TEST_F(PluginEditorInputTest, ClosingAtAwkwardMomentsIsQuiet) {
    auto peer = std::make_unique<CorePeer>(rig->path());
    open(*peer);
    ASSERT_NE(menu(*peer), 0u);
    peer->host().dispt(V::opEditClose);
    XSync(viewer, False);
    EXPECT_EQ(popup(), 0u);

    open(*peer);
    click(int(peer->row(13).find("KERN")), 13); // a page of changes to draw
    ASSERT_TRUE(idle(*peer, [&] { return peer->titled("  KernelMode"); })) << peer->dump();
    XDestroyWindow(viewer, parent);
    XSync(viewer, False);
    for (int i = 0; i < 10; ++i) peer->host().dispt(V::opEditIdle);
    peer->host().dispt(V::opEditClose);
    XSync(viewer, False);

    // Back on page 0 (entering it arms the program menu) before the load.
    open(*peer, "  KernelMode");
    click(int(peer->row(13).find("PROG")), 13);
    ASSERT_TRUE(idle(*peer, [&] { return peer->titled("  ProgMode"); })) << peer->dump();
    ASSERT_TRUE(choose(*peer, "Demo Sweep"));
    ASSERT_TRUE(idle(*peer, [&] { return peer->titled("  BatchMode"); })) << peer->dump();
    peer.reset();
    Window root = 0, up = 0, *list = nullptr;
    unsigned n = 0;
    XQueryTree(viewer, parent, &root, &up, &list, &n);
    if (list != nullptr) XFree(list);
    EXPECT_EQ(n, 0u) << "the editor's window goes with the instance";
    EXPECT_EQ(XSetErrorHandler(countForeign), countForeign);
}

} // namespace
