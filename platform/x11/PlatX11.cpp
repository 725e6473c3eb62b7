#include "platform/x11/PlatX11.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <type_traits>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

static_assert(std::is_same_v<PlatX11::Window, ::Window>, "window ids are Xlib's XIDs");

namespace {

// What our windows listen to: exactly what nextEvent hands out.
constexpr long eventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                           KeyPressMask | StructureNotifyMask;

// X sizes and positions are 16-bit on the wire.
constexpr int largestSize = 32767;

Display* asDisplay(void* display) { return static_cast<Display*>(display); }

} // namespace

// The process-wide error handlers and the connections they answer for. The
// registry maps each open connection to its owner; a handler that finds the
// connection records the error on its owner (it runs on the owner's thread,
// inside the owner's Xlib call) and otherwise passes it on. Lookup runs
// newest first, so a connection whose address is reused right after a close
// is found as the new owner.
struct PlatX11::Handlers {
    struct Entry {
        Display* display;
        PlatX11* owner;
    };
    static std::mutex& lock() {
        static std::mutex m;
        return m;
    }
    static std::vector<Entry>& entries() {
        static std::vector<Entry> list;
        return list;
    }
    static inline XErrorHandler previousError = nullptr;
    static inline XIOErrorHandler previousIo = nullptr;

    static PlatX11* find(Display* display) {
        std::vector<Entry>& list = entries();
        for (auto it = list.rbegin(); it != list.rend(); ++it)
            if (it->display == display) return it->owner;
        return nullptr;
    }

    static int onError(Display* display, XErrorEvent* error) {
        XErrorHandler previous;
        {
            std::lock_guard<std::mutex> hold(lock());
            if (PlatX11* owner = find(display)) {
                ++owner->errors_;
                owner->lastErrorCode_ = error->error_code;
                owner->lastErrorRequest_ = error->request_code;
                owner->lastErrorId_ = error->resourceid;
                return 0;
            }
            previous = previousError;
        }
        return previous != nullptr ? previous(display, error) : 0;
    }

    // Xlib calls this and then the connection's exit handler; ours returns
    // from both, so Xlib marks the connection dead instead of ending the process.
    static int onIoError(Display* display) {
        XIOErrorHandler previous;
        {
            std::lock_guard<std::mutex> hold(lock());
            if (PlatX11* owner = find(display)) {
                owner->lost_ = true;
                owner->problem_ = "the connection to the X server was lost";
                return 0;
            }
            previous = previousIo;
        }
        return previous != nullptr ? previous(display) : 0;
    }
    static void onIoExit(Display*, void*) {}

    static void attach(Display* display, PlatX11* owner) {
        std::lock_guard<std::mutex> hold(lock());
        std::vector<Entry>& list = entries();
        if (list.empty()) {
            XErrorHandler error = XSetErrorHandler(onError);
            if (error != onError) previousError = error;
            XIOErrorHandler io = XSetIOErrorHandler(onIoError);
            if (io != onIoError) previousIo = io;
        }
        list.push_back({display, owner});
    }

    static void detach(PlatX11* owner) {
        std::lock_guard<std::mutex> hold(lock());
        std::vector<Entry>& list = entries();
        std::erase_if(list, [owner](Entry const& e) { return e.owner == owner; });
        if (!list.empty()) return;
        // Put the previous handlers back, unless someone replaced ours meanwhile.
        XErrorHandler error = XSetErrorHandler(previousError);
        if (error != onError) XSetErrorHandler(error);
        XIOErrorHandler io = XSetIOErrorHandler(previousIo);
        if (io != onIoError) XSetIOErrorHandler(io);
    }
};

PlatX11::~PlatX11() { close(); }

