// Page 12, the dynamics edit page: both dynamics processors side by side
// (input source, compressor or expander, threshold and ratio sources, ratio
// curve, range limit, make-up gain). A change writes that processor's seven
// settings and applies them; the other processor is left alone.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.
#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;
constexpr short processors = 2;
constexpr short perProcessor = 7;
// Field offsets within a processor, top to bottom.
enum : short { fInput, fType, fThreshold, fRatio, fCurve, fRange, fMakeup };

// The row of a stored number on a list of count texts; row 0 when it has none.
int rowOf(short stored, int count) { return stored >= 0 && stored < count ? stored : 0; }
} // namespace

void CoreDsif::entrydynamics() {
    CoreAnsx const* const labels[perProcessor] = {
        &DataLclz::sCdyn_inputsourcelabel,    &DataLclz::sCdyn_typelabel,
        &DataLclz::sCdyn_tresholdsourcelabel, &DataLclz::sCdyn_ratiosourcelabel,
        &DataLclz::sCdyn_ratiocurvelabel,     &DataLclz::sCdyn_rangelimitlabel,
        &DataLclz::sCdyn_gainpadfactorlabel};
    for (short k = 0; k < perProcessor; ++k) label(CoreAnsx(""), *labels[k], 0, short(2 + k));
    editentry(processors * perProcessor);
    for (short d = 0; d < processors; ++d) {
        BEANSTRUCT one{d, 0};
        short column = short(14 + 11 * d), f = short(perProcessor * d);
        label(CoreAnsx(""), CoreAnsx(d + 1) + CoreAnsx(":"), column, 1);
        editsource(short(f + fInput), column, 2, engine->getbs(CoreBnid::iCdyninputsource, &one));
        short type = engine->getbh(CoreBnid::iCdyntype, &one);
        editchoice(short(f + fType), column, 3, 7, DataLclz::iCdyn_type, DataLclz::sCdyn_type,
                   rowOf(type, DataLclz::iCdyn_type), CoreAnsx(""), type);
        editsource(short(f + fThreshold), column, 4,
                   engine->getbs(CoreBnid::iCdynthresholdsource, &one));
        editsource(short(f + fRatio), column, 5, engine->getbs(CoreBnid::iCdynratiosource, &one));
        short curve = engine->getbh(CoreBnid::iCdyncurve, &one);
        editchoice(short(f + fCurve), column, 6, 7, DataLclz::iCdyn_curve, DataLclz::sCdyn_curve,
                   rowOf(curve, DataLclz::iCdyn_curve), CoreAnsx(""), curve);
        double range = engine->getbd(CoreBnid::iCdynrange, &one),
               makeup = engine->getbd(CoreBnid::iCdynmakeup, &one);
        editnumber(short(f + fRange), column, 7, 4, DataLclz::sCunitdb, false, 0.0, 50.0, range,
                   range);
        editnumber(short(f + fMakeup), column, 8, 4, DataLclz::sCunitdb, false, 0.0, 50.0, makeup,
                   makeup);
    }
}

void CoreDsif::tickdynamics() {
    if (edittick(CoreAnsx("DYNs"), processors * perProcessor)) {
        for (short d = 0; d < processors; ++d) {
            short f = short(perProcessor * d);
            bool changed = false;
            for (short k = 0; k < perProcessor; ++k) changed = editchanged(short(f + k)) || changed;
            if (!changed) continue;
            BEANSTRUCT one{d, 0};
            engine->setbh(CoreBnid::iCdyntype,
                          short(editout(short(f + fType), editfield(short(f + fType))->getel())),
                          &one);
            engine->setbs(CoreBnid::iCdynthresholdsource, editkey(short(f + fThreshold)), &one);
            engine->setbs(CoreBnid::iCdyninputsource, editkey(short(f + fInput)), &one);
            engine->setbs(CoreBnid::iCdynratiosource, editkey(short(f + fRatio)), &one);
            engine->setbh(CoreBnid::iCdyncurve,
                          short(editout(short(f + fCurve), editfield(short(f + fCurve))->getel())),
                          &one);
            engine->setbd(CoreBnid::iCdynrange,
                          editout(short(f + fRange), editfield(short(f + fRange))->getvl()), &one);
            engine->setbd(CoreBnid::iCdynmakeup,
                          editout(short(f + fMakeup), editfield(short(f + fMakeup))->getvl()),
                          &one);
            engine->setbv(CoreBnid::iCdynapply, &one);
        }
    }
    editexit();
}
