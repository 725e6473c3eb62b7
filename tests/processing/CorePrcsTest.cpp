// The engine without its worker thread: construction from the master
// settings (sizes, delays, paths, skin, log lines), teardown, and the master
// settings written back.
#include "processing/CorePrcs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/CoreLog_.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "tests/processing/CorePrcsPeek.h"
#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"

namespace {

class CorePrcsTest : public ::testing::Test, protected EngineKit {};

// The value of MASTER/key in the file at path, "" when missing.
std::string savedValue(std::string const& path, char const* key) {
    CoreXml_ doc;
    CoreNode* root = doc.getff(CoreAnsx(path.c_str()), false);
    CoreNode* master = root ? root->getcd(CoreAnsx("MASTER")) : nullptr;
    return master ? master->getls(CoreAnsx(key)).c_str() : "";
}

} // namespace

TEST_F(CorePrcsTest, HundredLifetimesGiveEveryBlockBack) {
    kit.master();
    long const before = pool.getma();
    for (int i = 0; i < 100; ++i) ASSERT_NE(make(), nullptr);
    EXPECT_EQ(pool.getma(), before);
}

TEST_F(CorePrcsTest, SizesDelaysAndRingPositionsFollowTheSettings) {
    struct Row {
        KitValues values;
        int block, ring, base, forced, ahead, compensation;
        bool dspmissing;
    };
    // clang-format off
    std::vector<Row> const rows = {
        {{{"DSPBUFFER", "10"}}, 128, 32768, 128, -1, 0, 0, false},
        {{{"DSPBUFFER", "1000"}}, 1024, 32768, 1024, -1, 0, 0, false},
        {{{"DSPBUFFER", "8192"}}, 8192, 32768, 8192, -1, 0, 0, false},
        {{{"DSPBUFFER", "0"}}, 8192, 32768, 8192, -1, 0, 0, true}, // 0 asks for the boot's choice
        {{{"DSPBUFFER", " 00 "}}, 8192, 32768, 8192, -1, 0, 0, true},
        {{{"DSPBUFFER", "NAN"}}, 8192, 32768, 8192, -1, 0, 0, true}, // so is one unreadable
        {{{"WORKBUFFER", "32768"}}, 8192, 32768, 8192, -1, 0, 0, true},
        {{{"WORKBUFFER", "70000"}}, 8192, 131072, 8192, -1, 0, 0, true},
        // The ring always holds base latency + a block: 1024 + 1024 + 1 -> 4096.
        {{{"WORKBUFFER", "1000"}, {"DSPBUFFER", "1024"}}, 1024, 4096, 1024, -1, 0, 0, false},
        {{{"WORKBUFFER", "0"}, {"DSPBUFFER", "1024"}}, 1024, 4096, 1024, -1, 0, 0, false},
        // Without FORCEOFFSET the lookahead counts for nothing.
        {{{"AHEADLENGTH", "5000"}}, 8192, 32768, 8192, -1, 0, 0, true},
        {{{"FORCEOFFSET", "1000"}, {"AHEADLENGTH", "3000"}}, 8192, 32768, 8192, 44, 132, 8368, true},
        // A second of forced offset: the ring grows so the bypass write fits.
        {{{"FORCEOFFSET", "1000000"}}, 8192, 65536, 8192, 44100, 132, 52424, true},
        // Each delay at most 2 s, and WORKBUFFER at most 2^19 samples.
        {{{"FORCEOFFSET", "2147483647"}, {"AHEADLENGTH", "2147483647"}, {"WORKBUFFER", "2147483647"}},
         8192, 524288, 8192, 88200, 88200, 184592, true},
    };
    // clang-format on
    for (Row const& row : rows) {
        kit.master("", row.values);
        auto engine = make();
        CorePrcsPeek p{*engine};
        std::string const where = row.values.front().first + " " + row.values.front().second;
        EXPECT_EQ(p.block(), row.block) << where;
        EXPECT_EQ(p.ring(), row.ring) << where;
        EXPECT_EQ(p.base(), row.base) << where;
        EXPECT_EQ(p.forced(), row.forced) << where;
        EXPECT_EQ(p.ahead(), row.ahead) << where;
        EXPECT_EQ(p.compensation(), row.compensation) << where;
        EXPECT_EQ(p.inwrite(), row.base + row.ahead + std::max(row.forced, 0)) << where;
        EXPECT_EQ(p.handed() + p.carry(), row.base + std::max(row.forced, 0)) << where;
        EXPECT_EQ(p.handed() % row.block, 0) << where;
        EXPECT_EQ(p.bypasswrite(), row.compensation) << where;
        EXPECT_LT(p.bypasswrite(), p.ring()) << where;
        EXPECT_EQ(p.dspmissing(), row.dspmissing) << where;
    }
}

