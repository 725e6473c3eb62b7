// ctest-labels: threads
// The display inside the built plug-in, as the editor reaches it through the
// private properties: the boot through the boot page without an editor,
// input records, the program pop-up menu, the properties' checks, a reader
// racing the control thread's ticks, the host's parameters against the
// program page and the sound, closing during a batch and skins that fall
// back. One copy of the plug-in serves every case; each case writes
// the settings it needs beside it before it opens an instance.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "display/CoreCnst.h"
#include "skin/CoreStrp.h"
#include "tests/plugin/PluginRig.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"
#include "tools/CoreShot.h"
#include "tools/CoreTour.h"

namespace {

using ENTRY = CoreCnst::POPMENUENTRY;
using VALUES = std::vector<std::pair<std::string, std::string>>;
using V = PlatVst;
constexpr double kWait = 60.0;      // s: generous for a loaded machine under the sanitizers
constexpr int kHostParameters = 10; // mix 1 to 8, gain in, gain out

// The first number after `label` in text (past an indicator's glyphs); NaN
// when there is none.
double after(std::string const& text, std::string const& label) {
    std::size_t const at = text.find(label);
    if (at == std::string::npos) return std::nan("");
    std::size_t const from = text.find_first_of("-0123456789", at + label.size());
    return from == std::string::npos ? std::nan("") : std::strtod(text.c_str() + from, nullptr);
}

class PluginDisplayTest : public PluginRigTest {
protected:
    // The demo installation again, with these settings, a GUI rate that
    // ticks the display every 15 ms and the engine diagnostic already run.
    static void install(VALUES more = {}) {
        ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(rig->folder().c_str()), CoreAnsx("vorlan.so")));
        more.insert(more.begin(), {{"GUIRATE", "5000"}, kDiagnosed});
        ASSERT_TRUE(rig->settings(more));
    }
    static bool shows(CorePeer& p, char const* text) {
        return CorePeer::until([&] { return p.dump().find(text) != std::string::npos; }, kWait);
    }
    static bool booted(CorePeer& p) {
        return CorePeer::until([&] { return p.titled("  ProgMode"); }, kWait);
    }
};

// Menu row buttons (row 13): the column of each page's word.
constexpr int kMenuRow = 13;
constexpr int kProgColumn = 3;
constexpr int kKernColumn = 13;

TEST_F(PluginDisplayTest, BootsThroughTheBootPageWithoutAnEditor) {
    struct Row {
        char const* what;
        VALUES settings;
        bool removeSetup;
        char const* shown; // text on screen once the boot page is left
        int row;           // where it is
    } const rows[] = {
        {"full set: page 0, detail view", {}, false, " RELOAD ", 1},
        {"simple set: page 18", {{"MODE", " 0 "}}, false, "BYPASS", 1},
        {"no bank setup: page 21, the failing line", {}, true, "3  ROM MEMORY Ko", 3},
        {"a long bank name, shortened on its row",
         {{"SETUPROMNAME", "AVERYLONGBANKNAME.XML"}},
         true,
         "3  ROM MEMORY Ko: rom descriptor not found (averylong...)",
         3},
    };
    for (Row const& r : rows) {
        install(r.settings);
        if (r.removeSetup) std::filesystem::remove(rig->folder() + "data/setups/DEMO.XML");
        CorePeer peer(rig->path());
        ASSERT_TRUE(peer.host().valid()) << r.what;
        bool reached = CorePeer::until(
            [&] { return peer.row(r.row).find(r.shown) != std::string::npos; }, kWait);
        ASSERT_TRUE(reached) << r.what << "\n" << peer.dump();
        if (r.removeSetup) {
            // The error page stays: a later tick changes nothing.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_NE(peer.row(r.row).find(r.shown), std::string::npos) << peer.dump();
            EXPECT_EQ(peer.row(r.row + 1).find_first_not_of(' '), std::string::npos)
                << peer.dump(); // nothing wrapped onto the next row
        } else {
            EXPECT_TRUE(peer.titled("  ProgMode")) << r.what << "\n" << peer.dump();
            // The host heard of the boot's end.
            EXPECT_TRUE(peer.host().wtupd(0, kWait)) << r.what;
        }
    }
}

