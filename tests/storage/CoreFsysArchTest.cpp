// Archives of the item store: the exact bytes written, loading back from a
// file and from an item of another store, filters, appending, the one-item
// form, reloading by extension, and broken archives that must be refused
// without a read outside their data.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "tests/support/FileBytes.h"
#include "tests/support/FsysItems.h"
#include "tests/support/TempDir.h"

namespace {

// Every in-memory item of a store by name.
std::map<std::string, std::string> contents(CoreFsys& fs) {
    std::map<std::string, std::string> all;
    for (int i = 0; i < fs.llvcn(); ++i) {
        int id = -1;
        std::string name = fs.llvel(i, id).c_str();
        if (fs.isvld(id)) all[name] = heldItem(fs, id);
    }
    return all;
}

std::string str(CoreAnsx const& t) { return t.c_str(); }

// The archive format written out by hand, independently of the writer.
std::string header(unsigned long length, std::string const& title = "Vorlan2 1.3.508") {
    std::string h(44, '\0');
    std::memcpy(h.data(), title.data(), title.size());
    h[40] = char(length & 0xFF);
    h[41] = char((length >> 8) & 0xFF);
    h[42] = char((length >> 16) & 0xFF);
    h[43] = char((length >> 24) & 0xFF);
    return h;
}

std::string tocItem(std::string const& name, long address, long dim) {
    return "<ITEM><ENTRY> " + name + " </ENTRY><ADDRESS> " + std::to_string(address) +
           " </ADDRESS><DIM> " + std::to_string(dim) + " </DIM><VERSION> 1.3.508 </VERSION></ITEM>";
}

std::string archiveOf(std::map<std::string, std::string> const& items) {
    std::string data, toc;
    for (auto const& [name, bytes] : items) {
        toc += tocItem(name, long(data.size()), long(bytes.size()));
        data += bytes;
    }
    return header(data.size()) + data + "<TOC>" + toc + "</TOC>";
}

std::string const kWave = std::string("RIFF\0\x01\x02\xFFwave", 12);
std::string const kXml = "<PROGRAM><NAME> Bass </NAME></PROGRAM>";

} // namespace

TEST(CoreFsysArchive, EmptyStoreWritesHeaderAndEmptyToc) {
    TempDir dir;
    CorePool pool;
    CoreFsys fs(&pool);
    fs.crtit("REGISTERED.WAV", false); // not in memory: neither written nor listed
    ASSERT_TRUE(fs.savea(CoreAnsx(dir.file("e.v2p").c_str())));
    EXPECT_EQ(readBytes(dir.file("e.v2p")), header(0) + "<TOC></TOC>");
}

TEST(CoreFsysArchive, TwoItemsHaveExactlyTheExpectedBytes) {
    TempDir dir;
    CorePool pool;
    CoreFsys fs(&pool);
    putItem(fs, "a.wav", kWave);
    putItem(fs, "B.XML", kXml);
    ASSERT_TRUE(fs.savea(CoreAnsx(dir.file("Two.V2P").c_str())));
    std::string expected = header(kWave.size() + kXml.size()) + kWave + kXml + "<TOC>" +
                           tocItem("A.WAV", 0, long(kWave.size())) +
                           tocItem("B.XML", long(kWave.size()), long(kXml.size())) + "</TOC>";
    EXPECT_EQ(readBytes(dir.file("Two.V2P")), expected);
}

TEST(CoreFsysArchive, PathKeepsItsCase) {
    TempDir dir;
    CorePool pool;
    CoreFsys fs(&pool);
    putItem(fs, "X", "1");
    ASSERT_TRUE(fs.savea(CoreAnsx(dir.file("MiXed.v2p").c_str())));
    EXPECT_EQ(access(dir.file("MiXed.v2p").c_str(), F_OK), 0);
    EXPECT_EQ(access(dir.file("MIXED.V2P").c_str(), F_OK), -1);
}

