// CorePrcs host chunk: the current program location handed to the host as a
// setup document when it saves its project, and read back and loaded when it
// restores one; "NOCHUNK" when there is nothing to save. Host thread (the
// shell's get-chunk and set-chunk), may block; never the audio thread.
#include "processing/CorePrcs.h"

#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "program/CoreMmry.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "runtime/CoreSmgd.h"

int CorePrcs::getck(void** data) noexcept {
    if (failed || data == nullptr) return 0;
    try {
        return chunkOut(data);
    } catch (...) {
        CoreLog_::loger(CoreAnsx("host chunk: not handed over"), 0);
        return 0;
    }
}

int CorePrcs::chunkOut(void** data) {
    CoreAnsx text = sCemptyxml;
    if (!bootpending.getvl()) {
        CoreSmgd lockload(loadsem);
        try {
            // After a fallback the live program is location 0's, standing in
            // for one that failed: what the host restored is still the
            // session's program, handed back as it came; otherwise there is
            // nothing of the user's to hand over.
            if (fallback) {
                if (restoredchunk.Length() > 0) text = restoredchunk;
            } else {
                // Only what moves with the audio is taken under the engine's
                // locks, so the host's audio waits for a copy, not for the
                // document. Every writer of the document holds the load lock,
                // so the document, its text and the location are written from
                // that copy under it and the memory's own while the host plays.
                LIVEDOC live;
                {
                    CoreSmgd lockengine(enginesem);
                    CoreSmgd lockworker(workersem);
                    live = takcd();
                }
                writeBack(live, false);
                if (programselected) text = memory->dumpo(currentslot);
            }
        } catch (...) {
            CoreLog_::loger(CoreAnsx("host chunk: current program not written"), 1);
            text = sCemptyxml;
        }
    }
    CoreLog_::debug(CoreAnsx("getck:") + text, 0, 7);
    int need = static_cast<int>(std::strlen(text.c_str())) + 1;
    CHUNKANSWER& answer = chunkTake();
    struct Filled { // the entry is given up on every way out
        CorePrcs& engine;
        CHUNKANSWER& entry;
        ~Filled() { engine.chunkDone(entry); }
    } const filled{*this, answer};
    if (need > answer.size) {
        // A program larger than the buffer: a larger buffer rather than a
        // chunk cut short. The old one stays when the pool has none.
        int const grow = need > CoreMmry::iCchunkbufferdim ? need : CoreMmry::iCchunkbufferdim;
        try {
            auto* grown = static_cast<char*>(pool->mallc(5, grow, "PRCS", CoreAnsx("getck")));
            if (answer.buffer != nullptr) pool->free_(answer.buffer);
            answer.buffer = grown;
            answer.size = grow;
        } catch (...) {
            CoreLog_::loger(CoreAnsx("host chunk: no buffer for ") + CoreAnsx(need), 0);
            text = sCemptyxml;
            need = static_cast<int>(std::strlen(text.c_str())) + 1;
        }
    }
    // Nothing answered when not even the marker fits: no buffer was ever made.
    if (need > answer.size) need = 0;
    if (need > 0) std::memcpy(answer.buffer, text.c_str(), static_cast<std::size_t>(need));
    *data = need > 0 ? answer.buffer : nullptr;
    // The length of what the buffer holds, its zero byte included: a host
    // stores what it is told, and the padding after the text is nothing.
    return need;
}

CorePrcs::CHUNKANSWER& CorePrcs::chunkTake() {
    std::thread::id const me = std::this_thread::get_id();
    std::unique_lock<std::mutex> held(chunklock);
    for (;;) {
        CHUNKANSWER* pick = nullptr;
        for (CHUNKANSWER& a : chunkanswers)
            if (a.reader == me) pick = &a;
        // Another thread's, read least recently (one never read first),
        // but never one a read is filling: its holder copies from it next.
        if (pick == nullptr)
            for (CHUNKANSWER& a : chunkanswers)
                if (!a.filling && (pick == nullptr || a.lastread < pick->lastread)) pick = &a;
        if (pick != nullptr && !pick->filling) {
            pick->reader = me;
            pick->filling = true;
            pick->lastread = ++chunkreads;
            return *pick;
        }
        chunkfree.wait(held);
    }
}

void CorePrcs::chunkDone(CHUNKANSWER& answer) noexcept {
    {
        std::lock_guard<std::mutex> held(chunklock);
        answer.filling = false;
    }
    chunkfree.notify_all();
}

namespace {

// The chunk as text: at most size bytes, up to the first zero byte.
CoreAnsx chunkText(void* data, long size) {
    std::size_t n = 0;
    if (data != nullptr && size > 0) {
        auto const* bytes = static_cast<char const*>(data);
        auto const* zero = static_cast<char const*>(std::memchr(bytes, 0, std::size_t(size)));
        n = zero != nullptr ? std::size_t(zero - bytes) : std::size_t(size);
    }
    if (n == 0) return CoreAnsx("");
    std::string copy(static_cast<char const*>(data), n);
    return CoreAnsx(copy.c_str());
}

} // namespace

bool CorePrcs::ckchk(void* data, long size) noexcept {
    if (failed) return false;
    try {
        CoreAnsx const text = chunkText(data, size);
        return CoreAnsx(text).Trim() == sCemptyxml || memory->dumpi(text, false) >= 0;
    } catch (...) {
        return false;
    }
}

bool CorePrcs::setck(void* data, long size) noexcept {
    if (failed) return false;
    try {
        return chunkIn(data, size);
    } catch (...) {
        CoreLog_::loger(CoreAnsx("host chunk: not restored"), 0);
        return false;
    }
}

bool CorePrcs::chunkIn(void* data, long size) {
    // Looked at before anything else, the boot included: a chunk refused
    // leaves the instance as it was.
    if (!ckchk(data, size)) return false;
    if (fboot()) return false; // the boot failed: memory and program stay as they are
    CoreAnsx const text = chunkText(data, size);
    bool taken = true;
    if (CoreAnsx(text).Trim() == sCemptyxml) {
        programselected = true;
    } else {
        // Placed and loaded as one step under the load lock: a restore on
        // another thread may place its own program at the same location,
        // and a load there (a rate change's) may rewrite the outcome.
        CoreSmgd lockload(loadsem);
        int slot = -1;
        try {
            slot = memory->dumpi(text);
        } catch (...) {
            slot = -1;
        }
        if (slot < 0) {
            CoreLog_::loger(CoreAnsx("host chunk refused: nothing loaded"), 0);
            taken = false;
        } else {
            taken = selectHeld(slot, false, &text);
            if (!taken)
                CoreLog_::loger(CoreAnsx("host chunk: its program did not load, location ") +
                                    CoreAnsx(slot) + CoreAnsx(" failed"),
                                0);
        }
    }
    CoreLog_::debug(CoreAnsx("setck:") + text, 0, 7);
    return taken;
}
