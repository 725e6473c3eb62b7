// CorePrcs host parameter writes and MIDI: what the shell keeps waiting is
// handed in at the start of a process call, on the audio thread under the
// engine and worker locks, so a host's automation and controller messages
// play at the call they came with, whatever the wall clock (an export gives
// the same file every time). Between calls the same hand-in runs for hosts
// that do not process and for a chunk read.
#include "processing/CorePrcs.h"

#include "modulation/CoreIfce.h"
#include "program/CoreProg.h"
#include "runtime/CoreSmgd.h"

void CorePrcs::handIn() noexcept {
    Waiting* const w = waiting;
    if (w == nullptr || bypass.getvl() || bootpending.getvl() || !w->waits()) return;
    // A block handed to the worker by the last call may still read the
    // controls: the writes wait for it, bounded as every wait of the call.
    if (!takeWorker()) return;
    w->hndin(*this, true);
    workersem.relse();
}

bool CorePrcs::takwt(bool wait, bool bypassed) {
    Waiting* const w = waiting;
    if (failed || w == nullptr || bootpending.getvl() || !w->waits()) return false;
    if (wait) {
        CoreSmgd engine(enginesem);
        CoreSmgd worker(workersem);
        if (bootpending.getvl() || (!bypassed && bypass.getvl())) return false;
        w->hndin(*this, false);
        return true;
    }
    if (!enginesem.locka()) return false;
    CoreSmgd engine(enginesem, CoreSmgd::ADOPT{});
    if (!workersem.locka()) return false;
    CoreSmgd worker(workersem, CoreSmgd::ADOPT{});
    if (bootpending.getvl() || (!bypassed && bypass.getvl())) return false;
    w->hndin(*this, false);
    return true;
}

double CorePrcs::takpm(short i, double value) noexcept {
    CoreIfce* const control = program != nullptr ? program->getif(i) : nullptr;
    if (control == nullptr) return 0.0;
    setiv(i, value, true);
    return control->getvl(true);
}

void CorePrcs::takmd(int frame, int word) noexcept {
    if (midi == nullptr || bootpending.getvl()) return;
    auto const byte = [word](int k) {
        return static_cast<int>((static_cast<unsigned>(word) >> (8 * k)) & 0xFFu);
    };
    mdupd(midi->mdctr(frame, byte(0), byte(1), byte(2), byte(3)));
}
