// CoreButl::wrnew on a file system that has neither hard links nor a rename
// that refuses to replace (some network and FAT-like mounts): the new file is
// then created exclusively and the finished temporary copied into it. This
// process replaces link and renameat2 so that they fail on request with the
// errors such file systems give; every other call goes to the ones they
// replace.
#include "runtime/CoreButl.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {
int linkError = 0;          // errno of the next links; 0: the real call
int renameError = 0;        // errno of the next renameat2 calls; 0: the real call
std::string otherWriter;    // when set, these bytes appear at the name as a rename fails
int links = 0, renames = 0; // calls seen

template <typename CALL> CALL following(char const* name) {
    static CALL const found = reinterpret_cast<CALL>(dlsym(RTLD_NEXT, name));
    return found;
}
} // namespace

extern "C" int link(char const* from, char const* to) noexcept {
    ++links;
    if (linkError == 0) return following<int (*)(char const*, char const*)>("link")(from, to);
    errno = linkError;
    return -1;
}

extern "C" int renameat2(int fromDir, char const* from, int toDir, char const* to,
                         unsigned flags) noexcept {
    using RENAMEAT2 = int (*)(int, char const*, int, char const*, unsigned);
    ++renames;
    if (renameError == 0) return following<RENAMEAT2>("renameat2")(fromDir, from, toDir, to, flags);
    if (!otherWriter.empty()) writeBytes(to, otherWriter);
    errno = renameError;
    return -1;
}

namespace {

TEST(CoreButlPlace, WithoutLinksOrExclusiveRenameTheNewFileIsCopiedInto) {
    TempDir temp;
    std::mt19937 rng(20261208);
    struct Case {
        char const* what;
        int linkError, renameError; // what the file system answers
        std::size_t size;           // bytes written
        bool raced;                 // another writer takes the name between
        int error;                  // wrerr after the call; 0: created
    } const cases[] = {
        {"no hard links, no exclusive rename", EPERM, ENOSYS, 9, false, 0},
        {"across devices, many chunks", EXDEV, EINVAL, 200001, false, 0},
        {"an empty file", EMLINK, EOPNOTSUPP, 0, false, 0},
        {"another writer comes between", ENOTSUP, EOPNOTSUPP, 100, true, EEXIST},
        {"the rename refused for its own reason", EPERM, EACCES, 9, false, EACCES},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        std::string const path = temp.file(std::to_string(&c - cases) + ".xml");
        std::string bytes(c.size, '\0');
        for (char& b : bytes) b = static_cast<char>(rng());
        linkError = c.linkError;
        renameError = c.renameError;
        otherWriter = c.raced ? "theirs" : "";
        links = renames = 0;
        LogCapture log;
        bool const made = CoreButl::wrnew(CoreAnsx(path.c_str()), bytes.data(), bytes.size());
        linkError = renameError = 0;
        otherWriter.clear();
        EXPECT_EQ(made, c.error == 0);
        EXPECT_EQ(CoreButl::wrerr(), c.error);
        EXPECT_EQ(links * 10 + renames, 11); // each placing tried once
        std::string const there = c.raced ? "theirs" : c.error == 0 ? bytes : "";
        EXPECT_EQ(std::filesystem::exists(path), c.raced || c.error == 0);
        EXPECT_EQ(readBytes(path), there);
        EXPECT_EQ(log.text().find("Cannot create file") != std::string::npos, c.error != 0)
            << log.text();
    }
    // Nothing but the files named: no temporary stays behind.
    int entries = 0;
    for (auto const& entry : std::filesystem::directory_iterator(temp.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".~"), std::string::npos);
        ++entries;
    }
    EXPECT_EQ(entries, 4);
}

} // namespace
