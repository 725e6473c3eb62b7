// The demo installation damaged as a user's disk damages it (files cut
// short, emptied, overwritten with garbage, the data path gone), each case
// booted by the engine beside it: either the whole program plays, exactly as
// the intact installation's does, or the load is refused visibly (the boot
// stops, or the location is listed as failed and location 0 plays) with a
// logged line naming the file; slot numbers never shift, and the master
// settings file is never rewritten from a document that did not parse.
#include "tools/CoreDemo.h"

#include "editor/CoreSkin.h"
#include "engine/CorePlel.h"
#include "program/CoreMmry.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "tests/processing/CorePrcsPeek.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

constexpr char const* kPlugin = "vorlan.so";
constexpr long kFrames = 24576; // past the delay the demo's settings give

class DamagedInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(temp.folder().c_str()), CoreAnsx(kPlugin)));
        std::mt19937 g(7);
        std::uniform_real_distribution<double> d(-0.5, 0.5);
        for (double& v : noise) v = d(g);
    }
    std::string data() const { return temp.folder() + CoreDemo::sCdatapath; }
    std::string master() const { return temp.folder() + "vorlan.xml"; }
    std::unique_ptr<CorePrcs> engine() {
        return std::make_unique<CorePrcs>(&pool, CoreAnsx(temp.folder().c_str()), 44100, nullptr,
                                          CoreAnsx(kPlugin), false, true, &shell, CoreAnsx("0"),
                                          false, &cache);
    }
    // The noise through the engine, both channels, from its gains at once.
    std::vector<double> render(CorePrcs& e) {
        CorePrcsPeek{e}.gains(0.5, 0.5);
        std::vector<double> out[2] = {std::vector<double>(kFrames), std::vector<double>(kFrames)};
        std::vector<double> in = noise;
        for (long at = 0; at < kFrames; at += 512) {
            void* ins[2] = {in.data() + at, in.data() + at};
            void* outs[2] = {out[0].data() + at, out[1].data() + at};
            e.prcss(ins, outs, 512, true, 4, 0.0, true, 2); // offline: nothing left to timing
        }
        out[0].insert(out[0].end(), out[1].begin(), out[1].end());
        return out[0];
    }
    // The log since mark holds an error line naming what.
    bool logged(std::size_t mark, std::string const& what) const {
        std::string const text = log.text();
        std::string const tail = text.size() > mark ? text.substr(mark) : "";
        for (std::size_t at = tail.find(what); at != std::string::npos;
             at = tail.find(what, at + 1)) {
            std::size_t const start = tail.rfind('\n', at);
            std::string const line =
                tail.substr(start == std::string::npos ? 0 : start, at - start);
            if (line.find("***ERROR***>") != std::string::npos) return true;
        }
        return false;
    }

    LogCapture log;
    TempDir temp{"vorlandamage"};
    CorePool pool;
    CorePlel cache{&pool};
    CoreFsys shell{&pool};
    std::vector<double> noise = std::vector<double>(kFrames);
};

