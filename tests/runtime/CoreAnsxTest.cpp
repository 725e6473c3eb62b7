#include "runtime/CoreAnsx.h"
#include "runtime/CoreVutl.h"
#include "tests/support/CommaLocale.h"

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <unistd.h>

namespace {

std::string fixedText(double value, int digits) {
    // Independent of printf and of the locale.
    char text[2048];
    auto result = std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, digits);
    return std::string(text, result.ptr);
}

} // namespace

TEST(CoreAnsx, UnassignedAndEmptyDiffer) {
    CoreAnsx never;
    EXPECT_EQ(never.Length(), -1);
    EXPECT_STREQ(never.c_str(), "");
    CoreAnsx empty("");
    EXPECT_EQ(empty.Length(), 0);
    EXPECT_STREQ(empty.c_str(), "");
    never = empty;
    EXPECT_EQ(never.Length(), 0);
    CoreAnsx fromNull(static_cast<char const*>(nullptr));
    EXPECT_EQ(fromNull.Length(), 0);
    // A copy (or move) of an unassigned string is "", not unassigned.
    CoreAnsx unassigned;
    CoreAnsx copy(unassigned);
    EXPECT_EQ(copy.Length(), 0);
    CoreAnsx moved(std::move(unassigned));
    EXPECT_EQ(moved.Length(), 0);
    EXPECT_EQ(CoreAnsx('\0').Length(), 0);
    EXPECT_STREQ(CoreAnsx('x').c_str(), "x");
}

TEST(CoreAnsx, CapacityIsStrictlyAboveLengthInStepsOfEight) {
    CoreAnsx eight;
    eight += CoreAnsx("abcdefgh");
    EXPECT_EQ(eight.Length(), 8);
    EXPECT_EQ(eight.capacity(), 16);
    CoreAnsx seven;
    seven += CoreAnsx("abcdefg");
    EXPECT_EQ(seven.Length(), 7);
    EXPECT_EQ(seven.capacity(), 16);
    CoreAnsx four("abcd");
    EXPECT_EQ(four.capacity(), 8);
    EXPECT_EQ(CoreAnsx::alloc(5), 8);
    EXPECT_EQ(CoreAnsx::alloc(8), 16);
    // The block never shrinks.
    eight = CoreAnsx("a");
    EXPECT_EQ(eight.capacity(), 16);
    EXPECT_STREQ(eight.c_str(), "a");
}

TEST(CoreAnsx, StartPositionAndLimit) {
    CoreAnsx s("hello");
    s.start("XY", 3, -1); // from character 3, the rest is cut
    EXPECT_STREQ(s.c_str(), "heXY");
    s.start("!", s.Length() + 1, -1); // the NUL's position appends
    EXPECT_STREQ(s.c_str(), "heXY!");
    s.start("abcdef", 0, 4); // a limit of k keeps k - 1 characters
    EXPECT_STREQ(s.c_str(), "abc");
    EXPECT_EQ(s.Length(), 3);
    s.start("zzz", 0, 1);
    EXPECT_EQ(s.Length(), 0);
    s.start("abc", 0, 0); // a limit of 0 keeps nothing and writes no byte before the block
    EXPECT_EQ(s.Length(), 0);
    s.start("abc", 0, -1);
    s.start("+", 99, -1); // past the end appends instead of leaving a gap
    EXPECT_STREQ(s.c_str(), "abc+");
    CoreAnsx blank;
    blank.start("q", 5, -1);
    EXPECT_STREQ(blank.c_str(), "q");
}

TEST(CoreAnsx, StartFromOwnTextSurvivesGrowth) {
    CoreAnsx s("0123456");
    s += s; // grows past 8 while reading itself
    EXPECT_STREQ(s.c_str(), "01234560123456");
    s.start(s.c_str() + 3, 0, -1);
    EXPECT_STREQ(s.c_str(), "34560123456");
    CoreAnsx t("abcdefg");
    t.start(t.c_str(), t.Length() + 1, -1);
    t.start(t.c_str(), t.Length() + 1, -1);
    EXPECT_STREQ(t.c_str(), "abcdefgabcdefgabcdefgabcdefg");
}

