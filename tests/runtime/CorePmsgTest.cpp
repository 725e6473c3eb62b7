// ctest-labels: threads
// Message rows and the guarded flag: the small hand-offs between the engine's
// threads and the display.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "runtime/CoreAnsx.h"
#include "runtime/CorePbol.h"
#include "runtime/CorePmsg.h"

namespace {
std::vector<std::string> allRows(CorePmsg& rows) {
    std::vector<CoreAnsx> copy(size_t(rows.getrw()));
    rows.getrw(copy.data());
    std::vector<std::string> texts;
    for (auto const& text : copy) texts.push_back(text.c_str());
    return texts;
}

using Rows = std::vector<std::string>;

TEST(CorePmsg, OldestMessageIsDroppedWhenFull) {
    CorePmsg rows(3, 256);
    EXPECT_EQ(allRows(rows), (Rows{"", "", ""}));
    rows.addrw(CoreAnsx("A"));
    rows.addrw(CoreAnsx("B"));
    EXPECT_EQ(allRows(rows), (Rows{"A", "B", ""}));
    rows.addrw(CoreAnsx("C"));
    rows.addrw(CoreAnsx("D"));
    EXPECT_EQ(allRows(rows), (Rows{"B", "C", "D"}));
    EXPECT_EQ(rows.getrw(), 3);
    rows.clear();
    rows.addrw(CoreAnsx("E"));
    EXPECT_EQ(allRows(rows), (Rows{"E", "", ""}));

    CorePmsg one(1, 256);
    one.addrw(CoreAnsx("first"));
    one.addrw(CoreAnsx("second"));
    EXPECT_EQ(allRows(one), (Rows{"second"}));
}

TEST(CorePmsg, LongMessagesKeepTheirTail) {
    CorePmsg rows(4, 5);
    rows.addrw(CoreAnsx("abcdefgh"));
    rows.addrw(CoreAnsx("vwxyz"));
    rows.addrw(CoreAnsx(""));
    rows.addrw(CoreAnsx()); // never assigned
    EXPECT_EQ(allRows(rows), (Rows{"defgh", "vwxyz", "", ""}));
}

TEST(CorePmsg, BadIndexesAndSizesAreSafe) {
    CorePmsg rows(2, 10);
    rows.addrw(CoreAnsx("x"));
    for (short index : {short(-1), short(2), short(32767)})
        EXPECT_STREQ(rows.getrw(index).c_str(), "") << index;
    EXPECT_STREQ(rows.getrw(short(0)).c_str(), "x");

    CorePmsg none(0, 10);
    none.addrw(CoreAnsx("lost"));
    EXPECT_EQ(none.getrw(), 0);
    EXPECT_STREQ(none.getrw(short(0)).c_str(), "");
    CorePmsg negative(-3, -4);
    negative.addrw(CoreAnsx("lost"));
    EXPECT_EQ(negative.getrw(), 0);
}

TEST(CorePmsg, ConcurrentWritersAndReaderSeeWholeMessages) {
    CorePmsg rows(3, 16);
    auto writer = [&rows](char name) {
        for (int i = 0; i < 2000; ++i) rows.addrw(CoreAnsx(name) + CoreAnsx(i));
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    for (int i = 0; i < 2000; ++i) {
        for (auto const& text : allRows(rows)) {
            if (text.empty()) continue;
            ASSERT_TRUE(text[0] == 'a' || text[0] == 'b') << text;
            ASSERT_LT(std::stoi(text.substr(1)), 2000) << text;
        }
    }
    first.join();
    second.join();
    std::string newest = allRows(rows)[2];
    EXPECT_TRUE(newest == "a1999" || newest == "b1999") << newest;
}

TEST(CorePbol, SetterAndPollerOnTwoThreads) {
    CorePbol flag(false);
    EXPECT_FALSE(flag.getvl());
    std::thread setter([&flag] {
        for (int i = 0; i < 10000; ++i) flag.setvl(i % 2 == 0);
        flag.setvl(true);
    });
    for (int i = 0; i < 10000; ++i) (void)flag.getvl();
    setter.join();
    EXPECT_TRUE(flag.getvl());
    flag.setvl(false);
    EXPECT_FALSE(flag.getvl());
}
} // namespace
