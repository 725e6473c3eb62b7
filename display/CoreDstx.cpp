#include "display/CoreDstx.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "display/CoreDsbf.h"
#include "display/CorePlif.h"
#include "modulation/CoreIfce.h"
#include "runtime/CoreButl.h"

namespace {
// A fraction that NaN or infinity must not become: NaN is 0, infinities the
// nearer end.
double finiteFraction(double fraction) {
    if (std::isnan(fraction)) return 0.0;
    if (std::isinf(fraction)) return fraction > 0.0 ? 1.0 : 0.0;
    return fraction;
}
} // namespace

CoreDstx::CoreDstx(CoreDsbf* buffer, CoreBean* engine, CorePlif* plugin)
    : unit(""), anchorx(0), anchory(0), column(0), row(0), width(0), font(0), decimals(-1),
      control(-1), secondcontrol(-1), minimum(0.0), maximum(0.0), value(0.0), position(0.0),
      secondposition(0.0), reported(0.0), armed(false), ranged(false), dual(false), bound(false),
      secondmoved(false), whole(false), pending(false), rawknown(false), secondknown(false),
      lastraw(0.0), secondraw(0.0), dragpart(0), elements(nullptr), buffer(buffer), engine(engine),
      plugin(plugin) {}

CoreDstx::~CoreDstx() {
    if (elements == nullptr) return;
    for (int i = 0; i < elements->count; ++i)
        delete static_cast<CoreAnsx*>((*elements)[unsigned(i)]);
    delete elements;
}

double CoreDstx::toraw(double p) {
    p = finiteFraction(p);
    p = p < 0.0 ? 0.0 : (p > 1.0 ? 1.0 : p);
    return CoreButl::flushSubnormal(2.0 * p - 1.0);
}

double CoreDstx::toposition(double raw) {
    if (std::isnan(raw)) raw = -1.0;
    raw = raw < -1.0 ? -1.0 : (raw > 1.0 ? 1.0 : raw);
    return CoreButl::flushSubnormal((CoreButl::flushSubnormal(raw) + 1.0) / 2.0);
}

void CoreDstx::defne(short font, short column, short row, short width, CoreAnsx const& unit,
                     bool whole, short decimals) {
    this->font = font;
    this->column = column;
    this->row = row;
    this->width = width;
    this->unit = unit;
    this->whole = whole;
    this->decimals = decimals;
    ranged = false;
    dual = false;
    position = secondposition = reported = 0.0;
    pending = false;
}

void CoreDstx::taken() {
    reported = value;
    pending = false;
}

double CoreDstx::rangeposition(double v) const {
    double span = maximum - minimum;
    if (span == 0.0 || std::isnan(span)) return 0.0;
    return finiteFraction((v - minimum) / span);
}

void CoreDstx::writeposition() {
    if (!bound) return;
    lastraw = toraw(position);
    rawknown = true;
    CoreBean::BEANSTRUCT index{control, 0};
    engine->setbd(CoreBnid::iCsetraw, lastraw, &index);
}

void CoreDstx::writesecond() {
    if (secondcontrol < 0) return;
    secondraw = toraw(secondposition);
    secondknown = true;
    CoreBean::BEANSTRUCT index{secondcontrol, 0};
    engine->setbd(CoreBnid::iCsetraw, secondraw, &index);
}

void CoreDstx::setrg(double minimum, double maximum, double v) {
    ranged = true;
    this->minimum = minimum;
    this->maximum = maximum;
    value = v;
    double p = rangeposition(v);
    if (dual) {
        secondposition = p;
    } else {
        position = p;
        writeposition();
    }
    taken();
}

void CoreDstx::setrg(double v) { setrg(minimum, maximum, v); }

