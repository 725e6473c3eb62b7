// The demo installation against the system's own readers: the engine finds
// its settings beside the plug-in (data folder, forced offset, skin) and its
// program memory takes the bank with the room to load; every program builds,
// the room's kernel is the room file read back, placed at the offset; and the
// engine boots into the room and plays it.
#include "tools/CoreDemo.h"

#include "engine/CorePlel.h"
#include "engine/CoreVctr.h"
#include "program/CoreMmry.h"
#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"
#include "skin/CoreSkin.h"
#include "storage/CoreFsys.h"
#include "storage/CoreWvfr.h"
#include "storage/CoreXml_.h"
#include "tests/processing/CorePrcsPeek.h"
#include "tests/program/ProgProbe.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr char const* kPlugin = "vorlan.so";

class CoreDemoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(temp.folder().c_str()), CoreAnsx(kPlugin)))
            << log.text();
    }
    std::string data() const { return temp.folder() + CoreDemo::sCdatapath; }

    LogCapture log;
    TempDir temp{"vorlandemo"};
    CorePool pool;
    CorePlel cache{&pool};
};

TEST_F(CoreDemoTest, MasterFileNamesFollowTheEngine) {
    struct Row {
        char const* plugin;
        char const* master; // "" refused
    } const rows[] = {{"vorlan.so", "vorlan.xml"},
                      {"Vorlan.SO", "Vorlan.xml"},
                      {"vorlan", "vorlan.xml"},
                      {"0", ""},
                      {"", ""},
                      {"lib/vorlan.so", ""}};
    for (Row const& r : rows) EXPECT_EQ(CoreDemo::mstnm(r.plugin), CoreAnsx(r.master)) << r.plugin;
    TempDir empty{"vorlandemo"};
    EXPECT_FALSE(CoreDemo::wrdem(CoreAnsx(empty.folder().c_str()), CoreAnsx("0")));
    EXPECT_TRUE(std::filesystem::is_empty(empty.folder())); // nothing half written
}

TEST_F(CoreDemoTest, EngineBesideThePluginReadsTheSettingsAndTheBank) {
    CoreFsys shell(&pool);
    CorePrcs e(&pool, CoreAnsx(temp.folder().c_str()), 44100, nullptr, CoreAnsx(kPlugin), false,
               true, &shell, CoreAnsx("0"), false, &cache);
    CorePrcsPeek peek{e};
    ASSERT_TRUE(peek.present());
    EXPECT_EQ(peek.masterpath(), temp.folder() + "vorlan.xml");
    EXPECT_EQ(peek.datapath(), data());
    int const offset = static_cast<int>(CoreButl::tpfup(44100, CoreDemo::iCforceoffset));
    EXPECT_EQ(peek.forced(), offset);
    EXPECT_EQ(peek.compensation(), peek.base() + offset + peek.ahead());
    CoreSkin skin(CoreAnsx((peek.datapath() + peek.skinfolder() + peek.skin()).c_str()));
    EXPECT_EQ(skin.getsk()->fontcount, 2);

    // The engine's own program memory, on the settings' folders, takes the bank.
    CoreMmry& memory = *peek.memory();
    ASSERT_TRUE(memory.loads(CoreAnsx(CoreDemo::sCsetup), 0, true)) << log.text();
    EXPECT_EQ(memory.getpr(), CoreDemo::iCroom);
    for (int i = 0; i < CoreDemo::iCprograms; ++i) {
        CoreDdoc::PROGRAM const p = CoreDemo::prgrm(i);
        EXPECT_EQ(memory.getnm(i), CoreAnsx(p.name.c_str()));
        EXPECT_EQ(memory.getct(i, 0), CoreAnsx(p.category.c_str()));
    }
}

