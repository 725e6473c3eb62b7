// Seeded program documents over random impulse files (lengths, polarity,
// mono and stereo), sync modes, offsets, fade-ins, limits, normalisation,
// one to three slots and the hybrid slot, loaded under random allocation
// caps by two programs sharing one cache: every element of every slot
// against a kernel computed here from the generating signal, through limit
// changes, and the pools back at their baseline after the unload.
#include "program/CoreProg.h"

#include "engine/CorePlel.h"
#include "engine/CoreVctr.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "tests/program/ProgProbe.h"
#include "tests/support/DataKit.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Signal = std::vector<double>;

struct Wave {
    Signal l, r; // float-stored samples; r == l for a one-channel file
    bool stereo;
};
struct Leaf {
    std::vector<int> files;
    long offset = 0, fadein = 0; // us, 0 absent
    double limiter = -1.0;       // GAINLIMITER; negative: no normalisation
    double handle = 0.0;         // GAINHANDLE
};
struct Slot {
    std::vector<Leaf> leaves; // one: the leaf is the root
    long offset = 0, fadein = 0;
    int kind = 0; // limits: 0 none, 1 LENGTH/FADEOUT, 2 OT1/OT2
    long l0 = 0, f0 = 0, l1 = 0, f1 = 0;
    bool ot1 = false, ot2 = false;
};
struct Case {
    bool mono, hybrid, hrtf, jitter, train;
    int syncv, minblock;
    long align;
    double balance;
    int gaindb; // GAINIR, dB
    int seed;   // names the files
    std::vector<Wave> waves;
    std::vector<Slot> slots;
};

long smp(long us) { return us < 1 ? us : long(44100.0 * double(us) / 1e6); }
long p2(long n) {
    long p = 1;
    while (p < n) p *= 2;
    return p;
}

struct Dims {
    long offset, fadein, nfo, xfo, nlim, xlim, usable, N, X, block, padded, maximum;
    void limits(long nl, long xl, long minblock) {
        nlim = nl;
        xlim = xl;
        long const head = std::max(fadein, offset);
        N = std::max(std::min(nl, usable), head + 1 + nfo);
        N = (N + 3) / 4 * 4;
        X = std::max({std::min(xl, usable), head + 1 + xfo, N});
        block = std::min(std::max(p2(X / 4), minblock), 8192L);
        padded = p2(X + block - 1);
        maximum = std::max(usable, padded);
    }
};

// One impulse's sync point as the modes define it.
long syncOf(Wave const& w, bool positive, Case const& c, int index, long first) {
    long const n = long(w.l.size());
    double const s = positive ? 1.0 : -1.0;
    double const b = c.balance < 0.0 || c.balance > 1.0 ? 0.0 : c.balance;
    auto L = [&](long k) { return s * w.l[k]; };
    auto R = [&](long k) { return s * w.r[k]; };
    auto M = [&](long k) { return L(k) * (1 - b) + R(k) * b; };
    auto top = [n](auto f, double& t) {
        long at = -1;
        for (long k = 0; k < n; ++k)
            if (f(k) > t) t = f(k), at = k;
        return at;
    };
    double t = 0.0;
    if (c.hrtf) {
        long at = top(L, t), r = top(R, t);
        if (r >= 0 || at >= 0) return r >= 0 ? r : at;
        t = 0.0;
        at = top([&](long k) { return std::fabs(L(k)); }, t);
        r = top([&](long k) { return std::fabs(R(k)); }, t);
        return r >= 0 ? r : at;
    }
    if (c.train && index != 0) return first;
    if (c.jitter) {
        long const p = std::max(0L, top(L, t));
        t = 0.0;
        long const q = std::max(0L, top(R, t));
        return long((1 - b) * double(p) + b * double(q));
    }
    long const at = top(M, t);
    if (at >= 0) return at;
    if (index != 0) return first;
    t = 0.0;
    return std::max(0L, top([&](long k) { return std::fabs(M(k)); }, t));
}

