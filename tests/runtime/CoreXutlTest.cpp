// ctest-labels: threads
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/PlatFile.h"
#include "runtime/CoreXutl.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

class CoreXutlFiles : public ::testing::Test {
protected:
    CoreAnsx at(char const* name) const { return CoreAnsx((folder / name).c_str()); }
    static std::string read(CoreAnsx const& path) { return readBytes(path.c_str()); }
    static void write(CoreAnsx const& path, std::string const& content) {
        writeBytes(path.c_str(), content);
    }
    static unsigned mode(CoreAnsx const& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 ? (info.st_mode & 0777) : 0;
    }
    int entries() const {
        return static_cast<int>(std::distance(fs::directory_iterator(folder), {}));
    }
    TempDir temp;
    fs::path const folder{temp.path()};
};

} // namespace

TEST(CoreXutl, ClocksSleepsAndIdentifiers) {
    double before = CoreXutl::tgtme();
    CoreXutl::sleep(-5); // would be an endless wait as an unsigned microsecond count
    CoreXutl::sleep(20);
    double waited = CoreXutl::tgtme() - before;
    EXPECT_GE(waited, 19.0);
    EXPECT_LT(waited, 10000.0);
    double steady = std::chrono::duration<double, std::milli>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    EXPECT_NEAR(CoreXutl::tgtme(), steady, 1000.0); // a monotonic clock, in ms
    double wall =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(CoreXutl::ttime(), wall / 86400.0, 10.0 / 86400.0); // wall-clock days

    EXPECT_EQ(CoreXutl::getpi(), static_cast<int>(getpid()));
    unsigned long other = 0;
    std::thread([&other] { other = CoreXutl::getti(); }).join();
    EXPECT_NE(other, CoreXutl::getti());
}

TEST_F(CoreXutlFiles, DirectoriesAndDeletion) {
    EXPECT_FALSE(CoreXutl::ispvl(at("sub")));
    EXPECT_TRUE(CoreXutl::crdir(at("sub")));
    EXPECT_TRUE(CoreXutl::ispvl(at("sub")));
    EXPECT_FALSE(CoreXutl::crdir(at("sub"))); // exists already
    EXPECT_FALSE(CoreXutl::crdir(at("no/such/nest")));
    write(at("plain"), "x");
    EXPECT_FALSE(CoreXutl::ispvl(at("plain")));
    EXPECT_TRUE(CoreXutl::delfl(at("plain")));
    EXPECT_FALSE(fs::exists(folder / "plain"));
    EXPECT_FALSE(CoreXutl::delfl(at("plain")));
}

TEST_F(CoreXutlFiles, CopyReplacesTheDestinationButNeverItsOwnSource) {
    std::string data("one\0two\nthree", 13);
    write(at("a"), data);
    chmod(at("a").c_str(), 0640);
    write(at("b"), "an older and much longer content than the source");
    EXPECT_TRUE(CoreXutl::cpyfl(at("a"), at("b"), false));
    EXPECT_EQ(read(at("b")), data);
    EXPECT_EQ(mode(at("b")), 0640u);

    EXPECT_FALSE(CoreXutl::cpyfl(at("a"), at("a"), true));
    EXPECT_EQ(read(at("a")), data);
    EXPECT_FALSE(CoreXutl::cpyfl(at("missing"), at("c"), false));
    EXPECT_FALSE(fs::exists(folder / "c"));
    // A FIFO put at the source after the caller's look is refused at once, not waited on.
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
    int const out = ::open(at("c").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ::alarm(10);
    EXPECT_EQ(PlatFile::copyfile(at("fifo").c_str(), out), -1);
    ::alarm(0), ::close(out);
}

TEST_F(CoreXutlFiles, CopyCutShortLeavesTheDestinationAndReportsFailure) {
    write(at("big"), std::string(5000, 's'));
    write(at("dest"), "old");
    // A file size limit stands in for a full disk.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool copied = CoreXutl::cpyfl(at("big"), at("dest"), false);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(copied);
    EXPECT_EQ(read(at("dest")), "old");
    EXPECT_EQ(entries(), 2); // no temporary left beside it
}

TEST_F(CoreXutlFiles, LockedWriteReplacesContentWithTextAndLineFeed) {
    EXPECT_TRUE(CoreXutl::lgexc(at("s.xml"), CoreAnsx("<A>long first text</A>"), false));
    EXPECT_EQ(read(at("s.xml")), "<A>long first text</A>\n");
    EXPECT_TRUE(CoreXutl::lgexc(at("s.xml"), CoreAnsx("<B/>"), true));
    EXPECT_EQ(read(at("s.xml")), "<B/>\n"); // no tail of the longer text
    EXPECT_EQ(entries(), 1);                // no temporary left beside it
}

TEST_F(CoreXutlFiles, LockedWriteKeepsModeAndWritesThroughALink) {
    write(at("real.xml"), "old");
    chmod(at("real.xml").c_str(), 0604);
    fs::create_symlink(folder / "real.xml", folder / "link.xml");
    EXPECT_TRUE(CoreXutl::lgexc(at("link.xml"), CoreAnsx("new"), false));
    EXPECT_TRUE(fs::is_symlink(folder / "link.xml"));
    EXPECT_EQ(read(at("real.xml")), "new\n");
    EXPECT_EQ(mode(at("real.xml")), 0604u);
}

TEST_F(CoreXutlFiles, LockedWriteThatCannotOpenWritesNothing) {
    EXPECT_FALSE(CoreXutl::lgexc(at("no/folder/file.xml"), CoreAnsx("x"), false));
    fs::create_directory(folder / "sub");
    EXPECT_FALSE(CoreXutl::lgexc(at("sub"), CoreAnsx("x"), false));
    EXPECT_TRUE(fs::is_directory(folder / "sub"));
    EXPECT_FALSE(CoreXutl::lgexc(CoreAnsx(""), CoreAnsx("x"), false));
    EXPECT_EQ(entries(), 1); // only "sub": no stray temporary file
}
