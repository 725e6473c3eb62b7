#include "modulation/CoreLfo_.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/AllocCount.h"

#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "modulation/DataSrce.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRateFactor = 0.041666666666;
constexpr double kInf = std::numeric_limits<double>::infinity();

// The fold of a phase into -1..1 as the waveforms see it, written out here
// rather than borrowed from the catalogue.
double foldPhase(double x) {
    if (x >= -1.0 && x <= 1.0) return x;
    double const u = (x + 1.0) * 0.5;
    return 2.0 * (u - std::floor(u)) - 1.0;
}

double clampUnit(double v) { return v < -1.0 ? -1.0 : (v > 1.0 ? 1.0 : v); }

double tri(double x) {
    if (x > 0.5) return 2.0 * (1.0 - x);
    if (x < -0.5) return -2.0 * (x + 1.0);
    return 2.0 * x;
}

double steps(double a, int n) { return clampUnit(std::floor(a * n * 0.5) * (2.0 / n)); }

class LfoTest : public ::testing::Test {
protected:
    DataSrce bus;
    DataGfun functions;
    CoreSrce* lfoOut = bus.getsc(CoreAnsx("LFO1"));
    CoreSrce* rateOut = bus.getsc(CoreAnsx("RATELFO1"));
    CoreLfo_ lfo{CoreAnsx("LFO1"), &functions, &bus, lfoOut, rateOut};

    void SetUp() override {
        bus.getsc(CoreAnsx("OFF"))->setvl(-1.0);
        bus.getsc(CoreAnsx("ON"))->setvl(1.0);
    }
    // A fixed rate: both scale ends at the rate, the rate parameter unbound.
    void configure(double rate, CoreAnsx const& wave, double phaseDeg = 0.0, double quant = 0.0,
                   CoreAnsx const& phaseKey = CoreAnsx("")) {
        lfo.setvl(rate, rate, quant, CoreAnsx(""), wave, phaseDeg, phaseKey);
    }
};

TEST_F(LfoTest, MinimumAndMaximumPullEachOther) {
    lfo.setvl(2.0, 2.0, 0.0, CoreAnsx(""), CoreAnsx("Sine"), 0.0, CoreAnsx(""));
    lfo.setmx(1.0);
    EXPECT_EQ(lfo.getrt()->getsl(), 1.0);
    EXPECT_EQ(lfo.getrt()->getsu(), 1.0);

    lfo.setvl(1.0, 3.0, 0.0, CoreAnsx(""), CoreAnsx("Sine"), 0.0, CoreAnsx(""));
    lfo.setmn(5.0);
    EXPECT_EQ(lfo.getrt()->getsl(), 5.0);
    EXPECT_EQ(lfo.getrt()->getsu(), 5.0);
}

TEST_F(LfoTest, RisingSawtoothRunsUnwrappedAndFolds) {
    configure(1.0, CoreAnsx("Rise S"));
    double const expected[] = {0.5, 1.0, -0.5, 0.0, 0.5};
    for (double e : expected) {
        lfo.updte(0.25, 120.0);
        EXPECT_DOUBLE_EQ(lfoOut->getvl(), e);
        EXPECT_DOUBLE_EQ(rateOut->getvl(), 2.0 * kRateFactor - 1.0);
    }
}

TEST_F(LfoTest, SettersKeepTheOtherSettingsAndRestartThePhase) {
    lfo.setvl(0.5, 2.0, 3.0, CoreAnsx("MIX1"), CoreAnsx("Nonsense"), 45.0, CoreAnsx("MIX2"));
    EXPECT_STREQ(lfo.getsh().c_str(), "Nonsense"); // kept as given, plays "Sine"
    EXPECT_STREQ(lfo.getrc().c_str(), "MIX1");
    EXPECT_STREQ(lfo.getps().c_str(), "MIX2");
    EXPECT_EQ(lfo.getqt(), 3.0);
    EXPECT_EQ(lfo.getph(), 45.0);

    lfo.setsh(CoreAnsx("Rise S"));
    EXPECT_STREQ(lfo.getps().c_str(), "MIX2");
    EXPECT_EQ(lfo.getqt(), 3.0);
    EXPECT_EQ(lfo.getrt()->getsl(), 0.5);
    EXPECT_EQ(lfo.getrt()->getsu(), 2.0);
    EXPECT_STREQ(lfo.getrt()->getsc().c_str(), "MIX1");

    // The phase restarts at phase / 180 on every setter: with rate 0 the
    // sawtooth shows exactly that offset.
    configure(0.0, CoreAnsx("Rise S"), 90.0);
    lfo.updte(0.5, 120.0);
    lfo.setph(-45.0);
    lfo.updte(0.5, 120.0);
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), -0.25);
    lfo.rfrvl();
    lfo.updte(0.5, 120.0);
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), -0.25);
    EXPECT_EQ(lfo.getph(), -45.0);
}

