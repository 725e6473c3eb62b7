// The WAV reader against files written byte by byte by the tests' own
// writer (never the code under test): every accepted encoding and channel layout, chunk-walking
// cases (lower-case ids, padded odd chunks, extensible headers), refusal of
// broken files (each cut of a valid file too), rate conversion, and reading
// through an archive item.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "runtime/CoreAnsx.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreWvfr.h"
#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"
#include "tests/support/StoreFolder.h"
#include "tests/support/WavBytes.h"

namespace fs = std::filesystem;

namespace {

// ---- Fixture: a temporary data folder and a store over it ---------------

class CoreWvfrTest : public StoreFolder {
protected:
    // Reads the whole file named in one call; left/right sized n, right
    // prefilled with a sentinel to see whether it was touched.
    long readAll(std::string const& name, std::vector<double>& l, std::vector<double>& r,
                 bool loadWhole = false) {
        CoreWvfr reader(&pool, store, loadWhole);
        reader.open_(name.c_str());
        long n = reader.getdw();
        l.assign(size_t(n), -7.0);
        r.assign(size_t(n), -7.0);
        return reader.getdt(n, l.data(), r.data());
    }
    bool refuses(std::string const& bytes) {
        put("BAD.WAV", bytes);
        CoreWvfr reader(&pool, store, false);
        try {
            reader.open_("BAD.WAV");
        } catch (CoreAnsx const& e) {
            EXPECT_STREQ(e.c_str(), "");
            EXPECT_EQ(reader.getca(), -1);
            EXPECT_EQ(reader.getdr(false), -1);
            double l[4];
            EXPECT_EQ(reader.getdt(4, l, l), 0);
            return true;
        }
        return false;
    }
};

// Six frames of every integer width, three channels: integers chosen to hit
// the extremes; expected values are the integers over the full scale.
TEST_F(CoreWvfrTest, IntegerWidthsDecodeChannelsZeroAndOne) {
    struct Case {
        unsigned bits;
        int bytes;
        double offset;
        double scale;
        std::vector<int64_t> values;
    };
    std::vector<Case> cases = {
        {8, 1, 128, 127, {0, 255, 128, 1, 200, 64}},
        {16, 2, 0, 32767, {-32768, 32767, 0, -1, 1234, -20000}},
        {24, 3, 0, 8388607, {-8388608, 8388607, 0, -1, 4000000, -123456}},
        {32, 4, 0, 2147483647, {INT32_MIN, INT32_MAX, 0, -1, 1 << 30, -123456789}},
    };
    for (Case const& c : cases) {
        for (unsigned channels : {1u, 2u, 6u}) {
            WavShape s;
            s.bits = c.bits;
            s.channels = channels;
            size_t frames = c.values.size();
            for (size_t f = 0; f < frames; ++f)
                for (unsigned ch = 0; ch < channels; ++ch)
                    s.samples += leBytes(c.values[(f + ch) % frames], c.bytes);
            put("I.WAV", wavFile(s));
            std::vector<double> l, r;
            ASSERT_EQ(readAll("I.WAV", l, r), long(frames)) << c.bits << " bits";
            for (size_t f = 0; f < frames; ++f) {
                EXPECT_DOUBLE_EQ(l[f], (double(c.values[f]) - c.offset) / c.scale) << c.bits;
                if (channels == 1)
                    EXPECT_EQ(r[f], -7.0) << "mono must leave the right channel alone";
                else
                    EXPECT_DOUBLE_EQ(r[f],
                                     (double(c.values[(f + 1) % frames]) - c.offset) / c.scale);
            }
        }
    }
}

TEST_F(CoreWvfrTest, FloatFilesAndSubnormals) {
    float const sub = std::numeric_limits<float>::denorm_min() * 3;
    std::vector<float> singles = {0.25f, -1.0f, sub, -sub, -0.0f, 3.5f};
    WavShape s;
    s.tag = 3;
    s.bits = 32;
    s.channels = 2;
    for (float v : singles) s.samples += f32Bytes(v) + f32Bytes(-v);
    put("F.WAV", wavFile(s));
    std::vector<double> l, r;
    ASSERT_EQ(readAll("F.WAV", l, r), 6);
    for (size_t k = 0; k < singles.size(); ++k) {
        bool tiny = std::fpclassify(singles[k]) != FP_NORMAL;
        EXPECT_EQ(l[k], tiny ? 0.0 : double(singles[k]));
        EXPECT_EQ(r[k], tiny ? 0.0 : -double(singles[k]));
        if (tiny) {
            EXPECT_FALSE(std::signbit(l[k])) << "zero and subnormal read as +0.0";
            EXPECT_FALSE(std::signbit(r[k]));
        }
    }

    double const exact = 0.1234567890123456789;
    WavShape d;
    d.tag = 3;
    d.bits = 64;
    d.samples =
        f64Bytes(exact) + f64Bytes(-2.5) + f64Bytes(std::numeric_limits<double>::denorm_min());
    put("D.WAV", wavFile(d));
    ASSERT_EQ(readAll("D.WAV", l, r), 3);
    EXPECT_EQ(l[0], exact);
    EXPECT_EQ(l[1], -2.5);
    EXPECT_EQ(l[2], 0.0);

    CoreWvfr rounded(&pool, store, false);
    rounded.set32(true);
    rounded.open_("D.WAV");
    EXPECT_TRUE(rounded.getdb());
    double one[3];
    ASSERT_EQ(rounded.getdt(3, one, nullptr), 3);
    EXPECT_EQ(one[0], double(float(exact)));
}

// The peak is the largest magnitude of the channels delivered, whichever holds it: of every
// encoding, a frame whose channel 1 outweighs channel 0 and channel 2 outweighs both.
TEST_F(CoreWvfrTest, ThePeakIsOfTheDeliveredChannelsOnly) {
    struct Row {
        unsigned tag, bits;
        std::string frame;  // channels 0, 1, 2
        double zero, first; // channels 0 and 1 as read
    } const rows[] = {
        {1, 8, leBytes(140, 1) + leBytes(20, 1) + leBytes(255, 1), 12.0 / 127, -108.0 / 127},
        {1, 16, leBytes(100, 2) + leBytes(-20000, 2) + leBytes(32767, 2), 100.0 / 32767,
         -20000.0 / 32767},
        {1, 24, leBytes(100, 3) + leBytes(-4000000, 3) + leBytes(8388607, 3), 100.0 / 8388607,
         -4000000.0 / 8388607},
        {1, 32, leBytes(100, 4) + leBytes(-(1 << 30), 4) + leBytes(INT32_MAX, 4),
         100.0 / 2147483647, -1073741824.0 / 2147483647},
        {3, 32, f32Bytes(0.125f) + f32Bytes(-0.5f) + f32Bytes(2.0f), 0.125, -0.5},
        {3, 64, f64Bytes(0.125) + f64Bytes(-0.5) + f64Bytes(2.0), 0.125, -0.5},
    };
    for (Row const& row : rows) {
        WavShape s;
        s.tag = row.tag;
        s.bits = row.bits;
        s.channels = 3;
        s.samples = row.frame;
        put("PK.WAV", wavFile(s));
        for (bool both : {true, false}) {
            CoreWvfr reader(&pool, store, false);
            reader.open_("PK.WAV");
            double l = 0.0, r = 0.0;
            ASSERT_EQ(reader.getdt(1, &l, both ? &r : nullptr), 1) << row.bits;
            EXPECT_DOUBLE_EQ(reader.getpk(), std::fabs(both ? row.first : row.zero))
                << row.tag << " " << row.bits << " " << both;
        }
    }
}

TEST_F(CoreWvfrTest, ChunkWalkAndHeaderVariants) {
    std::string samples = leBytes(1000, 2) + leBytes(-1000, 2);
    // Lower-case ids everywhere.
    WavShape lower;
    lower.lower = true;
    lower.samples = samples;
    put("LOW.WAV", wavFile(lower));
    std::vector<double> l, r;
    ASSERT_EQ(readAll("LOW.WAV", l, r), 2);
    EXPECT_DOUBLE_EQ(l[1], -1000.0 / 32767);
    WavShape upper;
    upper.upper = true;
    upper.samples = samples;
    put("UPP.WAV", wavFile(upper));
    ASSERT_EQ(readAll("UPP.WAV", l, r), 2);

    // An odd-sized chunk with its pad byte, then another chunk, before data.
    WavShape odd;
    odd.samples = samples;
    odd.before = riffChunk("LIST", "abc") + riffChunk("junk", std::string(6, 'x'));
    put("ODD.WAV", wavFile(odd));
    ASSERT_EQ(readAll("ODD.WAV", l, r), 2);
    EXPECT_DOUBLE_EQ(l[0], 1000.0 / 32767);

    // 12 bits in a 2-byte container, 20 bits in 3 bytes.
    WavShape twelve;
    twelve.bits = 12;
    twelve.samples = leBytes(0x7FF0, 2);
    put("B12.WAV", wavFile(twelve));
    ASSERT_EQ(readAll("B12.WAV", l, r), 1);
    EXPECT_DOUBLE_EQ(l[0], double(0x7FF0) / 32767);
    WavShape twenty;
    twenty.bits = 20;
    twenty.samples = leBytes(-0x100000, 3);
    put("B20.WAV", wavFile(twenty));
    ASSERT_EQ(readAll("B20.WAV", l, r), 1);
    EXPECT_DOUBLE_EQ(l[0], -double(0x100000) / 8388607);

    // Extensible headers name their encoding by sub-format.
    WavShape ext;
    ext.extensible = true;
    ext.tag = 1;
    ext.bits = 24;
    ext.channels = 2;
    ext.samples = leBytes(8388607, 3) + leBytes(-8388608, 3);
    put("EXT.WAV", wavFile(ext));
    ASSERT_EQ(readAll("EXT.WAV", l, r), 1);
    EXPECT_DOUBLE_EQ(l[0], 1.0);
    EXPECT_DOUBLE_EQ(r[0], -8388608.0 / 8388607);
    ext.tag = 3;
    ext.bits = 32;
    ext.samples = f32Bytes(0.75f) + f32Bytes(-0.5f);
    put("EXTF.WAV", wavFile(ext));
    ASSERT_EQ(readAll("EXTF.WAV", l, r), 1);
    EXPECT_EQ(l[0], 0.75);
    EXPECT_EQ(r[0], -0.5);

    // A trailing odd byte of data beyond the last whole frame is ignored.
    WavShape ragged;
    ragged.samples = leBytes(5, 2) + leBytes(6, 2) + "x";
    put("RAG.WAV", wavFile(ragged));
    ASSERT_EQ(readAll("RAG.WAV", l, r), 2);
}

TEST_F(CoreWvfrTest, BrokenFilesAreRefusedBeforeAnyRead) {
    WavShape good;
    good.channels = 2;
    good.samples = leBytes(1, 2) + leBytes(2, 2) + leBytes(3, 2) + leBytes(4, 2);
    std::string valid = wavFile(good);
    put("OK.WAV", valid);
    std::vector<double> l, r;
    ASSERT_EQ(readAll("OK.WAV", l, r), 2);

    // Every cut of the valid file, down to nothing.
    for (size_t cut = 0; cut < valid.size(); ++cut)
        EXPECT_TRUE(refuses(valid.substr(0, cut))) << "cut at " << cut;

    auto with = [&](auto change) {
        WavShape s = good;
        change(s);
        return wavFile(s);
    };
    EXPECT_TRUE(refuses(with([](WavShape& s) { s.channels = 0; })));
    EXPECT_TRUE(refuses(with([](WavShape& s) {
        s.bits = 0;
        s.container = 2;
    })));
    EXPECT_TRUE(refuses(with([](WavShape& s) {
        s.bits = 40;
        s.container = 2;
    })));
    EXPECT_TRUE(refuses(with([](WavShape& s) {
        s.bits = 64;
        s.container = 2;
    }))) << "64-bit integers";
    EXPECT_TRUE(refuses(with([](WavShape& s) {
        s.tag = 3;
        s.bits = 16;
    }))) << "16-bit float";
    EXPECT_TRUE(refuses(with([](WavShape& s) {
        s.tag = 7;
        s.bits = 8;
        s.container = 2;
    }))) << "mu-law";
    EXPECT_TRUE(refuses(with([](WavShape& s) { s.rate = 0; })));
    EXPECT_TRUE(refuses(with([](WavShape& s) { s.dataSizeBias = 1; }))) << "data past the end";
    EXPECT_TRUE(refuses(with([](WavShape& s) { s.dataSizeBias = 0x7FFFFFF0; })));
    EXPECT_TRUE(refuses(with([](WavShape& s) { s.samples.clear(); }))) << "empty data";
    // 129 channels of doubles make a frame of 1032 bytes.
    EXPECT_TRUE(refuses(with([](WavShape& s) {
        s.tag = 3;
        s.bits = 64;
        s.channels = 129;
        s.samples = std::string(1032 * 2, '\0');
    })));
    EXPECT_TRUE(refuses(with([](WavShape& s) { s.channels = 65535; })));
    // An extensible header of an unknown sub-format.
    std::string unknown = with([](WavShape& s) { s.extensible = true; });
    unknown[12 + 8 + 24 + 2] = 'Z';
    EXPECT_TRUE(refuses(unknown));

    std::string noData = valid;
    noData.replace(36, 4, "dat_");
    EXPECT_TRUE(refuses(noData));
    std::string noFmt = valid;
    noFmt.replace(12, 4, "fmx ");
    EXPECT_TRUE(refuses(noFmt));
    std::string notWave = valid;
    notWave.replace(8, 4, "AVI ");
    EXPECT_TRUE(refuses(notWave));
    // A chunk size that points far past the file ends the walk.
    std::string hugeSkip = with([](WavShape& s) { s.before = "JUNK\xF0\xFF\xFF\xFF"; });
    EXPECT_TRUE(refuses(hugeSkip));
    EXPECT_TRUE(refuses(std::string(5000, '\xFF')));

    CoreWvfr missing(&pool, store, false);
    EXPECT_THROW(missing.open_("NOSUCH.WAV"), CoreAnsx);

    // The refusal says why, in the log.
    CoreLog_::setpt(CoreAnsx((dir + "/").c_str()));
    refuses(with([](WavShape& s) { s.channels = 0; }));
    CoreLog_::setpt("");
    std::string text = readBytes(dir + "/" + CoreLog_::getfn().c_str());
    EXPECT_NE(text.find("BAD.WAV: no channels"), std::string::npos) << text;
}

TEST_F(CoreWvfrTest, PieceWiseReadsAndSkipsMatchOneRead) {
    // Three 24-bit channels make 9-byte frames: 113 frames per buffer piece.
    WavShape s;
    s.bits = 24;
    s.channels = 3;
    int const frames = 1000;
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < 3; ++c)
            s.samples += leBytes((f * 7919 + c * 104729) % 8388607 - 4194303, 3);
    put("P.WAV", wavFile(s));
    std::vector<double> wholeL, wholeR;
    ASSERT_EQ(readAll("P.WAV", wholeL, wholeR), frames);

