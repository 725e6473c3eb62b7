#include "platform/PlatBundle.h"

#include <climits>
#include <cstdlib>
#include <strings.h>

#include <dlfcn.h>

std::string PlatBundle::imagePath(void const* address) {
    Dl_info info{};
    if (address == nullptr || ::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "";
    // The loader reports the name it was given, which may be relative.
    char real[PATH_MAX];
    if (::realpath(info.dli_fname, real) != nullptr) return real;
    return info.dli_fname;
}

std::string PlatBundle::bundlePath(std::string const& imagePath) {
    // Peel three components: FILE, <arch>, "Contents".
    std::string parts[3];
    std::string rest = imagePath;
    for (std::string& part : parts) {
        std::size_t slash = rest.find_last_of('/');
        if (slash == std::string::npos) return imagePath;
        part = rest.substr(slash + 1);
        rest.erase(slash);
    }
    std::size_t slash = rest.find_last_of('/');
    std::string bundle = slash == std::string::npos ? rest : rest.substr(slash + 1);
    bool vst = bundle.size() > 4 && ::strcasecmp(bundle.c_str() + bundle.size() - 4, ".vst") == 0;
    if (vst && parts[2] == "Contents" && !parts[0].empty() && !parts[1].empty()) return rest;
    return imagePath;
}
