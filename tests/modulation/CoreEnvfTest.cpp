#include "modulation/CoreEnvf.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CorePool.h"
#include "tests/support/AllocCount.h"

namespace {

constexpr double pi = 3.141592653589793;

// A program's bus with follower 1 writing EVF1, EAT1 and ERT1.
struct Rig {
    CorePool pool;
    DataSrce bus;
    CoreEnvf evf;
    Rig()
        : evf(&pool, CoreAnsx("EVF1"), true, &bus, bus.getsc("EVF1"), bus.getsc("EAT1"),
              bus.getsc("ERT1")) {
        bus.getsc("ON")->setvl(1.0);
        for (char const* k : {"OFF", "IN_L", "IN_R", "OUTL", "OUTR"}) bus.getsc(k)->setvl(-1.0);
    }
    // Fixed attack and release times, no links.
    void simple(short mode, int attack, int release, double balance = -1.0, bool highpass = false) {
        evf.setvl(attack, attack, "", release, release, "", balance, mode, false, "OFF", false,
                  "OFF", "OFF", false, 44100.0, false, "OFF", "OFF", highpass, 200.0, 8, "ON");
    }
    double level() const { return bus.getsc("EVF1")->getvl(); }
};

// Deterministic noise in -1..1.
std::vector<double> noise(int n) {
    std::vector<double> v(n);
    unsigned s = 12345u;
    for (double& x : v) {
        s = s * 1664525u + 1013904223u;
        x = (static_cast<double>(s >> 8) / 8388608.0) - 1.0;
    }
    return v;
}

} // namespace

TEST(CoreEnvfTest, ModeNineStaysInactiveButWritesMinusOne) {
    Rig r;
    r.simple(9, 10, 10);
    EXPECT_FALSE(r.evf.isact());
    r.bus.getsc("EVF1")->setvl(0.5);
    for (int i = 0; i < 100; ++i) r.evf.setei(0.9);
    r.evf.updte();
    EXPECT_EQ(r.evf.getou(), 0.0);
    EXPECT_EQ(r.level(), -1.0);
    EXPECT_EQ(r.evf.getbl(), -1.0);
    EXPECT_EQ(r.evf.getdb(), -192.64);
    r.evf.setvl();
    EXPECT_EQ(r.evf.getex(), 9);
    r.evf.updte();
    EXPECT_EQ(r.level(), -1.0);
}

TEST(CoreEnvfTest, TimeLimitsAreRaisedToOneSampleAndToTheMinimum) {
    Rig r;
    r.evf.setvl(0, 0, "", 10, 5, "", 0.0, 0, false, "OFF", false, "OFF", "OFF", false, 44100.0,
                false, "OFF", "OFF", false, 0.0, 1, "OFF");
    EXPECT_EQ(r.evf.getat()->getsl(), 1.0);
    EXPECT_EQ(r.evf.getat()->getsu(), 1.0);
    EXPECT_EQ(r.evf.getrl()->getsl(), 10.0);
    EXPECT_EQ(r.evf.getrl()->getsu(), 10.0);
    EXPECT_EQ(r.evf.getma(), 0); // the configured values stay for the writer
    EXPECT_EQ(r.evf.getxr(), 5);
    r.simple(5, 900, 900); // rise-time scaling: 900 / ln 9 samples
    EXPECT_DOUBLE_EQ(r.evf.getat()->getsl(), 900.0 / std::log(9.0));
    r.simple(7, 900, 900);
    EXPECT_DOUBLE_EQ(r.evf.getrl()->getsu(), 900.0 / std::log(100.0));
}

