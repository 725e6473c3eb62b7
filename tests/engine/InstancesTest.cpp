// ctest-labels: threads
// Several plug-in instances in one process, each on its own thread: its own
// pool, players planned through the process-wide planner lock, vector trees
// whose kernels are registered in the one shared element cache (same names,
// so the buffers are shared), LFO-driven blocks of audio, the shared log, and
// teardown while the others still play. Each instance must sound exactly as
// it does alone, and every shared count must come back to where it started.
#include "engine/CoreCnvl.h"
#include "engine/CorePlel.h"
#include "engine/CoreVctr.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "modulation/DataSrce.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"

#include "tests/support/FileBytes.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Signal = std::vector<double>;

constexpr int kTaps = 256; // kernel length of every element, samples
constexpr int kInstances = 4;
constexpr int kElements = 5; // distinct kernels: two "ROOM", three "HALL"

// What differs between instances: engine, block, length of the run, the
// LFOs, and the order in which an instance takes itself apart.
struct Setup {
    short engine;
    int block;
    int blocks;
    double rate1, rate2; // Hz
    char const* wave1;
    char const* wave2;
    int teardown; // 0, 1 or 2
};

Setup const kSetups[kInstances] = {
    {9, 64, 360, 12.0, 7.0, "Sine", "Triang", 0},
    {10, 128, 270, 17.0, 5.0, "Rise S", "Sine", 1},
    {11, 64, 600, 9.0, 21.0, "Triang", "Fall S", 2},
    {10, 64, 480, 21.0, 3.0, "4 Step", "Rise S", 1},
};

// The kernel an impulse file of that name holds: the same for every instance
// that loads it, as it would be read from the same file.
void fillKernel(std::string const& name, bool right, double* out) {
    unsigned seed = static_cast<unsigned>(std::hash<std::string>{}(name)) + (right ? 1u : 0u);
    Signal noise = randomSignal(kTaps, seed);
    for (int i = 0; i < kTaps; ++i) out[i] = noise[i] * std::exp(-i / 50.0);
}

struct Result {
    Signal left, right;    // the instance's output
    bool planned = false;  // every plan it asked for succeeded
    bool poolBack = false; // its pool ended where it started
    int substituted = 0;   // elements it got from another instance
};

// Rendezvous with the test thread after loading (so the shared cache can be
// inspected with every instance loaded); none when an instance runs alone.
using Sync = std::barrier<>;

// A leaf vector with an element at each position, steered by "LFO2".
CoreVctr* leaf(CorePool& pool, CorePlel& cache, CoreCnvl* player, DataSrce& bus,
               std::vector<double> positions) {
    return new CoreVctr(&pool, &cache, 0, player, true, static_cast<int>(positions.size()), nullptr,
                        positions.data(), nullptr, 0.0, 1.0, positions.data(), 0.0, 1.0, "LFO2",
                        &bus, 0.5, "MIX2", 0, 0, nullptr, nullptr, false, 0, 0, false);
}

// Reads the leaf's kernels into its own buffers and registers them in the
// group, sharing on: a kernel another instance registered replaces them.
void loadLeaf(CorePlel& cache, CoreVctr* v, char const* group, char const* stem) {
    CorePlel::BRACKET bracket(cache, CoreAnsx(group), true);
    for (int i = 0; i < v->getne(); ++i) {
        std::string name = std::string(stem) + "_" + std::to_string(i) + ".WAV";
        void* l = nullptr;
        void* r = nullptr;
        v->newip(&l, &r, kTaps);
        fillKernel(name, false, static_cast<double*>(l));
        fillKernel(name, true, static_cast<double*>(r));
        v->setip(i, static_cast<double*>(l), static_cast<double*>(r), CoreAnsx(name.c_str()), kTaps,
                 48000, 0, kTaps - 1, v, 0);
    }
}

