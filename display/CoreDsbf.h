#pragma once
// CoreDsbf: the text display's screen memory: a grid of character cells
// (main zone of `rows` rows, extra zone of `xrows` rows below it, every row
// `columns` cells wide) written through a cursor in one of four fonts, and
// read back cell by cell as strip positions for the editor's snapshot.
// Positions outside the cell table are never touched: characters written
// there are dropped (the cursor still moves) and reads there find nothing.
// Owner: the display (CoreDsif), exactly one, for its whole life; it also owns
// the four fonts. No lock inside.
// Threads: written on the control thread under the display lock; read by the
// snapshot fill on the editor's request. The table is never reallocated.

#include <vector>

#include "display/CoreDsch.h"
#include "display/CoreDsfn.h"
#include "runtime/CoreAnsx.h"

class CoreBlnk;

class CoreDsbf {
public:
    // Negative sizes count as 0; extra columns above `columns` are cut to it
    // (the stored rows have no more cells). Throws CoreAnsx when the cell
    // table cannot be allocated.
    CoreDsbf(CoreBlnk* blink, short columns, short rows, short xcolumns, short xrows);
    CoreDsbf(CoreDsbf const&) = delete;
    CoreDsbf& operator=(CoreDsbf const&) = delete;
    CoreDsbf(CoreDsbf&&) = delete;
    CoreDsbf& operator=(CoreDsbf&&) = delete;

    // Font of that index, null outside 0..3.
    CoreDsfn* getfn(short font);
    short getdx(short font); // main-zone columns in that font's cells (0 for a bad font)
    short getdy(short font); // main-zone rows in that font's cells
    short getax(short font); // extra-zone columns in that font's cells
    short getay(short font); // extra-zone rows in that font's cells

    void setxy(short column, short row); // cursor, grid units
    // Moves the cursor to the font's position (column rounded up to the font's
    // x-scale, grid row = row x y-scale) and writes the text from there.
    void write(CoreAnsx const& text, short column, short row, short font, bool blink, bool wrap);
    // Stores one character under the cursor and advances it; past the last
    // column it wraps (scrolling the main zone at its foot) or stays.
    void writc(char character, short font, bool blink, bool wrap);
    void print(CoreAnsx const& text, short font, bool blink, bool wrap); // write at the cursor
    // Writes the text with wrap, then starts a new line (scrolling at the foot).
    void prnln(CoreAnsx const& text, short font, bool blink);
    void carrt(short n); // column 0, n rows down, scrolling n times at the foot
    void scrll();        // main zone up one grid row; the extra zone never scrolls
    // Blanks a rectangle (font cells) in that font, without blink or wrap.
    void clear(short font, short column, short row, short width, short height);
    // The cell at a font position when it was last written in that font,
    // else null (also outside the table and for a bad font).
    CoreDsch* read_(short font, short column, short row);
    // The cell at a grid position whatever its font; null outside the table.
    CoreDsch const* getcl(short gridcolumn, short gridrow) const;
    // Strip position of the visible character there, -1.0 when read_ finds none.
    double readr(short font, short column, short row);
    // Run of that font's cells around a column (font units); -1 for a side
    // whose run does not reach the column.
    void selct(short font, short column, short row, short& from, short& to);

    static constexpr short iCfonts = 4; // fonts 0..3

private:
    bool isfont(short font) const;               // 0..3
    CoreDsch* cell(int gridcolumn, int gridrow); // null outside the table
    void place(int column, int row, short font); // cursor as `write` sets it
    void down(int step);                         // row + step, scrolling at the foot

    short columns;               // cells per stored row (main zone width)
    short rows;                  // main zone rows
    short xcolumns;              // extra zone width, at most columns
    short xrows;                 // extra zone rows
    short cursorx;               // cursor column, grid units
    short cursory;               // cursor row, grid units
    std::vector<CoreDsch> cells; // (rows + xrows) x columns, row by row
    CoreDsfn fonts[iCfonts];     // 0, 1: 1 x 1 text; 2: 2 x 2; 3: blank only
};
