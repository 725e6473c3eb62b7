// ctest-labels: threads
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "runtime/CoreAtom.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreSmph.h"
#include "runtime/CoreXutl.h"

TEST(CoreAtom, ReturnsTheNewValue) {
    int value = 5;
    EXPECT_EQ(ininc(&value), 6);
    EXPECT_EQ(indec(&value), 5);
    EXPECT_EQ(indec(&value), 4);
}

TEST(CoreSmph, TryLockOnHeldLockFailsAndLeavesItHeld) {
    CoreSmph lock;
    EXPECT_TRUE(lock.locka());
    EXPECT_FALSE(lock.locka());
    EXPECT_FALSE(lock.locka());
    // The failed tries undid themselves: one release frees it again.
    EXPECT_EQ(lock.relse(), 1);
    EXPECT_TRUE(lock.locka());
    EXPECT_EQ(lock.relse(), 1);
}

TEST(CoreSmph, ReleaseHasNoOwnerCheck) {
    CoreSmph lock;
    EXPECT_EQ(lock.locks(), 0);
    EXPECT_EQ(lock.relse(), 1);
    EXPECT_EQ(lock.relse(), 2);
    // With the counter at 2 two holders fit at once.
    EXPECT_TRUE(lock.locka());
    EXPECT_TRUE(lock.locka());
    EXPECT_FALSE(lock.locka());
}

TEST(CoreSmph, TimedLockZeroBreaksHeldLockAfterOneSleep) {
    CoreSmph lock;
    EXPECT_EQ(lock.locks(0), 0); // free: taken at once, no break
    EXPECT_EQ(lock.geter(), 0);
    double before = CoreXutl::tgtme();
    EXPECT_EQ(lock.locks(0), 0);
    double waited = CoreXutl::tgtme() - before;
    EXPECT_EQ(lock.geter(), 1);
    EXPECT_GE(waited, 0.9);    // one 1 ms sleep at least
    EXPECT_LT(waited, 5000.0); // and no endless wait
    // Held by force: the counter is 0, not -1 or 1.
    EXPECT_FALSE(lock.locka());
    EXPECT_EQ(lock.relse(), 1);
    // The former holder's late release then leaves it at 2.
    EXPECT_EQ(lock.relse(), 2);
}

TEST(CoreSmph, TimedLockWaitsForAReleaseWithinTheLimit) {
    CoreSmph lock;
    lock.locks();
    std::thread holder([&lock] {
        CoreXutl::sleep(20);
        lock.relse();
    });
    lock.locks(60000);
    holder.join();
    EXPECT_EQ(lock.geter(), 0);
    EXPECT_EQ(lock.relse(), 1);
}

TEST(CoreSmph, DebugLockCountsItsSleeps) {
    CoreSmph lock;
    EXPECT_EQ(lock.debgl(), 0);
    std::atomic<bool> waiting{false};
    std::thread holder([&] {
        while (!waiting.load()) CoreXutl::sleep(1);
        CoreXutl::sleep(30);
        lock.relse();
    });
    waiting = true;
    EXPECT_GT(lock.debgl(), 0);
    holder.join();
    EXPECT_EQ(lock.relse(), 1);
}

TEST(CoreSmph, FourThreadsOfGuardedIncrementsLoseNothing) {
    CoreSmph lock;
    long total = 0; // plain: only the lock orders it
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < 100000; ++i) { // the odd threads in pauses of 0.1 ms
                CoreSmgd guard = t % 2 == 0 ? CoreSmgd(lock) : CoreSmgd(lock, CoreSmgd::BRIEF{});
                long seen = total;
                total = seen + 1;
            }
        });
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(total, 400000);
    EXPECT_EQ(lock.geter(), 0);
    EXPECT_EQ(lock.relse(), 2); // the guards left it free (1)
}

TEST(CoreSmgd, ReleasesOnEveryExit) {
    CoreSmph lock;
    try {
        CoreSmgd guard(lock);
        EXPECT_FALSE(lock.locka());
        throw std::runtime_error("leave");
    } catch (std::runtime_error const&) {
    }
    EXPECT_TRUE(lock.locka());
    lock.relse();

    lock.locks();
    {
        CoreSmgd forced(lock, 0); // breaks the held lock, then releases it
        EXPECT_EQ(lock.geter(), 1);
    }
    EXPECT_TRUE(lock.locka());
    {
        CoreSmgd adopted(lock, CoreSmgd::ADOPT{}); // the try above holds it: nothing taken again
        EXPECT_FALSE(lock.locka());
    }
    EXPECT_TRUE(lock.locka());
}
