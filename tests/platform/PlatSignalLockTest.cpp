// ctest-labels: threads
// Several threads plan, run and destroy transforms at once, as several
// plug-in instances loading together do; every result must stay exact.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "platform/PlatSignalFft.h"
#include "platform/PlatSignalHilb.h"
#include "platform/PlatSignalType.h"

TEST(PlatSignalLock, ConcurrentPlanningAndTransformsStayCorrect) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int id = 0; id < 4; ++id) {
        threads.emplace_back([id, &failures] {
            for (int round = 0; round < 40; ++round) {
                const int order = 3 + (id + round) % 8, n = 1 << order;
                std::unique_ptr<PlatSignalFft<double>> fft(
                    PlatSignalFft<double>::create(order, IPP_FFT_DIV_INV_BY_N));
                std::unique_ptr<PlatSignalFft<float>> fftf(
                    PlatSignalFft<float>::create(order, IPP_FFT_DIV_FWD_BY_N));
                std::unique_ptr<PlatSignalHilb> hil(PlatSignalHilb::create(n));
                if (!fft || !fftf || !hil) {
                    ++failures;
                    continue;
                }
                std::vector<double> x(n);
                for (int i = 0; i < n; ++i) x[i] = std::sin(0.3 * i + id);
                std::vector<double> v = x;
                fft->forwardToPack(v.data(), v.data(), nullptr);
                fft->inverseFromPack(v.data(), v.data(), nullptr);
                for (int i = 0; i < n; ++i)
                    if (std::fabs(v[i] - x[i]) > 1e-12) {
                        ++failures;
                        break;
                    }
                std::vector<float> f(x.begin(), x.end());
                fftf->forwardToPack(f.data(), f.data(), nullptr);
                fftf->inverseFromPack(f.data(), f.data(), nullptr);
                for (int i = 0; i < n; ++i)
                    if (std::fabs(f[i] - float(x[i])) > 1e-5f) {
                        ++failures;
                        break;
                    }
                std::vector<float> c(n);
                for (int t = 0; t < n; ++t) c[t] = float(std::cos(6.283185307179586 * t / n));
                std::vector<Ipp32fc> z(n);
                hil->run(c.data(), z.data());
                for (int t = 0; t < n; ++t)
                    if (std::fabs(z[t].im - std::sin(6.283185307179586 * t / n)) > 1e-5) {
                        ++failures;
                        break;
                    }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

// One spec, two threads, no work buffers: each call must still see only its
// own data (the spec's scratch is not shared between concurrent calls).
TEST(PlatSignalLock, OneSpecUsedByTwoThreadsWithoutBuffersStaysExact) {
    constexpr int order = 12, n = 1 << order;
    std::unique_ptr<PlatSignalFft<double>> fft(
        PlatSignalFft<double>::create(order, IPP_FFT_DIV_INV_BY_N));
    ASSERT_TRUE(fft);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int id = 0; id < 2; ++id) {
        threads.emplace_back([id, &fft, &failures] {
            std::vector<double> x(n), v(n);
            for (int i = 0; i < n; ++i)
                x[i] = (id == 0) ? std::sin(0.01 * i) : 1000.0 + std::cos(0.7 * i);
            for (int round = 0; round < 300; ++round) {
                v = x;
                fft->forwardToPack(v.data(), v.data(), nullptr);
                fft->inverseFromPack(v.data(), v.data(), nullptr);
                for (int i = 0; i < n; ++i)
                    if (std::fabs(v[i] - x[i]) > 1e-9) {
                        ++failures;
                        break;
                    }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}