TEST(CoreEnvfTest, BlockLengthDoesNotChangeTheResult) {
    std::vector<double> const x = noise(1000);
    for (short mode = 0; mode <= 8; ++mode) {
        for (bool highpass : {false, true}) {
            double results[3];
            int const blocks[3] = {7, 16, 333};
            for (int b = 0; b < 3; ++b) {
                Rig r;
                r.simple(mode, 40, 300, -1.0, highpass);
                for (int i = 0; i < 1000; ++i) {
                    r.evf.setei(x[i] * 0.5);
                    if ((i + 1) % blocks[b] == 0) r.evf.updte();
                }
                r.evf.updte();
                results[b] = r.evf.getou();
            }
            EXPECT_GT(results[0], 0.0) << "mode " << mode;
            EXPECT_EQ(results[0], results[1]) << "mode " << mode << " highpass " << highpass;
            EXPECT_EQ(results[0], results[2]) << "mode " << mode << " highpass " << highpass;
        }
    }
}

TEST(CoreEnvfTest, PeakModeWithOneSampleAttackFollowsOneSampleLate) {
    Rig r;
    r.simple(2, 1, 1000);
    double previous = 0.0;
    for (int n = 1; n <= 40; ++n) {
        double const x = (n % 2 ? 1.0 : -1.0) * 0.02 * n; // rising magnitudes, alternating sign
        r.evf.setei(x);
        r.evf.updte();
        EXPECT_DOUBLE_EQ(r.evf.getou(), previous) << n;
        previous = std::fabs(x);
    }
}

TEST(CoreEnvfTest, PeakModeHoldsForTheAttackLength) {
    Rig r;
    r.simple(2, 4, 1000000);
    double const x[] = {0.1, 0.4, 0.2, 0.3, 0.05, 0.05, 0.05, 0.05, 0.05};
    std::vector<double> seen;
    for (double v : x) {
        r.evf.setei(v);
        r.evf.updte();
        seen.push_back(r.evf.getou());
    }
    // First reload at sample 0 (hold countdown starts at 1), then every 4.
    EXPECT_EQ(seen[0], 0.0);
    EXPECT_EQ(seen[3], 0.0);
    EXPECT_DOUBLE_EQ(seen[4], 0.4); // maximum of samples 0..3
    EXPECT_DOUBLE_EQ(seen[7], 0.4); // a slow release keeps nearly all of it
    EXPECT_GT(seen[8], 0.399);
}

TEST(CoreEnvfTest, PeakHoldShorterThanOneSampleStillReloads) {
    Rig r;
    // A constant attack below the scale maps to 0.5 samples: a hold of length 0.
    r.evf.setvl(1, 2, "-2", 1000, 1000, "", -1.0, 2, false, "OFF", false, "OFF", "OFF", false,
                44100.0, false, "OFF", "OFF", false, 0.0, 1, "OFF");
    for (int i = 0; i < 40; ++i) r.evf.setei(0.5);
    r.evf.updte();
    EXPECT_DOUBLE_EQ(r.evf.getou(), 0.5);
}

TEST(CoreEnvfTest, BalanceWeighsInputsAgainstOutputs) {
    struct Case {
        double balance, expected;
    } const cases[] = {
        {-1.0, 0.1 + 0.2 + 0.3 + 0.15}, {1.0, (0.3 + 0.15) / 2}, {0.0, (0.1 + 0.2) / 2}};
    for (Case const& c : cases) {
        Rig r;
        r.simple(2, 1, 1000, c.balance);
        EXPECT_EQ(r.evf.getba(), c.balance);
        for (int i = 0; i < 50; ++i) r.evf.setei(0.1, 0.2, 0.3, 0.15);
        r.evf.updte();
        EXPECT_DOUBLE_EQ(r.evf.getou(), c.expected) << c.balance;
    }
    Rig tiny; // subnormal inputs count as 0
    tiny.simple(2, 1, 1000, -1.0);
    for (int i = 0; i < 20; ++i) tiny.evf.setei(1e-310, -1e-310, 0.25, 4e-320);
    tiny.evf.updte();
    EXPECT_DOUBLE_EQ(tiny.evf.getou(), 0.25);
}

