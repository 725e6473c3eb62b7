// Page 11, the envelope edit page: one of the two envelopes at a time
// (stepped with "<<" and ">>"): activation and deactivation sources, a table
// of four levels (the start level may be "JOIN"), times and curves, and the
// level and time amounts with their sources. A change writes the whole
// envelope and applies it.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.
#include <algorithm>

#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;
constexpr short envelopes = 2;
constexpr short entries = 4;
constexpr short fields = 18;
constexpr double join = -1.0; // the start level that joins the previous run
// Field numbers.
enum : short {
    fActiv = 0,
    fDeactiv = 1,
    fLevel = 2, // 2..5: levels of entries 0..3, the first a dual field with "JOIN"
    fLevelAmount = 6,
    fLevelAmountSource = 7,
    fTime = 8, // 8..11: times of entries 0..3
    fTimeAmount = 12,
    fTimeAmountSource = 13,
    fCurve = 14 // 14..17: curves of entries 0..3
};
} // namespace

void CoreDsif::entryenvelope() {
    envelope = std::clamp<short>(envelope, 0, envelopes - 1);
    struct LABEL {
        CoreAnsx const& text;
        short column, row;
    } const labels[] = {
        {DataLclz::sCenv_activsourcelabel, 0, 1},    {DataLclz::sCenv_deactivsourcelabel, 20, 1},
        {DataLclz::sCenv_levellabel, 10, 3},         {DataLclz::sCenv_timelabel, 30, 3},
        {DataLclz::sCenv_curvelabel, 40, 3},         {DataLclz::sCenv_levelstartlabel, 0, 4},
        {DataLclz::sCenv_levelattacklabel, 0, 5},    {DataLclz::sCenv_levelbreaklabel, 0, 6},
        {DataLclz::sCenv_levelsustainlabel, 0, 7},   {DataLclz::sCenv_levelmodfactorlabel, 0, 8},
        {DataLclz::sCenv_levelmodsourcelabel, 0, 9}, {DataLclz::sCenv_attacklabel, 20, 4},
        {DataLclz::sCenv_decaylabel, 20, 5},         {DataLclz::sCenv_slopelabel, 20, 6},
        {DataLclz::sCenv_releaselabel, 20, 7},       {DataLclz::sCenv_modfactorlabel, 20, 8},
        {DataLclz::sCenv_modsourcelabel, 20, 9},
    };
    for (LABEL const& caption : labels)
        label(CoreAnsx(""), caption.text, caption.column, caption.row);
    editentry(fields);
    BEANSTRUCT one{envelope, 0};
    editsource(fActiv, 10, 1, engine->getbs(CoreBnid::iCenvactivsource, &one));
    editsource(fDeactiv, 30, 1, engine->getbs(CoreBnid::iCenvdeactivsource, &one));
    for (short j = 0; j < entries; ++j) {
        BEANSTRUCT entry{envelope, j};
        short row = short(4 + j);
        double level = engine->getbd(CoreBnid::iCenvlevel, &entry);
        if (j == 0) {
            if (CoreDstx* start = editfield(fLevel)) {
                start->defne(0, 10, row, 5, CoreAnsx(""), false, -1);
                bool joined = level < 0.0;
                start->setel(DataLclz::iCenv_attacksmooth, DataLclz::sCenv_attacksmooth, 0.0, 1.0,
                             joined, 0, joined ? 0.0 : level);
                editloads[fLevel] = EDITLOAD{CoreAnsx(""), level, false};
            }
        } else {
            editnumber(short(fLevel + j), 10, row, 5, CoreAnsx(""), false, 0.0, 1.0, level, level);
        }
        long samples = engine->getbl(CoreBnid::iCenvtime, &entry);
        editnumber(short(fTime + j), 30, row, 7, DataLclz::sCunitms, true, 1.0, 600.0,
                   showms(samples), double(samples));
        short curve = engine->getbh(CoreBnid::iCenvcurve, &entry);
        editchoice(short(fCurve + j), 40, row, 7, DataLclz::iCenv_curve, DataLclz::sCenv_curve,
                   curve >= 0 && curve < DataLclz::iCenv_curve ? curve : 0, CoreAnsx(""), curve);
    }
    double amount = engine->getbd(CoreBnid::iCenvlevelamount, &one);
    editnumber(fLevelAmount, 10, 8, 5, CoreAnsx(""), false, 0.0, 1.0, amount, amount);
    editsource(fLevelAmountSource, 10, 9, engine->getbs(CoreBnid::iCenvlevelsource, &one));
    amount = engine->getbd(CoreBnid::iCenvtimeamount, &one);
    editnumber(fTimeAmount, 30, 8, 5, CoreAnsx(""), false, 0.0, 1.0, amount, amount);
    editsource(fTimeAmountSource, 30, 9, engine->getbs(CoreBnid::iCenvtimesource, &one));
}

void CoreDsif::tickenvelope() {
    envelope = std::clamp<short>(envelope, 0, envelopes - 1);
    if (edittick(CoreAnsx("ENVs"), fields)) {
        bool changed = false;
        for (short idx = 0; idx < fields; ++idx) changed = editchanged(idx) || changed;
        if (changed) {
            for (short j = 0; j < entries; ++j) {
                BEANSTRUCT entry{envelope, j};
                CoreDstx* level = editfield(short(fLevel + j));
                double shown = j > 0 || level->isrng() ? level->getvl() : join;
                engine->setbd(CoreBnid::iCenvlevel, editout(short(fLevel + j), shown), &entry);
                engine->setbl(CoreBnid::iCenvtime, editsamples(short(fTime + j)), &entry);
                engine->setbh(
                    CoreBnid::iCenvcurve,
                    short(editout(short(fCurve + j), editfield(short(fCurve + j))->getel())),
                    &entry);
            }
            BEANSTRUCT one{envelope, 0};
            engine->setbs(CoreBnid::iCenvactivsource, editkey(fActiv), &one);
            engine->setbs(CoreBnid::iCenvdeactivsource, editkey(fDeactiv), &one);
            engine->setbd(CoreBnid::iCenvlevelamount,
                          editout(fLevelAmount, editfield(fLevelAmount)->getvl()), &one);
            engine->setbs(CoreBnid::iCenvlevelsource, editkey(fLevelAmountSource), &one);
            engine->setbd(CoreBnid::iCenvtimeamount,
                          editout(fTimeAmount, editfield(fTimeAmount)->getvl()), &one);
            engine->setbs(CoreBnid::iCenvtimesource, editkey(fTimeAmountSource), &one);
            engine->setbv(CoreBnid::iCenvapply, &one);
        }
    }
    editexit();
    editstep(envelope, envelopes - 1);
}
