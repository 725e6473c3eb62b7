// The whole modulator set of a program, configured at random within what
// documents and the editor allow and fed with hostile audio, must keep every
// bus source finite, within its range and free of subnormals after every
// block, and must not allocate on the way.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CorePrm_.h"
#include "modulation/CoreRfun.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "modulation/DataRgfn.h"
#include "modulation/DataSrce.h"
#include "runtime/CorePool.h"
#include "tests/support/AllocCount.h"

namespace {

constexpr int N = DataSrce::iCsources;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr int maxFrames = 4096;

CoreAnsx numbered(char const* stem, int n) { return CoreAnsx(stem) + CoreAnsx(n); }

struct Program {
    std::mt19937_64 rng;
    CorePool pool;
    DataSrce bus;
    DataGfun fns;
    DataRgfn raws;
    CoreAnsx keys[N], waves[33], twoargs[45];
    std::vector<std::unique_ptr<CoreLfo_>> lfo;
    std::vector<std::unique_ptr<CoreFun_>> fun;
    std::vector<std::unique_ptr<CoreRfun>> rfun;
    std::vector<std::unique_ptr<CorePrm_>> prm;
    std::vector<std::unique_ptr<CoreEnvf>> evf;
    std::vector<std::unique_ptr<CoreDynm>> dyn;
    std::vector<std::unique_ptr<CoreEnv_>> env;
    std::vector<double> arrays[4][2]; // raw vectors, owned by the program
    std::vector<double> audio[6];     // the block's in L/R, out L/R, second input pair
    double rate;                      // program rate, Hz
    double lo[N], hi[N];              // bounds each source must keep
    std::vector<std::pair<int, std::vector<int>>> readers; // output index, free-scale inputs

    CoreSrce* out(char const* stem, int n) { return bus.getsc(numbered(stem, n)); }

    explicit Program(unsigned seed) : rng(seed) {
        bus.getsc("ON")->setvl(1.0);
        for (char const* k : {"OFF", "IN_L", "IN_R", "OUTL", "OUTR"}) bus.getsc(k)->setvl(-1.0);
        bus.getgs(nullptr, keys);
        fns.getgs(0, nullptr, waves);
        fns.getgs(1, nullptr, twoargs);
        for (int n = 1; n <= 16; ++n) {
            if (n <= 4)
                lfo.emplace_back(
                    new CoreLfo_(numbered("LFO", n), &fns, &bus, out("LFO", n), out("RATELFO", n)));
            if (n <= 8)
                fun.emplace_back(new CoreFun_(numbered("FUN", n), &fns, &bus, out("FUN", n)));
            if (n <= 4)
                rfun.emplace_back(
                    new CoreRfun(numbered("RAWFUN", n), &raws, &bus, out("RAWFUN", n)));
            prm.emplace_back(new CorePrm_(numbered("PRM", n), &fns, &bus, out("PRM", n)));
            if (n <= 5) // the fifth follower's time outputs resolve to "OFF"
                evf.emplace_back(new CoreEnvf(&pool, numbered("EVF", n), true, &bus, out("EVF", n),
                                              out("EAT", n), out("ERT", n)));
            if (n <= 2) {
                dyn.emplace_back(new CoreDynm(numbered("DNM", n), &bus, out("DNM", n)));
                env.emplace_back(new CoreEnv_(numbered("ENV", n), &bus, out("ENV", n)));
            }
        }
        for (auto& a : audio) a.resize(maxFrames);
        for (int i = 0; i < N; ++i) lo[i] = -1.0, hi[i] = 1.0;
    }