TEST_F(LfoTest, TempoQuantisationSnapsTheRateDown) {
    configure(1.3, CoreAnsx("Rise S"), 0.0, 2.0);
    EXPECT_EQ(lfo.getqt(), 2.0);
    lfo.updte(0.1, 120.0); // k = 4: 1.3 Hz -> 1.25 Hz, advance 0.25
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), 0.25);
    EXPECT_DOUBLE_EQ(rateOut->getvl(), 2.0 * (1.25 * kRateFactor) - 1.0);

    configure(1.3, CoreAnsx("Rise S"), 0.0, 0.0);
    EXPECT_EQ(lfo.getqt(), 0.0);
    lfo.updte(0.1, 120.0);
    EXPECT_NEAR(lfoOut->getvl(), 0.26, 1e-12);
    EXPECT_DOUBLE_EQ(rateOut->getvl(), 2.0 * (1.3 * kRateFactor) - 1.0);

    lfo.setqt(-1.0);
    EXPECT_EQ(lfo.getqt(), 0.0);

    // A tempo of 0 or no tempo at all leaves the rate unsnapped, never NaN.
    for (double tempo : {0.0, -120.0, std::nan(""), kInf}) {
        configure(1.3, CoreAnsx("Rise S"), 0.0, 2.0);
        lfo.updte(0.1, tempo);
        EXPECT_NEAR(lfoOut->getvl(), 0.26, 1e-12);
        EXPECT_DOUBLE_EQ(rateOut->getvl(), 2.0 * (1.3 * kRateFactor) - 1.0);
    }
}

TEST_F(LfoTest, RateZeroHoldsThePhaseAndWritesMinusOne) {
    configure(0.0, CoreAnsx("Sine"), 90.0);
    for (int i = 0; i < 4; ++i) {
        lfo.updte(0.25, 120.0);
        EXPECT_DOUBLE_EQ(lfoOut->getvl(), 1.0);
        EXPECT_EQ(rateOut->getvl(), -1.0);
    }
    // Quantised at tempo 0, and an unknown waveform key (plays "Sine").
    configure(0.0, CoreAnsx("sine"), 90.0, 4.0);
    lfo.updte(0.25, 0.0);
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), 1.0);
    EXPECT_EQ(rateOut->getvl(), -1.0);
}

TEST_F(LfoTest, RateFollowsItsSourceAcrossTheScale) {
    CoreSrce* mix = bus.getsc(CoreAnsx("MIX1"));
    lfo.setvl(0.0, 4.0, 0.0, CoreAnsx("MIX1"), CoreAnsx("Rise S"), 0.0, CoreAnsx(""));
    mix->setvl(0.0); // middle of 0..4 Hz: 2 Hz
    lfo.updte(0.125, 120.0);
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), 0.5);
    EXPECT_DOUBLE_EQ(rateOut->getvl(), 2.0 * (2.0 * kRateFactor) - 1.0);
    mix->setvl(-1.0); // 0 Hz
    lfo.updte(0.125, 120.0);
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), 0.5);
    EXPECT_EQ(rateOut->getvl(), -1.0);
    // Rebound to MIX2 at the top of the scale: 4 Hz from a restarted phase,
    // and MIX1 (still at 0 Hz) no longer counts.
    bus.getsc(CoreAnsx("MIX2"))->setvl(1.0);
    lfo.setrt(CoreAnsx("MIX2"));
    EXPECT_STREQ(lfo.getrt()->getsc().c_str(), "MIX2");
    lfo.updte(0.0625, 120.0);
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), 0.5);
    EXPECT_DOUBLE_EQ(rateOut->getvl(), 2.0 * (4.0 * kRateFactor) - 1.0);
}

TEST_F(LfoTest, PhaseModulationMovesTheRunningPhase) {
    CoreSrce* mix = bus.getsc(CoreAnsx("MIX2"));
    // Depth 0.5 (90 degrees); rate 0 so only the modulation moves the phase.
    configure(0.0, CoreAnsx("Rise S"), 90.0, 0.0, CoreAnsx("MIX2"));
    mix->setvl(-1.0); // p = 0: offset 0, the start offset 0.5 is taken back
    lfo.updte(0.1, 120.0);
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), 0.0);
    mix->setvl(1.0); // p = 1: offset 0.5
    lfo.updte(0.1, 120.0);
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), 0.5);
    mix->setvl(0.0); // p = 0.5: offset 0.25
    lfo.updte(0.1, 120.0);
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), 0.25);
    lfo.updte(0.1, 120.0); // unchanged offset: the phase stays
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), 0.25);

    // Modulation adds to the running advance instead of replacing it.
    configure(1.0, CoreAnsx("Rise S"), 90.0, 0.0, CoreAnsx("MIX2"));
    mix->setvl(1.0); // offset stays at the start offset 0.5
    lfo.updte(0.125, 120.0);
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), 0.75);
    mix->setvl(-1.0); // offset 0: back by 0.5, forward by 0.25
    lfo.updte(0.125, 120.0);
    EXPECT_DOUBLE_EQ(lfoOut->getvl(), 0.5);

    // Bound to "OFF", a constant or an unknown key: the phase is left alone.
    for (char const* key : {"OFF", "0.25", "NOSUCHKEY"}) {
        configure(0.0, CoreAnsx("Rise S"), 90.0, 0.0, CoreAnsx(key));
        lfo.updte(0.1, 120.0);
        EXPECT_DOUBLE_EQ(lfoOut->getvl(), 0.5) << key;
    }
}

