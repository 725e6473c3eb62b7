#include "platform/PlatTime.h"

long long PlatTime::DurationToNanoseconds(long milliseconds) {
    return static_cast<long long>(milliseconds) * 1000000LL;
}
