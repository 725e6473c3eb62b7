// ctest-labels: threads
// File names through the built plug-in, measured as they will be written:
// a version name or a program file name (property 87) whose file would pass
// the limit with its extension is refused before anything is written, from
// the bus and from the memory page alike; a refused write or bank read never
// answers as done; a new instance lists and plays every version saved.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "runtime/CoreButl.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::string>;
constexpr double kWait = 60.0; // s; boots and loads under the sanitizers
constexpr int kLongSlot = CoreDemo::iCprograms;
Rows const kSaved{"Saving", "Saving"}, kFailed{"Saving", "SAVE FAILED"};

std::string textOf(CorePeer& p, int id, int element = 0) { return p.bus(id, 's', element).text; }
int slotOf(CorePeer& p) { return int(p.bus(67, 'i').number); }

bool playing(CorePeer& p, int slot, char const* name) {
    return CorePeer::until(
        [&] {
            CorePrvt::BUSCALL const busy = p.bus(46, 'b');
            return busy.kind != 0 && busy.number == 0.0 && slotOf(p) == slot &&
                   textOf(p, 56) == name;
        },
        kWait);
}

std::set<std::string> files(std::string const& folder) {
    std::set<std::string> names;
    for (auto const& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

enum Kind { kVersion, kFileName, kReadBank };

struct Row {
    char const* what;
    Kind kind;
    std::string name;  // the version name, property 87's value, or LIBRARY
    Rows lines;        // a chain's lines; for 87 {"1"} taken, {"0"} refused
    char const* line;  // the level-0 line it logs ("" none, null not looked at)
    char const* added; // the program file it adds ("" none)
};

TEST(PluginVersionNameTest, FileNamesAreCheckedAsWrittenAndRefusalsSaySo) {
    PluginRig rig;
    ASSERT_TRUE(rig.settings({kDiagnosed}));
    std::string const data = rig.folder() + CoreDemo::sCdatapath;
    std::string const programs = data + CoreDemo::sCprograms;
    std::string const bank = data + CoreDemo::sCsetups + CoreDemo::sCsetup;
    std::string const log = data + "Vorlan3olvio.log";
    // A program whose file name is 228 bytes: its proposed version name
    // fits bare, not as a file.
    std::string const longfile = std::string(224, 'L') + ".xml";
    std::string room = readBytes(programs + "ROOM.XML");
    room.replace(room.find("Demo Room"), 9, "Long Room");
    writeBytes(programs + longfile, room);
    writeBank(data, {longfile});

    std::string const fits(226, 'V'), over(227, 'W'), over87(227, 'N'), fits87(226, 'F');
    Row const rows[] = {
        {"version of 226", kVersion, fits, kSaved, "", "VVV"},
        {"version of 227", kVersion, over, kFailed,
         "version name (VERSIONINGNAME): file name refused", ""},
        {"version outside", kVersion, "../x", kFailed, "file name refused: \"../x\"", ""},
        {"bank outside",
         kReadBank,
         "../x.xml",
         {"Cleared", "LOAD FAILED ../x.xml", "Loaded Demo Room"},
         "batch LIBRARY (bank file): file name refused",
         ""},
        {"bank missing",
         kReadBank,
         "NONE.XML",
         {"Cleared", "LOAD FAILED NONE.XML", "Loaded Demo Room"},
         nullptr,
         ""},
        {"bank read",
         kReadBank,
         CoreDemo::sCsetup,
         {"Cleared", "Loaded DEMO.XML", "Loaded Demo Room"},
         "",
         ""},
        {"87 of 227",
         kFileName,
         over87,
         {"0"},
         "bean 87 (program file name): file name refused",
         ""},
        {"87 outside", kFileName, "../x.xml", {"0"}, "file name refused: \"../x.xml\"", ""},
        {"87 of 226", kFileName, fits87, {"1"}, "", ""},
    };
    int version = -1;
    {
        CorePeer a(rig.path());
        ASSERT_TRUE(playing(a, CoreDemo::iCroom, "Demo Room")) << a.dump();
        for (Row const& r : rows) {
            std::set<std::string> const before = files(programs);
            std::string const file = textOf(a, 87, slotOf(a));
            std::size_t const from = readBytes(log).size();
            Rows got;
            if (r.kind == kVersion) {
                got = chain(
                    a,
                    {{"SAVING", "Saving"}, {"VERSIONINGNAME", r.name}, {"NEXTSTEP", "VERSIONING"}});
                if (got == kSaved) version = slotOf(a);
            } else if (r.kind == kReadBank) {
                got = chain(a, {{"BANKCLEARED", "Cleared"},
                                {"LOADED", "Loaded"},
                                {"BANK", "1"},
                                {"LIBRARY", r.name},
                                {"NEXTSTEP", "READSETUP"}});
            } else {
                got = {writeText(a, 87, r.name) ? "1" : "0"};
                // Taken, the location's file is the name with its extension.
                std::string const now = textOf(a, 87, slotOf(a));
                EXPECT_EQ(now, got[0] == "1" ? r.name + ".xml" : file) << r.what;
            }
            EXPECT_EQ(got, r.lines) << r.what;
            std::string const logged = readBytes(log).substr(from);
            std::size_t const at = logged.find("***ERROR***>");
            if (r.line != nullptr) {
                EXPECT_EQ(at != std::string::npos && logged.find(r.line, at) != std::string::npos,
                          *r.line != 0)
                    << r.what << "\n"
                    << logged;
            }
            std::set<std::string> added = files(programs);
            for (std::string const& f : before) added.erase(f);
            EXPECT_EQ(added.size(), *r.added != 0 ? 1u : 0u) << r.what;
            if (!added.empty()) {
                EXPECT_EQ(added.begin()->rfind(r.added, 0), 0u) << r.what;
            }
        }
    }
    ASSERT_GT(version, kLongSlot) << "no version saved";
    std::string const stored = readBytes(bank);
    EXPECT_NE(stored.find(fits + ".xml"), std::string::npos) << stored;
    EXPECT_EQ(stored.find(over), std::string::npos);

    // A new instance lists the version and plays it.
    CorePeer b(rig.path());
    ASSERT_TRUE(playing(b, CoreDemo::iCroom, "Demo Room")) << b.dump();
    EXPECT_EQ(textOf(b, 167, version), "Demo Room");
    b.host().slot_(version);
    EXPECT_TRUE(playing(b, version, "Demo Room")) << b.dump();

    // The memory page proposes the long program's version as its file name
    // with "_01": refused with the line, and nothing posted.
    b.host().slot_(kLongSlot);
    ASSERT_TRUE(playing(b, kLongSlot, "Long Room")) << b.dump();
    ASSERT_TRUE(CorePeer::until([&] { return b.titled("  ProgMode"); }, kWait)) << b.dump();
    b.post(0, 52, 3); // EDIT: the memory page
    ASSERT_TRUE(CorePeer::until([&] { return b.titled("  EditMode: Memory"); }, kWait)) << b.dump();
    b.post(0, 8, 5); // a rename offers the version
    for (char k : std::string("Renamed\r")) b.post(1, static_cast<unsigned char>(k));
    ASSERT_TRUE(CorePeer::until([&] { return b.row(9).find("NEW:    LLLL") == 0; }, kWait))
        << b.dump();
    std::set<std::string> const before = files(programs);
    std::size_t const from = readBytes(log).size();
    b.post(0, 52, 9); // SAVEAS
    EXPECT_TRUE(CorePeer::until(
        [&] { return b.dump().find("VERSION NOT SAVED: NAME NOT USABLE") != std::string::npos; },
        kWait))
        << b.dump();
    EXPECT_TRUE(b.titled("  EditMode: Memory")) << b.dump();
    EXPECT_EQ(files(programs), before);
    EXPECT_EQ(readBytes(bank), stored);
    EXPECT_NE(readBytes(log).find("memory page: version name refused", from), std::string::npos);
}

} // namespace