// One instance from open to close, as its engine would do it.
Result runInstance(int k, CorePlel& cache, std::string const& logFolder, Sync* sync) {
    Setup const& s = kSetups[k];
    Result res;
    CoreLog_::setpt(CoreAnsx(logFolder.c_str()));
    CoreLog_::setfn("instances.log");
    CoreLog_::setdb(2, false);
    CoreLog_::debug(CoreAnsx("INSTANCE ") + CoreAnsx(k) + " OPEN", 0, 1);

    auto pool = std::make_unique<CorePool>();
    long const poolStart = pool->getma();
    DataSrce bus;
    DataGfun functions;
    bus.getsc("MIX2")->setvl(0.0); // some smoothing: the liquid state carries over blocks
    auto player = std::make_unique<CoreCnvl>(pool.get(), "H1", 0, nullptr);
    res.planned = player->set__(s.engine, s.block, kTaps, 0, s.block, kTaps) == s.block &&
                  player->getsl() == s.engine && player->plan_();
    auto lfo1 = std::make_unique<CoreLfo_>("LFO1", &functions, &bus, bus.getsc("LFO1"),
                                           bus.getsc("RATELFO1"));
    auto lfo2 = std::make_unique<CoreLfo_>("LFO2", &functions, &bus, bus.getsc("LFO2"),
                                           bus.getsc("RATELFO2"));
    lfo1->setvl(s.rate1, s.rate1, 0.0, "", s.wave1, 30.0 * k, "");
    lfo2->setvl(s.rate2, s.rate2, 0.0, "", s.wave2, 0.0, "");

    CoreVctr* room = leaf(*pool, cache, player.get(), bus, {0.0, 1.0});
    CoreVctr* hall = leaf(*pool, cache, player.get(), bus, {0.0, 0.4, 1.0});
    double rootPositions[2] = {0.0, 1.0};
    CoreVctr* kids[2] = {room, hall};
    auto root =
        std::make_unique<CoreVctr>(pool.get(), &cache, 0, player.get(), false, 2, nullptr,
                                   rootPositions, kids, 0.0, 1.0, rootPositions, 0.0, 1.0, "LFO1",
                                   &bus, 0.5, "MIX2", 0, 0, nullptr, nullptr, false, 0, 0, false);
    root->setvl(true, 0.0, 1.0, "LFO1", false, "", 0.0, "", 1.0, "", false, "", false, 0.0, 1.0);
    for (CoreVctr* v : kids)
        v->setvl(true, 0.0, 1.0, "LFO2", false, "", 0.0, "", 1.0, "", false, "", false, 0.0, 1.0);
    root->chncp(kTaps, -1, -1);
    root->chnip();
    root->chnna("V");
    loadLeaf(cache, room, "ROOM.V2V", "ROOM");
    loadLeaf(cache, hall, "HALL.V2V", "HALL");
    for (CoreVctr* v : kids)
        for (int i = 0; i < v->getne(); ++i) res.substituted += v->getsb(i) ? 1 : 0;
    player->setup(root->getuc());
    CoreLog_::debug(CoreAnsx("INSTANCE ") + CoreAnsx(k) + " LOADED", 0, 1);

    if (sync != nullptr) {
        sync->arrive_and_wait(); // all loaded: the test looks at the cache
        sync->arrive_and_wait(); // and lets everyone play
    }

    int const B = s.block;
    Signal const xl = randomSignal(B * s.blocks, 100 + k);
    Signal const xr = randomSignal(B * s.blocks, 200 + k);
    res.left.assign(xl.size(), 0.0);
    res.right.assign(xr.size(), 0.0);
    Signal powL(B), powR(B), workL(B), workR(B);
    double const dt = B / 48000.0;
    for (int b = 0; b < s.blocks; ++b) {
        if (b == s.blocks / 2) {
            // A second player planned and dropped while the others play.
            CoreCnvl spare(pool.get(), "H2", 0, nullptr);
            spare.set__(static_cast<short>(9 + (k + 1) % 3), B, kTaps, 0, B, kTaps);
            res.planned = spare.plan_() && res.planned;
            CoreLog_::debug(CoreAnsx("INSTANCE ") + CoreAnsx(k) + " REPLANNED", 0, 1);
        }
        lfo1->updte(dt, 120.0);
        lfo2->updte(dt, 120.0);
        root->chnru(true);
        size_t const o = static_cast<size_t>(b) * B;
        player->vltrr(true, &xl[o], &xr[o], &res.left[o], &res.right[o],
                      static_cast<double*>(root->getlc()), static_cast<double*>(root->getrc()),
                      powL.data(), powR.data(), workL.data(), workR.data(), B, nullptr, nullptr);
    }

    // A vector's buffers go back through its player's element functions, so
    // the player outlives the tree; the rest comes apart in varying order.
    switch (s.teardown) {
    case 0:
        lfo1.reset();
        lfo2.reset();
        root.reset();
        player.reset();
        break;
    case 1:
        root.reset();
        player->delpl();
        player.reset();
        lfo2.reset();
        lfo1.reset();
        break;
    default:
        player->delpl();
        lfo2.reset();
        root.reset();
        lfo1.reset();
        player.reset();
        break;
    }
    pool->logst();
    res.poolBack = pool->getma() == poolStart;
    CoreLog_::debug(CoreAnsx("INSTANCE ") + CoreAnsx(k) + " CLOSED", 0, 1);
    return res;
}

