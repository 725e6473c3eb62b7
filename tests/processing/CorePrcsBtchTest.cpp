// ctest-labels: threads
// The batch machine driven through ids 223-226 as the display drives it, on
// a booted engine over a generated installation, with a host calling as
// one would (its calls through the bypass path end each chain's muting
// wait, which would otherwise run out its time): the answers and lines of
// each chain, audio in bypass for the chain and out of it after, each step's
// effect on program memory and on the files; saves (plain, archive, version)
// read back against the live program, a version's entry in the bank (and
// none for one outside bank 0), saves that cannot be written, saves
// after a fallback, deleted locations that must stay deleted, and an empty
// memory.
#include "processing/CorePrcs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "program/CoreMmry.h"
#include "program/CoreProg.h"
#include "storage/CoreFsys.h"
#include "storage/CoreXml_.h"
#include "tests/processing/CorePrcsPeek.h"
#include "tests/support/FileBytes.h"
#include "tests/support/FsysItems.h"
#include "tests/support/LogCapture.h"

namespace {

using B = CorePrcs::BEANSTRUCT;
using Vars = std::vector<std::pair<std::string, std::string>>;

struct Chain {
    std::vector<bool> answers;     // each 226 answer
    std::vector<std::string> rows; // the line after each false
    bool mutedThroughout = true;   // bypass on after every step
    bool mutedAfter = true;        // bypass on after the end
    std::string action;            // ACTION read back as the display does
};

class CorePrcsBtchTest : public ::testing::Test, protected EngineKit {
protected:
    // 0 Init, 1 One, 2 Two (NAME_09.XML), 3 a program with a missing impulse,
    // 4 an archive program whose impulse lies inside its own archive.
    void SetUp() override {
        kit.wav("IR.WAV", {DataKit::impulse(64, 0, 0.8), DataKit::impulse(64, 0, -0.5)});
        auto plain = [&](char const* file, char const* name, char const* wav) {
            KitProgram p(name, "");
            p.slots.push_back(KitVector{{wav}});
            kit.program(file, p);
        };
        plain("INIT.XML", "Init", "IR.WAV");
        plain("ONE.XML", "One", "IR.WAV");
        plain("NAME_09.XML", "Two", "IR.WAV");
        plain("LOST.XML", "Lost", "NONE.WAV");
        wavItem = readBytes(kit.vectors() + "IR.WAV");
        KitProgram arc("Arc", "", {{"VECTORFILENAME", "PACK"}});
        arc.slots.push_back(KitVector{{"INNER.WAV"}});
        archive = kit.archive("programs/ARC.V2P", {{"INNER.WAV", wavItem},
                                                   {"ARC.XML", DataKit::programXml(arc)},
                                                   {"NOTE.TXT", "kept as it is"}});
        vectors = kit.archive("vectors/PACK.V2V", {{"SPARE.WAV", wavItem}});
        kit.setup("BANK.XML", {"INIT.XML", "ONE.XML", "NAME_09.XML", "LOST.XML", "ARC.V2P"}, -1);
        kit.master("BANK.XML", {{"DSPBUFFER", "256"}, {"OTIMED", "3"}});
        e = make();
        ASSERT_FALSE(e->fboot()) << log.text();
        ASSERT_FALSE(e->getby());
    }

