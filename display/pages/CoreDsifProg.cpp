// CoreDsif, page 0, the program page: the loaded program with its name over
// the program pop-up menu, a slot field, figures and parameter rows, and
// either the list of occupied slots (list view) or the command buttons and
// more rows (detail view). Loads, reloads and saves go through batches.
#include <algorithm>

#include "display/CoreDsed.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgm.h"
#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDsmn.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;

constexpr int lastSlot = 9999;
constexpr int scrollsteps = 5; // occupied slots one scroll-bar click moves the list

CoreAnsx blanks(int n) { return CoreButl::rpad_(CoreAnsx(""), std::max(n, 0), ' '); }

// The program name as the name and the pop-up area show it.
CoreAnsx shortname(CoreBean* engine) {
    BEANSTRUCT none{};
    return CoreButl::sbstr(engine->getbs(CoreBnid::iCname, &none), 1, 16).Trim();
}
} // namespace

void CoreDsif::entryprogram() {
    gadget->reset(0, false, false, -1);
    editgroup->reset(1);
    if (CoreDsed* field = editgroup->gettx(0)) {
        field->defne(0, 1, 0, 2, 4, true, CoreDsed::iCkindwhole);
        field->setvi(0);
    }
    CoreDsmn* menu = popups->getmn(0);
    if (menu != nullptr) {
        short namelength = short(std::max(shortname(engine).Length(), 0));
        menu->defne(0, 2, short(2 * namelength - 1), 2);
    }
    BEANSTRUCT none{};
    engine->setbv(CoreBnid::iCrebuildtree, &none);
    if (menurebuild && menu != nullptr) {
        menu->clear();
        scanm(menu, 0, nullptr);
        menurebuild = false;
    }
    short percolumn = engine->getbh(CoreBnid::iCmenucolumn, &none);
    CoreAnsx title = engine->getbs(CoreBnid::iCmenutitle, &none);
    int count = menu != nullptr ? menu->pushd(popcontent, title) : 0;
    popups->arm__(true, 0, count, percolumn);
    programmenu = true;
    dragrow = -1;
}

void CoreDsif::tickprogram() {
    if (detailview)
        tickprogramdetail();
    else
        tickprogramlist();
}

int CoreDsif::slotat(int id, int start, int step) {
    bool filtered = id != CoreBnid::iCnextslot && levelfilters[0] != CoreAnsx("0");
    // A start past the last slot begins at slot 0, so a filtered search from
    // there would wrap around where a search past the last slot ends: the
    // list page would show its programs again after the last one.
    if (filtered && step > 0 && start > lastSlot) return -1;
    BEANSTRUCT at{start, step};
    int slot = engine->getbi(id, &at);
    if (slot < 0 || slot > lastSlot) return -1;
    if (slot != 0) return slot;
    // An answer 0 is also what a search that found nothing may give: it is
    // slot 0 only when slot 0 is occupied and, under a category filter
    // (which never wraps past the last slot), when the search began there.
    if (filtered && start != 0) return -1;
    BEANSTRUCT zero{0, 0};
    return engine->getbs(CoreBnid::iCslotname, &zero) != CoreAnsx("0") ? 0 : -1;
}

CoreAnsx CoreDsif::gaintext(double linear) {
    CoreAnsx text;
    text.sprintf("%.5f", CoreButl::lindb(CoreButl::flushSubnormal(linear)));
    return CoreButl::lpad_(text, 6, ' ').Trim();
}

CoreAnsx CoreDsif::ratetext() {
    BEANSTRUCT none{};
    CoreAnsx text = CoreAnsx(engine->getbl(CoreBnid::iCfilerate, &none)) + DataLclz::sCunithz +
                    CoreAnsx(" -> ") + CoreAnsx(double(engine->getbl(CoreBnid::iCrunrate, &none))) +
                    DataLclz::sCunithz;
    return CoreButl::sbstr(text, 1, 30);
}

void CoreDsif::tickprogramtop() {
    BEANSTRUCT none{};
    CoreAnsx name = shortname(engine);
    short twice = short(2 * std::max(name.Length(), 0));
    buffer->clear(3, 0, 2, 35, 2);
    buffer->write(CoreButl::rpad_(name, 16, ' '), 0, 1, 2, false, false);
    int selected = bank * iCbankdim + program;
    if (CoreDsed* field = editgroup->gettx(0)) {
        field->setrg(twice, 2, 4, 2);
        field->setx_(twice);
        field->setvi(selected);
    }
    editgroup->focus(clickcolumn, clickrow, mouseheld);
    editgroup->draw_();
    buffer->write(blanks(33 - twice), short(twice + 4), 2, 0, false, false);
    buffer->write(blanks(35 - twice), twice, 3, 0, false, false);
    if (engine->getbb(CoreBnid::iCratediffers, &none))
        buffer->write(CoreAnsx("c"), twice, 3, 0, false, false);
}

