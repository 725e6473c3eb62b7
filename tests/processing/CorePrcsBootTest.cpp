// ctest-labels: threads
// The boot and the program load on a generated installation: the twelve
// boot lines in order through the property bus, the frozen boot after a
// failing step, the settings the boot completes; then loads of other
// locations while audio runs (inline and on the worker), whose output must be
// the naive convolution of the generated impulse files after the latency,
// and loads that fail, which fall back to location 0 and never leave a lock held.
#include "processing/CorePrcs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "modulation/CorePrm_.h"
#include "program/CoreMmry.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "storage/CoreFsys.h"
#include "tests/processing/CorePrcsPeek.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

using Signal = std::vector<double>;

// Kernels of the installation: location 0, 1 and 2 play them. The reader
// takes the silence that leads both channels of "Two" as its time offset,
// which the engine takes off the latency.
Signal const kInit[2] = {DataKit::impulse(200, 0, 0.8), DataKit::impulse(200, 0, -0.5)};
Signal const kOne[2] = {DataKit::impulse(150, 0, -0.6), DataKit::ramp(150, 0.3, -0.1)};
Signal const kTwo[2] = {DataKit::impulse(120, 5, 0.7), DataKit::impulse(120, 5, -0.4)};
constexpr int kTwoOffset = 5;

class CorePrcsBootTest : public ::testing::Test, protected EngineKit {
protected:
    // Locations: 0 "Init", 1 "One", 2 "Two", 3 a program with a missing
    // impulse, 4 a file that is no program; the bank boots location load.
    void install(KitValues extra = {{"DSPBUFFER", "256"}}, int load = 1) {
        extra.push_back({"OTIMED", "3"}); // no engine timing at every boot
        kit.wav("INIT.WAV", {kInit[0], kInit[1]});
        kit.wav("ONE.WAV", {kOne[0], kOne[1]});
        kit.wav("TWO.WAV", {kTwo[0], kTwo[1]});
        auto program = [&](char const* file, char const* name, char const* wav) {
            KitProgram p(name, "");
            p.slots.push_back(KitVector{{wav}});
            kit.program(file, p);
        };
        program("INIT.XML", "Init", "INIT.WAV");
        program("ONE.XML", "One", "ONE.WAV");
        program("TWO.XML", "Two", "TWO.WAV");
        program("LOST.XML", "Lost", "NONE.WAV");
        std::ofstream(kit.programs() + "JUNK.XML") << "<PROGRAM><NAME>Junk</NAME><H1>";
        kit.setup("BANK.XML", {"INIT.XML", "ONE.XML", "TWO.XML", "LOST.XML", "JUNK.XML"}, load);
        kit.master("BANK.XML", extra);
    }

    // One boot call through the property bus: the line, first and last.
    static std::string step(CorePrcs& e, bool all, bool& ok) {
        e.setbb(144, all, nullptr);
        ok = e.getbb(148, nullptr);
        return std::string(e.getbs(145, nullptr).c_str()) + (e.getbb(146, nullptr) ? " F" : "") +
               (e.getbb(147, nullptr) ? " L" : "");
    }

