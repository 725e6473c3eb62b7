#include "editor/x11/CoreEdit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "display/CoreDsbf.h"
#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "editor/x11/CoreEdhs.h"
#include "platform/x11/PlatX11.h"
#include "runtime/CoreLog_.h"
#include "skin/CoreSkin.h"

namespace {
// The X keysyms of the editing keys (X11/keysymdef.h; Latin-1 keysyms are
// the characters themselves).
constexpr unsigned long keyBackSpace = 0xff08;
constexpr unsigned long keyReturn = 0xff0d;
constexpr unsigned long keyEscape = 0xff1b;
constexpr unsigned long keyHome = 0xff50;
constexpr unsigned long keyLeft = 0xff51;
constexpr unsigned long keyRight = 0xff53;
constexpr unsigned long keyEnd = 0xff57;
constexpr unsigned long keyInsert = 0xff63;
constexpr unsigned long keyKpEnter = 0xff8d;
constexpr unsigned long keyDelete = 0xffff;

// A whole idle never spends itself on an endless stream of events.
constexpr int eventsPerIdle = 4096;

// What a grid cell shows, as one number: strip, glyph and quarter.
int cellKey(int strip, int glyph, int quarter) { return (strip * 128 + glyph) * 4 + quarter; }

void logFailure(char const* what) { CoreLog_::loger(CoreAnsx("Editor: ") + CoreAnsx(what), 1); }

std::int16_t readShort(unsigned char const* bytes) {
    std::int16_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}
} // namespace

CoreEdit::CoreEdit(CoreEdhs* plugin, CoreDsif* display, CoreSkin* skin, short colour)
    : plugin(plugin), display(display), skin(skin), colour(colour),
      prepared(false), rect{}, glyphcounts{108, 94, 108, 1}, parent(0), window(0), popup(0),
      inert(false), attached(false), held(false), captured(false), arm{}, percolumn(1),
      firstcolumn(0), showncolumns(1), hover(-1), popwidth(0), popheight(0), poppaper(0),
      popback(0), armnews(false), capturenews(false) {}

CoreEdit::~CoreEdit() {
    try {
        close();
    } catch (...) {
        // Nothing leaves a destructor; close logs what it can.
    }
}

int CoreEdit::keycd(unsigned long keysym) {
    switch (keysym) {
    case keyReturn:
    case keyKpEnter: return 13;
    case keyBackSpace: return 8;
    case keyDelete: return '.';
    case keyEnd: return '#';
    case keyHome: return '$';
    case keyLeft: return '%';
    case keyRight: return '\'';
    case keyInsert: return '-';
    default: break;
    }
    bool printable = (keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff);
    return printable ? int(keysym) : -1;
}

bool CoreEdit::celat(LAYOUT const& l, int windowx, int windowy, short& column, short& row, int& x,
                     int& y) {
    x = windowx - l.mainx;
    y = windowy - l.mainy;
    if (l.cellx <= 0 || l.celly <= 0) return false;
    if (x >= 0 && y >= 0 && x < l.columns * l.cellx && y < l.rows * l.celly) {
        column = short(x / l.cellx);
        row = short(y / l.celly);
        return true;
    }
    int ex = windowx - l.addx, ey = windowy - l.addy;
    if (ex >= 0 && ey >= 0 && ex < l.addcolumns * l.cellx && ey < l.addrows * l.celly) {
        column = short(ex / l.cellx);
        row = short(l.rows + ey / l.celly);
        return true;
    }
    return false;
}

CoreEdit::ARM CoreEdit::armrd(unsigned char const* record) {
    ARM a;
    if (record == nullptr) return a;
    a.armed = record[0] != 0;
    std::int32_t count;
    std::memcpy(&count, record + 4, sizeof count);
    a.count = count;
    a.column = readShort(record + 8);
    a.row = readShort(record + 10);
    a.width = readShort(record + 12);
    a.height = readShort(record + 14);
    a.percolumn = readShort(record + 16);
    return a;
}

void CoreEdit::prchg(int id, int, int) {
    if (id == CorePlif::iCproparm) armnews.store(true);
    if (id == CorePlif::iCpropcapture) capturenews.store(true);
}

