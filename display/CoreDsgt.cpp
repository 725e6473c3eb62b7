#include "display/CoreDsgt.h"

#include <cmath>
#include <new>

#include "display/CoreDstx.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CoreLog_.h"

CoreDsgt::CoreDsgt(CoreDsbf* buffer, CoreBean* engine, CorePlif* plugin)
    : count(0), selected(-1), highlight(-1), alternate(false), touch(false), buffer(buffer),
      engine(engine), plugin(plugin) {}

CoreDsgt::~CoreDsgt() { clear(); }

void CoreDsgt::clear() {
    for (int i = 0; i < fields.count; ++i) delete field(i);
    fields.Clear();
}

short CoreDsgt::indexOf(double raw, short n) {
    if (n <= 0) return -1;
    double x = double(n) * ((std::isnan(raw) ? -1.0 : raw) + 1.0) / 2.0;
    if (!(x >= 0.0)) return 0;
    return x >= double(n - 1) ? short(n - 1) : short(x);
}

double CoreDsgt::controlOf(short i, short n) {
    return n <= 0 ? -1.0 : CoreDstx::toraw((double(i) + 0.5) / double(n));
}

void CoreDsgt::reset(short n, bool alt, bool touchmode, short font) {
    clear();
    count = n > 0 ? n : short(0);
    for (short i = 0; i < count; ++i) {
        CoreDstx* made = new (std::nothrow) CoreDstx(buffer, engine, plugin);
        if (made == nullptr) throw CoreAnsx("Memory request failed for a value field");
        try {
            fields.Add(made);
        } catch (...) {
            delete made;
            throw;
        }
    }
    alternate = alt;
    for (short c = 0; c < iCcontrols; ++c) {
        index = {c, 0};
        engine->setbb(CoreBnid::iCalternate, alternate, &index);
    }
    touch = touchmode;
    selected = -1;
    highlight = font;
    if (!touch) return;
    index = {0, 0};
    engine->setbd(CoreBnid::iCsetraw, CoreDstx::toraw(0.0), &index);
    if (fields.count > 0) field(0)->setar(true);
}

CoreDstx* CoreDsgt::gettx(short i) {
    if (i >= 0 && i < fields.count) return field(i);
    CoreLog_::loger(CoreAnsx("CoreDsgt no value field ") + CoreAnsx(int(i)), 1);
    return nullptr;
}

bool CoreDsgt::gettm() { return touch; }

void CoreDsgt::select(short i) {
    index = {0, 0};
    engine->setbd(CoreBnid::iCsetraw, controlOf(i, short(fields.count)), &index);
}

void CoreDsgt::focus(short column, short row, bool pressed) {
    if (!touch || (column == 0 && row == 0)) return;
    for (int i = 0; i < fields.count; ++i) {
        // A click elsewhere (a button, another field) ends the drag of the
        // field armed before it: with the release and the next press inside
        // one tick, the new press's jump would otherwise move the old field.
        if (!field(i)->ishre(column, row)) {
            field(i)->setar(false);
            continue;
        }
        select(short(i));
        if (pressed) field(i)->setar(true);
    }
}

void CoreDsgt::focus(short i) {
    if (touch && fields.count > 0) select(i);
}

void CoreDsgt::setmx(short i, short control) {
    if (CoreDstx* target = gettx(i)) target->setmx(control, false);
}

void CoreDsgt::unarm() {
    if (!touch) return;
    for (int i = 0; i < fields.count; ++i) field(i)->setar(false);
}

void CoreDsgt::draw_() {
    if (touch) {
        index = {0, 0};
        short chosen = indexOf(engine->getbd(CoreBnid::iCraw, &index), short(fields.count));
        if (chosen >= 0 && chosen != selected) {
            if (selected >= 0 && selected < fields.count) field(selected)->setmx(-1, false);
            field(chosen)->setmx(1, true);
            field(chosen)->setam(2, alternate);
            selected = chosen;
        }
    }
    for (int i = 0; i < fields.count; ++i) {
        field(i)->updte();
        field(i)->draw_(touch && i == selected ? highlight : short(-1));
    }
}