TEST_F(CoreDemoTest, ProgramsBuildAndTheRoomKernelIsTheRoomFile) {
    CorePool storePool;
    CoreFsys store(&storePool, CoreAnsx(data().c_str()), false);
    int const slots[CoreDemo::iCprograms] = {1, 1, 3, 1},
              files[CoreDemo::iCprograms] = {1, 1, 3, 2};
    for (int i = 0; i < CoreDemo::iCprograms; ++i) {
        ProgProbe p(&pool, 3, &cache);
        p.setfs(&store);
        p.attachPlayers();
        CoreXml_ doc;
        std::string const file = data() + CoreDemo::sCprograms + CoreDemo::sCprogramfiles[i];
        CoreNode* root = doc.getff(CoreAnsx(file.c_str()), false);
        ASSERT_TRUE(root && p.load_(root, false)) << file << log.text();
        EXPECT_EQ(p.getsm(), files[i]) << file; // impulse files
        for (int s = 0; s < 3; ++s) EXPECT_EQ(p.slot(s).inuse, s < slots[i]) << file;
        if (i != CoreDemo::iCroom) continue;

        // The room read back through the WAV reader, then where the kernel holds it.
        CoreWvfr reader(&storePool, &store, true);
        reader.open_(CoreAnsx((std::string(CoreDemo::sCvectors) + "ROOM.WAV").c_str()));
        long const n = reader.getdr(true);
        std::vector<double> left(n), right(n);
        ASSERT_EQ(reader.getdt(n, left.data(), right.data()), n);
        reader.close();
        ProgProbe::HLOC& h = p.slot(0);
        ASSERT_EQ(h.offset, CoreButl::tpfup(44100, CoreDemo::iCforceoffset));
        ASSERT_GE(h.maximum, h.offset + n + 1);
        void *l = nullptr, *r = nullptr;
        static_cast<CoreVctr*>(p.slot(0).leaves[0u])->getip(0, &l, &r);
        double const* kernel[2] = {static_cast<double const*>(l), static_cast<double const*>(r)};
        std::vector<double> const* file_[2] = {&left, &right};
        for (int c = 0; c < 2; ++c)
            for (long k = 0; k < h.maximum; ++k) {
                long const j = k - h.offset;
                double const want = j >= 0 && j < n ? (*file_[c])[j] : 0.0;
                ASSERT_EQ(kernel[c][k], want) << "channel " << c << " at " << k;
            }
    }
}

// Engine e's stereo response to a unit impulse at frame at of total frames,
// rendered in host blocks of 512.
void impulse(CorePrcs& e, long at, long total, std::vector<double> (&out)[2]) {
    std::vector<double> in(total, 0.0);
    in[at] = 1.0;
    for (auto& c : out) c.assign(total, 0.0);
    for (long k = 0; k < total; k += 512) {
        long const frames = std::min<long>(512, total - k);
        void* ins[2] = {in.data() + k, in.data() + k};
        void* outs[2] = {out[0].data() + k, out[1].data() + k};
        e.prcss(ins, outs, frames, true, 0, 0.0, true, 2);
    }
}

} // namespace

// The whole road: the engine beside the plug-in boots on the demo bank into
// "Demo Room", and an impulse through the host entry comes back as the room
// file read back, from its first sound on.
TEST_F(CoreDemoTest, EngineBootsIntoTheRoomAndRendersThroughIt) {
    CoreFsys shell(&pool);
    CorePrcs e(&pool, CoreAnsx(temp.folder().c_str()), 44100, nullptr, CoreAnsx(kPlugin), false,
               true, &shell, CoreAnsx("0"), false, &cache);
    CorePrcsPeek peek{e};
    ASSERT_FALSE(e.fboot()) << log.text();
    EXPECT_FALSE(e.getby());
    EXPECT_EQ(peek.programName(), "Demo Room");
    EXPECT_EQ(e.getbi(67, nullptr), CoreDemo::iCroom);
    peek.gains(0.5, 0.5);

    CorePool storePool;
    CoreFsys store(&storePool, CoreAnsx(data().c_str()), false);
    CoreWvfr reader(&storePool, &store, true);
    reader.open_(CoreAnsx((std::string(CoreDemo::sCvectors) + "ROOM.WAV").c_str()));
    long const n = reader.getdr(true);
    std::vector<double> room[2] = {std::vector<double>(n), std::vector<double>(n)};
    ASSERT_EQ(reader.getdt(n, room[0].data(), room[1].data()), n);
    reader.close();

    // The impulse comes once the gain controls have glided to their values.
    long const kImpulse = 44100;
    long const total = kImpulse + 2 * n + 8192;
    std::vector<double> out[2];
    impulse(e, kImpulse, total, out);
    for (int c = 0; c < 2; ++c) {
        // First sample above a millionth of the peak: the FFT engines leave
        // round-off ahead of the sound.
        auto first = [](std::vector<double> const& v) {
            double peak = 0.0;
            for (double x : v) peak = std::max(peak, std::abs(x));
            long i = 0;
            while (i < static_cast<long>(v.size()) && std::abs(v[i]) <= 1e-6 * peak) ++i;
            return i;
        };
        long const k = first(room[c]);
        long const o = first(out[c]);
        ASSERT_LT(k, n);
        // The room's direct sound (its sync point) leaves at the delay the
        // engine reports.
        EXPECT_EQ(o - kImpulse, k + peek.compensation()) << "channel " << c;
        ASSERT_LT(o + (n - k), total) << "channel " << c;
        // The slot's extended length fades the room's last 40 ms out.
        long const m = n - k - static_cast<long>(CoreButl::tpfup(44100, 40000));
        std::vector<double> const want(room[c].begin() + k, room[c].begin() + k + m);
        std::vector<double> const got(out[c].begin() + o, out[c].begin() + o + m);
        EXPECT_LT(relativeError(got, want), 1e-5) << "channel " << c;
    }
}

