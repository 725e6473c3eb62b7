#include "modulation/CoreRgfn.h"

#include "modulation/CoreGfun.h"

CoreRgfn::CoreRgfn(CoreAnsx const& key, CoreAnsx const& label, FUNCTION function)
    : key(key), label(label), function(function) {}

CoreRgfn::~CoreRgfn() { function = nullptr; }

CoreAnsx CoreRgfn::getky() const { return key; }

CoreAnsx CoreRgfn::getlb() const { return label; }

double CoreRgfn::xtfun(FUNEXTENSION* state) const {
    if (!function || !state) return 0.0;
    return CoreGfun::bound(function(state));
}
