// ctest-labels: threads
#include "runtime/CoreAudp.h"

#include "runtime/CoreAnsx.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

// The scope belongs to the thread that opened it: other threads keep
// allocating while one is on the audio path, and misses from several audio
// threads all count.
TEST(CoreAudpThread, ScopesArePerThreadAndMissesCountFromEveryThread) {
#ifndef VORLAN_AUDIO_GUARD
    GTEST_SKIP() << "built without the audio-path guard";
#endif
    constexpr int threads = 4;
    constexpr int rounds = 2000;
    long const before = CoreAudp::misses();
    std::atomic<int> sawScope{0};
    CoreAudp mine; // open on the test thread throughout
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            if (CoreAudp::inside()) ++sawScope;
            CoreAnsx grown("free to allocate here");
            grown += CoreAnsx(" and to grow");
            for (int r = 0; r < rounds; ++r) {
                CoreAudp audio;
                if (!CoreAudp::inside()) ++sawScope;
                CoreAudp::index(r % 2 == 0 ? -1 : 2, 2, "Probe");
            }
            if (CoreAudp::inside()) ++sawScope;
        });
    for (std::thread& w : workers) w.join();
    EXPECT_TRUE(CoreAudp::inside());
    EXPECT_EQ(sawScope.load(), 0);
    EXPECT_EQ(CoreAudp::misses() - before, long(threads) * rounds);
}
