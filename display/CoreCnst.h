#pragma once
// CoreCnst: the records the display shares with the plug-in shell and the
// editor: the snapshot of the screen (DISPLAYDATA) and the content of a
// pop-up menu (POPMENUCONTENTDATA with its 52-byte entries) with the record
// that arms it (POPMENUARMDATA).
// Owner: whoever declares a record owns it; the arrays inside a DISPLAYDATA
// are made and freed by the display (CoreDsif::newdd, deldd), the entries of
// a POPMENUCONTENTDATA by the display's pop-up menus.
// Threads: a snapshot is filled under the display lock (CoreDsif::flldd) and
// read by its owner afterwards; the menu content is written on the control
// thread and read by the editor after the display announces it.

#include <cstddef>
#include <cstdint>

class CoreCnst {
public:
    CoreCnst() = delete;

    // The screen as glyph positions, one zone per font: zone f holds rows[f]
    // rows of columns[f] cells; the cell of font f, column c, row r is
    // cells[rowstarts[f][r] + c]. A cell is -1.0 where the screen has no
    // character of that font, else the centre of the glyph's slot in the
    // font's strip (0..1). Arrays are never resized after CoreDsif::newdd.
    struct DISPLAYDATA {
        int total = 0;             // cells over all zones
        int zones = 0;             // 4 once made: fonts 0..3
        int* rows = nullptr;       // per zone: main rows plus extra rows, font units
        int* columns = nullptr;    // per zone: main columns, font units (extra rows too)
        int** rowstarts = nullptr; // per zone, per row: index of the row's first cell
        double* cells = nullptr;   // total values
    };

    // One pop-up menu entry, exactly as it travels in properties 100107 and
    // 100108 (integers in the host's byte order).
    struct POPMENUENTRY {
        std::int32_t parent; // parent entry's index, -1 at top level; unused in entry 0
        char text[48];       // zero-terminated, at most 47 characters
    };

    // A pop-up menu's content: entry 0 the title, then the items in pre-order.
    struct POPMENUCONTENTDATA {
        int count = 0;                   // entries, title included
        POPMENUENTRY* entries = nullptr; // count entries, owned by the record's filler
    };

    // The arm record of a pop-up menu, exactly as it travels in property
    // 100106: the display posts it on every arming and withdrawal; a
    // withdrawal changes only the armed byte.
    struct POPMENUARMDATA {
        std::uint8_t armed;      // 1 show the menu, 0 withdraw it
        std::uint8_t unused;     // 0
        std::int16_t menu;       // menu index in the display's menu group
        std::int32_t count;      // entries, title included
        std::int16_t column;     // cell area of the menu
        std::int16_t row;        //
        std::int16_t width;      //
        std::int16_t height;     //
        std::int16_t percolumn;  // items per column of the platform menu
        std::int16_t unusedtail; // 0
    };

    static constexpr int iCpopmenutext = 47; // characters of an entry's text
};

static_assert(sizeof(CoreCnst::POPMENUENTRY) == 52);
static_assert(offsetof(CoreCnst::POPMENUENTRY, text) == 4);
static_assert(sizeof(CoreCnst::POPMENUARMDATA) == 20);
static_assert(offsetof(CoreCnst::POPMENUARMDATA, menu) == 2);
static_assert(offsetof(CoreCnst::POPMENUARMDATA, count) == 4);
static_assert(offsetof(CoreCnst::POPMENUARMDATA, column) == 8);
static_assert(offsetof(CoreCnst::POPMENUARMDATA, row) == 10);
static_assert(offsetof(CoreCnst::POPMENUARMDATA, width) == 12);
static_assert(offsetof(CoreCnst::POPMENUARMDATA, height) == 14);
static_assert(offsetof(CoreCnst::POPMENUARMDATA, percolumn) == 16);
