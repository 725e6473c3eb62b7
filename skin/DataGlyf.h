#pragma once
// DataGlyf: the built-in bitmaps of the display's 108 glyph indexes, one
// 8 x 12-pixel cell each: the blank, letters, digits and signs (a 5 x 7 face
// centred in the cell), the six bar fills from 1/6 to 6/6 of a cell, and the
// fourteen symbols of codes 6 to 19 (8, 7 and 9 the top, middle and bottom of
// a scroll bar). The demo skin and the editor draw from it, and so do the
// tools that picture a snapshot.
// Owner: nobody; static members only, the table is constant.
// Threads: any thread, read-only.

#include <cstdint>

class DataGlyf {
public:
    DataGlyf() = delete;

    static constexpr int iCglyphs = 108; // glyph indexes 0..107
    static constexpr int iCwidth = 8;    // pixels per cell, across
    static constexpr int iCheight = 12;  // pixels per cell, down

    // Row (0 at the top) of a glyph as 8 pixels, bit 7 the leftmost; 0 for a
    // glyph or row outside the table.
    static std::uint8_t getrw(int glyph, int row);
    // Whether the glyph's pixel (x across, y down) is set.
    static bool getpx(int glyph, int x, int y);
};
