#include "display/CoreDsbr.h"

#include <cmath>
#include <string>

CoreDsbr::CoreDsbr(short width, short segments, int full)
    : width(width), segments(segments), full(full), total(int(width) * int(segments)) {}

short CoreDsbr::getch() const { return width; }

CoreAnsx CoreDsbr::getvl(double level) const {
    // NaN would survive the clamp and reach the integer conversion; a bar
    // without segments has no cells to divide the count into.
    if (std::isnan(level) || segments <= 0 || total <= 0) return CoreAnsx("");
    if (level < 0.0) level = 0.0;
    if (level > 1.0) level = 1.0;
    int count = int(total * level);
    int cells = count / segments;
    int partial = count % segments;
    std::string text(static_cast<size_t>(cells), static_cast<char>(full));
    if (partial != 0) text += char(full + segments - partial);
    return CoreAnsx(text.c_str());
}
