#include "tests/support/XViewer.h"

#include <cstdlib>

#include "tests/support/XvfbServer.h"

void XViewer::startServer() {
    failure.clear();
    if (XvfbServer::program().empty()) return;
    server = new XvfbServer;
    server->start(failure, "1024x768x24");
}

void XViewer::stopServer() {
    delete server;
    server = nullptr;
}

int XViewer::countForeign(Display*, XErrorEvent*) {
    ++foreignErrors;
    return 0;
}

void XViewer::SetUp() {
    if (server == nullptr) GTEST_SKIP() << "Xvfb is not installed (scripts/setup installs it)";
    ASSERT_TRUE(failure.empty()) << failure;
    ::setenv("DISPLAY", server->display().c_str(), 1);
    viewer = XOpenDisplay(server->display().c_str());
    ASSERT_NE(viewer, nullptr);
    previous = XSetErrorHandler(countForeign);
    foreignErrors = 0;
}

void XViewer::TearDown() {
    if (viewer == nullptr) return;
    XSync(viewer, False);
    EXPECT_EQ(foreignErrors, 0);
    XSetErrorHandler(previous);
    XCloseDisplay(viewer);
    viewer = nullptr;
}