    std::string master() const {
        std::ifstream f(kit.code() + "VORLAN2.XML");
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    LogCapture log;
};

// Host calls of mixed sizes in double precision; the host's output.
void feed(CorePrcs& e, Signal const x[2], Signal out[2]) {
    long const sizes[] = {256, 100, 37, 512};
    long at = 0;
    for (std::size_t k = 0; at < static_cast<long>(x[0].size()); ++k) {
        long const n = std::min<long>(sizes[k % 4], static_cast<long>(x[0].size()) - at);
        Signal il(x[0].begin() + at, x[0].begin() + at + n);
        Signal ir(x[1].begin() + at, x[1].begin() + at + n);
        Signal ol(n), orr(n);
        void* ins[2] = {il.data(), ir.data()};
        void* outs[2] = {ol.data(), orr.data()};
        e.prcss(ins, outs, n, true, 0, 0.0, true, 2);
        out[0].insert(out[0].end(), ol.begin(), ol.end());
        out[1].insert(out[1].end(), orr.begin(), orr.end());
        at += n;
    }
}

// Noise after silence (the controls settle over the first updates): the
// output, after the latency less the program's offset, must be the input
// convolved with kernel; the impulse files hold floats, hence the tolerance.
void expectSound(CorePrcs& e, Signal const kernel[2], std::string const& where, int offset = 0) {
    CorePrcsPeek p{e};
    p.gains(0.5, 0.5);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    Signal x[2] = {Signal(6000, 0.0), Signal(6000, 0.0)};
    for (int c = 0; c < 2; ++c)
        for (int i = 2048; i < 6000; ++i) x[c][i] = u(rng);
    Signal out[2];
    feed(e, x, out);
    long const latency = p.base() + p.ahead() - offset;
    for (int c = 0; c < 2; ++c) {
        // From the noise on: the silence still carries what came before.
        Signal const want = naiveConvolution(x[c], kernel[c], kernel[c], x[c].size());
        Signal const tail(want.begin() + 2048, want.end() - latency);
        Signal const got(out[c].begin() + 2048 + latency, out[c].end());
        EXPECT_LT(relativeError(got, tail), 1e-6) << where << " channel " << c;
    }
}

} // namespace

TEST_F(CorePrcsBootTest, TwelveStepsReportTheirLinesThenTheBootProgramPlays) {
    install();
    auto e = make();
    std::string const sse = CorePrcs::issm2() ? "SSE2 supported " : "SSE2 not supported ";
    std::vector<std::string> const want = {"BREVANTA LOADER ver 1.3.508 F",
                                           "DEBUG level: " +
                                               std::to_string(CorePrcsPeek{*e}.debug()),
                                           "MASTER Ok (vorlan2.xml)",
                                           "ROM MEMORY Ok (bank.xml)",
                                           "PROGRAM MANAGER Ok ",
                                           sse,
                                           "CONVOLVER ENGINE Ok ",
                                           "GRAPHICS Ok ",
                                           "PROGRAM #0 Ok (one)",
                                           "SETTINGS Ok ",
                                           "STARTING...",
                                           "STARTING... L"};
    bool ok = false;
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(step(*e, false, ok), want[i]) << i << log.text();
        EXPECT_TRUE(ok) << i;
        EXPECT_EQ(e->getbi(145, nullptr), static_cast<int>(i));
        EXPECT_EQ(e->getbb(46, nullptr), i < 10) << i; // boot pending
    }
    EXPECT_EQ(step(*e, false, ok), " L"); // after completion: nothing, last
    EXPECT_TRUE(ok);
    EXPECT_FALSE(e->getby());
    EXPECT_EQ(e->getbi(67, nullptr), 1);
    expectSound(*e, kOne, "boot program");

    // The whole boot in one call; without LOAD location 0 stays, not selected.
    install({{"DSPBUFFER", "256"}}, -1);
    auto f = make();
    EXPECT_EQ(step(*f, true, ok), "STARTING... L");
    EXPECT_TRUE(ok);
    EXPECT_EQ(f->getbi(67, nullptr), 0);
    EXPECT_FALSE(CorePrcsPeek{*f}.selected());
    EXPECT_FALSE(f->fboot()); // nothing pending
    expectSound(*f, kInit, "location 0");
}

