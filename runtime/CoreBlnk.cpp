#include "runtime/CoreBlnk.h"

#include <cmath>

#include "runtime/CoreButl.h"
#include "runtime/CoreXutl.h"

double CoreBlnk::dVblink = 2.0;

CoreBlnk::CoreBlnk() : CoreBlnk(&CoreXutl::ttime) {}

CoreBlnk::CoreBlnk(CLOCK clock)
    : clock(clock != nullptr ? clock : &CoreXutl::ttime),
      rate(2.0 * CoreButl::dCsecondsperday * CoreButl::dCpi * 0.5), origin(this->clock()) {}

bool CoreBlnk::getvl() { return std::sin((clock() - origin) * rate) > 0.0; }