    double uni(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); }
    int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
    bool chance(double p) { return uni(0.0, 1.0) < p; }
    template <typename T> T any(std::initializer_list<T> list) {
        return list.begin()[pick(int(list.size()))];
    }
    int index(CoreAnsx const& key) const { // bus index a key reads, -1 for a constant
        CoreSrce const* s = bus.isils(key) ? bus.getsc(key) : nullptr;
        for (int i = 0; i < N; ++i)
            if (bus.getis(i) == s) return i;
        return -1;
    }
    // A source key as documents give them: mostly one of the 84, sometimes the
    // reader's own output, the empty text or a constant within -1..1.
    CoreAnsx key(CoreAnsx const& own) {
        double const r = uni(0.0, 1.0);
        if (r < 0.1) return own;
        if (r < 0.14) return CoreAnsx("");
        if (r < 0.18) return CoreAnsx(uni(-1.0, 1.0));
        return keys[pick(N)];
    }
    int samples() { return any({0, 1, 47, 480, 24000, 240000, INT_MAX, -100}); }

    // Bounds only widen from one configuration to the next: a source whose
    // writer is gone keeps the last value written.
    void configure() {
        readers.clear();
        for (int i = 66; i <= 69; ++i)
            lo[i] = -3.0; // RAWFUN: a clamped unipolar result written as 2v - 1
        for (int i = 34; i <= 35; ++i)
            hi[i] =
                2.0 * std::pow(10.0, CoreDynm::dCgainceiling / 20.0) - 1.0; // DNM: gains above 1
        for (int i = 74; i <= 81; ++i)
            lo[i] = -inf, hi[i] = inf; // EAT/ERT: time estimates with no documented bound
        for (int n = 0; n < 4; ++n) {
            CoreAnsx const own = numbered("LFO", n + 1), rk = key(own);
            lfo[n]->setvl(any({0.0, 24.0, uni(0, 24)}), any({0.0, 24.0, uni(0, 24)}),
                          any({0.0, -1.0, 1.0, 2.0, 16.0, 64.0, 1e6}), rk,
                          chance(0.9) ? waves[pick(33)] : CoreAnsx("sine"),
                          any({0.0, 90.0, 360.0, uni(0, 360), -720.0, 1e9}), key(own));
            readers.push_back({60 + n, {index(rk)}}); // the rate source follows the rate scale
        }
        for (int n = 0; n < 8; ++n)
            fun[n]->setvl(key(numbered("FUN", n + 1)), key(numbered("FUN", n + 1)),
                          chance(0.9) ? twoargs[pick(45)] : CoreAnsx("?"));
        for (int n = 0; n < 4; ++n) {
            CoreAnsx const own = numbered("RAWFUN", n + 1);
            if (chance(0.15)) { // a section the document lacks
                rfun[n]->setvl();
                continue;
            }
            rfun[n]->setvl(key(own), key(own), "R0", "R1",
                           any<char const*>({"RSINGLE", "RMULTI", "X"}),
                           any({0, 1, 480, 44100, INT_MAX, -44100}), uni(-1, 1));
            for (int j = 0; j < 2; ++j) {
                arrays[n][j].assign(any({1, 2, 3, 1 + pick(2000)}), 0.0);
                for (double& v : arrays[n][j])
                    v = chance(0.9) ? uni(0, 1) : any({0.0, -1.0, 1e300, -1e300, 1e-310});
                if (j == 0 || chance(0.85))
                    rfun[n]->setvl(j, arrays[n][j].data(), int(arrays[n][j].size()));
            }
            rfun[n]->chckv();
        }
        for (int n = 0; n < 16; ++n) {
            CoreAnsx const own = numbered("PRM", n + 1);
            double const r = uni(0, 1);
            if (r < 0.2)
                prm[n]->setvl(r < 0.1);
            else
                prm[n]->setvl(chance(0.5), key(own), key(own), twoargs[pick(45)],
                              any<char const*>({"", "0", "Gain"}), "1", "dB", "", "",
                              any({-24.0, 0.0, 1e9}), any({24.0, 0.0, -1e9}), uni(-100, 100),
                              uni(-100, 100));
        }
        for (int n = 0; n < 5; ++n) {
            CoreAnsx const own = numbered("EVF", n + 1);
            int const level = n < 4 ? 30 + n : 82;
            if (chance(0.1)) { // a section the document lacks
                evf[n]->setvl();
                continue;
            }
            CoreAnsx const at = key(own), rl = key(own), bb = key(own);
            CoreAnsx const da = key(own), dr = key(own), oa = key(own), orl = key(own),
                           hp = key(own);
            double const balance = any({-1.0, -0.5, 0.0, 1.0, 2.0, uni(0, 1)});
            short const mode = short(pick(10));
            bool const bbon = chance(0.3), deltaon = chance(0.3), outon = chance(0.3),
                       hpon = chance(0.4);
            evf[n]->setvl(samples(), samples(), at, samples(), samples(), rl, balance, mode, bbon,
                          bb, deltaon, da, dr, chance(0.5), rate, outon, oa, orl, hpon,
                          any({0.0, 20.0, 5000.0, uni(0, 5000), 1e6, -100.0}),
                          any({0, 1, 2, 3, 8, 16}), hp);
            // Attack, release and high-pass sources only set how fast the
            // level moves; the delta and output sources scale it.
            std::vector<int> in;
            if (deltaon) in.insert(in.end(), {index(da), index(dr)});
            if (outon) in.insert(in.end(), {index(oa), index(orl)});
            readers.push_back({level, in});
            // The bus-balance copy of the input magnitude: a mix of four
            // full-scale signals (balance outside 0..1) or a high-passed one can
            // exceed 1, and nothing bounds it.
            int const b = index(bb);
            if (bbon && mode != 9 && b > 0 && b < N - 1 && (balance < 0.0 || balance > 1.0 || hpon))
                lo[b] = -inf, hi[b] = inf;
        }
        for (int n = 0; n < 2; ++n) {
            CoreAnsx const own = numbered("DNM", n + 1);
            double const range = any({0.0, 50.0, uni(0, 50), -10.0, 1e6});
            double const pad = any({0.0, 50.0, uni(0, 50), -50.0, 1e6});
            double const r = uni(0, 1);
            if (r < 0.1)
                dyn[n]->setvl();
            else if (r < 0.55)
                dyn[n]->setvl(short(pick(2)), key(own), key(own), key(own),
                              any<short>({-1, 0, 1, 2, 5, 9, 10, 100}), range, pad);
            else
                dyn[n]->setvl(key(own), key(own), chance(0.5), key(own), chance(0.5),
                              any<short>({-1, 0, 1, 2, 8, 9, 100}), range, pad);
        }
        for (int n = 0; n < 2; ++n) {
            CoreAnsx const own = numbered("ENV", n + 1);
            if (chance(0.1)) { // a section the document lacks
                env[n]->setvl();
                continue;
            }
            double const levels[4] = {any({-1.0, 0.0, 1.0, uni(0, 1)}), any({0.0, 1.0, uni(0, 1)}),
                                      any({0.0, 1.0, uni(0, 1)}), any({0.0, 1.0, uni(0, 1)})};
            int const times[4] = {samples() & INT_MAX, samples() & INT_MAX, samples() & INT_MAX,
                                  samples() & INT_MAX};
            short const curves[4] = {short(pick(10)), short(pick(10)), short(pick(10)),
                                     short(pick(10))};
            CoreAnsx const lk = key(own);
            env[n]->setvl(key(own), key(own), levels, times, curves, any({0.0, 1.0, uni(0, 1)}), lk,
                          any({0.0, 1.0, uni(0, 1)}), key(own));
            readers.push_back({13 + n, {index(lk)}}); // the level scale follows its control
        }
        // A scale read from a source outside -1..1 maps outside the scale, as
        // parameters do not clamp; such outputs are then held only to be finite.
        for (bool grown = true; grown;) {
            grown = false;
            for (auto const& [o, in] : readers)
                for (int i : in)
                    if (i >= 0 && (lo[i] < -1.0 || hi[i] > 1.0) && hi[o] < inf) {
                        lo[o] = -inf, hi[o] = inf;
                        grown = true;
                    }
        }
    }

