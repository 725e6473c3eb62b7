// The command-line host run as a user runs it, on one demo installation:
// input files named every way (a hidden namesake must never be read
// instead), each option, the refusals (bad input, an empty slot, a plug-in
// that cannot boot: a message, exit status 1, no output file, and no
// time-out behind it), a plug-in named through "..", and the lead-in
// leaving the demo room's render as a running host gets it. Every output is
// read back by our reader and by sox, which must not warn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreWvfr.h"
#include "storage/CoreWvfw.h"
#include "tests/plugin/PluginRig.h"

namespace fs = std::filesystem;

namespace {

// The shell's quoting of one argument.
std::string quoted(std::string const& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A shell command run in folder: its exit status, and what it printed.
std::pair<int, std::string> run(std::string const& folder, std::string const& command) {
    std::string said;
    FILE* p = popen(("cd " + quoted(folder) + " && " + command + " 2>&1").c_str(), "r");
    if (p == nullptr) return {-1, said};
    char line[512];
    while (std::fgets(line, sizeof line, p) != nullptr) said += line;
    int const w = pclose(p);
    return {WIFEXITED(w) ? WEXITSTATUS(w) : -1, said};
}

void writeWav(std::string const& path, int rate, long frames, double level) {
    std::vector<double> l(static_cast<std::size_t>(frames));
    for (std::size_t k = 0; k < l.size(); ++k) l[k] = level * std::sin(0.05 * double(k));
    CorePool pool;
    CoreWvfw::exprt(&pool, path.c_str(), 2, rate, frames, l.data(), l.data(), false);
}

// Left channel of a WAV file through our reader; empty when unreadable.
std::vector<double> readLeft(std::string const& path) {
    CorePool pool;
    CoreFsys store(&pool, CoreAnsx((fs::path(path).parent_path().string() + "/").c_str()), false);
    CoreWvfr reader(&pool, &store, false);
    std::vector<double> left;
    try {
        reader.open_(CoreAnsx(fs::path(path).filename().c_str()));
        left.resize(std::size_t(reader.getdr(false)));
        left.resize(std::size_t(reader.getdt(long(left.size()), left.data(), nullptr)));
    } catch (CoreAnsx const&) {
        left.clear();
    }
    return left;
}

TEST(PlughostTest, RunsAsAUserRunsIt) {
    PluginRig rig;
    std::string const work = rig.folder() + "work/"; // the user's folder
    fs::create_directories(work + "sub dir");
    writeWav(work + "in.wav", 44100, 3000, 0.5);
    writeWav(work + ".in.wav", 44100, 1000, 0.9); // the hidden namesake
    writeWav(work + "sub dir/my in.wav", 48000, 2000, 0.5);
    std::ofstream(work + "text.wav") << "not a sound file";
    writeWav(work + "empty.wav", 44100, 0, 0.0);
    // A plug-in with nothing beside it: no master settings, no data.
    fs::create_directories(work + "bare");
    fs::copy_file(rig.path(), work + "bare/vorlan.so");

    std::string const so = quoted(rig.path());
    struct Case {
        char const* out;    // output file in the work folder
        std::string args;   // after the output file
        int status;         // exit status
        char const* said;   // a text the run prints
        std::string plugin; // "" for the installation's, by its absolute path
    } const cases[] = {
        {"rel.wav", "--in in.wav", 0, "3000 frames at 44100 Hz", ""},
        {"abs.wav", "--in " + quoted(work + "in.wav"), 0, "3000 frames at 44100 Hz", ""},
        {"spaced.wav", "--in 'sub dir/my in.wav'", 0, "2000 frames at 48000 Hz", ""},
        {"missing.wav", "--in nowhere.wav", 1, "nowhere.wav: No such file or directory", ""},
        {"text.wav.out", "--in text.wav", 1, "text.wav: not a RIFF/WAVE file", ""},
        {"empty.wav.out", "--in empty.wav", 1, "empty.wav: no sample data", ""},
        {"impulse.wav", "", 0, "44100 frames at 44100 Hz, block 512, single", ""},
        {"lead2.wav", "--lead-in 2", 0, "lead-in 88576 frames", ""},
        {"sine.wav", "--signal sine:1000 --seconds 0.5", 0, "22050 frames at 44100 Hz", ""},
        {"noise.wav", "--signal noise --rate 48000 --seconds 0.25", 0, "12000 frames at 48000 Hz",
         ""},
        {"block.wav", "--block 100 --double", 0, "block 100, double precision", ""},
        {"slot.wav", "--slot 2", 0, "44100 frames", ""},
        {"midi.wav", "--midi 0:176:32:0 --midi 100:192:2:0", 0, "44100 frames", ""},
        {"badmidi.wav", "--midi 0:176", 2, "--midi 0:176\" is not understood", ""},
        {"badslot.wav", "--slot ''", 2, "--slot \" is not understood", ""},
        {"empty-slot.wav", "--slot 7", 1, "slot 7 holds no program; no output written", ""},
        {"bare.wav", "", 1, "boot failed; no output written; its display:\n  BREVANTA",
         "bare/vorlan.so"},
        {"dots.wav", "--in in.wav", 0, "3000 frames", "../work/../vorlan.so"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.out);
        std::string const plugin = c.plugin.empty() ? so : quoted(c.plugin);
        auto const [status, said] =
            run(work, std::string(VORLAN_PLUGHOST) + " " + plugin + " " + c.out + " " + c.args);
        EXPECT_EQ(status, c.status) << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        // Refusals come from what the plug-in or the file said, never a time-out.
        EXPECT_EQ(said.find("within"), std::string::npos) << said;
        std::string const out = work + c.out;
        if (c.status != 0) {
            EXPECT_FALSE(fs::exists(out) || fs::exists(out + ".part")) << "output after a refusal";
            continue;
        }
        // The input's length plus the tail the run reports; sox reads it without a warning.
        long frames = 0;
        ASSERT_EQ(std::sscanf(said.c_str() + said.find("plughost: "), "plughost: %ld", &frames), 1);
        ASSERT_NE(said.find("tail "), std::string::npos) << said;
        long const tail = std::atol(said.c_str() + said.find("tail ") + 5);
        EXPECT_EQ(long(readLeft(out).size()), frames + (tail > 1 ? tail : 0));
        auto const [soxStatus, sox] = run(work, "sox --i " + quoted(out));
        EXPECT_TRUE(soxStatus == 0 && sox.find("WARN") == std::string::npos) << sox;
    }

    // With the default lead-in the room has settled as in a host that had
    // been running: two seconds more change nothing.
    std::vector<double> const settled = readLeft(work + "impulse.wav");
    std::vector<double> const longer = readLeft(work + "lead2.wav");
    ASSERT_EQ(settled.size(), longer.size());
    double worst = 0.0;
    for (std::size_t k = 0; k < settled.size(); ++k)
        worst = std::max(worst, std::fabs(settled[k] - longer[k]));
    EXPECT_LT(worst, 1e-6);
    EXPECT_GT(*std::max_element(settled.begin(), settled.end()), 0.01) << "the room played";
}

} // namespace
