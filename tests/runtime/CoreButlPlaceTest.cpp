// CoreButl::wrnew on a file system with neither hard links nor a rename that
// refuses to replace (some network and FAT-like mounts): link and renameat2
// are replaced here to fail on request, so the new file must be created
// exclusively and the finished temporary copied into it.
#include "runtime/CoreButl.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

// The errno the next link and renameat2 fail with (0: the real call), the
// calls seen (a link counts 10, a rename 1), and whether another writer puts
// "theirs" at the name as the rename fails.
static int linkError = 0, renameError = 0, calls = 0, raced = 0;

// Counts the call with weight, then fails once with error or makes the real call.
template <typename... ARGS>
static int failOr(int weight, int& error, char const* name, ARGS... args) {
    calls += weight;
    errno = std::exchange(error, 0);
    return errno ? -1 : reinterpret_cast<int (*)(ARGS...)>(dlsym(RTLD_NEXT, name))(args...);
}

extern "C" int link(char const* from, char const* to) noexcept {
    return failOr(10, linkError, "link", from, to);
}

extern "C" int renameat2(int atFrom, char const* from, int atTo, char const* to,
                         unsigned flags) noexcept {
    if (renameError && raced) writeBytes(to, "theirs");
    return failOr(1, renameError, "renameat2", atFrom, from, atTo, to, flags);
}

TEST(CoreButlPlace, WithoutLinksOrExclusiveRenameTheNewFileIsCopiedInto) {
    TempDir temp;
    // What link and renameat2 answer, the bytes written, wrerr after (0:
    // created), and whether another writer comes between. 200001 bytes take
    // many chunks; EACCES is refused for its own reason, so nothing is copied.
    struct Case {
        int linkError, renameError, size, error, raced;
    } const cases[] = {{EPERM, ENOSYS, 9, 0, 0},
                       {EXDEV, EINVAL, 200001, 0, 0},
                       {EMLINK, EOPNOTSUPP, 0, 0, 0},
                       {ENOTSUP, EOPNOTSUPP, 100, EEXIST, 1},
                       {EPERM, EACCES, 9, EACCES, 0}};
    for (Case const& c : cases) {
        std::string const path = temp.file(std::to_string(&c - cases) + ".xml");
        SCOPED_TRACE(path);
        std::string bytes(c.size, '\0');
        // 251 divides no chunk: a chunk misplaced shows.
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i % 251);
        linkError = c.linkError, renameError = c.renameError, raced = c.raced, calls = 0;
        LogCapture log;
        EXPECT_EQ(CoreButl::wrnew(CoreAnsx(path.c_str()), bytes.data(), bytes.size()), !c.error);
        EXPECT_EQ(CoreButl::wrerr(), c.error);
        EXPECT_EQ(calls, 11); // each placing tried once
        EXPECT_EQ(std::filesystem::exists(path), c.error == 0 || c.raced);
        EXPECT_EQ(readBytes(path), c.error == 0 ? bytes : c.raced ? "theirs" : "");
        EXPECT_EQ(LogCapture::error(log.text(), "Cannot create file " + path), c.error != 0);
    }
    // The four files named and no temporary beside them.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 4);
}