    // Fills the block's six signals; returns the last output sample.
    double signals(int frames) {
        int const kind = pick(6);
        for (auto& a : audio)
            for (int s = 0; s < frames; ++s) {
                int const k = kind == 5 ? pick(5) : kind;
                double const sign = chance(0.5) ? 1.0 : -1.0;
                // silence, subnormals, full scale, noise, below the detector floor
                double const kinds[5] = {0.0, sign * uni(1e-320, 2e-308), sign, uni(-1, 1),
                                         sign * 1e-160};
                a[s] = kinds[k];
            }
        return frames > 0 ? audio[2][frames - 1] : 0.0;
    }

    // One block as the engine runs it: the followers take the block's
    // samples, the program updates its modulators in order, then the engine
    // updates the parameter modulators.
    void block(int frames, double last, double tempo) {
        for (int s = 0; s < frames; ++s) {
            for (int n = 0; n < 4; ++n)
                evf[n]->setei(audio[0][s], audio[1][s], audio[2][s], audio[3][s]);
            evf[4]->setei(audio[4][s], audio[5][s], 0.0, 0.0);
        }
        double const m = std::fabs(last);
        bus.getis(27)->setvl(std::fpclassify(m) == FP_SUBNORMAL || m == 0.0 ? -1.0 : 2.0 * m - 1.0);
        for (auto& e : evf) e->updte();
        for (auto& l : lfo) l->updte(frames / rate, tempo);
        for (auto& f : fun) f->updte();
        for (auto& d : dyn) d->updte();
        for (auto& e : env) e->updte(frames);
        for (auto& r : rfun)
            if (r->isact()) r->updte(frames);
        for (auto& p : prm) p->updte();
    }

