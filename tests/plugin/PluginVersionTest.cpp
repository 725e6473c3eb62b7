// ctest-labels: threads
// Versions saved through the built plug-in by VERSIONING chains posted on the
// bus as the memory page posts them: a version in bank 0 joins the demo bank
// (a new instance lists and plays it), a link at its name or a failed bank
// entry takes nothing, a chunk restore, a move or a delete never reach the
// bank, and of two instances racing for one name exactly one saves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <latch>
#include <thread>

#include "tests/plugin/PluginRig.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::string>;
constexpr double kWait = 60.0; // s; boots and loads under the sanitizers
Rows const kSaved{"Saving", "Saving"}, kFailed{"Saving", "SAVE FAILED"};

struct Rig : PluginRig {
    std::string const data = folder() + CoreDemo::sCdatapath;
    std::string const programs = data + CoreDemo::sCprograms;
    std::string const bank = data + CoreDemo::sCsetups + CoreDemo::sCsetup;
};

int temporaries(std::string const& folder) {
    return int(std::count_if(fs::directory_iterator(folder), fs::directory_iterator(), [](auto& e) {
        return e.path().filename().string().find(".~") != std::string::npos;
    }));
}

TEST(PluginVersionTest, AVersionJoinsTheBankAndNothingElseDoes) {
    Rig rig;
    std::string const fresh = readBytes(rig.bank);
    std::string kept;
    {
        CorePeer a(rig.path());
        ASSERT_TRUE(ready(a)) << a.dump();
        EXPECT_EQ(version(a, "ROOM_01"), kSaved);
        kept = readBytes(rig.bank);
        EXPECT_EQ(entries(kept), entries(fresh, {"4|ROOM_01.xml|"})); // LOAD kept on the room
        // Moves, deletes and a program restored from a host chunk under a
        // file that no bank names last for the session only.
        ASSERT_TRUE(restoreAt(a, rig.programs, 7));
        EXPECT_EQ(posted(a, "OVERWRITEMEMORYLOC", {{"OLDPROGRAM", "4"}, {"NEWPROGRAM", "10"}}),
                  (Rows{"Moved 4"}));
        EXPECT_EQ(posted(a, "DELETEMEMORYLOC", {{"PROG", "10"}}), (Rows{"Deleted 10"}));
        EXPECT_EQ(readBytes(rig.bank), kept);
    }
    // With the saturator cut short its slot is kept, failed, and no version
    // takes it; a dangling link at a version's name is a name taken.
    std::string const saturator = readBytes(rig.programs + "SATURATOR.XML");
    writeBytes(rig.programs + "SATURATOR.XML", saturator.substr(0, saturator.size() / 2));
    fs::create_symlink(rig.folder() + "victim.xml", rig.programs + "LINKED.xml");
    CorePeer c(rig.path());
    ASSERT_TRUE(ready(c)) << c.dump();
    EXPECT_EQ(textOf(c, 167, 4), "Demo Room"); // the version, read from the bank
    EXPECT_EQ(textOf(c, 167, 2), "FAILED SATURATOR");
    EXPECT_EQ(version(c, "LINKED"), kFailed);
    EXPECT_EQ(slotOf(c), CoreDemo::iCroom);
    EXPECT_FALSE(fs::exists(rig.folder() + "victim.xml"));
    EXPECT_TRUE(fs::is_symlink(rig.programs + "LINKED.xml"));
    EXPECT_EQ(version(c, "ROOM_02"), kSaved);
    EXPECT_EQ(entries(readBytes(rig.bank)), entries(kept, {"5|ROOM_02.xml|"}));
    EXPECT_EQ(temporaries(rig.programs), 0);
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
    Rig rig;
    CorePeer a(rig.path()), b(rig.path());
    CorePeer* peers[2] = {&a, &b};
    std::string const racer[2] = {"Racer A", "Racer B"};
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(ready(*peers[k])) << peers[k]->dump();
        ASSERT_TRUE(writeText(*peers[k], 56, racer[k]));
    }
    Rows joined;
    for (int round = 0; round < 55; ++round) {
        bool const same = round < 50;
        std::string const tag = "R" + std::to_string(round);
        std::string const name[2] = {same ? tag : tag + "A", same ? tag : tag + "B"};
        int const was[2] = {slotOf(a), slotOf(b)};
        Rows rows[2];
        std::latch go(2);
        auto race = [&](int k) {
            go.arrive_and_wait();
            rows[k] = version(*peers[k], name[k]);
        };
        { std::jthread first(race, 0), second(race, 1); }
        int saved = 0;
        for (int k = 0; k < 2; ++k) {
            bool const won = rows[k] == kSaved;
            saved += won;
            EXPECT_TRUE(won || rows[k] == kFailed) << round;
            EXPECT_EQ(slotOf(*peers[k]) != was[k], won) << round; // the loser keeps its slot
            EXPECT_EQ(textOf(*peers[k], 56), racer[k]) << round;  // and its program
            if (!won) continue;
            std::string const file = readBytes(rig.programs + name[k] + ".xml");
            EXPECT_TRUE(file.find(racer[k]) != file.npos && file.find(racer[1 - k]) == file.npos);
            joined.push_back(name[k] + ".xml");
        }
        ASSERT_EQ(saved, same ? 1 : 2) << round;
        ASSERT_EQ(temporaries(rig.programs), 0) << round;
    }
    // Entries added at once may stand in either order; each came last with
    // the largest SEQUENCE, so the file's order is the next boot's.
    Rows const got = entries(readBytes(rig.bank));
    Rows files;
    for (std::size_t k = 0; k < got.size(); ++k) {
        std::size_t const bar = got[k].find('|');
        EXPECT_EQ(got[k].substr(0, bar), std::to_string(k)) << got[k];
        if (k >= 4) files.push_back(got[k].substr(bar + 1, got[k].rfind('|') - bar - 1));
    }
    std::sort(files.begin(), files.end());
    std::sort(joined.begin(), joined.end());
    EXPECT_EQ(files, joined);
}

} // namespace
