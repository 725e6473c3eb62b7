// ctest-labels: threads
// The block worker against independent truths: programs read from generated
// WAV impulses, fed through the host entry, must give the naive harmonic
// (Volterra) sum of the input's powers convolved with the slots' kernels,
// delayed by the reported latency, on direct and shared FFT engines, hybrid
// or not, inline or on the worker; the output stage (gains, dry path,
// feedback, overflow, protection mute) against a sample-by-sample model;
// then the engine choice and shared plans, MIDI learn, the meter type, the
// processing state and that nothing is allocated while audio runs; the
// smoothing switched off and on again, and the level sources per update.
#include "processing/CorePrcs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/CoreCnvl.h"
#include "engine/CoreCnvlIntl.h"
#include "engine/CoreSpmx.h"
#include "engine/CoreVctr.h"
#include "program/CoreProg.h"
#include "tests/processing/CorePrcsPeek.h"
#include "tests/support/AllocCount.h"
#include "tests/support/ConvolutionTruth.h"

namespace {

using Signal = std::vector<double>;

class CorePrcsBlockTest : public ::testing::Test, protected EngineKit {};

// Feeds both channels through the host entry in double precision, in calls
// of the given sizes (cycled); returns what the host got.
struct Feed {
    CorePrcs& e;
    Signal out[2] = {};
    long allocations = 0; // made inside the host calls
    void run(Signal const& l, Signal const& r, std::vector<long> const& sizes) {
        long at = 0;
        for (std::size_t k = 0; at < static_cast<long>(l.size()); ++k) {
            long const n = std::min<long>(sizes[k % sizes.size()], long(l.size()) - at);
            Signal il(l.begin() + at, l.begin() + at + n), ir(r.begin() + at, r.begin() + at + n);
            Signal ol(n), orr(n);
            void* ins[2] = {il.data(), ir.data()};
            void* outs[2] = {ol.data(), orr.data()};
            long const before = allocationCount();
            e.prcss(ins, outs, n, true, 0, 0.0, true, 2);
            allocations += allocationCount() - before;
            out[0].insert(out[0].end(), ol.begin(), ol.end());
            out[1].insert(out[1].end(), orr.begin(), orr.end());
            at += n;
        }
    }
};

// Silence while the vectors' controls settle from their load-time values
// (the kernels move over the first updates), then noise.
constexpr int kSettle = 2048;
Signal noise(int n, unsigned seed, double amplitude) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-amplitude, amplitude);
    Signal x(kSettle + n, 0.0);
    for (int i = kSettle; i < kSettle + n; ++i) x[i] = u(rng);
    return x;
}

Signal plus(Signal a, Signal const& b) {
    for (std::size_t i = 0; i < a.size(); ++i) a[i] += b[i];
    return a;
}

Signal power(Signal x, int h) {
    for (double& v : x) v = std::pow(v, h);
    return x;
}

Signal convolve(Signal const& x, Signal const& k) { return naiveConvolution(x, k, k, x.size()); }

// The host's output from `delay` on, against want.
Signal delayed(Signal const& got, long delay) { return Signal(got.begin() + delay, got.end()); }
Signal head(Signal const& want, long delay) { return Signal(want.begin(), want.end() - delay); }

// A slot of one impulse file.
KitVector fileSlot(std::string const& file) { return KitVector{{file}}; }

} // namespace

