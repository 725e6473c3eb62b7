#pragma once
// CoreSkin: one skin, read once: a ".V2S" package (an archive) or a folder of
// that name, described by its item "ROM.XML". It answers the parsed
// description (the fonts and their three PNG strips, the extra zone's column
// count, the background image and where the display's zones sit on it) and
// serves the bytes of the skin's items, which the editor decodes.
// A skin that cannot be read, a package past CoreButl::iCwholebytes (refused
// unread: it is read in the instance's constructor), one whose "ROM.XML" is
// missing, too large or malformed, or whose font lacks a strip answers an
// empty description (no fonts, DISPLAYADDCHARS 0, no background) and logs
// why; it never throws.
// Owner: the instance assembly, built before the display and deleted after it.
// Threads: built on the thread that opens the instance; afterwards read-only,
// so the display (control thread) and the editor (host UI thread) may read it
// at once without a lock.

#include <vector>

#include "runtime/CoreAnsx.h"

class CoreSkin {
public:
    // The item names of one font's strips, as "ROM.XML" gives them.
    struct FONTSTRIPS {
        CoreAnsx font1;   // FONT1: display font 0, 108 slots of one cell
        CoreAnsx fontneg; // FONTNEG: display font 1 (inverse text), 94 slots of one cell
        CoreAnsx font2;   // FONT2: display font 2, 108 slots of 2 x 2 cells
    };

    // The skin's description record; the font list is at its head.
    struct SKIN {
        int fontcount = 0;                  // names in fontnames
        std::vector<CoreAnsx> fontnames;    // the fonts' colour names, in file order
        int displayaddchars = 0;            // DISPLAYADDCHARS: extra-zone columns, 0 none given
        std::vector<FONTSTRIPS> fontstrips; // per font, parallel to fontnames
        CoreAnsx background{""};            // BACKGROUND item name, "" when none
        int displayx = 0;                   // DISPLAYX: main zone's left edge on it, pixels
        int displayy = 0;                   // DISPLAYY: main zone's top edge, pixels
        int displayaddx = 0;                // DISPLAYADDX: extra zone's left edge, pixels
        int displayaddy = 0;                // DISPLAYADDY: extra zone's top edge, pixels
    };

    CoreSkin(); // no skin: the empty description, nothing logged
    // Reads the skin at path: a folder when one of that name exists, else an
    // archive file. An empty path means no skin chosen (logged).
    explicit CoreSkin(CoreAnsx const& path);
    CoreSkin(CoreSkin const&) = delete;
    CoreSkin& operator=(CoreSkin const&) = delete;
    CoreSkin(CoreSkin&&) = delete;
    CoreSkin& operator=(CoreSkin&&) = delete;

    SKIN* getsk(); // the description record, never null
    // The bytes of the item of that name (case and outer blanks ignored):
    // null, size 0, when the skin has none. The bytes live as long as the skin.
    unsigned char const* getbt(CoreAnsx const& name, int& size) const;

    static inline const CoreAnsx sCdescription{"ROM.XML"}; // the description item

private:
    // One item of the skin, held whole.
    struct ITEM {
        CoreAnsx name;                    // trimmed, upper case
        std::vector<unsigned char> bytes; // the item's content
    };

    bool loadItems(CoreAnsx const& path); // fills items from the package or folder
    bool parse(CoreAnsx const& path);     // fills skin from the description item
    ITEM const* find(CoreAnsx const& name) const;

    SKIN skin;                   // the parsed description
    std::vector<ITEM> items;     // every item of the skin, in store order
    CoreAnsx descriptionwhy{""}; // why a folder's ROM.XML was refused, "" when it was not
};
