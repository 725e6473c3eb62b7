// The program's per-block update: the order in which it runs the modulators
// and vectors (read off the bus: a consumer that runs after its producer
// sees this block's value, one that runs before sees the last block's), the
// LSTO level, what a between-blocks update leaves alone, the hybrid slot, no
// allocation per block, and the slot fade-out and length switches.
#include "program/CoreProg.h"

#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreRfun.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "tests/program/ProgProbe.h"
#include "tests/support/AllocCount.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>

namespace {

constexpr double kFrames = 64.0; // samples per block

class CoreProgUpdtTest : public ::testing::Test {
protected:
    double bus(char const* key) { return p.getsc(key); }

    // Every modulator kind configured so that its output moves every block,
    // probes reading them, two slot vectors and four raw vectors.
    void wire() {
        p.setrt(44100);
        char const* funInputs[6] = {"LSTO", "EVF1", "LFO1", "DNM1", "ENV1", "RAWFUN1"};
        for (short i = 0; i < 6; ++i) p.getfn(i)->setvl(funInputs[i], "OFF", "a");
        p.getlf(0)->setvl(1.0, 1.0, 0.0, "ON", "Sine", 0.0, "");
        p.getlf(1)->setvl(0.0, 24.0, 0.0, "EVF1", "Sine", 0.0, "");
        p.getlf(2)->setvl(0.0, 24.0, 0.0, "FUN1", "Sine", 0.0, "");
        p.getlf(3)->setvl(0.0, 24.0, 0.0, "LSTO", "Sine", 0.0, "");
        p.getef(0)->setvl(1, 1, "", 1, 1, "", 0.0, 0, false, "", false, "", "", false, 44100.0,
                          false, "", "", false, 0.0, 2, "");
        p.getdy(0)->setvl("-0.8", "LSTO", true, "0.5", false, 0, 200.0, 0.0);
        double levels[4] = {0.0, 1.0, 1.0, 1.0};
        int times[4] = {100000, 1000, 1000, 1000};
        short curves[4] = {0, 0, 0, 0};
        p.geten(0)->setvl("ON", "OFF", levels, times, curves, 1.0, "ON", 1.0, "ON");
        CoreRvct* table = p.buildRaw(0, "LSTO", "BUS3", {0.001, 0.002});
        p.buildRaw(1, "ENV1", "BUS4", {0.0, 1.0});
        p.buildRaw(2, "RAWFUN1", "BUS5", {0.0, 1.0});
        p.buildRaw(3, "DNM1", "BUS6", {0.0, 1.0});
        CoreRfun* rawfun = p.rawfun(0);
        rawfun->setvl("OFF", "OFF", "RAW1", "RAW1", "RSINGLE", 44100, -1.0);
        rawfun->setvl(0, static_cast<double*>(table->getlc()), 4);
        rawfun->setvl(1, static_cast<double*>(table->getlc()), 4);
        rawfun->chckv();
        p.buildSlot(0, "RAWFUN1", "BUS1");
        p.buildSlot(1, "DNM1", "BUS2");
        p.loaded() = 2;
    }

    // One processing block: followers fed with amplitude a, last sample l.
    void block(double a, double l) {
        for (int k = 0; k < int(kFrames); ++k) p.setef(a, a, a, a);
        p.updte(true, kFrames, l, 120.0);
    }

