// Impulse responses along the whole road a program's kernels travel: WAV
// files packed into an archive, loaded back by an item store, read (and
// rate-converted) by the WAV reader, cut into vector elements inside a kernel
// cache group, normalised, sized and linked into a tree, mixed under a moving
// and then held control, and played as a harmonic chain on a direct engine,
// on the partitioned FFT engine and on a sharing group of FFT players. The
// sound is compared with a naive sum of x^h convolved with k_h, where k_h is
// rebuilt by the test from the file bytes and the interpolation and
// normalisation rules. Two instances sharing one cache sound like a lone one.
#include "engine/CoreCnvl.h"
#include "engine/CorePlel.h"
#include "engine/CoreVctr.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreWvfr.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/FsysItems.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Signal = std::vector<double>;
constexpr int kRate = 44100;           // processing rate, Hz
constexpr int B = 64;                  // step and engine block, samples
constexpr int kMove = 12, kHold = 160; // blocks of moving, then of holding controls
constexpr int kCheck = 16;             // last blocks compared with the truth
constexpr double kGain = 0.8;          // normalisation gain of every leaf
constexpr double kNormPos = 0.5, kNormWeight = 0.25;
constexpr double kHeldA = 0.3, kHeldRoot = 0.65; // held control positions
const double kPosA[3] = {0.0, 0.4, 1.0}, kPosB[1] = {0.0}, kPosRoot[2] = {0.0, 1.0};

// The impulse files of harmonic slot h: leaf A holds three (the second at
// 48 kHz), leaf B one mono file.
struct ImpulseFile {
    std::string name;
    WavBytes wav;
};

std::vector<ImpulseFile> slotFiles(int h) {
    std::mt19937 gen(100 + h);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    auto wave = [&](int rate, int tag, int channels, int frames) {
        WavBytes w{rate, tag, tag == 3 ? 32 : 24, {}};
        for (int c = 0; c < channels; ++c) {
            Signal s(frames);
            for (int i = 0; i < frames; ++i) s[i] = 0.9 * u(gen) * std::exp(-i / 50.0) / h;
            w.channels.push_back(s);
        }
        return w;
    };
    std::string p = "H" + std::to_string(h);
    return {{p + "A0.WAV", wave(kRate, 1, 2, 180 + 20 * h)},
            {p + "A1.WAV", wave(48000, 3, 2, 250)},
            {p + "A2.WAV", wave(kRate, 3, 2, 140)},
            {p + "B0.WAV", wave(kRate, 3, 1, 200 - 10 * h)}};
}

long pow2(long n) {
    long p = 1;
    while (p < n) p *= 2;
    return p;
}

// One program's share of the road: its item store loaded from the archive,
// one player and one vector tree per harmonic slot (root over leaf A and
// leaf B), built as the program's kernel builder does.
class Instance {
public:
    Instance(CorePool& pool, CorePlel& cache, DataSrce& bus, std::string const& archive,
             short engine, int H)
        : pool(pool), cache(cache), bus(bus), fs(&pool) {
        EXPECT_TRUE(fs.loada(CoreAnsx(archive.c_str()), CoreAnsx(0), true, nullptr));
        for (int h = 1; h <= H; ++h) buildSlot(h, engine);
        // Shared computation plans, as the engine groups equal plan lengths.
        int L = 0, blk = 0;
        const bool group = H > 1 && players[0]->getci(L, blk) && L >= 1;
        EXPECT_EQ(group, engine == 11 && H > 1); // the partitioned players plan alone
        void* buffer = nullptr;
        for (int h = 0; h < H; ++h) {
            short mode = !group ? 3 : h == 0 ? 0 : h == H - 1 ? 2 : 1;
            players[h]->set_c(group ? buffer : nullptr, mode, group ? long(L) * B / blk : 0);
            EXPECT_TRUE(players[h]->planc());
            buffer = players[h]->grplc();
        }
        for (Signal* s : {&pl, &pr, &wl, &wr}) s->assign(B, 0.0);
    }
    ~Instance() {
        for (CoreVctr* r : roots) delete r;
    } // the trees go before the players
    Instance(Instance const&) = delete;
    Instance& operator=(Instance const&) = delete;

    // One step of the block worker: control update, then the harmonic chain.
    void step(double const* xl, double const* xr, double* yl, double* yr) {
        for (CoreVctr* r : roots) r->chnru(true);
        for (size_t h = 0; h < players.size(); ++h)
            players[h]->vltrr(h == 0, xl, xr, yl, yr, static_cast<double*>(roots[h]->getlc()),
                              static_cast<double*>(roots[h]->getrc()), pl.data(), pr.data(),
                              wl.data(), wr.data(), B, nullptr, nullptr);
    }

