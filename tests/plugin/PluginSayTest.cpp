// ctest-labels: threads
// What the built plug-in says when a load falls back to location 0 or a
// save fails: the slot it names as playing, the fallback's report on the
// bus, the display's error line and the lists' mark, the chunk a host
// gets, and the command-line host's refusal; then, the file repaired, the
// program plays as on an intact installation. Saves that fail (also for
// root) show their line on the page returned to until the next click.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <sys/wait.h>

#include "plugin/CorePrvt.h"
#include "runtime/CoreBnid.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace fs = std::filesystem;

namespace {

using V = PlatVst;
using B = CoreBnid;
constexpr double kWait = 60.0;
constexpr int kMenuRow = 13;

class PluginSayTest : public PluginRigTest {
protected:
    static void install() {
        fs::remove_all(rig->folder() + CoreDemo::sCdatapath);
        ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(rig->folder().c_str()), CoreAnsx("vorlan.so")));
        ASSERT_TRUE(rig->settings({{"GUIRATE", "5000"}, kDiagnosed}));
    }
    static std::string data(std::string const& file) {
        return rig->folder() + CoreDemo::sCdatapath + file;
    }
    static bool page(CorePeer& p, char const* title) {
        return CorePeer::until([&] { return p.titled(title); }, kWait);
    }
    static std::string chunk(CoreHost& h) {
        void* bytes = nullptr;
        std::intptr_t const n = h.dispt(V::opGetChunk, 0, 0, &bytes);
        return n > 0 ? std::string(static_cast<char const*>(bytes), std::size_t(n - 1)) : "";
    }
    static int slotAnswer(CoreHost& h) {
        CorePrvt::CALL c;
        c.kind = CorePrvt::iCslot;
        return int(h.dispt(V::opVendorSpecific, CorePrvt::iCtag, 0, &c));
    }
    // Noise through the instance, from the first sound on (both channels).
    static std::vector<double> played(CoreHost& h) {
        std::mt19937 g(3);
        CoreHost::CHANNELS x(2, std::vector<double>(20000)), y;
        for (auto& c : x)
            for (auto& v : c) v = float(std::uniform_real_distribution<double>(-0.5, 0.5)(g));
        h.rendr(x, y, true);
        long const at = std::find_if(y[0].begin(), y[0].end(), [](double v) { return v != 0.0; }) -
                        y[0].begin();
        std::vector<double> out(y[0].begin() + at, y[0].begin() + at + 8000);
        out.insert(out.end(), y[1].begin() + at, y[1].begin() + at + 8000);
        return out;
    }
};

std::pair<int, std::string> run(std::string const& command) {
    std::string said;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    char line[512];
    while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr) said += line;
    int const w = p != nullptr ? pclose(p) : -1;
    return {WIFEXITED(w) ? WEXITSTATUS(w) : -1, said};
}

