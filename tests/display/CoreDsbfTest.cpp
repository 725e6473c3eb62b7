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
    EXPECT_EQ(screen.getfn(4), nullptr);
    EXPECT_EQ(screen.getfn(-1), nullptr);
    short const sizes[4][4] = {{58, 14, 49, 3}, {58, 14, 49, 3}, {29, 7, 24, 1}, {58, 14, 49, 3}};
    for (short f = 0; f < 4; ++f)
        EXPECT_EQ((std::vector<short>{screen.getdx(f), screen.getdy(f), screen.getax(f),
                                      screen.getay(f)}),
                  (std::vector<short>(sizes[f], sizes[f] + 4)));
}

// The one cell at a grid position, found through the font that owns it.
CoreDsch* cellAt(CoreDsbf& screen, int column, int row) {
    for (short f : {0, 1, 3})
        if (CoreDsch* cell = screen.read_(f, short(column), short(row))) return cell;
    if (column % 2 == 0 && row % 2 == 0) return screen.read_(2, short(column / 2), short(row / 2));
    return nullptr;
}

TEST(CoreDsbf, ReadsInTheFontsOwnUnits) {
    CoreDsbf screen(nullptr, cols, rows, xcols, xrows);
    for (int r = 0; r < rows + xrows; ++r)
        for (int c = 0; c < cols; ++c) {
            EXPECT_DOUBLE_EQ(screen.readr(3, short(c), short(r)), 0.5);
            for (short f : {0, 1, 2}) ASSERT_EQ(screen.readr(f, short(c), short(r)), -1.0);
        }
    screen.write(CoreAnsx("AB"), 5, 3, 2, false, false);
    EXPECT_EQ(cellAt(screen, 6, 6)->getch(), 'A');
    EXPECT_EQ(cellAt(screen, 8, 6)->getch(), 'B');
    EXPECT_EQ(cellAt(screen, 7, 6)->getfn(), 3); // the glyph's other cells keep their font
    EXPECT_DOUBLE_EQ(screen.readr(2, 3, 3), screen.getfn(2)->getrw('A'));

    screen.write(CoreAnsx("x$=["), 0, 0, 0, false, false);
    for (short f : {1, 2, 3}) EXPECT_EQ(screen.readr(f, 0, 0), -1.0);
    for (short c = 1; c <= 3; ++c) EXPECT_DOUBLE_EQ(screen.readr(0, c, 0), 0.5 / 108);
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
        bool on = blink.getvl();
        EXPECT_EQ(on, int(seconds) % 2 == 0);
        EXPECT_DOUBLE_EQ(screen.readr(0, 0, 0), on ? (26 + 0.5) / 108 : 0.5 / 108);
        EXPECT_EQ(screen.read_(0, 1, 0)->getvl(), on ? 'z' : ' ');
        EXPECT_EQ(screen.read_(0, 1, 0)->getch(), 'z');
        EXPECT_EQ(screen.read_(0, 0, 1)->getvl(), 'Q');
    }
}

// One run of cells in a row of the expected screen.
struct CellRun {
    int row, column;
    char const* characters;
    char const* fonts; // one digit per character
};

TEST(CoreDsbf, ScriptedWritesLeaveTheExpectedScreen) {
    CoreDsbf screen(nullptr, cols, rows, xcols, xrows);
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
    screen.setxy(30, 7);
    screen.carrt(1);
    screen.print(CoreAnsx("r"), 0, false, false);
    screen.clear(0, 3, 3, 0, 4);
    screen.clear(0, 3, 3, 4, 0); // neither moves the cursor
    screen.print(CoreAnsx("z"), 0, false, false);
    screen.clear(3, 56, 4, 5, 1);
    screen.clear(0, 11, 2, 1, 1);

    CellRun const expected[] = {
        {0, 0, "TOP", "111"},      {2, 10, "W QZ", "0020"}, {4, 55, "A", "1"},
        {5, 0, "DEF", "111"},      {6, 56, "LM", "00"},     {8, 0, "rz", "00"},
        {10, 0, "KNDT", "2000"},   {12, 0, "c", "1"},       {14, 2, "E", "2"},
        {15, 0, "EXTRA", "00000"},
    };
    std::vector<std::string> characters(rows + xrows, std::string(cols, ' '));
    std::vector<std::string> fonts(rows + xrows, std::string(cols, '3'));
    for (CellRun const& run : expected)
        for (size_t i = 0; run.characters[i] != 0; ++i) {
            characters[size_t(run.row)][size_t(run.column) + i] = run.characters[i];
            fonts[size_t(run.row)][size_t(run.column) + i] = run.fonts[i];
        }
    for (int r = 0; r < rows + xrows; ++r)
        for (int c = 0; c < cols; ++c) {
            CoreDsch* cell = cellAt(screen, c, r);
            ASSERT_NE(cell, nullptr) << c << "," << r;
            EXPECT_EQ(cell->getch(), characters[size_t(r)][size_t(c)]) << c << "," << r;
            EXPECT_EQ(cell->getfn(), fonts[size_t(r)][size_t(c)] - '0') << c << "," << r;
            EXPECT_EQ(cell->getbl(), c == 0 && r == 12) << c << "," << r;
        }
}

