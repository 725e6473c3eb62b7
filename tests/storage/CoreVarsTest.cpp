// The batch variable store: name normalisation, replacement moving a
// variable to the end, the "0" rule, emptying and closing.

#include <gtest/gtest.h>

#include <string>

#include "storage/CoreVars.h"

namespace {
std::string str(CoreAnsx const& t) { return t.c_str(); }
} // namespace

TEST(CoreVars, NamesAreNormalisedAndRestoredNamesReplace) {
    CoreVars vars;
    vars.addit(" tempo ", "120");
    EXPECT_EQ(str(vars.getit("TEMPO")), "120");
    vars.addit("Tempo", " 90 ");
    EXPECT_EQ(str(vars.getit("tempo")), "90");
    EXPECT_EQ(str(vars.getit("  TeMpO\t")), "90");
    EXPECT_EQ(str(vars.getit("TEMP")), "");
}

TEST(CoreVars, RestoredVariableMovesToTheEndAndIsHeldOnce) {
    CoreVars vars;
    vars.addit("A", "1");
    vars.addit("B", "2");
    vars.addit("C", "3");
    vars.addit("a", "4");
    // Each name is held once; B and C keep their values.
    EXPECT_EQ(str(vars.getit("A")), "4");
    EXPECT_EQ(str(vars.getit("B")), "2");
    EXPECT_EQ(str(vars.getit("C")), "3");
    for (int i = 0; i < 100; ++i) vars.addit("LOOP", CoreAnsx(i));
    EXPECT_EQ(str(vars.getit("LOOP")), "99");
}

TEST(CoreVars, ZeroReadsEmptyAndMarkupIsKept) {
    CoreVars vars;
    vars.addit("NEXTSTEP", "0");
    EXPECT_EQ(str(vars.getit("NEXTSTEP")), "");
    vars.addit("NEXTSTEP", " 0 ");
    EXPECT_EQ(str(vars.getit("NEXTSTEP")), "0");
    vars.addit("NAME", "Bass & Drums <old>");
    EXPECT_EQ(str(vars.getit("name")), "Bass & Drums <old>");
    vars.addit("", "blank name");
    EXPECT_EQ(str(vars.getit("")), "blank name");
}

TEST(CoreVars, FreeEmptiesAndCloseIgnores) {
    CoreVars vars;
    vars.addit("LOADED", "1");
    vars.addit("ACTION", "7");
    vars.free_();
    EXPECT_EQ(str(vars.getit("LOADED")), "");
    EXPECT_EQ(str(vars.getit("ACTION")), "");
    vars.addit("LOADED", "2");
    EXPECT_EQ(str(vars.getit("LOADED")), "2");
    vars.close();
    EXPECT_EQ(str(vars.getit("LOADED")), "");
    vars.addit("LOADED", "3");
    EXPECT_EQ(str(vars.getit("LOADED")), "");
    vars.open_();
    vars.addit("LOADED", "4");
    EXPECT_EQ(str(vars.getit("LOADED")), "4");
}
