// The command-line host run as a user runs it, on one demo installation: input files named every
// way (a hidden namesake must never be read instead), each option, the refusals (bad input, an
// empty slot, a slot that fails to load, said with what its load noticed, a plug-in that cannot
// boot, an input the converter cannot take to --rate exactly, a render whose memory runs out: a
// message, exit status 1, no output file, and no time-out behind it; options, lengths and memory it
// cannot render with: exit status 2, the first ones before the plug-in is loaded; an output that is
// not a plain file, or cannot be made, refused then too and left as it was, also when it becomes a
// FIFO while it is written; a file at another's temporary name kept byte for byte), an output named
// through a link, a plug-in named through "..", the lead-in leaving the demo room's render as a
// running host gets it, and the demo sounding the same at every common rate. Every output is read
// back by our reader and by sox, which must not warn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreWvfr.h"
#include "storage/CoreWvfw.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tests/support/WavBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

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
    std::ofstream(work + "huge.wav").close();
    fs::resize_file(work + "huge.wav", 0x7FFFFFF0); // sparse: costs nothing
    writeWav(work + "IN.WAV", 44100, 3000, 0.5);
    std::vector<double> const tone(3000, 0.1);
    writeBytes(work + "quad.wav", wavBytes({44100, 3, 32, {tone, tone, tone, tone}}));
    writeWav(work + "empty.wav", 44100, 0, 0.0);
    // 8-bit mono at 44.1 kHz that makes more frames at 384 kHz than a WAV file holds.
    writeBytes(work + "big8.wav",
               wavFile({.bits = 8, .before = "", .samples = std::string(31000000, '\x80')}));
    // A plug-in with nothing beside it: no master settings, no data.
    fs::create_directories(work + "bare");
    fs::copy_file(rig.path(), work + "bare/vorlan.so");
    // Outputs that are there already: a FIFO, and a link to a file not yet made.
    ASSERT_EQ(mkfifo((work + "fifo.wav").c_str(), 0644), 0);
    fs::create_symlink("sub dir/linked.wav", work + "link.wav");

    // Location 4: the saturator with its last kernel missing, so its load fails after the first.
    std::string const data = rig.folder() + CoreDemo::sCdatapath;
    auto broken = CoreDemo::prgrm(CoreDemo::iCsaturator);
    broken.slots[2].files = {"NOWHERE.WAV"};
    writeBytes(data + CoreDemo::sCprograms + "BROKEN.XML", CoreDdoc::prgxm(broken));
    writeBank(data, {"BROKEN.XML"});
    std::string const so = quoted(rig.path());
    struct Case {
        std::string out;    // output file in the work folder
        std::string args;   // after the output file
        int status;         // exit status
        std::string said;   // a text the run prints
        std::string plugin; // "" for the installation's, by its absolute path
        std::string env{};  // environment variables set for the run
    };
    // A stream's WAV header whose sizes say nothing (all ones), for the shell's printf.
    std::string const header = "printf 'RIFF\\377\\377\\377\\377WAVEfmt "
                               "\\20\\0\\0\\0\\1\\0\\2\\0D\\254\\0\\0\\20\\261\\2\\0\\4"
                               "\\0\\20\\0data\\377\\377\\377\\377'";
    std::vector<Case> cases = {
        {"rel.wav", "--in in.wav", 0, "3000 frames at 44100 Hz", ""},
        {"abs.wav", "--in " + quoted(work + "in.wav"), 0, "3000 frames at 44100 Hz", ""},
        {"spaced.wav", "--in 'sub dir/my in.wav'", 0, "2000 frames at 48000 Hz", ""},
        {"missing.wav", "--in nowhere.wav", 1, "nowhere.wav: No such file or directory", ""},
        {"text.wav.out", "--in text.wav", 1, "text.wav: not a RIFF/WAVE file", ""},
        // Past what the store takes as one item (a RIFF file may be larger): refused by its size
        // before a byte is read, and no IN.WAV of the folder is rendered in its place.
        {"huge.wav.out", "--in huge.wav", 1,
         "huge.wav: larger than the WAV reader takes (2147483627 bytes at most); no output", ""},
        {"empty.wav.out", "--in empty.wav", 1, "empty.wav: no sample data", ""},
        {"impulse.wav", "", 0, "44100 frames at 44100 Hz, block 512, single", ""},
        {"lead2.wav", "--lead-in 2", 0, "lead-in 88576 frames", ""},
        {"sine.wav", "--signal sine:1000 --seconds 0.5", 0, "22050 frames at 44100 Hz", ""},
        {"noise.wav", "--signal noise --rate 48000 --seconds 0.25", 0, "12000 frames at 48000 Hz",
         ""},
        {"block.wav", "--block 100 --double", 0, "block 100, double precision", ""},
        {"link.wav", "--seconds 0.1", 0, "4410 frames at 44100 Hz", ""},
        {"slot.wav", "--slot 2", 0, "44100 frames", ""},
        {"midi.wav", "--midi 0:176:32:0 --midi 100:192:2:0", 0, "44100 frames", ""},
        // Switched into the room, the output holds the room's tail (checked below).
        {"roomtail.wav", "--signal noise --slot 2 --midi 1000:192:1:0", 0, "44100 frames", ""},
        {"badmidi.wav", "--midi 0:176", 2, "--midi 0:176\" is not understood", ""},
        {"badslot.wav", "--slot ''", 2, "--slot \" is not understood", ""},
        {"empty-slot.wav", "--slot 7", 1, "slot 7 holds no program; no output written", ""},
        {"broken.wav", "--slot 4 --rate 50000", 1, "no output written\nplughost: notice: ", ""},
        {"bare.wav", "", 1, "boot failed; no output written; its display:\n  BREVANTA",
         "bare/vorlan.so"},
        {"dots.wav", "--in in.wav", 0, "3000 frames", "../work/../vorlan.so"},
        // What it cannot render is refused before anything is rendered.
        {"square.wav", "--signal square", 2, "\"--signal square\" is not understood", ""},
        {"sine.wav.out", "--signal sine", 2, "\"--signal sine\" is not understood", ""},
        {"abc.wav", "--signal sine:abc", 2, "\"--signal sine:abc\" is not understood", ""},
        {"alias.wav", "--signal sine:22050", 2, "with 0 < HZ < 22050", ""},
        {"alias48.wav", "--signal sine:30000 --rate 48000", 2, "with 0 < HZ < 24000", ""},
        {"long.wav", "--seconds 1e9", 2, "--seconds 1e+09 makes", ""},
        {"longlead.wav", "--lead-in 1e9", 2, "more than a WAV file holds", ""},
        // An output that is not a plain file (with the plug-in that would
        // render into it) or cannot be made, and a block the plug-in would
        // refuse: before anything is rendered.
        {"fifo.wav", "", 2, "fifo.wav: exists and is not a plain file; no output written", ""},
        {"nodir/out.wav", "", 1, "nodir/out.wav: No such file or directory; no output written",
         "nowhere.so"},
        {"bigblock.wav", "--block 1000000000", 2,
         "\"--block 1000000000\" is not understood: 1 to 1048576 frames", "nowhere.so"},
        {"lowrate.wav", "--rate 999", 2, "\"--rate 999\" is not understood: 1000 to 768000 Hz",
         "nowhere.so"},
        {"quad.wav.out", "--in quad.wav", 0, "quad.wav has 4 channels; channels 1 and 2 are used",
         ""},
        // The nearest recipe would play it at another speed and pitch.
        {"r7.wav", "--in s352800.wav --rate 44100", 1,
         "to the 44100 Hz of --rate (the nearest recipe delivers 44200 Hz)", ""},
        // Past what the writer holds, or the memory: refused before the
        // plug-in is loaded (there is none here), or with latency and tail.
        {"6100.wav", "--seconds 6100", 2,
         "--seconds 6100 makes 269010000 frames, more than a WAV file holds (268435449)",
         "nowhere.so"},
        {"longin.wav", "--in big8.wav --rate 384000", 2,
         "frames at 384000 Hz are more than a WAV file holds (268435449)", "nowhere.so"},
        {"3000.wav", "--seconds 3000", 2,
         "rendering 132300000 frames needs about 5292000000 bytes of memory, 2000000000 are "
         "available",
         "nowhere.so", "PLUGHOST_TEST_BYTES_AVAILABLE=2000000000"},
        {"late.wav", "--seconds 2", 2, "bytes of memory, 3528000 are available", "",
         "PLUGHOST_TEST_BYTES_AVAILABLE=3528000"},
        {"nomem.wav", "--seconds 2", 1, "out of memory for 88200 frames (", "",
         "PLUGHOST_TEST_ALLOCATION_FAILS=1"},
        // A write past the file-size limit fails, said as such, rather than killing the run.
        // (A limit of 1 or 2 MB, as the shell counts: a coverage build's counts still fit.)
        {"limit.wav", "--seconds 10", 1,
         "limit.wav could not be written whole: it would pass the file size limit of ", "",
         "ulimit -f 2048;"},
        // No recipe reaches 50 kHz: the kernels play unconverted, and the run says so.
        {"rate50.wav", "--seconds 0.1 --rate 50000", 0, "plughost: notice: WAV file ", ""},
        // Inputs without end: refused by their start, or as the buffer outgrows the memory.
        {"zero.wav", "--in /dev/zero", 1, "/dev/zero: not a RIFF/WAVE file", "nowhere.so"},
        {"zfifo.wav", "--in zeros.fifo", 1, "zeros.fifo: not a RIFF/WAVE file", "nowhere.so",
         "(exec cat /dev/zero >zeros.fifo 2>/dev/null &);"},
        {"endless.wav", "--in /dev/stdin", 2,
         "/dev/stdin: reading it needs about 134217728 bytes of memory, 100000000 are available",
         "nowhere.so",
         "{ " + header +
             "; exec cat /dev/zero; } 2>/dev/null | PLUGHOST_TEST_BYTES_AVAILABLE=100000000"},
        // 262,144 bytes past a limit of 200,000: the buffer's capacity, rounded up from the
        // limit when it last grew, holds them, yet the limit stands.
        {"past.wav", "--in /dev/stdin", 1,
         "/dev/stdin: larger than the WAV reader takes (200000 bytes at most)", "nowhere.so",
         "{ " + header + "; head -c 262100 /dev/zero; } | PLUGHOST_TEST_ITEM_BYTES=200000"},
    };
    ASSERT_EQ(mkfifo((work + "zeros.fifo").c_str(), 0644), 0);
    // No recipe, or the nearest one, would play these inputs at another speed and pitch.
    writeWav(work + "s352800.wav", 352800, 35280, 0.5);
    std::pair<int, int> const inexact[] = {{22050, 44100}, {32000, 44100}, {16000, 48000},
                                           {11025, 44100}, {8000, 48000},  {48000, 32000}};
    for (auto [from, to] : inexact) {
        std::string const f = std::to_string(from), t = std::to_string(to);
        writeWav(work + "s" + f + ".wav", from, from / 10, 0.5);
        cases.push_back({"r" + f + ".wav", "--in s" + f + ".wav --rate " + t, 1,
                         "at " + f + " Hz it cannot be converted exactly to the " + t + " Hz", ""});
    }
    for (auto const& c : cases) {
        SCOPED_TRACE(c.out);
        std::string const plugin = c.plugin.empty() ? so : quoted(c.plugin);
        std::string const out = work + c.out;
        fs::file_type const was = fs::symlink_status(out).type();
        // Someone's file at the name the run once took for its temporary.
        bool const part = static_cast<bool>(std::ofstream(out + ".part") << c.out);
        ::alarm(300); // a run that never ends fails the test rather than hanging it
        auto const [status, said] = run(work, c.env + " " + std::string(VORLAN_PLUGHOST) + " " +
                                                  plugin + " " + c.out + " " + c.args);
        ::alarm(0);
        EXPECT_EQ(status, c.status) << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        // Refusals come from what the plug-in or the file said, never a time-out.
        EXPECT_EQ(said.find("within"), std::string::npos) << said;
        EXPECT_TRUE(!part || readBytes(out + ".part") == c.out);
        std::istringstream lines(said);
        std::set<std::string> notices;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("plughost: notice: ", 0) == 0) {
                EXPECT_TRUE(notices.insert(line).second) << "twice: " << line;
            }
        }
        if (c.status != 0) {
            EXPECT_TRUE(fs::symlink_status(out).type() == was) << "output after a refusal";
            if (said.find("is not understood") != std::string::npos) {
                EXPECT_NE(said.find("usage: plughost"), std::string::npos) << said;
            }
            continue;
        }
        // The input's length plus the tail the run reports; sox reads it without a warning.
        long frames = 0;
        ASSERT_EQ(std::sscanf(said.c_str() + said.rfind("plughost: ", said.find(" frames at ")),
                              "plughost: %ld", &frames),
                  1)
            << said;
        ASSERT_NE(said.find("tail "), std::string::npos) << said;
        long const tail = std::atol(said.c_str() + said.find("tail ") + 5);
        EXPECT_EQ(long(readLeft(out).size()), frames + (tail > 1 ? tail : 0));
        auto const [soxStatus, sox] = run(work, "sox --i " + quoted(out));
        EXPECT_TRUE(soxStatus == 0 && sox.find("WARN") == std::string::npos) << sox;
    }

    // The output swapped for a FIFO while the temporary is written (35 MB, about 0.2 s under the
    // sanitizers): the check just before the rename refuses it.
    run(work, "(" + std::string(VORLAN_PLUGHOST) + " " + so +
                  " swap.wav --seconds 100 --lead-in 0; echo $? >swap.status) >swap.said 2>&1 &");
    auto const writing = [&] {
        std::error_code e;
        for (auto const& f : fs::directory_iterator(work))
            if (f.path().filename().string().rfind("swap.wav.~", 0) == 0)
                return f.file_size(e) > 0 && !e;
        return fs::exists(work + "swap.status");
    };
    ASSERT_TRUE(CorePeer::until(writing, 600) && mkfifo((work + "swap.new").c_str(), 0644) == 0);
    fs::rename(work + "swap.new", work + "swap.wav");
    ASSERT_TRUE(CorePeer::until([&] { return !readBytes(work + "swap.status").empty(); }, 600));
    EXPECT_EQ(readBytes(work + "swap.status"), "1\n");
    EXPECT_NE(readBytes(work + "swap.said").find("swap.wav: exists and is not a plain file"),
              std::string::npos);
    EXPECT_TRUE(fs::is_fifo(work + "swap.wav"));
    // No run left a temporary of its own behind.
    for (auto const& f : fs::recursive_directory_iterator(work))
        EXPECT_EQ(f.path().filename().string().find(".~"), std::string::npos) << f.path();

    // The room's 0.4 s kernel rings past the saturator's tail and ends below -60 dB.
    std::vector<double> const switched = readLeft(work + "roomtail.wav");
    ASSERT_GT(switched.size(), 44100u + 17640u);
    for (auto v = switched.end() - 1000; v != switched.end(); ++v) EXPECT_LT(std::fabs(*v), 1e-3);

    // The link stays a link, its target holds the output.
    EXPECT_TRUE(fs::is_symlink(work + "link.wav") &&
                fs::is_regular_file(fs::symlink_status(work + "sub dir/linked.wav")));

    // Missing master settings are the one cause the bare plug-in logs: no
    // skin is chosen then, and none is complained of.
    std::string const bareLog = readBytes(work + "bare/Vorlan3olvio.log");
    EXPECT_NE(bareLog.find("vorlan.xml: master settings not found"), std::string::npos) << bareLog;
    EXPECT_EQ(std::count(bareLog.begin(), bareLog.end(), '\n'), 1) << bareLog;

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

