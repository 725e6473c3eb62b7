#include "modulation/CoreSrce.h"

#include "runtime/CoreButl.h"

CoreSrce::CoreSrce(CoreAnsx const& key, CoreAnsx const& label)
    : key(key), label(label), value(0.0) {}

void CoreSrce::setvl(double v) {
    value.store(CoreButl::flushSubnormal(v), std::memory_order_relaxed);
}

double CoreSrce::getvl() const { return value.load(std::memory_order_relaxed); }

CoreAnsx CoreSrce::getky() const { return key; }

CoreAnsx CoreSrce::getlb() const {
    if (label.Length() <= 0 || label == CoreAnsx("0")) return key;
    return label;
}