TEST_F(PluginDisplayTest, InputRecordsReachTheDisplay) {
    install();
    CorePeer peer(rig->path());
    ASSERT_TRUE(booted(peer)) << peer.dump();
    // A click on the menu row's KERN, then PROG; then a program-chosen
    // record, which the display posts as a batch returning to the list page.
    peer.post(0, kKernColumn, kMenuRow);
    ASSERT_TRUE(CorePeer::until([&] { return peer.titled("  KernelMode"); }, kWait)) << peer.dump();
    peer.post(0, kProgColumn, kMenuRow);
    ASSERT_TRUE(booted(peer)) << peer.dump();
    int const updates = peer.host().updts();
    // Words the record carries besides the slot.
    peer.post(4, CoreDemo::iCsaturator, 77, -5, 123456);
    ASSERT_TRUE(CorePeer::until([&] { return peer.titled("  ListMode"); }, kWait)) << peer.dump();
    EXPECT_TRUE(peer.host().wtupd(updates, kWait)); // the batch's end reached the host
    EXPECT_TRUE(shows(peer, "  2 DISTORTION/DEMO SATURATOR")) << peer.dump();
}

TEST_F(PluginDisplayTest, ProgramMenuArmsListsAndLoadsALeaf) {
    install();
    CorePeer peer(rig->path());
    ASSERT_TRUE(booted(peer)) << peer.dump();
    EXPECT_GE(peer.heard(100106), 1); // the arming on page 0's entry
    std::vector<ENTRY> list = peer.entries();
    ASSERT_GE(list.size(), 9u); // title, four categories, four programs
    // Pre-order with parent indexes: a category, then its programs under it.
    int leaf = -1;
    for (std::size_t k = 1; k < list.size(); ++k) {
        std::string const text = list[k].text;
        int const parent = list[k].parent;
        bool const program = !text.empty() && std::isdigit(static_cast<unsigned char>(text[0]));
        if (program) {
            ASSERT_GE(parent, 1) << text;
            ASSERT_LT(parent, int(k)) << text;
            if (text.rfind("3", 0) == 0) leaf = int(k);
        } else {
            EXPECT_EQ(parent, -1) << text;
        }
    }
    ASSERT_GT(leaf, 0);
    EXPECT_EQ(std::string(list[std::size_t(list[std::size_t(leaf)].parent)].text).find("MODU"), 0u);

    // The title loads nothing.
    int const updates = peer.host().updts();
    ASSERT_EQ(peer.set(100108, &list[0], 52), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(peer.titled("  ProgMode"));
    EXPECT_EQ(peer.host().updts(), updates);
    // A leaf loads its program: a batch, back to page 0, which arms again.
    int const armings = peer.heard(100106);
    ASSERT_EQ(peer.set(100108, &list[std::size_t(leaf)], 52), 1);
    ENTRY first{};
    ASSERT_EQ(peer.get(100107, &first, 52), 52); // the choice stands over entry 0
    EXPECT_EQ(std::memcmp(&first, &list[std::size_t(leaf)], 52), 0);
    EXPECT_TRUE(peer.host().wtupd(updates, kWait));
    EXPECT_TRUE(booted(peer)) << peer.dump();
    EXPECT_TRUE(CorePeer::until([&] { return peer.heard(100106) > armings; }, kWait));
    // The slot field of page 0 shows the loaded program's slot.
    EXPECT_TRUE(CorePeer::until(
        [&] {
            std::string const field = peer.row(2).substr(16, 8);
            return field.find('3') != std::string::npos && field.find('0') == std::string::npos;
        },
        kWait))
        << peer.dump();
}

TEST_F(PluginDisplayTest, PrivatePropertiesCheckEverySizeAndPointer) {
    install();
    CorePeer peer(rig->path());
    ASSERT_TRUE(booted(peer)) << peer.dump();
    unsigned char const mouse[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    unsigned char const capture = 1;
    ASSERT_EQ(peer.set(100101, mouse, 12), 1);
    ASSERT_EQ(peer.set(100105, &capture, 1), 1);
    unsigned char arm[20];
    ASSERT_EQ(peer.get(100106, arm, 20), 1);

    // Refused sets: wrong sizes, null data, unknown ids.
    unsigned char junk[64];
    std::memset(junk, 0xA5, sizeof junk);
    struct SET {
        int id;
        unsigned long size;
        bool null;
    } const sets[] = {
        {100100, 19, false}, {100100, 21, false}, {100100, 20, true},  {100101, 11, false},
        {100101, 13, false}, {100101, 12, true},  {100105, 0, false},  {100105, 2, false},
        {100105, 1, true},   {100106, 19, false}, {100106, 21, false}, {100106, 20, true},
        {100108, 51, false}, {100108, 53, false}, {100108, 52, true},  {100102, 20, false},
        {100104, 8, false},  {100107, 52, false}, {99, 20, false},     {-1, 1, false}};
    for (SET const& s : sets)
        EXPECT_EQ(peer.set(s.id, s.null ? nullptr : junk, s.size), 0) << s.id << " " << s.size;
    // Refused gets: short capacities, null data, unknown ids; nothing written.
    struct GET {
        int id;
        int capacity;
        bool null;
    } const gets[] = {{100101, 11, false}, {100101, 12, true},  {100106, 19, false},
                      {100106, 20, true},  {100105, 1, true},   {100104, 7, false},
                      {100104, 0, false},  {100104, -8, false}, {100104, 8, true},
                      {100107, 51, false}, {100107, 52, true},  {100100, 20, false},
                      {100108, 52, false}, {100103, 20, false}, {0, 20, false}};
    for (GET const& g : gets) {
        std::memset(junk, 0x5A, sizeof junk);
        EXPECT_EQ(peer.get(g.id, g.null ? nullptr : junk, g.capacity), 0)
            << g.id << " " << g.capacity;
        for (unsigned char b : junk) ASSERT_EQ(b, 0x5A) << g.id;
    }
    // Refused bus calls: no record, a short one, an unknown accessor.
    CorePrvt::CALL bus;
    bus.kind = CorePrvt::iCbus;
    bus.id = 48;
    EXPECT_EQ(peer.call(bus), 0);
    CorePrvt::BUSCALL record;
    bus.data = &record;
    bus.size = sizeof record - 1;
    EXPECT_EQ(peer.call(bus), 0);
    EXPECT_EQ(peer.bus(48, 'x').kind, 0);
    EXPECT_EQ(peer.bus(48, 'x', 0, 0, true).kind, 0);
    EXPECT_EQ(peer.bus(48, 'h', 0, 0, true, 1e6).kind, 0);
    EXPECT_EQ(peer.bus(48, 'h', 0, 0, true, std::nan("")).kind, 0);
    // What was stored stands.
    unsigned char back[20] = {};
    ASSERT_EQ(peer.get(100101, back, 12), 1);
    EXPECT_EQ(std::memcmp(back, mouse, 12), 0);
    ASSERT_EQ(peer.get(100105, back, 1), 1);
    EXPECT_EQ(back[0], capture);
    ASSERT_EQ(peer.get(100106, back, 20), 1);
    EXPECT_EQ(std::memcmp(back, arm, 20), 0);
    EXPECT_TRUE(peer.titled("  ProgMode")); // no refused record reached the mailbox

    // The snapshot: total x 8 bytes at most; a shorter capacity, whole cells only.
    std::vector<double> whole(4000, -7.0), again(4000, -7.0), part(100, -7.0);
    int const total = CorePeer::iCcells;
    bool same = false;
    for (int attempt = 0; attempt < 50 && !same; ++attempt) { // a blink may fall between
        ASSERT_EQ(peer.get(100104, whole.data(), 4000 * 8), total * 8);
        ASSERT_EQ(peer.get(100104, part.data(), 100 * 8 + 5), 100 * 8);
        ASSERT_EQ(peer.get(100104, again.data(), total * 8), total * 8);
        same = std::equal(whole.begin(), whole.begin() + total, again.begin()) &&
               std::equal(part.begin(), part.end(), whole.begin());
    }
    EXPECT_TRUE(same);
    EXPECT_EQ(whole[std::size_t(total)], -7.0); // nothing past the cells
    for (int k = 0; k < total; ++k) {
        double v = whole[std::size_t(k)];
        ASSERT_TRUE(v == -1.0 || (v >= 0.0 && v < 1.0)) << k << " " << v;
    }
}

// A reader on the editor's properties while the control thread ticks and
// page 0 is entered (and its menu armed) 50 times.
TEST_F(PluginDisplayTest, ReaderRacesTheTicksAndTheArmings) {
    install();
    CorePeer peer(rig->path());
    ASSERT_TRUE(booted(peer)) << peer.dump();
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        std::vector<double> cells(CorePeer::iCcells);
        std::vector<ENTRY> list(64);
        while (!stop.load()) {
            peer.get(100104, cells.data(), int(cells.size() * 8));
            int bytes = peer.get(100107, list.data(), int(list.size() * 52));
            for (int k = 0; k < bytes / 52; ++k)
                if (std::memchr(list[std::size_t(k)].text, 0, 48) == nullptr) std::abort();
            reads.fetch_add(1);
        }
    });
    // The reader is joined whatever happens, so a failure reports itself.
    auto round = [&](int i) {
        int const armings = peer.heard(100106);
        peer.post(0, kKernColumn, kMenuRow);
        if (!CorePeer::until([&] { return peer.titled("  KernelMode"); }, kWait))
            return testing::AssertionFailure() << i << ": no kernel page\n" << peer.dump();
        peer.post(0, kProgColumn, kMenuRow);
        if (!CorePeer::until([&] { return peer.heard(100106) >= armings + 2; }, kWait))
            return testing::AssertionFailure()
                   << i << ": armings " << peer.heard(100106) - armings << "\n"
                   << peer.dump();
        if (!booted(peer)) return testing::AssertionFailure() << i << ": no program page";
        return testing::AssertionSuccess();
    };
    testing::AssertionResult rounds = testing::AssertionSuccess();
    for (int i = 0; i < 50 && rounds; ++i) rounds = round(i);
    stop.store(true);
    reader.join();
    ASSERT_TRUE(rounds);
    EXPECT_GT(reads.load(), 50);
    EXPECT_GE(peer.entries().size(), 7u);
}

