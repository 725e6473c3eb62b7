// An archive program under the built plug-in, whose engine reads through the
// shell's item table: the room packed by the item store into a program
// archive and a vector archive plays as the room, with its vector archive in
// the vector folder or only under the program folder; a version of it made
// by the memory page's batch plays the same in that session and, once the
// bank lists it, in a new instance; a garbage vector archive leaves location
// 0 playing with one logged line naming it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {

constexpr double kWait = 60.0; // s: boots and loads under the sanitizers
constexpr int kArc = CoreDemo::iCprograms, kVersion = kArc + 1; // their locations

void pack(std::string const& path, std::string const& item, std::string const& bytes) {
    CorePool pool;
    CoreFsys store(&pool);
    int const id = store.crtit(CoreAnsx(item.c_str()), true);
    store.setit(id, bytes.data(), long(bytes.size()), CoreAnsx(""), true, false);
    ASSERT_TRUE(store.savea(CoreAnsx(path.c_str()))) << path;
}

// The output from its first sound on, so instances and loads compare whatever
// their ring positions.
CoreHost::CHANNELS played(CoreHost& h) {
    std::mt19937 g(5);
    std::uniform_real_distribution<double> d(-0.5, 0.5);
    CoreHost::CHANNELS x(2, std::vector<double>(20000)), y;
    for (auto& c : x)
        for (auto& v : c) v = static_cast<float>(d(g));
    h.rendr(x, y, true);
    std::size_t onset = 0;
    while (onset < y[0].size() && std::abs(y[0][onset]) < 1e-9) ++onset;
    for (auto& c : y) {
        c.erase(c.begin(), c.begin() + long(std::min(onset, c.size())));
        c.resize(8000);
    }
    return y;
}

bool change(CoreHost& h, int slot) {
    int const seen = h.updts();
    h.slot_(slot);
    if (!h.wtupd(seen, kWait)) return false;
    // A second of silence, as the command-line host plays: the program's
    // kernels have settled by then.
    CoreHost::CHANNELS quiet(2, std::vector<double>(CoreDemo::iCrate)), ignored;
    h.rendr(quiet, ignored, true);
    return true;
}

// Log lines written from byte from on that name what (in lower case).
int lines(std::string log, std::string const& what, std::size_t from) {
    for (char& c : log) c = char(std::tolower(static_cast<unsigned char>(c)));
    int n = 0;
    for (std::size_t at = from; (at = log.find(what, at)) != std::string::npos;
         at = log.find('\n', at))
        ++n;
    return n;
}

// Writes a text property through the bus.
bool write(CorePeer& peer, int id, char const* text) {
    CorePrvt::BUSCALL b;
    b.kind = 's';
    b.write = true;
    std::snprintf(b.text, sizeof b.text, "%s", text);
    CorePrvt::CALL c;
    c.kind = CorePrvt::iCbus;
    c.id = id;
    c.data = &b;
    c.size = sizeof b;
    return peer.call(c) == 1;
}

void expectSame(CoreHost::CHANNELS const& got, CoreHost::CHANNELS const& want, char const* what) {
    for (int c = 0; c < 2; ++c) EXPECT_LT(relativeError(got[c], want[c]), 1e-6) << what << " " << c;
}

