// ctest-labels: threads
// The editor opcodes of the built plug-in under a virtual X server of the
// test's own: the editor flag, the rectangle before and after open, one
// mapped child of that size per open, open and close cycles, two instances
// with editors at once, calls out of order, and the failures that answer 0
// (no DISPLAY, no parent, a parent that is no window) without ending the
// process or reaching another X error handler.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <X11/Xlib.h>

#include "tests/plugin/PluginRig.h"
#include "tests/support/XViewer.h"
#include "tools/CorePeer.h"

namespace {

using V = PlatVst;

class PluginEditorTest : public XViewer {
protected:
    static void SetUpTestSuite() {
        rig = new PluginRig();
        startServer();
    }
    static void TearDownTestSuite() {
        stopServer();
        delete rig;
        rig = nullptr;
    }
    Window parent() {
        Window w = XCreateSimpleWindow(viewer, DefaultRootWindow(viewer), 0, 0, 700, 400, 0, 0, 0);
        XMapWindow(viewer, w);
        XSync(viewer, False);
        return w;
    }
    // The parent's children and, for one, its size and whether it shows.
    int children(Window w, int* width = nullptr, int* height = nullptr, bool* shown = nullptr) {
        XSync(viewer, False);
        Window root = 0, up = 0, *list = nullptr;
        unsigned n = 0;
        if (!XQueryTree(viewer, w, &root, &up, &list, &n)) return -1;
        if (n == 1 && width != nullptr) {
            XWindowAttributes a{};
            XGetWindowAttributes(viewer, list[0], &a);
            *width = a.width;
            *height = a.height;
            *shown = a.map_state == IsViewable;
        }
        if (list != nullptr) XFree(list);
        return int(n);
    }
    static V::Rect rect(CorePeer& p) {
        V::Rect* r = nullptr;
        if (p.host().dispt(V::opEditGetRect, 0, 0, &r) != 1 || r == nullptr) return V::Rect{};
        return *r;
    }
    static std::intptr_t open(CorePeer& p, Window w) {
        return p.host().dispt(V::opEditOpen, 0, 0, reinterpret_cast<void*>(std::uintptr_t(w)));
    }

    static PluginRig* rig;
};
PluginRig* PluginEditorTest::rig = nullptr;

TEST_F(PluginEditorTest, OpensOneMappedChildOfTheRectangle) {
    CorePeer peer(rig->path());
    ASSERT_TRUE(peer.host().valid());
    EXPECT_NE(peer.host().getef()->flags & V::flagHasEditor, 0);
    V::Rect const before = rect(peer);
    int const width = before.right - before.left, height = before.bottom - before.top;
    ASSERT_GT(width, 0);
    ASSERT_GT(height, 0);
    // Idle and close without an open editor are harmless.
    peer.host().dispt(V::opEditIdle);
    peer.host().dispt(V::opEditClose);

    Window w = parent();
    ASSERT_EQ(open(peer, w), 1);
    int cw = 0, ch = 0;
    bool shown = false;
    ASSERT_EQ(children(w, &cw, &ch, &shown), 1);
    EXPECT_EQ(cw, width);
    EXPECT_EQ(ch, height);
    EXPECT_TRUE(shown);
    V::Rect const after = rect(peer);
    EXPECT_EQ(after.right - after.left, width);
    EXPECT_EQ(after.bottom - after.top, height);
    for (int i = 0; i < 10; ++i) peer.host().dispt(V::opEditIdle);
    ASSERT_EQ(open(peer, w), 1); // twice: still one window
    EXPECT_EQ(children(w), 1);
    peer.host().dispt(V::opEditClose);
    EXPECT_EQ(children(w), 0);
    peer.host().dispt(V::opEditClose);

    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_EQ(open(peer, w), 1) << cycle;
        peer.host().dispt(V::opEditIdle);
        ASSERT_EQ(children(w), 1) << cycle;
        peer.host().dispt(V::opEditClose);
        ASSERT_EQ(children(w), 0) << cycle;
    }
    XDestroyWindow(viewer, w);
}

TEST_F(PluginEditorTest, TwoInstancesWithEditorsAtOnce) {
    CorePeer a(rig->path()), b(rig->path());
    Window wa = parent(), wb = parent();
    ASSERT_EQ(open(a, wa), 1);
    ASSERT_EQ(open(b, wb), 1);
    for (int i = 0; i < 20; ++i) {
        a.host().dispt(V::opEditIdle);
        b.host().dispt(V::opEditIdle);
    }
    EXPECT_EQ(children(wa), 1);
    EXPECT_EQ(children(wb), 1);
    a.host().dispt(V::opEditClose);
    EXPECT_EQ(children(wa), 0);
    EXPECT_EQ(children(wb), 1);
    // b closes with the instance.
}

TEST_F(PluginEditorTest, FailuresAnswerZeroAndLeaveNothing) {
    CorePeer peer(rig->path());
    Window w = parent();
    Window gone = parent();
    XDestroyWindow(viewer, gone);
    XSync(viewer, False);
    struct Row {
        char const* what;
        Window parent;
        bool display;
    } const rows[] = {{"no parent", 0, true},
                      {"a parent that is no window", gone, true},
                      {"no DISPLAY", w, false}};
    for (Row const& r : rows) {
        if (!r.display) ::unsetenv("DISPLAY");
        EXPECT_EQ(open(peer, r.parent), 0) << r.what;
        ::setenv("DISPLAY", server->display().c_str(), 1);
        EXPECT_EQ(children(w), 0) << r.what;
        EXPECT_GT(rect(peer).right, 0) << r.what; // get rect still answers
        peer.host().dispt(V::opEditIdle);
        peer.host().dispt(V::opEditClose);
    }
    ASSERT_EQ(open(peer, w), 1); // and the next open works
    EXPECT_EQ(children(w), 1);
}

} // namespace
