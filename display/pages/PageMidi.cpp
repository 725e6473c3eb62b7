// The MIDI page (page 3): the engine's eight MIDI mix slots, each with its
// controller number (editable), channel, last value, learn button and the
// label of the parameter modulator bound to it; the host tempo, an
// indicator of incoming MIDI and SAVE for the master settings file.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.
#include <algorithm>

#include "display/CoreDsed.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;

constexpr int beanTempo = 34;  // double: host tempo, BPM
constexpr int beanMidiIn = 59; // bool: MIDI arrived since the last reading (cleared by it)
constexpr int beanChange =
    179; // short slot; record (status, controller), controller < 0 toggles learn
constexpr int beanSelect = 180;      // short: selects a slot for 181..185
constexpr int beanLearn = 181;       // bool
constexpr int beanStatus = 182;      // int: status word
constexpr int beanCtrl = 183;        // int: controller number
constexpr int beanChannel = 184;     // int
constexpr int beanLast = 185;        // int: last value
constexpr int beanModShown = 196;    // bool, element = parameter modulator
constexpr int beanModPreLabel = 197; // string: the interface control it answers, "1".."8"
constexpr int beanModLabel = 198;    // string
constexpr short modulators = 16;     // parameter modulators 0..15
constexpr short slots = 8;
constexpr short firstRow = 2;
constexpr short boundColumn = 38;
} // namespace

void CoreDsif::entrymidi() {
    gadget->reset(0, false, false, -1);
    label(CoreAnsx(""), DataLclz::sCmidictrlabel, 8, 1);
    label(CoreAnsx(""), DataLclz::sCmidichlabel, 16, 1);
    label(CoreAnsx(""), DataLclz::sCmidivaluelabel, 24, 1);
    editgroup->reset(slots);
    BEANSTRUCT none{};
    for (short i = 0; i < slots; ++i) {
        short row = short(firstRow + i);
        CoreAnsx number = CoreAnsx(i + 1);
        label(CoreAnsx(""), DataLclz::sCmidimixlabel + number + CoreAnsx(":"), 0, row);
        engine->setbh(beanSelect, i, &none);
        if (CoreDsed* field = editgroup->gettx(i)) {
            field->defne(0, 1, 8, row, 3, true, CoreDsed::iCkindwhole);
            field->setvi(engine->getbi(beanCtrl, &none));
        }
        CoreAnsx bound("(-)");
        for (short j = 0; j < modulators; ++j) {
            BEANSTRUCT modulator{j, 0};
            if (engine->getbb(beanModShown, &modulator) &&
                engine->getbs(beanModPreLabel, &modulator) == number) {
                bound = CoreButl::sbstr(engine->getbs(beanModLabel, &modulator), 1, 10);
                break;
            }
        }
        buffer->write(bound, boundColumn, row, 0, false, false);
    }
}

void CoreDsif::tickmidi() {
    BEANSTRUCT none{};
    buffer->write(CoreButl::rpad_(CoreAnsx("  MidiMode"), dimx, ' '), 0, 0, 1, false, false);
    buffer->write(CoreAnsx("BPM: ") +
                      CoreButl::sbstr(CoreAnsx(engine->getbd(beanTempo, &none)), 1, 5),
                  35, 0, 1, false, false);
    upprm();
    editgroup->focus(clickcolumn, clickrow, mouseheld);
    editgroup->draw_();
    bool midiin = engine->getbb(beanMidiIn, &none);
    buffer->write(CoreAnsx(midiin ? "IN" : "  "), 0, 1, midiin ? 1 : 0, false, false);
    for (short i = 0; i < slots; ++i) {
        short row = short(firstRow + i);
        CoreDsed* field = editgroup->gettx(i);
        if (field == nullptr) continue;
        int typed = field->getvi();
        if (field->ischg()) {
            // Sent with the slot's own status word, a number clears learn and
            // is stored; a negative one would toggle learn instead.
            engine->setbh(beanSelect, i, &none);
            BEANSTRUCT record{engine->getbi(beanStatus, &none), std::max(typed, 0)};
            engine->setbh(beanChange, i, &record);
        }
        engine->setbh(beanSelect, i, &none);
        bool learning = engine->getbb(beanLearn, &none);
        int controller = engine->getbi(beanCtrl, &none);
        int channel = engine->getbi(beanChannel, &none);
        int last = engine->getbi(beanLast, &none);
        field->setvi(controller);
        buffer->write(CoreButl::rpad_(CoreButl::intas(channel), 3, ' '), 16, row, 0, false, false);
        buffer->write(CoreButl::rpad_(CoreButl::intas(last), 3, ' '), 24, row, 0, false, false);
        if (drtb2(32, row, CoreAnsx("<"), CoreAnsx(" "), learning, clickcolumn, clickrow)) {
            BEANSTRUCT toggle{-1, -1};
            engine->setbh(beanChange, i, &toggle);
        }
        buffer->write(CoreAnsx(learning ? "->" : "   "), 4, row, 0, false, false);
    }
    if (drbtn(50, 1, CoreAnsx("  SAVE  "), clickcolumn, clickrow)) savem();
}
