// Program documents read and their kernels built from generated WAV impulses:
// the kernels against kernels computed here from the generating signal (cut,
// fade-in and normalisation applied independently), the slot dimension rules,
// the sync modes, the rate decision, SYNCVERSION 2, the hybrid and smoothing
// slots and later limit changes, refusals that leave the pool as it was, and
// kernels shared through one cache by programs built alike (only those).
#include "program/CoreProg.h"

#include "engine/CorePlel.h"
#include "engine/CoreVctr.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreIfce.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "tests/engine/CoreVctrPeek.h"
#include "tests/program/ProgProbe.h"
#include "tests/support/CommaLocale.h"
#include "tests/support/DataKit.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using Signal = std::vector<double>;

// The signal as the float WAV holds it.
Signal stored(Signal x) {
    for (double& v : x) v = static_cast<double>(static_cast<float>(v));
    return x;
}

int samplesAt44k(long us) { return static_cast<int>(44100.0 * us / 1e6); }

// The kernel a file should give: cut at sync - offset (or shifted late by
// offset - sync), one sample short of the element, faded in over fadein
// samples with a linear ramp, scaled to a peak of 1 by the file's peak.
Signal expected(Signal const& x, long sync, int offset, int maximum, int fadein, double peak) {
    long const start = std::max(sync - offset, 0L);
    long const dest = std::max(offset - sync, 0L);
    long const count = std::min(long(x.size()) - start, maximum - dest - 1);
    Signal e(maximum, 0.0);
    for (long j = 0; j < count; ++j) e[dest + j] = x[start + j];
    for (int k = 0; k < fadein; ++k) e[k] *= fadein > 1 ? double(k) / (fadein - 1) : 0.0;
    for (double& v : e) v /= peak;
    return e;
}

double peakOf(Signal const& a, Signal const& b) {
    double top = 0.0;
    for (double v : a) top = std::max(top, std::fabs(v));
    for (double v : b) top = std::max(top, std::fabs(v));
    return top;
}

CoreVctr* leafOf(ProgProbe& p, int slot, int v = 0) {
    return static_cast<CoreVctr*>(p.slot(slot).leaves[unsigned(v)]);
}

// Element e of the slot's leaf v, one side, over the slot's element length.
Signal kernel(ProgProbe& p, int slot, int e, bool right = false, int v = 0) {
    void *l = nullptr, *r = nullptr;
    leafOf(p, slot, v)->getip(e, &l, &r);
    auto const* d = static_cast<double const*>(right ? r : l);
    return d ? Signal(d, d + p.slot(slot).elementlength) : Signal();
}

void expectNear(Signal const& got, Signal const& want, char const* what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t k = 0; k < want.size(); ++k)
        ASSERT_NEAR(got[k], want[k], 1e-12) << what << " at " << k;
}

// A root vector over one leaf of files whose kernels are normalised (GAINLIMITER 1).
KitVector normalised(std::vector<std::string> files, KitValues common = {}) {
    KitVector leaf(std::move(files));
    leaf.common = std::move(common);
    leaf.control = {{"GAINLIMITER", "1"}};
    KitVector root;
    root.children.push_back(leaf);
    return root;
}

class CoreProgKernTest : public ::testing::Test {
protected:
    std::unique_ptr<ProgProbe> make(CorePool* on, CorePlel* shared = nullptr) {
        auto p = std::make_unique<ProgProbe>(on, 2, shared);
        p->setfs(&store);
        p->attachPlayers();
        return p;
    }
    static bool load(ProgProbe& p, KitProgram const& program) {
        KitNode doc(DataKit::programXml(program));
        return p.load_(doc.root, false);
    }
    LogCapture log;
    DataKit kit;
    CorePool storePool; // the store keeps what it reads: not counted with the programs' pools
    CoreFsys store{&storePool, CoreAnsx(kit.data().c_str()), false};
    CorePool pool;
};