    CoreWvfr reader(&pool, store, true);
    reader.open_("P.WAV");
    EXPECT_EQ(reader.getca(), 3);
    EXPECT_EQ(reader.getrr(), 44100);
    EXPECT_EQ(reader.getrt(), 44100);
    EXPECT_FALSE(reader.getdb());
    std::vector<double> l(frames), r(frames);
    long at = 0;
    long got;
    while ((got = reader.getdt(7, l.data() + at, r.data() + at)) > 0) {
        at += got;
        if (at == 500) {
            EXPECT_EQ(reader.getdt(13), 13);
            at += 13;
        }
    }
    EXPECT_EQ(at, frames);
    EXPECT_EQ(reader.getdr(true), 0);
    double top = 0.0; // of the frames decoded, in every piece
    for (long k = 0; k < frames; ++k) {
        if (k >= 500 && k < 513) continue;
        ASSERT_EQ(l[k], wholeL[k]) << k;
        ASSERT_EQ(r[k], wholeR[k]) << k;
        top = std::max({top, std::fabs(l[k]), std::fabs(r[k])});
    }
    EXPECT_EQ(reader.getpk(), top);
    reader.open_("P.WAV"); // the peak starts again
    ASSERT_EQ(reader.getdt(7, l.data(), r.data()), 7);
    top = 0.0;
    for (long k = 0; k < 7; ++k) top = std::max({top, std::fabs(l[k]), std::fabs(r[k])});
    EXPECT_EQ(reader.getpk(), top);
    reader.close();
    EXPECT_EQ(reader.getca(), -1);
    EXPECT_EQ(reader.getrt(), -1);
    EXPECT_EQ(reader.getrr(), -1);
    EXPECT_EQ(reader.getdw(), -1);
}