TEST(CoreEnvfTest, SineLevelMatchesEachModesCalibration) {
    double const a = 0.5;
    double const average = 2.0 * a / pi, rms = a / std::sqrt(2.0);
    double const expected[9] = {average,
                                rms,
                                a,
                                average * CoreEnvf::dCformafactor,
                                rms * CoreEnvf::dC3dbfix,
                                average,
                                average * CoreEnvf::dC3dbfix,
                                average * std::pow(10.0, 0.038) * CoreEnvf::dCvu3dbfix,
                                rms * CoreEnvf::dC3dbfix};
    for (short mode = 0; mode <= 8; ++mode) {
        Rig r;
        r.simple(mode, 5000, 5000);
        for (int n = 0; n < 100000; ++n) {
            r.evf.setei(a * std::sin(2.0 * pi * n / 100.0)); // 441 Hz at 44.1 kHz
            if (n % 64 == 63) r.evf.updte();
        }
        r.evf.updte();
        EXPECT_NEAR(r.evf.getou(), expected[mode], expected[mode] * 0.01) << "mode " << mode;
        EXPECT_NEAR(r.level(), 2.0 * r.evf.getou() - 1.0, 1e-12);
    }
}

TEST(CoreEnvfTest, LevelOutputIsCappedAtOne) {
    Rig r;
    r.simple(7, 1, 1); // VU factor above 1
    for (int i = 0; i < 32; ++i) r.evf.setei(0.99);
    r.evf.updte();
    EXPECT_EQ(r.evf.getou(), 1.0);
    EXPECT_EQ(r.level(), 1.0);
}

TEST(CoreEnvfTest, RefreshKeepsBalanceLinksAndTimeOutputs) {
    Rig r;
    r.evf.setvl(10, 100, "BUS5", 20, 200, "BUS6", 0.6, 0, true, "BUS1", true, "BUS2", "BUS3", true,
                48000.0, true, "BUS4", "BUS7", true, 150.0, 4, "BUS8");
    for (int i = 0; i < 3; ++i) r.evf.rfrvl();
    EXPECT_EQ(r.evf.getba(), 0.6);
    EXPECT_TRUE(r.evf.bbsrc());
    EXPECT_TRUE(r.evf.dsrc_());
    EXPECT_TRUE(r.evf.osrc_());
    EXPECT_TRUE(r.evf.enabt());
    EXPECT_TRUE(r.evf.hpsrc());
    EXPECT_STREQ(r.evf.getbb().c_str(), "BUS1");
    EXPECT_STREQ(r.evf.getoa().c_str(), "BUS4");
    EXPECT_STREQ(r.evf.getor().c_str(), "BUS7");
    EXPECT_STREQ(r.evf.gethp().c_str(), "BUS8");
    EXPECT_STREQ(r.evf.getat()->getsc().c_str(), "BUS5");
    EXPECT_EQ(r.evf.gethf(), 150.0);
    EXPECT_EQ(r.evf.getho(), 4);

    r.evf.setob(-0.5);
    r.evf.setda("OFF");
    r.evf.sethp("OFF");
    r.evf.setas("BUS2");
    r.evf.setex(3);
    r.evf.rfrvl();
    EXPECT_EQ(r.evf.getba(), -0.5);
    EXPECT_FALSE(r.evf.dsrc_());
    EXPECT_FALSE(r.evf.hpsrc());
    EXPECT_TRUE(r.evf.bbsrc());
    EXPECT_EQ(r.evf.getex(), 3);
    EXPECT_STREQ(r.evf.getat()->getsc().c_str(), "BUS2");
}