TEST_F(CoreProgKernTest, LoadedKernelsEqualKernelsCutFromTheGeneratingSignal) {
    Signal const al = DataKit::impulse(300, 40, 0.9), ar = DataKit::ramp(300, -0.3, 0.2);
    Signal const bl = DataKit::impulse(250, 10, 0.6), br = DataKit::impulse(250, 12, -0.95);
    kit.wav("ALPHA.WAV", {al, ar});
    kit.wav("BRAVO.WAV", {bl, br});
    struct Row {
        bool mono;
        long offset, fadein, length; // us; 0: absent
    } const rows[] = {{false, 454, 200, 3000}, {true, 0, 0, 0}, {false, 2000, 90, 0}};
    for (Row const& row : rows) {
        KitValues common;
        if (row.offset) common.push_back({"OFFSET", std::to_string(row.offset)});
        if (row.fadein) common.push_back({"FADEIN", std::to_string(row.fadein)});
        if (row.length) common.push_back({"LENGTH", std::to_string(row.length)});
        KitProgram program("Diff", "", {{"FORCEMONO", row.mono ? "1" : "0"}});
        program.slots.push_back(normalised({"ALPHA.WAV", "BRAVO.WAV"}, common));
        auto p = make(&pool);
        ASSERT_TRUE(load(*p, program)) << log.text();
        ProgProbe::HLOC& h = p->slot(0);
        int const offset = std::max(1, samplesAt44k(row.offset));
        int const fadein = std::max(1, samplesAt44k(row.fadein));
        EXPECT_EQ(h.offset, offset);
        EXPECT_EQ(h.fadeinlength, fadein);
        EXPECT_EQ(h.usable, 260); // the longest (frames - sync): 300 - 40
        EXPECT_EQ(h.elementlength, h.maximum);
        EXPECT_EQ(p->getsm(), 2);
        EXPECT_NE(p->getli(0), nullptr);
        EXPECT_EQ(p->getli(0), h.root->getlc());
        Signal const x[2][2] = {{stored(al), stored(ar)}, {stored(bl), stored(br)}};
        long const sync[2] = {40, 10};
        for (int e = 0; e < 2; ++e) {
            double const peak = peakOf(x[e][0], x[e][1]);
            EXPECT_DOUBLE_EQ(CoreVctrPeek::peak(*leafOf(*p, 0), e), peak);
            expectNear(kernel(*p, 0, e),
                       expected(x[e][0], sync[e], offset, h.maximum, fadein, peak), "left");
            expectNear(kernel(*p, 0, e, true),
                       expected(x[e][row.mono ? 0 : 1], sync[e], offset, h.maximum, fadein, peak),
                       "right");
            long a = 0, b = 0;
            ASSERT_TRUE(leafOf(*p, 0)->getrz(e, a, b));
            EXPECT_EQ(a, std::max(sync[e] - offset, 0L));
        }
    }
}

