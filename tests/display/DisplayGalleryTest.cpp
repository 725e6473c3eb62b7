// ctest-labels: threads
// Pictures of display screens for review, in build/display-gallery: one per
// page id, page-NN.png (the boot page, the boot error page, both batch pages
// mid-run, the kernel, memory and global pages, the five modulator edit
// pages, the settings pages, the simple set's three pages, the program page
// and the list page over a memory of programs in three categories), the
// program page's list view and the list page's all-programs mode beside
// them, the six button rows and a chart of every glyph. Each screen's
// decoded snapshot must equal its cells read from the buffer, each picture
// must read back through libpng at the stated size, and chosen cells must
// carry their glyph's bitmap.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "runtime/CoreButl.h"
#include "skin/DataGlyf.h"
#include "tests/display/DisplayRig.h"
#include "tests/display/ProgramStock.h"

namespace {
std::string const gallery = VORLAN_GALLERY_DIR;

struct CELL {
    int column;
    int row;
    short font;
    char code;
};

// The cell's pixels in a picture at scale 1 against its glyph's bitmap.
void expectGlyph(CoreDspg::IMAGE const& image, CELL const& cell) {
    static CoreDsbf fonts(nullptr, 1, 1, 0, 0);
    int glyph = fonts.getfn(cell.font)->getrs(cell.code);
    bool doubled = cell.font == 2;
    int size = doubled ? 2 : 1;
    for (int y = 0; y < DataGlyf::iCheight * size; ++y)
        for (int x = 0; x < DataGlyf::iCwidth * size; ++x) {
            int gridy = cell.row * size + y / DataGlyf::iCheight;
            int top = (gridy < CoreDsif::iCdimy ? gridy : gridy + 1) * DataGlyf::iCheight;
            int py = top + y % DataGlyf::iCheight;
            int px = cell.column * size * DataGlyf::iCwidth + x;
            bool ink = DataGlyf::getpx(glyph, x / size, y / size);
            int expected = ink != (cell.font == 1) ? CoreDspg::iClight : CoreDspg::iCdark;
            ASSERT_EQ(image.pixels[size_t(py * image.width + px)], expected)
                << "glyph " << glyph << " pixel " << x << "," << y;
        }
}

// Writes the picture and reads it back.
void keep(std::string const& name, CoreDspg::IMAGE const& image, std::vector<CELL> const& cells) {
    std::filesystem::create_directories(gallery);
    std::string path = gallery + "/" + name + ".png";
    ASSERT_TRUE(CoreDspg::wrpng(image, CoreAnsx(path.c_str())));
    CoreDspg::IMAGE back;
    ASSERT_TRUE(DisplayRig::readPng(path, back));
    EXPECT_EQ(back.width, 464);
    EXPECT_EQ(back.height, 168 + 12 + 36);
    EXPECT_EQ(back.pixels, image.pixels) << name;
    for (CELL const& cell : cells) expectGlyph(back, cell);
}

std::string page(int id) { return (id < 10 ? "page-0" : "page-") + std::to_string(id); }

void keep(std::string const& name, DisplayRig& rig, std::vector<CELL> const& cells) {
    EXPECT_EQ(rig.snapshot(), rig.cells()) << name;
    CoreDspg::IMAGE image;
    ASSERT_TRUE(rig.picture(image));
    keep(name, image, cells);
}
} // namespace

