#include "tests/display/FakeHost.h"

#include <cstring>

void FakeHost::mouse(int x, int y, int buttons) {
    std::lock_guard hold(mutex);
    record[0] = x;
    record[1] = y;
    record[2] = buttons;
}

std::vector<FakeHost::CALL> FakeHost::calls() const {
    std::lock_guard hold(mutex);
    return log;
}

int FakeHost::gtprp(int id, int, int, void* data) {
    if (id != iCpropmouse || data == nullptr) return 0;
    std::lock_guard hold(mutex);
    std::memcpy(data, record, sizeof record);
    return 1;
}

int FakeHost::stprp(int id, int index, int value, void* data, unsigned long size) {
    std::lock_guard hold(mutex);
    CALL call{'s', id, index, value, {}};
    if (data != nullptr) {
        auto const* bytes = static_cast<std::uint8_t const*>(data);
        call.payload.assign(bytes, bytes + size);
    }
    log.push_back(std::move(call));
    return 1;
}

void FakeHost::prchg(int id, int index, int value) {
    std::lock_guard hold(mutex);
    log.push_back({'c', id, index, value, {}});
}