    CorePool pool;
    ProgProbe p{&pool};
};

TEST_F(CoreProgUpdtTest, RunsEveryModulatorAndVectorInTheFixedOrder) {
    wire();
    // probe, producer, whether the producer ran earlier in the same update
    struct Row {
        char const* probe;
        char const* producer;
        bool fresh;
    } const rows[] = {
        {"FUN1", "LSTO", true},     {"FUN2", "EVF1", true},     {"FUN3", "LFO1", true},
        {"FUN4", "DNM1", false},    {"FUN5", "ENV1", false},    {"FUN6", "RAWFUN1", false},
        {"RATELFO2", "EVF1", true}, {"RATELFO4", "LSTO", true}, {"RATELFO3", "FUN1", false},
        {"BUS3", "LSTO", true},     {"BUS6", "DNM1", true},     {"BUS4", "ENV1", true},
        {"BUS5", "RAWFUN1", false}, {"BUS1", "RAWFUN1", true},  {"BUS2", "DNM1", true},
    };
    std::map<std::string, double> before, now;
    auto snapshot = [&](std::map<std::string, double>& into) {
        for (Row const& r : rows) {
            into[r.probe] = bus(r.probe);
            into[r.producer] = bus(r.producer);
        }
    };
    for (int k = 0; k < 6; ++k) {
        before = now;
        block(0.1 + 0.1 * k, 0.2 + 0.05 * k);
        snapshot(now);
        if (k < 2) continue; // every producer has run twice
        for (Row const& r : rows) {
            ASSERT_GT(std::fabs(now[r.producer] - before[r.producer]), 1e-7)
                << r.producer << " must move for the probe to tell";
            double const seen =
                std::clamp(r.fresh ? now[r.producer] : before[r.producer], -1.0, 1.0);
            EXPECT_NEAR(now[r.probe], seen, 1e-9)
                << r.probe << " of " << r.producer << " block " << k;
        }
    }
}

TEST_F(CoreProgUpdtTest, LastSampleSetsLstoOnlyWhileProcessing) {
    struct {
        double last, lsto;
    } const cases[] = {{0.0, -1.0},
                       {std::numeric_limits<double>::denorm_min(), -1.0},
                       {0.5, 0.0},
                       {-0.5, 0.0},
                       {1.0, 1.0},
                       {-1.0, 1.0},
                       {0.75, 0.5},
                       {std::numeric_limits<double>::quiet_NaN(), -1.0},
                       {-std::numeric_limits<double>::infinity(), -1.0}};
    for (auto const& c : cases) {
        p.updte(true, kFrames, c.last, 120.0);
        EXPECT_EQ(bus("LSTO"), c.lsto) << c.last;
        if (c.lsto == 0.0) {
            EXPECT_FALSE(std::signbit(bus("LSTO"))) << c.last; // stored as +0
        }
        p.upsrc(ProgProbe::iClsto, 0.25);
        p.updte(false, 0.0, 0.0, 120.0); // between blocks: left as it is
        EXPECT_EQ(bus("LSTO"), 0.25);
    }
}

TEST_F(CoreProgUpdtTest, BetweenBlocksNothingAdvancesAndNothingIsMixed) {
    wire();
    block(0.3, 0.4);
    block(0.3, 0.4);
    *p.getui(0) = false;
    *p.getui(1) = false;
    char const* timed[] = {"LFO1", "ENV1", "RAWFUN1"};
    std::map<std::string, double> was;
    for (char const* key : timed) was[key] = bus(key);
    p.updte(false, 0.0, 0.0, 120.0);
    for (char const* key : timed) EXPECT_EQ(bus(key), was[key]) << key;
    EXPECT_FALSE(*p.getui(0)); // no mix, so nothing for the players to take
    EXPECT_FALSE(*p.getui(1));
    // Frames without processing still advance time.
    p.updte(false, kFrames, 0.0, 120.0);
    EXPECT_NE(bus("ENV1"), was["ENV1"]);
    EXPECT_NE(bus("LFO1"), was["LFO1"]);
}

TEST_F(CoreProgUpdtTest, HybridSlotRunsOnlyWhileForced) {
    p.buildSlot(0, "MIX1", nullptr);
    p.buildSlot(p.cap(), "MIX1", nullptr); // the hybrid slot
    p.loaded() = 1;
    *p.getui(0) = *p.getui(p.cap()) = false; // sizing raised them
    p.updte(true, kFrames, 0.5, 120.0);
    EXPECT_TRUE(*p.getui(0));
    EXPECT_FALSE(*p.getui(p.cap())) << "hybrid slot touched with FORCEHYBRID clear";
    p.hybrid() = true;
    p.updte(false, kFrames, 0.5, 120.0);
    EXPECT_FALSE(*p.getui(p.cap())) << "hybrid slot run between blocks";
    p.updte(true, kFrames, 0.5, 120.0);
    EXPECT_TRUE(*p.getui(p.cap()));
}

TEST_F(CoreProgUpdtTest, EmptyProgramRunsItsModulators) {
    p.getlf(0)->setvl(5.0, 5.0, 0.0, "ON", "Sine", 0.0, "");
    p.setrt(48000);
    double const was = bus("LFO1");
    p.updte(true, kFrames, 0.5, 120.0);
    EXPECT_NE(bus("LFO1"), was);
    EXPECT_EQ(p.getus(), nullptr); // no slot 0 root yet
    EXPECT_EQ(p.getui(0), nullptr);
    p.setrt(0); // no rate: no time, and no division by zero
    double const held = bus("LFO1");
    p.updte(true, kFrames, 0.5, 120.0);
    EXPECT_EQ(bus("LFO1"), held);
}

TEST_F(CoreProgUpdtTest, UpdateAllocatesNothing) {
    wire();
    p.setot(0, 1); // tail fades folded in on the loader path
    block(0.2, 0.3);
    long const news = allocationCount();
    long const blocks = pool.getma();
    for (int k = 0; k < 50; ++k) {
        block(0.1 + 0.01 * k, 0.3 + 0.01 * k);
        p.updte(false, 0.0, 0.0, 120.0);
    }
    EXPECT_EQ(allocationCount(), news);
    EXPECT_EQ(pool.getma(), blocks);
}

TEST_F(CoreProgUpdtTest, FadeOutRequestsAreClampedAndMarkedOnlyOnChange) {
    p.buildSlot(0, "MIX1", nullptr, 32); // extended length 32, fade-in 2, offset 1: at most 30
    ProgProbe::HLOC& h = p.slot(0);
    EXPECT_EQ(p.getmo(0), 30);
    struct {
        long request;
        int stored;
    } const cases[] = {{0, 1}, {12, 12}, {-5, 1}, {500, 30}, {29, 29}};
    for (auto const& c : cases) {
        h.changed = false;
        p.setco(0, c.request, false);
        EXPECT_EQ(h.extendedfadeout, c.stored) << c.request;
        EXPECT_TRUE(h.changed) << c.request;
        h.changed = false;
        p.setco(0, c.request, true); // the same value again: no mark
        EXPECT_FALSE(h.changed) << c.request;
    }
    // Apply makes the extended table current; a later change keeps it current.
    p.setco(0, 8, true);
    EXPECT_EQ(h.currentfade, h.extendedfade);
    EXPECT_EQ(h.currentfadeout, 8);
    p.setco(0, 5, false);
    EXPECT_EQ(h.currentfade, h.extendedfade) << "current table left on the freed ramp";
    EXPECT_EQ(h.currentfadeout, 5);
    // The hybrid slot marks slot 0 too while hybrid mode is forced.
    p.buildSlot(p.cap(), "MIX1", nullptr, 32);
    p.hybrid() = true;
    h.changed = false;
    p.setco(p.cap(), 7, false);
    EXPECT_TRUE(h.changed);
    // A slot without vectors is left alone.
    p.setco(1, 9, true);
    EXPECT_FALSE(p.slot(1).changed);
}

TEST_F(CoreProgUpdtTest, LengthModeSwitchesLengthAndFadeTables) {
    CoreVctr* root = p.buildSlot(0, "MIX1", nullptr, 32, 16);
    ProgProbe::HLOC& h = p.slot(0);
    h.normalfadeout = 3;
    p.setot(0, 1);
    EXPECT_EQ(h.currentlength, 32);
    EXPECT_EQ(h.currentfade, h.extendedfade);
    EXPECT_EQ(root->getcd(), 32);
    p.setot(0, 0);
    EXPECT_EQ(h.currentlength, 16);
    EXPECT_EQ(h.currentfade, h.normalfade);
    EXPECT_EQ(h.currentfadeout, 3);
    EXPECT_EQ(root->getcd(), 16);
    p.setot(0, 2); // no such mode
    EXPECT_EQ(h.currentlength, 16);
    // Hybrid pair: the head ends without fade, the hybrid slot starts without one.
    p.buildSlot(p.cap(), "MIX1", nullptr, 32);
    p.hybrid() = true;
    p.setot(0, 0);
    EXPECT_EQ(h.currentfadeout, 0);
    p.setot(p.cap(), 1);
    EXPECT_EQ(p.slot(p.cap()).fadeinlength, 0);
    p.setot(1, 1); // no vectors: nothing happens
    EXPECT_EQ(p.slot(1).currentlength, 0);
}

} // namespace
