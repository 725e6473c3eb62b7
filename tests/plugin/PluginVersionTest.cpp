// ctest-labels: threads
// Versions saved through the built plug-in by VERSIONING chains posted on the
// bus as the memory page posts them: a version in bank 0 joins the demo bank
// (a new instance lists and plays it), a link at its name or a failed bank
// entry takes nothing, a chunk restore, a move or a delete never reach the
// bank, and of two instances racing for one name exactly one saves.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/plugin/PluginRig.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::string>;
constexpr double kWait = 60.0; // s; boots and loads under the sanitizers

std::string textOf(CorePeer& p, int id, int element = 0) { return p.bus(id, 's', element).text; }
int slotOf(CorePeer& p) { return int(p.bus(67, 'i').number); }

// Posts a chain as the display does (NEXTSTEP last) and steps it to its end;
// each step's line.
Rows posted(CorePeer& p, std::vector<std::pair<std::string, std::string>> vars) {
    vars.insert(vars.begin(), {{"SAVING", "Saving"}, {"MOVED", "Moved"}, {"DELETED", "Deleted"}});
    return chain(p, vars, 9);
}
Rows version(CorePeer& p, std::string const& name) {
    return posted(p, {{"VERSIONINGNAME", name}, {"NEXTSTEP", "VERSIONING"}});
}

// Booted, and playing the room the demo bank boots into.
bool ready(CorePeer& p) {
    return CorePeer::until(
        [&] {
            CorePrvt::BUSCALL const busy = p.bus(46, 'b');
            return busy.kind != 0 && busy.number == 0.0 && slotOf(p) == CoreDemo::iCroom &&
                   textOf(p, 56) == "Demo Room";
        },
        kWait);
}

// A bank file's entries in order, each "SEQUENCE|FILENAME|LOAD", trimmed.
Rows entries(std::string const& bank, Rows more = {}) {
    Rows out;
    for (std::size_t at = bank.find("<PROGRAM>"); at != std::string::npos;
         at = bank.find("<PROGRAM>", at + 1)) {
        std::string const block = bank.substr(at, bank.find("</PROGRAM>", at) - at);
        std::string row;
        for (std::string tag : {"SEQUENCE", "FILENAME", "LOAD"}) {
            std::size_t const open = block.find("<" + tag + ">"), close = block.find("</" + tag);
            std::string v = open == std::string::npos ? ""
                                                      : block.substr(open + tag.size() + 2,
                                                                     close - open - tag.size() - 2);
            v.erase(0, v.find_first_not_of(' '));
            v.erase(v.find_last_not_of(' ') + 1);
            row += (row.empty() && tag == "SEQUENCE" ? "" : "|") + v;
        }
        out.push_back(row);
    }
    out.insert(out.end(), more.begin(), more.end());
    return out;
}

int temporaries(std::string const& folder) {
    return int(std::count_if(fs::directory_iterator(folder), fs::directory_iterator(), [](auto& e) {
        return e.path().filename().string().find(".~") != std::string::npos;
    }));
}

std::string dataOf(PluginRig const& rig, char const* sub) {
    return rig.folder() + CoreDemo::sCdatapath + sub;
}

