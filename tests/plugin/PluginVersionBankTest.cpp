// ctest-labels: threads
// Where a version stands, in its session and at the next boot, through the
// built plug-in: a version that joins the bank is read back into the place
// it took and moves no program, however the bank numbers its entries; one
// that does not join says so and leaves the bank file alone. Two processes
// adding versions at once all get in; a bank locked by another holder, or
// a lock file another account made, neither stalls a save nor its close.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
constexpr double kWait = 60.0; // s; boots and loads under the sanitizers
Rows const kSaved{"Saving", "Saving"};
char const* const kNotInBank = "VERSION SAVED, NOT IN BANK";
std::string const kDemo = "Demo Init|Demo Room|Demo Saturator|Demo Sweep|";

struct Rig : PluginRig {
    Rig() { settings({{"GUIRATE", "5000"}, kDiagnosed}); }
    std::string const data = folder() + CoreDemo::sCdatapath;
    std::string const programs = data + CoreDemo::sCprograms;
    std::string const bank = data + CoreDemo::sCsetups + CoreDemo::sCsetup;
    std::string log() const { return readBytes(data + "Vorlan3olvio.log"); }
};

std::string textOf(CorePeer& p, int id, int element = 0) { return p.bus(id, 's', element).text; }
int slotOf(CorePeer& p) { return int(p.bus(67, 'i').number); }

// The names of slots 0 .. n-1 as the lists hold them.
std::string names(CorePeer& p, int n) {
    std::string all;
    for (int k = 0; k < n; ++k) all += textOf(p, 167, k) + "|";
    return all;
}

Rows posted(CorePeer& p, char const* step, std::vector<std::pair<std::string, std::string>> vars) {
    vars.insert(vars.begin(), {{"SAVING", "Saving"}, {"MOVED", "Moved"}, {"DELETED", "Deleted"}});
    vars.emplace_back("NEXTSTEP", step);
    return chain(p, vars, 9);
}
Rows version(CorePeer& p, std::string const& name) {
    return posted(p, "VERSIONING", {{"VERSIONINGNAME", name}});
}

// Booted, and playing the room the demo bank boots into.
bool ready(CorePeer& p) {
    return CorePeer::until(
        [&] {
            CorePrvt::BUSCALL const busy = p.bus(46, 'b');
            return busy.kind != 0 && busy.number == 0.0 && slotOf(p) == CoreDemo::iCroom &&
                   textOf(p, 56) == "Demo Room";
        },
        kWait);
}

// The demo bank, booting the room, with these SEQUENCE values in place of
// its own, then pads entries naming files that are not there (failed
// entries keep their places).
void numberBank(Rig const& rig, std::vector<int> const& sequences, int pads) {
    std::string text = "<SETUP>";
    for (int k = 0; k < CoreDemo::iCprograms + pads; ++k)
        text += "<PROGRAM><SEQUENCE>" +
                std::to_string(k < CoreDemo::iCprograms ? sequences[std::size_t(k)] : k) +
                "</SEQUENCE><FILENAME>" +
                (k < CoreDemo::iCprograms ? CoreDemo::sCprogramfiles[k]
                                          : "PAD" + std::to_string(k) + ".XML") +
                "</FILENAME>" + (k == CoreDemo::iCroom ? "<LOAD>1</LOAD>" : "") + "</PROGRAM>";
    writeBytes(rig.bank, text + "</SETUP>\n");
}

// The bank file's SEQUENCE values and file names, in file order.
std::vector<std::pair<int, std::string>> entriesOf(std::string const& bank) {
    std::regex const entry(
        "<SEQUENCE>\\s*(.*?)\\s*</SEQUENCE>\\s*<FILENAME>\\s*(.*?)\\s*</FILENAME>");
    std::vector<std::pair<int, std::string>> out;
    for (std::sregex_iterator at(bank.begin(), bank.end(), entry), end; at != end; ++at)
        out.emplace_back(std::stoi((*at)[1].str()), (*at)[2].str());
    return out;
}