void CoreDsif::tickprogramrows(bool detail) {
    bool chosen = clickrow >= 9 && clickrow <= 12 && (detail || clickcolumn <= 31);
    if (chosen) dragrow = short(clickrow - 9 + (detail && clickcolumn > 28 ? 4 : 0));
    short control = prtmx(dragrow);
    if (control < 0) {
        dragrow = -1;
    } else if (chosen) { // the wheel moves the control of the row last chosen
        wheelrow = dragrow;
        BEANSTRUCT none{};
        engine->setbl(CoreBnid::iCwheeltarget, control, &none);
    }
    if (control >= 0 && mouseheld) {
        BEANSTRUCT at{control, 0};
        double value = getnh(engine->getbd(CoreBnid::iCcontrol, &at), mouseword3, mouseword4);
        engine->setbd(CoreBnid::iCcontrol, value, &at);
    }
    upprm();
    if (detail) {
        for (short k = 0; k < 8; ++k)
            drprm(k < 4 ? 0 : 29, 9 + k % 4, k, 1, dragrow == k && mouseheld, false);
        return;
    }
    bool rightclick = clickcolumn > 31;
    for (short k = 0; k < 4; ++k)
        drprm(0, 9 + k, k, 0, dragrow == k && mouseheld && !rightclick, false);
}

void CoreDsif::tickprogramlist() {
    BEANSTRUCT none{};
    buffer->write(CoreButl::rpad_(CoreAnsx("  ProgMode"), 54, ' '), 0, 0, 1, false, false);
    CoreAnsx rate(double(engine->getbl(CoreBnid::iCrate, &none)) * 0.001);
    buffer->write(CoreAnsx("RTE: ") + CoreButl::sbstr(rate, 1, 5) + DataLclz::sCunitms, 12, 0, 1,
                  false, false);
    double megabytes = engine->getbd(CoreBnid::iCimpulsesize, &none) / 1048576.0;
    CoreAnsx memory(megabytes < 0.01 ? 0.0 : megabytes);
    buffer->write(CoreAnsx("MEM: ") + CoreButl::sbstr(memory, 1, 5) + DataLclz::sCunitmb, 28, 0, 1,
                  false, false);
    buffer->write(CoreButl::lpad_(CoreAnsx(engine->getbi(CoreBnid::iChostrate, &none)), 5, ' ') +
                      DataLclz::sCunithz,
                  44, 0, 1, false, false);

    tickprogramtop();
    tickprogramrows(false);

    short bar = 36;
    buffer->write(CoreAnsx(char(8)), bar, 1, 0, false, false);
    for (short r = 2; r <= 11; ++r) buffer->write(CoreAnsx(char(7)), bar, r, 0, false, false);
    buffer->write(CoreAnsx(char(9)), bar, 12, 0, false, false);
    if (clickcolumn == bar && (clickrow == 1 || clickrow == 12)) {
        int step = clickrow == 1 ? -1 : 1;
        for (int i = 0; i < scrollsteps; ++i) {
            int slot = slotat(CoreBnid::iCnextslot, programtop + step, step);
            if (slot < 0) break;
            programtop = slot;
        }
    }

    int selected = bank * iCbankdim + program;
    if (clickrow >= 1 && clickrow <= iClistrows && clickcolumn >= 38) {
        int slot = listrows[clickrow - 1];
        if (slot >= 0 && slot != selected) postprogram(slot);
    }
    if (CoreDsed* field = editgroup->gettx(0); field != nullptr && field->ischg()) {
        int slot = field->getvi();
        if (slot != selected && slot >= 0 && slot <= lastSlot) postprogram(slot);
    }

    int top = slotat(CoreBnid::iCnextslot, programtop, 1);
    if (top >= 0) programtop = top;
    for (int n = 1, slot = top; n <= iClistrows && slot >= 0; ++n) {
        listrows[n - 1] = slot;
        BEANSTRUCT at{slot, 0};
        CoreAnsx name = engine->getbs(CoreBnid::iCslotname, &at);
        CoreAnsx entry =
            slot < 1000 ? CoreAnsx(" ") + CoreButl::rpad_(CoreButl::rpad_(CoreAnsx(slot), 3, ' ') +
                                                              CoreAnsx(" ") + name,
                                                          20, ' ')
                        : CoreButl::rpad_(CoreAnsx(slot) + CoreAnsx(" ") + name, 21, ' ');
        buffer->write(entry, 37, short(n), slot == selected ? 1 : 0, false, false);
        int next = slotat(CoreBnid::iCnextslot, slot + 1, 1);
        slot = next == top ? -1 : next;
    }

    buffer->clear(0, 0, 5, 36, 1);
    buffer->write(CoreButl::sbstr(engine->getbs(CoreBnid::iCdescription, &none), 1, 32), 0, 5, 0,
                  false, false);
    buffer->clear(0, 0, 6, 36, 1);
    CoreAnsx rates = ratetext();
    buffer->write(rates, 0, 6, 0, false, false);
    if (long(engine->getbi(CoreBnid::iChostrate, &none)) !=
        engine->getbl(CoreBnid::iCrunrate, &none))
        buffer->write(CoreAnsx("<-"), short(std::max(rates.Length(), 0) + 1), 6, 0, true, false);
    buffer->write(CoreButl::rpad_(DataLclz::sCviewgainslabel + CoreAnsx(":"), 12, ' ') +
                      gaintext(engine->getbd(CoreBnid::iCgainin, &none)) + DataLclz::sCunitdb,
                  0, 8, 0, false, false);
    buffer->write(gaintext(engine->getbd(CoreBnid::iCgainout, &none)) + DataLclz::sCunitdb, 25, 8,
                  0, false, false);
    if (drbtn(55, 0, CoreAnsx(" V "), clickcolumn, clickrow)) {
        detailview = true;
        redraw = true;
    }
}

