// ctest-labels: threads
// The host process entry against a plain model: with the stand-in block
// worker playing the input ring into the output ring, every host call of any
// size must return the input delayed by exactly base latency + lookahead
// (bypass: the delay compensation), in every output mode, threaded or
// inline. Then the bypass switch, hostile calls, the program rates and a
// soak with configuration changes from a second thread.
#include "processing/CorePrcs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <future>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "runtime/CoreBlnk.h"
#include "tests/processing/CorePrcsPeek.h"
#include "tests/support/LogCapture.h"

namespace {

class CorePrcsHostTest : public ::testing::Test, protected EngineKit {};

long const kSizes[] = {0, 1, 7, 63, 255, 256, 257, 441, 512, 1000}; // block 256: 1000 > 2 x block

// A stereo input stream and the host's side of the calls.
struct Host {
    CorePrcs& e;
    bool dbl = false;
    bool replace = true;
    short level = 0;
    std::vector<double> in[2];
    std::vector<double> out[2];            // what the host's buffers held after each call
    long at = 0;                           // input consumed so far
    static constexpr float kPrior = 0.25f; // what the host's buffers held before

    Host(CorePrcs& engine, long length, unsigned seed) : e(engine) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        for (auto& c : in)
            for (long i = 0; i < length; ++i) c.push_back(u(rng)); // exact as floats
    }
    void call(long n) {
        std::vector<float> fi[2], fo[2];
        std::vector<double> di[2], dout[2];
        void* ins[2];
        void* outs[2];
        for (int c = 0; c < 2; ++c) {
            for (long i = 0; i < n; ++i) {
                fi[c].push_back(static_cast<float>(in[c][at + i]));
                di[c].push_back(in[c][at + i]);
            }
            fo[c].assign(n, kPrior);
            dout[c].assign(n, 99.0);
            ins[c] = dbl ? static_cast<void*>(di[c].data()) : fi[c].data();
            outs[c] = dbl ? static_cast<void*>(dout[c].data()) : fo[c].data();
        }
        e.prcss(ins, outs, n, replace, level, 0.0, dbl, 2);
        for (int c = 0; c < 2; ++c)
            for (long i = 0; i < n; ++i) out[c].push_back(dbl ? dout[c][i] : fo[c][i]);
        at += n;
    }
    void run(long total, unsigned seed) {
        std::mt19937 rng(seed);
        while (at < total) call(std::min<long>(kSizes[rng() % 10], total - at));
    }
    // What the host must see at t for an engine output v.
    double expect(double v) const {
        if (dbl) return v;
        return replace ? static_cast<float>(v) : kPrior + static_cast<float>(v);
    }
    // Samples from `from` on that differ from the input delayed by d and
    // scaled (silent where the delayed input is before `silentBefore`).
    long misses(long d, double gain = 1.0, long from = 0, long silentBefore = 0) const {
        long bad = 0;
        for (int c = 0; c < 2; ++c)
            for (long t = from; t < static_cast<long>(out[c].size()); ++t) {
                double const v = t - d >= silentBefore ? in[c][t - d] * gain : 0.0;
                if (std::fabs(out[c][t] - expect(v)) > 1e-6) ++bad;
            }
        return bad;
    }
    // The same with the dropped spans (first frame, length) cut out; each must be silence.
    long missesBut(std::vector<std::pair<long, long>> const& dropped, long d) const {
        Host kept = *this;
        long bad = 0;
        for (auto it = dropped.rbegin(); it != dropped.rend(); ++it)
            for (int c = 0; c < 2; ++c) {
                auto const from = it->first, to = it->first + it->second;
                for (long t = from; t < to; ++t) bad += out[c][t] != 0.0;
                kept.in[c].erase(kept.in[c].begin() + from, kept.in[c].begin() + to);
                kept.out[c].erase(kept.out[c].begin() + from, kept.out[c].begin() + to);
            }
        return bad + kept.misses(d);
    }
};