TEST(CoreAnsx, ConcatenationAndAssignment) {
    CoreAnsx a("ab");
    CoreAnsx b = a + CoreAnsx("cd");
    EXPECT_STREQ(b.c_str(), "abcd");
    EXPECT_STREQ(a.c_str(), "ab");
    CoreAnsx unassigned;
    unassigned += CoreAnsx("x");
    EXPECT_STREQ(unassigned.c_str(), "x");
    CoreAnsx& alias = b; // self-assignment through a reference keeps the text
    b = alias;
    EXPECT_STREQ(b.c_str(), "abcd");
    CoreAnsx c("long enough to have a block");
    c = std::move(a);
    EXPECT_STREQ(c.c_str(), "ab");
    EXPECT_STREQ((CoreAnsx("p") + '/').c_str(), "p/"); // a char is a character, not a number
}

TEST(CoreAnsx, SubStringPosTrim) {
    CoreAnsx hello("hello");
    EXPECT_STREQ(hello.SubString(0, 2).c_str(), "he");
    EXPECT_STREQ(hello.SubString(5, 3).c_str(), "o");
    EXPECT_EQ(hello.SubString(6, 1).Length(), 0);
    EXPECT_STREQ(hello.SubString(2, -1).c_str(), "ello");
    EXPECT_EQ(hello.SubString(2, 0).Length(), 0);
    EXPECT_EQ(hello.SubString(1, std::numeric_limits<int>::max()).Length(), 5);
    EXPECT_EQ(CoreAnsx().SubString(1, 3).Length(), 0);

    EXPECT_EQ(hello.Pos(CoreAnsx("lo")), 4);
    EXPECT_EQ(hello.Pos(CoreAnsx("x")), 0);
    EXPECT_EQ(hello.AnsiPos(CoreAnsx("h")), 1);
    EXPECT_EQ(hello.Pos(CoreAnsx("")), 1);
    EXPECT_EQ(hello.Pos(CoreAnsx("L")), 0);

    EXPECT_STREQ(CoreAnsx(" \t a b \r\n").Trim().c_str(), "a b");
    EXPECT_EQ(CoreAnsx("   ").Trim().Length(), 0);
    EXPECT_STREQ(CoreAnsx("\v\fx").Trim().c_str(), "x");
    EXPECT_EQ(CoreAnsx().Trim().Length(), 0);
}

TEST(CoreAnsx, CaseAndComparisonsAreBytewise) {
    EXPECT_STREQ(CoreAnsx("aZ9\xe4").UpperCase().c_str(), "AZ9\xe4");
    EXPECT_STREQ(CoreAnsx("aZ9").LowerCase().c_str(), "az9");
    CoreAnsx a("abc"), b("abd"), none;
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(a <= b);
    EXPECT_TRUE(a <= CoreAnsx("abc"));
    EXPECT_TRUE(b > a);
    EXPECT_TRUE(b >= a);
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(a == CoreAnsx("abc"));
    EXPECT_TRUE(none == CoreAnsx(""));
    EXPECT_TRUE(CoreAnsx("B") < CoreAnsx("a"));
}

TEST(CoreAnsx, TextToNumbers) {
    EXPECT_EQ(CoreAnsx(" 42abc").ToInt(), 42);
    EXPECT_EQ(CoreAnsx("abc").ToInt(), 0);
    EXPECT_EQ(CoreAnsx("\t-17").ToInt(), -17);
    EXPECT_EQ(CoreAnsx("+8").ToInt(), 8);
    EXPECT_EQ(CoreAnsx("- 8").ToInt(), 0);
    EXPECT_EQ(CoreAnsx("99999999999999999999").ToInt(), std::numeric_limits<int>::max());
    EXPECT_EQ(CoreAnsx("-2147483648").ToInt(), std::numeric_limits<int>::min());
    EXPECT_EQ(CoreAnsx("-99999999999").ToInt(), std::numeric_limits<int>::min());
    EXPECT_DOUBLE_EQ(CoreAnsx("1.5e3x").ToDouble(), 1500.0);
    EXPECT_DOUBLE_EQ(CoreAnsx("abc").ToDouble(), 0.0);
    EXPECT_DOUBLE_EQ(CoreAnsx("  -0.25").ToDouble(), -0.25);
    EXPECT_DOUBLE_EQ(CoreAnsx().ToDouble(), 0.0);
}

