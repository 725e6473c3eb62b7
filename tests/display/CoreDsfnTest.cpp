// Fonts as strip positions and bar glyphs as segment runs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "display/CoreDsbr.h"
#include "display/CoreDsfn.h"

namespace {
TEST(CoreDsfn, StripPositionIsTheCentreOfTheGlyphSlot) {
    CoreDsfn font(1, 1);
    font.setrs(' ', 0);
    EXPECT_EQ(font.getre(), 1);
    EXPECT_DOUBLE_EQ(font.getrw(' '), 0.5); // blank only: step 1.0

    font.setrs('A', 10);
    font.setrs('B', 3); // a lower glyph later keeps the step of the highest
    EXPECT_EQ(font.getre(), 11);
    EXPECT_DOUBLE_EQ(font.getrw('A'), 10.5 / 11);
    EXPECT_DOUBLE_EQ(font.getrw('B'), 3.5 / 11);
    EXPECT_DOUBLE_EQ(font.getrw('$'), 0.5 / 11); // never stored: glyph 0

    // Codes are unsigned bytes: a signed char and its byte value are one entry.
    font.setrs(short(char(0xA7)), 7);
    EXPECT_EQ(font.getrs(0xA7), 7);
    EXPECT_EQ(font.getrs(0xA7 + 256), 7);
}

// Segments a bar text shows: 6 per full cell, 26 - code for the partial one.
int segmentsShown(CoreAnsx const& text) {
    int sum = 0;
    for (char const* c = text.c_str(); *c != 0; ++c) sum += *c == 20 ? 6 : 26 - *c;
    return sum;
}

TEST(CoreDsbr, LevelsBecomeFullCellsAndOnePartialCell) {
    CoreDsbr bar0(6, 6, 20), bar1(4, 6, 20);
    struct Case {
        CoreDsbr const& bar;
        double level;
        std::string text;
    } const cases[] = {
        {bar0, 0.5, "\x14\x14\x14"},
        {bar1, 0.1, "\x18"},
        {bar0, 35.0 / 36.0, "\x14\x14\x14\x14\x14\x15"},
        {bar0, -0.3, ""},
        {bar0, 1.7, "\x14\x14\x14\x14\x14\x14"},
        {bar1, 1.0, "\x14\x14\x14\x14"},
        {bar0, std::nan(""), ""},
    };
    for (auto const& c : cases) EXPECT_EQ(c.bar.getvl(c.level).c_str(), c.text) << c.level;
    EXPECT_EQ(bar1.getch(), 4);

    for (CoreDsbr const* bar : {&bar0, &bar1}) {
        int total = bar->getch() * 6;
        for (int n = 0; n <= total; ++n)
            EXPECT_EQ(segmentsShown(bar->getvl(double(n) / total)), n) << n << "/" << total;
    }
    // A bar without segments has nothing to show (and divides by nothing).
    EXPECT_STREQ(CoreDsbr(6, 0, 20).getvl(0.5).c_str(), "");
    EXPECT_STREQ(CoreDsbr(-2, 6, 20).getvl(0.5).c_str(), "");
}
} // namespace
