#pragma once
// CoreHost: a small VST 2.4 host of our own. It loads a plug-in's shared
// object with dlopen, builds one effect through its entry point, drives it
// through the dispatcher the way hosts do (open, rate, block size, resume)
// and renders sample arrays through it in blocks, in single or double
// precision, with MIDI events placed in the block they fall into. The
// command-line host and the plug-in tests both use it.
// Knowing when the plug-in is ready: the plug-in calls the host's display
// update when its boot ends and when a program load ends; wtupd waits for
// the next such call (with a time-out).
// Owner: whoever renders; one object per effect; it closes the effect and
// unloads the library when deleted.
// Threads: the owner's thread; the callback may be called from the
// plug-in's control thread too (it only counts and answers).

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/PlatVst.h"

class CoreHost {
public:
    struct MIDI {
        long frame;             // frame of the input the message belongs to
        unsigned char bytes[3]; // status, data 1, data 2
    };
    using CHANNELS = std::vector<std::vector<double>>; // one array per channel

    // Loads path and builds the effect (entry "VSTPluginMain", else "main");
    // valid() tells. rate is what the host answers when asked, Hz.
    CoreHost(std::string const& path, int rate, int block);
    ~CoreHost(); // closes the effect (unless closed), unloads the library
    CoreHost(CoreHost const&) = delete;
    CoreHost& operator=(CoreHost const&) = delete;
    CoreHost(CoreHost&&) = delete;
    CoreHost& operator=(CoreHost&&) = delete;

    bool valid() const { return effect != nullptr; }
    std::string const& error() const { return problem; }
    PlatVst::Effect* getef() { return effect; }
    // The delay the plug-in reports, samples: its control thread updates the
    // record after each load, so the field is read atomically.
    long getdl() const {
        return effect != nullptr ? std::atomic_ref<std::int32_t>(effect->initialDelay).load() : 0;
    }
    std::intptr_t dispt(std::int32_t opcode, std::int32_t index = 0, std::intptr_t value = 0,
                        void* ptr = nullptr, float opt = 0.0f);

    // Open, sample rate, block size, resume: what hosts send after loading.
    void start();
    // Closes the effect now, as a host does while its audio thread may still
    // be inside a process call; the library stays loaded until deletion.
    void close();
    // Display updates the plug-in sent so far, and a wait for one more than
    // `seen` (true) or the time-out (false).
    int updts() const { return updates.load(); }
    bool wtupd(int seen, double seconds);
    // The process level the host answers when asked (PlatVst::levelOffline
    // unless set; 0 says "not supported", as some hosts answer), and how
    // often the plug-in asked.
    void setlv(int level) { processlevel.store(level); }
    int lvqry() const { return levelqueries.load(); }
    // Sends MIDI events now (one processEvents call).
    void sendm(std::vector<MIDI> const& events);
    // Bank select and program change for slot (bank x 100 + program).
    void slot_(int slot);

    // Renders in through the effect: out gets in's length of frames, raw
    // (the plug-in's latency not removed). dbl picks processDoubleReplacing,
    // add the accumulating process call (single precision). progress, when
    // given, is called after each block with the frames done.
    void rendr(CHANNELS const& in, CHANNELS& out, bool dbl, bool add = false,
               std::vector<MIDI> const& midi = {}, void (*progress)(long, long) = nullptr);

    // What the plug-in told through the callback.
    int automations() const { return automated.load(); }
    int lastAutomated() const { return lastindex.load(); }
    float lastValue() const { return lastvalue.load(); }
    int ioChanges() const { return iochanges.load(); }

private:
    static std::intptr_t callback(PlatVst::Effect* effect, std::int32_t opcode, std::int32_t index,
                                  std::intptr_t value, void* ptr, float opt);

    void* library = nullptr;
    PlatVst::Effect* effect = nullptr;
    std::string problem;
    int rate;
    int block;
    std::atomic<int> updates{0};
    std::atomic<int> automated{0};
    std::atomic<int> lastindex{-1};
    std::atomic<float> lastvalue{0.0f};
    std::atomic<int> iochanges{0};
    std::atomic<int> processlevel{PlatVst::levelOffline};
    std::atomic<int> levelqueries{0};
};