// Slot s's kernels (per file in leaf order, left and right); false when a
// sync point lies past its file's end.
bool build(Case const& c, int s, long ref, long& firstsync, Dims& d,
           std::vector<std::array<Signal, 2>>& out) {
    Slot const& slot = c.slots[s];
    long offus = slot.offset, finus = std::min(slot.fadein, slot.offset);
    for (Leaf const& f : slot.leaves) {
        offus = std::max(offus, f.offset);
        finus = std::max(finus, std::min(f.fadein, f.offset));
    }
    d.offset = std::max(1L, ref >= 0 ? ref : smp(offus));
    d.fadein = std::max(1L, smp(finus));
    long const nceil = smp(10000), xceil = smp(1000000);
    long nl = nceil, xl = 0;
    d.nfo = d.xfo = 0;
    if (slot.kind == 1) {
        nl = std::min(nceil, smp(slot.l0));
        d.nfo = smp(slot.f0);
    } else if (slot.kind == 2) {
        nl = std::min(nceil, smp(slot.ot1 ? slot.l0 : 0));
        d.nfo = smp(slot.ot1 ? slot.f0 : 0);
        xl = slot.ot2 ? slot.l1 : 0;
        d.xfo = smp(slot.ot2 ? slot.f1 : 0);
    }
    xl = xl > 0 ? std::min(smp(xl), xceil) : std::min(nl, xceil);
    d.nfo = std::max(1L, d.nfo);
    d.xfo = std::max(1L, d.xfo);

    std::vector<Wave const*> w;
    for (Leaf const& f : slot.leaves)
        for (int i : f.files) w.push_back(&c.waves[i]);
    bool positive = false;
    long bound = 0;
    for (Wave const* x : w) {
        double hi = 0.0, lo = 0.0;
        for (double v : x->l) hi = std::max(hi, v), lo = std::min(lo, v);
        positive = positive || hi > -lo;
        bound = std::max(bound, long(x->l.size()));
    }
    std::vector<long> sync(w.size());
    for (std::size_t i = 0; i < w.size(); ++i)
        sync[i] = syncOf(*w[i], positive, c, int(i), i ? sync[0] : 0);
    if (c.syncv >= 2) {
        if (s == 0) firstsync = sync[0];
        for (std::size_t i = 0; bound >= 16 && i < w.size(); ++i)
            if (firstsync < long(w[i]->l.size())) sync[i] = firstsync;
    }
    d.usable = 0;
    for (std::size_t i = 0; i < w.size(); ++i) {
        sync[i] = std::max(sync[i] - smp(c.align), 0L);
        if (sync[i] > long(w[i]->l.size())) return false;
        d.usable = std::max(d.usable, long(w[i]->l.size()) - sync[i]);
    }
    d.limits(nl, xl, c.minblock);

    out.clear();
    std::vector<double> peak;
    for (std::size_t i = 0; i < w.size(); ++i) {
        long const n = long(w[i]->l.size());
        long const start = std::max(sync[i] - d.offset, 0L);
        long const dest = std::max(d.offset - sync[i], 0L);
        long const count = std::min(n - start, d.maximum - dest - 1);
        std::array<Signal, 2> k{Signal(d.maximum, 0.0), Signal(d.maximum, 0.0)};
        for (long j = 0; j < count; ++j) {
            k[0][dest + j] = w[i]->l[start + j];
            k[1][dest + j] = (c.mono ? w[i]->l : w[i]->r)[start + j];
        }
        for (long j = 0; j < d.fadein; ++j)
            for (Signal& side : k) side[j] *= d.fadein > 1 ? double(j) / double(d.fadein - 1) : 0.0;
        double top = 0.0;
        for (long j = 0; j < n; ++j)
            top = std::max({top, std::fabs(w[i]->l[j]), std::fabs(w[i]->r[j])});
        peak.push_back(top > 0.0 ? top : 1.0);
        out.push_back(std::move(k));
    }
    // Normalisation of each leaf: a blend of the peak at the handle and each
    // element's own, scaled so the loudest element reaches its own peak 1.
    std::size_t at = 0;
    for (Leaf const& f : slot.leaves) {
        std::size_t const n = f.files.size();
        if (f.limiter >= 0.0 && slot.leaves.size() > 1) {
            auto pos = [n](std::size_t i) { return n < 2 ? 0.0 : double(i) / double(n - 1); };
            long lo = -1, up = -1;
            double dlo = f.handle + 1.0, dup = 1.0 - f.handle + 1.0;
            for (std::size_t i = 0; i < n; ++i) {
                double const dd = f.handle - pos(i);
                if (dd >= 0.0 && dd < dlo) dlo = dd, lo = long(i);
                if (dd < 0.0 && -dd < dup) dup = -dd, up = long(i);
            }
            double const* p = &peak[at];
            double const ref = lo < 0 && up < 0 ? p[0]
                               : lo < 0         ? p[up]
                               : up < 0         ? p[lo]
                                                : (dlo * p[up] + dup * p[lo]) / (dlo + dup);
            double const wt = std::clamp(f.limiter, 0.0, 1.0);
            double const gain = std::pow(10.0, c.gaindb / 20.0);
            std::vector<double> t(n);
            double makeup = 0.0;
            for (std::size_t i = 0; i < n; ++i) {
                t[i] = (1 - wt) * gain / ref + wt * gain / p[i];
                makeup = std::max(makeup, t[i] * p[i]);
            }
            for (std::size_t i = 0; i < n; ++i)
                for (Signal& side : out[at + i])
                    for (double& v : side) v *= t[i] / makeup;
        }
        at += n;
    }
    return true;
}

