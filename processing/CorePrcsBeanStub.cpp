// CorePrcs entry points the property bus calls whose own steps are not built
// yet: the block worker's small operations (clean, updpm, mdupd, setmt), the
// convolver configuration (setop, setof, setck, setco, setod), program
// loading (ldpdm, adjif, fixcd), saving (getnp, setpf) and the batch machine
// (batch). Each does nothing, or answers its failure value, until its step
// replaces it here; the bus already routes its ids to them.
#include "processing/CorePrcs.h"

void CorePrcs::clean() {}

void CorePrcs::setop(short) {}

void CorePrcs::setof(short) {}

bool CorePrcs::setck() { return true; }

void CorePrcs::setco(short, double) {}

void CorePrcs::setod(short, short, double) {}

void CorePrcs::updpm() {}

void CorePrcs::mdupd(CoreMidi::MIDISLIDERCALLBACKINFO*) {}

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

void CorePrcs::setmt(short type, bool) { metertype = type; }
