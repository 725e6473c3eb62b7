#include "tests/support/EditorPixels.h"

#include <X11/Xutil.h>

std::vector<unsigned long> EditorPixels::grab(Display* x, Window window) {
    std::vector<unsigned long> all;
    XWindowAttributes a{};
    if (!XGetWindowAttributes(x, window, &a)) return all;
    XImage* image =
        XGetImage(x, window, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
    if (image == nullptr) return all;
    all.reserve(std::size_t(a.width) * std::size_t(a.height));
    for (int y = 0; y < a.height; ++y)
        for (int k = 0; k < a.width; ++k) all.push_back(XGetPixel(image, k, y) & 0xffffff);
    XDestroyImage(image);
    return all;
}

int EditorPixels::wrong(std::vector<unsigned long> const& shown, CoreEdit::LAYOUT const& l,
                        std::uint8_t const* picture, int picturewidth) {
    int wrong = 0;
    int const mainh = l.rows * l.celly;
    for (int y = 0; y < mainh + l.celly + l.addrows * l.celly; ++y)
        for (int x = 0; x < l.columns * l.cellx; ++x) {
            bool const extra = y >= mainh + l.celly;
            if ((y >= mainh && !extra) || (extra && x >= l.addcolumns * l.cellx)) continue;
            int const wx = (extra ? l.addx : l.mainx) + x;
            int const wy = extra ? l.addy + y - mainh - l.celly : l.mainy + y;
            std::size_t const at = std::size_t(wy) * std::size_t(l.width) + std::size_t(wx);
            wrong += at >= shown.size() ||
                     shown[at] != picture[std::size_t(y * picturewidth + x)] * 0x010101ul;
        }
    return wrong;
}