TEST_F(CoreWvfrTest, DiskAndArchiveItemGiveTheSameSamples) {
    WavShape s;
    s.tag = 3;
    s.bits = 32;
    s.channels = 2;
    for (int k = 0; k < 3000; ++k)
        s.samples += f32Bytes(float(std::sin(k * 0.01))) + f32Bytes(float(std::cos(k * 0.02)));
    put("ARC.WAV", wavFile(s));
    std::vector<double> diskL, diskR;
    ASSERT_EQ(readAll("ARC.WAV", diskL, diskR), 3000);

    // Pack the file into an archive, then read the item out of a fresh store.
    {
        CoreFsys packer(&pool, CoreAnsx((dir + "/").c_str()), false);
        int id = packer.crtit("ARC.WAV", false);
        ASSERT_TRUE(packer.loadc(id, false));
        ASSERT_TRUE(packer.savea(CoreAnsx((dir + "/PACK.V2X").c_str())));
    }
    fs::remove(dir + "/ARC.WAV");
    CoreFsys archived(&pool, CoreAnsx((dir + "/").c_str()), false);
    ASSERT_TRUE(archived.loada(CoreAnsx((dir + "/PACK.V2X").c_str()), "0", false, nullptr));
    CoreWvfr reader(&pool, &archived, false);
    std::vector<double> l(3000), r(3000);
    EXPECT_EQ(reader.imprt("ARC.WAV", l.data(), r.data()), 3000);
    EXPECT_EQ(l, diskL);
    EXPECT_EQ(r, diskR);
    // Dropping the item takes the archive's copy out of the store: nothing is left to read.
    reader.clefs();
    EXPECT_EQ(archived.getit("ARC.WAV"), -1);
    EXPECT_EQ(archived.llvcn(), 0);

    // A store that keeps no file open between calls reads the same.
    put("ARC.WAV", wavFile(s));
    CoreFsys shut(&pool, CoreAnsx((dir + "/").c_str()), true);
    CoreWvfr again(&pool, &shut, false);
    std::fill(l.begin(), l.end(), 0.0);
    EXPECT_EQ(again.imprt("ARC.WAV", l.data(), r.data()), 3000);
    EXPECT_EQ(l, diskL);
}

