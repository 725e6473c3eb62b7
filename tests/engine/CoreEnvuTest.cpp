#include "engine/CoreEnvu.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include <unistd.h>

#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreWave.h"
#include "storage/CoreWvfr.h"
#include "tests/support/LogCapture.h"
#include "tests/support/WavBytes.h"

namespace {

namespace fs = std::filesystem;
double const kPi = 3.14159265358979323846;

// A 32-bit float WAV file at 44.1 kHz; frames[k] holds one value per channel.
std::string floatWav(std::vector<std::vector<float>> const& frames, int channels) {
    WavBytes wav;
    wav.channels.resize(channels);
    for (auto const& frame : frames)
        for (int c = 0; c < channels; ++c) wav.channels[c].push_back(frame[c]);
    return wavBytes(wav);
}

class CoreEnvuTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("envu-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
        items = new CoreFsys(&pool, CoreAnsx((folder.string() + "/").c_str()), false);
    }
    void TearDown() override {
        delete items;
        fs::remove_all(folder);
    }
    void write(std::string const& name, std::string const& bytes) {
        std::ofstream(folder / name, std::ios::binary) << bytes;
    }
    std::vector<double> samples(CoreEnvu& loader) {
        CoreWave* wave = loader.getim();
        if (wave == nullptr) return {};
        EXPECT_EQ(wave->getch(), 1);
        return std::vector<double>(wave->getwv(0), wave->getwv(0) + wave->getdm());
    }

    CorePool pool;
    CoreFsys* items = nullptr;
    fs::path folder;
};

} // namespace

TEST_F(CoreEnvuTest, NumberListsAreReadWhateverTheCaseOfTheExtension) {
    write("UPPER.CSV", "0.5;\n-0.25;\n1e-3;\n");
    write("lower.csv", "2;\n-3.5;\n");
    CoreEnvu loader(&pool, items);
    EXPECT_EQ(loader.open_("UPPER.CSV"), 3);
    EXPECT_EQ(samples(loader), (std::vector<double>{0.5, -0.25, 0.001}));
    EXPECT_EQ(loader.open_("lower.csv"), 2);
    EXPECT_EQ(samples(loader), (std::vector<double>{2.0, -3.5}));
}

TEST_F(CoreEnvuTest, WavFilesGiveTheirOnlyOrTheirSecondChannel) {
    write("mono.wav", floatWav({{0.5f}, {-0.25f}, {0.125f}, {1.0f}}, 1));
    write("stereo.WAV", floatWav({{0.5f, -0.75f}, {0.25f, 0.375f}, {-1.0f, 0.0625f}}, 2));
    // No extension at all is a WAV file too.
    write("NOEXT", floatWav({{0.5f}, {0.5f}}, 1));
    CoreEnvu loader(&pool, items);
    EXPECT_EQ(loader.open_("mono.wav"), 4);
    EXPECT_EQ(samples(loader), (std::vector<double>{0.5, -0.25, 0.125, 1.0}));
    EXPECT_EQ(loader.open_("stereo.WAV"), 3);
    EXPECT_EQ(samples(loader), (std::vector<double>{-0.75, 0.375, 0.0625}));
    EXPECT_EQ(loader.open_("NOEXT"), 2);
    EXPECT_EQ(samples(loader), (std::vector<double>{0.5, 0.5}));
}

TEST_F(CoreEnvuTest, SecondOpenReplacesTheWaveAndCloseEmpties) {
    write("A.CSV", "1;\n2;\n3;\n");
    write("B.WAV", floatWav({{0.5f}, {0.25f}, {0.125f}, {0.0625f}, {1.0f}}, 1));
    CoreEnvu loader(&pool, items);

    // Closing a loader that holds nothing does nothing, twice.
    loader.close();
    loader.close();
    EXPECT_EQ(loader.getim(), nullptr);

    ASSERT_EQ(loader.open_("A.CSV"), 3);
    long const withFirst = pool.getma();
    ASSERT_EQ(loader.open_("B.WAV"), 5);
    EXPECT_EQ(loader.getim()->getdm(), 5);
    EXPECT_EQ(samples(loader).back(), 1.0);
    ASSERT_EQ(loader.open_("A.CSV"), 3);
    EXPECT_EQ(samples(loader), (std::vector<double>{1.0, 2.0, 3.0}));
    // The replaced waves went back to the pool; only the store's copy of
    // each file stays.
    long bytesOfB = 0;
    void* data = nullptr;
    bytesOfB = items->getco(items->getit("B.WAV"), &data) + CorePool::iCoverhead;
    EXPECT_EQ(pool.getma(), withFirst + bytesOfB);

    loader.close();
    EXPECT_EQ(loader.getim(), nullptr);
}

TEST_F(CoreEnvuTest, FilesThatCannotBeReadGiveZeroAndNoWave) {
    write("GOOD.CSV", "1;\n");
    write("GARBAGE.WAV", "this is not a riff file at all, not even close");
    std::string cut = floatWav({{0.5f}, {0.25f}, {0.125f}}, 1);
    write("CUT.WAV", cut.substr(0, cut.size() - 5)); // data runs past the end
    write("EMPTY.CSV", "");
    write("LIST.TXT", "1;\n2;\n");     // a number list under another extension is a WAV
    write("NOEND.CSV", "0.5\n0.25\n"); // no value ends with ";"
    CoreEnvu loader(&pool, items);
    LogCapture log;
    for (char const* name : {"GARBAGE.WAV", "CUT.WAV", "EMPTY.CSV", "LIST.TXT", "MISSING.WAV",
                             "MISSING.CSV", "NOEND.CSV"}) {
        ASSERT_EQ(loader.open_("GOOD.CSV"), 1);
        EXPECT_EQ(loader.open_(name), 0) << name;
        EXPECT_EQ(loader.getim(), nullptr) << name;
    }
    EXPECT_EQ(LogCapture::count(log.text(), "\"NOEND.CSV\": holds no value"), 1) << log.text();
}

