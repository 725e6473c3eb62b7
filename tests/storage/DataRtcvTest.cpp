// The recipe table: lookup rules and cache, ratios that follow the factors
// and reach each row's documented rate, safe answers for missing rows.
#include <gtest/gtest.h>

#include "runtime/CorePool.h"
#include "storage/DataRtcv.h"
#include "tests/support/RtcvRates.h"

TEST(DataRtcv, LookupPicksTheClosestRowOnlyWhenCloserThanTheRates) {
    CorePool pool;
    DataRtcv table(&pool);
    EXPECT_EQ(table.getpt(44100, 48000), 9);
    EXPECT_EQ(table.getpt(44100, 48000), 9); // cached
    EXPECT_EQ(table.getpt(44100, 44100), -1);
    EXPECT_EQ(table.getpt(44100, 44100), -1); // a cached miss stays a miss
    EXPECT_EQ(table.getpt(44000, 48000), 9);
    EXPECT_EQ(table.getpt(192000, 96000), 55);
    EXPECT_EQ(table.getpt(176400, 192000), 49);
    EXPECT_EQ(table.getpt(44100, 44110), -1); // no row is closer than 10 Hz
}

TEST(DataRtcv, EveryRowReachesItsDocumentedRate) {
    CorePool pool;
    DataRtcv table(&pool);
    for (int row = 0; row < DataRtcv::iCcount; ++row) {
        const double from = fromRate(row), to = table.geter(row);
        EXPECT_EQ(table.getpt(from, to), row);
        const short count = table.getst(row);
        ASSERT_TRUE(count == 1 || count == 2 || count == 4 || count == 6) << row;
        for (short k = count; k < 6; ++k) EXPECT_EQ(table.getfc(row, k), -1) << row;
        double ratio = 1.0; // recomputed from the factors
        if (!table.getfi(row))
            ratio = 1.0 / table.getfc(row, 0);
        else
            for (short k = 0; k < count; ++k)
                ratio = (k % 2 == 0) ? ratio * table.getfc(row, k) : ratio / table.getfc(row, k);
        EXPECT_DOUBLE_EQ(table.getcf(row), ratio) << row;
        EXPECT_NEAR(from * table.getcf(row), documentedRate(row, to), 1e-9 * to) << row;
    }
    EXPECT_DOUBLE_EQ(48000.0 * table.getcf(63), 352800.0);
    EXPECT_NEAR(352800.0 * table.getcf(72), 44200.2272727, 1e-6);
}

TEST(DataRtcv, InvalidRowsAnswerSafely) {
    CorePool pool;
    DataRtcv table(&pool);
    EXPECT_EQ(table.getst(86), 0);
    EXPECT_EQ(table.getst(-1), 0);
    EXPECT_FALSE(table.getfi(100));
    EXPECT_EQ(table.getfc(0, 6), -1);
    EXPECT_EQ(table.geter(-3), 0.0);
    EXPECT_EQ(table.getcf(86), 0.0);
}
