#pragma once
// CoreEdit: the least editor: an X11 child window of the host's that shows
// the display (the 58 x 14 main zone and the extra zone, drawn from the
// skin's font strips, over the skin's background when it has one) and turns
// clicks, drags, wheel steps and keys into the display's records, plus the
// program pop-up menu. It talks to the plug-in only through the plug-in's
// private properties (CoreEdhs) and asks the display only for its geometry
// and its snapshot record (newdd, deldd); it never reads the character
// buffer or the engine.
// Owner: the control thread creates it with the instance; the shell keeps it
// until the instance closes (deleting it closes it).
// Threads: getrc, open, idle, close and the destructor run on the host's
// user-interface thread, and every X call is made there, on the editor's own
// connection; no thread of its own. prchg may come from any thread (the
// display's tick): it only records the announcement for the next idle. The
// shell stops announcing to an editor before deleting it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "display/CoreCnst.h"
#include "platform/PlatVst.h"
#include "skin/CoreStrp.h"

class CoreDsbf;
class CoreDsif;
class CoreEdhs;
class CoreSkin;
class PlatX11;

class CoreEdit {
public:
    static constexpr int iCpopupcells = 24;     // cells of a pop-up column (entries are cut to it)
    static constexpr int iCpopupindent = 2;     // cells of indent per depth in the pop-up
    static constexpr int iCarmbytes = 20;       // the arm record (100106)
    static constexpr int iCmousebytes = 12;     // the mouse record (100101)
    static constexpr int iCentrybytes = 52;     // one pop-up entry (100107, 100108)
    static constexpr int iCmaxentries = 100000; // entries a pop-up reads at most
    static constexpr int iCpopupedge = 1;       // pixels of the pop-up's frame
    static constexpr int iCpopuppad = 2;        // pixels of background inside the frame
    static constexpr int iCpopupinset = iCpopupedge + iCpopuppad; // entries' offset, pixels

    // Where the display sits in the window, pixels, and its size in cells.
    struct LAYOUT {
        int width = 0;      // window
        int height = 0;     // window
        int mainx = 0;      // main zone's left edge
        int mainy = 0;      // main zone's top edge
        int addx = 0;       // extra zone's left edge
        int addy = 0;       // extra zone's top edge
        int cellx = 0;      // cell width
        int celly = 0;      // cell height
        int columns = 0;    // main-zone columns
        int rows = 0;       // main-zone rows
        int addcolumns = 0; // extra-zone columns
        int addrows = 0;    // extra-zone rows
    };

    // The arm record of property 100106, read field by field.
    struct ARM {
        bool armed = false;  // show (true) or withdraw the menu
        int count = 0;       // entries, title included
        short column = 0;    // the menu's cell area
        short row = 0;       //
        short width = 0;     //
        short height = 0;    //
        short percolumn = 0; // items per column of the pop-up
    };

    // plugin and display are needed to open; skin may be null (built-in
    // glyphs); colour is the display's font colour (CoreDsif::getfc), an
    // index into the skin's font list.
    CoreEdit(CoreEdhs* plugin, CoreDsif* display, CoreSkin* skin, short colour);
    ~CoreEdit(); // closes
    CoreEdit(CoreEdit const&) = delete;
    CoreEdit& operator=(CoreEdit const&) = delete;
    CoreEdit(CoreEdit&&) = delete;
    CoreEdit& operator=(CoreEdit&&) = delete;

    // The window's rectangle (top, left 0) for the get-rect opcode; answers
    // whether it is known (false only without a display). Open or not.
    bool getrc(PlatVst::Rect** rect);
    // Opens the editor in the parent (an X window id): the editor's own
    // connection to DISPLAY, a child of the layout's size, every cell drawn,
    // the attached-editor count raised. Answers false, leaving nothing
    // behind, without DISPLAY, for a null parent or one that is no window.
    // An editor already open is closed first.
    bool open(unsigned long parent);
    // Pending events into records, the snapshot (100104) read and changed
    // cells drawn, the pop-up served. Nothing while closed, and nothing but
    // a still window after the parent went away.
    void idle();
    // Ends the pop-up, destroys the window, closes the connection and lowers
    // the count. Safe when not open.
    void close();
    // The plug-in's change announcement (listener): recorded only.
    void prchg(int id, int index, int value);