TEST(PluginVersionTest, AVersionJoinsTheBankAndNothingElseDoes) {
    PluginRig rig;
    std::string const programs = dataOf(rig, CoreDemo::sCprograms);
    std::string const bank = dataOf(rig, CoreDemo::sCsetups) + CoreDemo::sCsetup;
    std::string const fresh = readBytes(bank);
    ASSERT_EQ(entries(fresh).size(), 4u);
    std::string kept, chunk;
    {
        CorePeer a(rig.path());
        ASSERT_TRUE(ready(a)) << a.dump();
        EXPECT_EQ(textOf(a, 76), "ROOM_01");
        EXPECT_EQ(version(a, "ROOM_01"), (Rows{"Saving", "Saving"}));
        EXPECT_EQ(slotOf(a), 4);
        kept = readBytes(bank);
        EXPECT_EQ(entries(kept), entries(fresh, {"4|ROOM_01.xml|"})); // LOAD kept on the room
        void* data = nullptr;
        ASSERT_GT(a.host().dispt(PlatVst::opGetChunk, 0, 0, &data), 0);
        chunk = static_cast<char const*>(data);
        // Moves and deletes last for the session only.
        EXPECT_EQ(
            posted(a,
                   {{"OLDPROGRAM", "4"}, {"NEWPROGRAM", "10"}, {"NEXTSTEP", "OVERWRITEMEMORYLOC"}}),
            (Rows{"Moved 4"}));
        EXPECT_EQ(posted(a, {{"PROG", "10"}, {"NEXTSTEP", "DELETEMEMORYLOC"}}),
                  (Rows{"Deleted 10"}));
        EXPECT_EQ(textOf(a, 167, 10), "0");
        EXPECT_EQ(readBytes(bank), kept);
    }
    // A program restored from a host chunk under a file that no bank names
    // stays out of the bank; a version of it is a file of its own and joins.
    fs::copy_file(programs + "ROOM.XML", programs + "CHUNKED.xml");
    for (auto [tag, value] : {std::pair{"NAME", "Chunked"},
                              {"SELECTEDPROGRAM", "7"},
                              {"SEQUENCE", "7"},
                              {"ORIGINALFILENAME", "CHUNKED.xml"}}) {
        std::string const open = std::string("<") + tag + ">";
        bool const first = std::string(tag) == "NAME" || std::string(tag) == "SELECTEDPROGRAM";
        std::size_t const at = first ? chunk.find(open) : chunk.rfind(open);
        ASSERT_NE(at, std::string::npos) << tag;
        chunk.replace(at + open.size(), chunk.find('<', at + open.size()) - at - open.size(),
                      value);
    }
    {
        CorePeer b(rig.path());
        ASSERT_TRUE(ready(b)) << b.dump();
        EXPECT_EQ(textOf(b, 167, 4), "Demo Room"); // the version, read from the bank
        EXPECT_EQ(
            b.host().dispt(PlatVst::opSetChunk, 0, std::intptr_t(chunk.size() + 1), chunk.data()),
            1);
        ASSERT_TRUE(CorePeer::until([&] { return textOf(b, 56) == "Chunked"; }, kWait));
        EXPECT_EQ(slotOf(b), 7);
        EXPECT_EQ(readBytes(bank), kept);
        EXPECT_EQ(version(b, "CHUNKED_01"), (Rows{"Saving", "Saving"}));
        EXPECT_EQ(entries(readBytes(bank)), entries(kept, {"8|CHUNKED_01.xml|"}));
    }
    // With the saturator cut short its slot is kept, failed, and no version
    // takes it; a dangling link at a version's name is a name taken.
    std::string const saturator = readBytes(programs + "SATURATOR.XML");
    writeBytes(programs + "SATURATOR.XML", saturator.substr(0, saturator.size() / 2));
    fs::create_symlink(rig.folder() + "victim.xml", programs + "LINKED.xml");
    kept = readBytes(bank);
    CorePeer c(rig.path());
    ASSERT_TRUE(ready(c)) << c.dump();
    EXPECT_EQ(textOf(c, 167, 2), "FAILED SATURATOR");
    EXPECT_EQ(textOf(c, 167, 5), "Chunked");
    EXPECT_EQ(version(c, "LINKED"), (Rows{"Saving", "SAVE FAILED"}));
    EXPECT_EQ(slotOf(c), CoreDemo::iCroom);
    EXPECT_FALSE(fs::exists(rig.folder() + "victim.xml"));
    EXPECT_TRUE(fs::is_symlink(programs + "LINKED.xml"));
    EXPECT_EQ(readBytes(bank), kept);
    EXPECT_EQ(version(c, "ROOM_02"), (Rows{"Saving", "Saving"}));
    EXPECT_EQ(slotOf(c), 6);
    EXPECT_EQ(entries(readBytes(bank)), entries(kept, {"6|ROOM_02.xml|"}));
    EXPECT_EQ(temporaries(programs), 0);
    // A new instance still boots the room and plays the version like it.
    c.host().slot_(4);
    ASSERT_TRUE(
        CorePeer::until([&] { return slotOf(c) == 4 && textOf(c, 56) == "Demo Room"; }, kWait));
    CoreHost::CHANNELS const four = playedNoise(c.host(), 7);
    CorePeer d(rig.path());
    ASSERT_TRUE(ready(d)) << d.dump();
    CoreHost::CHANNELS const room = playedNoise(d.host(), 7);
    for (std::size_t ch = 0; ch < 2; ++ch) {
        EXPECT_GT(*std::max_element(room[ch].begin(), room[ch].end()), 0.01) << ch; // it sounds
        EXPECT_LT(relativeError(four[ch], room[ch]), 1e-9) << ch;
    }
}

