// Seeded round trips through the storage layer's own writers and readers:
// random documents, archives, WAV files and number lists must come back as
// they went in. Every failure names its seed so the case can be replayed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <climits>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "runtime/CoreAnsx.h"
#include "runtime/CorePool.h"
#include "runtime/CoreTlst.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreRcsv.h"
#include "storage/CoreWavs.h"
#include "storage/CoreWvfr.h"
#include "storage/CoreWvfw.h"
#include "storage/CoreXml_.h"
#include "tests/support/FileBytes.h"
#include "tests/support/FsysItems.h"
#include "tests/support/StoreFolder.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int kSeeds = 30;

int pick(std::mt19937& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}
bool coin(std::mt19937& rng) { return pick(rng, 0, 1) == 1; }
double uniform(std::mt19937& rng, double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}

std::string trimmed(std::string const& s) {
    size_t a = s.find_first_not_of(" \t\n\v\f\r"), b = s.find_last_not_of(" \t\n\v\f\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// ---- Documents ------------------------------------------------------------

std::string tagName(std::mt19937& rng) {
    std::string name(1, char('A' + pick(rng, 0, 25)));
    for (int i = pick(rng, 0, 7); i > 0; --i)
        name += "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_"[pick(rng, 0, 36)];
    return name;
}

// Words of letters, digits, markup characters, entity look-alikes and
// punctuation, with runs of blanks inside and around.
std::string valueText(std::mt19937& rng) {
    static char const* const words[] = {
        "Bass", "x",       "12", "-3.5",  "<", ">",  "&", "&amp;", "&lt;b&gt;", "</A>", "<B>",
        "a&b",  "a\tb\nc", "!?", "\"q\"", "'", "%G", ";", "=",     "/",         "0"};
    std::string text(size_t(pick(rng, 0, 2)), ' ');
    for (int w = pick(rng, 0, 5); w > 0; --w)
        text += std::string(words[pick(rng, 0, 20)]) + std::string(size_t(pick(rng, 1, 3)), ' ');
    return text;
}

CoreNode* valueLeaf(std::mt19937& rng) {
    switch (pick(rng, 0, 4)) {
    case 0: return new CoreNode(uniform(rng, -10, 10) * std::pow(10.0, pick(rng, -30, 30)));
    case 1: return new CoreNode(coin(rng));
    case 2: return new CoreNode(pick(rng, INT_MIN, INT_MAX));
    default: return new CoreNode(CoreAnsx(valueText(rng).c_str()));
    }
}

// An element holding either one value or 1-4 elements (the dialect has no
// empty element and keeps no text beside child elements).
CoreNode* element(std::mt19937& rng, int depth) {
    CoreNode* node = new CoreNode(CoreAnsx(tagName(rng).c_str()));
    if (depth <= 1 || pick(rng, 0, 3) == 0)
        node->addcd(valueLeaf(rng));
    else
        for (int i = pick(rng, 1, 4); i > 0; --i) node->addcd(element(rng, depth - 1));
    return node;
}

int childCount(CoreNode const* node) { return node->getcn() ? int(node->getcn()->count) : 0; }
CoreNode const* childAt(CoreNode const* node, int i) {
    return static_cast<CoreNode*>((*node->getcn())[unsigned(i)]);
}

// The first difference between a tree and its read-back copy, "" when none:
// names equal, values equal once trimmed (they come back between blanks, and
// a value right under a top-level tag written with topbreak after a line feed).
std::string difference(CoreNode const* made, CoreNode const* read, std::string const& where) {
    std::string const a = made->gettx().c_str(), b = read->gettx().c_str();
    if (made->leaf_())
        return read->leaf_() && trimmed(a) == trimmed(b)
                   ? ""
                   : where + ": value [" + b + "] for [" + a + "]";
    if (a != b || childCount(made) != childCount(read))
        return where + ": element [" + b + "] of " + std::to_string(childCount(read)) + " for [" +
               a + "]";
    for (int i = 0; i < childCount(made); ++i) {
        std::string d = difference(childAt(made, i), childAt(read, i),
                                   where + "/" + a + "[" + std::to_string(i) + "]");
        if (!d.empty()) return d;
    }
    return "";
}

TEST(RoundTrip, RandomDocumentsReadBackEqualAndRewriteIdentically) {
    TempDir dir;
    for (int seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng{unsigned(seed)};
        int const depth = 1 + seed % 6;
        bool const pretty = coin(rng), topbreak = coin(rng), viaFile = seed % 3 == 0;
        CoreXml_ made;
        made.setrt(new CoreNode(CoreXml_::sCroot));
        for (int i = pick(rng, 1, 3); i > 0; --i) made.getrt()->addcd(element(rng, depth));

        auto writeAndRead = [&](CoreXml_& from, CoreXml_& into, std::string const& file) {
            if (!viaFile) {
                std::string text = from.settc(pretty, topbreak).c_str();
                into.getfc(text.c_str());
                return text;
            }
            EXPECT_TRUE(from.settf(dir.file(file).c_str(), pretty, topbreak, false));
            into.getff(dir.file(file).c_str(), false);
            return readBytes(dir.file(file));
        };
        CoreXml_ once, twice;
        std::string const first = writeAndRead(made, once, "a.xml");
        ASSERT_NE(once.getrt(), nullptr);
        EXPECT_EQ(difference(made.getrt(), once.getrt(), ""), "") << first;
        EXPECT_EQ(writeAndRead(once, twice, "b.xml"), first);
    }
}

// ---- Archives ---------------------------------------------------------------

// Names that contain one another, in mixed case, with folder parts and blanks
// around them (the store trims those).
std::string itemName(std::mt19937& rng) {
    static char const* const stems[] = {"1", "11",       "A/1",  "a\\1",   "21",
                                        "x", "Drum Kit", "prog", "MyProg", "a&amp;b"};
    static char const* const extensions[] = {".WAV", ".wav", ".Xml", ".V2P", ""};
    std::string name =
        coin(rng) ? std::string(stems[pick(rng, 0, 9)]) + extensions[pick(rng, 0, 4)]
                  : std::string(1, char('a' + pick(rng, 0, 25))) + std::to_string(pick(rng, 0, 99));
    return std::string(size_t(pick(rng, 0, 2)), ' ') + name +
           std::string(size_t(pick(rng, 0, 2)), ' ');
}

std::string storedName(std::string const& name) {
    std::string key = trimmed(name);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return key;
}

// 0-5000 bytes: random ones (zero bytes included), or pieces of archive
// headers and tables of contents.
std::string itemBytes(std::mt19937& rng) {
    static std::string const pieces[] = {"<TOC>",
                                         "</TOC>",
                                         "<ITEM><ENTRY> 1.WAV </ENTRY><DIM> 9 </DIM></ITEM>",
                                         std::string("Vorlan2 1.3.508\0\0", 17),
                                         "&amp;",
                                         ">",
                                         "<"};
    size_t const size = pick(rng, 0, 4) == 0 ? 0 : size_t(pick(rng, 1, 5000));
    std::string bytes;
    bool const markup = coin(rng);
    while (bytes.size() < size)
        bytes += markup ? pieces[pick(rng, 0, 6)] : std::string(1, char(pick(rng, 0, 255)));
    return bytes.substr(0, size);
}

// The first difference between the in-memory items of a store and those
// expected, "" when none (named and sized: the bytes would swamp the log).
std::string mismatch(CoreFsys& fs, std::map<std::string, std::string> expected) {
    for (int i = 0; i < fs.llvcn(); ++i) {
        int id = -1;
        std::string const name = fs.llvel(i, id).c_str();
        if (!fs.isvld(id)) continue;
        std::string const held = heldItem(fs, id);
        auto it = expected.find(name);
        if (it == expected.end() || it->second != held)
            return "[" + name + "] unexpected or other bytes (" + std::to_string(held.size()) + ")";
        expected.erase(it);
    }
    return expected.empty() ? "" : "missing [" + expected.begin()->first + "]";
}

TEST(RoundTrip, RandomArchivesLoadBackEveryItemAndKeepThemOnAppend) {
    for (int seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(unsigned(seed) + 1000u);
        TempDir dir;
        CorePool pool;
        CoreFsys fs(&pool);
        std::map<std::string, std::string> expected;
        for (int i = pick(rng, 0, 20); i > 0; --i) {
            std::string const name = itemName(rng), key = storedName(name), bytes = itemBytes(rng);
            if (expected.count(key) == 0) {
                putItem(fs, name.c_str(), bytes);
                expected[key] = bytes;
            }
        }
        std::string const path = dir.file("arc.v2p");
        ASSERT_TRUE(fs.savea(path.c_str()));

        CoreFsys loaded(&pool);
        if (seed % 3 == 0) {
            ASSERT_TRUE(loaded.loada(path.c_str(), CoreAnsx(0), false, nullptr));
        } else if (seed % 3 == 1) {
            // Nested: the archive travels as an item of an outer archive and
            // is read out of the store that loaded the outer one, in memory.
            CoreFsys outer(&pool);
            putItem(outer, "1", "decoy");
            putItem(outer, "Inner.V2P", readBytes(path));
            ASSERT_TRUE(outer.savea(dir.file("outer.v2p").c_str()));
            CoreFsys outerBack(&pool);
            ASSERT_TRUE(
                outerBack.loada(dir.file("outer.v2p").c_str(), CoreAnsx(0), false, nullptr));
            ASSERT_TRUE(loaded.loada("INNER.V2P", CoreAnsx(0), false, &outerBack));
        } else {
            CoreFsys parent(&pool, CoreAnsx(dir.folder().c_str()),
                            coin(rng)); // on disk under its folder
            ASSERT_TRUE(loaded.loada("arc.v2p", CoreAnsx(0), false, &parent));
        }
        EXPECT_EQ(mismatch(loaded, expected), "");

        std::string name = itemName(rng);
        while (expected.count(storedName(name)) != 0) name = itemName(rng);
        std::string const bytes = itemBytes(rng);
        putItem(fs, name.c_str(), bytes);
        ASSERT_TRUE(fs.appnd(path.c_str(), name.c_str()));
        expected[storedName(name)] = bytes;
        CoreFsys appended(&pool);
        ASSERT_TRUE(appended.loada(path.c_str(), CoreAnsx(0), false, nullptr));
        EXPECT_EQ(mismatch(appended, expected), "");
    }
}

// ---- WAV files and number lists ------------------------------------------------

using RoundTripFiles = StoreFolder;

TEST_F(RoundTripFiles, WavFromEitherWriterReadsBackTheSamples) {
    static int const rates[] = {8000, 22050, 44100, 48000, 96000, 192000};
    for (int seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(unsigned(seed) + 2000u);
        long const frames = seed < 4 ? seed % 2 : pick(rng, 2, 3000); // each writer: 0 and 1 frame
        short const channels = short(pick(rng, 1, 2));
        int const rate = coin(rng) ? rates[pick(rng, 0, 5)] : pick(rng, 1, 400000);
        bool const wide = coin(rng), noRight = pick(rng, 0, 4) == 0;
        int const writer =
            seed % 4; // streamed from doubles, from floats, image to a file, image as an item
        std::vector<double> left, right;
        for (long k = 0; k < frames; ++k) {
            left.push_back(pick(rng, 0, 20) == 0 ? 0.0 : uniform(rng, -1.5, 1.5));
            right.push_back(uniform(rng, -1, 1));
        }
        std::vector<float> leftF(left.begin(), left.end()), rightF(right.begin(), right.end());
        double* r = noRight ? nullptr : right.data();
        float* rF = noRight ? nullptr : rightF.data();
        std::string const name = "W" + std::to_string(seed) + ".WAV", path = dir + "/" + name;
        if (writer == 0 && seed % 8 == 0) {
            CoreWvfw::exprt(&pool, path.c_str(), channels, rate, frames, left.data(), r, wide);
        } else if (writer < 2) {
            CoreWvfw out(&pool, path.c_str(), channels, rate, wide);
            auto stream = [&](auto* l, auto* rr) {
                for (long done = 0;
                     done < frames || pick(rng, 0, 3) == 0;) { // calls of 0 frames too
                    long const n = std::min<long>(pick(rng, 0, 600), frames - done);
                    out.setdt(n, l + done, rr ? rr + done : nullptr);
                    done += n;
                }
            };
            writer == 1 ? stream(leftF.data(), rF) : stream(left.data(), r);
        } else {
            CoreWavs image(&pool, channels, rate, frames, wide);
            for (long done = 0; done < frames;) {
                long const n = pick(rng, 1, 700);
                EXPECT_EQ(image.setdt(n, left.data() + done, r ? r + done : nullptr),
                          std::min(n, frames - done));
                done += n;
            }
            std::string bytes(size_t(image.getmd()), '\0');
            image.wrtmm(bytes.data());
            if (writer == 2) {
                ASSERT_TRUE(image.write(path.c_str()));
                EXPECT_EQ(readBytes(path), bytes);
            } else {
                putItem(*store, name.c_str(), bytes);
            }
        }

        CoreWvfr reader(&pool, store, coin(rng));
        // An empty data chunk, or a rate no converter or engine can take, is refused by design.
        if (frames == 0 || rate < CoreWvfr::iCminrate) {
            EXPECT_THROW(reader.open_(name.c_str()), CoreAnsx);
            continue;
        }
        reader.open_(name.c_str());
        EXPECT_TRUE(reader.getca() == channels && reader.getrr() == rate && reader.getrt() == rate);
        EXPECT_EQ(reader.getdb(), wide);
        ASSERT_EQ(reader.getdr(true), frames);
        std::vector<double> gotL(left.size(), -9.0), gotR(left.size(), -9.0);
        for (long done = 0; done < frames;) {
            long const n = pick(rng, 1, 700);
            ASSERT_EQ(
                reader.getdt(n, gotL.data() + done, channels > 1 ? gotR.data() + done : nullptr),
                std::min(n, frames - done));
            done += n;
        }
        EXPECT_EQ(reader.getdt(8), 0);
        auto stored = [&](double v) { return wide && writer != 1 ? v : double(float(v)); };
        for (size_t k = 0; k < left.size(); ++k) {
            ASSERT_EQ(gotL[k], stored(left[k])) << "frame " << k;
            if (channels > 1) {
                ASSERT_EQ(gotR[k], noRight ? 0.0 : stored(right[k])) << "frame " << k;
            }
        }
    }
}

TEST_F(RoundTripFiles, NumberListsReadBackWithinSixteenDecimals) {
    for (int seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(unsigned(seed) + 3000u);
        std::vector<double> values(size_t(seed == 0 ? 0 : pick(rng, 1, 300)));
        for (double& v : values) { // samples, whole numbers, any magnitude, huge, zero
            int const kind = pick(rng, 0, 4);
            double const scale = kind == 2   ? std::pow(10.0, pick(rng, -40, 40))
                                 : kind == 3 ? 1e300
                                             : 1.0;
            v = kind == 1   ? pick(rng, -1000000, 1000000)
                : kind == 4 ? 0.0
                            : uniform(rng, -1, 1) * scale;
        }
        std::string const name = "L" + std::to_string(seed) + ".CSV";
        CoreRcsv writer(&pool, store);
        ASSERT_TRUE(writer.wfile(name.c_str(), values.data(), long(values.size())));

        CoreRcsv reader(&pool, store);
        ASSERT_TRUE(reader.open_(name.c_str()));
        ASSERT_EQ(reader.getdr(), long(values.size()));
        std::vector<double> back(values.size() + 1, 99.0);
        ASSERT_EQ(reader.getdt(back.data(), false), long(values.size()));
        EXPECT_EQ(back.back(), 99.0);
        for (size_t k = 0; k < values.size(); ++k)
            ASSERT_NEAR(back[k], values[k], 0.5e-16 + std::abs(values[k]) * DBL_EPSILON)
                << "value " << k;
    }
}

} // namespace