using Clock = std::chrono::steady_clock;
void normal(CorePrcs& e) { e.smpby(false, 0, true, false); }

int ringDistance(CorePrcsPeek const& p, int a, int b) { return (b - a + p.ring()) % p.ring(); }

} // namespace

TEST_F(CorePrcsHostTest, EveryHostBlockSizeComesOutDelayedByTheLatency) {
    struct Row {
        char const* threads;
        bool dbl, replace, lookahead, workeronly;
        int step, hostblock;
    };
    // clang-format off
    Row const rows[] = {
        {"0", false, true,  false, false, 64,  2048},
        {"0", false, false, true,  false, 16,  2048},  // adding, with a lookahead gap
        {"0", true,  false, false, false, 256, 2048},  // double overwrites whatever replace says
        {"1", false, true,  false, false, 64,  32},    // one block behind on the worker
        {"1", true,  true,  true,  false, 64,  32},
        {"1", false, false, false, false, 64,  4096},  // threaded, but every block inline
        {"1", false, true,  false, true,  128, 4096},  // every block on the worker
    };
    // clang-format on
    unsigned seed = 1;
    for (Row const& row : rows) {
        KitValues values = {{"DSPBUFFER", "256"}, {"THREADS", row.threads}};
        if (row.lookahead)
            values.insert(values.end(), {{"FORCEOFFSET", "1000"}, {"AHEADLENGTH", "2000"}});
        kit.master("", values);
        auto engine = make();
        CorePrcsPeek p{*engine};
        p.setstep(row.step, row.hostblock, row.workeronly);
        p.gains(0.5, 0.5);
        normal(*engine);
        Host host(*engine, 12000, ++seed);
        host.dbl = row.dbl;
        host.replace = row.replace;
        host.run(12000, seed);
        std::string const where = std::string("threads ") + row.threads + " step " +
                                  std::to_string(row.step) + " host " +
                                  std::to_string(row.hostblock);
        // With FORCEOFFSET the input leads by the whole delay compensation.
        EXPECT_EQ(host.misses(p.lead()), 0) << where;
        EXPECT_EQ(ringDistance(p, p.outread(), p.inwrite()), p.lead()) << where;
        if (row.lookahead) {
            EXPECT_EQ(p.lead(), p.compensation()) << where;
        }
        // The lookahead stays unprocessed, however long the calls.
        EXPECT_EQ(ringDistance(p, p.handed(), p.inwrite()), p.ahead() + p.carry()) << where;
        EXPECT_EQ(p.handoff(),
                  row.threads[0] == '1' && (row.workeronly || row.step > row.hostblock))
            << where;
    }
}

TEST_F(CorePrcsHostTest, WithoutAStepTheHostGetsSilenceAndThePositionsStayInStep) {
    kit.master("", {{"DSPBUFFER", "256"}});
    auto engine = make();
    CorePrcsPeek p{*engine};
    p.gains(0.5, 0.5);
    normal(*engine);
    Host host(*engine, 6000, 7);
    host.run(1000, 3);
    p.setstep(32, 2048);
    host.run(6000, 4);
    // Input that arrived while nothing was configured plays as silence.
    EXPECT_EQ(host.misses(p.base(), 1.0, 0, 1000), 0);
}

TEST_F(CorePrcsHostTest, AFailingBlockIsSilenceAndHoldsNothingUp) {
    kit.master("", {{"DSPBUFFER", "256"}, {"THREADS", "1"}});
    auto engine = make();
    CorePrcsPeek p{*engine};
    p.setstep(64, 32);
    p.gains(0.5, 0.5);
    normal(*engine);
    Host host(*engine, 8000, 9);
    host.run(3000, 5);
    CorePrcs::failNextBlocks(1);
    host.run(8000, 6);
    CorePrcs::failNextBlocks(0);
    long const bad = host.misses(p.base());
    EXPECT_GT(bad, 0);
    EXPECT_LE(bad, 2 * p.block()); // one block, both channels
    // Slots without a player: nothing posted, nothing waited for.
    int buffer = 0;
    engine->lockp();
    EXPECT_EQ(engine->setcd(99, &buffer, 3, 1), &buffer);
    EXPECT_EQ(engine->setcf(99, 11, 64, 64, 128, 64, 64), 0);
    engine->rlsep();
}

