// The partitioned players' kernel spectra mixed from element spectra against
// the same player transforming every partition: a root vector over a leaf
// of two elements moved every block, with and without Liquid and output
// fades, on engines 10 and 11. Test thread only.
#include "engine/CoreSpmx.h"

#include "engine/CoreCnvl.h"
#include "engine/CoreCnvlIntl.h"
#include "engine/CorePlel.h"
#include "engine/CoreVctr.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CorePool.h"

#include "tests/support/Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kBlock = 64;
constexpr int kLength = 1000; // kernel samples: 16 partitions, the last one short

struct Case {
    short engine;
    double liquid; // Liquid control on the bus; -1 keeps nothing of the last mix
    bool fades;
    int count; // elements of the leaf: with three and Liquid, a mix holds more than two
};

// A root over one leaf of count random elements of kLength samples, the
// leaf moved by MIX1 and both smoothed by MIX2, with a fade-in of 30 and a
// tail fade of 100 samples when fades is set.
struct Tree {
    Tree(CorePool& pool, DataSrce& sources, CoreCnvl& elements, int count, bool fades)
        : cache(&pool), leaf{new CoreVctr(&pool, &cache, 0, &elements, true, short(count), nullptr,
                                          spread(positions, count), nullptr, 0.0, 1.0, nullptr, 0.0,
                                          1.0, "MIX1", &sources, 0.5, "MIX2", 0, 0, nullptr,
                                          nullptr, false, 0, 0, false)},
          root(&pool, &cache, 0, &elements, false, 1, nullptr, one, leaf, 0.0, 1.0, nullptr, 0.0,
               1.0, "", &sources, 0.5, "MIX2", 0, 0, nullptr, nullptr, false, 0, 0, false) {
        leaf[0]->setvl(true, 0.0, 1.0, "MIX1", false, "MIX8", 0.0, "MIX3", 1.0, "MIX4", false,
                       "MIX5", false, 0.0, 1.0);
        root.chncp(kLength, -1, -1);
        {
            CorePlel::BRACKET bracket(cache, "SPMX", true);
            int owner = 0;
            for (int i = 0; i < count; ++i) {
                void *l = nullptr, *r = nullptr;
                leaf[0]->newip(&l, &r, kLength);
                std::vector<double> const a = randomSignal(kLength, 10 + i);
                std::vector<double> const b = randomSignal(kLength, 20 + i);
                std::copy(a.begin(), a.end(), static_cast<double*>(l));
                std::copy(b.begin(), b.end(), static_cast<double*>(r));
                leaf[0]->setip(i, static_cast<double*>(l), static_cast<double*>(r),
                               CoreAnsx("E") + CoreAnsx(i), kLength, 48000, 0, 0, &owner, 0);
            }
        }
        root.chnip();
        if (fades) {
            root.newfi(30);
            root.setcr(root.newfe(100), 100, kLength, 30);
        }
    }
    static double* spread(double* p, int count) {
        if (count == 3) p[1] = 0.5;
        return p;
    }
    // One block: the update and the fold of the fades.
    void block() {
        root.chnru(true);
        root.setfd(false, 0, 0);
    }

    double positions[3] = {0.0, 1.0, 1.0};
    double one[1] = {0.0};
    CorePlel cache;
    CoreVctr* leaf[1];
    CoreVctr root;
};

