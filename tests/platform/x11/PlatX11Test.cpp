// The window layer against a real server of the test's own (Xvfb): the test
// watches through a second connection of its own, reads pixels back with
// XGetImage and plays input with XTest, as a user at the screen would.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "platform/x11/PlatX11.h"
#include "tests/support/XvfbServer.h"

namespace {

using Kind = PlatX11::Kind;

int foreignErrors = 0; // errors that reached the handler installed before ours
int countForeign(Display*, XErrorEvent*) {
    ++foreignErrors;
    return 0;
}

class PlatX11Test : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (XvfbServer::program().empty()) return;
        server = new XvfbServer;
        std::string why;
        if (!server->start(why)) failure = why;
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    void SetUp() override {
        if (server == nullptr) GTEST_SKIP() << "Xvfb is not installed (scripts/setup installs it)";
        ASSERT_TRUE(failure.empty()) << failure;
        viewer = XOpenDisplay(server->display().c_str());
        ASSERT_NE(viewer, nullptr);
        previous = XSetErrorHandler(countForeign);
        foreignErrors = 0;
        parent = XCreateSimpleWindow(viewer, DefaultRootWindow(viewer), 0, 0, 200, 150, 0, 0, 0);
        XMapWindow(viewer, parent);
        XSync(viewer, False);
    }
    void TearDown() override {
        if (viewer == nullptr) return;
        XSetErrorHandler(previous);
        XCloseDisplay(viewer);
    }

    // Every record pending within a short while (input from the viewer's
    // connection reaches ours asynchronously).
    std::vector<PlatX11::Event> drain(PlatX11& x11, std::size_t atLeast) {
        std::vector<PlatX11::Event> events;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (std::chrono::steady_clock::now() < deadline) {
            PlatX11::Event e;
            while (x11.nextEvent(e)) events.push_back(e);
            if (events.size() >= atLeast) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return events;
    }

    static inline XvfbServer* server = nullptr;
    static inline std::string failure;
    Display* viewer = nullptr;
    XErrorHandler previous = nullptr;
    Window parent = 0;
};

TEST(PlatX11, WithoutAServerOpenFailsAndEveryCallIsSafe) {
    char const* had = std::getenv("DISPLAY");
    std::string saved = had != nullptr ? had : "";
    ::unsetenv("DISPLAY");
    struct Case {
        char const* name;
    } const cases[] = {{nullptr}, {""}, {":65000"}, {"no such host:0"}};
    for (const Case& c : cases) {
        PlatX11 x11;
        EXPECT_FALSE(x11.open(c.name)) << (c.name ? c.name : "DISPLAY unset");
        EXPECT_FALSE(x11.problem().empty());
        EXPECT_FALSE(x11.isOpen());
        std::uint32_t pixel = 0;
        PlatX11::Event e;
        EXPECT_EQ(x11.createChild(1, 10, 10), 0u);
        EXPECT_EQ(x11.createPopup(0, 0, 10, 10), 0u);
        EXPECT_FALSE(x11.nextEvent(e));
        EXPECT_FALSE(x11.putPixels(1, &pixel, 1, 1, 0, 0, 1, 1));
        EXPECT_FALSE(x11.isWindow(1));
        x11.takeFocus(1);
        x11.close();
    }
    if (had != nullptr) ::setenv("DISPLAY", saved.c_str(), 1);
}

TEST_F(PlatX11Test, ChildShowsExactlyThePixelsPut) {
    PlatX11 x11;
    ASSERT_TRUE(x11.open(server->display().c_str())) << x11.problem();
    Window gone = XCreateSimpleWindow(viewer, parent, 0, 0, 5, 5, 0, 0, 0);
    XDestroyWindow(viewer, gone);
    XSync(viewer, False);
    EXPECT_TRUE(x11.isWindow(parent));
    EXPECT_FALSE(x11.isWindow(0));
    EXPECT_FALSE(x11.isWindow(gone));
    EXPECT_EQ(x11.takeErrors(), 0) << "a wrong id is an answer, not a fault";
    EXPECT_EQ(x11.createChild(gone, 10, 10), 0u);
    EXPECT_GT(x11.takeErrors(), 0);

    const int w = 64, h = 48;
    PlatX11::Window child = x11.createChild(parent, w, h);
    ASSERT_NE(child, 0u);
    Window root = 0, up = 0, *kids = nullptr;
    unsigned count = 0;
    XQueryTree(viewer, child, &root, &up, &kids, &count);
    XFree(kids);
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(viewer, child, &a));
    EXPECT_EQ(up, parent);
    EXPECT_EQ(a.width, w);
    EXPECT_EQ(a.height, h);
    EXPECT_EQ(a.map_state, IsViewable);

