#pragma once
// CorePpwr: the bridge between the host's calls and the engine's property
// bus. Host calls that may arrive on the audio thread (parameter values,
// MIDI events, program changes) only leave their values here, in fixed
// lock-free slots. The engine's process call hands the waiting parameter
// writes and MIDI in at its start (hndin, as the engine's Waiting record),
// so they play from the call they came with; the control thread's pass
// hands them in only for a host that has not processed since the last
// pass, runs the GUI-rate updates and tells its listener (the plug-in) which
// parameters moved by themselves, so the host can record them as
// automation. It also announces the plug-in's changed private properties
// (prchg) to the property listeners (the editor, tests).
// Owner: the plug-in object, one per instance, over the instance's engine,
// which it registers with at construction (the owner deletes the engine
// first, once no process call can come).
// Threads: the set/queue calls from any host thread (audio included, no
// allocation, no lock, no wait); hndin and waits on the audio thread inside
// the engine's process (no allocation, no lock of their own); pass() and the
// bus helpers from the control thread or the host's non-audio threads;
// prchg from the display's tick (control thread, display lock held), the
// listener list from the host's threads. hndin, the queues' consumer, runs
// off the audio thread too: the pass's takwt and a chunk read's flush call
// it through the engine, each under the engine lock, as the process call
// does, so one consumer runs at a time.
// The offline wait for a program change lives in three places: the shell's
// process call (CoreVrlg::loadw, audio thread), the fields and accessors
// here (chngd, drops, waitl, autwt, lapse, stuck) and the control thread's
// cycle (CoreCtrl::cycle). In order: midi_ queues the change before the
// host's processEvents returns; the offline call it came with marks its
// wait (waitl), then, when a change waits and a control-thread callback
// (hostAutomate, or the boot's or a load's hostIoChanged and
// hostUpdateDisplay) is in flight, gives it iCautowait ms to end (autwt),
// past which it plays on
// as a real-time call would; else it waits while chngd holds and drops has
// not moved, passing the bypass path with no frames. The cycle marks the load
// before it takes the change (takep), keeps it marked while the display's
// batch runs (lodrn) and clears it when the batch page is left (lodnd),
// which ends the wait; only after the cycle has released its lock does the
// host hear of it (tellh). While a wait is marked the pass hands in none
// of the call's writes and makes no callback. A wait that hits
// iCbootwait seconds marks the load stuck (lapse): no call waits for it
// again until a load ends or the change is dropped.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "processing/CorePrcs.h"
#include "runtime/CoreAnsx.h"

class CorePpwr : public CorePrcs::Waiting {
public:
    static constexpr int iCparameters = 10;  // host parameters
    static constexpr int iCmidiqueue = 1024; // MIDI events waiting for a hand-in
    static constexpr int iCbankmax = 100;    // banks 0..99: slots stay at most 9,999
    static constexpr int iCprogramsperbank = 100;
    static constexpr int iCbootwait = 30; // s an offline process call waits for the boot at most
    static constexpr int iCautowait = 50; // ms such a call waits for a callback in flight
    // The control thread's callbacks, as a wait that gave up on one names it.
    static constexpr int iCcbautomate = 0, iCcbiochanged = 1, iCcbupdate = 2;

