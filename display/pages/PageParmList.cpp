// The parameter modulator list (page 13): the program's sixteen parameter
// modulators, the visible ones as rows with bar and value on the left, the
// invisible ones by name on the right. The user selects one, moves it within
// its group, shows or hides it (by buttons or by dragging a row: each 6
// units up or down move one place, more than 15 sideways change the
// column) and opens the settings page on it.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.
#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/DataLclz.h"
#include "display/pages/PageDraw.h"
#include "display/pages/PageRows.h"
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;
constexpr int beanExchange = 205; // action, record (a, b): exchanges modulators a and b
constexpr short listRows = 11;    // rows 2..12
constexpr short firstRow = 2;
constexpr int moveStep = 6;    // drag units per place
constexpr int switchStep = 15; // drag units beyond which the column changes
constexpr short buttonColumn = 50;

bool inrange(short p) { return p >= 0 && p < pagerows::modulators; }
} // namespace

void CoreDsif::entryprms() {
    pagedraw::label(*buffer, DataLclz::sCprm_visiblelabel, 4, 1);
    pagedraw::label(*buffer, DataLclz::sCprm_invisiblelabel, 39, 1);
    gadget->reset(0, false, false, -1);
    prmdrag = false;
}

void CoreDsif::prmsmove(bool up) {
    short p = prmselect;
    if (!inrange(p)) return;
    BEANSTRUCT at{p, 0};
    bool shown = engine->getbb(pagerows::beanShown, &at);
    short step = up ? -1 : 1;
    for (short q = short(p + step);; q = short(q + step)) {
        if (q < 0) q = pagerows::modulators - 1;
        if (q >= pagerows::modulators) q = 0;
        if (q == p) return;
        BEANSTRUCT other{q, 0};
        if (engine->getbb(pagerows::beanShown, &other) != shown) continue;
        BEANSTRUCT pair{q, p};
        engine->setbv(beanExchange, &pair);
        prmselect = q;
        return;
    }
}

void CoreDsif::tickprms() {
    buffer->write(CoreButl::rpad_(CoreAnsx("  EditMode: PRMs"), 48, ' '), 0, 0, 1, false, false);
    buffer->clear(0, 0, 2, 49, 8);
    upprm();
    if (!mouseheld) prmdrag = false;

    // A click on a row selects its modulator and starts a drag there.
    // Number labels are padded over their column, so a shorter one leaves
    // no colon of a longer one behind on rows the clear does not reach.
    auto pick = [&](short p, short row, short from, short to) {
        if (clickrow != row || clickcolumn < from || clickcolumn > to) return;
        prmselect = p;
        if (prmdrag) return;
        prmdrag = true;
        prmoriginx = mousex;
        prmoriginy = mousey;
    };
    for (short s = 0; s < listRows; ++s) {
        short row = short(firstRow + s);
        short p = pagerows::getpp(*engine, s, true);
        if (p < 0) {
            buffer->clear(0, 0, row, 34, 1);
        } else {
            pick(p, row, 4, 30);
            buffer->write(CoreButl::rpad_(CoreAnsx(p + 1) + CoreAnsx(":"), 4, ' '), 0, row, 0,
                          false, false);
            if (p == prmselect) prmcopy = p;
            pagerows::drprm(*buffer, *engine, *bars[1], 15, 4, row, s, p == prmselect, true);
        }
        p = pagerows::getpp(*engine, s, false);
        if (p < 0) {
            buffer->clear(0, 34, row, 13, 1);
            continue;
        }
        pick(p, row, 39, 47);
        buffer->write(CoreButl::rpad_(CoreAnsx(p + 1) + CoreAnsx(":"), 5, ' '), 34, row, 0, false,
                      false);
        if (p == prmselect) prmcopy = p;
        buffer->write(CoreButl::lpad_(pagerows::getpn(*engine, p), 8, ' '), 39, row,
                      p == prmselect ? 1 : 0, false, false);
    }

    editexit();
    bool up =
        pagedraw::drbtn(*buffer, buttonColumn, 1, CoreAnsx(" MVE UP "), clickcolumn, clickrow);
    if (up || (prmdrag && mousey < prmoriginy - moveStep)) {
        prmsmove(true);
        prmoriginy = mousey;
    }
    bool down =
        pagedraw::drbtn(*buffer, buttonColumn, 2, CoreAnsx(" MVE DW "), clickcolumn, clickrow);
    if (down || (prmdrag && mousey > prmoriginy + moveStep)) {
        prmsmove(false);
        prmoriginy = mousey;
    }
    if (!inrange(prmselect)) {
        buffer->clear(0, buttonColumn, 3, 8, 2);
        return;
    }
    BEANSTRUCT selected{prmselect, 0};
    if (engine->getbb(pagerows::beanShown, &selected)) {
        bool hit =
            pagedraw::drbtn(*buffer, buttonColumn, 3, CoreAnsx(" INVIS  "), clickcolumn, clickrow);
        if (hit || (prmdrag && mousex > prmoriginx + switchStep)) {
            engine->setbb(pagerows::beanShown, false, &selected);
            prmoriginx = mousex;
        }
    } else {
        bool hit =
            pagedraw::drbtn(*buffer, buttonColumn, 3, CoreAnsx(" VISIB  "), clickcolumn, clickrow);
        if (hit || (prmdrag && mousex < prmoriginx - switchStep)) {
            engine->setbb(pagerows::beanShown, true, &selected);
            prmoriginx = mousex;
        }
    }
    if (pagedraw::drbtn(*buffer, buttonColumn, 4, CoreAnsx("  EDIT  "), clickcolumn, clickrow))
        event = CoreAnsx("PARM");
}
