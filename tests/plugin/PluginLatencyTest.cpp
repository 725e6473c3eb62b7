// The delay the built plug-in reports against the delay it plays, from the
// first render of a fresh demo installation on and after host rate changes
// while resumed; and the processing block the first boot stores for the
// host's block size when the settings file has none.
// Not in the ThreadSanitizer pass, for the reason the shell test gives: the
// host's rate and block-size calls still race with the control thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/plugin/PluginRig.h"
#include "tools/CoreDemo.h"
#include "tools/CoreHost.h"

namespace {

using V = PlatVst;
constexpr double kWait = 60.0; // s: boots under the sanitizers

// Frames from an impulse to the output's peak, the room's direct sound.
long played(CoreHost& host, int rate, long reported) {
    long const at = rate / 2; // the tail of an earlier impulse has died away
    CoreHost::CHANNELS in(2, std::vector<double>(std::size_t(at + reported + 256), 0.0)), out;
    in[0][std::size_t(at)] = in[1][std::size_t(at)] = 1.0;
    host.rendr(in, out, true);
    auto const louder = [](double a, double b) { return std::abs(a) < std::abs(b); };
    return std::max_element(out[0].begin() + at, out[0].end(), louder) - out[0].begin() - at;
}

TEST(PluginLatencyTest, ReportedDelayIsPlayedFromTheFirstRenderAndAfterRateChanges) {
    PluginRig rig; // fresh: the first instance is the installation's first boot
    long first = -1;
    for (int block : {64, 100, 512}) {
        CoreHost host(rig.path(), 44100, block);
        host.start();
        ASSERT_TRUE(host.wtupd(0, kWait)) << "boot";
        long const booted = host.getdl();
        EXPECT_EQ(played(host, 44100, booted), booted) << block;
        if (first < 0) first = booted;
        EXPECT_EQ(booted, first) << block; // every instance as the first
        // Each rate change while resumed, then the program loaded again at
        // that rate (its offset in samples follows the rate).
        for (int rate : {48000, 44100}) {
            host.dispt(V::opSetSampleRate, 0, 0, nullptr, float(rate));
            for (bool reload : {false, true}) {
                if (reload) {
                    int const seen = host.updts();
                    host.slot_(CoreDemo::iCroom);
                    ASSERT_TRUE(host.wtupd(seen, kWait)) << "load";
                }
                long const reported = host.getdl();
                EXPECT_EQ(played(host, rate, reported), reported)
                    << block << " at " << rate << (reload ? " reloaded" : "");
            }
        }
    }
}

TEST(PluginLatencyTest, FirstBootStoresAProcessingBlockForTheHostBlock) {
    PluginRig rig;
    struct Row {
        int block, stored;
    } const rows[] = {{64, 512}, {300, 512}, {3000, 4096}, {8000, 8192}};
    std::string const file = rig.folder() + CoreDemo::mstnm(CoreAnsx("vorlan.so")).c_str();
    for (Row const& r : rows) {
        ASSERT_TRUE(rig.settings({{"DSPBUFFER", ""}, kDiagnosed}));
        CoreHost host(rig.path(), CoreDemo::iCrate, r.block);
        host.start();
        ASSERT_TRUE(host.wtupd(0, kWait)) << "boot";
        std::stringstream text;
        text << std::ifstream(file).rdbuf();
        std::size_t const at = text.str().find("<DSPBUFFER>");
        ASSERT_NE(at, std::string::npos) << text.str();
        EXPECT_EQ(std::atoi(text.str().c_str() + at + 11), r.stored) << r.block;
    }
}

} // namespace