TEST(CoreEnvfTest, EditedSettingsActAsIfConfiguredDirectly) {
    // Each edit then rfrvl must follow the noise exactly as a follower set up
    // with the edited value from the start, and differently from the unedited one.
    struct Cfg {
        int maxattack = 100, minrelease = 20, order = 4;
        char const* release = "BUS6";
        char const* deltarelease = "OFF";
    };
    auto apply = [](Rig& r, Cfg const& c) {
        r.evf.setvl(10, c.maxattack, "BUS5", c.minrelease, 200, c.release, -1.0, 0, false, "OFF",
                    std::string(c.deltarelease) != "OFF", "BUS2", c.deltarelease, true, 44100.0,
                    false, "OFF", "OFF", true, 3000.0, c.order, "ON");
    };
    struct Row {
        char const* name;
        void (*edit)(CoreEnvf&);
        void (*truth)(Cfg&);
    } const rows[] = {
        {"max attack", [](CoreEnvf& e) { e.setxa(400); }, [](Cfg& c) { c.maxattack = 400; }},
        {"min release", [](CoreEnvf& e) { e.setmr(150); }, [](Cfg& c) { c.minrelease = 150; }},
        {"release source", [](CoreEnvf& e) { e.setrs("BUS9"); },
         [](Cfg& c) { c.release = "BUS9"; }},
        {"delta release", [](CoreEnvf& e) { e.setdr("BUS3"); },
         [](Cfg& c) { c.deltarelease = "BUS3"; }},
        {"high-pass order", [](CoreEnvf& e) { e.setho(1); }, [](Cfg& c) { c.order = 1; }},
    };
    std::vector<double> const x = noise(2000);
    for (Row const& row : rows) {
        Rig edited, direct, plain;
        Cfg want;
        row.truth(want);
        apply(edited, Cfg{});
        apply(plain, Cfg{});
        row.edit(edited.evf);
        edited.evf.rfrvl();
        apply(direct, want);
        bool differs = false;
        for (Rig* r : {&edited, &direct, &plain}) {
            r->bus.getsc("BUS5")->setvl(0.3);
            r->bus.getsc("BUS6")->setvl(-0.6);
            r->bus.getsc("BUS9")->setvl(0.5);
            r->bus.getsc("BUS2")->setvl(-0.5);
            r->bus.getsc("BUS3")->setvl(-0.9);
        }
        for (int i = 0; i < 2000; ++i) {
            for (Rig* r : {&edited, &direct, &plain}) r->evf.setei(x[i] * (i < 1000 ? 0.8 : 0.1));
            if (i % 64 != 63) continue;
            for (Rig* r : {&edited, &direct, &plain}) r->evf.updte();
            for (char const* k : {"EVF1", "EAT1", "ERT1"}) {
                EXPECT_EQ(edited.bus.getsc(k)->getvl(), direct.bus.getsc(k)->getvl())
                    << row.name << " " << k << " sample " << i;
                differs |= edited.bus.getsc(k)->getvl() != plain.bus.getsc(k)->getvl();
            }
        }
        EXPECT_TRUE(differs) << row.name;
    }
}

TEST(CoreEnvfTest, NeverWritesTheFixedOffAndOnSources) {
    CorePool pool;
    DataSrce bus;
    bus.getsc("ON")->setvl(1.0);
    bus.getsc("OFF")->setvl(-1.0);
    // A fifth follower whose time outputs were looked up as "EAT5"/"ERT5".
    CoreEnvf evf(&pool, CoreAnsx("EVF5"), true, &bus, bus.getsc("EVF5"), bus.getsc("EAT5"),
                 bus.getsc("ON"));
    for (char const* balanceKey : {"off", "OFF", "ON"}) {
        evf.setvl(10, 10, "", 10, 10, "", 0.0, 0, true, balanceKey, false, "OFF", "OFF", true,
                  44100.0, false, "OFF", "OFF", false, 0.0, 1, "OFF");
        for (int i = 0; i < 200; ++i) {
            evf.setei(0.5 * std::sin(0.3 * i), 0.2, 0.1, 0.0);
            if (i % 50 == 49) evf.updte();
        }
        EXPECT_EQ(bus.getsc("OFF")->getvl(), -1.0) << balanceKey;
        EXPECT_EQ(bus.getsc("ON")->getvl(), 1.0) << balanceKey;
        EXPECT_NE(bus.getsc("EVF5")->getvl(), -1.0);
    }
}