TEST_F(CorePrcsBootTest, AFailingStepFreezesTheBootAndTheEngineStaysUsable) {
    struct Row {
        char const* what;
        int failing;                 // step that fails
        std::string line;            // its line
        char const* first = nullptr; // location 0's file in the bank, for step 8
    } const rows[] = {
        {"no master", 2, "MASTER Ko: master descriptor not found (vorlan2.xml)"},
        {"no setup", 3, "ROM MEMORY Ko: rom descriptor not found (gone.xml)"},
        {"location 0 cut short", 8, "PROGRAM #0 Ko: cut short (junk.xml)", "JUNK.XML"},
        {"location 0 too large", 8, "PROGRAM #0 Ko: too large (big.xml)", "BIG.XML"},
        // Read by the bank, refused by the loader: the load's own reason.
        {"location 0 not loaded", 8, "PROGRAM #0 Ko: not usable (lost.xml)", "LOST.XML"},
    };
    for (Row const& r : rows) {
        install();
        if (r.failing == 2) std::remove((kit.code() + "VORLAN2.XML").c_str());
        if (r.failing == 3) kit.master("GONE.XML", {{"DSPBUFFER", "256"}});
        std::string const big = kit.programs() + "BIG.XML";
        std::ofstream(big) << "<PROGRAM>";
        std::filesystem::resize_file(big, CoreButl::iCwholebytes + 1); // sparse, past the bound
        if (r.first) kit.setup("BANK.XML", {r.first, "ONE.XML"}, 1);
        auto e = make();
        bool ok = true;
        std::string line;
        for (int i = 0; i <= r.failing; ++i) line = step(*e, false, ok);
        EXPECT_EQ(line, r.line) << r.what;
        EXPECT_FALSE(ok) << r.what;
        EXPECT_EQ(step(*e, true, ok), " L") << r.what; // frozen: nothing runs
        EXPECT_FALSE(ok);
        EXPECT_TRUE(e->getbb(46, nullptr)) << r.what; // still pending, in bypass
        EXPECT_TRUE(e->getby());
        Signal x[2] = {Signal(1000, 0.25), Signal(1000, -0.25)};
        Signal out[2];
        feed(*e, x, out); // bypass path: no lock left held
        EXPECT_EQ(out[0].size(), 1000u);
    }
}

// A reason too long for its row is named by the system's words in it, never by a name it holds.
TEST_F(CorePrcsBootTest, ShortCausesAreTheReasonsWordsNotItsNames) {
    install();
    for (auto const& [reason, saved, booted] :
         {std::tuple{"Too many levels of symbolic links", "LINK LOOP", "a link loop"},
          {"cannot write DRUMLOOP.XML in loops/quota/: I/O error", "SEE THE LOG", "not usable"}}) {
        auto e = make();
        EXPECT_EQ(CorePrcsPeek{*e}.saveLine(reason), std::string("NOT SAVED: ") + saved);
        EXPECT_EQ(CorePrcsPeek{*e}.masterKo(reason),
                  std::string("MASTER Ko: master descriptor ") + booted + " (vorlan2.xml)");
    }
}

TEST_F(CorePrcsBootTest, TheBootCompletesTheSettingsItFoundMissing) {
    struct Row {
        int hostblock;
        int stored;
    } const rows[] = {{100, 512}, {3000, 4096}, {20000, 8192}};
    for (Row const& r : rows) {
        install({{"OFREQD", "3"}}); // a direct engine: not a block engine
        auto e = make();
        CorePrcsPeek p{*e};
        ASSERT_TRUE(p.dspmissing());
        int const block = p.block();
        e->blksz(r.hostblock);
        bool ok = false;
        step(*e, true, ok);
        ASSERT_TRUE(ok) << log.text();
        std::string const text = master();
        EXPECT_NE(text.find("<DSPBUFFER> " + std::to_string(r.stored) + " </DSPBUFFER>"),
                  std::string::npos)
            << r.hostblock << text;
        EXPECT_NE(text.find("<FASTBOOT> 1 </FASTBOOT>"), std::string::npos);
        EXPECT_EQ(e->getbh(51, nullptr), 11); // OFREQD replaced
        EXPECT_EQ(p.block(), block);          // the running instance keeps its block
    }
}

