// CorePrcs worker: the thread loop, command posting, the plan commands of
// the convolver slots, the two-lock helpers, and the guarded block run.
#include "processing/CorePrcs.h"

#include "engine/CoreCnvl.h"
#include "engine/CoreCubr.h"
#include "engine/CoreDnrm.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreXutl.h"

#include <atomic>

namespace {

std::atomic<int> blockFailures{0}; // test hook: blocks left that throw before they start

} // namespace

void CorePrcs::failNextBlocks(int n) { blockFailures.store(n > 0 ? n : 0); }

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
        case iCcmdprocess: runBlock(); break;
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

void CorePrcs::runBlock() noexcept {
    int const start = record.position;
    int const frames = record.frames;
    try {
        // A test's injected failure throws no text: the audio path allocates nothing.
        if (blockFailures.load() > 0 && blockFailures.fetch_sub(1) > 0) throw 0;
        prcss();
        return;
    } catch (...) {
    }
    // The host waits for this block's end: it gets the block as silence.
    for (int c = 0; c < iCchannels; ++c)
        for (int i = 0; i < frames; ++i) outring[c][(start + i) & ringwrap] = 0.0;
    int const end = (start + frames) & ringwrap;
    record.position = end;
    CoreSmgd guard(ringsem, CoreSmgd::BRIEF{});
    producedend = end;
}

void CorePrcs::plan2(short code, short slot) {
    if (threaded) {
        postc(code, slot, true);
        postc(iCcmdnothing, slot, true);
    } else {
        runcm(code, slot);
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
        runcm(iCcmddelcomp, s);
        runcm(iCcmddelplan, s);
    }
    cnvl->set__();
}

int CorePrcs::setcf(short s, short engine, int a, int b, int c, int d, int e) {
    planfailed = false;
    if (!CoreAudp::index(s, cnvlcount, "setcf slot") || cnvls[s].cnvl == nullptr) return 0;
    CoreCnvl* cnvl = cnvls[s].cnvl;
    if (threaded) {
        postc(iCcmddelcomp, s, true);
        postc(iCcmddelplan, s, true);
        postc(iCcmdnothing, s, true);
    } else {
        runcm(iCcmddelcomp, s);
        runcm(iCcmddelplan, s);
    }
    int block = 0;
    try {
        block = cnvl->set__(engine, a, b, c, d, e);
    } catch (...) {
        CoreLog_::loger(CoreAnsx("CorePrcs: engine selection failed on slot ") + CoreAnsx(int(s)),
                        0);
        planfailed = true;
        return 0;
    }
    plan2(iCcmdplan, s);
    return planfailed ? 0 : block;
}

void* CorePrcs::setcd(short s, void* buffer, short mode, long length) {
    planfailed = false;
    if (s < 0 || s >= cnvlcount || cnvls[s].cnvl == nullptr) return buffer;
    CoreCnvl* cnvl = cnvls[s].cnvl;
    cnvl->set_c(buffer, mode, length);
    plan2(iCcmdplancomp, s);
    return planfailed ? nullptr : cnvl->grplc();
}

void CorePrcs::lockp() {
    enginesem.locks();
    workersem.locks();
}

void CorePrcs::lockp(int ms) {
    enginesem.locks(ms);
    workersem.locks(ms);
}

void CorePrcs::rlsep() {
    workersem.relse();
    enginesem.relse();
}
