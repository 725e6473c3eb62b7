#pragma once
// A demo installation around a copy of the built plug-in in a temporary
// folder, so each test binary loads its own .so with its own settings.
// Test thread only.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/TempDir.h"
#include "tools/CoreHost.h"

class CorePeer;

// The engine diagnostic's choice as a first boot stores it (the direct
// engine every machine has): cases about something else skip the diagnostic,
// seconds of each boot under the sanitizers.
inline std::pair<std::string, std::string> const kDiagnosed{"OTIMED", "3"};

class PluginRig {
public:
    PluginRig(); // copies the .so and writes the demo data beside it
    std::string const& path() const { return so; }
    std::string folder() const { return temp.folder(); } // with its trailing '/'
    // Writes the master settings again: the demo's, then these (a key given
    // twice counts with its last value, as the engine reads them; an empty
    // value leaves the key out).
    bool settings(std::vector<std::pair<std::string, std::string>> const& more) const;

private:
    // A dot in the folder's name, as in "~/.lxvst/": the plug-in must not
    // take it for the start of an extension anywhere on its paths.
    TempDir temp{"vorlan.plugin"};
    std::string so;
};

// A test suite whose cases share one rig: the plug-in is copied and the demo
// data written once, before the first case.
class PluginRigTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { rig = new PluginRig(); }
    static void TearDownTestSuite() {
        delete rig;
        rig = nullptr;
    }
    static inline PluginRig* rig = nullptr;
};

// A text written on the engine's property bus, as the display writes one;
// whether the bus took it.
bool writeText(CorePeer& p, int id, std::string const& text);
// A batch chain posted through the bus as the display posts it (its
// variables in order, NEXTSTEP last), then stepped until it ends, at most
// steps times: each step's line; {"not posted"} when a variable was refused.
std::vector<std::string> chain(CorePeer& p,
                               std::vector<std::pair<std::string, std::string>> const& vars,
                               std::size_t steps = 20);

// The text of property id (at element), and the slot that plays.
std::string textOf(CorePeer& p, int id, int element = 0);
int slotOf(CorePeer& p);
// Booted and idle, playing name at slot; ready: the room the demo bank boots.
bool playing(CorePeer& p, int slot, std::string const& name);
bool ready(CorePeer& p);
// A chain posted as the memory page posts one (its messages, then the
// variables, step last): each step's line; version: a VERSIONING of name.
std::vector<std::string> posted(CorePeer& p, char const* step,
                                std::vector<std::pair<std::string, std::string>> vars);
std::vector<std::string> version(CorePeer& p, std::string const& name);
// A bank file's entries in order, each "SEQUENCE|FILENAME|LOAD", trimmed;
// then more.
std::vector<std::string> entries(std::string const& bank, std::vector<std::string> more = {});
// The program that plays, restored by a host chunk at location as "Chunked"
// under its own file CHUNKED.xml in programs (with its trailing '/'): that
// file is named by no bank.
bool restoreAt(CorePeer& p, std::string const& programs, int location);

// Seeded noise through the instance (two channels of 20000 samples): its
// output from its first sound on, 8000 samples a channel, so instances and
// loads compare whatever their delay and ring positions.
CoreHost::CHANNELS playedNoise(CoreHost& h, unsigned seed);

// The room as an archive program, as the item store packs one: NAME.V2P
// under data's program folder holding NAME.XML, named "Demo Archive", whose
// impulse ARCROOM.WAV is only in NAME.V2V under its vector folder (data with
// its trailing '/', impulse the room's bytes).
bool packRoom(std::string const& data, std::string const& name, std::string const& impulse);
// One item in a new archive file at path.
bool packItem(std::string const& path, std::string const& item, std::string const& bytes);
// The demo bank again, the demo programs then these files, booting the room.
void writeBank(std::string const& data, std::vector<std::string> const& more);
// A host chunk as handed over (its bytes with the size answered): the setup
// document whole, its zero byte last and counted.
bool wholeChunk(std::string const& text);