CoreEdit::LAYOUT const& CoreEdit::getly() {
    prepare();
    return layout;
}

void CoreEdit::prepare() {
    if (prepared) return;
    strips.loads(skin, colour);
    glyphmap = std::make_unique<CoreDsbf>(nullptr, 1, 1, 0, 0);
    LAYOUT l;
    l.cellx = strips.getcx();
    l.celly = strips.getcy();
    l.columns = display != nullptr ? display->getdx() : CoreDsif::iCdimx;
    l.rows = display != nullptr ? display->getdy() : CoreDsif::iCdimy;
    l.addcolumns = display != nullptr ? display->getax() : CoreDsif::iCdimaddx;
    l.addrows = display != nullptr ? display->getay() : CoreDsif::iCdimaddy;
    if (display != nullptr)
        for (short font = 0; font < 4; ++font) glyphcounts[font] = display->getre(font);
    CoreSkin::SKIN* description = skin != nullptr ? skin->getsk() : nullptr;
    if (description != nullptr && description->background.Length() > 0) {
        // Judged from its header before it is decoded: the picture must hold
        // both zones where the skin places them, in the cells drawn on it.
        int size = 0, width = 0, height = 0;
        unsigned char const* bytes = skin->getbt(description->background, size);
        char const* why = "";
        if (CoreStrp::sizes(bytes, size, width, height, why)) {
            auto holds = [&](long x, long y, long columns, long rows) {
                return x + columns * l.cellx <= width && y + rows * l.celly <= height;
            };
            if (!holds(description->displayx, description->displayy, l.columns, l.rows) ||
                !holds(description->displayaddx, description->displayaddy,
                       std::min(l.addcolumns, l.columns), l.addrows))
                why = "does not hold the display";
            else if (!CoreStrp::decod(bytes, size, background))
                why = "is no PNG";
        }
        if (background.pixels.empty())
            CoreLog_::loger(CoreAnsx("Editor: the background \"") + description->background +
                                CoreAnsx("\" ") + CoreAnsx(why) +
                                CoreAnsx("; the display is shown without it"),
                            0);
    }
    if (!background.pixels.empty()) {
        l.width = background.width;
        l.height = background.height;
        l.mainx = description->displayx;
        l.mainy = description->displayy;
        l.addx = description->displayaddx;
        l.addy = description->displayaddy;
    } else {
        // The snapshot renderer's layout: main zone, one empty cell row, extra zone.
        l.width = l.columns * l.cellx;
        l.height = (l.rows + 1 + l.addrows) * l.celly;
        l.addy = (l.rows + 1) * l.celly;
    }
    l.width = std::clamp(l.width, 1, int(CoreStrp::iClargest));
    l.height = std::clamp(l.height, 1, int(CoreStrp::iClargest));
    layout = l;
    rect = PlatVst::Rect{0, 0, std::int16_t(l.height), std::int16_t(l.width)};
    prepared = true;
}

bool CoreEdit::getrc(PlatVst::Rect** answer) {
    if (answer == nullptr) return false;
    try {
        prepare();
    } catch (...) {
        logFailure("the layout could not be made");
        return false;
    }
    *answer = &rect;
    return true;
}

bool CoreEdit::open(unsigned long parentWindow) {
    close();
    if (plugin == nullptr || display == nullptr) {
        logFailure("no plug-in or display to show");
        return false;
    }
    if (parentWindow == 0) {
        logFailure("the host gave no parent window");
        return false;
    }
    try {
        prepare();
        auto connection = std::make_unique<PlatX11>();
        if (!connection->open(nullptr)) {
            logFailure(connection->problem().c_str());
            return false;
        }
        if (!connection->isWindow(parentWindow)) {
            logFailure("the host's parent is no window");
            return false;
        }
        unsigned long child = connection->createChild(parentWindow, layout.width, layout.height);
        if (child == 0) {
            logFailure("the window could not be made");
            return false;
        }
        display->newdd(&data);
        drawn.assign(size_t(layout.columns) * size_t(layout.rows + layout.addrows), -1);
        if (!background.pixels.empty()) {
            frame = background.pixels;
        } else {
            // Every pixel outside the zones shows the blank, as the gap does.
            frame.assign(size_t(layout.width) * size_t(layout.height), 0);
            for (int y = 0; y + layout.celly <= layout.height; y += layout.celly)
                for (int x = 0; x + layout.cellx <= layout.width; x += layout.cellx)
                    strips.cell_(0, 0, 0, 0, frame.data() + size_t(y) * size_t(layout.width) + x,
                                 layout.width);
        }
        x11 = std::move(connection);
        parent = parentWindow;
        window = child;
        popup = 0;
        inert = false;
        held = false;
        captured = false;
        std::memset(arm, 0, sizeof arm);
        plugin->attch(true);
        attached = true;
        state();
        snapshot();
        redraw(true);
        return true;
    } catch (CoreAnsx const& error) {
        logFailure(error.c_str());
    } catch (std::exception const& error) {
        logFailure(error.what());
    }
    close();
    display->deldd(&data);
    return false;
}

