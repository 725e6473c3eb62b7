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
    // Some error line of log (from its byte from on) names what.
    static bool error(std::string const& log, std::string const& what, std::size_t from = 0);
    static int count(std::string const& log, std::string const& what); // what's times in log

private:
    TempDir folder{"vorlanlog"}; // where the log goes meanwhile
    CoreAnsx oldPath;            // log folder before, put back at the end
    short oldLevel = 0;          // debug level before, put back at the end
};
