// ctest-labels: threads
// ctest-split: cases
// Kernels at their own speed and full band through the built plug-in, at the host rates a user
// meets, one instance per rate loading side by side: the demo room padded with silence past the
// conversion ceiling counted at the host's rate (but not at the file's) keeps its reflections'
// times; a kernel past the ceiling at its own rate plays unconverted (too fast) with one log line,
// and location 0 never logs one; a 10-sample kernel is a marker (one tap) only while under 16
// frames at the host's rate; a 48 kHz kernel keeps its treble at 48 to 352.8 kHz as at 96 kHz.
// Every kernel file plays at its level whatever the others' rates, and an element of a normalised
// vector at its file's peak whatever the host's; a host rate change once the boot program loaded
// plays the room as a program change at the new rate does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <numeric>

#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tests/support/WavBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

using V = PlatVst;

namespace {

// Bank locations, the marker booted; 0 holds a kernel past the ceiling, read at its own rate.
enum { kZero, kTen, kTreble, kRoom24, kRoom49, kLong };

// Mean power (dB) of y's spectrum over lo..hi Hz on a 20 Hz grid (Goertzel).
double band(std::vector<double> const& y, int rate, double lo, double hi) {
    double sum = 0, count = 0, s0, s1 = 0, s2 = 0;
    for (double f = lo; f <= hi; f += 20, ++count, s1 = s2 = 0) {
        double const c = 2 * std::cos(2 * M_PI * f / rate);
        for (double v : y) s0 = v + c * s1 - s2, s2 = s1, s1 = s0;
        sum += s1 * s1 + s2 * s2 - c * s1 * s2;
    }
    return 10 * std::log10(sum / count);
}

} // namespace

TEST(PluginRatesTest, KernelsPlayAtTheirOwnSpeedAndFullBand) {
    // A program per location, the room's (the marker's: Init's) reading the
    // room's first frames at 44.1 kHz (7200 at 48 kHz), or ten at 0.5.
    PluginRig rig;
    ASSERT_TRUE(rig.settings({kDiagnosed}));
    std::string const data = rig.folder() + CoreDemo::sCdatapath;
    std::pair<char const*, int> const wavs[] = {{"L51", 51 * 4410}, {"TEN", 10},
                                                {"T48", 7200},      {"R24", 24 * 4410},
                                                {"R49", 49 * 4410}, {"L51", 51 * 4410}};
    std::vector<std::string> files;
    for (auto [file, frames] : wavs) { // the room, cut or padded with silence
        WavBytes w{files.size() == kTreble ? 48000 : 44100, 3, 32, CoreDemo::impls()[1].samples};
        for (auto& c : w.channels) c.resize(std::size_t(frames), 0.0);
        if (files.size() == kTen) w.channels = {std::vector<double>(10, 0.5)};
        writeBytes(data + CoreDemo::sCvectors + file + ".WAV", wavBytes(w));
        auto p = CoreDemo::prgrm(files.size() == kTen ? CoreDemo::iCinit : CoreDemo::iCroom);
        p.slots[0].files = {file + std::string(".WAV")};
        files.push_back("P" + std::to_string(files.size()) + ".XML");
        writeBytes(data + CoreDemo::sCprograms + files.back(), CoreDdoc::prgxm(p));
    }
    writeBytes(data + CoreDemo::sCsetups + CoreDemo::sCsetup, CoreDdoc::stpxm(files, kTen));
    // An instance per rate boots the marker and loads the locations after it
    // up to its last, each once the one before has played, all at once.
    int const rates[] = {96000, 44100, 48000, 88200, 176400, 192000, 352800},
              lasts[] = {kLong, kTen, kRoom49, kRoom49, kTreble, kRoom49, kTreble};
    std::deque<CoreHost> hosts;
    int seen[7] = {};
    for (int rate : rates) hosts.emplace_back(rig.path(), rate, 512).start();
    double at96[3] = {}, edge[] = {14500, 16000, 18000, 20000}; // the treble's truth, its bands
    for (int slot = kTen; slot <= kLong; ++slot)
        for (int i = 0; i < 7; ++i) {
            int const rate = rates[i], last = lasts[i];
            if (slot > last) continue;
            SCOPED_TRACE(testing::Message() << rate << " Hz, location " << slot);
            // The left channel's response to an impulse, from the frame it plays at on.
            ASSERT_TRUE(hosts[i].wtupd(seen[i], 60));
            long const at = rate / 10, delay = hosts[i].getdl(), guard = 3 * rate / 10000;
            CoreHost::CHANNELS in(2, std::vector<double>(std::size_t(at + delay + rate / 6))), out;
            in[0][std::size_t(at)] = in[1][std::size_t(at)] = 1.0;
            hosts[i].rendr(in, out, true);
            if (slot < last) seen[i] = hosts[i].updts(), hosts[i].slot_(slot + 1);
            std::vector<double> y(out[0].begin() + at + delay, out[0].end()), ms;
            for (int k = 0; k < 3 && slot == kTreble; ++k) { // the treble against 1-5 kHz
                double const dB = band(y, rate, edge[k], edge[k + 1]) - band(y, rate, 1000, 5000);
                EXPECT_NEAR(dB, rate == 96000 ? at96[k] = dB : at96[k], 1.0) << k;
            }
            for (double& v : y) v = std::abs(v);
            double const top = *std::max_element(y.begin(), y.end()),
                         sum = std::accumulate(y.begin(), y.end(), 0.0);
            // A marker (under 16 frames at the host's rate) plays one sample.
            EXPECT_TRUE(slot != kTen || (sum < 1.001 * top) == (10.0 * rate / 44100 < 16)) << sum;
            // The three strongest peaks after 1 ms, 0.3 ms or more apart, in
            // time, or (read unconverted) too fast.
            for (int k = 0; k < 3 && slot >= kRoom24; ++k) {
                auto const peak = std::max_element(y.begin() + rate / 1000, y.end());
                ms.push_back(1000.0 * double(peak - y.begin()) / rate);
                std::fill(peak - guard, peak + std::min<long>(guard, y.end() - peak), 0.0);
            }
            std::sort(ms.begin(), ms.end());
            double const speed = slot == kLong ? 44100.0 / rate : 1, want[] = {4.29, 7.89, 11.18};
            for (std::size_t k = 0; k < ms.size(); ++k) EXPECT_NEAR(ms[k], want[k] * speed, 0.05);
        }
    // One slot was read unconverted, and that was said once.
    std::string const said = readBytes(data + "Vorlan3olvio.log");
    EXPECT_EQ(said.find("read unconverted"), said.rfind("read unconverted")) << said;
    for (char const* word : {"read unconverted", "L51.WAV\"", " 44100 Hz", " 96000 Hz"})
        EXPECT_NE(said.find(word), std::string::npos) << word;
}

