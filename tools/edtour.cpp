// edtour: drives a plug-in editor that our host shows on an X server, the way
// a user would (pointer and keys through XTest), and takes pictures of it.
//   edtour WINDOW SKIN OUTDIR [SCRIPT]
//     WINDOW   the host's top-level window (plughost --editor prints it)
//     SKIN     the skin package the plug-in uses (for the cell layout and to
//              read the screen: cells are matched against its strips)
//     OUTDIR   where the pictures go (NAME.png for each shot)
//     SCRIPT   a step file (see tools/CoreTour.h); default: the built-in tour
// Text on screen is found by matching each cell's pixels against the skin's
// first colour, so click-text and until-text work on what the window shows.
// At the end it asks the window to close, which ends the host.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include "display/CoreDsbf.h"
#include "display/CoreDsfn.h"
#include "runtime/CoreButl.h"
#include "skin/CoreSkin.h"
#include "skin/CoreStrp.h"
#include "tools/CoreDspg.h"
#include "tools/CoreTour.h"

namespace {

// The tour the screenshots script takes: the program page, the kernel page,
// the program list, a load, a name typed on the memory page, the pop-up.
char const* const builtinTour = R"(
until-text ProgMode
shot program
click-text KERN
until-text KernelMode
shot kernel
click-text PROG
until-text ProgMode
click 55 0
wait 600
shot list
click-text Demo Saturator
until-text Demo Saturator
wait 800
shot load
click 55 0
until-text EDIT
click-text EDIT
until-text Memory
click-text Demo Saturator
type Warm
key Return
wait 600
shot memory
click-text EXIT
until-text ProgMode
click 2 2
wait 600
shot popup
key Escape
)";

constexpr int mainColumns = 58, mainRows = 14;
constexpr int settle = 400;  // ms after each input: a few editor idles and display ticks
constexpr int patience = 30; // s an until-step waits

struct Tour {
    Display* x = nullptr;
    Window top = 0, editor = 0;
    int mainx = 0, mainy = 0, cellx = 0, celly = 0;
    CoreStrp strips;
    CoreDsbf map{nullptr, 1, 1, 0, 0};
    std::vector<std::vector<std::uint32_t>> glyphs[2]; // font 0 and font 1 cells