void CoreDsif::tickprogramfigures(bool simple) {
    BEANSTRUCT none{};
    buffer->write(CoreButl::rpad_(CoreAnsx("  ProgMode"), simple ? iCdimx : 54, ' '), 0, 0, 1,
                  false, false);
    buffer->write(CoreAnsx("SMP: ") +
                      CoreButl::sbstr(CoreAnsx(engine->getbl(CoreBnid::iCelements, &none)), 1, 5),
                  16, 0, 1, false, false);
    int kernels = engine->getbh(CoreBnid::iCslotsused, &none) +
                  (engine->getbh(CoreBnid::iCsmoothsetting, &none) >= 0);
    buffer->write(CoreAnsx("KRN: ") + CoreButl::sbstr(CoreAnsx(kernels), 1, 2), 31, 0, 1, false,
                  false);
    BEANSTRUCT meter{0, 0};
    CoreAnsx load(engine->getbi(CoreBnid::iCload, &meter));
    if (simple) load = CoreButl::sbstr(load, 1, 3);
    buffer->write(CoreAnsx("PRF:") + CoreButl::lpad_(load, 3, ' ') + DataLclz::sCunitpc,
                  short(simple ? 48 : 44), 0, 1, false, false);
}

void CoreDsif::tickprogramtexts() {
    BEANSTRUCT none{};
    buffer->write(CoreAnsx("DSC: ") +
                      CoreButl::sbstr(engine->getbs(CoreBnid::iCdescription, &none), 1, 32),
                  0, 5, 0, false, false);
    buffer->clear(0, 0, 6, 36, 1);
    CoreAnsx rates = CoreAnsx("FRT: ") + ratetext();
    buffer->write(rates, 0, 6, 0, false, false);
    if (long(engine->getbi(CoreBnid::iChostrate, &none)) !=
        engine->getbl(CoreBnid::iCrunrate, &none))
        buffer->write(CoreAnsx("<-"), short(std::max(rates.Length(), 0) + 1), 6, 0, true, false);
}

void CoreDsif::tickprogramgains() {
    BEANSTRUCT none{};
    buffer->write(CoreButl::rpad_(DataLclz::sCviewgaininlabel + CoreAnsx(":"), 12, ' ') +
                      gaintext(engine->getbd(CoreBnid::iCgainin, &none)) + DataLclz::sCunitdb,
                  0, 8, 0, false, false);
    buffer->write(CoreButl::rpad_(DataLclz::sCviewgainoutlabel + CoreAnsx(":"), 12, ' ') +
                      gaintext(engine->getbd(CoreBnid::iCgainout, &none)) + DataLclz::sCunitdb,
                  29, 8, 0, false, false);
}

