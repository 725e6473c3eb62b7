// The parameter modulator settings page (page 14): one parameter modulator
// of the loaded program, the one selected on the list page: its mix control
// assignment, two-argument function with arguments A and B (each a source
// or a constant), label, units, value range and bar range. A change is
// written in the tick the field reports it; the members of a group the user
// did not touch go back exactly as they were loaded. Without a selection in
// 0..15 the page offers only its way back.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.

#include "display/CoreDsed.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;
constexpr short valueFields = 4, editFields = 8, bounds = 4;
enum : short { assignment, function, argumentA, argumentB };
constexpr short modulators = 16; // parameter modulators 0..15
enum : short { labeltext, unit, preunit, postunit, firstbound };

// "No" stands for an empty pre- or post-unit.
CoreAnsx orNo(CoreAnsx const& text) { return text.Length() > 0 ? text : CoreAnsx("No"); }
} // namespace

void CoreDsif::entryparm() {
    parmvalid = prmselect >= 0 && prmselect < modulators;
    if (!parmvalid) {
        editloads.clear();
        gadget->reset(0, false, false, -1);
        editgroup->reset(0);
        return;
    }
    BEANSTRUCT m{prmselect, 0};
    struct CAPTION {
        CoreAnsx const& text;
        short column, row;
    } const captions[] = {
        {DataLclz::sCprm2labellabel, 0, 2},    {DataLclz::sCprm2unitlabel, 30, 2},
        {DataLclz::sCprm2prelabellabel, 0, 4}, {DataLclz::sCfun_funlabel, 30, 4},
        {DataLclz::sCfun_alabel, 0, 5},        {DataLclz::sCfun_blabel, 30, 5},
        {DataLclz::sCprm2preunitlabel, 0, 7},  {DataLclz::sCprm2postunitlabel, 30, 7},
        {DataLclz::sCprm2minlabel, 0, 8},      {DataLclz::sCprm2maxlabel, 30, 8},
        {DataLclz::sCprm2barminlabel, 0, 9},   {DataLclz::sCprm2barmaxlabel, 30, 9},
    };
    for (CAPTION const& c : captions) label(CoreAnsx(""), c.text, c.column, c.row);

    editentry(valueFields);
    CoreAnsx prelabel = engine->getbs(CoreBnid::iCmodprelabel, &m);
    int row = prelabel.Trim().ToInt();
    if (row < 0 || row >= DataLclz::iCprm2prelabel) row = 0;
    editchoice(assignment, 10, 4, 7, DataLclz::iCprm2prelabel, DataLclz::sCprm2prelabel, row,
               prelabel, 0.0);
    CoreAnsx key = engine->getbs(CoreBnid::iCmodfunction, &m);
    editchoice(function, 40, 4, 15, int(functionlabels.size()), functionlabels.data(),
               CoreButl::getci(key, int(functionkeys.size()), functionkeys.data(), false, false),
               key, 0.0);
    struct ARGUMENT {
        short idx, column;
        int isconstant, constant, source;
    } const arguments[2] = {{argumentA, 10, CoreBnid::iCmodisconstanta, CoreBnid::iCmodconstanta,
                             CoreBnid::iCmodargumenta},
                            {argumentB, 40, CoreBnid::iCmodisconstantb, CoreBnid::iCmodconstantb,
                             CoreBnid::iCmodargumentb}};
    for (ARGUMENT const& a : arguments) {
        CoreDstx* field = editfield(a.idx);
        if (field == nullptr) continue;
        field->defne(0, a.column, 5, 7, CoreAnsx(""), false, -1);
        int count = int(sourcelabels.size());
        if (engine->getbb(a.isconstant, &m)) {
            double v = engine->getbd(a.constant, &m);
            field->setel(count, sourcelabels.data(), -1.0, 1.0, false, sourcerow(CoreAnsx("")), v);
            editloads[size_t(a.idx)] = EDITLOAD{exactText(v), v, false};
        } else {
            CoreAnsx source = engine->getbs(a.source, &m);
            field->setel(count, sourcelabels.data(), -1.0, 1.0, true, sourcerow(source), -1.0);
            editloads[size_t(a.idx)] = EDITLOAD{source, 0.0, false};
        }
    }

    editgroup->reset(editFields);
    struct EDIT {
        short column, row, width;
        bool clearonarm;
        short kind;
    } const edits[editFields] = {
        {10, 2, 8, false, CoreDsed::iCkindtext},     {40, 2, 3, false, CoreDsed::iCkindtext},
        {10, 7, 3, true, CoreDsed::iCkindtext},      {40, 7, 3, true, CoreDsed::iCkindtext},
        {10, 8, 15, false, CoreDsed::iCkinddecimal}, {40, 8, 15, false, CoreDsed::iCkinddecimal},
        {10, 9, 15, false, CoreDsed::iCkinddecimal}, {40, 9, 15, false, CoreDsed::iCkinddecimal},
    };
    int const texts[firstbound] = {CoreBnid::iCmodlabel, CoreBnid::iCmodunit,
                                   CoreBnid::iCmodpreunit, CoreBnid::iCmodpostunit};
    for (short i = 0; i < editFields; ++i) {
        CoreDsed* field = editgroup->gettx(i);
        if (field == nullptr) continue;
        EDIT const& e = edits[i];
        field->defne(0, 1, e.column, e.row, e.width, e.clearonarm, e.kind);
        if (i < firstbound) {
            CoreAnsx text = engine->getbs(texts[i], &m);
            field->setvs(i == preunit || i == postunit ? orNo(text) : text);
        } else {
            short k = short(i - firstbound);
            parmbounds[k] = engine->getbd(CoreBnid::iCmodminimum + k, &m);
            parmtouched[k] = false;
            field->setvd(parmbounds[k]);
        }
    }
}

