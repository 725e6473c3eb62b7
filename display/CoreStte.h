#pragma once
// CoreStte: the display's page transition table: maps the page on screen and
// a page event (a menu label, "BTCH", "LIST", "BOOT"...) to the next page by a
// first-match scan of its rows, so rows added earlier win over later ones.
// Also holds the page ids and fills the display's own 35 rows.
// Owner: the display (CoreDsif), one table built at construction and never
// changed after.
// Threads: looked up on the control thread under the display lock and from
// the display thread after a batch; the table's own lock is taken after the
// display lock.

#include "runtime/CoreAnsx.h"
#include "runtime/CoreSmph.h"
#include "runtime/CoreTlst.h"

class CoreStte {
public:
    // Page ids (16-bit; -1 for none).
    static constexpr short iCpagenone = -1;
    static constexpr short iCpageprogram = 0;
    static constexpr short iCpagelist = 1;
    static constexpr short iCpagemaster = 2;
    static constexpr short iCpagemidi = 3;
    static constexpr short iCpagedisk = 4;
    static constexpr short iCpagekernel = 5;
    static constexpr short iCpagememory = 6;
    static constexpr short iCpagelfo = 7;
    static constexpr short iCpageglobal = 8;
    static constexpr short iCpagefunction = 9;
    static constexpr short iCpagefollower = 10; // envelope follower edit page
    static constexpr short iCpageenvelope = 11;
    static constexpr short iCpagedynamics = 12;
    static constexpr short iCpagemodlist = 13;     // parameter modulator list page
    static constexpr short iCpagemodsettings = 14; // parameter modulator settings page
    static constexpr short iCpageabout = 15;
    static constexpr short iCpagetest = 16;
    static constexpr short iCpagesimplelist = 17;
    static constexpr short iCpagesimpleprogram = 18;
    static constexpr short iCpagesimplemaster = 19;
    static constexpr short iCpageboot = 20;
    static constexpr short iCpagebooterror = 21;
    static constexpr short iCpagebatch = 22;
    static constexpr short iCpagesimplebatch = 23;
    static constexpr short iCpages = 24; // ids 0..23

    CoreStte();
    ~CoreStte();
    CoreStte(CoreStte const&) = delete;
    CoreStte& operator=(CoreStte const&) = delete;
    CoreStte(CoreStte&&) = delete;
    CoreStte& operator=(CoreStte&&) = delete;

    // Appends a row; a negative `from` matches every page. Throws CoreAnsx
    // when the row cannot be allocated.
    void addmp(int from, CoreAnsx const& event, int to);
    // The page that `event` leads to from `state` (the first matching row;
    // the event compared exactly); `state` itself when no row matches.
    int getst(int state, CoreAnsx const& event);
    bool chngd(); // whether the last getst changed the page

    // Appends the display's 35 rows in their order: the simple set's rows
    // ahead of the wildcard rows, so its events stay within the simple set.
    void addDisplayRows();

private:
    // One row of the table.
    struct ROW {
        int from;       // page id, negative for every page
        CoreAnsx event; // event text
        int to;         // page id
    };

    CoreTlst rows; // ROW*, owned, in the order added
    bool changed;  // last lookup gave another page than it was asked from
    CoreSmph lock; // guards rows and changed
};
