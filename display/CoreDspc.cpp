#include "display/CoreDspc.h"

#include <new>

#include "runtime/CoreAnsx.h"
#include "runtime/CoreSmgd.h"

CoreDspc::CoreDspc() {}

CoreDspc::~CoreDspc() {
    for (int i = 0; i < records.count; ++i) delete static_cast<MESSAGELOC*>(records[unsigned(i)]);
    records.Clear();
}

void CoreDspc::addms(MESSAGELOC const* record) {
    if (record == nullptr) return;
    MESSAGELOC* copy = new (std::nothrow) MESSAGELOC(*record);
    if (copy == nullptr) throw CoreAnsx("Memory request failed for an input record");
    CoreSmgd hold(lock);
    try {
        records.Add(copy);
    } catch (...) {
        delete copy;
        throw;
    }
}

bool CoreDspc::getms(short id, MESSAGELOC* out) { return getbf(id, id, out); }

bool CoreDspc::getbf(short id, short mark, MESSAGELOC* out) {
    if (out == nullptr) return false;
    CoreSmgd hold(lock);
    for (int i = 0; i < records.count; ++i) {
        MESSAGELOC* record = static_cast<MESSAGELOC*>(records[unsigned(i)]);
        if (record->id != std::uint16_t(id) && record->id == std::uint16_t(mark)) return false;
        if (record->id != std::uint16_t(id)) continue;
        *out = *record;
        records.Delete(i);
        delete record;
        return true;
    }
    return false;
}

void CoreDspc::clrms(short id) {
    CoreSmgd hold(lock);
    for (int i = records.count - 1; i >= 0; --i) {
        MESSAGELOC* record = static_cast<MESSAGELOC*>(records[unsigned(i)]);
        if (record->id != std::uint16_t(id)) continue;
        records.Delete(i);
        delete record;
    }
}
