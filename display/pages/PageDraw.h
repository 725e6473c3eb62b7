#pragma once
// PageDraw: the button, toggle and caption drawing the kernel, memory and
// global pages use, kept here until the display offers them as its own
// operations (then these go). Each button draws itself and hit-tests the
// tick's click in one call: drawn in font 0 under the click, in font 1 at
// rest. Owner: none (free functions). Threads: control thread, inside a
// display tick.

#include "display/CoreDsbf.h"
#include "runtime/CoreAnsx.h"

namespace pagedraw {
// The text at (column, row); true when the click lies on one of its cells.
inline bool drbtn(CoreDsbf& buffer, short column, short row, CoreAnsx const& text, short clickx,
                  short clicky) {
    bool hit = clicky == row && clickx >= column && clickx < column + text.Length();
    buffer.write(text, column, row, hit ? 0 : 1, false, false);
    return hit;
}

// A two-state button with a marker cell in front (a blinking "." when on),
// the shown text and a trailing blank: length + 2 cells.
inline bool drtbt(CoreDsbf& buffer, short column, short row, CoreAnsx const& offtext,
                  CoreAnsx const& ontext, bool state, short clickx, short clicky) {
    CoreAnsx const& text = state ? ontext : offtext;
    bool hit = clicky == row && clickx >= column && clickx < column + text.Length() + 2;
    short font = hit ? 0 : 1;
    buffer.write(text + CoreAnsx(" "), short(column + 1), row, font, false, false);
    buffer.write(CoreAnsx(state ? "." : " "), column, row, font, state, false);
    return hit;
}

// A caption in font 0.
inline void label(CoreDsbf& buffer, CoreAnsx const& text, short column, short row) {
    buffer.write(text, column, row, 0, false, false);
}

// The text without its trailing blanks: an edit field keeps its width's
// blanks, which must not reach a name, a category or a file name.
inline CoreAnsx trimright(CoreAnsx const& text) {
    int n = text.Length();
    char const* s = text.c_str();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
    return n > 0 ? text.SubString(1, n) : CoreAnsx("");
}
} // namespace pagedraw
