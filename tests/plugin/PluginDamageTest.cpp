// One damaged file of each kind under the built plug-in: the instance opens,
// plays finite samples, refuses a chunk cut short, logs (in the data folder,
// or beside the plug-in file when the settings or the data folder cannot be
// used) the file and the reason, and leaves the damaged file as it was.
// Not in the ThreadSanitizer pass: further loads and unloads of the
// instrumented shared object there now and then fail to map its shadow.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/HugeFiles.h"
#include "tests/support/LogCapture.h"
#include "tools/CoreDemo.h"
#include "tools/CoreHost.h"
#include "tools/CorePeer.h"

namespace {

TEST(PluginDamageTest, EachKindIsRefusedAndLoggedWithItsFile) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "damage cases run in the AddressSanitizer pass";
#endif
    PluginRig rig;
    std::string const top = rig.folder(), data = top + CoreDemo::sCdatapath;
    std::string const settings = readBytes(top + "vorlan.xml");
    std::string const nowhere = std::string(settings).replace(settings.find("data/"), 5, "none/");
    struct Row {
        std::string file, bytes; // under the installation; "" cut to half
        std::string log, named;  // the log's folder, and what its line names
        int slot;                // loaded after the boot; -1 the boot fails
    } const rows[] = {
        {"data/programs/INIT.XML", "", data, "INIT.XML", -1},
        {"data/programs/INIT.XML", "</A>", data, "INIT.XML", -1}, // the shell reads it first
        {"data/setups/DEMO.XML", "</A>", data, "DEMO.XML", -1},
        {"vorlan.xml", "", top, "vorlan.xml", -1},
        {"vorlan.xml", nowhere, top, "none/", -1},
        {"data/setups/DEMO.XML", "<<>>", data, "DEMO.XML", -1},
        {"data/skins/DEMO.V2S", "garbage", data, "DEMO.V2S", 0},
        {"data/vectors/SAT2.WAV", "garbage", data, "SAT2.WAV", CoreDemo::iCsaturator},
    };
    for (Row const& r : rows) {
        std::string const whole = readBytes(top + r.file);
        std::string const damaged = r.bytes.empty() ? whole.substr(0, whole.size() / 2) : r.bytes;
        writeBytes(top + r.file, damaged);
        std::remove((r.log + "Vorlan3olvio.log").c_str());
        {
            CoreHost h(rig.path(), CoreDemo::iCrate, 512);
            h.start();
            if (r.slot >= 0) {
                ASSERT_TRUE(h.wtupd(0, 60.0)) << r.file;
                int const seen = h.updts();
                h.slot_(r.slot);
                EXPECT_TRUE(h.wtupd(seen, 60.0)) << r.file;
            }
            auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!LogCapture::error(readBytes(r.log + "Vorlan3olvio.log"), r.named) &&
                   std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_TRUE(LogCapture::error(readBytes(r.log + "Vorlan3olvio.log"), r.named));
            if (r.slot < 0) { // refused at start-up: said once, whichever thread read it first
                std::istringstream lines(readBytes(r.log + "Vorlan3olvio.log"));
                std::set<std::string> said;
                for (std::string line; std::getline(lines, line);)
                    EXPECT_TRUE(said.insert(line.substr(line.find(' ') + 1)).second) << line;
            }
            CoreHost::CHANNELS out;
            h.rendr(CoreHost::CHANNELS(2, std::vector<double>(4096, 0.25)), out, true);
            for (auto const& c : out)
                for (double v : c) ASSERT_TRUE(std::isfinite(v)) << r.file;
            char cut[] = "<SETUP><PROGRAM><NAME> cut";
            EXPECT_EQ(h.dispt(PlatVst::opSetChunk, 0, long(sizeof cut), cut), 0) << r.file;
        }
        EXPECT_EQ(readBytes(top + r.file), damaged) << r.file;
        writeBytes(top + r.file, whole);
    }
}

// A sparse file far past the bound at each name the instance reads whole (the skin package, and a
// skin folder's item) is logged as too large, unread and left as it was; the instance opens. A
// kernel padded as far after its samples is read in pieces: its program plays as before.
TEST(PluginDamageTest, AFileTooLargeIsRefusedUnread) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "damage cases run in the AddressSanitizer pass";
#endif
    PluginRig rig;
    std::string const top = rig.folder(), data = top + "data/", package = data + "skins/DEMO.V2S";
    widenDemo<CoreDemo, CoreDdoc>(top);
    auto const open = [&](std::string const& file, std::string const& said) {
        std::string const log = (file == "vorlan.xml" ? top : data) + "Vorlan3olvio.log";
        std::remove(log.c_str());
        {
            CoreHost h(rig.path(), CoreDemo::iCrate, 512);
            EXPECT_TRUE(h.valid());
            h.start();
            CorePeer::until([&] { return readBytes(log).find(said) != std::string::npos; }, 30);
        }
        EXPECT_NE(readBytes(log).find(said), std::string::npos); // read within the bound
    };
    // The skin as the package it is, padded after its table of contents: refused whole.
    hugeRow(top, "data/skins/DEMO.V2S", 3LL << 29, CoreButl::iCwholebytes, open);
    { // the skin as a folder of the package's items
        CorePool pool;
        CoreFsys items(&pool);
        ASSERT_TRUE(items.loada(CoreAnsx(package.c_str()), CoreAnsx("0"), false, nullptr));
        ASSERT_EQ(std::remove(package.c_str()), 0);
        items.setdt(CoreAnsx((package + "/").c_str()));
        items.savea();
    }
    std::string item;
    for (auto const& entry : std::filesystem::directory_iterator(package))
        if (item.empty() || entry.path().filename().string() < item)
            item = entry.path().filename().string();
    std::string const kernel = "data/vectors/SAT2.WAV";
    auto const saturator = [&] {
        CoreHost h(rig.path(), CoreDemo::iCrate, 512);
        h.start();
        if (!h.wtupd(0, 60.0)) return CoreHost::CHANNELS{};
        int const seen = h.updts();
        h.slot_(CoreDemo::iCsaturator);
        return h.wtupd(seen, 60.0) ? playedNoise(h, 3) : CoreHost::CHANNELS{};
    };
    CoreHost::CHANNELS const played = saturator();
    ASSERT_EQ(played.size(), 2u);
    eachHugeFile(top, {"data/skins/DEMO.V2S/" + item, kernel}, CoreButl::iCwholebytes,
                 [&](std::string const& file, std::string const& said) {
                     if (file != kernel) return open(file, said);
                     std::string const log = data + "Vorlan3olvio.log";
                     std::remove(log.c_str());
                     CoreHost::CHANNELS const padded = saturator();
                     ASSERT_EQ(padded.size(), 2u);
                     for (int c = 0; c < 2; ++c)
                         EXPECT_LT(relativeError(padded[c], played[c]), 1e-9);
                     EXPECT_FALSE(LogCapture::error(readBytes(log), "SAT2.WAV")) << readBytes(log);
                 });
}

} // namespace
