// ctest-labels: threads
// Where the display meets the engine, through the built plug-in and the demo
// installation: each property the master and memory pages write is worked as
// a user works it (a drag on a value field, keys into an edit field) and read
// back from what the engine stores (the master settings after SAVE, the
// program file of a saved version); each property they read is put in the
// store before the instance opens and checked in the page's text. The rows
// are keyed by the bus's id table, so a property without a row fails.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "runtime/CoreBnid.h"
#include "runtime/CoreButl.h"
#include "tests/plugin/PluginRig.h"
#include "tools/CoreDdoc.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {
using B = CoreBnid;
constexpr double kWait = 60.0; // s: generous for a loaded machine under the sanitizers

// A value field of the master page, dragged; its key in the master settings.
struct MASTERROW {
    int id;
    int selector;      // the record's selector where the page passes one
    short column, row; // the field's first cell
    char const* key;
    char const* known; // put in the settings before the instance opens
    char const* shown; // the field's text for it
    double scale;      // stored units per shown unit; 0: a choice
    bool down;         // dragged down (the choice is at its top)
};
MASTERROW const masterRows[] = {
    {B::iCmeter, 0, 43, 3, "METERTYPE", "2", "2 Peak", 0, false},
    {B::iCfontcolour, 0, 13, 4, "FONTCOLOUR", "0", "GREEN", 0, false},
    {B::iCquality, 0, 43, 4, "EXPORTAUDIOQUALITY", "1", "1 times", 0, false},
    {B::iCenginetime, 0, 13, 5, "OTIMED", "5", "5 SSE2f", 0, false},
    {B::iCforcedlength, 0, 43, 5, "LTIMED", "10000", "10.0 ms", 1000, false},
    {B::iCenginefreq, 0, 13, 6, "OFREQD", "11", "11IPPS", 0, true},
    {B::iCforcedlength, 1, 43, 6, "LFREQD", "1000000", "1.000 s", 1e6, false},
    {B::iCprogramrate, 0, 13, 7, "PROGRAMRATE", "3000", "3.0 ms", 1000, false},
    {B::iCguirate, 0, 43, 7, "GUIRATE", "5000", "5.0 ms", 1000, false},
    {B::iCoffset, 0, 13, 8, "FORCEOFFSET", "1000", "1.0 ms", 1000, false},
    {B::iCaheadlimit, 0, 43, 8, "AHEADLENGTH", "3000", "3.0 ms", 0, false},
    {B::iCkernellimit, 0, 13, 9, "HDIM", "3", "3  (2nd", 0, false},
    {B::iCrateconversion, 0, 43, 9, "RATECONVERSION", "0", "0 ms", 1000, false},
    {B::iCscanboot, 0, 13, 10, "SCANBOOT", "1", "1 recovery", 0, true},
    {B::iCfastboot, 0, 43, 10, "FASTBOOT", "1", "1 fast", 0, true},
    {B::iCnodrop, 0, 13, 11, "NODROP", "0", "0 no", 0, false},
    {B::iCdspbuffer, 0, 43, 11, "DSPBUFFER", "2048", "2048", 0, false},
    {B::iCloaderlevel, 0, 13, 12, "LOADERPRIORITY", "1", "1 lower", 0, false},
};

// An edit field of the memory page; its element in the saved program.
struct MEMORYROW {
    int id;
    int selector;
    short column, row;
    char const* key;
    char const* known; // in the program file before the instance opens
    char const* shown;
    char const* typed; // then Return
    char const* saved;
};
MEMORYROW const memoryRows[] = {
    {B::iCname, 0, 8, 5, "NAME", "Demo Room", "Demo Room", "Seam Room", "Seam Room"},
    {B::iCcategory, 0, 8, 6, "CATEGORY", "Reverb", "REV", "xa", "XA"},
    {B::iCcategory, 1, 14, 6, "SUBCATEGORY1", "Big", "BIG", "xb", "XB"},
    {B::iCcategory, 2, 20, 6, "SUBCATEGORY2", "Stone", "STO", "xc", "XC"},
    {B::iCdescription, 0, 8, 7, "DESCRIPTION", "Wide", "Wide", "Seam text", "Seam text"},
};

