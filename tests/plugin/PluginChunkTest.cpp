// The host chunk through the built shared object: a chunk saved from one
// instance playing another program than its boot program restores the same
// sound in a second instance, also when the second restores it while its
// headless boot is still running.
// Not in the ThreadSanitizer pass, for the reason the shell test gives: the
// host's rate and block-size calls still race with the control thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "tests/plugin/PluginRig.h"
#include "tests/support/ConvolutionTruth.h"
#include "tools/CoreDemo.h"
#include "tools/CoreHost.h"

namespace {

using V = PlatVst;
constexpr double kWait = 60.0; // s: boots and loads under the sanitizers

CoreHost::CHANNELS noise(long n) {
    std::mt19937 g(3);
    std::uniform_real_distribution<double> d(-0.5, 0.5);
    CoreHost::CHANNELS s(2, std::vector<double>(std::size_t(n)));
    for (auto& c : s)
        for (auto& v : c) v = static_cast<float>(d(g));
    return s;
}

TEST(PluginChunkTest, AChunkFromOneInstanceRestoresTheSameSoundInAnother) {
    PluginRig rig;
    CoreHost a(rig.path(), CoreDemo::iCrate, 512);
    a.start();
    ASSERT_TRUE(a.wtupd(0, kWait)) << "boot";
    int const seen = a.updts();
    a.slot_(CoreDemo::iCsaturator); // the saturator, not the boot program
    ASSERT_TRUE(a.wtupd(seen, kWait)) << "program change";
    void* data = nullptr;
    std::intptr_t const size = a.dispt(V::opGetChunk, 0, 0, &data);
    ASSERT_GT(size, 0);
    ASSERT_NE(data, nullptr);
    std::string const chunk(static_cast<char const*>(data), std::size_t(size));
    ASSERT_EQ(chunk.find("NOCHUNK"), std::string::npos);
    // The size handed over is the document's with its zero byte, no padding.
    EXPECT_EQ(std::strlen(chunk.c_str()) + 1, chunk.size());
    EXPECT_EQ(chunk.substr(chunk.find_last_not_of(std::string(" \n\r\t\0", 5)) - 7, 8), "</SETUP>");

    // Each instance's output from its first sound on: the first boot
    // completes the shared settings file, so later instances may run with
    // another processing block and so another delay (and the delay the
    // shell reports is not yet the played one).
    CoreHost::CHANNELS const x = noise(20000);
    auto played = [&](CoreHost& h) {
        CoreHost::CHANNELS y;
        h.rendr(x, y, true);
        std::size_t onset = 0;
        while (onset < y[0].size() && std::abs(y[0][onset]) < 1e-9) ++onset;
        for (auto& c : y) {
            c.erase(c.begin(), c.begin() + long(std::min(onset, c.size())));
            c.resize(8000);
        }
        return y;
    };
    CoreHost::CHANNELS yboot;
    {
        CoreHost boot(rig.path(), CoreDemo::iCrate, 512); // what an instance plays unrestored
        boot.start();
        ASSERT_TRUE(boot.wtupd(0, kWait));
        yboot = played(boot);
    }
    CoreHost b(rig.path(), CoreDemo::iCrate, 512);
    b.start(); // its boot runs on its control thread meanwhile
    EXPECT_EQ(b.dispt(V::opSetChunk, 0, size, const_cast<char*>(chunk.data())), 1);
    ASSERT_TRUE(b.wtupd(0, kWait));
    CoreHost::CHANNELS const ya = played(a), yb = played(b);
    for (int c = 0; c < 2; ++c) {
        EXPECT_LT(relativeError(yb[c], ya[c]), 1e-9) << c;
        EXPECT_GT(relativeError(yboot[c], ya[c]), 1e-3) << c; // the chunk made the difference
    }
}

} // namespace