TEST_F(CoreWvfrTest, UpsamplingDoublesTheLengthAndHalvesUnlessPlain) {
    WavShape s;
    s.tag = 3;
    s.bits = 64;
    s.channels = 2;
    int const frames = 4000;
    for (int k = 0; k < frames; ++k) s.samples += f64Bytes(0.5) + f64Bytes(-0.25);
    put("UP.WAV", wavFile(s));

    CoreWvfr plain(&pool, store, false), scaled(&pool, store, false);
    plain.setfr(88200, true);
    scaled.setfr(88200, false);
    plain.open_("UP.WAV");
    scaled.open_("UP.WAV");
    EXPECT_EQ(scaled.getrr(), 44100);
    EXPECT_EQ(scaled.getrt(), 88200);
    // Read whole, the file comes with the lead before its first frame and the tail after it.
    EXPECT_EQ(scaled.getow(), 2 * frames);
    EXPECT_GT(scaled.getld(), 0);
    EXPECT_GT(scaled.getdr(false), scaled.getld() + 2 * frames);
    EXPECT_EQ(scaled.getdw(), scaled.getdr(false));
    EXPECT_EQ(scaled.getdr(true), frames);

    std::vector<double> pl(100), pr(100), sl(100), sr(100);
    long n = plain.getdt(100, pl.data(), pr.data());
    ASSERT_EQ(scaled.getdt(100, sl.data(), sr.data()), n);
    EXPECT_GT(n, 0);
    EXPECT_LE(n, 100);
    EXPECT_EQ(scaled.getdr(true), frames - 50) << "ceil(100 / 2) file frames are read";
    for (long k = 0; k < n; ++k) {
        EXPECT_DOUBLE_EQ(sl[k], pl[k] * 0.5);
        EXPECT_DOUBLE_EQ(sr[k], pr[k] * 0.5);
    }
    // Away from the block edges a constant stays that constant.
    EXPECT_NEAR(pl[50], 0.5, 0.05);
    EXPECT_NEAR(pr[50], -0.25, 0.025);

    // The setting applies from the next open; plain keeps its first value.
    scaled.setfr(88200, true);
    scaled.open_("UP.WAV");
    std::vector<double> again(100);
    ASSERT_EQ(scaled.getdt(100, again.data(), nullptr), n);
    EXPECT_DOUBLE_EQ(again[10], sl[10]);
    // Turned off, the next open reads at the file's rate.
    scaled.setfr(0, false);
    scaled.open_("UP.WAV");
    EXPECT_EQ(scaled.getrt(), 44100);
    EXPECT_EQ(scaled.getdr(false), frames);
}

