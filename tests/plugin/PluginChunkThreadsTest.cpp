// ctest-labels: threads
// Host chunks through the built shared object, read and restored from
// several host threads at once: each reader's chunk is whole, and each
// restore is answered its own chunk's outcome.
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

// The program chunk of an instance playing the saturator; "" when it did not load in time.
std::string saturatorChunk(PluginRig const& rig) {
    CoreHost h(rig.path(), CoreDemo::iCrate, 256);
    h.start();
    if (!h.wtupd(0, kLoadWait)) return "";
    int const seen = h.updts();
    h.slot_(CoreDemo::iCsaturator);
    void* data = nullptr;
    return h.wtupd(seen, kLoadWait) && h.dispt(V::opGetChunk, 1, 0, &data) > 0
               ? static_cast<char const*>(data)
               : "";
}

// Two host threads restore 200 times each, one a chunk whose program cannot load (location 0 plays
// for it) and one whose program loads, while a third changes the rate: each restore is answered its
// own load's outcome, never the other's nor a reload's.
TEST(PluginChunkThreadsTest, EachRestoreIsAnsweredItsOwnLoadsOutcome) {
    PluginRig rig;
    std::string const loads = saturatorChunk(rig);
    std::string fails = loads;
    std::size_t const at = fails.find("SAT2.WAV");
    ASSERT_NE(at, fails.npos);
    fails.replace(at, 8, "LOST.WAV");
    CoreHost h(rig.path(), CoreDemo::iCrate, 256);
    h.start();
    ASSERT_TRUE(h.wtupd(0, kLoadWait));
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::thread rates([&] {
        for (int k = 0; !done; ++k) {
            h.dispt(V::opSetSampleRate, 0, 0, nullptr, k % 2 != 0 ? 48000.0f : 44100.0f);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    auto restores = [&](std::string const& text, std::intptr_t answer) {
        return std::thread([&h, &wrong, &text, answer] {
            for (int k = 0; k < 200; ++k)
                wrong += h.dispt(V::opSetChunk, 0, std::intptr_t(text.size() + 1),
                                 const_cast<char*>(text.data())) != answer;
        });
    };
    std::thread failing = restores(fails, 0), loading = restores(loads, 1);
    failing.join(), loading.join();
    done = true;
    rates.join();
    EXPECT_EQ(wrong, 0);
}

// A fresh instance restores a program whose text is past the first buffer's size; four host
// threads then read their first chunks together while one plays: each is whole, for 20 instances.
TEST(PluginChunkThreadsTest, FirstChunkReadsOfALargeProgramAtOnceAreEachWhole) {
    PluginRig rig;
    ASSERT_TRUE(rig.settings({kDiagnosed}));
    std::string large = saturatorChunk(rig), words;
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