TEST_F(CorePrcsBootTest, LoadsWhileAudioRunsSwitchTheSoundAndFailuresFallBack) {
    for (char const* threads : {"0", "1"}) {
        install({{"DSPBUFFER", "256"}, {"THREADS", threads}});
        auto e = make();
        ASSERT_FALSE(e->fboot()) << log.text();
        std::atomic<bool> stop{false};
        std::thread audio([&] {
            Signal x[2] = {Signal(300, 0.1), Signal(300, -0.1)};
            while (!stop.load()) {
                Signal out[2];
                feed(*e, x, out);
            }
        });
        CorePrcsPeek p{*e};
        struct Load {
            int slot;
            bool ok;
            char const* name; // program in force afterwards
        } const loads[] = {{2, true, "Two"},   {3, false, "Init"}, {1, true, "One"},
                           {4, false, "Init"}, {9, false, "Init"}, {2, true, "Two"}};
        for (Load const& l : loads) {
            EXPECT_EQ(e->ldpdm(l.slot, false), l.ok) << threads << " slot " << l.slot;
            EXPECT_EQ(p.fellBack(), !l.ok);
            EXPECT_EQ(p.programName(), l.name) << threads << " slot " << l.slot;
        }
        stop.store(true);
        audio.join();
        expectSound(*e, kTwo, std::string("threads ") + threads, kTwoOffset);
        e->setbi(88, 1, nullptr); // through the bus: loaded and current
        EXPECT_EQ(e->getbi(67, nullptr), 1);
        expectSound(*e, kOne, std::string("threads ") + threads);
        e->ldpdm(3, false);
        expectSound(*e, kInit, std::string("fallback, threads ") + threads);
        // The display's progress row: the last kernel built, in percent.
        CorePrcs::BEANSTRUCT row{0, 0};
        EXPECT_EQ(std::string(e->getbs(221, &row).c_str()), "Executing H1: 0%");
        // The reader alone: the program and the location, no stages; an
        // empty location reads nothing. A selecting load that falls back
        // names location 0, which plays, and reports the location that failed.
        e->setbv(222, nullptr);
        EXPECT_EQ(std::string(e->getbs(221, &row).c_str()), "");
        EXPECT_EQ(e->ldpfs(1), 1);
        EXPECT_EQ(std::string(e->getbs(221, &row).c_str()), "Executing H1: 0%");
        EXPECT_EQ(p.programName(), "One");
        EXPECT_EQ(e->getbi(67, nullptr), 1);
        EXPECT_EQ(e->ldpfs(9), 0);
        EXPECT_EQ(e->getbi(67, nullptr), 1);
        EXPECT_EQ(e->setpg(3, false), 3);
        EXPECT_EQ(p.programName(), "Init");
        EXPECT_EQ(e->getbi(67, nullptr), 0);
        EXPECT_TRUE(e->getbb(CoreBnid::iCfallback, nullptr));
        EXPECT_EQ(e->getbi(CoreBnid::iCfailedslot, nullptr), 3);
        EXPECT_EQ(e->setpg(2, false), 2);
        expectSound(*e, kTwo, std::string("selected, threads ") + threads, kTwoOffset);
    }
}

