// CorePrcs entry points that the engine's later steps fill: the bypass
// switch (with the host process entry), the boot, and the block worker.
// Until then each does nothing, and nothing here pretends otherwise: the
// bypass flag stays on from construction (so teardown never calls smpby),
// fboot finds the boot still pending, and no block is ever handed off.
#include "processing/CorePrcs.h"

// Filled with the host process entry: switches bypass with the bypass semaphore.
void CorePrcs::smpby(bool, int, bool, bool) {}

// Filled with the boot: runs one boot step or all remaining; nothing yet.
bool CorePrcs::boots(bool, int&, CoreAnsx&, bool&, bool&) { return false; }

// Filled with the block worker: processes the handed-off frames.
void CorePrcs::prcss() {}
