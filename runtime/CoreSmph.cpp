#include "runtime/CoreSmph.h"

#include "runtime/CoreAtom.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreXutl.h"

CoreSmph::CoreSmph() : counter(iCsphinit), breaks(0) {}

CoreSmph::~CoreSmph() = default;

int CoreSmph::locks() {
    for (;;) {
        int now = indec(&counter);
        if (now >= 0) return now;
        ininc(&counter);
        CoreXutl::sleep(CoreButl::iCsmphprecision);
    }
}

bool CoreSmph::locka() {
    if (indec(&counter) >= 0) return true;
    ininc(&counter);
    return false;
}

int CoreSmph::locks(int limit) {
    double begun = CoreXutl::tgtme();
    for (;;) {
        int now = indec(&counter);
        if (now >= 0) return now;
        ininc(&counter);
        CoreXutl::sleep(CoreButl::iCsmphprecision);
        if (CoreXutl::tgtme() - begun > limit) {
            // The holder is presumed stuck: take over. Its later relse makes
            // the counter 1 again.
            __atomic_store_n(&counter, 0, __ATOMIC_SEQ_CST);
            ininc(&breaks);
            return 0;
        }
    }
}

int CoreSmph::relse() { return ininc(&counter); }

int CoreSmph::debgl() {
    int sleeps = 0;
    for (;;) {
        if (indec(&counter) >= 0) return sleeps;
        ininc(&counter);
        CoreXutl::sleep(CoreButl::iCsmphprecision);
        ++sleeps;
    }
}

int CoreSmph::geter() const { return __atomic_load_n(&breaks, __ATOMIC_SEQ_CST); }