TEST(CoreEnvfTest, BusBalanceAndTimeOutputsAreWritten) {
    Rig r;
    r.evf.setvl(50, 50, "", 500, 500, "", -1.0, 0, true, "BUS1", false, "OFF", "OFF", true, 44100.0,
                false, "OFF", "OFF", false, 0.0, 1, "OFF");
    for (int i = 0; i < 40; ++i) r.evf.setei(0.5);
    r.evf.updte();
    // From rest, a constant input leaves 1 - E/v = ca^n after n samples, so
    // the attack estimate recovers the 40 samples (in units of 100 s).
    EXPECT_NEAR((r.bus.getsc("EAT1")->getvl() + 1.0) * 0.5, 40.0 * 0.01 / 44100.0, 1e-15);
    EXPECT_DOUBLE_EQ(r.bus.getsc("BUS1")->getvl(), 0.0); // |0.5| as a bipolar value
    r.evf.setei(-0.25);
    r.evf.updte();
    EXPECT_DOUBLE_EQ(r.bus.getsc("BUS1")->getvl(), 2.0 * 0.25 - 1.0);
    EXPECT_TRUE(std::isfinite(r.bus.getsc("ERT1")->getvl()));
}

TEST(CoreEnvfTest, TimeEstimateHelper) {
    EXPECT_DOUBLE_EQ(CoreEnvf::eaerc(0.25, 0.5, 3.0), 6.0);
    EXPECT_EQ(CoreEnvf::eaerc(0.0, 0.5, 3.0), 0.0);
    EXPECT_EQ(CoreEnvf::eaerc(0.5, 1.0, 3.0), 0.0); // ln 1 = 0
    EXPECT_EQ(CoreEnvf::eaerc(0.5, -0.5, 3.0), 0.0);
    EXPECT_EQ(CoreEnvf::eaerc(1e-310, 0.5, 3.0), 0.0);
}

TEST(CoreEnvfTest, MeteringFollowerWithoutControlsWritesNothing) {
    CorePool pool;
    DataSrce bus;
    CoreEnvf meter(&pool, CoreAnsx("METER"), false, nullptr, nullptr, nullptr, nullptr);
    meter.setvl(300, 0, "0", 300, 0, "0", -1.0, 4, false, "0", false, "0", "0", false, 44100.0,
                false, "0", "0", false, 0.0, 0, "0");
    EXPECT_EQ(meter.getat(), nullptr);
    for (int i = 0; i < 10000; ++i) meter.setei(0.5);
    meter.updte();
    EXPECT_NEAR(meter.getou(), 0.5 * CoreEnvf::dC3dbfix, 1e-3); // uncapped without controls
    EXPECT_NEAR(meter.getdb(), 20.0 * std::log10(meter.getou()), 1e-12);
}

TEST(CoreEnvfTest, SamplesAndBlocksAllocateNothing) {
    Rig r;
    r.evf.setvl(10, 100, "BUS5", 20, 200, "BUS6", 0.2, 2, true, "BUS1", false, "OFF", "OFF", true,
                48000.0, true, "BUS4", "BUS7", true, 150.0, 8, "BUS8");
    std::vector<double> const x = noise(4096);
    long const before = allocationCount();
    for (int i = 0; i < 4096; ++i) {
        r.evf.setei(x[i], x[i], x[i], x[i]);
        if (i % 100 == 99) r.evf.updte();
    }
    EXPECT_EQ(allocationCount(), before);
}

TEST(CoreEnvfTest, DeltaCoefficientsAboveOneKeepTheBusFinite) {
    // A delta source above 0 asks for a coefficient above 1: a one-pole
    // smoother with it would run off to infinity and write that to the bus.
    std::vector<double> const x = noise(5000);
    for (short mode : {0, 1, 2, 8}) {
        Rig r;
        r.bus.getsc("BUS2")->setvl(1.0);
        r.bus.getsc("BUS3")->setvl(1.0);
        r.evf.setvl(10, 10, "", 10, 10, "", -1.0, mode, false, "OFF", true, "BUS2", "BUS3", true,
                    44100.0, false, "OFF", "OFF", false, 0.0, 1, "OFF");
        for (int i = 0; i < 5000; ++i) {
            r.evf.setei(x[i]);
            if (i % 64 == 63) r.evf.updte();
        }
        for (char const* k : {"EVF1", "EAT1", "ERT1"}) {
            double const v = r.bus.getsc(k)->getvl();
            EXPECT_TRUE(v >= -1.0 && v <= 1.0) << k << " mode " << mode << " = " << v;
        }
    }
}

