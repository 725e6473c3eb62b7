// The host chunk through the built shared object: a chunk saved from one
// instance playing another program than its boot program restores the same
// sound in a second instance, also when the second restores it while its
// headless boot is still running, and a restore whose program cannot load
// is handed back to the host as it came; file names from a chunk, a bank or
// the bus stay inside their folders.
// Not in the ThreadSanitizer pass, for the reason the shell test gives: the
// host's rate and block-size calls still race with the control thread.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include "tests/plugin/PluginRig.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CoreHost.h"
#include "tools/CorePeer.h"

namespace {

using V = PlatVst;
constexpr double kWait = 60.0; // s: boots and loads under the sanitizers

std::string chunkOf(CoreHost& h) {
    void* data = nullptr;
    return h.dispt(V::opGetChunk, 0, 0, &data) > 0 && data ? static_cast<char const*>(data) : "";
}
std::intptr_t restore(CoreHost& h, std::string text) {
    return h.dispt(V::opSetChunk, 0, std::intptr_t(text.size() + 1), text.data());
}

// Lines of the plug-in's log naming what and the quoted name (only level-0
// lines are written).
int logged(std::string const& data, std::string const& what, std::string const& name) {
    std::istringstream lines(readBytes(data + "Vorlan3olvio.log"));
    int n = 0;
    for (std::string l; std::getline(lines, l);)
        n += l.find(what) != l.npos && l.find('"' + name + '"') != l.npos;
    return n;
}

TEST(PluginChunkTest, AChunkFromOneInstanceRestoresTheSameSoundInAnother) {
    PluginRig rig;
    CoreHost a(rig.path(), CoreDemo::iCrate, 512);
    a.start();
    ASSERT_TRUE(a.wtupd(0, kWait)) << "boot";
    int const seen = a.updts();
    a.slot_(CoreDemo::iCsaturator); // the saturator, not the boot program
    ASSERT_TRUE(a.wtupd(seen, kWait)) << "program change";
    void* data = nullptr;
    std::intptr_t const size = a.dispt(V::opGetChunk, 0, 0, &data);
    ASSERT_GT(size, 0);
    ASSERT_NE(data, nullptr);
    std::string const chunk(static_cast<char const*>(data), std::size_t(size));
    ASSERT_EQ(chunk.find("NOCHUNK"), std::string::npos);
    // The size handed over is the document's with its zero byte, no padding.
    EXPECT_EQ(std::strlen(chunk.c_str()) + 1, chunk.size());
    EXPECT_EQ(chunk.substr(chunk.find_last_not_of(std::string(" \n\r\t\0", 5)) - 7, 8), "</SETUP>");

    CoreHost::CHANNELS yboot;
    {
        CoreHost boot(rig.path(), CoreDemo::iCrate, 512); // what an instance plays unrestored
        boot.start();
        ASSERT_TRUE(boot.wtupd(0, kWait));
        yboot = playedNoise(boot, 3);
    }
    CoreHost b(rig.path(), CoreDemo::iCrate, 512);
    b.start(); // its boot runs on its control thread meanwhile
    EXPECT_EQ(b.dispt(V::opSetChunk, 0, size, const_cast<char*>(chunk.data())), 1);
    ASSERT_TRUE(b.wtupd(0, kWait));
    CoreHost::CHANNELS const ya = playedNoise(a, 3), yb = playedNoise(b, 3);
    for (int c = 0; c < 2; ++c) {
        EXPECT_LT(relativeError(yb[c], ya[c]), 1e-9) << c;
        EXPECT_GT(relativeError(yboot[c], ya[c]), 1e-3) << c; // the chunk made the difference
    }

    // A restore whose program cannot load is handed back to the host as it
    // came until another program is asked for, so a session saved meanwhile
    // keeps it; with the kernel back but the program file gone, the chunk
    // plays from itself, and SAVE writes the file again.
    std::string const dir = rig.folder() + CoreDemo::sCdatapath, text = chunk.c_str();
    std::string const wav = dir + "vectors/SAT2.WAV", bytes = readBytes(wav);
    std::filesystem::remove(wav);
    {
        CoreHost fell(rig.path(), CoreDemo::iCrate, 512);
        fell.start();
        EXPECT_EQ(restore(fell, text), 0);
        EXPECT_EQ(restore(fell, "<SETUP><PROGRAM><NAME> cut"), 0);
        EXPECT_EQ(restore(fell, "NOCHUNK"), 1);
        EXPECT_EQ(chunkOf(fell), text); // so restoring them plays as b does
        fell.slot_(CoreDemo::iCroom);
        EXPECT_TRUE(CorePeer::until(
            [&] { return chunkOf(fell).find("Demo Room") != std::string::npos; }, kWait));
    }
    writeBytes(wav, bytes);
    std::string const xml = dir + "programs/SATURATOR.XML";
    std::filesystem::remove(xml);
    CorePeer d(rig.path(), CoreDemo::iCrate, 512);
    EXPECT_EQ(restore(d.host(), text), 1);
    ASSERT_TRUE(CorePeer::until([&] { return d.titled("  ProgMode"); }, kWait));
    CoreHost::CHANNELS const yd = playedNoise(d.host(), 3);
    for (int c = 0; c < 2; ++c) EXPECT_LT(relativeError(yd[c], ya[c]), 1e-9) << c;
    chain(d, {{"NEXTSTEP", "SAVEPROGRAM"}});
    EXPECT_NE(readBytes(xml).find("<PROGRAM>"), std::string::npos);
}

// File names from a chunk, a bank or the bus that would leave their folder
// are refused whole and logged; the sentinels where they point stay as
// they were.
TEST(PluginChunkTest, NamesFromElsewhereStayInsideTheirFolders) {
    PluginRig rig;
    std::string const top = rig.folder(), data = top + CoreDemo::sCdatapath;
    writeBytes(data + "outside.xml", readBytes(data + "programs/ROOM.XML"));
    writeBank(data, {"../outside.xml"});
    std::filesystem::create_directory(data + "programs/sub");
    CorePeer p(rig.path(), CoreDemo::iCrate, 512);
    ASSERT_TRUE(CorePeer::until([&] { return p.titled("  ProgMode"); }, kWait)) << p.dump();
    EXPECT_EQ(std::string(p.bus(167, 's', 4).text), "FAILED OUTSIDE");
    EXPECT_EQ(logged(data, "FILENAME refused", "../outside.xml"), 1);

    std::string const own = chunkOf(p.host()), tag = "ORIGINALFILENAME>";
    std::size_t const at = own.find(tag) + tag.size(), end = own.find("</" + tag);
    ASSERT_LT(at, end) << own;
    std::string const feed = "line\nfeed.xml", far = top + "abs.xml", saved = data + "programs/";
    struct Row {
        std::string name, sentinel, shown; // shown: as the log line shows it, "-" kept
    } const rows[] = {
        {"../x.xml", data + "x.xml", "../x.xml"},
        {"..\\..\\x.xml", top + "x.xml", "..\\..\\x.xml"},
        {far, far, far},
        {"..", "", ".."},
        {"", "", ""},
        {std::string(300, 'n'), "", std::string(300, 'n')},
        {feed, saved + feed, "line\\x0Afeed.xml"},
        {"sub/ROOM.XML", "", "-"},
    };
    for (Row const& r : rows) {
        if (!r.sentinel.empty()) writeBytes(r.sentinel, "sentinel");
        EXPECT_EQ(restore(p.host(), std::string(own).replace(at, end - at, r.name)), 1) << r.name;
        chain(p, {{"NEXTSTEP", "SAVEPROGRAM"}});
        std::string const file = saved + (r.shown == "-" ? r.name : "dummy.xml");
        EXPECT_NE(readBytes(file).find("Demo Room"), std::string::npos) << r.name;
        std::filesystem::remove(file);
        EXPECT_EQ(readBytes(r.sentinel), r.sentinel.empty() ? "" : "sentinel") << r.name;
        EXPECT_EQ(logged(data, "ORIGINALFILENAME refused", r.shown), r.shown != "-") << r.name;
    }

    // Through the bus: the program file name, a version name and a bank file.
    writeText(p, 87, "../x.xml");
    EXPECT_EQ(std::string(p.bus(76, 's').text), "ROOM_01"); // a version is one file
    chain(p, {{"NEXTSTEP", "SAVEPROGRAM"}});
    chain(p, {{"VERSIONINGNAME", "../../x"}, {"NEXTSTEP", "VERSIONING"}});
    chain(p, {{"LIBRARY", "../x.xml"}, {"BANK", "0"}, {"NEXTSTEP", "SAVEBANK"}});
    EXPECT_EQ(logged(data, "bean 87", "../x.xml"), 1);
    EXPECT_EQ(logged(data, "VERSIONINGNAME", "../../x"), 1);
    EXPECT_EQ(logged(data, "LIBRARY", "../x.xml"), 1);
    EXPECT_TRUE(readBytes(data + "x.xml") == "sentinel" && readBytes(top + "x.xml") == "sentinel");

    // A version name beyond ASCII is kept byte for byte, and read back by name.
    std::string const accents = "Versi\xC3\xB3n \xC3\xA9\xC5\x9B";
    chain(p, {{"VERSIONINGNAME", accents}, {"NEXTSTEP", "VERSIONING"}});
    EXPECT_NE(readBytes(data + "programs/" + accents + ".xml").find("Demo Room"),
              std::string::npos);
    writeBytes(data + "setups/ACCENTS.XML", "<SETUP><PROGRAM><SEQUENCE>0</SEQUENCE><FILENAME>" +
                                                accents + ".xml</FILENAME></PROGRAM></SETUP>");
    chain(p, {{"LIBRARY", "ACCENTS.XML"}, {"BANK", "1"}, {"NEXTSTEP", "READSETUP"}});
    EXPECT_EQ(std::string(p.bus(167, 's', 100).text), "Demo Room");
}

} // namespace
