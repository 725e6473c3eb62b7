// CoreRvct, per-block part: a raw vector is steered by its Vector and
// Liquid controls only; pan, gainpad, gain and normalisation are fixed off.
// setvl on the loader path; chnup once per block on the processing thread
// (audio thread: no allocation, no file or log I/O, no blocking lock).
#include "engine/CoreRvct.h"

#include "runtime/CoreAudp.h"

void CoreRvct::setvl(bool vectorOn, double minimum, double maximum, CoreAnsx vectorSource,
                     bool readbackOn, CoreAnsx readbackSource) {
    CoreVctr::setvl(vectorOn, minimum, maximum, vectorSource, readbackOn, readbackSource, 0.0, "1",
                    1.0, "1", false, "1", false, normposition, normweight);
}

void CoreRvct::chnup() noexcept {
    CoreAudp audio;
    CoreVctr::chnup(true);
}
