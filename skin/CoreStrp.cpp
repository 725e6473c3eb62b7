#include "skin/CoreStrp.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "runtime/CoreLog_.h"
#include "skin/CoreSkin.h"
#include "skin/DataGlyf.h"

namespace {
std::uint32_t grey(std::uint8_t level) { return std::uint32_t(level) * 0x010101u; }

// Said whatever the debug level: the user chose a skin that does not show.
void refuse(CoreAnsx const& why) {
    CoreLog_::loger(CoreAnsx("Editor: ") + why +
                        CoreAnsx("; the display is drawn in the built-in "
                                 "glyphs"),
                    0);
}

// The header of PNG bytes read into png: false when they are no PNG or
// announce a picture larger than any this program decodes.
bool header(unsigned char const* bytes, int size, png_image& png, char const*& why) {
    why = "is missing or no PNG";
    if (bytes == nullptr || size <= 0) return false;
    png = png_image{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes, size_t(size))) return false;
    if (png.width == 0 || png.height == 0) {
        png_image_free(&png);
        return false;
    }
    if (png.width > unsigned(CoreStrp::iClargest) || png.height > unsigned(CoreStrp::iClargest) ||
        long(png.width) * long(png.height) > CoreStrp::iCpixels) {
        png_image_free(&png);
        why = "is larger than a picture may be";
        return false;
    }
    return true;
}
} // namespace

CoreStrp::CoreStrp() : cellx(0), celly(0), skinned(false) { builtin(); }

void CoreStrp::builtin() {
    for (int s = 0; s < iCstrips; ++s) {
        int const scale = iCscale[s];
        int const slotx = DataGlyf::iCwidth * scale;
        int const sloty = DataGlyf::iCheight * scale;
        IMAGE& strip = strips[s];
        strip.width = slotx * iCslots[s];
        strip.height = sloty;
        strip.pixels.assign(size_t(strip.width) * size_t(strip.height), 0);
        bool const inverse = s == 1;
        for (int slot = 0; slot < iCslots[s]; ++slot)
            for (int y = 0; y < sloty; ++y)
                for (int x = 0; x < slotx; ++x) {
                    bool const ink = DataGlyf::getpx(slot, x / scale, y / scale) != inverse;
                    strip.pixels[size_t(y) * size_t(strip.width) + size_t(slot * slotx + x)] =
                        grey(ink ? iClight : iCdark);
                }
    }
    cellx = DataGlyf::iCwidth;
    celly = DataGlyf::iCheight;
    skinned = false;
}

bool CoreStrp::sizes(unsigned char const* bytes, int size, int& width, int& height,
                     char const*& why) {
    width = height = 0;
    png_image png;
    if (!header(bytes, size, png, why)) return false;
    width = int(png.width);
    height = int(png.height);
    png_image_free(&png);
    return true;
}

bool CoreStrp::decod(unsigned char const* bytes, int size, IMAGE& image) {
    image = IMAGE{};
    png_image png;
    char const* why = "";
    if (!header(bytes, size, png, why)) return false;
    png.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb;
    try {
        rgb.resize(PNG_IMAGE_SIZE(png));
    } catch (std::bad_alloc const&) {
        png_image_free(&png);
        return false;
    }
    png_color black{0, 0, 0};
    if (!png_image_finish_read(&png, &black, rgb.data(), 0, nullptr)) {
        png_image_free(&png);
        return false;
    }
    image.width = int(png.width);
    image.height = int(png.height);
    try {
        image.pixels.resize(size_t(image.width) * size_t(image.height));
    } catch (std::bad_alloc const&) {
        image = IMAGE{};
        return false;
    }
    for (size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = std::uint32_t(rgb[3 * i]) << 16 | std::uint32_t(rgb[3 * i + 1]) << 8 |
                          std::uint32_t(rgb[3 * i + 2]);
    return true;
}

bool CoreStrp::check(IMAGE const (&set)[iCstrips], int& cx, int& cy, char const*& why) {
    for (int s = 0; s < iCstrips; ++s)
        if (set[s].width <= 0 || set[s].width % iCslots[s] != 0) {
            why = s == 0   ? "the FONT1 width does not divide by 108"
                  : s == 1 ? "the FONTNEG width does not divide by 94"
                           : "the FONT2 width does not divide by 108";
            return false;
        }
    cx = set[0].width / iCslots[0];
    cy = set[0].height;
    if (set[1].width / iCslots[1] != cx || set[1].height != cy) {
        why = "the FONTNEG cell differs from the FONT1 cell";
        return false;
    }
    if (set[2].width / iCslots[2] != 2 * cx || set[2].height != 2 * cy) {
        why = "the FONT2 cell is not twice the FONT1 cell";
        return false;
    }
    return true;
}

bool CoreStrp::loads(CoreSkin* skin, int colour) {
    builtin();
    CoreSkin::SKIN* description = skin != nullptr ? skin->getsk() : nullptr;
    if (description == nullptr || description->fontstrips.empty()) {
        CoreLog_::debug(CoreAnsx("Editor: no skin fonts; the display is drawn in the built-in "
                                 "glyphs"),
                        0, 1);
        return false;
    }
    if (colour < 0 || colour >= int(description->fontstrips.size())) {
        refuse(CoreAnsx("the skin has no font colour ") + CoreAnsx(colour));
        return false;
    }
    CoreSkin::FONTSTRIPS const& names = description->fontstrips[size_t(colour)];
    CoreAnsx const* const items[iCstrips] = {&names.font1, &names.fontneg, &names.font2};
    // Sizes first, from the headers: nothing is decoded for strips that
    // cannot serve.
    IMAGE read[iCstrips];
    char const* why = "";
    for (int s = 0; s < iCstrips; ++s) {
        int size = 0;
        unsigned char const* bytes = skin->getbt(*items[s], size);
        if (!sizes(bytes, size, read[s].width, read[s].height, why)) {
            refuse(CoreAnsx("the strip \"") + *items[s] + CoreAnsx("\" ") + CoreAnsx(why));
            return false;
        }
    }
    int cx = 0, cy = 0;
    if (!check(read, cx, cy, why)) {
        refuse(CoreAnsx("the strips of ") + description->fontnames[size_t(colour)] +
               CoreAnsx(": ") + CoreAnsx(why));
        return false;
    }
    for (int s = 0; s < iCstrips; ++s) {
        int size = 0;
        unsigned char const* bytes = skin->getbt(*items[s], size);
        if (!decod(bytes, size, read[s])) {
            refuse(CoreAnsx("the strip \"") + *items[s] + CoreAnsx("\" is missing or no PNG"));
            return false;
        }
    }
    for (int s = 0; s < iCstrips; ++s) strips[s] = std::move(read[s]);
    cellx = cx;
    celly = cy;
    skinned = true;
    return true;
}

void CoreStrp::cell_(int strip, int glyph, int quarterx, int quartery, std::uint32_t* target,
                     int stride) const {
    if (target == nullptr || strip < 0 || strip >= iCstrips) return;
    IMAGE const& from = strips[strip];
    int const scale = iCscale[strip];
    int const slot = std::clamp(glyph, 0, iCslots[strip] - 1);
    int const left = slot * cellx * scale + std::clamp(quarterx, 0, scale - 1) * cellx;
    int const top = std::clamp(quartery, 0, scale - 1) * celly;
    for (int y = 0; y < celly; ++y)
        std::memcpy(target + size_t(y) * size_t(stride),
                    from.pixels.data() + size_t(top + y) * size_t(from.width) + size_t(left),
                    size_t(cellx) * sizeof(std::uint32_t));
}
