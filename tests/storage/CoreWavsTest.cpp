// The in-memory WAV image: sizes, the overflow return of setdt, the image's
// bytes parsed by the test, and the file it writes matching the image.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "runtime/CorePool.h"
#include "storage/CoreWavs.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

uint32_t u32(std::vector<char> const& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | uint8_t(b[at + i]);
    return v;
}

TEST(CoreWavs, SizesAndOverflowReturn) {
    CorePool pool;
    CoreWavs image(&pool, 2, 44100, 10, false);
    EXPECT_EQ(image.getmd(), 138);
    std::vector<double> l(12), r(12);
    for (int k = 0; k < 12; ++k) {
        l[k] = k * 0.125;
        r[k] = -k * 0.25;
    }
    EXPECT_EQ(image.setdt(12, l.data(), r.data()), 10);
    EXPECT_EQ(image.setdt(1, l.data(), r.data()), 0);

    std::vector<char> b(size_t(image.getmd()) + 8, '\x55');
    image.wrtmm(b.data());
    EXPECT_EQ(std::string(b.data(), 4), "RIFF");
    EXPECT_EQ(u32(b, 4), 130u);
    EXPECT_EQ(std::string(b.data() + 8, 8), "WAVEfmt ");
    EXPECT_EQ(u32(b, 20) & 0xFFFF, 3u);
    EXPECT_EQ(u32(b, 24), 44100u);
    EXPECT_EQ(u32(b, 28), 44100u * 8);
    EXPECT_EQ(std::string(b.data() + 38, 4), "fact");
    EXPECT_EQ(u32(b, 46), 10u) << "frames";
    EXPECT_EQ(std::string(b.data() + 50, 4), "data");
    EXPECT_EQ(u32(b, 54), 80u);
    for (int k = 0; k < 10; ++k) {
        float fl, fr;
        std::memcpy(&fl, b.data() + 58 + 8 * k, 4);
        std::memcpy(&fr, b.data() + 62 + 8 * k, 4);
        EXPECT_EQ(fl, float(l[k]));
        EXPECT_EQ(fr, float(r[k]));
    }
    EXPECT_EQ(b[138], '\x55') << "nothing past getmd bytes";
}

TEST(CoreWavs, PartialFillsAndWideSamples) {
    CorePool pool;
    CoreWavs image(&pool, 1, 22050, 5, true);
    EXPECT_EQ(image.getmd(), 98);
    double v[3] = {0.1, 0.2, 0.3};
    EXPECT_EQ(image.setdt(3, v, nullptr), 3);
    EXPECT_EQ(image.setdt(3, v, nullptr), 2);
    EXPECT_EQ(image.setdt(3, v, nullptr), 0);
    std::vector<char> b(size_t(image.getmd()));
    image.wrtmm(b.data());
    double got[5];
    std::memcpy(got, b.data() + 58, sizeof got);
    EXPECT_EQ(got[0], 0.1);
    EXPECT_EQ(got[3], 0.1);
    EXPECT_EQ(got[4], 0.2);

    // Stereo without a right array: channel 1 is silent. An empty image is valid.
    CoreWavs stereo(&pool, 2, 44100, 2, false);
    EXPECT_EQ(stereo.setdt(2, v, nullptr), 2);
    CoreWavs empty(&pool, 2, 44100, 0, false);
    EXPECT_EQ(empty.getmd(), 58);
    EXPECT_EQ(empty.setdt(1, v, v), 0);
    // Sizes a WAV header cannot state are refused, not wrapped.
    EXPECT_THROW(CoreWavs(&pool, 2, 44100, 0x40000000L, true), CoreAnsx);
}

TEST(CoreWavs, WriteMatchesTheImageAndFailsCleanly) {
    CorePool pool;
    TempDir temp;
    std::string const dir = temp.path();
    CoreWavs image(&pool, 2, 48000, 100, true);
    std::vector<double> l(100, 0.5), r(100, -0.5);
    image.setdt(100, l.data(), r.data());
    std::vector<char> mem(size_t(image.getmd()));
    image.wrtmm(mem.data());

    std::string path = dir + "/out.wav";
    EXPECT_TRUE(image.write(path.c_str()));
    EXPECT_EQ(readBytes(path), std::string(mem.begin(), mem.end()));

    EXPECT_FALSE(image.write((dir + "/no/such/folder/out.wav").c_str()));
    if (fs::exists("/dev/full")) {
        EXPECT_FALSE(image.write("/dev/full"));
        // A failed target that is no ordinary file is left where it is.
        EXPECT_TRUE(fs::is_character_file("/dev/full"));
    }

    // A write that fails part-way (a file-size limit stands in for a full
    // disk) leaves the previous file whole and no temporary beside it.
    writeBytes(path, "previous take");
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 512;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool const written = image.write(path.c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(readBytes(path), "previous take");
    int files = 0;
    for (auto const& entry : fs::directory_iterator(dir)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

} // namespace
