// ctest-labels: threads
// Versions and file names through the built plug-in: a version that joins the bank comes back where
// it was and moves no program, however the bank numbers its entries or whoever made its lock file,
// and one that does not join says so and leaves the bank alone; names are measured as the files
// they make, and a refused write or step never answers as done; a bank locked by another holder
// stalls neither a save, nor the program playing meanwhile, nor a close; a lock that is no plain
// file fails at once; a bank reached through a link is locked beside the file written; a bank or a
// name of the wrong kind is neither waited on nor replaced. Two processes adding versions at once
// all get in.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "tests/plugin/PluginRig.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

// A full disk shows at the sync of the whole file (stdio's own write cannot be caught).
static std::atomic<int> fsyncError{0}; // the error the plug-in's fsync fails with; 0 the real call
extern "C" int fsync(int fd) {
    if (int const e = fsyncError.load()) return errno = e, -1;
    static auto const next = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return next(fd);
}

namespace {

namespace fs = std::filesystem;

using Rows = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
constexpr double kWait = 60.0; // s; boots and loads under the sanitizers

struct Rig : PluginRig {
    Rig() { settings({{"GUIRATE", "5000"}, kDiagnosed, {"DL", "1"}}); } // level-1 lines logged
    std::string const data = folder() + CoreDemo::sCdatapath;
    std::string const programs = data + CoreDemo::sCprograms;
    std::string const bank = data + CoreDemo::sCsetups + CoreDemo::sCsetup;
    std::string const log = data + "Vorlan3olvio.log";
};

// The names of slots 0-3 as the lists hold them.
std::string names(CorePeer& p) {
    std::string all;
    for (int k = 0; k < 4; ++k) all += textOf(p, 167, k) + "|";
    return all;
}

// From program mode, the memory page's SAVEAS of the version a rename proposes.
void saveAs(CorePeer& p) {
    ASSERT_TRUE(CorePeer::until([&] { return p.titled("  ProgMode"); }, kWait)) << p.dump();
    p.post(0, 52, 3);
    ASSERT_TRUE(CorePeer::until([&] { return p.titled("  EditMode: Memory"); }, kWait));
    p.post(0, 8, 5);
    for (char k : std::string("X\r")) p.post(1, k);
    ASSERT_TRUE(CorePeer::until([&] { return p.row(9).rfind("NEW:", 0) == 0; }, kWait));
    p.post(0, 52, 9);
}

// Names outside their folder, or past 230 bytes with their extension, are
// refused with their line and write nothing; a refused step never answers as
// done.
void refuseNames(Rig const& rig, CorePeer& a) {
    // VERSIONING, SAVEAS, READSETUP (of LIBRARY) or 87 (a bus write); its name; its
    // lines, each ended by '|' (for 87 "1|" taken, "0|" refused); the level-0
    // line it logs ("" none).
    std::array<std::string, 4> const rows[] = {
        {"VERSIONING", std::string(227, 'W'), "Saving|SAVE FAILED|",
         "version name (VERSIONINGNAME): file name refused"},
        {"VERSIONING", "../x", "Saving|SAVE FAILED|", "file name refused: \"../x\""},
        {"READSETUP", "../x.xml", "Cleared|LOAD FAILED ../x.xml|Loaded Demo Room|",
         "batch LIBRARY (bank file): file name refused"},
        {"READSETUP", "NONE.XML", "Cleared|LOAD FAILED NONE.XML|Loaded Demo Room|", "NONE.XML"},
        {"READSETUP", CoreDemo::sCsetup, "Cleared|Loaded DEMO.XML|Loaded Demo Room|", ""},
        {"87", std::string(227, 'N'), "0|", "bean 87 (program file name): file name refused"},
        {"87", "../x.xml", "0|", "file name refused: \"../x.xml\""},
        {"87", std::string(226, 'F'), "1|", ""},
        // The program's file has 230 bytes now: no room for the "_01" proposed.
        {"SAVEAS", "", "VERSION NOT SAVED: NAME NOT USABLE|", "memory page: version name refused"},
    };
    for (auto const& [step, value, lines, line] : rows) {
        SCOPED_TRACE(step + " " + value);
        auto const files = std::distance(fs::directory_iterator(rig.programs), {});
        std::string const file = textOf(a, 87, slotOf(a));
        fs::remove(rig.log);
        Rows got{lines.substr(0, lines.find('|'))}; // what the page shows after SAVEAS
        if (step == "VERSIONING") got = version(a, value);
        if (step == "READSETUP")
            got = posted(a, "READSETUP",
                         {{"BANKCLEARED", "Cleared"}, {"BANK", "1"}, {"LIBRARY", value}});
        if (step == "87") got = {writeText(a, 87, value) ? "1" : "0"};
        if (step == "SAVEAS") saveAs(a);
        auto const shown = [&] { return a.dump().find(got[0]) != std::string::npos; };
        if (step == "SAVEAS" && !CorePeer::until(shown, kWait)) got = {a.dump()};
        std::string said;
        for (std::string const& l : got) said += l + "|";
        EXPECT_EQ(said, lines);
        // Taken, the location's file is the name with its extension; refused, it stays.
        EXPECT_TRUE(step != "87" ||
                    textOf(a, 87, slotOf(a)) == (said == "1|" ? value + ".xml" : file));
        std::string const logged = readBytes(rig.log), error = "***ERROR***>";
        EXPECT_EQ(logged.find(line.empty() ? error : line, logged.find(error)) != logged.npos,
                  !line.empty())
            << logged;
        EXPECT_EQ(std::distance(fs::directory_iterator(rig.programs), {}), files);
    }
}

// A sine played in real time through the instance by a host that says so, 256 frames a call, until
// stop, each call in played and its output in out (a stream a channel); a program change to slot
// change (-1 none) half a second in. When it began.
Clock::time_point playSine(CoreHost& h, std::atomic<bool> const& stop, Played& played,
                           std::vector<std::vector<float>>& out, int change = -1) {
    constexpr std::size_t kBlock = 256, kRate = 44100;
    float frames[4][kBlock] = {},
          *io[4] = {frames[0], frames[1], frames[2], frames[3]}; // ins, outs
    auto const start = Clock::now();
    h.setlv(PlatVst::levelRealtime);
    for (std::size_t n = 0; !stop.load(); n += kBlock) {
        for (std::size_t k = 0; k < kBlock; ++k)
            for (int c = 0; c < 2; ++c) io[c][k] = float(std::sin(0.06 * double(n + k) + c));
        std::this_thread::sleep_until(start + std::chrono::microseconds(n * 1000000 / kRate));
        if (change >= 0 && n == kRate / 2 / kBlock * kBlock) h.slot_(change);
        played.call(kBlock, io + 2, [&] {
            h.getef()->processReplacing(h.getef(), io, io + 2, std::int32_t(kBlock));
        });
        for (int c = 0; c < 2; ++c)
            out[std::size_t(c)].insert(out[std::size_t(c)].end(), io[2 + c], io[2 + c] + kBlock);
    }
    return start;
}

// Of what played heard, the longest run of frames exactly 0 on both channels, as a device plays
// the calls' output from start on: each call's when it returned or when the one before has played,
// whichever is later, a gap between counting as silence. A host that fell behind catches up
// without a gap of its own; the time a dropped call took goes unheard.
std::size_t longestSilence(Played const& played, std::vector<std::vector<float>> const& out,
                           Clock::time_point start, std::vector<bool> const& cut) {
    constexpr double kRate = 44100;
    std::size_t run = 0, longest = 0;
    double until = 0; // s from start: the device has played up to here
    for (std::size_t i = 0; i < played.all().size(); ++i) {
        Played::CALL const& call = played.all()[i];
        double const back = std::chrono::duration<double>(call.ended - start).count();
        if (i == 0) until = double(call.first + call.frames) / kRate; // when it is due
        if (cut[i]) {
            until = std::max(until, back);
            continue;
        }
        longest = std::max(longest, run += std::size_t(std::max(back - until, 0.0) * kRate));
        until = std::max(until, back) + double(call.frames) / kRate;
        for (std::size_t k = call.first; k < call.first + call.frames; ++k)
            longest = std::max(longest, run = out[0][k] == 0.0f && out[1][k] == 0.0f ? run + 1 : 0);
    }
    return longest;
}

TEST(PluginVersionBankTest, VersionsStayWhereTheyWereAndNamesAreMeasuredAsFiles) {
    using std::chrono::seconds;
    Rig rig;
    std::string const saturator = readBytes(rig.programs + "SATURATOR.XML");
    struct Place {
        // The demo entries' SEQUENCE values first + k * step, then pads entries naming files that
        // are not there (failed, they keep their places); the version's slot in the session, and
        // after a restart (-1 not in the bank); first slot 2 'd'eleted, 3 'm'oved to 4, the room
        // 'c'hunked at 150, the bank's lock 'h'eld (a 'p'rogram change in the wait: the sweep's
        // slot), another account's ('o') or a 'f'ifo, or the bank a link to a file elsewhere whose
        // lock is held ('l') or free ('L'); slots 0-3 in the session after the version.
        std::string what;
        int first, step, pads, slot, boot, before = 0;
        std::string session = "Demo Init|Demo Room|Demo Saturator|Demo Sweep|";
    } const places[] = {
        {"demo, slot 2 deleted", 0, 1, 0, 4, 4, 'd', "Demo Init|Demo Room|0|Demo Sweep|"},
        {"numbered 10 to 40", 10, 10, 0, 4, 4},
        {"every SEQUENCE 0", 0, 0, 0, 4, 4},
        {"slot 4 taken", 0, 1, 0, 5, 4, 'm', "Demo Init|Demo Room|Demo Saturator|0|"},
        {"a bank of 100", 0, 1, 96, 100, -1},
        {"a source at 150", 0, 1, 0, 151, -1, 'c'},
        {"the bank's lock held", 0, 1, 0, 4, -1, 'h'},
        {"a program change while the lock is held", 0, 1, 0, CoreDemo::iCsweep, -1, 'p'},
        {"another account's lock file", 0, 1, 0, 4, 4, 'o'}, // read-only here, yet locked
        {"a FIFO as the bank's lock", 0, 1, 0, 4, -1, 'f'},
        {"through a link, its file's lock held", 0, 1, 0, 4, -1, 'l'},
        {"through a link, its file's lock free", 0, 1, 0, 4, 4, 'L'},
    };
    for (Place const& r : places) {
        SCOPED_TRACE(r.what);
        bool const joins = r.boot >= 0, other = r.before == 'o', fifo = r.before == 'f',
                   held = r.before == 'h' || r.before == 'l' || r.before == 'p',
                   linked = r.before == 'l' || r.before == 'L';
        if (other && ::geteuid() != 0) continue; // another account's file needs the super-user
        // The first one's name has 226 bytes: with the extension, the most a file name may have.
        std::string const name = &r == places ? std::string(226, 'V')
                                              : "V" + std::to_string(&r - places),
                          file = name + ".xml",
                          target = linked ? rig.folder() + CoreDemo::sCsetup : rig.bank,
                          lock = target + ".lock";
        writeBytes(rig.programs + "SATURATOR.XML", saturator);
        if (linked && !fs::is_symlink(rig.bank)) {
            fs::rename(rig.bank, target);
            fs::create_symlink(target, rig.bank);
        }
        if (linked || fifo) fs::remove(rig.bank + ".lock");
        ASSERT_TRUE(!fifo || ::mkfifo(lock.c_str(), 0444) == 0);
        // The demo bank, booting the room, numbered as the row says; pads go on numbering.
        std::string bank = "<SETUP>";
        for (int k = 0; k < CoreDemo::iCprograms + r.pads; ++k)
            bank += "<PROGRAM><SEQUENCE>" + std::to_string(r.first + k * r.step) +
                    "</SEQUENCE><FILENAME>" +
                    (k < CoreDemo::iCprograms ? CoreDemo::sCprogramfiles[k]
                                              : "PAD" + std::to_string(k) + ".XML") +
                    "</FILENAME>" + (k == CoreDemo::iCroom ? "<LOAD>1</LOAD>" : "") + "</PROGRAM>";
        writeBytes(rig.bank, bank += "</SETUP>\n");
        fs::remove(rig.log);
        // For the other account, nobody owns the installation but for the lock
        // file earlier rows made, which is another account's, 0644.
        for (auto const& e : fs::recursive_directory_iterator(rig.folder()))
            ASSERT_TRUE(!other ||
                        ::lchown(e.path().c_str(), e.path() == lock ? 1 : 65534, 65534) == 0);
        ASSERT_TRUE(!other || (::chown(rig.folder().c_str(), 65534, 65534) |
                               ::chmod(lock.c_str(), 0644)) == 0);
        // Held past the wait by the test, through its own open of the lock file.
        int const holder = held ? ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644) : -1;
        ASSERT_TRUE(holder < 0 || ::flock(holder, LOCK_EX) == 0);
        Clock::time_point closed, begun;
        Played played(rig, 44100);
        std::vector<std::vector<float>> out(2);
        // Nobody runs the instance and every thread it starts: the raw calls
        // change this thread's credentials only.
        std::thread([&] {
            ASSERT_FALSE(other && (::syscall(SYS_setresgid, 65534, 65534, 65534) != 0 ||
                                   ::syscall(SYS_setresuid, 65534, 65534, 65534) != 0));
            CorePeer a(rig.path());
            ASSERT_TRUE(ready(a)) << a.dump();
            if (r.before == 'd') posted(a, "DELETEMEMORYLOC", {{"PROG", "2"}});
            if (r.before == 'm')
                posted(a, "OVERWRITEMEMORYLOC", {{"OLDPROGRAM", "3"}, {"NEWPROGRAM", "4"}});
            ASSERT_TRUE(r.before != 'c' || restoreAt(a, rig.programs, 150));
            // While the lock is waited for, the room plays a sine.
            std::atomic<bool> stop{false};
            std::thread player;
            int const change = r.before == 'p' ? CoreDemo::iCsweep : -1;
            if (held)
                player =
                    std::thread([&] { begun = playSine(a.host(), stop, played, out, change); });
            Clock::time_point const saving = Clock::now();
            EXPECT_EQ(version(a, name), (Rows{"Saving", "Saving"}));
            Clock::duration const took = Clock::now() - saving;
            stop.store(true);
            if (player.joinable()) player.join();
            // A held lock is tried for 5 s (with room for a loaded machine); a FIFO fails at once.
            EXPECT_TRUE(!held || (took >= seconds(5) && took < seconds(30)));
            EXPECT_TRUE(!fifo || took < seconds(6));
            // The change plays once the version's batch is over, and the page keeps its line.
            EXPECT_TRUE(change < 0 || playing(a, change, "Demo Sweep"));
            EXPECT_EQ(slotOf(a), r.slot);
            EXPECT_EQ(textOf(a, 262), joins ? "" : "VERSION SAVED, NOT IN BANK");
            EXPECT_EQ(names(a), r.session);
            EXPECT_TRUE(fs::exists(rig.programs + file));
            if (&r == places) refuseNames(rig, a);
            // A close begun while a second version waits for the lock does not wait it out: the
            // wait begins once the version's file is written.
            if (!held && !fifo) return;
            auto const files = std::distance(fs::directory_iterator(rig.programs), {});
            saveAs(a);
            EXPECT_TRUE(CorePeer::until(
                [&] { return std::distance(fs::directory_iterator(rig.programs), {}) > files; },
                kWait));
            closed = Clock::now();
        }).join();
        // A close that waited for the lock would take the rest of its 5 s.
        EXPECT_TRUE((!held && !fifo) || Clock::now() - closed < seconds(2));
        // Only the version's own write muted what was heard, and it never took half the wait.
        EXPECT_TRUE(!held || played.holds(played.counted(), [&](auto const& cut) {
            std::size_t const silent = longestSilence(played, out, begun, cut);
            return silent < 44100u * 5 / 2 ? "" : "longest silence " + std::to_string(silent);
        }));
        ::close(holder);
        std::string const log = readBytes(rig.log);
        std::size_t const line = log.find("***ERROR***> version " + file + " saved, not added");
        EXPECT_EQ(line != log.npos, !joins) << log;
        EXPECT_EQ(log.find(held ? "bank locked for 5 s" : "lock file is a FIFO", line) != log.npos,
                  held || fifo)
            << log;
        // Where the session's slot is not the next boot's, the log says so.
        EXPECT_EQ(log.find("at slot " + std::to_string(r.boot) + " after a restart") != log.npos,
                  joins && r.boot != r.slot);
        // A joining version's entry comes last, its SEQUENCE one more than the largest.
        Rows const entry{std::to_string(r.first + 3 * r.step + 1) + "|" + file + "|"};
        EXPECT_EQ(entries(readBytes(rig.bank)), entries(bank, joins ? entry : Rows{}));
        EXPECT_EQ(readBytes(rig.bank) == bank, !joins);
        // A bank through a link stays one, locked beside the file written only.
        EXPECT_TRUE(!linked || (fs::is_symlink(rig.bank) && fs::is_regular_file(lock) &&
                                !fs::exists(rig.bank + ".lock")));
        // After a restart, with the saturator cut short: its slot failed, a
        // load of it still falls back to Init, and the version is where the
        // session had it, unless the session's slot was taken.
        writeBytes(rig.programs + "SATURATOR.XML", saturator.substr(0, saturator.size() / 2));
        CorePeer b(rig.path());
        ASSERT_TRUE(ready(b)) << b.dump();
        EXPECT_EQ(names(b), "Demo Init|Demo Room|FAILED SATURATOR|Demo Sweep|");
        EXPECT_EQ(textOf(b, 167, joins ? r.boot : CoreDemo::iCroom), "Demo Room");
        if (joins) { // and it loads there
            posted(b, "READPROGRAM", {{"NEWPROGRAM", std::to_string(r.boot)}});
            EXPECT_EQ(slotOf(b), r.boot);
            EXPECT_EQ(textOf(b, 56), "Demo Room");
        }
        posted(b, "READPROGRAM", {{"NEWPROGRAM", "2"}});
        EXPECT_EQ(textOf(b, 56), "Demo Init");
    }
}

