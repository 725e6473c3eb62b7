// The item store: names, ids and lookups, loading, and the FILE-like access
// that must give the same bytes and positions for a disk file kept open, a
// disk file reopened on every call and an item held in memory.

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "tests/support/FileBytes.h"
#include "tests/support/FsysItems.h"
#include "tests/support/HugeFiles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

// The file the next stream made grows to 17 MB first, sparse: between ffpen's look at the size
// and a reader's ("": the real call only).
static std::string growing;
extern "C" FILE* fdopen(int fd, char const* mode) noexcept {
    if (!growing.empty()) ::truncate(std::exchange(growing, "").c_str(), off_t(17) << 20);
    static auto const next =
        reinterpret_cast<FILE* (*)(int, char const*)>(dlsym(RTLD_NEXT, "fdopen"));
    return next(fd, mode);
}

namespace {

std::string randomBytes(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(std::size_t(n), '\0');
    for (auto& c : s) c = char(gen() & 0xFF);
    return s;
}

} // namespace

TEST(CoreFsysNames, FreshStoreIsEmpty) {
    CorePool pool;
    CoreFsys fs(&pool);
    EXPECT_EQ(fs.llvcn(), 0);
    EXPECT_EQ(fs.getkn(), 0);
    EXPECT_STREQ(fs.getll().c_str(), "NULL");
    EXPECT_STREQ(fs.gettc().c_str(), "NULL");
    EXPECT_EQ(fs.getit("anything"), -1);
    EXPECT_EQ(fs.getit(""), -1);
}

TEST(CoreFsysNames, NamesAreTrimmedAndUpperCased) {
    CorePool pool;
    CoreFsys fs(&pool);
    int a = fs.crtit("  data.xml \t", false);
    int b = fs.crtit("DATA.XML", false);
    EXPECT_EQ(a, b);
    EXPECT_EQ(fs.llvcn(), 1);
    int id = -2;
    EXPECT_STREQ(fs.llvel(0, id).c_str(), "DATA.XML");
    EXPECT_EQ(id, a);
}

TEST(CoreFsysNames, ContainmentBothWaysAndForceNew) {
    CorePool pool;
    CoreFsys fs(&pool);
    int data = fs.crtit("DATA.XML", false);
    EXPECT_EQ(fs.crtit("A.XML", false), data);        // contained in DATA.XML
    EXPECT_EQ(fs.crtit("OLD_DATA.XML", false), data); // contains DATA.XML
    EXPECT_EQ(fs.llvcn(), 1);
    int second = fs.crtit("A.XML", true);
    EXPECT_NE(second, data);
    EXPECT_EQ(fs.llvcn(), 2);
    // Now an exact name exists, and it wins over the earlier fragment match.
    EXPECT_EQ(fs.getit("a.xml"), second);
    // An empty query matches the first item.
    EXPECT_EQ(fs.getit(""), data);
    // The three-argument form ignores its last flag either way.
    for (bool flag : {false, true}) {
        EXPECT_EQ(fs.crtit("a.xml", false, flag), second);
        int const made = fs.crtit("A.XML", true, flag);
        EXPECT_GT(made, second);
        EXPECT_EQ(fs.gtsit("A.XML")->id, second); // the exact earlier match still wins
        fs.delct(made);
    }
    EXPECT_EQ(fs.llvcn(), 2);
    // Of two items of one name the earlier in the table is found, however
    // the names came and went.
    int const third = fs.crtit("A.XML", true);
    fs.setit(second, CoreAnsx("B"));
    EXPECT_EQ(fs.getit("A.XML"), third);
    fs.setit(second, CoreAnsx("A"));
    EXPECT_EQ(fs.getit("A.XML"), second);
    fs.delct(second);
    EXPECT_EQ(fs.getit("A.XML"), third);
}

TEST(CoreFsysNames, ExactNameWinsOverEarlierContainingName) {
    CorePool pool;
    CoreFsys fs(&pool);
    int eleven = fs.crtit("11.WAV", true);
    int one = fs.crtit("1.WAV", true);
    EXPECT_EQ(fs.getit("1.WAV"), one);
    EXPECT_EQ(fs.getit("11.WAV"), eleven);
    EXPECT_EQ(fs.crtit(" 1.wav ", false), one);
    EXPECT_EQ(fs.getit("KERNELS/11.WAV"), eleven); // fragments still find items
}

