// Program memory in memory: empty defaults and checked indices, queries and
// setters, free-slot search, filtered stepping, distinct categories, the
// filter stack, the category tree, copy and move.

#include <gtest/gtest.h>

#include "storage/CoreDcry.h"
#include "tests/program/MmryFolder.h"

using MmryTable = MmryFolder;

TEST_F(MmryTable, EmptyLocationsAndBadIndicesGiveTheDefaults) {
    auto m = make();
    for (int i = 0; i < CoreMmry::iCmemorydim; ++i)
        ASSERT_TRUE(str(m->getnm(i)) == "0" && str(m->getpf(i)).empty()) << i;
    for (int i : {0, 9999, -1, 10000}) {
        EXPECT_EQ(str(m->getds(i)), "0");
        EXPECT_EQ(str(m->getct(i, 0)), "0");
        EXPECT_EQ(str(m->getcc(i)), "0");
        EXPECT_EQ(str(m->getfp(i, false)), "0");
        EXPECT_EQ(str(m->getfv(i, true)), "0");
        EXPECT_FALSE(m->getwp(i));
        EXPECT_EQ(str(m->getvl(i, false)), "0");
        m->setnm(i, "X"); // empty or outside: ignored
        EXPECT_EQ(str(m->getnm(i)), "0");
    }
    put(*m, 5, "Pad", "Rock");
    EXPECT_EQ(str(m->getct(5, 3)), "0"); // level outside 0..2
    EXPECT_EQ(m->getcf(-1), -1);
    EXPECT_EQ(m->getpr(), -1);
}

TEST_F(MmryTable, QueriesAndSettersOfAFilledLocation) {
    auto m = make();
    m->setvl(7, false, "pad.xml", programXml("Pad").c_str());
    EXPECT_EQ(str(m->getvl(7, false)), programXml("Pad"));
    EXPECT_EQ(str(m->getnm(7)), ""); // the catalogue is not taken from the text
    m->setnm(7, "Pad");
    m->setds(7, "warm");
    m->setct(7, "Rock", 2);
    EXPECT_EQ(str(m->getnm(7)), "Pad");
    EXPECT_EQ(str(m->getds(7)), "warm");
    EXPECT_EQ(str(m->getct(7, 2)), "Rock");
    EXPECT_EQ(str(m->getfp(7, true)), "pad.xml");
    EXPECT_EQ(str(m->getfp(7, false)), "Programs/pad.xml");
    EXPECT_EQ(str(m->getfv(7, true)), "pad.v2v"); // vector file unset: the program file
    EXPECT_EQ(str(m->getfv(7, false)), "Vectors/pad.v2v");
    m->setfp(7, "Other.V2P");
    EXPECT_EQ(str(m->getpf(7)), "Other.xml"); // not an archive
    m->setvl(8, true, "arc.v2p", programXml("A").c_str());
    EXPECT_TRUE(m->getwp(8));
    m->setfp(8, "b");
    EXPECT_EQ(str(m->getpf(8)), "b.v2p");
    EXPECT_THROW(m->setvl(7, "</X>", false), CoreAnsx); // does not parse: nothing changes
    EXPECT_EQ(str(m->getvl(7, false)), programXml("Pad"));
    m->setvl(9, "<PROGRAM><NAME> N </NAME></PROGRAM>", false); // empty location comes into use
    EXPECT_EQ(str(m->getnm(9)), "");
    EXPECT_EQ(str(m->getvl(9, false)), "<PROGRAM><NAME> N </NAME></PROGRAM>");
}

TEST_F(MmryTable, FreeSlotsAndNameSearch) {
    auto m = make();
    put(*m, 300, "PAD");
    put(*m, 301, "Pad");
    put(*m, 9999, "Last");
    put(*m, 0, "First");
    m->setmc(3);
    EXPECT_EQ(m->getne(), 302); // from 300 on, never below
    EXPECT_EQ(m->getcf(9999), 1);
    EXPECT_EQ(m->getcf(300), 302);
    EXPECT_EQ(m->srcnm("Pad"), 301); // exact, case-sensitive
    EXPECT_EQ(m->srcnm("pad"), -1);
    EXPECT_EQ(m->srcnm(""), -1);
    EXPECT_EQ(m->srcnm(CoreAnsx(0)), -1);
    m->setmc(99);
    for (int i = 9900; i < 9999; ++i) put(*m, i, "x");
    EXPECT_EQ(m->getne(), -1); // no wrap; the cursor goes back to 0
    EXPECT_EQ(m->getne(), 1);
}