// With the log a FIFO the instance boots and plays; the bank swapped for a FIFO after the boot and
// a FIFO at the proposed name: the version takes the next name, out of the bank, the bank save
// fails, and each FIFO stays. A wait on one ends the test by the alarm rather than hanging it.
TEST(PluginVersionBankTest, FilesOfTheWrongKindAreNeitherWaitedOnNorReplaced) {
    Rig rig;
    std::string const taken = rig.programs + "ROOM_01.XML";
    ASSERT_EQ(::mkfifo(rig.log.c_str(), 0644), 0);
    ::alarm(120);
    {
        CorePeer a(rig.path());
        ASSERT_TRUE(ready(a)) << a.dump();
        fs::remove(rig.bank);
        ASSERT_TRUE(::mkfifo(rig.bank.c_str(), 0644) == 0 && ::mkfifo(taken.c_str(), 0644) == 0);
        EXPECT_EQ(textOf(a, 76), "ROOM_02");
        EXPECT_EQ(version(a, "ROOM_02"), (Rows{"Saving", "Saving"}));
        EXPECT_EQ(textOf(a, 262), "VERSION SAVED, NOT IN BANK");
        EXPECT_EQ(posted(a, "SAVEBANK", {{"LIBRARY", CoreDemo::sCsetup}, {"BANK", "0"}}).back(),
                  std::string("SAVE FAILED ") + CoreDemo::sCsetup);
    }
    ::alarm(0);
    for (std::string const& f : {rig.bank, taken, rig.log})
        EXPECT_EQ(fs::status(f).type(), fs::file_type::fifo) << f;
}

