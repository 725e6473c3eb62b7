#include "modulation/CoreGfun.h"

#include <cmath>

#include "runtime/CoreButl.h"

CoreGfun::CoreGfun(CoreAnsx const& key, CoreAnsx const& label, FUNCTION function)
    : key(key), label(label), function(function) {}

CoreGfun::~CoreGfun() { function = nullptr; }

CoreAnsx CoreGfun::getky() const { return key; }

CoreAnsx CoreGfun::getlb() const { return label; }

double CoreGfun::xtfun(double a, double b, FUNEXTENSION* state) const {
    b = fold(b);
    a = fold(a);
    return bound(function ? function(a, b, state) : 0.0);
}

double CoreGfun::bound(double r) {
    // 0/0 at the edge of a few shapes' input range: the middle of the range
    // is the one answer that does not pretend to be an extreme.
    if (std::isnan(r)) return 0.0;
    if (r < -1.0) r = -1.0;
    if (r > 1.0) r = 1.0;
    return CoreButl::flushSubnormal(r);
}

double CoreGfun::fold(double x) {
    if (x >= -1.0 && x <= 1.0) return x;
    double const u = unipolar(x);
    return bipolar(u - std::floor(u));
}

double CoreGfun::unipolar(double x) { return CoreButl::flushSubnormal((x + 1.0) * 0.5); }

double CoreGfun::bipolar(double u) {
    if (CoreButl::flushSubnormal(u) == 0.0) return -1.0;
    return CoreButl::flushSubnormal(2.0 * u - 1.0);
}

double CoreGfun::dbunit(double d) {
    return CoreButl::flushSubnormal((d - CoreButl::dCdbmin) * CoreButl::dCdbfact);
}

double CoreGfun::triangle(double x) {
    if (x > 0.5) return 2.0 * (1.0 - x);
    if (x < -0.5) return -2.0 * (x + 1.0);
    return 2.0 * x;
}
