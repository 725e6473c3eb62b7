// CorePrcs entry points that the engine's later steps fill: the boot and the
// block worker. The boot does nothing yet (fboot finds it still pending).
// The block worker is a STAND-IN: it keeps the block protocol of the real
// one (the rate-change flag taken up with the crossfade tables, the produced
// end advanced under the ring-position semaphore, the meters) but plays the
// input ring straight into the output ring, scaled by the latched output
// scale and gain, in place of modulation and convolution.
#include "processing/CorePrcs.h"

#include "runtime/CoreAudp.h"
#include "runtime/CoreSmgd.h"

// Filled with the boot: runs one boot step or all remaining; nothing yet.
bool CorePrcs::boots(bool, int&, CoreAnsx&, bool&, bool&) { return false; }

// STAND-IN for the block worker (see the file's head).
void CorePrcs::prcss() {
    CoreAudp audio;
    meters[0].setmp(true, 0);
    if (record.rebuild) {
        // The tables were sized for both program rates when they were set.
        if (smoothorder >= 0 && record.period + 1L <= tablecapacity) {
            CoreSmgd guard(smoothsem);
            mkesf(record.period);
            countdown = 0;
            crossfadepos = 0;
        }
        ratechange.store(false);
    }
    double const gain = record.scale * record.gain;
    int p = record.position;
    for (int i = 0; i < record.frames; ++i) {
        outring[0][p] = inring[0][p] * gain;
        outring[1][p] = inring[1][p] * gain;
        p = (p + 1) & ringwrap;
    }
    record.position = p;
    {
        CoreSmgd guard(ringsem);
        producedend = (producedend + record.frames) & ringwrap;
    }
    meters[0].setmp(false, record.frames);
}