// A device node named as the output stays one: renamed over, it would
// become a plain file (the system's own, run as root).
TEST(PlughostTest, ADeviceNodeAsTheOutputStaysADevice) {
    if (geteuid() != 0) GTEST_SKIP() << "making a device node needs the super-user";
    PluginRig rig;
    std::string const node = rig.folder() + "null.wav";
    ASSERT_EQ(mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    auto const [status, said] =
        run(rig.folder(), std::string(VORLAN_PLUGHOST) + " " + quoted(rig.path()) + " null.wav");
    EXPECT_EQ(status, 2);
    EXPECT_NE(said.find("null.wav: exists and is not a plain file"), std::string::npos) << said;
    EXPECT_TRUE(fs::is_character_file(node) && !fs::exists(node + ".part"));
}

// Interrupted while its input has not come (a FIFO held open, never written), a run started as a
// shell starts a command ends by that signal, its temporary gone, the output there before kept.
TEST(PlughostTest, AnInterruptedRunRemovesItsTemporary) {
    PluginRig rig;
    std::string const work = rig.folder(), out = work + "OUT.wav", fifo = work + "in.fifo",
                      plug = rig.path();
    writeWav(out, 44100, 100, 0.5);
    std::string const kept = readBytes(out);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    auto temporaries = [&] {
        return std::count_if(fs::directory_iterator(work), fs::directory_iterator(), [](auto& f) {
            return f.path().filename().string().starts_with("OUT.wav.~");
        });
    };
    for (int const signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        ::alarm(120);
        int const held = open(fifo.c_str(), O_RDWR);
        pid_t const pid = fork();
        if (pid == 0) { // as a shell starts a command in the foreground
            for (int const s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
            execl(VORLAN_PLUGHOST, "plughost", plug.c_str(), out.c_str(), "--in", fifo.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        EXPECT_TRUE(CorePeer::until([&] { return temporaries() > 0; }, 60));
        kill(pid, signal);
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : -1, signal) << status;
        EXPECT_TRUE(temporaries() == 0 && readBytes(out) == kept);
        close(held);
        ::alarm(0);
    }
}

// The f Hz component of y[from .. to - 1] at rate, time zero at sample zero:
// its amplitude, and its phase (rad) as a sine's; a short y throws.
std::complex<double> component(std::vector<double> const& y, long from, long to, double f,
                               double rate) {
    std::complex<double> s = 0.0;
    for (long t = from; t < to; ++t)
        s += y.at(std::size_t(t)) * std::polar(1.0, M_PI / 2 - 2 * M_PI * f * double(t) / rate);
    return s * 2.0 / double(to - from);
}

// The demo's programs sound the same at every common rate: the saturator's
// 1 kHz component and second harmonic, and the room's direct sound for an
// impulse 0.5 s into a 44.1 kHz input. That input, and a sine at -6.02 dBFS
// through Init, are converted keeping their level and their first frame's place.
TEST(PlughostTest, ProgramsAndInputsSoundTheSameAtEveryRate) {
    PluginRig rig;
    std::string const work = rig.folder(),
                      so = std::string(VORLAN_PLUGHOST) + " " + quoted(rig.path());
    std::vector<double> x(44100, 0.0), sine(22050);
    x[22050] = 1.0;
    for (std::size_t t = 0; t < sine.size(); ++t)
        sine[t] = 0.5 * std::sin(2 * M_PI * 1000 * double(t) / 44100);
    writeBytes(work + "imp.wav", wavBytes(WavBytes{44100, 3, 32, {x}}));
    writeBytes(work + "sine.wav", wavBytes(WavBytes{44100, 3, 32, {sine}}));
    double first[3] = {0, 0, 0};
    for (int rate : {44100, 22050, 32000, 48000, 88200, 96000, 192000}) {
        SCOPED_TRACE(rate);
        std::string const r = std::to_string(rate);
        auto render = [&](std::string const& out, std::string const& args) {
            auto const [status, said] =
                run(work, so + " " + out + r + ".wav --rate " + r + " " + args);
            EXPECT_EQ(status, 0) << said;
            return readLeft(work + out + r + ".wav");
        };
        long const body = 22050L * rate / 44100; // the sine's frames at this rate
        std::complex<double> const c = component(render("in", "--slot 0 --in sine.wav"), body / 4,
                                                 body - body / 4, 1000, rate);
        EXPECT_LT(std::fabs(20 * std::log10(std::abs(c) / 0.5)), 0.1) << std::abs(c);
        // A sine starting at sample 0 has phase 0 there: within a hundredth of a sample.
        EXPECT_LT(std::fabs(std::arg(c)) / (2 * M_PI * 1000 / rate), 0.01) << std::arg(c);
        std::vector<double> const y = render("sat", "--slot 2 --signal sine:1000"),
                                  z = render("room", "--slot 1 --in imp.wav");
        std::size_t top = 0;
        for (std::size_t t = 0; t < z.size(); ++t)
            if (std::fabs(z[t]) > std::fabs(z[top])) top = t;
        EXPECT_EQ(top, std::size_t(rate / 2)) << "the direct sound where the impulse is";
        // Converted with its level kept, the impulse's sum grows with the rate.
        double direct = 0.0;
        for (long t = std::max(0L, long(top) - rate / 1000); t <= long(top) + 2 * rate / 1000; ++t)
            if (t < long(z.size())) direct += z[std::size_t(t)] * 44100.0 / rate;
        auto dB = [&](double f) {
            return 20 * std::log10(std::abs(component(y, rate / 4, rate - rate / 4, f, rate)));
        };
        double const now[3] = {dB(1000), dB(2000) - dB(1000), 20 * std::log10(std::fabs(direct))};
        if (rate == 44100) std::copy(now, now + 3, first);
        for (int i = 0; i < 3; ++i)
            EXPECT_LT(std::fabs(now[i] - first[i]), 0.2)
                << i << ": " << now[i] << " vs " << first[i];
    }
}

// A program change at frame 44100, sent with the call from S, rendered offline: the same each time,
// the old program to S - D, silence (the delay D) to S, then past its kernels' settle the new one
// as a render of it alone (not for the sweep, whose LFO runs from its load). The room reloads too.
TEST(PlughostTest, AProgramChangeOfflinePlaysFromTheCallItCameWith) {
    PluginRig rig;
    std::string const work = rig.folder(),
                      so = std::string(VORLAN_PLUGHOST) + " " + quoted(rig.path());
    long const S = 44100 / 512 * 512;
    std::vector<double> noise(441000), late(noise.size(), 0.0);
    CoreDemo::NOISE n{1};
    for (double& x : noise) x = 0.5 * n.next();
    std::copy(noise.begin() + S, noise.end(), late.begin() + S);
    writeBytes(work + "noise.wav", wavBytes(WavBytes{44100, 3, 32, {noise}}));
    writeBytes(work + "late.wav", wavBytes(WavBytes{44100, 3, 32, {late}}));
    auto const [status, said] = run(work, so + " none.wav --in noise.wav");
    ASSERT_EQ(status, 0) << said;
    long const D = std::stol(said.substr(said.find("latency ") + 8));
    std::vector<double> const none = readLeft(work + "none.wav");
    for (int slot : {0, 1, 2, 3}) {
        SCOPED_TRACE(slot);
        std::string const t = std::to_string(slot), change = " --midi 44100:192:" + t + ":0";
        // Three at once: how the machine shares its time between them must not matter.
        run(work, "(for r in a b c; do " + so + " pc" + t + "$r.wav --in noise.wav" + change +
                      " & done; wait)");
        std::vector<double> const y = readLeft(work + "pc" + t + "a.wav");
        ASSERT_TRUE(y.size() == none.size() && readLeft(work + "pc" + t + "b.wav") == y &&
                    readLeft(work + "pc" + t + "c.wav") == y);
        EXPECT_TRUE(std::equal(y.begin(), y.begin() + (S - D), none.begin()));
        // Exact silence up to the last block; in it, the new program's first block rounds.
        auto const from = y.begin() + (S - D), to = y.begin() + S;
        EXPECT_TRUE(std::all_of(from, to, [](double v) { return std::fabs(v) < 1e-15; }));
        EXPECT_GE(std::find_if(from, to, [](double v) { return v != 0.0; }) - from, D - 2048);
        if (slot == CoreDemo::iCsweep) continue;
        ASSERT_EQ(run(work, so + " ref.wav --in late.wav --slot " + t).first, 0);
        std::vector<double> const ref = readLeft(work + "ref.wav");
        long const settle = slot == CoreDemo::iCroom ? 44100 * 55 / 100 : 0;
        double peak = 0.0, worst = 0.0;
        for (std::size_t k = std::size_t(S); k < std::min(y.size(), ref.size()); ++k) {
            peak = std::max(peak, std::fabs(ref[k]));
            if (k >= std::size_t(S + settle)) worst = std::max(worst, std::fabs(y[k] - ref[k]));
        }
        EXPECT_LT(worst, 1e-6 * peak);
    }
}

} // namespace