    bool isopn() const { return x11 != nullptr; }
    unsigned long getwn() const { return window; } // the child window, 0 when closed
    unsigned long getpw() const { return popup; }  // the pop-up window, 0 when none
    LAYOUT const& getly();                         // the layout (loads the strips)

    // The display's key code for an X keysym; -1 for a key it does not take.
    static int keycd(unsigned long keysym);
    // The cell under a window pixel: main zone rows 0.., extra zone rows
    // after them; x and y count from the main zone's top-left corner. False
    // outside both zones.
    static bool celat(LAYOUT const& layout, int windowx, int windowy, short& column, short& row,
                      int& x, int& y);
    static ARM armrd(unsigned char const* record); // the 20 bytes of 100106
    // The pop-up's colours (0x00RRGGBB) for the page's paper colour: a
    // background a step lighter (darker on light paper) than the page's, so
    // page text beside the menu never reads as one of its entries, and a
    // frame far from both.
    static void popcl(std::uint32_t paper, std::uint32_t& back, std::uint32_t& edge);

private:
    void prepare();               // strips, background and layout, once
    bool snapshot();              // reads 100104; true when the cells came whole
    void redraw(bool everything); // changed cells into the frame and onto the window
    void events();                // pending events into records
    void pointer(int kind, unsigned long where, int x, int y, int button, int wheel);
    void key(unsigned long where, unsigned long keysym);
    void state(); // capture (100105) and the arm record (100106)
    void post(int id, int word1, int word2, int word3, int word4); // 100100
    void mouse(int x, int y, int button);                          // 100101
    bool inmenu(short column, short row) const;                    // inside the armed area
    void popon();                     // opens the pop-up under the armed area
    void popoff();                    // ends it
    void popdraw(int line, bool put); // one line, or every line (-1)
    int pophit(int x, int y) const;   // entry under a pop-up pixel, -1 none
    void popscroll(int step);         // columns by the wheel
    void focus(bool captured);        // keyboard focus by capture

    CoreEdhs* plugin;                            // not owned
    CoreDsif* display;                           // not owned
    CoreSkin* skin;                              // not owned, may be null
    short colour;                                // font colour index
    bool prepared;                               // strips and layout made
    CoreStrp strips;                             // the glyph strips
    CoreStrp::IMAGE background;                  // the skin's background, empty when none
    std::unique_ptr<CoreDsbf> glyphmap;          // the display's code-to-glyph maps (pop-up texts)
    LAYOUT layout;                               // see LAYOUT
    PlatVst::Rect rect;                          // the answer of getrc
    int glyphcounts[4];                          // CoreDsif::getre per font
    std::unique_ptr<PlatX11> x11;                // the connection, null when closed
    unsigned long parent;                        // the host's window
    unsigned long window;                        // our child, 0 when none
    unsigned long popup;                         // the pop-up, 0 when none
    bool inert;                                  // the window went away with its parent
    bool attached;                               // the count was raised by open
    bool held;                                   // button 1 went down in a zone
    bool captured;                               // the display captures the keyboard
    CoreCnst::DISPLAYDATA data;                  // our snapshot record
    std::vector<int> drawn;                      // per grid cell: what the frame shows, -1 unknown
    std::vector<std::uint32_t> frame;            // the window's pixels
    unsigned char arm[iCarmbytes];               // the last arm record read
    std::vector<CoreCnst::POPMENUENTRY> entries; // the open pop-up's entries
    std::vector<int> depths;                     // per entry: depth below the title
    std::vector<bool> leaves;                    // per entry: an item with no children
    int percolumn;                               // pop-up lines per column
    int firstcolumn;                             // pop-up column shown leftmost
    int showncolumns;                            // pop-up columns on screen
    int hover;                                   // entry under the pointer, -1 none
    std::vector<std::uint32_t> popframe;         // the pop-up's pixels
    int popwidth;                                // pop-up size, pixels, frame included
    int popheight;                               //
    std::uint32_t poppaper;                      // the page's paper colour (font 0's blank)
    std::uint32_t popback;                       // the pop-up's background colour
    std::atomic<bool> armnews;                   // 100106 announced since the last idle
    std::atomic<bool> capturenews;               // 100105 announced since the last idle
};