TEST_F(CorePrcsTest, MasterFileNameTextArgumentAndDataPath) {
    kit.master("", {{"DSPBUFFER", "1024"}});
    std::string const code = kit.code();
    auto named = make("0");
    EXPECT_EQ(CorePrcsPeek{*named}.masterpath(), code + "VORLAN2.XML");
    EXPECT_EQ(CorePrcsPeek{*named}.block(), 1024);
    EXPECT_EQ(CorePrcsPeek{*named}.datapath(), kit.data()); // no shell store: as given
    auto other = make("Other.so"); // named after the plug-in: no such file, defaults
    EXPECT_EQ(CorePrcsPeek{*other}.masterpath(), code + "Other.xml");
    EXPECT_EQ(CorePrcsPeek{*other}.block(), 8192);
    EXPECT_EQ(CorePrcsPeek{*other}.datapath(), code); // the plug-in's own folder
    CoreFsys shell(&pool);
    struct Row {
        char const* mastertext;
        char const* datapath;
        std::string expected;
    };
    std::vector<Row> const rows = {
        // From the file, with the shell's store: relative to the code path.
        {"0", "rel/", code + "rel/"},
        {"0", " ", code},
        {"0", "sub\\deep\\", code + "sub/deep/"},
        // An absolute path names itself.
        {"0", "/abs/data/", "/abs/data/"},
        // From the text argument: as given.
        {"<MASTER><DATAPATH>rel/</DATAPATH><DSPBUFFER>512</DSPBUFFER></MASTER>", "", "rel/"},
    };
    for (Row const& row : rows) {
        if (std::string(row.mastertext) == "0")
            writeBytes(code + "VORLAN2.XML",
                       std::string("<MASTER><DATAPATH>") + row.datapath + "</DATAPATH></MASTER>");
        auto engine = make("0", &shell, row.mastertext);
        EXPECT_EQ(CorePrcsPeek{*engine}.datapath(), row.expected) << row.datapath;
    }
}

TEST_F(CorePrcsTest, SkinIsNamedOrPickedFromTheSkinFolder) {
    kit.master("", {{"SKINSUBPATH", "skins/"}});
    EXPECT_EQ(CorePrcsPeek{*make()}.skin(), ""); // no folder, no skin
    // A folder is a skin only when it holds a description; any other is never picked.
    std::filesystem::create_directories(kit.data() + "skins/Other");
    std::filesystem::create_directories(kit.data() + "skins/Unpacked");
    writeBytes(kit.data() + "skins/Unpacked/rom.xml", "x");
    for (int boot = 0; boot < 5; ++boot) EXPECT_EQ(CorePrcsPeek{*make()}.skin(), "Unpacked");
    writeBytes(kit.data() + "skins/Dark.v2s", "x");
    writeBytes(kit.data() + "skins/notes.txt", "x");
    std::string const skin = CorePrcsPeek{*make()}.skin();
    EXPECT_TRUE(skin == "Dark.v2s" || skin == "Unpacked") << skin;
    kit.master("", {{"SKINSUBPATH", "skins/"}, {"SKINNAME", " Light.V2S "}});
    EXPECT_EQ(CorePrcsPeek{*make()}.skin(), "Light.V2S");
}

