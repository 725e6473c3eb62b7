// The engine's property bus: every id through every accessor (failed engine,
// unserved ids, bad elements, boot-pending guards), the read-and-clear ids
// and the GUI-rate meter update, modulator ids read back through their
// re-apply actions, the host parameter texts, program memory browsed through
// the bus, the file listing, and the archive description edit.
#include "processing/CorePrcs.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "display/CoreBean.h"
#include "modulation/CoreIfce.h"
#include "program/CoreMmry.h"
#include "program/CoreProg.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreVutl.h"
#include "runtime/CoreXutl.h"
#include "storage/CoreFsys.h"
#include "tests/processing/CorePrcsPeek.h"
#include "tests/support/FileBytes.h"
#include "tests/support/FsysItems.h"
#include "tests/support/LogCapture.h"

namespace {

using B = CorePrcs::BEANSTRUCT;

// The display's index record and the engine's are the same two words.
static_assert(sizeof(B) == sizeof(CoreBean::BEANSTRUCT));
static_assert(offsetof(B, subindex) == offsetof(CoreBean::BEANSTRUCT, subindex));

class CorePrcsBeanTest : public ::testing::Test, protected EngineKit {};

std::set<int> range(std::set<int> ids, int from, int to) {
    for (int i = from; i <= to; ++i) ids.insert(i);
    return ids;
}

// The ids each getter serves.
std::set<int> const kBool =
    range({2,   11,  14,  31,  33,  35,  37,  41,  42,  46,  53,  58,  59,  60,  63,  81,  108, 109,
           146, 147, 148, 154, 157, 162, 181, 192, 196, 206, 207, 218, 226, 248, 255, 256, 258},
          20, 27);
std::set<int> const kShort = {21, 32, 38,  43,  45,  48,  50,  51,  54,  55, 73,
                              74, 75, 112, 129, 130, 138, 194, 220, 221, 251};
std::set<int> const kInt = range(
    {44, 67, 69, 85, 86, 145, 166, 168, 169, 172, 173, 174, 239, 246, 257, 260, 264}, 182, 185);
std::set<int> const kLong = {6,  7,  10,  28,  29,  30,  49,  52,  61,  65, 70,
                             71, 83, 114, 115, 117, 118, 137, 149, 158, 236};
std::set<int> const kDouble =
    range(range(range({0,   1,   3,   4,   5,   8,   12,  14,  19,  34,  36,  106,
                       107, 113, 131, 132, 134, 135, 136, 150, 151, 155, 156, 159,
                       160, 161, 188, 189, 193, 199, 200, 208, 209, 219, 235, 259},
                      92, 97),
                122, 125),
          214, 217);
std::set<int> const kText =
    range({9,   13,  15,  16,  17,  18,  39,  40,  47,  56,  62,  64,  68,  72,  76,
           77,  87,  89,  90,  91,  101, 102, 103, 110, 111, 116, 119, 126, 127, 128,
           145, 152, 153, 167, 170, 175, 176, 177, 197, 198, 201, 202, 203, 204, 210,
           211, 221, 224, 226, 229, 230, 231, 232, 239, 247, 249, 250, 252, 253, 261},
          139, 142);

// Getters whose reading changes the engine (actions, read-and-clear).
std::set<int> const kReadActs = {14, 59, 60, 63, 81, 166, 174, 226};

// Every reading of every id that changes nothing, as text.
std::vector<std::string> readAll(CorePrcs& e, B x) {
    std::vector<std::string> all;
    for (int id = 0; id <= 261; ++id) {
        if (kReadActs.count(id) != 0) continue;
        all.push_back(std::to_string(e.getbb(id, &x)) + "|" + std::to_string(e.getbh(id, &x)) +
                      "|" + std::to_string(e.getbi(id, &x)) + "|" +
                      std::to_string(e.getbl(id, &x)) + "|" + std::to_string(e.getbd(id, &x)) +
                      "|" + e.getbs(id, &x).c_str());
    }
    return all;
}

void writeAll(CorePrcs& e, B x) {
    for (int id = -2; id <= 263; ++id) {
        e.setbb(id, true, &x);
        e.setbh(id, 1, &x);
        e.setbi(id, 1, &x);
        e.setbl(id, 1, &x);
        e.setbd(id, 0.5, &x);
        e.setbs(id, CoreAnsx("1"), &x);
        e.setbv(id, &x);
    }
}

} // namespace