void CoreDsif::tickprogramdetail() {
    BEANSTRUCT none{};
    tickprogramfigures(false);
    if (engine->getbb(CoreBnid::iCextrabuffers, &none))
        buffer->write(CoreAnsx("Q"), 12, 0, 1, true, false);

    tickprogramtop();
    tickprogramtexts();

    if (drbtn(50, 1, CoreAnsx(" RELOAD "), clickcolumn, clickrow)) postreload();
    bool bypass = engine->getbb(CoreBnid::iCbypass, &none);
    if (drtbt(50, 2, CoreAnsx("BYPASS"), CoreAnsx("PROCSS"), bypass, clickcolumn, clickrow))
        engine->setbb(CoreBnid::iCbypass, !bypass, &none);

    tickprogramrows(true);
    tickprogramgains();
    if (drbtn(50, 3, CoreAnsx(" EDIT   "), clickcolumn, clickrow)) event = CoreAnsx("EDIT");
    if (drbtn(40, 1, CoreAnsx(" SAVE   "), clickcolumn, clickrow)) postsave();
    bool econo = engine->getbb(CoreBnid::iCforceot2, &none);
    if (drtbt(40, 2, CoreAnsx("ECONO "), CoreAnsx("NORMAL"), econo, clickcolumn, clickrow)) {
        engine->setbb(CoreBnid::iCforceot2, !econo, &none);
        engine->setbh(CoreBnid::iCenginetime, -1, &none);
    }
    if (engine->getbb(CoreBnid::iCblockmode, &none) && !engine->getbb(CoreBnid::iCnodrop, &none)) {
        bool nodrop = engine->getbb(CoreBnid::iCinvisible, &none);
        if (drtbt(40, 3, CoreAnsx("NODROP"), CoreAnsx("NORMAL"), nodrop, clickcolumn, clickrow))
            engine->setbb(CoreBnid::iCinvisible, !nodrop, &none);
    }
    // The selected slot's own number, typed and confirmed, reloads it: the
    // field reports no change for a value equal to the one it showed.
    CoreDsed* field = editgroup->gettx(0);
    bool changed = field != nullptr && field->ischg();
    if (field != nullptr && (field->iscnf() || changed)) {
        int slot = field->getvi();
        if (slot >= 0 && slot <= lastSlot) postprogram(slot);
    }
    if (drbtn(55, 0, CoreAnsx(" L "), clickcolumn, clickrow)) {
        detailview = false;
        redraw = true;
    }
}

// Page 18, the simple program page: page 0's entry and its detail figures
// with only the bypass toggle and the typed slot for controls.
void CoreDsif::ticksimpleprogram() {
    BEANSTRUCT none{};
    tickprogramfigures(true);
    tickprogramtop();
    tickprogramtexts();
    // The selected slot typed again is no new load here.
    if (CoreDsed* field = editgroup->gettx(0); field != nullptr && field->ischg()) {
        int slot = field->getvi();
        if (slot != selectedslot() && slot >= 0 && slot <= lastSlot) postprogram(slot);
    }
    bool bypass = engine->getbb(CoreBnid::iCbypass, &none);
    if (drtbt(50, 1, CoreAnsx("BYPASS"), CoreAnsx("PROCSS"), bypass, clickcolumn, clickrow))
        engine->setbb(CoreBnid::iCbypass, !bypass, &none);
    tickprogramrows(true);
    tickprogramgains();
}

void CoreDsif::postprogram(int slot) {
    bank = slot / iCbankdim;
    program = slot % iCbankdim;
    browsetop = slot;
    loadvars(slot, CoreAnsx("PROG"));
    event = CoreAnsx("BTCH");
}

void CoreDsif::postreload() {
    loadvars(bank * iCbankdim + program, CoreAnsx("PROG"), CoreAnsx("READPROGRAM_2"));
    event = CoreAnsx("BTCH");
}

void CoreDsif::postsave() {
    BEANSTRUCT none{};
    engine->setbv(CoreBnid::iCclearvars, &none);
    btcst(CoreAnsx("SAVING"), DataLclz::sCgensavingprint);
    btcst(CoreAnsx("ACTION"), CoreAnsx("PROG"));
    btcst(CoreAnsx("NEXTSTEP"), CoreAnsx("SAVEPROGRAM"));
    event = CoreAnsx("BTCH");
}