TEST_F(DamagedInstallTest, ProgramsCutAnywhereEitherPlayWholeOrAreRefusedVisibly) {
    int const n = CoreDemo::iCprograms;
    std::vector<std::vector<double>> intact(n);
    std::vector<std::string> names(n);
    // The first boot completes the settings file (the engine choice among
    // them) that every later boot reads.
    ASSERT_FALSE(engine()->fboot()) << log.text();
    for (int p = 0; p < n; ++p) {
        auto e = engine();
        ASSERT_FALSE(e->fboot()) << log.text();
        e->setbi(88, p, nullptr);
        names[std::size_t(p)] = CorePrcsPeek{*e}.programName();
        intact[std::size_t(p)] = render(*e);
        double energy = 0.0;
        for (double v : intact[std::size_t(p)]) energy += v * v;
        ASSERT_GT(energy, 1.0) << p; // each plays within the render
    }
    struct Damage {
        std::string file; // under the data folder
        int program;      // whose load it breaks
        int keep;         // percent of the bytes kept; -1 garbage
    };
    std::vector<Damage> rows;
    for (int p = 0; p < n; ++p)
        for (int keep = 0; keep < 100; keep += 10)
            rows.push_back(
                {std::string(CoreDemo::sCprograms) + CoreDemo::sCprogramfiles[p], p, keep});
    rows.push_back({std::string(CoreDemo::sCprograms) + CoreDemo::sCprogramfiles[1], 1, -1});
    rows.push_back({std::string(CoreDemo::sCvectors) + "SAT2.WAV", 1, -1});

    std::string const masterBytes = readBytes(master());
    for (Damage const& d : rows) {
        std::string const path = data() + d.file;
        std::string const whole = readBytes(path);
        ASSERT_FALSE(whole.empty()) << path;
        writeBytes(path, d.keep < 0 ? std::string(whole.size(), '\x9c')
                                    : whole.substr(0, whole.size() * std::size_t(d.keep) / 100));
        std::string const label = d.file + " kept " + std::to_string(d.keep) + "%";
        std::size_t const mark = log.text().size();
        auto e = engine();
        CorePrcsPeek peek{*e};
        bool const bootFailed = e->fboot();
        CoreMmry& memory = *peek.memory();
        std::string const base = d.file.substr(d.file.rfind('/') + 1);
        if (bootFailed) {
            // Only location 0's program stops the boot: audio passes through.
            EXPECT_EQ(d.program, 0) << label;
            EXPECT_TRUE(e->getby()) << label;
            EXPECT_TRUE(logged(mark, base)) << label << log.text().substr(mark);
        } else {
            for (int p = 0; p < n; ++p) {
                // Nothing moved: a failed entry is listed as failed in its place.
                bool const failed = memory.faild(p);
                EXPECT_TRUE(failed ? p == d.program
                                   : memory.getnm(p) == CoreAnsx(names[std::size_t(p)].c_str()))
                    << label << " slot " << p;
            }
            e->setbi(88, d.program, nullptr);
            if (!peek.fellBack()) {
                EXPECT_EQ(peek.programName(), names[std::size_t(d.program)]) << label;
                EXPECT_EQ(render(*e), intact[std::size_t(d.program)]) << label;
            } else {
                EXPECT_TRUE(logged(mark, base)) << label << log.text().substr(mark);
                EXPECT_EQ(peek.programName(), names[0]) << label;
                EXPECT_EQ(render(*e), intact[0]) << label;
            }
        }
        e.reset();
        writeBytes(path, whole);
        EXPECT_EQ(readBytes(master()), masterBytes) << label;
    }
}

TEST_F(DamagedInstallTest, BrokenSettingsBankAndFoldersStopTheBootAndSayWhy) {
    std::string const masterBytes = readBytes(master());
    std::string const nowhere = masterBytes.substr(0, masterBytes.find("data/")) + "nowhere/" +
                                masterBytes.substr(masterBytes.find("data/") + 5);
    ASSERT_NE(nowhere, masterBytes);
    struct Damage {
        std::string file;  // under the installation folder
        std::string bytes; // written there
        std::string named; // in the logged line
        bool master;       // the master settings cannot be used
    } const rows[] = {
        {"vorlan.xml", masterBytes.substr(0, masterBytes.size() / 4), "vorlan.xml", true},
        {"vorlan.xml", masterBytes.substr(0, masterBytes.size() / 2), "vorlan.xml", true},
        {"vorlan.xml", masterBytes.substr(0, masterBytes.size() * 9 / 10), "vorlan.xml", true},
        {"vorlan.xml", "\x01garbage<<", "vorlan.xml", true},
        {"vorlan.xml", nowhere, "nowhere/", false},
        {std::string("data/") + CoreDemo::sCsetups + CoreDemo::sCsetup, "</>garbage", "DEMO.XML",
         false},
    };
    for (Damage const& d : rows) {
        std::string const path = temp.folder() + d.file;
        std::string const whole = readBytes(path);
        writeBytes(path, d.bytes);
        std::size_t const mark = log.text().size();
        {
            auto e = engine();
            EXPECT_EQ(CorePrcsPeek{*e}.present(), !d.master) << d.file;
            EXPECT_TRUE(e->fboot()) << d.file;
            EXPECT_TRUE(e->getby()) << d.file;
            EXPECT_TRUE(logged(mark, d.named)) << d.file << log.text().substr(mark);
            e->setbv(79, nullptr); // the settings saved: never over what did not parse
        }
        if (d.master) {
            EXPECT_EQ(readBytes(path), d.bytes) << d.file;
        }
        writeBytes(path, whole);
    }
    // A skin package of garbage: refused with its reason, the skin empty.
    std::string const skin = data() + CoreDemo::sCskins + "BAD.V2S";
    writeBytes(skin, "\x01\x02 not a package");
    std::size_t const mark = log.text().size();
    CoreSkin bad(CoreAnsx(skin.c_str()));
    EXPECT_EQ(bad.getsk()->fontcount, 0);
    EXPECT_TRUE(logged(mark, "BAD.V2S"));
}

} // namespace
