// The category dictionary: translation by section, pass-through of unknown
// words and of everything when the file is missing or unusable.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "storage/CoreDcry.h"

namespace {

std::string str(CoreAnsx const& t) { return t.c_str(); }

class DictionaryFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/dcrytestXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override
    {
        for (auto const& f : made)
            std::remove(f.c_str());
        rmdir(dir.c_str());
    }
    std::string write(char const* name, std::string const& bytes)
    {
        std::string const path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        made.push_back(path);
        return path;
    }
    std::string dir;
    std::vector<std::string> made;
};

} // namespace

TEST_F(DictionaryFiles, TranslatesByLowerCaseWord)
{
    std::string const path = write("d.xml",
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<DICTIONARY>\n  <CATEGORY>\n"
        "    <DRUMS> Schlagzeug </DRUMS>\n    <ZERO>0</ZERO>\n  </CATEGORY>\n"
        "  <OTHER><DRUMS> elsewhere </DRUMS></OTHER>\n</DICTIONARY>\n\n");
    CoreDcry dictionary(path.c_str());
    EXPECT_EQ(str(dictionary.getvl("CATEGORY", "drums")), "Schlagzeug");
    EXPECT_EQ(str(dictionary.getvl("category", " Drums ")), "Schlagzeug");
    EXPECT_EQ(str(dictionary.getvl("OTHER", "DRUMS")), "elsewhere");
    EXPECT_EQ(str(dictionary.getvl("CATEGORY", "Bass")), "Bass"); // own case kept
    EXPECT_EQ(str(dictionary.getvl("CATEGORY", "zero")), "zero"); // "0" counts as missing
    EXPECT_EQ(str(dictionary.getvl("NOSECTION", "drums")), "drums");
}

TEST_F(DictionaryFiles, MissingOrEmptyDictionaryPassesEverythingThrough)
{
    CoreDcry missing((dir + "/absent.xml").c_str());
    EXPECT_EQ(str(missing.getvl("CATEGORY", "drums")), "drums");

    CoreDcry noDictionary(write("n.xml", "<OTHER><CATEGORY><DRUMS> x </DRUMS></CATEGORY></OTHER>").c_str());
    EXPECT_EQ(str(noDictionary.getvl("CATEGORY", "drums")), "drums");

    CoreDcry zero(write("z.xml", "<DICTIONARY>0</DICTIONARY>").c_str());
    EXPECT_EQ(str(zero.getvl("CATEGORY", "drums")), "drums");
}

TEST_F(DictionaryFiles, MalformedFileThrows)
{
    std::string const path = write("bad.xml", "</DICTIONARY><CATEGORY>");
    EXPECT_THROW(CoreDcry bad(path.c_str()), CoreAnsx);
}
