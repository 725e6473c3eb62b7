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

// The demo room's program, reading file instead (one of 10 samples as Init's).
void program(std::string const& data, std::string const& name, std::string const& file,
             bool shortkernel = false) {
    CoreDdoc::PROGRAM p = CoreDemo::prgrm(shortkernel ? CoreDemo::iCinit : CoreDemo::iCroom);
    p.slots[0].files = {file};
    writeBytes(data + CoreDemo::sCprograms + name, CoreDdoc::prgxm(p));
}

// The demo room at 44.1 kHz padded with silence to seconds.
void room(std::string const& data, std::string const& file, double seconds) {
    CoreDemo::CHANNELS x = CoreDemo::impls()[1].samples;
    for (auto& c : x) c.resize(std::size_t(seconds * CoreDemo::iCrate), 0.0);
    writeBytes(data + CoreDemo::sCvectors + file, wavBytes(WavBytes{CoreDemo::iCrate, 3, 32, x}));
}

class PluginRatesTest : public PluginRigTest {
protected:
    static void SetUpTestSuite() {
        PluginRigTest::SetUpTestSuite();
        ASSERT_TRUE(rig->settings({kDiagnosed}));
        std::string const data = rig->folder() + CoreDemo::sCdatapath;
        room(data, "R24.WAV", 2.4);
        room(data, "R49.WAV", 4.9);
        room(data, "LONG51.WAV", 5.1);
        std::vector<double> ten(10);
        for (std::size_t k = 0; k < ten.size(); ++k) ten[k] = 0.5 * std::pow(0.7, double(k));
        writeBytes(data + CoreDemo::sCvectors + "TEN.WAV", wavBytes(WavBytes{44100, 3, 32, {ten}}));
        // Seeded white noise at 48 kHz, decaying by 60 dB over 0.15 s.
        std::mt19937 g(7);
        std::uniform_real_distribution<double> d(-0.5, 0.5);
        std::vector<double> noise(7200);
        for (std::size_t k = 0; k < noise.size(); ++k)
            noise[k] = d(g) * std::exp(-6.9 * double(k) / 7200);
        writeBytes(data + CoreDemo::sCvectors + "N48.WAV",
                   wavBytes(WavBytes{48000, 3, 32, {noise}}));
        std::string const files[kLocations] = {"ZERO.XML", "ROOM.XML", "R24.XML", "R49.XML",
                                               "LONG.XML", "TEN.XML",  "N48.XML"};
        program(data, files[kZero], "LONG51.WAV");
        program(data, files[kRoom24], "R24.WAV");
        program(data, files[kRoom49], "R49.WAV");
        program(data, files[kLong], "LONG51.WAV");
        program(data, files[kTen], "TEN.WAV", true);
        program(data, files[kNoise], "N48.WAV");
        writeBytes(data + CoreDemo::sCsetups + CoreDemo::sCsetup,
                   CoreDdoc::stpxm({files, files + kLocations}, kRoom));
    }

    // The log's lines written since the last call that tell a slot plays unconverted.
    static int unconvertedLines(std::string& said) {
        std::string const all =
            readBytes(rig->folder() + CoreDemo::sCdatapath + "Vorlan3olvio.log");
        said = all.substr(std::min(logged, all.size()));
        logged = all.size();
        int n = 0;
        for (std::size_t at = said.find("read unconverted"); at != std::string::npos;
             at = said.find("read unconverted", at + 1))
            ++n;
        return n;
    }
    static inline std::size_t logged = 0;
};

// An instance at rate, booted (location 0 and the room loaded).
struct Instance {
    Instance(std::string const& so, int rate) : rate(rate), host(so, rate, 512) {
        host.start();
        booted = host.wtupd(0, kWait);
    }
    // The left channel's response to an impulse 0.5 s into the input, from
    // the frame the impulse plays at on (delay compensated), after loading slot.
    std::vector<double> response(int slot) {
        int const seen = host.updts();
        host.slot_(slot);
        EXPECT_TRUE(host.wtupd(seen, kWait)) << "load " << slot;
        long const at = rate / 2, delay = host.getdl();
        CoreHost::CHANNELS in(2, std::vector<double>(std::size_t(at + delay + rate / 5))), out;
        in[0][std::size_t(at)] = in[1][std::size_t(at)] = 1.0;
        host.rendr(in, out, true);
        return {out[0].begin() + at + delay, out[0].end()};
    }
    int rate;
    CoreHost host;
    bool booted = false;
};

bool louder(double a, double b) { return std::abs(a) < std::abs(b); }

// Times (ms) of the n strongest peaks of y after skip ms, each at least 0.3 ms from another.
std::vector<double> peaks(std::vector<double> y, int rate, double skip, int n) {
    std::vector<double> times;
    std::fill(y.begin(), y.begin() + long(skip * rate / 1000), 0.0);
    long const guard = long(0.3 * rate / 1000);
    for (int i = 0; i < n; ++i) {
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

TEST_F(PluginRatesTest, KernelsPlayAtTheirOwnSpeedAndFullBand) {
    double const reflections[] = {4.29, 7.89, 11.18};
    struct Row {
        int rate;
        bool rooms, noise;
    } const rows[] = {{44100, false, false}, {48000, true, false},  {88200, true, true},
                      {96000, true, true},   {176400, false, true}, {192000, true, false},
                      {352800, false, true}};
    std::string said;
    unconvertedLines(said);
    std::vector<double> at96; // the noise kernel's bands at 96 kHz, against its 1-5 kHz level
    std::vector<std::pair<int, std::vector<double>>> treble;
    for (Row const& r : rows) {
        SCOPED_TRACE(r.rate);
        Instance one(rig->path(), r.rate);
        ASSERT_TRUE(one.booted);
        EXPECT_EQ(unconvertedLines(said), 0) << "location 0 is read at its own rate:\n" << said;
        for (int slot : {kRoom24, kRoom49}) {
            if (!r.rooms) continue;
            std::vector<double> const t = peaks(one.response(slot), r.rate, 1.0, 3);
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(t[i], reflections[i], 0.05) << slot;
        }
        if (r.noise) {
            std::vector<double> const y = one.response(kNoise);
            double const base = band(y, r.rate, 1000, 5000);
            std::vector<double> b;
            for (auto [lo, hi] : {std::pair{14500, 16000}, {16000, 18000}, {18000, 20000}})
                b.push_back(band(y, r.rate, lo, hi) - base);
            if (r.rate == 96000)
                at96 = b;
            else
                treble.emplace_back(r.rate, b);
        }
        if (r.rate == 44100 || r.rate == 96000) {
            // One tap plays one sample; the converted kernel plays many.
            std::vector<double> const y = one.response(kTen);
            double const top = std::abs(*std::max_element(y.begin(), y.end(), louder));
            long const sounding = std::count_if(y.begin(), y.end(),
                                                [&](double v) { return std::abs(v) > 1e-4 * top; });
            EXPECT_EQ(sounding == 1, r.rate == 44100) << sounding;
        }
        EXPECT_EQ(unconvertedLines(said), 0) << said;
        if (r.rate == 96000) {
            one.response(kLong);
            EXPECT_EQ(unconvertedLines(said), 1) << said;
            for (char const* word : {"LONG51.WAV\"", " 44100 Hz", " 96000 Hz"})
                EXPECT_NE(said.find(word), std::string::npos) << word << " in\n" << said;
        }
    }
    ASSERT_EQ(at96.size(), 3u);
    for (auto const& [rate, b] : treble)
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(b[std::size_t(i)], at96[std::size_t(i)], 1.0) << rate << " band " << i;
}
