#include "runtime/CoreTime.h"

#include "runtime/CoreSmgd.h"
#include "runtime/CoreXutl.h"

CoreTime::CoreTime() : CoreTime(&CoreXutl::tgtme) {}

CoreTime::CoreTime(CLOCK clock)
    : clock(clock != nullptr ? clock : &CoreXutl::tgtme), mark(0.0), accumulated(0.0), units(0) {
    // A meter read before any start mark measures from its creation.
    mark = this->clock();
}

void CoreTime::setmp(bool start, int units) {
    double now = clock();
    CoreSmgd hold(lock, CoreSmgd::BRIEF{});
    if (start) {
        mark = now;
    } else {
        this->units += units;
        accumulated += now - mark;
    }
}

void CoreTime::setms(int units) {
    CoreSmgd hold(lock, CoreSmgd::BRIEF{});
    this->units += units;
}

double CoreTime::getmp() {
    CoreSmgd hold(lock, CoreSmgd::BRIEF{});
    double perUnit = units < 1 ? 0.0 : accumulated / units;
    accumulated = 0.0;
    units = 0;
    return perUnit;
}

void CoreTime::sleep(int ms) { CoreXutl::sleep(ms); }
