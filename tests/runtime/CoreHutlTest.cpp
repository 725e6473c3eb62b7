// Wildcard matching, folder listing, file times and the plug-in's own
// location (from inside a shared object loaded at run time).

#include "runtime/CoreHutl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/PlatBundle.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

class HutlFolder : public ::testing::Test {
protected:
    void touch(std::string const& name) { writeBytes(dir + name, "x"); }
    std::vector<std::string> list(CoreAnsx const& folder, char const* fileMask,
                                  char const* folderMask, int& count) {
        CoreAnsx* names = new CoreAnsx[3]; // an old array the call must release
        CoreHutl::readr(folder, fileMask, &names, count, folderMask);
        std::vector<std::string> out;
        for (int i = 0; i < (count > 0 ? count : 1); ++i) out.push_back(names[i].c_str());
        delete[] names;
        return out;
    }
    TempDir temp;
    std::string const dir = temp.folder();
};

TEST(CoreHutl, Wildcards) {
    EXPECT_TRUE(CoreHutl::match("Take01.WAV", "*.wav"));
    EXPECT_TRUE(CoreHutl::match("Take01.WAV", "take??.wav"));
    EXPECT_FALSE(CoreHutl::match("Take01.WAV", "*.xml"));
    EXPECT_FALSE(CoreHutl::match("Take1.WAV", "take??.wav"));
    EXPECT_TRUE(CoreHutl::match("", "*"));
    EXPECT_FALSE(CoreHutl::match("", "?"));
    EXPECT_FALSE(CoreHutl::match("a", ""));
    EXPECT_TRUE(CoreHutl::match("", ""));
    EXPECT_TRUE(CoreHutl::match("axxbyyc", "a*b*c"));
    EXPECT_TRUE(CoreHutl::match("abxbc", "a*bc")); // needs backtracking
    EXPECT_TRUE(CoreHutl::match("aXbXbXc", "a*b?c"));
    EXPECT_FALSE(CoreHutl::match("abcb", "a*b*c"));
    EXPECT_TRUE(CoreHutl::match(".hidden", "*"));
    EXPECT_TRUE(CoreHutl::match("x.xml", "**.XML"));
    EXPECT_FALSE(CoreHutl::match("x.xmlz", "*.xml"));
}

TEST_F(HutlFolder, ListsFilesThenFolders) {
    touch("a.xml");
    touch("b.txt");
    touch("C.XML");
    fs::create_directory(dir + "SUB");
    fs::create_directory(dir + "other.xml");
    int count = -1;
    EXPECT_EQ(list(dir.c_str(), "*.XML", "*", count),
              (std::vector<std::string>{"C.XML", "a.xml", "SUB", "other.xml"}));
    EXPECT_EQ(count, 4);
    EXPECT_EQ(list(dir.c_str(), "*.XML", "0", count), (std::vector<std::string>{"C.XML", "a.xml"}));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(list(dir.c_str(), "*.wav", "S*", count), (std::vector<std::string>{"SUB"}));
    EXPECT_EQ(list(dir.c_str(), "*.wav", "0", count), (std::vector<std::string>{""}));
    EXPECT_EQ(count, 0);
}

TEST_F(HutlFolder, HiddenEntriesAndLinks) {
    touch(".hidden");
    fs::create_directory(dir + "real");
    fs::create_directory_symlink(dir + "real", dir + "link");
    int count = 0;
    // One level only, no descent; a link is not walked into as a folder.
    touch("real/inner.txt");
    EXPECT_EQ(list(dir.c_str(), "*", "*", count),
              (std::vector<std::string>{".hidden", "link", "real"}));
}

TEST_F(HutlFolder, MissingFolderGivesOneEmptyName) {
    int count = 7;
    EXPECT_EQ(list((dir + "absent/").c_str(), "*", "*", count), (std::vector<std::string>{""}));
    EXPECT_EQ(count, 0);
    CoreAnsx* none = nullptr; // a null old array is fine too
    CoreHutl::readr((dir + "absent/").c_str(), "*", &none, count, "*");
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none[0].c_str(), "");
    delete[] none;
}

TEST_F(HutlFolder, FolderNameIsFoundRegardlessOfCase) {
    fs::create_directory(dir + "Bank");
    touch("Bank/p.xml");
    int count = 0;
    EXPECT_EQ(list((dir + "BANK/").c_str(), "*", "0", count), (std::vector<std::string>{"p.xml"}));
}

TEST_F(HutlFolder, ModificationTime) {
    touch("t.txt");
    struct timespec times[2] = {{1000000000, 250000000}, {1234567890, 500000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir + "t.txt").c_str(), times, 0), 0);
    EXPECT_DOUBLE_EQ(CoreHutl::getst((dir + "t.txt").c_str()), 1234567890.5);
    EXPECT_EQ(CoreHutl::getst((dir + "nothing.txt").c_str()), 0.0);
    double a = CoreHutl::cpucd();
    double b = CoreHutl::cpucd();
    EXPECT_LE(a, b);
}

TEST(CoreHutl, BundleRule) {
    EXPECT_EQ(PlatBundle::bundlePath("/opt/p/Verb.vst/Contents/x86_64-linux/Verb.so"),
              "/opt/p/Verb.vst");
    EXPECT_EQ(PlatBundle::bundlePath("/opt/p/Verb.VST/Contents/arch/Verb.so"), "/opt/p/Verb.VST");
    EXPECT_EQ(PlatBundle::bundlePath("/opt/p/Verb.so"), "/opt/p/Verb.so");
    EXPECT_EQ(PlatBundle::bundlePath("/opt/p/Verb.vst/Other/arch/Verb.so"),
              "/opt/p/Verb.vst/Other/arch/Verb.so");
    EXPECT_EQ(PlatBundle::bundlePath("Contents/a/b.so"), "Contents/a/b.so");
    EXPECT_EQ(PlatBundle::bundlePath(""), "");
    EXPECT_EQ(PlatBundle::imagePath(nullptr), "");
}

#ifdef BUNDLE_PROBE_PATH
using ProbeFn = int (*)(char*, int, char*, int);

// Loads a copy of the probe object from path and asks it where it lives.
void askProbe(std::string const& path, std::string& name, std::string& folder) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto probe = reinterpret_cast<ProbeFn>(::dlsym(handle, "bundleProbe"));
    ASSERT_NE(probe, nullptr);
    char n[4096], f[4096];
    ASSERT_EQ(probe(n, sizeof n, f, sizeof f), 1);
    name = n;
    folder = f;
    ::dlclose(handle);
}

TEST_F(HutlFolder, OwnLocationFromInsideALoadedObject) {
    std::string real = fs::canonical(dir).string() + "/";
    fs::copy_file(BUNDLE_PROBE_PATH, real + "Plain.so");
    std::string name, folder;
    askProbe(real + "Plain.so", name, folder);
    EXPECT_EQ(name, "Plain.so");
    EXPECT_EQ(folder, real);

    std::string inner = real + "Verb.vst/Contents/x86_64-linux/";
    fs::create_directories(inner);
    fs::copy_file(BUNDLE_PROBE_PATH, inner + "Verb.so");
    askProbe(inner + "Verb.so", name, folder);
    EXPECT_EQ(name, "Verb.vst");
    EXPECT_EQ(folder, real);

    // The test program itself is not the bundle the object reports.
    CoreAnsx here;
    EXPECT_STRNE(CoreHutl::appnm(nullptr, here).c_str(), "Verb.vst");
}
#endif

} // namespace