// 44,100 -> 48,000 Hz is 160/147 exactly: 1,470 frames make 1,600 (with the
// lead and tail around them when read whole), and a piece of 160 delivered
// frames takes 147 from the file. Counting with the rounded double ratio
// lands a frame off both ways.
TEST_F(CoreWvfrTest, ConvertedFrameCountsAreExactFractions) {
    WavShape s;
    s.tag = 3;
    s.bits = 32;
    for (int k = 0; k < 1470; ++k) s.samples += f32Bytes(0.25f);
    put("EX.WAV", wavFile(s));
    CoreWvfr reader(&pool, store, false);
    reader.setfr(48000, true);
    reader.open_("EX.WAV");
    EXPECT_EQ(reader.getow(), 1600);
    long const whole = reader.getdr(false), lead = reader.getld();
    EXPECT_EQ(reader.getdw(), whole);
    EXPECT_GT(whole, lead + 1600);
    std::vector<double> l(160);
    EXPECT_EQ(reader.getdt(160, l.data(), nullptr), 160);
    EXPECT_EQ(reader.getdr(true), 1470 - 147);

    std::vector<double> all(std::size_t(whole), 0.0);
    EXPECT_EQ(reader.imprt("EX.WAV", all.data(), nullptr), whole);
    // The piece starts where the file's first frame falls; both are the
    // same filter's output there.
    EXPECT_NEAR(all[std::size_t(lead) + 80], l[80], 1e-2);
    EXPECT_NEAR(all[std::size_t(lead) + 800], 0.25, 1e-6);
}