TEST_F(CorePrcsHostTest, PlanCommandsGiveTheSameResultsOnTheWorkerAsInline) {
    std::vector<long> results[2];
    for (int threads = 0; threads < 2; ++threads) {
        kit.master("", {{"THREADS", threads ? "1" : "0"}, {"HDIMMAX", "3"}});
        auto engine = make();
        ASSERT_EQ(CorePrcsPeek{*engine}.threaded(), threads == 1);
        std::vector<long>& r = results[threads];
        engine->lockp();
        r.push_back(engine->setcf(0, 11, 64, 200, 0, 64, 200)); // a shared FFT plan
        r.push_back(engine->setcf(1, 11, 64, 200, 0, 64, 200));
        r.push_back(engine->setcf(2, 3, 0, 8, 0, 0, 0)); // no block: nothing to plan
        void* buffer = engine->setcd(0, nullptr, 0, 4L * 256);
        r.push_back(buffer != nullptr);
        r.push_back(engine->setcd(1, buffer, 1, 4L * 256) == buffer);
        engine->setcf(1);
        engine->rlsep();
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0][0], 64);
    EXPECT_EQ(results[0][2], 0);
}

TEST_F(CorePrcsHostTest, AStuckWorkerCostsDroppedChunksNotAHungHost) {
    kit.master("", {{"DSPBUFFER", "256"}, {"THREADS", "1"}});
    auto engine = make();
    CorePrcsPeek p{*engine};
    p.setstep(64, 32);
    p.gains(0.5, 0.5);
    normal(*engine);
    Host host(*engine, 6000, 41);
    host.run(2000, 42);
    p.holdWorker(true); // as a block that never ends would
    std::vector<std::pair<long, long>> dropped;
    for (int i = 0; i < 2; ++i) {
        int const w = p.inwrite();
        host.call(256);
        if (p.inwrite() == w) dropped.push_back({host.at - 256, 256});
    }
    p.holdWorker(false);
    host.run(6000, 43);
    ASSERT_FALSE(dropped.empty());
    EXPECT_EQ(host.missesBut(dropped, p.base()), 0);
}