TEST_F(CorePrcsBeanTest, AFailedEngineAnswersTheDefaultsAndIgnoresEveryWrite) {
    kit.master();
    auto e = make();
    CorePrcsPeek p{*e};
    p.booted();
    B const x{1, 1};
    std::vector<std::string> const before = readAll(*e, x);
    p.fail(true);
    for (int id = -2; id <= 263; ++id) {
        B y = x;
        EXPECT_FALSE(e->getbb(id, &y)) << id;
        EXPECT_EQ(e->getbh(id, &y), 0) << id;
        EXPECT_EQ(e->getbi(id, &y), 0) << id;
        EXPECT_EQ(e->getbl(id, &y), 0) << id;
        EXPECT_EQ(e->getbd(id, &y), 0.0) << id;
        EXPECT_STREQ(e->getbs(id, &y).c_str(), "0") << id;
    }
    writeAll(*e, x);
    p.fail(false);
    EXPECT_EQ(readAll(*e, x), before);
}

TEST_F(CorePrcsBeanTest, UnservedIdsAnswerTheDefaultAndBadElementsNeverReachATable) {
    kit.master();
    auto e = make();
    CorePrcsPeek p{*e};
    p.booted();
    for (int id = -3; id <= 300; ++id) {
        B x{0, 0};
        if (kBool.count(id) == 0) {
            EXPECT_FALSE(e->getbb(id, &x)) << id;
        }
        if (kShort.count(id) == 0) {
            EXPECT_EQ(e->getbh(id, &x), 0) << id;
        }
        if (kInt.count(id) == 0) {
            EXPECT_EQ(e->getbi(id, &x), 0) << id;
        }
        if (kLong.count(id) == 0) {
            EXPECT_EQ(e->getbl(id, nullptr), 0) << id;
        }
        if (kDouble.count(id) == 0) {
            EXPECT_EQ(e->getbd(id, &x), 0.0) << id;
        }
        if (kText.count(id) == 0) {
            EXPECT_STREQ(e->getbs(id, &x).c_str(), "") << id;
        }
    }
    // Elements and entries outside every table: read and written, nothing
    // breaks (the sanitizers watch), element reads answer the default.
    for (B bad : {B{-1, -1}, B{70000, 9}, B{16, 4}, B{10, 2}}) {
        readAll(*e, bad);
        writeAll(*e, bad);
    }
    B const past{16, 4};
    for (int id : {89, 90, 103, 110, 116, 126, 139, 152, 197, 210, 229, 239, 252}) {
        B y = past;
        EXPECT_STREQ(e->getbs(id, &y).c_str(), "") << id;
    }
    for (int id : {92, 106, 113, 131, 134, 155, 188, 199, 214, 219, 259}) {
        B y = past;
        EXPECT_EQ(e->getbd(id, &y), 0.0) << id;
    }
}

