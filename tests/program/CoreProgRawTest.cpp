// Raw slots: trees read from RAW sections (number lists, WAV files, external
// vector files), built into tables padded to the slot's longest file and
// handed to the raw-function modulators that name the slot; whole items read
// as text; and the failures (a 0-frame file, a self-referencing file) that
// log, leave no modulator on freed memory and give the pool back.
#include "program/CoreProg.h"

#include "engine/CoreRvct.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreRfun.h"
#include "storage/CoreFsys.h"
#include "tests/engine/CoreVctrPeek.h"
#include "tests/program/ProgProbe.h"
#include "tests/support/DataKit.h"
#include "tests/support/FileBytes.h"
#include "tests/support/FsysItems.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace {

// A parsed top ELEMENT holding inside.
struct Element : KitNode {
    explicit Element(std::string const& inside) : KitNode(kitEl("ELEMENT", inside)) {}
};

std::string external(char const* file, std::string const& control) {
    return kitEl("FILENAME", file) + kitEl("CONTROL", control);
}

class CoreProgRawTest : public ::testing::Test {
protected:
    void SetUp() override {
        p.setfs(&store);
        p.setrt(44100);
    }
    // Raw-function modulator i playing raw slots a and b.
    void play(int i, char const* a, char const* b) {
        p.rawfun(i)->setvl("OFF", "OFF", a, b, "RSINGLE", 44100, -1.0);
    }
    DataKit kit;
    CorePool storePool; // the store keeps what it reads: not counted with the program's pool
    CoreFsys store{&storePool, CoreAnsx(kit.data().c_str()), false};
    CorePool pool;
    ProgProbe p{&pool};
};

TEST_F(CoreProgRawTest, SlotsPadToTheLongestFileAndBindByName) {
    std::vector<std::vector<double>> const signals = {
        DataKit::ramp(100, 0, 1), DataKit::ramp(250, 1, 0), DataKit::ramp(40, -1, 1)};
    kit.csv("RA.CSV", signals[0]);
    kit.wav("RB.WAV", {signals[1]});
    kit.csv("RC.CSV", signals[2]);
    kit.wav("RLONG.WAV", {DataKit::ramp(300, 0, 0.5)});
    KitVector top;
    top.children = {KitVector({"RA.CSV", "RB.WAV", "RC.CSV"}), KitVector({"RLONG.WAV"})};
    top.children[0].source = "MIX1";
    play(0, "RAW1", "RAW1");
    play(1, "RAW1", "RAW2"); // RAW2 is not in use
    play(2, "RAW2", "RAW2");
    long const baseline = pool.getma();

    Element e(DataKit::vectorXml(top));
    CoreRvct* root = p.readRaw(0, e.node);
    ASSERT_NE(root, nullptr);
    p.starr();
    ASSERT_EQ(p.raw(0).leaves.count, 2);
    auto* leaf = static_cast<CoreRvct*>(p.raw(0).leaves[0]);
    for (int i = 0; i < 3; ++i) {
        void *l = nullptr, *r = nullptr;
        leaf->getip(i, &l, &r);
        auto const* values = static_cast<double const*>(l);
        std::vector<double> const& s = signals[i];
        for (int k = 0; k < 300; ++k)
            ASSERT_NEAR(values[k], s[k < int(s.size()) ? k : s.size() - 1], 1e-6) << i << " " << k;
    }
    EXPECT_EQ(root->getcd(), 300);
    EXPECT_EQ(root->getnm(), CoreAnsx("VECTOR0"));
    EXPECT_TRUE(p.rawfun(0)->isact());
    EXPECT_EQ(p.rawfun(0)->getex().array0, root->getlc());
    EXPECT_EQ(p.rawfun(0)->getex().length1, 300);
    EXPECT_FALSE(p.rawfun(1)->isact());
    EXPECT_FALSE(p.rawfun(2)->isact());
    // Part of a block by itself: the active raw function plays n samples
    // onto its source; the idle ones keep theirs.
    p.test_(64);
    EXPECT_EQ(p.rawfun(0)->getex().samples, 64.0);
    EXPECT_DOUBLE_EQ(p.getsc("RAWFUN1"), 2.0 * p.rawfun(0)->getex().value - 1.0);
    EXPECT_EQ(p.rawfun(1)->getex().samples, 0.0);

    p.init_(); // the vectors, then the raw slots
    EXPECT_EQ(p.rawfun(0)->getex().array0, nullptr);
    EXPECT_FALSE(p.raw(0).inuse);
    EXPECT_EQ(pool.getma(), baseline);
}