TEST(CoreFsysNames, IdsSurviveDeletionAndPositionsMoveUp) {
    CorePool pool;
    CoreFsys fs(&pool);
    int a = fs.crtit("A", true), b = fs.crtit("B", true), c = fs.crtit("C", true);
    putItem(fs, "D", "xyz");
    fs.delct(a);
    fs.delct(12345); // unknown: nothing
    EXPECT_EQ(fs.llvcn(), 3);
    int id = -1;
    EXPECT_STREQ(fs.llvel(0, id).c_str(), "B");
    EXPECT_EQ(id, b);
    EXPECT_STREQ(fs.llvel(1, id).c_str(), "C");
    EXPECT_EQ(id, c);
    EXPECT_STREQ(fs.llvel(5, id).c_str(), "");
    EXPECT_EQ(id, -1);
    int e = fs.crtit("E", true);
    EXPECT_GT(e, c + 1); // D took the next id; ids never repeat
    int index = -1;
    EXPECT_NE(fs.gtiit(e, index), nullptr);
    EXPECT_EQ(index, 3);
    CoreAnsx names[4];
    fs.getks(names);
    EXPECT_STREQ(names[2].c_str(), "D");
    long live = pool.getma();
    fs.init_();
    EXPECT_EQ(fs.llvcn(), 0);
    EXPECT_LT(pool.getma(), live);     // D's block went back
    EXPECT_GT(fs.crtit("F", true), e); // init_ keeps counting
}

TEST(CoreFsysData, UnknownIdsGiveNeutralResults) {
    CorePool pool;
    CoreFsys fs(&pool);
    char buffer[4];
    void* data = buffer;
    EXPECT_FALSE(fs.isvld(7));
    EXPECT_EQ(fs.getco(7, &data), 0);
    EXPECT_EQ(data, buffer);
    EXPECT_STREQ(fs.ct2as(7).c_str(), "");
    EXPECT_FALSE(fs.wopen(7, "rb"));
    EXPECT_EQ(fs.wread(7, buffer, 1, 4), 0);
    EXPECT_EQ(fs.wseek(7, 0, SEEK_SET), -1);
    EXPECT_EQ(fs.wtell(7), -1);
    EXPECT_NE(fs.weof_(7), 0);
    fs.wclse(7);
    EXPECT_FALSE(fs.loadc(7, false));
    fs.setit(7, CoreAnsx("X.WAV"));
    // Text drops zero bytes; a rename keeps the folder and extension.
    int id = putItem(fs, "KERNELS\\OLD.WAV", std::string("A\0B", 3));
    EXPECT_STREQ(fs.ct2as(id).c_str(), "AB");
    fs.setit(id, CoreAnsx("/somewhere/New Name.xml"));
    int at = -1;
    EXPECT_STREQ(fs.llvel(0, at).c_str(), "KERNELS\\New Name.WAV");
}

TEST(CoreFsysData, RefillingAnItemDoesNotLeakItsOldBlock) {
    CorePool pool;
    CoreFsys fs(&pool);
    int id = fs.crtit("X.WAV", false);
    std::string bytes = randomBytes(4000, 1);
    fs.setit(id, bytes.data(), long(bytes.size()), CoreAnsx("A.V2P"), false, false);
    long live = pool.getma();
    for (int i = 0; i < 5; ++i)
        fs.setit(id, bytes.data(), long(bytes.size()), CoreAnsx("A.V2P"), false, false);
    EXPECT_EQ(pool.getma(), live);
    EXPECT_EQ(heldItem(fs, id), bytes);
    // keepSource leaves the recorded archive alone; the data still change.
    fs.setit(id, "Q", 1, CoreAnsx("OTHER"), true, true);
    EXPECT_EQ(heldItem(fs, id), "Q");
}