TEST_F(CorePrcsBeanTest, WhileTheBootIsPendingOnlyTheOpenIdsAreServed) {
    kit.master("", {{"FASTBOOT", "1"}, {"MODE", "1"}});
    auto e = make();
    CorePrcsPeek p{*e};
    B x{0, 0};
    EXPECT_TRUE(e->getbb(22, &x)); // fast boot, no installer merged
    EXPECT_TRUE(e->getbb(41, &x)); // MODE
    EXPECT_TRUE(e->getbb(154, &x));
    EXPECT_TRUE(e->getbb(46, &x));
    EXPECT_FALSE(e->getbb(20, &x));  // SCANBOOT is on, but guarded
    EXPECT_FALSE(e->getbb(226, &x)); // no batch step runs
    EXPECT_EQ(e->getbl(10, &x), 0);
    EXPECT_STREQ(e->getbs(16, &x).c_str(), "");
    EXPECT_STRNE(e->getbs(101, &x).c_str(), "");   // the same folder, open
    p.program()->getif(0)->setiv(0.0, true, true); // a valid slot takes fractions
    p.program()->getif(0)->setvl(0.75, false);
    e->setbd(155, 0.25, &x);
    EXPECT_EQ(e->getbd(155, &x), 0.0);
    EXPECT_EQ(p.program()->getif(0)->getvl(false), 0.75);
    e->setbs(56, CoreAnsx("Renamed"), &x);
    e->setbi(88, 5, &x);
    EXPECT_FALSE(p.selected());

    p.booted();
    EXPECT_TRUE(e->getbb(20, &x));
    EXPECT_EQ(e->getbd(155, &x), 0.75);
    EXPECT_STRNE(e->getbs(56, &x).c_str(), "Renamed");
    EXPECT_EQ(e->getbl(10, &x), 3000);
    EXPECT_STREQ(e->getbs(16, &x).c_str(), e->getbs(101, &x).c_str());
    EXPECT_TRUE(e->getbb(226, &x)); // nothing posted: the chain is over at once
    p.bootError(true);
    e->setbi(88, 5, &x);
    EXPECT_TRUE(p.selected());
    EXPECT_EQ(e->getbi(67, &x), 0); // the boot failed: location 0 stands in
}

TEST_F(CorePrcsBeanTest, SettersWithTheirSideRules) {
    kit.master();
    auto e = make();
    CorePrcsPeek p{*e};
    p.booted();
    B x{0, 0};
    // The master's program rate plays for a program without a rate of its
    // own; switched on, the program keeps the rate written to it through a
    // master change; switched off, the master's plays at once.
    long const rate = e->getbl(52, &x);
    long const first = e->getbl(10, &x);
    e->setbl(52, rate + 1000, &x);
    EXPECT_FALSE(e->getbb(11, &x));
    EXPECT_EQ(e->getbl(52, &x), rate + 1000);
    EXPECT_EQ(e->getbl(10, &x), rate + 1000);
    e->setbb(11, true, &x);
    e->setbl(10, 7000, &x);
    e->setbl(52, rate, &x);
    EXPECT_TRUE(e->getbb(11, &x));
    EXPECT_EQ(e->getbl(10, &x), 7000);
    e->setbb(11, false, &x);
    EXPECT_EQ(e->getbl(10, &x), first);

    e->setbl(30, 5000, &x);
    e->setbl(30, -1, &x); // re-applies the stored one
    EXPECT_EQ(e->getbl(30, &x), 5000);

    B second{0, 1}, other{0, 2};
    long const lf = e->getbl(158, &second);
    e->setbl(158, 7, &other);
    EXPECT_EQ(e->getbl(158, &other), 0);
    EXPECT_EQ(e->getbl(158, &second), lf);

    e->setbi(44, 48000, &x);
    EXPECT_EQ(e->getbi(44, &x), 48000);
    e->setbh(45, 3, &x);
    EXPECT_EQ(e->getbh(45, &x), 3);

    e->setbh(54, 0, &x); // no harmonics: smoothing off
    EXPECT_EQ(e->getbh(74, &x), -1);
    EXPECT_EQ(e->getbd(14, &x), 0.0);
    EXPECT_EQ(e->getbh(75, &x), 0);

    e->setbd(19, 2000.0, &x); // kept in samples: truncated to whole ones
    EXPECT_NEAR(e->getbd(19, &x), 2000.0, 1e6 / 48000.0);

    e->setbs(62, CoreAnsx("/elsewhere/NIGHT.V2S"), &x);
    std::string const skin = e->getbs(62, &x).c_str();
    EXPECT_EQ(skin.substr(skin.size() - 9), "NIGHT.V2S");

    // A control's wheel step: a click on the wheel target moves it that far.
    B third{3, 0};
    p.program()->getif(3)->setiv(0.0, true, true);
    e->setbd(156, 0.5, &third);
    e->setbi(178, 4, &third);
    e->setbl(83, 3, &x);
    e->setbi(82, 1, &x);
    EXPECT_DOUBLE_EQ(e->getbd(156, &third), 0.75);

    // A reader whose work throws answers its default and logs which failed;
    // out of memory for the text answer itself, it still returns.
    {
        LogCapture log;
        EXPECT_EQ(p.throwing(62), -7);
        EXPECT_TRUE(LogCapture::error(log.text(), "peek failed for id 62"));
        CoreVutl::failNextReallocs(10);
        e->getbs(62, &x);
        CoreVutl::failNextReallocs(0);
    }

    // Locks taken with a limit are taken by force from a block that never
    // ends, and given back whole.
    p.holdWorker(true);
    e->lockp(5);
    e->rlsep();
    e->lockp();
    e->rlsep();
}

