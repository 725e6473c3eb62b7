#include "modulation/CoreFltr.h"

#include <cmath>
#include <new>

#include "runtime/CoreAnsx.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"

namespace {
// tan(pi f / fs) turns negative past half the rate and the sections then
// grow without bound; the cut-off is held just below it.
constexpr double highestNormalisedCutoff = 0.499;
} // namespace

CoreFltr::CoreFltr(iCfilter /*type*/, int order)
    : allocated(order > 1 ? order / 2 : 0), active(0), sections(nullptr) {
    if (allocated > 0) {
        sections = new (std::nothrow) SECTION[allocated];
        if (!sections)
            throw CoreAnsx("Memory request failed ") +
                CoreAnsx(static_cast<long>(sizeof(SECTION) * allocated));
        for (int i = 0; i < allocated; ++i) sections[i] = SECTION{0.0, 0.0, 0.0, 0.0};
    }
}

CoreFltr::~CoreFltr() { delete[] sections; }

void CoreFltr::setvl(double f, double d, double fs, int order) noexcept {
    CoreAudp audio;

    double normalised = fs > 0.0 ? f / fs : 0.0;
    if (!(normalised > 0.0)) normalised = 0.0; // also NaN: a zero cut-off passes everything
    if (normalised > highestNormalisedCutoff) normalised = highestNormalisedCutoff;
    double const t = std::tan(CoreButl::dCpi * normalised);
    int wanted = order > 1 ? order / 2 : 0;
    active = wanted < allocated ? wanted : allocated;
    double const k = t * (t + CoreButl::dCsqrt2 * (1.0 - d));
    double const a = CoreButl::flushSubnormal(1.0 / (1.0 + k));
    double const b = CoreButl::flushSubnormal(1.0 - k);
    for (int i = 0; i < active; ++i) {
        sections[i].a = a;
        sections[i].b = b;
    }
}

double CoreFltr::prcss(double x) noexcept {
    CoreAudp audio;

    for (int i = 0; i < active; ++i) {
        SECTION& s = sections[i];
        double const y = CoreButl::flushSubnormal((s.a * s.prevout + x - s.previn) * s.b);
        s.previn = x;
        s.prevout = y;
        x = y;
    }
    return x;
}
