// The category dictionary: translation by section, pass-through of unknown
// words and of everything when the file is missing or unusable.

#include <gtest/gtest.h>

#include <string>

#include "storage/CoreDcry.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace {

std::string str(CoreAnsx const& t) { return t.c_str(); }

class DictionaryFiles : public ::testing::Test {
protected:
    std::string write(char const* name, std::string const& bytes) {
        std::string const path = dir + "/" + name;
        writeBytes(path, bytes);
        return path;
    }
    TempDir temp;
    std::string const dir = temp.path();
};

} // namespace

TEST_F(DictionaryFiles, TranslatesByLowerCaseWord) {
    std::string const path = write(
        "d.xml", "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<DICTIONARY>\n  <CATEGORY>\n"
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

TEST_F(DictionaryFiles, MissingOrEmptyDictionaryPassesEverythingThrough) {
    CoreDcry missing((dir + "/absent.xml").c_str());
    EXPECT_EQ(str(missing.getvl("CATEGORY", "drums")), "drums");

    CoreDcry noDictionary(
        write("n.xml", "<OTHER><CATEGORY><DRUMS> x </DRUMS></CATEGORY></OTHER>").c_str());
    EXPECT_EQ(str(noDictionary.getvl("CATEGORY", "drums")), "drums");

    CoreDcry zero(write("z.xml", "<DICTIONARY>0</DICTIONARY>").c_str());
    EXPECT_EQ(str(zero.getvl("CATEGORY", "drums")), "drums");
}

TEST_F(DictionaryFiles, MalformedFileThrows) {
    std::string const path = write("bad.xml", "</DICTIONARY><CATEGORY>");
    EXPECT_THROW(CoreDcry bad(path.c_str()), CoreAnsx);
}
