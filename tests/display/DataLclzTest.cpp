// The display texts: every list filled to its count, spot checks kept exact.
#include <gtest/gtest.h>

#include "display/DataLclz.h"

namespace {
TEST(DataLclz, EveryListIsFilledToItsCount) {
    struct List {
        CoreAnsx const* entries;
        int count, expectedCount, index;
        char const* expected;
    } const lists[] = {
        {DataLclz::sCgeneoffon, DataLclz::iCgeneoffon, 2, 1, "ON "},
        {DataLclz::sCkernhdim, DataLclz::iCkernhdim, 21, 14, "14(13rd)"},
        {DataLclz::sCmastmode, DataLclz::iCmastmode, 2, 1, "1 Guru         "},
        {DataLclz::sCmastmetertype, DataLclz::iCmastmetertype, 9, 4, "4 RMS 17    "},
        {DataLclz::sCmastoptimization, DataLclz::iCmastoptimization, 15, 9, "10IPPS pa 2Mono"},
        {DataLclz::sCmastaudioquality, DataLclz::iCmastaudioquality, 5, 4, "5"},
        {DataLclz::sCmasthdim, DataLclz::iCmasthdim, 20, 10, "11 (10th hrm)"},
        {DataLclz::sCmastboot, DataLclz::iCmastboot, 2, 0, "0 slow"},
        {DataLclz::sCmastscanboot, DataLclz::iCmastscanboot, 2, 1, "1 recovery"},
        {DataLclz::sCmastforcerate, DataLclz::iCmastforcerate, 2, 1, "1 yes"},
        {DataLclz::sCmastnodrop, DataLclz::iCmastnodrop, 2, 0, "0 no"},
        {DataLclz::sCmastthreadpriority, DataLclz::iCmastthreadpriority, 5, 4, "4 highest"},
        {DataLclz::sCmastdspbuffers, DataLclz::iCmastdspbuffers, 7, 6, "8192"},
        {DataLclz::sClfo_ratequantize, DataLclz::iClfo_ratequantize, 8, 0, "-1"},
        {DataLclz::sCglobsmooth, DataLclz::iCglobsmooth, 31, 30, "EXPDB"},
        {DataLclz::sCdiskbank, DataLclz::iCdiskbank, 10, 9, "000..099"},
        {DataLclz::sCaboulines, DataLclz::iCaboulines, 9, -1, nullptr},
        {DataLclz::sCevf_type, DataLclz::iCevf_type, 10, 8, "TRMS 17"},
        {DataLclz::sCevf_order, DataLclz::iCevf_order, 5, 4, "8"},
        {DataLclz::sCenv_attacksmooth, DataLclz::iCenv_attacksmooth, 1, 0, "JOIN"},
        {DataLclz::sCenv_curve, DataLclz::iCenv_curve, 10, 9, "EXP"},
        {DataLclz::sCdyn_type, DataLclz::iCdyn_type, 2, 1, "EXPN"},
        {DataLclz::sCdyn_curve, DataLclz::iCdyn_curve, 10, 1, "ANALOG"},
        {DataLclz::sCprm2prelabel, DataLclz::iCprm2prelabel, 9, 0, "No "},
    };
    for (List const& list : lists) {
        EXPECT_EQ(list.count, list.expectedCount);
        // An entry the definition left out would be an unassigned text.
        for (int i = 0; i < list.count; ++i)
            EXPECT_GT(list.entries[i].Length(), 0) << list.expectedCount << " " << i;
        if (list.expected != nullptr) {
            EXPECT_STREQ(list.entries[list.index].c_str(), list.expected);
        }
    }
    for (int i = 0; i < DataLclz::iCaboulines; ++i)
        EXPECT_LE(DataLclz::sCaboulines[i].Length(), 58) << i; // fits the screen
}

} // namespace