TEST_F(CoreProgKernTest, SlotDimensionsFollowTheRules) {
    ProgProbe p(&pool);
    ProgProbe::HLOC& h = p.slot(0);
    // usable fade-in offset fade-outs ceilings minimum-block | limits ->
    // normal extended block padded maximum normal-bound extended-bound
    struct Row {
        int usable, fadein, offset, nfo, xfo, nceil, xceil, minblock;
        long nl, xl;
        int normal, extended, block, padded, maximum, nbound, xbound;
    } const rows[] = {
        {1000, 8, 20, 10, 100, 441, 44100, 0, 441, 1000, 444, 1000, 256, 2048, 2048, 444, 1000},
        {10, 1, 1, 1, 1, 441, 441, 64, 441, 441, 12, 12, 64, 128, 128, 12, 12},
        {500, 4, 4, 2, 50, 441, 44100, 0, 0, 300, 8, 300, 128, 512, 512, 441, 500},
        {100000, 1, 1, 1, 1, 441, 441000, 0, 441, 100000, 444, 100000, 8192, 131072, 131072, 444,
         100000},
    };
    for (Row const& r : rows) {
        h.usable = r.usable;
        h.fadeinlength = r.fadein;
        h.offset = r.offset;
        h.normalfadeout = r.nfo;
        h.extendedfadeout = r.xfo;
        h.normalceiling = r.nceil;
        h.extendedceiling = r.xceil;
        p.minBlock() = r.minblock;
        h.normallimit = h.extendedlimit = -7;
        EXPECT_TRUE(p.setnp(0, r.nl, r.xl));
        EXPECT_FALSE(p.setnp(0, r.nl, r.xl)); // the same limits again
        int const got[] = {h.normallength, h.extendedlength, h.block,        h.padded,
                           h.maximum,      h.normalbound,    h.extendedbound};
        int const want[] = {r.normal, r.extended, r.block, r.padded, r.maximum, r.nbound, r.xbound};
        for (int k = 0; k < 7; ++k) EXPECT_EQ(got[k], want[k]) << "row " << &r - rows << " " << k;
        EXPECT_EQ(h.normallength % 4, 0);
        EXPECT_GE(h.padded, h.extendedlength + h.block - 1);
    }
}

TEST_F(CoreProgKernTest, SyncModes) {
    Signal const rise{0, 0.1, 0.3, 0.6, 1.0, 0.2, 0, 0};
    Signal const early{0, 0.2, 0.9, 0.1, 0, 0, 0, 0}, late{0, 0, 0, 0, 0, 0.8, 0.1, 0};
    Signal const falling{-0.1, -0.5, -0.2, 0, 0, 0, 0, 0}, silent(8, 0.0);
    Signal const flipped{0, 0.3, 0, -0.9, 0, 0, 0, 0};
    Signal const small{0, 0, 0.5, 0, 0, 0, 0, 0};
    struct Row {
        Signal const *left, *right;
        double balance;
        bool hrtf, train;
        double threshold;
        bool jitter;
        int index;
        long first;
        bool positive;
        long want;
    } const rows[] = {
        {&early, &late, 0.0, false, false, 0, false, 0, 0, true, 2},       // largest mix
        {&early, &late, 1.0, false, false, 0, false, 0, 0, true, 5},       // balance on the right
        {&flipped, &flipped, 0.0, false, false, 0, false, 0, 0, false, 3}, // negative polarity
        {&falling, &falling, 0.0, false, false, 0, false, 0, 0, true, 1},  // magnitudes, file 0
        {&falling, &falling, 0.0, false, false, 0, false, 2, 7, true, 7},  // first sync, others
        {&small, &late, 0.0, true, false, 0, false, 0, 0, true, 5},        // HRTF: right above left
        {&early, &late, 0.0, true, false, 0, false, 0, 0, true, 2},        // HRTF: left above right
        {&silent, &silent, 0.0, true, false, 0, false, 0, 0, true, -1},    // HRTF: nothing
        {&rise, &rise, 0.0, false, true, 0.5, false, 1, 6, true, 6},       // train: first sync
        {&rise, &rise, 0.0, false, true, 0.5, false, 0, 0, true, 3},       // train threshold
        {&early, &late, 0.5, false, false, 0, true, 0, 0, true, 3},        // jitter: (2 + 5) / 2
        {&falling, &falling, 0.0, false, true, 0.5, false, 0, 0, true, 1}, // train: magnitudes
        {&rise, &rise, 0.0, false, true, 1.5, false, 0, 0, true, 0},       // train: none above
        {&silent, &silent, 0.0, false, true, 0.5, false, 0, 0, true, 0},   // train: silence
    };
    for (Row const& r : rows)
        EXPECT_EQ(CoreProg::synch(&pool, r.left->data(), r.right->data(), 8, r.balance, r.hrtf,
                                  r.train, r.threshold, r.jitter, r.index, r.first, r.positive),
                  r.want)
            << "row " << &r - rows;
}