// Output energy per sample, both channels.
double relativeEnergy(Result const& r) {
    double e = 0.0;
    for (size_t i = 0; i < r.left.size(); ++i) e += r.left[i] * r.left[i] + r.right[i] * r.right[i];
    return r.left.empty() ? 0.0 : e / static_cast<double>(r.left.size());
}

// "<pid>-<tid> <text>": a line nobody else's write cut into.
bool wholeLine(std::string const& line) {
    size_t dash = line.find('-');
    size_t space = line.find(' ');
    auto digits = [&](size_t from, size_t to) {
        if (to <= from) return false;
        for (size_t i = from; i < to; ++i)
            if (line[i] < '0' || line[i] > '9') return false;
        return true;
    };
    return dash != std::string::npos && space != std::string::npos && space > dash &&
           digits(0, dash) && digits(dash + 1, space);
}

class InstancesTest : public ::testing::Test {
protected:
    void TearDown() override {
        CoreLog_::setpt("");
        CoreLog_::setdb(0, false);
    }
    TempDir logDir{"vorlaninst"};
    CorePool shared;         // the process-wide pool the cache hands its deleters
    CorePlel cache{&shared}; // the one kernel cache every instance registers in
};

TEST_F(InstancesTest, ConcurrentInstancesSoundAsAloneAndGiveEverythingBack) {
    long const sharedStart = shared.getma();
    std::string const folder = logDir.folder();

    std::vector<Result> alone;
    for (int k = 0; k < kInstances; ++k) {
        alone.push_back(runInstance(k, cache, folder, nullptr));
        ASSERT_TRUE(alone[k].planned) << "instance " << k;
        EXPECT_EQ(alone[k].substituted, 0);
        EXPECT_TRUE(alone[k].poolBack);
        EXPECT_GT(relativeEnergy(alone[k]), 0.01); // a sound worth comparing
        EXPECT_EQ(cache.getnr(), 0);
        EXPECT_EQ(shared.getma(), sharedStart);
    }

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        Sync sync(kInstances + 1);
        std::vector<Result> together(kInstances);
        std::vector<std::thread> threads;
        for (int i = 0; i < kInstances; ++i) {
            int const k = round == 0 ? i : kInstances - 1 - i; // vary who starts first
            threads.emplace_back([&, k] { together[k] = runInstance(k, cache, folder, &sync); });
        }
        sync.arrive_and_wait();
        // Every instance loaded the same five kernels: one copy each, the
        // first loader's, with the others' own copies given back.
        int const recordsLoaded = cache.getnr();
        sync.arrive_and_wait();
        for (std::thread& t : threads) t.join();

        EXPECT_EQ(recordsLoaded, kElements);
        int substituted = 0;
        for (int k = 0; k < kInstances; ++k) {
            SCOPED_TRACE(testing::Message() << "instance " << k);
            Result const& r = together[k];
            EXPECT_TRUE(r.planned);
            EXPECT_TRUE(r.poolBack);
            substituted += r.substituted;
            // Bit for bit: nothing another instance does may reach this one.
            EXPECT_TRUE(r.left == alone[k].left);
            EXPECT_TRUE(r.right == alone[k].right);
        }
        EXPECT_EQ(substituted, kElements * (kInstances - 1));
        EXPECT_EQ(cache.getnr(), 0);
        cache.garlk();
        EXPECT_EQ(cache.getng(), 0);
        EXPECT_FALSE(cache.isopn());
        EXPECT_EQ(shared.getma(), sharedStart);
    }

    // The shared log took every instance's lines whole, none lost or split.
    std::string const log = readBytes(logDir.file("instances.log"));
    std::istringstream lines(log);
    std::string line;
    int opened = 0, closed = 0, replanned = 0;
    while (std::getline(lines, line)) {
        EXPECT_TRUE(wholeLine(line)) << line;
        opened += line.find(" OPEN<") != std::string::npos;
        closed += line.find(" CLOSED<") != std::string::npos;
        replanned += line.find(" REPLANNED<") != std::string::npos;
    }
    int const runs = kInstances * 3; // alone, then two rounds together
    EXPECT_EQ(opened, runs);
    EXPECT_EQ(closed, runs);
    EXPECT_EQ(replanned, runs);
}

} // namespace