TEST(CoreFsysData, MemoryReadsStopAtTheEnd) {
    CorePool pool;
    CoreFsys fs(&pool);
    int id = putItem(fs, "M", "0123456789");
    char out[16];
    std::memset(out, '#', sizeof out);
    EXPECT_TRUE(fs.wopen(id, "rb"));
    // Three 4-byte elements over 10 bytes: two whole ones, then the two bytes
    // that exist, uncounted, as fread does; nothing beyond them is touched.
    EXPECT_EQ(fs.wread(id, out, 4, 3), 2);
    EXPECT_EQ(std::string(out, 10), "0123456789");
    EXPECT_EQ(out[10], '#');
    EXPECT_EQ(fs.wtell(id), 10);
    EXPECT_NE(fs.weof_(id), 0);
    EXPECT_EQ(fs.wread(id, out, 1, 1), 0);
}

TEST(CoreFsysData, MemorySeekRules) {
    CorePool pool;
    CoreFsys fs(&pool);
    int id = putItem(fs, "M", "ABCDE");
    EXPECT_EQ(fs.wseek(id, 0, SEEK_END), 0);
    EXPECT_EQ(fs.wtell(id), 4); // the last byte, not the end
    EXPECT_EQ(fs.weof_(id), 0);
    char c = 0;
    EXPECT_EQ(fs.wread(id, &c, 1, 1), 1);
    EXPECT_EQ(c, 'E');
    EXPECT_NE(fs.weof_(id), 0);
    EXPECT_EQ(fs.wseek(id, 5, SEEK_SET), -1); // at the end: refused
    EXPECT_EQ(fs.wtell(id), 5);
    EXPECT_EQ(fs.wseek(id, -1, SEEK_SET), -1); // before the start: refused
    EXPECT_EQ(fs.wseek(id, 1, SEEK_SET), 0);
    EXPECT_EQ(fs.wseek(id, 2, SEEK_CUR), 0);
    EXPECT_EQ(fs.wtell(id), 3);
    EXPECT_EQ(fs.wseek(id, -4, SEEK_CUR), -1);
    EXPECT_EQ(fs.wtell(id), 3);
    EXPECT_EQ(fs.wseek(id, 0, 7), -1);

    int empty = putItem(fs, "EMPTY", "");
    EXPECT_TRUE(fs.isvld(empty));
    EXPECT_EQ(fs.wseek(empty, 0, SEEK_SET), -1);
    EXPECT_EQ(fs.wseek(empty, 0, SEEK_END), -1);
    EXPECT_NE(fs.weof_(empty), 0);
}

TEST(CoreFsysData, ByteLoopUntilEndYieldsEveryByte) {
    CorePool pool;
    CoreFsys fs(&pool);
    std::string bytes = randomBytes(777, 2);
    int id = putItem(fs, "M", bytes);
    fs.wopen(id, "rb");
    std::string got;
    while (fs.weof_(id) == 0) {
        char c;
        ASSERT_EQ(fs.wread(id, &c, 1, 1), 1);
        got += c;
    }
    EXPECT_EQ(got, bytes);
}

