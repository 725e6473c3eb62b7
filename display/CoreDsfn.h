#pragma once
// CoreDsfn: one font of the text display as the character buffer sees it: a
// cell scale and a map from character codes to glyph indexes in the font's
// strip, from which it gives the strip position the editor draws from.
// Owner: the character buffer (CoreDsbf), four of them, built once.
// Threads: built on the control thread; read by the control thread and by the
// editor's snapshot request, never changed after the buffer is built.

class CoreDsfn {
public:
    CoreDsfn(short xscale, short yscale);

    // Stores the glyph for a code (taken as an unsigned byte); a glyph above
    // every earlier one sets the glyph count and so the strip step.
    void setrs(short code, int glyph);
    int getrs(short code) const; // glyph stored for the code, 0 when none
    // Strip position of the code: the centre of its glyph's slot, 0..1.
    double getrw(short code) const;
    short getdx() const; // grid columns per character
    short getdy() const; // grid rows per character
    int getre() const;   // glyph count (highest glyph + 1)

private:
    short xscale;   // grid columns per character (1 or 2)
    short yscale;   // grid rows per character (1 or 2)
    int glyph[256]; // glyph index per character code
    int highest;    // largest glyph index stored so far
    double step;    // width of one glyph slot: 1 / (highest + 1)
};
