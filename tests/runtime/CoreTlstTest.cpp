#include "runtime/CoreTlst.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CoreVutl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {
void* tag(std::uintptr_t n) { return reinterpret_cast<void*>(n); }
} // namespace

TEST(CoreTlst, GrowsInStepsOfFourAndKeepsItsHighWaterAcrossClear) {
    CoreTlst list;
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.capacity(), 0);
    for (std::uintptr_t i = 1; i <= 5; ++i) EXPECT_EQ(list.Add(tag(i)), 1);
    EXPECT_EQ(list.capacity(), 8);
    EXPECT_EQ(list.mincapacity, 8);
    list.Clear();
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.capacity(), 0);
    list.Add(tag(9));
    EXPECT_EQ(list.capacity(), 8); // the high-water mark, not 4
    EXPECT_EQ(list[0], tag(9));
}

TEST(CoreTlst, PresetMinimumReservesAtFirstGrowth) {
    CoreTlst list;
    list.mincapacity = 10000;
    list.Add(tag(1));
    EXPECT_EQ(list.capacity(), 10000);
    for (std::uintptr_t i = 2; i <= 10001; ++i) list.Add(tag(i));
    EXPECT_EQ(list.capacity(), 10004);
    EXPECT_EQ(list[10000], tag(10001));
}

TEST(CoreTlst, DeleteAtBoundaries) {
    CoreTlst list;
    list.Add(tag(1));
    list.Delete(1); // not below count: nothing happens
    list.Delete(-1);
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list[0], tag(1));
    list.Delete(0);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.capacity(), 0); // emptying releases the array
    EXPECT_EQ(list.mincapacity, 4);
    list.Delete(0);
    EXPECT_EQ(list.count, 0);
}

TEST(CoreTlst, GrowSetsCountWithEmptySlots) {
    CoreTlst list;
    list.Add(tag(7));
    list.grow_(6);
    EXPECT_EQ(list.count, 6);
    EXPECT_EQ(list.capacity(), 8);
    EXPECT_EQ(list[0], tag(7));
    for (unsigned i = 1; i < 6; ++i) EXPECT_EQ(list[i], nullptr);
    list.grow_(-3);
    EXPECT_EQ(list.count, 0);
    // A count whose slot array cannot be addressed is a failed request.
    list.Add(tag(1));
    EXPECT_THROW(list.grow_(std::numeric_limits<int>::max()), CoreAnsx);
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list[0], tag(1));
}

TEST(CoreTlst, MatchesAPlainVectorUnderRandomEdits) {
    std::mt19937 random(12345);
    CoreTlst list;
    std::vector<void*> model;
    for (int step = 0; step < 5000; ++step) {
        int const action = static_cast<int>(random() % 10);
        if (action < 6) {
            void* item = tag(random() | 1);
            list.Add(item);
            model.push_back(item);
        } else if (action < 9) {
            int const index = static_cast<int>(random() % (model.size() + 2)) - 1;
            list.Delete(index);
            if (index >= 0 && index < static_cast<int>(model.size()))
                model.erase(model.begin() + index);
        } else if (step % 7 == 0) {
            list.Clear();
            model.clear();
        }
        ASSERT_EQ(list.count, static_cast<int>(model.size()));
        ASSERT_GE(list.capacity(), list.count);
        ASSERT_EQ(list.capacity() % 4, 0);
    }
    for (unsigned i = 0; i < model.size(); ++i) EXPECT_EQ(list[i], model[i]);
}

TEST(CoreTlst, FailedGrowthThrowsAndLeavesTheListWhole) {
    CoreTlst list;
    for (std::uintptr_t i = 1; i <= 4; ++i) list.Add(tag(i));
    CoreVutl::failNextReallocs(10);
    try {
        list.Add(tag(5));
        FAIL() << "no exception";
    } catch (CoreAnsx const& report) {
        EXPECT_STREQ(report.c_str(), "Memory request failed 64");
    }
    CoreVutl::failNextReallocs(0);
    EXPECT_EQ(list.count, 4);
    EXPECT_EQ(list.capacity(), 4);
    EXPECT_EQ(list[3], tag(4));
    list.Add(tag(5));
    EXPECT_EQ(list[4], tag(5));
}