TEST_F(CorePrcsBlockTest, OutputIsTheNaiveHarmonicSumAfterTheLatency) {
    kit.wav("H1.WAV", {DataKit::impulse(180, 2, 0.9), DataKit::ramp(180, 0.4, -0.2)});
    kit.wav("H2.WAV", {DataKit::impulse(150, 5, -0.6), DataKit::impulse(150, 1, 0.3)});
    kit.wav("H3.WAV", {DataKit::ramp(120, 0.2, 0.0), DataKit::impulse(120, 3, 0.5)});
    struct Row {
        int harmonics;
        bool ot2, hybrid;
        char const* threads;
    };
    Row const rows[] = {{1, false, false, "0"}, {2, false, false, "0"}, {3, true, false, "0"},
                        {3, true, false, "1"},  {1, false, true, "0"},  {2, true, true, "1"}};
    for (Row const& row : rows) {
        kit.master("", {{"DSPBUFFER", "256"}, {"THREADS", row.threads}, {"HDIM", "3"}});
        auto engine = make();
        CorePrcsPeek p{*engine};
        KitProgram program(
            "Diff", "",
            {{"FORCEOT2", row.ot2 ? "1" : "0"}, {"FORCEHYBRID", row.hybrid ? "1" : "0"}});
        char const* files[] = {"H1.WAV", "H2.WAV", "H3.WAV"};
        for (int h = 0; h < row.harmonics; ++h) program.slots.push_back(fileSlot(files[h]));
        ASSERT_TRUE(p.load(program));
        p.gains(0.5, 0.5);
        p.booted();
        engine->smpby(false, 0, true, false);
        std::string const where = std::to_string(row.harmonics) + (row.ot2 ? " fft" : " direct") +
                                  (row.hybrid ? " hybrid" : "") + " threads " + row.threads;
        ASSERT_EQ(p.inuse(), row.harmonics) << where;

        Signal const x[2] = {noise(3000, 7, 0.6), noise(3000, 8, 0.6)};
        Feed feed{*engine};
        feed.run(x[0], x[1], {256, 100, 37, 512});
        long const latency = p.base() + p.ahead();
        for (int c = 0; c < 2; ++c) {
            Signal want(x[c].size(), 0.0);
            for (int h = 0; h < row.harmonics; ++h) {
                Signal const k = p.kernel(h, c);
                ASSERT_FALSE(k.empty()) << where;
                want = plus(want, convolve(power(x[c], h + 1), k));
            }
            if (row.hybrid) want = plus(want, convolve(x[c], p.kernel(p.work(), c)));
            EXPECT_LT(relativeError(delayed(feed.out[c], latency), head(want, latency)), 1e-9)
                << where << " channel " << c;
        }
        EXPECT_EQ(p.straddles(), 0);
    }
}

TEST_F(CorePrcsBlockTest, OutputStageFollowsTheFeedbackOverflowAndMuteModel) {
    // A one-sample impulse makes a marker slot: the one-tap engine, step 1.
    kit.wav("TAP.WAV", {{1.0}});
    for (bool withdry : {false, true}) {
        kit.master("", {{"DSPBUFFER", "256"}});
        auto engine = make();
        CorePrcsPeek p{*engine};
        KitValues values = {{"FEEDBACKFACTOR", "50"}};
        if (withdry)
            values.insert(values.end(), {{"GAINDRYFACTOR", "-6"}, {"GAINDRYSOURCE", "ON"}});
        KitProgram program("Loop", "", values);
        program.slots.push_back(fileSlot("TAP.WAV"));
        ASSERT_TRUE(p.load(program));
        ASSERT_EQ(p.slot(0).engine, 17);
        ASSERT_EQ(p.step(), 1);
        p.gains(0.5, 0.5);
        p.booted();
        engine->smpby(false, 0, true, false);

        // Silence first while the kernel settles, in whole calls of 100.
        int const pre = 2100;
        int const n = pre + 1500;
        Signal x[2] = {Signal(n, 0.0), Signal(n, 0.0)};
        for (int t = pre; t < n; t += 97) x[t % 2][t] = 0.75;
        x[0][pre + 400] = 1.5;    // lights the indicator and stops the feedback for a while
        x[1][pre + 700] = -2.0;   // counts for nothing
        x[1][pre + 1010] = 16.0;  // mutes the rest of its call in both channels
        x[0][pre + 1210] = -32.0; // so does a blow-up downwards, lighting nothing
        Feed feed{*engine};
        feed.run(x[0], x[1], {100});
        int const tap = p.program()->getof();
        double const gain = p.tap(0, tap);
        ASSERT_GT(gain, 0.5);
        double const fb = 0.5;
        double const dry = withdry ? std::pow(10.0, -6.0 / 20.0) : 0.0;
        int const period = p.rate();
        // The model: sample j is a step; the update before step j when j is
        // a multiple of the period ends a suspension after the step's own
        // feedback; the output re-enters one step later.
        Signal want[2] = {Signal(n, 0.0), Signal(n, 0.0)};
        Signal in[2] = {x[0], x[1]};
        bool suspended = false;
        bool mute = false;
        for (int j = 0; j < n; ++j) {
            if (j % 100 == 0) mute = false; // a call of the block worker per host call
            for (int c = 0; c < 2; ++c)
                if (j >= 1 && !suspended) in[c][j] -= want[c][j - 1] * fb;
            if (j % period == 0) suspended = false;
            bool over = false;
            double y[2];
            for (int c = 0; c < 2; ++c) {
                y[c] = (j >= tap ? in[c][j - tap] * gain : 0.0) + in[c][j] * dry;
                over = over || y[c] > 1.0;
                mute = mute || std::fabs(y[c]) >= 15.848931924611133;
            }
            for (int c = 0; c < 2; ++c) want[c][j] = mute ? 0.0 : y[c];
            if (over) suspended = true;
        }
        long const latency = p.base();
        for (int c = 0; c < 2; ++c)
            for (int t = pre; t + latency < n; ++t)
                ASSERT_NEAR(feed.out[c][t + latency], want[c][t], 1e-12)
                    << "dry " << withdry << " channel " << c << " at " << t;
        EXPECT_EQ(want[0][pre + 1011 + 50], 0.0); // the model muted too
        EXPECT_EQ(want[1][pre + 1211 + 50], 0.0);
        EXPECT_TRUE(p.overflowed());
        // -2.0 alone lights nothing.
        p.clearOverflow();
        Signal low(100, 0.0);
        low[10] = -2.0;
        feed.run(low, low, {100});
        EXPECT_FALSE(p.overflowed());
        EXPECT_TRUE(p.newlevels());
    }
}