    // Empty when every source holds; else what broke first.
    std::string check() const {
        char text[160];
        if (bus.getis(0)->getvl() != -1.0 || bus.getis(N - 1)->getvl() != 1.0)
            return "OFF or ON moved";
        for (int i = 0; i < N; ++i) {
            double const v = bus.getis(i)->getvl();
            bool const ok = std::isfinite(v) && v >= lo[i] && v <= hi[i] &&
                            std::fpclassify(v) != FP_SUBNORMAL && !(v == 0.0 && std::signbit(v));
            if (!ok) {
                std::snprintf(text, sizeof text, "%s = %.17g, allowed %g..%g", keys[i].c_str(), v,
                              lo[i], hi[i]);
                return text;
            }
        }
        return "";
    }
};

TEST(BusIntegrityTest, RandomProgramsKeepEveryBusSourceSound) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        std::srand(seed); // the random waveforms draw from the process-wide generator
        auto p = std::make_unique<Program>(seed);
        p->rate = p->any({22050.0, 44100.0, 48000.0, 96000.0});
        p->configure();
        std::string failure;
        for (int b = 0; b < 300 && failure.empty(); ++b) {
            if (b > 0 && b % 60 == 0)
                p->configure(); // editing between blocks re-applies whole settings
            // The engine and the user controls write their sources at any time.
            for (int i : {19, 20, 21, 22, 23, 24, 25, 26, 28, 29, 48, 49, 50, 51, 64, 65})
                p->bus.getis(i)->setvl(p->chance(0.8) ? p->uni(-1, 1)
                                                      : p->any({-1.0, 1.0, -0.0, 1e-310}));
            int const frames = p->any({0, 1, 15, 16, 17, 64, 512, maxFrames});
            double const last = p->signals(frames);
            double const tempo = p->any({0.0, 120.0, p->uni(20, 300), 1e-3, 1e6});
            long const before = allocationCount();
            p->block(frames, last, tempo);
            long const allocations = allocationCount() - before;
            failure = p->check();
            if (allocations != 0) failure = "allocated " + std::to_string(allocations) + " times";
            if (!failure.empty())
                ADD_FAILURE() << "seed " << seed << ", block " << b << ": " << failure;
        }
    }
}

} // namespace
