// A host playing through a new installation's first boot in real time, with
// suspends, resumes and block-size calls while the boot runs: the output is
// the delayed input until the program plays, then the program, with no
// stretch of silence and no return to the dry input.
// Not in the ThreadSanitizer pass, for the reason the shell test gives: the
// host's rate and block-size calls still race with the control thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "plugin/CorePrvt.h"
#include "tests/plugin/PluginRig.h"
#include "tools/CoreDemo.h"
#include "tools/CoreHost.h"

namespace {

using V = PlatVst;
using Signal = std::vector<std::vector<float>>;

constexpr int kRate = 44100;
constexpr int kWindow = 256;           // frames: the shortest dropout looked for
constexpr long kEngineBlock = 8192;    // frames: the processing block without DSPBUFFER
constexpr long kLongest = 60L * kRate; // frames: a boot that has not ended by then failed

int booted(CoreHost& h) {
    CorePrvt::CALL c{CorePrvt::iCboot, 0, 0, 0, nullptr, 0};
    return int(h.dispt(V::opVendorSpecific, CorePrvt::iCtag, 0, &c));
}

// A chord held throughout, a little apart on the two channels: no window of
// it is silent.
float chord(int c, long n) {
    double const t = double(n) / kRate;
    double v = 0.0;
    for (double f : {261.63, 329.63, 392.0}) v += 0.2 * std::sin(2.0 * M_PI * f * t + 0.7 * c);
    return float(v);
}

// The host's moment: after this many process calls it suspends, gives a
// new block size when block is not 0, and resumes.
struct Moment {
    int call, block;
};

struct Played {
    Signal in, out;
    int moments = 0; // the moments that came while the boot ran
    long delay = 0;  // frames, as reported when opened
};

// Plays the chord in real time through the first boot, then on for the
// delay, an engine block and half a second.
Played play(PluginRig const& rig, int block, std::vector<Moment> const& moments) {
    Played p;
    p.in.assign(2, {});
    p.out.assign(2, {});
    CoreHost h(rig.path(), kRate, block);
    h.setlv(V::levelRealtime);
    h.start();
    p.delay = h.getdl();
    V::Effect* e = h.getef();
    std::vector<float> in[2], out[2];
    auto const start = std::chrono::steady_clock::now();
    long frames = 0, until = kLongest;
    std::size_t next = 0;
    for (int calls = 0; frames < until; ++calls) {
        if (next < moments.size() && moments[next].call == calls) {
            p.moments += booted(h) == 0;
            h.dispt(V::opMainsChanged, 0, 0);
            if (moments[next].block > 0) {
                block = moments[next].block;
                h.dispt(V::opSetBlockSize, 0, block);
            }
            h.dispt(V::opMainsChanged, 0, 1);
            ++next;
        }
        float* ip[2];
        float* op[2];
        for (int c = 0; c < 2; ++c) {
            in[c].resize(std::size_t(block));
            out[c].assign(std::size_t(block), 0.0f);
            for (int k = 0; k < block; ++k) in[c][std::size_t(k)] = chord(c, frames + k);
            ip[c] = in[c].data();
            op[c] = out[c].data();
        }
        // Real time while the boot runs; what follows is only looked at.
        if (until == kLongest)
            std::this_thread::sleep_until(start +
                                          std::chrono::microseconds(frames * 1000000L / kRate));
        e->processReplacing(e, ip, op, block);
        for (int c = 0; c < 2; ++c) {
            p.in[std::size_t(c)].insert(p.in[std::size_t(c)].end(), in[c].begin(), in[c].end());
            p.out[std::size_t(c)].insert(p.out[std::size_t(c)].end(), out[c].begin(), out[c].end());
        }
        frames += block;
        if (until == kLongest && booted(h) != 0)
            until = frames + p.delay + kEngineBlock + kRate / 2;
    }
    EXPECT_EQ(booted(h), 1);
    EXPECT_EQ(h.getdl(), p.delay);
    return p;
}

TEST(PluginFirstBootTest, TheOutputGoesOnceFromTheDelayedInputToTheProgram) {
    PluginRig rig;
    struct Row {
        int block;
        std::vector<Moment> moments;
    } const rows[] = {
        {1024, {{2, 0}, {9, 512}, {16, 1024}}},
        {1024, {{1, 256}, {6, 0}, {12, 2048}, {20, 0}}},
        {512, {{3, 0}, {10, 0}, {18, 1024}}},
    };
    for (Row const& row : rows) {
        // A new installation each time; its first boot slowed to one step
        // a display period, 60 ms.
        ASSERT_TRUE(
            rig.settings({{"DSPBUFFER", ""}, {"FASTBOOT", ""}, {"GUIRATE", "60000"}, kDiagnosed}));
        Played const p = play(rig, row.block, row.moments);
        SCOPED_TRACE(row.block);
        EXPECT_EQ(p.moments, int(row.moments.size())); // all while the boot ran
        long const delay = p.delay;
        ASSERT_GT(delay, 0);

        long const n = long(p.in[0].size());
        auto dry = [&](int c, long k) {
            return k >= delay ? p.in[std::size_t(c)][std::size_t(k - delay)] : 0.0f;
        };
        auto same = [&](long k) {
            return p.out[0][std::size_t(k)] == dry(0, k) && p.out[1][std::size_t(k)] == dry(1, k);
        };
        long s = 0; // the program's first frame
        while (s < n && same(s)) ++s;
        ASSERT_LT(s, n) << "the program never played";
        EXPECT_GT(s, delay); // the delayed chord came first
        for (long b = s + kEngineBlock; b + row.block <= n; b += row.block) {
            bool differs = false;
            for (long k = b; k < b + row.block && !differs; ++k) differs = !same(k);
            ASSERT_TRUE(differs) << "dry again at frame " << b << ", the program from " << s;
        }
        // No silent window where the delayed input sounds.
        long silent = 0; // frames of silence up to here
        for (long k = 1; k < n; ++k) {
            silent = p.out[0][std::size_t(k)] == 0.0f && p.out[1][std::size_t(k)] == 0.0f
                         ? silent + 1
                         : 0;
            ASSERT_FALSE(silent >= kWindow && k >= delay)
                << "silence from frame " << k - silent + 1 << ", the program from " << s;
        }
    }
}

} // namespace