bool PlatX11::open(char const* name) {
    close();
    problem_.clear();
    lost_ = false;
    errors_ = 0;
    char const* shown = name != nullptr ? name : std::getenv("DISPLAY");
    if (shown == nullptr || *shown == '\0') {
        problem_ = "no X display named (DISPLAY is not set)";
        return false;
    }
    Display* display = XOpenDisplay(shown);
    if (display == nullptr) {
        problem_ = std::string("cannot open X display \"") + shown + "\"";
        return false;
    }
    // putPixels hands the server our 0x00RRGGBB words as they are.
    int screen = DefaultScreen(display);
    Visual* visual = DefaultVisual(display, screen);
    int depth = DefaultDepth(display, screen);
    int bitsPerPixel = 0, formats = 0;
    if (XPixmapFormatValues* list = XListPixmapFormats(display, &formats)) {
        for (int i = 0; i < formats; ++i)
            if (list[i].depth == depth) bitsPerPixel = list[i].bits_per_pixel;
        XFree(list);
    }
    if (visual->c_class != TrueColor || (depth != 24 && depth != 32) || bitsPerPixel != 32 ||
        visual->red_mask != 0xff0000 || visual->green_mask != 0xff00 || visual->blue_mask != 0xff) {
        XCloseDisplay(display);
        problem_ = std::string("X display \"") + shown + "\" has no 24-bit true-colour screen";
        return false;
    }
    XSetIOErrorExitHandler(display, Handlers::onIoExit, nullptr);
    Handlers::attach(display, this);
    display_ = display;
    gc_ = XCreateGC(display, RootWindow(display, screen), 0, nullptr);
    return true;
}

void PlatX11::close() {
    if (display_ == nullptr) return;
    Display* display = asDisplay(display_);
    if (gc_ != nullptr) XFreeGC(display, static_cast<GC>(gc_));
    // Still registered: closing flushes, and late errors must find us.
    XCloseDisplay(display);
    Handlers::detach(this);
    display_ = nullptr;
    gc_ = nullptr;
}

int PlatX11::takeErrors(std::string* last) {
    int count = errors_;
    errors_ = 0;
    if (last != nullptr) {
        last->clear();
        if (count > 0 && display_ != nullptr) {
            char text[160] = "";
            XGetErrorText(asDisplay(display_), lastErrorCode_, text, sizeof text);
            char tail[80];
            std::snprintf(tail, sizeof tail, " (request %d, resource 0x%lx)", lastErrorRequest_,
                          lastErrorId_);
            *last = std::string(text) + tail;
        }
    }
    return count;
}

bool PlatX11::isWindow(Window id) {
    if (display_ == nullptr || lost_ || id == 0) return false;
    sync();
    int before = errors_;
    XWindowAttributes attributes;
    Status found = XGetWindowAttributes(asDisplay(display_), id, &attributes);
    errors_ = before; // a wrong id is this check's answer, not a fault
    return found != 0 && !lost_;
}

namespace {

// Creates and maps a window in the screen's own visual (not the parent's,
// which a host may have made 32-bit), so putPixels always knows the format.
Window makeWindow(Display* display, Window parent, int x, int y, int width, int height,
                  bool popup) {
    int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = BlackPixel(display, screen);
    attributes.border_pixel = 0;
    attributes.colormap = DefaultColormap(display, screen);
    attributes.event_mask = eventMask;
    attributes.override_redirect = popup ? True : False;
    unsigned long valueMask = CWBackPixel | CWBorderPixel | CWColormap | CWEventMask;
    if (popup) valueMask |= CWOverrideRedirect;
    Window window =
        XCreateWindow(display, parent, x, y, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, DefaultDepth(display, screen), InputOutput,
                      DefaultVisual(display, screen), valueMask, &attributes);
    XMapRaised(display, window);
    return window;
}

bool sizeFits(int width, int height) {
    return width > 0 && height > 0 && width <= largestSize && height <= largestSize;
}

} // namespace

