// Program memory in memory: empty defaults and checked indices, queries and
// setters, free-slot search, filtered stepping, distinct categories, the
// filter stack, the category tree, copy and move.

#include <gtest/gtest.h>

#include "storage/CoreDcry.h"
#include "tests/program/MmryFolder.h"

using MmryTable = MmryFolder;

TEST_F(MmryTable, DefaultsQueriesAndSetters) {
    auto m = make();
    for (int i = 0; i < CoreMmry::iCmemorydim; ++i)
        ASSERT_EQ(row(*m, i), "0|0|0|0|0|0||0|0|xml") << i;
    for (int i : {-1, 10000}) {
        m->setnm(i, "X"); // outside: ignored, default answers
        EXPECT_EQ(row(*m, i) + str(m->getvl(i, false)), "0|0|0|0|0|0||0|0|xml0");
    }
    m->setvl(7, false, "pad.xml", programXml("Pad").c_str());
    m->setds(7, "warm");
    m->setct(7, "Rock", 2);
    m->setct(7, "Bad", 3); // no such level
    EXPECT_EQ(row(*m, 7), "|warm|||Rock||pad.xml|Programs/pad.xml|Vectors/pad.v2v|xml");
    m->setfp(7, "Other.V2P");
    m->setvl(8, true, "arc.v2p", programXml("A").c_str());
    m->setfp(8, "b");
    EXPECT_EQ(str(m->getpf(7)) + str(m->getpf(8)) + str(m->getct(7, 3)), "Other.xmlb.v2p0");
    EXPECT_THROW(m->setvl(7, "</X>", false), CoreAnsx); // does not parse: nothing changes
    EXPECT_EQ(str(m->getvl(7, false)), programXml("Pad"));
    m->setvl(9, programXml("N").c_str(), false); // an empty location comes into use
    EXPECT_EQ(str(m->getnm(9)) + str(m->getvl(9, false)), programXml("N"));
}

TEST_F(MmryTable, FreeSlotsAndNameSearch) {
    auto m = make();
    for (auto [loc, name] : {std::pair{300, "PAD"}, {301, "Pad"}, {9999, "Last"}, {0, "First"}})
        put(*m, loc, name);
    m->setmc(3);
    EXPECT_EQ(m->getne(), 302); // from 300 on, never below
    EXPECT_EQ(m->getcf(9999), 1);
    EXPECT_EQ(m->getcf(-1), -1);
    EXPECT_EQ(m->srcnm("Pad"), 301); // exact, case-sensitive
    for (CoreAnsx const& none : {CoreAnsx("pad"), CoreAnsx(""), CoreAnsx(0)})
        EXPECT_EQ(m->srcnm(none), -1);
    m->setmc(99);
    for (int i = 9900; i < 9999; ++i) put(*m, i, "x");
    EXPECT_EQ(m->getne(), -1); // no wrap; the cursor goes back to 0
    EXPECT_EQ(m->getne(), 1);
    EXPECT_EQ(m->getpr(), -1);
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
    auto list = [&](int count) {
        std::string all = std::to_string(count) + ":";
        for (int k = 0; k <= count; ++k) all += str(m->getbc(k)) + "|"; // one beyond: ""
        return all;
    };
    EXPECT_EQ(list(m->getbc()), "2:ROCK|POP||");
    EXPECT_EQ(list(m->getbs()), "2:ROCK|POP||"); // level 0: the same
    m->setbs(0, "rock ");
    EXPECT_EQ(m->setbb(1), 1);
    EXPECT_EQ(list(m->getbs()), "2:LIVE|STUDIO||");
    m->setbs(1, "Live");
    EXPECT_EQ(m->getbk(2, 1), 5); // level 1 compares both strings
    m->pushb();
    EXPECT_EQ(list(m->getbs()), "2:ROCK|POP||"); // level 0 while pushed
    m->setbs(0, "Pop");
    m->popb_();
    EXPECT_EQ(m->getbk(2, 1), 5); // level 1 and its strings back
    EXPECT_EQ(m->setbb(-5), 0);
    EXPECT_EQ(m->setbb(5), 2);
    CoreAnsx* values = nullptr;
    int count = -1;
    CoreAnsx const pop[1] = {"pop"};
    m->getct(&values, count, pop, 1);
    EXPECT_EQ(std::to_string(count) + str(values[0]), "1LIVE");
    delete[] values;
}

