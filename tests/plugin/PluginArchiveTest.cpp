// An archive program under the built plug-in, whose engine reads through the
// shell's item table: the room packed by the item store into a program
// archive and a vector archive plays as the room, with its vector archive in
// the vector folder or only under the program folder; a version of it made
// by the memory page's batch plays the same in that session and, once the
// bank lists it, in a new instance; a garbage vector archive leaves location
// 0 playing with one logged line naming it. An archive program in an
// alternative data path plays too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "storage/CoreFsys.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace fs = std::filesystem;

namespace {

constexpr double kWait = 60.0; // s: loads under the sanitizers
constexpr int kArc = CoreDemo::iCprograms, kVersion = kArc + 1, kAlt = kArc + 2; // locations

// A program change, then a second of silence as the command-line host plays
// (the kernels have settled by then), then noise: the output from its first
// sound on, so loads and instances compare whatever their ring positions.
CoreHost::CHANNELS played(CoreHost& h, int slot) {
    int const seen = h.updts();
    h.slot_(slot);
    if (!h.wtupd(seen, kWait)) return {};
    CoreHost::CHANNELS silence(2, std::vector<double>(CoreDemo::iCrate)), y;
    h.rendr(silence, y, true);
    return playedNoise(h, 5);
}

void expectSame(CoreHost::CHANNELS const& got, CoreHost::CHANNELS const& want, char const* what) {
    ASSERT_EQ(got.size(), 2u) << what;
    for (int c = 0; c < 2; ++c) EXPECT_LT(relativeError(got[c], want[c]), 1e-6) << what << " " << c;
}

// Log lines from byte from on that name what (compared in lower case).
int lines(std::string log, std::string const& what, std::size_t from) {
    std::transform(log.begin(), log.end(), log.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    int n = 0;
    for (std::size_t at = from; (at = log.find(what, at)) != std::string::npos;
         at = log.find('\n', at))
        ++n;
    return n;
}

TEST(PluginArchiveTest, AnArchiveProgramAndItsVersionPlayAsTheirSource) {
    PluginRig rig;
    std::string const data = rig.folder() + CoreDemo::sCdatapath, alt = rig.folder() + "alt/";
    std::string const programs = data + CoreDemo::sCprograms, vectors = data + CoreDemo::sCvectors;
    std::string const log = data + "Vorlan3olvio.log";
    std::string const impulse = readBytes(vectors + "ROOM.WAV");
    ASSERT_TRUE(packRoom(data, "ARC", impulse));
    writeBank(data, {"ARC.V2P"});

    {
        CorePeer peer(rig.path(), CoreDemo::iCrate, 512);
        CoreHost& h = peer.host();
        ASSERT_TRUE(h.wtupd(0, kWait)) << "boot";
        CoreHost::CHANNELS const room = played(h, CoreDemo::iCroom);
        // The vector folder first; a miss there is no failure while the
        // program folder holds it.
        for (std::string const& folder : {vectors, programs}) {
            if (folder == programs) fs::rename(vectors + "ARC.V2V", programs + "ARC.V2V");
            std::size_t const from = readBytes(log).size();
            expectSame(played(h, kArc), room, folder.c_str());
            EXPECT_EQ(lines(readBytes(log), "arc.v2v", from), 0) << readBytes(log);
        }

        // A version, as the memory page makes it: the batch's variables,
        // then its steps until it ends.
        std::vector<std::string> const steps = chain(
            peer, {{"SAVING", "Saving"}, {"VERSIONINGNAME", "ARC_01"}, {"NEXTSTEP", "VERSIONING"}});
        ASSERT_TRUE(steps.size() < 20 && steps != std::vector<std::string>{"not posted"});
        EXPECT_EQ(peer.bus(67, 'i').number, kVersion);
        EXPECT_TRUE(CoreFsys::exstf(CoreAnsx(programs.c_str()), CoreAnsx("ARC_01.V2P")));
        played(h, CoreDemo::iCinit);
        expectSame(played(h, kVersion), room, "version");
    }

    // A new instance, once the bank lists the version, and a copy of the
    // program in an alternative data path.
    for (char const* sub : {CoreDemo::sCvectors, CoreDemo::sCprograms})
        fs::create_directories(alt + sub);
    ASSERT_TRUE(packRoom(alt, "ALT", impulse));
    ASSERT_TRUE(rig.settings({{"ALTERNATIVEDATAPATH", alt}}));
    writeBank(data, {"ARC.V2P", "ARC_01.V2P", "ALT.V2P"});
    CorePeer peer(rig.path(), CoreDemo::iCrate, 512);
    CoreHost& h = peer.host();
    ASSERT_TRUE(h.wtupd(0, kWait)) << "boot";
    CoreHost::CHANNELS const room = played(h, CoreDemo::iCroom);
    expectSame(played(h, kVersion), room, "version, new instance");
    expectSame(played(h, kAlt), room, "alternative data path");

    // A garbage vector archive: location 0 plays, and one line names it.
    CoreHost::CHANNELS const init = played(h, CoreDemo::iCinit);
    writeBytes(vectors + "ARC.V2V", "garbage");
    ASSERT_TRUE(fs::remove(programs + "ARC.V2V"));
    std::size_t const from = readBytes(log).size();
    expectSame(played(h, kArc), init, "garbage");
    EXPECT_EQ(lines(readBytes(log), "vectors/arc.v2v: not an archive", from), 1)
        << readBytes(log).substr(from);
}

} // namespace