TEST(CoreDsbf, SelectFindsTheRunAroundAColumn) {
    CoreDsbf screen(nullptr, cols, rows, xcols, xrows);
    screen.write(CoreAnsx("ABC"), 0, 1, 0, false, false);
    screen.write(CoreAnsx("DEF"), 5, 1, 0, false, false);
    screen.write(CoreAnsx("GH"), 8, 1, 1, false, false);
    screen.write(CoreAnsx("IJK"), 55, 1, 0, false, false);
    struct Case {
        short column, from, to;
    } const cases[] = {
        {1, 0, 2},
        {0, 0, 2},
        {5, 5, 7},
        {6, 5, 7},
        {7, 5, 7},
        {56, 55, 57},
        {4, -1, -1},
        {8, -1, -1},
        {3, -1, -1}, // no cell of the font under the
                     // column
        {-1, -1, -1},
        {58, -1, -1},
        {200, -1, -1},
    };
    for (Case const& c : cases) {
        short from = 99, to = 99;
        screen.selct(0, c.column, 1, from, to);
        EXPECT_EQ(from, c.from) << c.column;
        EXPECT_EQ(to, c.to) << c.column;
    }
}

TEST(CoreDsbf, PositionsOffTheTableTouchNothing) {
    // Extra columns above the width are cut to it.
    CoreDsbf screen(nullptr, cols, rows, 70, xrows);
    EXPECT_EQ(screen.getax(0), cols);
    screen.write(CoreAnsx("ref"), 20, 16, 0, true, false);
    auto snapshot = [&] {
        std::vector<std::string> cells;
        for (int r = 0; r < rows + xrows; ++r)
            for (int c = 0; c < cols; ++c) {
                CoreDsch* cell = cellAt(screen, c, r);
                cells.push_back(std::string{cell->getch(), char('0' + cell->getfn()),
                                            char('0' + cell->getbl())});
            }
        return cells;
    };
    auto before = snapshot();
    testing::internal::CaptureStdout();
    struct Place {
        short column, row, font;
    } const places[] = {{-1, 0, 0}, {-30000, -30000, 1}, {58, 0, 0},       {100, 3, 1},
                        {0, 17, 0}, {3, 9, 2},           {58, 0, 2},       {60, 15, 0},
                        {0, 0, 7},  {0, 0, -1},          {32767, 32767, 0}};
    for (Place const& p : places) {
        screen.write(CoreAnsx("#"), p.column, p.row, p.font, true, false);
        screen.clear(p.font, p.column, p.row, 1, 1);
        EXPECT_EQ(screen.read_(p.font, p.column, p.row), nullptr);
        EXPECT_EQ(screen.readr(p.font, p.column, p.row), -1.0);
        short from = 0, to = 0;
        screen.selct(p.font, p.column, p.row, from, to);
        EXPECT_EQ(from, -1);
        EXPECT_EQ(to, -1);
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
    auto after = snapshot();
    // Only the cells the wrapping write reached on the last row changed.
    for (int i = 0; i < 16 * cols + 50; ++i) EXPECT_EQ(after[size_t(i)], before[size_t(i)]) << i;
    EXPECT_EQ(after[size_t(16 * cols + 50)], "#00");
}
} // namespace
