#pragma once
// CoreDspg: pictures of the display: draws a snapshot (CoreCnst::DISPLAYDATA)
// as a grey-scale image from the built-in glyph bitmaps and writes it as PNG.
// Cells are 8 x 12 pixels: the main zone first (464 x 168 by default), one
// empty cell row, then the extra zone. Font 0 is light on dark, font 1 the
// inverse, font 2 doubled over its 2 x 2 block, font 3 empty.
// Owner: nobody; static members only. Threads: any thread.

#include <cstdint>
#include <vector>

#include "display/CoreCnst.h"
#include "runtime/CoreAnsx.h"
#include "skin/CoreStrp.h"

class CoreDspg {
public:
    CoreDspg() = delete;

    // A grey-scale picture, one byte per pixel, row by row from the top.
    struct IMAGE {
        int width = 0;                    // pixels
        int height = 0;                   // pixels
        std::vector<std::uint8_t> pixels; // width x height
    };

    static constexpr int iCcellx = 8;  // pixels per cell, across
    static constexpr int iCcelly = 12; // pixels per cell, down
    // The editor's built-in glyphs use the same greys, so either draws alike.
    static constexpr std::uint8_t iCdark = CoreStrp::iCdark; // background and font 1 ink
    static constexpr std::uint8_t iClight =
        CoreStrp::iClight;                      // font 0 and 2 ink, font 1 background
    static constexpr int iCmainrows = 14;       // main-zone rows of the display
    static constexpr int iCdefaultcells = 3190; // cells of a snapshot of the display
    static constexpr int iCglyphcounts[4] = {108, 94, 108, 1}; // glyphs per font strip

    // Draws the snapshot; mainrows grid rows go above the gap, glyphs[f] is
    // the glyph count of font f's strip, scale multiplies every pixel (1..16).
    // False (image empty) for a record without cells or a bad scale.
    static bool rendr(CoreCnst::DISPLAYDATA const& data, int const glyphs[4], int mainrows,
                      int scale, IMAGE& image);
    // The same for bare cells in the display's own layout (iCdefaultcells of
    // them, as the editor reads them); false for another count.
    static bool rendr(double const* cells, int total, int scale, IMAGE& image);
    // Encodes width x height pixels of channels bytes each (1 grey, 3 RGB),
    // row by row from the top, as an 8-bit PNG into out. False, out empty,
    // for a bad size or channel count or when the encoder fails. The demo
    // skin's strips are encoded here too.
    static bool enpng(int width, int height, int channels, std::uint8_t const* pixels,
                      std::vector<unsigned char>& out);
    // Writes the picture as an 8-bit grey PNG through the one file
    // replacement routine; false (and logged) when it cannot.
    static bool wrpng(IMAGE const& image, CoreAnsx const& path);
};
