// The display's page transition table, and its agreement with the menus.
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <vector>

#include "display/CoreMenu.h"
#include "display/CoreStte.h"

namespace {
// Label of the marked button at whatever offset shows it; the offset goes
// back to 0 afterwards.
CoreAnsx markedLabel(CoreMenu& menu) {
    CoreAnsx found(" ");
    for (int step = 0; step < 3; ++step, menu.scroll(true))
        for (short slot = 0; slot < CoreMenu::iCvisibleitems; ++slot) {
            CoreAnsx text;
            bool notcurrent = true;
            menu.getvl(slot, text, notcurrent);
            if (!notcurrent) found = text;
        }
    for (int step = 0; step < 3; ++step) menu.scroll(false);
    return found;
}

TEST(CoreStte, FirstMatchingRowWins) {
    CoreStte table;
    table.addDisplayRows();
    struct Case {
        int from;
        char const* event;
        int to;
        bool changed;
    } const cases[] = {
        {5, "BTCH", 22, true},  {18, "BTCH", 23, true}, {23, "LIST", 17, true},
        {22, "LIST", 1, true},  {18, "MAST", 19, true}, {2, "MAS2", 19, true},
        {3, "MAS2", 3, false},  {0, "PROG", 0, false},  {21, "PROG", 0, true},
        {20, "KERN", 5, true},  {4, "", 4, false},      {0, "prog", 0, false},
        {20, "BOO2", 18, true}, {7, "EDIT", 6, true},   {13, "PARM", 14, true},
    };
    for (Case const& c : cases) {
        table.getst(99, CoreAnsx("DISK")); // leaves the flag set
        EXPECT_EQ(table.getst(c.from, CoreAnsx(c.event)), c.to) << c.from << c.event;
        EXPECT_EQ(table.chngd(), c.changed) << c.from << c.event;
    }
}

TEST(CoreStte, MenuLabelsLeadToTheirPages) {
    CoreStte table;
    table.addDisplayRows();
    std::unique_ptr<CoreMenu> owned[CoreMenu::iCdisplaymenus];
    CoreMenu* menus[CoreMenu::iCdisplaymenus];
    for (int m = 0; m < CoreMenu::iCdisplaymenus; ++m)
        menus[m] = (owned[m] = std::make_unique<CoreMenu>()).get();
    CoreMenu::addDisplayItems(menus);

    int const fullSet[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 22};
    int const simpleSet[] = {17, 18, 19, 23};
    int items = 0;
    for (int m = 0; m < CoreMenu::iCdisplaymenus; ++m)
        for (short page = 0; page < CoreStte::iCpages; ++page) {
            if (!menus[m]->iskey(page)) continue;
            ++items;
            CoreAnsx label = markedLabel(*menus[m]);
            ASSERT_FALSE(label == CoreAnsx(" "));
            for (int from : m < 5 ? std::vector<int>(std::begin(fullSet), std::end(fullSet))
                                  : std::vector<int>(std::begin(simpleSet), std::end(simpleSet))) {
                if (m == 5 && from == page) continue;
                EXPECT_EQ(table.getst(from, label), page)
                    << m << " " << label.c_str() << " " << from;
            }
        }
    EXPECT_EQ(items, 18);
}
} // namespace