TEST_F(CorePrcsTest, SettingsAreLoggedInTheirOrder) {
    kit.master("", {{"MAGIC", " ABCDEF "},
                    {"BPMDEFAULT", "140000"},
                    {"PROTECTIONDB", "12,5"},
                    {"SCANBOOT", "0"},
                    {"MODE", "0"},
                    {"LEGACYSTEREOCHANNEL", "0"},
                    {"PROGRAMRATE", "0"},
                    {"THREADSMINDIM", "4096"}});
    LogCapture log;
    make();
    std::string const text = log.text();
    // Each line in its place: "TAG:value<", after the one before it.
    std::string const ordered =
        "MAGIC:ABCD|FASTBOOT:0|SCANBOOT:0|NODROP:0|AUTOTHREAD:1|MODE:0|LEGACYSTEREOCHANNEL:0|"
        "PROGRAMRATE:0|GUIRATE:40000|EXPORTAUDIOQUALITY:1|LTIMED:10000|LFREQD:1000000|"
        "FORCEOFFSET:-1|RATECONVERSION:0|PROGRAMSUBPATH:programs/|VECTORSUBPATH:vectors/|"
        "SETUPSUBPATH:setups/|SETUPROMNAME:|DICTIONARYROMNAME:NULL|CACHESUBPATH:|"
        "DICTIONARYSUBPATH:|WORKBUFFER:32768|DSPBUFFER:8192|PROCESSINGBUFFER:8192|METERTYPE:2|"
        "HDIM:1|HDIMMAX:10|BPMDEFAULT:140|FONTCOLOUR:0|LOADERPRIORITY:1|FORCOLUMN:24|"
        "PROTECTIONDB:12.5|IPPTHREADS:1|*rate:44100|DELAY COMPENSATION:0|ippGetNumThreads:1|";
    std::size_t at = 0;
    for (std::size_t from = 0, bar; (bar = ordered.find('|', from)) != std::string::npos;
         from = bar + 1) {
        std::string const entry = ordered.substr(from, bar - from) + "<";
        std::size_t const found = text.find(entry, at);
        ASSERT_NE(found, std::string::npos) << entry << " missing or out of order";
        at = found;
    }
    for (char const* silent : {"DATAPATH", "THREADSMINDIM", "SKINNAME", "OTIMED", "DL:"})
        EXPECT_EQ(text.find(silent), std::string::npos) << silent;
}

TEST_F(CorePrcsTest, SavedSettingsReadBackAndKeepWhatTheEngineDoesNotOwn) {
    struct Key {
        char const* key;
        char const* read;    // in the file; null: not there
        char const* written; // after a save
    };
    // clang-format off
    std::vector<Key> const keys = {
        {"METERTYPE", "5", "5"}, {"OTIMED", "4", "4"}, {"OFREQD", "12", "12"},
        {"PROGRAMRATE", "2500", "2500"}, {"EXPORTAUDIOQUALITY", "2", "2"},
        {"FORCEOFFSET", "1500", "1500"}, {"LTIMED", "20000", "20000"},
        {"LFREQD", "2000000", "2000000"}, {"GUIRATE", "30000", "30000"}, {"HDIM", "3", "3"},
        {"BPMDEFAULT", "140000", "140000"}, {"AHEADLENGTH", "1234567", "1234567"},
        {"SCANBOOT", "2", "1"}, {"AUTOTHREAD", "0,5", "0"}, {"FASTBOOT", "1", "1"},
        {"RATECONVERSION", "700", "700"}, {"FONTCOLOUR", "7", "7"},
        {"SKINNAME", "Dark.v2s", "Dark.v2s"}, {"NODROP", "1", "1"}, {"LOADERPRIORITY", "3", "3"},
        {"MODE", "2", "1"}, {"DSPBUFFER", "10", "128"}, {"MIDISTSMIX1", "180", "180"},
        {"MIDICTRMIX1", "20", "20"}, {"MIDISTSMIX3", "177", "176"},
        {"MIDICTRMIX3", nullptr, "127"}, {"MIDISTSMIX4", nullptr, "176"},
        {"MIDICTRMIX4", "7", "7"}, {"MIDISTSMIX5", "178", "178"}, {"MIDICTRMIX5", "300", "127"},
        {"MIDISTSMIX8", nullptr, "176"}, {"MIDICTRMIX8", nullptr, "127"}
    };
    // clang-format on
    // MIDI: a status without a controller leaves the slot as built, a controller
    // without a status takes 176, and controllers stop at 127.
    KitValues values = {{"ZEXTRA", "<INNER> kept </INNER>"}};
    for (Key const& k : keys)
        if (k.read) values.push_back({k.key, k.read});
    values.push_back({"ALTERNATIVEDATAPATH", "/alt/one/"});
    values.push_back({"ALTERNATIVEDATAPATH", " two "});
    std::string const path = kit.master("", values);

    auto first = make();
    EXPECT_EQ(CorePrcsPeek{*first}.alternatives(), "/ALT/ONE/|TWO|");
    ASSERT_TRUE(first->savem());
    for (Key const& k : keys) EXPECT_EQ(savedValue(path, k.key), k.written) << k.key;
    EXPECT_EQ(savedValue(path, "DATAPATH"), kit.data());
    EXPECT_EQ(savedValue(path, "ALTERNATIVEDATAPATH"), "two"); // as the user wrote it
    CoreXml_ doc;
    CoreAnsx const inner[3] = {"MASTER", "ZEXTRA", "INNER"};
    ASSERT_NE(doc.getff(CoreAnsx(path.c_str()), false), nullptr);
    CoreNode* kept = doc.getrt()->pfind(inner, 3);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(std::string(kept->getcd()->gettx().Trim().c_str()), "kept");
    // What was written reads back as it was: a second engine saves the same file.
    std::string const saved = readBytes(path);
    ASSERT_TRUE(make()->savem());
    EXPECT_EQ(readBytes(path), saved);
}

