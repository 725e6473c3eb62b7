// A host playing through a new installation's first boot in real time, with
// suspends, resumes and block-size calls while the boot runs: the output is
// the delayed input until the program plays, then the program, which carries
// the input the bypass held from its first frame (no stretch of silence, no
// build-up from nothing) and never returns to the dry input.
// Not in the ThreadSanitizer pass, for the reason the shell test gives: the
// host's rate and block-size calls still race with the control thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "plugin/CorePrvt.h"
#include "tests/plugin/PluginRig.h"
#include "tools/CoreHost.h"

using V = PlatVst;

TEST(PluginFirstBootTest, TheOutputGoesOnceFromTheDelayedInputToTheProgram) {
    // Frames: a second; a boot not over by the longest failed.
    constexpr std::size_t kRate = 44100, kLongest = 60 * kRate;
    PluginRig rig;
    struct Row {
        std::size_t block; // at first
        // After this many process calls the host suspends, gives this block size (not 0), resumes.
        std::vector<std::pair<std::size_t, std::size_t>> moments;
    } const rows[] = {{1024, {{2, 0}, {9, 512}, {16, 1024}}},
                      {1024, {{1, 256}, {6, 0}, {12, 2048}, {20, 0}}},
                      {512, {{3, 0}, {10, 0}, {18, 1024}}}};
    for (Row const& row : rows) {
        SCOPED_TRACE(&row - rows);
        // A new installation each time; its first boot slowed to one step a 60 ms period.
        ASSERT_TRUE(
            rig.settings({{"DSPBUFFER", ""}, {"FASTBOOT", ""}, {"GUIRATE", "60000"}, kDiagnosed}));
        CoreHost h(rig.path(), int(kRate), int(row.block));
        CorePrvt::CALL boot{CorePrvt::iCboot};
        auto booted = [&] { return h.dispt(V::opVendorSpecific, CorePrvt::iCtag, 0, &boot); };
        h.setlv(V::levelRealtime);
        h.start();
        auto const delay = std::size_t(h.getdl());
        // Two sines, never silent for a window, played in real time until the boot ends, then
        // on for the delay, an engine block and 0.5 s; in as it sounds delayed.
        std::vector<std::vector<float>> in(2, std::vector<float>(kLongest + 2 * kRate)), out = in;
        for (std::size_t k = delay; k < in[0].size(); ++k)
            for (std::size_t c = 0; c < 2; ++c)
                in[c][k] = float(std::sin(0.06 * double(k - delay) + double(c)));
        auto const start = std::chrono::steady_clock::now();
        std::size_t n = 0, until = kLongest, block = row.block, next = 0;
        for (std::size_t calls = 0; n < until; ++calls, n += block) {
            if (next < row.moments.size() && row.moments[next].first == calls) {
                EXPECT_EQ(booted(), 0) << calls; // while the boot runs
                h.dispt(V::opMainsChanged, 0, 0);
                if (row.moments[next].second > 0)
                    h.dispt(V::opSetBlockSize, 0, std::intptr_t(block = row.moments[next].second));
                h.dispt(V::opMainsChanged, 0, 1);
                ++next;
            }
            float* ip[2] = {&in[0][n + delay], &in[1][n + delay]};
            float* op[2] = {&out[0][n], &out[1][n]};
            if (until == kLongest)
                std::this_thread::sleep_until(start +
                                              std::chrono::microseconds(n * 1000000 / kRate));
            h.getef()->processReplacing(h.getef(), ip, op, std::int32_t(block));
            if (until == kLongest && booted() != 0) until = n + block + delay + 8192 + kRate / 2;
        }
        EXPECT_EQ(booted(), 1);
        EXPECT_EQ(std::size_t(h.getdl()), delay);
        auto same = [&](std::size_t k) { return out[0][k] == in[0][k] && out[1][k] == in[1][k]; };
        std::size_t s = 0; // the program's first frame
        while (s < n && same(s)) ++s;
        ASSERT_LT(s, n);
        EXPECT_GT(s, delay); // the delayed input came first
        // No run of 16 frames silent while the input sounds, none dry past the program's first
        // engine block; from the switch on, each 256 frames reach half the peak 0.5 s later.
        auto peak = [&](std::size_t k, std::size_t frames, std::vector<std::vector<float>>& x) {
            float top = 0;
            for (std::size_t i = k; i < k + frames; ++i)
                top = std::max({top, std::fabs(x[0][i]), std::fabs(x[1][i])});
            return top;
        };
        for (std::size_t k = delay, silent = 0, dry = 0; k < n; ++k) {
            silent = peak(k, 1, out) < 1e-6f && peak(k, 1, in) > 0.01f ? silent + 1 : 0;
            dry = k >= s + 8192 && same(k) ? dry + 1 : 0;
            ASSERT_TRUE(silent < 16 && dry < row.block) << k << ", the program from " << s;
        }
        for (std::size_t k = s; k + 256 + kRate / 2 <= n; k += 256)
            ASSERT_GE(peak(k, 256, out), 0.5f * peak(k + kRate / 2, 256, out))
                << k << ", the program from " << s;
    }
}
