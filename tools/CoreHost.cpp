#include "tools/CoreHost.h"

#include <algorithm>
#include <chrono>
#include <dlfcn.h>
#include <mutex>
#include <thread>

namespace {
// The host being loaded: the entry point calls back before the effect
// record exists, so those calls find their host here.
std::mutex loadingLock;
CoreHost* loading = nullptr;
} // namespace

std::intptr_t CoreHost::callback(PlatVst::Effect* effect, std::int32_t opcode, std::int32_t index,
                                 std::intptr_t, void*, float opt) {
    CoreHost* h = effect != nullptr && effect->user != nullptr
                      ? static_cast<CoreHost*>(effect->user)
                      : loading;
    switch (opcode) {
    case PlatVst::hostVersion: return PlatVst::interfaceVersion;
    case PlatVst::hostGetSampleRate: return h ? h->rate : 44100;
    case PlatVst::hostGetBlockSize: return h ? h->block : 512;
    case PlatVst::hostGetCurrentProcessLevel:
        if (h == nullptr) return PlatVst::levelOffline;
        h->levelqueries.fetch_add(1);
        return h->processlevel.load();
    case PlatVst::hostUpdateDisplay:
        if (h) h->updates.fetch_add(1);
        return 1;
    case PlatVst::hostIoChanged:
        if (h) h->iochanges.fetch_add(1);
        return 1;
    case PlatVst::hostAutomate:
        if (h) {
            h->lastindex.store(index);
            h->lastvalue.store(opt);
            h->automated.fetch_add(1);
        }
        return 1;
    default: return 0;
    }
}

CoreHost::CoreHost(std::string const& path, int rate_, int block_) : rate(rate_), block(block_) {
    library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        char const* e = dlerror();
        problem = e ? e : "dlopen failed";
        return;
    }
    auto entry = reinterpret_cast<PlatVst::Entry>(dlsym(library, "VSTPluginMain"));
    if (entry == nullptr) entry = reinterpret_cast<PlatVst::Entry>(dlsym(library, "main"));
    if (entry == nullptr) {
        problem = "no entry point";
        return;
    }
    std::lock_guard<std::mutex> guard(loadingLock);
    loading = this;
    effect = entry(&CoreHost::callback);
    loading = nullptr;
    if (effect == nullptr) {
        problem = "the entry point returned no effect";
        return;
    }
    if (effect->magic != PlatVst::effectMagic) {
        problem = "not an effect record";
        effect = nullptr;
        return;
    }
    effect->user = this;
}

CoreHost::~CoreHost() {
    close();
    if (library != nullptr) dlclose(library);
}

void CoreHost::close() {
    if (effect != nullptr) effect->dispatcher(effect, PlatVst::opClose, 0, 0, nullptr, 0.0f);
    effect = nullptr;
}

