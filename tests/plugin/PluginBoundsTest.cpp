// Settings that would silence, stall or exhaust the built plug-in: master
// values out of range are taken at their bounds with one line each, from the
// settings file and the bus alike, and the instance boots in the command-line
// host's wait and plays under the memory cap; a long fade-out is cut to
// LTIMED; one over 60 s is refused with its program named.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tests/support/MemoryCap.h"
#include "tests/support/Signals.h"
#include "tools/CoreDdoc.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {

class PluginBoundsTest : public PluginRigTest {};

TEST_F(PluginBoundsTest, OutOfRangeIsTakenAtItsBoundAndStillPlays) {
    std::string const data = rig->folder() + CoreDemo::sCdatapath;
    // The settings' own lines go beside the plug-in, the rest to the data folder.
    std::string const logs[2] = {rig->folder() + "Vorlan3olvio.log", data + "Vorlan3olvio.log"};
    for (std::string const s : {"1", "61"}) { // the saturator with every fade-out at s seconds
        CoreDdoc::PROGRAM p = CoreDemo::prgrm(CoreDemo::iCsaturator);
        for (CoreDdoc::VECTOR& v : p.slots)
            for (auto& [key, value] : v.common)
                if (key == "FADEOUT") value = s + "000000";
        writeBytes(data + CoreDemo::sCprograms + "FADE" + s + ".XML", CoreDdoc::prgxm(p));
    }
    writeBank(data, {"FADE1.XML", "FADE61.XML"});
    int const sat = CoreDemo::iCsaturator, fade1 = CoreDemo::iCprograms, fade61 = fade1 + 1;
    // The settings, the program chosen, lines logged so many times, and bus values written after
    // the boot with what they are taken as.
    std::tuple<std::vector<std::pair<std::string, std::string>>, int,
               std::vector<std::pair<std::string, int>>,
               std::vector<std::tuple<int, char, double, double>>> const rows[] = {
        // clang-format off
        {{{"HDIM", "0"}}, sat, {{"HDIM below 1, taken as 1", 1}}, {{54, 'h', 20, 10}}},
        {{{"HDIM", "40000"}}, sat, {{"HDIM above 10, taken as 10", 1}}, {{54, 'h', 0, 1}}},
        {{{"HDIM", "65536"}}, sat, {{"HDIM above 10, taken as 10", 1}}, {}},
        {{{"HDIM", "NAN"}}, sat, {{"HDIM below 1, taken as 1", 1}}, {}},
        {{{"GUIRATE", "10000000"}}, sat, {{"GUIRATE above 150000, taken as 150000", 2},
          {"GUIRATE below 5000, taken as 5000", 1}}, {{65, 'l', 2147483647.0, 150000},
          {65, 'l', 0, 5000}}},
        {{{"AHEADLENGTH", "2147483647"}, {"FORCEOFFSET", "2147483647"},
          {"WORKBUFFER", "2147483647"}}, sat, {{"AHEADLENGTH above 2000000, taken as 2000000", 1},
          {"AHEADLENGTH below 0, taken as 0", 1}, {"WORKBUFFER above 524288, taken as 524288", 1},
          {"FORCEOFFSET above 2000000, taken as 2000000", 2}},
         {{70, 'l', 2147483647.0, 2000000}, {70, 'l', -7, -7}, {19, 'd', NAN, 0}}},
        {{{"DL", "1"}}, fade1, {{"FADEOUT of 1000000 us cut to LTIMED", 3}}, {}}, // a level-1 line
        {{{"DL", "1"}}, fade61, {{"FADE61.XML: over 60 s", 1}}, {}},
        // clang-format on
    };
    for (auto const& [settings, slot, lines, bus] : rows) {
        auto all = settings; // an installation that booted before
        all.insert(all.begin(), {kDiagnosed, {"FASTBOOT", "1"}});
        ASSERT_TRUE(rig->settings(all));
        for (std::string const& log : logs) std::remove(log.c_str());
        EXPECT_TRUE(underMemoryCap([&, slot = slot, &lines = lines, &bus = bus] {
            CoreHost host(rig->path(), 44100, 512);
            host.start();
            std::string fault = host.wtupd(0, 30.0) ? "" : " no boot", said;
            for (auto [id, kind, written, taken] : bus)
                if (!CorePeer::bus(host, id, kind, 0, 0, true, written).kind ||
                    CorePeer::bus(host, id, kind).number != taken)
                    fault += " bus " + std::to_string(id);
            int const seen = host.updts();
            host.slot_(slot);
            fault += host.wtupd(seen, 60.0) ? "" : " no program change";
            // Only the program over 60 s is refused, for the reason it logs.
            std::string const reason =
                CorePeer::bus(host, 263, 'b').number ? CorePeer::bus(host, 265, 's').text : " none";
            if (reason.rfind(slot == fade61 ? lines[0].first : " none", 0)) fault += reason;
            // Noise played through, 8000 samples past the delay: silent below an RMS of 0.05.
            CoreHost::CHANNELS in(2, randomSignal(int(host.getdl()) + 8000, 1)), out;
            host.rendr(in, out, true);
            double energy = 0;
            for (double v : out[0]) energy += v * v;
            if (!(energy > 8000 * 0.05 * 0.05)) fault += " silent";
            for (std::string const& log : logs) said += readBytes(log);
            for (auto const& [line, times] : lines) {
                int n = 0;
                for (auto at = said.find(line); at != said.npos; at = said.find(line, at + 1)) ++n;
                if (n != times) fault += " \"" + line + "\" logged " + std::to_string(n);
            }
            return fault.empty() || (std::fputs((fault + "\n" + said).c_str(), stderr), false);
        })) << settings[0].second;
    }
}

} // namespace
