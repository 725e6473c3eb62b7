#pragma once
// CoreStrp: the display's three glyph strips in one skin colour, decoded from
// the skin's PNG items to 32-bit pixels: FONT1 (display font 0, 108 slots),
// FONTNEG (font 1, 94 slots) and FONT2 (font 2, 108 slots of 2 x 2 cells).
// Strips that are missing, not PNG, of sizes that do not fit their slots or
// larger than a picture may be are replaced by the built-in glyph table
// (DataGlyf) in the snapshot renderer's greys, so a display is always drawn;
// sizes are judged from the PNG header, before anything is decoded. Also
// decodes any other PNG item (the background).
// Owner: the editor, one per editor. No X here: the windowing editor puts the
// pixels on screen.
// Threads: the host's user-interface thread (built and read there).

#include <cstdint>
#include <vector>

class CoreSkin;

class CoreStrp {
public:
    // A picture as 0x00RRGGBB words, rows top to bottom without padding.
    struct IMAGE {
        int width = 0;                     // pixels
        int height = 0;                    // pixels
        std::vector<std::uint32_t> pixels; // width x height
    };

    static constexpr int iCstrips = 3;                       // FONT1, FONTNEG, FONT2
    static constexpr int iCslots[iCstrips] = {108, 94, 108}; // glyph slots per strip
    static constexpr int iCscale[iCstrips] = {1, 1, 2};      // slot size in cells, each way
    static constexpr std::uint8_t iCdark = 24;   // built-in paper (and the inverse font's ink)
    static constexpr std::uint8_t iClight = 224; // built-in ink (and the inverse font's paper)
    static constexpr int iClargest = 32767;      // pixels a decoded picture may have each way
    // Pixels a decoded picture may have in all: a 4K background passes, and
    // decoding takes under 60 MB (3 bytes a pixel read, 4 kept).
    static constexpr long iCpixels = 8L << 20;

    CoreStrp(); // the built-in strips
    CoreStrp(CoreStrp const&) = delete;
    CoreStrp& operator=(CoreStrp const&) = delete;
    CoreStrp(CoreStrp&&) = delete;
    CoreStrp& operator=(CoreStrp&&) = delete;

    // Takes the strips of the skin's font `colour` (an index into its font
    // list). Answers true when they pass the checks; otherwise the built-in
    // strips stay, and the reason is logged.
    bool loads(CoreSkin* skin, int colour);
    // The size PNG bytes announce, from their header alone: false, with why,
    // when they are no PNG or larger than a picture may be (iClargest,
    // iCpixels).
    static bool sizes(unsigned char const* bytes, int size, int& width, int& height,
                      char const*& why);
    // Decodes PNG bytes (any PNG colour type; alpha is laid on black); false,
    // image empty, when sizes refuses them or they do not decode.
    static bool decod(unsigned char const* bytes, int size, IMAGE& image);
    // The size checks of a set of strips: each width divides by its slot
    // count, every strip is one slot high, FONTNEG's cell equals FONT1's and
    // FONT2's is twice it each way. Gives FONT1's cell size; on failure why
    // names the fault.
    static bool check(IMAGE const (&strips)[iCstrips], int& cellx, int& celly, char const*& why);

    int getcx() const { return cellx; }    // cell width, pixels
    int getcy() const { return celly; }    // cell height, pixels
    bool isskn() const { return skinned; } // the skin's strips are in use
    // Copies one cell of a glyph (clamped to the strip) into target (row
    // stride in words): for FONT2 the quarter (quarterx, quartery) of its slot.
    void cell_(int strip, int glyph, int quarterx, int quartery, std::uint32_t* target,
               int stride) const;

private:
    void builtin(); // the strips drawn from the glyph table

    IMAGE strips[iCstrips]; // FONT1, FONTNEG, FONT2
    int cellx;              // FONT1 slot width, pixels
    int celly;              // FONT1 slot height, pixels
    bool skinned;           // strips from the skin rather than built in
};