// Two instances in one process post VERSIONING from two threads released
// together: under one name exactly one saves, under two names both join.
TEST(PluginVersionTest, InstancesRacingForANameSaveOnceAndBothJoinTheBank) {
    PluginRig rig;
    std::string const programs = dataOf(rig, CoreDemo::sCprograms);
    std::string const bank = dataOf(rig, CoreDemo::sCsetups) + CoreDemo::sCsetup;
    CorePeer a(rig.path()), b(rig.path());
    CorePeer* peers[2] = {&a, &b};
    std::string const racer[2] = {"Racer A", "Racer B"};
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(ready(*peers[k])) << peers[k]->dump();
        ASSERT_TRUE(writeText(*peers[k], 56, racer[k]));
    }
    Rows joined = entries(readBytes(bank));
    for (int round = 0; round < 55; ++round) {
        bool const same = round < 50;
        std::string const name[2] = {"R" + std::to_string(round) + (same ? "" : "A"),
                                     "R" + std::to_string(round) + (same ? "" : "B")};
        int const was[2] = {slotOf(a), slotOf(b)};
        Rows rows[2];
        std::atomic<int> started{0};
        std::vector<std::thread> threads;
        for (int k = 0; k < 2; ++k)
            threads.emplace_back([&, k] {
                started.fetch_add(1);
                while (started.load() < 2) std::this_thread::yield();
                rows[k] = version(*peers[k], name[k]);
            });
        for (auto& t : threads) t.join();
        int saved = 0;
        for (int k = 0; k < 2; ++k) {
            ASSERT_EQ(rows[k].size(), 2u) << round;
            bool const won = rows[k][1] == "Saving";
            saved += won;
            EXPECT_EQ(rows[k][1], won ? "Saving" : "SAVE FAILED") << round;
            EXPECT_EQ(slotOf(*peers[k]) != was[k], won) << round; // the loser keeps its slot
            EXPECT_EQ(textOf(*peers[k], 56), racer[k]) << round;  // and its program
            if (!won) continue;
            std::string const file = readBytes(programs + name[k] + ".xml");
            EXPECT_NE(file.find(racer[k]), std::string::npos) << round;
            EXPECT_EQ(file.find(racer[1 - k]), std::string::npos) << round;
            joined.push_back(std::to_string(slotOf(*peers[k])) + "|" + name[k] + ".xml|");
        }
        ASSERT_EQ(saved, same ? 1 : 2) << round;
        ASSERT_EQ(temporaries(programs), 0) << round;
    }
    Rows got = entries(readBytes(bank));
    // Entries added at once may stand in either order.
    std::sort(got.begin() + 4, got.end());
    std::sort(joined.begin() + 4, joined.end());
    EXPECT_EQ(got, joined);
}

} // namespace