    // Posts the variables (NEXTSTEP last, as given) and steps to the end.
    Chain run(Vars const& vars) {
        B none{};
        e->setbv(225, &none);
        for (auto const& [name, value] : vars) {
            e->setbs(223, CoreAnsx(name.c_str()), &none);
            e->setbs(224, CoreAnsx(value.c_str()), &none);
        }
        std::atomic<bool> done{false};
        std::thread host([&] {
            while (hostcalls && !done.load()) {
                e->prcss(nullptr, nullptr, 64, true, 0, 0.0, false, 2);
                std::this_thread::sleep_for(std::chrono::milliseconds(1)); // the host's period
            }
        });
        Chain c;
        for (int k = 0; k < 20; ++k) {
            bool const ended = e->getbb(226, &none);
            c.answers.push_back(ended);
            if (ended) break;
            c.rows.push_back(e->getbs(226, &none).c_str());
            c.mutedThroughout = c.mutedThroughout && e->getbb(53, &none);
        }
        done.store(true);
        host.join();
        c.mutedAfter = e->getbb(53, &none);
        e->setbs(223, CoreAnsx("ACTION"), &none);
        c.action = e->getbs(224, &none).c_str();
        return c;
    }
    static Vars labels(Vars more) {
        Vars v = {{"LOADED", "Loaded"},   {"LOADING", "Loading"}, {"DELETED", "Deleted"},
                  {"MOVED", "Moved"},     {"SAVING", "Saving"},   {"BANKCLEARED", "Cleared"},
                  {"BANKSAVED", "Saved"}, {"HYBRID", "Hybrid"},   {"MONO", "Mono"},
                  {"ACTION", "PAGE"}};
        v.insert(v.end(), more.begin(), more.end());
        return v;
    }
    void load(int slot) {
        Chain const c =
            run(labels({{"NEWPROGRAM", std::to_string(slot)}, {"NEXTSTEP", "READPROGRAM"}}));
        ASSERT_EQ(c.answers.size(), 3u);
        ASSERT_EQ(e->getbi(67, nullptr), slot);
    }
    std::string name(int slot) { return CorePrcsPeek{*e}.memory()->getnm(slot).c_str(); }
    std::string stored(int slot) { return CorePrcsPeek{*e}.memory()->getvl(slot, false).c_str(); }
    std::string live() { return e->getbs(68, nullptr).c_str(); }
    // The live program moved away from what its file holds.
    void edit(char const* newname) { e->setbs(56, CoreAnsx(newname), nullptr); }