TEST(DisplayGallery, BootScreenAndItsDump) {
    DisplayRig rig;
    rig.build();
    for (int i = 0; i < 3; ++i) rig.tick();
    keep("page-20", rig, {{1, 0, 1, '1'}, {4, 0, 0, 'R'}, {0, 2, 0, 'E'}, {5, 2, 0, 'e'}});

    // The command draws the dump of the same screen alike, and scales it.
    CoreCnst::DISPLAYDATA data;
    rig.display().newdd(&data);
    rig.display().flldd(&data);
    std::string dump = gallery + "/boot.cells";
    ASSERT_TRUE(CoreButl::wrall(CoreAnsx(dump.c_str()), reinterpret_cast<char const*>(data.cells),
                                size_t(data.total) * sizeof(double)));
    rig.display().deldd(&data);
    std::string drawn = gallery + "/boot-scaled.png";
    std::string command = std::string(VORLAN_DSRENDER) + " " + dump + " " + drawn + " 2";
    ASSERT_EQ(std::system(command.c_str()), 0);
    CoreDspg::IMAGE scaled, plain;
    ASSERT_TRUE(DisplayRig::readPng(drawn, scaled));
    ASSERT_TRUE(rig.picture(plain));
    ASSERT_EQ(scaled.width, 928);
    for (int y = 0; y < scaled.height; ++y) // every pixel doubled both ways
        for (int x = 0; x < scaled.width; ++x)
            ASSERT_EQ(scaled.pixels[size_t(y * 928 + x)],
                      plain.pixels[size_t(y / 2 * 464 + x / 2)]);
}

TEST(DisplayGallery, BootErrorPage) {
    DisplayRig rig;
    rig.engine.boot({{1, "Kernel folder", false, false, true},
                     {2, "Kernel folder missing", false, false, false}});
    rig.engine.put('b', 22, "1");
    rig.build();
    EXPECT_EQ(rig.boot(), 21);
    rig.tick();
    keep(page(21), rig, {{1, 0, 1, '1'}, {4, 0, 0, 'K'}, {1, 1, 1, '2'}});
}

