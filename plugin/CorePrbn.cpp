#include "plugin/CorePrbn.h"

#include <type_traits>

#include "processing/CorePrcs.h"
#include "runtime/CoreLog_.h"

// The display's record and the engine's are one type (CoreBnid): the
// display's pointer is handed on as it is.
static_assert(std::is_same_v<CoreBean::BEANSTRUCT, CorePrcs::BEANSTRUCT>);

CorePrbn::CorePrbn(CorePrcs* engine_) : engine(engine_) {}

bool CorePrbn::getbb(int id, BEANSTRUCT* index) {
    return engine != nullptr && engine->getbb(id, index);
}

short CorePrbn::getbh(int id, BEANSTRUCT* index) {
    return engine != nullptr ? engine->getbh(id, index) : short(0);
}

int CorePrbn::getbi(int id, BEANSTRUCT* index) {
    return engine != nullptr ? engine->getbi(id, index) : 0;
}

long CorePrbn::getbl(int id, BEANSTRUCT* index) {
    return engine != nullptr ? engine->getbl(id, index) : 0L;
}

double CorePrbn::getbd(int id, BEANSTRUCT* index) {
    return engine != nullptr ? engine->getbd(id, index) : 0.0;
}

CoreAnsx CorePrbn::getbs(int id, BEANSTRUCT* index) {
    return engine != nullptr ? engine->getbs(id, index) : CoreAnsx("");
}

void CorePrbn::setbb(int id, bool value, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbb(id, value, index);
}

void CorePrbn::setbh(int id, short value, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbh(id, value, index);
}

void CorePrbn::setbi(int id, int value, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbi(id, value, index);
}

void CorePrbn::setbl(int id, long value, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbl(id, value, index);
}

void CorePrbn::setbd(int id, double value, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbd(id, value, index);
}

void CorePrbn::setbs(int id, CoreAnsx value, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbs(id, value, index);
}

void CorePrbn::setbv(int id, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbv(id, index);
}

short CorePrbn::gettp(short level) { return CorePrcs::gettp(level); }

void CorePrbn::setmt(short type, bool force) {
    if (engine == nullptr) return;
    // The engine's other accessors catch for themselves; this one may throw
    // when its followers cannot be configured, and nothing leaves the bus.
    try {
        engine->setmt(type, force);
    } catch (...) {
        CoreLog_::loger(CoreAnsx("meter type not set: ") + CoreAnsx(int(type)), 1);
    }
}
