// ctest-labels: threads
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/PlatMemory.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "tests/support/TempDir.h"

namespace {
namespace fs = std::filesystem;

// Logs into a fresh temporary folder, with no retry pause; restores both.
class CorePoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoreLog_::setpt(CoreAnsx((folder.string() + "/").c_str()));
        CoreLog_::setdb(0, false);
        CorePool::iVretrypause = 0;
        PlatMemory::failNext(0);
    }
    void TearDown() override {
        PlatMemory::failNext(0);
        CorePool::iVretrypause = 100;
        CoreLog_::setdb(0, false);
        CoreLog_::setpt(CoreAnsx(""));
    }
    // Log lines containing needle.
    std::vector<std::string> linesWith(std::string const& needle) const {
        std::vector<std::string> found;
        std::ifstream in(folder / CoreLog_::getfn().c_str());
        for (std::string line; std::getline(in, line);)
            if (line.find(needle) != std::string::npos) found.push_back(line);
        return found;
    }
    // What a request throws, "" when it succeeds.
    static std::string failureOf(CorePool& pool, short kind, int count) {
        try {
            pool.mallc(kind, count, "TEST", CoreAnsx("test"));
        } catch (CoreAnsx const& report) {
            return report.c_str();
        }
        return "";
    }
    static std::string addr(void* p) { return std::to_string(reinterpret_cast<uintptr_t>(p)); }

    TempDir temp;
    fs::path const folder{temp.path()};
};

TEST_F(CorePoolTest, HundredDoublesAreEightHundredTwentyBytesAligned) {
    CorePool pool;
    double* samples = static_cast<double*>(pool.mallc(0, 100, "WAVE", CoreAnsx("read")));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(samples) % 16, 0u);
    for (int i = 0; i < 100; ++i) // the sanitizer checks the extent
        samples[i] = i;
    EXPECT_EQ(pool.getma(), 820);
    void* small = pool.mallc(1, 10, "B", CoreAnsx("x")); // 60
    pool.free_(samples);
    void* middle = pool.mallc(6, 200, "C", CoreAnsx("x")); // 420
    EXPECT_EQ(pool.getma(), 480);
    EXPECT_EQ(pool.getxa(), 880);
    EXPECT_EQ(pool.getxr(), 820);
    pool.free_(small);
    pool.free_(middle);
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(CorePoolTest, EveryKindCountsItsElementSizePlusTwenty) {
    // Element sizes written out independently of getdm.
    long const size[] = {0 /* -1 */, 8, 4, 4, 4, 1, 1, 2, 0 /* 7 */, 0 /* 8 */};
    CorePool pool;
    long expected = 0;
    std::vector<void*> blocks;
    for (short kind = -1; kind <= 8; ++kind) {
        EXPECT_EQ(CorePool::getdm(kind), size[kind + 1]);
        for (int count : {0, 3, 1000}) {
            void* block = pool.mallc(kind, count, "KIND", CoreAnsx("x"));
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
            std::memset(block, 0xA5, size_t(size[kind + 1] * count));
            expected += size[kind + 1] * count + 20;
            blocks.push_back(block);
        }
    }
    EXPECT_EQ(pool.getma(), expected);
    for (void* block : blocks) pool.free_(block);
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(CorePoolTest, DoubleFreeAndForeignPointerAreOnlyLogged) {
    CoreLog_::setdb(1, false);
    CorePool pool;
    void* keep = pool.mallc(4, 10, "KEEP", CoreAnsx("x"));
    void* block = pool.mallc(0, 4, "FREE", CoreAnsx("x"));
    pool.free_(block);
    pool.free_(block);
    int onStack = 0;
    pool.free_(&onStack);
    EXPECT_EQ(pool.getma(), 30);
    auto errors = linesWith("memory release error");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("***ERROR***> memory release error (left 1)"), std::string::npos);
    pool.free_(keep);
}