// A value field of a program page, dragged; the element of the saved
// program it must change (the only one besides the name).
struct PROGRAMROW {
    int id;
    short menu; // column of the page's word on the menu row
    short column, row;
    char const* path;
    bool down;
};
PROGRAMROW const programRows[] = {
    {B::iCpadin, 23, 10, 1, "GAINPADIN", false},
    {B::iCpadout, 23, 10, 2, "GAINPADOUT", false},
    {B::iCfeedback, 23, 42, 1, "FEEDBACKFACTOR", false},
    {B::iCfeedbacksource, 23, 42, 2, "FEEDBACKSOURCE", false},
    {B::iClookahead, 23, 42, 3, "LOOKAHEAD", false},
    {B::iCdry, 23, 42, 4, "GAINDRYFACTOR", false},
    {B::iCdrysource, 23, 42, 5, "GAINDRYSOURCE", false},
    {B::iClfosetmaxrate, 33, 13, 4, "LFO1/MAXRATE", false},
    {B::iClfosetminrate, 33, 4, 4, "LFO1/MINRATE", false},
    {B::iClfoquantise, 33, 22, 4, "LFO1/RATEQUANTIZE", false},
    {B::iClfosetratesource, 33, 26, 4, "LFO1/SOURCE", false},
    {B::iClfowaveform, 33, 35, 4, "LFO1/SHAPE", false},
    {B::iClfophase, 33, 43, 4, "LFO1/PHASEFACTOR", false},
    {B::iClfophasesource, 33, 51, 4, "LFO1/PHASESOURCE", false},
    {B::iCsmoothing, 23, 10, 5, "SMOOTH", false},
};

// Read by these pages and shown, without a store of their own to check: the
// master page's title and fixed rows, the version name the memory page
// proposes (both checked in the page's text below).
std::set<int> const shownOnly{B::iCrate, B::iChostrate,    B::iCversion, B::iCmode,
                              B::iCskin, B::iCversionname, B::iCslot};

// Not worked here yet: properties of other pages, the engine's own
// book-keeping and the batch protocol, which the display tests cover on the
// stand-in engine and the plug-in tests through the batches they run. The
// extra-buffers indicator (255) is being mended separately; its row belongs
// here once it lands.
std::set<int> const notWorked{
    3,   4,   5,   6,   11,  22,  23,  24,  25,  27,  28,  29,  31,  33,  34,  36,  39,  40,
    43,  46,  49,  55,  58,  59,  74,  75,  79,  82,  85,  89,  94,  95,  96,  97,  103, 104,
    105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 126,
    127, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 142, 143, 144,
    145, 146, 147, 148, 150, 151, 157, 160, 161, 162, 165, 166, 167, 168, 169, 170, 171, 172,
    173, 174, 177, 179, 180, 181, 182, 183, 184, 185, 187, 188, 189, 190, 191, 192, 193, 194,
    195, 196, 197, 198, 199, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 211, 214,
    215, 216, 217, 221, 222, 223, 224, 225, 226, 237, 238, 239, 244, 245, 246, 247, 248, 249,
    250, 251, 252, 253, 255, 257, 258, 259, 260, 261};