    LogCapture log;
    // A host calls while each chain runs; off where a case reads the kernels
    // the load left, which a host's first blocks would go on to mix.
    bool hostcalls = true;
    std::unique_ptr<CorePrcs> e;
    std::string wavItem, archive, vectors;
};

TEST_F(CorePrcsBtchTest, ChainsAnswerAndMuteAsTheDisplayReadsThem) {
    struct Row {
        Vars vars;
        std::vector<std::string> rows;
        int current; // slot afterwards
    } const rows[] = {
        {labels({{"NEWPROGRAM", "1"}, {"NEXTSTEP", "READPROGRAM"}}),
         {"Loading 1", "Loaded One"},
         1},
        {labels({{"NEWPROGRAM", ""}, {"NEXTSTEP", "READPROGRAM"}}),
         {"Loading 0 ", "Loaded Init"},
         0},
        // Upwards from an empty location, past the last one, round to 0.
        {labels({{"NEWPROGRAM", " 7x"}, {"NEXTSTEP", "READPROGRAM"}}),
         {"Loading 7x", "Loaded Init"},
         0},
        {labels({{"NEWPROGRAM", "2"}, {"NEXTSTEP", "readprogram"}}), {}, 0},
        {labels({}), {}, 0},
        {labels({{"NEXTSTEP", "END"}}), {}, 0},
        {labels({{"NEXTSTEP", "VERSIONING"}, {"VERSIONINGNAME", ""}}),
         {"Saving", "SAVE FAILED"},
         0},
        {labels({{"NEXTSTEP", "TEST"}}), {"TEST"}, 0}, // its wait shortened below
    };
    CorePrcs::testStepWait(1);
    for (Row const& r : rows) {
        Chain const c = run(r.vars);
        std::vector<bool> want(r.rows.size(), false);
        want.push_back(true);
        EXPECT_EQ(c.answers, want) << r.vars.back().second;
        EXPECT_EQ(c.rows, r.rows);
        EXPECT_TRUE(c.mutedThroughout);
        EXPECT_FALSE(c.mutedAfter);
        EXPECT_EQ(c.action, "PAGE");
        EXPECT_EQ(e->getbi(67, nullptr), r.current);
    }
    CorePrcs::testStepWait(0);
    // A step that throws ends the chain: bypass off, an error line, no lock kept.
    CorePrcs::failNextSteps(1);
    Chain const c = run(labels({{"NEWPROGRAM", "1"}, {"NEXTSTEP", "READPROGRAM"}}));
    EXPECT_EQ(c.answers, std::vector<bool>{true});
    EXPECT_FALSE(c.mutedAfter);
    EXPECT_EQ(std::string(e->getbs(226, nullptr).c_str()), "BATCH ERROR READPROGRAM");
    e->lockp();
    e->rlsep();
    load(1);
}

TEST_F(CorePrcsBtchTest, MemoryStepsAndDeletedLocationsStayDeleted) {
    CoreMmry& m = *CorePrcsPeek{*e}.memory();
    // Bank saved, cleared (nothing left to load: the search ends), read back.
    Chain c = run(labels(
        {{"BANK", "0"}, {"LIBRARY", "OUT.XML"}, {"BANKSTRING", "A"}, {"NEXTSTEP", "SAVEBANK"}}));
    EXPECT_EQ(c.rows, std::vector<std::string>{"Saved A"});
    c = run(labels({{"BANK", "0"}, {"NEXTSTEP", "CLEARBANK"}}));
    EXPECT_EQ(c.rows, (std::vector<std::string>{"Cleared", "Loaded NO PROGRAM"}));
    EXPECT_EQ(m.getck(0, 1, nullptr, 0), -1);
    c = run(labels({{"BANK", "0"}, {"LIBRARY", "OUT.XML"}, {"NEXTSTEP", "READSETUP"}}));
    EXPECT_EQ(c.rows, (std::vector<std::string>{"Cleared", "Loaded OUT.XML", "Loaded Init"}));
    EXPECT_EQ(name(4), "Arc");

    // Replace with the same location: loaded, then emptied; a later load
    // does not write the live program back into it.
    c = run(labels({{"NEWPROGRAM", "2"}, {"OLDPROGRAM", "2"}, {"NEXTSTEP", "REPLACEMEMORYLOC"}}));
    EXPECT_EQ(c.rows, (std::vector<std::string>{"Loading 2", "Loaded Two", "Deleted 2"}));
    load(1);
    EXPECT_EQ(stored(2), "0");

    // The loaded location moved away, or overwritten by a move: the same.
    c = run(labels({{"OLDPROGRAM", "1"}, {"NEWPROGRAM", "6"}, {"NEXTSTEP", "OVERWRITEMEMORYLOC"}}));
    EXPECT_EQ(c.rows, std::vector<std::string>{"Moved 1"});
    EXPECT_EQ(name(6), "One");
    c = run(labels({{"PROG", "6"}, {"NEXTSTEP", "DELETEMEMORYLOC"}}));
    EXPECT_EQ(c.rows, std::vector<std::string>{"Deleted 6"});
    edit("Edited");
    c = run(labels({{"SAVING", "Saving"}, {"NEXTSTEP", "SAVEPROGRAM"}}));
    EXPECT_EQ(c.rows, std::vector<std::string>{"SAVE FAILED"});
    load(0);
    EXPECT_EQ(stored(1), "0");
    EXPECT_EQ(stored(6), "0");
}

TEST_F(CorePrcsBtchTest, HybridAndMonoSwitchesAreWrittenBackAndReloaded) {
    load(1);
    CoreProg& g = *CorePrcsPeek{*e}.program();
    for (bool on : {true, false}) {
        Chain c = run(labels(
            {{"NEWPROGRAM", "1"}, {"BVFORCEHYBRID", on ? "1" : ""}, {"NEXTSTEP", "CHANGEHYBRID"}}));
        EXPECT_EQ(c.rows, (std::vector<std::string>{"Hybrid", "Loading 1", "Loaded One"}));
        EXPECT_EQ(g.getfh(), on);
        c = run(labels(
            {{"NEWPROGRAM", "1"}, {"BVFORCEMONO", on ? "yes" : ""}, {"NEXTSTEP", "CHANGEMONO"}}));
        EXPECT_EQ(c.rows, (std::vector<std::string>{"Mono", "Loading 1", "Loaded One"}));
        EXPECT_EQ(g.getfm(), on);
        EXPECT_EQ(canonProgram(stored(1)), canonProgram(live())); // reloaded what memory holds
    }
}

TEST_F(CorePrcsBtchTest, SavesWriteTheLiveProgramAndKeepEverythingElse) {
    // Plain: the file read back is the live document; nothing else changes.
    load(1);
    edit("One edited");
    std::string const vectorBefore = readBytes(kit.vectors() + "IR.WAV");
    Chain c = run(labels({{"NEXTSTEP", "SAVEPROGRAM"}}));
    EXPECT_EQ(c.rows, (std::vector<std::string>{"Saving", "Saving"}));
    CoreXml_ file;
    file.getff(CoreAnsx((kit.programs() + "ONE.XML").c_str()), false);
    EXPECT_EQ(canonProgram(file.settc(false, false).c_str()), canonProgram(live()));
    EXPECT_EQ(canonProgram(stored(1)), canonProgram(live()));
    EXPECT_EQ(readBytes(kit.vectors() + "IR.WAV"), vectorBefore);

    // Archive: one program item under the reader's name, the other items
    // byte for byte, the vector archive untouched; a reload reads the new text.
    load(4);
    edit("Arc edited");
    std::string const pack = readBytes(vectors);
    c = run(labels({{"NEXTSTEP", "SAVEPROGRAM"}}));
    EXPECT_EQ(c.rows, (std::vector<std::string>{"Saving", "Saving"}));
    EXPECT_EQ(readBytes(vectors), pack);
    CoreFsys store(&pool, CoreAnsx(""), false);
    ASSERT_TRUE(store.loada(CoreAnsx(archive.c_str()), CoreAnsx("0"), false, nullptr));
    std::vector<std::string> names;
    for (int k = 0; k < store.llvcn(); ++k) {
        int id = -1;
        names.push_back(store.llvel(k, id).c_str());
        if (names.back() == "INNER.WAV") {
            EXPECT_EQ(heldItem(store, id), wavItem);
        }
        if (names.back() == "NOTE.TXT") {
            EXPECT_EQ(heldItem(store, id), "kept as it is");
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"INNER.WAV", "NOTE.TXT", "PROGRAMS/ARC.XML"}));
    std::string const saved = live();
    CorePrcsPeek{*e}.memory()->fix_l(4);
    load(4);
    EXPECT_EQ(canonProgram(stored(4)), canonProgram(saved));
    EXPECT_EQ(CorePrcsPeek{*e}.programName(), "Arc edited");
}

