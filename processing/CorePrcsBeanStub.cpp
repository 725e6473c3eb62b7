// CorePrcs entry points the property bus calls whose own steps are not built
// yet: saving (getnp, setpf) and the batch machine (batch). Each does nothing, or answers its
// failure value, until its step replaces it here; the bus already routes its ids to them.
#include "processing/CorePrcs.h"

CoreAnsx CorePrcs::getnp() { return CoreAnsx(""); }

void CorePrcs::setpf(CoreAnsx const&) {}

// The batch machine: with no step built, every chain ends at once.
bool CorePrcs::batch(CoreVars*, CoreAnsx& message) {
    message = CoreAnsx("");
    return true;
}