    // A seeded picture, then rectangles of a second one (some clipped, one
    // wholly outside); the window must equal the model built beside it.
    std::mt19937 random(7);
    std::vector<std::uint32_t> first(w * h), second(w * h), model(w * h);
    for (auto& p : first) p = random() & 0xffffff;
    for (auto& p : second) p = random() & 0xffffff;
    ASSERT_TRUE(x11.putPixels(child, first.data(), w, h, 0, 0, w, h));
    model = first;
    const int rects[][4] = {{10, 5, 20, 7}, {-5, -5, 10, 10}, {60, 40, 20, 20}, {70, 0, 5, 5}};
    for (const auto& r : rects) {
        ASSERT_TRUE(x11.putPixels(child, second.data(), w, h, r[0], r[1], r[2], r[3]));
        for (int y = std::max(r[1], 0); y < std::min(r[1] + r[3], h); ++y)
            for (int x = std::max(r[0], 0); x < std::min(r[0] + r[2], w); ++x)
                model[y * w + x] = second[y * w + x];
    }
    EXPECT_FALSE(x11.putPixels(child, nullptr, w, h, 0, 0, w, h));
    EXPECT_FALSE(x11.putPixels(child, first.data(), 0, h, 0, 0, w, h));
    x11.sync();
    XImage* image = XGetImage(viewer, child, 0, 0, w, h, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            wrong += (XGetPixel(image, x, y) & 0xffffff) != model[y * w + x];
    XDestroyImage(image);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(x11.takeErrors(), 0);
}

TEST_F(PlatX11Test, InputComesOutAsRecordsAndFocusMoves) {
    PlatX11 x11;
    ASSERT_TRUE(x11.open(server->display().c_str())) << x11.problem();
    PlatX11::Window child = x11.createChild(parent, 64, 48);
    ASSERT_NE(child, 0u);
    auto first = drain(x11, 1);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first[0].kind, Kind::expose);
    EXPECT_EQ(first[0].width, 64);

    int rx = 0, ry = 0, vx = 0, vy = 0;
    Window unused = 0;
    ASSERT_TRUE(x11.rootPosition(child, 10, 20, rx, ry));
    XTranslateCoordinates(viewer, child, DefaultRootWindow(viewer), 10, 20, &vx, &vy, &unused);
    EXPECT_EQ(rx, vx);
    EXPECT_EQ(ry, vy);

    x11.takeFocus(child);
    x11.sync();
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(viewer, &focus, &revert);
    EXPECT_EQ(focus, child);

    auto key = [&](KeySym s) {
        KeyCode code = XKeysymToKeycode(viewer, s);
        XTestFakeKeyEvent(viewer, code, True, 0);
        XTestFakeKeyEvent(viewer, code, False, 0);
    };
    XTestFakeMotionEvent(viewer, DefaultScreen(viewer), rx, ry, 0);
    for (unsigned button : {1u, 4u, 5u}) {
        XTestFakeButtonEvent(viewer, button, True, 0);
        XTestFakeButtonEvent(viewer, button, False, 0);
    }
    key(XK_a);
    key(XK_Return);
    XSync(viewer, False);

    struct Want {
        Kind kind;
        long detail; // button, wheel step or keysym
    } const wants[] = {{Kind::motion, 0},     {Kind::press, 1},  {Kind::release, 1},
                       {Kind::wheel, 1},      {Kind::wheel, -1}, {Kind::key, XK_a},
                       {Kind::key, XK_Return}};
    std::vector<PlatX11::Event> got = drain(x11, std::size(wants));
    ASSERT_EQ(got.size(), std::size(wants));
    for (std::size_t i = 0; i < got.size(); ++i) {
        const PlatX11::Event& e = got[i];
        long detail = e.kind == Kind::key     ? static_cast<long>(e.keysym)
                      : e.kind == Kind::wheel ? e.wheel
                                              : e.button;
        EXPECT_EQ(e.kind, wants[i].kind) << i;
        EXPECT_EQ(detail, wants[i].detail) << i;
        EXPECT_EQ(e.window, child) << i;
        EXPECT_EQ(e.x, 10) << i;
        EXPECT_EQ(e.y, 20) << i;
    }

