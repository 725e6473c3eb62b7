#include "engine/CoreCubr.h"

#include "engine/CoreOpti.h"

#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

// The stand-in bridges are built by tests/modules/testbridge, which hands
// their paths to every test under tests/engine.
#ifndef VORLAN_TESTBRIDGE
#error "the test bridge paths come from tests/modules/testbridge"
#endif

namespace {

bool noEntryPoints(const CoreCubr& c) {
    return c.cudabridge_devcs == nullptr && c.cudabridge_versn == nullptr &&
           c.cudabridge_mallc == nullptr && c.cudabridge_exect == nullptr &&
           c.cudabridge_cnm17 == nullptr && c.cudabridge_avvmx == nullptr;
}

TEST(CoreCubr, FixedPlacesAreTheProductFrameworkFiles) {
    EXPECT_STREQ(CoreCubr::bCfilename[0],
                 "/Library/Frameworks/Vorlan.framework/Versions/1.0/bin/Pelgra03.dylib");
    EXPECT_STREQ(CoreCubr::bCfilename[1],
                 "/Library/Frameworks/Vorlan.framework/Versions/1.0/bin/Pelgra01.dylib");
    EXPECT_EQ(CoreCubr::iCversionlength, 256);
    CoreCubr c; // on this platform neither file exists
    EXPECT_FALSE(c.start());
    EXPECT_TRUE(noEntryPoints(c));
}

TEST(CoreCubr, MissingLibraryIsTriedOnceAndStaysUnloaded) {
    CoreCubr c;
    c.setpl({CoreAnsx("/nonexistent/bridge-a.so"), CoreAnsx("/nonexistent/bridge-b.so")});
    EXPECT_FALSE(c.gettr());
    EXPECT_FALSE(c.start());
    EXPECT_TRUE(c.gettr());
    EXPECT_FALSE(c.getld());
    // Idempotent: a bridge installed later is not looked for again.
    c.setpl({CoreAnsx(VORLAN_TESTBRIDGE)});
    EXPECT_FALSE(c.start());
    EXPECT_TRUE(c.gettr());
    c.initd(0); // nothing to make ready
    EXPECT_FALSE(c.getin());
    c.stopd();
    c.stop_();
    EXPECT_TRUE(noEntryPoints(c));
}

TEST(CoreCubr, TestBridgeLoadsThroughTheOverrideAndReportsItsVersion) {
    LogCapture log;
    CoreCubr c;
    // The first place does not exist; the second is taken.
    c.setpl({CoreAnsx("/nonexistent/bridge.so"), CoreAnsx(VORLAN_TESTBRIDGE)});
    ASSERT_TRUE(c.start());
    EXPECT_TRUE(c.getld());
    EXPECT_TRUE(c.start());
    ASSERT_NE(c.cudabridge_devcs, nullptr);
    EXPECT_EQ(c.cudabridge_devcs(), 1);
    char version[CoreCubr::iCversionlength] = {};
    c.cudabridge_versn(version);
    EXPECT_STREQ(version, "test bridge 1.0 (CPU)");
    // Status and version text are both logged.
    const std::string text = log.text();
    EXPECT_NE(text.find("test bridge: usable"), std::string::npos) << text;
    EXPECT_NE(text.find("test bridge 1.0 (CPU)"), std::string::npos) << text;

    EXPECT_FALSE(c.getin());
    c.initd(0);
    EXPECT_TRUE(c.getin());
    c.stopd();
    EXPECT_FALSE(c.getin());
    c.stop_();
    EXPECT_FALSE(c.getld());
    EXPECT_TRUE(noEntryPoints(c));
    EXPECT_FALSE(c.start()); // stays stopped
}

int deviceStops = 0;
void countStop() { ++deviceStops; }

// Closing the library must not leave a device running on code that is gone:
// a device made ready and not yet stopped is stopped first, exactly once.
TEST(CoreCubr, ClosingStopsADeviceStillReady) {
    deviceStops = 0;
    {
        CoreCubr c;
        c.setpl({CoreAnsx(VORLAN_TESTBRIDGE)});
        ASSERT_TRUE(c.start());
        c.cudabridge_stop_ = &countStop;
        c.initd(0);
        ASSERT_TRUE(c.getin());
        c.stop_();
        EXPECT_EQ(deviceStops, 1);
        EXPECT_FALSE(c.getin());
        c.stopd(); // nothing left to stop
        EXPECT_EQ(deviceStops, 1);
    }
    EXPECT_EQ(deviceStops, 1);

    deviceStops = 0;
    {
        CoreCubr c;
        c.setpl({CoreAnsx(VORLAN_TESTBRIDGE)});
        ASSERT_TRUE(c.start());
        c.cudabridge_stop_ = &countStop;
        c.initd(0);
    } // the destructor closes the library
    EXPECT_EQ(deviceStops, 1);

    deviceStops = 0;
    {
        CoreCubr c; // loaded but never made ready: nothing to stop
        c.setpl({CoreAnsx(VORLAN_TESTBRIDGE)});
        ASSERT_TRUE(c.start());
        c.cudabridge_stop_ = &countStop;
    }
    EXPECT_EQ(deviceStops, 0);
}

TEST(CoreCubr, IncompleteOrUnusableBridgesAreRefused) {
    {
        LogCapture log;
        CoreCubr c;
        c.setpl({CoreAnsx(VORLAN_TESTBRIDGE_MISSING)});
        EXPECT_FALSE(c.start());
        EXPECT_FALSE(c.getld());
        EXPECT_TRUE(noEntryPoints(c));
        EXPECT_NE(log.text().find("cudabridge_exect"), std::string::npos) << log.text();
    }
    {
        CoreCubr c;
        c.setpl({CoreAnsx(VORLAN_TESTBRIDGE_UNUSABLE)});
        EXPECT_FALSE(c.start());
        EXPECT_FALSE(c.getld());
        EXPECT_TRUE(noEntryPoints(c));
    }
    {
        // Loaded, but with no device: the engines read the count and fall back.
        CoreCubr c;
        c.setpl({CoreAnsx(VORLAN_TESTBRIDGE_NODEVICE)});
        ASSERT_TRUE(c.start());
        EXPECT_EQ(c.cudabridge_devcs(), 0);
    }
}

// The bridge's transforms with the CPU multiply-accumulate in between give the
// linear convolution, as the FFT-on-bridge engine uses them.
TEST(CoreCubr, BridgeTransformsAndMaacfConvolve) {
    CoreCubr c;
    c.setpl({CoreAnsx(VORLAN_TESTBRIDGE)});
    ASSERT_TRUE(c.start());
    const int N = 16, M = N / 2 + 1;
    float* x = nullptr;
    float* h = nullptr;
    float* acc = nullptr;
    ASSERT_TRUE(c.cudabridge_mallc(reinterpret_cast<void**>(&x), M * 8));
    ASSERT_TRUE(c.cudabridge_mallc(reinterpret_cast<void**>(&h), M * 8));
    ASSERT_TRUE(c.cudabridge_mallc(reinterpret_cast<void**>(&acc), M * 8));
    PlatBridge::Handle fx = nullptr, fh = nullptr, inv = nullptr;
    ASSERT_TRUE(c.cudabridge_plan_(N, x, x, -1, 1, &fx));
    ASSERT_TRUE(c.cudabridge_plan_(N, h, h, -1, 1, &fh));
    ASSERT_TRUE(c.cudabridge_plan_(N, acc, acc, 1, 1, &inv));
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<double> xs(8), hs(8);
    for (int i = 0; i < 8; ++i) x[i] = static_cast<float>(xs[i] = d(rng));
    for (int i = 0; i < 8; ++i) h[i] = static_cast<float>(hs[i] = d(rng));
    c.cudabridge_exect(fx);
    c.cudabridge_exect(fh);
    maacf(M, x, h, acc);
    c.cudabridge_exect(inv);
    for (int n = 0; n < 15; ++n) {
        double y = 0.0;
        for (int k = 0; k < 8; ++k)
            if (n - k >= 0 && n - k < 8) y += hs[k] * static_cast<float>(xs[n - k]);
        EXPECT_NEAR(acc[n] / N, y, 1e-5) << n;
    }
    EXPECT_EQ(acc[N], 0.0f); // the two values past the N reals are zero
    EXPECT_EQ(acc[N + 1], 0.0f);
    for (auto p : {fx, fh, inv}) c.cudabridge_despl(p);
    for (auto p : {x, h, acc}) c.cudabridge_free_(p);
}

// The whole-convolution entry points give the direct convolution block by
// block, and the right channel clears the kernel-changed flag.
TEST(CoreCubr, BridgeWholeConvolutionMatchesNaive) {
    CoreCubr c;
    c.setpl({CoreAnsx(VORLAN_TESTBRIDGE)});
    ASSERT_TRUE(c.start());
    const int B = 4, T = 10, L = 8, N = 16, P = 2;
    const std::int32_t params[7] = {P, B, N, N / 2 + 1, T, L, N};
    PlatBridge::Handle state = nullptr;
    ASSERT_TRUE(c.cudabridge_op32p(params, &state));
    std::mt19937 rng(22);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<double> kern(T), x(40), y(40);
    for (double& v : kern) v = d(rng);
    for (double& v : x) v = d(rng);
    std::vector<double> ring(3 * N, 0.0);
    bool changed = true;
    for (int k = 0; k < 40; k += B) {
        c.cudabridge_cnm15(state, &x[k], &y[k], kern.data(), ring.data(), N, 0, &changed);
        EXPECT_TRUE(changed);
        std::vector<double> right(B);
        c.cudabridge_cnm15(state, &x[k], right.data(), kern.data(), ring.data(), N, 1, &changed);
        EXPECT_FALSE(changed);
        changed = true;
    }
    for (int n = 0; n < 40; ++n) {
        double ref = 0.0;
        for (int k = 0; k < T; ++k)
            if (n - k >= 0) ref += kern[k] * x[n - k];
        EXPECT_NEAR(y[n], ref, 1e-12) << n;
    }
    c.cudabridge_op32d(state);
}

} // namespace
