// Program memory and its files: setups (order, LOAD mark, placement,
// overflow, save and load back), program files with the extension
// preference under several roots, the folder scan, cache records with their
// freshness, and the host chunk against a text written by hand.

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <utime.h>

#include "tests/program/MmryFolder.h"
#include "tests/support/LogCapture.h"

namespace {

std::string setupXml(std::vector<std::pair<int, std::string>> const& programs, int loadIndex = -1) {
    std::string x = "<SETUP>";
    for (std::size_t k = 0; k < programs.size(); ++k)
        x += "<PROGRAM><SEQUENCE> " + std::to_string(programs[k].first) +
             " </SEQUENCE><FILENAME> " + programs[k].second + " </FILENAME>" +
             (int(k) == loadIndex ? "<LOAD>1</LOAD>" : "") + "</PROGRAM>";
    return x + "</SETUP>";
}

// Sets a file's modification time to now + seconds.
void age(std::string const& path, long seconds) {
    utimbuf times{};
    times.actime = times.modtime = std::time(nullptr) + seconds;
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

std::string names(CoreMmry& m, int from, int to) {
    std::string all;
    for (int i = from; i < to; ++i) all += str(m.getnm(i)) + "|";
    return all;
}

} // namespace

using MmryFiles = MmryFolder;

TEST_F(MmryFiles, SetupsPlaceInSequenceOrderFromTheFirstFreeLocation) {
    for (char const* p : {"p1", "p3", "p5"}) putProgram(std::string(p) + ".xml", programXml(p));
    putSetup("s.xml", setupXml({{5, "p5"}, {1, "p1"}, {3, "p3.xml"}}, 0));
    putSetup("plain.xml", setupXml({{2, "p3"}}));
    auto m = make();
    ASSERT_TRUE(m->loads("s.xml", 2, true));
    EXPECT_EQ(names(*m, 200, 204), "p1|p3|p5|0|");
    EXPECT_EQ(m->getpr(), 202); // LOAD travels with its entry
    EXPECT_EQ(str(m->getpf(200)), "p1.xml");
    EXPECT_EQ(str(m->getcc(202)), temp.folder() + "Programs/p5.xml");

    put(*m, 300, "a");
    put(*m, 301, "b");
    ASSERT_TRUE(m->loads("s.xml", 3, false));
    EXPECT_EQ(names(*m, 300, 306), "a|b|p1|p3|p5|0|");
    ASSERT_TRUE(m->loads("plain.xml", 5, true));
    EXPECT_EQ(m->getpr(), 304); // no LOAD: the boot location stays

    ASSERT_TRUE(m->loads("s.xml", 2, true)); // the clear flag empties the bank first
    EXPECT_EQ(names(*m, 200, 204), "p1|p3|p5|0|");
}

TEST_F(MmryFiles, LargeSetupsRunIntoLaterBanksAndStopAtTheEnd) {
    putProgram("p.xml", programXml("P"));
    std::vector<std::pair<int, std::string>> many;
    for (int k = 0; k < 120; ++k) many.push_back({k, k == 7 ? "missing" : "p"});
    putSetup("many.xml", setupXml(many, 119));
    auto m = make();
    LogCapture log;
    ASSERT_TRUE(m->loads("many.xml", 4, false));
    EXPECT_EQ(m->getcf(400), 519); // one entry failed and was skipped
    EXPECT_EQ(m->getpr(), 518);
    EXPECT_NE(log.text().find("***ERROR***> missing"), std::string::npos);
    ASSERT_TRUE(m->loads("many.xml", 99, false));
    EXPECT_EQ(m->getcf(9900), 0); // 9900..9999 filled
    EXPECT_EQ(m->getne(), 0);     // the cursor went back to 0
    EXPECT_EQ(m->getpr(), 518);   // the LOAD entry found no place
}

TEST_F(MmryFiles, ProgramFilesPreferTheArchiveUnderEveryRoot) {
    std::string const fromArchive =
        programXml("Arc", "Keys", "", "", "<VECTORFILENAME> v1 </VECTORFILENAME>");
    struct Case {
        char const* what;
        bool archive, plain, extraPlain, shared;
        char const* file;
        bool isArchive;
        char const* name;
        char const* vector;
    } const cases[] = {
        {"both", true, true, false, false, "PAD.v2p", true, "Arc", "v1.v2v"},
        {"plain only", false, true, false, false, "PAD.xml", false, "Plain", "PAD.v2v"},
        {"extra root", false, false, true, false, "PAD.xml", false, "Extra", "PAD.v2v"},
        {"shared store", true, true, false, true, "PAD.v2p", true, "Arc", "v1.v2v"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        for (char const* old : {"Programs/Pad.V2P", "Programs/PAD.xml", "Extra/Programs/pad.XML"})
            std::remove(temp.file(old).c_str());
        if (c.archive) putArchive("Pad.V2P", "PAD", fromArchive);
        if (c.plain) putProgram("PAD.xml", programXml("Plain"));
        if (c.extraPlain) putProgram("pad.XML", programXml("Extra"), "Extra/");
        putSetup("s.xml", setupXml({{0, "PAD"}}));
        CoreFsys store(&pool, CoreAnsx(temp.folder().c_str()), false);
        auto m = make(false, c.shared ? &store : nullptr, true);
        ASSERT_TRUE(m->loads("s.xml", 0, false));
        EXPECT_EQ(str(m->getpf(0)), c.file);
        EXPECT_EQ(m->getwp(0), c.isArchive);
        EXPECT_EQ(str(m->getnm(0)), c.name);
        EXPECT_EQ(str(m->getfv(0, true)), c.vector);
        EXPECT_NE(str(m->getvl(0, false)).find(c.name), std::string::npos);
    }
}

TEST_F(MmryFiles, SavedSetupsLoadBackPackedAndCurrent) {
    for (char const* p : {"a", "b", "c"}) putProgram(std::string(p) + ".xml", programXml(p));
    putSetup("in.xml", setupXml({{0, "a"}, {1, "b"}, {2, "c"}}));
    auto m = make();
    ASSERT_TRUE(m->loads("in.xml", 1, false));
    ASSERT_TRUE(m->saves("out.xml", 1));
    EXPECT_EQ(readBytes(temp.file("Setups/out.xml")),
              "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<?generated by Vorlan2 "
              "parser?>\n<SETUP>\n  <PROGRAM>\n    <SEQUENCE> 100 </SEQUENCE>\n    <FILENAME> "
              "a.xml </FILENAME>\n  </PROGRAM>\n  <PROGRAM>\n    <SEQUENCE> 101 </SEQUENCE>\n "
              "   <FILENAME> b.xml </FILENAME>\n  </PROGRAM>\n  <PROGRAM>\n    <SEQUENCE> 102 "
              "</SEQUENCE>\n    <FILENAME> c.xml </FILENAME>\n  </PROGRAM>\n</SETUP>\n\n");
    auto again = make();
    ASSERT_TRUE(again->loads("out.xml", 1, false));
    ASSERT_TRUE(again->saves("again.xml", 1));
    EXPECT_EQ(readBytes(temp.file("Setups/again.xml")), readBytes(temp.file("Setups/out.xml")));

    m->clrpr(101); // a gap comes back packed; the same name read again sees the new file
    ASSERT_TRUE(m->saves("out.xml", 1));
    ASSERT_TRUE(again->loads("out.xml", 1, true));
    EXPECT_EQ(names(*again, 100, 103), "a|c|0|");

    LogCapture log;
    ASSERT_TRUE(m->saves("empty.xml", 7)); // no programs
    EXPECT_TRUE(again->loads("empty.xml", 7, false));
    EXPECT_EQ(again->getcf(700), 700);
    EXPECT_EQ(log.text().find("Error in tag"), std::string::npos);
    EXPECT_FALSE(again->loads("none.xml", 7, false));
    EXPECT_NE(log.text().find("Error in tag"), std::string::npos);
    EXPECT_FALSE(m->saves("../NoSuchFolder/x.xml", 1)); // a failed write says so
    EXPECT_FALSE(m->loads("in.xml", 100, false));
}

TEST_F(MmryFiles, ScanListsEachProgramOnceAndFeedsTheScanSetup) {
    putProgram("Pad.xml", programXml("Pad"));
    putArchive("PAD.V2P", "PAD", programXml("PadArc"));
    putProgram("NULL.XML", programXml("Null"));
    putProgram("bass.xml", programXml("Bass"));
    putProgram("keep.xml", programXml("Keep"));
    writeBytes(temp.file("Programs/notes.txt"), "x");
    putProgram("Pad.xml", programXml("Pad"), "Extra/");
    putProgram("Cello.XML", programXml("Cello"), "Extra/");
    auto m = make(false, nullptr, true);
    putSetup("k.xml", setupXml({{0, "keep"}}));
    ASSERT_TRUE(m->loads("k.xml", 0, false));
    m->scanp(false);
    EXPECT_FALSE(m->loads("0", 1, false)); // no scan yet: no SETUP
    m->scanp(true);
    std::string const body = "<SETUP>\n\n  <PROGRAM>\n    <SEQUENCE> 0 </SEQUENCE>\n    <FILENAME> "
                             "BASS </FILENAME>\n  </PROGRAM>\n  <PROGRAM>\n    <SEQUENCE> 1 "
                             "</SEQUENCE>\n    <FILENAME> CELLO </FILENAME>\n  </PROGRAM>\n  "
                             "<PROGRAM>\n    <SEQUENCE> 2 </SEQUENCE>\n    <FILENAME> PAD "
                             "</FILENAME>\n  </PROGRAM>\n</SETUP>\n";
    EXPECT_EQ(readBytes(temp.file("Setups/~scanboot.xml")),
              "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<?generated by Vorlan2 "
              "parser?>\n" +
                  body + "\n");
    ASSERT_TRUE(m->loads("0", 1, false));
    EXPECT_EQ(names(*m, 100, 104), "Bass|Cello|PadArc|0|");
    EXPECT_EQ(str(m->getpf(101)), "CELLO.xml");

    m->scanp(true); // everything is in memory now: an empty scan
    EXPECT_TRUE(m->loads("0", 2, false));
    EXPECT_EQ(m->getcf(200), 200);
    CoreFsys store(&pool);
    auto shared = make(false, &store);
    shared->scanp(true); // a shared store never scans
    EXPECT_FALSE(shared->loads("0", 0, false));
}

TEST_F(MmryFiles, CacheRecordsFillDeferredLocationsWhileCurrent) {
    putProgram("p1.xml", programXml("One", "Rock", "0", "Live"));
    age(temp.file("Programs/p1.xml"), -100);
    putSetup("s.xml", setupXml({{0, "p1"}}));
    auto m = make(true);
    ASSERT_TRUE(m->loads("s.xml", 0, false));
    EXPECT_EQ(str(m->getct(0, 1)), "0");
    EXPECT_EQ(readBytes(temp.file("Cache/p1.xml")),
              "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<?generated by Vorlan2 "
              "parser?><CACHE><ORIGINALFILENAME> p1.xml </ORIGINALFILENAME><NAME> One "
              "</NAME><CATEGORY> Rock </CATEGORY><SUBCATEGORY2> Live "
              "</SUBCATEGORY2><DESCRIPTION></DESCRIPTION><CACHEDFILE> " +
                  temp.folder() + "Programs/p1.xml </CACHEDFILE></CACHE>\n");

    auto cached = make(true);
    ASSERT_TRUE(cached->loads("s.xml", 0, false));
    CoreMmry::MEMORYLOC record;
    cached->getel(0, &record);
    EXPECT_TRUE(record.inuse && record.deferred);
    EXPECT_EQ(str(cached->getnm(0)) + str(cached->getct(0, 1)) + str(cached->getct(0, 2)),
              "OneLive");
    cached->mvepr(0, 5, false); // a deferred copy loads from the same file later
    EXPECT_EQ(str(cached->getvl(5, false)), programXml("One", "Rock", "0", "Live"));
    std::string const chunk = str(cached->dumpo(0)); // loads first
    EXPECT_NE(chunk.find("<NAME> One </NAME>"), std::string::npos);
    cached->getel(0, &record);
    EXPECT_FALSE(record.deferred);

    age(temp.file("Programs/p1.xml"), 100); // newer than its record: stale
    auto stale = make(true);
    ASSERT_TRUE(stale->loads("s.xml", 0, false));
    stale->getel(0, &record);
    EXPECT_FALSE(record.deferred);

    stale->setvl(0, programXml("One").c_str(), false); // text stored without cache: record goes
    EXPECT_EQ(readBytes(temp.file("Cache/p1.xml")), "");
    stale->setvl(0, programXml("One").c_str(), true);
    EXPECT_NE(readBytes(temp.file("Cache/p1.xml")), "");
    stale->getvl(0, true);
    EXPECT_EQ(readBytes(temp.file("Cache/p1.xml")), "");
}

TEST_F(MmryFiles, HostChunkMatchesAHandWrittenTextAndRoundTrips) {
    putProgram("pad.xml",
               // a stray second SEQUENCE goes too
               "<PROGRAM><NAME> Pad </NAME><GAIN> 3 </GAIN><SEQUENCE> 4 </SEQUENCE>"
               "<SEQUENCE> 5 </SEQUENCE></PROGRAM>");
    putSetup("s.xml", setupXml({{0, "pad.xml"}}));
    auto m = make();
    ASSERT_TRUE(m->loads("s.xml", 0, false));
    m->mvepr(0, 17, true);
    std::string const chunk =
        "<SETUP><SELECTEDPROGRAM> 17 </SELECTEDPROGRAM><PROGRAM><NAME> Pad </NAME><GAIN> 3 "
        "</GAIN><SEQUENCE> 17 </SEQUENCE><ORIGINALFILENAME> pad.xml "
        "</ORIGINALFILENAME><VECTORFILENAME> pad.xml </VECTORFILENAME></PROGRAM></SETUP>";
    EXPECT_EQ(str(m->dumpo(17)), chunk);
    EXPECT_THROW(m->dumpo(0), CoreAnsx); // empty
    EXPECT_THROW(m->dumpo(-1), CoreAnsx);

    auto other = make();
    put(*other, 3, "Init");
    put(*other, 8, "Init");
    ASSERT_EQ(other->dumpi(chunk.c_str()), 17);
    EXPECT_EQ(str(other->dumpo(17)), chunk);
    EXPECT_EQ(str(other->getnm(17)) + str(other->getpf(17)) + str(other->getds(17)) +
                  str(other->getcc(17)),
              "Padpad.xml");
    EXPECT_FALSE(other->getwp(17));

    other->clrpr(17);
    put(*other, 5, "Pad");
    EXPECT_EQ(other->dumpi(chunk.c_str()), 5); // the lowest of that name, not SEQUENCE
    std::string const init = "<SETUP><SELECTEDPROGRAM> 1 </SELECTEDPROGRAM><PROGRAM><NAME> Init "
                             "</NAME><SEQUENCE> 8 </SEQUENCE></PROGRAM></SETUP>";
    EXPECT_EQ(other->dumpi(init.c_str()), 8); // SEQUENCE holds the name: that one
    EXPECT_EQ(str(other->getpf(8)), "dummy.xml");
    EXPECT_EQ(str(other->getfv(8, true)), "dummy.v2v");
    std::string const arc = "<SETUP><PROGRAM><NAME> A </NAME><SEQUENCE> 40 </SEQUENCE>"
                            "<ORIGINALFILENAME> a.V2P </ORIGINALFILENAME></PROGRAM></SETUP>";
    EXPECT_EQ(other->dumpi(arc.c_str()), 40);
    EXPECT_TRUE(other->getwp(40));
    EXPECT_EQ(other->dumpi("<SETUP><SELECTEDPROGRAM> 42 </SELECTEDPROGRAM></SETUP>"), 42);
    EXPECT_EQ(str(other->getnm(42)), "0");

    // Two programs: both placed, the first in document order answers.
    std::string const two = "<SETUP><PROGRAM><NAME> X </NAME><SEQUENCE> 60 </SEQUENCE></PROGRAM>"
                            "<PROGRAM><NAME> Y </NAME><SEQUENCE> 61 </SEQUENCE></PROGRAM></SETUP>";
    EXPECT_EQ(other->dumpi(two.c_str()), 60);
    EXPECT_EQ(names(*other, 60, 62), "X|Y|");
}

TEST_F(MmryFiles, MalformedChunksAreRefusedAndChangeNothing) {
    auto m = make();
    put(*m, 0, "Keep");
    LogCapture log;
    char const* const refused[] = {
        "",
        "garbage",
        "</SETUP>",
        "<PROGRAM><NAME> Keep </NAME></PROGRAM>",
        "<SETUP><SELECTEDPROGRAM> 1E+300 </SELECTEDPROGRAM></SETUP>",
        "<SETUP><SELECTEDPROGRAM> -1 </SELECTEDPROGRAM></SETUP>",
        "<SETUP><PROGRAM><NAME> n </NAME><SEQUENCE> 10000 </SEQUENCE></PROGRAM></SETUP>",
        "<SETUP><PROGRAM><NAME> n </NAME><SEQUENCE> -7 </SEQUENCE></PROGRAM>"
        "<PROGRAM><NAME> Keep </NAME><SEQUENCE> 0 </SEQUENCE><GAIN> 9 </GAIN></PROGRAM></SETUP>",
    };
    for (char const* text : refused) {
        EXPECT_EQ(m->dumpi(text), -1) << text;
        EXPECT_EQ(str(m->getvl(0, false)), programXml("Keep")) << text;
        EXPECT_EQ(m->getcf(0), 1) << text;
    }
    EXPECT_NE(log.text().find("Host chunk refused"), std::string::npos);
}
