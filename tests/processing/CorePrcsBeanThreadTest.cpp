// ctest-labels: threads
// The property bus while audio runs: the setters that move block timing take
// both engine locks between host calls, and the host's parameter reads and
// writes (156, 229 to 231) run beside program loads (88) and the GUI-rate
// update (241) without waiting on them.
#include "processing/CorePrcs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/processing/CorePrcsPeek.h"

namespace {

class CorePrcsBeanThreadTest : public ::testing::Test, protected EngineKit {};

// Host calls of 64 frames until stop, on the caller's thread.
void audio(CorePrcs& e, std::atomic<bool> const& stop, std::atomic<int>& calls) {
    std::vector<float> in[2], out[2];
    for (int c = 0; c < 2; ++c) {
        in[c].assign(64, 0.25f);
        out[c].assign(64, 0.0f);
    }
    void* ins[2] = {in[0].data(), in[1].data()};
    void* outs[2] = {out[0].data(), out[1].data()};
    while (!stop.load()) {
        e.prcss(ins, outs, 64, true, 0, 120.0, false, 2);
        calls.fetch_add(1);
    }
}

} // namespace

TEST_F(CorePrcsBeanThreadTest, TimingSettersAndHostParametersRunBesideAudio) {
    for (char const* threads : {"0", "1"}) {
        kit.master("", {{"DSPBUFFER", "256"}, {"THREADS", threads}, {"HDIMMAX", "3"}});
        auto e = make();
        CorePrcsPeek p{*e};
        p.setstep(64, 64);
        p.booted();
        e->smpby(false, 0, true, false);
        CorePrcs::BEANSTRUCT none{0, 0};
        CorePrcs::BEANSTRUCT control{2, 0};
        e->setbd(191, 0.0, &control);

        std::atomic<bool> stop{false};
        std::atomic<int> calls{0};
        std::thread host(audio, std::ref(*e), std::cref(stop), std::ref(calls));
        while (calls.load() < 10) std::this_thread::yield(); // audio is running
        std::thread ui([&] {
            for (int i = 0; i < 200 && !stop.load(); ++i) {
                CorePrcs::BEANSTRUCT c{i % 10, 0};
                e->setbd(156, (i % 7) / 7.0, &c);
                e->getbd(156, &c);
                for (int id : {229, 230, 231}) e->getbs(id, &c);
                e->setbv(241, &none);
                e->setbi(88, i % 3, &none);
            }
        });
        // Every setter runs between host calls: audio keeps going throughout.
        for (int i = 0; i < 40; ++i) {
            int const before = calls.load();
            while (calls.load() == before) std::this_thread::yield();
            e->setbl(10, 2000 + 1000 * (i % 3), &none);
            e->setbb(24, i % 2 == 0, &none);
            e->setbb(35, i % 2 == 1, &none);
            e->setbi(44, i % 2 == 0 ? 48000 : 44100, &none);
            e->setbh(45, static_cast<short>(1 + i % 2), &none);
            e->setbl(52, 3000 + 1000 * (i % 2), &none);
            e->setbh(54, static_cast<short>(i % 2), &none);
            e->setbh(55, static_cast<short>(i % 3), &none);
        }
        ui.join();
        stop.store(true);
        host.join();
        EXPECT_EQ(e->getbl(52, &none), 4000) << threads; // the last write stands
        EXPECT_EQ(e->getbi(44, &none), 44100) << threads;
        EXPECT_EQ(e->getbh(45, &none), 2) << threads;
    }
}
