#pragma once
// Bounded list of text rows carrying status and error messages from the
// engine and the program loader to the display.
// Contract: writers (engine worker, loader, host threads) call `addrw`;
// readers (display, control thread) copy rows out with `getrw`. Bounded at
// `rows` rows: when all are used the oldest message is dropped. Each call holds
// the object's own lock only for the copy or update itself.
// Owner: the engine (1 row of 256 characters) and the display (its own rows).
// Threads: control or display thread, engine worker; may spin briefly on the
// lock; not for the audio thread (texts allocate).

#include "runtime/CoreAnsx.h"
#include "runtime/CoreSmph.h"

class CorePmsg {
public:
    // A negative row count or width is taken as 0; with 0 rows nothing is kept.
    CorePmsg(int rows, int width);
    ~CorePmsg();
    CorePmsg(CorePmsg const&) = delete;
    CorePmsg& operator=(CorePmsg const&) = delete;
    CorePmsg(CorePmsg&&) = delete;
    CorePmsg& operator=(CorePmsg&&) = delete;

    // Appends a message, keeping only its last `width` characters.
    void addrw(CoreAnsx text);
    void clear(); // every row "", none used
    // The fixed number of rows (not the number used).
    int getrw();
    // Copies every row, used or not, into `target`, which holds `getrw()` strings.
    void getrw(CoreAnsx* target);
    // A copy of one row; "" for an index outside 0..rows-1.
    CoreAnsx getrw(short index);

private:
    int rows;      // rows kept, fixed at construction
    int width;     // characters kept per row, fixed at construction
    int used;      // rows holding messages, oldest first (0..rows)
    CoreAnsx* row; // `rows` texts, owned (new[])
    CoreSmph lock; // guards used and row
};
