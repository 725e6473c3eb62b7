#include "tests/support/FileBytes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>

std::string readBytes(std::string const& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(std::string const& path, std::string const& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

long long bytesRead() {
    std::string const io = readBytes("/proc/self/io");
    std::size_t const at = io.find("rchar: ");
    return at == std::string::npos ? -1 : std::stoll(io.substr(at + 7));
}

FileIdentity identity(std::string const& path) {
    struct stat s {};
    EXPECT_EQ(::stat(path.c_str(), &s), 0) << path;
    return {s.st_size, static_cast<long long>(s.st_ino), s.st_mtim.tv_sec, s.st_mtim.tv_nsec};
}