TEST_F(CorePrcsBlockTest, EngineChoiceAndSharedPlans) {
    kit.wav("A.WAV", {DataKit::impulse(200, 2, 0.9)});
    kit.wav("B.WAV", {DataKit::impulse(3000, 2, 0.5)});
    kit.wav("M.WAV", {{0.0, 1.0, 0.25}});
    kit.master("", {{"DSPBUFFER", "512"}, {"HDIM", "4"}});
    auto engine = make();
    CorePrcsPeek p{*engine};
    struct Row {
        KitValues values;
        std::vector<std::string> files;
        std::vector<short> engines, modes; // slots 0.., then the work slot last
    };
    // clang-format off
    Row const rows[] = {
        // Extended lengths need a block engine; a marker slot plays one tap.
        {{{"FORCEOT2", "1"}}, {"A.WAV", "M.WAV"}, {11, 11, -1}, {3, 3, 3}},
        {{}, {"A.WAV", "M.WAV"}, {3, 17, -1}, {3, 3, 3}},
        // Hybrid: slot 0 keeps the direct engine, the work slot plays blocks.
        {{{"FORCEOT2", "1"}, {"FORCEHYBRID", "1"}}, {"A.WAV", "A.WAV"}, {3, 11, 11}, {3, 0, 2}},
        // Three equal plans share one group; a longer kernel plans alone.
        {{{"FORCEOT2", "1"}}, {"A.WAV", "A.WAV", "A.WAV", "B.WAV"}, {11, 11, 11, 11, -1},
         {0, 1, 2, 3, 3}},
        // Smoothing: slot 0 and the work slot never share.
        {{{"FORCEOT2", "1"}, {"SMOOTH", "2"}}, {"A.WAV", "A.WAV", "A.WAV"}, {11, 11, 11, 11},
         {3, 0, 2, 3}},
    };
    // clang-format on
    for (Row const& row : rows) {
        KitProgram program("Plan", "", row.values);
        for (auto const& f : row.files) program.slots.push_back(fileSlot(f));
        ASSERT_TRUE(p.load(program));
        std::string const where = row.values.empty() ? "plain" : row.values.back().first;
        int const n = static_cast<int>(row.files.size());
        for (int s = 0; s <= n; ++s) {
            int const slot = s == n ? p.work() : s;
            EXPECT_EQ(p.slot(slot).engine, row.engines[s]) << where << " slot " << slot;
            EXPECT_EQ(p.slot(slot).sharemode, row.modes[s]) << where << " slot " << slot;
        }
        EXPECT_GE(p.step(), 1) << where;
    }
    // Hybrid mapping of the length query: selector 1 of slot 0 is the work slot.
    KitProgram hybrid("Hybrid", "", {{"FORCEHYBRID", "1"}});
    hybrid.slots.push_back(fileSlot("B.WAV"));
    ASSERT_TRUE(p.load(hybrid));
    CoreProg& g = *p.program();
    EXPECT_DOUBLE_EQ(engine->getod(0, 1), CoreButl::upftp(44100, g.getod(p.work(), 1)));
    EXPECT_DOUBLE_EQ(engine->getod(0, 0), CoreButl::upftp(44100, g.getod(0, 0)));
    // So do the fade-out queries, in microseconds; a selector past the
    // bound answers nothing.
    engine->setco(0, 2000.0);
    EXPECT_GT(g.getco(p.work()), 0);
    EXPECT_DOUBLE_EQ(engine->getco(0), CoreButl::upftp(44100, g.getco(p.work())));
    EXPECT_DOUBLE_EQ(engine->getmo(0), CoreButl::upftp(44100, g.getmo(p.work())));
    EXPECT_DOUBLE_EQ(engine->getib(0, 1, true), CoreButl::upftp(44100, g.getib(0, 1, true)));
    EXPECT_EQ(engine->getib(0, 2, true), 0.0);
    EXPECT_TRUE(engine->getoe(0, 0));
    EXPECT_FALSE(engine->getoe(0, 1));
    EXPECT_FALSE(engine->getoe(0, 7));

    // setop(0) re-applies the engine in force; setof refuses what is not a
    // usable block engine and keeps the plans.
    KitProgram two("Two", "", {});
    two.slots = {fileSlot("A.WAV"), fileSlot("A.WAV")};
    ASSERT_TRUE(p.load(two));
    engine->lockp(1000); // adjop's caller holds the engine and worker locks
    EXPECT_TRUE(engine->adjop(10));
    engine->rlsep();
    EXPECT_EQ(p.slot(0).engine * 100 + p.inforce(), 1010);
    EXPECT_TRUE(engine->setop(3));
    EXPECT_TRUE(engine->setop(10));
    EXPECT_EQ(p.slot(0).engine, 10);
    EXPECT_EQ(p.inforce(), 10);
    EXPECT_TRUE(engine->setop(0));
    EXPECT_EQ(p.slot(0).engine, 10);
    EXPECT_FALSE(engine->setof(3));
    EXPECT_FALSE(engine->setof(6));
    EXPECT_TRUE(engine->setof(9));
    EXPECT_EQ(p.slot(0).engine, 10);
    // Hybrid slot 0 falls back from an engine outside the table; slot 1's
    // length change re-plans it alone and keeps slot 0's error flag.
    KitProgram pair("Pair", "", {{"FORCEOT2", "1"}, {"FORCEHYBRID", "1"}});
    pair.slots = {fileSlot("A.WAV"), fileSlot("A.WAV")};
    ASSERT_TRUE(p.load(pair));
    EXPECT_TRUE(engine->setop(99));
    EXPECT_EQ(p.slot(1).engine, 9);
    EXPECT_TRUE(p.planerror());
    double const before = engine->getod(1, 0);
    engine->setod(1, 0, 3000.0);
    EXPECT_LT(engine->getod(1, 0), before);
    EXPECT_TRUE(p.planerror());
}

