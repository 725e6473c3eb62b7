#pragma once
// CoreDsbr: turns a level between 0 and 1 into a short run of bar-segment
// characters (full cells, then one partial cell) for the parameter rows.
// Owner: the display, two of them (a 6-cell and a 4-cell bar).
// Threads: control thread (page drawing); const after construction.

#include "runtime/CoreAnsx.h"

class CoreDsbr {
public:
    CoreDsbr(short width, short segments, int full);

    short getch() const; // bar length, cells
    // Bar text of a level, unpadded: "" for 0 (and below, and for NaN),
    // `width` full cells for 1 and above.
    CoreAnsx getvl(double level) const;

private:
    short width;    // bar length, cells
    short segments; // segments per cell
    int full;       // character code of a completely filled cell
    int total;      // width x segments, segments in the whole bar
};
