// CorePrcs entry points that the engine's later steps fill: the boot. It
// does nothing yet (fboot finds it still pending).
#include "processing/CorePrcs.h"

// Filled with the boot: runs one boot step or all remaining; nothing yet.
bool CorePrcs::boots(bool, int&, CoreAnsx&, bool&, bool&) { return false; }
