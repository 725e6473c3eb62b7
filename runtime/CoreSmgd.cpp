#include "runtime/CoreSmgd.h"

#include <chrono>
#include <thread>

#include "runtime/CoreSmph.h"

CoreSmgd::CoreSmgd(CoreSmph& lock) : held(lock) { held.locks(); }

CoreSmgd::CoreSmgd(CoreSmph& lock, int limit) : held(lock) { held.locks(limit); }

CoreSmgd::CoreSmgd(CoreSmph& lock, ADOPT) noexcept : held(lock) {}

CoreSmgd::CoreSmgd(CoreSmph& lock, BRIEF) noexcept : held(lock) {
    while (!held.locka()) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

CoreSmgd::~CoreSmgd() { held.relse(); }
