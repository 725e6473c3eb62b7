#pragma once
// CoreVrlg: the plug-in object a host sees through the effect record: the
// dispatcher, the three process calls and the parameter calls, mapped onto
// the instance's engine through the property bridge. It is also the
// display's host side and the editor's plug-in (CoreEdhs): the private
// properties that carry the editor's input into the display's mailbox and
// the display's snapshot, keyboard capture and pop-up menus out to the
// editor, and the count of attached editors. A failed assembly leaves every
// entry a no-op and the replacing process calls writing silence.
// Owner: created by createEffectInstance for the host; it deletes itself at
// the close opcode. It owns the assembly, the bridge, the control thread
// (with the editor), the display snapshot and the pop-up menu content; the
// record the host calls through is kept apart (HOSTRECORD) and outlives it.
// Threads: the dispatcher on the host's threads (open, close, rates, chunks
// and the editor opcodes on its user-interface or loading thread; process
// events, process calls and parameter calls possibly on the audio thread).
// The private properties run on the editor's (user-interface) thread and,
// posted by the display, on the control thread inside a tick.
// Lock order: the display lock, then the shell's own small lock (state),
// which guards the mouse, capture and arm records and the pop-up copy. The
// shell never holds it while it calls into the display (setmr, flldd,
// loadp, setdp) or the mailbox. The snapshot lock (one 100104 fill at a
// time) is taken before the display lock and never inside a tick.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "display/CoreCnst.h"
#include "editor/x11/CoreEdhs.h"
#include "platform/PlatVst.h"
#include "plugin/CorePpwr.h"
#include "runtime/CoreAnsx.h"

class CoreCtrl;
class CoreMstr;

class CoreVrlg final : public CorePpwr::Listener, public CoreEdhs {
public:
    // The record the host calls through and what its entries count on, in
    // a block the instance never frees: the library keeps every one until
    // it unloads, so an entry made as close runs finds the instance closing
    // and answers nothing (silence, 0, an empty text).
    // Every entry but close (the dispatcher, processEvents among its
    // opcodes, the parameter calls and the three process calls) is admitted
    // by one step on entered: counted while the gate is open, turned away
    // uncounted once it is shut. Close sets closing, shuts the gate, then
    // waits for the count: only the entries admitted before it, so the wait
    // ends within one entry's length however many threads keep calling. A
    // call is either waited for by close or leaves without touching the
    // instance. Atomics only, no entry ever waits on them.
    // The host is told of a moved delay from here, after the entry that
    // moved it has left the count: the host may close from that callback.
    struct HOSTRECORD {
        static constexpr int iCgate = 1 << 30; // in entered: close has shut the gate

        PlatVst::Effect effect{};                 // handed to the host; object points here
        std::atomic<CoreVrlg*> instance{nullptr}; // null once close has drained the calls
        std::atomic<int> entered{0};              // entries admitted and not left, iCgate once shut
        std::atomic<bool> closing{false};         // close has begun (set by the first one)
        std::atomic<bool> moved{false};           // a host call moved the reported delay, untold
        PlatVst::HostCallback host = nullptr;     // set before the record is handed out
    };

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
    // Audio thread: no allocation, no file or log I/O, no blocking lock.
    // Reached only through the record's process entries, counted and not
    // closing. While the boot runs, a call the host marks offline waits for
    // it (await), or for close; any other passes the input. So does such a
    // call for a program change's load (loadw).
    // Parameter display texts show a write that waits for its process call,
    // and follow getpm until the boot has ended.
    void prcss(void** in, void** out, std::int32_t frames, bool replace, bool dbl);
    void setpm(std::int32_t index, float value);
    float getpm(std::int32_t index);
    // Private properties (CorePlif, CoreEdhs). Every call checks its sizes
    // and pointers; a refused one is logged at debug level and answers 0,
    // changing nothing.
    // gtprp: 100101 (12 bytes), 100105 (1 byte) and 100106 (20 bytes) copy
    // the record whole: value 0 (the display's calls) or at least its size;
    // 100104 (the snapshot cells, total x 8 bytes) and 100107 (the pop-up
    // entries, count x 52 bytes) copy as many whole cells or entries as the
    // capacity value holds and answer the bytes copied.
    int gtprp(int id, int index, int value, void* data) override;
    // stprp: 100100 (20 bytes) into the mailbox; 100101 (12), 100105 (1)
    // and 100106 (20, copying the menu content under the shell's lock) kept;
    // 100108 (52) over entry 0 of that copy, its text to the display.
    int stprp(int id, int index, int value, void* data, unsigned long size) override;
    void prchg(int id, int index, int value) override; // to the bridge's listeners
    void attch(bool attached) override;                // editor clients, one more or less