TEST_F(CoreDemoTest, ProgramsPlayTheirImpulsesConvertedToTheHostRate) {
    // Location 0 (the neutral init) is read at its files' own rate; the room
    // the boot loads after it, and any program from another location, has
    // its files converted, at these rates exactly. So the room lasts its
    // 0.4 s at every rate: its response from the direct sound on falls below
    // a millionth there (within a host block), not before.
    for (int rate : {44100, 48000, 96000, 192000}) {
        CoreFsys shell(&pool);
        CorePrcs e(&pool, CoreAnsx(temp.folder().c_str()), rate, nullptr, CoreAnsx(kPlugin), false,
                   true, &shell, CoreAnsx("0"), false, &cache);
        CorePrcsPeek peek{e};
        ASSERT_FALSE(e.fboot()) << log.text();
        ASSERT_EQ(e.getbi(67, nullptr), CoreDemo::iCroom);
        EXPECT_EQ(e.getbl(29, nullptr), rate);
        peek.gains(0.5, 0.5);
        std::vector<double> out[2];
        impulse(e, rate, 2 * rate, out); // once the gains have glided
        long last = 0;
        for (auto const& c : out)
            for (long k = 0; k < long(c.size()); ++k)
                if (std::abs(c[std::size_t(k)]) >= 1e-6) last = std::max(last, k);
        double const lasts = double(last - rate - peek.compensation()) / rate;
        EXPECT_NEAR(lasts, 0.40, 512.0 / rate) << rate;

        // The init passes the impulse alone, at the reported delay.
        e.setbi(88, CoreDemo::iCinit, nullptr);
        impulse(e, 4096, 16384, out);
        for (auto& c : out) {
            EXPECT_NEAR(c[std::size_t(4096 + peek.compensation())], 1.0, 1e-9) << rate;
            c[std::size_t(4096 + peek.compensation())] = 0.0;
            EXPECT_LT(*std::max_element(c.begin(), c.end()), 1e-9) << rate;
            EXPECT_GT(*std::min_element(c.begin(), c.end()), -1e-9) << rate;
        }

        e.setbi(88, CoreDemo::iCsaturator, nullptr);
        EXPECT_EQ(e.getbl(28, nullptr), CoreDemo::iCrate) << rate;
        EXPECT_EQ(e.getbl(29, nullptr), rate);
    }
}

namespace {

using SPECTRUM = std::vector<std::complex<double>>;

// The response of kernel k on the bins of a 2^17-point transform (0.34 Hz
// apart at 44.1 kHz, several times finer than the longest kernel resolves).
SPECTRUM bins(std::vector<double> const& k) {
    unsigned const n = 1u << 17;
    std::vector<double> re(n, 0.0), outre(n), outim(n);
    std::copy(k.begin(), k.end(), re.begin());
    CoreButl::fftdb(n, 0, re.data(), nullptr, outre.data(), outim.data());
    SPECTRUM s(n / 2);
    for (unsigned i = 0; i < n / 2; ++i) s[i] = {outre[i], outim[i]};
    return s;
}

// The response of kernel k at f Hz, summed directly.
std::complex<double> at(std::vector<double> const& k, double f) {
    std::complex<double> sum = 0.0;
    for (std::size_t i = 0; i < k.size(); ++i)
        sum += k[i] * std::polar(1.0, -6.283185307179586 * f * double(i) / CoreDemo::iCrate);
    return sum;
}

std::vector<double> const& demoKernel(char const* name, int channel) {
    static std::vector<CoreDemo::IMPULSE> const all = CoreDemo::impls();
    for (CoreDemo::IMPULSE const& i : all)
        if (std::string(i.file) == name) return i.samples[std::size_t(channel)];
    throw std::string(name);
}

} // namespace