void CoreDstx::append(CoreAnsx const& text) {
    bool first = elements == nullptr;
    if (first) {
        elements = new (std::nothrow) CoreTlst();
        if (elements == nullptr) throw CoreAnsx("Memory request failed for a field's choices");
    }
    CoreAnsx* copy = new (std::nothrow) CoreAnsx(text);
    if (copy == nullptr) throw CoreAnsx("Memory request failed for a field's choice");
    try {
        elements->Add(copy);
    } catch (...) {
        delete copy;
        throw;
    }
}

void CoreDstx::addel(CoreAnsx const& text, double) {
    bool first = elements == nullptr;
    append(text);
    if (first) {
        value = position = 0.0;
        writeposition();
    }
    taken();
}

void CoreDstx::fromindex(int index) {
    int n = elementcount();
    value = position = ranged || n == 0 ? 0.0 : (double(index) + 0.5) / double(n);
    writeposition();
}

void CoreDstx::setel(int count, CoreAnsx const* texts, int index) {
    ranged = false;
    for (int i = 0; texts != nullptr && i < count; ++i) append(texts[i]);
    fromindex(index);
    taken();
}

void CoreDstx::setel(int index) {
    fromindex(index);
    taken();
}

void CoreDstx::setel(int count, CoreAnsx const* texts, double minimum, double maximum,
                     bool listactive, int index, double v) {
    dual = true;
    auto range = [&] {
        ranged = true;
        this->minimum = minimum;
        this->maximum = maximum;
        value = v;
    };
    if (listactive) range();
    for (int i = 0; texts != nullptr && i < count; ++i) append(texts[i]);
    ranged = false;
    fromindex(index);
    if (!listactive) range();
    secondposition = rangeposition(v);
    secondmoved = !listactive;
    taken();
}

int CoreDstx::getel() {
    int n = elementcount();
    if (ranged || n == 0) return 0;
    double x = double(n) * value;
    if (!(x >= 0.0)) return 0; // also NaN
    return x >= double(n - 1) ? n - 1 : int(x);
}

CoreAnsx CoreDstx::getel(int index) {
    if (index < 0 || index >= elementcount()) return CoreAnsx("");
    return *static_cast<CoreAnsx*>((*elements)[unsigned(index)]);
}

void CoreDstx::setmx(short c, bool post) {
    control = c;
    bound = c >= 0;
    rawknown = false;
    if (!bound) return;
    // Without post the control's raw value stays unknown, so the next updte
    // takes the control's value into the field.
    if (post) writeposition();
}

void CoreDstx::setam(short c, bool alternate) {
    secondcontrol = c;
    CoreBean::BEANSTRUCT second{c, 0};
    if (!dual) {
        engine->setbb(CoreBnid::iCalternate, alternate, &second);
        return;
    }
    secondraw = toraw(secondposition);
    secondknown = true;
    engine->setbd(CoreBnid::iCsetraw, secondraw, &second);
    if (!ranged || control < 0) return;
    CoreBean::BEANSTRUCT first{control, 0};
    double raw = toraw(toposition(engine->getbd(CoreBnid::iCraw, &first)));
    if (rawknown && raw == lastraw) return;
    lastraw = raw;
    rawknown = true;
    position = toposition(raw);
}

bool CoreDstx::mouse(int& x, int& y) {
    std::int32_t record[3] = {0, 0, 0};
    if (plugin == nullptr || plugin->gtprp(CorePlif::iCpropmouse, 0, 0, record) == 0) return false;
    x = record[0];
    y = record[1];
    return true;
}

void CoreDstx::setar(bool arm) {
    if (arm) mouse(anchorx, anchory);
    armed = arm;
    dragpart = 0;
}

bool CoreDstx::ishre(short c, short r) { return r == row && c >= column && c <= column + width; }

