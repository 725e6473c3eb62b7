#pragma once
// DisplayRig: a display on fakes for the display tests: a blink clock on a
// fake clock, a mailbox, a fake engine and host, a skin and a CoreDsif. The
// test ticks it directly (no control thread), posts input records, runs
// batches, and reads the screen two ways, cell by cell from the buffer and
// decoded from a snapshot, each as 17 text rows (bars and symbols as Unicode)
// with matching font rows, so that failures read as screens.
// Owner: the test. Threads: the test's thread; the display's thread runs
// batches meanwhile.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "display/CoreDsed.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgm.h"
#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "display/CoreDstx.h"
#include "runtime/CoreBlnk.h"
#include "runtime/CoreSmgd.h"
#include "skin/CoreSkin.h"
#include "tests/display/FakeBean.h"
#include "tests/display/FakeHost.h"
#include "tools/CoreDspg.h"

// The display tests' view of the display's insides: reads, besides the
// program menu's arming and a page request, which pages not built yet would
// make (only while no batch runs), and the input state the common part
// leaves for the page's tick.
struct CoreDsifPeek {
    static short current(CoreDsif& d) { return d.current; }
    // The display's thread requests a page after a batch under the display
    // lock, so the request is read and made under it too.
    static short requested(CoreDsif& d) {
        CoreSmgd hold(*d.lock);
        return d.requested;
    }
    static CoreDsbf const& buffer(CoreDsif& d) { return *d.buffer; }
    static CoreMenu* menu(CoreDsif& d, int i) { return d.menus[i].get(); }
    static CoreMenu* currentmenu(CoreDsif& d) { return d.currentmenu; }
    static int batchlevel(CoreDsif& d) { return d.batchlevel; }
    static void armProgramMenu(CoreDsif& d, bool armed) { d.programmenu = armed; }
    static void request(CoreDsif& d, short page) {
        CoreSmgd hold(*d.lock);
        d.requested = page;
    }
    static CoreDsgt& gadget(CoreDsif& d) { return *d.gadget; }
    static CoreDsge& group(CoreDsif& d) { return *d.editgroup; }
    static short clickcolumn(CoreDsif& d) { return d.clickcolumn; }
    static short clickrow(CoreDsif& d) { return d.clickrow; }
    static bool held(CoreDsif& d) { return d.mouseheld; }
    static std::pair<int, int> mouse(CoreDsif& d) { return {d.mousex, d.mousey}; }
    static std::pair<int, int> bankprogram(CoreDsif& d) { return {d.bank, d.program}; }
    // Kernel, memory and global pages.
    static bool menurebuild(CoreDsif& d) { return d.menurebuild; }
    static void menurebuild(CoreDsif& d, bool on) { d.menurebuild = on; }
    // Program browsing pages.
    static CoreDsgm& popups(CoreDsif& d) { return *d.popups; }
    static void rebuildMenu(CoreDsif& d) { d.menurebuild = true; } // as the memory page does
    static int programtop(CoreDsif& d) { return d.programtop; }
    static int browsetop(CoreDsif& d) { return d.browsetop; }
    static int level(CoreDsif& d) { return d.browselevel; }
    // Master, MIDI, disk, parameter modulator, about and test pages.
    static short& prmselect(CoreDsif& d) { return d.prmselect; }
    static short& prmcopy(CoreDsif& d) { return d.prmcopy; }
    static int* testcounters(CoreDsif& d) { return d.pages.testcounters; }
    static short fontcolour(CoreDsif& d) { return d.fontcolour; }
};

class DisplayRig {
public:
    struct SCREEN { // per grid row: text (UTF-8) and one font digit per cell, '?' none
        std::vector<std::string> text;
        std::vector<std::string> fonts;
        bool operator==(SCREEN const&) const = default;
    };

    DisplayRig();
    ~DisplayRig() { shown.reset(); }
    DisplayRig(DisplayRig const&) = delete;
    DisplayRig& operator=(DisplayRig const&) = delete;

    CoreDsif& build(bool withHost = true);
    CoreDsif& display() { return *shown; }
    void destroy() { shown.reset(); }

    // Input records as the editor posts them; a click also holds the host's
    // mouse button at the cell's pixel position, which the record carries
    // as its press position (words 3 and 4); a release lets it go.
    void click(int column, int row);
    void release() { host.mouse(0, 0, 0); }
    void drag(int x, int y) { host.mouse(x, y, 1); } // pixels, button held
    void key(int code) { post(CoreDspc::iCkey, code, 0); }
    void wheel(int steps) { post(CoreDspc::iCwheel, steps, 0); }
    void bypass() { post(CoreDspc::iCbypass, 0, 0); }
    void choose(int index) { post(CoreDspc::iCprogram, index, 0); }

    void tick(bool attached = true) { shown->updte(attached); }
    // A tick of a page with fields: after the display's tick, the tick's
    // click and the held flag go to the gadget and the edit group, which
    // then draw, as every such page's own tick does.
    void tickFields();
    CoreDsgt& gadget() { return CoreDsifPeek::gadget(*shown); }
    CoreDsge& group() { return CoreDsifPeek::group(*shown); }
    short page() { return CoreDsifPeek::current(*shown); }
    short requested() { return CoreDsifPeek::requested(*shown); }
    short boot(bool attached = true); // ticks until the page leaves 20 (100 at most)
    // Ticks until the page leaves 22 and 23; false when the time runs out.
    bool runBatch(int milliseconds = 5000);
    static void blinkPhase(bool on); // moves the fake clock into that phase

    SCREEN cells();    // read through the buffer
    SCREEN snapshot(); // newdd, flldd, deldd, decoded
    std::string row(int r) { return cells().text[size_t(r)]; }
    std::string fonts(int r) { return cells().fonts[size_t(r)]; }
    bool picture(CoreDspg::IMAGE& image, int scale = 1); // the snapshot drawn
    static bool readPng(std::string const& path, CoreDspg::IMAGE& image);
    static std::string glyphText(short font, int glyph);

    FakeBean engine;
    FakeHost host;
    CoreSkin skin;
    CoreDspc mailbox;
    CoreBlnk blink;

private:
    void post(short id, int word1, int word2, int word3 = 0, int word4 = 0);
    std::unique_ptr<CoreDsif> shown;
};
