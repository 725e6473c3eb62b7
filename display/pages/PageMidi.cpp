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

constexpr short modulators = 16; // parameter modulators 0..15
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
        engine->setbh(CoreBnid::iCmidiselect, i, &none);
        if (CoreDsed* field = editgroup->gettx(i)) {
            field->defne(0, 1, 8, row, 3, true, CoreDsed::iCkindwhole);
            field->setvi(engine->getbi(CoreBnid::iCmidicontroller, &none));
        }
        CoreAnsx bound("(-)");
        for (short j = 0; j < modulators; ++j) {
            BEANSTRUCT modulator{j, 0};
            if (engine->getbb(CoreBnid::iCmodshown, &modulator) &&
                engine->getbs(CoreBnid::iCmodprelabel, &modulator) == number) {
                bound = CoreButl::sbstr(engine->getbs(CoreBnid::iCmodlabel, &modulator), 1, 10);
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
                      CoreButl::sbstr(CoreAnsx(engine->getbd(CoreBnid::iCtempo, &none)), 1, 5),
                  35, 0, 1, false, false);
    upprm();
    editgroup->focus(clickcolumn, clickrow, mouseheld);
    editgroup->draw_();
    bool midiin = engine->getbb(CoreBnid::iCmidiin, &none);
    buffer->write(CoreAnsx(midiin ? "IN" : "  "), 0, 1, midiin ? 1 : 0, false, false);
    for (short i = 0; i < slots; ++i) {
        short row = short(firstRow + i);
        CoreDsed* field = editgroup->gettx(i);
        if (field == nullptr) continue;
        int typed = field->getvi();
        if (field->ischg()) {
            // Sent with the slot's own status word, a number clears learn and
            // is stored; a negative one would toggle learn instead.
            engine->setbh(CoreBnid::iCmidiselect, i, &none);
            BEANSTRUCT record{engine->getbi(CoreBnid::iCmidistatus, &none), std::max(typed, 0)};
            engine->setbh(CoreBnid::iCmidichange, i, &record);
        }
        engine->setbh(CoreBnid::iCmidiselect, i, &none);
        bool learning = engine->getbb(CoreBnid::iCmidilearn, &none);
        int controller = engine->getbi(CoreBnid::iCmidicontroller, &none);
        int channel = engine->getbi(CoreBnid::iCmidichannel, &none);
        int last = engine->getbi(CoreBnid::iCmidivalue, &none);
        field->setvi(controller);
        buffer->write(CoreButl::rpad_(CoreButl::intas(channel), 3, ' '), 16, row, 0, false, false);
        buffer->write(CoreButl::rpad_(CoreButl::intas(last), 3, ' '), 24, row, 0, false, false);
        if (drtb2(32, row, CoreAnsx("<"), CoreAnsx(" "), learning, clickcolumn, clickrow)) {
            BEANSTRUCT toggle{-1, -1};
            engine->setbh(CoreBnid::iCmidichange, i, &toggle);
        }
        buffer->write(CoreAnsx(learning ? "->" : "   "), 4, row, 0, false, false);
    }
    if (drbtn(50, 1, CoreAnsx("  SAVE  "), clickcolumn, clickrow)) savem();
}