TEST_F(CoreWvfrTest, DownsamplingNeverWritesPastTheCallersArrays) {
    WavShape s;
    s.tag = 3;
    s.bits = 32;
    s.channels = 2;
    int const frames = 3001;
    for (int k = 0; k < frames; ++k) s.samples += f32Bytes(0.5f) + f32Bytes(0.5f);
    s.rate = 88200;
    put("DOWN.WAV", wavFile(s));

    CoreWvfr reader(&pool, store, false);
    reader.setfr(44100, false);
    reader.open_("DOWN.WAV");
    EXPECT_EQ(reader.getrt(), 44100);
    long const room = reader.getdw();
    long delivered = 0;
    for (long n : {1L, 7L, 64L, 333L}) {
        // Exactly n doubles on the heap, with guards after them.
        std::vector<double> l(size_t(n) + 4, 9.0), r(size_t(n) + 4, 9.0);
        long got = reader.getdt(n, l.data(), r.data());
        EXPECT_LE(got, n);
        for (int g = 0; g < 4; ++g) {
            EXPECT_EQ(l[size_t(n) + g], 9.0);
            EXPECT_EQ(r[size_t(n) + g], 9.0);
        }
        delivered += got;
    }
    // What is left still fits what getdw promised at the start.
    std::vector<double> rest(size_t(reader.getdw()) + 1);
    delivered += reader.getdt(reader.getdw(), rest.data(), nullptr);
    EXPECT_LE(delivered, room);
}

