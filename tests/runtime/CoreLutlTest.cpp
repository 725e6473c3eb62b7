// Folder creation along a path and emptying a folder, in a temporary folder.

#include "runtime/CoreLutl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

class LutlFolder : public ::testing::Test {
protected:
    void touch(std::string const& name) { writeBytes(dir + name, "x"); }
    TempDir temp;
    std::string const dir = temp.folder();
};

TEST_F(LutlFolder, CreatesNestedFoldersButNotTheFile) {
    CoreLutl::crtpt((dir + "one/two/three/file.xml").c_str());
    EXPECT_TRUE(fs::is_directory(dir + "one/two/three"));
    EXPECT_FALSE(fs::exists(dir + "one/two/three/file.xml"));
    CoreLutl::crtpt((dir + "a\\b\\").c_str()); // backslashes separate too
    EXPECT_TRUE(fs::is_directory(dir + "a/b"));
    CoreLutl::crtpt((dir + "x/y").c_str()); // the last part is a file name
    EXPECT_TRUE(fs::is_directory(dir + "x"));
    EXPECT_FALSE(fs::exists(dir + "x/y"));
}

TEST_F(LutlFolder, ExistingFoldersAreLeftAlone) {
    fs::create_directories(dir + "p/q");
    touch("p/q/keep.txt");
    CoreLutl::crtpt((dir + "p/q/f.txt").c_str());
    EXPECT_TRUE(fs::exists(dir + "p/q/keep.txt"));
    touch("p/file");
    CoreLutl::crtpt((dir + "p/file/deeper/f.txt").c_str()); // a file in the way: silent
    EXPECT_TRUE(fs::is_regular_file(dir + "p/file"));
}

TEST_F(LutlFolder, RelativePathsStayRelative) {
    std::string here = fs::current_path().string();
    fs::current_path(dir);
    CoreLutl::crtpt("rel/sub/f.xml");
    fs::current_path(here);
    EXPECT_TRUE(fs::is_directory(dir + "rel/sub"));
}

TEST_F(LutlFolder, EmptyingRemovesOnlyFiles) {
    fs::create_directories(dir + "box/SUB");
    touch("box/a.xml");
    touch("box/.hidden");
    touch("box/SUB/inner.txt");
    touch("boxa.xml"); // beside the folder, same name as folder + file
    CoreLutl::clept((dir + "box/").c_str());
    EXPECT_FALSE(fs::exists(dir + "box/a.xml"));
    EXPECT_FALSE(fs::exists(dir + "box/.hidden"));
    EXPECT_TRUE(fs::exists(dir + "box/SUB/inner.txt"));
    EXPECT_TRUE(fs::exists(dir + "boxa.xml"));
    // A folder named without its separator is emptied, not its neighbours.
    touch("box/b.xml");
    CoreLutl::clept((dir + "box").c_str());
    EXPECT_FALSE(fs::exists(dir + "box/b.xml"));
    EXPECT_TRUE(fs::exists(dir + "boxa.xml"));
    CoreLutl::clept((dir + "missing/").c_str()); // silent
}

TEST_F(LutlFolder, EmptyFolderTextNamesNoFolder) {
    // An unset folder setting must not empty the process's working folder.
    touch("keep.txt");
    std::string here = fs::current_path().string();
    fs::current_path(dir);
    CoreLutl::clept("");
    fs::current_path(here);
    EXPECT_TRUE(fs::exists(dir + "keep.txt"));
}

} // namespace
