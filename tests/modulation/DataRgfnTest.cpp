#include "modulation/DataRgfn.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

using St = CoreRgfn::FUNEXTENSION;

St state(double a, double b, double* array0, int length0, double rate = 1.0) {
    return St{a, b, array0, nullptr, length0, 0, 0.125, rate, 64.0};
}

TEST(DataRgfnTest, CatalogueAndLookup) {
    DataRgfn cat;
    ASSERT_EQ(cat.getnm(), 2);
    CoreAnsx labels[2], keys[2];
    cat.getgs(labels, keys);
    EXPECT_STREQ(keys[0].c_str(), "RSINGLE");
    EXPECT_STREQ(keys[1].c_str(), "RMULTI");
    EXPECT_STREQ(labels[0].c_str(), "Raw 1 value envelope");
    EXPECT_STREQ(labels[1].c_str(), "Raw multi value envelope");
    EXPECT_STREQ(cat.getgf(CoreAnsx("RMULTI"))->getky().c_str(), "RMULTI");
    EXPECT_STREQ(cat.getgf(CoreAnsx("rmulti"))->getky().c_str(), "RSINGLE");
    EXPECT_STREQ(cat.getgf(CoreAnsx(""))->getky().c_str(), "RSINGLE");
    EXPECT_STREQ(cat.getgf(CoreAnsx("UNKNOWN"))->getky().c_str(), "RSINGLE");
}

TEST(DataRgfnTest, SingleValueUsesTheFirstValueAndRate) {
    DataRgfn cat;
    CoreRgfn* single = cat.getgf(CoreAnsx("RSINGLE"));
    double values[] = {0.5, 9.0};
    St st = state(0.9, 0.1, values, 2, 4.0);
    EXPECT_DOUBLE_EQ(single->xtfun(&st), std::exp(-0.5) - 0.5);
    st.a = 0.0; // the inputs do not enter
    EXPECT_DOUBLE_EQ(single->xtfun(&st), std::exp(-0.5) - 0.5);
    values[0] = 0.0; // exponent -infinity
    EXPECT_EQ(single->xtfun(&st), -0.5);
    values[0] = -0.0; // exponent +infinity, clamped
    EXPECT_EQ(single->xtfun(&st), 1.0);
    values[0] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(single->xtfun(&st), 0.0);
    St none = state(0.0, 0.0, nullptr, 0);
    EXPECT_EQ(single->xtfun(&none), 0.125); // nothing to play: the last value stands
}

TEST(DataRgfnTest, MultiValueReadsTheTableAfterItsFirstEntry) {
    DataRgfn cat;
    CoreRgfn* multi = cat.getgf(CoreAnsx("RMULTI"));
    double table[11];
    for (int i = 0; i < 11; ++i) table[i] = 0.05 * i + 0.02;
    St st = state(0.0, 0.5, table, 11);
    EXPECT_DOUBLE_EQ(multi->xtfun(&st), table[1]); // input A at -1
    st = state(1.0, 1.0, table, 11);
    EXPECT_DOUBLE_EQ(multi->xtfun(&st), table[10]); // far past the end
    // Position a x 1e8 / (1 / b) = 2.5: halfway between entries 3 and 4.
    st = state(5e-8, 0.5, table, 11);
    EXPECT_NEAR(multi->xtfun(&st), 0.5 * (table[3] + table[4]), 1e-12);
    st = state(0.0, 0.0, table, 11); // step of 1/0
    EXPECT_DOUBLE_EQ(multi->xtfun(&st), table[1]);
}

TEST(DataRgfnTest, MultiValueEdgeTables) {
    DataRgfn cat;
    CoreRgfn* multi = cat.getgf(CoreAnsx("RMULTI"));
    double one[] = {0.7};
    St st = state(0.0, 1.0, one, 1);
    EXPECT_EQ(multi->xtfun(&st), 0.7);
    double loud[] = {0.0, 3.0, -4.0};
    st = state(0.0, 1.0, loud, 3);
    EXPECT_EQ(multi->xtfun(&st), 1.0);
    st = state(1.0, 1.0, loud, 3);
    EXPECT_EQ(multi->xtfun(&st), -1.0);
    st = state(std::numeric_limits<double>::quiet_NaN(), 1.0, loud, 3);
    EXPECT_EQ(multi->xtfun(&st), 0.125);
    st = state(-50.0, 1.0, loud, 3); // a constant far below -1 upstream
    EXPECT_EQ(multi->xtfun(&st), 1.0);
    st = state(1e30, 1e30, loud, 3);
    EXPECT_EQ(multi->xtfun(&st), -1.0);
    double tiny[] = {0.0, 1e-310, 1e-310};
    st = state(0.0, 1.0, tiny, 3);
    double const r = multi->xtfun(&st);
    EXPECT_EQ(r, 0.0);
    EXPECT_FALSE(std::signbit(r));
    st = state(0.0, 1.0, nullptr, 0);
    EXPECT_EQ(multi->xtfun(&st), 0.125);
}

} // namespace