TEST_F(CoreEnvuTest, FailureAfterTheLengthIsKnownLeavesNothingBehind) {
    std::vector<std::vector<float>> frames(4000, std::vector<float>{0.5f});
    write("LONG.WAV", floatWav(frames, 1));
    long const base = pool.getma();
    long readerBytes = 0;
    {
        CoreWvfr probe(&pool, items, true);
        readerBytes = pool.getma() - base;
    }
    // The reader's blocks and the file's bytes still fit; the wave does not.
    pool.setal(base + readerBytes);
    CoreEnvu loader(&pool, items);
    EXPECT_EQ(loader.open_("LONG.WAV"), 0);
    EXPECT_EQ(loader.getim(), nullptr);
    pool.setal(LONG_MAX);
    items->init_();
    EXPECT_EQ(pool.getma(), base);

    EXPECT_EQ(loader.open_("LONG.WAV"), 4000);
    ASSERT_NE(loader.getim(), nullptr);
}

TEST(CoreEnvuStart, FindsTheFirstSampleThirtyDecibelsAboveTheFloor) {
    std::vector<double> x(200, 1e-4); // -80 dB
    x[50] = -0.9;                     // negative samples count as silence
    x[100] = 0.01;                    // -40 dB: only 20 dB above the floor
    x[101] = 0.05;                    // -26 dB
    x[150] = 0.5;
    int start = 0;
    CoreEnvu::tstrt(x.data(), 200, start);
    EXPECT_EQ(start, 101);
    start = 102;
    CoreEnvu::tstrt(x.data(), 200, start);
    EXPECT_EQ(start, 150);
    start = 151;
    CoreEnvu::tstrt(x.data(), 200, start);
    EXPECT_EQ(start, 200);
    start = 0;
    std::vector<double> silent(10, 0.0);
    CoreEnvu::tstrt(silent.data(), 10, start);
    EXPECT_EQ(start, 10);
}

TEST(CoreEnvuTone, SineAndSquareFollowThePeriod) {
    // 1000 us at 48 kHz: 48 samples per period.
    std::vector<double> out(100, 7.0);
    double amplitude = 0.8;
    int position = 0;
    CoreEnvu::ctone(nullptr, 2, 1000, 48000, out.data(), position, 48, amplitude);
    EXPECT_EQ(position, 48);
    EXPECT_EQ(out[0], 0.0);
    EXPECT_NEAR(out[12], 0.8, 1e-12);
    EXPECT_NEAR(out[36], -0.8, 1e-12);
    EXPECT_NEAR(out[8], 0.8 * std::sin(8.0 * kPi / 24.0), 1e-12);
    EXPECT_EQ(out[48], 7.0);

    CoreEnvu::ctone(nullptr, 0, 1000, 48000, out.data(), position, 96, amplitude);
    EXPECT_EQ(position, 96);
    EXPECT_EQ(out[48 + 5], 0.8);   // i = 53: 5 samples into a period
    EXPECT_EQ(out[48 + 30], -0.8); // second half of the period
    EXPECT_EQ(out[96], 7.0);
    position = 0;
    CoreEnvu::ctone(nullptr, 0, 1000, 48000, out.data(), position, 1, amplitude);
    EXPECT_EQ(out[0], 0.0); // the sine is 0 there

    // Unknown types leave the samples alone but still move on.
    std::vector<double> keep(10, 7.0);
    position = 2;
    CoreEnvu::ctone(nullptr, 9, 1000, 48000, keep.data(), position, 6, amplitude);
    EXPECT_EQ(position, 6);
    EXPECT_EQ(keep, std::vector<double>(10, 7.0));

    // Noise stays within the amplitude; a zero period is silence, not NaN.
    std::vector<double> noise(500, 0.0);
    position = 0;
    CoreEnvu::ctone(nullptr, 1, 1000, 48000, noise.data(), position, 500, amplitude);
    double peak = 0.0;
    for (double v : noise) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 0.1);
    EXPECT_LT(peak, 0.81);
    position = 0;
    CoreEnvu::ctone(nullptr, 2, 0, 48000, noise.data(), position, 10, amplitude);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(noise[i], 0.0);
}

TEST_F(CoreEnvuTest, NonFiniteWavSamplesBecomeZeroWhileLargeValuesStay) {
    float const inf = std::numeric_limits<float>::infinity();
    write("bad.wav", floatWav({{0.5f}, {std::nanf("")}, {inf}, {-inf}, {4.0f}}, 1));
    CoreEnvu loader(&pool, items);
    EXPECT_EQ(loader.open_("bad.wav"), 5);
    EXPECT_EQ(samples(loader), (std::vector<double>{0.5, 0.0, 0.0, 0.0, 4.0}));
}
