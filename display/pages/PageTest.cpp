// The test page (page 16): a stress test of the load path that loads one
// program after the other, the next occupied slot after the selected one,
// every "period" ticks of the page, starting again at slot 1 after the
// cycle's last slot. The counters live in the display across visits.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.
#include <algorithm>

#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDstx.h"
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;
constexpr double periodMost = 100000.0, cycleMost = 400.0;
} // namespace

void CoreDsif::entrytest() {
    label(CoreAnsx(""), CoreAnsx("Current:"), 0, 1);
    label(CoreAnsx(""), CoreAnsx("Period :"), 0, 2);
    label(CoreAnsx(""), CoreAnsx("Cycle  :"), 0, 3);
    gadget->reset(2, true, true, 1);
    int& period = pages.testcounters[0];
    int& cycle = pages.testcounters[1];
    if (CoreDstx* field = gadget->gettx(0)) {
        field->defne(0, 12, 2, 7, CoreAnsx(""), true, -1);
        field->setrg(1.0, periodMost, double(period));
    }
    if (CoreDstx* field = gadget->gettx(1)) {
        field->defne(0, 12, 3, 7, CoreAnsx(""), true, -1);
        field->setrg(1.0, cycleMost, double(cycle));
    }
}

void CoreDsif::ticktest() {
    BEANSTRUCT none{};
    buffer->write(CoreButl::rpad_(CoreAnsx("  TestMode: Stress"), 48, ' '), 0, 0, 1, false, false);
    gadget->focus(clickcolumn, clickrow, mouseheld);
    gadget->draw_();
    int slot = selectedslot();
    CoreAnsx current = CoreAnsx(slot) + CoreAnsx("/") + engine->getbs(CoreBnid::iCname, &none);
    buffer->write(CoreButl::rpad_(current, 32, ' '), 12, 1, 0, false, false);
    int& period = pages.testcounters[0];
    int& cycle = pages.testcounters[1];
    int& countdown = pages.testcounters[2];
    // Held to their ranges (NaN as 1), so no field value can stop the
    // countdown or overflow the int.
    auto counter = [](CoreDstx* field, double most, int kept) {
        if (field == nullptr) return kept;
        double v = field->getvl();
        return v >= 1.0 ? int(std::min(v, most)) : 1;
    };
    period = counter(gadget->gettx(0), periodMost, period);
    cycle = counter(gadget->gettx(1), cycleMost, cycle);
    if (--countdown <= 0) {
        countdown = period;
        int start = slot + 1 <= cycle ? slot + 1 : 1;
        BEANSTRUCT search{start, 1};
        loadvars(engine->getbi(CoreBnid::iCnextslot, &search), CoreAnsx("TEST"));
        event = CoreAnsx("BTCH");
    }
    if (drbtn(50, 0, CoreAnsx("  EXIT  "), clickcolumn, clickrow)) event = CoreAnsx("MAST");
}