// Chains of several stages round down at every stage, so ceil(n / ratio)
// file frames can make fewer than n samples, or none. Small reads must still
// deliver n samples a call until the file is used up.
TEST_F(CoreWvfrTest, SmallConvertedReadsDeliverUntilTheEnd) {
    struct Case {
        int from, to;
        long n;
    };
    for (Case c : {Case{48000, 176400, 2}, Case{44100, 6000, 1}, Case{176400, 48000, 5}}) {
        WavShape s;
        s.tag = 3;
        s.bits = 32;
        s.rate = std::uint32_t(c.from);
        s.channels = 2;
        for (int k = 0; k < 600; ++k) s.samples += f32Bytes(0.5f) + f32Bytes(-0.5f);
        put("SMALL.WAV", wavFile(s));
        CoreWvfr reader(&pool, store, false);
        reader.setfr(c.to, true);
        reader.open_("SMALL.WAV");
        ASSERT_EQ(reader.getrt(), c.to);
        long const room = reader.getdw();
        std::vector<double> l(size_t(c.n) + 1, 9.0), r(size_t(c.n) + 1, 9.0);
        long total = 0, calls = 0;
        while (reader.getdr(true) > 0) {
            long got = reader.getdt(c.n, l.data(), r.data());
            ++calls;
            if (reader.getdr(true) > 0) {
                ASSERT_EQ(got, c.n) << c.from << " -> " << c.to << ", call " << calls;
            }
            total += got;
        }
        EXPECT_EQ(l[size_t(c.n)], 9.0);
        EXPECT_EQ(r[size_t(c.n)], 9.0);
        EXPECT_GT(total, 0);
        EXPECT_LE(total, room);
    }
}

