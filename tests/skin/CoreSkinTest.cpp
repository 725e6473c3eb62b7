// The skin reader on the demo package, on the same skin as a folder and on
// broken skins; the demo strips decoded by libpng's own reader against the
// glyph bitmaps.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "skin/CoreSkin.h"
#include "skin/DataGlyf.h"
#include "storage/CoreFsys.h"
#include "tests/support/FileBytes.h"
#include "tests/support/FsysItems.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tools/CoreDskn.h"
#include "tools/CoreDspg.h"

namespace {

using ITEMS = std::map<std::string, std::string>; // item name -> bytes

ITEMS readPackage(std::string const& path) {
    CorePool pool;
    CoreFsys store(&pool);
    ITEMS items;
    store.loada(CoreAnsx(path.c_str()), CoreAnsx("0"), false, nullptr);
    for (int i = 0, id = -1; i < store.llvcn(); ++i) {
        std::string name = store.llvel(i, id).c_str(); // before heldItem reads id
        items[name] = heldItem(store, id);
    }
    return items;
}

// The items as a package, or as loose files of a folder (names lower-cased:
// they are matched without regard to case).
bool writeSkin(std::string const& path, ITEMS const& items, bool folder) {
    CorePool pool;
    CoreFsys store(&pool);
    if (folder) std::filesystem::create_directories(path);
    for (auto const& [key, bytes] : items) {
        std::string name = key;
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        if (folder) writeBytes(path + "/" + name, bytes);
        putItem(store, name.c_str(), bytes);
    }
    return folder || store.savea(CoreAnsx(path.c_str()));
}

std::string describe(CoreSkin::SKIN const& s) {
    std::string out = std::to_string(s.fontcount) + " fonts:";
    for (size_t f = 0; f < s.fontnames.size() && f < s.fontstrips.size(); ++f)
        out = out + " " + s.fontnames[f].c_str() + "(" + s.fontstrips[f].font1.c_str() + "," +
              s.fontstrips[f].fontneg.c_str() + "," + s.fontstrips[f].font2.c_str() + ")";
    return out + " add " + std::to_string(s.displayaddchars) + " bg " + s.background.c_str() + " " +
           std::to_string(s.displayx) + "," + std::to_string(s.displayy) + " " +
           std::to_string(s.displayaddx) + "," + std::to_string(s.displayaddy);
}

std::string bytesOf(CoreSkin const& skin, std::string const& name) {
    int size = -1;
    unsigned char const* data = skin.getbt(CoreAnsx(name.c_str()), size);
    return data ? std::string(reinterpret_cast<char const*>(data), size_t(size)) : "";
}

struct Demo : ::testing::Test {
    TempDir temp{"vorlanskin"};
    std::string package = temp.file("DEMO.V2S");
    ITEMS items;
    void SetUp() override {
        ASSERT_TRUE(CoreDskn::wrskn(CoreAnsx(package.c_str())));
        items = readPackage(package);
        ASSERT_EQ(items.size(), 8u); // ROM.XML, the background, 2 x 3 strips
    }
};

TEST_F(Demo, PackageAndFolderGiveTheSameSkin) {
    std::string folder = temp.file("skins/DEMO.V2S");
    ASSERT_TRUE(writeSkin(folder, items, true));
    CoreSkin fromPackage(CoreAnsx(package.c_str()));
    CoreSkin fromFolder(CoreAnsx(folder.c_str()));
    EXPECT_EQ(describe(*fromPackage.getsk()),
              "2 fonts: GREEN(GREEN1.PNG,GREENNEG.PNG,GREEN2.PNG) "
              "AMBER(AMBER1.PNG,AMBERNEG.PNG,AMBER2.PNG) add 49 bg BACKGROUND.PNG 16,16 16,196");
    EXPECT_EQ(describe(*fromFolder.getsk()), describe(*fromPackage.getsk()));
    for (auto const& [name, bytes] : items) {
        EXPECT_TRUE(bytesOf(fromPackage, name) == bytes) << name;
        EXPECT_TRUE(bytesOf(fromFolder, name) == bytes) << name;
    }
    EXPECT_TRUE(bytesOf(fromPackage, " green1.png") == items["GREEN1.PNG"]);
    EXPECT_EQ(bytesOf(fromPackage, "NOSUCH.PNG"), "");
}

TEST_F(Demo, BrokenSkinsFallBackToNoSkin) {
    std::string const green = "<FONTNAME>GREEN</FONTNAME><FONT1>GREEN1.PNG</FONT1>"
                              "<FONTNEG>GREENNEG.PNG</FONTNEG><FONT2>GREEN2.PNG</FONT2>";
    std::string const fonts = "<FONTS>" + green + "</FONTS>";
    auto skin = [&](std::string const& count, std::string const& inside) {
        return "<SKIN><DISPLAYADDCHARS>" + count + "</DISPLAYADDCHARS>" + inside + "</SKIN>";
    };
    struct Case {
        std::optional<std::string> rom; // ROM.XML; none at all when nullopt
        char const* dropped;            // an item left out, or ""
        int fonts;                      // font count expected
        int addchars;                   // DISPLAYADDCHARS expected
        bool logged;                    // an error line expected
    } const cases[] = {
        {"<SKIN>" + fonts + "</SKIN>", "", 1, 0, false}, // count absent
        {skin("500", fonts), "", 1, 500, false},         // the display bounds it
        {skin("-3", fonts), "", 1, 0, true},
        {skin("12abc", fonts), "", 1, 0, true},
        {"</FONTS>" + skin("9", fonts), "", 0, 0, true}, // stray close tag
        {std::string("\x89PNG\r\n\x1a\n\x01", 9), "", 0, 0, true},
        {"<OTHER>" + fonts + "</OTHER>", "", 0, 0, true},
        {skin("9", "<FONTS><X>1</X></FONTS>"), "", 0, 0, true},
        {skin("9", fonts), "GREENNEG.PNG", 0, 0, true},
        {skin("9", "<FONTS>" + green.substr(0, green.find("<FONT2>")) + "</FONTS>"), "", 0, 0,
         true},
        {skin("9", "<FONTS>" + green.substr(green.find("<FONT1>")) + green + "</FONTS>"), "", 0, 0,
         true}, // a strip before any FONTNAME
        {std::nullopt, "", 0, 0, true},
    };
    for (Case const& c : cases)
        for (bool folder : {false, true}) {
            ITEMS changed = items;
            changed.erase("ROM.XML");
            changed.erase(c.dropped);
            if (c.rom) changed["ROM.XML"] = *c.rom;
            std::string path = temp.file(std::to_string(&c - cases) + (folder ? "F" : "P"));
            ASSERT_TRUE(writeSkin(path, changed, folder));
            LogCapture log;
            CoreSkin read(CoreAnsx(path.c_str()));
            SCOPED_TRACE(path + " " + c.rom.value_or("(none)"));
            EXPECT_EQ(read.getsk()->fontcount, c.fonts);
            EXPECT_EQ(int(read.getsk()->fontnames.size()), c.fonts);
            EXPECT_EQ(read.getsk()->displayaddchars, c.addchars);
            EXPECT_EQ(log.text().find("***ERROR***") != std::string::npos, c.logged) << log.text();
        }
    // A folder's item of the wrong kind, not there, or too large (a ROM.XML past the bound is not
    // said to be missing) is named with why at a user's log level.
    for (auto [name, why] : {std::pair{"green1.png", "not a plain file"},
                             std::pair{"green2.png", "missing"}, std::pair{"rom.xml", "File"}}) {
        std::string const folder = temp.file(name), item = folder + "/" + name;
        ASSERT_TRUE(writeSkin(folder, items, true));
        std::remove(item.c_str());
        ASSERT_EQ(*why == 'm'   ? symlink("nowhere.png", item.c_str())
                  : *why == 'n' ? mkfifo(item.c_str(), 0644)
                                : (writeBytes(item, ""), truncate(item.c_str(), 17 << 20)),
                  0);
        LogCapture log;
        CoreLog_::setdb(0, false); // LogCapture puts its own level back
        EXPECT_EQ(CoreSkin(CoreAnsx(folder.c_str())).getsk()->fontcount, 0) << name;
        EXPECT_NE(log.text().find("Error in file " + item + ": " + why), std::string::npos)
            << log.text();
        EXPECT_EQ(log.text().find("has no ROM.XML"), std::string::npos);
        EXPECT_EQ(log.text().find("ROM.XML is too large") != std::string::npos, *why == 'F');
    }
    writeBytes(temp.file("JUNK.V2S"), "Vorlan2 but no archive");
    for (std::string path : {temp.file("JUNK.V2S"), temp.file("NONE.V2S"), std::string()}) {
        CoreSkin read(CoreAnsx(path.c_str()));
        EXPECT_EQ(describe(*read.getsk()), "0 fonts: add 0 bg  0,0 0,0") << path;
    }
}

TEST_F(Demo, StripsHoldTheGlyphBitmapsInTheirColours) {
    CoreSkin skin(CoreAnsx(package.c_str()));
    // GREEN is the renderer's palette, so its truth is the renderer's constants.
    std::uint8_t const light[3] = {CoreDspg::iClight, CoreDspg::iClight, CoreDspg::iClight};
    std::uint8_t const dark[3] = {CoreDspg::iCdark, CoreDspg::iCdark, CoreDspg::iCdark};
    for (int c = 0; c < 2; ++c)
        for (int s = 0; s < 3; ++s) { // FONT1, FONTNEG, FONT2
            int size = 0;
            unsigned char const* bytes = skin.getbt(CoreDskn::strnm(c, s), size);
            png_image png{};
            png.version = PNG_IMAGE_VERSION;
            ASSERT_TRUE(png_image_begin_read_from_memory(&png, bytes, size_t(size)));
            png.format = PNG_FORMAT_RGB;
            std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(png));
            ASSERT_TRUE(png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr));
            int const scale = s == 2 ? 2 : 1;
            int const slots = s == 1 ? 94 : 108;
            ASSERT_EQ(int(png.width), slots * 8 * scale);
            ASSERT_EQ(int(png.height), 12 * scale);
            std::uint8_t const* ink = c == 0 ? light : CoreDskn::cCcolours[c].ink;
            std::uint8_t const* paper = c == 0 ? dark : CoreDskn::cCcolours[c].paper;
            int wrong = 0;
            for (int y = 0; y < int(png.height); ++y)
                for (int x = 0; x < int(png.width); ++x) {
                    int slot = x / (8 * scale), gx = x % (8 * scale) / scale, gy = y / scale;
                    bool set = DataGlyf::getpx(slot, gx, gy) != (s == 1);
                    wrong += !std::equal(rgb.data() + (size_t(y) * png.width + size_t(x)) * 3,
                                         rgb.data() + (size_t(y) * png.width + size_t(x)) * 3 + 3,
                                         set ? ink : paper);
                }
            EXPECT_EQ(wrong, 0) << CoreDskn::strnm(c, s).c_str();
        }
}

} // namespace