// A vector archive is named with the extension the program's name gives it,
// whatever the case of the file found.
std::string upper(std::string text) {
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

double largestDifference(std::vector<double> const& a, std::vector<double> const& b) {
    double most = a.size() == b.size() ? 0.0 : 1.0;
    for (std::size_t k = 0; k < std::min(a.size(), b.size()); ++k)
        most = std::max(most, std::abs(a[k] - b[k]));
    return most;
}

TEST_F(PluginSayTest, AFailedLoadIsReportedAndTheRepairedEntryPlays) {
    install();
    std::vector<double> intact[3];
    std::string saturator; // a host chunk holding the saturator
    for (int slot : {1, 2}) {
        CoreHost h(rig->path(), 44100, 256);
        h.start();
        ASSERT_TRUE(h.wtupd(0, kWait));
        h.slot_(slot);
        ASSERT_TRUE(h.wtupd(1, kWait));
        intact[slot] = played(h);
        if (slot == 2) saturator = chunk(h);
    }
    constexpr int kArc = CoreDemo::iCprograms; // the archive program, playing the room
    struct Row {
        char const* file; // under data/: cut short (garbage for an archive), or gone
                          // in the restore row
        int slot;         // the location that fails
        char const* args; // plughost's; null: the restore row, no run
        char const* mark; // on the list page
    } const rows[] = {
        {"programs/SATURATOR.XML", 2, "--slot 2", "FAILED SATURATOR"},
        {"vectors/SAT2.WAV", 2, "--slot 2", "FAILED SATURATOR"},
        {"vectors/ROOM.WAV", 1, "", "FAILED ROOM"},
        {"vectors/ARC.V2V", kArc, "--slot 4", "FAILED ARC"},
        {"vectors/SAT2.WAV", 2, nullptr, "FAILED SATURATOR"},
    };
    for (Row const& r : rows) {
        SCOPED_TRACE(std::string(r.file) + (r.args ? "" : " restored"));
        install();
        bool const archive = r.slot == kArc;
        if (archive) {
            ASSERT_TRUE(packRoom(data(""), "ARC", readBytes(data("vectors/ROOM.WAV"))));
            writeBank(data(""), {"ARC.V2P"});
        }
        std::string const whole = readBytes(data(r.file));
        std::string const base = fs::path(r.file).filename().string();
        if (r.args != nullptr) {
            writeBytes(data(r.file), archive ? "garbage" : whole.substr(0, 100));
            std::string const out = rig->folder() + "out.wav";
            auto const [status, said] =
                run(std::string(VORLAN_PLUGHOST) + " " + rig->path() + " " + out + " " + r.args);
            EXPECT_TRUE(status == 1 &&
                        said.find("slot " + std::to_string(r.slot) + " ") != said.npos &&
                        upper(said).find(base) != said.npos && !fs::exists(out))
                << said;
        } else {
            fs::remove(data(r.file));
        }
        auto p = std::make_unique<CorePeer>(rig->path());
        ASSERT_TRUE(page(*p, "  ProgMode")) << p->dump();
        CoreHost& h = p->host();
        char name[64] = {}, nameAfter[64] = {};
        h.dispt(V::opGetProgramName, 0, 0, name);
        if (r.args == nullptr)
            EXPECT_EQ(h.dispt(V::opSetChunk, 0, long(saturator.size() + 1), saturator.data()), 0);
        else if (r.slot != 1)
            p->post(4, r.slot);
        ASSERT_TRUE(CorePeer::until([&] { return p->bus(B::iCfallback, 'b').number != 0; }, kWait));
        int const slot = int(p->bus(B::iCfailedslot, 'i').number);
        EXPECT_TRUE(r.args == nullptr || slot == r.slot) << slot;
        EXPECT_TRUE(p->bus(B::iCslot, 'i').number == 0 && slotAnswer(h) == 0);
        EXPECT_NE(upper(p->bus(B::iCfailreason, 's').text).find(base), std::string::npos);
        // The chunk a restore hands back is the session's, whatever plays.
        std::string const handed = chunk(h);
        EXPECT_TRUE(r.args == nullptr || handed == "NOCHUNK");
        // Each block-size change reloads, trying the failed location again.
        h.dispt(V::opSetBlockSize, 0, 512);
        h.dispt(V::opSetBlockSize, 0, 256);
        EXPECT_EQ(chunk(h), handed);
        EXPECT_EQ(p->bus(B::iCfailedslot, 'i').number, slot);

        std::string const line = "SLOT " + std::to_string(slot) + " FAILED: " + base;
        if (!p->titled("  ProgMode")) p->post(0, 3, kMenuRow); // PROG
        EXPECT_TRUE(CorePeer::until([&] { return p->row(7).rfind(line, 0) == 0; }, kWait))
            << p->dump();
        EXPECT_TRUE(p->large(1).rfind("Demo Init", 0) == 0 && p->row(2).substr(16, 8) == "  0     ")
            << p->dump();
        bool marked = false;
        for (auto const& e : p->entries())
            marked |= std::string(e.text).rfind(std::to_string(slot) + " - FAILED ", 0) == 0;
        EXPECT_TRUE(marked);
        p->post(4, 0); // the list page, over Init
        ASSERT_TRUE(page(*p, "  ListMode")) << p->dump();
        p->post(0, 52, 0); // ALL
        EXPECT_TRUE(
            CorePeer::until([&] { return p->dump().find(r.mark) != std::string::npos; }, kWait))
            << p->dump();

        // Repaired; an entry that failed at boot holds no program until a
        // new instance reads the bank again.
        writeBytes(data(r.file), whole);
        if (base == "SATURATOR.XML") {
            p = std::make_unique<CorePeer>(rig->path());
            ASSERT_TRUE(page(*p, "  ProgMode"));
            p->post(4, 0);
            ASSERT_TRUE(page(*p, "  ListMode"));
            p->post(0, 52, 0);
        }
        std::string const entry = p->bus(B::iCslotname, 's', slot).text;
        int row = -1;
        std::size_t column = std::string::npos;
        CorePeer::until(
            [&] {
                for (row = 1; row < 12; ++row)
                    if ((column = p->row(row).find(entry)) != std::string::npos) return true;
                return false;
            },
            kWait);
        ASSERT_NE(column, std::string::npos) << entry << p->dump();
        p->post(0, short(column), short(row));
        EXPECT_TRUE(CorePeer::until([&] { return slotAnswer(p->host()) == slot; }, kWait));
        EXPECT_LE(largestDifference(played(p->host()), intact[archive ? 1 : r.slot]), 1e-6);
        p->post(0, 3, kMenuRow);
        ASSERT_TRUE(page(*p, "  ProgMode"));
        EXPECT_EQ(p->dump().find("FAILED"), std::string::npos) << p->dump();
        for (auto const& e : p->entries())
            EXPECT_EQ(std::string(e.text).find("FAILED"), std::string::npos);
        p->host().dispt(V::opGetProgramName, 0, 0, nameAfter);
        EXPECT_TRUE(std::string(nameAfter) == name && p->host().dispt(V::opGetProgram) == 0);
    }
}

// Plain files under the installation (the log aside), with their bytes.
std::map<std::string, std::string> files(std::string const& top) {
    std::map<std::string, std::string> all;
    for (auto const& e : fs::recursive_directory_iterator(top))
        if (e.is_regular_file() && e.path().filename() != "Vorlan3olvio.log")
            all[e.path().string()] = readBytes(e.path().string());
    return all;
}

TEST_F(PluginSayTest, AFailedSaveShowsOnThePageReturnedToUntilTheNextClick) {
    struct Row {
        char const* damage; // made after the boot, so that it binds root too
        char const* steps;  // save, saveas, master, named (a version name with '/')
        char const* title;  // the page the user returns to
        int row;            // where its error line stands
        char const* line;   // "" none
        char const* named;  // in the level-0 line
    } const rows[] = {
        {"room", "save", "  ProgMode", 7, "NOT SAVED: IS A DIRECTORY", "ROOM.XML: Is a directory"},
        {"programs", "saveas", "  ProgMode", 7, "VERSION NOT SAVED", "ROOM_01"},
        {"master", "master", "  MasterMode", 2, "NOT SAVED: IS A DIRECTORY",
         "vorlan.xml: Is a directory"},
        {"fallback", "save", "  ProgMode", 7, "NOT SAVED: SLOT 2 DID NOT LOAD",
         "SATURATOR.XML: slot 2 did not load"},
        {"", "named", "  EditMode: Memory", 11, "VERSION NOT SAVED: NAME NOT USABLE", nullptr},
        {"", "save", "  ProgMode", 7, "", nullptr},
    };
    for (Row const& r : rows) {
        SCOPED_TRACE(std::string(r.damage) + " " + r.steps);
        install();
        std::string const top = rig->folder(), programs = data("programs"), damage = r.damage;
        if (damage == "fallback") writeBytes(data("vectors/SAT2.WAV"), "RIFF");
        CorePeer p(rig->path());
        ASSERT_TRUE(page(p, "  ProgMode")) << p.dump();
        if (damage == "room")
            fs::remove(programs + "/ROOM.XML"), fs::create_directory(programs + "/ROOM.XML");
        if (damage == "programs")
            fs::rename(programs, programs + ".kept"), writeBytes(programs, "x");
        if (damage == "master")
            fs::remove(top + "vorlan.xml"), fs::create_directory(top + "vorlan.xml");
        if (damage == "fallback") p.post(4, 2), page(p, "  ListMode"), p.post(0, 3, kMenuRow);
        auto const before = files(top);
        std::remove(data("Vorlan3olvio.log").c_str());
        std::string const steps = r.steps;
        int const updates = p.host().updts();
        if (steps == "master") {
            p.post(0, 23, kMenuRow);
            ASSERT_TRUE(page(p, "  MasterMode"));
            p.post(0, 52, 1);
        } else if (steps == "save") {
            ASSERT_TRUE(page(p, "  ProgMode"));
            p.post(0, 42, 1);
        } else { // the memory page: a new name proposes a version
            p.post(0, 52, 3);
            ASSERT_TRUE(page(p, "  EditMode: Memory"));
            p.post(0, 8, 5);
            for (char k : std::string("X\r")) p.post(1, k);
            ASSERT_TRUE(CorePeer::until([&] { return p.row(9).rfind("NEW:", 0) == 0; }, kWait));
            p.post(0, 10, 9);
            for (char k : std::string(steps == "named" ? "/x\r" : "\r")) p.post(1, k);
            ASSERT_TRUE(CorePeer::until(
                [&] { return steps != "named" || p.row(9).find("/x") != std::string::npos; },
                kWait));
            p.post(0, 52, 9);
        }
        if (steps == "save" || steps == "saveas") {
            ASSERT_TRUE(p.host().wtupd(updates, kWait)); // the batch has ended
        }
        std::string const line = r.line;
        ASSERT_TRUE(CorePeer::until(
            [&] {
                std::string const now = p.row(r.row);
                return p.titled(r.title) &&
                       (line.empty() ? now.find_first_not_of(' ') > 35 : now.rfind(line, 0) == 0);
            },
            kWait))
            << p.dump();
        // Gone at the next click; under fallback the load's line stands again.
        p.post(0, 40, r.row);
        EXPECT_TRUE(CorePeer::until(
            [&] {
                std::string const now = p.row(r.row);
                return now.find_first_not_of(' ') > 35 ||
                       (damage == "fallback" && now.rfind("SLOT 2 FAILED", 0) == 0);
            },
            kWait))
            << p.dump();
        // One level-0 line, naming the file and the reason.
        std::string const log = readBytes(data("Vorlan3olvio.log"));
        std::size_t const at = log.find("***ERROR***> not saved: ");
        EXPECT_TRUE(r.named == nullptr ? at == log.npos
                                       : log.find(r.named, at) != log.npos &&
                                             log.find("not saved: ", at + 24) == log.npos)
            << log;
        EXPECT_TRUE(line.empty() || files(top) == before); // a successful save writes
        if (damage == "programs") fs::remove(programs), fs::rename(programs + ".kept", programs);
        if (damage == "master") fs::remove(top + "vorlan.xml");
    }
}

} // namespace