// The room again as a host chunk restores it, at location and under its own
// file, so that its version's source lies outside bank 0.
bool restoreAt(Rig const& rig, CorePeer& p, int location) {
    void* data = nullptr;
    if (p.host().dispt(PlatVst::opGetChunk, 0, 0, &data) <= 0) return false;
    std::string chunk = static_cast<char const*>(data);
    fs::copy_file(rig.programs + "ROOM.XML", rig.programs + "CHUNKED.xml");
    std::string const at = std::to_string(location);
    for (auto [tag, value, first] : {std::tuple{"NAME", "Chunked", true},
                                     {"SELECTEDPROGRAM", at.c_str(), true},
                                     {"SEQUENCE", at.c_str(), false},
                                     {"ORIGINALFILENAME", "CHUNKED.xml", false}}) {
        std::string const open = std::string("<") + tag + ">";
        std::size_t const from = (first ? chunk.find(open) : chunk.rfind(open)) + open.size();
        chunk.replace(from, chunk.find('<', from) - from, value);
    }
    p.host().dispt(PlatVst::opSetChunk, 0, std::intptr_t(chunk.size() + 1), chunk.data());
    return CorePeer::until([&] { return slotOf(p) == location && textOf(p, 56) == "Chunked"; },
                           kWait);
}

TEST(PluginVersionBankTest, AVersionThatJoinsTheBankComesBackWhereItWasAndMovesNothing) {
    std::string const deleted = "Demo Init|Demo Room|0|Demo Sweep|",
                      moved = "Demo Init|Demo Room|Demo Saturator|0|";
    struct Row {
        char const* what;
        std::vector<int> sequences; // the demo entries' SEQUENCE values, in file order
        int pads;                   // entries after them naming files not there
        // "delete": slot 2 deleted; "move": slot 3 moved to 4; "chunk": the
        // room restored at 150
        std::string before;
        std::string const& session; // slots 0-3 in the session after the version
        int slot;                   // the version's slot in the session
        int boot;                   // its slot after a restart, -1 not in the bank
    } const rows[] = {
        {"demo, slot 2 deleted", {0, 1, 2, 3}, 0, "delete", deleted, 4, 4},
        {"numbered 10 to 40", {10, 20, 30, 40}, 0, "", kDemo, 4, 4},
        {"every SEQUENCE 0", {0, 0, 0, 0}, 0, "", kDemo, 4, 4},
        {"slot 4 taken in the session", {0, 1, 2, 3}, 0, "move", moved, 5, 4},
        {"a bank of 100", {0, 1, 2, 3}, 96, "", kDemo, 100, -1},
        {"a source at 150", {0, 1, 2, 3}, 0, "chunk", kDemo, 151, -1},
    };
    for (Row const& r : rows) {
        SCOPED_TRACE(r.what);
        Rig rig;
        rig.settings({{"GUIRATE", "5000"}, kDiagnosed, {"DL", "1"}}); // level-1 lines logged
        numberBank(rig, r.sequences, r.pads);
        std::string bank;
        bool const joins = r.boot >= 0;
        {
            CorePeer a(rig.path());
            ASSERT_TRUE(ready(a)) << a.dump();
            if (r.before == "delete") {
                EXPECT_EQ(posted(a, "DELETEMEMORYLOC", {{"PROG", "2"}}), (Rows{"Deleted 2"}));
            }
            if (r.before == "move") {
                EXPECT_EQ(
                    posted(a, "OVERWRITEMEMORYLOC", {{"OLDPROGRAM", "3"}, {"NEWPROGRAM", "4"}}),
                    (Rows{"Moved 3"}));
            }
            if (r.before == "chunk") {
                ASSERT_TRUE(restoreAt(rig, a, 150));
            }
            bank = readBytes(rig.bank);
            EXPECT_EQ(version(a, "VERSION"), kSaved);
            EXPECT_EQ(slotOf(a), r.slot);
            EXPECT_EQ(textOf(a, 262), joins ? "" : kNotInBank);
            EXPECT_EQ(names(a, 4), r.session);
            EXPECT_TRUE(fs::exists(rig.programs + "VERSION.xml"));
        }
        // Where the session's slot is not the next boot's, the log says so.
        EXPECT_EQ(rig.log().find("in this session and at slot " + std::to_string(r.boot) +
                                 " after a restart") != std::string::npos,
                  joins && r.boot != r.slot);
        std::vector<std::pair<int, std::string>> const was = entriesOf(bank),
                                                       now = entriesOf(readBytes(rig.bank));
        if (!joins) {
            EXPECT_EQ(readBytes(rig.bank), bank);
        }
        if (joins) {
            ASSERT_EQ(now.size(), was.size() + 1);
            EXPECT_EQ(now.back().second, "VERSION.xml");
        }
        // After a restart, with the saturator cut short: its slot failed, a
        // load of it still falls back to Init, and the version is where the
        // session had it, unless the session's slot was taken.
        std::string const saturator = readBytes(rig.programs + "SATURATOR.XML");
        writeBytes(rig.programs + "SATURATOR.XML", saturator.substr(0, saturator.size() / 2));
        CorePeer b(rig.path());
        ASSERT_TRUE(ready(b)) << b.dump();
        EXPECT_EQ(names(b, 4), "Demo Init|Demo Room|FAILED SATURATOR|Demo Sweep|");
        if (joins) {
            EXPECT_EQ(textOf(b, 167, r.boot), "Demo Room");
        }
        posted(b, "READPROGRAM",
               {{"LOADED", "Loaded"}, {"LOADING", "Loading"}, {"NEWPROGRAM", "2"}});
        EXPECT_EQ(textOf(b, 56), "Demo Init");
    }
}