void CoreEdit::close() {
    if (x11 == nullptr) return;
    popoff();
    if (!inert && window != 0) x11->destroyWindow(window);
    x11->close();
    x11.reset();
    window = 0;
    parent = 0;
    held = false;
    captured = false;
    display->deldd(&data);
    drawn.clear();
    frame.clear();
    if (attached) plugin->attch(false);
    attached = false;
}

void CoreEdit::idle() {
    if (x11 == nullptr) return;
    try {
        if (x11->lost()) inert = true;
        if (inert) {
            PlatX11::Event drop;
            for (int i = 0; i < eventsPerIdle && x11->nextEvent(drop); ++i) {
            }
            return;
        }
        state();
        events();
        if (!inert && snapshot()) redraw(false);
        x11->takeErrors();
    } catch (CoreAnsx const& error) {
        logFailure(error.c_str());
    } catch (std::exception const& error) {
        logFailure(error.what());
    }
}

void CoreEdit::state() {
    capturenews.store(false); // the flag is read below in any case
    unsigned char flag = 0;
    bool now = plugin->gtprp(CorePlif::iCpropcapture, 0, 1, &flag) > 0 && flag != 0;
    if (now != captured) {
        captured = now;
        if (popup == 0) focus(captured);
    }
    unsigned char record[iCarmbytes] = {};
    if (plugin->gtprp(CorePlif::iCproparm, 0, iCarmbytes, record) <= 0)
        std::memset(record, 0, sizeof record);
    bool news = armnews.exchange(false);
    // A new arming or a withdrawal makes the open menu stale.
    if (popup != 0 && (news || std::memcmp(record, arm, sizeof arm) != 0 || !armrd(record).armed))
        popoff();
    std::memcpy(arm, record, sizeof arm);
}

void CoreEdit::focus(bool on) {
    if (inert) return;
    if (on)
        x11->takeFocus(window);
    else
        x11->giveFocus(parent);
}

bool CoreEdit::snapshot() {
    if (data.cells == nullptr || data.total <= 0) return false;
    int bytes = data.total * int(sizeof(double));
    return plugin->gtprp(CorePlif::iCpropcells, 0, bytes, data.cells) == bytes;
}

