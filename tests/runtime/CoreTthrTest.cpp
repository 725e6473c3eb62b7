// ctest-labels: threads
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <pthread.h>
#include <sched.h>

#include "runtime/CoreAnsx.h"
#include "runtime/CoreTthr.h"
#include "runtime/CoreXutl.h"

namespace {

// Counts its runs; with `loop` it polls terminated like the system's threads.
class Counting final : public CoreTthr {
public:
    Counting(bool suspended, bool loop, std::atomic<int>& runs)
        : CoreTthr(suspended), loop(loop), runs(runs) {}
    void Execute() override {
        runs.fetch_add(1);
        while (loop && terminated.load() == 0) CoreXutl::sleep(1);
    }

private:
    bool loop;
    std::atomic<int>& runs;
};

// Sets a member at the end of its constructor and resumes itself last, as
// the system's threads do: Execute must see the whole object.
class SelfStarting final : public CoreTthr {
public:
    SelfStarting() : CoreTthr(false) {
        CoreXutl::sleep(20); // a slow constructor widens any start race
        ready = 7;
        Resume();
    }
    void Execute() override { seen = ready; }
    int seen = -1;

private:
    int ready = 0;
};

class Throwing final : public CoreTthr {
public:
    explicit Throwing(bool foreign = false) : CoreTthr(true), foreign(foreign) {}
    void Execute() override {
        if (foreign) throw 42; // neither a report nor a standard exception
        throw CoreAnsx("broken");
    }

private:
    bool foreign;
};

// Waits at an explicit cancellation point for ever (a blocking call the
// thread checker intercepts would hide from it what the cancelled thread
// does next); its guard is destroyed only when a cancellation unwinds the
// thread.
class Waiting final : public CoreTthr {
public:
    Waiting(std::atomic<bool>& running, std::atomic<bool>& unwound)
        : CoreTthr(false), running(running), unwound(unwound) {}
    void Execute() override {
        struct Guard {
            std::atomic<bool>& flag;
            ~Guard() { flag.store(true); }
        } guard{unwound};
        running.store(true);
        for (;;) {
            pthread_testcancel();
            sched_yield();
        }
    }

private:
    std::atomic<bool>& running;
    std::atomic<bool>& unwound;
};

} // namespace

TEST(CoreTthr, SuspendedThreadRunsOnlyAfterResumeAndOnce) {
    std::atomic<int> runs{0};
    Counting thread(true, false, runs);
    CoreXutl::sleep(30);
    EXPECT_EQ(runs.load(), 0);
    thread.Resume();
    thread.Resume(); // second Resume does nothing
    thread.WaitFor();
    EXPECT_EQ(runs.load(), 1);
    thread.Resume(); // nor after the end
    thread.WaitFor();
    CoreXutl::sleep(10);
    EXPECT_EQ(runs.load(), 1);
}

TEST(CoreTthr, TerminateIsSeenByThePollingLoop) {
    std::atomic<int> runs{0};
    Counting thread(true, true, runs);
    thread.Resume();
    while (runs.load() == 0) CoreXutl::sleep(1);
    thread.Terminate();
    thread.WaitFor(); // returns only because Execute saw the flag
    EXPECT_EQ(runs.load(), 1);
}

TEST(CoreTthr, SeveralWaitersAllReturn) {
    std::atomic<int> runs{0};
    Counting thread(true, true, runs);
    thread.Resume();
    std::atomic<int> returned{0};
    std::thread first([&] {
        thread.WaitFor();
        returned.fetch_add(1);
    });
    std::thread second([&] {
        thread.WaitFor();
        returned.fetch_add(1);
    });
    CoreXutl::sleep(20);
    thread.Terminate();
    first.join();
    second.join();
    EXPECT_EQ(returned.load(), 2);
}

TEST(CoreTthr, ThreadSeesTheCompleteDerivedObject) {
    SelfStarting thread;
    thread.WaitFor();
    EXPECT_EQ(thread.seen, 7);
}

TEST(CoreTthr, WaitForStartsARunningThreadAndSkipsASuspendedOne) {
    std::atomic<int> runs{0};
    Counting running(false, false, runs);
    running.WaitFor();
    EXPECT_EQ(runs.load(), 1);
    Counting suspended(true, false, runs);
    suspended.WaitFor(); // never started: nothing to wait for
    EXPECT_EQ(runs.load(), 1);
}

TEST(CoreTthr, TwoThousandLifetimesInARowAllRun) {
    std::atomic<int> runs{0};
    for (int i = 0; i < 2000; ++i) {
        auto* thread = new Counting(true, false, runs);
        thread->Resume();
        thread->Terminate();
        thread->WaitFor();
        delete thread;
    }
    EXPECT_EQ(runs.load(), 2000);
}

TEST(CoreTthr, FailedCreationIsReportedAndWaitForReturns) {
    std::atomic<int> runs{0};
    CoreTthr::failNextCreate(1);
    {
        Counting thread(true, false, runs);
        EXPECT_FALSE(thread.alive()); // not started yet
        thread.Resume();
        EXPECT_FALSE(thread.alive()); // refused: nothing runs
        thread.WaitFor();
        EXPECT_EQ(runs.load(), 0);
        thread.Resume(); // the object stays spent
        thread.WaitFor();
        EXPECT_EQ(runs.load(), 0);
    }
    Counting next(true, false, runs); // the hook is used up
    next.Resume();
    next.WaitFor();
    EXPECT_FALSE(next.alive()); // finished
    EXPECT_EQ(runs.load(), 1);
}

TEST(CoreTthr, ErrorInExecuteEndsOnlyThatThread) {
    Throwing thread;
    thread.Resume();
    thread.WaitFor();
    Throwing other(true); // would end the process if it left the thread
    other.Resume();
    other.WaitFor();
    SUCCEED();
}

TEST(CoreTthr, PriorityTableTruncatesTowardZero) {
    const int expected[5] = {15, 23, 31, 39, 47};
    for (int level = 0; level < 5; ++level)
        EXPECT_EQ(CoreTthr::prlvl(15, 47, level), expected[level]) << level;
    // -10 + 0.25 * 15 = -6.25: toward zero is -6 (flooring would give -7).
    EXPECT_EQ(CoreTthr::prlvl(-10, 5, 1), -6);
    EXPECT_EQ(CoreTthr::prlvl(-10, 5, 2), -2);
    EXPECT_EQ(CoreTthr::prlvl(0, 0, 3), 0);
    EXPECT_EQ(CoreTthr::prlvl(1, 99, 3), 74); // 74.5
}

TEST(CoreTthr, DeletingARunningThreadCancelsItAndWaitsForItsEndHook) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address checker cannot follow a cancelled thread's unwinding; runs in the "
                    "thread build";
#endif
    std::atomic<bool> running{false}, unwound{false};
    auto* thread = new Waiting(running, unwound);
    thread->Resume();
    while (!running.load()) std::this_thread::yield();
    // Returns only once the end hook marked the thread finished: its work
    // never returns, so nothing else can.
    delete thread;
    EXPECT_TRUE(unwound.load());
}
