#include "display/CoreDsbf.h"

#include <algorithm>
#include <climits>
#include <new>

namespace {
short nonNegative(short value) { return value > 0 ? value : short(0); }

// Cursor arithmetic runs in int and is held to the short range, so a long
// text or a far position never wraps round into the table.
short toShort(int value) { return short(std::clamp(value, int(SHRT_MIN), int(SHRT_MAX))); }

// Smallest whole number not below a / b, for b > 0 and any sign of a.
int ceilDiv(int a, int b) { return a >= 0 ? (a + b - 1) / b : -(-a / b); }

// The glyph map shared by fonts 0, 1 and 2; fonts 0 and 2 also draw codes
// 6..19 as symbols.
void fillMap(CoreDsfn& font, bool symbols) {
    int glyph = 1;
    for (char c = 'A'; c <= 'Z'; ++c) font.setrs(c, glyph++);
    for (char c = 'a'; c <= 'z'; ++c) font.setrs(c, glyph++);
    for (char c = '1'; c <= '9'; ++c) font.setrs(c, glyph++);
    font.setrs('0', glyph++);
    for (char c : {'*', '+', '-', ':', '.', '<', '>', ';', '|', '^', '/'}) font.setrs(c, glyph++);
    font.setrs(0xA7, glyph++);
    for (char c : {'(', ')'}) font.setrs(c, glyph++);
    for (char c : {'"', '_', '\'', '!', '#', ',', '`', '&', '?', '@', '%'}) font.setrs(c, glyph++);
    for (short code = 25; code >= 20; --code) font.setrs(code, glyph++); // bar segments
    if (symbols)
        for (short code = 6; code <= 19; ++code) font.setrs(code, glyph++);
}
} // namespace

CoreDsbf::CoreDsbf(CoreBlnk* blink, short columns, short rows, short xcolumns, short xrows)
    : columns(nonNegative(columns)), rows(nonNegative(rows)),
      xcolumns(std::min(nonNegative(xcolumns), nonNegative(columns))), xrows(nonNegative(xrows)),
      cursorx(0),
      cursory(0), fonts{CoreDsfn(1, 1), CoreDsfn(1, 1), CoreDsfn(2, 2), CoreDsfn(1, 1)} {
    fonts[3].setrs(' ', 0);
    fillMap(fonts[0], true);
    fillMap(fonts[1], false);
    fillMap(fonts[2], true);
    size_t count = size_t(this->columns) * size_t(this->rows + this->xrows);
    try {
        cells.assign(count, CoreDsch(blink));
    } catch (std::bad_alloc const&) {
        throw CoreAnsx("Memory request failed for the display cells ") + CoreAnsx(long(count));
    }
}

bool CoreDsbf::isfont(short font) const { return font >= 0 && font < iCfonts; }

CoreDsch* CoreDsbf::cell(int gridcolumn, int gridrow) {
    if (gridcolumn < 0 || gridcolumn >= columns || gridrow < 0 || gridrow >= rows + xrows)
        return nullptr;
    return &cells[size_t(gridrow) * size_t(columns) + size_t(gridcolumn)];
}

CoreDsfn* CoreDsbf::getfn(short font) { return isfont(font) ? &fonts[font] : nullptr; }

short CoreDsbf::getdx(short font) { return isfont(font) ? columns / fonts[font].getdx() : 0; }

short CoreDsbf::getdy(short font) { return isfont(font) ? rows / fonts[font].getdy() : 0; }

short CoreDsbf::getax(short font) { return isfont(font) ? xcolumns / fonts[font].getdx() : 0; }

short CoreDsbf::getay(short font) { return isfont(font) ? xrows / fonts[font].getdy() : 0; }

void CoreDsbf::setxy(short column, short row) {
    cursorx = column;
    cursory = row;
}

void CoreDsbf::place(int column, int row, short font) {
    int xs = fonts[font].getdx();
    cursorx = toShort(xs * ceilDiv(column, xs));
    cursory = toShort(fonts[font].getdy() * row);
}

void CoreDsbf::write(CoreAnsx const& text, short column, short row, short font, bool blink,
                     bool wrap) {
    if (!isfont(font)) return;
    place(column, row, font);
    print(text, font, blink, wrap);
}

