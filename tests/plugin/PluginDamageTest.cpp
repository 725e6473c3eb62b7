// One damaged file of each kind under the built plug-in: the instance
// opens, plays finite samples, refuses a chunk it cannot read, and its log
// (in the data folder, or beside the plug-in file when the settings or the
// data folder cannot be used) names the file and the reason; the master
// settings file stays as the user left it.
// Not in the ThreadSanitizer pass: the further loads and unloads of the
// instrumented shared object there now and then fail to map its shadow.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CoreDskn.h"
#include "tools/CoreHost.h"

namespace {

using V = PlatVst;
constexpr double kWait = 60.0; // s: boots and loads under the sanitizers

// Waits until the log in folder holds an error line naming what.
bool logNames(std::string const& folder, std::string const& what) {
    auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(int(kWait));
    do {
        std::string const log = readBytes(folder + "Vorlan3olvio.log");
        for (std::size_t at = log.find(what); at != std::string::npos;
             at = log.find(what, at + 1)) {
            std::size_t const start = log.rfind('\n', at);
            std::string const line = log.substr(start == std::string::npos ? 0 : start, at - start);
            if (line.find("***ERROR***>") != std::string::npos) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

TEST(PluginDamageTest, EachKindOfDamageIsRefusedAndLoggedWithItsFile) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "damage cases run in the AddressSanitizer pass";
#endif
    PluginRig rig;
    std::string const top = rig.folder();
    std::string const data = top + CoreDemo::sCdatapath;
    std::string const master = top + "vorlan.xml";
    std::string const settings = readBytes(master);
    std::size_t const at = settings.find(CoreDemo::sCdatapath);
    ASSERT_NE(at, std::string::npos);
    std::string const nowhere = settings.substr(0, at) + "nowhere/" +
                                settings.substr(at + std::string(CoreDemo::sCdatapath).size());
    std::string const programs = std::string(CoreDemo::sCdatapath) + CoreDemo::sCprograms;
    struct Row {
        std::string file;  // under the installation folder
        std::string bytes; // written there ("" cut to half)
        bool besides;      // logged beside the plug-in, not in the data folder
        std::string named; // in the logged line
        int slot;          // a program to load after the boot, -1 the boot fails
    } const rows[] = {
        {programs + "ROOM.XML", "", false, "ROOM.XML", -1},
        {"vorlan.xml", "", true, "vorlan.xml", -1},
        {"vorlan.xml", nowhere, true, "nowhere/", -1},
        {std::string(CoreDemo::sCdatapath) + CoreDemo::sCsetups + CoreDemo::sCsetup, "<<>>", false,
         CoreDemo::sCsetup, -1},
        {std::string(CoreDemo::sCdatapath) + CoreDemo::sCskins + CoreDskn::sCpackage.c_str(),
         "garbage", false, CoreDskn::sCpackage.c_str(), 0},
        {std::string(CoreDemo::sCdatapath) + CoreDemo::sCvectors + "SAT2.WAV", "garbage", false,
         "SAT2.WAV", 1},
    };
    CoreHost::CHANNELS const in(2, std::vector<double>(4096, 0.25));
    for (Row const& r : rows) {
        std::string const path = top + r.file;
        std::string const whole = readBytes(path);
        std::string const damaged = r.bytes.empty() ? whole.substr(0, whole.size() / 2) : r.bytes;
        writeBytes(path, damaged);
        std::remove((top + "Vorlan3olvio.log").c_str());
        std::remove((data + "Vorlan3olvio.log").c_str());
        {
            CoreHost h(rig.path(), CoreDemo::iCrate, 512);
            ASSERT_TRUE(h.valid()) << r.file;
            h.start();
            if (r.slot >= 0) {
                ASSERT_TRUE(h.wtupd(0, kWait)) << r.file;
                int const seen = h.updts();
                h.slot_(r.slot);
                EXPECT_TRUE(h.wtupd(seen, kWait)) << r.file;
            }
            EXPECT_TRUE(logNames(r.besides ? top : data, r.named)) << r.file;
            CoreHost::CHANNELS out;
            h.rendr(in, out, true);
            for (auto const& c : out)
                for (double v : c) ASSERT_TRUE(std::isfinite(v)) << r.file;
            char garbage[] = "<SETUP><PROGRAM><NAME> cut";
            EXPECT_EQ(h.dispt(V::opSetChunk, 0, long(sizeof garbage), garbage), 0) << r.file;
        }
        EXPECT_EQ(readBytes(path), damaged) << r.file; // never written back
        writeBytes(path, whole);
    }
    EXPECT_EQ(readBytes(master), settings);
}

} // namespace