TEST_F(MmryTable, FilteredSteppingIsBoundedAndFollowsItsWrapRules) {
    auto m = make();
    EXPECT_EQ(m->getck(5, 1, nullptr, 0), -1); // empty memory ends the search
    put(*m, 10, "a", "Rock", "Live");
    put(*m, 20, "b", " rock ", "Studio");
    put(*m, 30, "c", "Pop");
    CoreAnsx const any[1] = {CoreAnsx(0)};
    CoreAnsx const rock[1] = {"ROCK"};
    CoreAnsx const rockLive[2] = {"rock", "live "};
    CoreAnsx const jazz[1] = {"Jazz"};
    struct Case {
        int start;
        short step;
        CoreAnsx const* texts;
        int n;
        int want;
    } const cases[] = {
        {0, 1, any, 1, 10},       {11, 1, any, 1, 20},     {31, 1, nullptr, 0, 10}, // wraps to 0
        {-5, -1, nullptr, 0, 30}, {12000, 1, any, 1, 10},  {21, 1, rock, 1, -1},    // passes 9999
        {15, -1, rock, 1, 10},    {5, -1, rock, 1, 10}, // runs off 0: forward from 0
        {11, 1, rockLive, 2, -1}, {0, 1, rockLive, 2, 10}, {0, 1, jazz, 1, -1},
        {10, 0, nullptr, 0, 10},  {11, 0, nullptr, 0, -1}, {0, 3, nullptr, 0, 30},
        {1, 7, nullptr, 0, -1}, // visits only 1, 8, ... and 0, 7, ...: none of them used
    };
    for (auto const& c : cases)
        EXPECT_EQ(m->getck(c.start, c.step, c.texts, c.n), c.want)
            << c.start << " step " << c.step << " n " << c.n;
}

TEST_F(MmryTable, DistinctCategoriesAndTheFilterStack) {
    auto m = make();
    put(*m, 1, "a", "Rock", "Live");
    put(*m, 2, "b", " rock", "Studio");
    put(*m, 3, "c", "Pop", "Live");
    put(*m, 4, "d", "", "Orphan");
    put(*m, 5, "e", "ROCK", "live");
    ASSERT_EQ(m->getbc(), 2);
    EXPECT_EQ(str(m->getbc(0)), "ROCK");
    EXPECT_EQ(str(m->getbc(1)), "POP");
    EXPECT_EQ(str(m->getbc(2)), ""); // beyond the list
    EXPECT_EQ(m->getbs(), 2);        // level 0: as getbc()
    m->setbs(0, "rock ");
    EXPECT_EQ(m->setbb(1), 1);
    ASSERT_EQ(m->getbs(), 2);
    EXPECT_EQ(str(m->getbc(0)), "LIVE");
    EXPECT_EQ(str(m->getbc(1)), "STUDIO");
    m->setbs(1, "Live");
    EXPECT_EQ(m->getbk(0, 1), 1); // level 1 compares both strings
    EXPECT_EQ(m->getbk(2, 1), 5);
    m->pushb();
    EXPECT_EQ(m->getbs(), 2); // level 0 now: top-level list
    m->setbs(0, "Pop");
    m->popb_();
    EXPECT_EQ(m->getbk(2, 1), 5); // level 1 and its strings back
    EXPECT_EQ(m->setbb(-5), 0);
    EXPECT_EQ(m->setbb(5), 2);
    CoreAnsx* list = nullptr;
    int count = -1;
    CoreAnsx const pop[1] = {"pop"};
    m->getct(&list, count, pop, 1);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(str(list[0]), "LIVE");
    delete[] list;
}

