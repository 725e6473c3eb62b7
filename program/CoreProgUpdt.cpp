// CoreProg per-block update and the slot operations the engine calls between
// blocks (follower input, trim and dry bindings, updated flags, fade-out and
// kernel length choice).
#include "program/CoreProg.h"

#include "engine/CoreRvct.h"
#include "engine/CoreVctr.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreRfun.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"

#include <cmath>

void CoreProg::updte(bool processing, double frames, double last, double tempo) noexcept {
    CoreAudp audio;
    // 1. Elapsed seconds for the LFOs; without a rate there is no time.
    double const dt = rate > 0 ? CoreButl::flushSubnormal(frames / rate) : 0.0;

    // 2. LSTO follows the last output sample: 2|x| - 1, silence (or a sample
    // that is no number) at the bottom. Between blocks the caller passes 0,
    // which must not pull LSTO down and retrigger what listens to it.
    if (processing) {
        double const magnitude = std::fabs(last);
        double const v = std::isfinite(magnitude) && CoreButl::flushSubnormal(magnitude) != 0.0
                             ? 2.0 * magnitude - 1.0
                             : -1.0;
        sources->getis(iClsto)->setvl(CoreButl::flushSubnormal(v));
    }

    // 3..7. Modulators, each reading what the earlier ones wrote this block.
    for (CoreEnvf* e : evfs) e->updte();
    for (CoreLfo_* l : lfos) l->updte(dt, tempo);
    for (CoreFun_* f : funs) f->updte();
    for (CoreDynm* d : dnms) d->updte();
    for (CoreEnv_* e : envs) e->updte(frames); // envelopes count samples

    // 8..9. Raw tables first, then the raw functions that play them.
    for (int r = 0; r < iCrawslots; ++r)
        if (rawslots[r].inuse && rawslots[r].root) rawslots[r].root->chnup();
    for (CoreRfun* f : rawfuns)
        if (f->isact()) f->updte(frames);

    // 10. The slot vectors' controls and mixes.
    int const loaded = slots < capacity ? slots : capacity;
    for (int s = 0; s < loaded; ++s)
        if (hslots[s].root) hslots[s].root->chnru(processing);

    // 11. Between blocks nothing is faded.
    if (!processing) return;

    // 12. Tail fades of the slot outputs.
    for (int s = 0; s < loaded; ++s)
        if (hslots[s].root) hslots[s].root->setfd(false, 0, 0);

    // 13. The hybrid slot runs only while hybrid mode is forced.
    if (forcehybrid) {
        HLOC& hybrid = hslots[capacity];
        if (hybrid.root) {
            hybrid.root->chnru(true);
            hybrid.root->setfd(true, hybrid.extendedlength, hybrid.extendedfadeout);
        }
    }
}

void CoreProg::setef(double a, double b, double c, double d) noexcept {
    for (int i = 0; i < iCevfs - 1; ++i) evfs[i]->setei(a, b, c, d);
}

void CoreProg::setes(double a, double b) noexcept { evfs[iCevfs - 1]->setei(a, b, 0.0, 0.0); }

bool CoreProg::hasto() { return padouttrim->actve(); }
bool CoreProg::hasti() { return padintrim->actve(); }
bool CoreProg::hasdr() { return gaindrycontrol->actve(); }

bool* CoreProg::getus() { return hslots[0].root ? hslots[0].root->getus() : nullptr; }

bool* CoreProg::getui(short s) {
    HLOC* h = slotAt(s, "getui");
    return h && h->root ? h->root->getuc() : nullptr;
}

long CoreProg::getmo(short s) {
    HLOC* h = slotAt(s, "getmo");
    if (!h) return 0;
    return static_cast<long>(h->extendedlength) - CoreButl::max__(h->fadeinlength, h->offset);
}

void CoreProg::setco(short s, long n, bool apply) {
    HLOC* h = slotAt(s, "setco");
    if (!h || !h->inuse || !h->root) return;
    long const allowed =
        static_cast<long>(h->extendedlength) - CoreButl::max__(h->fadeinlength, h->offset);
    long v = n < allowed ? n : allowed;
    if (v < 1) v = 1;
    if (v == h->extendedfadeout) return; // unchanged: no mark for the writer
    // newfe frees the ramp it replaces, so the current table must follow
    // when it was the extended one; the vector limits its own window the same way.
    bool const following = h->currentfade == h->extendedfade;
    void* ramp = h->root->newfe(static_cast<int>(v)); // may throw: nothing changed yet
    h->extendedfadeout = static_cast<int>(v);
    h->extendedfade = ramp;
    if (following) {
        h->currentfade = ramp;
        if (h->currentfadeout > h->extendedfadeout) h->currentfadeout = h->extendedfadeout;
    }
    if (apply) {
        h->currentfade = h->extendedfade;
        h->currentfadeout = h->extendedfadeout;
        h->root->setcr(h->currentfade, h->currentfadeout, h->currentlength, h->fadeinlength);
    }
    h->changed = true;
    if (forcehybrid && s == capacity) hslots[0].changed = true;
}

void CoreProg::setot(short s, short mode) {
    HLOC* h = slotAt(s, "setot");
    if (!h || !h->root) return;
    if (mode == 1) {
        h->currentfade = h->extendedfade;
        h->currentfadeout = h->extendedfadeout;
        h->currentlength = h->extendedlength;
        if (forcehybrid && s == capacity) h->fadeinlength = 0;
    } else if (mode == 0) {
        h->currentfade = h->normalfade;
        h->currentfadeout = h->normalfadeout;
        h->currentlength = h->normallength;
        // The head of a hybrid pair ends without fade; the hybrid slot carries the rest.
        if (forcehybrid && s == 0) h->currentfadeout = 0;
    } else {
        return;
    }
    h->root->setcr(h->currentfade, h->currentfadeout, h->currentlength, h->fadeinlength);
    h->root->chncd(mode);
}
