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

TEST(CoreSpmx, MixedSpectraPlayAsTheTransformedKernel) {
    for (Case const& c :
         {Case{10, -1.0, false, 2}, Case{10, 0.4, true, 2}, Case{11, -1.0, true, 2},
          Case{11, 0.9, false, 2}, Case{10, 0.6, false, 3}, Case{11, 0.8, true, 3}}) {
        SCOPED_TRACE(c.engine * 100 + (c.fades ? 10 : 0) + c.count);
        CorePool pool;
        DataSrce sources;
        CoreCnvl elements(&pool, "H0", 0, nullptr);
        CorePlel cache(&pool);
        double positions[3] = {0.0, c.count == 3 ? 0.5 : 1.0, 1.0};
        CoreVctr* leaf[1] = {new CoreVctr(&pool, &cache, 0, &elements, true, short(c.count),
                                          nullptr, positions, nullptr, 0.0, 1.0, nullptr, 0.0, 1.0,
                                          "MIX1", &sources, 0.5, "MIX2", 0, 0, nullptr, nullptr,
                                          false, 0, 0, false)};
        double one[1] = {0.0};
        CoreVctr root(&pool, &cache, 0, &elements, false, 1, nullptr, one, leaf, 0.0, 1.0, nullptr,
                      0.0, 1.0, "", &sources, 0.5, "MIX2", 0, 0, nullptr, nullptr, false, 0, 0,
                      false);
        leaf[0]->setvl(true, 0.0, 1.0, "MIX1", false, "MIX8", 0.0, "MIX3", 1.0, "MIX4", false,
                       "MIX5", false, 0.0, 1.0);
        sources.getsc("MIX2")->setvl(c.liquid);
        root.chncp(kLength, -1, -1);
        {
            CorePlel::BRACKET bracket(cache, "SPMX", true);
            int owner = 0;
            for (int i = 0; i < c.count; ++i) {
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
        if (c.fades) {
            root.newfi(30);
            root.setcr(root.newfe(100), 100, kLength, 30);
        }

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
        double worst = 0.0, peak = 0.0;
        bool mixed = false;
        for (int b = 0; b < 200; ++b) {
            sources.getsc("MIX1")->setvl(std::sin(0.07 * b));
            root.chnru(true);
            root.setfd(false, 0, 0);
            flags[0] = flags[1] = flags[0] || flags[1] || *root.getuc();
            *root.getuc() = false;
            auto* kl = static_cast<double const*>(root.getlc());
            auto* kr = static_cast<double const*>(root.getrc());
            for (int k = 0; k < 2; ++k)
                players[k].cnvlc(&in[b * kBlock], &in[b * kBlock], out[k][0], out[k][1], kl, kr,
                                 nullptr, nullptr);
            CoreSpmx const* mix = CoreCnvlIntl::getsm(players[0]);
            mixed = mixed || (mix != nullptr && mix->pairs());
            for (int ch = 0; ch < 2; ++ch)
                for (int j = 0; j < kBlock; ++j) {
                    worst = std::max(worst, std::fabs(out[0][ch][j] - out[1][ch][j]));
                    peak = std::max(peak, std::fabs(out[1][ch][j]));
                }
        }
        // Two elements take the unwritten pair path; three under Liquid
        // write their weighted sums of spectra instead.
        if (c.count == 2) {
            EXPECT_TRUE(mixed);
        }
        EXPECT_GT(peak, 1.0);
        EXPECT_LE(worst, 1e-12 * peak);
    }
}

} // namespace