    // Told by the control thread after its cycle (tellh), outside the cycle
    // lock and every engine lock: the host may call straight back in.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void automate(int index, float value) = 0; // a parameter moved: 0..1
        virtual void loaded() = 0; // the boot (also a failed one) or a program load ended
    };

    // Told of a changed private property, on the thread that posts it (the
    // display's tick, under the display lock): it only records what changed
    // and returns, and makes no property call.
    using PROPLISTENER = void (*)(void* context, int id, int index, int value);

    CorePpwr(CorePrcs* engine, Listener* listener); // engine may be null (failed instance)
    CorePpwr(CorePpwr const&) = delete;
    CorePpwr& operator=(CorePpwr const&) = delete;
    CorePpwr(CorePpwr&&) = delete;
    CorePpwr& operator=(CorePpwr&&) = delete;

    // ---- any host thread, no allocation, no lock --------------------------------------
    // The host sets a parameter (0..1); it waits for the next process call
    // (or a pass, or a chunk read) to hand it in: a write made while a call
    // runs, from another thread or inside a host callback, waits for the
    // call after it, and the last one made before a call plays in it. While the parameter's
    // window is open, a write of the value the host had been told when the
    // window opened changes nothing: the host only writes back a snapshot
    // taken before the state it did not see. The windows open at
    // construction (on the values answered before the boot) and again at
    // each chunk restore before the first process call after the boot (on
    // the values told just before it). All end at that process call, at a
    // program load asked for, and at a chunk read that answers a program;
    // one ends at the user's move of its parameter, at a host write of
    // another value, and at a read (getpm) that answers another value.
    void setpm(int index, float value);
    float getpm(int index); // last value known of a parameter, as the host reads it
    // The value a parameter's label formats here: a waiting write's, or,
    // before the boot has ended, the value the host is answered; false when
    // the engine's own text holds. Does not count as the host's read.
    bool lbval(int index, float& value);
    // One short MIDI message: its three bytes and frame offset. Controller
    // 32 picks the bank, a program change queues bank x 100 + program. It
    // always finds room, takes no lock and never waits (see the queue's
    // contract below).
    void midi_(unsigned char status, unsigned char data1, unsigned char data2, int frame);
    void dropp(); // forget a queued program change
    // Holds the pass's updates and the display's ticks while a host call
    // replaces or reloads the program (a chunk set, a rate or block-size
    // change); holding waits for a pass in progress to end. Holds from
    // several host threads nest: the updates resume when the last one ends.
    // Host threads, not audio.
    void hold_(bool on);
    bool isheld();          // the updates are held
    void setrt(int rate);   // host rate, Hz, for the GUI-rate update and after the boot
    void setbk(int frames); // host block size, sent again after the boot
    bool booted();          // the boot has ended (the pass saw it)
    int getbt();            // 1 the boot ended, -1 it failed, 0 it is still running
    int getsl(); // slot of the program playing (bank x 100 + program), -1 before the boot
    int getbn(); // current bank
    // Audio thread: a process call begins, before it calls back into the
    // host (what the host sends from now on belongs to the next call).
    void calln();
    // Audio thread: the call goes on to the engine; once the boot has
    // ended, the windows close.
    void playd();
    // Audio thread: an offline process call stopped waiting for the boot at
    // its bound; later calls do not wait again, and the next pass logs it.
    void expir();
    bool lapsd(); // a wait for the boot expired
    // A program change waits for its load: one is queued, or a load (any
    // batch) runs on the control thread, from its take until its end.
    bool chngd();
    unsigned drops(); // queued changes dropped so far: a wait for a load ends when it moves
    // Audio thread: an offline call begins (on) or ends a wait for a load;
    // meanwhile the pass hands none of the call's writes in and makes no
    // callback (the boot's or a load's end waits too).
    void waitl(bool on);
    // Audio thread: the host's call just begun is offline (its level). While
    // its program change is queued or loading, the pass hands nothing in.
    void offln(bool offline);
    // Audio thread, after waitl(true): true once no control-thread callback
    // is in flight, waiting at most iCautowait ms for one to end; false when
    // it did not end (at once for a callback a wait already gave up on): the
    // call then plays on without waiting for the load, and the next pass
    // logs it once, naming the callback.
    bool autwt();
    // Audio thread: a wait for a load hit its bound. Calls do not wait again
    // until a load ends or the change is dropped; the next pass logs it once.
    void lapse();
    bool stuck(); // a wait for the load in hand lapsed

    // ---- the engine's process hand-in (audio thread, engine and worker locks held) ------
    bool waits() override; // a parameter write or MIDI message waits
    // Every waiting write, then the MIDI, handed in; at a call's start only
    // what came before the call.
    void hndin(CorePrcs& engine, bool call) override;

    // ---- host's non-audio threads --------------------------------------------------------
    // A chunk read: every waiting write is handed in first (even in bypass,
    // not during the boot), so the chunk carries it; none while a program
    // change is queued or loading or an offline call waits for one. May block.
    void flush();
    void seenp(); // the host read a chunk holding a program: every window ends
    // A chunk restore is about to run: before the first process call after
    // the boot, every window opens again on the value the host was told.
    void reopn();

    // ---- owner's thread, before the control thread starts --------------------------------
    // The values the host is answered until the boot has loaded its
    // program (iCparameters of them): what that program will set.
    void preld(float const* values);

    // ---- control thread ----------------------------------------------------------------
    // One control-thread pass; answers the period until the next one, ms.
    // The engine boots through the display's boot page: the pass only sees
    // the boot end (property 46) and then sends what waited for it.
    int pass();
    // The program change the host queued (bank x 100 + program), taken; -1
    // for none or while the boot is pending. The control thread hands it to
    // the display, which loads it as a batch.
    int takep();
    // A batch (a program load among them) runs: calls wait for it as for a
    // queued change.
    void lodrn();
    // A program load ended (the display left its batch page): marked at
    // once, so an offline call waiting for it goes on whatever the host does
    // with the callback; the listener learns it at tellh, and the next pass
    // hands back to the host the engine's value of every parameter whose
    // host value the engine did not take.
    void lodnd();
    // The same hand-back after a program the host's own call loaded (a
    // chunk restore); the listener hears nothing. From its return the host
    // reads the engine's values (a waiting write's own excepted) and no
    // automation noted before it is told. Any thread, the updates held.
    void rload();
    // The boot failed (the display shows its boot error page): the listener
    // learns it once at tellh, as it learns of a boot that ended, and getbt
    // tells which.
    void bootf();
    // The lock a whole control-thread cycle (pass and display tick) runs
    // under, so hold_ can wait for one in progress. No host callback is
    // made under it.
    std::mutex& cycle() { return cyclelock; }
    // After the cycle, its lock released: tells the listener what the cycle
    // noted, in order: the boot's end, each parameter's automated value
    // (none the host has written or restored since), a load's end or the
    // failed boot. Each is marked in flight (see autwt) and, while an
    // offline call waits for a load, kept for a later cycle. The host may do
    // anything inside each callback; nothing here is read across one but
    // this object's own notes.
    void tellh();
    // Inside the listener's loaded(): the callback it makes next (iCcb...),
    // for the log line of a wait that gives up on it.
    void named(int callback);

    // ---- private property announcements ------------------------------------------------
    // Calls every property listener with the change; nothing without one.
    void prchg(int id, int index, int value);
    // Adds (on) or removes a listener; a pair added twice is told twice.
    // Once removal returns, the listener is not called again.
    void lstnr(PROPLISTENER listener, void* context, bool on);

