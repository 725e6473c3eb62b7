// The demo installation damaged as a user's disk damages it, each case
// booted by the engine beside it: either the whole program plays, exactly as
// the intact installation's does, or the load is refused visibly (the boot
// stops, or the location is listed as failed and location 0 plays) with an
// error line naming the file; slot numbers never shift, and settings that did
// not parse are never written back.
#include "tools/CoreDemo.h"

#include "engine/CorePlel.h"
#include "program/CoreMmry.h"
#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "tests/processing/CorePrcsPeek.h"
#include "tests/support/HugeFiles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr long kFrames = 24576; // past the delay the demo's settings give

class DamagedInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(top.c_str()), CoreAnsx("vorlan.so")));
        // The first boot completes the settings (the engine choice among them)
        // that every later boot reads.
        ASSERT_FALSE(engine()->fboot()) << log.text();
    }
    std::unique_ptr<CorePrcs> engine() {
        return std::make_unique<CorePrcs>(&pool, CoreAnsx(top.c_str()), 44100, nullptr,
                                          CoreAnsx("vorlan.so"), false, true, &shell, CoreAnsx("0"),
                                          false, &cache);
    }
    // Seeded noise through the engine, offline (nothing left to timing).
    std::vector<double> render(CorePrcs& e) {
        CorePrcsPeek{e}.gains(0.5, 0.5);
        std::mt19937 g(7);
        std::vector<double> in(kFrames), out(2 * kFrames);
        for (double& v : in) v = std::uniform_real_distribution<double>(-0.5, 0.5)(g);
        for (long at = 0; at < kFrames; at += 512) {
            void* ins[2] = {in.data() + at, in.data() + at};
            void* outs[2] = {out.data() + at, out.data() + kFrames + at};
            e.prcss(ins, outs, 512, true, 4, 0.0, true, 2);
        }
        return out;
    }

    LogCapture log;
    TempDir temp{"vorlandamage"};
    std::string const top = temp.folder();
    CorePool pool;
    CorePlel cache{&pool};
    CoreFsys shell{&pool};
};

