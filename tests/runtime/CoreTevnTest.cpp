// ctest-labels: threads
#include <gtest/gtest.h>

#include <thread>

#include "runtime/CoreTevn.h"
#include "runtime/CoreXutl.h"

TEST(CoreTevn, SignalledWaitReturnsOnceThenTimesOut) {
    CoreTevn event(nullptr, false, false, nullptr);
    event.SetEvent();
    EXPECT_EQ(event.WaitFor(100), CoreTevn::iCwrsignaled);
    double before = CoreXutl::tgtme();
    EXPECT_EQ(event.WaitFor(100), CoreTevn::iCwrnotsignaled);
    EXPECT_GE(CoreXutl::tgtme() - before, 50.0); // it did wait for its time-out
}

TEST(CoreTevn, AutoResetDoesNotCountSignals) {
    CoreTevn event;
    event.SetEvent();
    event.SetEvent();
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrsignaled);
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrnotsignaled);
}

TEST(CoreTevn, ResetClearsTheSignal) {
    CoreTevn event;
    event.SetEvent();
    event.ResetEvent();
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrnotsignaled);
    EXPECT_EQ(event.WaitFor(-5), CoreTevn::iCwrnotsignaled);
}

TEST(CoreTevn, SignalFromAnotherThreadWakesTheWaiter) {
    CoreTevn event;
    int payload = 0; // handed over through the event's mutex
    std::thread setter([&] {
        CoreXutl::sleep(20);
        payload = 42;
        event.SetEvent();
    });
    int result = CoreTevn::iCwrnotsignaled;
    // A wake-up may come early without the signal; callers loop.
    for (int tries = 0; tries < 100 && result != CoreTevn::iCwrsignaled; ++tries)
        result = event.WaitFor(10000);
    setter.join();
    EXPECT_EQ(result, CoreTevn::iCwrsignaled);
    EXPECT_EQ(payload, 42);
}