TEST(CoreFsysAccess, ThreeKindsOfItemGiveTheSameBytesAndPositions) {
    TempDir dir;
    std::string const bytes = randomBytes(5000, 3);
    writeBytes(dir.file("Sample.Bin"), bytes);
    CorePool pool;
    CoreFsys kept(&pool, CoreAnsx(dir.folder().c_str()), false);
    CoreFsys reopened(&pool, CoreAnsx(dir.folder().c_str()), true);
    CoreFsys memory(&pool, CoreAnsx(dir.folder().c_str()), false);
    // The names are stored upper case; the disk file is found regardless.
    int k = kept.crtit("sample.bin", false);
    int r = reopened.crtit("sample.bin", false);
    int m = memory.crtit("sample.bin", false);
    ASSERT_TRUE(kept.wopen(k, "rb"));
    ASSERT_TRUE(reopened.wopen(r, "rb"));
    ASSERT_TRUE(memory.loadc(m, false));
    ASSERT_TRUE(memory.wopen(m, "rb"));
    EXPECT_FALSE(memory.loadc(m, true)); // already loaded

    std::mt19937 gen(4);
    for (int step = 0; step < 300; ++step) {
        int action = int(gen() % 3);
        if (action == 0) {
            long size = long(gen() % 7) + 1, count = long(gen() % 50);
            char a[400], b[400], c[400];
            long const at = kept.wtell(k);
            long na = kept.wread(k, a, size, count);
            long nb = reopened.wread(r, b, size, count);
            long nc = memory.wread(m, c, size, count);
            ASSERT_EQ(na, nb);
            ASSERT_EQ(na, nc);
            ASSERT_EQ(std::string(a, std::size_t(na * size)),
                      std::string(b, std::size_t(na * size)));
            ASSERT_EQ(std::string(a, std::size_t(na * size)),
                      std::string(c, std::size_t(na * size)));
            if (na > 0) {
                ASSERT_EQ(std::string(a, std::size_t(na * size)),
                          bytes.substr(std::size_t(at), std::size_t(na * size)));
            }
        } else {
            // Seeks inside the data, where the three kinds agree.
            int origin = action == 1 ? SEEK_SET : SEEK_CUR;
            long here = kept.wtell(k);
            long target = long(gen() % bytes.size());
            long offset = origin == SEEK_SET ? target : target - here;
            ASSERT_EQ(kept.wseek(k, offset, origin), 0);
            ASSERT_EQ(reopened.wseek(r, offset, origin), 0);
            ASSERT_EQ(memory.wseek(m, offset, origin), 0);
        }
        ASSERT_EQ(kept.wtell(k), reopened.wtell(r));
        ASSERT_EQ(kept.wtell(k), memory.wtell(m));
    }
    // Reading everything from the start gives the file itself in each kind.
    for (CoreFsys* fs : {&kept, &reopened, &memory}) {
        int id = fs == &kept ? k : fs == &reopened ? r : m;
        ASSERT_EQ(fs->wseek(id, 0, SEEK_SET), 0);
        std::string all(bytes.size() + 10, '\0');
        EXPECT_EQ(fs->wread(id, all.data(), 1, long(all.size())), long(bytes.size()));
        EXPECT_EQ(all.substr(0, bytes.size()), bytes);
        EXPECT_NE(fs->weof_(id), 0);
    }
    kept.wclse(k);
    EXPECT_EQ(kept.wtell(k), -1); // no file held any more
    char c;
    EXPECT_EQ(kept.wread(k, &c, 1, 1), 0);
}

TEST(CoreFsysAccess, ReopenedEndTestComparesWithTheFileLength) {
    TempDir dir;
    writeBytes(dir.file("F"), "abc");
    CorePool pool;
    CoreFsys fs(&pool, CoreAnsx(dir.folder().c_str()), true);
    int id = fs.crtit("F", false);
    ASSERT_TRUE(fs.wopen(id, "rb"));
    std::string got;
    while (fs.weof_(id) == 0) {
        char c;
        ASSERT_EQ(fs.wread(id, &c, 1, 1), 1);
        got += c;
    }
    EXPECT_EQ(got, "abc");
}

TEST(CoreFsysExist, SingleNameRegistersAndTestsDisk) {
    TempDir dir;
    writeBytes(dir.file("here.txt"), "x");
    CorePool pool;
    CoreFsys fs(&pool, CoreAnsx(dir.folder().c_str()), false);
    EXPECT_FALSE(fs.exstf(CoreAnsx("missing.txt")));
    EXPECT_EQ(fs.llvcn(), 1); // left behind as a registered item
    EXPECT_GE(fs.getit("MISSING.TXT"), 0);
    EXPECT_TRUE(fs.exstf(CoreAnsx("here.txt")));
    putItem(fs, "ONLYINMEMORY.BIN", "1");
    EXPECT_TRUE(fs.exstf(CoreAnsx("onlyinmemory.bin")));
}

