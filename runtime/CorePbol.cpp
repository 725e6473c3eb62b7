#include "runtime/CorePbol.h"

#include "runtime/CoreSmgd.h"

CorePbol::CorePbol(bool value) : value(value) {}

bool CorePbol::getvl() {
    CoreSmgd hold(lock, CoreSmgd::BRIEF{});
    return value;
}

void CorePbol::setvl(bool value) {
    CoreSmgd hold(lock, CoreSmgd::BRIEF{});
    this->value = value;
}