TEST_F(CorePoolTest, InjectedFailureThrowsAfterSixAttemptsWithPoolUnchanged) {
    CoreLog_::setdb(2, false);
    CorePool pool;
    void* live = pool.mallc(0, 10, "LIVE", CoreAnsx("x")); // 100
    PlatMemory::failNext(1 + CorePool::iCattempts);
    EXPECT_EQ(failureOf(pool, 0, 100), "Memory request failed 820");
    EXPECT_EQ(pool.getma(), 100);
    EXPECT_EQ(pool.getxa(), 100);
    EXPECT_EQ(pool.getxr(), 100);
    EXPECT_EQ(linesWith("***ERROR***> Memory request failed 820").size(), 1u);
    EXPECT_EQ(linesWith(">memory alloct: 100<").size(), 1u);
    // One failure fewer: the last retry succeeds.
    PlatMemory::failNext(CorePool::iCattempts);
    void* late = pool.mallc(0, 100, "LATE", CoreAnsx("x"));
    EXPECT_EQ(pool.getma(), 920);
    pool.free_(late);
    pool.free_(live);
}

TEST_F(CorePoolTest, NegativeOversizedAndCappedRequestsAreRefusedUnchanged) {
    CorePool pool;
    void* live = pool.mallc(1, 5, "LIVE", CoreAnsx("x")); // 40
    EXPECT_EQ(failureOf(pool, 0, -100), "Memory request failed -780");
    EXPECT_EQ(failureOf(pool, 7, -1), "Memory request failed 20");
    EXPECT_EQ(failureOf(pool, 0, 300000000), "Memory request failed 2400000020");
    EXPECT_EQ(failureOf(pool, 4, INT_MAX), "Memory request failed 2147483667");
    EXPECT_EQ(pool.getma(), 40);
    EXPECT_EQ(pool.getxr(), 40);
    void* none = pool.mallc(7, INT_MAX, "NONE", CoreAnsx("x")); // 0-byte elements fit
    pool.setal(60);
    void* over = pool.mallc(0, 1, "OVER", CoreAnsx("x")); // 60 now, not above the cap yet
    EXPECT_EQ(failureOf(pool, 0, 1), "Memory request failed 28");
    EXPECT_EQ(pool.getma(), 88);
    EXPECT_TRUE(linesWith("").empty()); // debug level 0: failures throw but log nothing
    for (void* block : {live, none, over}) pool.free_(block);
}

TEST_F(CorePoolTest, DestructionReportsAndReleasesLiveBlocks) {
    CoreLog_::setdb(2, false);
    void* first = nullptr;
    void* second = nullptr;
    {
        CorePool pool;
        first = pool.mallc(0, 100, "WAVE", CoreAnsx("x"));
        void* const between = pool.mallc(4, 2, "BETWEEN", CoreAnsx("x"));
        second = pool.mallc(6, 3, "LONGTAGNAME", CoreAnsx("x"));
        pool.free_(between); // the chain closes over a block released from its middle
        pool.free_(pool.mallc(4, 1, "GONE", CoreAnsx("x")));
    } // LeakSanitizer fails the program if these blocks were not released.
    auto left = linesWith("pool locations left: ");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0].find(">pool locations left: 2<"), std::string::npos);
    auto blocks = linesWith("left memory block: ");
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_NE(blocks[0].find(">left memory block: 0 WAVE 100 " + addr(first) + "<"),
              std::string::npos);
    EXPECT_NE(blocks[1].find(">left memory block: 6 LONGTAG 3 " + addr(second) + "<"),
              std::string::npos);
    EXPECT_TRUE(linesWith("memory release error").empty());
}

TEST_F(CorePoolTest, ConcurrentRequestsKeepTheCountsConsistent) {
    CorePool pool;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&pool, t] {
            std::vector<void*> held;
            for (int i = 0; i < 500; ++i) {
                held.push_back(pool.mallc(short(t), 10 + i % 7, "THRD", CoreAnsx("x")));
                if (held.size() > 8) {
                    pool.free_(held.front());
                    held.erase(held.begin());
                }
            }
            for (void* block : held) pool.free_(block);
        });
    }
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(pool.getma(), 0);
    EXPECT_EQ(pool.getxr(), 8 * 16 + 20);
}
} // namespace