void CoreDsbf::down(int step) {
    int row = cursory + step;
    // Only a line that runs off the main zone's foot scrolls it; lines in the
    // extra zone just go on down (and below the table their characters drop).
    if (cursory < rows && row >= rows && step > 0) {
        for (int k = std::min(step, int(rows)); k > 0; --k) scrll();
        row -= step;
    }
    cursory = toShort(row);
}

void CoreDsbf::writc(char character, short font, bool blink, bool wrap) {
    if (!isfont(font)) return;
    if (CoreDsch* target = cell(cursorx, cursory)) target->setvl(character, font, blink);
    // Past the last column without wrap the cursor stays, so every further
    // character of the text is dropped.
    if (cursorx < columns) cursorx = toShort(cursorx + fonts[font].getdx());
    if (cursorx >= columns && wrap) {
        cursorx = 0;
        down(fonts[font].getdy());
    }
}

void CoreDsbf::print(CoreAnsx const& text, short font, bool blink, bool wrap) {
    if (!isfont(font)) return;
    char const* characters = text.c_str();
    for (int i = 0; characters[i] != 0; ++i) writc(characters[i], font, blink, wrap);
}

void CoreDsbf::prnln(CoreAnsx const& text, short font, bool blink) {
    if (!isfont(font)) return;
    print(text, font, blink, true);
    cursorx = 0;
    down(fonts[font].getdy());
}

void CoreDsbf::carrt(short n) {
    cursorx = 0;
    if (n > 0)
        down(n);
    else
        cursory = toShort(cursory + n);
}

void CoreDsbf::scrll() {
    if (rows <= 0) return;
    std::copy(cells.begin() + columns, cells.begin() + size_t(rows) * columns, cells.begin());
    for (int column = 0; column < columns; ++column) cell(column, rows - 1)->setvl(' ', 3, false);
}

void CoreDsbf::clear(short font, short column, short row, short width, short height) {
    if (!isfont(font) || width <= 0 || height <= 0) return;
    // Only the part of the rectangle that can land in the table is visited;
    // the rest would be dropped anyway.
    int xs = fonts[font].getdx();
    int ys = fonts[font].getdy();
    int firstRow = std::max(0, -row);
    int lastRow = std::min(height - 1, ceilDiv(rows + xrows, ys) - 1 - row);
    int firstColumn = std::max(0, 1 - xs - column);
    int lastColumn = std::min(width - 1, columns - 1 - column);
    for (int i = firstRow; i <= lastRow; ++i)
        for (int j = firstColumn; j <= lastColumn; ++j) {
            place(column + j, row + i, font);
            writc(' ', font, false, false);
        }
    // The cursor ends where the rectangle's last cell leaves it.
    place(column + width - 1, row + height - 1, font);
    writc(' ', font, false, false);
}

CoreDsch* CoreDsbf::read_(short font, short column, short row) {
    if (!isfont(font)) return nullptr;
    CoreDsch* found = cell(column * fonts[font].getdx(), row * fonts[font].getdy());
    return found != nullptr && found->getfn() == font ? found : nullptr;
}

CoreDsch const* CoreDsbf::getcl(short gridcolumn, short gridrow) const {
    if (gridcolumn < 0 || gridcolumn >= columns || gridrow < 0 || gridrow >= rows + xrows)
        return nullptr;
    return &cells[size_t(gridrow) * size_t(columns) + size_t(gridcolumn)];
}

double CoreDsbf::readr(short font, short column, short row) {
    CoreDsch* found = read_(font, column, row);
    if (found == nullptr) return -1.0;
    return fonts[font].getrw(short(static_cast<unsigned char>(found->getvl())));
}

void CoreDsbf::selct(short font, short column, short row, short& from, short& to) {
    from = -1;
    to = -1;
    int left = column;
    while (left >= 0 && read_(font, short(left), row) != nullptr) --left;
    int start = left + 1;
    if (start != column + 1) from = toShort(start);
    int last = getdx(font) - 1;
    int right = column;
    while (right <= last && read_(font, short(right), row) != nullptr) ++right;
    int end = right - 1;
    if (end != column - 1) to = toShort(end);
}
