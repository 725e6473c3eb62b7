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
constexpr int beanInputSource = 126;     // string
constexpr int beanThresholdSource = 127; // string
constexpr int beanRatioSource = 128;     // string
constexpr int beanType = 129;            // short: 0 compressor, 1 expander
constexpr int beanCurve = 130;           // short: ratio curve, 0 none
constexpr int beanRange = 131;           // double: range limit, dB
constexpr int beanMakeup = 132;          // double: make-up gain, dB
constexpr int beanApply = 133;           // action: applies the pending settings
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
        editsource(short(f + fInput), column, 2, engine->getbs(beanInputSource, &one));
        short type = engine->getbh(beanType, &one);
        editchoice(short(f + fType), column, 3, 7, DataLclz::iCdyn_type, DataLclz::sCdyn_type,
                   rowOf(type, DataLclz::iCdyn_type), CoreAnsx(""), type);
        editsource(short(f + fThreshold), column, 4, engine->getbs(beanThresholdSource, &one));
        editsource(short(f + fRatio), column, 5, engine->getbs(beanRatioSource, &one));
        short curve = engine->getbh(beanCurve, &one);
        editchoice(short(f + fCurve), column, 6, 7, DataLclz::iCdyn_curve, DataLclz::sCdyn_curve,
                   rowOf(curve, DataLclz::iCdyn_curve), CoreAnsx(""), curve);
        double range = engine->getbd(beanRange, &one), makeup = engine->getbd(beanMakeup, &one);
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
            engine->setbh(beanType,
                          short(editout(short(f + fType), editfield(short(f + fType))->getel())),
                          &one);
            engine->setbs(beanThresholdSource, editkey(short(f + fThreshold)), &one);
            engine->setbs(beanInputSource, editkey(short(f + fInput)), &one);
            engine->setbs(beanRatioSource, editkey(short(f + fRatio)), &one);
            engine->setbh(beanCurve,
                          short(editout(short(f + fCurve), editfield(short(f + fCurve))->getel())),
                          &one);
            engine->setbd(beanRange,
                          editout(short(f + fRange), editfield(short(f + fRange))->getvl()), &one);
            engine->setbd(beanMakeup,
                          editout(short(f + fMakeup), editfield(short(f + fMakeup))->getvl()),
                          &one);
            engine->setbv(beanApply, &one);
        }
    }
    editexit();
}
