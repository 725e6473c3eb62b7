#pragma once
// DataSrce: the modulation bus of one program: the 84 sources in their fixed
// index order. The engine and the program address a few sources by index
// (0 "OFF", 27 "LSTO", 48-51 levels, 64/65 peaks, 83 "ON"); everything else
// finds its source by key when it is configured.
// Owned by the program (built before its modulators, deleted after them);
// the display builds a temporary one to fill its source menus.
// Threads: getis on the processing thread (audio thread: no allocation, no
// file or log I/O, no blocking lock); key lookups only when binding.

#include "runtime/CoreAnsx.h"

class CoreSrce;

class DataSrce {
public:
    static constexpr int iCsources = 84; // entries of the bus

    DataSrce(); // throws CoreAnsx when the sources cannot be allocated
    ~DataSrce();
    DataSrce(DataSrce const&) = delete;
    DataSrce& operator=(DataSrce const&) = delete;
    DataSrce(DataSrce&&) = delete;
    DataSrce& operator=(DataSrce&&) = delete;

    // The source at index 0..83; null outside (logged, or only counted on the audio path).
    CoreSrce* getis(int index) const;
    int getgs() const; // number of sources, 84
    // Fills labels[i] with getlb and keys[i] with getky of every source; both
    // arrays hold 84 texts. Null arrays are skipped.
    void getgs(CoreAnsx* labels, CoreAnsx* keys) const;
    // The source whose key equals key (case-sensitive); the last equal one
    // wins; "OFF" when none. Never null.
    CoreSrce* getsc(CoreAnsx const& key) const;
    // True for a known key other than "OFF".
    bool isact(CoreAnsx const& key) const;
    // True for the empty text or any known key, "OFF" included.
    bool isils(CoreAnsx const& key) const;

private:
    int findKey(CoreAnsx const& key) const; // last index with that key, -1 when none

    int count;                    // number of sources, always 84
    CoreSrce* sources[iCsources]; // owned, in bus index order
};