// The host's parameters against the program page and the sound: each text
// agrees with the page (the gains with row 8, mix 1 with the sweep's
// modulator "1" in row 9), the gains play as they read, and a host value
// stands through a second of processing unechoed, until a program load.
TEST_F(PluginDisplayTest, HostParametersAgreeWithThePageAndTheSoundAndStand) {
    install();
    CorePeer peer(rig->path());
    CoreHost& host = peer.host();
    ASSERT_TRUE(booted(peer)) << peer.dump();
    V::Effect* e = host.getef();
    auto number = [&](int i) {
        char t[64] = {};
        host.dispt(V::opGetParamDisplay, i, 0, t);
        return std::strtod(t, nullptr);
    };
    float const values[kHostParameters] = {0.5f, 0.3f, 0.9f, 0.1f,  0.7f,
                                           0.6f, 0.2f, 0.8f, 0.25f, 0.7f};
    // Where page 0 shows them: mix 1 as the sweep's modulator "1", the gains
    // in row 8; the other mix controls drive nothing there.
    struct SHOWN {
        int index;         // the parameter
        int row;           // page 0's row
        char const* label; // the label before the figure
        double figure;     // the figure for the value above
    } const shown[] = {
        {0, 9, "1 LFO RATE:", 0.6}, {8, 8, "GAIN IN:", -6.0206}, {9, 8, "GAIN OUT:", 2.92256}};
    auto agree = [&](SHOWN const& r) {
        return CorePeer::until(
            [&] {
                return std::abs(after(peer.row(r.row), r.label) - r.figure) < 1e-3 &&
                       std::abs(number(r.index) - r.figure) < 1e-3;
            },
            kWait);
    };
    std::mt19937 g(7);
    std::uniform_real_distribution<double> d(-0.5, 0.5);
    CoreHost::CHANNELS x(2, std::vector<double>(88200)), unity, set;
    for (auto& c : x)
        for (double& v : c) v = static_cast<float>(d(g));
    // Level of the second half, when the room's reverb of what came before is over.
    auto level = [](CoreHost::CHANNELS const& y) {
        double sum = 0.0;
        for (auto const& c : y)
            for (std::size_t k = c.size() / 2; k < c.size(); ++k) sum += c[k] * c[k];
        return 10.0 * std::log10(sum);
    };

    // On the room (the demo programs' gains are 0 dB, "0.000").
    host.rendr(x, unity, true);
    EXPECT_EQ(number(8), 0.0);
    int const automated = host.automations();
    for (int i = 0; i < kHostParameters; ++i) e->setParameter(e, i, values[i]);
    for (int k : {1, 2}) EXPECT_TRUE(agree(shown[k])) << shown[k].label << "\n" << peer.dump();
    host.rendr(x, set, true);
    EXPECT_NEAR(level(set) - level(unity), shown[1].figure + shown[2].figure, 0.01);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int i = 0; i < kHostParameters; ++i) EXPECT_EQ(e->getParameter(e, i), values[i]) << i;
    EXPECT_EQ(host.automations(), automated); // nothing came back to the host

    // The sweep's load tells the host its values; then mix 1 moves its row.
    int const seen = host.updts();
    host.slot_(CoreDemo::iCsweep);
    ASSERT_TRUE(host.wtupd(seen, kWait));
    EXPECT_TRUE(CorePeer::until(
        [&] { return e->getParameter(e, 9) == 0.5f && e->getParameter(e, 1) == 0.0f; }, kWait));
    EXPECT_GT(host.automations(), automated);
    e->setParameter(e, 0, values[0]);
    EXPECT_TRUE(agree(shown[0])) << peer.dump();
}

