// CorePrcs GUI-rate meter update and small engine queries: the overflow
// indicator with its hold time, the change indicators of the mix controls
// and the published level figures (updld, bean 81), the longest tail of the
// processed harmonics (getts, bean 61), and the thread-priority rule (gettp).
#include "processing/CorePrcs.h"

#include "modulation/CoreEnvf.h"
#include "modulation/CoreIfce.h"
#include "program/CoreProg.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreXutl.h"

bool CorePrcs::updld() {
    bool const fresh = newlevels.exchange(false);
    if (bootpending.getvl()) return fresh;

    bool lit = overflow.getvl();
    if (lit && CoreXutl::ttime() - overflowtime.load() > overflowhold) {
        overflow.setvl(false);
        lit = false;
    }
    short indicators[iCmetermodes] = {};
    double levels[iCmeterlevels] = {};
    bool measured = false;
    // The followers and the controls are the block worker's, which runs on
    // the worker under its semaphore or inline in the host call under the
    // engine's: read them only while neither runs, taking both by try-lock
    // in the engine's lock order.
    bool engine = enginesem.locka();
    bool worker = engine && workersem.locka();
    if (worker) {
        for (int i = 0; i < iCmetermodes; ++i) indicators[i] = program->getif(i)->getml();
        if (fresh) {
            for (int i = 0; i < iCmeterlevels; ++i) {
                meterfollowers[i]->updte();
                levels[i] = meterfollowers[i]->getdb();
            }
            measured = true;
        }
        workersem.relse();
    }
    if (engine) enginesem.relse();
    if (!worker) {
        for (int i = 0; i < iCmetermodes; ++i) indicators[i] = program->getif(i)->getll();
    }
    CoreSmgd guard(beansem);
    overflowcopy = lit;
    for (int i = 0; i < iCmetermodes; ++i) metermodes[i] = indicators[i];
    if (measured)
        for (int i = 0; i < iCmeterlevels; ++i) meterreadings[i] = levels[i];
    // Busy: the figures of the last successful pass are published again.
    if (fresh)
        for (int i = 0; i < iCmeterlevels; ++i) meterlevels[i] = meterreadings[i];
    return fresh;
}

long CorePrcs::getts() {
    if (bootpending.getvl() || bypass.getvl()) return 0;
    CoreSmgd engine(enginesem);
    long longest = 0;
    for (short h = 0; h < harmonicsinuse; ++h)
        longest = CoreButl::max__(longest, static_cast<long>(program->getts(h)));
    return longest;
}

short CorePrcs::gettp(short level) { return level == 0 || (level >= 2 && level <= 4) ? level : 1; }

bool CorePrcs::iscst() { return false; }
