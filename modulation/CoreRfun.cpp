#include "modulation/CoreRfun.h"

#include <new>

#include "modulation/CoreGfun.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataRgfn.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreLog_.h"

CoreRfun::CoreRfun(CoreAnsx const& name, DataRgfn* functions, DataSrce* sources, CoreSrce* output)
    : name(name), aname(name + CoreAnsx("_A")),
      bname(name + CoreAnsx("_B")), rawnames{CoreAnsx(""), CoreAnsx("")}, fnkey(""), active(false),
      output(output), functions(functions),
      function(nullptr), state{0.0, 0.0, nullptr, nullptr, 0, 0, 0.0, 0.0, 0.0} {
    try {
        inputa = std::make_unique<CoreParm>(aname, aname, CoreAnsx("-"), -1.0, 1.0, sources);
        inputb = std::make_unique<CoreParm>(bname, bname, CoreAnsx("-"), -1.0, 1.0, sources);
    } catch (std::bad_alloc const&) {
        throw CoreAnsx("Memory request failed for the inputs of ") + name;
    }
}

CoreRfun::~CoreRfun() {
    detach();
    function = nullptr;
    functions = nullptr;
    output = nullptr;
}

void CoreRfun::detach() {
    state.array0 = nullptr;
    state.array1 = nullptr;
    state.length0 = 0;
    state.length1 = 0;
}

void CoreRfun::setvl(CoreAnsx const& akey, CoreAnsx const& bkey, CoreAnsx const& raw0,
                     CoreAnsx const& raw1, CoreAnsx const& key, int rate, double initial) {
    inputa->setsr(akey, -1.0, 1.0);
    inputb->setsr(bkey, -1.0, 1.0);
    rawnames[0] = raw0;
    rawnames[1] = raw1;
    if (functions) {
        function = functions->getgf(key);
        fnkey = function->getky();
    } else {
        CoreLog_::loger(CoreAnsx("Raw-function modulator without catalogue: ") + name, 0);
        function = nullptr;
    }
    state.rate = static_cast<double>(rate);
    state.value = CoreGfun::unipolar(initial);
    // The arrays of an earlier program may be gone already: forget them, so
    // that only arrays attached for this configuration are ever read.
    detach();
    active = true;
}

void CoreRfun::setvl() {
    rawnames[0] = CoreAnsx("");
    rawnames[1] = CoreAnsx("");
    detach();
    active = false;
}

CoreAnsx CoreRfun::getfr(int j) const {
    if (j < 0 || j >= iCsupportedraws) {
        CoreLog_::loger(CoreAnsx("Raw reference index out of range for ") + name + CoreAnsx(": ") +
                            CoreAnsx(j),
                        0);
        return CoreAnsx("");
    }
    return rawnames[j];
}

void CoreRfun::setvl(int j, double* values, int length) {
    if (!values || length < 1) {
        values = nullptr;
        length = 0;
    }
    if (j != 0) {
        state.array1 = values;
        state.length1 = length;
    } else {
        state.array0 = values;
        state.length0 = length;
    }
}

void CoreRfun::chckv() {
    if (state.length0 == 0 || state.length1 == 0) active = false;
}

bool CoreRfun::isact() const {
    return active && state.array0 && state.array1 && state.length0 > 0 && state.length1 > 0;
}

void CoreRfun::updte(double samples) noexcept {
    CoreAudp audio;

    if (!isact() || !function || !output) return;
    state.a = CoreGfun::unipolar(inputa->getvl());
    state.b = CoreGfun::unipolar(inputb->getvl());
    state.samples = samples;
    double const v = function->xtfun(&state);
    state.value = v;
    output->setvl(CoreGfun::bipolar(v));
}

CoreAnsx CoreRfun::getfn() const { return fnkey; }

CoreRgfn::FUNEXTENSION const& CoreRfun::getex() const { return state; }