void CoreEdit::redraw(bool everything) {
    LAYOUT const& l = layout;
    auto value = [this](int font, int column, int row) {
        if (data.cells == nullptr || font >= data.zones || row < 0 || row >= data.rows[font] ||
            column < 0 || column >= data.columns[font] || data.rowstarts[font] == nullptr)
            return -1.0;
        int index = data.rowstarts[font][row] + column;
        return index >= 0 && index < data.total ? data.cells[index] : -1.0;
    };
    auto glyph = [this](int font, int strip, double v) {
        double g = std::floor(v * glyphcounts[font]);
        return int(std::clamp(g, 0.0, double(CoreStrp::iCslots[strip] - 1)));
    };
    int const gridrows = l.rows + l.addrows;
    for (int gy = 0; gy < gridrows; ++gy) {
        bool extra = gy >= l.rows;
        int top = extra ? l.addy + (gy - l.rows) * l.celly : l.mainy + gy * l.celly;
        int left = extra ? l.addx : l.mainx;
        int columns = extra ? std::min(l.addcolumns, l.columns) : l.columns;
        int from = -1, to = -1; // changed columns of this row
        for (int gx = 0; gx < columns; ++gx) {
            // The doubled font covers what the others hold, as in the renderer.
            int key = cellKey(0, 0, 0);
            double v = value(2, gx / 2, gy / 2);
            if (v >= 0.0) {
                key = cellKey(2, glyph(2, 2, v), gx % 2 + 2 * (gy % 2));
            } else if ((v = value(1, gx, gy)) >= 0.0) {
                key = cellKey(1, glyph(1, 1, v), 0);
            } else if ((v = value(0, gx, gy)) >= 0.0) {
                key = cellKey(0, glyph(0, 0, v), 0);
            } // font 3 and cells of no font show FONT1's blank
            int& shown = drawn[size_t(gy) * size_t(l.columns) + size_t(gx)];
            if (shown == key) continue;
            int px = left + gx * l.cellx;
            if (px < 0 || top < 0 || px + l.cellx > l.width || top + l.celly > l.height) continue;
            shown = key;
            strips.cell_(key / 512, key / 4 % 128, key % 2, key % 4 / 2,
                         frame.data() + size_t(top) * size_t(l.width) + size_t(px), l.width);
            if (from < 0) from = gx;
            to = gx;
        }
        if (from >= 0 && !everything)
            x11->putPixels(window, frame.data(), l.width, l.height, left + from * l.cellx, top,
                           (to - from + 1) * l.cellx, l.celly);
    }
    if (everything)
        x11->putPixels(window, frame.data(), l.width, l.height, 0, 0, l.width, l.height);
}

void CoreEdit::events() {
    PlatX11::Event e;
    for (int i = 0; i < eventsPerIdle && !inert && x11->nextEvent(e); ++i) {
        switch (e.kind) {
        case PlatX11::Kind::destroy:
            if (e.window == window) {
                // The parent went and took our window with it.
                inert = true;
                popoff();
            }
            break;
        case PlatX11::Kind::expose:
            if (e.more != 0) break;
            if (e.window == window)
                x11->putPixels(window, frame.data(), layout.width, layout.height, 0, 0,
                               layout.width, layout.height);
            else if (e.window == popup)
                popdraw(-1, true);
            break;
        case PlatX11::Kind::key: key(e.window, e.keysym); break;
        default: pointer(int(e.kind), e.window, e.x, e.y, e.button, e.wheel); break;
        }
    }
}

void CoreEdit::pointer(int kind, unsigned long where, int wx, int wy, int button, int wheel) {
    auto const k = PlatX11::Kind(kind);
    if (where == popup && popup != 0) {
        bool inside = wx >= 0 && wy >= 0 && wx < popwidth && wy < popheight;
        if (k == PlatX11::Kind::press) {
            int index = inside && button == 1 ? pophit(wx, wy) : -1;
            bool chosen = index > 0 && leaves[size_t(index)];
            if (chosen)
                plugin->stprp(CorePlif::iCpropchoice, 0, 0, &entries[size_t(index)], iCentrybytes);
            if (chosen || !inside) popoff();
        } else if (k == PlatX11::Kind::motion) {
            int index = inside ? pophit(wx, wy) : -1;
            if (index != hover) {
                int old = hover;
                hover = index;
                if (old >= 0) popdraw(old, true);
                if (index >= 0) popdraw(index, true);
            }
        } else if (k == PlatX11::Kind::wheel) {
            popscroll(-wheel);
        }
        return;
    }
    if (where != window) return;
    short column = 0, row = 0;
    int x = wx - layout.mainx, y = wy - layout.mainy;
    switch (k) {
    case PlatX11::Kind::press:
        if (button != 1 || !celat(layout, wx, wy, column, row, x, y)) break;
        if (armrd(arm).armed && inmenu(column, row)) {
            // The menu takes the press, as a native pop-up would.
            popon();
            break;
        }
        held = true;
        mouse(x, y, 1);
        post(CoreDspc::iCclick, column, row, x, y);
        break;
    case PlatX11::Kind::motion:
        if (held) mouse(x, y, 1);
        break;
    case PlatX11::Kind::release:
        if (button != 1 || !held) break;
        held = false;
        mouse(x, y, 0);
        break;
    case PlatX11::Kind::wheel: post(CoreDspc::iCwheel, wheel, 0, 0, 0); break;
    default: break;
    }
}

