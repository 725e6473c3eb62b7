#pragma once
// PlatX11: one connection to an X server and the few things the editor does
// with it: check the host's parent window, make a child window and a pop-up,
// hand pending input out as plain records, put 32-bit pixel buffers on a
// window, and move the keyboard focus. It is the only product code that
// includes the Xlib headers (in its source), so nothing above sees them.
//
// X errors never end the host: while any PlatX11 is open, chaining handlers
// are installed; protocol errors on our own connections are counted (see
// takeErrors) and ignored, a lost server marks the connection lost, and
// errors on every other connection go to the handlers that were there
// before. When the last connection closes, the previous handlers are put
// back, but only where ours are still installed.
//
// Owner: one editor owns one PlatX11 (one connection per editor; no shared
// connection with the host).
// Threads: host UI thread. Every call on one object comes from the one thread
// that opened it; no Xlib thread support is asked for and no thread started.

#include <cstdint>
#include <string>

class PlatX11 {
public:
    using Window = unsigned long; // X window id (XID); 0: none

    enum class Kind {
        press,   // a button went down (not the wheel)
        release, // a button went up (not the wheel)
        motion,  // the pointer moved
        wheel,   // one wheel step
        key,     // a key went down
        expose,  // part of the window must be drawn again
        destroy, // the window was destroyed (by us, or with its parent)
        close,   // the window manager asks a top-level window to close
    };

    // One input or window event. Positions are pixels from the window's
    // top-left corner.
    struct Event {
        Kind kind = Kind::expose;
        Window window = 0;        // our window it happened in
        int x = 0;                // pointer (press .. key) or area left (expose)
        int y = 0;                // pointer (press .. key) or area top (expose)
        int width = 0;            // expose: area width
        int height = 0;           // expose: area height
        int more = 0;             // expose: expose records still to come for the window
        int button = 0;           // press, release: 1 left, 2 middle, 3 right, 8, 9 side
        int wheel = 0;            // wheel: +1 up (away from the user), -1 down
        unsigned long keysym = 0; // key: the X keysym after Shift and Lock (Latin-1 is itself)
        unsigned int state = 0;   // modifier and button bits before the event (X state mask)
    };

    PlatX11() = default;
    ~PlatX11(); // closes
    PlatX11(PlatX11 const&) = delete;
    PlatX11& operator=(PlatX11 const&) = delete;
    PlatX11(PlatX11&&) = delete;
    PlatX11& operator=(PlatX11&&) = delete;

    // Connects to the named display, or to the one DISPLAY names when name is
    // null. False, with problem() saying why, when there is no such display or
    // its default visual is not 24-bit true colour (32 bits a pixel).
    bool open(char const* name = nullptr);
    // Disconnects; the server destroys the windows made here. Safe when closed.
    void close();
    bool isOpen() const { return display_ != nullptr; }
    // The connection broke (server gone); every call is then a safe no-op.
    bool lost() const { return lost_; }
    // Why the last open failed, or what broke the connection.
    std::string const& problem() const { return problem_; }
    // X errors on this connection since the last call; last (when given) gets
    // the text of the newest one, "" when none.
    int takeErrors(std::string* last = nullptr);

    // True when id names an existing window on this server (a round trip).
    bool isWindow(Window id);
    // A mapped child of parent at (0, 0) of width x height pixels, in the
    // screen's default visual; 0 on failure (nothing left behind).
    Window createChild(Window parent, int width, int height);
    // A mapped, raised pop-up at (x, y) on the screen that the window manager
    // leaves alone (override-redirect); 0 on failure.
    Window createPopup(int x, int y, int width, int height);
    // A mapped top-level window of width x height pixels with a fixed size,
    // titled title, whose close button sends a close record instead of
    // killing the connection; 0 on failure. For hosts of our own (the
    // plug-in itself only ever makes children of the host's window).
    Window createTopLevel(int width, int height, char const* title);
    // Destroys a window made here (a destroy record follows).
    void destroyWindow(Window window);
    // Screen position of a point given in window coordinates; false when the
    // window is gone.
    bool rootPosition(Window window, int x, int y, int& rootX, int& rootY);
    // Size of the screen, pixels (0 x 0 when closed).
    void screenSize(int& width, int& height) const;

    // The next pending event as a record, without waiting; false when none is
    // pending. Events this layer does not hand out are dropped on the way.
    bool nextEvent(Event& event);

    // Puts the rectangle (x, y, w, h) of a width x height buffer of 0x00RRGGBB
    // pixels, rows top to bottom without padding, at the same place in the
    // window. The rectangle is clipped to the buffer; false on bad arguments.
    bool putPixels(Window window, std::uint32_t const* pixels, int width, int height, int x, int y,
                   int w, int h);

    // Keyboard focus to window (taken while the display captures keys).
    void takeFocus(Window window);
    // Keyboard focus back to window (the parent) when capture ends.
    void giveFocus(Window window);
    // All pointer events to window until ungrabPointer (an open pop-up sees
    // clicks outside itself); false when the server refuses.
    bool grabPointer(Window window);
    void ungrabPointer();

    // Sends every request and waits until the server has handled them.
    void sync();

private:
    struct Handlers; // the process-wide error handlers (in the source)

    void* display_ = nullptr;       // the connection (an Xlib Display); null when closed
    void* gc_ = nullptr;            // graphics context for putPixels (an Xlib GC)
    bool lost_ = false;             // the server went away
    std::string problem_;           // see problem()
    int errors_ = 0;                // X errors not yet taken
    int lastErrorCode_ = 0;         // newest error: X error code
    int lastErrorRequest_ = 0;      // newest error: major request code
    unsigned long lastErrorId_ = 0; // newest error: resource id
    unsigned long deleteAtom_ = 0;  // WM_DELETE_WINDOW once a top-level window exists
};