TEST_F(CorePrcsBlockTest, ThreadedAndInlinePlansAndOutputAgree) {
    kit.wav("A.WAV", {DataKit::impulse(200, 2, 0.9)});
    kit.wav("B.WAV", {DataKit::impulse(900, 4, -0.7)});
    std::vector<int> plans[2];
    Signal outs[2];
    for (int threads = 0; threads < 2; ++threads) {
        kit.master("", {{"DSPBUFFER", "256"}, {"THREADS", threads ? "1" : "0"}, {"HDIM", "3"}});
        auto engine = make();
        CorePrcsPeek p{*engine};
        KitProgram program("T", "", {{"FORCEOT2", "1"}});
        program.slots = {fileSlot("A.WAV"), fileSlot("A.WAV"), fileSlot("B.WAV")};
        ASSERT_TRUE(p.load(program));
        for (int s = 0; s <= p.work(); ++s)
            plans[threads].insert(plans[threads].end(),
                                  {p.slot(s).engine, p.slot(s).sharemode, p.slot(s).group});
        plans[threads].push_back(p.step());
        p.gains(0.5, 0.5);
        p.booted();
        engine->smpby(false, 0, true, false);
        Signal const x = noise(2000, 3, 0.5);
        Feed feed{*engine};
        feed.run(x, x, {256});
        // The worker runs one block behind: compare from its latency on.
        outs[threads] = delayed(feed.out[0], p.base());
    }
    EXPECT_EQ(plans[0], plans[1]);
    outs[0].resize(outs[1].size());
    EXPECT_LT(relativeError(outs[1], outs[0]), 1e-12);
}

