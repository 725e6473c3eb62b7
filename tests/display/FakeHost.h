#pragma once
// FakeHost: a stand-in plug-in object for the display tests: a settable
// 12-byte mouse record (property 100101) and a log of every stprp and prchg
// with its payload. Owner: a test or the rig. Threads: any (one mutex).

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "display/CorePlif.h"

class FakeHost : public CorePlif {
public:
    struct CALL {
        char kind; // 's' stprp, 'c' prchg
        int id;
        int index;
        int value;
        std::vector<std::uint8_t> payload;
    };

    void mouse(int x, int y, int buttons) {
        std::lock_guard hold(mutex);
        record[0] = x, record[1] = y, record[2] = buttons;
    }
    std::vector<CALL> calls() const {
        std::lock_guard hold(mutex);
        return log;
    }
    int gtprp(int id, int, int, void* data) override {
        std::lock_guard hold(mutex);
        if (id != iCpropmouse || data == nullptr) return 0;
        std::memcpy(data, record, sizeof record);
        return 1;
    }
    int stprp(int id, int index, int value, void* data, unsigned long size) override {
        std::lock_guard hold(mutex);
        auto const* bytes = static_cast<std::uint8_t const*>(data);
        log.push_back(
            {'s', id, index, value,
             bytes ? std::vector<std::uint8_t>(bytes, bytes + size) : std::vector<std::uint8_t>()});
        return 1;
    }
    void prchg(int id, int index, int value) override {
        std::lock_guard hold(mutex);
        log.push_back({'c', id, index, value, {}});
    }

private:
    mutable std::mutex mutex;
    std::int32_t record[3] = {0, 0, 0}; // x, y, button word
    std::vector<CALL> log;
};