TEST_F(CorePrcsBeanTest, TheSideRingFollowsTheFourInputSwitchAndTheFifthFollower) {
    kit.wav("IR.WAV", {DataKit::impulse(64, 0, 0.8), DataKit::impulse(64, 0, 0.8)});
    for (auto [file, evf5] :
         {std::pair{"PLAIN.XML", ""}, {"QUAD.XML", "<EVF5><EXP>1</EXP></EVF5>"}}) {
        KitProgram p(file, "");
        p.sections = evf5;
        p.slots.push_back(KitVector{{"IR.WAV"}});
        kit.program(file, p);
    }
    kit.setup("BANK.XML", {"PLAIN.XML", "QUAD.XML"}, -1);
    kit.master("BANK.XML", {{"DSPBUFFER", "256"}, {"OTIMED", "3"}});
    B x{0, 0};
    for (bool four : {false, true}) {
        auto e = make();
        e->setbb(254, four, &x); // as the shell does before the boot
        ASSERT_FALSE(e->fboot());
        for (int slot : {1, 0, 1}) {
            e->setbi(88, slot, nullptr);
            bool const held = four && slot == 1;
            EXPECT_EQ(e->getbb(255, &x), held) << four << slot;
            EXPECT_EQ(CorePrcsPeek{*e}.sidering(), held) << four << slot;
        }
    }
}

TEST_F(CorePrcsBeanTest, ReadAndClearIdsAnswerOnceAndTheMeterUpdateFollowsTheOverflowHold) {
    kit.master();
    auto e = make();
    CorePrcsPeek p{*e};
    B x{0, 0};
    double const working[4] = {-6.0, -12.0, -18.0, -24.0};

    p.levels(working);
    p.overflowAt(CoreXutl::ttime() - 2.0 / 86400.0);
    EXPECT_TRUE(e->getbb(81, &x)); // boot pending: the flag goes, nothing else changes
    EXPECT_FALSE(e->getbb(81, &x));
    EXPECT_FALSE(e->getbb(218, &x));
    p.booted();

    // Overflow two seconds ago: out after the one-second hold.
    e->getbb(81, &x);
    EXPECT_FALSE(e->getbb(218, &x));
    p.overflowAt(CoreXutl::ttime());
    e->getbb(81, &x);
    EXPECT_TRUE(e->getbb(218, &x));
    e->setbd(191, 0.0, &x); // valid first: only a valid slot takes fractions
    e->setbd(156, 0.9, &x); // a changed control puts it out
    e->getbb(81, &x);
    EXPECT_FALSE(e->getbb(218, &x));

    // Worker free: the followers are read (silence); worker busy: the
    // working figures are published instead.
    p.levels(working);
    EXPECT_TRUE(e->getbb(81, &x));
    for (int i = 0; i < 4; ++i) {
        B level{i, 0};
        EXPECT_EQ(e->getbd(219, &level), CoreButl::dCdbmin) << i;
    }
    p.levels(working);
    p.holdWorker(true);
    EXPECT_TRUE(e->getbb(81, &x));
    EXPECT_FALSE(e->getbb(60, &x)); // busy: false, flag kept
    p.holdWorker(false);
    EXPECT_FALSE(e->getbb(81, &x));
    for (int i = 0; i < 4; ++i) {
        B level{i, 0};
        EXPECT_EQ(e->getbd(219, &level), working[i]) << i;
    }
    B indicator{7, 0};
    EXPECT_EQ(e->getbh(220, &indicator), p.program()->getif(7)->getll());

    p.levels(working);
    EXPECT_TRUE(e->getbb(63, &x));
    EXPECT_FALSE(e->getbb(63, &x));
    p.updated();
    EXPECT_TRUE(e->getbb(60, &x));
    EXPECT_FALSE(e->getbb(60, &x));
    EXPECT_FALSE(CorePrcs::iscst()); // the display's constant query
}