TEST(CoreDemoLevelTest, AFullScaleSineLeavesEveryProgramBelowFullScale) {
    double const bin = double(CoreDemo::iCrate) / double(1u << 17);
    auto const lo = std::size_t(20.0 / bin), hi = std::size_t(20000.0 / bin) + 1;
    // The room and the sweep are linear: a sine comes out at the response's
    // magnitude; the sweep's LFO crossfades its two spaces' kernels, so every
    // mix of them on its way counts.
    for (int c = 0; c < 2; ++c) {
        SPECTRUM const room = bins(demoKernel("ROOM.WAV", c));
        SPECTRUM const a = bins(demoKernel("SWEEPA.WAV", c)), b = bins(demoKernel("SWEEPB.WAV", c));
        double loudest[2] = {0.0, 0.0}; // room, sweep
        for (std::size_t k = lo; k <= hi; ++k) {
            loudest[0] = std::max(loudest[0], std::abs(room[k]));
            for (double w = 0.0; w <= 1.0; w += 0.125)
                loudest[1] = std::max(loudest[1], std::abs(w * a[k] + (1.0 - w) * b[k]));
        }
        EXPECT_LE(std::max(loudest[0], loudest[1]), 1.0) << loudest[0] << ' ' << loudest[1];
    }
    // The saturator sums h1 * x + h2 * x^2 + h3 * x^3: for x a full-scale sine
    // of w, x^2 = (1 - cos 2w) / 2 and x^3 = (3 sin w - sin 3w) / 4, so its
    // peak is at most this sum of magnitudes.
    std::vector<double> const& h1 = demoKernel("SAT1.WAV", 0);
    std::vector<double> const& h2 = demoKernel("SAT2.WAV", 0);
    std::vector<double> const& h3 = demoKernel("SAT3.WAV", 0);
    double const dc = std::abs(at(h2, 0.0));
    EXPECT_LT(0.125 * dc, 1e-3); // the mean of a 0.5 sine at any frequency through it
    for (double f = 20.0; f <= 20000.0; f *= 1.01) {
        double const peak = std::abs(at(h1, f) + 0.75 * at(h3, f)) + 0.5 * dc +
                            0.5 * std::abs(at(h2, 2 * f)) + 0.25 * std::abs(at(h3, 3 * f));
        EXPECT_LE(peak, 1.0) << "saturator at " << f << " Hz";
    }
}

// A harmonic slot count the engine cannot build is brought into its range
// where the master settings are read, with a line that says so; the instance
// boots into the room and plays it as with the demo's own count.
TEST_F(CoreDemoTest, SlotCountsOutsideTheEnginesRangeAreCappedAndTheRoomPlays) {
    auto render = [&](char const* hdimmax, short slots, std::vector<double>(&out)[2]) {
        CoreDdoc::VALUES values = CoreDemo::mstvl();
        if (*hdimmax != '\0') values.emplace_back("HDIMMAX", hdimmax);
        std::string const text = CoreDdoc::mstxm(values);
        std::string const file = temp.folder() + CoreDemo::mstnm(CoreAnsx(kPlugin)).c_str();
        ASSERT_TRUE(CoreButl::wrall(CoreAnsx(file.c_str()), text.data(), text.size()));
        CoreFsys shell(&pool);
        CorePrcs e(&pool, CoreAnsx(temp.folder().c_str()), 44100, nullptr, CoreAnsx(kPlugin), false,
                   true, &shell, CoreAnsx("0"), false, &cache);
        CorePrcsPeek peek{e};
        ASSERT_FALSE(e.fboot()) << log.text();
        ASSERT_EQ(e.getbi(67, nullptr), CoreDemo::iCroom);
        EXPECT_EQ(e.getbh(43, nullptr), slots);
        peek.gains(0.5, 0.5);
        impulse(e, 44100, 44100 + 32768, out);
    };
    std::vector<double> demo[2];
    render("", 10, demo);
    struct Row {
        char const* hdimmax;
        short slots;
        char const* logged; // the level-0 line, "" none
    } const rows[] = {
        {"32767", CorePrcs::iChdimmaxlargest, "HDIMMAX 32767 above 32766, taken as 32766"},
        {"100000", CorePrcs::iChdimmaxlargest, "HDIMMAX 100000 above 32766, taken as 32766"},
        {"32766", CorePrcs::iChdimmaxlargest, ""},
        {"-5", 1, "HDIMMAX -5 below 1, taken as 1"},
    };
    for (Row const& row : rows) {
        SCOPED_TRACE(row.hdimmax);
        std::size_t const from = log.text().size();
        std::vector<double> out[2];
        render(row.hdimmax, row.slots, out);
        std::string const said = log.text().substr(from);
        EXPECT_EQ(LogCapture::error(said, *row.logged ? row.logged : "HDIMMAX"), *row.logged != 0)
            << said;
        for (int c = 0; c < 2; ++c) EXPECT_LT(relativeError(out[c], demo[c]), 1e-12) << c;
    }
}