void CoreEdit::key(unsigned long where, unsigned long keysym) {
    if (popup != 0) {
        if (keysym == keyEscape) popoff();
        return;
    }
    if (where != window || !captured) return;
    int code = keycd(keysym);
    if (code >= 0) post(CoreDspc::iCkey, code, 0, 0, 0);
}

void CoreEdit::post(int id, int word1, int word2, int word3, int word4) {
    CoreDspc::MESSAGELOC record{};
    record.id = std::uint16_t(id);
    record.word1 = word1;
    record.word2 = word2;
    record.word3 = word3;
    record.word4 = word4;
    plugin->stprp(CorePlif::iCpropinput, 0, 0, &record, sizeof record);
}

void CoreEdit::mouse(int x, int y, int button) {
    std::int32_t record[3] = {x, y, button};
    plugin->stprp(CorePlif::iCpropmouse, 0, 0, record, sizeof record);
}

bool CoreEdit::inmenu(short column, short row) const {
    // The display's own hit test: every edge of the area inside.
    ARM a = armrd(arm);
    return row >= a.row && row <= a.row + a.height && column >= a.column &&
           column <= a.column + a.width;
}

void CoreEdit::popon() {
    popoff();
    ARM a = armrd(arm);
    int count = std::min(a.count, iCmaxentries);
    if (count <= 0) return;
    entries.assign(size_t(count), CoreCnst::POPMENUENTRY{});
    int got = plugin->gtprp(CorePlif::iCpropentries, 0, count * iCentrybytes, entries.data());
    count = std::min(count, std::max(got, 0) / iCentrybytes);
    if (count <= 0) {
        entries.clear();
        return;
    }
    entries.resize(size_t(count));
    depths.assign(size_t(count), 0);
    leaves.assign(size_t(count), true);
    leaves[0] = false; // the title chooses nothing
    for (int i = 1; i < count; ++i) {
        CoreCnst::POPMENUENTRY& entry = entries[size_t(i)];
        entry.text[sizeof entry.text - 1] = '\0';
        int p = entry.parent;
        // Pre-order puts a parent before its children; anything else is top level.
        if (p >= 1 && p < i) {
            depths[size_t(i)] = std::min(depths[size_t(p)] + 1, iCpopupcells);
            leaves[size_t(p)] = false;
        }
    }
    entries[0].text[sizeof entries[0].text - 1] = '\0';
    percolumn = a.percolumn > 0 ? a.percolumn : iCpopupcells;
    int lines = std::min(count, percolumn);
    int total = (count + percolumn - 1) / percolumn;
    int screenw = 0, screenh = 0;
    x11->screenSize(screenw, screenh);
    int columnwidth = iCpopupcells * layout.cellx;
    showncolumns = std::clamp(screenw / std::max(columnwidth, 1), 1, total);
    firstcolumn = 0;
    hover = -1;
    popwidth = showncolumns * columnwidth + 2 * iCpopupinset;
    popheight = std::min(lines * layout.celly, CoreStrp::iClargest) + 2 * iCpopupinset;
    int rootx = 0, rooty = 0;
    int anchorx = layout.mainx + a.column * layout.cellx;
    int anchory = layout.mainy + (a.row + a.height) * layout.celly;
    if (!x11->rootPosition(window, anchorx, anchory, rootx, rooty)) {
        entries.clear();
        return;
    }
    rootx = std::max(0, std::min(rootx, screenw - popwidth));
    rooty = std::max(0, std::min(rooty, screenh - popheight));
    // The frame, then the background inside it; popdraw lays the entries on.
    std::vector<std::uint32_t> blank(size_t(layout.cellx) * size_t(layout.celly), 0);
    strips.cell_(0, glyphmap->getfn(0)->getrs(short(' ')), 0, 0, blank.data(), layout.cellx);
    poppaper = blank[0] & 0xffffffu;
    std::uint32_t edge = 0;
    popcl(poppaper, popback, edge);
    popframe.assign(size_t(popwidth) * size_t(popheight), edge);
    for (int y = iCpopupedge; y < popheight - iCpopupedge; ++y)
        std::fill_n(popframe.begin() + y * popwidth + iCpopupedge, popwidth - 2 * iCpopupedge,
                    popback);
    popup = x11->createPopup(rootx, rooty, popwidth, popheight);
    if (popup == 0) {
        logFailure("the pop-up menu could not be made");
        entries.clear();
        return;
    }
    popdraw(-1, true);
    x11->grabPointer(popup);
    x11->takeFocus(popup);
}