TEST_F(CorePrcsBeanTest, ModulatorIdsReadBackWhatTheyWriteOnceReapplied) {
    kit.master();
    auto e = make();
    CorePrcsPeek p{*e};
    p.booted();
    struct Row {
        char kind; // h short, l long, d double, s text
        int id, element, sub;
        double number;
        char const* text;
        int apply; // re-apply action, 0 none
    };
    // clang-format off
    std::vector<Row> const rows = {
        {'s', 90, 1, 0, 0, "Rise S", 0}, {'s', 91, 2, 0, 0, "LFO2", 0},
        {'d', 92, 2, 0, 0.5, "", 0}, {'d', 93, 3, 0, 90.0, "", 0},
        {'s', 103, 4, 0, 0, "a-b", 0},
        {'h', 112, 1, 0, 4, "", 121}, {'l', 114, 2, 0, 100, "", 121}, {'l', 118, 2, 0, 900, "", 121},
        {'s', 116, 0, 0, 0, "LFO1", 121}, {'s', 252, 3, 0, 0, "LFO3", 121},
        {'d', 259, 0, 0, 200.0, "", 121}, {'s', 261, 4, 0, 0, "LFO1", 121},
        {'s', 126, 0, 0, 0, "LFO1", 133}, {'h', 129, 1, 0, 1, "", 133},
        {'d', 131, 0, 0, -20.0, "", 133}, {'d', 132, 1, 0, 6.0, "", 133},
        {'d', 134, 1, 2, 0.5, "", 143}, {'l', 137, 0, 1, 1000, "", 143},
        {'h', 138, 1, 3, 2, "", 143}, {'d', 135, 0, 0, 0.5, "", 143},
        {'s', 198, 3, 0, 0, "Cutoff", 0}, {'s', 201, 3, 0, 0, "<", 0}, {'s', 203, 3, 0, 0, "Hz", 0},
        {'s', 204, 5, 0, 0, "a+b", 0}, {'s', 210, 5, 0, 0, "LFO1", 0},
        {'d', 214, 7, 0, 0.25, "", 0}, {'d', 217, 7, 0, 0.75, "", 0},
        {'d', 189, 2, 0, 0.125, "", 0}, {'d', 235, 6, 0, 0.5, "", 0},
    };
    // clang-format on
    for (Row const& r : rows) {
        B x{r.element, r.sub};
        switch (r.kind) {
        case 'h': e->setbh(r.id, static_cast<short>(r.number), &x); break;
        case 'l': e->setbl(r.id, static_cast<long>(r.number), &x); break;
        case 'd': e->setbd(r.id, r.number, &x); break;
        default: e->setbs(r.id, CoreAnsx(r.text), &x); break;
        }
        if (r.apply != 0) e->setbv(r.apply, &x);
        switch (r.kind) {
        case 'h': EXPECT_EQ(e->getbh(r.id, &x), r.number) << r.id; break;
        case 'l': EXPECT_EQ(e->getbl(r.id, &x), r.number) << r.id; break;
        case 'd': EXPECT_DOUBLE_EQ(e->getbd(r.id, &x), r.number) << r.id; break;
        default: EXPECT_STREQ(e->getbs(r.id, &x).c_str(), r.text) << r.id; break;
        }
    }
}