// Two processes add versions under their own names at once; every one gets
// in, after the demo's programs, each with a SEQUENCE of its own.
TEST(PluginVersionBankTest, TwoProcessesAddingVersionsAtOnceAllGetIn) {
    constexpr int kRounds = 20;
    Rig rig;
    std::string const go = rig.folder() + "go";
    auto run = [&](char side) {
        CorePeer p(rig.path());
        if (!ready(p)) return false;
        writeBytes(rig.folder() + "ready" + side, "");
        if (!CorePeer::until([&] { return fs::exists(go); }, kWait)) return false;
        bool all = true;
        for (int k = 0; k < kRounds; ++k)
            all = version(p, std::string(1, side) + std::to_string(k)) == kSaved &&
                  textOf(p, 262).empty() && all;
        return all;
    };
    pid_t const child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(run('B') ? 0 : 1); // a process of its own, as a second host
    std::thread other([&] {
        CorePeer::until([&] { return fs::exists(rig.folder() + "readyA"); }, kWait);
        CorePeer::until([&] { return fs::exists(rig.folder() + "readyB"); }, kWait);
        writeBytes(go, "");
    });
    EXPECT_TRUE(run('A'));
    other.join();
    int status = 1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::vector<std::pair<int, std::string>> const now = entriesOf(readBytes(rig.bank));
    std::set<int> sequences;
    std::set<std::string> files;
    for (std::size_t k = 0; k < now.size(); ++k) {
        sequences.insert(now[k].first);
        if (k < std::size_t(CoreDemo::iCprograms))
            EXPECT_EQ(now[k].second, CoreDemo::sCprogramfiles[k]);
        else
            files.insert(now[k].second);
    }
    EXPECT_EQ(sequences.size(), now.size()); // no two entries with one SEQUENCE
    EXPECT_EQ(files.size(), std::size_t(2 * kRounds));
    for (char side : {'A', 'B'})
        for (int k = 0; k < kRounds; ++k)
            EXPECT_EQ(files.count(side + std::to_string(k) + ".xml"), 1u) << side << k;
    CorePeer c(rig.path());
    ASSERT_TRUE(ready(c)) << c.dump();
    EXPECT_EQ(names(c, 4), kDemo);
}

// The memory page proposes a version and SAVEAS posts it; the display runs
// the chain.
void saveAs(CorePeer& p, char const* name) {
    p.post(0, 52, 3);
    ASSERT_TRUE(CorePeer::until([&] { return p.titled("  EditMode: Memory"); }, kWait));
    p.post(0, 8, 5);
    for (char k : std::string("X\r")) p.post(1, k);
    ASSERT_TRUE(CorePeer::until([&] { return p.row(9).rfind("NEW:", 0) == 0; }, kWait));
    p.post(0, 10, 9);
    for (char const* k = name; *k != '\0'; ++k) p.post(1, *k);
    p.post(1, '\r');
    ASSERT_TRUE(CorePeer::until([&] { return p.row(9).find(name) != std::string::npos; }, kWait));
    p.post(0, 52, 9);
}

