// CorePrcs entry points the property bus calls whose own steps are not built
// yet: program loading (ldpdm, adjif, fixcd), saving (getnp, setpf) and the
// batch machine (batch). Each does nothing, or answers its failure value,
// until its step replaces it here; the bus already routes its ids to them.
#include "processing/CorePrcs.h"

bool CorePrcs::ldpdm(int, bool) { return false; }

void CorePrcs::adjif() {}

void CorePrcs::fixcd() {}

CoreAnsx CorePrcs::getnp() { return CoreAnsx(""); }

void CorePrcs::setpf(CoreAnsx const&) {}

// The batch machine: with no step built, every chain ends at once.
bool CorePrcs::batch(CoreVars*, CoreAnsx& message) {
    message = CoreAnsx("");
    return true;
}