std::string readAll(std::string const& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The leaf elements of a document by their path below the root ("LFO1/SHAPE";
// a path met again gets "#2", "#3"...), values trimmed.
std::map<std::string, std::string> elements(std::string const& text) {
    std::map<std::string, std::string> found;
    std::vector<std::string> open;
    std::size_t textstart = 0;
    bool leaf = false; // no element opened since the last one
    for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        std::size_t const close = text.find('>', at);
        if (close == std::string::npos) break;
        std::string const tag = text.substr(at + 1, close - at - 1);
        if (tag.empty() || tag[0] == '?') continue;
        if (tag[0] != '/') {
            open.push_back(tag);
            textstart = close + 1;
            leaf = true;
            continue;
        }
        if (open.empty() || open.back() != tag.substr(1)) break; // not a document we wrote
        if (leaf && open.size() > 1) {
            std::string path, value = text.substr(textstart, at - textstart);
            for (std::size_t k = 1; k < open.size(); ++k) path += (k > 1 ? "/" : "") + open[k];
            value.erase(0, value.find_first_not_of(" \t\n"));
            value.erase(value.find_last_not_of(" \t\n") + 1);
            std::string key = path;
            for (int n = 2; found.count(key); ++n) key = path + "#" + std::to_string(n);
            found[key] = value;
        }
        open.pop_back();
        leaf = false;
    }
    return found;
}

class PluginSeamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { rig = new PluginRig(); }
    static void TearDownTestSuite() {
        delete rig;
        rig = nullptr;
    }
    static std::string cells(CorePeer& p, MASTERROW const& r, std::size_t n) {
        return p.row(r.row).substr(std::size_t(r.column), n);
    }
    static bool page(CorePeer& p, char const* title) {
        return CorePeer::until([&] { return p.titled(title); }, kWait);
    }
    // Drags the value field at that cell (held by the editor's mouse state)
    // until its text changes; false when it never does.
    static bool drag(CorePeer& p, short column, short row, bool down) {
        auto text = [&] { return p.row(row).substr(std::size_t(column), 8); };
        std::string const before = text();
        std::int32_t mouse[3] = {200, 2000, 1};
        p.set(100101, mouse, sizeof mouse);
        p.post(0, column, row);
        bool const moved = CorePeer::until(
            [&] {
                mouse[1] += down ? 1 : -1;
                p.set(100101, mouse, sizeof mouse);
                return text() != before;
            },
            kWait);
        mouse[2] = 0;
        p.set(100101, mouse, sizeof mouse);
        return moved;
    }
    // Clicks the edit field at that cell and types the text and Return.
    static void type(CorePeer& p, short column, short row, char const* text) {
        p.post(0, column, row);
        for (char const* k = text; *k != 0; ++k) p.post(1, static_cast<unsigned char>(*k));
        p.post(1, '\r');
    }
    static std::set<std::string> programFiles() {
        std::set<std::string> names;
        for (auto const& entry : std::filesystem::directory_iterator(programs()))
            names.insert(entry.path().string());
        return names;
    }
    static std::string programs() {
        return rig->folder() + CoreDemo::sCdatapath + CoreDemo::sCprograms;
    }
    // On the memory page: renames the program (which proposes a version
    // name) and saves the version; answers the file written, "" when none.
    static std::string version(CorePeer& p, char const* name) {
        std::set<std::string> const before = programFiles();
        int const captures = p.heard(100105); // the name field takes the keys, then lets go
        type(p, 8, 5, name);
        if (!CorePeer::until(
                [&] { return p.heard(100105) >= captures + 2 && p.row(9).rfind("NEW:", 0) == 0; },
                kWait))
            return "";
        p.post(0, 52, 9);
        std::string added;
        CorePeer::until(
            [&] {
                for (std::string const& file : programFiles())
                    if (!before.count(file)) added = file;
                return !added.empty() && p.titled("  ProgMode");
            },
            kWait);
        return added;
    }
    // The paths whose values differ between two documents' elements.
    static std::set<std::string> changed(std::map<std::string, std::string> const& old,
                                         std::map<std::string, std::string> const& now) {
        std::set<std::string> keys;
        for (auto const& [key, value] : now)
            if (!old.count(key) || old.at(key) != value) keys.insert(key);
        for (auto const& [key, value] : old)
            if (!now.count(key)) keys.insert(key);
        return keys;
    }
    // The demo installation again, without the versions an earlier case
    // saved, ticking the display every 15 ms.
    static void install(std::vector<std::pair<std::string, std::string>> more = {}) {
        std::filesystem::remove_all(programs());
        ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(rig->folder().c_str()), CoreAnsx("vorlan.so")));
        more.insert(more.begin(), {"GUIRATE", "5000"});
        ASSERT_TRUE(rig->settings(more));
    }
    static PluginRig* rig;
};
PluginRig* PluginSeamTest::rig = nullptr;