    std::vector<CoreVctr*> roots, leaves; // leaves: A and B of each slot
    std::vector<std::unique_ptr<CoreCnvl>> players;

private:
    void buildSlot(int h, short engine) {
        const std::vector<ImpulseFile> files = slotFiles(h);
        const int E = int(files.size());
        CoreWvfr reader(&pool, &fs, true);
        reader.setfr(kRate, true);
        long upper = 0;
        for (ImpulseFile const& f : files) { // first pass: sizes
            reader.open_(CoreAnsx(f.name.c_str()));
            upper = std::max(upper, reader.getdw());
            reader.close();
        }
        std::vector<Signal> L(E), R(E);
        std::vector<long> len(E);
        std::vector<double> peak(E);
        long usable = 0;
        int rate = 0;
        for (int i = 0; i < E; ++i) { // second pass: samples and peaks
            L[i].assign(upper, 0.0), R[i].assign(upper, 0.0);
            reader.open_(CoreAnsx(files[i].name.c_str()));
            EXPECT_EQ(reader.getrr(), files[i].wav.rate);
            rate = reader.getrt();
            const bool mono = reader.getca() == 1;
            len[i] = reader.getdt(upper, L[i].data(), mono ? nullptr : R[i].data());
            if (mono) R[i] = L[i];
            reader.close();
            for (long s = 0; s < len[i]; ++s)
                peak[i] = std::max({peak[i], std::fabs(L[i][s]), std::fabs(R[i][s])});
            peak[i] = peak[i] == 0.0 ? 1.0 : peak[i];
            usable = std::max(usable, len[i]);
        }
        EXPECT_EQ(rate, kRate);
        const int T = int((usable + 3) / 4 * 4), padded = int(pow2(T + B - 1));
        const int maximum = int(std::max<long>(usable, padded));

        players.push_back(
            std::make_unique<CoreCnvl>(&pool, CoreAnsx("H") + CoreAnsx(h), 0, nullptr));
        CoreCnvl* player = players.back().get();
        EXPECT_EQ(player->set__(engine, B, T, padded, B, T), engine == 3 ? 1 : B);
        EXPECT_EQ(player->getsl(), engine);
        EXPECT_TRUE(player->plan_());

        CoreAnsx namesA[3], nameB[1] = {CoreAnsx(files[3].name.c_str())};
        for (int i = 0; i < 3; ++i) namesA[i] = CoreAnsx(files[i].name.c_str());
        auto vector = [&](bool leaf, int n, CoreAnsx* names, double const* pos, CoreVctr** kids,
                          char const* source, bool normalise) {
            Signal p(pos, pos + n);
            auto* v = new CoreVctr(&pool, &cache, short(h - 1), player, leaf, n, names, p.data(),
                                   kids, 0.0, 1.0, p.data(), 0.0, 1.0, source, &bus, 0.5, "MIX2", 0,
                                   0, nullptr, nullptr, false, 0, 0, true);
            v->setvl(true, 0.0, 1.0, source, false, "", 0.0, "", 1.0, "", false, "", normalise,
                     kNormPos, kNormWeight);
            return v;
        };
        CoreVctr* leafA = vector(true, 3, namesA, kPosA, nullptr, "MIX1", true);
        CoreVctr* leafB = vector(true, 1, nameB, kPosB, nullptr, "MIX1", true);
        CoreVctr* kids[2] = {leafA, leafB};
        CoreVctr* root = vector(false, 2, nullptr, kPosRoot, kids, "MIX3", false);
        roots.push_back(root), leaves.push_back(leafA), leaves.push_back(leafB);

        std::vector<void*> el(E), er(E);
        for (int i = 0; i < E; ++i) {
            CoreVctr* leaf = i < 3 ? leafA : leafB;
            leaf->newip(&el[i], &er[i], maximum);
            leaf->copyd(el[i], er[i], L[i].data(), R[i].data(), int(len[i]), 0);
        }
        root->chncp(T, T, padded);
        std::string group = fs.getll().c_str();
        group = group.substr(group.find_last_of("/\\") + 1);
        {
            CorePlel::BRACKET bracket(cache, CoreAnsx(group.c_str()), true);
            for (int i = 0; i < E; ++i) {
                CoreVctr* leaf = i < 3 ? leafA : leafB;
                const int k = i < 3 ? i : 0;
                leaf->setip(k, static_cast<double*>(el[i]), static_cast<double*>(er[i]),
                            CoreAnsx(files[i].name.c_str()), usable, rate, 0, len[i], this,
                            short(h - 1));
                leaf->setpk(k, peak[i]);
                leaf->setrz(k, 0, len[i]);
                if (i == 2 || i == 3) leaf->setgn(kGain);
            }
        }
        root->chnip();
        root->chnna(CoreAnsx("VECTOR") + CoreAnsx(h - 1));
        player->setup(root->getuc());
    }