namespace {

// A program per location, each harmonic slot a vector of files: each `value` at its first
// frame, silent to `frames` at `rate`, with half the value `echo` ms later (0: none).
struct IMPULSE {
    int rate, frames;
    double value, echo;
};
std::vector<std::vector<IMPULSE>> const kLevels[] = {
    {{{96000, 256, 1, 0}}, {{44100, 256, 1, 0}}},
    {{{44100, 256, 1, 0}}, {{48000, 256, 1, 0}}},
    {{{48000, 256, 1, 0}}, {{44100, 256, 1, 0}}},
    {{{44100, 441, 1, 3}, {96000, 960, 1, 6}}},    // one vector, two elements
    {{{44100, 4410, 1, 0}}, {{96000, 256, 1, 0}}}, // H1 past RATECONVERSION
    {{{44100, 1, 1, 0}}, {{44100, 64, 1, 0}}},     // markers: one sample
    {{{44100, 64, 1, 0}}, {{44100, 1, 1, 0}}},
    {{{44100, 1, 1, 0}}, {{44100, 1, 0.5, 0}}},
    {{{44100, 64, 1, 0}}, {{96000, 1, 0.5, 0}}},
    // From here on normalised (GAINLIMITER): every element at its peak's level, 1.
    {{{44100, 441, 1, 3}, {44100, 441, 0.5, 6}}},
    {{{44100, 441, 1, 3}, {48000, 480, 0.5, 6}}},
    {{{44100, 441, 1, 3}, {96000, 960, 0.5, 6}}},
    {{{44100, 441, 1, 3}, {192000, 1920, 0.5, 6}}},
    {{{96000, 960, 0.5, 3}, {96000, 960, 1, 6}}},
};
std::size_t const normalised = 9;

// Every program of the table written, the rates' instances side by side play those from first
// to last (indices of the table; location = index + 1). In two halves, each its own process: the
// whole table at four rates runs for minutes under ThreadSanitizer on a busy machine.
void playsAtLevel(std::size_t first, std::size_t last) {
    PluginRig rig; // RATECONVERSION 50 ms: only the 0.1 s file is past it
    ASSERT_TRUE(rig.settings({kDiagnosed, {"RATECONVERSION", "50000"}}));
    std::string const data = rig.folder() + CoreDemo::sCdatapath;
    std::vector<std::string> files{"INIT.XML"}; // location 0 reads at the files' own rate
    int count = 0;                              // kernel files written
    for (auto const& slots : kLevels) {
        std::string const name = "LV" + std::to_string(files.size());
        CoreDdoc::PROGRAM p(
            name, "",
            {{"HDIM", std::to_string(slots.size())}, {"GAININ", "0.0"}, {"GAINOUT", "0.0"}});
        for (auto const& slot : slots) {
            p.slots.emplace_back().common = {{"OFFSET", "1000"}, {"LENGTH", "10000"}};
            bool const child = files.size() > normalised; // the files in a normalised child
            if (child) p.slots.back().children.emplace_back().control = {{"GAINLIMITER", "1"}};
            auto& into = child ? p.slots.back().children.back().files : p.slots.back().files;
            for (IMPULSE const& k : slot) {
                WavBytes w{k.rate, 3, 32, {std::vector<double>(std::size_t(k.frames))}};
                w.channels[0][0] = k.value;
                if (k.echo > 0) w.channels[0][std::size_t(k.echo * k.rate / 1000)] = k.value / 2;
                into.push_back(name + "_" + std::to_string(++count) + ".WAV");
                writeBytes(data + CoreDemo::sCvectors + into.back(), wavBytes(w));
            }
        }
        files.push_back(name + ".XML");
        writeBytes(data + CoreDemo::sCprograms + files.back(), CoreDdoc::prgxm(p));
    }
    writeBytes(data + CoreDemo::sCsetups + CoreDemo::sCsetup, CoreDdoc::stpxm(files, 1));
    int const rates[] = {44100, 48000, 96000, 192000};
    std::deque<CoreHost> hosts;
    int seen[4] = {};
    for (int rate : rates) hosts.emplace_back(rig.path(), rate, 512).start();
    for (int i = 0; i < 4 && first > 0; ++i) { // the boot plays location 1: on to the first
        ASSERT_TRUE(hosts[i].wtupd(0, 60));
        seen[i] = hosts[i].updts(), hosts[i].slot_(int(first) + 1);
    }
    for (std::size_t r = first; r < last; ++r)
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(testing::Message() << rates[i] << " Hz, location " << r + 1);
            ASSERT_TRUE(hosts[i].wtupd(seen[i], 60));
            // +1, then -1 a gap later: H1 hears x, H2 x squared, so half the
            // difference of the two responses is H1's, half their sum H2's.
            long const gap = rates[i] / 10, at = gap + hosts[i].getdl();
            CoreHost::CHANNELS in(2, std::vector<double>(std::size_t(at + 2 * gap))), out;
            for (auto& c : in) c[std::size_t(gap)] = 1, c[std::size_t(2 * gap)] = -1;
            hosts[i].rendr(in, out, true);
            if (r + 1 < last) seen[i] = hosts[i].updts(), hosts[i].slot_(int(r) + 2);
            // Harmonic h's response summed over 1.2 ms either side of ms is the value's level.
            auto level = [&](double ms, int h, double value) {
                long const c = at + long(ms * rates[i] / 1000), w = 12 * rates[i] / 10000;
                double pos = 0, neg = 0;
                for (long k = c - w; k <= c + w; ++k)
                    pos += out[0][std::size_t(k)], neg += out[0][std::size_t(k + gap)];
                double const dB = 20 * std::log10(std::abs(h % 2 ? pos - neg : pos + neg) / 2);
                EXPECT_NEAR(dB, 20 * std::log10(value), 0.05) << "H" << h << " at " << ms << " ms";
            };
            for (std::size_t h = 1; h <= kLevels[r].size(); ++h) {
                double all = 0;
                for (IMPULSE const& k : kLevels[r][h - 1]) {
                    double const value = r < normalised ? k.value : 1;
                    all += value;
                    if (k.echo > 0) level(k.echo, int(h), value / 2);
                }
                level(0, int(h), all);
            }
        }
}

} // namespace

