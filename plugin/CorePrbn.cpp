#include "plugin/CorePrbn.h"

#include <type_traits>

#include "processing/CorePrcs.h"
#include "runtime/CoreLog_.h"

// The display's record and the engine's are one type (CoreBnid), so a
// pointer to one is handed on as the other.
static_assert(std::is_same_v<CoreBean::BEANSTRUCT, CorePrcs::BEANSTRUCT>);

namespace {
CorePrcs::BEANSTRUCT* engineIndex(CoreBean::BEANSTRUCT* index) { return index; }
} // namespace

CorePrbn::CorePrbn(CorePrcs* engine_) : engine(engine_) {}

bool CorePrbn::getbb(int id, BEANSTRUCT* index) {
    return engine != nullptr && engine->getbb(id, engineIndex(index));
}

short CorePrbn::getbh(int id, BEANSTRUCT* index) {
    return engine != nullptr ? engine->getbh(id, engineIndex(index)) : short(0);
}

int CorePrbn::getbi(int id, BEANSTRUCT* index) {
    return engine != nullptr ? engine->getbi(id, engineIndex(index)) : 0;
}

long CorePrbn::getbl(int id, BEANSTRUCT* index) {
    return engine != nullptr ? engine->getbl(id, engineIndex(index)) : 0L;
}

double CorePrbn::getbd(int id, BEANSTRUCT* index) {
    return engine != nullptr ? engine->getbd(id, engineIndex(index)) : 0.0;
}

CoreAnsx CorePrbn::getbs(int id, BEANSTRUCT* index) {
    return engine != nullptr ? engine->getbs(id, engineIndex(index)) : CoreAnsx("");
}

void CorePrbn::setbb(int id, bool value, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbb(id, value, engineIndex(index));
}

void CorePrbn::setbh(int id, short value, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbh(id, value, engineIndex(index));
}

void CorePrbn::setbi(int id, int value, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbi(id, value, engineIndex(index));
}

void CorePrbn::setbl(int id, long value, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbl(id, value, engineIndex(index));
}

void CorePrbn::setbd(int id, double value, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbd(id, value, engineIndex(index));
}

void CorePrbn::setbs(int id, CoreAnsx value, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbs(id, value, engineIndex(index));
}

void CorePrbn::setbv(int id, BEANSTRUCT* index) {
    if (engine != nullptr) engine->setbv(id, engineIndex(index));
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
