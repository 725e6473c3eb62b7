// Page 7, the LFO edit page: the four LFOs of the loaded program, one row
// each (minimum and maximum rate, tempo quantisation, rate source, waveform,
// phase, phase source). A changed field is written by itself (on an LFO
// without a waveform, with the waveform its row shows); the two rate
// fields follow the engine on every tick, since setting one rate moves the
// other when they would cross.
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
constexpr short lfos = 4;
constexpr short perLfo = 7; // fields of one LFO
constexpr short firstRow = 4;
} // namespace

void CoreDsif::entrylfo() {
    label(CoreAnsx(""), DataLclz::sClfo_minratelabel, 4, 3);
    label(CoreAnsx(""), DataLclz::sClfo_maxratelabel, 13, 3);
    label(CoreAnsx(""), DataLclz::sClfo_ratequantizelabel, 22, 3);
    label(CoreAnsx(""), DataLclz::sClfo_ratesourcelabel, 26, 3);
    label(CoreAnsx(""), DataLclz::sClfo_shapelabel, 35, 3);
    label(CoreAnsx(""), DataLclz::sClfo_phaselabel, 43, 3);
    label(CoreAnsx(""), DataLclz::sClfo_phasesourcelabel, 51, 3);
    editentry(lfos * perLfo);
    for (short i = 0; i < lfos; ++i) {
        BEANSTRUCT lfo{i, 0};
        short row = short(firstRow + i), f = short(perLfo * i);
        label(CoreAnsx(""), CoreAnsx(i + 1) + CoreAnsx(":"), 0, row);
        double low = engine->getbd(CoreBnid::iClforatelow, &lfo),
               high = engine->getbd(CoreBnid::iClforatehigh, &lfo);
        double minimum = engine->getbd(CoreBnid::iClfominrate, &lfo);
        double maximum = engine->getbd(CoreBnid::iClfomaxrate, &lfo);
        editnumber(f, 4, row, 4, DataLclz::sCunithz, false, low, high, minimum, minimum);
        editnumber(short(f + 1), 13, row, 4, DataLclz::sCunithz, false, low, high, maximum,
                   maximum);
        double quantise = engine->getbd(CoreBnid::iClfoquantise, &lfo);
        editchoice(short(f + 2), 22, row, 2, DataLclz::iClfo_ratequantize,
                   DataLclz::sClfo_ratequantize,
                   CoreButl::getci(CoreAnsx(quantise), DataLclz::iClfo_ratequantize,
                                   DataLclz::sClfo_ratequantize, true, false),
                   CoreAnsx(""), quantise);
        editsource(short(f + 3), 26, row, engine->getbs(CoreBnid::iClforatesource, &lfo));
        CoreAnsx waveform = engine->getbs(CoreBnid::iClfowaveform, &lfo);
        editchoice(
            short(f + 4), 35, row, 6, int(waveformkeys.size()), waveformkeys.data(),
            CoreButl::getci(waveform, int(waveformkeys.size()), waveformkeys.data(), false, false),
            waveform, 0.0);
        double phase = engine->getbd(CoreBnid::iClfophase, &lfo);
        editnumber(short(f + 5), 43, row, 3, DataLclz::sCunitdeg, false, 0.0, 360.0, phase, phase);
        editsource(short(f + 6), 51, row, engine->getbs(CoreBnid::iClfophasesource, &lfo));
    }
}

void CoreDsif::ticklfo() {
    if (edittick(CoreAnsx("LFOs"), lfos * perLfo)) {
        for (short i = 0; i < lfos; ++i) {
            BEANSTRUCT lfo{i, 0};
            short f = short(perLfo * i);
            CoreDstx* minimum = editfield(f);
            CoreDstx* maximum = editfield(short(f + 1));
            if (editchanged(f)) engine->setbd(CoreBnid::iClfosetminrate, minimum->getvl(), &lfo);
            if (editchanged(short(f + 1)))
                engine->setbd(CoreBnid::iClfosetmaxrate, maximum->getvl(), &lfo);
            if (editchanged(short(f + 2))) {
                CoreDstx* quantise = editfield(short(f + 2));
                engine->setbd(CoreBnid::iClfoquantise,
                              quantise->getel(quantise->getel()).ToDouble(), &lfo);
            }
            if (editchanged(short(f + 3)))
                engine->setbs(CoreBnid::iClfosetratesource, editkey(f + 3), &lfo);
            if (editchanged(short(f + 4))) {
                int row = editfield(short(f + 4))->getel();
                if (row >= 0 && size_t(row) < waveformkeys.size())
                    engine->setbs(CoreBnid::iClfowaveform, waveformkeys[size_t(row)], &lfo);
            }
            if (editchanged(short(f + 5)))
                engine->setbd(CoreBnid::iClfophase, editfield(short(f + 5))->getvl(), &lfo);
            if (editchanged(short(f + 6)))
                engine->setbs(CoreBnid::iClfophasesource, editkey(f + 6), &lfo);
            // An LFO without a waveform is not set up, and saving keeps its
            // element as loaded: a change on its row would be lost. It takes
            // the waveform its row shows.
            EDITLOAD& shape = editloads[size_t(f + 4)];
            bool touched = false;
            for (short k = 0; k < perLfo; ++k) touched |= editloads[size_t(f + k)].touched;
            if (touched && !shape.touched &&
                std::find(waveformkeys.begin(), waveformkeys.end(), shape.key) ==
                    waveformkeys.end()) {
                int row = editfield(short(f + 4))->getel();
                if (row >= 0 && size_t(row) < waveformkeys.size())
                    engine->setbs(CoreBnid::iClfowaveform, waveformkeys[size_t(row)], &lfo);
                shape.touched = true;
            }
            // Loads, not changes: the engine's answer is never echoed back.
            minimum->setrg(engine->getbd(CoreBnid::iClfominrate, &lfo));
            maximum->setrg(engine->getbd(CoreBnid::iClfomaxrate, &lfo));
        }
    }
    editexit();
}
