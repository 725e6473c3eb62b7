// The memory page (page 6): browses program memory by bank and program
// number, shows the browsed slot's name in the double-size font, edits the
// loaded program's name, categories and description, and moves, deletes and
// versions slots through batches. Every text goes out trimmed: an edit field
// pads it with blanks that must not reach a name, a category or a file name.
#include <algorithm>

#include "display/CoreDsed.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;

constexpr int categorylevels = 3;
constexpr short fieldName = 0, fieldDescription = 4, fieldNewName = 5; // edit fields
} // namespace

void CoreDsif::postbt(std::initializer_list<std::pair<char const*, CoreAnsx>> variables) {
    BEANSTRUCT none{};
    engine->setbv(CoreBnid::iCclearvars, &none);
    for (auto const& [name, value] : variables) btcst(CoreAnsx(name), value);
    event = CoreAnsx("BTCH");
}

void CoreDsif::entrymemo() {
    label(CoreAnsx(""), DataLclz::sCmemobanklabel, 0, 2);
    label(CoreAnsx(""), DataLclz::sCmemomemorylabel, 0, 3);
    label(CoreAnsx(""), DataLclz::sCmemonamelabel, 0, 5);
    label(CoreAnsx(""), DataLclz::sCmemocatlabel, 0, 6);
    label(CoreAnsx(""), DataLclz::sCmemodesclabel, 0, 7);
    label(CoreAnsx(""), CoreAnsx("/"), 12, 6);
    label(CoreAnsx(""), CoreAnsx("/"), 18, 6);

    gadget->reset(2, true, true, 1);
    CoreDstx* number = gadget->gettx(0);
    number->defne(0, 8, 3, 2, CoreAnsx(""), false, -1);
    number->setel(iCbankdim, programtexts, program);
    CoreDstx* banks = gadget->gettx(1);
    banks->defne(0, 8, 2, 2, CoreAnsx(""), false, -1);
    banks->setel(iCbanks, banktexts, bank);

    BEANSTRUCT none{};
    editgroup->reset(6);
    struct EDIT {
        short column, row, width;
        bool clearonarm;
    };
    EDIT const edits[6] = {{8, 5, 16, false}, {8, 6, 3, true},   {14, 6, 3, true},
                           {20, 6, 3, true},  {8, 7, 32, false}, {8, 9, 32, false}};
    for (short i = 0; i < 6; ++i)
        editgroup->gettx(i)->defne(0, 1, edits[i].column, edits[i].row, edits[i].width,
                                   edits[i].clearonarm, CoreDsed::iCkindtext);
    editgroup->gettx(fieldName)->setvs(engine->getbs(CoreBnid::iCname, &none));
    for (short k = 0; k < categorylevels; ++k) {
        BEANSTRUCT level = CoreBnid::recsl(k);
        editgroup->gettx(short(1 + k))
            ->setvs(engine->getbs(CoreBnid::iCcategory, &level).UpperCase());
    }
    editgroup->gettx(fieldDescription)->setvs(engine->getbs(CoreBnid::iCdescription, &none));
    newname = engine->getbs(CoreBnid::iCversionname, &none);
    editgroup->gettx(fieldNewName)->setvs(newname);
    editgroup->gettx(fieldNewName)->movea(!engine->getbb(CoreBnid::iCnamechanged, &none));
}

