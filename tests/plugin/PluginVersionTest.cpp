// ctest-labels: threads
// Versions saved through the built plug-in, by VERSIONING chains posted on
// the property bus as the memory page posts them: a version is created new
// and never in place of anything at its name (a dangling link included), of
// two instances racing for one name exactly one saves, a version in bank 0
// joins the demo bank so that a new instance lists and plays it, a failed
// bank entry keeps its slot, and neither a chunk restore nor a move or a
// delete reaches the bank file.
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

#include "plugin/CorePrvt.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {

namespace fs = std::filesystem;
using V = PlatVst;
using Vars = std::vector<std::pair<std::string, std::string>>;
using Rows = std::vector<std::string>;

constexpr double kWait = 60.0; // s; boots and loads under the sanitizers

std::string textOf(CorePeer& p, int id, int element = 0) { return p.bus(id, 's', element).text; }
int intOf(CorePeer& p, int id) { return int(p.bus(id, 'i').number); }

bool writeText(CorePeer& p, int id, std::string const& value) {
    CorePrvt::BUSCALL b;
    b.kind = 's';
    b.write = true;
    std::snprintf(b.text, sizeof b.text, "%s", value.c_str());
    CorePrvt::CALL c;
    c.kind = CorePrvt::iCbus;
    c.id = id;
    c.data = &b;
    c.size = sizeof b;
    return p.call(c) == 1;
}

// Posts a chain as the display posts one (labels, arguments, NEXTSTEP last)
// and steps it to its end; the line of each step.
Rows chain(CorePeer& p, Vars const& vars) {
    p.bus(225, 'v');
    Vars all = {{"SAVING", "Saving"}, {"MOVED", "Moved"},     {"DELETED", "Deleted"},
                {"LOADED", "Loaded"}, {"LOADING", "Loading"}, {"ACTION", "ProgMode"}};
    all.insert(all.end(), vars.begin(), vars.end());
    for (auto const& [name, value] : all)
        if (!writeText(p, 223, name) || !writeText(p, 224, value)) return {"not posted"};
    Rows rows;
    for (int k = 0; k < 20; ++k) {
        CorePrvt::BUSCALL const ended = p.bus(226, 'b');
        if (ended.kind == 0 || ended.number != 0.0) break;
        rows.push_back(textOf(p, 226));
    }
    return rows;
}

Rows version(CorePeer& p, std::string const& name) {
    return chain(p, {{"VERSIONINGNAME", name}, {"NEXTSTEP", "VERSIONING"}});
}

// Booted, and playing the room the demo bank boots into.
bool ready(CorePeer& p) {
    return CorePeer::until(
        [&] {
            CorePrvt::BUSCALL const busy = p.bus(46, 'b');
            return busy.kind != 0 && busy.number == 0.0 && intOf(p, 67) == CoreDemo::iCroom &&
                   textOf(p, 56) == "Demo Room";
        },
        kWait);
}

// The text of the first element tag inside block, trimmed; "" when none.
std::string element(std::string const& block, std::string const& tag) {
    std::size_t const open = block.find("<" + tag + ">");
    std::size_t const close = block.find("</" + tag + ">");
    if (open == std::string::npos || close == std::string::npos) return "";
    std::string v = block.substr(open + tag.size() + 2, close - open - tag.size() - 2);
    v.erase(0, v.find_first_not_of(" \t\r\n"));
    v.erase(v.find_last_not_of(" \t\r\n") + 1);
    return v;
}

// A bank file's entries in document order, each "SEQUENCE|FILENAME|LOAD".
Rows entries(std::string const& bank) {
    Rows out;
    for (std::size_t at = bank.find("<PROGRAM>"); at != std::string::npos;
         at = bank.find("<PROGRAM>", at + 1)) {
        std::string const block = bank.substr(at, bank.find("</PROGRAM>", at) - at);
        out.push_back(element(block, "SEQUENCE") + "|" + element(block, "FILENAME") + "|" +
                      element(block, "LOAD"));
    }
    return out;
}

