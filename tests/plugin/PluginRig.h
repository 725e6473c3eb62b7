#pragma once
// A demo installation around a copy of the built plug-in in a temporary
// folder, so each test binary loads its own .so with its own settings.
// Test thread only.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
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

// A host playing in real time, and the calls the plug-in dropped. At the real-time levels a call
// that cannot take a lock within its own length plays silence, moves no position and counts in
// the plug-in's level-0 line "calls or chunks dropped: N" (the running total the control pass
// writes, the close the rest): the run goes on as if that call had never been made. A row that
// checks silence or timing records its calls here and checks what was heard, its input and
// output with the dropped calls cut out: silence over anything but the counted calls fails it.
// The thread that plays; the counts once the instances are closed.
class Played {
public:
    using Clock = std::chrono::steady_clock;
    struct CALL {
        std::size_t first = 0;  // the call's first frame in the host's stream
        std::size_t frames = 0; // its length
        bool silent = false;    // every frame of its output exactly 0 on both channels
        Clock::time_point begun, ended;
    };
    // From here on the rig's log lines count; calls at rate (Hz).
    Played(PluginRig const& rig, int rate);
    // One call of frames through process, which leaves its two output channels at out.
    template <class T, class F> void call(std::size_t frames, T* const* out, F&& process) {
        Clock::time_point const begun = Clock::now();
        process();
        record(frames, out, begun, Clock::now());
    }
    // h.rendr with each of its calls recorded (its length, up to the next call's begin).
    void rendr(CoreHost& h, CoreHost::CHANNELS const& in, CoreHost::CHANNELS& out, bool dbl,
               bool add = false);
    std::vector<CALL> const& all() const { return calls; }
    // The one instance's count: its last total (after its close, the whole).
    int counted() const;
    // Instances of one rig playing at once mix their lines: each way to read the totals told
    // since the start as their running totals, when instance i closed on thread closers[i] (which
    // told nothing else), as the count of every instance.
    std::vector<std::vector<int>> counts(std::vector<unsigned long> const& closers) const;
    // Passes when some count calls, each silent after a wait of at least its own length, cut out
    // (true) leave fault nothing to say (""). Where more calls look so (silence before the output
    // first sounds), each choice is tried, those that cut the latest calls first. Its failure
    // names the calls that look dropped and what fault says with none cut.
    testing::AssertionResult
    holds(int count, std::function<std::string(std::vector<bool> const&)> const& fault) const;
    // Streams of the host's frames (one a channel) with those of the calls cut (true) taken out.
    template <class T>
    std::vector<std::vector<T>> heard(std::vector<std::vector<T>> const& streams,
                                      std::vector<bool> const& cut) const {
        std::vector<std::vector<T>> kept(streams.size());
        for (std::size_t c = 0; c < streams.size(); ++c) {
            std::size_t at = 0; // the first frame not yet kept or cut
            for (std::size_t i = 0; i < calls.size(); ++i)
                if (cut[i]) {
                    kept[c].insert(kept[c].end(), streams[c].begin() + long(at),
                                   streams[c].begin() + long(calls[i].first));
                    at = calls[i].first + calls[i].frames;
                }
            kept[c].insert(kept[c].end(), streams[c].begin() + long(at), streams[c].end());
        }
        return kept;
    }
    // holds for a path that plays the input delayed, as the bypass does: what was heard is
    // latency frames of silence, then the input heard, on both channels.
    testing::AssertionResult delayed(CoreHost::CHANNELS const& in, CoreHost::CHANNELS const& out,
                                     long latency, int count) const;

private:
    // The totals the rig's log told since the start, each with the thread that told it.
    std::vector<std::pair<unsigned long, int>> told() const;
    bool looksDropped(CALL const& c) const; // silent after a wait of its own length at least
    template <class T>
    void record(std::size_t frames, T const* const* out, Clock::time_point begun,
                Clock::time_point ended) {
        CALL c{.first = next, .frames = frames, .silent = true, .begun = begun, .ended = ended};
        for (std::size_t k = 0; k < frames; ++k)
            c.silent = c.silent && out[0][k] == 0 && out[1][k] == 0;
        calls.push_back(c);
        next += frames;
    }

    std::vector<std::string> logs;  // the rig's two log files
    std::vector<std::size_t> sizes; // their sizes at the start
    int rate;
    std::vector<CALL> calls;
    std::size_t next = 0; // the next call's first frame
};

// A host chunk as handed over (its bytes with the size answered): the setup
// document whole, its zero byte last and counted.
bool wholeChunk(std::string const& text);
