#include "plugin/CoreCtrl.h"

#include "plugin/CorePpwr.h"

CoreCtrl::CoreCtrl(CorePpwr* bridge_) : CoreTthr(true), bridge(bridge_) { Resume(); }

void CoreCtrl::Terminate() {
    CoreTthr::Terminate();
    wake.SetEvent();
}

void CoreCtrl::Execute() {
    while (!terminated.load()) {
        int period = 40;
        try {
            period = bridge->pass();
        } catch (...) {
            // Nothing leaves a thread entry; the next pass tries again.
        }
        if (terminated.load()) break;
        wake.WaitFor(period);
    }
}