TEST(CoreSpmx, MixedSpectraPlayAsTheTransformedKernel) {
    for (Case const& c :
         {Case{10, -1.0, false, 2}, Case{10, 0.4, true, 2}, Case{11, -1.0, true, 2},
          Case{11, 0.9, false, 2}, Case{10, 0.6, false, 3}, Case{11, 0.8, true, 3}}) {
        SCOPED_TRACE(c.engine * 100 + (c.fades ? 10 : 0) + c.count);
        CorePool pool;
        DataSrce sources;
        CoreCnvl elements(&pool, "H0", 0, nullptr);
        sources.getsc("MIX2")->setvl(c.liquid);
        Tree tree(pool, sources, elements, c.count, c.fades);
        CoreVctr& root = tree.root;

        bool flags[2] = {false, false};
        CoreCnvl players[2] = {CoreCnvl(&pool, "H1", 0, nullptr),
                               CoreCnvl(&pool, "H2", 0, nullptr)};
        for (int k = 0; k < 2; ++k) {
            ASSERT_EQ(players[k].set__(c.engine, kBlock, kLength, 0, kBlock, kLength), kBlock);
            players[k].setup(&flags[k]);
            ASSERT_TRUE(players[k].plan_());
        }
        players[0].setvr(&root);
        std::vector<double> const in = randomSignal(kBlock * 200, 7);
        double out[2][2][kBlock];
        double peak = 0.0;
        bool mixed = false;
        // Blocks from..from+n-1 through both players, the vector moved on
        // each when move is set; the kernel is the vector's output unless
        // other names one. The largest difference between the players.
        auto play = [&](int from, int n, bool move, std::vector<double> const* other) {
            double worst = 0.0;
            for (int b = from; b < from + n; ++b) {
                if (move) {
                    sources.getsc("MIX1")->setvl(std::sin(0.07 * b));
                    tree.block();
                    flags[0] = flags[1] = flags[0] || flags[1] || *root.getuc();
                    *root.getuc() = false;
                }
                auto* kl = other ? other[0].data() : static_cast<double const*>(root.getlc());
                auto* kr = other ? other[1].data() : static_cast<double const*>(root.getrc());
                for (int k = 0; k < 2; ++k) {
                    // The bound player has its vector write only what it
                    // reads; the other one reads the whole kernel, written
                    // out first.
                    if (k == 1 && !other) root.chnwr();
                    players[k].cnvlc(&in[b * kBlock], &in[b * kBlock], out[k][0], out[k][1], kl, kr,
                                     nullptr, nullptr);
                }
                CoreSpmx const* mix = CoreCnvlIntl::getsm(players[0]);
                mixed = mixed || (mix != nullptr && mix->pairs());
                for (int ch = 0; ch < 2; ++ch)
                    for (int j = 0; j < kBlock; ++j) {
                        worst = std::max(worst, std::fabs(out[0][ch][j] - out[1][ch][j]));
                        peak = std::max(peak, std::fabs(out[1][ch][j]));
                    }
            }
            return worst;
        };
        double worst = play(0, 200, true, nullptr);
        // Two elements take the unwritten pair path; three under Liquid
        // write their weighted sums of spectra instead.
        if (c.count == 2) {
            EXPECT_TRUE(mixed);
        }
        EXPECT_GT(peak, 1.0);
        EXPECT_LE(worst, 1e-12 * peak);

        // Another kernel on the same players (no sum of the vector): every
        // partition of it plays, none left to the last mix's two terms.
        root.chnwr();
        std::vector<double> other[2];
        for (int ch = 0; ch < 2; ++ch) {
            auto* k = static_cast<double const*>(ch == 0 ? root.getlc() : root.getrc());
            for (int j = 0; j < kLength; ++j) other[ch].push_back(-0.5 * k[j]);
        }
        flags[0] = flags[1] = true;
        EXPECT_LE(play(0, 20, false, other), 1e-12 * peak);

        // The vector's own kernel again, then the player bound anew to the
        // same vector (as every slot is after another slot's length edit)
        // and then let go: the still kernel plays on as before, though no
        // refresh is due.
        flags[0] = flags[1] = true;
        EXPECT_LE(play(20, 10, true, nullptr), 1e-12 * peak);
        for (CoreVctr* bound : {&root, static_cast<CoreVctr*>(nullptr)}) {
            players[0].setvr(bound);
            EXPECT_LE(play(30, 10, false, nullptr), 1e-12 * peak) << (bound ? "rebound" : "let go");
        }
    }
}

// A tree that writes in part against the same tree mixing whole, after
// updates that leave out fewer, as many as and more steps than it holds,
// then a reader: the written-out outputs, or the outputs after a change that
// writes them out first, equal the whole mixes' bit for bit.
TEST(CoreSpmx, OutputsWrittenInPartAreWrittenOutAsTheWholeMixes) {
    enum Reader { kWriteOut, kNewFade, kSmoothing, kWholeUpdate };
    struct Row {
        double liquid;
        bool fades;
        int count;
        int updates;
        Reader reader;
    };
    int const most = CoreVctr::iCsteps;
    for (Row const& row :
         {Row{0.5, true, 2, 1, kWriteOut}, Row{-1.0, false, 2, most, kWriteOut},
          Row{0.9, true, 2, most + 1, kNewFade}, Row{0.4, false, 3, 75, kSmoothing},
          Row{0.7, true, 3, 2 * most, kWholeUpdate}}) {
        SCOPED_TRACE(row.updates * 10 + row.reader);
        CorePool pool;
        DataSrce sources;
        CoreCnvl elements(&pool, "H0", 0, nullptr);
        sources.getsc("MIX2")->setvl(row.liquid);
        Tree part(pool, sources, elements, row.count, row.fades);
        Tree whole(pool, sources, elements, row.count, row.fades);
        part.root.chndf(kBlock);
        for (int b = 0; b < row.updates; ++b) {
            sources.getsc("MIX1")->setvl(std::sin(0.07 * b));
            part.block();
            whole.block();
        }
        for (Tree* t : {&part, &whole}) switch (row.reader) {
            case kWriteOut: t->root.chnwr(); break;
            case kNewFade: t->root.setcr(t->root.newfe(60), 60, kLength, 30); break;
            case kSmoothing: t->root.setsc(); break;
            case kWholeUpdate: t->root.chnup(true); break;
            }
        EXPECT_TRUE(part.root.chnpw(0, kLength));
        for (auto get : {&CoreVctr::getlc, &CoreVctr::getrc})
            for (CoreVctr* v : {part.leaf[0], &part.root}) {
                CoreVctr* w = v == &part.root ? &whole.root : whole.leaf[0];
                EXPECT_EQ(std::memcmp((v->*get)(), (w->*get)(), kLength * sizeof(double)), 0);
            }
    }
}

} // namespace