TEST_F(CorePrcsBlockTest, SmoothingCrossfadesEachPeriodAndSwitchesOffAndOnCleanly) {
    // A dense kernel: a player that missed input would be wrong over its whole length.
    Signal const dense = noise(160, 11, 0.5);
    kit.wav("A.WAV", {Signal(dense.begin() + kSettle, dense.end())});
    // 20 ms periods: the switches below land inside one.
    kit.master("", {{"DSPBUFFER", "256"}, {"HDIM", "2"}, {"PROGRAMRATE", "20000"}});
    // Smoothing on, off and on again; replan: the engine is planned again while off.
    for (auto [order, harmonics, fft, replan] :
         {std::tuple<short, int, bool, bool>{0, 1, false, false},
          {2, 2, true, false},
          {5, 1, true, false},
          {5, 2, false, false},
          {2, 1, false, true}}) {
        auto engine = make();
        CorePrcsPeek p{*engine};
        KitProgram program("S", "", {{"FORCEOT2", fft ? "1" : "0"}, {"SMOOTH", "1"}});
        for (int h = 0; h < harmonics; ++h) program.slots.push_back(fileSlot("A.WAV"));
        ASSERT_TRUE(p.load(program));
        ASSERT_EQ(p.order(), 1);
        p.gains(0.5, 0.5);
        p.booted();
        engine->smpby(false, 0, true, false);
        ASSERT_TRUE(engine->setst(order)); // a document's SMOOTH "0" reads as absent
        // The selector flips at every update; the work slot fades the other way.
        std::vector<double const*> tables;
        Feed feed{*engine};
        int const r = p.rate();
        Signal x = noise(6 * r, 5, 0.4);
        x.insert(x.begin(), 8 * r, 0.0); // the liquid kernel settles over updates
        int const periods = 10 + kSettle / r;
        for (int k = 0; k < periods; ++k) {
            Signal const part(x.begin() + k * r, x.begin() + (k + 1) * r);
            feed.run(part, part, {r});
            tables.push_back(p.slot0());
            EXPECT_EQ(p.worktable(), p.slot0() == p.falling() ? p.rising() : p.falling());
        }
        EXPECT_NE(tables[0], tables[1]);
        EXPECT_EQ(tables[0], tables[2]);
        // Off and on inside periods. A replan starts every player afresh: it
        // comes after a silence longer than the kernel and the worker's block.
        long const on = long(periods) * r;
        long const cuts[] = {on, on + 300, on + 1400, on + 2100, long(x.size())};
        std::fill(x.begin() + cuts[2] - 1024, x.begin() + cuts[2], 0.0);
        for (int k = 0; k < 4; ++k) {
            if (k % 2 == 1) {
                ASSERT_TRUE(engine->setst(k == 1 ? -1 : order));
            } else if (k == 2 && replan) {
                ASSERT_TRUE(engine->setop(0));
            }
            Signal const part(x.begin() + cuts[k], x.begin() + cuts[k + 1]);
            feed.run(part, part, {256, 100});
        }
        // A kernel that does not change: the two halves sum to the plain sum.
        Signal want = convolve(x, p.kernel(0, 0));
        if (harmonics == 2) want = plus(want, convolve(power(x, 2), p.kernel(1, 0)));
        Signal const got = delayed(feed.out[0], p.base());
        double worst = 0.0;
        for (std::size_t i = 0; i < got.size(); ++i)
            worst = std::max(worst, std::fabs(got[i] - want[i]));
        EXPECT_LT(worst, 1e-9) << "order " << order << ", " << harmonics << " harmonics"
                               << (replan ? ", replanned" : "");
    }
}