// A held engine lock drops each real-time call after no longer than itself (silence, nothing
// entered, counted in the pass's line); level 0 waits out an ordinary hold, offline any. A held
// bypass lock costs a call in bypass the same, and a switch waiting for such a call hears of it.
TEST_F(CorePrcsHostTest, AHeldEngineCostsRealTimeCallsAndIsWaitedOutOtherwise) {
    // Ten 64-frame calls, the lock held ms (0: not; -1: until they return, 30 s at most): the
    // engine's, or the bypass's of an instance in bypass, its delay forced.
    auto play = [&](short level, int ms, bool bypassed) {
        KitValues values = {{"DSPBUFFER", "256"}, {"THREADS", "1"}};
        if (bypassed) values.push_back({"FORCEOFFSET", "1000"});
        kit.master("", values);
        auto e = make();
        CorePrcsPeek p{*e};
        p.setstep(64, 32);
        p.gains(0.5, 0.5);
        if (!bypassed) normal(*e);
        auto const hold = [&](bool on) {
            bypassed ? p.holdBypass(on) : on ? e->lockp() : e->rlsep();
        };
        auto const written = [&] { return bypassed ? p.bypasswrite() : p.inwrite(); };
        Host host(*e, 6000, 71);
        host.level = level;
        host.run(2000, 72);
        std::vector<std::pair<long, long>> dropped; // first frame, length
        std::atomic<int> returned{0};
        std::atomic<bool> released{ms == 0};
        bool early = false, capped = false;
        if (ms != 0) hold(true); // released by the holder: the lock has no owner
        std::thread holder([&] {
            auto const cap = Clock::now() + std::chrono::seconds(30);
            std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0)));
            while (ms < 0 && returned.load() < 10 && !(capped = Clock::now() > cap))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            released.store(true);
            if (ms != 0) hold(false);
        });
        p.bypassEvent().ResetEvent();
        for (int i = 0; i < 10; ++i, returned.fetch_add(1)) {
            int const w = written();
            host.call(64);
            early = early || !released.load();
            if (written() == w) dropped.push_back({host.at - 64, 64});
            EXPECT_EQ(bypassed && i == 0 ? p.bypassEvent().WaitFor(0) : CoreTevn::iCwrsignaled,
                      CoreTevn::iCwrsignaled);
        }
        holder.join();
        host.run(6000, 73);
        LogCapture log;
        e->setbi(66, 44100, nullptr); // the control pass
        std::string const line = std::string("calls or chunks dropped: ") + (ms < 0 ? "10" : "");
        EXPECT_EQ(log.text().find(line) != std::string::npos, ms < 0) << log.text();
        EXPECT_EQ(dropped.size(), ms < 0 ? 10u : 0u) << level;
        EXPECT_FALSE(capped || (ms >= 0 && early)) << level;
        int const delay = bypassed ? p.compensation() : p.base();
        EXPECT_GT(delay, 0);
        EXPECT_EQ(ms < 0 ? host.missesBut(dropped, delay) : 0, 0) << bypassed;
        return std::pair(host.out[0], host.out[1]);
    };
    play(2, -1, false);
    play(2, -1, true);
    for (auto [level, ms] : {std::pair<short, int>{0, 50}, {4, 200}})
        EXPECT_TRUE(play(level, ms, false) == play(level, 0, false)) << level;
}

// The pass tells dropped calls at once, then the running total at most once a second, and what
// is left untold at close.
TEST_F(CorePrcsHostTest, DroppedCallsAreToldAtOnceThenAtMostOnceASecond) {
    kit.master("", {{"DSPBUFFER", "256"}});
    auto e = make();
    CorePrcsPeek p{*e};
    Host host(*e, 8000, 81);
    host.level = 2;
    LogCapture log;
    std::string const line = "calls or chunks dropped: ";
    auto const lines = [&] { return LogCapture::count(log.text(), line); };
    auto const dropThenPass = [&] { // each call meets the bypass held, as a load holds it
        p.holdBypass(true);
        host.call(64);
        p.holdBypass(false);
        e->setbi(66, 44100, nullptr);
    };
    auto const begun = Clock::now();
    dropThenPass();
    EXPECT_EQ(lines(), 1);
    for (int i = 1; i < 50; ++i) dropThenPass();
    int const told = lines(),
              seconds = int(std::chrono::duration<double>(Clock::now() - begun).count());
    EXPECT_LE(told, 1 + seconds) << log.text();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    dropThenPass();
    EXPECT_EQ(lines(), told + 1);
    EXPECT_NE(log.text().find(line + "51"), std::string::npos) << log.text();
    dropThenPass(); // within the second: told at close
    EXPECT_EQ(log.text().find(line + "52"), std::string::npos);
    e.reset();
    EXPECT_NE(log.text().find(line + "52"), std::string::npos) << log.text();
}

