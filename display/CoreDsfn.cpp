#include "display/CoreDsfn.h"

namespace {
// Codes index the map as unsigned bytes, so a signed char such as 0xA7 lands
// on its own entry and no code reaches outside the map.
int slot(short code) { return code & 0xFF; }
} // namespace

CoreDsfn::CoreDsfn(short xscale, short yscale)
    : xscale(xscale), yscale(yscale), glyph{}, highest(0), step(1.0) {}

void CoreDsfn::setrs(short code, int glyph) {
    this->glyph[slot(code)] = glyph;
    if (glyph > highest) {
        highest = glyph;
        step = 1.0 / (double(glyph) + 1.0);
    }
}

int CoreDsfn::getrs(short code) const { return glyph[slot(code)]; }

double CoreDsfn::getrw(short code) const { return step * glyph[slot(code)] + step * 0.5; }

short CoreDsfn::getdx() const { return xscale; }

short CoreDsfn::getdy() const { return yscale; }

int CoreDsfn::getre() const { return highest + 1; }
