// The appending archive writer: blocks handed one call at a time come back as
// the items of one archive, each with its own bytes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreHdco.h"
#include "tests/support/FsysItems.h"
#include "tests/support/TempDir.h"

TEST(CoreHdco, BlocksBecomeItemsOfOneArchive) {
    TempDir temp;
    std::string folder = temp.folder();
    std::string path = folder + "Measured.v2k";
    std::string first(1000, '\0'), second = "second block", third(3, '\xFF');
    for (std::size_t i = 0; i < first.size(); ++i) first[i] = char(i);
    {
        CoreHdco writer(CoreAnsx(path.c_str()), false);
        EXPECT_TRUE(writer.addit("seg 1.wav", long(first.size()), first.data()));
        EXPECT_TRUE(writer.addit("SEG 2.WAV", long(second.size()), second.data()));
        EXPECT_TRUE(writer.addit("seg 12.wav", long(third.size()), third.data()));
        EXPECT_FALSE(writer.addit("NULL.WAV", 5, nullptr)); // no block: nothing written
    }
    CorePool pool;
    CoreFsys fs(&pool);
    ASSERT_TRUE(fs.loada(CoreAnsx(path.c_str()), CoreAnsx(0), false, nullptr));
    EXPECT_EQ(fs.llvcn(), 3);
    EXPECT_EQ(heldItem(fs, fs.getit("SEG 1.WAV")), first);
    EXPECT_EQ(heldItem(fs, fs.getit("SEG 2.WAV")), second);
    EXPECT_EQ(heldItem(fs, fs.getit("SEG 12.WAV")), third);
}

TEST(CoreHdco, AFailedFirstWriteIsRetriedByTheNextCall) {
    TempDir temp;
    std::string folder = temp.folder();
    std::string path = folder + "later/k.v2k";
    CoreHdco writer(CoreAnsx(path.c_str()), true);
    EXPECT_FALSE(writer.addit("A.WAV", 1, "a")); // the folder does not exist yet
    ASSERT_EQ(system(("mkdir '" + folder + "later'").c_str()), 0);
    EXPECT_TRUE(writer.addit("B.WAV", 1, "b"));
    EXPECT_TRUE(writer.addit("C.WAV", 1, "c"));
    CorePool pool;
    CoreFsys fs(&pool);
    ASSERT_TRUE(fs.loada(CoreAnsx(path.c_str()), CoreAnsx(0), false, nullptr));
    EXPECT_EQ(fs.llvcn(), 2);
    EXPECT_EQ(heldItem(fs, fs.getit("B.WAV")), "b");
    EXPECT_EQ(heldItem(fs, fs.getit("C.WAV")), "c");
}