TEST(CoreFsysArchive, LoadsBackFromDiskAndFromAnItemOfAnotherStore) {
    TempDir dir;
    std::map<std::string, std::string> items = {
        {"A.WAV", kWave}, {"B.XML", kXml}, {"EMPTY.BIN", ""}};
    writeBytes(dir.file("arc.v2p"), archiveOf(items));
    CorePool pool;

    CoreFsys fromDisk(&pool);
    std::string path = dir.file("arc.v2p");
    ASSERT_TRUE(fromDisk.loada(CoreAnsx(path.c_str()), CoreAnsx(0), false, nullptr));
    EXPECT_EQ(contents(fromDisk), items);
    EXPECT_STREQ(fromDisk.getll().c_str(), path.c_str());
    EXPECT_NE(std::string(fromDisk.gettc().c_str()).find("ENTRY"), std::string::npos);

    // Nested: the archive is an item of a parent store, held in memory ...
    CoreFsys parent(&pool, CoreAnsx(dir.folder().c_str()), false);
    ASSERT_TRUE(parent.loadc(parent.crtit("ARC.V2P", false), false));
    CoreFsys nested(&pool);
    ASSERT_TRUE(nested.loada("arc.v2p", CoreAnsx(0), false, &parent));
    EXPECT_EQ(contents(nested), items);

    // ... or on disk under the parent's folder, kept open or reopened per call.
    for (bool reopen : {false, true}) {
        CoreFsys onDisk(&pool, CoreAnsx(dir.folder().c_str()), reopen);
        CoreFsys child(&pool);
        ASSERT_TRUE(child.loada("arc.v2p", CoreAnsx(0), false, &onDisk));
        EXPECT_EQ(contents(child), items);
    }
}

TEST(CoreFsysArchive, OtherVersionTextStillLoads) {
    TempDir dir;
    std::string bytes = archiveOf({{"K.WAV", "abc"}});
    std::memcpy(bytes.data() + 8, "9.9.999", 7);
    writeBytes(dir.file("v.v2p"), bytes);
    CorePool pool;
    CoreFsys fs(&pool);
    EXPECT_TRUE(fs.loada(CoreAnsx(dir.file("v.v2p").c_str()), CoreAnsx(0), false, nullptr));
    EXPECT_EQ(heldItem(fs, fs.getit("K.WAV")), "abc");
}

TEST(CoreFsysArchive, FilterFragmentsAndNoFilter) {
    TempDir dir;
    writeBytes(dir.file("f.v2p"),
               archiveOf({{"DRUM1.WAV", "1"}, {"DRUM2.WAV", "2"}, {"BASS.WAV", "3"}}));
    CoreAnsx path(dir.file("f.v2p").c_str());
    CorePool pool;
    {
        CoreFsys fs(&pool);
        EXPECT_TRUE(fs.loada(path, " drum", false, nullptr));
        EXPECT_EQ(contents(fs),
                  (std::map<std::string, std::string>{{"DRUM1.WAV", "1"}, {"DRUM2.WAV", "2"}}));
    }
    {
        CoreFsys fs(&pool);
        EXPECT_TRUE(
            fs.loada(path, "SOUNDS/BASS.WAV", false, nullptr)); // the filter contains the entry
        EXPECT_EQ(contents(fs), (std::map<std::string, std::string>{{"BASS.WAV", "3"}}));
    }
    {
        CoreFsys fs(&pool);
        EXPECT_TRUE(fs.loada(path, "NOTHING", false, nullptr)); // no entry accepted: still true
        EXPECT_EQ(fs.llvcn(), 0);
        EXPECT_TRUE(fs.loada(path, CoreAnsx(0), false, nullptr));
        EXPECT_EQ(contents(fs).size(), 3u);
    }
}

TEST(CoreFsysArchive, NamesThatContainEachOtherStayApart) {
    TempDir dir;
    writeBytes(dir.file("k.v2p"),
               archiveOf({{"1.WAV", "one"}, {"11.WAV", "eleven"}, {"A\\1.WAV", "nested"}}));
    CorePool pool;
    CoreFsys fs(&pool);
    int earlier = putItem(fs, "21.WAV", "kept"); // contains "1.WAV", must not be taken over
    ASSERT_TRUE(fs.loada(CoreAnsx(dir.file("k.v2p").c_str()), CoreAnsx(0), false, nullptr));
    EXPECT_EQ(heldItem(fs, fs.getit("1.WAV")), "one");
    EXPECT_EQ(heldItem(fs, fs.getit("11.WAV")), "eleven");
    EXPECT_EQ(heldItem(fs, fs.getit("A\\1.WAV")), "nested");
    EXPECT_EQ(heldItem(fs, earlier), "kept");
    EXPECT_EQ(fs.llvcn(), 4);
}

