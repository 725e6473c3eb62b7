// Feeds arbitrary bytes to program memory as a bank file (a setup) in a
// folder holding a program under every file name the demo bank uses.
// Whatever the bank says, its entries land from its bank on, a location is
// never both in use and failed, and a boot location it names is one of them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "program/CoreMmry.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CorePool.h"

namespace {

bool write(std::string const& path, void const* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool const written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// The data folder of this process, made at the first run and removed at
// exit (the text is never freed: the exit handler still reads it).
std::string const& folder() {
    static std::string const* path = [] {
        auto* f = new std::string("/tmp/vorlan-bankfuzz-" + std::to_string(getpid()) + "/");
        std::filesystem::create_directories(*f + "programs");
        std::filesystem::create_directories(*f + "setups");
        for (char const* name : {"INIT", "ROOM", "SATURATOR", "SWEEP"}) {
            std::string const text = std::string("<PROGRAM><NAME>") + name +
                                     "</NAME><CATEGORY>Demo</CATEGORY></PROGRAM>";
            write(*f + "programs/" + name + ".XML", text.data(), text.size());
        }
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder(), ignored);
        });
        return f;
    }();
    return *path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static CorePool pool;
    // One memory for every run (it is large); emptied after each.
    static CoreMmry* memory = new CoreMmry(&pool, folder().c_str(), 0, nullptr, "setups/",
                                           "programs/", "vectors/", "cache/", false, nullptr);
    if (!write(folder() + "setups/F.XML", data, size)) return 0;
    // The first bank, or the last, where entries run out of room.
    int const bank = (size & 1) != 0 ? CoreMmry::iCbanks - 1 : 0;
    int const before = memory->getpr(); // kept until a bank names another
    (void)memory->loads("F.XML", bank, true);
    int const boot = memory->getpr() != before ? memory->getpr() : -1;
    if (boot < -1 || boot >= CoreMmry::iCmemorydim) __builtin_trap();
    // The bank before it (left empty), the bank and the next (where a long
    // bank runs on); the whole memory would cost a hundredfold.
    int const first = std::max(0, (bank - 1) * CoreMmry::iCbankdim);
    int const end = std::min(CoreMmry::iCmemorydim, (bank + 2) * CoreMmry::iCbankdim);
    for (int loc = first; loc < end; ++loc) {
        CoreMmry::MEMORYLOC record;
        memory->getel(loc, &record);
        if (record.inuse && record.failed) __builtin_trap();
        if ((record.inuse || record.failed) && loc < bank * CoreMmry::iCbankdim) __builtin_trap();
        if (loc == boot && !record.inuse && !record.failed) __builtin_trap();
        if (record.inuse) (void)memory->getvl(loc, false);
    }
    memory->clear();
    return 0;
}
