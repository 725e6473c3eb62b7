#include "runtime/CoreVutl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Split {
    std::string drive, folder, name, extension;
};

Split split(char const* path) {
    std::size_t const room = std::strlen(path) + 1;
    std::vector<char> d(room, '#'), f(room, '#'), n(room, '#'), e(room, '#');
    CoreVutl::fnspl(path, d.data(), f.data(), n.data(), e.data());
    return {d.data(), f.data(), n.data(), e.data()};
}

} // namespace

TEST(CoreVutl, ReallRetriesThenGivesUpLeavingTheBlock) {
    void* block = CoreVutl::reall(nullptr, 16);
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "0123456789abcde", 16);
    CoreVutl::failNextReallocs(9); // the tenth attempt succeeds
    block = CoreVutl::reall(block, 64);
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(static_cast<char*>(block), "0123456789abcde");
    CoreVutl::failNextReallocs(10);
    EXPECT_EQ(CoreVutl::reall(block, 128), nullptr);
    CoreVutl::failNextReallocs(0);
    EXPECT_STREQ(static_cast<char*>(block), "0123456789abcde"); // still ours and intact
    EXPECT_EQ(CoreVutl::reall(block, -5), nullptr);
    EXPECT_EQ(CoreVutl::reall(block, 0), nullptr); // frees; ASan reports a leak otherwise
    EXPECT_EQ(CoreVutl::reall(nullptr, 0), nullptr);
}

TEST(CoreVutl, AlignedBlocksKeepTheWholePointer) {
    std::vector<void*> blocks;
    for (int n = 0; n < 200; ++n) {
        void* p = CoreVutl::mllc8(n);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
        std::memset(p, 0xA5, static_cast<std::size_t>(n)); // ASan catches a short block
        blocks.push_back(p);
    }
    for (void* p : blocks) CoreVutl::free8(p); // a truncated pointer would crash or leak here
    EXPECT_EQ(CoreVutl::mllc8(-1), nullptr);
    CoreVutl::free8(nullptr);
}

TEST(CoreVutl, NextBoundaryIsStrictlyAbove) {
    auto at = [](std::uintptr_t a) {
        return reinterpret_cast<std::uintptr_t>(CoreVutl::getmp(reinterpret_cast<void*>(a)));
    };
    EXPECT_EQ(at(0x1000), 0x1010u);
    EXPECT_EQ(at(0x1001), 0x1010u);
    EXPECT_EQ(at(0x100F), 0x1010u);
}

TEST(CoreVutl, PathSplitExamples) {
    Split s = split("C:\\dir\\file.txt");
    EXPECT_EQ(s.drive, "C:");
    EXPECT_EQ(s.folder, "\\dir\\");
    EXPECT_EQ(s.name, "file");
    EXPECT_EQ(s.extension, ".txt");

    s = split("dir/sub/name");
    EXPECT_EQ(s.drive, "");
    EXPECT_EQ(s.folder, "dir/sub/");
    EXPECT_EQ(s.name, "name");
    EXPECT_EQ(s.extension, "");

    s = split("a/b.c/d.e");
    EXPECT_EQ(s.folder, "a/b.c/");
    EXPECT_EQ(s.name, "d");
    EXPECT_EQ(s.extension, ".e");
}

TEST(CoreVutl, PathSplitEdges) {
    // The extension scan runs through separators.
    Split s = split("dir.d/file");
    EXPECT_EQ(s.folder, "");
    EXPECT_EQ(s.name, "dir");
    EXPECT_EQ(s.extension, ".d/file");
    // The character right after the drive is never a separator or a dot.
    s = split("C:\\file");
    EXPECT_EQ(s.drive, "C:");
    EXPECT_EQ(s.folder, "");
    EXPECT_EQ(s.name, "\\file");
    s = split(".hidden");
    EXPECT_EQ(s.name, ".hidden");
    EXPECT_EQ(s.extension, "");
    s = split("");
    EXPECT_EQ(s.drive + s.folder + s.name + s.extension, "");
    s = split("x:");
    EXPECT_EQ(s.drive, "x:");
    EXPECT_EQ(s.name, "");
    s = split("a/b:c/d.e"); // the drive runs to the first ":"
    EXPECT_EQ(s.drive, "a/b:");
    EXPECT_EQ(s.folder, "c/");
    EXPECT_EQ(s.name, "d");
    // A null path and null outputs are survivable.
    char name[8] = "#";
    CoreVutl::fnspl(nullptr, nullptr, nullptr, name, nullptr);
    EXPECT_STREQ(name, "");
    CoreVutl::fnspl("p/q.r", nullptr, nullptr, name, nullptr);
    EXPECT_STREQ(name, "q");
}

// The platform keeps no version resources: the query answers 0, and the
// placeholders answer nothing.
TEST(CoreVutl, VersionQueryAndPlaceholdersAnswerNothing) {
    unsigned long version = 77;
    CoreVutl::getvi("vorlan", 0, 0, &version, 0, 0, 0, 0);
    EXPECT_EQ(version, 0ul);
    CoreVutl::getvi("vorlan", 0, 0, nullptr, 0, 0, 0, 0);
    EXPECT_EQ(CoreVutl::idmmy(), 0);
    EXPECT_EQ(CoreVutl::ddmmy(), 0.0);
    CoreVutl::pdmmy();
}