TEST_F(CoreProgKernTest, MarkerSlotsKeepTheFileRateInEverySlot) {
    kit.wav("MARKA.WAV", {DataKit::impulse(8, 2, 0.5)}, 48000);
    kit.wav("MARKB.WAV", {DataKit::impulse(8, 2, 0.5)}, 48000);
    kit.wav("LONGR.WAV", {DataKit::impulse(100, 2, 0.5)}, 48000);
    KitProgram program("Marker");
    program.slots = {KitVector({"MARKA.WAV"}), KitVector({"MARKB.WAV"})};
    auto p = make(&pool);
    p->setrc(1000000); // 1 s: every file here is shorter
    ASSERT_TRUE(load(*p, program)) << log.text();
    // Neither comes with a converter's lead and tail: nothing was converted.
    for (short s : {0, 1}) {
        EXPECT_TRUE(p->ismkr(s));
        EXPECT_EQ(p->slot(s).longestfile, 8);
    }
    EXPECT_EQ(p->getfr(), 48000);
    EXPECT_EQ(p->getcr(), 48000);

    // A kernel of 16 frames or more in that slot is converted, with them.
    program.slots[1] = KitVector({"LONGR.WAV"});
    auto c = make(&pool);
    c->setrc(1000000);
    ASSERT_TRUE(load(*c, program)) << log.text();
    EXPECT_GT(c->slot(1).longestfile, 100);
    EXPECT_EQ(c->getcr(), 44100);

    // With the default ceiling of 0 nothing is converted.
    auto q = make(&pool);
    ASSERT_TRUE(load(*q, program));
    EXPECT_EQ(q->slot(1).longestfile, 100);
    EXPECT_EQ(q->getcr(), 48000);
}

TEST_F(CoreProgKernTest, SyncVersionTwoAlignsOnSlotZerosFirstImpulse) {
    kit.wav("FIRST.WAV", {DataKit::impulse(200, 30, 0.7)});
    kit.wav("SECOND.WAV", {DataKit::impulse(200, 50, 0.7)});
    kit.wav("TINY.WAV", {DataKit::impulse(20, 5, 0.7)}); // slot 0's point lies past it
    for (std::string version : {"0", "2"}) {
        KitProgram program("Sync", "", {{"SYNCVERSION", version}});
        program.slots = {KitVector({"FIRST.WAV"}), KitVector({"SECOND.WAV", "TINY.WAV"})};
        auto p = make(&pool);
        ASSERT_TRUE(load(*p, program)) << log.text();
        long a = 0, b = 0;
        leafOf(*p, 1)->getrz(0, a, b);
        EXPECT_EQ(a, version == "2" ? 29 : 49); // offset 1
        leafOf(*p, 1)->getrz(1, a, b);
        EXPECT_EQ(a, 4);
    }
}

TEST_F(CoreProgKernTest, SilentFileGetsPeakOne) {
    kit.wav("QUIET.WAV", {Signal(64, 0.0)});
    kit.wav("LOUD.WAV", {DataKit::impulse(64, 3, 0.25)});
    KitProgram program("Silent");
    program.slots.push_back(normalised({"QUIET.WAV", "LOUD.WAV"}));
    auto p = make(&pool);
    ASSERT_TRUE(load(*p, program)) << log.text();
    EXPECT_EQ(CoreVctrPeek::peak(*leafOf(*p, 0), 0), 1.0);
    EXPECT_DOUBLE_EQ(CoreVctrPeek::peak(*leafOf(*p, 0), 1), 0.25);
}