Rows plus(Rows rows, Rows const& more) {
    rows.insert(rows.end(), more.begin(), more.end());
    return rows;
}

// Temporaries a save left beside its file.
int temporaries(std::string const& folder) {
    int n = 0;
    for (auto const& e : fs::directory_iterator(folder))
        if (e.path().filename().string().find(".~") != std::string::npos) ++n;
    return n;
}

// The first element tag's text in a chunk replaced (last: its last one).
void replace(std::string& text, std::string const& tag, std::string const& value, bool last) {
    std::string const open = "<" + tag + ">", close = "</" + tag + ">";
    std::size_t const at = last ? text.rfind(open) : text.find(open);
    ASSERT_NE(at, std::string::npos) << tag;
    std::size_t const end = text.find(close, at);
    text.replace(at + open.size(), end - at - open.size(), value);
}

// What an instance plays from its first sound on, for a fixed noise.
CoreHost::CHANNELS played(CoreHost& h) {
    std::mt19937 g(7);
    std::uniform_real_distribution<double> d(-0.5, 0.5);
    CoreHost::CHANNELS x(2, std::vector<double>(20000)), y;
    for (auto& c : x)
        for (auto& v : c) v = static_cast<float>(d(g));
    h.rendr(x, y, true);
    std::size_t onset = 0;
    while (onset < y[0].size() && std::abs(y[0][onset]) < 1e-9) ++onset;
    for (auto& c : y) {
        c.erase(c.begin(), c.begin() + long(std::min(onset, c.size())));
        c.resize(8000);
    }
    return y;
}

struct Demo {
    PluginRig rig;
    std::string programs = rig.folder() + CoreDemo::sCdatapath + CoreDemo::sCprograms;
    std::string bank = rig.folder() + CoreDemo::sCdatapath + CoreDemo::sCsetups + CoreDemo::sCsetup;
};