PlatX11::Window PlatX11::createChild(Window parent, int width, int height) {
    if (display_ == nullptr || lost_ || parent == 0 || !sizeFits(width, height)) return 0;
    Display* display = asDisplay(display_);
    sync();
    int before = errors_;
    Window window = makeWindow(display, parent, 0, 0, width, height, false);
    sync();
    if (errors_ == before && !lost_) return window;
    XDestroyWindow(display, window);
    sync();
    return 0;
}

PlatX11::Window PlatX11::createPopup(int x, int y, int width, int height) {
    if (display_ == nullptr || lost_ || !sizeFits(width, height)) return 0;
    if (x < -largestSize || x > largestSize || y < -largestSize || y > largestSize) return 0;
    Display* display = asDisplay(display_);
    sync();
    int before = errors_;
    Window window = makeWindow(display, DefaultRootWindow(display), x, y, width, height, true);
    sync();
    if (errors_ == before && !lost_) return window;
    XDestroyWindow(display, window);
    sync();
    return 0;
}

PlatX11::Window PlatX11::createTopLevel(int width, int height, char const* title) {
    if (display_ == nullptr || lost_ || !sizeFits(width, height)) return 0;
    Display* display = asDisplay(display_);
    sync();
    int before = errors_;
    Window window = makeWindow(display, DefaultRootWindow(display), 0, 0, width, height, false);
    XStoreName(display, window, title != nullptr ? title : "");
    XSizeHints* hints = XAllocSizeHints();
    if (hints != nullptr) {
        hints->flags = PMinSize | PMaxSize;
        hints->min_width = hints->max_width = width;
        hints->min_height = hints->max_height = height;
        XSetWMNormalHints(display, window, hints);
        XFree(hints);
    }
    Atom close = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &close, 1);
    deleteAtom_ = close;
    sync();
    if (errors_ == before && !lost_) return window;
    XDestroyWindow(display, window);
    sync();
    return 0;
}

void PlatX11::destroyWindow(Window window) {
    if (display_ == nullptr || lost_ || window == 0) return;
    XDestroyWindow(asDisplay(display_), window);
    XFlush(asDisplay(display_));
}

bool PlatX11::rootPosition(Window window, int x, int y, int& rootX, int& rootY) {
    if (display_ == nullptr || lost_ || window == 0) return false;
    Display* display = asDisplay(display_);
    int before = errors_;
    Window child = 0;
    Bool same = XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX,
                                      &rootY, &child);
    bool gone = errors_ != before;
    errors_ = before; // a window gone meanwhile is an answer, not a fault
    return same && !gone && !lost_;
}

void PlatX11::screenSize(int& width, int& height) const {
    width = height = 0;
    if (display_ == nullptr) return;
    Display* display = asDisplay(display_);
    width = DisplayWidth(display, DefaultScreen(display));
    height = DisplayHeight(display, DefaultScreen(display));
}

