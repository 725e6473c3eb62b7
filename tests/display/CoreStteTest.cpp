// The display's page transition table: first match wins, and the changed flag.
#include <gtest/gtest.h>

#include "display/CoreStte.h"

namespace {
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

} // namespace
