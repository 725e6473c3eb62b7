// Feeds arbitrary bytes to the program reader as a program document, over an
// in-memory store holding one short impulse under every file name the demo
// programs use, read at its own rate or converted. A program that reads has
// no more slots than its capacity; a refused one is left unloaded; either
// way it unloads to nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/CoreCnvl.h"
#include "program/CoreProg.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"

namespace {

constexpr short kCapacity = 3;

// 32 samples of 16-bit mono at 48 kHz (converted when not kept): a decaying
// alternating impulse.
std::vector<unsigned char> impulse() {
    std::vector<unsigned char> wav;
    auto put = [&wav](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) wav.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    auto tag = [&wav](char const* t) { wav.insert(wav.end(), t, t + 4); };
    int const samples = 32;
    tag("RIFF"), put(36 + 2 * samples, 4), tag("WAVE");
    tag("fmt "), put(16, 4), put(1, 2), put(1, 2), put(48000, 4), put(96000, 4), put(2, 2);
    put(16, 2), tag("data"), put(2 * samples, 4);
    for (int k = 0, v = 30000; k < samples; ++k, v = -v / 2) put(std::uint32_t(v) & 0xffffu, 2);
    return wav;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static CorePool pool;
    static CoreFsys* store = [] {
        auto* s = new CoreFsys(&pool);
        std::vector<unsigned char> const wav = impulse();
        for (char const* name : {"INIT", "ROOM", "SAT1", "SAT2", "SAT3", "SWEEPA", "SWEEPB"})
            s->setit(s->crtit(CoreAnsx("vectors/") + CoreAnsx(name) + CoreAnsx(".WAV"), false),
                     wav.data(), long(wav.size()), CoreAnsx(""), true, false);
        return s;
    }();
    static CoreProg* program = [] {
        auto* p = new CoreProg(&pool, nullptr, kCapacity, "vectors/", 10000, 1000000, -1, 4096, 7,
                               9, 8192, nullptr, nullptr);
        p->setfs(store);
        for (short s = 0; s <= kCapacity; ++s)
            p->setcv(s, new CoreCnvl(&pool, CoreAnsx("H") + CoreAnsx(s + 1), 0, nullptr));
        return p;
    }();

    std::string text;
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0) text += static_cast<char>(data[i]);
    CoreXml_ document;
    try {
        document.getfc(CoreAnsx(text.c_str()));
    } catch (CoreAnsx const&) {
        return 0; // the document reader has a target of its own
    }
    if (document.getrt() == nullptr) return 0;
    if (program->load_(document.getrt(), (size & 1) != 0)) {
        if (program->gethc(true) > kCapacity || program->gethc(false) > program->gethc(true))
            __builtin_trap();
    } else if (program->gethc(true) != 0) {
        __builtin_trap();
    }
    program->init_();
    if (program->gethc(true) != 0) __builtin_trap();
    return 0;
}
