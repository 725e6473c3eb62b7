#pragma once
// Sends the log to a fresh temporary folder at debug level 3 for as long as
// the object lives, then puts the old folder and level back and removes the
// folder. Test thread only.

#include "runtime/CoreAnsx.h"
#include "tests/support/TempDir.h"

#include <string>

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(LogCapture const&) = delete;
    LogCapture& operator=(LogCapture const&) = delete;
    LogCapture(LogCapture&&) = delete;
    LogCapture& operator=(LogCapture&&) = delete;

    std::string text() const; // everything logged so far, "" when nothing was

private:
    TempDir folder{"vorlanlog"}; // where the log goes meanwhile
    CoreAnsx oldPath;            // log folder before, put back at the end
    short oldLevel = 0;          // debug level before, put back at the end
};
