#include "tests/support/HugeFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

long long bytesRead() {
    std::string const io = readBytes("/proc/self/io");
    std::size_t const at = io.find("rchar: ");
    return at == std::string::npos ? -1 : std::stoll(io.substr(at + 7));
}

namespace {

// What tells a file was left as it was: its size, inode and modification time.
std::tuple<long long, long long, long long, long long> identity(std::string const& path) {
    struct stat s {};
    EXPECT_EQ(::stat(path.c_str(), &s), 0) << path;
    return {s.st_size, s.st_ino, s.st_mtim.tv_sec, s.st_mtim.tv_nsec};
}

} // namespace

std::string oneItemArchive(std::string const& name, std::string const& bytes) {
    std::string header = "Vorlan2 1.3.508" + std::string(44 - 15, '\0');
    for (int i = 0; i < 4; ++i)
        header[std::size_t(40 + i)] = char((bytes.size() >> (8 * i)) & 0xFF);
    return header + bytes + "<TOC><ITEM><ENTRY>" + name + "</ENTRY><ADDRESS>0</ADDRESS><DIM>" +
           std::to_string(bytes.size()) + "</DIM><VERSION>1.3.508</VERSION></ITEM></TOC>";
}

void eachHugeFile(std::string const& top, std::vector<std::string> const& extra, long long bound,
                  std::function<void(std::string const&, std::string const&)> const& act) {
    std::vector<std::string> files = {"data/setups/DEMO.XML",   "vorlan.xml",
                                      "data/programs/ROOM.XML", "data/programs/SATURATOR.XML",
                                      "data/vectors/ROOM.CSV",  "data/programs/BIG.V2P"};
    files.insert(files.end(), extra.begin(), extra.end());
    for (long long size : {3LL << 29, 8LL << 30})
        for (std::string const& file : files) hugeRow(top, file, size, bound, act);
}

void hugeRow(std::string const& top, std::string const& file, long long size, long long bound,
             std::function<void(std::string const&, std::string const&)> const& act) {
    SCOPED_TRACE(file + " " + std::to_string(size));
    std::string const path = top + file, whole = readBytes(path);
    if (::truncate(path.c_str(), off_t(size)) != 0) return;
    auto const before = identity(path);
    long long const start = bytesRead();
    ::alarm(60); // a read of the whole file fails the test rather than stalling it
    act(file, file.substr(file.rfind('/') + 1) +
                  (file.ends_with(".V2P") ? ": table of contents too large (" : ": too large ("));
    ::alarm(0);
    EXPECT_LT(bytesRead() - start, bound);
    EXPECT_EQ(identity(path), before);
    writeBytes(path, whole);
}