TEST_F(CorePrcsHostTest, BypassDelaysByTheCompensationAndMutesWhileSwitching) {
    for (bool forced : {false, true}) {
        KitValues values = {{"DSPBUFFER", "256"}};
        if (forced) values.push_back({"FORCEOFFSET", "1000"});
        kit.master("", values);
        auto engine = make();
        CorePrcsPeek p{*engine};
        ASSERT_EQ(p.compensation() == 0, !forced);
        Host host(*engine, 6000, 11);
        host.replace = forced; // adding in one, replacing in the other
        host.run(5000, 12);    // bypass from construction, gains 1.0
        EXPECT_EQ(host.misses(p.compensation()), 0) << forced;
        engine->cleby(); // the delay line forgets: silence for one compensation
        host.run(6000, 13);
        EXPECT_EQ(host.misses(p.compensation(), 1.0, 5000, 5000), 0) << forced;
    }

    kit.master("", {{"DSPBUFFER", "256"}});
    auto engine = make();
    CorePrcsPeek p{*engine};
    p.setstep(64, 2048);
    p.gains(0.5, 0.5);
    normal(*engine);
    Host host(*engine, 8000, 13);
    host.run(2000, 14);
    // A host call through the bypass path ends the muting wait: the wait
    // takes the event that call sets (it would still be set had the wait
    // run out first).
    std::thread audio([&] {
        while (!engine->getby()) std::this_thread::yield();
        host.call(100);
    });
    engine->smpby(true, 0, true, true);
    audio.join();
    EXPECT_NE(p.bypassEvent().WaitFor(0), CoreTevn::iCwrsignaled);
    host.run(4000, 15);
    engine->smpby(false, 0, true, false);
    host.run(6000, 16);
    engine->smpby(true, 0, false, false);
    engine->smpby(true, 0, false, false);
    EXPECT_TRUE(engine->getby());
    host.run(8000, 17);
    EXPECT_EQ(host.misses(p.base(), 1.0, 0, 0) - host.misses(p.base(), 1.0, 2000, 0), 0);
    EXPECT_EQ(host.misses(0, 0.0, 2000, 0) - host.misses(0, 0.0, 4000, 0), 0); // muted
    // Back from bypass with cleared rings: the input from then on, delayed.
    EXPECT_EQ(host.misses(p.base(), 1.0, 4000, 4000) - host.misses(p.base(), 1.0, 6000, 4000), 0);
    EXPECT_EQ(host.misses(0, 1.0, 6000), 0); // unmuted bypass, no compensation
}

TEST_F(CorePrcsHostTest, HostileCallsReachTheRingAsSilenceAndNeverCrash) {
    kit.master("", {{"DSPBUFFER", "256"}});
    auto engine = make();
    CorePrcsPeek p{*engine};
    p.setstep(64, 2048);
    p.gains(0.5, 0.5);
    normal(*engine);
    double const inf = std::numeric_limits<double>::infinity();
    double const nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> dl = {1e-301, nan, inf, -inf, -1e-300, 0.5};
    std::vector<double> dr = {-1e-301, 1e-299, nan, 0.25, inf, -0.5};
    std::vector<double> expect[2] = {{0, 0, 0, 0, 0, 0.5}, {0, 1e-299, 0, 0.25, 0, -0.5}};
    std::vector<double> dout(6, 7.0);
    for (bool dbl : {true, false}) {
        std::vector<float> fl(dl.begin(), dl.end()), fr(dr.begin(), dr.end()), fo(6);
        void* ins[2] = {dbl ? static_cast<void*>(dl.data()) : fl.data(),
                        dbl ? static_cast<void*>(dr.data()) : fr.data()};
        void* outs[2] = {dbl ? static_cast<void*>(dout.data()) : fo.data(), nullptr};
        int const w = p.inwrite();
        engine->prcss(ins, outs, 6, true, 0, nan, dbl, 2);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 6; ++i) {
                double const want = dbl ? expect[c][i] : static_cast<float>(expect[c][i]);
                EXPECT_EQ(p.in(c, (w + i) % p.ring()), want) << dbl << " " << c << " " << i;
                EXPECT_FALSE(std::signbit(p.in(c, (w + i) % p.ring())) && want == 0.0);
            }
    }
    // Missing buffers read as silence and are not written; no frames, no work.
    void* none[2] = {nullptr, nullptr};
    float left[4] = {}, right[4] = {};
    void* outs[2] = {left, right};
    engine->prcss(nullptr, outs, 4, true, 0, 0.0, false, 4);
    engine->prcss(none, none, 4, true, 0, 0.0, false, 4);
    engine->prcss(nullptr, nullptr, -5, true, 0, 0.0, true, 2);
    int const w = p.inwrite();
    engine->prcss(outs, outs, 0, true, 0, 0.0, false, 2);
    EXPECT_EQ(p.inwrite(), w);

    // Inputs 3 and 4 reach the side ring only with the side ring and 4 channels.
    float s[4][2] = {{1, 1}, {1, 1}, {0.5f, 0.5f}, {-0.5f, -0.5f}};
    void* four[4] = {s[0], s[1], s[2], s[3]};
    float o[2][2];
    void* two[2] = {o[0], o[1]};
    engine->prcss(four, two, 2, true, 0, 0.0, false, 4); // no side ring: ignored
    p.sides();
    int const at = p.inwrite();
    engine->prcss(four, two, 2, true, 0, 0.0, false, 2);
    EXPECT_EQ(p.side(0, at), 0.0);
    engine->prcss(four, two, 2, true, 0, 0.0, false, 4);
    EXPECT_EQ(p.side(0, at + 2), 0.5);
    EXPECT_EQ(p.side(1, at + 3), -0.5);

    // Refused rates and sizes change nothing.
    p.booted();
    engine->irate(0);
    engine->irate(-44100);
    engine->blksz(0);
    EXPECT_EQ(p.rate(), p.realtime());
    EXPECT_EQ(engine->getpf(2), 0);
    EXPECT_EQ(engine->getpf(0), 0);
}

