#pragma once
// Switches the whole process to a locale whose decimal point is ",", as a host
// may. A machine with none installed still has the locales package's sources:
// one is compiled from them with localedef into a temporary folder, which
// LOCPATH names meanwhile. Test thread only, while no other thread reads the
// locale.

#include <memory>
#include <string>

struct CommaLocale {
    std::string why;             // why none could be had; "" when the process uses one now
    std::shared_ptr<void> guard; // puts the process's locale and LOCPATH back when it goes
};

CommaLocale commaLocale();