TEST_F(CorePrcsBootTest, AnArchiveFindsItsVectorsUnderTheProgramFolderAndFreesTheImpulses) {
    install();
    // The impulse bytes as a WAV file makes them, then only inside the archive.
    std::string const loose = kit.wav("PACKED.WAV", {kOne[0], kOne[1]});
    std::ifstream f(loose, std::ios::binary);
    std::string const bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::remove(loose.c_str());
    KitProgram arc("Packed", "", {{"VECTORFILENAME", "PACK"}});
    arc.slots.push_back(KitVector{{"PACKED.WAV"}});
    kit.archive("programs/ARC.V2P", {{"ARC.XML", DataKit::programXml(arc)}});
    kit.archive("programs/PACK.V2V", {{"PACKED.WAV", bytes}}); // not in the vector folder
    kit.setup("BANK.XML", {"INIT.XML", "ARC.V2P"}, -1);
    auto e = make();
    ASSERT_FALSE(e->fboot()) << log.text();
    CorePrcsPeek p{*e};
    ASSERT_TRUE(e->ldpdm(1, false)) << log.text();
    EXPECT_EQ(p.programName(), "Packed");
    CoreFsys& store = *p.programStore();
    int const item = store.getit("PACKED.WAV");
    ASSERT_GE(item, 0);
    EXPECT_FALSE(store.isvld(item)); // built into kernels, then released
    expectSound(*e, kOne, "archive");

    // Without the vector archive anywhere: location 0 plays instead.
    std::remove((kit.programs() + "PACK.V2V").c_str());
    EXPECT_FALSE(e->ldpdm(1, false));
    EXPECT_TRUE(p.fellBack());
    expectSound(*e, kInit, "no vector archive");

    // Location 0 failing too: nothing plays, and no lock stays held.
    KitProgram lost("Lost", "");
    lost.slots.push_back(KitVector{{"NONE.WAV"}});
    p.memory()->setvl(0, CoreAnsx(DataKit::programXml(lost).c_str()), false);
    EXPECT_FALSE(e->ldpdm(1, false));
    Signal x[2] = {Signal(3000, 0.3), Signal(3000, -0.3)};
    Signal out[2];
    feed(*e, x, out);
    for (int c = 0; c < 2; ++c)
        for (double v : out[c]) ASSERT_EQ(v, 0.0);
    e->lockp();
    e->rlsep();
}

TEST_F(CorePrcsBootTest, AnInstallerMergeWithoutCacheFolderDeletesNothingButItsFile) {
    install();
    std::string const installer = kit.code() + "VORLAN2_installer.XML";
    std::ofstream(installer) << "<MASTER><GUIRATE>50000</GUIRATE></MASTER>";
    std::string const keep = kit.data() + "KEEP.TXT";
    std::ofstream(keep) << "mine";
    auto e = make();
    ASSERT_TRUE(CorePrcsPeek{*e}.merged());
    ASSERT_FALSE(e->fboot()) << log.text();
    EXPECT_TRUE(std::ifstream(keep).good());
    EXPECT_FALSE(std::ifstream(installer).good());
    EXPECT_NE(master().find("<GUIRATE> 50000 </GUIRATE>"), std::string::npos);
}