TEST(PluginRatesTest, EveryKernelPlaysAtItsFilesLevel) { playsAtLevel(0, normalised); }
TEST(PluginRatesTest, EveryNormalisedElementPlaysAtItsPeak) {
    playsAtLevel(normalised, std::size(kLevels));
}

TEST(PluginRatesTest, AHostRateChangeReloadsTheProgramPlaying) {
    // The demo's room, booted at one rate, then played at another: the host's rate call comes
    // after the boot ended (-1: the boot by the clock) or after boot step `after` (the boot driven
    // one step at a time through the bus, with no control thread until it ended). A host may open
    // every instance at 44.1 kHz and set its project's rate just before the first call: each plays
    // as one opened at the new rate. With AHEADLENGTH 50 ms (`ahead` 1; 0 the demo's 3 ms) and
    // WORKBUFFER 4096, 96 kHz needs rings twice the size 44.1 kHz needs.
    PluginRig rig;
    int const rows[][4] = {{44100, 96000, -1, 0}, {44100, 96000, 8, 0},  {96000, 44100, -1, 0},
                           {96000, 44100, 9, 0},  {44100, 96000, -1, 1}, {96000, 44100, 8, 1}};
    for (auto const& [from, to, after, ahead] : rows) {
        SCOPED_TRACE(testing::Message() << from << " to " << to << " after " << after << ahead);
        ASSERT_TRUE(rig.settings({kDiagnosed,
                                  {"WORKBUFFER", ahead ? "4096" : ""},
                                  {"AHEADLENGTH", ahead ? "50000" : ""}}));
        CoreHost h(rig.path(), from, 512);
        auto rate = [&](int hz) { h.dispt(V::opSetSampleRate, 0, 0, nullptr, float(hz)); };
        auto step = [&] { return CorePeer::bus(h, 144, 'b', 0, 0, true).kind != 0; };
        if (after < 0) {
            h.start();
            ASSERT_TRUE(h.wtupd(0, 60));
        } else {
            rate(from);
            h.dispt(V::opSetBlockSize, 0, 512);
            h.dispt(V::opMainsChanged, 0, 1);
            for (int k = 0; k <= after; ++k) ASSERT_TRUE(step());
            ASSERT_EQ(CorePeer::bus(h, 145, 'i').number, after);
        }
        h.dispt(V::opMainsChanged, 0, 0);
        rate(to);
        h.dispt(V::opMainsChanged, 0, 1);
        if (after >= 0) {
            for (int k = after + 1; k <= 11; ++k) ASSERT_TRUE(step());
            h.dispt(V::opOpen); // the control thread ends the boot and reports the delay
            ASSERT_TRUE(h.wtupd(0, 60));
        }
        // The room's reflections in time after the delay reported, what the instance opened at
        // the new rate reports (2432 for the demo at 96 kHz); from 20 ms on, both play the same,
        // first frames included.
        CoreHost opened(rig.path(), to, 512);
        opened.start();
        ASSERT_TRUE(opened.wtupd(0, 60));
        long const delay = h.getdl(), at = to / 10, guard = 3 * to / 10000;
        EXPECT_EQ(delay, opened.getdl());
        CoreHost::CHANNELS in(2, std::vector<double>(std::size_t(at + delay + to / 6))), out, o;
        in[0][0] = in[1][0] = 0.25;
        in[0][std::size_t(at)] = in[1][std::size_t(at)] = 1.0;
        h.rendr(in, out, true);
        opened.rendr(in, o, true);
        double const top = *std::max_element(o[0].begin(), o[0].end());
        for (long k = to / 50, d = opened.getdl(); k + std::max(delay, d) < long(o[0].size()); ++k)
            ASSERT_NEAR(out[0][std::size_t(k + delay)], o[0][std::size_t(k + d)], 1e-6 * top) << k;
        std::vector<double> y(out[0].begin() + at + delay, out[0].end()), ms;
        for (double& v : y) v = std::abs(v);
        for (int k = 0; k < 3; ++k) {
            auto const peak = std::max_element(y.begin() + to / 1000, y.end());
            ms.push_back(1000.0 * double(peak - y.begin()) / to);
            std::fill(peak - guard, peak + std::min<long>(guard, y.end() - peak), 0.0);
        }
        std::sort(ms.begin(), ms.end());
        double const want[] = {4.29, 7.89, 11.18};
        for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(ms[k], want[k], 0.05);
        // ...which is the delay a program change at the new rate gives (2432 for 44.1 to 96 kHz).
        int const seen = h.updts();
        h.slot_(CoreDemo::iCroom);
        ASSERT_TRUE(h.wtupd(seen, 60));
        EXPECT_EQ(h.getdl(), delay);
    }
}
