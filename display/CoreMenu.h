#pragma once
// CoreMenu: one button-row menu of the display: the pages of a group as
// buttons (label = the page event a click produces), a scroll offset for
// groups longer than the six buttons, and the mark of the page on screen.
// Owner: the display (CoreDsif), six of them, built at construction and
// deleted by its destructor.
// Threads: control thread, under the display lock.

#include "runtime/CoreAnsx.h"
#include "runtime/CoreTlst.h"

class CoreMenu {
public:
    // One button's page.
    struct MENUITEM {
        short key;       // page id the item stands for
        bool notcurrent; // false only on the item of the page on screen
        CoreAnsx label;  // button text, also the page event of a click
    };

    static constexpr int iCvisibleitems = 6;                // buttons on the row
    static inline const CoreAnsx sCleftscroll{"  <More "};  // 8 characters
    static inline const CoreAnsx sCrightscroll{"  More> "}; // 8 characters
    static constexpr int iCdisplaymenus = 6;                // menus the display holds

    CoreMenu();
    ~CoreMenu();
    CoreMenu(CoreMenu const&) = delete;
    CoreMenu& operator=(CoreMenu const&) = delete;
    CoreMenu(CoreMenu&&) = delete;
    CoreMenu& operator=(CoreMenu&&) = delete;

    // Appends an item (not current); returns 1. Throws CoreAnsx when the item
    // cannot be allocated.
    int addit(short key, CoreAnsx const& label);
    // True when an item stands for that page; only then marks that item
    // current and every other one not.
    bool iskey(short key);
    // One item right (while items remain beyond the sixth button) or left.
    void scroll(bool right);
    // Text and mark of button slot 0..5 at the current offset: a scroll
    // button, a blank, or an item's label and mark. Any other slot (and any
    // slot past the items) answers the blank, not current.
    void getvl(short slot, CoreAnsx& text, bool& notcurrent);

    // Fills the display's six menus (`menus` holds iCdisplaymenus of them;
    // null entries are skipped) with their page items in their order.
    static void addDisplayItems(CoreMenu* const* menus);

private:
    short offset;   // index of the item in the first button; survives page changes
    CoreTlst items; // MENUITEM*, owned, in the order added
};