TEST_F(PluginDisplayTest, ClosingDuringABatchWaitsForIt) {
    install();
    for (int i = 0; i < 3; ++i) {
        auto peer = std::make_unique<CorePeer>(rig->path());
        ASSERT_TRUE(booted(*peer)) << peer->dump();
        peer->post(4, 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(5 * i));
        peer.reset(); // LeakSanitizer checks that nothing stays behind
    }
}

TEST_F(PluginDisplayTest, SkinFallbacksStillOpenAnInstance) {
#if defined(__SANITIZE_THREAD__)
    // Six more loads and unloads of the instrumented shared object after the
    // cases above: ThreadSanitizer now and then fails to map its shadow
    // there (seen as "failed to allocate 0x1ec01210d4000 bytes"), while the
    // AddressSanitizer run never objects. The skin cases start no thread of
    // their own, so they are left to that run.
    GTEST_SKIP() << "skin cases run in the AddressSanitizer pass";
#endif
    std::string const good = "<SKIN><DISPLAYADDCHARS>20</DISPLAYADDCHARS><FONTS>"
                             "<FONTNAME>GREEN</FONTNAME><FONT1>A.PNG</FONT1><FONT2>B.PNG</FONT2>"
                             "<FONTNEG>C.PNG</FONTNEG></FONTS></SKIN>";
    struct Row {
        char const* what;
        char const* rom; // nullptr: no ROM.XML in the folder
        char const* name;
    } const rows[] = {
        {"malformed", "<SKIN><FONTS>", "BAD.V2S"},
        {"no ROM.XML", nullptr, "BAD.V2S"},
        {"a strip missing",
         "<SKIN><FONTS><FONTNAME>GREEN</FONTNAME><FONT1>A.PNG</FONT1></FONTS></SKIN>", "BAD.V2S"},
        {"DISPLAYADDCHARS -3", "<SKIN><DISPLAYADDCHARS>-3</DISPLAYADDCHARS><FONTS></FONTS></SKIN>",
         "BAD.V2S"},
        {"DISPLAYADDCHARS 500", nullptr, "BAD.V2S"},
        {"no such package", nullptr, "NONE.V2S"},
    };
    for (Row const& r : rows) {
        install({{"SKINNAME", r.name}});
        std::string const folder = rig->folder() + "data/skins/BAD.V2S/";
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::string rom = r.rom ? r.rom : "";
        if (std::string(r.what) == "DISPLAYADDCHARS 500") {
            rom = good;
            rom.replace(rom.find("20"), 2, "500");
        }
        if (!rom.empty()) std::ofstream(folder + "ROM.XML") << rom;
        CorePeer peer(rig->path());
        ASSERT_TRUE(peer.host().valid()) << r.what;
        EXPECT_NE(peer.host().getef()->flags & PlatVst::flagHasEditor, 0) << r.what;
        EXPECT_TRUE(booted(peer)) << r.what << "\n" << peer.dump();
    }
}

// The display-pictures command's built-in tour on the demo data: every shot
// is a readable PNG of the renderer's size (checked by decoding it again).
TEST_F(PluginDisplayTest, PicturesToolTakesItsTourOnTheDemoData) {
    install();
    std::vector<CoreTour::STEP> steps;
    std::string why;
    ASSERT_TRUE(CoreTour::parse(CoreShot::sCtour, steps, why)) << why;
    TempDir out{"vorlanshots"};
    {
        CorePeer peer(rig->path());
        ASSERT_TRUE(CoreShot::run(peer, steps, out.path(), why)) << why << "\n" << peer.dump();
    }
    int shots = 0;
    for (auto const& step : steps) {
        if (step.verb != "shot") continue;
        std::ifstream file(out.path() + "/" + step.text + ".png", std::ios::binary);
        std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), {}};
        CoreStrp::IMAGE image;
        ASSERT_TRUE(CoreStrp::decod(bytes.data(), int(bytes.size()), image)) << step.text;
        EXPECT_EQ(image.width, 58 * 8 * 2) << step.text;
        ++shots;
    }
    EXPECT_EQ(shots, 5);
}

} // namespace
