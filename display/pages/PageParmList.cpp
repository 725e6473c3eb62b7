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
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;
constexpr short modulators = 16; // parameter modulators 0..15
constexpr short listRows = 11;   // rows 2..12
constexpr short firstRow = 2;
constexpr int moveStep = 6;    // drag units per place
constexpr int switchStep = 15; // drag units beyond which the column changes
constexpr short buttonColumn = 50;

bool inrange(short p) { return p >= 0 && p < modulators; }
} // namespace

void CoreDsif::entryprms() {
    label(CoreAnsx(""), DataLclz::sCprm_visiblelabel, 4, 1);
    label(CoreAnsx(""), DataLclz::sCprm_invisiblelabel, 39, 1);
    gadget->reset(0, false, false, -1);
    prmdrag = false;
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
        short p = getpp(s, true);
        if (p < 0) {
            buffer->clear(0, 0, row, 34, 1);
        } else {
            pick(p, row, 4, 30);
            buffer->write(CoreButl::rpad_(CoreAnsx(p + 1) + CoreAnsx(":"), 4, ' '), 0, row, 0,
                          false, false);
            if (p == prmselect) prmcopy = p;
            drprm(4, row, s, 1, p == prmselect, true);
        }
        p = getpp(s, false);
        if (p < 0) {
            buffer->clear(0, 34, row, 13, 1);
            continue;
        }
        pick(p, row, 39, 47);
        buffer->write(CoreButl::rpad_(CoreAnsx(p + 1) + CoreAnsx(":"), 5, ' '), 34, row, 0, false,
                      false);
        if (p == prmselect) prmcopy = p;
        buffer->write(CoreButl::lpad_(getpn(p), 8, ' '), 39, row, p == prmselect ? 1 : 0, false,
                      false);
    }

    editexit();
    bool up = drbtn(buttonColumn, 1, CoreAnsx(" MVE UP "), clickcolumn, clickrow);
    if (up || (prmdrag && mousey < prmoriginy - moveStep)) {
        prmselect = prmsw(prmselect, true);
        prmoriginy = mousey;
    }
    bool down = drbtn(buttonColumn, 2, CoreAnsx(" MVE DW "), clickcolumn, clickrow);
    if (down || (prmdrag && mousey > prmoriginy + moveStep)) {
        prmselect = prmsw(prmselect, false);
        prmoriginy = mousey;
    }
    if (!inrange(prmselect)) {
        buffer->clear(0, buttonColumn, 3, 8, 2);
        return;
    }
    BEANSTRUCT selected{prmselect, 0};
    if (engine->getbb(CoreBnid::iCmodshown, &selected)) {
        bool hit = drbtn(buttonColumn, 3, CoreAnsx(" INVIS  "), clickcolumn, clickrow);
        if (hit || (prmdrag && mousex > prmoriginx + switchStep)) {
            engine->setbb(CoreBnid::iCmodshown, false, &selected);
            prmoriginx = mousex;
        }
    } else {
        bool hit = drbtn(buttonColumn, 3, CoreAnsx(" VISIB  "), clickcolumn, clickrow);
        if (hit || (prmdrag && mousex < prmoriginx - switchStep)) {
            engine->setbb(CoreBnid::iCmodshown, true, &selected);
            prmoriginx = mousex;
        }
    }
    if (drbtn(buttonColumn, 4, CoreAnsx("  EDIT  "), clickcolumn, clickrow))
        event = CoreAnsx("PARM");
}
