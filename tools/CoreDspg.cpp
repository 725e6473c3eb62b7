#include "tools/CoreDspg.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>

#include "runtime/CoreButl.h"
#include "skin/DataGlyf.h"

namespace {
// One grid cell of the picture: the whole glyph, or for the doubled font one
// quarter of it (quarter x, quarter y) drawn twice as large.
void drawCell(CoreDspg::IMAGE& image, int scale, int mainrows, int gridx, int gridy, int glyph,
              bool inverse, bool doubled, int quarterx, int quartery) {
    int top = (gridy < mainrows ? gridy : gridy + 1) * CoreDspg::iCcelly;
    int left = gridx * CoreDspg::iCcellx;
    for (int y = 0; y < CoreDspg::iCcelly; ++y)
        for (int x = 0; x < CoreDspg::iCcellx; ++x) {
            int sx = doubled ? quarterx * 4 + x / 2 : x;
            int sy = doubled ? quartery * 6 + y / 2 : y;
            bool ink = DataGlyf::getpx(glyph, sx, sy);
            std::uint8_t grey = ink != inverse ? CoreDspg::iClight : CoreDspg::iCdark;
            for (int dy = 0; dy < scale; ++dy) {
                int py = (top + y) * scale + dy;
                if (py < 0 || py >= image.height) continue;
                for (int dx = 0; dx < scale; ++dx) {
                    int px = (left + x) * scale + dx;
                    if (px >= 0 && px < image.width)
                        image.pixels[size_t(py) * size_t(image.width) + size_t(px)] = grey;
                }
            }
        }
}

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

// libpng reports errors by a long jump, so nothing with a destructor lives here.
bool encode(int width, int height, int channels, std::uint8_t const* pixels,
            std::vector<unsigned char>* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendBytes, flushNothing);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8,
                 channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
        png_write_row(png, pixels + size_t(y) * size_t(width) * size_t(channels));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}
} // namespace

bool CoreDspg::rendr(CoreCnst::DISPLAYDATA const& data, int const glyphs[4], int mainrows,
                     int scale, IMAGE& image) {
    image = IMAGE{};
    if (data.cells == nullptr || data.rows == nullptr || data.columns == nullptr ||
        data.rowstarts == nullptr || data.zones < 1 || scale < 1 || scale > 16)
        return false;
    int gridcolumns = data.columns[0];
    int gridrows = data.rows[0];
    image.width = gridcolumns * iCcellx * scale;
    image.height = (gridrows + (gridrows > mainrows ? 1 : 0)) * iCcelly * scale;
    image.pixels.assign(size_t(image.width) * size_t(image.height), iCdark);
    // The doubled font last: its glyph covers cells the other fonts still hold.
    // Font 3 cells stay background.
    for (int font : {0, 1, 2}) {
        if (font >= data.zones || data.rowstarts[font] == nullptr) continue;
        bool doubled = font == 2;
        for (int row = 0; row < data.rows[font]; ++row)
            for (int column = 0; column < data.columns[font]; ++column) {
                int index = data.rowstarts[font][row] + column;
                if (index < 0 || index >= data.total) continue;
                double value = data.cells[index];
                if (value < 0.0) continue;
                int glyph = std::clamp(int(value * glyphs[font]), 0, glyphs[font] - 1);
                if (!doubled) {
                    drawCell(image, scale, mainrows, column, row, glyph, font == 1, false, 0, 0);
                    continue;
                }
                for (int qy = 0; qy < 2; ++qy)
                    for (int qx = 0; qx < 2; ++qx)
                        drawCell(image, scale, mainrows, 2 * column + qx, 2 * row + qy, glyph,
                                 false, true, qx, qy);
            }
    }
    return true;
}

bool CoreDspg::rendr(double const* cells, int total, int scale, IMAGE& image) {
    image = IMAGE{};
    if (cells == nullptr || total != iCdefaultcells) return false;
    int rows[4] = {17, 17, 8, 17};
    int columns[4] = {58, 58, 29, 58};
    int starts[4][17] = {};
    int* rowstarts[4] = {starts[0], starts[1], starts[2], starts[3]};
    int start = 0;
    for (int font = 0; font < 4; ++font)
        for (int row = 0; row < rows[font]; ++row) {
            starts[font][row] = start;
            start += columns[font];
        }
    CoreCnst::DISPLAYDATA data;
    data.total = total;
    data.zones = 4;
    data.rows = rows;
    data.columns = columns;
    data.rowstarts = rowstarts;
    data.cells = const_cast<double*>(cells);
    return rendr(data, iCglyphcounts, iCmainrows, scale, image);
}

bool CoreDspg::enpng(int width, int height, int channels, std::uint8_t const* pixels,
                     std::vector<unsigned char>& out) {
    out.clear();
    if (width <= 0 || height <= 0 || (channels != 1 && channels != 3) || pixels == nullptr)
        return false;
    if (encode(width, height, channels, pixels, &out)) return true;
    out.clear();
    return false;
}

bool CoreDspg::wrpng(IMAGE const& image, CoreAnsx const& path) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != size_t(image.width) * size_t(image.height))
        return false;
    std::vector<unsigned char> png;
    if (!enpng(image.width, image.height, 1, image.pixels.data(), png)) return false;
    return CoreButl::wrall(path, reinterpret_cast<char const*>(png.data()), png.size());
}