    // The (font, glyph) shown in every main-zone cell, -1 where no glyph of
    // fonts 0 and 1 matches (font 2, the gap, a blink in between).
    std::vector<std::pair<int, int>> cells() {
        std::vector<std::pair<int, int>> out(mainColumns * mainRows, {-1, -1});
        XWindowAttributes a;
        if (!XGetWindowAttributes(x, editor, &a)) return out;
        XImage* image =
            XGetImage(x, editor, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
        if (image == nullptr) return out;
        std::vector<std::uint32_t> cell(std::size_t(cellx * celly));
        for (int r = 0; r < mainRows; ++r)
            for (int c = 0; c < mainColumns; ++c) {
                int left = mainx + c * cellx, top = mainy + r * celly;
                if (left + cellx > a.width || top + celly > a.height) continue;
                for (int y = 0; y < celly; ++y)
                    for (int k = 0; k < cellx; ++k)
                        cell[std::size_t(y * cellx + k)] =
                            std::uint32_t(XGetPixel(image, left + k, top + y)) & 0xffffff;
                for (int f = 0; f < 2 && out[std::size_t(r * mainColumns + c)].first < 0; ++f)
                    for (std::size_t g = 0; g < glyphs[f].size(); ++g)
                        if (glyphs[f][g] == cell) {
                            out[std::size_t(r * mainColumns + c)] = {f, int(g)};
                            break;
                        }
            }
        XDestroyImage(image);
        return out;
    }

    // Where text shows (its first cell), in font 0 or 1; false when nowhere.
    bool find(std::string const& text, int& column, int& row) {
        auto shown = cells();
        for (int r = 0; r < mainRows; ++r)
            for (int c = 0; c + int(text.size()) <= mainColumns; ++c) {
                bool all = true;
                for (std::size_t k = 0; k < text.size() && all; ++k) {
                    auto [font, glyph] = shown[std::size_t(r * mainColumns + c + int(k))];
                    all = font >= 0 &&
                          glyph == map.getfn(short(font))
                                       ->getrs(short(static_cast<unsigned char>(text[k])));
                }
                if (all) {
                    column = c;
                    row = r;
                    return true;
                }
            }
        return false;
    }

    void pointer(int column, int row, int dx = 0, int dy = 0) {
        int rx = 0, ry = 0;
        Window child = 0;
        XTranslateCoordinates(x, editor, DefaultRootWindow(x), mainx + column * cellx + cellx / 2,
                              mainy + row * celly + celly / 2, &rx, &ry, &child);
        XTestFakeMotionEvent(x, -1, rx + dx, ry + dy, CurrentTime);
        XSync(x, False);
    }
    void button(unsigned b, bool down) {
        XTestFakeButtonEvent(x, b, down ? True : False, CurrentTime);
        XSync(x, False);
    }
    void keysym(KeySym sym) {
        KeyCode code = XKeysymToKeycode(x, sym);
        if (code == 0) return;
        bool shift = XkbKeycodeToKeysym(x, code, 0, 0) != sym;
        KeyCode shiftCode = XKeysymToKeycode(x, XK_Shift_L);
        if (shift) XTestFakeKeyEvent(x, shiftCode, True, CurrentTime);
        XTestFakeKeyEvent(x, code, True, CurrentTime);
        XTestFakeKeyEvent(x, code, False, CurrentTime);
        if (shift) XTestFakeKeyEvent(x, shiftCode, False, CurrentTime);
        XSync(x, False);
    }

    // The host window and every override-redirect window over it (the
    // pop-up), as they show on the screen.
    bool shot(std::string const& path) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(x, top, &a)) return false;
        int rx = 0, ry = 0;
        Window child = 0;
        XTranslateCoordinates(x, top, DefaultRootWindow(x), 0, 0, &rx, &ry, &child);
        int left = rx, up = ry, right = rx + a.width, down = ry + a.height;
        Window root = 0, parent = 0, *kids = nullptr;
        unsigned count = 0;
        if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &kids, &count)) {
            for (unsigned k = 0; k < count; ++k) {
                XWindowAttributes w;
                if (XGetWindowAttributes(x, kids[k], &w) && w.override_redirect &&
                    w.map_state == IsViewable) {
                    left = std::min(left, w.x);
                    up = std::min(up, w.y);
                    right = std::max(right, w.x + w.width);
                    down = std::max(down, w.y + w.height);
                }
            }
            XFree(kids);
        }
        XImage* image = XGetImage(x, DefaultRootWindow(x), left, up, unsigned(right - left),
                                  unsigned(down - up), AllPlanes, ZPixmap);
        if (image == nullptr) return false;
        int const w = right - left, h = down - up;
        std::vector<std::uint8_t> rgb(std::size_t(w * h * 3));
        for (int y = 0; y < h; ++y)
            for (int k = 0; k < w; ++k) {
                unsigned long p = XGetPixel(image, k, y);
                std::size_t at = std::size_t((y * w + k) * 3);
                rgb[at] = std::uint8_t(p >> 16);
                rgb[at + 1] = std::uint8_t(p >> 8);
                rgb[at + 2] = std::uint8_t(p);
            }
        XDestroyImage(image);
        std::vector<unsigned char> png;
        return CoreDspg::enpng(w, h, 3, rgb.data(), png) &&
               CoreButl::wrall(CoreAnsx(path.c_str()), reinterpret_cast<char const*>(png.data()),
                               png.size());
    }
};

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool run(Tour& s, CoreTour::STEP const& step, std::string const& outdir, std::string& why) {
    auto const& n = step.numbers;
    if (step.verb == "click" || step.verb == "click-text") {
        int column = int(n.empty() ? 0 : n[0]), row = int(n.size() < 2 ? 0 : n[1]);
        if (step.verb == "click-text" && !s.find(step.text, column, row)) {
            why = "\"" + step.text + "\" is not on the screen";
            return false;
        }
        s.pointer(column, row);
        s.button(1, true);
        s.button(1, false);
    } else if (step.verb == "drag") {
        s.pointer(int(n[0]), int(n[1]));
        s.button(1, true);
        pause(settle);
        s.pointer(int(n[0]), int(n[1]), int(n[2]), int(n[3]));
        pause(settle);
        s.button(1, false);
    } else if (step.verb == "type") {
        for (char c : step.text) s.keysym(KeySym(static_cast<unsigned char>(c)));
    } else if (step.verb == "key") {
        KeySym sym = XStringToKeysym(step.text.c_str());
        if (sym == NoSymbol) {
            why = "no key named " + step.text;
            return false;
        }
        s.keysym(sym);
    } else if (step.verb == "wheel") {
        s.pointer(mainColumns / 2, mainRows / 2);
        for (long k = 0; k < std::labs(n[0]); ++k) {
            s.button(n[0] > 0 ? 4 : 5, true);
            s.button(n[0] > 0 ? 4 : 5, false);
        }
    } else if (step.verb == "until-text") {
        int column = 0, row = 0;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(patience);
        while (!s.find(step.text, column, row)) {
            if (std::chrono::steady_clock::now() > end) {
                why =
                    "\"" + step.text + "\" did not show within " + std::to_string(patience) + " s";
                return false;
            }
            pause(100);
        }
        return true;
    } else if (step.verb == "wait") {
        pause(int(n[0]));
        return true;
    } else if (step.verb == "shot") {
        std::string path = outdir + "/" + step.text + ".png";
        if (!s.shot(path)) {
            why = path + " could not be written";
            return false;
        }
        std::printf("%s\n", path.c_str());
        return true;
    } else {
        why = "the editor tour cannot run this step";
        return false;
    }
    pause(settle);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: edtour WINDOW SKIN OUTDIR [SCRIPT]\n");
        return 2;
    }
    std::vector<CoreTour::STEP> steps;
    std::string error;
    if (!(argc == 5 ? CoreTour::loadf(argv[4], steps, error)
                    : CoreTour::parse(builtinTour, steps, error))) {
        std::fprintf(stderr, "edtour: %s\n", error.c_str());
        return 2;
    }
    Tour s;
    s.x = XOpenDisplay(nullptr);
    int event = 0, errorBase = 0, major = 0, minor = 0;
    if (s.x == nullptr || !XTestQueryExtension(s.x, &event, &errorBase, &major, &minor)) {
        std::fprintf(stderr, "edtour: no X display with the XTest extension\n");
        return 1;
    }
    s.top = std::strtoul(argv[1], nullptr, 0);
    // The editor is the host window's child; it shows once the host opened it.
    for (int tries = 0; tries < 300 && s.editor == 0; ++tries) {
        Window root = 0, parent = 0, *kids = nullptr;
        unsigned count = 0;
        if (XQueryTree(s.x, s.top, &root, &parent, &kids, &count) && count > 0) s.editor = kids[0];
        if (kids != nullptr) XFree(kids);
        if (s.editor == 0) pause(100);
    }
    if (s.editor == 0) {
        std::fprintf(stderr, "edtour: window %s shows no editor\n", argv[1]);
        return 1;
    }

    CoreSkin skin{CoreAnsx(argv[2])};
    s.strips.loads(&skin, 0);
    s.cellx = s.strips.getcx();
    s.celly = s.strips.getcy();
    CoreSkin::SKIN* description = skin.getsk();
    CoreStrp::IMAGE background;
    int size = 0;
    unsigned char const* bytes =
        description->background.Length() > 0 ? skin.getbt(description->background, size) : nullptr;
    if (bytes != nullptr && CoreStrp::decod(bytes, size, background)) {
        s.mainx = description->displayx;
        s.mainy = description->displayy;
    }
    int const slots[2] = {CoreStrp::iCslots[0], CoreStrp::iCslots[1]};
    for (int f = 0; f < 2; ++f)
        for (int g = 0; g < slots[f]; ++g) {
            std::vector<std::uint32_t> cell(std::size_t(s.cellx * s.celly));
            s.strips.cell_(f, g, 0, 0, cell.data(), s.cellx);
            for (auto& p : cell) p &= 0xffffff;
            s.glyphs[f].push_back(cell);
        }

    int status = 0;
    for (auto const& step : steps) {
        std::string why;
        if (!run(s, step, argv[3], why)) {
            std::fprintf(stderr, "edtour: line %d (%s): %s\n", step.line, step.verb.c_str(),
                         why.c_str());
            status = 1;
            break;
        }
    }
    // Ask the host's window to close, as its close button would.
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = s.top;
    close.xclient.message_type = XInternAtom(s.x, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = long(XInternAtom(s.x, "WM_DELETE_WINDOW", False));
    XSendEvent(s.x, s.top, False, NoEventMask, &close);
    XSync(s.x, False);
    XCloseDisplay(s.x);
    return status;
}
