#include "tests/support/CommaLocale.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/TempDir.h"

namespace {
// Installed decimal-comma locales, tried in turn before one is compiled.
char const* const kInstalled[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8",
                                  "de_DE"};
char const* const kSource = "/usr/share/i18n/locales/de_DE"; // what localedef compiles
char const* const kMade = "de_DE.UTF-8";                     // the name it is given

bool decimalComma() {
    char probe[8];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    return std::strcmp(probe, "1,5") == 0;
}
} // namespace

CommaLocale::CommaLocale() {
    previous_ = std::setlocale(LC_ALL, nullptr);
    if (char const* old = std::getenv("LOCPATH")) {
        hadLocpath_ = true;
        locpath_ = old;
    }
    for (char const* name : kInstalled)
        if (std::setlocale(LC_ALL, name) && decimalComma()) {
            name_ = name;
            return;
        }
    std::setlocale(LC_ALL, previous_.c_str());
    FILE* source = std::fopen(kSource, "r");
    if (source == nullptr) {
        why_ = std::string("no decimal-comma locale installed, and no ") + kSource +
               " to make one (the locales package)";
        return;
    }
    std::fclose(source);
    made_ = std::make_unique<TempDir>("commalocale");
    // localedef answers 1 for warnings with the locale made; whether it can
    // be used is what counts.
    std::string const command =
        std::string("localedef -i de_DE -f UTF-8 '") + made_->file(kMade) + "' >/dev/null 2>&1";
    int const status = std::system(command.c_str());
    setenv("LOCPATH", made_->path().c_str(), 1);
    if (std::setlocale(LC_ALL, kMade) && decimalComma()) {
        name_ = kMade;
        return;
    }
    std::setlocale(LC_ALL, previous_.c_str());
    why_ = "localedef could not make " + std::string(kMade) + " (status " + std::to_string(status) +
           ")";
}

CommaLocale::~CommaLocale() {
    std::setlocale(LC_ALL, previous_.c_str());
    if (hadLocpath_)
        setenv("LOCPATH", locpath_.c_str(), 1);
    else
        unsetenv("LOCPATH");
}
