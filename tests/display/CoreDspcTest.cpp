// ctest-labels: threads
// The input mailbox: records by id, oldest first, taken from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "display/CoreDspc.h"

namespace {
CoreDspc::MESSAGELOC record(short id, int word1) {
    CoreDspc::MESSAGELOC r{};
    r.id = std::uint16_t(id);
    r.word1 = word1;
    return r;
}

TEST(CoreDspc, RecordsComeOutByIdOldestFirst) {
    CoreDspc mailbox;
    CoreDspc::MESSAGELOC out = record(9, 99);
    EXPECT_FALSE(mailbox.getms(0, &out));
    EXPECT_EQ(out.word1, 99); // untouched

    for (auto r : {record(0, 1), record(3, 2), record(0, 3)}) mailbox.addms(&r);
    ASSERT_TRUE(mailbox.getms(0, &out));
    EXPECT_EQ(out.word1, 1);
    mailbox.clrms(1); // no such records: nothing changes
    mailbox.clrms(0);
    EXPECT_FALSE(mailbox.getms(0, &out));
    ASSERT_TRUE(mailbox.getms(3, &out));
    EXPECT_EQ(out.word1, 2);
    EXPECT_FALSE(mailbox.getms(3, &out));
    EXPECT_FALSE(mailbox.getms(3, nullptr));
    mailbox.addms(nullptr);

    // Any 20 bytes travel whole, padding included.
    unsigned char bytes[20] = {4, 0};
    for (int i = 2; i < 20; ++i) bytes[i] = static_cast<unsigned char>(i * 37 + 5);
    CoreDspc::MESSAGELOC in;
    std::memcpy(&in, bytes, sizeof(in));
    mailbox.addms(&in);
    mailbox.addms(&in); // left in the mailbox: its destructor frees it
    ASSERT_TRUE(mailbox.getms(4, &out));
    EXPECT_EQ(std::memcmp(&out, bytes, sizeof(bytes)), 0);
}

TEST(CoreDspc, TakesAcrossThreadsKeepOrder) {
    CoreDspc mailbox;
    constexpr int posts = 10000;
    std::atomic<bool> done{false};
    auto isClick = [](int i) { return i % 3 == 0 || i % 7 == 0; };
    std::thread writer([&] {
        for (int i = 0; i < posts; ++i) {
            auto r = record(isClick(i) ? 0 : 3, i); // clicks and wheel steps
            mailbox.addms(&r);
        }
        done = true;
    });
    std::vector<int> wheel;
    int lastClick = -1;
    for (bool finished = false; !finished;) {
        finished = done; // one more pass after the writer ends drains everything
        CoreDspc::MESSAGELOC out;
        if (mailbox.getms(0, &out)) { // take one, drop the rest
            EXPECT_GT(out.word1, lastClick);
            lastClick = out.word1;
            mailbox.clrms(0);
        }
        while (mailbox.getms(3, &out)) wheel.push_back(out.word1); // take all
    }
    writer.join();
    std::vector<int> posted;
    for (int i = 0; i < posts; ++i)
        if (!isClick(i)) posted.push_back(i);
    EXPECT_EQ(wheel, posted);
    CoreDspc::MESSAGELOC out;
    EXPECT_FALSE(mailbox.getms(0, &out));
}
} // namespace
