// The streaming WAV writer, checked by parsing its files byte by byte in the
// test: header fields and sizes, samples in both widths and both sample
// types, a header that is valid while the file is still being written, no
// crash or stray file when the file cannot be created, and a writer that says
// whether every frame reached the file.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/CorePool.h"
#include "storage/CoreWvfw.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

uint32_t u32(std::string const& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | uint8_t(b[at + i]);
    return v;
}

uint16_t u16(std::string const& b, size_t at) {
    return uint16_t(uint8_t(b[at]) | (uint8_t(b[at + 1]) << 8));
}

double sampleAt(std::string const& b, size_t at, bool wide) {
    if (wide) {
        uint64_t u = uint64_t(u32(b, at)) | (uint64_t(u32(b, at + 4)) << 32);
        double d;
        std::memcpy(&d, &u, 8);
        return d;
    }
    uint32_t u = u32(b, at);
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

// Checks the header (RIFF, an 18-byte fmt chunk, a fact chunk with the
// frame count, the data chunk head) against what was asked for; returns the
// data length.
uint32_t checkHeader(std::string const& b, unsigned channels, uint32_t rate, unsigned bytes) {
    EXPECT_GE(b.size(), 58u);
    if (b.size() < 58) return 0;
    EXPECT_EQ(b.substr(0, 4), "RIFF");
    EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32(b, 16), 18u);
    EXPECT_EQ(u16(b, 20), 3u);
    EXPECT_EQ(u16(b, 22), channels);
    EXPECT_EQ(u32(b, 24), rate);
    EXPECT_EQ(u32(b, 28), rate * channels * bytes);
    EXPECT_EQ(u16(b, 32), channels * bytes);
    EXPECT_EQ(u16(b, 34), bytes * 8);
    EXPECT_EQ(u16(b, 36), 0u) << "no format extension";
    EXPECT_EQ(b.substr(38, 4), "fact");
    EXPECT_EQ(u32(b, 42), 4u);
    EXPECT_EQ(b.substr(50, 4), "data");
    uint32_t data = u32(b, 54);
    EXPECT_EQ(u32(b, 46), data / (channels * bytes)) << "frames in the fact chunk";
    EXPECT_EQ(u32(b, 4), data + 50);
    EXPECT_EQ(b.size(), data + 58u) << "header and file length agree";
    return data;
}

std::string run(std::string const& command) {
    std::string out;
    if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, p) != nullptr) out += line;
        pclose(p);
    }
    return out;
}

// Two independent readers: libsndfile's sndfile-info must find the same
// frames, channels and rate, and neither it nor sox may warn about the file.
void sndfileAgrees(std::string const& path, long frames, int channels, int rate) {
    std::string const out = run("sndfile-info '" + path + "'");
    auto field = [&](std::string const& name) {
        std::size_t at = out.rfind(name);
        if (at == std::string::npos) return -1L;
        at = out.find(':', at);
        return at == std::string::npos ? -1L : std::atol(out.c_str() + at + 1);
    };
    EXPECT_EQ(field("Frames"), frames) << out;
    EXPECT_EQ(field("Channels"), channels) << out;
    EXPECT_EQ(field("Sample Rate"), rate) << out;
    std::string const sox = run("sox --i '" + path + "'");
    for (std::string const& said : {out, sox}) {
        std::string lower = said;
        for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
        // sndfile-info marks its complaints with "****", sox with "WARN".
        EXPECT_EQ(lower.find("warn"), std::string::npos) << said;
        EXPECT_EQ(said.find("****"), std::string::npos) << said;
    }
    EXPECT_NE(sox.find("Channels       : " + std::to_string(channels)), std::string::npos) << sox;
}

class CoreWvfwTest : public ::testing::Test {
protected:
    TempDir temp;
    std::string const dir = temp.path();
    CorePool pool;
};

TEST_F(CoreWvfwTest, ThousandMonoDoublesMake8058Bytes) {
    std::vector<double> v(1000);
    for (size_t k = 0; k < v.size(); ++k) v[k] = double(k) / 1000.0 - 0.5;
    std::string path = dir + "/mono.wav";
    CoreWvfw::wfile(&pool, path.c_str(), v.data(), 1000, true);
    std::string b = readBytes(path);
    ASSERT_EQ(b.size(), 8058u);
    EXPECT_EQ(checkHeader(b, 1, 44100, 8), 8000u);
    EXPECT_EQ(u32(b, 4), 8050u);
    for (size_t k = 0; k < v.size(); ++k) ASSERT_EQ(sampleAt(b, 58 + 8 * k, true), v[k]) << k;
    sndfileAgrees(path, 1000, 1, 44100);
}

