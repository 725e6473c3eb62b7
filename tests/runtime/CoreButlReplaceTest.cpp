// ctest-labels: threads
// The one whole-file replacement routine, CoreButl::wrall, in both forms:
// what may and may not be replaced, what a failure leaves behind (the previous
// file, no temporary), links, and writers racing on one file. Its sibling
// CoreButl::wrnew only ever creates: every kind of entry at the name (a
// dangling link too) stays as it was.

#include "runtime/CoreButl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

class Replace : public ::testing::Test {
protected:
    std::string at(std::string const& name) const { return temp.file(name); }
    // Names in the folder that look like a temporary of the routine.
    int temporaries() const {
        int n = 0;
        for (auto const& e : fs::recursive_directory_iterator(temp.path()))
            if (e.path().filename().string().find(".~") != std::string::npos) ++n;
        return n;
    }
    static bool put(std::string const& path, std::string const& bytes) {
        return CoreButl::wrall(CoreAnsx(path.c_str()), bytes.data(), bytes.size());
    }
    // The stream form, writing the bytes in small pieces.
    static bool putPieces(std::string const& path, std::string const& bytes) {
        return CoreButl::wrall(CoreAnsx(path.c_str()), [&bytes](FILE* file) {
            for (std::size_t i = 0; i < bytes.size(); i += 7)
                std::fwrite(bytes.data() + i, 1, std::min<std::size_t>(7, bytes.size() - i), file);
            return true; // write errors are the routine's to notice
        });
    }
    static unsigned mode(std::string const& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    TempDir temp;
};

TEST_F(Replace, FullDiskLeavesThePreviousFileAndNoTemporary) {
    writeBytes(at("old.bin"), "old");
    std::string const big(5000, 'x');
    // A file size limit stands in for a full disk. SIGXFSZ keeps its default action, which ends
    // the process at a write that starts at the limit: the routine's writes must fail instead.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_DFL);
    struct rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool const results[] = {put(at("old.bin"), big), putPieces(at("old.bin"), big),
                            put(at("new.bin"), big), putPieces(at("new.bin"), big)};
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    for (bool written : results) EXPECT_FALSE(written);
    EXPECT_EQ(CoreButl::wrerr(), EFBIG);
    EXPECT_EQ(readBytes(at("old.bin")), "old");
    EXPECT_FALSE(fs::exists(at("new.bin"))); // no empty or partial file appears
    EXPECT_EQ(temporaries(), 0);
}

TEST_F(Replace, ReadOnlyFolderKeepsTheFile) {
    fs::create_directory(at("ro"));
    writeBytes(at("ro/f.txt"), "old");
    ::chmod(at("ro").c_str(), 0555);
    int probe = ::open(at("ro/probe").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (probe >= 0) {
        ::close(probe);
        ::chmod(at("ro").c_str(), 0755);
        GTEST_SKIP() << "this user may write into a read-only folder";
    }
    EXPECT_FALSE(put(at("ro/f.txt"), "new"));
    EXPECT_FALSE(put(at("ro/g.txt"), "new"));
    ::chmod(at("ro").c_str(), 0755);
    EXPECT_EQ(readBytes(at("ro/f.txt")), "old");
    EXPECT_FALSE(fs::exists(at("ro/g.txt")));
    EXPECT_EQ(temporaries(), 0);
}

TEST_F(Replace, WhatIsNoRegularFileIsRefusedAndStays) {
    // A device of our own where the user may make one (so a fault could never
    // touch the system's), else the system's full device, which no other
    // user can replace anyway.
    std::string device = at("full");
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) device = "/dev/full";
    ASSERT_EQ(::mkfifo(at("pipe").c_str(), 0644), 0);
    fs::create_directory(at("folder"));
    fs::create_symlink(device, at("device-link"));
    LogCapture log;
    for (std::string const& target : {device, at("device-link"), at("pipe"), at("folder")}) {
        SCOPED_TRACE(target);
        EXPECT_FALSE(put(target, "x"));
        EXPECT_FALSE(putPieces(target, "x"));
    }
    struct stat st {};
    ASSERT_EQ(::stat(device.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_TRUE(fs::is_fifo(at("pipe")));
    EXPECT_TRUE(fs::is_directory(at("folder")));
    EXPECT_TRUE(fs::is_symlink(at("device-link")));
    EXPECT_NE(log.text().find("not a plain file"), std::string::npos);
    // No name, no folder: refused as well.
    EXPECT_FALSE(put("", "x"));
    EXPECT_FALSE(put(at("no/folder/f.txt"), "x"));
    EXPECT_EQ(temporaries(), 0);
}

TEST_F(Replace, LinksAreFollowedAndStay) {
    writeBytes(at("real.txt"), "old");
    ::chmod(at("real.txt").c_str(), 0604);
    fs::create_symlink(at("real.txt"), at("abs-link"));
    fs::create_directory(at("sub"));
    fs::create_symlink("../abs-link", at("sub/chain")); // relative, through a second link
    fs::create_symlink("missing.txt", at("dangling"));
    fs::create_symlink("loop-b", at("loop-a"));
    fs::create_symlink("loop-a", at("loop-b"));

    ASSERT_TRUE(put(at("abs-link"), "one"));
    EXPECT_EQ(readBytes(at("real.txt")), "one");
    ASSERT_TRUE(putPieces(at("sub/chain"), "two, in pieces"));
    EXPECT_EQ(readBytes(at("real.txt")), "two, in pieces");
    EXPECT_EQ(mode(at("real.txt")), 0604u); // the replaced file's permission bits
    // A link to a file not there yet makes that file; the link stays.
    ASSERT_TRUE(put(at("dangling"), "made"));
    EXPECT_EQ(readBytes(at("missing.txt")), "made");
    EXPECT_FALSE(put(at("loop-a"), "x"));
    for (char const* link : {"abs-link", "sub/chain", "dangling", "loop-a", "loop-b"})
        EXPECT_TRUE(fs::is_symlink(at(link))) << link;
    EXPECT_EQ(temporaries(), 0);
}

TEST_F(Replace, AFailingOrThrowingFillLeavesThePreviousFile) {
    writeBytes(at("f.txt"), "old");
    CoreAnsx const path(at("f.txt").c_str());
    EXPECT_FALSE(CoreButl::wrall(path, [](FILE* file) {
        std::fputs("half", file);
        return false;
    }));
    EXPECT_THROW(CoreButl::wrall(path,
                                 [](FILE* file) -> bool {
                                     std::fputs("half", file);
                                     throw std::runtime_error("allocation failed");
                                 }),
                 std::runtime_error);
    EXPECT_EQ(readBytes(at("f.txt")), "old");
    // Through the descriptor, as a copy does, and with zero bytes inside.
    std::string const bytes("a\0b", 3);
    EXPECT_TRUE(CoreButl::wrall(path, [&bytes](FILE* file) {
        return ::write(::fileno(file), bytes.data(), bytes.size()) == 3;
    }));
    EXPECT_EQ(readBytes(at("f.txt")), bytes);
    EXPECT_TRUE(put(at("f.txt"), ""));
    EXPECT_EQ(readBytes(at("f.txt")), "");
    EXPECT_EQ(temporaries(), 0);
}

TEST_F(Replace, RacingWritersLeaveOneWholeContent) {
    // Each writer's content is a run of one letter; a reader meanwhile must
    // only ever see one whole run, never a mix, a truncation or no file.
    std::string const path = at("shared.txt");
    auto content = [](int writer) { return std::string(20000, char('a' + writer)); };
    ASSERT_TRUE(put(path, content(0)));
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread reader([&] {
        while (!done.load()) {
            std::string seen = readBytes(path);
            if (seen.size() != 20000 || seen.find_first_not_of(seen[0]) != std::string::npos)
                failures.fetch_add(1);
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < 15; ++i)
                if (!(i % 2 ? putPieces(path, content(w)) : put(path, content(w))))
                    failures.fetch_add(1);
        });
    for (auto& t : writers) t.join();
    done.store(true);
    reader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(temporaries(), 0);
}

TEST_F(Replace, ANewFileNeverTakesThePlaceOfAnything) {
    fs::create_directory(at("sub"));
    writeBytes(at("file.txt"), "old");
    fs::create_symlink(at("nowhere/victim.txt"), at("dangling.txt")); // folder missing
    fs::create_symlink(at("victim.txt"), at("dangling2.txt"));        // folder there
    fs::create_symlink(at("file.txt"), at("link.txt"));
    struct Case {
        char const* name;
        int error; // wrerr after the call; 0: created
    } const cases[] = {{"new.txt", 0},           {"sub/new.txt", 0},         {"file.txt", EEXIST},
                       {"dangling.txt", EEXIST}, {"dangling2.txt", EEXIST},  {"link.txt", EEXIST},
                       {"sub", EEXIST},          {"missing/new.txt", ENOENT}};
    std::string const bytes("new\0bytes", 9);
    for (Case const& c : cases) {
        bool const pieces = c.error == EEXIST; // the stream form for half the rows
        bool const made =
            pieces ? CoreButl::wrnew(CoreAnsx(at(c.name).c_str()),
                                     [&bytes](FILE* f) {
                                         return std::fwrite(bytes.data(), 1, bytes.size(), f) ==
                                                bytes.size();
                                     })
                   : CoreButl::wrnew(CoreAnsx(at(c.name).c_str()), bytes.data(), bytes.size());
        EXPECT_EQ(made, c.error == 0) << c.name;
        EXPECT_EQ(CoreButl::wrerr(), c.error) << c.name;
        if (made) {
            EXPECT_EQ(readBytes(at(c.name)), bytes) << c.name;
        }
    }
    EXPECT_EQ(readBytes(at("file.txt")), "old");
    EXPECT_TRUE(fs::is_symlink(at("dangling.txt")));
    EXPECT_TRUE(fs::is_symlink(at("dangling2.txt")));
    EXPECT_FALSE(fs::exists(at("victim.txt"))); // never written through the link
    EXPECT_TRUE(fs::is_symlink(at("link.txt")));
    EXPECT_TRUE(fs::is_directory(at("sub")));
    EXPECT_EQ(temporaries(), 0);
    // A fill that fails leaves nothing at the name.
    EXPECT_FALSE(CoreButl::wrnew(CoreAnsx(at("half.txt").c_str()), [](FILE*) { return false; }));
    EXPECT_FALSE(fs::exists(at("half.txt")));
    EXPECT_EQ(temporaries(), 0);
}

} // namespace
