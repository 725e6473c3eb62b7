#pragma once
// A demo installation around a copy of the built plug-in in a temporary
// folder, so each test binary loads its own .so with its own settings.
// Test thread only.

#include <string>

#include "tests/support/TempDir.h"

class PluginRig {
public:
    PluginRig(); // copies the .so and writes the demo data beside it
    std::string const& path() const { return so; }

private:
    TempDir temp{"vorlanplugin"};
    std::string so;
};
