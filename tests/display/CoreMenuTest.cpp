// Button-row menus: what each of the six buttons shows, scrolling and marks.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "display/CoreMenu.h"

namespace {
// The six buttons as "label" or "label*" for the marked one.
std::vector<std::string> buttons(CoreMenu& menu) {
    std::vector<std::string> shown;
    for (short slot = 0; slot < CoreMenu::iCvisibleitems; ++slot) {
        CoreAnsx text;
        bool notcurrent = false;
        menu.getvl(slot, text, notcurrent);
        shown.push_back(std::string(text.c_str()) + (notcurrent ? "" : "*"));
    }
    return shown;
}

using Row = std::vector<std::string>;

struct DisplayMenus {
    std::unique_ptr<CoreMenu> owned[CoreMenu::iCdisplaymenus];
    CoreMenu* menus[CoreMenu::iCdisplaymenus];
    DisplayMenus() {
        for (int m = 0; m < CoreMenu::iCdisplaymenus; ++m)
            menus[m] = (owned[m] = std::make_unique<CoreMenu>()).get();
        CoreMenu::addDisplayItems(menus);
    }
};

TEST(CoreMenu, LongMenuScrollsOneItemAtATime) {
    DisplayMenus d;
    CoreMenu& menu = *d.menus[1];
    Row const byOffset[] = {
        {"MEMO", "PRMS", "GLOB", "LFOS", "FUNS", "  More> "},
        {"  <More ", "GLOB", "LFOS", "FUNS", "EVFS", "  More> "},
        {"  <More ", "LFOS", "FUNS", "EVFS", "ENVS", "DYNS"},
    };
    for (Row const& row : byOffset) {
        EXPECT_EQ(buttons(menu), row);
        menu.scroll(true);
    }
    EXPECT_EQ(buttons(menu), byOffset[2]); // no further right
    for (int i = 0; i < 4; ++i) menu.scroll(false);
    EXPECT_EQ(buttons(menu), byOffset[0]); // and no further left

    // The offset stays through page changes; marks follow only a matching key.
    menu.scroll(true);
    EXPECT_TRUE(menu.iskey(10));
    EXPECT_EQ(buttons(menu), (Row{"  <More ", "GLOB", "LFOS", "FUNS", "EVFS*", "  More> "}));
    EXPECT_FALSE(menu.iskey(1));
    EXPECT_FALSE(menu.iskey(0));
    EXPECT_EQ(buttons(menu), (Row{"  <More ", "GLOB", "LFOS", "FUNS", "EVFS*", "  More> "}));
    EXPECT_TRUE(menu.iskey(8));
    EXPECT_EQ(buttons(menu), (Row{"  <More ", "GLOB*", "LFOS", "FUNS", "EVFS", "  More> "}));
}

TEST(CoreMenu, ShortMenusFillWithBlanks) {
    DisplayMenus d;
    EXPECT_EQ(buttons(*d.menus[0]), (Row{"PROG", "KERN", "MAST", "MIDI", "DISK", " "}));
    EXPECT_TRUE(d.menus[0]->iskey(0));
    EXPECT_FALSE(d.menus[0]->iskey(1)); // the list page keeps PROG marked
    EXPECT_EQ(buttons(*d.menus[0]), (Row{"PROG*", "KERN", "MAST", "MIDI", "DISK", " "}));
    d.menus[0]->scroll(true);
    EXPECT_EQ(buttons(*d.menus[0])[0], "PROG*");
    char const* single[] = {"ABOUT", "TEST", "PARM"};
    for (int m = 2; m <= 4; ++m)
        EXPECT_EQ(buttons(*d.menus[m]), (Row{single[m - 2], " ", " ", " ", " ", " "}));
    EXPECT_EQ(buttons(*d.menus[5]), (Row{"PROG", "MAST", " ", " ", " ", " "}));

    // Slots off the row, and an empty menu, read no item.
    CoreMenu empty;
    EXPECT_EQ(buttons(empty), (Row{" ", " ", " ", " ", " ", " "}));
    for (short slot : {short(-1), short(6), short(200)}) {
        CoreAnsx text;
        bool notcurrent = false;
        d.menus[1]->getvl(slot, text, notcurrent);
        EXPECT_STREQ(text.c_str(), " ");
        EXPECT_TRUE(notcurrent);
    }
}
} // namespace
