#pragma once
// DisplayRig: a display on fakes for the display tests: a blink clock on a
// fake clock, a mailbox, a fake engine and host, a skin and a CoreDsif. The
// test ticks it directly (no control thread), posts input records, runs
// batches, and reads the screen two ways: cell by cell from the buffer and
// decoded from a snapshot, both as 17 text rows (bars and symbols as
// Unicode) with 17 matching font rows, so failures read as screens.
// Owner: the test. Threads: the test's thread; the display's own thread runs
// batches meanwhile.

#include <memory>
#include <string>
#include <vector>

#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "editor/CoreSkin.h"
#include "runtime/CoreBlnk.h"
#include "tests/display/FakeBean.h"
#include "tests/display/FakeHost.h"
#include "tools/CoreDspg.h"

// The display tests' view of the display's insides; reads, except for the
// program menu's arming and a page request, which pages not built yet would
// make (only while no batch runs).
struct CoreDsifPeek {
    static short current(CoreDsif& d) { return d.current; }
    static short requested(CoreDsif& d) { return d.requested; }
    static CoreDsbf const& buffer(CoreDsif& d) { return *d.buffer; }
    static CoreAnsx home(CoreDsif& d) { return d.home; }
    static CoreMenu* menu(CoreDsif& d, int i) { return d.menus[i].get(); }
    static CoreMenu* currentmenu(CoreDsif& d) { return d.currentmenu; }
    static int batchlevel(CoreDsif& d) { return d.batchlevel; }
    static void armProgramMenu(CoreDsif& d, bool armed) { d.programmenu = armed; }
    static void request(CoreDsif& d, short page) { d.requested = page; }
};

class DisplayRig {
public:
    // What a screen shows: per grid row, the text (UTF-8) and one font digit
    // per cell ('?' for a cell no font shows).
    struct SCREEN {
        std::vector<std::string> text;
        std::vector<std::string> fonts;
        bool operator==(SCREEN const&) const = default;
    };

    DisplayRig(); // fakes only; build() makes the display
    ~DisplayRig();
    DisplayRig(DisplayRig const&) = delete;
    DisplayRig& operator=(DisplayRig const&) = delete;

    CoreDsif& build(bool withHost = true);
    CoreDsif& display() { return *shown; }
    void destroy() { shown.reset(); }

    void click(int column, int row); // also holds the host's mouse button
    void release();                  // lets the host's mouse button go
    void key(int code);
    void wheel(int steps);
    void bypass();
    void choose(int index); // a program picked in the editor

    void tick(bool attached = true) { shown->updte(attached); }
    short page() { return CoreDsifPeek::current(*shown); }
    short requested() { return CoreDsifPeek::requested(*shown); }
    // Ticks until the page leaves 20 (at most 100 ticks); the page then.
    short boot(bool attached = true);
    // Ticks until the page leaves 22 and 23 or the time runs out; false then.
    bool runBatch(int milliseconds = 5000);
    static void blinkPhase(bool on); // moves the fake clock into that phase

    SCREEN cells();    // read through the buffer
    SCREEN snapshot(); // newdd, flldd, deldd, decoded
    std::string row(int r) { return cells().text[size_t(r)]; }
    std::string fonts(int r) { return cells().fonts[size_t(r)]; }
    // Draws the current snapshot; scale multiplies every pixel.
    bool picture(CoreDspg::IMAGE& image, int scale = 1);
    static bool readPng(std::string const& path, CoreDspg::IMAGE& image);
    // Text of a glyph index of a font (bars and symbols as Unicode).
    static std::string glyphText(short font, int glyph);

    FakeBean engine;
    FakeHost host;
    CoreSkin skin;
    CoreDspc mailbox;
    CoreBlnk blink;

private:
    void post(short id, int word1, int word2);
    std::unique_ptr<CoreDsif> shown;
};
