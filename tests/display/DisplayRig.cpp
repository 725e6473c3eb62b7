#include "tests/display/DisplayRig.h"

#include <png.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {
std::atomic<double> fakeDays{1000.0};
double origin = 1000.0; // fake clock reading when the last rig's blink clock was built
double readClock() { return fakeDays.load(); }

constexpr int gridColumns = CoreDsif::iCdimx;
constexpr int gridRows = CoreDsif::iCdimy + CoreDsif::iCdimaddy;

// Fonts as the buffer builds them, to turn glyphs back into characters.
CoreDsbf& referenceFonts() {
    static CoreDsbf fonts(nullptr, 1, 1, 0, 0);
    return fonts;
}

std::string codeText(int code) {
    static char const* const symbols[] = {"◆", "┃", "┳", "┻", "▲", "▼", "◀",
                                          "▶", "●", "○", "■", "□", "↑", "↓"};
    static char const* const bars[] = {"█", "▊", "▋", "▌", "▎", "▏"}; // codes 20..25
    if (code >= 6 && code <= 19) return symbols[code - 6];
    if (code >= 20 && code <= 25) return bars[code - 20];
    if (code == 0xA7) return "§";
    if (code >= 32 && code < 127) return std::string(1, char(code));
    return "?";
}

bool isBatch(short page) { return page == 22 || page == 23; }
} // namespace

DisplayRig::DisplayRig() : blink(&readClock) {
    origin = fakeDays.load();
    blinkPhase(true);
}

DisplayRig::~DisplayRig() { shown.reset(); }

void DisplayRig::blinkPhase(bool on) { fakeDays = origin + (on ? 0.5 : 1.5) / 86400.0; }

CoreDsif& DisplayRig::build(bool withHost) {
    shown =
        std::make_unique<CoreDsif>(&engine, &mailbox, &blink, &skin, withHost ? &host : nullptr);
    return *shown;
}

void DisplayRig::post(short id, int word1, int word2) {
    CoreDspc::MESSAGELOC record{};
    record.id = std::uint16_t(id);
    record.word1 = word1;
    record.word2 = word2;
    mailbox.addms(&record);
}

void DisplayRig::click(int column, int row) {
    host.mouse(column * CoreDspg::iCcellx, row * CoreDspg::iCcelly, 1);
    post(CoreDspc::iCclick, column, row);
}

void DisplayRig::release() { host.mouse(0, 0, 0); }

void DisplayRig::key(int code) { post(CoreDspc::iCkey, code, 0); }

void DisplayRig::wheel(int steps) { post(CoreDspc::iCwheel, steps, 0); }

void DisplayRig::bypass() { post(CoreDspc::iCbypass, 0, 0); }

void DisplayRig::choose(int index) { post(CoreDspc::iCprogram, index, 0); }

short DisplayRig::boot(bool attached) {
    for (int i = 0; i < 100 && page() == CoreStte::iCpageboot; ++i) tick(attached);
    return page();
}

bool DisplayRig::runBatch(int milliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (int i = 0; i < 3 && !isBatch(page()); ++i) tick();
    while (isBatch(page()) || isBatch(requested())) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string DisplayRig::glyphText(short font, int glyph) {
    CoreDsfn* map = referenceFonts().getfn(font);
    if (map == nullptr) return "?";
    if (glyph == 0) return " ";
    for (int code = 0; code < 256; ++code)
        if (map->getrs(short(code)) == glyph) return codeText(code);
    return "?";
}

DisplayRig::SCREEN DisplayRig::cells() {
    SCREEN screen;
    CoreDsbf const& buffer = CoreDsifPeek::buffer(*shown);
    for (int y = 0; y < gridRows; ++y) {
        std::string text, fonts;
        for (int x = 0; x < gridColumns; ++x) {
            CoreDsch const* cell = buffer.getcl(short(x), short(y));
            short font = cell->getfn();
            // A doubled glyph shows only from a cell at even coordinates.
            if (font == 2 && (x % 2 != 0 || y % 2 != 0)) {
                text += "?";
                fonts += "?";
                continue;
            }
            int code = static_cast<unsigned char>(cell->getvl());
            text += glyphText(font, referenceFonts().getfn(font)->getrs(short(code)));
            fonts += char('0' + font);
        }
        screen.text.push_back(text);
        screen.fonts.push_back(fonts);
    }
    return screen;
}

DisplayRig::SCREEN DisplayRig::snapshot() {
    CoreCnst::DISPLAYDATA data;
    shown->newdd(&data);
    shown->flldd(&data);
    auto value = [&data](int font, int column, int row) {
        if (row >= data.rows[font] || column >= data.columns[font]) return -1.0;
        return data.cells[data.rowstarts[font][row] + column];
    };
    SCREEN screen;
    for (int y = 0; y < gridRows; ++y) {
        std::string text, fonts;
        for (int x = 0; x < gridColumns; ++x) {
            std::string shownText = "?";
            char shownFont = '?';
            int found = 0;
            for (int font = 0; font < 4; ++font) {
                bool doubled = font == 2;
                if (doubled && (x % 2 != 0 || y % 2 != 0)) continue;
                double v = doubled ? value(font, x / 2, y / 2) : value(font, x, y);
                if (v < 0.0) continue;
                ++found;
                shownText = glyphText(short(font), int(v * shown->getre(short(font))));
                shownFont = char('0' + font);
            }
            if (found > 1) shownFont = '!'; // a cell in two fonts at once
            text += shownText;
            fonts += shownFont;
        }
        screen.text.push_back(text);
        screen.fonts.push_back(fonts);
    }
    shown->deldd(&data);
    return screen;
}

bool DisplayRig::picture(CoreDspg::IMAGE& image, int scale) {
    CoreCnst::DISPLAYDATA data;
    shown->newdd(&data);
    shown->flldd(&data);
    int counts[4];
    for (short font = 0; font < 4; ++font) counts[font] = shown->getre(font);
    bool drawn = CoreDspg::rendr(data, counts, CoreDsif::iCdimy, scale, image);
    shown->deldd(&data);
    return drawn;
}

bool DisplayRig::readPng(std::string const& path, CoreDspg::IMAGE& image) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_GRAY;
    image.width = int(png.width);
    image.height = int(png.height);
    image.pixels.assign(PNG_IMAGE_SIZE(png), 0);
    bool read = png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr) != 0;
    png_image_free(&png);
    return read;
}