TEST(CoreFsysArchive, DuplicateEntriesAndSkipLoaded) {
    TempDir dir;
    std::string data = "firstsecond";
    std::string bytes = header(data.size()) + data + "<TOC>" + tocItem("D.WAV", 0, 5) +
                        tocItem("D.WAV", 5, 6) + "</TOC>";
    writeBytes(dir.file("d.v2p"), bytes);
    CoreAnsx path(dir.file("d.v2p").c_str());
    CorePool pool;
    CoreFsys later(&pool);
    ASSERT_TRUE(later.loada(path, CoreAnsx(0), false, nullptr));
    EXPECT_EQ(heldItem(later, later.getit("D.WAV")), "second");
    CoreFsys first(&pool);
    ASSERT_TRUE(first.loada(path, CoreAnsx(0), true, nullptr));
    EXPECT_EQ(heldItem(first, first.getit("D.WAV")), "first");
    // Already in memory: skip-loaded keeps the current data.
    putItem(first, "X", "");
    first.setit(first.getit("D.WAV"), "mine", 4, CoreAnsx(""), true, false);
    ASSERT_TRUE(first.loada(path, CoreAnsx(0), true, nullptr));
    EXPECT_EQ(heldItem(first, first.getit("D.WAV")), "mine");
}

// Sixty thousand items: each found by its name and by its id after the archive's load, renames
// and removals, the table in its order with the ids it gave, and every block back in the pool
// once the store closes. A lookup or a release that walked the table would take this past its
// time-out.
TEST(CoreFsysArchive, SixtyThousandItemsAreFoundByNameAndId) {
    int const n = 60000;
    std::vector<std::string> names, bytes;
    std::string data, toc;
    for (int i = 0; i < n; ++i) {
        names.push_back("K" + std::to_string(i) + ".WAV");
        bytes.push_back("item " + std::to_string(i));
        toc += tocItem(names.back(), long(data.size()), long(bytes.back().size()));
        data += bytes.back();
    }
    TempDir dir;
    writeBytes(dir.file("many.v2p"), header(data.size()) + data + "<TOC>" + toc + "</TOC>");
    CorePool pool;
    {
        CoreFsys fs(&pool);
        ASSERT_TRUE(fs.loada(CoreAnsx(dir.file("many.v2p").c_str()), CoreAnsx(0), false, nullptr));
        ASSERT_EQ(fs.llvcn(), n);
        for (int i = 0; i < n; i += 3) {
            fs.setit(i, CoreAnsx(("R" + std::to_string(i)).c_str()));
            names[std::size_t(i)] = "R" + std::to_string(i) + ".WAV";
        }
        for (int i = 1; i < n; i += 50) fs.delct(i);
        int position = 0;
        for (int i = 0; i < n; ++i) {
            std::size_t const k = std::size_t(i);
            if (i % 50 == 1) continue; // removed
            int id = -1, index = -1;
            ASSERT_EQ(str(fs.llvel(position, id)), names[k]);
            ASSERT_EQ(id, i);
            ASSERT_EQ(fs.getit(names[k].c_str()), i);
            ASSERT_NE(fs.gtiit(i, index), nullptr);
            ASSERT_EQ(index, position++);
            ASSERT_EQ(heldItem(fs, i), bytes[k]);
        }
        EXPECT_EQ(fs.llvcn(), position);
        EXPECT_EQ(fs.getit("K0.WAV"), -1); // renamed
        EXPECT_EQ(fs.getit("K1.WAV"), -1); // removed
        EXPECT_EQ(fs.crtit("K1.WAV", true), n);
    }
    EXPECT_EQ(pool.getma(), 0);
}

TEST(CoreFsysArchive, ReloadingDoesNotGrowThePool) {
    TempDir dir;
    writeBytes(dir.file("r.v2p"), archiveOf({{"A.WAV", std::string(5000, 'a')}, {"B.WAV", "b"}}));
    CoreAnsx path(dir.file("r.v2p").c_str());
    CorePool pool;
    CoreFsys fs(&pool);
    ASSERT_TRUE(fs.loada(path, CoreAnsx(0), false, nullptr));
    long live = pool.getma();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(fs.loada(path, CoreAnsx(0), false, nullptr));
    EXPECT_EQ(pool.getma(), live);
}