TEST_F(CorePrcsBootTest, TheBootDeletesOnlyWhatIsOurs) {
    TempDir elsewhere{"vorlanelsewhere"}; // the user's, also an alternative data path
    std::string const other = elsewhere.folder() + DataKit::programSub;
    std::filesystem::create_directories(other);
    std::filesystem::create_directories(kit.data() + "cache");
    std::filesystem::create_directory_symlink(elsewhere.path(), kit.data() + "link");
    install();
    // Save temporaries: no process has the id 999999999.
    std::string const gone = ".~999999999.", mine = ".~" + std::to_string(::getpid()) + ".";
    struct Temporary {
        std::string path;
        bool old, swept;
    } const temporaries[] = {{kit.code() + "VORLAN2.XML" + gone + "0", true, true},
                             {kit.programs() + "ONE.XML" + gone + "12", true, true},
                             {kit.setups() + "BANK.XML" + gone + "1", true, true},
                             {other + "X.XML" + gone + "2", true, true},
                             {kit.programs() + "TWO.XML" + gone + "3", false, false},
                             {kit.programs() + "TWO.XML" + mine + "4", true, false},
                             {kit.programs() + "TWO.XML" + gone + "x", true, false}};
    for (Temporary const& t : temporaries) {
        std::ofstream(t.path) << "half";
        if (t.old)
            std::filesystem::last_write_time(t.path, std::filesystem::file_time_type::clock::now() -
                                                         std::chrono::minutes(11));
    }
    auto entries = [](std::string const& folder) {
        std::filesystem::directory_iterator all(folder);
        return std::distance(begin(all), end(all));
    };
    struct Row {
        std::string sub, folder; // CACHESUBPATH, the folder it comes to
        bool emptied;
    } const rows[] = {{"cache/", kit.data() + "cache/", true},
                      {"../", kit.code(), false},
                      {"/", kit.data(), false},
                      {elsewhere.folder(), elsewhere.folder(), false},
                      {"link/", elsewhere.folder(), false}};
    for (Row const& r : rows) {
        kit.master("BANK.XML", {{"DSPBUFFER", "256"},
                                {"OTIMED", "3"},
                                {"CACHESUBPATH", r.sub},
                                {"ALTERNATIVEDATAPATH", elsewhere.folder()}});
        std::ofstream(kit.code() + "VORLAN2_installer.XML") << "<MASTER></MASTER>";
        std::ofstream(r.folder + "USER.TXT") << "mine";
        auto const before = entries(r.folder);
        ASSERT_FALSE(make()->fboot()) << r.sub << log.text();
        EXPECT_NE(std::ifstream(r.folder + "USER.TXT").good(), r.emptied) << r.sub;
        bool const refused =
            log.text().find("Cache folder not emptied: " + kit.data() + r.sub) != std::string::npos;
        EXPECT_NE(refused, r.emptied) << r.sub << log.text();
        EXPECT_TRUE(r.emptied || entries(r.folder) <= before) << r.sub << ": records written there";
    }
    for (Temporary const& t : temporaries)
        EXPECT_NE(std::ifstream(t.path).good(), t.swept) << t.path;
}

TEST_F(CorePrcsBootTest, MixControlsBindTheLowestShownModulatorOfTheirNumber) {
    install();
    auto e = make();
    ASSERT_FALSE(e->fboot());
    CoreProg& g = *CorePrcsPeek{*e}.program();
    struct Row {
        short k;
        char const* prelabel;
        bool shown;
    } const rows[] = {{5, "3", true}, {2, "3", true},  {1, "3", false},
                      {9, "8", true}, {11, "9", true}, {12, "1", true}};
    for (Row const& r : rows) {
        CorePrm_* m = g.getpm(r.k);
        m->setvl(true);
        m->setlb(CoreAnsx("L"));
        m->setpl(CoreAnsx(r.prelabel));
        m->setds(r.shown);
    }
    e->adjif();
    short const want[10] = {12, -1, 2, -1, -1, -1, -1, 9, -1, -1};
    for (short j = 0; j < 10; ++j) EXPECT_EQ(g.getif(j)->getcp(), want[j]) << "control " << j;
}

