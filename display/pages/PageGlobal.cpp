// The global page (page 8): the loaded program's pads, rate, smoothing,
// feedback, lookahead, dry level, their sources and its eight mix controls.
// Gains are shown in dB and stored linear, times shown in ms and stored in
// us, the feedback shown in percent and stored as a factor. Only what the
// user changes is written: a field loaded from the engine counts as
// reported.
#include <algorithm>
#include <cmath>
#include <vector>

#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;

constexpr int mixControls = 8;
// The drag's range; the field shows the period the engine plays, which the
// DSP blocks round up past the top.
constexpr double rateMinimum = 0.046, rateMaximum = 200.0; // ms
constexpr double dryMinimum = -192.5;                      // dB

// Fields of the gadget.
enum : short {
    padIn,
    padOut,
    rate,
    ownRate,
    smoothing,
    feedback,
    feedbackSource,
    ahead,
    dry,
    drySource,
    mixState,                          // 10..17
    mixValue = mixState + mixControls, // 18..25
    aheadSource = mixValue + mixControls,
    globalFields
};

double fromdb(double db) { return CoreButl::flushSubnormal(std::pow(10.0, db / 20.0)); }
} // namespace

void CoreDsif::entryglob() {
    BEANSTRUCT none{};
    gadget->reset(globalFields, true, true, 1);
    // The source lists show labels and store keys; a source without a label
    // shows its key.
    std::vector<CoreAnsx> shown(sourcelabels);
    for (size_t i = 0; i < shown.size(); ++i)
        if (shown[i].Trim().Length() <= 0) shown[i] = sourcekeys[i];

    auto define = [&](short index, CoreAnsx const& caption, short captioncolumn, short row,
                      short column, short width, CoreAnsx const& unit) {
        if (caption.Length() > 0) label(CoreAnsx(""), caption, captioncolumn, row);
        CoreDstx* field = gadget->gettx(index);
        field->defne(0, column, row, width, unit, false, -1);
        return field;
    };
    auto ranged = [&](short index, CoreAnsx const& caption, short captioncolumn, short row,
                      short column, short width, CoreAnsx const& unit, double minimum,
                      double maximum, double value) {
        define(index, caption, captioncolumn, row, column, width, unit)
            ->setrg(minimum, maximum, value);
    };
    auto source = [&](short index, CoreAnsx const& caption, short captioncolumn, short row,
                      short column, int bean) {
        int entry = CoreButl::getci(engine->getbs(bean, &none), sourcecount, sourcekeys.data(),
                                    false, false);
        define(index, caption, captioncolumn, row, column, 8, CoreAnsx(""))
            ->setel(sourcecount, shown.data(), entry);
    };
    CoreAnsx const none_("");
    ranged(padIn, DataLclz::sCglobgainpadinlabel, 0, 1, 10, 5, DataLclz::sCunitdb, -40.0, 40.0,
           CoreButl::lindb(engine->getbd(CoreBnid::iCpadin, &none)));
    ranged(padOut, DataLclz::sCglobgainpadoutlabel, 0, 2, 10, 5, DataLclz::sCunitdb, -40.0, 40.0,
           CoreButl::lindb(engine->getbd(CoreBnid::iCpadout, &none)));
    ranged(rate, DataLclz::sCglobprogramratelabel, 0, 3, 10, 5, DataLclz::sCunitms, rateMinimum,
           rateMaximum, double(engine->getbl(CoreBnid::iCrate, &none)) * 0.001);
    define(ownRate, DataLclz::sCglobprogramratestatuslabel, 0, 4, 10, 9, none_)
        ->setel(DataLclz::iCgeneoffon, DataLclz::sCgeneoffon,
                engine->getbb(CoreBnid::iCownrate, &none) ? 1 : 0);
    int setting = int(std::lround(std::clamp(engine->getbd(CoreBnid::iCsmoothing, &none), 0.0,
                                             double(DataLclz::iCglobsmooth - 1))));
    define(smoothing, DataLclz::sCglobsmoothlabel, 0, 5, 10, 8, none_)
        ->setel(DataLclz::iCglobsmooth, DataLclz::sCglobsmooth, setting);
    ranged(feedback, DataLclz::sCglobfeedbackfactorlabel, 30, 1, 42, 6, DataLclz::sCunitpc, 0.0,
           100.0, engine->getbd(CoreBnid::iCfeedback, &none) * 100.0);
    source(feedbackSource, DataLclz::sCglobfeedbacksourcelabel, 30, 2, 42,
           CoreBnid::iCfeedbacksource);
    ranged(ahead, DataLclz::sCgloblookaheadlabel, 30, 3, 42, 5, DataLclz::sCunitms, 0.0,
           engine->getbd(CoreBnid::iCaheadlimit, &none) * 0.001,
           engine->getbd(CoreBnid::iCaheadplayed, &none) * 0.001);
    ranged(dry, DataLclz::sCglobgaindryfactorlabel, 30, 4, 42, 5, DataLclz::sCunitdb, dryMinimum,
           0.0, CoreButl::lindb(engine->getbd(CoreBnid::iCdry, &none)));
    source(drySource, DataLclz::sCglobgaindrysourcelabel, 30, 5, 42, CoreBnid::iCdrysource);
    label(CoreAnsx(""), DataLclz::sCglobstatuslabel, 0, 8);
    label(CoreAnsx(""), DataLclz::sCglobvaluelabel, 0, 9);
    for (short i = 0; i < mixControls; ++i) {
        short column = short(4 + 7 * i);
        label(CoreAnsx(""), DataLclz::sCglobmixlabel + CoreAnsx(i + 1), column, 7);
        BEANSTRUCT control{i, 0};
        define(short(mixState + i), none_, 0, 8, column, 5, none_)
            ->setel(DataLclz::iCgeneoffon, DataLclz::sCgeneoffon,
                    engine->getbb(CoreBnid::iCmainvalid, &control) ? 1 : 0);
        ranged(short(mixValue + i), none_, 0, 9, column, 5, none_, -1.0, 1.0,
               2.0 * engine->getbd(CoreBnid::iCcontrol, &control) - 1.0);
    }
    source(aheadSource, DataLclz::sCgloblookaheadsourcelabel, 0, 11, 10, CoreBnid::iCaheadsource);
}

