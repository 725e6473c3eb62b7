#include "runtime/CoreLutl.h"

#include <cstring>
#include <string>
#include <vector>

#include "runtime/CoreButl.h"
#include "runtime/CoreHutl.h"
#include "runtime/CoreVutl.h"
#include "runtime/CoreXutl.h"

void CoreLutl::crtpt(CoreAnsx const& path) {
    std::size_t size = std::strlen(path.c_str()) + 1;
    std::vector<char> drive(size), folder(size), name(size), extension(size);
    CoreVutl::fnspl(path.c_str(), drive.data(), folder.data(), name.data(), extension.data());
    std::string prefix = drive.data();
    std::size_t driveLength = prefix.size();
    for (char const* p = folder.data(); *p != '\0'; ++p) {
        bool separator = *p == '/' || *p == '\\';
        prefix += separator ? '/' : *p;
        // The bare root separator is never created.
        if (separator && prefix.size() > driveLength + 1) CoreXutl::crdir(CoreAnsx(prefix.c_str()));
    }
}

void CoreLutl::clept(CoreAnsx const& folder) {
    CoreAnsx* names = nullptr;
    int count = 0;
    CoreHutl::readr(folder, "*", &names, count, "0");
    // Names are joined by concatenation: a folder given without its separator
    // would otherwise name files beside it, not in it.
    CoreAnsx base = CoreButl::rslve(folder);
    int length = base.Length();
    if (length > 0) {
        char last = base.c_str()[length - 1];
        if (last != '/' && last != '\\') base += CoreAnsx("/");
    }
    for (int i = 0; i < count; ++i) CoreXutl::delfl(base + names[i]);
    delete[] names;
}
