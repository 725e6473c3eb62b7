// ctest-labels: threads
// Host chunks through the built shared object, read from several host
// threads at once in fresh instances: each reader's chunk is whole.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/plugin/PluginRig.h"
#include "tools/CoreDemo.h"
#include "tools/CoreHost.h"

namespace {

using V = PlatVst;
constexpr double kLoadWait = 60.0; // s: boots and loads under the sanitizers

// A fresh instance restores a program whose text is past the first buffer's size; four host
// threads then read their first chunks together while one plays: each is whole, for 20 instances.
TEST(PluginChunkThreadsTest, FirstChunkReadsOfALargeProgramAtOnceAreEachWhole) {
    PluginRig rig;
    ASSERT_TRUE(rig.settings({kDiagnosed}));
    std::string large, words;
    {
        CoreHost h(rig.path(), CoreDemo::iCrate, 256);
        h.start();
        void* data = nullptr;
        ASSERT_TRUE(h.wtupd(0, kLoadWait));
        ASSERT_GT(h.dispt(V::opGetChunk, 1, 0, &data), 0);
        large = static_cast<char const*>(data);
    }
    for (int i = 0; words.size() < 140000; ++i) words += "word" + std::to_string(i) + " ";
    std::size_t const at = large.find("<DESCRIPTION>") + 13;
    ASSERT_NE(at, 12u);
    large.replace(at, large.find('<', at) - at, words);
    for (int round = 0; round < 20; ++round) {
        CoreHost h(rig.path(), CoreDemo::iCrate, 256);
        h.setlv(V::levelRealtime);
        h.start();
        ASSERT_EQ(h.dispt(V::opSetChunk, 0, std::intptr_t(large.size() + 1), large.data()), 1);
        V::Effect* e = h.getef();
        std::vector<double> in(256, 0.25), out(256);
        double *ins[2] = {in.data(), in.data()}, *outs[2] = {out.data(), out.data()};
        std::atomic<bool> done{false};
        std::atomic<int> whole{0};
        std::barrier start(5);
        std::thread player([&] {
            start.arrive_and_wait();
            for (long k = 0; !done; ++k) {
                for (int i = 0; i < 10; ++i) e->setParameter(e, i, float((k + i) % 3) / 2.0f);
                e->processDoubleReplacing(e, ins, outs, 256);
            }
        });
        std::vector<std::thread> readers;
        for (int t = 0; t < 4; ++t)
            readers.emplace_back([&, t] {
                void* data = nullptr;
                start.arrive_and_wait();
                std::intptr_t const n = h.dispt(V::opGetChunk, t % 2, 0, &data);
                std::this_thread::yield();
                whole += wholeChunk(std::string(static_cast<char const*>(data), std::size_t(n))) &&
                         n > 131072;
            });
        for (std::thread& r : readers) r.join();
        done = true;
        player.join();
        EXPECT_EQ(whole, 4) << "round " << round;
    }
}

} // namespace
