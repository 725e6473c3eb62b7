#pragma once
// A test fixture base for tests that show windows: one virtual X server per
// test suite (startServer in SetUpTestSuite, stopServer in
// TearDownTestSuite), DISPLAY pointing at it, a connection of the test's own
// (viewer) and, around every test, an X error handler that counts the
// errors reaching it: the code under test must keep its X errors to its own
// connections, so the count must stay 0. Tests skip without Xvfb.
// Owner: gtest. Threads: the test thread.

#include <string>

// gtest first: Xlib's macros (None, Bool ...) break its headers.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include "tests/support/XvfbServer.h"

class XViewer : public ::testing::Test {
protected:
    static void startServer(); // failure says why when it cannot
    static void stopServer();
    void SetUp() override;    // derived fixtures call it first, then go on unless skipped
    void TearDown() override; // checks the count, puts the handler back, closes viewer

    static inline XvfbServer* server = nullptr;
    static inline std::string failure;
    static inline int foreignErrors = 0; // errors that reached the test's handler
    Display* viewer = nullptr;
    XErrorHandler previous = nullptr;
    static int countForeign(Display*, XErrorEvent*); // the counting handler
};