TEST_F(MmryTable, CategoryTreeAndItsOrder) {
    auto m = make();
    put(*m, 12, "Warm Room", "rock", "", "live");
    put(*m, 13, "Loose");
    put(*m, 14, "Kit", "Drums");
    m->updtt();
    ASSERT_EQ(m->gettn(), 3); // ROCK, Loose, DRUMS in table order
    m->settr(0, 0);
    m->settr(1, -1);
    EXPECT_EQ(str(m->gette()), "ROCK");
    EXPECT_FALSE(m->islte());
    m->settr(1, 0);
    m->settr(2, -1);
    EXPECT_EQ(str(m->gette()), "LIVE");
    m->settr(2, 0);
    m->settr(3, -1);
    EXPECT_EQ(str(m->gette()), "12 - Warm Room");
    EXPECT_TRUE(m->islte());
    m->settr(0, 1);
    m->settr(1, -1);
    EXPECT_EQ(str(m->gette()), "13 - Loose"); // no category: under the root
    m->settr(0, 7);                           // off the tree
    EXPECT_EQ(m->gettn(), 0);
    EXPECT_EQ(str(m->gette()), "");

    m->ordrt(0); // no dictionary: by plain text
    m->settr(0, -1);
    EXPECT_EQ(m->gettn(), 3);
    std::string order;
    for (int k = 0; k < 3; ++k) {
        m->settr(0, k);
        order += str(m->gette()) + "|";
    }
    EXPECT_EQ(order, "13 - Loose|DRUMS|ROCK|");

    writeBytes(temp.file("d.xml"), "<DICTIONARY><CATEGORY><ROCK> Alpha </ROCK>"
                                   "<DRUMS> Zulu </DRUMS></CATEGORY></DICTIONARY>");
    CoreDcry dictionary(temp.file("d.xml").c_str());
    m->setdc(&dictionary);
    m->ordrt(0);
    order.clear();
    for (int k = 0; k < 3; ++k) {
        m->settr(0, k);
        order += str(m->gettt()) + "|";
    }
    EXPECT_EQ(order, "13 - Loose|Alpha|Zulu|");
    m->cleat();
    m->settr(0, -1);
    EXPECT_EQ(m->gettn(), 0);
}

TEST_F(MmryTable, ClearCopyAndMove) {
    auto m = make();
    put(*m, 1, "Pad", "Rock", "", "Live");
    m->setds(1, "d");
    m->mvepr(1, 1, true); // onto itself: nothing
    EXPECT_EQ(str(m->getnm(1)), "Pad");
    EXPECT_EQ(str(m->getvl(1, false)), programXml("Pad"));

    m->mvepr(1, 2, false); // copy: own document
    m->setvl(1, programXml("Changed").c_str(), false);
    EXPECT_EQ(str(m->getvl(2, false)), programXml("Pad"));
    EXPECT_EQ(str(m->getct(2, 2)), "Live");

    m->mvepr(2, 3, true);
    EXPECT_EQ(str(m->getnm(3)), "Pad");
    EXPECT_EQ(str(m->getds(3)), "d");
    EXPECT_EQ(str(m->getvl(3, false)), programXml("Pad"));
    CoreMmry::MEMORYLOC left;
    m->getel(2, &left);
    EXPECT_FALSE(left.inuse || left.deferred);
    EXPECT_EQ(str(left.name) + str(left.file) + str(left.vfile) + str(left.category[2]), "");
    m->setvl(2, programXml("New").c_str(), false); // used again: its vector file "" is unset
    m->setfp(2, "New");
    EXPECT_EQ(str(m->getfv(2, true)), "New.v2v");

    m->clrpr(2);
    m->getel(2, &left);
    EXPECT_FALSE(left.inuse);
    EXPECT_EQ(str(left.file), "New.xml"); // kept
    EXPECT_EQ(str(left.vfile), "0");
    EXPECT_EQ(left.document, nullptr);

    for (int i = 500; i < 510; ++i) put(*m, i, "x");
    put(*m, 600, "y");
    m->clear(5);
    EXPECT_EQ(m->getcf(500), 500);
    EXPECT_EQ(m->getcf(600), 601);
    EXPECT_EQ(str(m->getnm(600)), "y");
    m->clear();
    EXPECT_EQ(m->getck(0, 1, nullptr, 0), -1);
}
