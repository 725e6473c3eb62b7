// The display's screen memory: glyph maps, writing through the cursor,
// scrolling, reading back for the snapshot, and positions off the table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "display/CoreDsbf.h"
#include "runtime/CoreBlnk.h"

namespace {
constexpr short cols = 58, rows = 14, xcols = 49, xrows = 3;

// Glyph of a byte in a font, from the character ranges of the map.
int expectedGlyph(int byte, int font) {
    if (font == 3) return 0;
    char const* runs = "*+-:.<>;|^/";
    char const* marks = "\"_'!#,`&?@%";
    if (byte >= 'A' && byte <= 'Z') return 1 + byte - 'A';
    if (byte >= 'a' && byte <= 'z') return 27 + byte - 'a';
    if (byte >= '1' && byte <= '9') return 53 + byte - '1';
    if (byte == '0') return 62;
    if (byte != 0 && std::strchr(runs, byte)) return 63 + int(std::strchr(runs, byte) - runs);
    if (byte == 0xA7) return 74;
    if (byte == '(' || byte == ')') return 75 + (byte == ')');
    if (byte != 0 && std::strchr(marks, byte)) return 77 + int(std::strchr(marks, byte) - marks);
    if (byte >= 20 && byte <= 25) return 88 + 25 - byte;
    if (byte >= 6 && byte <= 19 && font != 1) return 94 + byte - 6;
    return 0;
}

TEST(CoreDsbf, GlyphMapsFollowTheCharacterRanges) {
    CoreDsbf screen(nullptr, cols, rows, xcols, xrows);
    int const counts[] = {108, 94, 108, 1};
    for (short f = 0; f < 4; ++f) {
        CoreDsfn* font = screen.getfn(f);
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(font->getre(), counts[f]);
        for (int byte = 0; byte < 256; ++byte) {
            EXPECT_EQ(font->getrs(short(byte)), expectedGlyph(byte, f)) << f << " " << byte;
            EXPECT_DOUBLE_EQ(font->getrw(short(byte)), (expectedGlyph(byte, f) + 0.5) / counts[f]);
        }
    }
    screen.write(CoreAnsx("$=["), 0, 0, 0, false, false); // unmapped: glyph 0
    for (short c = 0; c < 3; ++c) EXPECT_DOUBLE_EQ(screen.readr(0, c, 0), 0.5 / 108);
    EXPECT_EQ(screen.getfn(4), nullptr);
    EXPECT_EQ(screen.getfn(-1), nullptr);
    for (short f = 0; f < 4; ++f)
        EXPECT_EQ(
            (std::vector<int>{screen.getdx(f), screen.getdy(f), screen.getax(f), screen.getay(f)}),
            f == 2 ? (std::vector<int>{29, 7, 24, 1}) : (std::vector<int>{58, 14, 49, 3}));
    CoreDsbf wide(nullptr, cols, rows, 70, xrows); // extra columns are cut to the width
    EXPECT_EQ(wide.getax(0), cols);
}

// The one cell at a grid position, found through the font that owns it.
CoreDsch* cellAt(CoreDsbf& screen, int column, int row) {
    for (short f : {0, 1, 3})
        if (CoreDsch* cell = screen.read_(f, short(column), short(row))) return cell;
    if (column % 2 == 0 && row % 2 == 0) return screen.read_(2, short(column / 2), short(row / 2));
    return nullptr;
}

// Every row as its cells that are not an empty blank: "column:character font",
// a "*" after a blinking one.
std::vector<std::string> dump(CoreDsbf& screen) {
    std::vector<std::string> shown(rows + xrows);
    for (int r = 0; r < rows + xrows; ++r)
        for (int c = 0; c < cols; ++c) {
            CoreDsch* cell = cellAt(screen, c, r);
            if (cell == nullptr)
                return {"no cell at " + std::to_string(c) + "," + std::to_string(r)};
            if (cell->getch() == ' ' && cell->getfn() == 3 && !cell->getbl()) continue;
            shown[size_t(r)] += std::to_string(c) + ":" + cell->getch() +
                                char('0' + cell->getfn()) + (cell->getbl() ? "* " : " ");
        }
    return shown;
}

double fakeDays = 0.0;
double fakeClock() { return fakeDays; }

TEST(CoreDsbf, BlinkingCellsShowTheBlankInTheOffPhase) {
    fakeDays = 0.0;
    CoreBlnk blink(&fakeClock);
    CoreDsbf screen(&blink, cols, rows, xcols, xrows);
    screen.write(CoreAnsx("Zz"), 0, 0, 0, true, false);
    screen.write(CoreAnsx("Q"), 0, 1, 0, false, false);
    for (double seconds : {0.5, 1.5, 2.5, 3.5}) {
        fakeDays = seconds / 86400.0;
        bool on = int(seconds) % 2 == 0;
        EXPECT_DOUBLE_EQ(screen.readr(0, 0, 0), on ? (26 + 0.5) / 108 : 0.5 / 108);
        EXPECT_EQ(screen.read_(0, 1, 0)->getvl(), on ? 'z' : ' ');
        EXPECT_EQ(screen.read_(0, 0, 1)->getvl(), 'Q');
    }
}

TEST(CoreDsbf, ScriptedWritesLeaveTheExpectedScreen) {
    CoreDsbf screen(nullptr, cols, rows, xcols, xrows);
    for (int r = 0; r < rows + xrows; ++r)
        for (short c = 0; c < cols; ++c) {
            ASSERT_DOUBLE_EQ(screen.readr(3, c, short(r)), 0.5);
            for (short f : {0, 1, 2}) ASSERT_EQ(screen.readr(f, c, short(r)), -1.0);
        }
    screen.write(CoreAnsx("EXTRA"), 0, 15, 0, false, false);
    screen.write(CoreAnsx("E"), 1, 7, 2, false, false);
    screen.write(CoreAnsx("TOP"), 0, 3, 1, false, false);
    screen.write(CoreAnsx("FOOT"), 0, 13, 0, false, false);
    screen.setxy(0, 13);
    screen.prnln(CoreAnsx("END"), 0, false); // scrolls once, cursor back to (0, 13)
    screen.setxy(0, 12);
    screen.prnln(CoreAnsx("K"), 2, false); // scrolls twice, cursor back to (0, 12)
    screen.print(CoreAnsx("c"), 1, true, false);
    screen.write(CoreAnsx("WXYZ"), 10, 2, 0, false, false);
    screen.write(CoreAnsx("Q"), 11, 1, 2, false, false);     // 2 x 2 over 1 x 1 text at (12, 2)
    screen.write(CoreAnsx("ABCDEF"), 55, 4, 1, false, true); // wraps to row 5
    screen.write(CoreAnsx("LMNOP"), 56, 6, 0, false, false); // no wrap: NOP dropped
    screen.write(CoreAnsx("AB"), 5, 3, 2, false, false);     // at (6, 6) and (8, 6)
    screen.setxy(30, 7);
    screen.carrt(1);
    screen.print(CoreAnsx("r"), 0, false, false);
    screen.clear(0, 3, 3, 0, 4);
    screen.clear(0, 3, 3, 4, 0); // neither moves the cursor
    screen.print(CoreAnsx("z"), 0, false, false);
    screen.clear(3, 56, 4, 5, 1);
    screen.clear(0, 11, 2, 1, 1);

    EXPECT_EQ(dump(screen),
              (std::vector<std::string>{"0:T1 1:O1 2:P1 ", "", "10:W0 11: 0 12:Q2 13:Z0 ", "",
                                        "55:A1 ", "0:D1 1:E1 2:F1 ", "6:A2 8:B2 56:L0 57:M0 ", "",
                                        "0:r0 1:z0 ", "", "0:K2 1:N0 2:D0 3:T0 ", "", "0:c1* ", "",
                                        "2:E2 ", "0:E0 1:X0 2:T0 3:R0 4:A0 ", ""}));
    EXPECT_DOUBLE_EQ(screen.readr(2, 3, 3), screen.getfn(2)->getrw('A'));
    for (short f : {1, 3}) EXPECT_EQ(screen.readr(f, 0, 8), -1.0); // the "r" of font 0
    EXPECT_EQ(screen.readr(2, 0, 4), -1.0);
}

TEST(CoreDsbf, SelectFindsTheRunAroundAColumn) {
    CoreDsbf screen(nullptr, cols, rows, xcols, xrows);
    screen.write(CoreAnsx("ABC"), 0, 1, 0, false, false);
    screen.write(CoreAnsx("DEF"), 5, 1, 0, false, false);
    screen.write(CoreAnsx("GH"), 8, 1, 1, false, false);
    screen.write(CoreAnsx("IJK"), 55, 1, 0, false, false);
    short const cases[][3] = {{1, 0, 2},   {0, 0, 2},    {5, 5, 7},    {6, 5, 7},
                              {7, 5, 7},   {56, 55, 57}, {4, -1, -1},  {8, -1, -1},
                              {3, -1, -1}, {-1, -1, -1}, {58, -1, -1}, {200, -1, -1}};
    for (auto const& c : cases) {
        short from = 99, to = 99;
        screen.selct(0, c[0], 1, from, to);
        EXPECT_EQ((std::vector<short>{from, to}), (std::vector<short>{c[1], c[2]})) << c[0];
    }
}

TEST(CoreDsbf, PositionsOffTheTableTouchNothing) {
    CoreDsbf screen(nullptr, cols, rows, 70, xrows);
    screen.write(CoreAnsx("ref"), 20, 16, 0, true, false);
    auto before = dump(screen);
    testing::internal::CaptureStdout();
    short const places[][3] = {{-1, 0, 0}, {-30000, -30000, 1}, {58, 0, 0},       {100, 3, 1},
                               {0, 17, 0}, {3, 9, 2},           {58, 0, 2},       {60, 15, 0},
                               {0, 0, 7},  {0, 0, -1},          {32767, 32767, 0}};
    for (auto const& p : places) { // column, row, font
        screen.write(CoreAnsx("#"), p[0], p[1], p[2], true, false);
        screen.clear(p[2], p[0], p[1], 1, 1);
        EXPECT_EQ(screen.read_(p[2], p[0], p[1]), nullptr);
        EXPECT_EQ(screen.readr(p[2], p[0], p[1]), -1.0);
        short from = 0, to = 0;
        screen.selct(p[2], p[0], p[1], from, to);
        EXPECT_EQ(from + to, -2);
    }
    // A wrapping write from the extra zone's last row runs below the table.
    screen.write(CoreAnsx(std::string(200, '#').c_str()), 50, 16, 0, false, true);
    screen.setxy(0, 16);
    screen.carrt(5); // below the table: no scroll, the characters drop
    screen.print(CoreAnsx("##"), 0, false, true);
    screen.setxy(57, 16);
    screen.print(CoreAnsx(std::string(70000, '#').c_str()), 0, false, false);
    screen.clear(0, 100, 0, 32767, 32767);
    screen.clear(0, -20000, 0, 19999, 32767);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    for (int c = 50; c < cols; ++c) before[16] += std::to_string(c) + ":#0 ";
    EXPECT_EQ(dump(screen), before);
}
} // namespace