TEST(PluginArchiveTest, AnArchiveProgramAndItsVersionPlayAsTheirSource) {
    PluginRig rig;
    std::string const data = rig.folder() + CoreDemo::sCdatapath;
    std::string const programs = data + CoreDemo::sCprograms, vectors = data + CoreDemo::sCvectors;
    std::string const log = data + "Vorlan3olvio.log";
    CoreDdoc::PROGRAM arc = CoreDemo::prgrm(CoreDemo::iCroom);
    arc.name = "Arc Room";
    arc.slots[0].files = {"ARCROOM.WAV"}; // in the vector archive only
    pack(programs + "ARC.V2P", "ARC.XML", CoreDdoc::prgxm(arc));
    pack(vectors + "ARC.V2V", "ARCROOM.WAV", readBytes(vectors + "ROOM.WAV"));
    std::vector<std::string> bank(CoreDemo::sCprogramfiles,
                                  CoreDemo::sCprogramfiles + CoreDemo::iCprograms);
    bank.push_back("ARC.V2P");
    std::string const setup = data + CoreDemo::sCsetups + CoreDemo::sCsetup;
    writeBytes(setup, CoreDdoc::stpxm(bank, CoreDemo::iCroom));

    CoreHost::CHANNELS room;
    {
        CorePeer peer(rig.path(), CoreDemo::iCrate, 512);
        CoreHost& h = peer.host();
        ASSERT_TRUE(h.wtupd(0, kWait)) << "boot";
        ASSERT_TRUE(change(h, CoreDemo::iCroom));
        room = played(h);
        ASSERT_TRUE(change(h, CoreDemo::iCroom));
        expectSame(played(h), room, "room again");
        // The vector folder first; a miss there is no failure while the
        // program folder holds it.
        for (std::string const& folder : {vectors, programs}) {
            std::string const moved = programs + "ARC.V2V";
            if (folder == programs) {
                ASSERT_EQ(std::rename((vectors + "ARC.V2V").c_str(), moved.c_str()), 0);
            }
            std::size_t const from = readBytes(log).size();
            ASSERT_TRUE(change(h, kArc)) << folder;
            EXPECT_EQ(peer.bus(67, 'i').number, kArc) << folder;
            expectSame(played(h), room, folder.c_str());
            EXPECT_EQ(lines(readBytes(log), "arc.v2v", from), 0) << readBytes(log);
        }

        // A version, as the memory page makes it: the batch's variables,
        // then its steps until it ends.
        peer.bus(225, 'v');
        for (auto const& [name, value] : {std::pair{"SAVING", "Saving"},
                                          {"VERSIONINGNAME", "ARC_01"},
                                          {"NEXTSTEP", "VERSIONING"}}) {
            ASSERT_TRUE(write(peer, 223, name));
            ASSERT_TRUE(write(peer, 224, value));
        }
        int steps = 0;
        while (peer.bus(226, 'b').number == 0.0 && ++steps < 20) {
        }
        ASSERT_LT(steps, 20);
        EXPECT_EQ(peer.bus(67, 'i').number, kVersion);
        EXPECT_TRUE(CoreFsys::exstf(CoreAnsx(programs.c_str()), CoreAnsx("ARC_01.V2P")));
        ASSERT_TRUE(change(h, CoreDemo::iCinit));
        ASSERT_TRUE(change(h, kVersion));
        EXPECT_EQ(peer.bus(67, 'i').number, kVersion);
        expectSame(played(h), room, "version");
    }

    // A new instance, once the bank lists the version.
    bank.push_back("ARC_01.V2P");
    writeBytes(setup, CoreDdoc::stpxm(bank, CoreDemo::iCroom));
    {
        CorePeer peer(rig.path(), CoreDemo::iCrate, 512);
        CoreHost& h = peer.host();
        ASSERT_TRUE(h.wtupd(0, kWait)) << "boot";
        ASSERT_TRUE(change(h, kVersion));
        EXPECT_EQ(peer.bus(67, 'i').number, kVersion);
        expectSame(played(h), room, "version, new instance");

        // A garbage vector archive: location 0 plays, and one line names it.
        ASSERT_TRUE(change(h, CoreDemo::iCinit));
        CoreHost::CHANNELS const init = played(h);
        writeBytes(vectors + "ARC.V2V", "garbage");
        ASSERT_EQ(std::remove((programs + "ARC.V2V").c_str()), 0);
        std::size_t const from = readBytes(log).size();
        ASSERT_TRUE(change(h, kArc));
        expectSame(played(h), init, "garbage");
        EXPECT_EQ(lines(readBytes(log), "vectors/arc.v2v: not an archive", from), 1)
            << readBytes(log).substr(from);
    }
}

} // namespace