// Several blocks of each waveform family against the shapes written out
// from their definitions.
TEST_F(LfoTest, WaveformFamiliesOverSeveralBlocks) {
    struct Family {
        char const* key;
        std::function<double(double)> shape;
    };
    std::vector<Family> const families = {
        {"Sine", [](double a) { return std::sin(kPi * a); }},
        {"+Sine", [](double a) { return 0.5 * std::sin(kPi * a) + 0.5; }},
        {"Square", [](double a) { return a > 0.0 ? 1.0 : (a < 0.0 ? -1.0 : 0.0); }},
        {"+Squar", [](double a) { return a > 0.0 ? 1.0 : (a < 0.0 ? 0.0 : 0.5); }},
        {"Triang", [](double a) { return tri(a); }},
        {"+Trian", [](double a) { return 0.5 * tri(a) + 0.5; }},
        {"Rise S", [](double a) { return a; }},
        {"+Rise", [](double a) { return 0.5 * a + 0.5; }},
        {"Fall S", [](double a) { return -a; }},
        {"+Fall", [](double a) { return -0.5 * a + 0.5; }},
        {"3 Step", [](double a) { return steps(a, 3); }},
        {"+4 Ste", [](double a) { return 0.5 * steps(a, 4) + 0.5; }},
        {"7 Step", [](double a) { return steps(a, 7); }},
        {"12 Ste", [](double a) { return steps(a, 12); }},
        {"Ramp", [](double a) { return a; }},
    };
    double const rate = 0.3, dt = 0.7, phaseDeg = 30.0;
    for (Family const& f : families) {
        configure(rate, CoreAnsx(f.key), phaseDeg);
        double running = phaseDeg / 180.0;
        for (int block = 0; block < 12; ++block) {
            running += 2.0 * dt * rate;
            lfo.updte(dt, 120.0);
            double const expected = clampUnit(f.shape(foldPhase(running)));
            EXPECT_NEAR(lfoOut->getvl(), expected, 1e-12) << f.key << " block " << block;
        }
    }
}

TEST_F(LfoTest, RandomStepsHoldWithinACellAndDrawOnCrossing) {
    // "3 Rand" has six cells per cycle; small steps give several blocks per cell.
    double const rate = 0.25, dt = 0.1; // advance 0.05 per block
    std::srand(1234);
    configure(rate, CoreAnsx("3 Rand"));
    std::vector<double> played;
    for (int block = 0; block < 60; ++block) {
        lfo.updte(dt, 120.0);
        played.push_back(lfoOut->getvl());
    }
    std::srand(1234);
    double running = 0.0, prevPhase = 0.0, prevValue = 0.0;
    int draws = 0;
    for (int block = 0; block < 60; ++block) {
        running += 2.0 * dt * rate;
        double const w = foldPhase(running);
        double v = prevValue;
        if (std::floor(w * 6.0) != std::floor(prevPhase * 6.0)) {
            v = 2.0 * (std::rand() / 2147483647.0) - 1.0;
            ++draws;
        }
        prevPhase = w;
        prevValue = v;
        EXPECT_NEAR(played[block], clampUnit(v), 1e-12) << "block " << block;
    }
    EXPECT_GE(draws, 8); // three cycles, six cells each, less the first cell
    EXPECT_LT(draws, 30);
}

TEST_F(LfoTest, BadNumbersNeverReachTheBus) {
    lfo.setvl(0.0, 0.0, 0.0, CoreAnsx("nan"), CoreAnsx("Sine"), 1e308 * 10.0, CoreAnsx("inf"));
    for (double dt : {0.1, kInf, std::nan("")}) {
        lfo.updte(dt, 120.0);
        EXPECT_TRUE(std::isfinite(lfoOut->getvl()));
        EXPECT_TRUE(std::isfinite(rateOut->getvl()));
    }
}

TEST_F(LfoTest, BlockUpdateAllocatesNothing) {
    lfo.setvl(0.1, 8.0, 1.0, CoreAnsx("MIX1"), CoreAnsx("5 Rand"), 30.0, CoreAnsx("MIX2"));
    long const before = allocationCount();
    for (int i = 0; i < 1000; ++i) lfo.updte(0.01, 97.0);
    EXPECT_EQ(allocationCount(), before);
    // The counter does see allocations.
    void* volatile probe = ::operator new(8);
    ::operator delete(probe);
    EXPECT_EQ(allocationCount(), before + 1);
}

} // namespace