TEST_F(CorePrcsHostTest, ProgramRatesRoundToTheStepAndKeepTheRequestedPeriod) {
    struct Row {
        char const* quality;
        int step, realtime, offline;
        long effective;
    };
    Row const rows[] = {
        {"4", 1024, 1024, 1024, 23219}, // 132 samples round up to the step
        {"4", 1, 132, 33, 3000},        // no rounding below a step of 2
        {"0.5", 1, 132, 132, 3000},     // a divisor below 1 counts as 1
    };
    for (Row const& row : rows) {
        kit.master("", {{"EXPORTAUDIOQUALITY", row.quality}});
        auto engine = make();
        CorePrcsPeek p{*engine};
        p.setstep(row.step, 2048);
        engine->updrt(3000);
        EXPECT_EQ(p.realtime(), row.realtime) << row.step;
        EXPECT_EQ(p.offline(), row.offline) << row.step;
        EXPECT_EQ(p.effective(), row.effective) << row.step;
    }
    kit.master();
    auto engine = make();
    CorePrcsPeek p{*engine};
    p.setstep(1024, 2048);
    p.booted();
    engine->updrt(3000);
    for (int round = 0; round < 3; ++round) {
        engine->irate(48000);
        EXPECT_EQ(p.effective(), 21333);
        engine->irate(44100);
        EXPECT_EQ(p.effective(), 23219);
        EXPECT_EQ(p.period(), 3000);
    }
}

TEST_F(CorePrcsHostTest, OfflineLevelAndFixedQualitySwitchTheProgramRate) {
    for (int variant = 0; variant < 3; ++variant) {
        bool const fixed = variant == 1;
        KitValues values = {{"DSPBUFFER", "256"}, {"EXPORTAUDIOQUALITY", "4"}};
        if (fixed) values.push_back({"FIXEDQUALITY", "1"});
        kit.master("", values);
        auto engine = make();
        CorePrcsPeek p{*engine};
        p.setstep(1, 2048);
        // The block takes the switch up, with new tables when smoothing.
        p.smoothing(variant == 2 ? -1 : 2);
        engine->updrt(3000);
        normal(*engine);
        Host host(*engine, 4000, 21);
        for (int round = 0; round < 3; ++round) {
            for (short level : {short(4), short(0)}) {
                host.level = level;
                host.call(300);
                EXPECT_FALSE(p.ratechange());
                EXPECT_EQ(p.rate(), level == 4 || fixed ? 33 : 132) << level << " " << fixed;
                if (variant != 2) {
                    EXPECT_EQ(p.falling()[p.rate()], 0.0);
                }
            }
        }
    }
}