TEST(CoreAnsx, NumbersToText) {
    EXPECT_STREQ(CoreAnsx(0).c_str(), "0");
    EXPECT_STREQ(CoreAnsx(-3).c_str(), "-3");
    EXPECT_EQ(std::string(CoreAnsx(std::numeric_limits<int>::min()).c_str()),
              std::to_string(std::numeric_limits<int>::min()));
    EXPECT_EQ(std::string(CoreAnsx(std::numeric_limits<long>::min()).c_str()),
              std::to_string(std::numeric_limits<long>::min()));
    EXPECT_EQ(std::string(CoreAnsx(std::numeric_limits<unsigned long>::max()).c_str()),
              std::to_string(std::numeric_limits<unsigned long>::max()));
    EXPECT_STREQ(CoreAnsx(0.5).c_str(), "0.5");
    EXPECT_STREQ(CoreAnsx(1000000.0).c_str(), "1E+06");
    EXPECT_STREQ(CoreAnsx(999999.0).c_str(), "999999");
    EXPECT_STREQ(CoreAnsx(0.00001).c_str(), "1E-05");
    EXPECT_STREQ(CoreAnsx(0.0001).c_str(), "0.0001");
    EXPECT_STREQ(CoreAnsx(-1e300).c_str(), "-1E+300");
    EXPECT_STREQ(CoreAnsx(HUGE_VAL).c_str(), "INF");
    EXPECT_STREQ(CoreAnsx(std::nan("")).c_str(), "NAN");

    EXPECT_STREQ(CoreAnsx::_FloatToStrF(2.5, 0, 15, 3).c_str(), "2.500");
    EXPECT_STREQ(CoreAnsx::_FloatToStrF(3.14159, 0, 15, 2).c_str(), "3.14");
    EXPECT_STREQ(CoreAnsx::_FloatToStrF(3.14159, 7, 1, 0).c_str(), "3");
    EXPECT_STREQ(CoreAnsx::_FloatToStrF(3.14159, 0, 15, -4).c_str(), "3");
}

TEST(CoreAnsx, LongFormattedResultsDoNotOverflow) {
    // "%.16f" of 1e300 is over 300 characters.
    CoreAnsx huge;
    huge.sprintf("%.16f", 1e300);
    EXPECT_EQ(std::string(huge.c_str()), fixedText(1e300, 16));
    EXPECT_GT(huge.Length(), 300);
    EXPECT_EQ(huge.Length(), static_cast<int>(std::string(huge.c_str()).size()));

    CoreAnsx wide;
    wide.sprintf("%400.2f", 1.0);
    EXPECT_EQ(wide.Length(), 400);
    EXPECT_STREQ(wide.c_str() + 396, "1.00");

    CoreAnsx fixed = CoreAnsx::_FloatToStrF(-1.7976931348623157e308, 0, 0, 16);
    EXPECT_EQ(std::string(fixed.c_str()), fixedText(-1.7976931348623157e308, 16));
    CoreAnsx tiny = CoreAnsx::_FloatToStrF(5e-324, 0, 0, 1074);
    EXPECT_EQ(std::string(tiny.c_str()), fixedText(5e-324, 1074));
}

TEST(CoreAnsx, NumberTextIgnoresTheProcessLocale) {
    // The host may set a locale whose decimal point is ",".
    CommaLocale const comma = commaLocale();
    if (!comma.why.empty()) GTEST_SKIP() << comma.why;
    EXPECT_DOUBLE_EQ(CoreAnsx("1.5").ToDouble(), 1.5);
    EXPECT_STREQ(CoreAnsx(0.5).c_str(), "0.5");
    EXPECT_STREQ(CoreAnsx::_FloatToStrF(2.5, 0, 0, 3).c_str(), "2.500");
    CoreAnsx formatted;
    formatted.sprintf("%.2f", 0.25);
    EXPECT_STREQ(formatted.c_str(), "0.25");
    CoreAnsx longOne;
    longOne.sprintf("%.16f", 1e300);
    EXPECT_EQ(std::string(longOne.c_str()), fixedText(1e300, 16));
}

TEST(CoreAnsx, FailedGrowthThrowsAndKeepsTheText) {
    CoreAnsx s("short");
    CoreAnsx const tail(" and now much longer than the block");
    int const wanted = CoreAnsx::alloc(s.Length() + tail.Length() + 1);
    CoreVutl::failNextReallocs(10); // every attempt of one reallocation
    try {
        s += tail;
        FAIL() << "no exception";
    } catch (CoreAnsx const& report) {
        EXPECT_EQ(std::string(report.c_str()), "Memory request failed " + std::to_string(wanted));
    }
    CoreVutl::failNextReallocs(0);
    EXPECT_STREQ(s.c_str(), "short");
    s += CoreAnsx("!");
    EXPECT_STREQ(s.c_str(), "short!");
}
