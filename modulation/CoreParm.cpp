#include "modulation/CoreParm.h"

#include <cmath>

#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

CoreParm::CoreParm(CoreAnsx const& name, CoreAnsx const& label, CoreAnsx const& unit, double lower,
                   double upper, DataSrce* catalogue)
    : name(name), label(label), unit(unit), sourcetext(""), lastvalue(0.0), constant(0.0),
      lowerbound(lower), upperbound(upper), scalelower(lower), scaleupper(lower), scalespan(0.0),
      constantflag(false), activeflag(false), source(nullptr), catalogue(catalogue) {
    if (catalogue)
        source = catalogue->getsc(CoreAnsx(""));
    else
        CoreLog_::loger(CoreAnsx("Parameter without source bus: ") + name, 0);
}

CoreParm::~CoreParm() {
    source = nullptr;
    catalogue = nullptr;
}

void CoreParm::setsr(CoreAnsx const& text, double lower, double upper) {
    sourcetext = text;
    if (catalogue) {
        activeflag = catalogue->isact(text);
        constantflag = !catalogue->isils(text);
    } else {
        // Without a bus no key can be recognised: any text is read as a
        // number, and only the empty text reads as "OFF" would.
        activeflag = false;
        constantflag = text.Length() > 0;
    }
    if (constantflag) {
        // strtod also reads "nan", "inf" and out-of-range exponents; such a
        // constant would put a non-number on every read, so it counts as
        // text that does not parse.
        constant = CoreButl::flushSubnormal(text.ToDouble());
        if (!std::isfinite(constant)) {
            CoreLog_::loger(CoreAnsx("Parameter ") + name +
                                CoreAnsx(": source text is no finite number: ") + text,
                            0);
            constant = 0.0;
        }
        source = nullptr;
    } else {
        source = catalogue ? catalogue->getsc(text) : nullptr;
    }
    scalelower = lower;
    scaleupper = upper;
    scalespan = CoreButl::flushSubnormal(upper - lower);
}

double CoreParm::getvl() {
    lastvalue = getvw(nullptr, 0.0);
    return lastvalue;
}

double CoreParm::getvw(CoreSrce const* replaced, double value) const {
    double v = -1.0; // unbound reads as "OFF"
    if (constantflag)
        v = constant;
    else if (source)
        v = source == replaced ? value : source->getvl();
    return CoreButl::flushSubnormal((v + 1.0) * 0.5 * scalespan + scalelower);
}

CoreAnsx CoreParm::getsc() const { return sourcetext; }

CoreAnsx CoreParm::getsa() const {
    if (constantflag) {
        CoreAnsx text;
        text.sprintf("%10.10f", constant);
        return text;
    }
    return sourcetext;
}

bool CoreParm::iscst() const { return constantflag; }
bool CoreParm::actve() const { return activeflag; }
double CoreParm::getcv() const { return constant; }
double CoreParm::getbl() const { return lowerbound; }
double CoreParm::getbu() const { return upperbound; }
double CoreParm::getsl() const { return scalelower; }
double CoreParm::getsu() const { return scaleupper; }
