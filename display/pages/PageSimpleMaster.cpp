// The simple master page (page 19): the version and three master settings,
// mode, meter type and font colour, with SAVE. Choosing Guru, or entering
// while Guru is in force, leaves for the full master page, so the page set
// always follows the mode.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.
#include <vector>

#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "skin/CoreSkin.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;

int held(int row, int count) { return row >= 0 && row < count ? row : 0; }
} // namespace

void CoreDsif::entrysimplemast() {
    BEANSTRUCT none{};
    buffer->write(DataLclz::sCmastversionlabel + CoreAnsx(":"), 0, 1, 0, false, false);
    buffer->write(engine->getbs(CoreBnid::iCversion, &none) + CoreAnsx(" ") + CoreLog_::sCsubvrsn_,
                  13, 1, 0, false, false);
    label(CoreAnsx(""), DataLclz::sCmastmodelabel + CoreAnsx(":"), 0, 3);
    label(CoreAnsx(""), DataLclz::sCmastmetertypelabel + CoreAnsx(":"), 0, 4);
    label(CoreAnsx(""), DataLclz::sCmastfontcolourlabel + CoreAnsx(":"), 0, 5);
    gadget->reset(3, true, true, 1);
    std::vector<CoreAnsx> fonts;
    if (skin != nullptr) fonts = skin->getsk()->fontnames;
    struct FIELD {
        int count;
        CoreAnsx const* texts;
        int selected;
    };
    FIELD const table[3] = {
        {DataLclz::iCmastmode, DataLclz::sCmastmode,
         engine->getbb(CoreBnid::iCmode, &none) ? 1 : 0},
        {DataLclz::iCmastmetertype, DataLclz::sCmastmetertype,
         engine->getbh(CoreBnid::iCmeter, &none)},
        {int(fonts.size()), fonts.data(), engine->getbh(CoreBnid::iCfontcolour, &none)},
    };
    for (short i = 0; i < 3; ++i) {
        CoreDstx* field = gadget->gettx(i);
        if (field == nullptr) continue;
        field->defne(0, 13, short(3 + i), 16, CoreAnsx(""), false, -1);
        if (table[i].count > 0)
            field->setel(table[i].count, table[i].texts, held(table[i].selected, table[i].count));
    }
    pages.flags[1] = false;
    mastfirst = true;
}

void CoreDsif::ticksimplemast() {
    BEANSTRUCT none{};
    buffer->write(CoreButl::rpad_(CoreAnsx("  MasterMode"), dimx, ' '), 0, 0, 1, false, false);
    buffer->write(
        CoreButl::lpad_(CoreButl::sbstr(CoreAnsx(engine->getbi(CoreBnid::iChostrate, &none)), 1, 5),
                        5, ' ') +
            DataLclz::sCunithz,
        48, 0, 1, false, false);
    gadget->focus(clickcolumn, clickrow, mouseheld);
    gadget->draw_();
    CoreDstx* mode = gadget->gettx(0);
    // Guru chosen, or in force when the page was entered: the full set.
    bool first = mastfirst;
    mastfirst = false;
    if (mode != nullptr && (mode->ischg() || first) && mode->getel() == 1) {
        engine->setbb(CoreBnid::iCmode, true, &none);
        event = CoreAnsx("MAST");
    }
    if (CoreDstx* meter = gadget->gettx(1); meter != nullptr && meter->ischg())
        engine->setmt(short(meter->getel()), false);
    // A skin without fonts offers no colour to store.
    bool nofonts = skin == nullptr || skin->getsk()->fontnames.empty();
    if (CoreDstx* colour = gadget->gettx(2); colour != nullptr && colour->ischg() && !nofonts) {
        fontcolour = short(colour->getel());
        engine->setbh(CoreBnid::iCfontcolour, fontcolour, &none);
    }
    if (drbtn(50, 1, CoreAnsx("  SAVE  "), clickcolumn, clickrow)) savem();
}
