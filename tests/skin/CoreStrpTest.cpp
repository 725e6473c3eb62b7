// Glyph strips judged by their PNG headers before anything is decoded: a
// picture larger than any this program draws, or strips whose sizes do not
// fit their slots, are refused with a line said at every debug level, in a
// child that may not allocate 100 MB.
#include "skin/CoreStrp.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "runtime/CoreLog_.h"
#include "skin/CoreSkin.h"
#include "tests/support/FileBytes.h"
#include "tests/support/HugePng.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MemoryCap.h"
#include "tests/support/TempDir.h"
#include "tools/CoreDskn.h"

namespace {

std::string bytesOf(CoreSkin const& skin, std::string const& item) {
    int size = 0;
    unsigned char const* data = skin.getbt(CoreAnsx(item.c_str()), size);
    return data != nullptr ? std::string(reinterpret_cast<char const*>(data), size_t(size)) : "";
}

} // namespace

TEST(CoreStrpTest, OversizedOrMisfitStripsAreRefusedBeforeDecoding) {
    std::string const huge = hugePng();
    TempDir temp("vorlanstrp");
    ASSERT_TRUE(CoreDskn::wrskn(CoreAnsx(temp.file("DEMO.V2S").c_str())));
    CoreSkin const demo(CoreAnsx(temp.file("DEMO.V2S").c_str()));
    std::string const amber1 = bytesOf(demo, "AMBER1.PNG");
    ASSERT_FALSE(amber1.empty());

    struct Row {
        char const* item;  // the demo's item replaced, "" none
        std::string bytes; // what it holds instead
        char const* said;  // in the refusal, "" when the skin's strips serve
    } const rows[] = {
        {"", "", ""},
        {"GREEN1.PNG", huge, "\"GREEN1.PNG\" is larger than a picture may be"},
        {"GREEN2.PNG", huge, "\"GREEN2.PNG\" is larger than a picture may be"},
        {"GREENNEG.PNG", amber1, "FONTNEG width does not divide by 94"},
        {"GREEN2.PNG", amber1, "FONT2 cell is not twice the FONT1 cell"},
        {"GREEN1.PNG", "\x89PNG\r\n\x1a\n", "\"GREEN1.PNG\" is missing or no PNG"},
    };
    char const* const items[] = {"ROM.XML",    "BACKGROUND.PNG", "GREEN1.PNG",   "GREENNEG.PNG",
                                 "GREEN2.PNG", "AMBER1.PNG",     "AMBERNEG.PNG", "AMBER2.PNG"};
    for (Row const& row : rows) {
        SCOPED_TRACE(row.said);
        std::string const folder = temp.file(std::to_string(&row - rows) + ".V2S");
        std::filesystem::create_directories(folder);
        for (std::string item : items)
            writeBytes(folder + "/" + item, item == row.item ? row.bytes : bytesOf(demo, item));
        CoreSkin skin(CoreAnsx(folder.c_str()));
        ASSERT_EQ(skin.getsk()->fontcount, 2);
        LogCapture log;
        EXPECT_TRUE(underMemoryCap([&] {
            CoreLog_::setdb(0, false); // only what is said at every level
            CoreStrp strips;
            return strips.loads(&skin, 0) == (*row.said == '\0') && strips.isskn() == !*row.said;
        }));
        EXPECT_EQ(LogCapture::error(log.text(), *row.said ? row.said : "Editor"), *row.said != 0)
            << log.text();
    }

    // The picture alone: its header read, nothing decoded.
    EXPECT_TRUE(underMemoryCap([&] {
        int width = -1, height = -1;
        char const* why = "";
        CoreStrp::IMAGE image;
        return !CoreStrp::sizes(kHugePng, int(sizeof kHugePng), width, height, why) &&
               width * 1000 + height == 0 &&
               std::string(why) == "is larger than a picture may be" &&
               !CoreStrp::decod(kHugePng, int(sizeof kHugePng), image) && image.pixels.empty();
    }));
}