TEST_F(PluginSeamTest, EveryPropertyOfTheBusHasARow) {
    std::set<int> rows(shownOnly);
    for (MASTERROW const& r : masterRows) rows.insert(r.id);
    for (MEMORYROW const& r : memoryRows) rows.insert(r.id);
    for (PROGRAMROW const& r : programRows) rows.insert(r.id);
    for (B::PROPERTY const& p : B::sCproperties) {
        bool const worked = rows.count(p.id) > 0, left = notWorked.count(p.id) > 0;
        EXPECT_TRUE(worked != left) << p.id << " " << p.name;
        // A property with a selector is worked with each selector it has.
        if (worked && p.layout == B::iCselector && !shownOnly.count(p.id))
            for (int s = 0; s < 2; ++s) {
                bool found = false;
                for (MASTERROW const& r : masterRows) found |= r.id == p.id && r.selector == s;
                for (MEMORYROW const& r : memoryRows) found |= r.id == p.id && r.selector == s;
                EXPECT_TRUE(found) << p.name << " selector " << s;
            }
    }
}

TEST_F(PluginSeamTest, MasterPageShowsAndStoresEachSetting) {
    std::vector<std::pair<std::string, std::string>> known;
    for (MASTERROW const& r : masterRows) known.emplace_back(r.key, r.known);
    install(known);
    std::string const file = rig->folder() + "vorlan.xml";
    CorePeer peer(rig->path());
    ASSERT_TRUE(page(peer, "  ProgMode")) << peer.dump();
    peer.post(0, 23, 13); // MAST
    ASSERT_TRUE(page(peer, "  MasterMode")) << peer.dump();
    for (MASTERROW const& r : masterRows)
        EXPECT_EQ(cells(peer, r, std::string(r.shown).size()), r.shown) << r.key << "\n"
                                                                        << peer.dump();
    EXPECT_NE(peer.row(0).find("44100 Hz"), std::string::npos);
    EXPECT_NE(peer.row(1).find("1.3.508"), std::string::npos);
    EXPECT_NE(peer.row(3).find("1 Guru"), std::string::npos);
    EXPECT_NE(peer.row(12).find("DEMO.V2S"), std::string::npos);

    // SAVE (50, 1) writes the file; each save must differ from the last.
    std::string stored = readAll(file);
    auto save = [&] {
        std::string const before = stored;
        peer.post(0, 52, 1);
        bool const done = CorePeer::until([&] { return readAll(file) != before; }, kWait);
        stored = readAll(file);
        return done;
    };
    std::filesystem::remove(file);
    stored.clear();
    ASSERT_TRUE(save()) << "the first save";
    for (MASTERROW const& r : masterRows) {
        ASSERT_TRUE(drag(peer, r.column, r.row, r.down)) << r.key << "\n" << peer.dump();
        auto const old = elements(stored);
        ASSERT_TRUE(save()) << r.key << "\n" << peer.dump();
        auto const now = elements(stored);
        EXPECT_EQ(changed(old, now), std::set<std::string>{r.key}) << r.key;
        if (r.scale > 0) { // the number shown is the number stored, to the digits shown
            std::string const shown = cells(peer, r, 12);
            std::size_t const point = shown.find('.');
            int const digits =
                point == std::string::npos
                    ? 0
                    : int(shown.find_first_not_of("0123456789", point + 1) - point - 1);
            double const saved = std::atof(now.count(r.key) ? now.at(r.key).c_str() : "nan");
            EXPECT_NEAR(saved / r.scale, std::atof(shown.c_str()), 0.5 * std::pow(10.0, -digits))
                << r.key << " " << shown;
        }
    }
}