// The full set's batch page (22) and the simple set's (23), mid-run.
TEST(DisplayGallery, BatchPagesMidRun) {
    for (bool guru : {true, false}) {
        DisplayRig rig;
        rig.engine.put('b', 22, "1");
        rig.engine.put('b', 41, guru ? "1" : "0");
        rig.engine.name(1234, "Warm Room");
        rig.build();
        rig.boot();
        rig.engine.gate(2);
        rig.display().loadp(1234);
        rig.tick();
        for (int i = 0; i < 5000 && !rig.engine.waiting(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        rig.tick();
        EXPECT_EQ(rig.page(), guru ? 22 : 23);
        keep(page(rig.page()), rig, {{2, 0, 1, 'B'}, {0, 2, 0, 'L'}, {0, 13, 1, 'R'}});
        rig.engine.gate(-1);
        EXPECT_TRUE(rig.runBatch());
    }
}

TEST(DisplayGallery, ButtonRows) {
    DisplayRig rig;
    rig.engine.put('b', 22, "1");
    rig.build();
    rig.boot();
    short const firstPages[] = {0, 6, 15, 16, 14, 18};
    for (int menu = 0; menu < 6; ++menu) {
        rig.display().fnmnu(firstPages[menu]);
        rig.display().drmnu(true);
        keep("menu" + std::to_string(menu), rig, {{2, 13, 0, rig.row(13)[2]}, {0, 13, 0, '.'}});
    }
}

TEST(DisplayGallery, GlyphChart) {
    // Every code with a glyph, in each text font, and a few doubled.
    CoreDsbf screen(nullptr, 58, 14, 49, 3);
    screen.clear(0, 0, 0, 58, 14);
    std::string codes;
    for (int c = 6; c <= 25; ++c) codes += char(c);
    for (int c = 32; c < 127; ++c)
        if (screen.getfn(0)->getrs(short(c)) != 0) codes += char(c);
    codes += char(0xA7);
    for (short font : {short(0), short(1)}) {
        screen.write(CoreAnsx(codes.substr(0, 58).c_str()), 0, short(1 + 3 * font), font, false,
                     false);
        screen.write(CoreAnsx(codes.substr(58).c_str()), 0, short(2 + 3 * font), font, false,
                     false);
    }
    screen.write(CoreAnsx("Ag7%"), 0, 4, 2, false, false);
    std::vector<double> cells;
    int const rows[4] = {17, 17, 8, 17}, columns[4] = {58, 58, 29, 58};
    for (short font = 0; font < 4; ++font)
        for (int r = 0; r < rows[font]; ++r)
            for (int c = 0; c < columns[font]; ++c)
                cells.push_back(screen.readr(font, short(c), short(r)));
    CoreDspg::IMAGE image;
    ASSERT_TRUE(CoreDspg::rendr(cells.data(), int(cells.size()), 1, image));
    keep("glyphs", image,
         {{0, 1, 0, 6},
          {1, 1, 0, 7},
          {14, 1, 0, 20},
          {19, 1, 0, 25},
          {20, 1, 0, '!'},
          {14, 4, 1, 20},
          {0, 4, 2, 'A'},
          {3, 4, 2, '%'}});
}

TEST(DisplayGallery, KernelMemoryAndGlobalPages) {
    DisplayRig rig;
    FakeBean& e = rig.engine;
    e.put('b', 22, "1"), e.put('i', 67, "105"), e.name(105, "Warm Room");
    e.put('s', 56, "Warm Room"), e.put('s', 64, "A room with a warm tail"), e.put('h', 75, "6");
    e.put('h', 54, "8"), e.put('h', 55, "4"), e.put('b', 162, "1", 0), e.put('b', 58, "1");
    e.put('d', 160, "200000", 0, 0), e.put('d', 161, "50000", 0, 0), e.put('l', 10, "4007");
    e.put('d', 0, "1"), e.put('d', 1, "2"), e.put('d', 12, "0.5"), e.put('d', 19, "20000");
    rig.build();
    rig.boot();
    struct PAGE {
        short id;
        char const* name;
        std::vector<CELL> cells;
    } const pages[] = {
        {5, "page-05", {{2, 0, 1, 'K'}, {0, 1, 0, 'K'}, {13, 5, 0, '5'}, {51, 2, 1, 'S'}}},
        {6, "page-06", {{2, 0, 1, 'E'}, {7, 1, 2, 'W'}, {0, 9, 0, 'N'}, {51, 3, 1, 'D'}}},
        {8, "page-08", {{2, 0, 1, 'E'}, {0, 1, 0, 'P'}, {4, 7, 0, 'M'}, {52, 0, 1, 'E'}}},
    };
    for (PAGE const& page : pages) {
        CoreDsifPeek::request(rig.display(), page.id);
        rig.tick();
        rig.tick();
        keep(page.name, rig, page.cells);
    }
    e.put('b', 41, "0"); // the simple set, which page 19 keeps
    PAGE const simple[] = {
        {19, "page-19", {{2, 0, 1, 'M'}, {0, 3, 0, 'M'}, {52, 1, 1, 'S'}}},
        {18, "page-18", {{2, 0, 1, 'P'}, {0, 6, 0, 'F'}}},
        {17, "page-17", {{2, 0, 1, 'L'}, {46, 1, 0, char(8)}}},
    };
    for (PAGE const& page : simple) {
        CoreDsifPeek::request(rig.display(), page.id);
        rig.tick();
        rig.tick();
        keep(page.name, rig, page.cells);
    }
}

TEST(DisplayGallery, ModulatorEditPages) {
    short const pages[] = {7, 9, 10, 11, 12};
    for (int i = 0; i < 5; ++i) {
        DisplayRig rig;
        rig.engine.put('b', 22, "1");
        rig.engine.put('i', 44, "44100");
        rig.engine.put('d', 95, "20"), rig.engine.put('d', 97, "5"), rig.engine.put('d', 93, "90");
        rig.engine.put('b', 108, "1"), rig.engine.put('d', 106, "0.5");
        rig.engine.put('l', 114, "441"), rig.engine.put('l', 137, "4410"),
            rig.engine.put('h', 130, "1");
        rig.build();
        rig.boot();
        CoreDsifPeek::request(rig.display(), pages[i]);
        rig.tick();
        rig.tick();
        // The title, EXIT at rest and the first field highlighted.
        keep(page(pages[i]), rig, {{2, 0, 1, 'E'}, {52, 0, 1, 'E'}});
    }
}

TEST(DisplayGallery, ProgramBrowsingPages) {
    DisplayRig rig;
    rig.engine.put('b', 22, "1");
    stockPrograms(rig.engine);
    rig.build();
    rig.boot();
    rig.tick();
    keep("page-00", rig, {{2, 0, 1, 'P'}, {0, 1, 2, 'L'}, {40, 1, 1, ' '}});
    rig.click(55, 0); // " L "
    rig.tick();
    rig.tick();
    keep("page-00-list", rig, {{0, 1, 2, 'L'}, {38, 1, 0, '3'}, {12, 9, 0, char(20)}});
    CoreDsifPeek::request(rig.display(), 1); // the list page, in category mode
    rig.tick();
    rig.tick();
    keep("page-01", rig, {{2, 0, 1, 'L'}, {46, 1, 0, char(8)}});
    rig.click(50, 0); // " ALL "
    rig.tick();
    rig.tick();
    keep("page-01-all", rig, {{2, 0, 1, 'L'}, {0, 1, 0, 'W'}});
}

TEST(DisplayGallery, SettingsPages) {
    DisplayRig rig;
    FakeBean& e = rig.engine;
    e.put('b', 22, "1"), e.put('s', 47, "7.1"), e.put('l', 10, "4007"), e.put('i', 44, "44100");
    e.put('h', 45, "2"), e.put('h', 50, "6"), e.put('h', 51, "7"), e.put('l', 52, "4000");
    e.put('l', 236, "1024"), e.put('d', 34, "120"), e.put('l', 49, "512");
    for (int p : {0, 2, 3}) e.put('b', 196, "1", p), e.put('d', 199, "0.6", p);
    e.put('s', 198, "Cutoff", 0), e.put('s', 197, "1", 0), e.put('s', 203, "Hz", 0);
    e.put('s', 198, "Drive", 2), e.put('s', 198, "Hidden", 1), e.put('s', 204, "a+b", 4);
    rig.build();
    rig.boot();
    CoreDsifPeek::prmselect(rig.display()) = 0;
    struct PAGE {
        short id;
        char const* name;
        std::vector<CELL> cells;
    } const pages[] = {
        {2, "page-02", {{2, 0, 1, 'M'}, {0, 3, 0, 'M'}, {52, 1, 1, 'S'}}},
        {3, "page-03", {{2, 0, 1, 'M'}, {8, 1, 0, 'C'}, {38, 2, 0, 'C'}}},
        {4, "page-04", {{2, 0, 1, 'D'}, {0, 6, 0, 'L'}}},
        {13, "page-13", {{2, 0, 1, 'E'}, {6, 2, 1, 'C'}, {52, 4, 1, 'E'}}},
        {14, "page-14", {{2, 0, 1, 'E'}, {0, 2, 0, 'L'}, {52, 0, 1, 'P'}}},
        {15, "page-15", {{2, 0, 1, 'A'}, {0, 1, 0, 'D'}}},
        {16, "page-16", {{2, 0, 1, 'T'}, {0, 2, 0, 'P'}}},
    };
    for (PAGE const& page : pages) {
        CoreDsifPeek::request(rig.display(), page.id);
        rig.tick();
        rig.tick();
        keep(page.name, rig, page.cells);
    }
}

// Declared last, so it runs after the tests that draw the pages.
TEST(DisplayGallery, EveryPageHasItsPicture) {
    for (int id = 0; id < 24; ++id) {
        CoreDspg::IMAGE image;
        EXPECT_TRUE(DisplayRig::readPng(gallery + "/" + page(id) + ".png", image)) << id;
    }
}