TEST_F(CorePrcsBlockTest, MidiLearnMetersStateAndNoAllocationWhileAudioRuns) {
    kit.wav("A.WAV", {DataKit::impulse(200, 2, 0.9)});
    kit.master("", {{"DSPBUFFER", "256"}, {"HDIM", "2"}});
    auto engine = make();
    CorePrcsPeek p{*engine};
    KitProgram program("M", "", {{"FORCEOT2", "1"}, {"MIX1", "0.25"}});
    program.slots = {fileSlot("A.WAV"), fileSlot("A.WAV")};
    ASSERT_TRUE(p.load(program));
    p.gains(0.5, 0.5);
    Feed feed{*engine};
    Signal const x = noise(4000, 9, 0.5);

    // Before the boot and in bypass nothing is cleared or learned.
    p.setin(0, 5, 0.125);
    p.overflowAt(0.0);
    engine->clean();
    engine->mdctr(0, 0x40 << 24 | 7 << 16 | 176 << 8);
    EXPECT_EQ(p.in(0, 5), 0.125);
    EXPECT_TRUE(p.overflowed()); // nothing moved: the indicator stays
    p.booted();
    engine->clean();
    EXPECT_EQ(p.in(0, 5), 0.125);
    engine->smpby(false, 0, false, false);
    engine->clean();
    EXPECT_EQ(p.in(0, 5), 0.0);

    // A learnt controller moves MIX1, at once or when its frame comes.
    engine->setms(0, 176, 7);
    engine->mdctr(0, 0x40 << 24 | 7 << 16 | 176 << 8);
    EXPECT_FALSE(p.overflowed()); // a moved control puts it out
    EXPECT_NEAR(p.program()->getif(0)->getvl(true), 64.0 / 127.0, 1e-7);
    engine->mdctr(300, 0, 176, 7, 127);
    EXPECT_NEAR(p.program()->getif(0)->getvl(true), 64.0 / 127.0, 1e-7);

    // The meter types.
    struct Row {
        short type, mode;
        int attack, release;
    } const rows[] = {{8, 8, 88200, 0}, {2, 2, 2646, 1323}, {5, 5, 13230, 13230}};
    for (Row const& row : rows) {
        engine->setmt(row.type, false);
        for (int k = 0; k < CorePrcs::iCmeters; ++k) {
            bool const fixed = k >= 4;
            EXPECT_EQ(p.meter(k).getex(), fixed ? 4 : row.mode) << row.type;
            EXPECT_EQ(p.meter(k).getma(), fixed ? 13230 : row.attack) << row.type;
            EXPECT_EQ(p.meter(k).getmr(), fixed ? 13230 : row.release) << row.type;
        }
    }

    // A lookahead reaching past the ring's end reads wrapped (no overrun).
    p.ahead(p.ring() - 3);
    long const bytes = p.pool().getma();
    feed.run(x, x, {256, 77, 512});
    EXPECT_EQ(feed.allocations, 0);
    EXPECT_EQ(p.pool().getma(), bytes);
    EXPECT_NEAR(p.program()->getif(0)->getvl(true), 1.0, 1e-7); // the queued event came
    EXPECT_TRUE(p.newlevels());
    EXPECT_EQ(p.straddles(), 0);
}

TEST_F(CorePrcsBlockTest, LevelSourcesCarryTheLevelAtEveryModulationUpdate) {
    kit.wav("A.WAV", {DataKit::impulse(64, 2, 0.9)});
    kit.master("", {{"DSPBUFFER", "256"}, {"THREADS", "0"}, {"PROGRAMRATE", "5805"}});
    auto engine = make();
    CorePrcsPeek p{*engine};
    KitProgram program("L", "", {{"FORCEOT2", "1"}});
    program.slots = {fileSlot("A.WAV")};
    ASSERT_TRUE(p.load(program));
    p.gains(0.5, 0.5);
    p.booted();
    engine->smpby(false, 0, true, false);
    // A peak meter holds its level between reloads; an RMS meter moves with every sample.
    engine->setmt(1, true);
    CoreProg& g = *p.program();
    g.setar(CoreAnsx("IN_P"));   // the Lookahead Control; without a lookahead it is only read
    int const period = p.rate(); // 256 samples: one update per call below
    ASSERT_EQ(period, 256);
    int const silent = 8;
    int const periods = 320; // six times the 300 ms of the IN_P follower
    Feed feed{*engine};
    std::vector<double> inp, inl, outp;
    for (int k = 0; k < periods; ++k) {
        Signal x(period, 0.0);
        for (int i = 0; k >= silent && i < period; ++i)
            x[i] = 0.8 * std::sin(2.0 * std::numbers::pi * 441.0 * (k * period + i) / 44100.0);
        feed.run(x, x, {period});
        inp.push_back(2.0 * g.getaf() - 1.0);
        inl.push_back(g.getsc(CoreAnsx("IN_L")));
        outp.push_back(g.getsc(CoreAnsx("OUTP")));
    }
    // Inline, each call's step takes that call's input: the update opening
    // the onset's step has not heard it, the next one has.
    int const heard = silent + 1;
    for (auto const* levels : {&inp, &inl, &outp}) {
        EXPECT_EQ((*levels)[heard - 1], -1.0);
        EXPECT_GT((*levels)[heard], -1.0);
    }
    int still = 0;
    for (int k = heard + 1; k < periods; ++k) still += inl[k] == inl[k - 1];
    EXPECT_EQ(still, 0);
    // RMS of the sine with the meters' 3 dB lift: 0.8, bipolar 0.6.
    EXPECT_NEAR(inp.back(), 2.0 * 0.8 / std::sqrt(2.0) * std::pow(10.0, 0.15) - 1.0, 0.01);
}