TEST_F(CoreProgKernTest, HybridSlotMirrorsSlotZeroBehindItsHead) {
    kit.wav("HYBR.WAV", {DataKit::impulse(300, 0, 0.8), DataKit::ramp(300, 0.5, -0.5)});
    KitProgram program("Hybrid", "", {{"FORCEHYBRID", "1"}});
    program.slots.push_back(KitVector({"HYBR.WAV"}));
    program.slots[0].common = {{"LENGTH", "907"}}; // 40 samples
    auto p = make(&pool);
    ASSERT_TRUE(load(*p, program)) << log.text();
    int const hybrid = p->cap();
    auto mirrors = [&](int head) {
        for (bool right : {false, true}) {
            Signal const zero = kernel(*p, 0, 0, right), tail = kernel(*p, hybrid, 0, right);
            ASSERT_EQ(tail.size(), zero.size());
            for (std::size_t k = 0; k < zero.size(); ++k)
                ASSERT_EQ(tail[k], long(k) < head ? 0.0 : zero[k]) << k;
        }
    };
    ASSERT_TRUE(p->slot(hybrid).inuse);
    EXPECT_EQ(p->getid(0), 40);
    mirrors(40);

    void* const before = p->getli(0);
    EXPECT_FALSE(p->setod(0, 0, p->slot(0).normallimit)); // nothing changed: nothing rebuilt
    EXPECT_EQ(p->getli(0), before);

    int const old = p->slot(0).elementlength;
    Signal const kept = kernel(*p, 0, 0);
    EXPECT_TRUE(p->setod(0, 0, 290));
    EXPECT_EQ(p->getid(0), 292);
    EXPECT_GT(p->slot(0).elementlength, old); // regrown: the outputs outgrew the elements
    Signal const grown = kernel(*p, 0, 0);
    for (std::size_t k = 0; k < grown.size(); ++k)
        ASSERT_EQ(grown[k], long(k) < old ? kept[k] : 0.0) << k;
    mirrors(292);
    p->updte(true, 64, 0.0, 120.0); // mixes the grown kernels over their new lengths

    // Without hybrid mode, SMOOTH gives slot 0 its second output pair.
    KitProgram smooth("Smooth", "", {{"SMOOTH", "1"}});
    smooth.slots.push_back(KitVector({"HYBR.WAV"}));
    ASSERT_TRUE(load(*p, smooth));
    EXPECT_NE(p->getls(), nullptr);
    EXPECT_FALSE(p->slot(hybrid).inuse);
}