TEST_F(CorePrcsHostTest, CrossfadeTablesAndSmoothingOrder) {
    kit.master();
    auto engine = make();
    CorePrcsPeek p{*engine};
    p.smoothing(2);
    engine->lockp();
    engine->mkesf(8);
    engine->rlsep();
    EXPECT_EQ(p.falling()[0], 1.0);
    EXPECT_EQ(p.falling()[8], 0.0);
    for (int i = 0; i <= 8; ++i) EXPECT_DOUBLE_EQ(p.rising()[i], 1.0 - p.falling()[i]);
    EXPECT_LE(p.falling()[5], p.falling()[4]);
    EXPECT_EQ(p.slot0(), p.falling());
    engine->setsp(1);
    EXPECT_EQ(p.slot0(), p.rising());
    struct Row {
        bool hybrid, capable;
        short limit, order;
        bool result;
        short inforce, stored; // smoothing order in force, the program's SMOOTH
    } const rows[] = {
        {false, false, 1, 2, false, -1, 2}, // not capable: the program keeps it
        {false, false, 1, -1, true, -1, 2}, // nothing to switch off
        {false, true, 1, 3, true, 3, 3},    // on
        {false, true, 1, -1, true, -1, -1}, // off: slot 0 back on the falling table
        {false, true, 0, 2, true, -1, 2},   // no harmonics: stays off
        {true, false, 1, 3, false, -1, -1}, // never in a hybrid program
    };
    for (Row const& r : rows) {
        p.smoothing(-1);
        engine->setsp(1);
        p.paths(r.hybrid, r.capable, r.limit);
        EXPECT_EQ(engine->setst(r.order), r.result) << r.order << r.capable;
        EXPECT_EQ(p.order(), r.inforce) << r.order << r.capable;
        EXPECT_EQ(p.program()->getst(), r.stored) << r.order << r.capable;
        if (r.capable && r.inforce < 0) {
            EXPECT_EQ(p.slot0(), p.falling());
            EXPECT_EQ(p.selector(), 0);
        }
    }
}

// The CPU figures: measured over the blocks since the blink clock last went
// out, read as a load in percent, and pacing a host that hands blocks to the
// worker; the stream stays exact while it paces.
TEST_F(CorePrcsHostTest, CpuFiguresFollowTheBlinkClockReadAsLoadAndPaceTheHost) {
    static double now = 0.0; // days
    now = 0.0;
    CoreBlnk blink([] { return now; });
    now = 0.5 / 86400.0; // half a second in: on
    kit.master("", {{"DSPBUFFER", "256"}, {"THREADS", "1"}});
    auto engine = make("0", nullptr, "0", true, 44100, &blink);
    CorePrcsPeek p{*engine};
    p.setstep(64, 32); // blocks go to the worker one block behind
    p.gains(0.5, 0.5);
    normal(*engine);
    Host host(*engine, 9000, 21);
    host.run(3000, 22); // blink on: the meters only gather
    EXPECT_EQ(p.cpu(0), 0.0);
    now = 1.5 / 86400.0; // blink out: the next call takes the figures
    host.run(6000, 23);
    EXPECT_GT(p.cpu(0), 0.0);
    // 10 us per sample at 44100 Hz is 44.1 % of real time; 1 ms per 100
    // samples handed to the worker is the pause each host call then takes.
    p.cpu(0, 1e-5);
    p.cpu(1, 2.5e-6);
    EXPECT_EQ(engine->getpf(0), 44);
    EXPECT_EQ(engine->getpf(1), 11);
    EXPECT_EQ(engine->getpf(2), 0);
    host.run(9000, 24);
    EXPECT_EQ(host.misses(p.lead()), 0);
    p.holdWorker(true); // busy: the last figure answers
    p.cpu(0, 0.0);
    EXPECT_EQ(engine->getpf(0), 44);
    p.holdWorker(false);
    EXPECT_EQ(engine->getpf(0), 0);
}

