// ctest-labels: threads
// Host restores through the built shared object, made from several host
// threads at once: each is answered its own chunk's outcome.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

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
TEST(PluginRestoreTest, EachRestoreIsAnsweredItsOwnLoadsOutcome) {
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

} // namespace