// Whether a program file whose name holds part is in folder.
bool fileWith(std::string const& folder, std::string const& part) {
    for (auto const& e : fs::directory_iterator(folder))
        if (e.path().filename().string().find(part) != std::string::npos) return true;
    return false;
}

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The bank's lock held by another holder past the check: the version keeps
// its file and says it is not in the bank within the wait, and a close
// begun while a second one waits does not wait it out.
TEST(PluginVersionBankTest, ALockedBankNeitherStallsTheSaveNorTheClose) {
    Rig rig;
    std::string const bank = readBytes(rig.bank);
    auto p = std::make_unique<CorePeer>(rig.path());
    ASSERT_TRUE(ready(*p)) << p->dump();
    ASSERT_TRUE(CorePeer::until([&] { return p->titled("  ProgMode"); }, kWait)) << p->dump();
    int const holder = ::open((rig.bank + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    Clock::time_point const locked = Clock::now();
    std::remove((rig.data + "Vorlan3olvio.log").c_str());

    Clock::time_point const posted = Clock::now();
    saveAs(*p, "HELD1");
    EXPECT_TRUE(CorePeer::until(
        [&] { return p->titled("  ProgMode") && p->row(7).rfind(kNotInBank, 0) == 0; }, 30.0))
        << p->dump();
    EXPECT_LT(since(posted), 6.0);
    EXPECT_TRUE(fileWith(rig.programs, "HELD1"));
    std::string const log = rig.log();
    std::size_t const at = log.find("***ERROR***> not saved: ");
    EXPECT_NE(at, std::string::npos) << log;
    EXPECT_NE(log.find("stayed locked", at), std::string::npos) << log;

    saveAs(*p, "HELD2");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    Clock::time_point const closed = Clock::now();
    p.reset();
    EXPECT_LT(since(closed), 6.0);
    std::this_thread::sleep_for(std::chrono::duration<double>(std::max(0.0, 7.0 - since(locked))));
    ::close(holder);
    EXPECT_EQ(readBytes(rig.bank), bank);
}

// A lock file another account made under its umask opens read-only for
// this one, and the lock is had on that: the version joins the bank.
TEST(PluginVersionBankTest, AnotherAccountsLockFileLetsAVersionIn) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs the super-user to make another account's file";
    Rig rig;
    std::string const lock = rig.bank + ".lock";
    writeBytes(lock, "");
    ASSERT_EQ(::chown(lock.c_str(), 1, 1), 0);
    ASSERT_EQ(::chmod(lock.c_str(), 0644), 0);
    fs::permissions(rig.folder(), fs::perms::all);
    for (auto const& e : fs::recursive_directory_iterator(rig.folder()))
        if (e.path() != lock)
            fs::permissions(e.path(), e.is_directory()
                                          ? fs::perms::all
                                          : fs::perms::owner_read | fs::perms::owner_write |
                                                fs::perms::group_read | fs::perms::group_write |
                                                fs::perms::others_read | fs::perms::others_write);
    Rows rows;
    std::string shown = "not run";
    // The instance and every thread it starts run as nobody: the raw calls
    // change this thread's credentials only, and threads inherit them.
    std::thread nobody([&] {
        if (::syscall(SYS_setresgid, 65534, 65534, 65534) != 0 ||
            ::syscall(SYS_setresuid, 65534, 65534, 65534) != 0)
            return;
        CorePeer p(rig.path());
        if (!ready(p)) return;
        rows = version(p, "OTHER");
        shown = textOf(p, 262);
    });
    nobody.join();
    EXPECT_EQ(rows, kSaved);
    EXPECT_EQ(shown, "");
    std::vector<std::pair<int, std::string>> const now = entriesOf(readBytes(rig.bank));
    ASSERT_FALSE(now.empty());
    EXPECT_EQ(now.back().second, "OTHER.xml");
}

} // namespace