TEST_F(CoreProgRawTest, GetasReadsWholeItemsAndKeepsThem) {
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(CoreProg::getas(&pool, &store, "vectors/NOPE.XML"), CoreAnsx("0")) << round;
        EXPECT_EQ(heldItem(store, store.getit("vectors/NOPE.XML")), "0") << round;
    }
    std::string const path = kit.vectors() + "TEXT.XML";
    writeBytes(path, std::string("ab\0cd", 5));
    EXPECT_EQ(CoreProg::getas(&pool, &store, "vectors/TEXT.XML"), CoreAnsx("abcd"));
    std::remove(path.c_str());
    EXPECT_EQ(CoreProg::getas(&pool, &store, "vectors/TEXT.XML"), CoreAnsx("abcd"));
    EXPECT_EQ(CoreProg::getas(&pool, nullptr, "vectors/TEXT.XML"), CoreAnsx("0"));
}

TEST_F(CoreProgRawTest, ExternalRootsKeepTheirRangeAndRootlessSlotsBuild) {
    kit.csv("RD.CSV", {1.0, 2.0});
    kit.csv("RE.CSV", {3.0, 4.0, 5.0});
    KitVector ext({"RD.CSV", "RE.CSV"});
    ext.minValue = 2.0;
    ext.maxValue = 4.0;
    ext.common = {{"LIQUIDFACTOR", "50"}};
    kit.vectorFile("REXT.XML", ext);
    // CONTROL with SOURCE but no MINVALUE keeps the file's COMMON range.
    Element top(external("REXT.XML", "<SOURCE>MIX1</SOURCE><MAXVALUE>9</MAXVALUE>"));
    CoreRvct* root = p.readRaw(0, top.node);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(CoreVctrPeek::vectorParm(*root)->getsc(), CoreAnsx("MIX1"));
    EXPECT_EQ(CoreVctrPeek::vectorParm(*root)->getsl(), 2.0);
    EXPECT_EQ(CoreVctrPeek::vectorParm(*root)->getsu(), 4.0);
    EXPECT_EQ(CoreVctrPeek::liquidValue(*root), 0.5);
    EXPECT_EQ(CoreVctrPeek::liquidParm(*root)->getsc(), CoreAnsx("ON"));
    // A slot whose top ELEMENT is a value file has no tree: it builds to nothing.
    Element bare("<FILENAME>RD.CSV</FILENAME>");
    EXPECT_EQ(p.readRaw(1, bare.node), nullptr);
    EXPECT_EQ(p.readRaw(2, nullptr), nullptr); // a section without ELEMENT
    play(0, "RAW2", "RAW2");
    p.starr();
    EXPECT_EQ(root->getcd(), 3);
    EXPECT_FALSE(p.rawfun(0)->isact());
}

TEST_F(CoreProgRawTest, FailuresLogDetachAndGiveThePoolBack) {
    kit.csv("RF.CSV", {1.0, 2.0});
    kit.csv("REMPTY.CSV", {});
    play(0, "RAW1", "RAW1");
    long const baseline = pool.getma();
    LogCapture log;
    Element good(DataKit::vectorXml(KitVector({"RF.CSV"})));
    ASSERT_EQ(::mkfifo((kit.vectors() + "RFIFO.CSV").c_str(), 0644), 0);
    Element bad(DataKit::vectorXml(KitVector({"RF.CSV", "REMPTY.CSV", "RFIFO.CSV", "RGONE.CSV"})));
    p.readRaw(0, good.node);
    p.readRaw(1, bad.node);
    EXPECT_THROW(p.starr(), CoreAnsx);
    EXPECT_NE(p.rawfun(0)->getex().array0, nullptr); // RAW1 was built before RAW2 failed
    for (char const* line : {"Error in file \"vectors/REMPTY.CSV\"", "end raw 2",
                             "Error in file \"vectors/RFIFO.CSV\": not a plain file",
                             "Error in file \"vectors/RGONE.CSV\": missing"})
        EXPECT_NE(log.text().find(line), std::string::npos) << line << "\n" << log.text();
    p.uloar();
    EXPECT_EQ(p.rawfun(0)->getex().array0, nullptr);
    EXPECT_FALSE(p.rawfun(0)->isact());
    EXPECT_EQ(pool.getma(), baseline);

    std::string const self = external("RSELF.XML", "<SOURCE>MIX1</SOURCE>");
    writeBytes(kit.vectors() + "RSELF.XML",
               "<F><VECTOR><ELEMENT>" + self + "</ELEMENT></VECTOR></F>");
    Element loop(self);
    EXPECT_THROW(p.readRaw(2, loop.node), CoreAnsx);
    for (char const* line : {"\"vectors/RSELF.XML\": refers to itself", "Error in tag ELEMENT"})
        EXPECT_NE(log.text().find(line), std::string::npos) << line << "\n" << log.text();
    EXPECT_EQ(p.raw(2).leaves.count + p.raw(2).cores.count, 0);
    EXPECT_EQ(p.depth(), 1);
    p.uloar();
    EXPECT_EQ(pool.getma(), baseline);
}

} // namespace