Case randomCase(std::mt19937& g, int seed) {
    auto in = [&g](int a, int b) { return std::uniform_int_distribution<int>(a, b)(g); };
    auto real = [&g](double a, double b) {
        return std::uniform_real_distribution<double>(a, b)(g);
    };
    Case c{};
    c.seed = seed;
    c.mono = in(0, 2) == 0;
    c.hybrid = in(0, 2) == 0;
    int const mode = in(0, 5);
    c.hrtf = mode == 1;
    c.jitter = mode == 2;
    c.train = mode == 3;
    c.syncv = in(0, 2) == 0 ? 2 : 0;
    c.minblock = 1 << in(0, 7);
    c.align = in(0, 2) == 0 ? in(1, 500) : 0;
    // Three decimals: the document's text gives back exactly these numbers.
    auto milli = [&](double a, double b) { return std::round(real(a, b) * 1000.0) / 1000.0; };
    c.balance = in(0, 3) == 0 ? milli(-0.5, 1.5) : milli(0.0, 1.0);
    c.gaindb = in(-12, 12);
    for (int i = in(1, 4); i > 0; --i) {
        int const n = in(0, 5) == 0 ? in(2, 15) : in(16, 500);
        double const sign = in(0, 1) ? 1.0 : -1.0;
        Wave w{DataKit::impulse(n, in(0, n - 1), sign * real(0.1, 1.0)), {}, in(0, 1) == 1};
        for (double& v : w.l) v += in(0, 3) == 0 ? real(-0.05, 0.05) : 0.0;
        w.r = w.stereo ? DataKit::impulse(n, in(0, n - 1), real(-1.0, 1.0)) : w.l;
        if (in(0, 7) == 0) std::fill(w.l.begin(), w.l.end(), 0.0), w.r = w.stereo ? w.r : w.l;
        for (Signal* x : {&w.l, &w.r})
            for (double& v : *x) v = double(float(v));
        c.waves.push_back(std::move(w));
    }
    for (int s = in(1, 3); s > 0; --s) {
        Slot slot;
        for (int l = in(0, 1) ? in(2, 2) : 1; l > 0; --l) {
            Leaf f;
            for (int e = in(1, 3); e > 0; --e) f.files.push_back(in(0, int(c.waves.size()) - 1));
            if (in(0, 1)) f.offset = in(1, 3000), f.fadein = in(0, 3000);
            if (in(0, 1)) f.limiter = in(0, 1) ? 1.0 : milli(0.0, 1.0), f.handle = milli(0.0, 1.0);
            slot.leaves.push_back(f);
        }
        // A lone leaf is the root: its own times are the slot's.
        if (slot.leaves.size() > 1 && in(0, 1))
            slot.offset = in(1, 3000), slot.fadein = in(0, 3000);
        slot.kind = in(0, 2);
        slot.l0 = in(1, 12000), slot.f0 = in(1, 2000), slot.l1 = in(1, 14000),
        slot.f1 = in(1, 2000);
        slot.ot1 = in(0, 1) == 1;
        slot.ot2 = in(0, 1) == 1 || !slot.ot1;
        c.slots.push_back(slot);
    }
    return c;
}

std::string us(long v) { return std::to_string(v); }

// Names of their own per seed: the item store keeps what it has read.
std::string file(int seed, std::size_t i) {
    return "S" + std::to_string(seed) + "_" + std::to_string(i) + ".WAV";
}