void CoreDsif::tickglob() {
    BEANSTRUCT none{};
    buffer->write(CoreButl::rpad_(CoreAnsx("  EditMode: Global"), 48, ' '), 0, 0, 1, false, false);
    gadget->focus(clickcolumn, clickrow, mouseheld);
    gadget->draw_();
    auto field = [&](short index) { return gadget->gettx(index); };
    auto key = [&](short index) {
        int entry = field(index)->getel();
        return entry >= 0 && entry < sourcecount ? sourcekeys[size_t(entry)] : CoreAnsx("");
    };

    if (field(padIn)->ischg())
        engine->setbd(CoreBnid::iCpadin, fromdb(field(padIn)->getvl()), &none);
    if (field(padOut)->ischg())
        engine->setbd(CoreBnid::iCpadout, fromdb(field(padOut)->getvl()), &none);

    bool ratechanged = field(rate)->ischg();
    if (field(ownRate)->ischg() || ratechanged) {
        bool on = field(ownRate)->getel() != 0;
        engine->setbb(CoreBnid::iCownrate, on, &none);
        auto showplayed = [&] {
            field(rate)->setrg(double(engine->getbl(CoreBnid::iCrate, &none)) * 0.001);
        };
        if (on) {
            long const asked = tomicros(field(rate)->getvl(), 1000.0);
            engine->setbl(CoreBnid::iCrate, asked, &none);
            // The program keeps the period it plays as the page shows it: cut
            // to the digits shown, it rounds to the same blocks, and a reload
            // with other blocks plays what the user saw.
            showplayed();
            long const shown = tomicros(field(rate)->getsh(), 1000.0);
            if (shown != asked) engine->setbl(CoreBnid::iCrate, shown, &none);
        }
        showplayed();
        field(rate)->setun();
        field(ownRate)->setun();
    }

    if (field(smoothing)->ischg()) {
        BEANSTRUCT setting{field(smoothing)->getel() - 1, 0};
        // The engine could not switch live: the program is loaded again.
        if (!engine->getbb(CoreBnid::iCsmoothing, &setting))
            postbt({{"LOADED", DataLclz::sCgenloadedprint},
                    {"LOADING", DataLclz::sCgenloadingprint},
                    {"NEWPROGRAM", CoreAnsx(selectedslot())},
                    {"ACTION", CoreAnsx("GLOB")},
                    {"NEXTSTEP", CoreAnsx("READPROGRAM")}});
    }

    if (field(feedback)->ischg())
        engine->setbd(CoreBnid::iCfeedback, field(feedback)->getvl() * 0.01, &none);
    if (field(feedbackSource)->ischg())
        engine->setbs(CoreBnid::iCfeedbacksource, key(feedbackSource), &none);
    if (field(ahead)->ischg()) {
        // Shown and kept as the engine plays it: whole samples, at most its
        // cap, which the stored LOOKAHEAD (rounded up to whole us) gives
        // again on a reload.
        long const asked = tomicros(field(ahead)->getvl(), 1000.0);
        engine->setbl(CoreBnid::iClookahead, asked, &none);
        double const played = engine->getbd(CoreBnid::iCaheadplayed, &none);
        if (long(std::ceil(played)) != asked)
            engine->setbl(CoreBnid::iClookahead, long(std::ceil(played)), &none);
        field(ahead)->setvl(played * 0.001);
    }
    if (field(dry)->ischg()) engine->setbd(CoreBnid::iCdry, fromdb(field(dry)->getvl()), &none);
    if (field(drySource)->ischg()) engine->setbs(CoreBnid::iCdrysource, key(drySource), &none);

    for (short i = 0; i < mixControls; ++i) {
        bool statechanged = field(short(mixState + i))->ischg();
        if (!field(short(mixValue + i))->ischg() && !statechanged) continue;
        BEANSTRUCT control{i, 0};
        bool valid = field(short(mixState + i))->getel() != 0;
        engine->setbd(valid ? CoreBnid::iCrawvalid : CoreBnid::iCrawnotvalid,
                      field(short(mixValue + i))->getvl(), &control);
    }

    if (field(aheadSource)->ischg())
        engine->setbs(CoreBnid::iCaheadsource, key(aheadSource), &none);

    if (drbtn(50, 0, CoreAnsx("  EXIT  "), clickcolumn, clickrow)) event = CoreAnsx("PROG");
}
