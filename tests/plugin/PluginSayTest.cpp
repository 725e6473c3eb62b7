// ctest-labels: threads
// What the built plug-in says when a load falls back to location 0 or a
// save fails: the slot it names as playing, the fallback's report on the
// bus, the display's error line and the lists' mark, the chunk a host
// gets, and the command-line host's refusal; then, the file repaired, the
// program plays as on an intact installation. Saves that fail (also for
// root) show their line on the page returned to until the next click.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <sys/wait.h>

#include "plugin/CorePrvt.h"
#include "runtime/CoreBnid.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/CommaLocale.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace fs = std::filesystem;

namespace {

using V = PlatVst;
using B = CoreBnid;
constexpr double kWait = 60.0;
constexpr int kMenuRow = 13;
constexpr auto npos = std::string::npos;

class PluginSayTest : public PluginRigTest {
protected:
    static void install() {
        fs::remove_all(data(""));
        ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(rig->folder().c_str()), CoreAnsx("vorlan.so")));
        ASSERT_TRUE(rig->settings({{"GUIRATE", "5000"}, kDiagnosed}));
    }
    static std::string data(std::string f) { return rig->folder() + CoreDemo::sCdatapath + f; }
    static bool page(CorePeer& p, char const* t) {
        return CorePeer::until([&] { return p.titled(t); }, kWait);
    }
    static std::string chunk(CoreHost& h) {
        void* bytes = nullptr;
        std::intptr_t const n = h.dispt(V::opGetChunk, 0, 0, &bytes);
        return n > 0 ? std::string(static_cast<char const*>(bytes), std::size_t(n - 1)) : "";
    }
    static int slotAnswer(CoreHost& h) {
        CorePrvt::CALL c{.kind = CorePrvt::iCslot};
        return int(h.dispt(V::opVendorSpecific, CorePrvt::iCtag, 0, &c));
    }
    // From the program page to the list page's ALL view, over Init, once
    // the load of Init has reported its end (no other report outstanding).
    static bool listAll(CorePeer& p) {
        if (!page(p, "  ProgMode")) return false;
        int const seen = p.host().updts();
        p.post(4, 0);
        if (!p.host().wtupd(seen, kWait) || !page(p, "  ListMode")) return false;
        p.post(0, 52, 0);
        return true;
    }
};

// The error line's 36 columns hold just this line, cut on a whole word.
bool says(CorePeer& p, int row, std::string const& line) {
    return p.row(row).substr(0, 36) == line + std::string(36 - line.size(), ' ');
}

// The process in German, as a host following the user's language sets it,
// where the system has German messages; else why not.
CommaLocale german() {
    CommaLocale language = commaLocale();
    char const* const messages = std::setlocale(LC_MESSAGES, nullptr);
    if (language.why.empty() && (std::strncmp(messages, "de", 2) != 0 ||
                                 std::string(std::strerror(EISDIR)) == "Is a directory"))
        language.why = std::string("no German system messages under ") + messages;
    return language;
}

// The program pop-up's entries, each after a line feed.
std::string popup(CorePeer& p) {
    std::string all;
    for (auto const& e : p.entries()) all += "\n" + std::string(e.text);
    return all;
}