CoreAnsx CoreDsif::parmargument(short idx) {
    CoreDstx* field = editfield(idx);
    if (field == nullptr) return CoreAnsx("");
    if (editloads[size_t(idx)].touched && field->isrng()) return CoreAnsx(field->getvl());
    return editkey(idx);
}

void CoreDsif::tickparm() {
    CoreAnsx word = CoreAnsx("PARM ") + CoreAnsx(prmcopy + 1);
    if (parmvalid && edittick(word, valueFields)) {
        BEANSTRUCT m{prmselect, 0};
        if (editchanged(assignment)) {
            int r = editfield(assignment)->getel();
            engine->setbs(CoreBnid::iCmodprelabel, r == 0 ? CoreAnsx("") : CoreAnsx(r), &m);
        }
        // The first field that reports ends the test; the others report on
        // a later tick.
        if (editchanged(function) || editchanged(argumentA) || editchanged(argumentB)) {
            CoreAnsx key = editloads[size_t(function)].key;
            if (editloads[size_t(function)].touched) {
                int r = editfield(function)->getel();
                key = r >= 0 && size_t(r) < functionkeys.size() ? functionkeys[size_t(r)]
                                                                : CoreAnsx("");
            }
            engine->setbs(CoreBnid::iCmodargumenta, parmargument(argumentA), &m);
            engine->setbs(CoreBnid::iCmodargumentb, parmargument(argumentB), &m);
            engine->setbs(CoreBnid::iCmodfunction, key, &m);
        }
        editgroup->focus(clickcolumn, clickrow, mouseheld);
        editgroup->draw_();
        int const texts[firstbound] = {CoreBnid::iCmodlabel, CoreBnid::iCmodunit,
                                       CoreBnid::iCmodpreunit, CoreBnid::iCmodpostunit};
        for (short i = 0; i < firstbound; ++i) {
            CoreDsed* field = editgroup->gettx(i);
            if (field == nullptr || !field->ischg()) continue;
            CoreAnsx text = field->getvs().Trim();
            engine->setbs(texts[i], text, &m);
            if ((i == preunit || i == postunit) && text.Length() <= 0) field->setvs(orNo(text));
        }
        bool changed = false;
        for (short k = 0; k < bounds && !changed; ++k) {
            CoreDsed* field = editgroup->gettx(short(firstbound + k));
            changed = field != nullptr && field->ischg();
            if (changed) parmtouched[k] = true;
        }
        if (changed) {
            for (short k = 0; k < bounds; ++k) {
                CoreDsed* field = editgroup->gettx(short(firstbound + k));
                double v = parmtouched[k] && field != nullptr ? field->getvd() : parmbounds[k];
                engine->setbd(CoreBnid::iCmodminimum + k, v, &m);
            }
        }
    } else if (!parmvalid) {
        buffer->write(CoreButl::rpad_(CoreAnsx("  EditMode: ") + word, 48, ' '), 0, 0, 1, false,
                      false);
    }
    if (drbtn(50, 0, CoreAnsx("  PRMs  "), clickcolumn, clickrow)) event = CoreAnsx("PRMS");
}