// A channel count or width that no longer agrees with block align would read
// every frame at the wrong offset; rates no converter or engine can mean are
// refused at both ends of the range. The refusal says why.
TEST_F(CoreWvfrTest, LayoutAndRateDamageIsRefused) {
    struct Case {
        unsigned bits, channels, damaged; // channels written, then the channel field made damaged
    };
    for (Case c : {Case{16, 2, 33}, Case{16, 2, 46}, Case{24, 6, 32}, Case{16, 1, 149}}) {
        WavShape s;
        s.bits = c.bits;
        s.channels = c.channels;
        s.samples = std::string(size_t(c.channels * c.bits / 8 * 600), '\x11');
        std::string bytes = wavFile(s);
        EXPECT_FALSE(refuses(bytes));
        bytes.replace(22, 2, leBytes(c.damaged, 2));
        LogCapture log;
        EXPECT_TRUE(refuses(bytes)) << c.channels << " -> " << c.damaged;
        EXPECT_NE(log.text().find("block align"), std::string::npos) << log.text();
    }
    for (std::uint32_t rate : {999u, 1000u, 768000u, 768001u, 2665540u, 1291889732u}) {
        WavShape s;
        s.rate = rate;
        s.samples = leBytes(7, 2);
        EXPECT_EQ(refuses(wavFile(s)), rate < 1000 || rate > 768000) << rate;
    }
    WavShape partial; // less than one frame of data
    partial.channels = 2;
    partial.samples = leBytes(7, 2);
    EXPECT_TRUE(refuses(wavFile(partial)));
}

// Files of every encoding and layout, 200 variants each with 1 to 4 header
// bytes changed: a variant is refused, or it gives the original samples (a
// prefix when the data size shrank) at a rate inside the accepted range.
TEST_F(CoreWvfrTest, HeaderDamageNeverDeliversOtherSamples) {
    struct Format {
        unsigned tag, bits;
    };
    std::mt19937 rng(42);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (Format f : {Format{1, 8}, Format{1, 16}, Format{1, 24}, Format{1, 32}, Format{3, 32},
                     Format{3, 64}}) {
        for (unsigned channels : {1u, 2u, 6u}) {
            WavShape s;
            s.tag = f.tag;
            s.bits = f.bits;
            s.channels = channels;
            s.extensible = channels == 6;
            if (channels == 2) s.before = riffChunk("LIST", "odd"); // odd size, padded
            for (int k = 0; k < 300 * int(channels); ++k)
                s.samples += f.tag == 3 ? (f.bits == 32 ? f32Bytes(float(pick(-999, 999)) / 1000)
                                                        : f64Bytes(pick(-999, 999) / 1000.0))
                                        : leBytes(pick(-0x7FFFFF, 0x7FFFFF), int(f.bits / 8));
            std::string const valid = wavFile(s);
            size_t const header = valid.size() - s.samples.size();
            put("ORIG.WAV", valid); // not a part of "BAD.WAV": the store matches name fragments
            std::vector<double> l0, r0, l, r;
            long const frames = readAll("ORIG.WAV", l0, r0);
            ASSERT_EQ(frames, 300);
            // Where the encoding is named: the tag, or the sub-format of an extensible fmt.
            size_t const tagAt = s.extensible ? 44 : 20;
            for (int variant = 0; variant < 200; ++variant) {
                std::string bytes = valid;
                for (int k = pick(1, 4); k > 0; --k)
                    bytes[size_t(pick(0, int(header) - 1))] ^= char(pick(1, 255));
                // A tag naming the other 4-byte encoding makes a valid file of other samples.
                if (f.bits == 32 && bytes.compare(tagAt, 2, valid, tagAt, 2) != 0) continue;
                if (refuses(bytes)) continue;
                CoreWvfr reader(&pool, store, false);
                reader.open_("BAD.WAV");
                EXPECT_GE(reader.getrr(), 1000);
                EXPECT_LE(reader.getrr(), 768000);
                long const n = readAll("BAD.WAV", l, r);
                ASSERT_LE(n, frames) << "variant " << variant;
                EXPECT_TRUE(std::equal(l.begin(), l.begin() + n, l0.begin()) &&
                            (channels == 1 || std::equal(r.begin(), r.begin() + n, r0.begin())))
                    << f.tag << "/" << f.bits << " x" << channels << " variant " << variant;
            }
        }
    }
}

} // namespace