private:
    bool window(int i) const;       // parameter i's write-back window is open (any thread)
    void finish();                  // what waited for the boot's end
    void automation();              // hand-ins taken in; engine changes out to the host
    void newkn(int i, float value); // what the host reads of i, its count moved on
    // Marks a callback in flight; false (unmarked) while an offline call
    // waits for a load, the note then kept.
    bool board(int callback);

    CorePrcs* engine;
    Listener* listener;
    // Parameter values: the host's newest, waiting until a hand-in, with
    // the count of calls begun when it was written; the one made before the
    // call in progress, moved aside by a write during that call; and the
    // last one the host knows of.
    std::atomic<float> pending[iCparameters];
    std::atomic<bool> haspending[iCparameters];
    std::atomic<unsigned> stamp[iCparameters];
    std::atomic<float> prior[iCparameters];
    std::atomic<bool> hasprior[iCparameters];
    // What the host reads: the value with the count of the host's writes
    // and restores, in one word (see packed): a note is told only while the
    // count it was taken at holds, and never goes in over a newer write.
    std::atomic<std::uint64_t> known[iCparameters];
    std::atomic<float> restored[iCparameters]; // what the last restore answered
    // The last hand-in of each parameter: the host's value and what the
    // control held after it; the count is odd while a hand-in runs, and the
    // pass reads the engine's value only when it stayed even and unchanged.
    std::atomic<float> asked[iCparameters];
    std::atomic<float> took[iCparameters];
    std::atomic<unsigned> applying[iCparameters];
    // Control thread only: the hand-in count last taken in, the last value
    // the host was told (or wrote and the engine took), and whether the
    // engine did not take the host's last value.
    unsigned seen[iCparameters] = {};
    float pushed[iCparameters] = {};
    bool refused[iCparameters] = {};
    std::atomic<bool> reload{false}; // a program was loaded: refused values go back
    // The write-back windows: open, the value the host had been told when
    // it opened, the program loads asked for then, and the parameters whose
    // write-back was dropped (the next pass tells the host the engine's
    // value when it differs).
    std::atomic<bool> open[iCparameters];
    std::atomic<float> told[iCparameters];
    std::atomic<unsigned> openedat{0};
    std::atomic<bool> recheck[iCparameters];
    std::atomic<unsigned> calls{0};   // process calls begun (the audio thread counts)
    unsigned quiet = 0;               // control thread: calls at the last pass
    std::atomic<bool> played{false};  // a process call passed after the boot
    std::atomic<bool> expired{false}; // an offline wait for the boot hit its bound
    bool expirylogged = false;        // control thread only
    // What an offline call waits for after the boot: a queued change, a load.
    std::atomic<bool> loading{false};    // a load taken or a batch seen has not ended yet
    std::atomic<unsigned> dropped{0};    // queued program changes dropped
    std::atomic<int> loadwaits{0};       // offline calls waiting for a load
    std::atomic<bool> loadlapsed{false}; // a wait for the load in hand hit its bound
    bool loadlogged = false;             // control thread only: that expiry was logged
    // The pass's hostAutomate against an offline call's wait: the count is
    // odd while one is in flight (marked before the pass looks for a wait);
    // a wait that gave up on one keeps its count, and the pass logs it.
    std::atomic<unsigned> automating{0};
    std::atomic<unsigned> gaveup{0};
    std::atomic<bool> latewarn{false};
    std::atomic<int> callbk{iCcbautomate};   // the callback in flight, or made last
    std::atomic<int> heldcall{iCcbautomate}; // the callback a wait gave up on
    std::atomic<bool> lastoffline{false};    // the host's last call was offline
    // Control thread only: what the cycle tells the host once its lock is
    // released (tellh): the boot's end, the automated values with the
    // host's count (known) when noted, and a load's end or the failed boot.
    bool bootnote = false;
    bool noted[iCparameters] = {};
    float notedvalue[iCparameters] = {};
    unsigned notedwrites[iCparameters] = {};
    bool loadnote = false;
    // MIDI messages waiting for a hand-in. Written by midi_ from any host
    // thread (the audio thread too: no lock, no wait, no sleep); read by
    // the hand-ins, which take turns under the engine lock (one consumer at
    // a time). Two parts, each message in one of them:
    // - the ring: iCmidiqueue slots in arrival order (call, then frame). A
    //   producer claims the slot at head by compare-and-swap once the slot's
    //   turn says the consumer has taken its last message, writes it and
    //   then publishes it through the turn; the consumer takes the slot at
    //   tail once published and hands its turn back a round on. A slot the
    //   consumer has not handed back means the ring is full: the producer
    //   never waits for it.
    // - the last words: one per key (status kind and data 1, on any channel,
    //   the key a learn slot answers; 7 x 128 of them), holding a key's
    //   newest message once the ring was full for it. While a key's word is
    //   set, that key's messages replace it rather than enter the ring, so a
    //   word is always newer than the ring's messages of its key; the
    //   consumer takes it only when none of them is left (inring), after
    //   handing them in. Bounded: the ring's room and one word per key, so
    //   what the host sent last for each key plays, however many it sent.
    //   The words go in key order, not in the order they came: each key
    //   still ends on its last value, and only MIDI learn (a slot adopting
    //   the next message's key) can tell.
    // The producer never compacts: a word takes a key's newest message in
    // one atomic write, and what is left to merge (a word over the key's
    // queued messages, the engine's own queue by key) is done by the
    // consumer. A hand-in made at a call's start leaves what came during
    // that call (its count) for the next one.
    struct MIDIREC {
        std::uint32_t word;
        std::int32_t frame;
        unsigned call; // calls begun when it came
    };
    struct MIDISLOT {
        std::atomic<std::uint64_t> turn; // position it may be claimed at, + 1 once published
        MIDIREC record;
    };
    static constexpr int iCmidikeys = 7 * 128;
    bool push(MIDIREC const& record); // into the ring; false when full (producer)
    void spill(CorePrcs& engine, unsigned now, bool call); // takes the last words (consumer)
    MIDISLOT queue[iCmidiqueue];
    std::atomic<std::uint64_t> head{0};          // next position claimed (producers)
    std::atomic<std::uint64_t> tail{0};          // next position taken (consumer)
    std::atomic<std::uint64_t> last[iCmidikeys]; // per key: 0 none, else packed (see midi_)
    std::atomic<int> inring[iCmidikeys];         // per key: messages in the ring, or entering it
    std::atomic<bool> spilt{false};              // a last word may be set
    std::atomic<int> bank{0};
    std::atomic<int> program{-1}; // queued slot; -1 none
    std::atomic<int> held{0};     // holds in force
    std::atomic<int> rate{44100};
    std::atomic<int> block{0};
    std::atomic<bool> bootdone{false};
    std::atomic<bool> bootfailed{false};
    int passes = 0;       // control thread only
    std::mutex cyclelock; // held by the control thread for each cycle
    // Property listeners, guarded by listenlock (taken after the display
    // lock, and held while they are told).
    struct PROPLISTENERLOC {
        PROPLISTENER listener;
        void* context;
    };
    std::vector<PROPLISTENERLOC> listeners;
    std::mutex listenlock;
};