TEST_F(CorePrcsBeanTest, HostParameterTextsFollowTheBoundParameterModulator) {
    kit.master();
    auto e = make();
    CorePrcsPeek p{*e};
    p.booted();
    B control{3, 0};
    e->setbd(191, 0.0, &control); // valid first: only a valid slot takes fractions
    e->setbd(156, 0.25, &control);
    EXPECT_EQ(e->getbd(156, &control), 0.25);
    EXPECT_STREQ(e->getbs(229, &control).c_str(), "Mix 4");
    EXPECT_STREQ(e->getbs(230, &control).c_str(),
                 CoreAnsx::_FloatToStrF(e->getbd(155, &control), 0, 15, 3).c_str());

    B gain{8, 0}; // GAININ, in dB: silence is the floor
    e->setbd(191, 0.5, &gain);
    e->setbd(155, 0.0, &gain);
    EXPECT_STREQ(e->getbs(230, &gain).c_str(),
                 CoreAnsx::_FloatToStrF(CoreButl::dCdbmin, 0, 15, 3).c_str());
    EXPECT_STREQ(e->getbs(231, &gain).c_str(), "dB");

    B prm{5, 0};
    e->setbs(198, CoreAnsx("Cutoff"), &prm);
    e->setbs(201, CoreAnsx("<"), &prm);
    e->setbs(202, CoreAnsx(">"), &prm);
    e->setbs(203, CoreAnsx("Hz"), &prm);
    p.program()->getif(3)->setcp(5);
    EXPECT_EQ(e->getbh(194, &control), 5);
    EXPECT_STREQ(e->getbs(229, &control).c_str(), "Cutoff");
    EXPECT_STREQ(e->getbs(231, &control).c_str(), "Hz");
    std::string const shown = e->getbs(230, &control).c_str();
    EXPECT_EQ(shown.front(), '<');
    EXPECT_EQ(shown.back(), '>');
    p.holdWorker(true); // busy: the last texts
    EXPECT_STREQ(e->getbs(229, &control).c_str(), "Cutoff");
    EXPECT_EQ(std::string(e->getbs(230, &control).c_str()), shown);
    p.holdWorker(false);
}

TEST_F(CorePrcsBeanTest, MemoryFilterAndTreeIdsBrowseABank) {
    kit.program("A.XML", KitProgram{"Alpha", "PAD"});
    kit.program("B.XML", KitProgram{"Beta", "PAD"});
    kit.program("C.XML", KitProgram{"Gamma", "LEAD"});
    kit.setup("BANK.XML", {"A.XML", "B.XML", "C.XML"});
    kit.master();
    auto e = make();
    CorePrcsPeek p{*e};
    p.booted();
    B none{0, 0};
    B empty{1, 0};
    EXPECT_EQ(e->getbi(174, &empty), 0); // nothing one level down on an empty memory
    EXPECT_EQ(p.memory()->setbb(0), 0);  // the level is back where it was
    ASSERT_TRUE(p.memory()->loads(CoreAnsx("BANK.XML"), 0, true));

    B at1{1, 0};
    EXPECT_STREQ(e->getbs(167, &at1).c_str(), "Beta");
    e->setbs(167, CoreAnsx("Bee"), &at1);
    EXPECT_STREQ(e->getbs(167, &at1).c_str(), "Bee");
    e->setbs(177, CoreAnsx("soft"), &at1);
    EXPECT_STREQ(e->getbs(177, &at1).c_str(), "soft");
    B up{3, 1}, down{5000, -1};
    EXPECT_EQ(e->getbi(168, &up), 0); // past the last in use: from location 0
    EXPECT_EQ(e->getbi(168, &down), 2);
    B cat{2, 0};
    EXPECT_STREQ(e->getbs(175, &cat).c_str(), "LEAD");

    EXPECT_EQ(e->getbi(173, &none), 2);
    std::set<std::string> seen;
    for (int i = 0; i < 2; ++i) {
        B entry{i, 0};
        seen.insert(e->getbs(170, &entry).c_str());
    }
    EXPECT_EQ(seen, (std::set<std::string>{"LEAD", "PAD"}));
    B level0{0, 0};
    e->setbs(171, CoreAnsx("LEAD"), &level0);
    B from0{0, 1};
    EXPECT_EQ(e->getbi(169, &from0), 2);

    e->setbv(244, &none);
    e->setbi(245, -1, &level0);
    EXPECT_EQ(e->getbi(246, &none), 2);
    e->setbi(245, 0, &level0);
    B level1{1, 0};
    e->setbi(245, -1, &level1);
    std::string const first = e->getbs(247, &none).c_str();
    EXPECT_TRUE(first == "LEAD" || first == "PAD") << first;
    EXPECT_FALSE(e->getbb(248, &none));
    EXPECT_STREQ(e->getbs(250, &none).c_str(), "LST"); // no dictionary entry

    B unused{50, 0};
    std::string const blank = e->getbs(167, &unused).c_str();
    e->unbts(); // a boot from the start finds the memory empty
    EXPECT_EQ(e->getbi(173, &none), 0);
    EXPECT_EQ(e->getbs(167, &at1).c_str(), blank);
}