TEST_F(MmryTable, CategoryTreeAndItsOrder) {
    auto m = make();
    put(*m, 12, "Warm Room", "rock", "", "live");
    put(*m, 13, "Loose");
    put(*m, 14, "Kit", "Drums");
    m->updtt();
    auto at = [&](std::vector<int> path, bool translated = false) {
        path.push_back(-1);
        for (std::size_t k = 0; k < path.size(); ++k) m->settr(int(k), path[k]);
        std::string const text = str(translated ? m->gettt() : m->gette());
        return text + (m->islte() ? "." : "") + std::to_string(m->gettn());
    };
    EXPECT_EQ(at({}), "ROOT3"); // ROCK, Loose, DRUMS in table order
    EXPECT_EQ(at({0}), "ROCK1");
    EXPECT_EQ(at({0, 0}), "LIVE1");
    EXPECT_EQ(at({0, 0, 0}), "12 - Warm Room.0");
    EXPECT_EQ(at({1}), "13 - Loose.0"); // no category: under the root
    EXPECT_EQ(at({7}), ".0");           // off the tree

    m->ordrt(0); // no dictionary: by plain text
    EXPECT_EQ(at({0}) + at({1}) + at({2}), "13 - Loose.0DRUMS1ROCK1");
    writeBytes(temp.file("d.xml"), "<DICTIONARY><CATEGORY><ROCK> Alpha </ROCK>"
                                   "<DRUMS> Zulu </DRUMS></CATEGORY></DICTIONARY>");
    CoreDcry dictionary(temp.file("d.xml").c_str());
    m->setdc(&dictionary);
    m->ordrt(0);
    EXPECT_EQ(at({0}, true) + at({1}, true) + at({2}, true), "13 - Loose.0Alpha1Zulu1");
    m->cleat();
    EXPECT_EQ(at({}), "ROOT.0");
}

TEST_F(MmryTable, ClearCopyAndMove) {
    auto m = make();
    put(*m, 1, "Pad", "Rock", "", "Live");
    m->setds(1, "d");
    m->mvepr(1, 1, true); // onto itself: nothing
    EXPECT_EQ(str(m->getnm(1)) + str(m->getvl(1, false)), "Pad" + programXml("Pad"));

    m->mvepr(1, 2, false); // copy: its own document
    m->setvl(1, programXml("Changed").c_str(), false);
    EXPECT_EQ(row(*m, 2), "Pad|d|Rock||Live||Pad.xml|Programs/Pad.xml|Vectors/Pad.v2v|xml");
    EXPECT_EQ(str(m->getvl(2, false)), programXml("Pad"));

    m->mvepr(2, 3, true);
    EXPECT_EQ(row(*m, 3), "Pad|d|Rock||Live||Pad.xml|Programs/Pad.xml|Vectors/Pad.v2v|xml");
    EXPECT_EQ(str(m->getvl(3, false)), programXml("Pad"));
    CoreMmry::MEMORYLOC left;
    m->getel(2, &left);
    EXPECT_EQ(std::to_string(left.inuse) + str(left.name) + str(left.file) + str(left.vfile) +
                  str(left.category[2]),
              "0");
    m->setvl(2, programXml("New").c_str(), false); // used again: its vector file "" is unset
    m->setfp(2, "New");
    EXPECT_EQ(str(m->getfv(2, true)), "New.v2v");

    m->clrpr(2);
    m->getel(2, &left);
    EXPECT_EQ(std::to_string(left.inuse) + str(left.file) + str(left.vfile), "0New.xml0");
    EXPECT_EQ(left.document, nullptr);

    for (int i : {500, 501, 600}) put(*m, i, "x");
    m->clear(5);
    EXPECT_EQ(names(*m, 500, 502) + names(*m, 600, 601), "0|0|x|");
    m->clear();
    EXPECT_EQ(m->getck(0, 1, nullptr, 0), -1);
}
