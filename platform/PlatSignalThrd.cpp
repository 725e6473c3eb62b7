#include "platform/PlatSignalThrd.h"

#include <atomic>
#include <thread>

namespace {

std::atomic<int>& stored() {
    static std::atomic<int> value{[] {
        const unsigned hw = std::thread::hardware_concurrency();
        return hw == 0 ? 1 : static_cast<int>(hw);
    }()};
    return value;
}

} // namespace

bool PlatSignalThrd::setCount(int count) {
    if (count < 1) return false;
    stored().store(count, std::memory_order_relaxed);
    return true;
}

int PlatSignalThrd::count() { return stored().load(std::memory_order_relaxed); }