TEST_F(PluginSeamTest, MemoryPageShowsAndSavesEachText) {
    install();
    CoreDdoc::PROGRAM room = CoreDemo::prgrm(0);
    for (MEMORYROW const& r : memoryRows) {
        std::string const key = r.key;
        if (key == "NAME")
            room.name = r.known;
        else if (key == "CATEGORY")
            room.category = r.known;
        else
            room.values.emplace_back(key, r.known);
    }
    std::string const text = CoreDdoc::prgxm(room);
    ASSERT_TRUE(CoreButl::wrall(CoreAnsx((programs() + CoreDemo::sCprogramfiles[0]).c_str()),
                                text.data(), text.size()));

    CorePeer peer(rig->path());
    ASSERT_TRUE(page(peer, "  ProgMode")) << peer.dump();
    peer.post(0, 52, 3); // EDIT
    ASSERT_TRUE(page(peer, "  EditMode: Memory")) << peer.dump();
    auto at = [&](MEMORYROW const& r, char const* text) {
        return peer.row(r.row).substr(std::size_t(r.column), std::string(text).size());
    };
    for (MEMORYROW const& r : memoryRows) EXPECT_EQ(at(r, r.shown), r.shown) << r.key;
    // The name last: renaming proposes the version name the save takes.
    for (std::size_t k = std::size(memoryRows); k-- > 0;) {
        MEMORYROW const& r = memoryRows[k];
        if (k > 0) type(peer, r.column, r.row, r.typed);
        EXPECT_TRUE(CorePeer::until([&] { return k == 0 || at(r, r.saved) == r.saved; }, kWait))
            << r.key << "\n"
            << peer.dump();
    }
    std::string const file = version(peer, memoryRows[0].typed);
    ASSERT_NE(file, "") << peer.dump();
    auto const saved = elements(readAll(file));
    for (MEMORYROW const& r : memoryRows)
        EXPECT_EQ(saved.count(r.key) ? saved.at(r.key) : "(none)", r.saved) << r.key;
}

TEST_F(PluginSeamTest, ProgramPagesStoreWhatTheyAreWorked) {
    install();
    CorePeer peer(rig->path());
    ASSERT_TRUE(page(peer, "  ProgMode")) << peer.dump();
    peer.post(4, 2); // the sweep
    ASSERT_TRUE(page(peer, "  ListMode")) << peer.dump();
    peer.post(0, 3, 13); // PROG
    ASSERT_TRUE(page(peer, "  ProgMode")) << peer.dump();
    // Each field is moved once so that every section it lives in is in the
    // program, a version is saved, and each is moved back: the next
    // version differs from that one where the fields are stored.
    std::string versions[2];
    std::set<std::string> expected{"NAME"};
    for (int pass = 0; pass < 2; ++pass) {
        for (PROGRAMROW const& r : programRows) {
            char const* title = r.menu == 23   ? "  EditMode: Global"
                                : r.menu == 33 ? "  EditMode: LFOs"
                                               : "  EditMode: FUNs";
            if (!peer.titled(title)) {
                if (!peer.titled("  EditMode")) peer.post(0, 52, 3); // EDIT
                ASSERT_TRUE(page(peer, "  EditMode")) << peer.dump();
                peer.post(0, r.menu, 13);
                ASSERT_TRUE(page(peer, title)) << peer.dump();
            }
            EXPECT_TRUE(drag(peer, r.column, r.row, r.down != (pass == 1)))
                << r.path << " pass " << pass << "\n"
                << peer.dump();
            expected.insert(r.path);
        }
        peer.post(0, 3, 13); // MEMO
        ASSERT_TRUE(page(peer, "  EditMode: Memory")) << peer.dump();
        versions[pass] = version(peer, pass == 0 ? "Seam A" : "Seam B");
        ASSERT_NE(versions[pass], "") << peer.dump();
    }
    EXPECT_EQ(changed(elements(readAll(versions[0])), elements(readAll(versions[1]))), expected);
}
} // namespace
