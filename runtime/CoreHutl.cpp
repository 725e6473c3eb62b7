#include "runtime/CoreHutl.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

#include "platform/PlatBundle.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreXutl.h"

static char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool CoreHutl::match(char const* name, char const* mask) {
    if (name == nullptr) name = "";
    if (mask == nullptr) mask = "";
    char const* star = nullptr;   // last "*" seen in the mask
    char const* resume = nullptr; // name position to retry from after that "*"
    while (*name != '\0') {
        if (*mask == '*') {
            star = mask++;
            resume = name;
        } else if (*mask != '\0' && (*mask == '?' || upper(*mask) == upper(*name))) {
            ++mask;
            ++name;
        } else if (star != nullptr) {
            mask = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*mask == '*') ++mask;
    return *mask == '\0';
}

namespace {

// Whether an entry is a folder, without following links (a link counts as a file).
bool isFolderEntry(std::string const& folder, dirent const* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN) return false;
    struct stat st;
    std::string full = folder + "/" + entry->d_name;
    return ::lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

void CoreHutl::readr(CoreAnsx const& folder, CoreAnsx const& fileMask, CoreAnsx** list, int& count,
                     CoreAnsx const& folderMask) {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    bool wantFolders = !(folderMask == "0");
    CoreAnsx where = CoreButl::rslve(folder);
    std::string base(where.c_str());
    // An empty folder text names no folder (an unset setting): listing the
    // process's working folder instead would hand its files to clept.
    if (DIR* dir = base.empty() ? nullptr : ::opendir(base.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            if (isFolderEntry(base, entry)) {
                if (wantFolders && match(name.c_str(), folderMask.c_str())) folders.push_back(name);
            } else if (match(name.c_str(), fileMask.c_str())) {
                files.push_back(name);
            }
        }
        ::closedir(dir);
    }
    // Directory order is arbitrary here; byte order makes listings repeatable.
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    files.insert(files.end(), folders.begin(), folders.end());

    int found = static_cast<int>(files.size());
    CoreAnsx* names = new CoreAnsx[found > 0 ? found : 1];
    if (found == 0) names[0] = CoreAnsx("");
    for (int i = 0; i < found; ++i) names[i] = CoreAnsx(files[static_cast<std::size_t>(i)].c_str());
    if (list != nullptr) {
        delete[] * list;
        *list = names;
    } else {
        delete[] names;
    }
    count = found;
}

// A function of this image whose address cannot be taken by another one.
static void markerInThisImage() {}

CoreAnsx CoreHutl::appnm(void* unused, CoreAnsx& folder) {
    (void)unused;
    std::string image = PlatBundle::imagePath(reinterpret_cast<void const*>(&markerInThisImage));
    CoreAnsx bundle(PlatBundle::bundlePath(image).c_str());
    folder = CoreButl::getpt(bundle);
    return CoreButl::getfn(bundle, false);
}

bool CoreHutl::below(CoreAnsx const& root, CoreAnsx const& sub) {
    std::string const tail = CoreButl::ffpen(sub).c_str();
    if (tail.empty() || tail[0] == '/') return false;
    bool named = false;
    for (std::size_t at = 0; at <= tail.size();) {
        std::size_t end = std::min(tail.find('/', at), tail.size());
        std::string const part = tail.substr(at, end - at);
        if (part == "..") return false;
        named = named || (!part.empty() && part != ".");
        at = end + 1;
    }
    if (!named) return false;
    char real[PATH_MAX];
    if (::realpath(CoreButl::rslve(root).c_str(), real) == nullptr) return false;
    std::string const top = real;
    // The nearest ancestor that exists: what does not exist yet is made
    // below it, component by component, and cannot lead elsewhere.
    std::string path = CoreButl::rslve(root + sub).c_str();
    bool stripped = false;
    struct stat st {};
    while (::lstat(path.c_str(), &st) != 0) {
        while (!path.empty() && path.back() == '/') path.pop_back();
        std::size_t const slash = path.rfind('/');
        if (slash == std::string::npos) return false;
        path.erase(slash + 1);
        stripped = true;
    }
    if (::realpath(path.c_str(), real) == nullptr) return false;
    std::string const found = real;
    if (found == top) return stripped;
    std::string const inside = top == "/" ? top : top + "/";
    return found.compare(0, inside.size(), inside) == 0;
}

double CoreHutl::getst(CoreAnsx const& path) {
    struct stat st {};
    if (::stat(CoreButl::rslve(path).c_str(), &st) != 0) return 0.0;
    return static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) * 1e-9;
}

double CoreHutl::cpucd() { return CoreXutl::tgtme(); }

void CoreHutl::fslpr(int value, bool flag) {
    (void)value;
    (void)flag;
}
