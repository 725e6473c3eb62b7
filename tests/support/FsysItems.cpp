#include "tests/support/FsysItems.h"

#include <cstddef>

#include "storage/CoreFsys.h"

int putItem(CoreFsys& fs, char const* name, std::string const& bytes) {
    int id = fs.crtit(name, true);
    fs.setit(id, bytes.data(), long(bytes.size()), CoreAnsx(""), true, false);
    return id;
}

std::string heldItem(CoreFsys& fs, int id) {
    void* data = nullptr;
    long n = fs.getco(id, &data);
    return n > 0 ? std::string(static_cast<char*>(data), std::size_t(n)) : std::string();
}