bool PlatX11::nextEvent(Event& event) {
    if (display_ == nullptr) return false;
    Display* display = asDisplay(display_);
    while (!lost_ && XPending(display) > 0) {
        XEvent x;
        XNextEvent(display, &x);
        event = Event{};
        event.window = x.xany.window;
        switch (x.type) {
        case ButtonPress:
        case ButtonRelease: {
            unsigned button = x.xbutton.button;
            event.x = x.xbutton.x;
            event.y = x.xbutton.y;
            event.state = x.xbutton.state;
            // Buttons 4 and 5 are the wheel, one step per press; 6 and 7
            // (sideways) are not handed out.
            if (button == Button4 || button == Button5) {
                if (x.type == ButtonRelease) continue;
                event.kind = Kind::wheel;
                event.wheel = button == Button4 ? 1 : -1;
                return true;
            }
            if (button == 6 || button == 7) continue;
            event.kind = x.type == ButtonPress ? Kind::press : Kind::release;
            event.button = static_cast<int>(button);
            return true;
        }
        case MotionNotify:
            event.kind = Kind::motion;
            event.x = x.xmotion.x;
            event.y = x.xmotion.y;
            event.state = x.xmotion.state;
            return true;
        case KeyPress: {
            KeySym keysym = NoSymbol;
            char text[8];
            XLookupString(&x.xkey, text, sizeof text, &keysym, nullptr);
            if (keysym == NoSymbol) continue;
            event.kind = Kind::key;
            event.x = x.xkey.x;
            event.y = x.xkey.y;
            event.state = x.xkey.state;
            event.keysym = keysym;
            return true;
        }
        case Expose:
            event.kind = Kind::expose;
            event.x = x.xexpose.x;
            event.y = x.xexpose.y;
            event.width = x.xexpose.width;
            event.height = x.xexpose.height;
            event.more = x.xexpose.count;
            return true;
        case DestroyNotify:
            event.kind = Kind::destroy;
            event.window = x.xdestroywindow.window;
            return true;
        case ClientMessage:
            if (deleteAtom_ == 0 || x.xclient.format != 32 ||
                static_cast<unsigned long>(x.xclient.data.l[0]) != deleteAtom_)
                continue;
            event.kind = Kind::close;
            return true;
        default: continue;
        }
    }
    return false;
}

bool PlatX11::putPixels(Window window, std::uint32_t const* pixels, int width, int height, int x,
                        int y, int w, int h) {
    if (display_ == nullptr || lost_ || window == 0 || pixels == nullptr ||
        !sizeFits(width, height) || w < 0 || h < 0)
        return false;
    // Clip to the buffer (in 64 bits: x + w may not fit an int).
    long long left = std::max<long long>(x, 0), top = std::max<long long>(y, 0);
    long long right = std::min<long long>(static_cast<long long>(x) + w, width);
    long long bottom = std::min<long long>(static_cast<long long>(y) + h, height);
    if (left >= right || top >= bottom) return true;

    Display* display = asDisplay(display_);
    int screen = DefaultScreen(display);
    Visual* visual = DefaultVisual(display, screen);
    // The image describes the caller's buffer in place; nothing is copied here.
    XImage image{};
    image.width = width;
    image.height = height;
    image.format = ZPixmap;
    image.data = const_cast<char*>(reinterpret_cast<char const*>(pixels));
    image.byte_order = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
    image.bitmap_unit = 32;
    image.bitmap_bit_order = image.byte_order;
    image.bitmap_pad = 32;
    image.depth = DefaultDepth(display, screen);
    image.bytes_per_line = width * 4;
    image.bits_per_pixel = 32;
    image.red_mask = visual->red_mask;
    image.green_mask = visual->green_mask;
    image.blue_mask = visual->blue_mask;
    if (XInitImage(&image) == 0) return false;
    XPutImage(display, window, static_cast<GC>(gc_), &image, static_cast<int>(left),
              static_cast<int>(top), static_cast<int>(left), static_cast<int>(top),
              static_cast<unsigned>(right - left), static_cast<unsigned>(bottom - top));
    XFlush(display);
    return true;
}

void PlatX11::takeFocus(Window window) { giveFocus(window); }

void PlatX11::giveFocus(Window window) {
    if (display_ == nullptr || lost_ || window == 0) return;
    XSetInputFocus(asDisplay(display_), window, RevertToParent, CurrentTime);
    XFlush(asDisplay(display_));
}

bool PlatX11::grabPointer(Window window) {
    if (display_ == nullptr || lost_ || window == 0) return false;
    int answer = XGrabPointer(asDisplay(display_), window, False,
                              ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                              GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    return answer == GrabSuccess && !lost_;
}

void PlatX11::ungrabPointer() {
    if (display_ == nullptr || lost_) return;
    XUngrabPointer(asDisplay(display_), CurrentTime);
    XFlush(asDisplay(display_));
}

void PlatX11::sync() {
    if (display_ == nullptr || lost_) return;
    XSync(asDisplay(display_), False);
}