    x11.giveFocus(parent);
    x11.sync();
    XGetInputFocus(viewer, &focus, &revert);
    EXPECT_EQ(focus, parent);
}

// Our own host's window: managed (not override-redirect), of the asked size,
// and the window manager's close request arrives as a close record.
TEST_F(PlatX11Test, TopLevelWindowTurnsTheCloseRequestIntoARecord) {
    PlatX11 x11;
    ASSERT_TRUE(x11.open(server->display().c_str())) << x11.problem();
    EXPECT_EQ(x11.createTopLevel(0, 10, "t"), 0u);
    PlatX11::Window top = x11.createTopLevel(70, 30, "t");
    ASSERT_NE(top, 0u);
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(viewer, top, &a));
    EXPECT_FALSE(a.override_redirect);
    EXPECT_EQ(a.width, 70);
    EXPECT_EQ(a.height, 30);
    drain(x11, 1);
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = top;
    close.xclient.message_type = XInternAtom(viewer, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(viewer, "WM_DELETE_WINDOW", False));
    XSendEvent(viewer, top, False, NoEventMask, &close);
    XSync(viewer, False);
    std::vector<PlatX11::Event> got = drain(x11, 1);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back().kind, Kind::close);
    EXPECT_EQ(got.back().window, top);
}

TEST_F(PlatX11Test, PopupLostParentAndErrorsStayOurs) {
    PlatX11 x11, other;
    ASSERT_TRUE(x11.open(server->display().c_str())) << x11.problem();
    ASSERT_TRUE(other.open(server->display().c_str())) << other.problem();
    PlatX11::Window child = x11.createChild(parent, 32, 32);
    PlatX11::Window popup = x11.createPopup(30, 40, 50, 60);
    ASSERT_NE(child, 0u);
    ASSERT_NE(popup, 0u);
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(viewer, popup, &a));
    EXPECT_TRUE(a.override_redirect);
    EXPECT_EQ(a.x, 30);
    EXPECT_EQ(a.y, 40);
    EXPECT_EQ(a.width, 50);
    EXPECT_EQ(a.map_state, IsViewable);
    EXPECT_TRUE(x11.grabPointer(popup));
    x11.ungrabPointer();
    drain(x11, 2);

    // The host destroys its window with ours inside: one destroy record.
    XDestroyWindow(viewer, parent);
    XSync(viewer, False);
    std::vector<PlatX11::Event> got = drain(x11, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, Kind::destroy);
    EXPECT_EQ(got[0].window, child);

    // Drawing into the lost window is an error on our connection: counted,
    // kept from the handler that was there before, the process goes on.
    std::uint32_t pixels[4] = {};
    EXPECT_TRUE(x11.putPixels(child, pixels, 2, 2, 0, 0, 2, 2));
    x11.sync();
    std::string text;
    EXPECT_EQ(x11.takeErrors(&text), 1);
    EXPECT_NE(text.find("BadDrawable"), std::string::npos) << text;
    EXPECT_EQ(foreignErrors, 0);
    XMapWindow(viewer, child); // the viewer's own error still reaches its handler
    XSync(viewer, False);
    EXPECT_EQ(foreignErrors, 1);
    x11.close();
    other.close();
    EXPECT_EQ(XSetErrorHandler(previous), countForeign) << "the previous handler is back";
    XSetErrorHandler(countForeign);
}

TEST_F(PlatX11Test, AServerThatGoesAwayLeavesTheProcessRunning) {
    XvfbServer doomed;
    std::string why;
    ASSERT_TRUE(doomed.start(why)) << why;
    PlatX11 lost, kept;
    ASSERT_TRUE(lost.open(doomed.display().c_str())) << lost.problem();
    ASSERT_TRUE(kept.open(server->display().c_str())) << kept.problem();
    ASSERT_NE(lost.createPopup(0, 0, 20, 20), 0u);
    doomed.stop();
    PlatX11::Event e;
    int records = 0;
    while (lost.nextEvent(e) && records < 100) ++records; // what came before the end
    EXPECT_TRUE(lost.lost());
    EXPECT_FALSE(lost.nextEvent(e));
    EXPECT_EQ(lost.createPopup(0, 0, 20, 20), 0u);
    lost.close();
    EXPECT_TRUE(kept.isWindow(parent));
}

} // namespace
