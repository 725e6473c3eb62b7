// Button-row menus: what each of the six buttons shows, scrolling, marks, and
// the pages their labels lead to through the transition table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/CoreMenu.h"
#include "display/CoreStte.h"

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
    CoreMenu menu[CoreMenu::iCdisplaymenus];
    DisplayMenus() {
        CoreMenu* all[] = {&menu[0], &menu[1], &menu[2], &menu[3], &menu[4], &menu[5]};
        CoreMenu::addDisplayItems(all);
    }
};

TEST(CoreMenu, LongMenuScrollsOneItemAtATime) {
    DisplayMenus d;
    CoreMenu& menu = d.menu[1];
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
    EXPECT_FALSE(menu.iskey(0)); // not this menu's page: the mark stays
    EXPECT_TRUE(menu.iskey(8));
    EXPECT_EQ(buttons(menu), (Row{"  <More ", "GLOB*", "LFOS", "FUNS", "EVFS", "  More> "}));
}

TEST(CoreMenu, ShortMenusFillWithBlanks) {
    DisplayMenus d;
    EXPECT_EQ(buttons(d.menu[0]), (Row{"PROG", "KERN", "MAST", "MIDI", "DISK", " "}));
    EXPECT_TRUE(d.menu[0].iskey(0));
    EXPECT_FALSE(d.menu[0].iskey(1)); // the list page keeps PROG marked
    EXPECT_EQ(buttons(d.menu[0]), (Row{"PROG*", "KERN", "MAST", "MIDI", "DISK", " "}));
    d.menu[0].scroll(true);
    EXPECT_EQ(buttons(d.menu[0])[0], "PROG*");
    char const* single[] = {"ABOUT", "TEST", "PARM"};
    for (int m = 2; m <= 4; ++m)
        EXPECT_EQ(buttons(d.menu[m]), (Row{single[m - 2], " ", " ", " ", " ", " "}));
    EXPECT_EQ(buttons(d.menu[5]), (Row{"PROG", "MAST", " ", " ", " ", " "}));

    // Slots off the row, and an empty menu, read no item.
    CoreMenu empty;
    EXPECT_EQ(buttons(empty), (Row{" ", " ", " ", " ", " ", " "}));
    for (short slot : {short(-1), short(6), short(200)}) {
        CoreAnsx text;
        bool notcurrent = false;
        d.menu[1].getvl(slot, text, notcurrent);
        EXPECT_STREQ(text.c_str(), " ");
        EXPECT_TRUE(notcurrent);
    }
}

TEST(CoreMenu, LabelsLeadToTheirPagesThroughTheTable) {
    DisplayMenus d;
    CoreStte table;
    table.addDisplayRows();
    std::vector<int> const fullSet = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 22};
    std::vector<int> const simpleSet = {17, 18, 19, 23};
    int items = 0;
    for (int m = 0; m < CoreMenu::iCdisplaymenus; ++m)
        for (short page = 0; page < CoreStte::iCpages; ++page) {
            if (!d.menu[m].iskey(page)) continue;
            // The marked button's label, at whatever offset shows it.
            std::string label;
            for (int step = 0; step < 3; ++step, d.menu[m].scroll(true))
                for (std::string const& b : buttons(d.menu[m]))
                    if (b.back() == '*') label = b.substr(0, b.size() - 1);
            for (int step = 0; step < 3; ++step) d.menu[m].scroll(false);
            ASSERT_FALSE(label.empty()) << m << " " << page;
            ++items;
            for (int from : m < 5 ? fullSet : simpleSet) {
                if (m == 5 && from == page) continue;
                EXPECT_EQ(table.getst(from, CoreAnsx(label.c_str())), page) << label << from;
            }
        }
    EXPECT_EQ(items, 18);
}
} // namespace