TEST_F(CorePrcsBtchTest, VersioningTakesTheNextFreeLocationUnderTheProposedName) {
    CoreMmry& m = *CorePrcsPeek{*e}.memory();
    m.mvepr(2, 12, true);
    load(12);
    EXPECT_STREQ(e->getbs(76, nullptr).c_str(), "NAME_10");
    std::string const old = readBytes(kit.programs() + "NAME_09.XML");
    std::string const before = stored(12);
    edit("Two v10");
    Chain c = run(labels({{"VERSIONINGNAME", "NAME_10"}, {"NEXTSTEP", "VERSIONING"}}));
    EXPECT_EQ(c.rows, (std::vector<std::string>{"Saving", "Saving"}));
    // A version that joins the bank takes the place the next boot gives
    // it, after the bank's five entries, not the first free one after 12.
    EXPECT_EQ(e->getbi(67, nullptr), 5);
    EXPECT_EQ(std::string(m.getpf(5).c_str()), "NAME_10.xml");
    EXPECT_EQ(stored(12), before); // as on disk
    EXPECT_EQ(readBytes(kit.programs() + "NAME_09.XML"), old);
    CoreXml_ file;
    file.getff(CoreAnsx((kit.programs() + "NAME_10.xml").c_str()), false);
    EXPECT_EQ(canonProgram(file.settc(false, false).c_str()), canonProgram(stored(5)));
    EXPECT_STREQ(e->getbs(76, nullptr).c_str(), "NAME_11");
    // The chain's version joins the bank; one outside bank 0 keeps its file
    // and is logged as not in the bank.
    std::string const bank = readBytes(kit.setups() + "BANK.XML");
    EXPECT_NE(bank.find("NAME_10.xml"), std::string::npos) << bank;
    m.mvepr(5, 150, true);
    load(150);
    c = run(labels({{"VERSIONINGNAME", "NAME_FAR"}, {"NEXTSTEP", "VERSIONING"}}));
    EXPECT_EQ(c.rows, (std::vector<std::string>{"Saving", "Saving"}));
    EXPECT_EQ(e->getbi(67, nullptr), 151);
    EXPECT_FALSE(readBytes(kit.programs() + "NAME_FAR.xml").empty());
    EXPECT_EQ(readBytes(kit.setups() + "BANK.XML"), bank);
    EXPECT_NE(log.text().find("version NAME_FAR.xml saved, not added to the bank: location 150 "
                              "lies outside bank 0"),
              std::string::npos)
        << log.text();
    m.mvepr(150, 5, true);
    load(5);
    // Versioned again: after the six entries the bank holds now.
    edit("Two v11");
    c = run(labels({{"VERSIONINGNAME", "NAME_11"}, {"NEXTSTEP", "VERSIONING"}}));
    EXPECT_EQ(e->getbi(67, nullptr), 6);
    EXPECT_EQ(std::string(m.getpf(6).c_str()), "NAME_11.xml");
    EXPECT_NE(readBytes(kit.programs() + "NAME_11.xml").find("Two v11"), std::string::npos);
}