    CorePool& pool;
    CorePlel& cache;
    DataSrce& bus;
    CoreFsys fs;
    Signal pl, pr, wl, wr; // power and work buffers of the chain
};

// ---- The truth: kernels from the files and the rules, naive convolution -----------

// Weights of the two neighbours of p among sorted positions (one element: 1).
Signal interpolate(double const* pos, int n, double p) {
    Signal w(n, 0.0);
    int lo = -1, up = -1;
    for (int i = 0; i < n; ++i) {
        if (pos[i] <= p) lo = i;
        if (pos[i] > p && up < 0) up = i;
    }
    if (lo < 0 || up < 0 || pos[lo] == p) {
        w[lo < 0 ? up : lo] = 1.0;
        return w;
    }
    w[lo] = (pos[up] - p) / (pos[up] - pos[lo]);
    w[up] = (p - pos[lo]) / (pos[up] - pos[lo]);
    return w;
}

// Per element level after normalisation and makeup: t_i.
Signal normalised(double const* pos, int n, Signal const& peaks) {
    Signal w = interpolate(pos, n, kNormPos);
    double P = 0.0;
    for (int i = 0; i < n; ++i) P += w[i] * peaks[i];
    Signal t(n);
    for (int i = 0; i < n; ++i)
        t[i] = (1 - kNormWeight) * kGain / P + kNormWeight * kGain / peaks[i];
    return t;
}

// Samples of one file at the processing rate: parsed from the bytes at equal
// rates; the reader's own frames (read outside the archive) when converted.
std::vector<Signal> truthSamples(CorePool& pool, ImpulseFile const& f) {
    const std::string bytes = wavBytes(f.wav);
    WavBytes parsed = parseWav(bytes);
    std::vector<Signal>& ch = parsed.channels;
    if (ch.size() == 1) ch.push_back(ch[0]);
    if (parsed.rate == kRate) return ch;
    CoreFsys loose(&pool);
    putItem(loose, f.name.c_str(), bytes);
    CoreWvfr reader(&pool, &loose, true);
    reader.setfr(kRate, true);
    reader.open_(CoreAnsx(f.name.c_str()));
    // The whole file: its own whole frames of the ratio, with the lead and tail around them.
    EXPECT_EQ(reader.getow(), long(ch[0].size()));
    long const whole = reader.getdr(false);
    EXPECT_GT(whole, reader.getld() + long(ch[0].size()) * kRate / parsed.rate);
    std::vector<Signal> out(2, Signal(reader.getdw(), 0.0));
    long n = reader.getdt(reader.getdw(), out[0].data(), out[1].data());
    EXPECT_EQ(n, whole);
    for (Signal& s : out) s.resize(n);
    return out;
}

// Kernel of slot h (channel c) at the held control positions.
Signal truthKernel(CorePool& pool, int h, int c) {
    const std::vector<ImpulseFile> files = slotFiles(h);
    std::vector<Signal> k;
    Signal peaks;
    for (ImpulseFile const& f : files) {
        const std::vector<Signal> s = truthSamples(pool, f);
        double p = 0.0;
        for (size_t i = 0; i < s[0].size(); ++i)
            p = std::max({p, std::fabs(s[0][i]), std::fabs(s[1][i])});
        peaks.push_back(p), k.push_back(s[c]);
    }
    const Signal tA = normalised(kPosA, 3, Signal(peaks.begin(), peaks.begin() + 3));
    const Signal tB = normalised(kPosB, 1, Signal{peaks[3]});
    const Signal wA = interpolate(kPosA, 3, kHeldA), wR = interpolate(kPosRoot, 2, kHeldRoot);
    size_t longest = 0;
    for (Signal const& s : k) longest = std::max(longest, s.size());
    Signal out(longest, 0.0);
    for (int i = 0; i < 4; ++i) {
        const double g = i < 3 ? wR[0] * wA[i] * tA[i] : wR[1] * tB[0];
        for (size_t s = 0; s < k[i].size(); ++s) out[s] += g * k[i][s];
    }
    return out;
}

// The bus: Liquid full (retention 0.5), MIX1 and MIX3 moving, then held.
void setControls(DataSrce& bus, int block) {
    const double f = block < kMove ? double(block % 5) / 4.0 : 1.0;
    const double a = block < kMove ? f : kHeldA, r = block < kMove ? 1.0 - f : kHeldRoot;
    bus.getsc("MIX2")->setvl(1.0), bus.getsc("MIX1")->setvl(2.0 * a - 1.0);
    bus.getsc("MIX3")->setvl(2.0 * r - 1.0);
}

