#pragma once
// The windowing editor's picture as a test reads it back: a window's pixels
// through XGetImage, and a count of the pixels of its display zones that
// differ from the snapshot renderer's grey picture (main zone, one blank cell
// row, extra zone), so a test on the editor alone and one on the built
// plug-in compare the same way.
// Owner: nobody; static members only. Threads: the test thread that owns the
// X connection.

#include <cstdint>
#include <vector>

#include <X11/Xlib.h>

#include "editor/x11/CoreEdit.h"

class EditorPixels {
public:
    EditorPixels() = delete;

    // Every pixel of the window as 0xRRGGBB, row by row; empty when the
    // window cannot be read.
    static std::vector<unsigned long> grab(Display* x, Window window);
    // Pixels of the zones that differ from the picture (grey bytes, picturewidth
    // wide, in the renderer's layout and cell size); shown is layout.width
    // wide. A grey g stands for the colour g * 0x010101, as the first colour
    // of the demo skin has it. Every zone pixel counts when shown is short.
    static int wrong(std::vector<unsigned long> const& shown, CoreEdit::LAYOUT const& layout,
                     std::uint8_t const* picture, int picturewidth);
};