TEST(CoreEnvfTest, TimesBelowZeroFromTheBusKeepTheBusFinite) {
    // A raw-function source may sit at -3, which maps an Attack or Release
    // control below its scale: 1..3 samples reads -1 sample.
    std::vector<double> const x = noise(5000);
    for (short mode : {0, 1, 5, 7}) {
        Rig r;
        r.bus.getsc("BUS2")->setvl(-3.0);
        r.evf.setvl(1, 3, "BUS2", 1, 3, "BUS2", 0.0, mode, false, "OFF", false, "OFF", "OFF", true,
                    44100.0, false, "OFF", "OFF", false, 0.0, 1, "OFF");
        for (int i = 0; i < 5000; ++i) {
            r.evf.setei(x[i] * (i % 1000 < 500 ? 1.0 : 0.01));
            if (i % 64 == 63) r.evf.updte();
        }
        r.evf.updte();
        if (mode == 0) { // such a time is instant: the level is the last magnitude
            EXPECT_DOUBLE_EQ(r.evf.getou(), std::fabs(x[4999] * 0.01));
        }
        for (char const* k : {"EVF1", "EAT1", "ERT1"}) {
            double const v = r.bus.getsc(k)->getvl();
            EXPECT_TRUE(std::isfinite(v)) << k << " mode " << mode << " = " << v;
        }
    }
}

TEST(CoreEnvfTest, TimeEstimatesStayFiniteAsAHighPassedTailFadesOut) {
    // The high-passed tail of a burst fades through the bottom of the double
    // range, where the envelope over the detector value overflows.
    Rig r;
    r.evf.setvl(1, 1, "", 100000, 100000, "", 0.0, 1, false, "OFF", false, "OFF", "OFF", true,
                22050.0, false, "OFF", "OFF", true, 5000.0, 8, "ON");
    for (int i = 0; i < 64; ++i) r.evf.setei(i % 2 ? 1.0 : -1.0);
    r.evf.updte();
    for (int i = 0; i < 800; ++i) {
        r.evf.setei(0.0);
        r.evf.updte();
        for (char const* k : {"EVF1", "EAT1", "ERT1"}) {
            double const v = r.bus.getsc(k)->getvl();
            ASSERT_TRUE(std::isfinite(v)) << k << " after " << i << " samples of silence = " << v;
        }
    }
}

TEST(CoreEnvfTest, AnInfiniteSampleDoesNotPoisonTheFollower) {
    // One broken host sample must neither reach the bus as NaN nor leave the
    // detector or the high-pass stuck; it counts as silence.
    for (short mode : {0, 1, 2, 7, 8}) {
        for (bool highpass : {false, true}) {
            Rig rig, clean;
            rig.simple(mode, 10, 100, -1.0, highpass);
            clean.simple(mode, 10, 100, -1.0, highpass);
            for (double bad : {INFINITY, -INFINITY}) {
                rig.evf.setei(bad);
                clean.evf.setei(0.0);
            }
            for (int b = 0; b < 20; ++b) {
                for (int i = 0; i < 64; ++i) {
                    double const x = (i & 1) ? 0.5 : -0.5; // passes the high-pass
                    rig.evf.setei(x);
                    clean.evf.setei(x);
                }
                rig.evf.updte();
                clean.evf.updte();
                ASSERT_TRUE(std::isfinite(rig.level())) << mode << " " << highpass;
            }
            EXPECT_DOUBLE_EQ(rig.level(), clean.level()) << mode << " " << highpass;
            EXPECT_GT(rig.level(), -1.0) << mode << " " << highpass;
        }
    }
}