TEST_F(CoreProgKernTest, FailuresReturnFalseLogAndLeaveThePoolAsItWas) {
    kit.wav("GOOD.WAV", {DataKit::impulse(64, 3, 0.5)});
    kit.wav("LATE.WAV", {DataKit::impulse(300, 200, 0.5)});
    kit.wav("SHORT.WAV", {DataKit::impulse(50, 3, 0.5)});
    kit.csv("VALUES.CSV", {0.1, 0.2});
    auto good = [] {
        KitProgram g("Good");
        g.slots.push_back(KitVector({"GOOD.WAV"}));
        return g;
    };
    auto p = make(&pool);
    p->setnf("KERN.XML");
    long const baseline = pool.getma();
    struct Row {
        std::string document;
        char const* logged;
    };
    KitProgram missing = good(), gap = good(), late("Late", "", {{"TRAINMODE", "1"}}), both;
    missing.slots[0] = KitVector({"ABSENT.WAV"});
    late.slots.push_back(KitVector({"LATE.WAV", "SHORT.WAV"}));
    both = missing;
    both.raws.push_back(KitVector({"VALUES.CSV"}));
    std::string const h2only = "<PROGRAM><NAME>Gap</NAME><H2><ELEMENT><FILENAME>GOOD.WAV"
                               "</FILENAME></ELEMENT></H2></PROGRAM>";
    std::string const bare = "<PROGRAM><NAME>Bare</NAME><H1><ELEMENT><FILENAME>GOOD.WAV"
                             "</FILENAME></ELEMENT></H1></PROGRAM>";
    // A VECTOR of one impulse file and one vector of its own.
    std::string const mixed = "<PROGRAM><NAME>Mix</NAME><H1><ELEMENT><VECTOR><ELEMENT><FILENAME>"
                              "GOOD.WAV</FILENAME></ELEMENT><ELEMENT><VECTOR><ELEMENT><FILENAME>"
                              "GOOD.WAV</FILENAME></ELEMENT></VECTOR></ELEMENT></VECTOR></ELEMENT>"
                              "</H1></PROGRAM>";
    auto timed = [](char const* tag, char const* us) {
        return std::string("<PROGRAM><NAME>Long</NAME><H1><ELEMENT><VECTOR><COMMON><") + tag + ">" +
               us + "</" + tag +
               "></COMMON><ELEMENT><FILENAME>GOOD.WAV</FILENAME>"
               "</ELEMENT></VECTOR></ELEMENT></H1></PROGRAM>";
    };
    Row const rows[] = {
        {DataKit::programXml(missing), "Error in file"},
        {timed("OFFSET", "60000001"), "over 60 s"},
        {timed("FADEOUT", "44444444444440000"), "over 60 s"},
        // Refused by the section readers: the load's reason names the file and the section.
        {"<OTHER><NAME>x</NAME></OTHER>", "PROGRAM: missing"},
        {"<PROGRAM><NAME>NoH1</NAME></PROGRAM>", "H1: missing"},
        {h2only, "H1: missing"},
        {bare, "H1: ELEMENT holds no VECTOR"},
        {mixed, "H1: VECTOR mixes impulse files and vectors"},
        {DataKit::programXml(late), "past the end"},
        {DataKit::programXml(both), "starting raw reader"}, // after the start line below
    };
    for (Row const& r : rows) {
        std::size_t const from = log.text().size();
        KitNode doc(r.document);
        CoreLog_::setdb(5, false); // the raw reader's opening line
        CoreAnsx why("");          // the load's reason: its first level-0 line
        CoreAnsx* const outer = CoreLog_::rsnsk(&why);
        EXPECT_FALSE(p->load_(doc.root, false)) << r.logged;
        CoreLog_::rsnsk(outer);
        CoreLog_::setdb(3, false);
        std::string const lines = log.text().substr(from);
        EXPECT_NE(lines.find(r.logged), std::string::npos) << lines;
        if (r.logged[0] == 'H' || r.logged[0] == 'P') { // a level-0 line, the file first
            EXPECT_EQ(std::string(why.c_str()), std::string("KERN.XML: ") + r.logged);
        }
        if (&r == &rows[8]) { // the user is told which program could not be cut, and why
            EXPECT_NE(std::string(why.c_str()).find("SHORT.WAV\": sync point 200 past the end 50"),
                      std::string::npos)
                << why.c_str();
        }
        if (&r == &rows[9]) {
            EXPECT_LT(lines.find("start Good"), lines.find(r.logged)) << lines;
        }
        EXPECT_EQ(pool.getma(), baseline) << r.logged;
        EXPECT_EQ(p->getli(0), nullptr);
        EXPECT_EQ(p->gethc(true), 0);
        EXPECT_FALSE(p->kernelCache()->isopn());
    }
    EXPECT_TRUE(load(*p, good())); // the cache is free again
}

