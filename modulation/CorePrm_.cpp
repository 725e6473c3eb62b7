#include "modulation/CorePrm_.h"

#include <new>

#include "modulation/CoreGfun.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

CorePrm_::CorePrm_(CoreAnsx const& name, DataGfun* functions, DataSrce* sources, CoreSrce* output)
    : name(name), aname(name + CoreAnsx("_A")), bname(name + CoreAnsx("_B")), fnkey(""), label(""),
      prelabel(""), unit(""), preunit(""), postunit(""), minimum(0.0), maximum(0.0), barmin(0.0),
      barmax(0.0), barstart(0.0), barscale(1.0), configured(false), labelled(false), visible(false),
      reversed(false), sources(sources), output(output), functions(functions), function(nullptr) {
    try {
        inputa = std::make_unique<CoreParm>(aname, aname, CoreAnsx("-"), -1.0, 1.0, sources);
        inputb = std::make_unique<CoreParm>(bname, bname, CoreAnsx("-"), -1.0, 1.0, sources);
    } catch (std::bad_alloc const&) {
        throw CoreAnsx("Memory request failed for the inputs of ") + name;
    }
}

CorePrm_::~CorePrm_() {
    function = nullptr;
    functions = nullptr;
    output = nullptr;
    sources = nullptr;
}

void CorePrm_::bindInputs(CoreAnsx const& akey, CoreAnsx const& bkey) {
    inputa->setsr(akey, -1.0, 1.0);
    inputb->setsr(bkey, -1.0, 1.0);
}

void CorePrm_::selectFunction(CoreAnsx const& key) {
    if (!functions) {
        CoreLog_::loger(CoreAnsx("Parameter modulator without function catalogue: ") + name, 0);
        return;
    }
    function = functions->getgf(1, key);
    fnkey = function->getky();
}

void CorePrm_::setvl(bool use) {
    bindInputs(CoreAnsx(""), CoreAnsx(""));
    selectFunction(CoreAnsx(""));
    label = CoreAnsx("");
    prelabel = CoreAnsx("");
    unit = CoreAnsx("");
    preunit = CoreAnsx("");
    postunit = CoreAnsx("");
    minimum = 0.0;
    maximum = 0.0;
    barmin = 0.0;
    barmax = 0.0;
    barstart = 0.0;
    barscale = 1.0;
    configured = false;
    labelled = false;
    visible = false;
    reversed = false;
    if (use) {
        configured = true;
        labelled = true;
    }
}

void CorePrm_::setvl(bool visible, CoreAnsx const& akey, CoreAnsx const& bkey, CoreAnsx const& key,
                     CoreAnsx const& label, CoreAnsx const& prelabel, CoreAnsx const& unit,
                     CoreAnsx const& preunit, CoreAnsx const& postunit, double min, double max,
                     double barmin, double barmax) {
    this->visible = visible;
    bindInputs(akey, bkey);
    selectFunction(key);
    this->label = label;
    this->prelabel = prelabel;
    this->unit = unit;
    this->preunit = preunit;
    this->postunit = postunit;
    labelled = label.Length() > 0;
    minimum = min;
    maximum = max;
    this->barmin = barmin;
    this->barmax = barmax;
    setba();
    configured = true;
}

void CorePrm_::setds(bool show) {
    if (show && !configured) setvl(true);
    if (!configured) return;
    if (show && (label.Length() <= 0 || label == CoreAnsx("0"))) label = CoreButl::sCnull;
    labelled = show;
    visible = show;
}

void CorePrm_::setsa(CoreAnsx const& akey) { inputa->setsr(akey, -1.0, 1.0); }

void CorePrm_::setsb(CoreAnsx const& bkey) { inputb->setsr(bkey, -1.0, 1.0); }

void CorePrm_::setfn(CoreAnsx const& key) { selectFunction(key); }

void CorePrm_::setfn(CoreAnsx const& akey, CoreAnsx const& bkey, CoreAnsx const& key) {
    bindInputs(akey, bkey);
    selectFunction(key);
}

void CorePrm_::setmn(double min) { minimum = min; }

void CorePrm_::setmx(double max) { maximum = max; }

void CorePrm_::setbn(double v) {
    barmin = v;
    setba();
}

void CorePrm_::setbx(double v) {
    barmax = v;
    setba();
}

void CorePrm_::setbn(double min, double max, double bmin, double bmax) {
    minimum = min;
    maximum = max;
    barmin = bmin;
    barmax = bmax;
    setba();
}

void CorePrm_::setba() {
    barstart = barmin;
    reversed = false;
    if (barmin > barmax) {
        barstart = barmax;
        reversed = true;
    }
    // A subnormal span counts as none: its reciprocal would be infinite.
    double const span = CoreButl::flushSubnormal(barmax - barmin);
    barscale = span == 0.0 ? 1.0 : 1.0 / span;
}

void CorePrm_::setlb(CoreAnsx const& text) { label = text; }
void CorePrm_::setpl(CoreAnsx const& text) { prelabel = text; }
void CorePrm_::setun(CoreAnsx const& text) { unit = text; }
void CorePrm_::setpu(CoreAnsx const& text) { preunit = text; }
void CorePrm_::setou(CoreAnsx const& text) { postunit = text; }

bool CorePrm_::isdis() const { return configured && labelled && visible; }

double CorePrm_::getvl() const {
    if (!configured || !labelled || !output) return 0.0;
    return shown(output->getvl());
}

double CorePrm_::getvw(CoreSrce const* replaced, double value) const {
    if (!configured || !labelled || !output) return 0.0;
    if (!function) return shown(output->getvl()); // updte writes nothing then
    double const a = inputa->getvw(replaced, value);
    double const b = inputb->getvw(replaced, value);
    // As the output stores it.
    return shown(CoreButl::flushSubnormal(function->xtfun(a, b, nullptr)));
}

double CorePrm_::shown(double source) const {
    return minimum + (maximum - minimum) * CoreGfun::unipolar(source);
}

double CorePrm_::getbf() const {
    double const base = reversed ? 1.0 : 0.0;
    double const v = getvl();
    if (!(v >= barstart)) return base;
    double const f = (v - barmin) * barscale;
    return f > 1.0 ? 1.0 : f;
}

double CorePrm_::getbd(int index) const {
    switch (index) {
    case 0: return minimum;
    case 1: return maximum;
    case 2: return barmin;
    case 3: return barmax;
    default: return 0.0;
    }
}

void CorePrm_::getbn(double& min, double& max, double& bmin, double& bmax) const {
    min = minimum;
    max = maximum;
    bmin = barmin;
    bmax = barmax;
}

double CorePrm_::getmn() const { return minimum; }
double CorePrm_::getmx() const { return maximum; }
double CorePrm_::getbn() const { return barmin; }
double CorePrm_::getbx() const { return barmax; }
CoreParm* CorePrm_::getfa() const { return inputa.get(); }
CoreParm* CorePrm_::getfb() const { return inputb.get(); }
CoreAnsx CorePrm_::getfn() const { return fnkey; }
CoreAnsx CorePrm_::getlb() const { return label; }
CoreAnsx CorePrm_::getpl() const { return prelabel; }
CoreAnsx CorePrm_::getun() const { return unit; }
CoreAnsx CorePrm_::getpu() const { return preunit; }
CoreAnsx CorePrm_::getou() const { return postunit; }

void CorePrm_::updte() noexcept {
    CoreAudp audio;

    if (!configured || !function || !output) return;
    double const a = inputa->getvl();
    double const b = inputb->getvl();
    output->setvl(function->xtfun(a, b, nullptr));
}
