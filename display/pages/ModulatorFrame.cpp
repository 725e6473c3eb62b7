// The frame the modulator edit pages share (LFOs, function generators,
// envelope followers, envelopes, dynamics): fields defined from the engine on
// entry with what they were loaded from kept beside them, the title, the
// tick's click and draw of the value gadget, the EXIT button and the
// stepping buttons of the one-modulator pages.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.
#include <algorithm>

#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDstx.h"
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;
constexpr short exitColumn = 50;   // EXIT and "<<" start here
constexpr short nextColumn = 55;   // ">>"
constexpr short numberColumn = 53; // the modulator's number + 1
constexpr int titleWidth = 48;
constexpr short sourceWidth = 7;
} // namespace

void CoreDsif::editentry(short count) {
    editloads.assign(size_t(std::max<short>(count, 0)), EDITLOAD{});
    gadget->reset(count, true, true, 1);
}

CoreDstx* CoreDsif::editfield(short idx) {
    if (idx < 0 || size_t(idx) >= editloads.size()) return nullptr;
    return gadget->gettx(idx);
}

void CoreDsif::editnumber(short idx, short column, short row, short width, CoreAnsx const& unit,
                          bool whole, double minimum, double maximum, double value, double stored) {
    CoreDstx* field = editfield(idx);
    if (field == nullptr) return;
    field->defne(0, column, row, width, unit, whole, -1);
    field->setrg(minimum, maximum, value);
    editloads[size_t(idx)] = EDITLOAD{CoreAnsx(""), stored, false};
}

void CoreDsif::editchoice(short idx, short column, short row, short width, int count,
                          CoreAnsx const* texts, int selected, CoreAnsx const& key, double stored) {
    CoreDstx* field = editfield(idx);
    if (field == nullptr) return;
    field->defne(0, column, row, width, CoreAnsx(""), false, -1);
    field->setel(count, texts, selected);
    editloads[size_t(idx)] = EDITLOAD{key, stored, false};
}

int CoreDsif::sourcerow(CoreAnsx const& key) {
    return CoreButl::getci(key, int(sourcekeys.size()), sourcekeys.data(), false, false);
}

void CoreDsif::editsource(short idx, short column, short row, CoreAnsx const& key) {
    editchoice(idx, column, row, sourceWidth, int(sourcelabels.size()), sourcelabels.data(),
               sourcerow(key), key, 0.0);
}

bool CoreDsif::edittick(CoreAnsx const& word, short count) {
    buffer->write(CoreButl::rpad_(CoreAnsx("  EditMode: ") + word, titleWidth, ' '), 0, 0, 1, false,
                  false);
    // Fields that a failed entry never made cannot be drawn or written.
    if (count <= 0 || editloads.size() != size_t(count) || editfield(short(count - 1)) == nullptr)
        return false;
    gadget->focus(clickcolumn, clickrow, mouseheld);
    gadget->draw_();
    return true;
}

bool CoreDsif::editchanged(short idx) {
    CoreDstx* field = editfield(idx);
    if (field == nullptr || !field->ischg()) return false;
    editloads[size_t(idx)].touched = true;
    return true;
}

CoreAnsx CoreDsif::editkey(short idx) {
    CoreDstx* field = editfield(idx);
    if (field == nullptr) return CoreAnsx("");
    EDITLOAD const& load = editloads[size_t(idx)];
    if (!load.touched) return load.key;
    int row = field->getel();
    return row >= 0 && size_t(row) < sourcekeys.size() ? sourcekeys[size_t(row)] : CoreAnsx("");
}

double CoreDsif::editout(short idx, double now) {
    if (idx < 0 || size_t(idx) >= editloads.size()) return now;
    EDITLOAD const& load = editloads[size_t(idx)];
    return load.touched ? now : load.number;
}

double CoreDsif::showms(long samples) {
    BEANSTRUCT none{};
    int rate = engine->getbi(CoreBnid::iChostrate, &none);
    // Below 1 Hz the count itself stands for the microseconds.
    double micros = rate < 1 ? double(samples) : CoreButl::upftp(rate, samples);
    return micros * 0.001;
}

long CoreDsif::editsamples(short idx) {
    CoreDstx* field = editfield(idx);
    if (field == nullptr) return 0;
    EDITLOAD const& load = editloads[size_t(idx)];
    if (!load.touched) return long(load.number);
    return fnu2t(tomicros(field->getvl(), 1000.0));
}

void CoreDsif::editexit() {
    if (drbtn(exitColumn, 0, CoreAnsx("  EXIT  "), clickcolumn, clickrow)) event = CoreAnsx("PROG");
}

void CoreDsif::editstep(short& number, short last) {
    if (drbtn(exitColumn, 1, CoreAnsx("<<"), clickcolumn, clickrow) && number > 0) {
        --number;
        redraw = true;
    }
    if (drbtn(nextColumn, 1, CoreAnsx(">>"), clickcolumn, clickrow) && number < last) {
        ++number;
        redraw = true;
    }
    buffer->write(CoreButl::rpad_(CoreAnsx(int(number) + 1), 2, ' '), numberColumn, 1, 0, false,
                  false);
}