TEST_F(PluginSayTest, AFailedLoadIsReportedAndTheRepairedEntryPlays) {
    install();
    CoreHost::CHANNELS intact[3];
    std::string saturator; // a host chunk holding the saturator
    for (int slot : {1, 2}) {
        CoreHost h(rig->path(), 44100, 256);
        h.start();
        ASSERT_TRUE(h.wtupd(0, kWait));
        h.slot_(slot);
        ASSERT_TRUE(h.wtupd(1, kWait));
        intact[slot] = playedNoise(h, 3);
        if (slot == 2) saturator = chunk(h);
    }
    constexpr int kArc = CoreDemo::iCprograms; // the archive program, playing the room
    // The file under data/, cut short (garbage for an archive) or gone in the
    // restore row; plughost's arguments (null: the restore row, no run); the
    // list page's mark; the location that fails; the error row's reason.
    struct Row {
        char const *file, *args, *mark;
        int slot;
        char const* why;
    } const rows[] = {
        {"programs/SATURATOR.XML", "--slot 2", "FAILED SATURATOR", 2, "CUT SHORT"},
        {"vectors/SAT2.WAV", "--slot 2", "FAILED SATURATOR", 2, "SAT2.WAV CUT SHORT"},
        {"vectors/ROOM.WAV", "", "FAILED ROOM", 1, "ROOM.WAV CUT SHORT"},
        {"vectors/ARC.V2V", "--slot 4", "FAILED ARC", kArc, "ARC.V2V NOT ARCHIVE"},
        {"programs/CUT.V2P", "--slot 4", "FAILED CUT", kArc, "CUT.V2P CUT SHORT"},
        {"vectors/SAT2.WAV", nullptr, "FAILED SATURATOR", 2, "SAT2.WAV MISSING"},
    };
    for (Row const& r : rows) {
        SCOPED_TRACE(std::string(r.file) + (r.args ? "" : " restored"));
        install();
        bool const archive = r.slot == kArc;
        if (archive) {
            std::string const stem = fs::path(r.file).stem();
            ASSERT_TRUE(packRoom(data(""), stem, readBytes(data("vectors/ROOM.WAV"))));
            writeBank(data(""), {stem + ".V2P"});
        }
        std::string const whole = readBytes(data(r.file)), base = fs::path(r.file).filename();
        if (r.args == nullptr)
            fs::remove(data(r.file));
        else {
            writeBytes(data(r.file), base == "ARC.V2V" ? "garbage" : whole.substr(0, 100));
            // A vector archive is named with the extension the program's name
            // gives it, whatever the case of the file found: names match in any case.
            std::string const out = rig->folder() + "out.wav", said = rig->folder() + "said";
            int const w = std::system((std::string(VORLAN_PLUGHOST) + " " + rig->path() + " " +
                                       out + " " + r.args + " >" + said + " 2>&1")
                                          .c_str());
            std::string const text = readBytes(said);
            EXPECT_TRUE(WIFEXITED(w) && WEXITSTATUS(w) == 1 && !fs::exists(out) &&
                        text.find("slot " + std::to_string(r.slot) + " ") != npos &&
                        strcasestr(text.c_str(), base.c_str()) != nullptr)
                << text;
        }
        auto p = std::make_unique<CorePeer>(rig->path());
        ASSERT_TRUE(page(*p, "  ProgMode")) << p->dump();
        CoreHost& h = p->host();
        ASSERT_TRUE(h.wtupd(0, kWait)); // the boot's report
        int const seen = h.updts();
        char name[64] = {}, after[64] = {};
        h.dispt(V::opGetProgramName, 0, 0, name);
        bool const posted = r.args != nullptr && r.slot != 1;
        if (r.args == nullptr)
            EXPECT_EQ(h.dispt(V::opSetChunk, 0, long(saturator.size() + 1), saturator.data()), 0);
        else if (posted)
            p->post(4, r.slot);
        // A load reports its end once the slot it names is final (a restore
        // ends within the call).
        ASSERT_TRUE(!posted || h.wtupd(seen, kWait)) << p->dump();
        ASSERT_NE(p->bus(B::iCfallback, 'b').number, 0);
        int const slot = int(p->bus(B::iCfailedslot, 'i').number);
        EXPECT_TRUE(r.args == nullptr || slot == r.slot) << slot;
        EXPECT_TRUE(p->bus(B::iCslot, 'i').number == 0 && slotAnswer(h) == 0);
        EXPECT_NE(strcasestr(p->bus(B::iCfailreason, 's').text, base.c_str()), nullptr);
        // The chunk a restore hands back is the session's, whatever plays.
        std::string const handed = chunk(h);
        EXPECT_TRUE(r.args == nullptr || handed == "NOCHUNK");
        // Each block-size change reloads, trying the failed location again.
        h.dispt(V::opSetBlockSize, 0, 512);
        h.dispt(V::opSetBlockSize, 0, 256);
        EXPECT_TRUE(chunk(h) == handed && p->bus(B::iCfailedslot, 'i').number == slot);

        std::string const line = "SLOT " + std::to_string(slot) + " FAILED: " + r.why;
        if (posted) p->post(0, 3, kMenuRow); // PROG, from the list page the load ends on
        ASSERT_TRUE(page(*p, "  ProgMode")) << p->dump();
        EXPECT_TRUE(CorePeer::until([&] { return says(*p, 7, line); }, kWait)) << p->dump();
        EXPECT_TRUE(p->large(1).rfind("Demo Init", 0) == 0 && p->row(2).substr(16, 8) == "  0     ")
            << p->dump();
        EXPECT_NE(popup(*p).find("\n" + std::to_string(slot) + " - FAILED "), npos);
        ASSERT_TRUE(listAll(*p)) << p->dump();
        EXPECT_TRUE(CorePeer::until([&] { return p->dump().find(r.mark) != npos; }, kWait))
            << p->dump();

        // Repaired; an entry that failed at boot holds no program until a
        // new instance reads the bank again.
        writeBytes(data(r.file), whole);
        if (r.file[0] == 'p') { // a program file failed at boot
            p = std::make_unique<CorePeer>(rig->path());
            ASSERT_TRUE(p->host().wtupd(0, kWait) && listAll(*p)) << p->dump();
        }
        std::string const entry = p->bus(B::iCslotname, 's', slot).text;
        std::size_t row = 1, column = npos;
        ASSERT_TRUE(CorePeer::until(
            [&] {
                for (row = 1; row < 12 && (column = p->row(int(row)).find(entry)) == npos;) ++row;
                return column != npos;
            },
            kWait))
            << entry << p->dump();
        // Rendered once the load has reported its end: the answer may name the
        // entry a moment before its program plays as it will.
        int const loads = p->host().updts();
        p->post(0, short(column), short(row));
        ASSERT_TRUE(p->host().wtupd(loads, kWait)) << p->dump();
        EXPECT_EQ(slotAnswer(p->host()), slot);
        CoreHost::CHANNELS const now = playedNoise(p->host(), 3),
                                 &want = intact[archive ? 1 : r.slot];
        double most = 0.0;
        for (int c = 0; c < 2; ++c)
            for (std::size_t k = 0; k < 8000; ++k)
                most = std::max(most, std::abs(now[c][k] - want[c][k]));
        EXPECT_LE(most, 1e-6);
        p->post(0, 3, kMenuRow);
        ASSERT_TRUE(page(*p, "  ProgMode"));
        EXPECT_EQ((p->dump() + popup(*p)).find("FAILED"), npos) << p->dump();
        p->host().dispt(V::opGetProgramName, 0, 0, after);
        EXPECT_TRUE(std::string(after) == name && p->host().dispt(V::opGetProgram) == 0);
    }
}