void CoreDstx::updte() {
    if (!bound) return;
    bool secondchanged = false;
    if (dual && secondcontrol >= 0) {
        CoreBean::BEANSTRUCT second{secondcontrol, 0};
        double raw = toraw(toposition(engine->getbd(CoreBnid::iCraw, &second)));
        if (!secondknown || raw != secondraw) {
            secondraw = raw;
            secondknown = true;
            double p = toposition(raw);
            if (p != secondposition) {
                secondposition = p;
                secondmoved = true;
                secondchanged = true;
            }
        }
    }
    bool moved = false;
    if (armed) {
        int x = anchorx, y = anchory;
        // A click without movement leaves the value as it is, also one that
        // lies outside the range.
        if (mouse(x, y) && (x != anchorx || y != anchory)) {
            // On a dual field the drag stands in for the two controls: its
            // first step picks the part it moves until the button is let go,
            // up and down the list, sideways the number; the part moved last
            // is the active one.
            if (dual && dragpart == 0)
                dragpart = std::abs(x - anchorx) > std::abs(y - anchory) ? 2 : 1;
            bool const second = dual && dragpart == 2;
            double& part = second ? secondposition : position;
            double p = CoreIfce::getnh(finiteFraction(part), anchorx, anchory, x, y);
            if (p != part) {
                part = p;
                if (second) {
                    secondmoved = secondchanged = true;
                    writesecond();
                } else {
                    moved = true;
                    writeposition();
                }
            }
        }
    } else {
        CoreBean::BEANSTRUCT index{control, 0};
        double raw = toraw(toposition(engine->getbd(CoreBnid::iCraw, &index)));
        if (!rawknown || raw != lastraw) {
            lastraw = raw;
            rawknown = true;
            double p = toposition(raw);
            if (p != position) {
                position = p;
                moved = true;
            }
        }
    }
    if (moved) secondmoved = false;
    if (!moved && !secondchanged) return;
    pending = true;
    reported = value + 1.0;
    double span = maximum - minimum;
    if (dual) ranged = secondmoved;
    double p = dual && ranged ? secondposition : position;
    value = ranged ? minimum + span * p : p;
    if (std::isnan(value)) value = minimum;
}

CoreAnsx CoreDstx::text() {
    CoreAnsx text(" ");
    if (ranged) {
        bool automatic = decimals < 0;
        if (std::isnan(value)) {
            value = 0.0;
            text = CoreAnsx::_FloatToStrF(0.0, 0, 0, automatic ? 0 : decimals);
        } else if (value == 0.0) {
            text = CoreAnsx("0 ");
        } else if (automatic) {
            text = whole ? CoreAnsx::_FloatToStrF(std::ceil(value), 0, 0, 0)
                         : CoreAnsx::_FloatToStrF(value, 0, 0, 5);
        } else {
            text = CoreAnsx::_FloatToStrF(value, 0, 0, decimals);
        }
    } else if (elementcount() > 0) {
        text = getel(getel());
    }
    return text;
}

void CoreDstx::draw_(short chosen) {
    if (buffer == nullptr) return;
    CoreAnsx const text = this->text();
    if (text == CoreAnsx("0")) return;
    CoreAnsx shown = text.Trim().SubString(1, width > 0 ? width : 0) + unit;
    int length = (width > 0 ? width : 0) + (unit.Length() > 0 ? unit.Length() : 0);
    buffer->write(CoreButl::rpad_(shown, length, ' '), column, row, chosen < 0 ? font : chosen,
                  false, false);
}

double CoreDstx::getsh() {
    if (!ranged) return value;
    double const shown = text().Trim().SubString(1, width > 0 ? width : 0).ToDouble();
    // The digits drawn are the value's, cut: never above it.
    return std::isfinite(shown) && shown <= value ? shown : value;
}

double CoreDstx::getvl() { return value; }

void CoreDstx::setvl(double v) {
    value = v;
    taken();
}

bool CoreDstx::ischg() {
    bool changed = pending;
    taken();
    return changed;
}

void CoreDstx::setun() { taken(); }

bool CoreDstx::isrng() { return ranged || (dual && secondmoved); }
