// Number lists: the exact text written, reading back through the item store
// (values, count, line ends of either kind, junk), a list read twice not
// doubling, and writing refused where the folder is missing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreRcsv.h"
#include "tests/support/FileBytes.h"
#include "tests/support/StoreFolder.h"

namespace fs = std::filesystem;

namespace {

class CoreRcsvTest : public StoreFolder {
protected:
    std::vector<double> read(std::string const& name) {
        CoreRcsv list(&pool, store);
        EXPECT_TRUE(list.open_(name.c_str()));
        long n = list.getdr();
        std::vector<double> v(size_t(n) + 1, 99.0);
        EXPECT_EQ(list.getdt(v.data(), false), n);
        EXPECT_EQ(v[size_t(n)], 99.0) << "no value past the count";
        v.resize(size_t(n));
        return v;
    }
};

TEST_F(CoreRcsvTest, WritesTheExactTextAndReadsItBack) {
    CoreRcsv list(&pool, store);
    double values[2] = {0.5, -2};
    EXPECT_STREQ(list.crtcn(values, 2).c_str(), "0.5000000000000000;\n-2.0000000000000000;\n");
    EXPECT_STREQ(list.crtcn(values, 0).c_str(), "");

    ASSERT_TRUE(list.wfile("HALF.CSV", values, 2));
    EXPECT_EQ(readBytes(dir + "/HALF.CSV"), "0.5000000000000000;\n-2.0000000000000000;\n");
    EXPECT_EQ(read("HALF.CSV"), (std::vector<double>{0.5, -2.0}));

    // Sixteen decimals keep a value to within half a unit of the last one.
    std::vector<double> many;
    for (int k = 0; k < 200; ++k) many.push_back(std::sin(k * 0.37) * 0.9);
    ASSERT_TRUE(list.wfile("MANY.CSV", many.data(), long(many.size())));
    std::vector<double> back = read("MANY.CSV");
    ASSERT_EQ(back.size(), many.size());
    for (size_t k = 0; k < many.size(); ++k) EXPECT_NEAR(back[k], many[k], 0.6e-16);
}

TEST_F(CoreRcsvTest, ParsingRules) {
    // A last value without ";" is not counted; CR LF, blanks and junk.
    put("A.CSV", "1.5;\r\n  -0.25 ;\n\n3\n;junk;4");
    EXPECT_EQ(read("A.CSV"), (std::vector<double>{1.5, -0.25, 3.0, 0.0}));
    // Values no sample can hold read as 0; subnormals as +0.0.
    put("B.CSV", "nan;inf;1e400;4.9e-324;-4.9e-324;");
    std::vector<double> b = read("B.CSV");
    ASSERT_EQ(b.size(), 5u);
    for (double v : b) {
        EXPECT_EQ(v, 0.0);
        EXPECT_FALSE(std::signbit(v));
    }
    put("EMPTY.CSV", "");
    EXPECT_TRUE(read("EMPTY.CSV").empty());
    put("NONE.CSV", "12345");
    EXPECT_TRUE(read("NONE.CSV").empty());
}

TEST_F(CoreRcsvTest, ReadingTwiceDoesNotDoubleAndClosedListsAreEmpty) {
    put("T.CSV", "1;2;3;");
    CoreRcsv list(&pool, store);
    double out[8];
    EXPECT_EQ(list.getdr(), 0) << "not open";
    EXPECT_EQ(list.getdt(out, false), 0);
    ASSERT_TRUE(list.open_("T.CSV"));
    EXPECT_EQ(list.getdr(), 3);
    EXPECT_EQ(list.getdr(), 3);
    EXPECT_EQ(list.getdt(nullptr, true), 3);
    EXPECT_EQ(list.getdt(out, false), 3);
    EXPECT_EQ(out[2], 3.0);
    list.close();
    EXPECT_EQ(list.getdt(out, false), 0);

    // Reopening on another list drops the first one's text.
    put("U.CSV", "7;");
    ASSERT_TRUE(list.open_("U.CSV"));
    EXPECT_EQ(list.getdt(out, true), 0);
    EXPECT_EQ(list.getdr(), 1);
    EXPECT_FALSE(list.open_("MISSING.CSV"));
    EXPECT_EQ(list.getdr(), 0);
    // Refused by its size, a list that is there is not open either.
    put("HUGE.CSV", "1;");
    fs::resize_file(dir + "/HUGE.CSV", CoreButl::iCwholebytes + 1);
    EXPECT_FALSE(list.open_("HUGE.CSV"));
    EXPECT_EQ(list.getdr(), 0);
}

TEST_F(CoreRcsvTest, NothingIsWrittenWhereTheFolderIsMissing) {
    CoreRcsv list(&pool, store);
    double v[1] = {1.0};
    EXPECT_FALSE(list.wfile("NOFOLDER/X.CSV", v, 1));
    EXPECT_FALSE(fs::exists(dir + "/NOFOLDER"));
    fs::create_directory(dir + "/SUB");
    EXPECT_TRUE(list.wfile("SUB/X.CSV", v, 1));
    EXPECT_TRUE(fs::exists(dir + "/SUB/X.CSV"));
}

} // namespace
