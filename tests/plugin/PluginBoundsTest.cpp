// Settings that would silence, stall or exhaust the built plug-in: master
// values outside their ranges are taken at the nearest bound with one line,
// from the settings file and the bus alike, and the instance boots within
// the command-line host's wait and plays under the suite's memory cap; a
// normal kernel's fade-out is held to LTIMED, so a long one costs no more
// than the demo's; a fade-out over 60 s is refused with its program named.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tests/support/MemoryCap.h"
#include "tools/CoreDdoc.h"
#include "tools/CoreDemo.h"
#include "tools/CoreHost.h"
#include "tools/CorePeer.h"

namespace {

constexpr double kBootWait = 30.0; // s: the command-line host's default wait
constexpr double kWait = 60.0;     // s: program loads under the sanitizers

using SETTINGS = std::vector<std::pair<std::string, std::string>>;

// What both logs gained since the last call, beside the plug-in (the
// settings' own lines) and in the data folder.
std::string logged(PluginRig const& rig) {
    static std::size_t seen[2] = {0, 0};
    std::string said;
    std::string const files[2] = {rig.folder() + "Vorlan3olvio.log",
                                  rig.folder() + CoreDemo::sCdatapath + "Vorlan3olvio.log"};
    for (int i = 0; i < 2; ++i) {
        std::string const all = readBytes(files[i]);
        said += all.substr(std::min(seen[i], all.size()));
        seen[i] = all.size();
    }
    return said;
}

int count(std::string const& text, std::string const& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// RMS of the left channel after the delay, with a 0.5 sine of 1 kHz played through.
double played(CoreHost& host) {
    long const delay = host.getdl(), n = 22050;
    CoreHost::CHANNELS in(2, std::vector<double>(std::size_t(delay + n))), out;
    for (std::size_t k = 0; k < in[0].size(); ++k)
        in[0][k] = in[1][k] = 0.5 * std::sin(2 * M_PI * 1000.0 * double(k) / 44100.0);
    host.rendr(in, out, true);
    double sum = 0;
    for (long k = delay; k < delay + n; ++k) sum += out[0][std::size_t(k)] * out[0][std::size_t(k)];
    return std::sqrt(sum / double(n));
}

class PluginBoundsTest : public PluginRigTest {};

TEST_F(PluginBoundsTest, MasterValuesOutOfRangeAreTakenAtTheirBoundsAndPlay) {
    struct BUS {
        int id;
        char kind;
        double written, taken;
    };
    struct Row {
        SETTINGS settings;
        std::vector<std::pair<std::string, int>> lines; // logged so many times
        std::vector<BUS> bus; // written after the boot, before the program change
    } const rows[] = {
        {{{"HDIM", "0"}}, {{"HDIM below 1, taken as 1", 1}}, {{54, 'h', 20, 10}}},
        {{{"HDIM", "40000"}}, {{"HDIM above 10, taken as 10", 1}}, {{54, 'h', 0, 1}}},
        {{{"HDIM", "65536"}}, {{"HDIM above 10, taken as 10", 1}}, {}},
        {{{"HDIM", "NAN"}}, {{"HDIM below 1, taken as 1", 1}}, {}},
        {{{"GUIRATE", "10000000"}},
         {{"GUIRATE above 150000, taken as 150000", 2}, {"GUIRATE below 5000, taken as 5000", 1}},
         {{65, 'l', 2147483647.0, 150000}, {65, 'l', 0, 5000}}},
        {{{"AHEADLENGTH", "2147483647"},
          {"FORCEOFFSET", "2147483647"},
          {"WORKBUFFER", "2147483647"}},
         {{"AHEADLENGTH above 2000000, taken as 2000000", 1},
          {"FORCEOFFSET above 2000000, taken as 2000000", 2},
          {"WORKBUFFER above 524288, taken as 524288", 1},
          {"AHEADLENGTH below 0, taken as 0", 1}},
         {{70, 'l', 2147483647.0, 2000000}, {70, 'l', -7, -7}, {19, 'd', NAN, 0}}},
    };
    for (Row const& row : rows) {
        SETTINGS settings{kDiagnosed, {"FASTBOOT", "1"}}; // an installation that booted before
        settings.insert(settings.end(), row.settings.begin(), row.settings.end());
        ASSERT_TRUE(rig->settings(settings));
        logged(*rig);
        std::string const name = row.settings[0].first + " " + row.settings[0].second;
        EXPECT_TRUE(underMemoryCap([&] {
            std::string fault;
            {
                CoreHost host(rig->path(), 44100, 512);
                host.start();
                if (!host.wtupd(0, kBootWait)) fault = "no boot";
                for (BUS const& b : row.bus) {
                    bool const done = CorePeer::bus(host, b.id, b.kind, 0, 0, true, b.written).kind;
                    double const now = CorePeer::bus(host, b.id, b.kind).number;
                    if (!done || now != b.taken) fault += " bus " + std::to_string(b.id);
                }
                int const seen = host.updts();
                host.slot_(CoreDemo::iCsaturator);
                if (!host.wtupd(seen, kWait)) fault += " no program change";
                if (!(played(host) > 0.05)) fault += " silent";
            }
            std::string const said = logged(*rig);
            for (auto const& [line, times] : row.lines)
                if (count(said, line) != times)
                    fault += " \"" + line + "\" logged " + std::to_string(count(said, line));
            if (!fault.empty())
                std::fprintf(stderr, "%s:%s\n%s\n", name.c_str(), fault.c_str(), said.c_str());
            return fault.empty();
        })) << name;
    }
}

// The saturator with each fade-out at us, as a program file of the bank.
std::string saturator(long us) {
    CoreDdoc::PROGRAM p = CoreDemo::prgrm(CoreDemo::iCsaturator);
    for (CoreDdoc::VECTOR& v : p.slots)
        for (auto& [key, value] : v.common)
            if (key == "FADEOUT") value = std::to_string(us);
    return CoreDdoc::prgxm(p);
}

TEST_F(PluginBoundsTest, LongFadeOutsAreCutToTheCeilingAndOverSixtySecondsIsNamed) {
    std::string const data = rig->folder() + CoreDemo::sCdatapath;
    writeBytes(data + CoreDemo::sCprograms + "FADE1S.XML", saturator(1000000));
    writeBytes(data + CoreDemo::sCprograms + "FADE61.XML", saturator(61000000));
    writeBank(data, {"FADE1S.XML", "FADE61.XML"});
    // Level 1: the cut is a level-1 line. What the cut saves in time is the
    // plug-in benchmark's to measure; here the cut itself is checked.
    ASSERT_TRUE(rig->settings({kDiagnosed, {"FASTBOOT", "1"}, {"DL", "1"}}));
    int const fade1s = CoreDemo::iCprograms, fade61 = fade1s + 1;
    CoreHost host(rig->path(), 44100, 512);
    host.start();
    ASSERT_TRUE(host.wtupd(0, kWait)) << "boot";
    logged(*rig);
    {
        int const seen = host.updts();
        host.slot_(fade1s);
        ASSERT_TRUE(host.wtupd(seen, kWait));
        EXPECT_EQ(CorePeer::bus(host, 263, 'b').number, 0) << "the 1 s fade-outs load";
        std::string const said = logged(*rig);
        EXPECT_GE(count(said, "FADEOUT of 1000000 us cut to LTIMED"), 1) << said;
    }

    logged(*rig);
    int const seen = host.updts();
    host.slot_(fade61);
    ASSERT_TRUE(host.wtupd(seen, kWait));
    EXPECT_TRUE(CorePeer::bus(host, 263, 'b').number != 0);
    std::string const reason = CorePeer::bus(host, 265, 's').text;
    EXPECT_EQ(reason.find("FADE61.XML: over 60 s"), 0u) << reason;
    std::string const said = logged(*rig);
    EXPECT_EQ(count(said, "FADE61.XML: over 60 s"), 1) << said;
}

} // namespace
