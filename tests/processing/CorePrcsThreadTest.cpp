// ctest-labels: threads
// The engine with its worker thread: lifetimes whose teardown releases every
// slot's plans through the worker, and the fallback when no thread can be
// created.
#include "processing/CorePrcs.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/CoreTthr.h"
#include "tests/processing/CorePrcsPeek.h"
#include "tests/support/LogCapture.h"

namespace {

class CorePrcsThreadTest : public ::testing::Test, protected EngineKit {};

} // namespace

TEST_F(CorePrcsThreadTest, ThreadedLifetimesDoubleTheLatencyAndGiveEveryBlockBack) {
    kit.master("", {{"THREADS", "1"}, {"DSPBUFFER", "1024"}, {"HDIMMAX", "3"}});
    long const before = pool.getma();
    {
        LogCapture log;
        auto engine = make();
        CorePrcsPeek p{*engine};
        EXPECT_TRUE(p.threaded());
        EXPECT_EQ(p.base(), 2048);
        EXPECT_EQ(p.inwrite(), 2048);
        EXPECT_TRUE(engine->alive());
        EXPECT_NE(log.text().find("THREADSMINDIM:2048<"), std::string::npos);
    }
    for (int i = 0; i < 100; ++i) {
        auto engine = make();
        ASSERT_TRUE(CorePrcsPeek{*engine}.threaded());
    }
    EXPECT_EQ(pool.getma(), before);
}

TEST_F(CorePrcsThreadTest, WithoutAWorkerThreadTheEngineRunsUnthreaded) {
    kit.master("", {{"THREADS", "2"}});
    LogCapture log;
    CoreTthr::failNextCreate(1);
    auto engine = make();
    CorePrcsPeek p{*engine};
    EXPECT_FALSE(p.threaded());
    EXPECT_FALSE(engine->alive());
    EXPECT_EQ(p.base(), 2 * p.block()); // the latency reported stays as set up
    engine.reset();                     // no hand-off may wait for a worker now
    EXPECT_NE(log.text().find("running unthreaded"), std::string::npos);
}