TEST_F(CorePrcsBeanTest, FileListingByFolderAndMask) {
    kit.master();
    auto e = make();
    CorePrcsPeek p{*e};
    p.booted();
    kit.wav("B.WAV", {DataKit::impulse(8, 0, 1.0)});
    kit.wav("A.WAV", {DataKit::impulse(8, 0, 1.0)});
    kit.csv("C.CSV", {0.5});
    B none{0, 0};
    e->setbs(237, CoreAnsx(kit.vectors().c_str()), &none);
    e->setbs(238, CoreAnsx("*.wav"), &none);
    e->setbv(239, &none);
    ASSERT_EQ(e->getbi(239, &none), 2);
    B n0{0, 0}, n1{1, 0}, n2{2, 0};
    EXPECT_STREQ(e->getbs(239, &n0).c_str(), "A.WAV");
    EXPECT_STREQ(e->getbs(239, &n1).c_str(), "B.WAV");
    EXPECT_STREQ(e->getbs(239, &n2).c_str(), "");
}

TEST_F(CorePrcsBeanTest, ArchiveDescriptionRewritesOnlyTheProgramItem) {
    kit.master();
    auto e = make();
    CorePrcsPeek p{*e};
    p.booted();
    std::string const wav = "RIFF\x01\x02\x03 not really a wave, but bytes to keep";
    KitProgram program{"Plate", "HALL"};
    std::string const path = kit.archive(
        "PLATE.V2P",
        {{"PLATE.WAV", wav}, {"PLATE.XML", DataKit::programXml(program)}, {"X.V2V", "v"}});
    auto description = [&] {
        CoreAnsx name(""), text(""), vector("");
        CoreAnsx categories[3];
        EXPECT_TRUE(CoreProg::getni(&pool, CoreAnsx(path.c_str()), name, categories, text, vector));
        return std::string(text.c_str());
    };
    EXPECT_EQ(description(), "NULL"); // absent at first: added
    B none{0, 0};
    e->setbs(233, CoreAnsx(path.c_str()), &none);
    e->setbs(234, CoreAnsx("Bright & short"), &none);
    EXPECT_EQ(description(), "Bright & short");
    std::string const once = readBytes(path);
    e->setds(&pool, CoreAnsx(path.c_str()), CoreAnsx("Bright & short"));
    EXPECT_EQ(readBytes(path), once);

    CoreFsys store(&pool, CoreAnsx(""), false);
    ASSERT_TRUE(store.loada(CoreAnsx(path.c_str()), CoreAnsx("0"), false, nullptr));
    for (int position = 0; position < store.llvcn(); ++position) {
        int id = -1;
        std::string const name = store.llvel(position, id).c_str();
        store.loadc(id, false);
        if (name == "PLATE.WAV") {
            EXPECT_EQ(heldItem(store, id), wav);
        }
        if (name == "X.V2V") {
            EXPECT_EQ(heldItem(store, id), "v");
        }
    }

    // No item names the archive: the file stays as it was.
    std::string const other =
        kit.archive("OTHER.V2P", {{"PLATE.XML", DataKit::programXml(program)}});
    std::string const bytes = readBytes(other);
    e->setds(&pool, CoreAnsx(other.c_str()), CoreAnsx("x"));
    EXPECT_EQ(readBytes(other), bytes);
}