// An item past a piece is read whole, piece after piece; a stop asked between pieces ends the
// load with no line and the item not loaded; an archive past the bound it is given is refused.
TEST(CoreFsysArchive, LargeItemsAreReadInPiecesThatStop) {
    TempDir dir;
    std::string big(40 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = char(i % 251);
    std::map<std::string, std::string> const items = {{"BIG.WAV", big}, {"SMALL.WAV", "ab"}};
    writeBytes(dir.file("l.v2v"), archiveOf(items));
    CoreAnsx path(dir.file("l.v2v").c_str());
    CorePool pool;
    for (int stopAt : {0, 2}) {
        CoreFsys fs(&pool);
        int asked = 0;
        bool const ok =
            fs.loada(path, CoreAnsx(0), false, nullptr, -1, [&] { return ++asked == stopAt; });
        EXPECT_EQ(ok, stopAt == 0);
        EXPECT_EQ(contents(fs), (ok ? items : std::map<std::string, std::string>{}));
        EXPECT_EQ(asked, ok ? 4 : 2); // three pieces of BIG.WAV, one of SMALL.WAV
        EXPECT_EQ(str(fs.getrf()), ok ? "" : str(CoreFsys::sCstopped));
    }
    CoreFsys fs(&pool);
    EXPECT_FALSE(fs.loada(path, CoreAnsx(0), false, nullptr, 1 << 20));
    EXPECT_EQ(str(fs.getrf()).rfind("too large (", 0), 0u);
}

TEST(CoreFsysArchive, AppendGrowsByItemAndTocEntry) {
    TempDir dir;
    CoreAnsx path(dir.file("a.v2p").c_str());
    CorePool pool;
    CoreFsys fs(&pool);
    putItem(fs, "A.WAV", "aaaa");
    ASSERT_TRUE(fs.savea(path));
    std::string before = readBytes(path.c_str());
    putItem(fs, "NEW.WAV", "123456789");
    ASSERT_TRUE(fs.appnd(path, "new.wav"));
    std::string after = readBytes(path.c_str());
    std::string entry = tocItem("NEW.WAV", 4, 9);
    EXPECT_EQ(after.size(), before.size() + 9 + entry.size());
    EXPECT_EQ(after, archiveOf({{"A.WAV", "aaaa"}, {"NEW.WAV", "123456789"}}));
    EXPECT_NE(std::string(fs.gettc().c_str()).find("A.WAV"), std::string::npos);

    CoreFsys back(&pool);
    ASSERT_TRUE(back.loada(path, CoreAnsx(0), false, nullptr));
    EXPECT_EQ(contents(back),
              (std::map<std::string, std::string>{{"A.WAV", "aaaa"}, {"NEW.WAV", "123456789"}}));

    // Nothing to append, or not an archive: false and the file unchanged.
    EXPECT_FALSE(fs.appnd(path, "MISSING.ITEM"));
    fs.crtit("ONLYNAME.WAV", true);
    EXPECT_FALSE(fs.appnd(path, "ONLYNAME.WAV"));
    EXPECT_EQ(readBytes(path.c_str()), after);
    writeBytes(dir.file("plain.txt"), "not an archive at all, but long enough for a header....");
    EXPECT_FALSE(fs.appnd(CoreAnsx(dir.file("plain.txt").c_str()), "A.WAV"));
    EXPECT_EQ(readBytes(dir.file("plain.txt")),
              "not an archive at all, but long enough for a header....");
    EXPECT_FALSE(fs.appnd(CoreAnsx(dir.file("none.v2p").c_str()), "A.WAV"));
}

TEST(CoreFsysArchive, AppendDropsStaleBytesOfALongerOldToc) {
    TempDir dir;
    // A table of contents written pretty by someone else, longer than the compact one.
    std::string bytes = header(2) + "xy" +
                        "<TOC>\n  <ITEM>\n    <ENTRY> X.WAV </ENTRY>\n    <ADDRESS> 0 </ADDRESS>\n"
                        "    <DIM> 2 </DIM>\n  </ITEM>\n" +
                        std::string(200, ' ') + "</TOC>\n";
    writeBytes(dir.file("p.v2p"), bytes);
    CorePool pool;
    CoreFsys fs(&pool);
    putItem(fs, "Y.WAV", "z");
    ASSERT_TRUE(fs.appnd(CoreAnsx(dir.file("p.v2p").c_str()), "Y.WAV"));
    std::string expected =
        header(3) + "xyz" +
        "<TOC><ITEM><ENTRY> X.WAV </ENTRY><ADDRESS> 0 </ADDRESS><DIM> 2 </DIM></ITEM>" +
        tocItem("Y.WAV", 2, 1) + "</TOC>";
    EXPECT_EQ(readBytes(dir.file("p.v2p")), expected);
}

TEST(CoreFsysArchive, FailedSaveLeavesThePreviousFile) {
    TempDir dir;
    CorePool pool;
    CoreFsys fs(&pool);
    putItem(fs, "A", "1");
    EXPECT_FALSE(fs.savea(CoreAnsx(dir.file("no/such/folder/x.v2p").c_str())));
    // The target is a folder: it is refused and the folder stays as it was.
    mkdir(dir.file("taken").c_str(), 0755);
    EXPECT_FALSE(fs.savea(CoreAnsx(dir.file("taken").c_str())));
    struct stat st;
    ASSERT_EQ(stat(dir.file("taken").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    if (geteuid() != 0) {
        mkdir(dir.file("ro").c_str(), 0755);
        ASSERT_TRUE(fs.savea(CoreAnsx(dir.file("ro/x.v2p").c_str())));
        std::string old = readBytes(dir.file("ro/x.v2p"));
        chmod(dir.file("ro").c_str(), 0555);
        putItem(fs, "B", "2");
        EXPECT_FALSE(fs.savea(CoreAnsx(dir.file("ro/x.v2p").c_str())));
        EXPECT_EQ(readBytes(dir.file("ro/x.v2p")), old);
    }
    EXPECT_EQ(std::system(("test -z \"$(find '" + dir.folder() + "' -name '*~*')\"").c_str()), 0);
}

TEST(CoreFsysArchive, WriteProtectedFilesAreNotReplaced) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the super-user";
    TempDir dir;
    CorePool pool;
    CoreFsys fs(&pool, CoreAnsx(dir.folder().c_str()), false);
    putItem(fs, "K.WAV", "new bytes");
    writeBytes(dir.file("p.v2p"), "protected archive");
    writeBytes(dir.file("K.WAV"), "protected loose file");
    chmod(dir.file("p.v2p").c_str(), 0444);
    chmod(dir.file("K.WAV").c_str(), 0444);
    EXPECT_FALSE(fs.savea(CoreAnsx(dir.file("p.v2p").c_str())));
    fs.savea();
    EXPECT_EQ(readBytes(dir.file("p.v2p")), "protected archive");
    EXPECT_EQ(readBytes(dir.file("K.WAV")), "protected loose file");
    EXPECT_EQ(std::system(("test -z \"$(find '" + dir.folder() + "' -name '*~*')\"").c_str()), 0);
}

TEST(CoreFsysArchive, SaveUnloadReloadRestoresTheBytes) {
    TempDir dir;
    std::string wave(3000, '\0');
    for (std::size_t i = 0; i < wave.size(); ++i) wave[i] = char(i * 7);
    writeBytes(dir.file("s.v2p"), archiveOf({{"K1.WAV", wave}, {"K2.WAV", "k2"}, {"P.XML", kXml}}));
    CoreAnsx path(dir.file("s.v2p").c_str());
    CorePool pool;
    CoreFsys fs(&pool, CoreAnsx((dir.folder() + "out/").c_str()), false);
    ASSERT_TRUE(fs.loada(path, CoreAnsx(0), false, nullptr));
    fs.savea();
    EXPECT_EQ(readBytes(dir.folder() + "out/K1.WAV"), wave);
    fs.uload(".wav");
    EXPECT_FALSE(fs.isvld(fs.getit("K1.WAV")));
    EXPECT_TRUE(fs.isvld(fs.getit("P.XML")));
    fs.rload(".WAV");
    EXPECT_EQ(heldItem(fs, fs.getit("K1.WAV")), readBytes(dir.folder() + "out/K1.WAV"));
    EXPECT_EQ(heldItem(fs, fs.getit("K2.WAV")), "k2");
    EXPECT_EQ(fs.llvcn(), 3);
}

TEST(CoreFsysArchive, SingleDocumentRoundTrips) {
    TempDir dir;
    CorePool pool;
    CoreXml_ original;
    original.getfc(
        "<PROGRAM><NAME> Pad &amp; Bass </NAME><H><ELEMENT><FILENAME> 1.WAV </FILENAME></ELEMENT>"
        "</H></PROGRAM>");
    CoreAnsx v2x(dir.file("doc.v2x").c_str());
    ASSERT_TRUE(CoreFsys::svv2x(&pool, &original, v2x));
    CoreXml_ back;
    ASSERT_TRUE(CoreFsys::ldv2x(&pool, &back, v2x));
    EXPECT_STREQ(back.settc(false, false).c_str(), original.settc(false, false).c_str());

    // XML file -> one-item archive -> XML file gives the same tree.
    ASSERT_TRUE(original.settf(CoreAnsx(dir.file("conv.xml").c_str()), true, false, false));
    ASSERT_TRUE(CoreFsys::cvxml(&pool, CoreAnsx(dir.file("conv.xml").c_str())));
    ASSERT_EQ(access(dir.file("conv.v2x").c_str(), F_OK), 0);
    unlink(dir.file("conv.xml").c_str());
    ASSERT_TRUE(CoreFsys::cvv2x(&pool, CoreAnsx(dir.file("conv.v2x").c_str())));
    CoreXml_ again;
    ASSERT_NE(again.getff(CoreAnsx(dir.file("conv.xml").c_str()), false), nullptr);
    EXPECT_STREQ(again.settc(false, false).c_str(), original.settc(false, false).c_str());

    EXPECT_FALSE(CoreFsys::ldv2x(&pool, &back, CoreAnsx(dir.file("none.v2x").c_str())));
    EXPECT_FALSE(CoreFsys::svv2x(&pool, nullptr, v2x));
    EXPECT_FALSE(CoreFsys::cvxml(&pool, CoreAnsx(dir.file("none.xml").c_str())));
}

TEST(CoreFsysCorrupt, BrokenHeadersAndTablesAreRefused) {
    TempDir dir;
    CorePool pool;
    std::string good = archiveOf({{"A.WAV", "abc"}, {"B.WAV", "de"}});
    auto load = [&](std::string const& bytes, std::map<std::string, std::string>* got) {
        writeBytes(dir.file("c.v2p"), bytes);
        CoreFsys fs(&pool);
        bool ok = fs.loada(CoreAnsx(dir.file("c.v2p").c_str()), CoreAnsx(0), false, nullptr);
        if (got) *got = contents(fs);
        return ok;
    };
    std::map<std::string, std::string> got;
    EXPECT_TRUE(load(good, &got));
    EXPECT_EQ(got.size(), 2u);

    std::string badTitle = good;
    badTitle[0] = 'v';
    EXPECT_FALSE(load(badTitle, nullptr));
    EXPECT_FALSE(load(good.substr(0, 30), nullptr));                // shorter than a header
    EXPECT_FALSE(load(header(1000) + "abcde<TOC></TOC>", nullptr)); // length past the end
    EXPECT_FALSE(load(header(0xFFFFFFFFul) + "x", nullptr));
    EXPECT_FALSE(load(header(5) + "abcde", nullptr)); // no table of contents
    EXPECT_FALSE(load(header(5) + "abcde<OTHER></OTHER>", nullptr));

    // Bad entries are skipped, good ones still load.
    std::string entries =
        header(5) + "abcde<TOC>" + tocItem("OK.WAV", 0, 2) +
        "<ITEM><ENTRY> NEG.WAV </ENTRY><ADDRESS> 0 </ADDRESS><DIM> -3 </DIM></ITEM>" +
        tocItem("BIG.WAV", 0, 2000000000) + tocItem("PAST.WAV", 4, 2) +
        tocItem("FAR.WAV", 99999999999L, 1) +
        "<ITEM><ENTRY> NODIM.WAV </ENTRY><ADDRESS> 0 </ADDRESS></ITEM>" +
        "<ITEM><ADDRESS> 0 </ADDRESS><DIM> 1 </DIM></ITEM>" +
        "<ITEM><ENTRY> TEXT.WAV </ENTRY><ADDRESS> 0x1 </ADDRESS><DIM> 1 </DIM></ITEM>" +
        tocItem("END.WAV", 3, 2) + "</TOC>";
    EXPECT_TRUE(load(entries, &got));
    EXPECT_EQ(got, (std::map<std::string, std::string>{{"OK.WAV", "ab"}, {"END.WAV", "de"}}));
}

TEST(CoreFsysCorrupt, UnreadableTableThrowsAndLeaksNothing) {
    TempDir dir;
    writeBytes(dir.file("t.v2p"), header(1) + "a</X>");
    CorePool pool;
    CoreFsys fs(&pool);
    long live = pool.getma();
    EXPECT_THROW(fs.loada(CoreAnsx(dir.file("t.v2p").c_str()), CoreAnsx(0), false, nullptr),
                 CoreAnsx);
    EXPECT_EQ(pool.getma(), live);
}

TEST(CoreFsysCorrupt, EveryTruncationIsRefusedOrLoadsOnlyWholeItems) {
    TempDir dir;
    std::map<std::string, std::string> items = {
        {"A.WAV", "alpha"}, {"B.XML", kXml}, {"C.BIN", std::string(3, '\0')}};
    std::string const good = archiveOf(items);
    CorePool pool;
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        for (bool fromFile : {true, false}) {
            CoreFsys parent(&pool, CoreAnsx(dir.folder().c_str()), false);
            if (fromFile) {
                writeBytes(dir.file("T.V2P"), good.substr(0, cut));
            } else {
                int id = parent.crtit("T.V2P", false);
                parent.setit(id, good.data(), long(cut), CoreAnsx(""), true, false);
            }
            CoreFsys fs(&pool);
            bool ok = fs.loada("T.V2P", CoreAnsx(0), false, &parent);
            // Anything loaded is a whole item with its own bytes.
            for (auto const& [name, bytes] : contents(fs)) {
                ASSERT_TRUE(ok);
                ASSERT_EQ(items.at(name), bytes) << "cut at " << cut;
            }
            if (cut < 44 + 5 + kXml.size() + 3) {
                ASSERT_FALSE(ok) << "cut at " << cut; // data cut: no table of contents
            }
        }
    }
}

TEST(CoreFsysCorrupt, RandomDamageNeverReadsOutsideTheData) {
    TempDir dir;
    std::string const good =
        archiveOf({{"A.WAV", "alpha"}, {"BB.WAV", std::string(40, 'b')}, {"C.XML", kXml}});
    std::mt19937 gen(11);
    CorePool pool;
    for (int round = 0; round < 400; ++round) {
        std::string bytes = good;
        int changes = 1 + int(gen() % 6);
        for (int i = 0; i < changes; ++i) {
            std::size_t at = gen() % bytes.size();
            switch (gen() % 4) {
            case 0: bytes[at] = char(gen()); break;
            case 1: bytes[at] = char('0' + gen() % 10); break;
            case 2: bytes.erase(at, 1 + gen() % 8); break;
            default: bytes.insert(at, 1, char('0' + gen() % 10)); break;
            }
            if (bytes.empty()) bytes = "x";
        }
        bool fromFile = round % 2 == 0;
        CoreFsys parent(&pool);
        CoreFsys fs(&pool);
        try {
            if (fromFile) {
                writeBytes(dir.file("z.v2p"), bytes);
                fs.loada(CoreAnsx(dir.file("z.v2p").c_str()), CoreAnsx(0), false, nullptr);
            } else {
                int id = parent.crtit("Z", false);
                parent.setit(id, bytes.data(), long(bytes.size()), CoreAnsx(""), true, false);
                fs.loada("Z", CoreAnsx(0), false, &parent);
            }
        } catch (CoreAnsx const&) {
        }
        // Whatever loaded lies inside the damaged bytes' data area.
        for (auto const& [name, data] : contents(fs)) ASSERT_LE(data.size(), bytes.size());
    }
}
