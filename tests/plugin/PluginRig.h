#pragma once
// A demo installation around a copy of the built plug-in in a temporary
// folder, so each test binary loads its own .so with its own settings.
// Test thread only.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/TempDir.h"

// The engine diagnostic's choice as a first boot stores it (the direct
// engine every machine has): cases about something else skip the diagnostic,
// seconds of each boot under the sanitizers.
inline std::pair<std::string, std::string> const kDiagnosed{"OTIMED", "3"};

class PluginRig {
public:
    PluginRig(); // copies the .so and writes the demo data beside it
    std::string const& path() const { return so; }
    std::string folder() const { return temp.folder(); } // with its trailing '/'
    // Writes the master settings again: the demo's, then these (a key given
    // twice counts with its last value, as the engine reads them; an empty
    // value leaves the key out).
    bool settings(std::vector<std::pair<std::string, std::string>> const& more) const;

private:
    // A dot in the folder's name, as in "~/.lxvst/": the plug-in must not
    // take it for the start of an extension anywhere on its paths.
    TempDir temp{"vorlan.plugin"};
    std::string so;
};

// A test suite whose cases share one rig: the plug-in is copied and the demo
// data written once, before the first case.
class PluginRigTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { rig = new PluginRig(); }
    static void TearDownTestSuite() {
        delete rig;
        rig = nullptr;
    }
    static inline PluginRig* rig = nullptr;
};
