#include "runtime/CoreSmgd.h"

#include "runtime/CoreSmph.h"

CoreSmgd::CoreSmgd(CoreSmph& lock) : held(lock) { held.locks(); }

CoreSmgd::CoreSmgd(CoreSmph& lock, int limit) : held(lock) { held.locks(limit); }

CoreSmgd::CoreSmgd(CoreSmph& lock, ADOPT) noexcept : held(lock) {}

CoreSmgd::~CoreSmgd() { held.relse(); }