TEST_F(CoreProgKernTest, ProgramsBuiltAlikeShareKernelsAndOnlyThose) {
    kit.wav("SHARE1.WAV", {DataKit::impulse(200, 20, 0.9), DataKit::impulse(200, 25, 0.4)});
    kit.wav("SHARE2.WAV", {DataKit::impulse(150, 5, 0.3), DataKit::impulse(150, 5, -0.6)});
    CorePool cachePool;
    CorePlel cache(&cachePool);
    auto program = [](KitValues globals, KitValues common) {
        KitProgram g("Shared", "", std::move(globals));
        g.slots.push_back(normalised({"SHARE1.WAV", "SHARE2.WAV"}, std::move(common)));
        return g;
    };
    KitProgram const base = program({}, {{"FADEIN", "100"}, {"OFFSET", "300"}});
    auto a = make(&pool, &cache);
    ASSERT_TRUE(load(*a, base));
    Signal const akernel = kernel(*a, 0, 1, true);
    CommaLocale const comma = commaLocale(); // the host's locale changed meanwhile
    auto b = make(&pool, &cache);
    ASSERT_TRUE(load(*b, base)) << comma.why;
    for (int e = 0; e < 2; ++e) {
        void *al = nullptr, *bl = nullptr;
        leafOf(*a, 0)->getip(e, &al, nullptr);
        leafOf(*b, 0)->getip(e, &bl, nullptr);
        EXPECT_EQ(al, bl);
        EXPECT_TRUE(leafOf(*b, 0)->getsb(e));
    }
    EXPECT_EQ(CoreVctrPeek::makeup(*leafOf(*a, 0)), CoreVctrPeek::makeup(*leafOf(*b, 0)));

    KitProgram const changed[] = {
        program({{"GAINIR", "6"}}, {{"FADEIN", "100"}, {"OFFSET", "300"}}),
        program({}, {{"FADEIN", "20"}, {"OFFSET", "300"}}),
        program({{"FORCEMONO", "1"}}, {{"FADEIN", "100"}, {"OFFSET", "300"}})};
    for (KitProgram const& c : changed) {
        auto d = make(&pool, &cache);
        auto solo = make(&pool);
        ASSERT_TRUE(load(*d, c));
        ASSERT_TRUE(load(*solo, c));
        for (int e = 0; e < 2; ++e) {
            EXPECT_FALSE(leafOf(*d, 0)->getsb(e)) << &c - changed;
            for (bool right : {false, true})
                EXPECT_EQ(kernel(*d, 0, e, right), kernel(*solo, 0, e, right)) << &c - changed;
        }
        EXPECT_EQ(CoreVctrPeek::makeup(*leafOf(*d, 0)), CoreVctrPeek::makeup(*leafOf(*solo, 0)));
    }
    EXPECT_EQ(kernel(*a, 0, 1, true), akernel);
}

TEST_F(CoreProgKernTest, AllocationFailuresWhileSharingLeaveTheOtherProgramIntact) {
    kit.wav("SWEEP1.WAV", {DataKit::impulse(400, 30, 0.9), DataKit::impulse(400, 31, 0.5)});
    kit.wav("SWEEP2.WAV", {DataKit::impulse(300, 12, 0.4)});
    KitProgram program("Sweep", "", {{"FORCEHYBRID", "1"}});
    program.slots.push_back(normalised({"SWEEP1.WAV", "SWEEP2.WAV"}, {{"FADEIN", "100"}}));
    program.slots.push_back(KitVector({"SWEEP2.WAV"}));
    CorePool cachePool, otherPool;
    CorePlel cache(&cachePool);
    auto a = make(&pool, &cache);
    ASSERT_TRUE(load(*a, program));
    Signal const kept[] = {kernel(*a, 0, 0), kernel(*a, 0, 1, true), kernel(*a, 1, 0)};
    int const saved = CorePool::iVretrypause;
    CorePool::iVretrypause = 0;
    // Every pool the second program allocates from, capped a little further each round.
    for (CorePool* capped : {&otherPool, &cachePool}) {
        auto b = make(&otherPool, &cache);
        long const own = otherPool.getma(), shared = cachePool.getma();
        bool done = false;
        for (long room = 0; !done && room < 4000000; room += 1500) {
            capped->setal(capped->getma() + room);
            done = load(*b, program);
            capped->setal(LONG_MAX);
            if (!done) {
                ASSERT_EQ(otherPool.getma(), own) << room;
                ASSERT_EQ(cachePool.getma(), shared) << room;
            }
        }
        EXPECT_TRUE(done);
    }
    CorePool::iVretrypause = saved;
    EXPECT_EQ(kernel(*a, 0, 0), kept[0]);
    EXPECT_EQ(kernel(*a, 0, 1, true), kept[1]);
    EXPECT_EQ(kernel(*a, 1, 0), kept[2]);
}