TEST_F(CorePrcsTest, InstallerFileIsMergedOverTheMasterFile) {
    std::string const path = kit.master("", {{"DSPBUFFER", "1024"}, {"HDIM", "3"}});
    writeBytes(kit.code() + "VORLAN2_installer.XML",
               "<MASTER><DSPBUFFER>4096</DSPBUFFER></MASTER>");
    auto engine = make();
    CorePrcsPeek p{*engine};
    EXPECT_TRUE(p.merged());
    EXPECT_EQ(p.block(), 4096);
    ASSERT_TRUE(engine->savem());
    EXPECT_EQ(savedValue(path, "DSPBUFFER"), "4096");
    EXPECT_EQ(savedValue(path, "HDIM"), "3");
    EXPECT_EQ(savedValue(path, "DATAPATH"), kit.data());
}

TEST_F(CorePrcsTest, MissingMasterIsCreatedAndABrokenOneIsLeftAlone) {
    std::string const path = kit.code() + "VORLAN2.XML";
    {
        auto engine = make();
        EXPECT_FALSE(CorePrcsPeek{*engine}.present());
        ASSERT_TRUE(engine->savem());
    }
    EXPECT_EQ(savedValue(path, "DSPBUFFER"), "8192");
    EXPECT_EQ(savedValue(path, "MIDISTSMIX8"), "176");
    EXPECT_EQ(savedValue(path, "SCANBOOT"), "1");
    EXPECT_TRUE(CorePrcsPeek{*make()}.present());

    for (std::string const broken : {"</X><MASTER><DSPBUFFER>1024</DSPBUFFER></MASTER>",
                                     "<OTHER><DSPBUFFER>1024</DSPBUFFER></OTHER>"}) {
        writeBytes(path, broken);
        auto engine = make();
        EXPECT_EQ(CorePrcsPeek{*engine}.block(), 8192) << broken;
        EXPECT_FALSE(engine->savem()) << broken;
        EXPECT_EQ(readBytes(path), broken);
    }
}

TEST_F(CorePrcsTest, FailedConstructionReleasesWhatItBuilt) {
    kit.master();
    long const before = pool.getma();
    long used = 0;
    {
        auto engine = make();
        used = pool.getma() - before;
    }
    ASSERT_GT(used, 0);
    // Caps that run out at different steps of the construction.
    for (long share : {0L, 1L, 10L, 50L, 90L, 99L}) {
        pool.setal(before + used * share / 100);
        EXPECT_THROW(make(), CoreAnsx) << share;
        EXPECT_EQ(pool.getma(), before) << share;
    }
    pool.setal(before + 4 * used);
    EXPECT_NO_THROW(make());
}

TEST_F(CorePrcsTest, MalformedDictionaryLeavesCategoriesUntranslated) {
    kit.master("", {{"DICTIONARYROMNAME", "DICT.XML"}});
    writeBytes(kit.data() + "DICT.XML", "</X><DICTIONARY></DICTIONARY>");
    LogCapture log;
    EXPECT_NE(make(), nullptr);
    EXPECT_NE(log.text().find("dictionary does not parse"), std::string::npos);
}
