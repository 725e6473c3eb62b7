#pragma once
// FakeHost: a stand-in plug-in object for the display tests: a settable
// 12-byte mouse record (property 100101) and a log of every stprp and prchg
// with its payload. Owner: a test or the rig. Threads: any (one mutex).

#include <cstdint>
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
        std::vector<std::uint8_t> payload; // stprp's bytes
    };

    void mouse(int x, int y, int buttons); // the editor's last mouse record
    std::vector<CALL> calls() const;

    int gtprp(int id, int index, int value, void* data) override;
    int stprp(int id, int index, int value, void* data, unsigned long size) override;
    void prchg(int id, int index, int value) override;

private:
    mutable std::mutex mutex;
    std::int32_t record[3] = {0, 0, 0}; // x, y, button word
    std::vector<CALL> log;
};
