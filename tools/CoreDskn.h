#pragma once
// CoreDskn: the demo skin package "DEMO.V2S" that the demo-data generator puts
// into the data folder's skin sub-path: its "ROM.XML", a background picture
// and, for each of two colours, the three PNG font strips drawn from the
// built-in glyph bitmaps (DataGlyf). The first colour, "GREEN", uses exactly
// the grey levels of the snapshot renderer (CoreDspg): its FONT1 blank is the
// renderer's background, so a screen drawn in it can be compared pixel for
// pixel with the renderer's picture. The second, "AMBER", is amber on brown.
// Owner: nobody; static members only. Threads: any thread (writes files).

#include <cstdint>
#include <vector>

#include "runtime/CoreAnsx.h"

class CoreDskn {
public:
    CoreDskn() = delete;

    // One colour of the skin: its name and the RGB of set and clear pixels.
    struct COLOUR {
        char const* name;      // FONTNAME text, and the stem of its strips' item names
        std::uint8_t ink[3];   // set pixels of FONT1/FONT2, clear pixels of FONTNEG
        std::uint8_t paper[3]; // clear pixels of FONT1/FONT2, set pixels of FONTNEG
    };
    static const COLOUR cCcolours[2]; // GREEN, AMBER, in the order ROM.XML lists them

    // The strips of a font, in the order FONT1, FONTNEG, FONT2.
    static constexpr int iCstrips = 3;
    static constexpr int iCslots[iCstrips] = {108, 94, 108}; // glyph slots per strip
    static constexpr int iCscale[iCstrips] = {1, 1, 2};      // slot size in cells, each way
    static inline const char* const sCstripsuffix[iCstrips] = {"1", "NEG", "2"}; // item suffixes

    // Where the display's zones sit on the background picture, pixels.
    static constexpr int iCdisplayx = 16;        // DISPLAYX
    static constexpr int iCdisplayy = 16;        // DISPLAYY
    static constexpr int iCdisplayaddx = 16;     // DISPLAYADDX
    static constexpr int iCdisplayaddy = 196;    // DISPLAYADDY: below the main zone and a gap
    static constexpr int iCdisplayaddchars = 49; // DISPLAYADDCHARS
    static constexpr int iCbackgroundx = 496;    // background width
    static constexpr int iCbackgroundy = 248;    // background height

    static inline const CoreAnsx sCpackage{"DEMO.V2S"};          // the package's file name
    static inline const CoreAnsx sCbackground{"BACKGROUND.PNG"}; // the background item

    // Item name of a colour's strip (0 FONT1, 1 FONTNEG, 2 FONT2), e.g. "GREENNEG.PNG".
    static CoreAnsx strnm(int colour, int strip);
    // Writes the package to path (a file path), replacing a previous file
    // whole; false (and logged) when it cannot be written.
    static bool wrskn(CoreAnsx const& path);
};