// A harmonic whose kernel is a vector of two elements plays, on a
// partitioned engine chosen after the load, from spectra mixed out of its
// elements'. Another slot's length edit binds every slot anew: what the
// first one plays stays its kernel.
TEST_F(CorePrcsBlockTest, AChosenEngineMixesAVectorsSpectraThroughAnotherSlotsEdit) {
    kit.wav("A.WAV", {DataKit::ramp(900, 0.5, -0.1), DataKit::impulse(900, 3, 0.7)});
    kit.wav("B.WAV", {DataKit::impulse(900, 40, -0.6), DataKit::ramp(900, -0.2, 0.3)});
    kit.wav("C.WAV", {DataKit::impulse(300, 2, 0.4)});
    kit.master("", {{"DSPBUFFER", "256"}, {"THREADS", "0"}, {"HDIM", "2"}});
    auto engine = make();
    CorePrcsPeek p{*engine};
    KitProgram program("Still", "", {{"FORCEOT2", "1"}});
    KitVector pair({"A.WAV", "B.WAV"});
    pair.source = "MIX1";
    KitVector root;
    root.children.push_back(pair);
    program.slots = {root, fileSlot("C.WAV")};
    ASSERT_TRUE(p.load(program));
    ASSERT_TRUE(engine->setop(10));                // a partitioned engine that mixes spectra
    p.program()->getif(0)->setiv(0.0, true, true); // MIX1 halfway: both elements weigh
    p.gains(0.5, 0.5);
    p.booted();
    engine->smpby(false, 0, true, false);
    // Silence long enough for the move to MIX1's new value to settle.
    Signal x(8192, 0.0);
    Signal const n = noise(8000, 11, 0.6);
    x.insert(x.end(), n.begin(), n.end());
    long const edit = 8192 + 4096;
    Feed feed{*engine};
    feed.run(Signal(x.begin(), x.begin() + edit), Signal(x.begin(), x.begin() + edit), {256});
    CoreSpmx const* mix = CoreCnvlIntl::getsm(*p.slot(0).cnvl);
    ASSERT_TRUE(mix != nullptr && mix->pairs());
    // The length it has: the edit clears the rings, and binds every slot anew.
    engine->setod(1, 0, engine->getod(1, 0));
    feed.run(Signal(x.begin() + edit, x.end()), Signal(x.begin() + edit, x.end()), {256});
    EXPECT_TRUE(CoreCnvlIntl::getsm(*p.slot(0).cnvl) == mix && mix->pairs());
    p.program()->getvr(0)->chnwr(); // the kernel whole, to read it
    // From a kernel length past the edit, the rings are full again.
    long const latency = p.base() + p.ahead();
    long const from = edit + 1024;
    for (int c = 0; c < 2; ++c) {
        Signal want = plus(convolve(x, p.kernel(0, c)), convolve(power(x, 2), p.kernel(1, c)));
        Signal const got = delayed(feed.out[c], latency);
        EXPECT_LT(relativeError(Signal(got.begin() + from, got.end()),
                                Signal(want.begin() + from, want.end() - latency)),
                  1e-7) // MIX1's move is still settling in the last digits
            << "channel " << c;
    }
}
