#include "tests/support/LogCapture.h"

#include "runtime/CoreLog_.h"

#include <fstream>
#include <sstream>

LogCapture::LogCapture() : oldPath(CoreLog_::getpt()), oldLevel(CoreLog_::getdb()) {
    CoreLog_::setpt(CoreAnsx(folder.folder().c_str()));
    CoreLog_::setdb(3, false);
}

LogCapture::~LogCapture() {
    CoreLog_::setpt(oldPath);
    CoreLog_::setdb(oldLevel, false);
}

std::string LogCapture::text() const {
    std::ifstream in(folder.file(CoreLog_::getfn().c_str()));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool LogCapture::error(std::string const& log, std::string const& what, std::size_t from) {
    std::istringstream lines(from < log.size() ? log.substr(from) : "");
    for (std::string line; std::getline(lines, line);)
        if (line.find("***ERROR***>") != std::string::npos && line.find(what) != std::string::npos)
            return true;
    return false;
}

int LogCapture::count(std::string const& log, std::string const& what) {
    int n = 0;
    for (auto at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
    return n;
}
