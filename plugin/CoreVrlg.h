#pragma once
// CoreVrlg: the plug-in object a host sees through the effect record: the
// dispatcher, the three process calls and the parameter calls, mapped onto
// the instance's engine through the property bridge. A failed assembly
// leaves every entry a no-op and the replacing process calls writing
// silence.
// Owner: created by createEffectInstance for the host; it deletes itself at
// the close opcode. It owns the assembly, the bridge and the control thread.
// Threads: the dispatcher on the host's threads (open, close, rates, chunks
// on its user-interface or loading thread; process events, process calls and
// parameter calls possibly on the audio thread).

#include <atomic>
#include <cstdint>

#include "platform/PlatVst.h"
#include "plugin/CorePpwr.h"
#include "runtime/CoreAnsx.h"

class CoreCtrl;
class CoreMstr;

class CoreVrlg final : public CorePpwr::Listener {
public:
    explicit CoreVrlg(PlatVst::HostCallback host); // host may be null
    ~CoreVrlg() override;
    CoreVrlg(CoreVrlg const&) = delete;
    CoreVrlg& operator=(CoreVrlg const&) = delete;
    CoreVrlg(CoreVrlg&&) = delete;
    CoreVrlg& operator=(CoreVrlg&&) = delete;

    PlatVst::Effect* getef() { return &effect; }
    bool faild() const { return failed; }

    // The host's entries (the static thunks in the effect record land here).
    std::intptr_t dispt(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr,
                        float opt);
    void prcss(void** in, void** out, std::int32_t frames, bool replace, bool dbl);
    void setpm(std::int32_t index, float value);
    float getpm(std::int32_t index);
    // Private properties for the display's host side: none yet, all answer 0.
    std::intptr_t gtprp(std::int32_t id, void* ptr);
    std::intptr_t stprp(std::int32_t id, std::intptr_t value, void* ptr);

    // CorePpwr::Listener (control thread).
    void automate(int index, float value) override;
    void loaded() override;

private:
    std::intptr_t call_(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr,
                        float opt); // the host callback; 0 when there is none
    void open_();                   // starts the control thread (headless boot)
    void close();                   // joins the control thread
    void latency();                 // initial delay from the engine, host told on change
    std::intptr_t chunk(bool get, std::intptr_t size, void* ptr);
    void events(PlatVst::Events const* list);
    static void text_(void* ptr, char const* text, std::size_t max); // bounded copy

    PlatVst::Effect effect{};         // handed to the host; object points here
    PlatVst::HostCallback host;       // may be null
    CoreMstr* master = nullptr;       // assembly; engine inside
    CorePpwr* bridge = nullptr;       // over the engine
    CoreCtrl* control = nullptr;      // running between open and close
    bool failed = true;               // the assembly failed: every entry a no-op
    std::atomic<int> hostrate{44100}; // Hz
    std::atomic<int> hostblock{0};    // frames
    std::atomic<int> fourinputs{0};   // 1: the record announces 4 inputs
    char programname[PlatVst::programNameMax + 1] = "Default";
    CoreAnsx chunkdata{""}; // what getChunk handed out last
};