TEST_F(CoreProgKernTest, GlobalTableReadsAbsentAndZeroAlike) {
    kit.wav("GLOB.WAV", {DataKit::impulse(64, 3, 0.5)});
    auto p = make(&pool);
    auto with = [](KitValues values, std::string sections = "") {
        KitProgram g("Globals", "", std::move(values));
        g.sections = std::move(sections);
        for (int h = 0; h < 3; ++h) g.slots.push_back(KitVector({"GLOB.WAV"})); // one too many
        return g;
    };
    ASSERT_TRUE(load(*p, with({{"MIX1", "0.25"},
                               {"MIX2", "0"},
                               {"GAININ", "6"},
                               {"FEEDBACKFACTOR", "50"},
                               {"GAINPADIN", "-6"}},
                              kitEl("EVF1", kitEl("MINATTACK", "1000")))))
        << log.text();
    EXPECT_EQ(p->getif(0)->getiv(true), 0.25);
    EXPECT_EQ(p->getif(1)->getiv(true), -1.0);
    EXPECT_FALSE(p->getif(1)->isval(true));
    double const gainin = 0.5 * std::pow(10.0, 6.0 / 20.0);
    EXPECT_DOUBLE_EQ(p->getif(8)->getiv(false), gainin);
    EXPECT_DOUBLE_EQ(p->getff(), 0.5);
    EXPECT_DOUBLE_EQ(p->getpi(), std::pow(10.0, -6.0 / 20.0));
    EXPECT_EQ(p->getpo(), 1.0);
    EXPECT_EQ(p->getdr(), 0.0);
    EXPECT_EQ(p->getar(), CoreAnsx("ON"));
    EXPECT_EQ(p->gethc(true), 2);                          // the capacity
    EXPECT_EQ(p->getef(4)->getma(), p->getef(0)->getma()); // EVF5 from EVF1's section
    EXPECT_GT(p->getef(4)->getma(), 0);

    // GAININ "0" is absent: the control keeps its value; MIX1 absent is invalid.
    ASSERT_TRUE(load(*p, with({{"GAININ", "0"}, {"HDIM", "1e9"}})));
    EXPECT_DOUBLE_EQ(p->getif(8)->getiv(false), gainin);
    EXPECT_FALSE(p->getif(0)->isval(true));
    EXPECT_EQ(p->getsh(), SHRT_MAX); // saturated
}

} // namespace

TEST_F(CoreProgKernTest, SmoothingPairStaysValidWhenALimitChangeRunsOutOfMemory) {
    kit.wav("SMTH.WAV", {DataKit::impulse(3000, 5, 0.8)});
    KitProgram program("Smooth", "", {{"SMOOTH", "1"}});
    program.slots.push_back(KitVector({"SMTH.WAV"}));
    auto p = make(&pool);
    ASSERT_TRUE(load(*p, program));
    int const saved = CorePool::iVretrypause;
    CorePool::iVretrypause = 0;
    bool done = false;
    // From a short kernel to a long one, the room growing until it fits:
    // every step of the rebuild fails once somewhere on the way.
    for (long room = 0; !done && room < 400000; room += 512) {
        p->setod(0, 0, 40);
        pool.setal(pool.getma() + room);
        try {
            done = p->setod(0, 0, 2500);
        } catch (CoreAnsx const&) {
        }
        pool.setal(LONG_MAX);
        ASSERT_EQ(p->getls(), p->slot(0).root->getls()) << room;
        ASSERT_EQ(p->getrs(), p->slot(0).root->getrs()) << room;
        ASSERT_EQ(p->getli(0), p->slot(0).root->getlc()) << room;
        ASSERT_GE(p->slot(0).root->getal(), p->slot(0).padded) << room;
        p->updte(true, 64, 0.0, 120.0);
    }
    CorePool::iVretrypause = saved;
    EXPECT_TRUE(done);
}