TEST(CoreFsysExist, AlternativeFoldersInOrder) {
    TempDir a, b, c;
    writeBytes(c.file("k.wav"), "1");
    writeBytes(b.file("k.wav"), "2");
    CoreAnsx alternatives[2] = {CoreAnsx(b.folder().c_str()), CoreAnsx(c.folder().c_str())};
    CoreAnsx found("junk");
    EXPECT_TRUE(CoreFsys::exstf(CoreAnsx(a.folder().c_str()), 2, alternatives, "k.wav", found));
    EXPECT_STREQ(found.c_str(), b.folder().c_str());
    EXPECT_FALSE(CoreFsys::exstf(CoreAnsx(a.folder().c_str()), 2, alternatives, "none.wav", found));
    EXPECT_STREQ(found.c_str(), "");
    EXPECT_TRUE(CoreFsys::exstf(CoreAnsx(c.folder().c_str()), "k.wav"));
}

// A readable copy wins over the main folder's unreadable file; with none the unreadable one is
// taken so its load says why, as a link loop's does. As root, the search runs as another user.
TEST(CoreFsysExist, AReadableCopyWinsAndAnUnreadableOneSaysWhy) {
    TempDir a, b;
    writeBytes(a.file("K.WAV"), "main");
    writeBytes(b.file("K.WAV"), "copy");
    ASSERT_EQ(::symlink("LOOP.WAV", a.file("LOOP.WAV").c_str()), 0);
    ASSERT_EQ(::chmod(a.file("K.WAV").c_str(), 0) | ::chmod(b.file("K.WAV").c_str(), 0644) |
                  ::chmod(a.path().c_str(), 0755) | ::chmod(b.path().c_str(), 0755),
              0);
    CoreAnsx const main(a.folder().c_str()), copy(b.folder().c_str());
    // The file, the alternatives searched, the folder found (null none), the open's reason there.
    std::tuple<char const*, short, CoreAnsx const*, char const*> const rows[] = {
        {"K.WAV", 1, &copy, ""},
        {"K.WAV", 0, &main, "Permission denied"},
        {"LOOP.WAV", 1, &main, "Too many levels of symbolic links"},
        {"NONE.WAV", 1, nullptr, ""}};
    std::thread([&] {
        ASSERT_FALSE(::geteuid() == 0 && (::syscall(SYS_setresgid, 65534, 65534, 65534) != 0 ||
                                          ::syscall(SYS_setresuid, 65534, 65534, 65534) != 0));
        for (auto const& [name, copies, in, why] : rows) {
            CoreAnsx alternatives[1] = {copy}, found("junk");
            EXPECT_EQ(CoreFsys::exstf(main, copies, alternatives, name, found), in != nullptr);
            EXPECT_STREQ(found.c_str(), in != nullptr ? in->c_str() : "");
            FILE* file = in != nullptr ? CoreButl::ffpen(found + name, "rb") : nullptr;
            EXPECT_STREQ(file || !in ? "" : CoreButl::systemReason(errno).c_str(), why);
            if (file != nullptr) std::fclose(file);
        }
    }).join();
}

TEST(CoreFsysLoad, RegisteredOnlyItemsAreLeftAloneByReload) {
    CorePool pool;
    CoreFsys fs(&pool);
    int id = fs.crtit("KERNEL.WAV", false);
    fs.rload(".wav");
    EXPECT_FALSE(fs.isvld(id));
    EXPECT_STREQ(fs.getll().c_str(), "NULL"); // no archive load was tried
}

TEST(CoreFsysLoad, DocumentFromAnItem) {
    TempDir dir;
    writeBytes(dir.file("DOC.XML"), "<?xml version=\"1.0\"?><P><N> 5 </N></P>");
    CorePool pool;
    CoreFsys fs(&pool, CoreAnsx(dir.folder().c_str()), false);
    CoreXml_ document;
    CoreNode* root = fs.getff(&document, "doc.xml", false);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->getcd("P")->getli("N"), 5);
    EXPECT_TRUE(fs.isvld(fs.getit("DOC.XML")));
    EXPECT_EQ(fs.getff(nullptr, "doc.xml", false), nullptr);
    // An item past the bound it is read with is refused from its size; loadc's default takes it.
    int const id = fs.getit("DOC.XML");
    ASSERT_EQ(::truncate(dir.file("DOC.XML").c_str(), off_t(CoreButl::iCwholebytes + 1)), 0);
    EXPECT_FALSE(fs.loadc(id, false, CoreButl::iCwholebytes));
    EXPECT_EQ(CoreButl::fferr(), EFBIG);
    EXPECT_TRUE(fs.loadc(id, false));
    EXPECT_EQ(fs.getco(id, nullptr), CoreButl::iCwholebytes + 1);
}