TEST_F(CorePrcsHostTest, ConfigurationChangesFromAnotherThreadWhileAudioRuns) {
    // Forced: each rate change moves the delays, and 48 kHz needs rings twice 44.1 kHz's.
    KitValues const force = {
        {"FORCEOFFSET", "1000"}, {"AHEADLENGTH", "27000"}, {"WORKBUFFER", "1024"}};
    for (bool forced : {false, true}) {
        KitValues values = {{"DSPBUFFER", "256"}, {"THREADS", "1"}};
        if (forced) values.insert(values.end(), force.begin(), force.end());
        kit.master("", values);
        auto engine = make();
        CorePrcsPeek p{*engine};
        p.setstep(64, 32);
        p.booted();
        normal(*engine);
        std::atomic<bool> done{false};
        std::thread other([&] {
            for (int i = 0; !done.load() && i < 400; ++i) {
                engine->irate(i % 2 ? 48000 : 44100);
                engine->blksz(i % 3 ? 32 : 4096);
                engine->updrt(2000 + i);
                engine->getpf(i % 2);
                engine->updgu(44100);
            }
        });
        Host host(*engine, 30000, 31);
        host.run(30000, 32);
        done.store(true);
        other.join();
        if (!forced) {
            EXPECT_EQ(host.misses(p.base(), 4.0), 0); // GAININ and GAINOUT at full: 2 x 2
        }
    }
}

TEST_F(CorePrcsHostTest, ARateChangeThatResizesTheRingsMeetsTheAudioWhole) {
    // A hung call could never be joined: past 60 s the process ends instead.
    auto done = std::async(std::launch::async, [&] {
        for (bool held : {true, false}) {
            // The forced settings above: 48 kHz needs rings twice 44.1 kHz's.
            kit.master("", {{"DSPBUFFER", "256"},
                            {"THREADS", "1"},
                            {"FORCEOFFSET", "1000"},
                            {"AHEADLENGTH", "27000"},
                            {"WORKBUFFER", "1024"}});
            auto engine = make();
            CorePrcsPeek p{*engine};
            p.setstep(64, 32);
            p.booted();
            if (!held) normal(*engine);
            int const small = p.ring();
            engine->irate(48000);
            ASSERT_GT(p.ring(), small);
            std::atomic<bool> changing{true};
            auto audio = std::async(std::launch::async, [&] {
                std::vector<float> in(97, 0.5f), left(97), right(97);
                void* ins[2] = {in.data(), in.data()};
                void* outs[2] = {left.data(), right.data()};
                std::mt19937 rng(35); // uneven times: calls always meeting the lock would sleep
                while (changing.load()) {
                    engine->prcss(ins, outs, 97, true, 2, 0.0, false, 2);
                    auto const until = Clock::now() + std::chrono::microseconds(rng() % 40);
                    while (Clock::now() < until) continue;
                }
            });
            for (int i = 0; i < 200; ++i) engine->irate(i % 2 ? 48000 : 44100);
            changing.store(false);
            audio.wait();
            // A change made alone leaves the positions as an instance opened at that rate has.
            engine->irate(44100);
            Host host(*engine, 12097, 33);
            host.run(12000, 34);
            EXPECT_EQ(held ? host.misses(p.compensation()) : host.misses(p.lead(), 4.0), 0);
            if (!held) continue;
            // The bypass path keeps to its ring with stale positions, the write past the read.
            int const ring = p.ring();
            p.staleBypass(ring + ring / 2, ring / 4);
            host.call(97);
            EXPECT_TRUE(p.bypasswrite() < ring && p.bypassread() < ring)
                << p.bypasswrite() << " " << p.bypassread();
        }
    });
    if (done.wait_for(std::chrono::seconds(60)) == std::future_status::timeout) {
        ADD_FAILURE() << "still running after 60 s";
        std::_Exit(1);
    }
}
