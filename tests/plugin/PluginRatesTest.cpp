// ctest-labels: threads
// Kernels at their own speed and full band through the built plug-in, at the
// host rates a user meets: the demo room padded with silence past the
// conversion ceiling counted at the host's rate (but not at the file's) keeps
// its reflections' times; a kernel past the ceiling at its own rate plays
// unconverted with one log line, and location 0 never logs one; a 10-sample
// kernel is a marker (one tap) only where it is not converted; a 48 kHz noise
// kernel keeps its treble at 88.2, 176.4 and 352.8 kHz as at 96 kHz.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tests/support/WavBytes.h"
#include "tools/CoreDdoc.h"
#include "tools/CoreDemo.h"
#include "tools/CoreHost.h"

namespace {

constexpr double kWait = 60.0; // s: boots and loads under the sanitizers
// Bank locations; 0 holds a kernel past the ceiling, read at its own rate.
enum { kZero, kRoom, kRoom24, kRoom49, kLong, kTen, kNoise, kLocations };

// The demo with these programs: the room's, reading another file (a short
// kernel: Init's), each with its file at 44.1 kHz (the noise at 48 kHz).
void install(PluginRig const& rig) {
    ASSERT_TRUE(rig.settings({kDiagnosed}));
    std::string const data = rig.folder() + CoreDemo::sCdatapath;
    auto wav = [&](char const* file, int rate, CoreDemo::CHANNELS const& x) {
        writeBytes(data + CoreDemo::sCvectors + file, wavBytes(WavBytes{rate, 3, 32, x}));
    };
    for (auto [file, seconds] : {std::pair{"R24.WAV", 2.4}, {"R49.WAV", 4.9}, {"L51.WAV", 5.1}}) {
        CoreDemo::CHANNELS x = CoreDemo::impls()[1].samples; // the room, padded with silence
        for (auto& c : x) c.resize(std::size_t(seconds * CoreDemo::iCrate), 0.0);
        wav(file, CoreDemo::iCrate, x);
    }
    std::vector<double> ten(10), noise(7200); // noise: 60 dB down over 0.15 s at 48 kHz
    for (std::size_t k = 0; k < ten.size(); ++k) ten[k] = 0.5 * std::pow(0.7, double(k));
    std::mt19937 g(7);
    for (std::size_t k = 0; k < noise.size(); ++k)
        noise[k] = (double(g()) / g.max() - 0.5) * std::exp(-6.9 * double(k) / 7200);
    wav("TEN.WAV", CoreDemo::iCrate, {ten});
    wav("N48.WAV", 48000, {noise});
    std::vector<std::string> const files = {"ZERO.XML", "ROOM.XML", "R24.XML", "R49.XML",
                                            "LONG.XML", "TEN.XML",  "N48.XML"};
    char const* const wavs[kLocations] = {"L51.WAV", "",        "R24.WAV", "R49.WAV",
                                          "L51.WAV", "TEN.WAV", "N48.WAV"};
    for (int i = 0; i < kLocations; ++i) {
        if (i == kRoom) continue;
        CoreDdoc::PROGRAM p = CoreDemo::prgrm(i == kTen ? CoreDemo::iCinit : CoreDemo::iCroom);
        p.slots[0].files = {wavs[i]};
        writeBytes(data + CoreDemo::sCprograms + files[std::size_t(i)], CoreDdoc::prgxm(p));
    }
    writeBytes(data + CoreDemo::sCsetups + CoreDemo::sCsetup, CoreDdoc::stpxm(files, kRoom));
}

// Lines of the log written since the last call (kept in said) telling a slot plays unconverted.
int unconvertedLines(PluginRig const& rig, std::string& said) {
    static std::size_t logged = 0;
    std::string const all = readBytes(rig.folder() + CoreDemo::sCdatapath + "Vorlan3olvio.log");
    said = all.substr(std::min(logged, all.size()));
    logged = all.size();
    int n = 0;
    for (std::size_t at = said.find("read unconverted"); at != std::string::npos;
         at = said.find("read unconverted", at + 1))
        ++n;
    return n;
}

// The left channel's response to an impulse 0.5 s into the input, from the
// frame the impulse plays at on (delay compensated), after loading slot.
std::vector<double> response(CoreHost& host, int rate, int slot) {
    int const seen = host.updts();
    host.slot_(slot);
    EXPECT_TRUE(host.wtupd(seen, kWait)) << "load " << slot;
    long const at = rate / 2, delay = host.getdl();
    CoreHost::CHANNELS in(2, std::vector<double>(std::size_t(at + delay + rate / 5))), out;
    in[0][std::size_t(at)] = in[1][std::size_t(at)] = 1.0;
    host.rendr(in, out, true);
    return {out[0].begin() + at + delay, out[0].end()};
}

bool louder(double a, double b) { return std::abs(a) < std::abs(b); }

// Times (ms) of the three strongest peaks of y after 1 ms, each 0.3 ms or more from another.
std::vector<double> peaks(std::vector<double> y, int rate) {
    std::vector<double> times;
    std::fill(y.begin(), y.begin() + rate / 1000, 0.0);
    long const guard = long(0.3 * rate / 1000);
    for (int i = 0; i < 3; ++i) {
        long const top = std::max_element(y.begin(), y.end(), louder) - y.begin();
        times.push_back(1000.0 * double(top) / rate);
        std::fill(y.begin() + std::max(0L, top - guard),
                  y.begin() + std::min(long(y.size()), top + guard), 0.0);
    }
    std::sort(times.begin(), times.end());
    return times;
}

// Mean power (dB) of y's spectrum over lo..hi Hz, on a 20 Hz grid.
double band(std::vector<double> const& y, int rate, double lo, double hi) {
    double sum = 0;
    int count = 0;
    for (double f = lo; f <= hi; f += 20, ++count) {
        std::complex<double> s = 0, w = 1;
        std::complex<double> const step = std::polar(1.0, -2 * M_PI * f / rate);
        for (double v : y) s += v * w, w *= step;
        sum += std::norm(s);
    }
    return 10 * std::log10(sum / count);
}

} // namespace

