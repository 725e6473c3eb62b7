// Settings that would silence, stall or exhaust the built plug-in: master
// values out of range or unreadable are taken at their bounds with one line
// each naming both values, from the settings file and the bus alike, and
// saved as taken; the instance boots in the command-line host's wait and
// plays under the memory cap; a long fade-out is cut to LTIMED (an extended
// one to LFREQD); one over 60 s is refused with its program named.
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
    std::string const master = rig->folder() + CoreDemo::mstnm(CoreAnsx("vorlan.so")).c_str();
    // The settings' own lines go beside the plug-in, the rest to the data folder.
    std::string const logs[2] = {rig->folder() + "Vorlan3olvio.log", data + "Vorlan3olvio.log"};
    for (std::string const s : {"1", "61"}) { // the saturator with every fade-out at s seconds
        CoreDdoc::PROGRAM p = CoreDemo::prgrm(CoreDemo::iCsaturator);
        for (CoreDdoc::VECTOR& v : p.slots)
            for (auto& [key, value] : v.common)
                if (key == "FADEOUT") value = s + "000000";
        writeBytes(data + CoreDemo::sCprograms + "FADE" + s + ".XML", CoreDdoc::prgxm(p));
    }
    for (std::string const s :
         {"60", "61", "LEN"}) { // the room's OT2: a FADEOUT of s s, a text LENGTH
        CoreDdoc::PROGRAM p = CoreDemo::prgrm(CoreDemo::iCroom);
        p.slots[0].common.back().second = s == "LEN" ? CoreDdoc::elmnt("LENGTH", "abc")
                                                     : CoreDdoc::elmnt("FADEOUT", s + "000000");
        writeBytes(data + CoreDemo::sCprograms + "ROOM" + s + ".XML", CoreDdoc::prgxm(p));
    }
    writeBank(data, {"FADE1.XML", "FADE61.XML", "ROOM60.XML", "ROOM61.XML", "ROOMLEN.XML"});
    int const sat = CoreDemo::iCsaturator, fade1 = CoreDemo::iCprograms, fade61 = fade1 + 1;
    int const room60 = fade1 + 2, room61 = fade1 + 3, roomlen = fade1 + 4;
    // A bus value written after the boot, what it is taken as and the master key it is saved to.
    struct BUS {
        int id;
        char kind;
        double written, taken;
        int selector = 0;
        std::string key = "";
    };
    struct ROW {
        std::vector<std::pair<std::string, std::string>> settings;
        int slot;
        std::vector<std::pair<std::string, int>> lines; // logged so many times
        std::vector<BUS> bus;
    };
    // Keys past one bound in the file and (unless NAN) on the bus: key, id, selector, kind, file
    // value, bus value, bound, taken (saved up to its space).
    using KEY =
        std::tuple<std::string, int, int, char, std::string, double, std::string, std::string>;
    auto past = [&](std::string const& side, std::vector<KEY> const& keys) {
        ROW r{{}, sat, {}, {}};
        for (auto const& [key, id, selector, kind, file, bus, bound, taken] : keys) {
            std::string const as = " " + side + " " + bound + ", taken as " + taken;
            r.settings.push_back({key, file});
            r.lines.push_back({key + " " + file + as, 1});
            if (std::isnan(bus)) continue;
            r.lines.push_back({key + " " + std::to_string(long(bus)) + as, 1});
            r.bus.push_back({id, kind, bus, std::stod(taken), selector, key});
        }
        return r;
    };
    std::string const off = " (off: the kernels play unconverted)";
    std::pair<std::string, std::string> const unreadable[] = {{"LTIMED", "6000"},
                                                              {"LFREQD", "6000"},
                                                              {"EXPORTAUDIOQUALITY", "1"},
                                                              {"FORCEOFFSET", "-1 (none)"},
                                                              {"RATECONVERSION", "0" + off},
                                                              {"PROGRAMRATE", "3000"}};
    // Every key written as text: taken at its lower bound or as absent.
    auto unread = [&](std::string const& text) {
        std::string const t = " \"" + std::string(CoreAnsx(text.c_str()).Trim().c_str()) + "\"";
        ROW r{{{"DSPBUFFER", text}},
              sat,
              {{"DSPBUFFER" + t + " not a whole number, taken as absent", 1}},
              {}};
        for (auto const& [key, taken] : unreadable) {
            r.settings.push_back({key, text});
            r.lines.push_back({key + t + " not a whole number, taken as " + taken, 1});
        }
        return r;
    };
    std::vector<ROW> const rows = {
        // clang-format off
        {{{"HDIM", "0"}}, sat, {{"HDIM 0 below 1, taken as 1", 1}},
         {{54, 'h', 20, 10}, {236, 'l', 300, 300, 0, "DSPBUFFER"}}}, // saved as taken
        {{{"HDIM", "40000"}}, sat, {{"HDIM 40000 above 10, taken as 10", 1}}, {{54, 'h', 0, 1}}},
        {{{"HDIM", "65536"}}, sat, {{"HDIM 65536 above 10, taken as 10", 1}}, {}},
        {{{"HDIM", "NAN"}}, sat, {{"HDIM \"NAN\" not a whole number, taken as 1", 1}}, {}},
        {{{"GUIRATE", "10000000"}}, sat, {{"GUIRATE 10000000 above 150000, taken as 150000", 1},
          {"GUIRATE 2147483647 above 150000, taken as 150000", 1},
          {"GUIRATE 0 below 5000, taken as 5000", 1}}, {{65, 'l', 2147483647.0, 150000},
          {65, 'l', 0, 5000}}},
        {{{"AHEADLENGTH", "2147483647"}, {"FORCEOFFSET", "2147483647"},
          {"WORKBUFFER", "2147483647"}}, sat,
         {{"AHEADLENGTH 2147483647 above 2000000, taken as 2000000", 1},
          {"AHEADLENGTH NAN below 0, taken as 0", 1},
          {"WORKBUFFER 2147483647 above 524288, taken as 524288", 1},
          {"FORCEOFFSET 2147483647 above 2000000, taken as 2000000", 2}},
         {{70, 'l', 2147483647.0, 2000000}, {70, 'l', -7, -1, 0, "FORCEOFFSET"}, {19, 'd', NAN, 0}}},
        // The lookahead a PROGRAMRATE above 2 s stands for is bounded quietly.
        {{{"PROGRAMRATE", "2500000"}}, sat, {{"AHEADLENGTH", 0}}, {}},
        past("below", {{"LTIMED", 158, 0, 'l', "-1", 0, "6000", "6000"},
                       {"LFREQD", 158, 1, 'l', "5999", -1, "6000", "6000"},
                       {"DSPBUFFER", 236, 0, 'l', "16", -9e18, "128", "128"},
                       {"RATECONVERSION", 30, 0, 'l', "-1", NAN, "0", "0" + off},
                       {"EXPORTAUDIOQUALITY", 45, 0, 'h', "-1", 0, "1", "1"},
                       {"FORCEOFFSET", 70, 0, 'l', "-3000000000", -2147483649.0, "-2147483648",
                        "-1 (none)"},
                       {"PROGRAMRATE", 52, 0, 'l', "-3000000000", -2147483649.0, "-2147483648",
                        "-2147483648"}}),
        past("above", {{"LTIMED", 158, 0, 'l', "30001", 2147483647.0, "30000", "30000"},
                       {"LFREQD", 158, 1, 'l', "60000001", 9e18, "60000000", "60000000"},
                       {"DSPBUFFER", 236, 0, 'l', "4294967424", 8193, "8192", "8192"},
                       {"RATECONVERSION", 30, 0, 'l', "3000000000", 2147483648.0, "2147483647",
                        "2147483647"},
                       {"EXPORTAUDIOQUALITY", 45, 0, 'h', "153810", 32767, "5", "5"},
                       {"FORCEOFFSET", 70, 0, 'l', "9e18", 9e18, "2000000", "2000000"},
                       {"PROGRAMRATE", 52, 0, 'l', "2147483648", 9e18, "2147483647", "2147483647"}}),
        unread(" "), unread("12abc"),
        // A first boot times the engines with a kernel of LTIMED.
        {{{"LTIMED", "60000000"}, {"OTIMED", ""}, {"FASTBOOT", ""}}, sat,
         {{"LTIMED 60000000 above 30000, taken as 30000", 1}}, {}},
        {{{"DL", "1"}}, fade1, {{"FADEOUT of 1000000 us cut to LTIMED", 3}}, {}}, // a level-1 line
        {{{"DL", "1"}}, fade61, {{"FADE61.XML: over 60 s", 1}}, {}},
        {{{"DL", "1"}}, room60, {{"H1: FADEOUT of 60000000 us cut to LFREQD 1000000 us", 1}}, {}},
        {{{"DL", "1"}}, room61, {{"ROOM61.XML: over 60 s", 1}}, {}},
        {{{"DL", "1"}}, roomlen, {}, {}},
        // clang-format on
    };
    auto const npos = std::string::npos;
    auto saved = [&](CoreHost& host, std::string const& key, std::string const& value) {
        return CorePeer::bus(host, 79, 'v', 0, 0, true).kind && // the engine saves
               readBytes(master).find("<" + key + "> " + value + " </" + key + ">") != npos;
    };
    for (ROW const& row : rows) {
        auto all = row.settings; // an installation that booted before
        all.insert(all.begin(), {kDiagnosed, {"FASTBOOT", "1"}});
        ASSERT_TRUE(rig->settings(all));
        for (std::string const& log : logs) std::remove(log.c_str());
        EXPECT_TRUE(underMemoryCap([&] {
            CoreHost host(rig->path(), 44100, 512);
            host.start();
            std::string fault = host.wtupd(0, 30.0) ? "" : " no boot", said;
            for (BUS const& b : row.bus) {
                if (!CorePeer::bus(host, b.id, b.kind, 0, b.selector, true, b.written).kind ||
                    CorePeer::bus(host, b.id, b.kind, 0, b.selector).number != b.taken)
                    fault += " bus " + std::to_string(b.id);
                if (!b.key.empty() && !saved(host, b.key, std::to_string(long(b.taken))))
                    fault += std::string(" saved from the bus ") + b.key;
            }
            int const seen = host.updts();
            host.slot_(row.slot);
            fault += host.wtupd(seen, 60.0) ? "" : " no program change";
            // Only a program over 60 s is refused, for the reason it logs.
            bool const over = !row.lines.empty() && row.lines[0].first.find("over 60 s") != npos;
            std::string const reason =
                CorePeer::bus(host, 263, 'b').number ? CorePeer::bus(host, 265, 's').text : " none";
            if (reason.rfind(over ? row.lines[0].first : " none", 0)) fault += reason;
            long const tail = long(host.dispt(PlatVst::opGetTailSize));
            // Every program here ends within LFREQD's default 1 s and the room's offset; the
            // room without an extended limit plays whole (0.46 s), not its first sample.
            if (tail > 44100 + 100 || (row.slot == roomlen && tail < 20000))
                fault += " tail " + std::to_string(tail);
            // Noise played through, 8000 samples past the delay and, as no delay is reported
            // without FORCEOFFSET, two engine blocks: silent below an RMS of 0.05.
            CoreHost::CHANNELS in(2, randomSignal(int(host.getdl()) + 8000 + 2 * 8192, 1)), out;
            host.rendr(in, out, true);
            double energy = 0;
            for (double v : out[0]) energy += v * v;
            if (!(energy > 8000 * 0.05 * 0.05)) fault += " silent";
            for (std::string const& log : logs) said += readBytes(log);
            for (auto const& [line, times] : row.lines) {
                int n = 0;
                for (auto at = said.find(line); at != said.npos; at = said.find(line, at + 1)) ++n;
                if (n != times) fault += " \"" + line + "\" logged " + std::to_string(n);
            }
            return fault.empty() || (std::fputs((fault + "\n" + said).c_str(), stderr), false);
        })) << row.settings[0].first
            << " " << row.settings[0].second;
    }
}

} // namespace