TEST_F(CoreWvfwTest, HeaderIsValidWhileTheFileIsBeingWritten) {
    std::string path = dir + "/live.wav";
    std::vector<float> l(300), r(300);
    for (size_t k = 0; k < l.size(); ++k) {
        l[k] = float(k);
        r[k] = -float(k);
    }
    {
        CoreWvfw writer(&pool, path.c_str(), 2, 48000, false);
        // Right after construction: a valid empty file.
        EXPECT_EQ(checkHeader(readBytes(path), 2, 48000, 4), 0u);
        // Every block leaves a complete file, read here while the writer lives.
        writer.setdt(100, l.data(), r.data());
        EXPECT_EQ(checkHeader(readBytes(path), 2, 48000, 4), 800u);
        writer.setdt(200, l.data() + 100, r.data() + 100);
        EXPECT_EQ(checkHeader(readBytes(path), 2, 48000, 4), 2400u);
        writer.setdt(0, l.data(), r.data());
        writer.setdt(-5, l.data(), r.data());
        writer.updhd();
        EXPECT_EQ(checkHeader(readBytes(path), 2, 48000, 4), 2400u);
    }
    std::string b = readBytes(path);
    ASSERT_EQ(checkHeader(b, 2, 48000, 4), 2400u);
    for (size_t k = 0; k < 300; ++k) {
        ASSERT_EQ(sampleAt(b, 58 + 8 * k, false), l[k]);
        ASSERT_EQ(sampleAt(b, 62 + 8 * k, false), r[k]);
    }
}

TEST_F(CoreWvfwTest, ExportFillsMissingAndExtraChannelsWithSilence) {
    std::vector<double> l = {0.5, -0.25, 1.0};
    std::string path = dir + "/three.wav";
    EXPECT_TRUE(CoreWvfw::exprt(&pool, path.c_str(), 3, 96000, 3, l.data(), nullptr, false));
    std::string b = readBytes(path);
    ASSERT_EQ(checkHeader(b, 3, 96000, 4), 36u);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(sampleAt(b, 58 + 12 * k, false), l[k]);
        EXPECT_EQ(sampleAt(b, 62 + 12 * k, false), 0.0);
        EXPECT_EQ(sampleAt(b, 66 + 12 * k, false), 0.0);
    }
    // Frames wider than a block (200 channels of doubles) still stream.
    std::string wide = dir + "/wide.wav";
    CoreWvfw::exprt(&pool, wide.c_str(), 200, 44100, 3, l.data(), l.data(), true);
    b = readBytes(wide);
    ASSERT_EQ(checkHeader(b, 200, 44100, 8), 3u * 1600u);
    EXPECT_EQ(sampleAt(b, 58 + 1600 * 2 + 8, true), 1.0);
    sndfileAgrees(path, 3, 3, 96000);
}

TEST_F(CoreWvfwTest, UncreatableFileIsNeitherWrittenNorFatal) {
    std::string path = dir + "/missing/folder/x.wav";
    std::vector<double> v(5000, 0.25);
    {
        CoreWvfw writer(&pool, path.c_str(), 1, 44100, false);
        writer.setdt(5000, v.data(), nullptr);
        writer.updhd();
        EXPECT_FALSE(writer.complete());
    }
    EXPECT_FALSE(fs::exists(path));
    // A device that takes no bytes: nothing crashes, the writer just stops.
    if (fs::exists("/dev/full")) {
        CoreWvfw full(&pool, "/dev/full", 1, 44100, false);
        full.setdt(5000, v.data(), nullptr);
        EXPECT_FALSE(full.complete());
    }
}

// The RIFF size field (data and the 50 header bytes) stays within 31 bits:
// frames of 8192 wide channels (64 KiB each) fill it with few blocks, and a
// frame past it leaves the file short, which the writer says. The writer
// takes only a plain file, so the 2 GiB go to one that is removed at once.
TEST_F(CoreWvfwTest, AFrameBeyondTheSizeFieldLeavesTheFileShortAndSaysSo) {
    long const fit = (0x7FFFFFFFL - 50) / (8192 * 8);
    std::vector<double> l(std::size_t(fit + 1), 0.5);
    std::string const sink = dir + "/wide.wav";
    for (long n : {fit, fit + 1}) {
        EXPECT_EQ(CoreWvfw::exprt(&pool, sink.c_str(), 8192, 44100, n, l.data(), l.data(), true),
                  n == fit)
            << n;
        fs::remove(sink);
    }
}

} // namespace
