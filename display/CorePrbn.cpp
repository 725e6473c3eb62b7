#include "display/CorePrbn.h"

// Each body becomes one forwarding call once the engine's accessors exist;
// until then the answers are the bus's defaults for an id nobody serves.

CorePrbn::CorePrbn(CorePrcs* engine) : engine(engine) {}

bool CorePrbn::getbb(int, BEANSTRUCT*) { return false; }

short CorePrbn::getbh(int, BEANSTRUCT*) { return 0; }

int CorePrbn::getbi(int, BEANSTRUCT*) { return 0; }

long CorePrbn::getbl(int, BEANSTRUCT*) { return 0; }

double CorePrbn::getbd(int, BEANSTRUCT*) { return 0.0; }

CoreAnsx CorePrbn::getbs(int, BEANSTRUCT*) { return CoreAnsx(""); }

void CorePrbn::setbb(int, bool, BEANSTRUCT*) {}

void CorePrbn::setbh(int, short, BEANSTRUCT*) {}

void CorePrbn::setbi(int, int, BEANSTRUCT*) {}

void CorePrbn::setbl(int, long, BEANSTRUCT*) {}

void CorePrbn::setbd(int, double, BEANSTRUCT*) {}

void CorePrbn::setbs(int, CoreAnsx, BEANSTRUCT*) {}

void CorePrbn::setbv(int, BEANSTRUCT*) {}

short CorePrbn::gettp(short level) { return tplvl(level); }

void CorePrbn::setmt(short, bool) {}
