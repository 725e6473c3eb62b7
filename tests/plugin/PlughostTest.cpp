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
#include <memory>
#include <string>
#include <vector>

#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreWvfr.h"
#include "storage/CoreWvfw.h"
#include "tests/plugin/PluginRig.h"

namespace fs = std::filesystem;

namespace {

struct Ran {
    int status = -1;
    std::string said; // stdout and stderr
};

// The shell's quoting of one argument.
std::string quoted(std::string const& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A shell command run in folder.
Ran run(std::string const& folder, std::string const& command) {
    Ran r;
    if (FILE* p = popen(("cd " + quoted(folder) + " && " + command + " 2>&1").c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, p) != nullptr) r.said += line;
        int const w = pclose(p);
        r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    }
    return r;
}

void writeWav(std::string const& path, int rate, long frames, double level) {
    std::size_t const n = static_cast<std::size_t>(frames);
    std::vector<double> l(n), r(n);
    for (long k = 0; k < frames; ++k) {
        l[std::size_t(k)] = level * std::sin(0.05 * double(k));
        r[std::size_t(k)] = -l[std::size_t(k)];
    }
    CorePool pool;
    CoreWvfw::exprt(&pool, path.c_str(), 2, rate, frames, l.data(), r.data(), false);
}

// Left channel of a WAV file through our reader; empty when unreadable.
std::vector<double> readLeft(std::string const& path) {
    std::string const folder = fs::path(path).parent_path().string() + "/";
    CorePool pool;
    CoreFsys store(&pool, CoreAnsx(folder.c_str()), false);
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

class PlughostTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        rig = std::make_unique<PluginRig>();
        work = rig->folder() + "work/";
        fs::create_directories(work + "sub dir");
        writeWav(work + "in.wav", 44100, 3000, 0.5);
        writeWav(work + ".in.wav", 44100, 1000, 0.9); // the hidden namesake
        writeWav(work + "sub dir/my in.wav", 48000, 2000, 0.5);
        std::ofstream(work + "text.wav") << "not a sound file";
        writeWav(work + "empty.wav", 44100, 0, 0.0);
        // A plug-in with nothing beside it: no master settings, no data.
        fs::create_directories(work + "bare");
        fs::copy_file(rig->path(), work + "bare/vorlan.so");
    }
    static void TearDownTestSuite() { rig.reset(); }

    static std::unique_ptr<PluginRig> rig;
    static std::string work; // the user's folder, inside the installation's
};
std::unique_ptr<PluginRig> PlughostTest::rig;
std::string PlughostTest::work;

TEST_F(PlughostTest, RunsAsAUserRunsIt) {
    std::string const so = quoted(rig->path());
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
        {"slot.wav", "--slot 1", 0, "44100 frames", ""},
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
        Ran const r =
            run(work, std::string(VORLAN_PLUGHOST) + " " + plugin + " " + c.out + " " + c.args);
        EXPECT_EQ(r.status, c.status) << r.said;
        EXPECT_NE(r.said.find(c.said), std::string::npos) << r.said;
        // Refusals come from what the plug-in or the file said, never a time-out.
        EXPECT_EQ(r.said.find("within"), std::string::npos) << r.said;
        std::string const out = work + c.out;
        if (c.status == 1) {
            EXPECT_NE(r.said.find("no output written"), std::string::npos) << r.said;
        }
        if (c.status != 0) {
            EXPECT_FALSE(fs::exists(out)) << "no output after a refusal";
            EXPECT_FALSE(fs::exists(out + ".part"));
            continue;
        }
        // The input's length plus the tail the run reports.
        long frames = 0, tail = 0;
        std::size_t const at = r.said.find("plughost: ");
        ASSERT_EQ(std::sscanf(r.said.c_str() + at, "plughost: %ld frames", &frames), 1) << r.said;
        std::size_t const t = r.said.find("tail ");
        ASSERT_NE(t, std::string::npos) << r.said;
        tail = std::atol(r.said.c_str() + t + 5);
        EXPECT_EQ(long(readLeft(out).size()), frames + (tail > 1 ? tail : 0));
        Ran const sox = run(work, "sox --i " + quoted(out));
        EXPECT_EQ(sox.said.find("WARN"), std::string::npos) << sox.said;
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