TEST(PluginVersionTest, AVersionJoinsTheBankAndAChunkAMoveOrADeleteDoNot) {
    Demo demo;
    std::string const fresh = readBytes(demo.bank);
    Rows const demoEntries = entries(fresh);
    ASSERT_EQ(demoEntries.size(), 4u);
    std::string kept; // the bank after the version
    std::string chunk;
    {
        CorePeer a(demo.rig.path());
        ASSERT_TRUE(ready(a)) << a.dump();
        EXPECT_EQ(textOf(a, 76), "ROOM_01");
        EXPECT_EQ(version(a, "ROOM_01"), (Rows{"Saving", "Saving"}));
        EXPECT_EQ(intOf(a, 67), 4);
        kept = readBytes(demo.bank);
        EXPECT_EQ(entries(kept), plus(demoEntries, {"4|ROOM_01.xml|"})); // LOAD kept on the room
        void* data = nullptr;
        std::intptr_t const size = a.host().dispt(V::opGetChunk, 0, 0, &data);
        ASSERT_GT(size, 0);
        chunk.assign(static_cast<char const*>(data));
        // Moves and deletes last for the session only.
        EXPECT_EQ(
            chain(a,
                  {{"OLDPROGRAM", "4"}, {"NEWPROGRAM", "10"}, {"NEXTSTEP", "OVERWRITEMEMORYLOC"}}),
            (Rows{"Moved 4"}));
        EXPECT_EQ(textOf(a, 167, 10), "Demo Room");
        EXPECT_EQ(chain(a, {{"PROG", "10"}, {"NEXTSTEP", "DELETEMEMORYLOC"}}),
                  (Rows{"Deleted 10"}));
        EXPECT_EQ(textOf(a, 167, 10), "0");
        EXPECT_EQ(readBytes(demo.bank), kept);
    }
    // A program restored from a host chunk, under a file no bank names,
    // stays out of the bank; a version of it is a file of its own and joins.
    fs::copy_file(demo.programs + "ROOM.XML", demo.programs + "CHUNKED.xml");
    replace(chunk, "NAME", "Chunked", false);
    replace(chunk, "SELECTEDPROGRAM", "7", false);
    replace(chunk, "SEQUENCE", "7", true);
    replace(chunk, "ORIGINALFILENAME", "CHUNKED.xml", true);
    {
        CorePeer b(demo.rig.path());
        ASSERT_TRUE(ready(b)) << b.dump();
        EXPECT_EQ(textOf(b, 167, 4), "Demo Room"); // the version, read from the bank
        EXPECT_EQ(b.host().dispt(V::opSetChunk, 0, std::intptr_t(chunk.size() + 1),
                                 const_cast<char*>(chunk.c_str())),
                  1);
        ASSERT_TRUE(CorePeer::until([&] { return textOf(b, 56) == "Chunked"; }, kWait));
        EXPECT_EQ(intOf(b, 67), 7);
        EXPECT_EQ(readBytes(demo.bank), kept);
        EXPECT_EQ(version(b, "CHUNKED_01"), (Rows{"Saving", "Saving"}));
        EXPECT_EQ(entries(readBytes(demo.bank)),
                  plus(demoEntries, {"4|ROOM_01.xml|", "8|CHUNKED_01.xml|"}));
    }
    // A new instance still boots the room, lists the versions and plays them.
    CorePeer c(demo.rig.path());
    ASSERT_TRUE(ready(c)) << c.dump();
    EXPECT_EQ(textOf(c, 167, 4), "Demo Room");
    EXPECT_EQ(textOf(c, 167, 5), "Chunked");
    c.host().slot_(4);
    ASSERT_TRUE(CorePeer::until([&] { return intOf(c, 67) == 4; }, kWait));
    ASSERT_TRUE(CorePeer::until([&] { return textOf(c, 56) == "Demo Room"; }, kWait));
    CoreHost::CHANNELS const four = played(c.host());
    // The same sound as the room an instance boots into.
    CorePeer d(demo.rig.path());
    ASSERT_TRUE(ready(d)) << d.dump();
    CoreHost::CHANNELS const room = played(d.host());
    for (std::size_t ch = 0; ch < 2; ++ch) {
        EXPECT_GT(*std::max_element(room[ch].begin(), room[ch].end()), 0.01) << ch; // it sounds
        EXPECT_LT(relativeError(four[ch], room[ch]), 1e-9) << ch;
    }
}

TEST(PluginVersionTest, ALinkAtTheNameOrAFailedEntryTakesNothing) {
    Demo demo;
    std::string const saturator = demo.programs + "SATURATOR.XML";
    std::string const whole = readBytes(saturator);
    writeBytes(saturator, whole.substr(0, whole.size() / 2));
    std::string const victim = demo.rig.folder() + "victim.xml";
    fs::create_symlink(victim, demo.programs + "ROOM_01.xml");
    std::string const before = readBytes(demo.bank);

    CorePeer a(demo.rig.path());
    ASSERT_TRUE(ready(a)) << a.dump();
    EXPECT_EQ(textOf(a, 167, 2), "FAILED SATURATOR");
    // The dangling link counts as taken: nothing is written through it.
    EXPECT_EQ(version(a, "ROOM_01"), (Rows{"Saving", "SAVE FAILED"}));
    EXPECT_EQ(intOf(a, 67), CoreDemo::iCroom);
    EXPECT_EQ(textOf(a, 56), "Demo Room");
    EXPECT_FALSE(fs::exists(victim));
    EXPECT_TRUE(fs::is_symlink(demo.programs + "ROOM_01.xml"));
    EXPECT_EQ(readBytes(demo.bank), before);
    // The failed saturator keeps slot 2: the version goes past it.
    EXPECT_EQ(version(a, "ROOM_02"), (Rows{"Saving", "Saving"}));
    EXPECT_EQ(intOf(a, 67), 4);
    EXPECT_EQ(textOf(a, 167, 2), "FAILED SATURATOR");
    EXPECT_EQ(entries(readBytes(demo.bank)), plus(entries(before), {"4|ROOM_02.xml|"}));
    EXPECT_EQ(temporaries(demo.programs), 0);
}