void CoreEdit::popoff() {
    if (popup == 0 || x11 == nullptr) return;
    x11->ungrabPointer();
    x11->destroyWindow(popup);
    popup = 0;
    entries.clear();
    hover = -1;
    focus(captured);
}

void CoreEdit::popcl(std::uint32_t paper, std::uint32_t& back, std::uint32_t& edge) {
    int const r = int(paper >> 16 & 0xffu), g = int(paper >> 8 & 0xffu), b = int(paper & 0xffu);
    bool const dark = 299 * r + 587 * g + 114 * b < 128000;
    int const step = dark ? 40 : -40;
    auto channel = [&](int c, int shift) {
        return std::uint32_t(std::clamp(c + step, 0, 255)) << shift;
    };
    back = channel(r, 16) | channel(g, 8) | channel(b, 0);
    edge = dark ? 0xc8c8c8u : 0x383838u;
}

int CoreEdit::pophit(int x, int y) const {
    int columnwidth = iCpopupcells * layout.cellx;
    x -= iCpopupinset;
    y -= iCpopupinset;
    if (x < 0 || y < 0 || x >= popwidth - 2 * iCpopupinset || y >= popheight - 2 * iCpopupinset)
        return -1;
    int index = (firstcolumn + x / columnwidth) * percolumn + y / layout.celly;
    return index < int(entries.size()) ? index : -1;
}

void CoreEdit::popscroll(int step) {
    int total = (int(entries.size()) + percolumn - 1) / percolumn;
    int first = std::clamp(firstcolumn + step, 0, std::max(total - showncolumns, 0));
    if (first == firstcolumn) return;
    firstcolumn = first;
    hover = -1;
    popdraw(-1, true);
}

void CoreEdit::popdraw(int only, bool put) {
    int const cx = layout.cellx, cy = layout.celly;
    int const columnwidth = iCpopupcells * cx;
    for (int slot = 0; slot < showncolumns * percolumn; ++slot) {
        int column = slot / percolumn, line = slot % percolumn;
        int index = (firstcolumn + column) * percolumn + line;
        if (only >= 0 && index != only) continue;
        int left = iCpopupinset + column * columnwidth, top = iCpopupinset + line * cy;
        if (top + cy > popheight - iCpopupinset) continue;
        char text[iCpopupcells] = {};
        std::memset(text, ' ', sizeof text);
        if (index < int(entries.size())) {
            int indent = iCpopupindent * depths[size_t(index)];
            char const* from = entries[size_t(index)].text;
            for (int k = indent; k < iCpopupcells && *from != '\0'; ++k) text[k] = *from++;
        }
        short font = index == hover ? 1 : 0;
        CoreDsfn const* map = glyphmap->getfn(font);
        std::uint32_t* const at = popframe.data() + size_t(top) * size_t(popwidth) + size_t(left);
        for (int k = 0; k < iCpopupcells; ++k)
            strips.cell_(font, map->getrs(short(static_cast<unsigned char>(text[k]))), 0, 0,
                         at + k * cx, popwidth);
        // The entries stand on the menu's own background; the line under
        // the pointer keeps the inverse font's paper as its highlight.
        if (font == 0)
            for (int y = 0; y < cy; ++y)
                for (int k = 0; k < columnwidth; ++k)
                    if (std::uint32_t& p = at[size_t(y) * size_t(popwidth) + size_t(k)];
                        (p & 0xffffffu) == poppaper)
                        p = popback;
        if (put && only >= 0)
            x11->putPixels(popup, popframe.data(), popwidth, popheight, left, top, columnwidth, cy);
    }
    if (put && only < 0)
        x11->putPixels(popup, popframe.data(), popwidth, popheight, 0, 0, popwidth, popheight);
}
