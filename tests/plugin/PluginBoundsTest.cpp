// Settings that would silence, stall or exhaust the built plug-in: master
// values out of range or unreadable are taken at their bounds with one line
// each naming both values, from the settings file and the bus alike, and
// saved as taken; the instance boots in the command-line host's wait and
// plays under the memory cap; a long fade-out is cut to LTIMED (an extended
// one to LFREQD); one over 60 s is refused with its program named.
#include <gtest/gtest.h>

#include <array>
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
        std::vector<std::pair<int, double>> reads = {}; // bus bools as the boot left them
        std::vector<std::string> file = {};             // in the settings file after the boot
    };
    // Keys past their bounds: id and kind on the bus (LFREQD is element 1); below, then above,
    // the value in the file, on the bus (NAN: none), the bound and what it is taken as (saved up
    // to its space; none: the bound); last what a text in the file is taken as.
    using TWO = std::array<std::string, 2>;
    using KEY =
        std::tuple<std::string, int, char, TWO, std::array<double, 2>, TWO, TWO, std::string>;
    std::string const off = " (off: the kernels play unconverted)", min = "-2147483648";
    KEY const keys[] = {
        // clang-format off
        {"LTIMED", 158, 'l', {"-1", "30001"}, {0, 2147483647.0}, {"6000", "30000"}, {}, "6000"},
        {"LFREQD", 158, 'l', {"5999", "60000001"}, {-1, 9e18}, {"6000", "60000000"}, {}, "6000"},
        {"DSPBUFFER", 236, 'l', {"16", "4294967424"}, {-9e18, 8193}, {"128", "8192"}, {}, "absent"},
        {"RATECONVERSION", 30, 'l', {"-1", "3000000000"}, {NAN, 2147483648.0}, {"0", "2147483647"},
         {"0" + off, ""}, "0" + off},
        {"EXPORTAUDIOQUALITY", 45, 'h', {"-1", "153810"}, {0, 32767}, {"1", "5"}, {}, "1"},
        {"FORCEOFFSET", 70, 'l', {"-3000000000", "9e18"}, {-2147483649.0, 9e18}, {min, "2000000"},
         {"-1 (none)", ""}, "-1 (none)"},
        {"PROGRAMRATE", 52, 'l', {"-3000000000", "2147483648"}, {-2147483649.0, 9e18},
         {min, "2147483647"}, {}, "3000"},
        // clang-format on
    };
    // Every key below (0) or above (1) its bounds, or written as text (2).
    auto past = [&](int side, std::string const& text = "") {
        std::string const t = " \"" + std::string(CoreAnsx(text.c_str()).Trim().c_str()) + "\"";
        ROW r{{}, sat, {}, {}};
        for (auto const& [key, id, kind, file, bus, bound, taken, unread] : keys) {
            int const s = side % 2;
            std::string const took = taken[s].empty() ? bound[s] : taken[s],
                              as = (s ? " above " : " below ") + bound[s] + ", taken as " + took;
            r.settings.push_back({key, side == 2 ? text : file[s]});
            r.lines.push_back({key + (side == 2 ? t + " not a whole number, taken as " + unread
                                                : " " + file[s] + as),
                               1});
            if (side == 2 || std::isnan(bus[s])) continue;
            r.lines.push_back({key + " " + std::to_string(long(bus[s])) + as, 1});
            r.bus.push_back({id, kind, bus[s], std::stod(took), key == "LFREQD", key});
        }
        return r;
    };
    // The switches written so: each taken at its bound (a text as off), one line each, MODE
    // and LEGACYSTEREOCHANNEL read back from the bus; a first boot saves them as taken.
    auto switches = [&](std::string const& written, std::string const& taken, bool first = false) {
        double const on = taken.back() == '1';
        ROW r{{}, sat, {}, {}, {{41, on}, {256, on}}};
        for (std::string key : {"FASTBOOT", "SCANBOOT", "FROZENBOOT", "NODROP", "AUTOTHREAD",
                                "MODE", "LEGACYSTEREOCHANNEL"})
            r.settings.push_back({key, written}), r.lines.push_back({key + " " + taken, 1});
        if (first) r.settings.push_back({"DSPBUFFER", ""}), r.file = {"<MODE> 1 </MODE>"};
        return r;
    };
    // Written 0, a switch is off, quietly, and a key read as a plain number is 0 however its
    // 0 is written, but a tempo of 0 is the default; the first boot (DSPBUFFER lacking) keeps
    // them so.
    auto zeros = [&](std::string const& zero) {
        // clang-format off
        ROW r{{{"FASTBOOT", "0"}, {"SCANBOOT", "0"}, {"FROZENBOOT", "0"}, {"NODROP", "0"},
               {"AUTOTHREAD", "0"}, {"DSPBUFFER", ""}, {"GUIRATE", "0"}, {"BPMDEFAULT", zero}}, sat,
              {{"FASTBOOT", 0}, {"SCANBOOT", 0}, {"FROZENBOOT", 0}, {"NODROP", 0}, {"AUTOTHREAD", 0},
               {"GUIRATE 0 below 5000, taken as 5000", 1},
               {"BPMDEFAULT 0 not a tempo, taken as 120000 (120 BPM)", 1}},
              {}, {{20, 0}, {21, 0}, {37, 0}},
              {"<SCANBOOT> 0 </SCANBOOT>", "<AUTOTHREAD> 0 </AUTOTHREAD>", "<FASTBOOT> 0 </FASTBOOT>",
               "<NODROP> 0 </NODROP>", "<FROZENBOOT> 0 </FROZENBOOT>",
               "<DSPBUFFER> 512 </DSPBUFFER>", "<BPMDEFAULT> 120000 </BPMDEFAULT>"}};
        // clang-format on
        for (std::string key :
             {"OTIMED", "OFREQD", "METERTYPE", "LOADERPRIORITY", "MIDISTSMIX1", "MIDICTRMIX1"})
            r.settings.push_back({key, zero}), // no engine is 0: the boot saves its default
                r.file.push_back("<" + key + (key == "OFREQD" ? "> 11 </" : "> 0 </") + key + ">");
        return r;
    };
    std::vector<ROW> const rows = {
        // clang-format off
        {{{"HDIM", "0"}}, sat, {{"HDIM 0 below 1, taken as 1", 1}},
         {{54, 'h', 20, 10}, {236, 'l', 300, 300, 0, "DSPBUFFER"}}}, // saved as taken
        {{{"HDIM", "40000"}}, sat, {{"HDIM 40000 above 10, taken as 10", 1}}, {{54, 'h', 0, 1}}},
        {{{"HDIM", "65536"}}, sat, {{"HDIM 65536 above 10, taken as 10", 1}}, {}},
        {{{"HDIM", "NAN"}}, sat, {{"HDIM \"NAN\" not a whole number, taken as 1", 1}}, {}},
        {{{"BPMDEFAULT", "NAN"}}, sat,
         {{"BPMDEFAULT \"NAN\" not a tempo, taken as 120000 (120 BPM)", 1}}, {}},
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
        past(0), past(1), past(2, " "), past(2, "12abc"),
        switches("5", "5 above 1, taken as 1"), switches("-1", "-1 below 0, taken as 0"),
        switches("yes", "\"yes\" not a whole number, taken as 0"),
        switches("2", "2 above 1, taken as 1"), switches("65536", "65536 above 1, taken as 1", true),
        switches("0.5", "0.5 not a whole number, taken as 0"),
        switches(" ", "\"\" not a whole number, taken as 0"), zeros("0"), zeros(" 0 "),
        // A first boot times the engines with a kernel of LTIMED.
        {{{"LTIMED", "60000000"}, {"OTIMED", ""}, {"FASTBOOT", ""}}, sat,
         {{"LTIMED 60000000 above 30000, taken as 30000", 1}}, {}},
        {{{"DL", "1"}}, fade1, {{"FADEOUT of 1000000 us cut to LTIMED", 3}}, {}}, // a level-1 line
        {{{"DL", "1"}}, fade61, {{"FADE61.XML: over 60 s", 1}}, {}},
        {{{"DL", "1"}}, room60,
         {{"ROOM60.XML: H1: FADEOUT of 60000000 us cut to LFREQD 1000000 us", 1}}, {}},
        {{{"DL", "1"}}, room61, {{"ROOM61.XML: over 60 s", 1}}, {}},
        {{{"DL", "1"}}, roomlen, {}, {}},
        // The log's level is bounded too: at -1 a failed load would leave no line.
        {{{"DL", "-1"}}, fade61, {{"FADE61.XML: over 60 s", 1}, {"DL -1 below 0, taken as 0", 1}}, {}},
        {{{"DL", "9"}}, fade61, {{"FADE61.XML: over 60 s", 1}, {"DL 9 above 7, taken as 7", 1}}, {}},
        {{{"LTIMED", "7000.9"}}, sat, {{"LTIMED 7000.9 not a whole number, taken as 7000", 1}}, {}},
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
            for (auto const& [id, value] : row.reads)
                if (CorePeer::bus(host, id, 'b').number != value)
                    fault += " bus " + std::to_string(id);
            for (std::string const& held : row.file)
                if (readBytes(master).find(held) == npos) fault += " file lacks " + held;
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