// A file grown past the bound after the open judged it is refused as too large by every whole-file
// reader, with the open's line, and not read.
TEST(CoreFsysLoad, AFileGrownAfterItsOpenIsRefusedAtTheRead) {
    TempDir dir;
    std::string const path = dir.file("DOC.XML");
    CorePool pool;
    CoreFsys fs(&pool, CoreAnsx(dir.folder().c_str()), false);
    int const id = fs.crtit("DOC.XML", false);
    std::function<bool()> const readers[] = {
        [&] { return fs.loadc(id, false, CoreButl::iCwholebytes); },
        [&] { return CoreXml_::getas(path.c_str()) != "0"; },
        [&] { return CoreButl::getfc(path.c_str()) != "0"; }};
    LogCapture log;
    for (auto const& read : readers) {
        writeBytes(path, "<P/>");
        growing = path;
        long long const start = bytesRead();
        EXPECT_FALSE(read());
        EXPECT_TRUE(growing.empty());
        EXPECT_EQ(CoreButl::fferr(), EFBIG);
        EXPECT_LT(bytesRead() - start, CoreButl::iCwholebytes);
    }
    EXPECT_EQ(LogCapture::count(log.text(), "DOC.XML: too large (17825792 bytes, larger than 16"),
              3)
        << log.text();
    EXPECT_FALSE(fs.isvld(id));
}

TEST(CoreFsysSave, LooseFilesReadBackIdentically) {
    TempDir dir;
    CorePool pool;
    std::string const raw = randomBytes(3000, 5);
    {
        CoreFsys fs(&pool, CoreAnsx(dir.folder().c_str()), false);
        putItem(fs, "SUB\\DEEP\\K.WAV", raw);
        putItem(fs, "P.XML", "<PROGRAM><NAME> x </NAME></PROGRAM>");
        putItem(fs, "BAD.XML", "</broken>");
        fs.crtit("REGISTERED.ONLY", false);
        fs.savea();
    }
    EXPECT_EQ(readBytes(dir.file("SUB/DEEP/K.WAV")), raw);
    EXPECT_EQ(access(dir.file("REGISTERED.ONLY").c_str(), F_OK), -1);
    // XML items are rewritten with the header lines; their tree is unchanged.
    std::string xml = readBytes(dir.file("P.XML"));
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>", 0), 0u);
    CoreXml_ a, b;
    a.getff(CoreAnsx(dir.file("P.XML").c_str()), false);
    b.getfc("<PROGRAM><NAME> x </NAME></PROGRAM>");
    EXPECT_STREQ(a.settc(false, false).c_str(), b.settc(false, false).c_str());
    // An XML item that does not parse is kept as it was.
    EXPECT_EQ(readBytes(dir.file("BAD.XML")), "</broken>");
    // No temporaries left beside the files.
    EXPECT_EQ(std::system(("test -z \"$(ls -a '" + dir.folder() + "' | grep '~')\"").c_str()), 0);
}

TEST(CoreFsysSave, NamesCannotClimbOutOfTheDataFolder) {
    TempDir dir;
    CorePool pool;
    mkdir(dir.file("data").c_str(), 0755);
    writeBytes(dir.file("VICTIM.TXT"), "user file");
    CoreFsys fs(&pool, CoreAnsx(dir.file("data/").c_str()), false);
    putItem(fs, "..\\VICTIM.TXT", "from an archive");
    putItem(fs, "SUB/../../OUT.WAV", "x");
    putItem(fs, "OK..WAV", "kept");
    fs.savea();
    EXPECT_EQ(readBytes(dir.file("VICTIM.TXT")), "user file");
    EXPECT_EQ(access(dir.file("OUT.WAV").c_str(), F_OK), -1);
    EXPECT_EQ(readBytes(dir.file("data/OK..WAV")), "kept");
}

