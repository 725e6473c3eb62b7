#include "runtime/CorePool.h"

#include <cstring>
#include <limits>
#include <new>

#include "platform/PlatMemory.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreXutl.h"

const int CorePool::iCattempts = 5;
const int CorePool::iCoverhead = 20;
int CorePool::iVretrypause = 100;

namespace {
// Caller's address inside a block: the first 16-byte boundary at least 4
// bytes into it, then one more 16 bytes. The platform blocks are 64-byte
// aligned, so this is always raw + 16, which leaves room for a whole pointer
// below the caller's address.
void* alignedIn(void* raw) {
    uintptr_t address = reinterpret_cast<uintptr_t>(raw);
    return reinterpret_cast<void*>(((address + 4) & ~uintptr_t(15)) + 16);
}
} // namespace

CorePool::CorePool()
    : cap(0), current(0), peaktotal(0), peakrequest(0), capon(false), oldest(nullptr),
      newest(nullptr) {}

CorePool::~CorePool() {
    // Destructors must not throw: building the log texts may.
    try {
        if (CoreLog_::aredb())
            CoreLog_::debug(CoreAnsx("pool locations left: ") + CoreAnsx(int(records.size())), 0,
                            2);
        logdp();
    } catch (...) {
    }
    while (newest != nullptr) {
        ALLOCREC* record = newest;
        newest = record->older;
        current -= record->bytes;
        PlatMemory::release(record->raw);
        delete record;
    }
    oldest = nullptr;
    records.clear();
}

short CorePool::getdm(short kind) {
    switch (kind) {
    case 0: return 8;
    case 1:
    case 2:
    case 3: return 4;
    case 4:
    case 5: return 1;
    case 6: return 2;
    default: return 0;
    }
}

void* CorePool::lockedAlloc(int bytes) {
    CoreSmgd hold(lock);
    return PlatMemory::alloc(size_t(bytes));
}

void CorePool::failRequest(int64_t bytes) {
    CoreAnsx message = CoreAnsx("Memory request failed ") + CoreAnsx(long(bytes));
    CoreLog_::loger(message, 1);
    logst();
    throw message;
}

void* CorePool::mallc(short kind, int count, char const* tag, CoreAnsx /*opname*/) {
    CoreAudp::forbid("CorePool::mallc");
    // Sizes are worked out in 64 bits so that a huge or negative count is
    // refused instead of wrapping into a small or negative block.
    int64_t wanted = int64_t(getdm(kind)) * int64_t(count) + iCoverhead;
    if (count < 0 || wanted > std::numeric_limits<int>::max()) failRequest(wanted);
    int bytes = int(wanted);

    void* raw = lockedAlloc(bytes);
    bool capOverrun = false;
    {
        CoreSmgd hold(lock);
        capOverrun = capon && current > cap;
    }
    if (capOverrun) {
        PlatMemory::release(raw);
        failRequest(bytes);
    }
    for (int retry = 0; raw == nullptr && retry < iCattempts; ++retry) {
        raw = lockedAlloc(bytes);
        // The pause follows every retry, a successful one too; the lock is
        // not held while sleeping.
        if (iVretrypause > 0) CoreXutl::sleep(iVretrypause);
    }
    if (raw == nullptr) failRequest(bytes);

    void* pointer = alignedIn(raw);
    // The underlying address is also kept below the caller's address, as a
    // whole pointer; release goes by the record's copy.
    std::memcpy(static_cast<char*>(pointer) - sizeof(void*), &raw, sizeof(void*));

    ALLOCREC* record = new (std::nothrow) ALLOCREC;
    if (record == nullptr) {
        PlatMemory::release(raw);
        failRequest(bytes);
    }
    record->kind = kind;
    record->pointer = pointer;
    record->count = count;
    record->bytes = bytes;
    std::memset(record->tag, 0, sizeof(record->tag));
    if (tag != nullptr) std::strncpy(record->tag, tag, sizeof(record->tag) - 1);
    record->raw = raw;
    record->older = nullptr;
    record->newer = nullptr;

    long nowAllocated = 0;
    bool listed = false;
    {
        CoreSmgd hold(lock);
        try {
            listed = records.emplace(pointer, record).second;
        } catch (...) {
        }
        if (listed) {
            record->older = newest;
            if (newest != nullptr)
                newest->newer = record;
            else
                oldest = record;
            newest = record;
            current += bytes;
            if (current > peaktotal) peaktotal = current;
            if (bytes > peakrequest) peakrequest = bytes;
            nowAllocated = current;
        }
    }
    if (!listed) {
        delete record;
        PlatMemory::release(raw);
        failRequest(bytes);
    }

    if (CoreLog_::aredb()) {
        try {
            CoreLog_::debug(
                CoreAnsx("memory block #: ") + CoreAnsx(record->tag) + CoreAnsx(" ") +
                    CoreAnsx(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pointer))) +
                    CoreAnsx("/") + CoreAnsx(bytes) + CoreAnsx("/") + CoreAnsx(nowAllocated),
                0, 6);
        } catch (...) {
            // The block is good; a log line that cannot be built is not a failure.
        }
    }
    return pointer;
}

void CorePool::free_(void* pointer) {
    void* raw = nullptr;
    int left = 0;
    {
        CoreSmgd hold(lock);
        auto const found = records.find(pointer);
        if (found != records.end()) {
            ALLOCREC* record = found->second;
            records.erase(found);
            (record->older != nullptr ? record->older->newer : oldest) = record->newer;
            (record->newer != nullptr ? record->newer->older : newest) = record->older;
            current -= record->bytes;
            raw = record->raw;
            delete record;
        }
        left = int(records.size());
    }
    if (raw != nullptr) {
        PlatMemory::release(raw);
        return;
    }
    if (CoreLog_::aredb())
        CoreLog_::loger(CoreAnsx("memory release error (left ") + CoreAnsx(left) + CoreAnsx(")"),
                        1);
}

long CorePool::getma() {
    CoreSmgd hold(lock);
    return current;
}

long CorePool::getxa() {
    CoreSmgd hold(lock);
    return peaktotal;
}

long CorePool::getxr() {
    CoreSmgd hold(lock);
    return peakrequest;
}

void CorePool::setal(long bytes) {
    CoreSmgd hold(lock);
    cap = bytes;
    capon = true;
}

void CorePool::logst() {
    long total = 0;
    long request = 0;
    long now = 0;
    {
        CoreSmgd hold(lock);
        total = peaktotal;
        request = peakrequest;
        now = current;
    }
    CoreLog_::debug(CoreAnsx("max mem alloc: ") + CoreAnsx(total), 0, 2);
    CoreLog_::debug(CoreAnsx("max mem reqst: ") + CoreAnsx(request), 0, 2);
    CoreLog_::debug(CoreAnsx("memory alloct: ") + CoreAnsx(now), 0, 2);
}

void CorePool::logdp() {
    if (!CoreLog_::aredb()) return;
    CoreSmgd hold(lock);
    for (ALLOCREC const* record = oldest; record != nullptr; record = record->newer) {
        CoreLog_::debug(
            CoreAnsx("left memory block: ") + CoreAnsx(int(record->kind)) + CoreAnsx(" ") +
                CoreAnsx(record->tag) + CoreAnsx(" ") + CoreAnsx(record->count) + CoreAnsx(" ") +
                CoreAnsx(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(record->pointer))),
            0, 2);
    }
}