TEST_F(DamagedInstallTest, EveryDamageEitherPlaysWholeOrIsRefusedVisibly) {
    int const n = CoreDemo::iCprograms;
    std::vector<std::vector<double>> intact;
    std::vector<std::string> names;
    for (int p = 0; p < n; ++p) {
        auto e = engine();
        ASSERT_FALSE(e->fboot());
        e->setbi(88, p, nullptr);
        names.push_back(CorePrcsPeek{*e}.programName());
        intact.push_back(render(*e));
    }
    std::string const data = CoreDemo::sCdatapath, settings = readBytes(top + "vorlan.xml");
    std::string const nowhere = std::string(settings).replace(settings.find(data), 5, "none/");
    struct Damage {
        std::string file; // under the installation
        // Percent of its bytes kept; -1 garbage, -2 the text below; in its place -3 a FIFO, -4 a
        // device node reading zeros for ever (made as root only), -5 a link to a FIFO; -6 none, -7
        // a link to itself, the text below then the line that says so.
        int keep;
        std::string text;
        int program; // the program it breaks; -1 the boot
    };
    std::vector<Damage> rows = {
        {data + CoreDemo::sCprograms + "SATURATOR.XML", -1, "", 1},
        {data + CoreDemo::sCvectors + "SAT2.WAV", -1, "", 1},
        {data + CoreDemo::sCsetups + CoreDemo::sCsetup, -1, "", -1},
        {"vorlan.xml", -1, "", -1},
        {"vorlan.xml", -2, nowhere, -1},
        {data + CoreDemo::sCsetups + CoreDemo::sCsetup, -2, "<SETUP><LOAD>0</LOAD></SETUP>", -1},
        {data + CoreDemo::sCprograms + "SATURATOR.XML", -3, "", CoreDemo::iCsaturator},
        {data + CoreDemo::sCvectors + "SAT2.WAV", -3, "", CoreDemo::iCsaturator},
        {"vorlan.xml", -3, "", -1},
        {data + CoreDemo::sCvectors + "SAT2.WAV", -6, "SAT2.WAV: cannot be opened: missing",
         CoreDemo::iCsaturator},
        {data + CoreDemo::sCvectors + "SAT2.WAV", -7,
         "SAT2.WAV: cannot be opened: Too many levels of symbolic links", CoreDemo::iCsaturator},
    };
    for (int keep : {-3, -4, -5})
        rows.push_back({data + CoreDemo::sCsetups + CoreDemo::sCsetup, keep, "", -1});
    for (int keep : {25, 50, 90}) rows.push_back({"vorlan.xml", keep, "", -1});
    for (int p = 0; p < n; ++p)
        for (int keep = 0; keep < 100; keep += 10)
            rows.push_back(
                {data + CoreDemo::sCprograms + CoreDemo::sCprogramfiles[p], keep, "", p});
    // A device node needs root, and a system that lets root make one.
    std::string const probe = top + "device";
    bool const devices = ::mknod(probe.c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0 &&
                         std::remove(probe.c_str()) == 0;
    for (Damage const& d : rows) {
        std::string const whole = readBytes(top + d.file);
        std::string const bytes = d.keep == -2   ? d.text
                                  : d.keep == -1 ? std::string(whole.size(), '\x9c')
                                                 : whole.substr(0, whole.size() * d.keep / 100);
        bool const kind = d.keep <= -3 && d.keep >= -5; // never waited on, replaced or missing
        if (d.keep == -4 && !devices) continue;
        std::string const at = top + d.file, fifo = d.keep == -5 ? top + "fifo" : at;
        ASSERT_TRUE(!kind || (std::remove(at.c_str()) == 0 &&
                              (d.keep == -4 ? ::mknod(at.c_str(), S_IFCHR | 0644, makedev(1, 5))
                                            : ::mkfifo(fifo.c_str(), 0644)) == 0 &&
                              (fifo == at || ::symlink(fifo.c_str(), at.c_str()) == 0)));
        if (!kind) writeBytes(at, bytes);
        ASSERT_TRUE(d.keep > -6 || std::remove(at.c_str()) == 0);
        ASSERT_TRUE(d.keep != -7 || ::symlink(at.c_str(), at.c_str()) == 0);
        ::alarm(60); // a wait on a FIFO or device fails the test rather than hanging it
        std::string const label = d.file + " " + std::to_string(d.keep);
        std::size_t const mark = log.text().size();
        std::string const named =
            d.text == nowhere ? "none/" : d.file.substr(d.file.rfind('/') + 1);
        auto e = engine();
        CorePrcsPeek peek{*e};
        if (e->fboot()) {
            EXPECT_TRUE(d.program <= 0 && e->getby()) << label; // audio passes through
            EXPECT_TRUE(LogCapture::error(log.text(), named, mark)) << label;
            e->setbv(79, nullptr); // settings saved: never over a file that did not parse
            bool const unread = d.file == "vorlan.xml" && d.keep > -2;
            EXPECT_TRUE(!unread || readBytes(top + d.file) == bytes) << label;
        } else {
            ASSERT_GT(d.program, 0) << label;
            CorePrcs::BEANSTRUCT const next{d.program, 1}; // the program list's walk
            EXPECT_EQ(e->getbi(168, const_cast<CorePrcs::BEANSTRUCT*>(&next)), d.program) << label;
            for (int p = 0; p < n; ++p) // a failed entry is listed in its place
                EXPECT_EQ(std::string(peek.memory()->getnm(p).c_str()),
                          peek.memory()->faild(p) ? "FAILED " + named.substr(0, named.find('.'))
                                                  : names[std::size_t(p)])
                    << label;
            ASSERT_TRUE(peek.memory()->saves("OUT.XML", 0)); // failed entries keep their lines
            std::string const bank = readBytes(top + data + CoreDemo::sCsetups + "OUT.XML");
            for (char const* file : CoreDemo::sCprogramfiles)
                EXPECT_NE(bank.find(file), std::string::npos) << label << file;
            e->setbi(88, d.program, nullptr);
            int const plays = peek.fellBack() ? 0 : d.program;
            EXPECT_EQ(peek.programName(), names[std::size_t(plays)]) << label;
            EXPECT_EQ(render(*e), intact[std::size_t(plays)]) << label;
            EXPECT_TRUE(plays != 0 || LogCapture::error(log.text(), named, mark)) << label;
            EXPECT_NE(d.keep <= -6 ? log.text().find(d.text, mark) : 0, std::string::npos) << label;
        }
        e.reset();
        ::alarm(0);
        struct stat there {};
        EXPECT_TRUE(!kind || (::stat(at.c_str(), &there) == 0 && !S_ISREG(there.st_mode) &&
                              log.text().find("not a plain file", mark) != std::string::npos &&
                              log.text().find("not found", mark) == std::string::npos))
            << label;
        if (kind || d.keep == -7) std::remove(at.c_str()), std::remove((top + "fifo").c_str());
        writeBytes(top + d.file, whole);
    }
}

// A sparse file far past the bound at each name a boot or a load reads whole is refused from its
// size unread, logged as too large with its name and left as it was; an archive, in its words.
TEST_F(DamagedInstallTest, AFileTooLargeIsRefusedUnread) {
    widenDemo<CoreDemo, CoreDdoc>(top);
    eachHugeFile(
        top, {}, CoreButl::iCwholebytes, [&](std::string const& file, std::string const& said) {
            std::size_t const mark = log.text().size();
            auto e = engine();
            e->fboot();
            if (file.ends_with(".V2P") || file.ends_with("SATURATOR.XML")) // loaded after the boot
                e->setbi(88, file.ends_with(".V2P") ? 4 : CoreDemo::iCsaturator, nullptr);
            EXPECT_NE(log.text().find(said, mark), std::string::npos) << log.text().substr(mark);
        });
}

// The boot's Ko line (bean 144's) names what is wrong with a bank or master settings file that is
// there, in the line's 54 columns; one not there keeps the line's own words.
TEST_F(DamagedInstallTest, TheBootLineNamesWhatIsWrongWithAFileThatIsThere) {
    // A 'f'ifo, a fol'd'er, a link 'l'oop, 'm'issing, 'g'arbage, mode 000 ('a'), 'e'mpty, all
    // NUL ('z').
    std::pair<char, char const*> const kinds[] = {
        {'f', "not a file"}, {'d', "a folder"},  {'l', "a link loop"}, {'m', "not found"},
        {'g', "not usable"}, {'a', "no access"}, {'e', "not usable"},  {'z', "not usable"}};
    char const* const files[][3] = {{"data/setups/DEMO.XML", "ROM MEMORY Ko: rom", "demo.xml"},
                                    {"vorlan.xml", "MASTER Ko: master", "vorlan.xml"}};
    for (auto const& [file, head, name] : files)
        for (auto const& [kind, words] : kinds) {
            std::string const line = head + std::string(" descriptor ") + words + " (" + name + ")";
            SCOPED_TRACE(line);
            if (kind == 'a' && ::geteuid() == 0) continue; // the super-user reads it all the same
            std::string const at = top + file, whole = readBytes(at);
            std::remove(at.c_str());
            int const made = kind == 'f'   ? ::mkfifo(at.c_str(), 0644)
                             : kind == 'd' ? ::mkdir(at.c_str(), 0755)
                             : kind == 'l' ? ::symlink(at.c_str(), at.c_str())
                                           : 0;
            if (kind == 'g' || kind == 'a' || kind == 'e' || kind == 'z')
                writeBytes(at, kind == 'g'   ? "<SETUP><PROGRAM>"
                               : kind == 'e' ? ""
                               : kind == 'z' ? std::string(64, '\0')
                                             : whole);
            ASSERT_TRUE(made == 0 && (kind != 'a' || ::chmod(at.c_str(), 0) == 0));
            ::alarm(60);
            auto e = engine();
            e->setbb(144, true, nullptr);
            EXPECT_EQ(std::string(e->getbs(145, nullptr).c_str()), line);
            e.reset();
            EXPECT_LE(line.size(), 54u);
            ::alarm(0);
            std::remove(at.c_str());
            writeBytes(at, whole);
        }
}

} // namespace
