// CorePrcs host chunk: the current program location handed to the host as a
// setup document when it saves its project, and read back and loaded when it
// restores one; "NOCHUNK" when there is nothing to save. Host thread (the
// shell's get-chunk and set-chunk), may block; never the audio thread.
#include "processing/CorePrcs.h"

#include <cstring>
#include <string>

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
        CoreSmgd lockengine(enginesem);
        CoreSmgd lockworker(workersem);
        try {
            // After a fallback the live program is location 0's, standing in
            // for one that failed: there is nothing of the user's to hand over.
            if (!fallback) {
                writeBack(false);
                if (programselected) text = memory->dumpo(currentslot);
            }
        } catch (...) {
            CoreLog_::loger(CoreAnsx("host chunk: current program not written"), 1);
            text = sCemptyxml;
        }
    }
    CoreLog_::debug(CoreAnsx("getck:") + text, 0, 7);
    int need = static_cast<int>(std::strlen(text.c_str())) + 1;
    if (need > chunksize) {
        // A program larger than the buffer: a larger buffer rather than a
        // chunk cut short. The old one stays when the pool has none.
        try {
            auto* grown = static_cast<char*>(pool->mallc(5, need, "PRCS", CoreAnsx("getck")));
            pool->free_(chunkbuffer);
            chunkbuffer = grown;
            chunksize = need;
        } catch (...) {
            CoreLog_::loger(CoreAnsx("host chunk: no buffer for ") + CoreAnsx(need), 0);
            text = sCemptyxml;
            need = static_cast<int>(std::strlen(text.c_str())) + 1;
        }
    }
    std::memcpy(chunkbuffer, text.c_str(), static_cast<std::size_t>(need));
    *data = chunkbuffer;
    // The length of what the buffer holds, its zero byte included: a host
    // stores what it is told, and the padding after the text is nothing.
    return need;
}

void CorePrcs::setck(void* data, long size) noexcept {
    if (failed) return;
    try {
        chunkIn(data, size);
    } catch (...) {
        CoreLog_::loger(CoreAnsx("host chunk: not restored"), 0);
    }
}

void CorePrcs::chunkIn(void* data, long size) {
    if (fboot()) return; // the boot failed: memory and program stay as they are
    std::size_t n = 0;
    if (data != nullptr && size > 0) {
        auto const* bytes = static_cast<char const*>(data);
        auto const* zero = static_cast<char const*>(std::memchr(bytes, 0, std::size_t(size)));
        n = zero != nullptr ? std::size_t(zero - bytes) : std::size_t(size);
    }
    CoreAnsx text("");
    if (n > 0) {
        std::string copy(static_cast<char const*>(data), n);
        text = CoreAnsx(copy.c_str());
    }
    if (CoreAnsx(text).Trim() == sCemptyxml) {
        programselected = true;
    } else {
        // Every chunk this engine hands out ends its document; one cut short
        // by the host's storage would otherwise be read as far as it goes
        // and put a broken program into memory.
        CoreAnsx const trimmed = CoreAnsx(text).Trim().UpperCase();
        CoreAnsx const end("</SETUP>");
        int const n = trimmed.Length(), m = end.Length();
        bool const whole = n >= m && CoreAnsx(trimmed.c_str() + (n - m)) == end;
        int slot = -1;
        try {
            if (whole) slot = memory->dumpi(text);
        } catch (...) {
            slot = -1;
        }
        if (slot < 0) {
            // Refused: the loaded program, its location and the flags stay.
            CoreLog_::loger(CoreAnsx("host chunk refused: nothing loaded"), 1);
        } else {
            loadSelect(slot, false);
        }
    }
    CoreLog_::debug(CoreAnsx("setck:") + text, 0, 7);
}