KitProgram document(Case const& c) {
    KitProgram p("Seed", "",
                 {{"FORCEMONO", c.mono ? "1" : "0"},
                  {"FORCEHYBRID", c.hybrid ? "1" : "0"},
                  {"HRTFMODE", c.hrtf ? "1" : "0"},
                  {"JITTERMODE", c.jitter ? "1" : "0"},
                  {"TRAINMODE", c.train ? "1" : "0"},
                  {"SYNCVERSION", std::to_string(c.syncv)},
                  {"ALIGNOFFSET", us(c.align)},
                  {"ALIGNBALANCE", std::to_string(c.balance)},
                  {"GAINIR", std::to_string(c.gaindb)}});
    auto times = [](KitValues& v, long offset, long fadein) {
        if (offset) v.push_back({"OFFSET", us(offset)});
        if (fadein) v.push_back({"FADEIN", us(fadein)});
    };
    for (Slot const& s : c.slots) {
        std::vector<KitVector> leaves;
        for (Leaf const& f : s.leaves) {
            KitVector v;
            for (int i : f.files) v.files.push_back(file(c.seed, i));
            times(v.common, f.offset, f.fadein);
            if (f.limiter >= 0.0)
                v.control = {{"GAINLIMITER", std::to_string(f.limiter)},
                             {"GAINHANDLE", std::to_string(f.handle)}};
            leaves.push_back(v);
        }
        KitVector root = leaves.size() == 1 ? leaves[0] : KitVector();
        if (leaves.size() > 1) root.children = leaves;
        times(root.common, s.offset, s.fadein);
        if (s.kind == 1) root.common.push_back({"LENGTH", us(s.l0)});
        if (s.kind == 1) root.common.push_back({"FADEOUT", us(s.f0)});
        auto ot = [](long f, long l) { return kitEl("FADEOUT", us(f)) + kitEl("LENGTH", us(l)); };
        if (s.kind == 2 && s.ot1) root.common.push_back({"OT1", ot(s.f0, s.l0)});
        if (s.kind == 2 && s.ot2) root.common.push_back({"OT2", ot(s.f1, s.l1)});
        p.slots.push_back(root);
    }
    return p;
}

class CoreProgKernSeedTest : public ::testing::Test {
protected:
    LogCapture log;
    DataKit kit;
    CorePool storePool;
    CoreFsys store{&storePool, CoreAnsx(kit.data().c_str()), false};
};

// Every slot's elements (the hybrid slot's too) against the expected kernels.
void expectKernels(ProgProbe& p, Case const& c, std::vector<Dims> const& dims,
                   std::vector<std::vector<std::array<Signal, 2>>> const& kernels, int seed) {
    for (std::size_t s = 0; s < kernels.size(); ++s) {
        int const slot = s < c.slots.size() ? int(s) : p.cap();
        ProgProbe::HLOC& h = p.slot(slot);
        Dims const& d = dims[s];
        ASSERT_EQ(h.maximum, d.maximum) << seed << " slot " << slot;
        ASSERT_EQ(h.normallength, d.N) << seed;
        ASSERT_EQ(h.extendedlength, d.X) << seed;
        ASSERT_EQ(h.padded, d.padded) << seed;
        ASSERT_GE(h.elementlength, h.maximum) << seed;
        ASSERT_GE(h.root->getal(), h.padded) << seed;
        std::size_t i = 0;
        for (int v = 0; v < h.leaves.count; ++v) {
            auto* leaf = static_cast<CoreVctr*>(h.leaves[unsigned(v)]);
            for (int e = 0; e < leaf->getne(); ++e, ++i) {
                void* side[2] = {nullptr, nullptr};
                leaf->getip(e, &side[0], &side[1]);
                for (int k = 0; k < 2; ++k) {
                    auto const* got = static_cast<double const*>(side[k]);
                    Signal const& want = kernels[s][i][k];
                    for (long j = 0; j < h.elementlength; ++j)
                        ASSERT_NEAR(got[j], j < long(want.size()) ? want[j] : 0.0, 1e-12)
                            << "seed " << seed << " slot " << slot << " file " << i << " side " << k
                            << " at " << j;
                }
            }
        }
        ASSERT_EQ(i, kernels[s].size()) << seed;
    }
}

// What a case should build: every slot, then the hybrid slot (slot 0 behind its head).
struct Expected {
    bool buildable = true;
    std::vector<Dims> dims;
    std::vector<std::vector<std::array<Signal, 2>>> kernels;
    explicit Expected(Case const& c) : dims(c.slots.size()), kernels(c.slots.size()) {
        long firstsync = 0;
        for (std::size_t s = 0; s < c.slots.size() && buildable; ++s)
            buildable = build(c, int(s), s ? dims[0].offset : -1, firstsync, dims[s], kernels[s]);
        if (buildable && c.hybrid) {
            dims.push_back(dims[0]);
            kernels.push_back(kernels[0]);
            zeroHead(kernels.back(), dims[0].N);
        }
    }
    static void zeroHead(std::vector<std::array<Signal, 2>>& k, long n) {
        for (auto& pair : k)
            for (Signal& side : pair)
                std::fill_n(side.begin(), std::min<long>(n, long(side.size())), 0.0);
    }
};