void CoreDsif::tickmemo() {
    BEANSTRUCT none{};
    int p = selectedslot();
    buffer->write(CoreButl::rpad_(CoreAnsx("  EditMode: Memory"), 48, ' '), 0, 0, 1, false, false);

    editgroup->focus(clickcolumn, clickrow, mouseheld);
    editgroup->draw_();
    CoreDsed* name = editgroup->gettx(fieldName);
    if (name->ischg()) {
        CoreAnsx text = name->getvs().Trim();
        BEANSTRUCT slot{p, 0};
        engine->setbs(CoreBnid::iCname, text, &none);
        engine->setbs(CoreBnid::iCslotname, text, &slot);
        editgroup->draw_();
        menurebuild = true;
    }
    for (short k = 0; k < categorylevels; ++k) {
        CoreDsed* category = editgroup->gettx(short(1 + k));
        if (!category->ischg()) continue;
        CoreAnsx upper = category->getvs().UpperCase();
        category->setvs(upper);
        CoreAnsx text = upper.Trim();
        BEANSTRUCT level = CoreBnid::recsl(k), slot = CoreBnid::recen(p, k);
        engine->setbs(CoreBnid::iCcategory, text, &level);
        engine->setbs(CoreBnid::iCslotcategory, text, &slot);
        menurebuild = true;
    }
    CoreDsed* description = editgroup->gettx(fieldDescription);
    if (description->ischg()) {
        CoreAnsx text = description->getvs().Trim();
        BEANSTRUCT slot{p, 0};
        engine->setbs(CoreBnid::iCdescription, text, &none);
        engine->setbs(CoreBnid::iCslotdescription, text, &slot);
        menurebuild = true;
    }

    gadget->focus(clickcolumn, clickrow, mouseheld);
    gadget->draw_();
    bank = gadget->gettx(1)->getel();
    program = gadget->gettx(0)->getel();
    int s = selectedslot();

    BEANSTRUCT browsed{s, 0};
    CoreAnsx shown = engine->getbs(CoreBnid::iCslotname, &browsed);
    if (shown == CoreAnsx("0")) shown = DataLclz::sCmemoemptylabel;
    buffer->clear(3, 14, 2, 32, 2);
    buffer->write(CoreButl::rpad_(shown, 16, ' '), 14, 1, 2, false, false);

    CoreAnsx line = CoreAnsx("  ") + CoreAnsx(s) + CoreAnsx(" ") +
                    engine->getbs(CoreBnid::iCname, &none).UpperCase() + CoreAnsx("  ");
    short row = short(dimy - 2);
    buffer->write(line, 0, row, 1, false, false);
    CoreAnsx rest = CoreAnsx("  ") + engine->getbs(CoreBnid::iCdescription, &none).SubString(1, 32);
    buffer->write(CoreButl::rpad_(rest, std::max(0, dimx - line.Length()), ' '),
                  short(line.Length()), row, 1, false, false);

    if (drbtn(50, 0, CoreAnsx("  EXIT  "), clickcolumn, clickrow)) event = CoreAnsx("PROG");

    if (drbtn(50, 2, CoreAnsx(" OVWRTE "), clickcolumn, clickrow) && p != 0 && s != 0 && s != p) {
        setsp(s, true, true);
        engine->setbi(CoreBnid::iCslot, s, &none);
        postbt({{"OLDPROGRAM", CoreAnsx(p)},
                {"NEWPROGRAM", CoreAnsx(s)},
                {"MOVED", DataLclz::sCgenmovedprint},
                {"ACTION", CoreAnsx("MEMO")},
                {"NEXTSTEP", CoreAnsx("OVERWRITEMEMORYLOC")}});
        menurebuild = true;
        p = s;
    }

    if (drbtn(50, 3, CoreAnsx(" DELETE "), clickcolumn, clickrow) && s != 0) {
        if (s != p) {
            postbt({{"PROG", CoreAnsx(s)},
                    {"DELETED", DataLclz::sCgendeletedprint},
                    {"ACTION", CoreAnsx("MEMO")},
                    {"NEXTSTEP", CoreAnsx("DELETEMEMORYLOC")}});
        } else {
            BEANSTRUCT upward{s + 1, 1};
            int n = engine->getbi(CoreBnid::iCnextslot, &upward);
            p = n;
            // No used slot to go to: the selection stays where it was.
            if (n >= 0) {
                bank = n / iCbankdim;
                program = n % iCbankdim;
            }
            postbt({{"OLDPROGRAM", CoreAnsx(s)},
                    {"DELETED", DataLclz::sCgendeletedprint},
                    {"LOADED", DataLclz::sCgenloadedprint},
                    {"LOADING", DataLclz::sCgenloadingprint},
                    {"NEWPROGRAM", CoreAnsx(n)},
                    {"ACTION", CoreAnsx("MEMO")},
                    {"NEXTSTEP", CoreAnsx("REPLACEMEMORYLOC")}});
        }
        menurebuild = true;
    }

    if (!engine->getbb(CoreBnid::iCnamechanged, &none)) return;
    label(CoreAnsx(""), DataLclz::sCmemonewnamelabel, 0, 9);
    CoreDsed* version = editgroup->gettx(fieldNewName);
    version->movea(false);
    if (version->ischg()) newname = version->getvs();
    if (!drbtn(50, 9, CoreAnsx(" SAVEAS "), clickcolumn, clickrow)) return;
    // A version needs a file name.
    CoreAnsx versionname = newname.Trim();
    if (versionname.Trim().Length() <= 0) return;
    // A version's name is one file name in the program's folder, and fits
    // the limit with the extension it is written with (either of a
    // location's two is four bytes): the bank refuses a longer one.
    if (!CoreButl::infld(versionname, true) ||
        !CoreButl::infld(CoreButl::setfx(versionname, CoreButl::sCextxml), true)) {
        CoreLog_::loger(CoreAnsx("memory page: version name refused: \"") +
                            CoreButl::escct(versionname) + CoreAnsx("\""),
                        0);
        sayer(CoreAnsx("VERSION NOT SAVED: NAME NOT USABLE"));
        return;
    }
    postbt({{"SAVING", DataLclz::sCgensavingprint},
            {"VERSIONINGNAME", versionname},
            {"ACTION", CoreAnsx("PROG")},
            {"NEXTSTEP", CoreAnsx("VERSIONING")}});
    menurebuild = true;
}