TEST_F(CorePrcsBtchTest, AVersionOfAnArchiveProgramCarriesTheImpulsesItReads) {
    hostcalls = false;
    load(4);
    std::vector<double> const kernel = CorePrcsPeek{*e}.kernel(0, 0);
    std::string const source = live();
    Chain const c = run(labels({{"VERSIONINGNAME", "ARC_01"}, {"NEXTSTEP", "VERSIONING"}}));
    EXPECT_EQ(c.rows, (std::vector<std::string>{"Saving", "Saving"}));
    ASSERT_EQ(e->getbi(67, nullptr), 5);
    CorePrcsPeek{*e}.memory()->fix_l(5); // as its file holds it
    load(5);
    EXPECT_FALSE(CorePrcsPeek{*e}.fellBack());
    EXPECT_EQ(canonProgram(live()), canonProgram(source));
    EXPECT_EQ(CorePrcsPeek{*e}.kernel(0, 0), kernel);
}

TEST_F(CorePrcsBtchTest, FailedWritesAndFallbacksLeaveTheFilesAlone) {
    // A parent path that is a regular file fails for root too.
    std::string const bank = readBytes(kit.setups() + "BANK.XML");
    Chain c =
        run(labels({{"BANK", "0"}, {"LIBRARY", "BANK.XML/OUT.XML"}, {"NEXTSTEP", "SAVEBANK"}}));
    EXPECT_EQ(c.rows, std::vector<std::string>{"SAVE FAILED BANK.XML/OUT.XML"});
    EXPECT_FALSE(c.mutedAfter);
    EXPECT_EQ(readBytes(kit.setups() + "BANK.XML"), bank);
    load(1);
    std::string const one = readBytes(kit.programs() + "ONE.XML");
    writeBytes(kit.programs() + "BLOCK", "a file, not a folder");
    // Under a path, or an existing name (the program's own, or another's),
    // nothing is written either; each failure is logged once with why.
    struct Taken {
        char const* name;
        char const* line; // the level-0 line's end
    } const taken[] = {{"BLOCK/V", "file name refused: \"BLOCK/V\""},
                       {"ONE", "ONE.xml: name taken"},
                       {"name_09", "name_09.xml: name taken"}};
    for (Taken const& t : taken) {
        std::size_t const from = log.text().size();
        c = run(labels({{"VERSIONINGNAME", t.name}, {"NEXTSTEP", "VERSIONING"}}));
        EXPECT_EQ(c.rows, (std::vector<std::string>{"Saving", "SAVE FAILED"})) << t.name;
        EXPECT_FALSE(c.mutedAfter);
        EXPECT_EQ(e->getbi(67, nullptr), 1); // no version left without its file
        EXPECT_NE(log.text().find(t.line, from), std::string::npos) << t.name << log.text();
    }
    EXPECT_EQ(readBytes(kit.setups() + "BANK.XML"), bank);
    EXPECT_EQ(readBytes(kit.programs() + "ONE.XML"), one);

    // Location 3 fails and location 0 plays instead: nothing of location 0
    // reaches location 3's memory or file, by save, version or write-back.
    std::string const lost = readBytes(kit.programs() + "LOST.XML");
    std::string const lostText = stored(3);
    c = run(labels({{"NEWPROGRAM", "3"}, {"NEXTSTEP", "READPROGRAM"}}));
    EXPECT_EQ(c.rows, (std::vector<std::string>{"Loading 3", "Loaded Init"}));
    EXPECT_TRUE(CorePrcsPeek{*e}.fellBack());
    edit("Init under Lost");
    for (char const* step : {"SAVEPROGRAM", "VERSIONING"}) {
        c = run(labels({{"VERSIONINGNAME", "LOST_01"}, {"NEXTSTEP", step}}));
        EXPECT_EQ(c.rows.back(), "SAVE FAILED") << step;
    }
    load(1);
    EXPECT_EQ(readBytes(kit.programs() + "LOST.XML"), lost);
    EXPECT_EQ(stored(3), lostText);
    EXPECT_EQ(CorePrcsPeek{*e}.memory()->getcf(5), 5);
}

} // namespace
