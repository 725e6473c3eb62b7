// CorePrcs worker: the thread loop, command posting, and releasing a slot's
// plans.
#include "processing/CorePrcs.h"

#include "engine/CoreCnvl.h"
#include "engine/CoreCubr.h"
#include "engine/CoreDnrm.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreXutl.h"

void CorePrcs::Terminate() { CoreTthr::Terminate(); }

void CorePrcs::Execute() {
    CoreDnrm scope(CoreDnrm::iCrounding);
    while (terminated.load() == 0) {
        if (workevent.WaitFor(CoreButl::iCsmphprecision) != CoreTevn::iCwrsignaled) continue;
        workevent.ResetEvent();
        runcm(command, commandslot);
        workersem.relse();
    }
    CoreLog_::debug(CoreAnsx("CorePrcs thread died"), 0, 7);
}

void CorePrcs::runcm(short code, short slot) {
    // A command that throws counts as a failed plan, and the worker lives on
    // to release the semaphore its poster waits for.
    try {
        CoreCnvl* cnvl = slot >= 0 && slot < cnvlcount ? cnvls[slot].cnvl : nullptr;
        switch (code) {
        case iCcmdprocess: prcss(); break;
        case iCcmdplan:
            if (cnvl != nullptr) planfailed = !cnvl->plan_();
            break;
        case iCcmddelplan:
            if (cnvl != nullptr) cnvl->delpl();
            break;
        case iCcmddelcomp:
            if (cnvl != nullptr) cnvl->delpc();
            break;
        case iCcmdplancomp:
            if (cnvl != nullptr) planfailed = !cnvl->planc();
            break;
        case iCcmdstopgpu:
            if (bridge != nullptr) bridge->stop_();
            break;
        default: break;
        }
    } catch (...) {
        planfailed = true;
        CoreLog_::loger(CoreAnsx("CorePrcs: worker command failed: ") + CoreAnsx(int(code)), 0);
    }
}

void CorePrcs::postc(short code, short slot, bool wait) {
    command = code;
    commandslot = slot;
    workevent.SetEvent();
    if (!wait) return;
    // Returns once the worker has run the command and released the
    // semaphore, which the poster then holds again. A worker that has ended
    // releases nothing: the command then runs here, and so does every later one.
    while (!workersem.locka()) {
        if (!alive()) {
            threaded = false;
            CoreLog_::loger(CoreAnsx("CorePrcs: worker thread gone, running unthreaded"), 0);
            workevent.ResetEvent();
            runcm(code, slot);
            return;
        }
        CoreXutl::sleep(CoreButl::iCsmphprecision);
    }
}

void CorePrcs::setcf(short s) {
    if (s < 0 || s >= cnvlcount || cnvls[s].cnvl == nullptr) return;
    CoreCnvl* cnvl = cnvls[s].cnvl;
    if (threaded) {
        postc(iCcmddelcomp, s, true);
        postc(iCcmddelplan, s, true);
        postc(iCcmdnothing, s, true);
    } else {
        cnvl->delpc();
        cnvl->delpl();
    }
    cnvl->set__();
}
