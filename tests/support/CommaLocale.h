#pragma once
// Switches the whole process to a locale whose decimal point is ",", as a host
// may, for as long as the object lives, and back when it goes. A machine
// without such a locale installed still has the locales' sources (the
// locales package): one is compiled from them with localedef into a
// temporary folder, which LOCPATH names meanwhile. Test thread only, while no
// other thread reads the locale.

#include <memory>
#include <string>

class TempDir;

class CommaLocale {
public:
    CommaLocale();
    ~CommaLocale();
    CommaLocale(CommaLocale const&) = delete;
    CommaLocale& operator=(CommaLocale const&) = delete;
    CommaLocale(CommaLocale&&) = delete;
    CommaLocale& operator=(CommaLocale&&) = delete;

    bool active() const { return !name_.empty(); }    // the process uses the locale now
    std::string const& name() const { return name_; } // the locale switched to; "" when none
    std::string const& why() const { return why_; }   // why none could be had, when not active

private:
    std::string previous_;          // the process's locale before, to go back to
    std::string name_;              // the locale in use, or ""
    std::string why_;               // the reason none could be had
    bool hadLocpath_ = false;       // LOCPATH was set before
    std::string locpath_;           // and its value then
    std::unique_ptr<TempDir> made_; // the compiled locale's folder, when one was made
};