std::intptr_t CoreHost::dispt(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                              void* ptr, float opt) {
    if (effect == nullptr) return 0;
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

void CoreHost::start() {
    dispt(PlatVst::opOpen);
    dispt(PlatVst::opSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
    dispt(PlatVst::opSetBlockSize, 0, block);
    dispt(PlatVst::opSetProcessPrecision, 0, PlatVst::precision64);
    dispt(PlatVst::opMainsChanged, 0, 1);
    dispt(PlatVst::opStartProcess);
}

bool CoreHost::wtupd(int seen, double seconds) {
    auto const end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (updates.load() <= seen) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void CoreHost::sendm(std::vector<MIDI> const& events) {
    if (events.empty()) return;
    std::vector<PlatVst::MidiEvent> records(events.size());
    std::vector<char> list(sizeof(PlatVst::Events) + events.size() * sizeof(void*));
    auto* head = reinterpret_cast<PlatVst::Events*>(list.data());
    head->numEvents = static_cast<std::int32_t>(events.size());
    auto** slots =
        reinterpret_cast<PlatVst::Event**>(list.data() + offsetof(PlatVst::Events, events));
    for (std::size_t i = 0; i < events.size(); ++i) {
        PlatVst::MidiEvent& m = records[i];
        m.type = PlatVst::eventMidi;
        m.byteSize = sizeof(PlatVst::MidiEvent);
        m.deltaFrames = static_cast<std::int32_t>(events[i].frame % (block > 0 ? block : 1));
        for (int b = 0; b < 3; ++b) m.midiData[b] = static_cast<char>(events[i].bytes[b]);
        slots[i] = reinterpret_cast<PlatVst::Event*>(&m);
    }
    dispt(PlatVst::opProcessEvents, 0, 0, head);
}

void CoreHost::slot_(int slot) {
    unsigned char const bank = static_cast<unsigned char>(slot / 100);
    unsigned char const program = static_cast<unsigned char>(slot % 100);
    sendm({{0, {0xB0, 32, bank}}, {0, {0xC0, program, 0}}});
}

void CoreHost::rendr(CHANNELS const& in, CHANNELS& out, bool dbl, bool add,
                     std::vector<MIDI> const& midi, void (*progress)(long, long)) {
    long const n = in.empty() ? 0 : static_cast<long>(in[0].size());
    int const inputs = effect ? effect->numInputs : 2;
    out.assign(2, std::vector<double>(std::size_t(n), 0.0));
    if (effect == nullptr || n == 0) return;
    int const b = block > 0 ? block : 512;
    auto const ni = static_cast<std::size_t>(inputs);
    auto const nb = static_cast<std::size_t>(b);
    std::vector<std::vector<float>> fin(ni, std::vector<float>(nb));
    std::vector<std::vector<float>> fout(2, std::vector<float>(nb));
    std::vector<std::vector<double>> din(ni, std::vector<double>(nb));
    std::vector<std::vector<double>> dout(2, std::vector<double>(nb));
    std::vector<float*> fi(ni), fo(2);
    std::vector<double*> di(ni), dp(2);
    for (int c = 0; c < inputs; ++c) {
        fi[std::size_t(c)] = fin[std::size_t(c)].data();
        di[std::size_t(c)] = din[std::size_t(c)].data();
    }
    for (int c = 0; c < 2; ++c) {
        fo[std::size_t(c)] = fout[std::size_t(c)].data();
        dp[std::size_t(c)] = dout[std::size_t(c)].data();
    }
    std::size_t next = 0;
    for (long at = 0; at < n; at += b) {
        int const frames = static_cast<int>(std::min<long>(b, n - at));
        std::vector<MIDI> now;
        while (next < midi.size() && midi[next].frame < at + frames) now.push_back(midi[next++]);
        sendm(now);
        for (int c = 0; c < inputs; ++c) {
            std::vector<double> const& src = in[std::size_t(c) < in.size() ? std::size_t(c) : 0];
            for (int k = 0; k < frames; ++k) {
                double const v = c < static_cast<int>(in.size()) ? src[std::size_t(at + k)] : 0.0;
                din[std::size_t(c)][std::size_t(k)] = v;
                fin[std::size_t(c)][std::size_t(k)] = static_cast<float>(v);
            }
        }
        if (dbl) {
            effect->processDoubleReplacing(effect, di.data(), dp.data(), frames);
        } else {
            for (auto& o : fout) std::fill(o.begin(), o.end(), 0.0f);
            if (add)
                effect->process(effect, fi.data(), fo.data(), frames);
            else
                effect->processReplacing(effect, fi.data(), fo.data(), frames);
        }
        for (int c = 0; c < 2; ++c)
            for (int k = 0; k < frames; ++k)
                out[std::size_t(c)][std::size_t(at + k)] =
                    dbl ? dout[std::size_t(c)][std::size_t(k)]
                        : static_cast<double>(fout[std::size_t(c)][std::size_t(k)]);
        if (progress) progress(at + frames, n);
    }
}
