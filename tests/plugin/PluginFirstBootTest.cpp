// A host playing through a new installation's first boot in real time, with
// suspends, resumes and block-size calls while the boot runs: the output is
// the delayed input until the program plays, then the program, which carries
// the input the bypass held from its first frame (no stretch of silence, no
// build-up from nothing) and never returns to the dry input. The calls the
// plug-in counts as dropped at their bound (the boot's program load holds the
// bypass lock while it plans the convolvers, on a loaded machine longer than a
// call) are cut out of input and output before those checks.
// Not in the ThreadSanitizer pass, for the reason the shell test gives: the
// host's rate and block-size calls still race with the control thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

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
    // The host's input: two sines, never silent for a window; made before the instance opens,
    // so the boot is not half over when the first call comes.
    std::vector<std::vector<float>> x(2, std::vector<float>(kLongest + 2 * kRate));
    for (std::size_t k = 0; k < x[0].size(); ++k)
        for (std::size_t c = 0; c < 2; ++c) x[c][k] = float(std::sin(0.06 * double(k) + double(c)));
    for (Row const& row : rows) {
        SCOPED_TRACE(&row - rows);
        // A new installation each time; its first boot slowed to one step a 60 ms period.
        ASSERT_TRUE(
            rig.settings({{"DSPBUFFER", ""}, {"FASTBOOT", ""}, {"GUIRATE", "60000"}, kDiagnosed}));
        Played played(rig, int(kRate));
        CoreHost h(rig.path(), int(kRate), int(row.block));
        CorePrvt::CALL boot{CorePrvt::iCboot};
        auto booted = [&] { return h.dispt(V::opVendorSpecific, CorePrvt::iCtag, 0, &boot); };
        h.setlv(V::levelRealtime);
        h.start();
        auto const delay = std::size_t(h.getdl());
        // Played in real time until the boot ends, then on for the delay, an engine block and
        // 0.5 s.
        std::vector<std::vector<float>> out(2, std::vector<float>(x[0].size()));
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
            float* ip[2] = {&x[0][n], &x[1][n]};
            float* op[2] = {&out[0][n], &out[1][n]};
            if (until == kLongest)
                std::this_thread::sleep_until(start +
                                              std::chrono::microseconds(n * 1000000 / kRate));
            played.call(block, op, [&] {
                h.getef()->processReplacing(h.getef(), ip, op, std::int32_t(block));
            });
            if (until == kLongest && booted() != 0) until = n + block + delay + 8192 + kRate / 2;
        }
        EXPECT_EQ(booted(), 1);
        EXPECT_EQ(std::size_t(h.getdl()), delay);
        h.close();                       // the plug-in's count of dropped calls complete
        for (auto& o : out) o.resize(n); // the frames played
        // What was heard: the output is the input delayed until the program plays, which
        // carries the input the bypass held from its first frame (no run of 16 frames silent
        // while the input sounds, none dry past the program's first engine block); from the
        // switch on, each 256 frames reach half the peak 0.5 s later.
        auto fault = [&](std::vector<bool> const& cut) -> std::string {
            auto const o = played.heard(out, cut), i = played.heard(x, cut);
            std::size_t const m = o[0].size();
            auto in = [&](std::size_t c, std::size_t k) {
                return k < delay ? 0.0f : i[c][k - delay];
            };
            auto same = [&](std::size_t k) { return o[0][k] == in(0, k) && o[1][k] == in(1, k); };
            auto peak = [&](std::size_t k, std::size_t frames) {
                float top = 0;
                for (std::size_t j = k; j < k + frames; ++j)
                    top = std::max({top, std::fabs(o[0][j]), std::fabs(o[1][j])});
                return top;
            };
            std::size_t s = 0; // the program's first frame
            while (s < m && same(s)) ++s;
            if (s >= m || s <= delay) return "the program from " + std::to_string(s);
            for (std::size_t k = delay, silent = 0, dry = 0; k < m; ++k) {
                bool const sounds = std::max(std::fabs(in(0, k)), std::fabs(in(1, k))) > 0.01f;
                silent = peak(k, 1) < 1e-6f && sounds ? silent + 1 : 0;
                dry = k >= s + 8192 && same(k) ? dry + 1 : 0;
                if (silent >= 16 || dry >= row.block)
                    return std::to_string(k) + " silent or dry, the program from " +
                           std::to_string(s);
            }
            for (std::size_t k = s; k + 256 + kRate / 2 <= m; k += 256)
                if (peak(k, 256) < 0.5f * peak(k + kRate / 2, 256))
                    return std::to_string(k) + " builds up, the program from " + std::to_string(s);
            return "";
        };
        EXPECT_TRUE(played.holds(played.counted(), fault));
    }
}