// Two instances in one process post VERSIONING from two threads released
// together: under one name exactly one saves; under two names both save and
// both join the bank.
TEST(PluginVersionTest, InstancesRacingForANameSaveOnceAndBothJoinTheBank) {
    Demo demo;
    std::string const before = readBytes(demo.bank);
    CorePeer a(demo.rig.path()), b(demo.rig.path());
    CorePeer* peers[2] = {&a, &b};
    for (CorePeer* p : peers) ASSERT_TRUE(ready(*p)) << p->dump();
    ASSERT_TRUE(writeText(a, 56, "Racer A"));
    ASSERT_TRUE(writeText(b, 56, "Racer B"));
    Rows joined = entries(before);
    auto race = [&](std::string const& nameA, std::string const& nameB, Rows* rows, int* slots) {
        std::atomic<int> started{0};
        std::vector<std::thread> threads;
        for (int k = 0; k < 2; ++k)
            threads.emplace_back([&, k] {
                started.fetch_add(1);
                while (started.load() < 2) std::this_thread::yield();
                rows[k] = version(*peers[k], k == 0 ? nameA : nameB);
                slots[k] = intOf(*peers[k], 67);
            });
        for (auto& t : threads) t.join();
    };
    for (int round = 0; round < 50; ++round) {
        std::string const name = "RACE_" + std::to_string(round);
        int const was[2] = {intOf(a, 67), intOf(b, 67)};
        Rows rows[2];
        int slots[2] = {-1, -1};
        race(name, name, rows, slots);
        int saved = 0, winner = 0;
        for (int k = 0; k < 2; ++k) {
            ASSERT_EQ(rows[k].size(), 2u) << round;
            if (rows[k][1] == "Saving") {
                ++saved;
                winner = k;
                EXPECT_NE(slots[k], was[k]) << round;
            } else {
                EXPECT_EQ(rows[k][1], "SAVE FAILED") << round;
                EXPECT_EQ(slots[k], was[k]) << round; // its slot, and its program
                EXPECT_EQ(textOf(*peers[k], 56), k == 0 ? "Racer A" : "Racer B") << round;
            }
        }
        ASSERT_EQ(saved, 1) << round;
        std::string const file = readBytes(demo.programs + name + ".xml");
        EXPECT_NE(file.find(winner == 0 ? "Racer A" : "Racer B"), std::string::npos) << round;
        EXPECT_EQ(file.find(winner == 0 ? "Racer B" : "Racer A"), std::string::npos) << round;
        joined.push_back(std::to_string(slots[winner]) + "|" + name + ".xml|");
        ASSERT_EQ(temporaries(demo.programs), 0) << round;
    }
    EXPECT_EQ(entries(readBytes(demo.bank)), joined);
    // Both at once under their own names: both versions stay in the bank.
    Rows rows[2];
    int slots[2] = {-1, -1};
    for (int round = 0; round < 5; ++round) {
        race("A_" + std::to_string(round), "B_" + std::to_string(round), rows, slots);
        for (int k = 0; k < 2; ++k) EXPECT_EQ(rows[k], (Rows{"Saving", "Saving"})) << round;
    }
    Rows const last = entries(readBytes(demo.bank));
    ASSERT_EQ(last.size(), joined.size() + 10);
    Rows files;
    for (std::string const& e : last) files.push_back(e.substr(e.find('|') + 1));
    for (int round = 0; round < 5; ++round)
        for (char const* who : {"A_", "B_"}) {
            std::string const file = who + std::to_string(round) + ".xml|";
            EXPECT_EQ(std::count(files.begin(), files.end(), file), 1) << file;
        }
}

} // namespace