TEST(PluginRatesTest, KernelsPlayAtTheirOwnSpeedAndFullBand) {
    PluginRig rig;
    install(rig);
    double const reflections[] = {4.29, 7.89, 11.18};
    struct Row {
        int rate;
        bool rooms, noise, ten;
    } const rows[] = {{44100, false, false, true},  {48000, true, false, false},
                      {88200, true, true, false},   {96000, true, true, true},
                      {176400, false, true, false}, {192000, true, false, false},
                      {352800, false, true, false}};
    std::string said;
    unconvertedLines(rig, said);
    std::map<int, std::vector<double>> treble; // the noise's bands against its 1-5 kHz level
    for (Row const& r : rows) {
        SCOPED_TRACE(r.rate);
        CoreHost host(rig.path(), r.rate, 512);
        host.start();
        ASSERT_TRUE(host.wtupd(0, kWait)) << "boot";
        EXPECT_EQ(unconvertedLines(rig, said), 0) << "location 0 is read at its own rate:\n"
                                                  << said;
        for (int slot : {kRoom24, kRoom49}) {
            if (!r.rooms) continue;
            std::vector<double> const t = peaks(response(host, r.rate, slot), r.rate);
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(t[i], reflections[i], 0.05) << slot;
        }
        if (r.noise) {
            std::vector<double> const y = response(host, r.rate, kNoise);
            double const base = band(y, r.rate, 1000, 5000);
            for (auto [lo, hi] : {std::pair{14500, 16000}, {16000, 18000}, {18000, 20000}})
                treble[r.rate].push_back(band(y, r.rate, lo, hi) - base);
        }
        if (r.ten) { // one tap (a marker) plays one sample; the converted kernel many
            std::vector<double> const y = response(host, r.rate, kTen);
            double const top = std::abs(*std::max_element(y.begin(), y.end(), louder));
            long const sounding = std::count_if(y.begin(), y.end(),
                                                [&](double v) { return std::abs(v) > 1e-4 * top; });
            EXPECT_EQ(sounding == 1, r.rate == 44100) << sounding;
        }
        EXPECT_EQ(unconvertedLines(rig, said), 0) << said;
        if (r.rate == 96000) {
            response(host, r.rate, kLong);
            EXPECT_EQ(unconvertedLines(rig, said), 1) << said;
            for (char const* word : {"L51.WAV\"", " 44100 Hz", " 96000 Hz"})
                EXPECT_NE(said.find(word), std::string::npos) << word << " in\n" << said;
        }
    }
    for (int rate : {88200, 176400, 352800})
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_NEAR(treble[rate].at(i), treble[96000].at(i), 1.0) << rate << " band " << i;
}
