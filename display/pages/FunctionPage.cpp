// Page 9, the function generator edit page: the eight generators of the
// loaded program, one row each: inputs A and B (a source, or a constant from
// -1 to 1, each with its level read-out) and the two-argument function. A
// change writes the generator's three settings.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.
#include <cmath>

#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;
constexpr short generators = 8;
constexpr short perGenerator = 3; // fields: A, B, function
constexpr short firstRow = 2;
constexpr int readoutWidth = 8;
} // namespace

void CoreDsif::entryfunction() {
    label(CoreAnsx(""), DataLclz::sCfun_alabel, 4, 1);
    label(CoreAnsx(""), DataLclz::sCfun_adblabel, 13, 1);
    label(CoreAnsx(""), DataLclz::sCfun_blabel, 22, 1);
    label(CoreAnsx(""), DataLclz::sCfun_bdblabel, 31, 1);
    label(CoreAnsx(""), DataLclz::sCfun_funlabel, 40, 1);
    editentry(generators * perGenerator);
    for (short i = 0; i < generators; ++i) {
        BEANSTRUCT generator{i, 0};
        short row = short(firstRow + i), f = short(perGenerator * i);
        label(CoreAnsx(""), CoreAnsx(i + 1) + CoreAnsx(":"), 0, row);
        struct INPUT {
            int isconstant, constant, source;
            short column;
        } const inputs[2] = {
            {CoreBnid::iCfngisconstanta, CoreBnid::iCfngconstanta, CoreBnid::iCfngsourcea, 4},
            {CoreBnid::iCfngisconstantb, CoreBnid::iCfngconstantb, CoreBnid::iCfngsourceb, 22}};
        for (short k = 0; k < 2; ++k) {
            INPUT const& in = inputs[k];
            short idx = short(f + k);
            CoreDstx* field = editfield(idx);
            if (field == nullptr) continue;
            field->defne(0, in.column, row, 7, CoreAnsx(""), false, -1);
            if (engine->getbb(in.isconstant, &generator)) {
                double v = engine->getbd(in.constant, &generator);
                field->setel(int(sourcelabels.size()), sourcelabels.data(), -1.0, 1.0, false, 0, v);
                editloads[size_t(idx)] = EDITLOAD{exactText(v), v, false};
            } else {
                CoreAnsx key = engine->getbs(in.source, &generator);
                field->setel(int(sourcelabels.size()), sourcelabels.data(), -1.0, 1.0, true,
                             sourcerow(key), -1.0);
                editloads[size_t(idx)] = EDITLOAD{key, 0.0, false};
            }
        }
        CoreAnsx function = engine->getbs(CoreBnid::iCfngfunction, &generator);
        editchoice(
            short(f + 2), 40, row, 15, int(functionlabels.size()), functionlabels.data(),
            CoreButl::getci(function, int(functionkeys.size()), functionkeys.data(), false, false),
            function, 0.0);
    }
}

void CoreDsif::tickfunction() {
    if (edittick(CoreAnsx("FUNs"), generators * perGenerator)) {
        for (short i = 0; i < generators; ++i) {
            BEANSTRUCT generator{i, 0};
            short row = short(firstRow + i), f = short(perGenerator * i);
            // The first field that reports ends the test; the others report
            // on a later tick.
            if (editchanged(f) || editchanged(short(f + 1)) || editchanged(short(f + 2))) {
                auto input = [&](short idx) {
                    CoreDstx* field = editfield(idx);
                    if (!editloads[size_t(idx)].touched || !field->isrng()) return editkey(idx);
                    return CoreAnsx(field->getvl());
                };
                engine->setbs(CoreBnid::iCfnginputa, input(f), &generator);
                engine->setbs(CoreBnid::iCfnginputb, input(short(f + 1)), &generator);
                CoreAnsx function = editloads[size_t(f + 2)].key;
                if (editloads[size_t(f + 2)].touched) {
                    int chosen = editfield(short(f + 2))->getel();
                    function = chosen >= 0 && size_t(chosen) < functionkeys.size()
                                   ? functionkeys[size_t(chosen)]
                                   : CoreAnsx("");
                }
                engine->setbs(CoreBnid::iCfngfunction, function, &generator);
            }
            int const isconstant[2] = {CoreBnid::iCfngisconstanta, CoreBnid::iCfngisconstantb};
            int const constant[2] = {CoreBnid::iCfngconstanta, CoreBnid::iCfngconstantb};
            short const column[2] = {13, 31};
            for (int k = 0; k < 2; ++k) {
                CoreAnsx readout(" ");
                if (engine->getbb(isconstant[k], &generator)) {
                    double x = CoreButl::flushSubnormal(
                        (engine->getbd(constant[k], &generator) + 1.0) * 0.5);
                    readout.sprintf("(%4.1f)", CoreButl::lindb(x));
                }
                buffer->write(CoreButl::rpad_(readout, readoutWidth, ' '), column[k], row, 0, false,
                              false);
            }
        }
    }
    editexit();
}
