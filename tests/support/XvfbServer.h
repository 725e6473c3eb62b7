#pragma once
// A virtual X server of the test's own: starts Xvfb on a display number the
// server picks free itself (-displayfd), and ends it when stopped or when the
// object goes. Tests that need one skip when Xvfb is not installed.
// Test thread only.

#include <string>
#include <sys/types.h>

class XvfbServer {
public:
    XvfbServer() = default;
    ~XvfbServer(); // stops the server
    XvfbServer(XvfbServer const&) = delete;
    XvfbServer& operator=(XvfbServer const&) = delete;
    XvfbServer(XvfbServer&&) = delete;
    XvfbServer& operator=(XvfbServer&&) = delete;

    // Path of the Xvfb program on PATH; "" when it is not installed.
    static std::string program();
    // Starts a server with one screen (WIDTHxHEIGHTxDEPTH); false, with why
    // set, when it does not come up within a few seconds.
    bool start(std::string& why, char const* screen = "640x480x24");
    // Ends the server and waits for it. Safe when not started.
    void stop();
    // The display name (":N"); "" when not running.
    std::string const& display() const { return display_; }

private:
    pid_t pid_ = -1;      // the server process; -1 when none
    std::string display_; // see display()
};
