#include "tests/display/DisplayRig.h"

#include <png.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

namespace {
std::atomic<double> fakeDays{1000.0};
double origin = 1000.0; // fake clock when the last rig's blink clock was built
double readClock() { return fakeDays.load(); }

bool isBatch(short page) { return page == 22 || page == 23; }

// The buffer's fonts, to turn glyphs back into characters.
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
    return code >= 32 && code < 127 ? std::string(1, char(code)) : "?";
}

// Builds the 17 rows from what one cell shows: its text and font digit.
DisplayRig::SCREEN screen(std::function<std::pair<std::string, char>(int, int)> const& cell) {
    DisplayRig::SCREEN s;
    for (int y = 0; y < CoreDsif::iCdimy + CoreDsif::iCdimaddy; ++y) {
        s.text.emplace_back();
        s.fonts.emplace_back();
        for (int x = 0; x < CoreDsif::iCdimx; ++x) {
            auto [text, font] = cell(x, y);
            s.text.back() += text;
            s.fonts.back() += font;
        }
    }
    return s;
}
} // namespace

DisplayRig::DisplayRig() : blink(&readClock) {
    origin = fakeDays.load();
    blinkPhase(true);
}

void DisplayRig::blinkPhase(bool on) { fakeDays = origin + (on ? 0.5 : 1.5) / 86400.0; }

CoreDsif& DisplayRig::build(bool withHost) {
    shown =
        std::make_unique<CoreDsif>(&engine, &mailbox, &blink, &skin, withHost ? &host : nullptr);
    return *shown;
}

void DisplayRig::post(short id, int word1, int word2, int word3, int word4) {
    CoreDspc::MESSAGELOC record{};
    record.id = std::uint16_t(id);
    record.word1 = word1;
    record.word2 = word2;
    record.word3 = word3;
    record.word4 = word4;
    mailbox.addms(&record);
}

void DisplayRig::click(int column, int row) {
    int x = column * CoreDspg::iCcellx, y = row * CoreDspg::iCcelly;
    host.mouse(x, y, 1);
    post(CoreDspc::iCclick, column, row, x, y);
}

void DisplayRig::tickFields() {
    tick();
    CoreDsif& d = *shown;
    // Pages 20 to 23 take no input: the click of an earlier tick is not theirs.
    bool input = page() < CoreStte::iCpageboot;
    short column = input ? CoreDsifPeek::clickcolumn(d) : short(0);
    short row = input ? CoreDsifPeek::clickrow(d) : short(0);
    bool held = input && CoreDsifPeek::held(d);
    gadget().focus(column, row, held);
    gadget().draw_();
    group().focus(column, row, held);
    group().draw_();
}

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
    // Each font's glyphs turned back into texts once: screens are read
    // after every tick of the tours.
    static std::map<std::pair<short, int>, std::string> const texts = [] {
        std::map<std::pair<short, int>, std::string> made;
        for (short f = 0; f < CoreDsbf::iCfonts; ++f) {
            CoreDsfn* map = referenceFonts().getfn(f);
            for (int code = 255; map != nullptr && code >= 0; --code) // the lowest code wins
                made[{f, map->getrs(short(code))}] = codeText(code);
            if (map != nullptr) made[{f, 0}] = " ";
        }
        return made;
    }();
    CoreDsfn* map = referenceFonts().getfn(font);
    if (map == nullptr) return "?";
    auto found = texts.find({font, glyph});
    return found != texts.end() ? found->second : "?";
}

DisplayRig::SCREEN DisplayRig::cells() {
    CoreDsbf const& buffer = CoreDsifPeek::buffer(*shown);
    return screen([&buffer](int x, int y) -> std::pair<std::string, char> {
        CoreDsch const* cell = buffer.getcl(short(x), short(y));
        short font = cell->getfn();
        if (font == 2 && (x % 2 != 0 || y % 2 != 0))
            return {"?", '?'}; // a doubled glyph shows from even cells only
        int code = static_cast<unsigned char>(cell->getvl());
        return {glyphText(font, referenceFonts().getfn(font)->getrs(short(code))),
                char('0' + font)};
    });
}

DisplayRig::SCREEN DisplayRig::snapshot() {
    CoreCnst::DISPLAYDATA data;
    shown->newdd(&data);
    shown->flldd(&data);
    SCREEN decoded = screen([&](int x, int y) -> std::pair<std::string, char> {
        std::pair<std::string, char> shownCell{"?", '?'};
        for (short font = 0; font < 4; ++font) {
            int size = font == 2 ? 2 : 1;
            int column = x / size, row = y / size;
            if (x % size != 0 || y % size != 0 || row >= data.rows[font] ||
                column >= data.columns[font])
                continue;
            double v = data.cells[data.rowstarts[font][row] + column];
            if (v < 0.0) continue;
            bool twice = shownCell.second != '?';
            shownCell = {glyphText(font, int(v * shown->getre(font))),
                         twice ? '!' : char('0' + font)};
        }
        return shownCell;
    });
    shown->deldd(&data);
    return decoded;
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
    png_image png{};
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