// One setting of the case changed: a program sharing the cache must build its own kernels.
Case mutated(Case c, std::mt19937& g) {
    Slot& slot = c.slots[g() % c.slots.size()];
    Leaf& leaf = slot.leaves[g() % slot.leaves.size()];
    switch (g() % 4) {
    case 0: c.mono = !c.mono; break;
    case 1: leaf.offset += 100, leaf.fadein += 50; break;
    case 2: leaf.limiter = leaf.limiter == 1.0 ? 0.5 : 1.0; break;
    default: c.gaindb += 3; break;
    }
    return c;
}

TEST_F(CoreProgKernSeedTest, RandomProgramsBuildTheKernelsTheirFilesDefine) {
    int const savedPause = CorePool::iVretrypause;
    CorePool::iVretrypause = 0;
    CorePool pool, cachePool;
    CorePlel cache(&cachePool);
    for (int seed = 1; seed <= 120; ++seed) {
        std::mt19937 g(seed);
        Case const c = randomCase(g, seed);
        for (std::size_t i = 0; i < c.waves.size(); ++i) {
            Wave const& w = c.waves[i];
            kit.wav(file(seed, i),
                    w.stereo ? std::vector<Signal>{w.l, w.r} : std::vector<Signal>{w.l});
        }
        Case const other = seed % 2 ? c : mutated(c, g);
        Expected const want(c), wantOther(other);

        long const base = pool.getma(), cacheBase = cachePool.getma();
        auto a = std::make_unique<ProgProbe>(&pool, 3, &cache);
        auto b = std::make_unique<ProgProbe>(&pool, 3, &cache);
        for (ProgProbe* p : {a.get(), b.get()}) {
            p->setfs(&store);
            p->attachPlayers();
            p->minBlock() = c.minblock;
        }
        KitNode doc(DataKit::programXml(document(c))),
            docOther(DataKit::programXml(document(other)));
        ASSERT_EQ(a->load_(doc.root, false), want.buildable) << seed << log.text();
        // The second program under caps on either pool, then free.
        long const held = pool.getma(), heldCache = cachePool.getma();
        std::uniform_int_distribution<long> room(0, 60000);
        bool loaded = false;
        for (int tries = 0; !loaded && tries < 3; ++tries) {
            CorePool* capped = tries % 2 ? &cachePool : &pool;
            capped->setal(capped->getma() + room(g));
            loaded = b->load_(docOther.root, false);
            capped->setal(LONG_MAX);
            if (!loaded) {
                ASSERT_EQ(pool.getma(), held) << seed;
                ASSERT_EQ(cachePool.getma(), heldCache) << seed;
            }
        }
        if (!loaded) loaded = b->load_(docOther.root, false);
        ASSERT_EQ(loaded, wantOther.buildable) << seed;
        if (want.buildable) expectKernels(*a, c, want.dims, want.kernels, seed);
        if (loaded) {
            expectKernels(*b, other, wantOther.dims, wantOther.kernels, seed);
            // Limit changes on the second program: regrown elements keep their
            // kernel, the hybrid slot follows slot 0.
            auto dims = wantOther.dims;
            auto kernels = wantOther.kernels;
            for (int step = 0; step < 3; ++step) {
                int const slot = std::uniform_int_distribution<int>(0, int(dims.size()) - 1)(g);
                int const s = slot < int(other.slots.size()) ? slot : b->cap();
                short const which = short(g() % 2);
                long const limit = std::uniform_int_distribution<long>(-5, 3000)(g);
                Dims& d = dims[slot];
                long const nl = which == 0 ? limit : d.nlim, xl = which == 0 ? d.xlim : limit;
                bool const moved = nl != d.nlim || xl != d.xlim;
                d.limits(nl, xl, other.minblock);
                ASSERT_EQ(b->setod(short(s), which, limit), moved) << seed;
                if (other.hybrid && slot == 0 && moved) {
                    kernels.back() = kernels[0];
                    Expected::zeroHead(kernels.back(), d.N);
                }
                expectKernels(*b, other, dims, kernels, seed);
                b->updte(true, 64, 0.0, 120.0);
            }
        }
        // The first program is left as it was.
        if (want.buildable) expectKernels(*a, c, want.dims, want.kernels, seed);
        a->updte(true, 64, 0.0, 120.0);
        a.reset();
        b.reset();
        ASSERT_EQ(pool.getma(), base) << seed;
        ASSERT_EQ(cachePool.getma(), cacheBase) << seed;
        ASSERT_EQ(cache.getnr(), 0) << seed;
    }
    CorePool::iVretrypause = savedPause;
}

} // namespace