// Plain files under the installation (the log aside), with their bytes.
std::map<std::string, std::string> files(std::string const& top) {
    std::map<std::string, std::string> all;
    for (auto const& e : fs::recursive_directory_iterator(top))
        if (!e.is_symlink() && e.is_regular_file() && e.path().filename() != "Vorlan3olvio.log")
            all[e.path().string()] = readBytes(e.path().string());
    return all;
}

TEST_F(PluginSayTest, AFailedSaveShowsOnThePageReturnedToUntilTheNextClick) {
    // The damage, made after the boot so that it binds root too; the steps
    // (named: a version name with '/'); the page the user returns to and the
    // row of its error line ("" none); what the level-0 line names.
    // Last, rows under a host's German (messages and numbers): the reasons
    // stay the system's English text.
    struct Row {
        std::string damage, steps;
        char const* title;
        int row;
        std::string line;
        char const* named;
        bool german = false;
    } const rows[] = {
        {"room", "save", "  ProgMode", 7, "NOT SAVED: IS A DIRECTORY", "ROOM.XML: Is a directory"},
        {"loop", "save", "  ProgMode", 7, "NOT SAVED: LINK LOOP",
         "ROOM.XML: Too many levels of symbolic links"},
        {"programs", "saveas", "  ProgMode", 7, "VERSION NOT SAVED: NOT A DIRECTORY", "ROOM_01"},
        {"master", "master", "  MasterMode", 2, "NOT SAVED: IS A DIRECTORY",
         "vorlan.xml: Is a directory"},
        {"fallback", "save", "  ProgMode", 7, "NOT SAVED: SLOT 2 DID NOT LOAD",
         "SATURATOR.XML: slot 2 did not load"},
        {"fallback", "saveas", "  ProgMode", 7, "NOT SAVED: SLOT 2 DID NOT LOAD",
         ": slot 2 did not load"},
        {"", "named", "  EditMode: Memory", 11, "VERSION NOT SAVED: NAME NOT USABLE", nullptr},
        {"", "save", "  ProgMode", 7, "", nullptr},
        {"room", "save", "  ProgMode", 7, "NOT SAVED: IS A DIRECTORY", "ROOM.XML: Is a directory",
         true},
        {"master", "master", "  MasterMode", 2, "NOT SAVED: IS A DIRECTORY",
         "vorlan.xml: Is a directory", true},
        {"programs", "saveas", "  ProgMode", 7, "VERSION NOT SAVED: NOT A DIRECTORY",
         "ROOM_01.xml: Not a directory", true},
    };
    for (Row const& r : rows) {
        SCOPED_TRACE(r.damage + " " + r.steps);
        install();
        std::string const top = rig->folder(), programs = data("programs");
        if (r.damage == "fallback") writeBytes(data("vectors/SAT2.WAV"), "RIFF");
        CommaLocale const language = r.german ? german() : CommaLocale{};
        if (!language.why.empty()) GTEST_SKIP() << language.why;
        CorePeer p(rig->path());
        ASSERT_TRUE(page(p, "  ProgMode")) << p.dump();
        // A folder where a file stood; the next install clears the data folder.
        std::string const folder =
            r.damage == "master" ? top + "vorlan.xml" : programs + "/ROOM.XML";
        if (r.damage == "room" || r.damage == "master")
            fs::remove(folder), fs::create_directory(folder);
        if (r.damage == "loop") fs::remove(folder), fs::create_symlink("ROOM.XML", folder);
        if (r.damage == "programs")
            fs::rename(programs, programs + ".kept"), writeBytes(programs, "x");
        if (r.damage == "fallback") p.post(4, 2), page(p, "  ListMode"), p.post(0, 3, kMenuRow);
        auto const before = files(top);
        std::remove(data("Vorlan3olvio.log").c_str());
        int const updates = p.host().updts();
        if (r.steps == "master") {
            p.post(0, 23, kMenuRow);
            ASSERT_TRUE(page(p, "  MasterMode"));
            p.post(0, 52, 1);
        } else if (r.steps == "save") {
            ASSERT_TRUE(page(p, "  ProgMode"));
            p.post(0, 42, 1);
        } else { // the memory page: a new name proposes a version
            p.post(0, 52, 3);
            ASSERT_TRUE(page(p, "  EditMode: Memory"));
            p.post(0, 8, 5);
            for (char k : std::string("X\r")) p.post(1, k);
            ASSERT_TRUE(CorePeer::until([&] { return p.row(9).rfind("NEW:", 0) == 0; }, kWait));
            p.post(0, 10, 9);
            for (char k : std::string(r.steps == "named" ? "/x\r" : "\r")) p.post(1, k);
            ASSERT_TRUE(CorePeer::until(
                [&] { return r.steps != "named" || p.row(9).find("/x") != npos; }, kWait));
            p.post(0, 52, 9);
        }
        // The batch has ended.
        ASSERT_TRUE((r.steps != "save" && r.steps != "saveas") || p.host().wtupd(updates, kWait));
        auto const shows = [&](std::string const& line) { return says(p, r.row, line); };
        ASSERT_TRUE(CorePeer::until([&] { return p.titled(r.title) && shows(r.line); }, kWait))
            << p.dump();
        // Gone at the next click (a key on odd rows), from the bus too; under fallback the load's
        // line stands.
        (&r - rows) % 2 ? p.post(1, 'q') : p.post(0, 40, r.row);
        auto const back = r.damage == "fallback" ? "SLOT 2 FAILED: SAT2.WAV CUT SHORT" : "";
        EXPECT_TRUE(CorePeer::until(
            [&] { return shows(back) && textOf(p, CoreBnid::iCsaveerror).empty(); }, kWait))
            << p.dump();
        // One level-0 line, naming the file and the reason.
        std::string const log = readBytes(data("Vorlan3olvio.log"));
        std::size_t const at = log.find("***ERROR***> not saved: "),
                          next = log.find("not saved: ", at + 24);
        EXPECT_TRUE(r.named ? log.find(r.named, at) != npos && next == npos : at == npos) << log;
        EXPECT_TRUE(r.line.empty() || files(top) == before); // a successful save writes
        if (r.damage == "master") fs::remove(folder);
    }
}

} // namespace