TEST_F(CorePrcsBootTest, TheScanFeedsBankTwoAndAFrozenBootReadsTheCacheOfTheLastOne) {
    install();
    kit.program("EXTRA.XML", KitProgram("Extra", ""));
    auto e = make();
    ASSERT_FALSE(e->fboot()) << log.text();
    std::string const cache = kit.setups() + CoreMmry::sCscanboot.c_str();
    std::ifstream scanned(cache);
    ASSERT_TRUE(scanned.good()) << cache;
    CoreMmry& memory = *CorePrcsPeek{*e}.memory();
    EXPECT_EQ(std::string(memory.getnm(200).c_str()), "Extra");

    // Frozen: no rescan (a new program stays unknown), bank 2 from the cache.
    install({{"DSPBUFFER", "256"}, {"FROZENBOOT", "1"}});
    kit.program("LATER.XML", KitProgram("Later", ""));
    auto f = make();
    ASSERT_FALSE(f->fboot()) << log.text();
    CoreMmry& frozen = *CorePrcsPeek{*f}.memory();
    EXPECT_EQ(std::string(frozen.getnm(200).c_str()), "Extra");
    EXPECT_EQ(frozen.srcnm("Later"), -1);

    // Closed once the scan has listed the folder, while it reads what it
    // found: the boot ends at the bank step.
    install();
    for (int k = 0; k < 1000; ++k)
        kit.program("S" + std::to_string(k) + ".XML", KitProgram("S", ""));
    std::remove(cache.c_str());
    auto c = make();
    std::thread closer([&] {
        for (int i = 0; i < 60000 && !std::filesystem::exists(cache); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        c->endbk();
    });
    bool ok = true;
    EXPECT_EQ(step(*c, true, ok), "ROM MEMORY Ko: rom descriptor not found (bank.xml)");
    closer.join();
}

TEST_F(CorePrcsBootTest, TheProgramPeriodAndTheHarmonicsLimitApplyAtLoad) {
    struct Row {
        char const* rate; // the program's PROGRAMRATE, "" none
        short hdim;       // the harmonics limit (bean 54) before the reload
        long period;      // us in force
        short order;      // smoothing order after the load
    };
    // A limit of 0 is taken as 1: it would silence every program.
    Row const rows[] = {
        {"", 1, 3000, 1}, {"0", 1, 3000, 1}, {"5000", 1, 5000, 1}, {"5000", 0, 5000, 1}};
    for (Row const& r : rows) {
        install();
        KitProgram timed("Timed", "", {{"SMOOTH", "1"}});
        if (*r.rate != '\0') timed.values.push_back({"PROGRAMRATE", r.rate});
        timed.slots.push_back(KitVector{{"ONE.WAV"}});
        kit.program("ONE.XML", timed);
        auto e = make();
        ASSERT_FALSE(e->fboot()) << log.text();
        e->setbh(54, r.hdim, nullptr);
        ASSERT_TRUE(e->ldpdm(1, false));
        CorePrcsPeek p{*e};
        EXPECT_EQ(p.period(), r.period) << r.rate << " " << r.hdim;
        EXPECT_EQ(p.order(), r.order) << r.rate << " " << r.hdim;
    }
}

// Whatever the program's time offset, its sync point (the impulse's loudest
// sample) leaves at the delay the engine reports, and the dry signal with it:
// the forced offset is latency in reserve, of which each load uses its
// program's offset. Without FORCEOFFSET the base latency has room for a
// one-sample offset only; a larger one plays that much later instead of
// reading output the block worker has not made.
TEST_F(CorePrcsBootTest, TheSyncPointLeavesAtTheReportedDelayWhateverTheOffset) {
    struct Row {
        char const* force;  // FORCEOFFSET, us; "" none
        char const* offset; // the vector's OFFSET, us; "" none
        int sync;           // the impulse's loudest sample
        int late;           // samples the sync point leaves after the input's lead
        bool dry;
        char const* threads;
    };
    Row const rows[] = {
        {"1000", "1000", 0, 0, false, "0"},  // the offset is the forced one (44 samples)
        {"1000", "500", 10, 0, true, "1"},   // below it: delayed by the difference
        {"1000", "3000", 30, 0, false, "1"}, // above it: cut to the forced offset
        {"10", "", 0, 0, true, "0"},         // a forced offset of no sample; the offset's one
        {"", "", 0, 0, false, "1"},          // no forcing: base latency, no lookahead
        {"", "500", 5, 21, true, "0"},       // no forcing, 22 samples of offset
    };
    for (Row const& row : rows) {
        std::string const where = std::string("FORCEOFFSET ") + row.force + " OFFSET " +
                                  row.offset + " threads " + row.threads;
        Signal file[2] = {Signal(160), Signal(160)};
        // Some sound ahead of the sync point, none in the first sample and
        // next to none at the end, where the kernel's fades act.
        for (int k = 1; k < 160; ++k) {
            file[0][k] = 0.3 * std::sin(0.7 * k) * std::exp(-k / 10.0);
            file[1][k] = -0.2 * std::cos(0.3 * k) * std::exp(-k / 9.0);
        }
        file[0][row.sync] = 0.95;
        file[1][row.sync] = -0.5;
        kit.wav("SYNC.WAV", {file[0], file[1]});
        KitProgram program("Sync", "");
        if (row.dry) program.values = {{"GAINDRYFACTOR", "-6"}, {"GAINDRYSOURCE", "ON"}};
        KitVector slot{{"SYNC.WAV"}};
        if (*row.offset) slot.common = {{"OFFSET", row.offset}};
        program.slots.push_back(slot);
        kit.program("SYNC.XML", program);
        kit.setup("BANK.XML", {"SYNC.XML"}, 0);
        KitValues values = {{"DSPBUFFER", "256"}, {"THREADS", row.threads}, {"OTIMED", "3"}};
        if (*row.force) values.push_back({"FORCEOFFSET", row.force});
        kit.master("BANK.XML", values);
        auto e = make();
        ASSERT_FALSE(e->fboot()) << where << log.text();
        CorePrcsPeek p{*e};
        ASSERT_EQ(p.programName(), "Sync") << where;
        if (*row.force) {
            ASSERT_EQ(p.lead(), p.compensation()) << where;
        }
        EXPECT_EQ(p.drydelay(), std::min(p.program()->getof(), std::max(p.forced(), 0) + 1));
        p.gains(0.5, 0.5);

        std::mt19937 rng(5);
        std::uniform_real_distribution<double> u(-0.5, 0.5);
        Signal x[2] = {Signal(8000, 0.0), Signal(8000, 0.0)};
        for (int c = 0; c < 2; ++c)
            for (int i = 2048; i < 8000; ++i) x[c][i] = u(rng);
        Signal out[2];
        feed(*e, x, out);
        long const wet = p.lead() + row.late - row.sync;
        double const dry = row.dry ? std::pow(10.0, -6.0 / 20.0) : 0.0;
        for (int c = 0; c < 2; ++c) {
            Signal const conv = naiveConvolution(x[c], file[c], file[c], x[c].size());
            Signal want, got;
            for (long t = 2048 + p.lead() + row.late; t < 8000; ++t) {
                want.push_back(conv[t - wet] + dry * x[c][t - p.lead()]);
                got.push_back(out[c][t]);
            }
            EXPECT_LT(relativeError(got, want), 1e-5) << where << " channel " << c;
        }
    }
}

// The master reader upper-cases the alternative data paths; a lower-case
// folder on disk is still found, and the program's folder is kept as the disk
// spells it, so what is read and written later goes to the real folder.
TEST_F(CorePrcsBootTest, AProgramInALowerCaseAlternativeFolderReadsItsFilesThere) {
    install();
    std::string const library = kit.code() + "library/";
    std::filesystem::create_directories(library + DataKit::programSub);
    std::filesystem::create_directories(library + DataKit::vectorSub);
    std::filesystem::rename(kit.vectors() + "TWO.WAV", library + DataKit::vectorSub + "TWO.WAV");
    std::filesystem::rename(kit.programs() + "TWO.XML", library + DataKit::programSub + "two.xml");
    kit.setup("BANK.XML", {"INIT.XML", "ONE.XML", "two.xml"}, -1);
    kit.master("BANK.XML",
               {{"DSPBUFFER", "256"}, {"OTIMED", "3"}, {"ALTERNATIVEDATAPATH", library}});
    auto e = make();
    ASSERT_FALSE(e->fboot()) << log.text();
    CorePrcsPeek p{*e};
    ASSERT_NE(p.alternatives(), library + "|"); // upper-cased as read
    ASSERT_TRUE(e->ldpdm(2, false)) << log.text();
    EXPECT_EQ(p.programName(), "Two");
    EXPECT_EQ(p.found(), library);
    expectSound(*e, kTwo, "lower-case alternative folder", kTwoOffset);
}