TEST(CoreFsysData, MemorySeekWithHugeOffsetsIsRefused) {
    CorePool pool;
    CoreFsys fs(&pool);
    int id = putItem(fs, "M", "ABCDE");
    ASSERT_EQ(fs.wseek(id, 3, SEEK_SET), 0);
    EXPECT_EQ(fs.wseek(id, LONG_MAX, SEEK_CUR), -1);
    EXPECT_EQ(fs.wseek(id, LONG_MIN, SEEK_END), -1);
    EXPECT_EQ(fs.wseek(id, LONG_MIN, SEEK_CUR), -1);
    EXPECT_EQ(fs.wtell(id), 3);
}

TEST(CoreFsysLoad, FailedReloadLeavesTheItemOutOfMemory) {
    TempDir dir;
    writeBytes(dir.file("K.BIN"), randomBytes(500, 6));
    CorePool pool;
    CoreFsys fs(&pool, CoreAnsx(dir.folder().c_str()), false);
    int id = putItem(fs, "K.BIN", "old bytes");
    putItem(fs, "OTHER.BIN", randomBytes(100, 7)); // keeps the pool over its cap
    long const live = pool.getma();
    pool.setal(1);
    EXPECT_FALSE(fs.loadc(id, false));
    // The reload began by giving up the old data, so a failure cannot leave
    // stale bytes that look loaded.
    EXPECT_FALSE(fs.isvld(id));
    void* data = nullptr;
    EXPECT_EQ(fs.getco(id, &data), 0);
    EXPECT_EQ(data, nullptr);
    EXPECT_LT(pool.getma(), live);
}

// Data the store refuses leave the item out of memory, said at level 0 with why, and a disk file
// of its name never stands in for them (a reader would take it for the data given) until data
// are taken again.
TEST(CoreFsysLoad, RefusedDataAreNeverReadFromAFileOfTheName) {
    TempDir dir;
    writeBytes(dir.file("IN.WAV"), "another file");
    CorePool pool;
    for (bool const reopened : {false, true}) {
        SCOPED_TRACE(reopened);
        CoreFsys fs(&pool, CoreAnsx(dir.folder().c_str()), reopened);
        int const id = putItem(fs, "IN.WAV", "old bytes");
        LogCapture log;
        CoreLog_::setdb(0, false);
        char const one = 'x'; // refused by the size before a byte is read
        fs.setit(id, &one, CoreFsys::iCitemdim + 1, CoreAnsx(""), true, false);
        EXPECT_TRUE(LogCapture::error(log.text(), "IN.WAV: 2147483628 bytes, more than an item"))
            << log.text();
        char got[16] = {};
        EXPECT_FALSE(fs.isvld(id));
        EXPECT_FALSE(fs.loadc(id, false));
        EXPECT_FALSE(fs.wopen(id, "rb"));
        EXPECT_EQ(fs.wread(id, got, 1, sizeof got), 0);
        fs.setit(id, "new", 3, CoreAnsx(""), true, false);
        EXPECT_EQ(heldItem(fs, id), "new");
        // Data an archive gives take the item back as setit's do: once they
        // are unloaded, the file of its name is read again.
        fs.setit(id, nullptr, 3, CoreAnsx(""), true, false);
        CoreFsys packer(&pool);
        putItem(packer, "IN.WAV", "packed");
        ASSERT_TRUE(packer.savea(CoreAnsx(dir.file("in.v2v").c_str())));
        ASSERT_TRUE(fs.loada(CoreAnsx(dir.file("in.v2v").c_str()), CoreAnsx(0), false, nullptr));
        EXPECT_EQ(heldItem(fs, id), "packed");
        fs.uload(CoreAnsx("WAV"));
        EXPECT_TRUE(fs.loadc(id, false));
        EXPECT_EQ(heldItem(fs, id), "another file");
    }
}
