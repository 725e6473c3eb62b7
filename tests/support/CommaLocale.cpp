#include "tests/support/CommaLocale.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/TempDir.h"

namespace {
bool switchedTo(char const* name) {
    char probe[8];
    return std::setlocale(LC_ALL, name) && std::snprintf(probe, sizeof probe, "%.1f", 1.5) > 0 &&
           std::strcmp(probe, "1,5") == 0;
}
} // namespace

CommaLocale commaLocale() {
    char const* locpath = std::getenv("LOCPATH");
    // LOCPATH first: an installed locale is not found while it names our folder.
    auto restore = [locale = std::string(std::setlocale(LC_ALL, nullptr)), had = locpath != nullptr,
                    old = std::string(locpath ? locpath : "")](void*) {
        had ? setenv("LOCPATH", old.c_str(), 1) : unsetenv("LOCPATH");
        std::setlocale(LC_ALL, locale.c_str());
    };
    CommaLocale comma{"", std::shared_ptr<void>(nullptr, restore)};
    for (char const* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE"})
        if (switchedTo(name)) return comma;
    static TempDir const made("commalocale"); // kept for the program's life
    // localedef answers 1 for warnings with the locale made: whether it works is what counts.
    int const status = std::system(
        ("localedef -i de_DE -f UTF-8 '" + made.file("de_DE.UTF-8") + "' >/dev/null 2>&1").c_str());
    setenv("LOCPATH", made.path().c_str(), 1);
    if (!switchedTo("de_DE.UTF-8"))
        comma.why = "no decimal-comma locale, and localedef made none (status " +
                    std::to_string(status) + "; is the locales package there?)";
    return comma;
}