    // CorePpwr::Listener (control thread).
    void automate(int index, float value) override;
    void loaded() override;

private:
    std::intptr_t call_(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr,
                        float opt); // the host callback; 0 when there is none
    void open_();                   // starts the control thread (headless boot)
    // Audio thread, offline only: waits for the boot's end (or its failure,
    // or close) without any lock, at most CorePpwr::iCbootwait seconds.
    void await();
    // Audio thread, offline only: waits the same way for the load of a
    // program change sent with this call or before it (or for its drop),
    // passing the bypass path with no frames so the load's muting need not
    // wait for a call; but for a hostAutomate in flight only a short while
    // (CorePpwr::autwt), past which it plays on as a real-time call would.
    void loadw(bool dbl);
    CoreAnsx dsply(int index); // a parameter's display text
    void close();              // joins the control thread
    // The engine's delay into the record's field; true when it changed. The
    // caller tells the host, outside any counted entry and every lock.
    // Control thread (a load's end) and host threads (rate, block, restore).
    bool latency();
    static void reap_(void* self); // the control thread's last act after a close from it
    std::intptr_t chunk(bool get, std::intptr_t size, void* ptr);
    void events(PlatVst::Events const* list);
    std::intptr_t editr(std::int32_t opcode, void* ptr); // the editor opcodes
    std::intptr_t prvte(void* ptr);                      // a CorePrvt::CALL
    int busio(int id, void* data, std::uint64_t size);   // a CorePrvt::BUSCALL on the engine
    static void text_(void* ptr, char const* text, std::size_t max); // bounded copy

    HOSTRECORD* const record;         // kept until the library unloads, never freed here
    PlatVst::Effect& effect;          // record->effect
    PlatVst::HostCallback host;       // may be null
    CoreMstr* master = nullptr;       // assembly; engine inside
    CorePpwr* bridge = nullptr;       // over the engine
    CoreCtrl* control = nullptr;      // running between open and close
    bool failed = true;               // the assembly failed: every entry a no-op
    std::atomic<int> hostrate{44100}; // Hz
    std::atomic<int> hostblock{0};    // frames
    std::atomic<int> fourinputs{0};   // 1: the record announces 4 inputs
    std::atomic<bool> opened{false};  // the control thread runs: a boot is under way or done
    std::mutex delaylock; // latency's read and exchange, one step; no call made under it
    char programname[PlatVst::programNameMax + 1] = "Default";

    // The display's host side.
    CoreCnst::POPMENUCONTENTDATA popcontent;     // the display fills it (setpd); freed at close
    CoreCnst::DISPLAYDATA snapshot;              // 100104's fill, made at open
    std::mutex snaplock;                         // one snapshot fill at a time
    std::mutex statelock;                        // the shell's lock: the records below
    unsigned char mouse[12] = {};                // 100101: x, y, button word
    unsigned char capture = 0;                   // 100105: the editor captures keys
    unsigned char arm[20] = {};                  // 100106: the last arm record
    std::vector<CoreCnst::POPMENUENTRY> popcopy; // 100107: the content at the last arming
};