struct Fixture {
    TempDir dir;
    CorePool pool;
    std::string archive = dir.file("Impulses.v2v");
    Signal xl = randomSignal((kMove + kHold) * B, 7), xr = randomSignal((kMove + kHold) * B, 8);
    Fixture() {
        CoreFsys pack(&pool);
        for (int h = 1; h <= 3; ++h)
            for (ImpulseFile const& f : slotFiles(h))
                putItem(pack, f.name.c_str(), wavBytes(f.wav));
        EXPECT_TRUE(pack.savea(CoreAnsx(archive.c_str())));
    }
    // Plays the whole input through the instances in turn, one output each.
    void play(std::vector<Instance*> const& set, DataSrce& bus, std::vector<Signal>& out) {
        out.assign(2 * set.size(), Signal(xl.size(), 0.0));
        for (int b = 0; b < kMove + kHold; ++b) {
            setControls(bus, b);
            for (size_t n = 0; n < set.size(); ++n)
                set[n]->step(&xl[b * B], &xr[b * B], &out[2 * n][b * B], &out[2 * n + 1][b * B]);
        }
    }
    // Naive sum over h of x^h convolved with k_h, on the checked blocks.
    Signal truth(int H, int c) {
        Signal const& x = c == 0 ? xl : xr;
        const size_t from = (kMove + kHold - kCheck) * B;
        Signal y(x.size() - from, 0.0);
        for (int h = 1; h <= H; ++h) {
            const Signal k = truthKernel(pool, h, c);
            for (size_t s = from; s < x.size(); ++s)
                for (size_t j = 0; j < k.size() && j <= s; ++j)
                    y[s - from] += k[j] * std::pow(x[s - j], h);
        }
        return y;
    }
    static Signal tail(Signal const& y) { return Signal(y.end() - kCheck * B, y.end()); }
};

} // namespace

TEST(ImpulsePath, ArchivedImpulsesPlayTheInterpolatedNormalisedKernels) {
    Fixture fx;
    for (int H = 1; H <= 3; ++H) {
        const Signal wantL = fx.truth(H, 0), wantR = fx.truth(H, 1);
        for (short engine : {3, 10, 11}) {
            SCOPED_TRACE(testing::Message() << "engine " << engine << " H " << H);
            CorePlel cache(&fx.pool);
            DataSrce bus;
            std::vector<Signal> out;
            {
                Instance one(fx.pool, cache, bus, fx.archive, engine, H);
                fx.play({&one}, bus, out);
                for (CoreVctr* r : one.roots) EXPECT_TRUE(*r->getca()); // smoothing settled
            }
            EXPECT_LT(relativeError(Fixture::tail(out[0]), wantL), 1e-9);
            EXPECT_LT(relativeError(Fixture::tail(out[1]), wantR), 1e-9);
            EXPECT_EQ(cache.getnr(), 0);
        }
    }
}

TEST(ImpulsePath, TwoInstancesOnOneCacheShareBuffersAndSoundAlone) {
    Fixture fx;
    const int H = 3;
    CorePlel shared(&fx.pool), own(&fx.pool);
    DataSrce bus;
    auto first = std::make_unique<Instance>(fx.pool, shared, bus, fx.archive, 11, H);
    EXPECT_EQ(shared.getnr(), 4 * H);
    auto second = std::make_unique<Instance>(fx.pool, shared, bus, fx.archive, 11, H);
    EXPECT_EQ(shared.getnr(), 4 * H); // nothing new: every element taken from the first
    for (size_t v = 0; v < second->leaves.size(); ++v)
        for (int i = 0; i < second->leaves[v]->getne(); ++i) {
            void *a = nullptr, *b = nullptr;
            first->leaves[v]->getip(i, &a, nullptr), second->leaves[v]->getip(i, &b, nullptr);
            EXPECT_TRUE(second->leaves[v]->getsb(i) && !first->leaves[v]->getsb(i) && a == b);
        }
    Instance lone(fx.pool, own, bus, fx.archive, 11, H);
    std::vector<Signal> out;
    fx.play({first.get(), second.get(), &lone}, bus, out);
    const Signal want = fx.truth(H, 0);
    EXPECT_LT(relativeError(Fixture::tail(out[4]), want), 1e-9);
    for (int c = 0; c < 2; ++c) {
        EXPECT_LT(relativeError(out[c], out[4 + c]), 1e-12);
        EXPECT_LT(relativeError(out[2 + c], out[4 + c]), 1e-12);
    }
    first.reset(); // the second instance keeps the shared buffers
    EXPECT_EQ(shared.getnr(), 4 * H);
    second.reset();
    EXPECT_EQ(shared.getnr(), 0);
}