// A bus bank save of bank 0 keeps the room booting unless its slot was deleted or a read into bank
// 0 marked none (then a line says so); with the bank's lock held, it gives up and says why.
// A changed slot drops the mark too, a failed boot program keeps it; each failure keeps the file.
TEST(PluginVersionBankTest, BankSaveKeepsWhatBootsUnderTheBanksLock) {
    Rig rig;
    writeBank(rig.data, {});
    std::string const bank = readBytes(rig.bank),
                      error = "***ERROR***> not saved: ", room = rig.programs + "ROOM.XML",
                      roomBytes = readBytes(room), lock = rig.bank + ".lock";
    writeBytes(rig.data + CoreDemo::sCsetups + "NOLOAD.XML",
               std::string(bank).erase(bank.find("<LOAD>"), 14));
    // Before the save: slot 1 'e'mptied or 'm'oved onto, NOLOAD 'r'ead, ROOM.XML 'c'ut before the
    // boot, the lock 'h'eld; after the boot the bank (upper case) or lock (lower) a 'F'IFO, 'D'ir,
    // 'L'ink or de'V'ice; the si'z'e or 's'pace out. Then DL, bank, 262 and the line ("" none).
    std::tuple<char, int, int, std::string, std::string> const rows[] = {
        {'-', 1, 0, "", ""},
        {'e', 0, 0, "BANK SAVED, NO BOOT: SLOT EMPTY",
         "DEMO.XML saved with no program to boot: the boot location 1 holds no program"},
        {'e', 0, 1, "", ""},
        {'m', 0, 0, "BANK SAVED, NO BOOT: SLOT CHANGED",
         "the boot location 1 no longer holds ROOM.XML"},
        {'r', 1, 0, "", "DEMO.XML saved with no program to boot: no boot location"},
        {'r', 0, 0, "", ""},
        {'c', 0, 0, "", ""},
        {'h', 1, 0, "BANK NOT SAVED: BANK LOCKED FOR 5 S", "/DEMO.XML: bank locked for 5 s"},
        {'F', 1, 0, "BANK NOT SAVED: NOT A PLAIN FILE", "bank not written: not a plain file"},
        {'V', 1, 0, "BANK NOT SAVED: NOT A PLAIN FILE", "bank not written: not a plain file"},
        {'D', 1, 0, "BANK NOT SAVED: IS A FOLDER", "bank not written: Is a directory"},
        {'L', 1, 0, "BANK NOT SAVED: LINK LOOP", "its links lead round in a loop"},
        {'f', 1, 0, "BANK NOT SAVED: LOCK NOT A FILE", "its lock file is a FIFO, not a plain file"},
        {'d', 1, 0, "BANK NOT SAVED: LOCK NOT A FILE",
         "its lock file is a folder, not a plain file"},
        {'l', 1, 0, "BANK NOT SAVED: LOCK NOT A FILE", "its lock file is a symbolic link"},
        {'z', 0, 0, "BANK NOT SAVED: FILE TOO LARGE", "bank not written: File too large"},
        {'s', 1, 0, "BANK NOT SAVED: DISK FULL", "bank not written: No space left on device"},
    };
    std::string const probe = rig.folder() + "device"; // needs root and a system letting it
    bool const devices =
        ::mknod(probe.c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0 && fs::remove(probe);
    rlimit unlimited{};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    ::signal(SIGXFSZ, SIG_IGN); // the write past the limit fails rather than ends the process
    for (auto const& [before, level, n, shown, line] : rows) {
        SCOPED_TRACE(std::string(1, before) + std::to_string(level));
        if (before == 'V' && !devices) continue;
        bool const failing = shown.rfind("BANK NOT SAVED", 0) == 0,
                   unmarked = before == 'r' || (n == 0 && !shown.empty() && !failing),
                   kind = std::string("FDLVfdl").find(before) != std::string::npos;
        char const made = char(std::toupper(before)); // the kind made there
        std::string const at = std::isupper(before) ? rig.bank : lock;
        ASSERT_TRUE(rig.settings({{"GUIRATE", "5000"}, kDiagnosed, {"DL", std::to_string(level)}}));
        fs::remove_all(rig.bank), fs::remove_all(lock);
        writeBytes(rig.bank, bank);
        if (before == 'c') writeBytes(room, roomBytes.substr(0, roomBytes.size() / 2));
        int const holder =
            before == 'h' ? ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644) : -1;
        ASSERT_TRUE(holder < 0 || ::flock(holder, LOCK_EX) == 0);
        ::alarm(120); // a wait on a FIFO ends the test
        fs::file_type type{};
        {
            CorePeer a(rig.path());
            ASSERT_TRUE(before == 'c' ? playing(a, 0, "Demo Init") : ready(a)) << a.dump();
            writeBytes(room, roomBytes);
            if (before == 'e') posted(a, "DELETEMEMORYLOC", {{"PROG", "1"}});
            if (before == 'm')
                posted(a, "OVERWRITEMEMORYLOC", {{"OLDPROGRAM", "3"}, {"NEWPROGRAM", "1"}});
            if (before == 'r') posted(a, "READSETUP", {{"BANK", "0"}, {"LIBRARY", "NOLOAD.XML"}});
            if (kind && at == rig.bank) fs::remove(at);
            ASSERT_TRUE(made != 'F' || ::mkfifo(at.c_str(), 0644) == 0);
            ASSERT_TRUE(made != 'V' || ::mknod(at.c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0);
            if (made == 'D') fs::create_directory(at);
            if (made == 'L')
                fs::create_symlink(at == lock ? rig.folder() + "elsewhere" : CoreDemo::sCsetup, at);
            type = fs::symlink_status(at).type();
            fs::remove(rig.log); // the size limit binds the log too: it lies between line and bank
            rlimit const limited{before == 'z' ? 200 : unlimited.rlim_cur, unlimited.rlim_max};
            ::setrlimit(RLIMIT_FSIZE, &limited), fsyncError = before == 's' ? ENOSPC : 0;
            posted(a, "SAVEBANK",
                   {{"BANK", std::to_string(n)},
                    {"LIBRARY", n == 0 ? CoreDemo::sCsetup : "BANK1.XML"}});
            fsyncError = 0, ::setrlimit(RLIMIT_FSIZE, &unlimited);
            EXPECT_EQ(textOf(a, 262), shown);
        }
        ::alarm(0), ::close(holder);
        std::string const log = readBytes(rig.log);
        EXPECT_EQ(log.find(line.empty() ? "to boot" : line) != log.npos, !line.empty()) << log;
        EXPECT_EQ(log.find(error), failing ? log.rfind(error) : log.npos) << log; // one line
        EXPECT_TRUE(kind ? fs::symlink_status(at).type() == type
                         : !failing || readBytes(rig.bank) == bank);
        EXPECT_TRUE(unmarked || failing || n != 0 || entries(readBytes(rig.bank)) == entries(bank));
        if (failing) fs::remove_all(rig.bank), writeBytes(rig.bank, bank);
        CorePeer b(rig.path());
        EXPECT_TRUE(unmarked ? playing(b, 0, "Demo Init") : ready(b));
    }
}

// Under a file-size limit of half the bank, with SIGXFSZ at its default action, a bank save fails
// and says why, and the log, filled to 9 bytes below the limit, takes no line more: nothing ends
// the process, the bank stays as it was and no temporary is left beside it.
TEST(PluginVersionBankTest, AFileSizeLimitEndsNothing) {
    Rig rig;
    std::string const bank = readBytes(rig.bank),
                      full = std::string(bank.size() / 2 - 10, '.') + "\n";
    EXPECT_TRUE(underFileSizeLimit([&] {
        CorePeer a(rig.path());
        rlimit was{};
        if (!ready(a) || ::getrlimit(RLIMIT_FSIZE, &was) != 0) return false;
        writeBytes(rig.log, full);
        rlimit const half{bank.size() / 2, was.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &half);
        posted(a, "SAVEBANK", {{"LIBRARY", CoreDemo::sCsetup}, {"BANK", "0"}});
        EXPECT_EQ(textOf(a, 262), "BANK NOT SAVED: FILE TOO LARGE");
        EXPECT_EQ(readBytes(rig.log), full);
        // Raised back while the plug-in is loaded: a coverage build's plug-in
        // writes its counts as it is unloaded, past any small limit.
        ::setrlimit(RLIMIT_FSIZE, &was);
        return !::testing::Test::HasFailure();
    }));
    EXPECT_EQ(readBytes(rig.bank), bank);
    for (auto const& entry : fs::directory_iterator(rig.data + CoreDemo::sCsetups))
        EXPECT_EQ(entry.path().string().find(".~"), std::string::npos) << entry.path();
}

// Two processes add versions under their own names at once; every one gets
// in after the demo's programs, each SEQUENCE its place in the file.
TEST(PluginVersionBankTest, TwoProcessesAddingVersionsAtOnceAllGetIn) {
    constexpr int kRounds = 20;
    Rig rig;
    Rows const demo = entries(readBytes(rig.bank));
    auto run = [&](char side) { // boots, then adds its versions once both sides have booted
        CorePeer p(rig.path());
        std::string const f = rig.folder();
        if (!ready(p)) return false;
        writeBytes(f + side, "");
        bool all =
            CorePeer::until([&] { return fs::exists(f + "A") && fs::exists(f + "B"); }, kWait);
        for (int k = 0; k < kRounds; ++k)
            all = version(p, side + std::to_string(k)) == Rows{"Saving", "Saving"} &&
                  textOf(p, 262).empty() && all;
        return all;
    };
    pid_t const child = ::fork();
    if (child == 0) _exit(run('B') ? 0 : 1); // a process of its own, as a second host
    EXPECT_TRUE(run('A'));
    int status = 1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    Rows got = entries(readBytes(rig.bank)), want = demo;
    for (int k = 0; k < 2 * kRounds; ++k)
        want.push_back(std::string(1, "AB"[k % 2]) + std::to_string(k / 2) + ".xml|");
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
        // SEQUENCE k: none shared, and the bank reader keeps the file's order.
        EXPECT_EQ(got[k].substr(0, got[k].find('|')), std::to_string(k));
        if (k >= demo.size()) got[k].erase(0, got[k].find('|') + 1);
    }
    EXPECT_TRUE(std::equal(demo.begin(), demo.end(), got.begin()) &&
                std::is_permutation(got.begin() + long(demo.size()), got.end(),
                                    want.begin() + long(demo.size())));
}

} // namespace
