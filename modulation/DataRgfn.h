#pragma once
// DataRgfn: the raw-function catalogue: the two ways a raw-function
// modulator plays its raw arrays ("RSINGLE", "RMULTI"), looked up by key and
// listed for menus.
// Owned by the program (the display may build one for its menus).
// Threads: immutable after construction; lookups when a modulator is
// configured, evaluation on the processing thread.

#include "modulation/CoreRgfn.h"
#include "runtime/CoreAnsx.h"

class DataRgfn {
public:
    static constexpr int iCrawfunctions = 2; // entries

    DataRgfn(); // throws CoreAnsx when the entries cannot be allocated
    ~DataRgfn();
    DataRgfn(DataRgfn const&) = delete;
    DataRgfn& operator=(DataRgfn const&) = delete;
    DataRgfn(DataRgfn&&) = delete;
    DataRgfn& operator=(DataRgfn&&) = delete;

    int getnm() const; // 2
    // The entry whose key equals key (case-sensitive, last equal one wins),
    // else entry 0 "RSINGLE". Never null.
    CoreRgfn* getgf(CoreAnsx const& key) const;
    // Fills labels[i] and keys[i] for both entries.
    void getgs(CoreAnsx* labels, CoreAnsx* keys) const;

private:
    int count;                         // entries, 2
    CoreRgfn* entries[iCrawfunctions]; // owned, in table order
};

// Single value: exp(-1 / (array0[0] x rate)) - 0.5; the inputs do not enter.
double fr001(CoreRgfn::FUNEXTENSION* state);
// Multi value: array0 read as an envelope table (entry 0 skipped) at
// position a x 1e8 in steps of 1 / b, linearly interpolated.
double fr002(CoreRgfn::FUNEXTENSION* state);
