#pragma once
// CorePrcs: the processing engine of one plug-in instance. Built from the
// master settings file, it owns the program, program memory, the convolution
// players of every harmonic slot, the rings and block buffers of the audio
// path, the metering followers, MIDI learn, the batch variables, the message
// rows, its locks and events; it is also its own worker thread (Execute).
// Owner: the instance assembly builds exactly one and deletes it at close
// (through a CorePrcs pointer). The pool, the blink clock, the shell's item
// store and the shared kernel cache are borrowed, never deleted.
// Threads: construction and destruction on the assembling thread (control or
// display thread, may block); Execute on the engine worker; the later entry
// points say their own thread.
//
// Lock order, everywhere: the engine semaphore before the worker semaphore,
// released in reverse. Configuration changes take both and so run between
// blocks. GUI-rate reads take the worker semaphore only by try-lock. The
// bypass path takes only the bypass semaphore; the boot holds the spare
// semaphore for each boot call, and its end the load lock, then the engine
// and worker semaphores while the convolvers hear the bypass's held input
// (the bypass semaphore taken for each copy from its ring). The
// smoothing-table, meter and ring-position semaphores are leaves: nothing
// else is taken while one is held, and the audio path takes them in brief
// pauses (CoreSmgd::BRIEF).
//
// The host call holds the engine semaphore for its whole length and the
// worker semaphore from a hand-off until that block is done; a block handed
// to the worker is released by the worker. Configuration changes therefore
// wait for the host call and for the block in flight. The host call's own
// waits for the bypass and engine semaphores share one bound set by the
// host's process level (callEnd): a call that does not get them in time is
// dropped whole. It never sleeps longer than 0.1 ms at a time on a lock.
//
// The class spans several sources: CorePrcs.cpp (construction, teardown,
// fboot), CorePrcsMstr.cpp (master settings: reading, log lines, chgms,
// savem), CorePrcsThrd.cpp (worker loop, command posting, plan commands,
// the two-lock helpers), CorePrcsHost.cpp (host process entry, rings,
// bypass), CorePrcsRate.cpp (program rate, block sizing, crossfade tables,
// CPU figures), CorePrcsBlck.cpp (block worker, MIDI learn and control
// input, meter type), CorePrcsPlan.cpp (convolver configuration and
// planning), CorePrcsBtch.cpp (batch machine), CorePrcsSave.cpp (saving and
// versioning), CorePrcsChnk.cpp (host chunk), CorePrcsParm.cpp (host
// parameter writes and MIDI),
// CorePrcsBean*.cpp (the property bus), CorePrcsLoad.cpp (the GUI-rate meter
// update and small queries) and CorePrcsDesc.cpp (archive description).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "modulation/CoreMidi.h"
#include "program/CoreProg.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CoreBnid.h"
#include "runtime/CorePbol.h"
#include "runtime/CoreSmph.h"
#include "runtime/CoreTevn.h"
#include "runtime/CoreTime.h"
#include "runtime/CoreTthr.h"

class CoreBlnk;
class CoreCnvl;
class CoreCubr;
class CoreDcry;
class CoreDynm;
class CoreEnv_;
class CoreEnvf;
class CoreFsys;
class CoreFun_;
class CoreIfce;
class CoreLfo_;
class CoreMmry;
class CoreNode;
class CorePlel;
class CorePmsg;
class CorePool;
class CorePrm_;
class CoreVars;
class CoreXml_;

class CorePrcs final : public CoreTthr {
public:
    // ---- statics -----------------------------------------------------------------------
    static inline const CoreAnsx sCmstrfilenme{"VORLAN2.XML"}; // master file without a code name
    static inline const CoreAnsx sCinitprogram{"Init Program"};
    static inline const CoreAnsx sCinitfilenme{"INIT.XML"};
    static inline const CoreAnsx sCmutexintrface{"VORLAN_INTRFACE"};
    static inline const CoreAnsx sCemptyxml{"NOCHUNK"};        // host chunk with nothing to save
    static inline const CoreAnsx sCinstallerxml{"_installer"}; // installer settings file suffix
    static constexpr int iCmemoryrequirements = 20971520;      // bytes the shell test-allocates
    static constexpr int iCdelaybypassswitch = 200;            // ms the bypass switch waits
    static constexpr int iCclosecheck = 2;                     // ms between its looks for a close
    static constexpr double dCdenormalthreshold = 1e-300;      // magnitudes not above it -> 0
    static constexpr int iCmswatchdog = 2000;                  // ms
    static constexpr int iCmindelaydim = 512;                  // lowest DSPBUFFER the boot derives
    static constexpr int iCmaxdelaydim = 8192;                 // highest DSPBUFFER the boot derives
    static constexpr int iCdelaydimfactor = 64;
    static constexpr int iCtdiraclength = 100;
    static constexpr int iCtcheckmin = 1000000;        // us
    static constexpr int iCurefreshoverflow = 1000000; // us, default of REFRESHOVERFLOW
    static constexpr bool bCdisabletm = true;
    static constexpr double dCprotectiondb = 24.0; // dB, default of PROTECTIONDB

    static constexpr int iCteardownlock = 2000; // ms the destructor waits for each lock
    static constexpr int iCmeters = 6;          // metering followers
    static constexpr int iCmetermodes = 8;      // meter modes (shorts)
    static constexpr int iCmeterlevels = 4;     // meter levels (doubles)
    static constexpr int iCchannels = 2;        // channels of every ring and block buffer
    // HDIMMAX at most: the convolver slots, these and the work slot, are
    // counted in 16 bits.
    static constexpr short iChdimmaxlargest = 32766;
    // The master page's GUIRATE range, us: the boot takes one step per
    // control pass, so a longer period would outlast any host's wait.
    static constexpr long iCguiratefloor = 5000;
    static constexpr long iCguirateceiling = 150000;
    // AHEADLENGTH and FORCEOFFSET at most, us: each ring holds both delays,
    // and six rings at a few seconds stay within tens of megabytes.
    static constexpr long iCdelaylargest = 2000000;
    // WORKBUFFER at most, samples (the rings still grow to hold the delays).
    static constexpr long iCworkbufferlargest = 1L << 19;
    // The master page's ranges: LTIMED 6 to 30 ms, LFREQD from the page's
    // 6 ms to the 60 s every kernel time is held to (the page's own ceiling
    // follows the rate and DSPBUFFER), us; DSPBUFFER its list's 128 to 8192
    // samples (iCmaxdelaydim); EXPORTAUDIOQUALITY 1 to 5 times.
    static constexpr long iCltimedfloor = 6000;
    static constexpr long iCltimedceiling = 30000;
    static constexpr long iClfreqdceiling = 60000000;
    static constexpr long iCdspbufferfloor = 128;
    static constexpr long iCqualityceiling = 5;

    // Worker commands (the command code); any other code does nothing.
    static constexpr short iCcmdprocess = 0;  // run the block worker
    static constexpr short iCcmdplan = 1;     // CoreCnvl::plan_ on the slot
    static constexpr short iCcmddelplan = 2;  // CoreCnvl::delpl
    static constexpr short iCcmddelcomp = 3;  // CoreCnvl::delpc
    static constexpr short iCcmdplancomp = 4; // CoreCnvl::planc
    static constexpr short iCcmdstopgpu = 5;  // CoreCubr::stop_ on the engine's bridge
    static constexpr short iCcmdnothing = 6;  // completion signal only

    // One convolver slot: 0 .. HDIMMAX-1 harmonic, HDIMMAX the work slot.
    struct CNVLLOC {
        void** kernels = nullptr; // new[2]: the slot's left and right kernel buffers
        CoreCnvl* cnvl = nullptr; // the slot's player "H<i+1>" (owned)
        // Planning (engine and worker semaphores; CorePrcsPlan.cpp).
        short engine = -1;           // engine chosen for the slot, -1 none
        int planlength = -1;         // computation plan length (values), -1 none or grouped
        int planblock = 1;           // engine block reported with it, 1 without a plan
        short group = -1;            // group the slot shares a computation plan in, -1 none
        short sharemode = 3;         // 0 first of a group, 1 member, 2 last member, 3 alone
        bool marker = false;         // longest impulse below 16 samples (set by the load)
        bool groupused = false;      // group record of this index: in use
        void* groupbuffer = nullptr; // computation buffer passed along the group
        long grouplength = 0;        // its length, values
    };
    // Per-slot state of convolver configuration and the host chunk.
    struct SLOTSTATE {
        bool flag = false;
        int count = 0;
    };
    // What the host entry hands the block worker with each block; written by
    // the holder of the worker semaphore before the block starts.
    struct BLOCKREC {
        int frames = 0;       // samples to process: whole blocks
        int position = 0;     // ring index of the next sample; advanced per sample
        int period = 0;       // control period: program rate, samples
        double scale = 1.0;   // latched output scale
        int drydelay = 0;     // dry path delay, samples
        bool rebuild = false; // the program rate changed: rebuild the crossfade tables
    };

    // Builds the engine (see the field groups below for what each argument
    // feeds). Errors of the pool or of a member constructor pass out
    // unchanged, after everything built so far has been released.
    CorePrcs(CorePool* pool, CoreAnsx codepath, int rate, CoreBlnk* blink, CoreAnsx codename,
             bool nocache, bool keeplog, CoreFsys* shellfsys, CoreAnsx mastertext, bool diskoption,
             CorePlel* sharedcache);
    // Stops audio and the worker, releases every plan and deletes what the
    // constructor built. Never throws.
    ~CorePrcs();
    CorePrcs(CorePrcs const&) = delete;
    CorePrcs& operator=(CorePrcs const&) = delete;
    CorePrcs(CorePrcs&&) = delete;
    CorePrcs& operator=(CorePrcs&&) = delete;

    // Runs the whole boot once while it is pending; the boot-pending flag
    // afterwards (false at once when nothing was pending). Control thread.
    bool fboot();
    // The bank 0 setup file the boot reads and the folder its program files
    // are read from, both as the master settings name them (data path joined
    // to the plug-in's folder, sub-paths as read). The assembling thread,
    // before the boot.
    void btfls(CoreAnsx& setup, CoreAnsx& programs) const;
    // Of that setup's entries in file order (their SEQUENCE values, and
    // which carry LOAD), the one the boot reads into location 0 and the one
    // it boots, as program memory places them (CoreMmry::bootEntries into the
    // whole memory); -1 for none. Never sorts. Any thread.
    static void bootEntries(std::vector<int> const& sequences, std::vector<bool> const& loads,
                            int& first, int& boot);

    // ---- master settings (control or display thread, may block) -------------------
    // Puts the engine's values of the keys it owns into the master document.
    void chgms();
    // chgms, then writes the master document to the master file whole. False
    // (logged) when the file could not be written, or when the file that was
    // there did not parse or had no MASTER element (it is left untouched).
    bool savem();

    // ---- worker (CorePrcsThrd.cpp) --------------------------------------------------
    void Terminate() override; // asks the worker to end; it notices within 1 ms
    void Execute() override;   // engine worker: one command per wake-up
    // Test hook: the next n blocks throw before the block worker starts, as a
    // failing block would (n <= 0 clears it).
    static void failNextBlocks(int n);
    // The plan commands below run on the worker when threaded, else on the
    // caller's thread (control or display thread, may block); the caller
    // holds the engine and worker semaphores.
    // Releases both plans of slot s and deselects its engine.
    void setcf(short s);
    // Re-plans slot s on engine number engine with the selection values a..e
    // (block, kernel, FFT, part and total lengths); the engine block, 0 when
    // the plan failed.
    int setcf(short s, short engine, int a, int b, int c, int d, int e);
    // Loads slot s's computation plan over buffer (mode, length in values);
    // the buffer to share with the next slot, 0 when the plan failed, the
    // buffer itself when the slot has no player.
    void* setcd(short s, void* buffer, short mode, long length);
    // Engine semaphore, then worker semaphore (untimed, or taken by force
    // after ms); rlsep releases them in reverse. Control or display thread.
    void lockp();
    void lockp(int ms);
    void rlsep();

    // ---- host process entry (CorePrcsHost.cpp) ------------------------------------
    // Audio thread: no allocation, no file or log I/O, only the designed
    // locks. in: channels 1, 2 (3, 4 when channels >= 4), float or double;
    // out: channels 1, 2; frames samples; replace (single precision: false
    // adds to the host's output); level 4 renders offline; tempo bpm (0 none);
    // dbl: double buffers (always overwritten). Null buffers read as silence
    // and are not written.
    void prcss(void* const* in, void* const* out, long frames, bool replace, short level,
               double tempo, bool dbl, short channels) noexcept;
    // Bypass switch: on/off, time-out in ms (locks taken by force after it;
    // 0 waits without limit), clear the processing state, wait (mute and wait
    // up to 200 ms for the host to pass through the bypass path). Control or
    // display thread, may block.
    void smpby(bool on, int timeout, bool clear, bool wait);
    bool getby();       // bypass on
    void setby(bool b); // sets the bypass flag only (no locks, no ring clearing)
    // Zeroes the rings, the feedback buffer and, with engines, every player's
    // running state; with keepbypass the bypass ring, which may be playing,
    // is left as it is. Caller holds the engine and worker semaphores.
    void clepr(bool engines, bool keepbypass = false);
    // Moves the ring positions onto the base latency after a latency change;
    // zeroes the CPU figures. Caller holds the engine and worker semaphores.
    void setpp();
    void unbts(); // the boot starts again: step 0, program memory emptied

    // ---- host parameter writes and MIDI (CorePrcsParm.cpp) --------------------------
    // The shell keeps what a host sends with its process calls (parameter
    // writes, MIDI) waiting until the engine takes it: at the start of the
    // next process call that is not in bypass, after the engine lock, so a
    // write plays from that call on and never lands inside one.
    class Waiting {
    public:
        virtual ~Waiting() = default;
        virtual bool waits() = 0; // something waits; any thread, no lock
        // Hands every waiting write in through takpm and every MIDI message
        // through takmd, with the engine and worker locks held: on the audio
        // thread too, so no allocation, no log, no lock but the MIDI queues'
        // own. call: a process call's start (what the host sent during that
        // call waits for the next one); else between calls, everything.
        virtual void hndin(CorePrcs& engine, bool call) = 0;
    };
    // The shell's waiting record (borrowed; null none). Set before the first
    // process call and kept while process calls may come.
    void setwt(Waiting* w) { waiting = w; }
    // Hands in what waits between two process calls, for hosts that do not
    // process and for a chunk read: with the engine and worker locks waited
    // for (wait), or only when both are free at once. Nothing during the
    // boot, nor in bypass unless bypassed. True when handed in. Control or
    // host thread, not audio.
    bool takwt(bool wait, bool bypassed);
    // Inside hndin: interface control i takes the host's value (0..1); the
    // value it holds after (a control the program leaves unused keeps its own).
    double takpm(short i, double value) noexcept;
    // Inside hndin: one MIDI message (word as mdctr's) at frame of the call,
    // queued by frame for the block worker's modulation updates.
    void takmd(int frame, int word) noexcept;
    // Property 230's text of interface control i (0..9) once a host write
    // of fraction (0..1) is in, that write still waiting: worked out through
    // the same mapping, read only (nothing handed in, no modulator written).
    // Host thread, waits a few ms at most for the engine and worker locks.
    CoreAnsx ctlpd(long i, double fraction) noexcept;

    // ---- rate adaptation and block sizing (CorePrcsRate.cpp) ----------------------
    // Control or display thread unless said otherwise.
    // Program rates from a modulation period in us; caller holds the engine
    // and worker semaphores.
    void adjrt(long us);
    void updrt(long us); // adjrt under the engine and worker semaphores
    // Host sample rate, Hz; after the boot a program loaded at another rate
    // is reloaded at it. Takes the load lock.
    void irate(int rate);
    // The rate recorded for the boot (the host's rate call applies it), a
    // program update by try-lock, and the line of dropped host calls and
    // chunks (tellStalls); the control pass (bean 66), every pass.
    void updgu(int rate);
    void blksz(int frames); // host block size, samples
    void setrc(long us);    // rate-conversion limit; negative re-applies the stored one
    int getpf(int i);       // CPU load of meter i (0 block, 1 convolution), percent
    void mkesf(long n);     // crossfade tables of n + 1 entries; caller holds the locks
    // mkesf, or when the tables cannot be made smoothing off (logged);
    // answers whether the tables exist. Caller holds the locks.
    bool fadesOrOff(long n);
    bool setst(short order); // smoothing order; false when the program cannot smooth
    void setsp(short sel);   // slot 0's kernel set and the tables pointed at accordingly
    void adjhc();            // harmonics in use and smoothing order from the program
    void adjot();            // each loaded slot's extended-length switch from its engine

private:
    friend struct CorePrcsPeek; // tests read the fields; it adds no state

    // ---- construction helpers ---------------------------------------------------------
    void rdmst(CoreAnsx const& mastertext, int& threads, int& ippthreads, long& refresh);
    void rdkey(CoreNode* master, bool fromfile, int& threads, int& ippthreads, long& refresh);
    void setdp(CoreAnsx const& value, bool fromfile); // DATAPATH and the shell's archive
    void sizes(int threads);                          // sizes, latencies, ring positions
    void logms(int ippthreads);                       // the settings log lines
    void pcksk();                                     // the chosen skin
    void build();                                     // owned objects, in creation order
    void release() noexcept;                          // deletes whatever exists
    void teardown() noexcept;                         // destructor steps 1 to 6
    // The forced offset and the lookahead in samples at the rate in force,
    // from the microseconds this instance opened with, and the ring size
    // they need (WORKBUFFER's at least); false when beyond the largest ring.
    bool delaysAtRate(int& forced, int& ahead, int& size) const noexcept;
    // Every ring at size samples, zeroed: all the new blocks are allocated
    // before any old one is released, so a failed allocation (it throws)
    // leaves the old rings. Off the audio thread; once the instance runs
    // the caller holds the engine, worker and bypass semaphores, and sets
    // the positions under the same bypass section: the new size with the
    // old positions would send the bypass path outside its ring.
    void allocateRings(int size);
    // The ring positions of an instance that has played nothing, with the
    // loaded program's offset kept applied.
    void restPositions() noexcept;
    // The hand-off end on the block grid, the lookahead behind the input
    // write position; the frames between wait in the carry.
    void alignHandoff() noexcept;
    // A new rate's delays, rings and positions, as an instance opened at
    // that rate has them; the rings are cleared. The caller holds the
    // engine and worker semaphores, which keep the main path out; one
    // bypass section covers the new rings, their size, the delays, every
    // ring position and the bypass ring's clearing, so the bypass path sees
    // all of the old or all of the new. The other rings, the convolvers and
    // the program's lookahead follow outside it, under the engine's locks.
    void rateDelays();
    // A whole-number master setting held to lo..hi: a value outside is taken
    // at the nearest bound with one level-0 line naming the value written
    // (the file's text when given, else the number) and the value taken, a
    // tag line when read from the settings (bus false), a notice when
    // written on the bus.
    static long bndms(CoreAnsx const& tag, long value, long lo, long hi, bool bus,
                      CoreAnsx const* written = nullptr);
    // FORCEOFFSET as taken: at or below 0 "none", kept as -1 (with a line
    // only below what the file's reader takes), above 0 held to
    // 1..iCdelaylargest; as bndms.
    static long bndfo(long value, bool bus, CoreAnsx const* written = nullptr);
    // Posts a command to the worker and, when wait, blocks until it is done.
    // Caller holds the engine and worker semaphores; threaded only.
    void postc(short code, short slot, bool wait);
    void runcm(short code, short slot); // one command on this thread
    // Runs one planning command (1 or 4) and its completion (6), through the
    // worker when threaded; the plan-failure flag tells the result.
    void plan2(short code, short slot);
    // The block worker with its failure caught: a block that throws still
    // advances the produced end, leaving silence. Audio thread or worker.
    void runBlock() noexcept;
    // ---- host entry helpers (audio thread) --------------------------------------------
    // The process call's first step under the engine lock: what the shell
    // keeps waiting, handed in unless in bypass or the worker is stuck.
    void handIn() noexcept;
    Waiting* waiting = nullptr; // the shell's waiting writes and MIDI (borrowed)
    // The bypass path; false when the bypass ended while the call waited for
    // it (nothing was read or written: the call belongs to the program). A
    // call that does not get the bypass semaphore by end (callEnd) is
    // silence, counted with the stalls, and moves no position.
    bool bypss(void* const* in, void* const* out, long frames, bool replace, bool dbl, double end,
               short level) noexcept;
    // The boot's end: the program takes over from the bypass without a gap.
    // Its input ring receives what the bypass ring holds, its convolvers
    // hear the held input before its first block (here, while the bypass
    // still plays), and the output the host reads before that block is the
    // bypass's delayed input, so the output goes from dry to the program
    // once and stays there. Caller holds the engine and worker semaphores;
    // control or display thread, may block.
    void bootHandover();
    // The bypass ring's newest frames of input, scaled by ratio, into the
    // input ring right behind its write index; with advance both host
    // positions first move on by frames (the frames arrived since the last
    // take). Caller holds the three semaphores.
    void takeBypassed(int frames, double ratio, bool advance) noexcept;
    // The convolvers hear frames of the input ring from start (whole steps),
    // their output dropped, after the program's first update when it is
    // still due: nothing else of the program moves (no later update, no
    // output stage, the smoothing position kept). Caller holds the engine
    // and worker semaphores.
    void hearBlocks(int start, int frames) noexcept;
    // The bypass's delayed input into the output the host reads up to the
    // produced end, then the switch from the bypass to the program. Caller
    // holds the three semaphores.
    void switchOver() noexcept;
    void cpuFigures() noexcept;          // CPU figures, refreshed on the blink clock's fall
    void pickRate(short level) noexcept; // real-time or offline program rate by the level
    void fillRecord(int whole) noexcept; // block record for whole samples; hands them off
    bool waitOutput(int chunk) noexcept; // threaded: produced end chunk ahead; false on time-out
    bool takeWorker() noexcept;          // worker semaphore, bounded; false on time-out
    // The two waits above: ready asked until it answers true, within
    // kWorkerWaitMs under their stuck rule; a time-out counts with the stalls.
    template <class F> bool workerWait(F&& ready) noexcept;
    bool catchUp() noexcept;                // runs the whole blocks of the carry inline
    void silentBlocks(int whole) noexcept;  // zero step: silence in place of the block worker
    int dist_(int a, int b) const noexcept; // a forward to b; 0 when equal
    int space(int a, int b) const noexcept; // free space from a write to b read; N when equal
    int wrap_(int i) const noexcept;        // i into 0 .. N - 1
    double heldGain() noexcept;             // Gain out in force (the program's control), linear
    void fillGain(int from, int frames, double gain) noexcept; // gain ring positions from on
    // The end of a host call's waits for the bypass and engine semaphores,
    // ms on CoreXutl::tgtme's clock, one bound for both, by the host's
    // process level: in real time (2, 3) the call's own length, offline (4)
    // none, at any other level kWorkerWaitMs, or no wait at all once such a
    // wait ran out until a call gets its semaphore again.
    double callEnd(long frames, short level) const noexcept;
    // lock for a host call at level, tried with pauses of at most 0.1 ms
    // until end. False on time-out, counted with the stalls; the caller then
    // holds nothing.
    bool takeUntil(CoreSmph& lock, double end, short level) noexcept;
    // The Gain out in force into the positions the output stage reads before
    // the host writes them again, after the input positions moved. Caller
    // holds the engine and worker semaphores.
    void holdGain() noexcept;
    // ---- rate helpers --------------------------------------------------------------------
    // A level-0 line with the running total of dropped host calls and chunks
    // when it moved: at once at its first move, then at most once a second;
    // closing tells a total not yet told at once.
    void tellStalls(bool closing) noexcept;
    void decideHandoff() noexcept;  // hand-off flag and current block from step and host block
    void resetSmoothing() noexcept; // selector 0, slot 0 on the falling table
    void applyRate(int rate);       // a new sample rate, with the program's rates
    // The playing program's kernels were built for another rate than the one
    // in force. Caller holds the engine and worker semaphores.
    bool rateStale() const noexcept { return loadedrate >= 1 && loadedrate != samplerate.load(); }
    static CoreAnsx join_(CoreAnsx const& folder, CoreAnsx const& name); // folder/name

    // ---- failed flag ----------------------------------------------------------------
    bool failed = false; // set by nothing after construction; gates every entry

    // ---- borrowed ---------------------------------------------------------------------
    CorePool* pool = nullptr;        // every numeric buffer, tag "PRCS"
    CoreBlnk* blink = nullptr;       // CPU figures' clock, handed to the program
    CoreFsys* shellfsys = nullptr;   // the shell's item store; may be null
    CorePlel* sharedcache = nullptr; // process-wide kernel cache, handed to the program
    bool diskoption = false;         // second option of the engine's item stores; saving
    bool nocache = false;            // program memory without its cache folder
    bool keeplog = false;            // the log's folder and level are left alone

    // ---- paths and names ----------------------------------------------------------------
    CoreAnsx codepath;       // folder of the plug-in and the master file
    CoreAnsx codename;       // plug-in name; "0" none
    CoreAnsx masterfilename; // code name with ".xml", or VORLAN2.XML
    CoreAnsx masterpath;     // code path + master file name
    CoreAnsx installerpath;  // master path with "_installer" before the extension
    CoreAnsx chosenskin;     // SKINNAME, or one picked at random; "" none
    CoreAnsx debugpath;      // data path + "DEBUG/"

    // ---- master settings, one per key (reading order) -----------------------------------
    CoreAnsx magic{"0"};                // MAGIC, first four characters; "0" none
    CoreAnsx datapath;                  // DATAPATH: root of programs, vectors, setups, skins, cache
    short debuglevel = 0;               // DL
    bool fastboot = false;              // FASTBOOT
    bool scanboot = true;               // SCANBOOT
    bool frozenboot = false;            // FROZENBOOT
    bool nodrop = false;                // NODROP
    bool autothread = true;             // AUTOTHREAD
    long rateconversion = 0;            // RATECONVERSION, us
    long programrateus = 3000;          // PROGRAMRATE, us
    long aheadlength = 3000;            // AHEADLENGTH, us (also the written-back value)
    long guirate = 40000;               // GUIRATE, us
    int exportquality = 1;              // EXPORTAUDIOQUALITY
    long ltimed = 10000;                // LTIMED, us
    long lfreqd = 1000000;              // LFREQD, us
    long forceoffset = -1;              // FORCEOFFSET, us; above 0 switches delay compensation on
    long openedoffset = -1;             // FORCEOFFSET this instance opened with, us
    long openedahead = 0;               // AHEADLENGTH this instance opened with, us
    short forcolumn = 24;               // FORCOLUMN
    CoreAnsx programsub{""};            // PROGRAMSUBPATH
    CoreAnsx vectorsub{""};             // VECTORSUBPATH
    CoreAnsx setupsub{""};              // SETUPSUBPATH
    CoreAnsx skinsub{""};               // SKINSUBPATH
    CoreAnsx dictionarysub{""};         // DICTIONARYSUBPATH
    CoreAnsx skinname{""};              // SKINNAME as read or chosen on the master page (beansem)
    CoreAnsx cachesub{""};              // CACHESUBPATH; present switches the program cache on
    bool cachepresent = false;          // CACHESUBPATH was present
    CoreAnsx setupromname{""};          // SETUPROMNAME
    CoreAnsx dictionaryromname{"NULL"}; // DICTIONARYROMNAME
    int workbuffer = 32000;             // WORKBUFFER as read
    int dspbuffer = 8192;               // DSPBUFFER as stored (bean 236), not the processing block
    int threadsmindim = 2048;           // THREADSMINDIM: minimum threaded block
    short metertype = 2;                // METERTYPE
    short otimed = 3;                   // OTIMED: preferred direct engine
    short ofreqd = 11;                  // OFREQD: preferred FFT engine
    short hdim = 1;                     // HDIM: harmonics limit
    short hdimmax = 10;                 // HDIMMAX: harmonic convolver slots
    double defaulttempo = 120.0;        // BPMDEFAULT / 1000, bpm
    short fontcolour = 0;               // FONTCOLOUR
    short loaderpriority = 1;           // LOADERPRIORITY
    short mode = 1;                     // MODE
    short altcount = 0;                 // ALTERNATIVEDATAPATH entries
    CoreAnsx* altpaths = nullptr;       // new[altcount] (null when none), upper-cased
    short fixedquality = 0;             // 4 when FIXEDQUALITY is on, else 0
    double protectiondb = dCprotectiondb; // PROTECTIONDB, dB
    bool legacystereo = true;             // LEGACYSTEREOCHANNEL

    // ---- what the reader leaves for the boot ----------------------------------------------
    bool masterpresent = false;   // the document had a MASTER element
    bool installermerged = false; // the installer file existed and was merged
    bool fastbootmissing = true;  // FASTBOOT was absent
    bool otimedmissing = true;    // OTIMED was absent
    bool dspbuffermissing = true; // DSPBUFFER was absent
    bool masterbroken = false;    // a master file or text was there but gave no MASTER
    CoreAnsx masterwhy{""};       // why one that was there gave none, "" none
    CoreAnsx bankwhy{""};         // why the boot's read of bank 0 failed (CoreMmry::loads)

    // ---- derived sizes, rates and delays ----------------------------------------------------
    // Rate in force, samples/s: written under the engine and worker
    // semaphores, read by the bus's getters without them.
    std::atomic<int> samplerate{0};
    std::atomic<int> requestedrate{0}; // last rate given to irate or updgu
    int processingblock = 0;           // DSPBUFFER, at least 16, a power of two; samples
    int currentblock = 0;              // block unit of hand-offs, samples
    int currentblock2 = 0;             // its second copy
    int ringsize = 0;                  // every ring, a power of two; samples
    int ringwrap = 0;                  // ringsize - 1
    bool threaded = false;             // the worker thread runs the commands
    bool handoff = false;              // blocks go to the worker one block behind
    int extralatency = 0;              // processing block when threaded, else 0
    int baselatency = 0;               // processing block + extra latency, samples
    int forcedoffset = -1;             // FORCEOFFSET in samples; -1 off
    int lookahead = 0;                 // AHEADLENGTH in samples when FORCEOFFSET is on
    int inwrite = 0;                   // input ring write index
    int outread = 0;                   // output ring read index
    int handedend = 0;                 // end of the input handed to the block worker
    int producedend = 0;               // end of the output produced (ring-position semaphore)
    int carry = 0;                     // input frames not yet handed off
    int bypasswrite = 0;               // bypass ring write index
    int bypassread = 0;                // bypass ring read index
    std::uint64_t bypassframes = 0;    // frames the bypass path has taken in (bypass semaphore)
    double protectionlimit = 0.0;      // output above it is muted, linear
    double overflowhold = 0.0;         // overflow indicator hold, days
    double inputgain = 1.0;
    double outputgain = 1.0;
    double outputscale = 1.0;
    std::atomic<double> bypasslevel{1.0}; // 0.0 while a muting bypass is in force
    int drydelay = 0;                     // dry path delay, samples (program load)
    bool fourinput = false;               // side ring present (program load)
    bool invisible = false;               // no host-side pacing (INVISIBLETHREAD or NODROP)
    bool workeronly = false;              // every block runs on the worker (convolver setup)
    int step = 0;                         // engine step, samples (convolver setup); 0 plays silence
    int hostblock = 0;                    // the host's block size, samples
    std::atomic<double> tempo{120.0};     // last non-zero tempo from the host, bpm
    short processlevel = 0;               // last level: host level OR fixed-quality value
    std::atomic<bool> processed{false};   // a normal host call has ended
    std::atomic<bool> ratechange{false};  // program rate changed; the block worker clears it
    bool blinkphase = false;              // last phase of the blink clock
    BLOCKREC record;                      // the block in hand (worker semaphore's holder)
    int countdown = 0;                    // samples until the next modulation update
    int crossfadepos = 0;                 // countdown at the last table swap
    std::atomic<int> stalls{0};           // host calls and chunks dropped: waits that timed out
    bool stuck = false;                   // the last wait timed out (audio thread only)
    std::atomic<bool> enginestuck{false}; // the last level-0/1 bypass or engine wait timed out
    std::atomic<int> stallsreported{0};   // of those, already logged (the pass, updgu)
    // When the last line of them was written, ms on CoreXutl::tgtme's clock; long ago at first.
    std::atomic<double> stallsline{-1.0e300};
    int bootstep = 0;                     // next boot step
    std::atomic_int delaycompensation{0}; // reported latency, samples (loads, bus reads)
    // The sample rate the playing program's kernels were built for, Hz; 0
    // none (engine and worker semaphores; set by each program load).
    int loadedrate = 0;

    // ---- rate adaptation (engine and worker semaphores) ------------------------------------
    long programperiod = 3000; // modulation period requested, us
    std::atomic<long> effectiveperiod{
        3000};                 // that period after rounding to the step, us (bus reads)
    int realtimerate = 1;      // samples between modulation updates in real time
    int offlinerate = 1;       // the same when rendering offline
    int programrate = 1;       // the one in force
    double cpufigures[2] = {}; // seconds per sample: 0 block worker, 1 convolution (meter sem)
    std::atomic<int> cpupercent[2] = {}; // last getpf results
    short smoothorder = -1;              // SMOOTH in force; below 0 no smoothing path
    short smoothselector = 0;            // slot 0's active kernel set
    bool smoothcapable = false;       // the smoothing path's work slot is prepared (program load)
    bool hybrid = false;              // FORCEHYBRID (program load)
    short programharmonics = 0;       // harmonic slots the program loaded, capped by its HDIM
    short loadedslots = 0;            // harmonic slots the program loaded
    short harmonicsinuse = 0;         // min(program harmonics, HDIM)
    std::atomic<bool> updated{false}; // the program has been updated
    long tablecapacity = 0;           // doubles in each crossfade table

    // ---- worker command (written by the worker semaphore's holder) -----------------------
    short command = iCcmdnothing; // code run at the next wake-up
    short commandslot = 0;        // convolver slot it applies to
    bool planfailed = false;      // commands 1 and 4: not the plan result

    // ---- owned objects, in creation order ------------------------------------------------
    CoreMidi* midi = nullptr;       // MIDI learn
    CoreTime meters[2];             // 0 whole block worker, 1 convolution kernels
    CoreXml_* masterdoc = nullptr;  // the master settings document, for the engine's life
    CorePbol bootpending{true};     // true until the boot completes (bean 46)
    CorePbol bypass{true};          // true while bypass is on (bean 53)
    CorePbol overflow{false};       // an output sample exceeded 1.0
    CorePbol bypassstate{true};     // last requested bypass state (bean 258)
    CoreCubr* bridge = nullptr;     // GPU bridge
    CNVLLOC* cnvls = nullptr;       // HDIMMAX + 1 convolver slots
    SLOTSTATE* slotstate = nullptr; // HDIMMAX + 1 records
    short cnvlcount = 0;            // slots in cnvls (HDIMMAX + 1)
    CoreAnsx* textlist = nullptr;   // read by getbs, cleared by setbv; new[] or null
    int textcount = 0;
    // The host chunk's answers, one buffer per reading thread: a host copies
    // what it was handed after the call has returned, so a thread's answer
    // stays whole until that thread's next read or the close, whatever the
    // others read meanwhile. iCchunkreaders threads hold one each; a further
    // thread takes the one read least recently that no read is filling (it
    // waits while all are), and the thread it came from gets another at its
    // next read. The table is under chunklock; a buffer is grown and filled
    // by its holder outside it (filling marks that).
    static constexpr int iCchunkreaders = 8;
    struct CHUNKANSWER {
        std::thread::id reader{};   // the thread it answers; none before its first read
        char* buffer = nullptr;     // size bytes (pool); made at the first read, freed at teardown
        int size = 0;               // bytes, at least CoreMmry::iCchunkbufferdim once made
        std::uint64_t lastread = 0; // chunkreads at its holder's last read; 0 never read
        bool filling = false;       // its holder is growing or filling it
    };
    CHUNKANSWER chunkanswers[iCchunkreaders];
    std::uint64_t chunkreads = 0;      // reads that took an entry (chunklock)
    std::mutex chunklock;              // leaf: the table above, never a buffer's bytes
    std::condition_variable chunkfree; // an entry's filling ended

    CoreMmry* memory = nullptr; // program memory
    // The seven locks, in creation order (see the lock order above).
    CoreSmph enginesem; // host call, configuration changes; always first
    CoreSmph sparesem;  // each boot call
    CoreSmph bypasssem; // bypass path and bypass switch
    CoreSmph workersem; // command hand-off to the worker; always second
    CoreSmph smoothsem; // swap of the crossfade tables
    CoreSmph metersem;  // the two CPU figures
    CoreSmph ringsem;   // the worker's output position
    // The program document and the program built from it: loads, write-backs
    // and reads of the document from any thread; taken before enginesem.
    CoreSmph loadsem;
    double* meterreadings = nullptr;         // iCmeters doubles (pool)
    CoreEnvf* meterfollowers[iCmeters] = {}; // metering followers
    double* inring[iCchannels] = {};         // ringsize doubles each (pool)
    double* gainring = nullptr;              // ringsize doubles (pool): Gain out, linear
    double* outring[iCchannels] = {};        // ringsize doubles each (pool)
    double* bypassring[iCchannels] = {};     // ringsize doubles each (pool)
    double* sidering[iCchannels] = {};       // four-input side ring; only while that is on
    double* powerbuf[iCchannels] = {};       // processing block each (pool)
    double* workbuf[iCchannels] = {};        // processing block each (pool)
    double* feedbackbuf[iCchannels] = {};    // processing block each (pool)
    double* fallingtable = nullptr;          // crossfade 1 -> 0 (pool; mkesf)
    double* risingtable = nullptr;           // its complement (pool; mkesf)
    double* slot0table = nullptr;            // the table slot 0 fades with
    double* worktable = nullptr;             // the table the work slot fades with
    short* metermodes = nullptr;             // iCmetermodes shorts, all 3 (pool)
    double* meterlevels = nullptr;           // iCmeterlevels doubles, all 0 (pool)
    CoreVars* vars = nullptr;                // batch machine variables
    CoreXml_* programdoc = nullptr;          // document of the loaded program
    CoreFsys* programfsys = nullptr;         // item store of the program
    CoreFsys* secondfsys = nullptr;          // item store of loading and saving
    CoreDcry* dictionary = nullptr;          // category dictionary; null when it did not parse
    CoreTevn workevent;                      // wakes the worker
    CoreTevn bypassevent;                    // set by each pass through the bypass path
    CorePmsg* messages = nullptr;            // loader's progress and error rows
    CoreProg* program = nullptr;             // the program

    // ==== property bus ("beans") ===========================================================
    // CorePrcsBean.cpp (getters), CorePrcsBeanSet.cpp (setters and actions),
    // CorePrcsLoad.cpp (updld, getts, gettp, iscst), CorePrcsDesc.cpp (setds),
    // CorePrcsBtch.cpp (batch machine), CorePrcsSave.cpp, CorePrcsChnk.cpp.
public:
    // The index record of a bus call, the one type the display's bus uses
    // too; each property's layout is decided in CoreBnid.
    using BEANSTRUCT = CoreBnid::BEANSTRUCT;

    // The thirteen accessors. Any thread that holds the engine (control,
    // display, host UI thread, the shell while it opens), concurrently; never
    // the audio thread. None throws: a failure is logged and answers the
    // default. A failed engine answers false, 0, 0.0 or "0"; an id an
    // accessor does not serve answers false, 0, 0.0 or "" and a setter
    // ignores it; an element outside its table answers the default (logged).
    bool getbb(int id, BEANSTRUCT* index) noexcept;
    short getbh(int id, BEANSTRUCT* index) noexcept;
    int getbi(int id, BEANSTRUCT* index) noexcept;
    long getbl(int id, BEANSTRUCT* index) noexcept;
    double getbd(int id, BEANSTRUCT* index) noexcept;
    CoreAnsx getbs(int id, BEANSTRUCT* index) noexcept;
    void setbb(int id, bool value, BEANSTRUCT* index) noexcept;
    void setbh(int id, short value, BEANSTRUCT* index) noexcept;
    void setbi(int id, int value, BEANSTRUCT* index) noexcept;
    void setbl(int id, long value, BEANSTRUCT* index) noexcept;
    void setbd(int id, double value, BEANSTRUCT* index) noexcept;
    // false: the write was refused (during the boot, or a file name refused)
    bool setbs(int id, CoreAnsx value, BEANSTRUCT* index) noexcept;
    void setbv(int id, BEANSTRUCT* index) noexcept; // an action without a value

    // GUI-rate meter update (bean 81): overflow copy, change indicators and
    // levels; never waits for the audio path. Answers the new-levels flag as
    // it was on entry (and clears it). Control or display thread.
    bool updld();
    long getts();                    // longest tail of the processed harmonics, samples; may block
    static short gettp(short level); // 0, 2, 3, 4 stay; anything else is 1
    static bool iscst();             // always false
    // Rewrites DESCRIPTION of the program document inside the program archive
    // at path and writes the archive back; nothing is written when no item of
    // the archive is its program. Control or display thread, may block.
    void setds(CorePool* pool, CoreAnsx path, CoreAnsx description);

    // ---- batch machine (CorePrcsBtch.cpp) ----------------------------------------------
    // One step of the chain the store names in NEXTSTEP: its work, its line
    // in message and the next step; false after a step, true when the chain
    // ended (bypass then off). A step that throws ends the chain with an
    // error line. Display thread (through bean 226), may block; never throws.
    bool batch(CoreVars* store, CoreAnsx& message) noexcept;
    // Test hook: the next n steps throw before their work, as a failing
    // step would (n <= 0 clears it).
    static void failNextSteps(int n);
    static constexpr int iCtestwait = 5000; // ms the TEST step keeps audio in bypass
    // Test hook: the TEST step waits ms instead (ms <= 0 restores iCtestwait).
    static void testStepWait(int ms);
    static inline const CoreAnsx sCsavefailed{"SAVE FAILED"};  // line of a save not written
    static inline const CoreAnsx sCbatchfailed{"BATCH ERROR"}; // line of a step that threw
    static inline const CoreAnsx sCloadfailed{"LOAD FAILED"};  // line of a bank file not read
    static inline const CoreAnsx sCnoprogram{"NO PROGRAM"};    // line of a load with none in use

    // ---- saving and versioning (CorePrcsSave.cpp) ---------------------------------------
    // Control or display thread, may block (file writes). Callers hold the
    // load lock; the batch steps also hold the engine and worker locks.
    // Saves the current program to its file: folder "0" is the folder it was
    // found in; asis false first writes the live program into its document.
    // A plain program rewrites its XML file only; an archive program gets a
    // new archive with its other items kept byte for byte. False (logged,
    // old file intact) when nothing was written, also under fallback or when
    // the current slot no longer holds the loaded program; the failure is
    // then kept for the display's error line (svfld).
    bool svprf(CoreAnsx const& folder, bool asis);
    // Close has begun: a version waiting for the bank's lock stops waiting.
    // Any thread.
    void endbk();
    CoreAnsx getnp();                 // proposed version name ("" without a program file)
    void setpf(CoreAnsx const& name); // current slot's program file name (and vector file)

    // ---- host chunk (CorePrcsChnk.cpp) ----------------------------------------------------
    // The current location as a setup document, or "NOCHUNK": data points at
    // the calling thread's buffer (valid until that thread's next call, for
    // up to iCchunkreaders threads; it grows for a program larger than
    // 131072 bytes); the size handed over is the text's length with its
    // zero byte. 0 for a failed engine. Host threads, may block.
    int getck(void** data) noexcept;
    // Reads such a document (at most size bytes, up to a zero byte) into
    // program memory and loads its program, booting first when needed.
    // True when the chunk's program was placed and now plays (location 0
    // not standing in for it), or the chunk is "NOCHUNK"; a refused chunk
    // changes nothing. Host thread, may block.
    bool setck(void* data, long size) noexcept;
    // True when setck would take the chunk (a whole setup document, or
    // "NOCHUNK"); nothing changes. Host thread.
    bool ckchk(void* data, long size) noexcept;

private:
    // One accessor call: failed engine and exceptions answered with fallback.
    template <class T, class F>
    T bean_(T fallback, char const* accessor, int id, F&& body) noexcept;
    static void beanf(char const* accessor, int id) noexcept; // logs a failure caught by bean_
    // Element checks: the element object, or null (logged) when out of range.
    CoreIfce* ifce_(long i, char const* what);
    CoreLfo_* lfo__(long i, char const* what);
    CoreFun_* fun__(long i, char const* what);
    CoreEnvf* envf_(long i, char const* what);
    CoreDynm* dynm_(long i, char const* what);
    CoreEnv_* env__(long i, char const* what, long entry);
    CorePrm_* prm__(long i, char const* what);
    bool vslot(long i, char const* what);         // vector slot 0 .. HDIMMAX
    void setctl(long i, double value, bool main); // 155 / 156 with the change test
    CoreAnsx ctltx(int id, long i);               // 229 .. 231 text, under the try-locks
    // The same, locks held; with pending, 230 as it reads once the main slot
    // is at that fraction.
    CoreAnsx ctltxLocked(int id, CoreIfce* control, double const* pending = nullptr);
    CoreAnsx ctlpdBody(long i, double fraction); // ctlpd, which catches
    // 230's mapping: through the bound modulator prm (null none), else the
    // control's own value (a gain's as its level); at the fraction pending
    // when given, read only.
    CoreAnsx ctlvl(CoreIfce* control, CorePrm_* prm, double const* pending);
    // The live program back to its location, then that location reloaded
    // (84, and a host rate the playing kernels were not built for). reload
    // takes the load lock; reloadHeld wants it held and reloads only when the
    // pending state, read under the engine and worker locks, is booting: the
    // boot's own reload leaves the bypass ring and writes nothing back.
    void reload();
    bool reloadHeld(bool booting);
    // Batch helpers (CorePrcsBtch.cpp).
    bool runStep(CoreAnsx const& step, CoreVars* store, CoreAnsx& message); // false: unknown
    CoreAnsx loadStep(CoreVars* store, bool fromcurrent); // the load of a step; its line
    // What the save of a version decided: its file written, and whether it
    // joins bank 0's setup file (why not, when it does not).
    struct VERSIONSAVE {
        bool saved = false; // the version's file was written
        bool joins = false; // its file is to join bank 0's setup file
        CoreAnsx why{""};   // why it does not join
    };
    // Saves a version of the current program under name in the next free
    // location (the place the next boot gives it when it joins the bank,
    // given the bank's entries as bankEntries counted them, -1 with why in
    // unread); once saved, the current slot is the version's.
    VERSIONSAVE saveVersion(CoreAnsx const& name, int entries, CoreAnsx const& unread);
    // A save that failed: one level-0 line with the file and the reason (the
    // system's, or the refusal's), and shown kept as the line the display
    // puts on the page the user returns to (saveerror). Any thread but audio.
    void svfld(CoreAnsx const& file, CoreAnsx const& reason, CoreAnsx const& shown);
    // A save starts, or the user clicked or typed: the last failure's line goes.
    void clearSaveError();
    // svprf's work; an archive program written to a new file takes the other
    // items (impulse files, notes) of the archive from (a version's source).
    // createNew (a version) writes a new file only, never in place of
    // anything at its name (CoreButl::wrnew).
    bool saveProgram(CoreAnsx const& folder, bool asis, CoreAnsx const& from,
                     bool createNew = false);
    // The entries of bank 0's setup file (SETUPROMNAME), counted up to a
    // full bank; -1, with why in reason, when there is none or it does not
    // read. Reads the file without its lock, and is called before the
    // engine's locks are taken: another instance may be writing it.
    int bankEntries(CoreAnsx& reason);
    // The place a version of location from takes given the bank's entries
    // (bankEntries' answer and reason): N, when it joins the bank (from in
    // bank 0, a bank that reads with fewer than 100 entries), so that at the
    // next boot it is read into the place it has now and moves no program;
    // else -1, with why in reason.
    static int versionJoins(int from, int entries, CoreAnsx& reason);
    // After a version of location loc was saved: its file joins bank 0's
    // setup file when the save found that it joins. A version that does
    // not, or one the bank file did not take, is reported as saved and not
    // in the bank. Holds none of the engine's locks: the bank's lock may
    // be waited for.
    void joinBank(int loc, VERSIONSAVE const& version);
    int chunkOut(void** data);           // getck's work
    bool chunkIn(void* data, long size); // setck's work
    // The calling thread's answer entry, marked filling; chunkDone ends that.
    CHUNKANSWER& chunkTake();
    void chunkDone(CHUNKANSWER& answer) noexcept;
    // Whether a file name from the bus or a batch variable (from names it
    // for the log) may name one of our files: inside its folder and, for a
    // version (single), one component. A refusal is logged once, level 0.
    // extension: the one the file will be written with, when the name gets
    // one; the file name as written must fit the limit too.
    static bool nameUsable(CoreAnsx const& name, char const* from, bool single,
                           CoreAnsx const& extension = CoreAnsx(""));
    // Set-side helpers by kind (CorePrcsBeanSet.cpp).
    void setModulatorText(int id, BEANSTRUCT const& x, CoreAnsx const& value);
    void setModulatorDouble(int id, BEANSTRUCT const& x, double value);
    // Get-side helpers by kind (CorePrcsBean.cpp).
    bool modulatorBool(int id, BEANSTRUCT const& x, bool& served);
    double modulatorDouble(int id, BEANSTRUCT const& x, bool& served);
    CoreAnsx modulatorText(int id, BEANSTRUCT const& x, bool& served);

    // ---- bus state: what the bus itself keeps --------------------------------------------
    // bean 83: interface control the mouse wheel drives, -1 none. The display
    // sets it when the user chooses a parameter row; a program selected ends
    // the choice, as the rows then show another program's controls.
    std::atomic_long wheeltarget{-1};
    CoreAnsx archivepath{""};  // bean 233: archive bean 234 edits
    CoreAnsx listfolder{""};   // bean 237
    CoreAnsx listmask{""};     // bean 238
    CoreAnsx batchname{""};    // bean 223: pending batch variable name
    CoreAnsx batchmessage{""}; // bean 226: message of the last batch step
    // The newest failed save's display line, or a bank save's that marked
    // no boot program where the bank had one; "" none (bean lock).
    CoreAnsx saveerror{""};
    int bootcounter = 0;       // bean 145 (int): step of the last boot call
    CoreAnsx bootmessage{""};  // bean 145 (text): line of the last boot call
    bool bootfirst = false;    // bean 146
    bool bootlast = false;     // bean 147
    bool bootresult = false;   // bean 148
    bool midilearning = false; // bean 181: learn flag of the slot bean 180 read
    int midiquery[4] = {};     // beans 182..185: status, controller, channel, value
    CoreAnsx ctltext[3][10];   // beans 229..231: last text per control (bean lock)
    CoreSmph beansem;          // leaf: guards ctltext and the bus's texts above
    bool overflowcopy = false; // bean 218 as the last updld left it

    // ---- engine state the bus serves that the boot and the loader write -----------------
    std::atomic<int> currentslot{0}; // bean 67: the memory location that plays (any thread reads)
    bool programselected = false;    // bean 88 sets it: a location was selected
    std::atomic<unsigned> askedloads{0}; // loadSelect calls other than a host restore
    bool booterror = false;              // a boot step failed (bean 88 then loads location 0)
    CoreAnsx bridgeversion{"NULL"};      // bean 40: the GPU bridge's version as the boot read it
    // bean 254: the four-input switch: the side ring may be made (the host
    // gives inputs 3 and 4); set by the shell before the boot.
    std::atomic<bool> queueallow{false};
    std::atomic<bool> queueallocated{false}; // bean 255: the side ring is held (mirrors fourinput)
    // The text of a host restore whose program fell back, handed back by
    // getck in place of location 0's until another program is requested;
    // "" none. Under the load lock.
    CoreAnsx restoredchunk{""};

    // ==== block worker (CorePrcsBlck.cpp) and convolver planning (CorePrcsPlan.cpp) ====
public:
    // Block worker: processes the frames of the block record. Engine worker
    // or audio thread, with the engine and worker semaphores held.
    void prcss();
    // MIDI learn and control input; ignored while the boot is pending.
    // Control or display thread (mdupd also inside the block worker).
    void mdupd(CoreMidi::MIDISLIDERCALLBACKINFO* info); // 8 entries: changed ones set MIX i
    void mdctr(int frame, int word); // word: channel, status, data 1, 2 (low first)
    void mdctr(int frame, int channel, int status, int data1, int data2);
    void setms(short slot, int status, int controller); // MIDI learn slot binding
    void setiv(short i, double value, bool flag);       // interface control i (fraction)
    void updpm();                       // GUI-rate program update, by try-lock; display thread
    void clean();                       // processing state cleared (host suspend); not in bypass
    void setmt(short type, bool force); // detector type of the metering followers

    // Convolver configuration. Callers hold the engine and worker semaphores
    // (adjoc, adjop, setck) or take them (setop, setof, setod, setco, cnfop).
    // Control or display thread, may block.
    bool adjoc(short engine, int size); // every slot planned; size >= 1 replaces the lengths
    bool adjop(short engine);           // adjoc(engine, -1) under the bypass semaphore
    bool setop(short engine);           // below 1: the engine in force; then setck
    bool setof(short engine);           // default block engine; false when refused
    bool setck();                       // shared computation plans; false when a group failed
    void setod(short slot, short sel, double us);  // normal (0) or extended (1) length of a slot
    void setco(short slot, double us);             // extended fade-out of a slot
    double getmo(short slot);                      // largest extended fade-out, us
    double getco(short slot);                      // extended fade-out, us
    double getod(short slot, short sel);           // normal (0) or extended (1) length, us
    double getib(short slot, short sel, bool ext); // fade-out end (0) or bound (1), us
    bool getoe(short slot, short sel);             // 1: block engine; 0: engine not in blocks
    void setmc(long i, int n);                     // wheel step of interface control i: 1 / n
    void cnfop();                                  // times engines 1 to 5; the fastest in force
    // Points slot s's kernels and kernel-changed flag at the program's
    // outputs (the work slot at the hybrid slot's or slot 0's second pair)
    // and passes FORCEMONO. After every program change of the outputs.
    void bindSlot(short s);

private:
    // Plans slot s on engine with the program's lengths (size >= 1 replaces
    // them); the engine block, 0 when failed or larger than a processing block.
    int planSlot(short s, short engine, int size);
    void planFlags(short s);        // the error, CPU, worker-only and granularity flags from slot s
    void planReset();               // step 0 and the flags before a re-plan
    bool usesBlocks(short s) const; // slot s's engine works in blocks
    short workSlot() const { return hdimmax; }
    short hybridSlot(short slot) const { return hybrid && slot == 0 ? hdimmax : slot; }
    // The work slot plays slot 0's second kernel set: smoothing is on, or off
    // in a program that can smooth, where it stays planned, bound and fed.
    bool smoothPath() const { return !hybrid && (smoothorder >= 0 || smoothcapable); }
    // Block worker helpers (audio thread or worker).
    void convolve(int p) noexcept;     // the harmonic case for one step at p
    void modulate() noexcept;          // one modulation update
    int aheadSamples() const noexcept; // Lookahead control x program lookahead, in the ring
    bool outputStage(int p, bool mute) noexcept; // one step's output; the mute flag after it
    // Smoothing off on the smoothing path: the work slot hears the input, unplayed.
    void feedWork(double const* inL, double const* inR) noexcept;

    // Block worker state (worker semaphore's holder).
    bool feedback = false;                 // the program has feedback (load)
    double feedbackgain = 0.0;             // feedback factor x Feedback control
    bool feedbacksuspended = false;        // an overflow: no feedback until the next update
    bool dry = false;                      // the Gaindry control is bound (load)
    double drygain = 0.0;                  // dry gain x Gaindry control, linear
    double programahead = 0.0;             // program lookahead, samples (load)
    int aheadoffset = 0;                   // Lookahead control x lookahead length, samples
    double lastoutput = 0.0;               // last left output sample
    std::atomic<double> overflowtime{0.0}; // last overflow, days
    std::atomic<bool> newlevels{false};    // a block fed the meters (read and cleared)
    // A control moved by setiv, mdupd or the bus only puts the overflow
    // indicator out: no reader wants a mark of the move (the display follows
    // each control's own change indicator, bean 220), so none is kept.
    int straddles = 0; // steps over the ring end played as silence (never expected)
    // Planning state (engine and worker semaphores).
    bool planerror = false; // some slot fell back from its requested engine
    bool planoncpu = true;  // every slot's engine runs on the CPU
    int granularity = 0;    // largest block granularity of the slots' engines

    // ==== boot (CorePrcsBoot.cpp) and program loading (CorePrcsLoadStages.cpp) ====
public:
    // One boot step (all false) or every remaining one: step run, its line,
    // first (step 0) and last (step 11); false once a step has failed. Holds
    // the spare semaphore. Control, display or host thread, may block.
    bool boots(bool all, int& step, CoreAnsx& message, bool& first, bool& last);
    static bool issm2(); // the processor has SSE2
    // Loads memory location slot with the engine and worker semaphores held;
    // a failed location other than 0 loads 0 and sets the fallback flag.
    // keep leaves the bypass flag and the processing state alone. Never throws.
    // True when slot's own program loaded (so location 0 stands in for it
    // when false), as this load left it.
    bool ldpdm(int slot, bool keep);
    int setpg(int slot, bool keep); // ldpdm, then slot becomes the selected current slot
    // setpg as one step under the load lock: a program requested (display,
    // MIDI, bean 88, a host restore). restored: the chunk text of a host
    // restore, kept for getck when its program falls back. True when slot's
    // own program loaded and plays (location 0 not standing in), as this
    // load left it, whatever loads other threads make afterwards.
    bool loadSelect(int slot, bool keep, CoreAnsx const* restored = nullptr);
    // Program loads asked for since the engine was built (the display, MIDI,
    // bean 88); neither a host restore nor the engine's own reload counts.
    // Any thread, audio included.
    unsigned ldask() const { return askedloads.load(std::memory_order_acquire); }
    void adjif(); // MIX control j bound to the shown modulator pre-labelled j+1
    // What a write-back reads that the audio path and the engine's locked
    // setters move, copied at one moment: the program's (CoreProg::LIVE)
    // and the period the program asked for.
    struct LIVEDOC {
        CoreProg::LIVE program;
        bool periodon = false; // bean 11
        long period = -1;      // us; below 1 none
    };
    // Takes them; the caller holds the engine and worker semaphores.
    LIVEDOC takcd();
    // The live program into its document, its moving values from live; the
    // caller holds the load lock, which every writer of the document holds.
    void putcd(LIVEDOC const& live);
    // takcd, then putcd. The caller holds the load lock, then the engine
    // and worker semaphores: the block worker and the rate changes write
    // what this reads.
    void fixcd();
    CoreAnsx getdt();    // fixcd under those locks, then the document as text
    int ldpfs(int slot); // the program reader alone, no stages; 1 loaded
    void allcq();        // side ring allocated or freed as the program wants it
    void dealq();        // side ring freed
    void delsf();        // crossfade tables freed
    void cleby();        // bypass ring zeroed
    // The live program back into the current location (cache record written
    // with cache). Nothing under fallback, nor when the location no longer
    // holds the program that was loaded (deleted, moved away or overwritten).
    // Caller holds the load lock, then the engine and worker semaphores.
    // True when written.
    bool writeBack(bool cache);
    // The same from values takcd took: the caller holds the load lock only,
    // so the comparison, the document, its text and the store run while
    // the host plays.
    bool writeBack(LIVEDOC const& live, bool cache);
    bool holdsLoaded(); // the current location still holds the loaded program's text
    void markLoaded(int slot) noexcept; // remembers slot's text as loaded; -1 forgets it

private:
    CoreAnsx bootStep(int n); // runs step n; its line
    bool bootBank();          // step 3: bank 0 and the scan
    void bootEngine();        // step 6: the block engine settled
    bool bootProgram();       // step 8: location 0, then the boot program
    CoreAnsx bootProgramKo(); // step 8's row when location 0 did not load: its file and why
    void bootSettings();      // step 9: missing settings completed and saved
    // Step 10 under the load lock: ending the pending state, the check of
    // the rate the boot's program was loaded at and the hand-over are one
    // hold of the engine and worker locks; a stale rate reloads first.
    void bootEnd();
    // Step 3's housekeeping first: stale save temporaries swept from the
    // folders the engine writes, and after an installer merge the cache
    // folder emptied, only when it lies strictly below the data path.
    void bootTidy();
    // loadSelect with the load lock already held.
    bool selectHeld(int slot, bool keep, CoreAnsx const* restored);
    // The staged load, every failure caught (engine and worker semaphores held).
    bool ldpsm(int slot) noexcept;
    bool loadHeld(int slot, bool keep); // ldpdm with the load lock already held
    bool ldfls(int slot);               // files and reader for a location other than 0
    bool ldini();                       // files and reader for location 0
    bool ldbuf();                       // buffers, ring positions, slots, plans and rate
    bool ldvct(CoreFsys* store, CoreAnsx const& folder, int slot); // the vector archive
    void unbindAll() noexcept;           // no slot plays a kernel; no harmonic in use
    long modRing(long i) const noexcept; // i into 0 .. ring size - 1

    bool fallback = false; // the last load fell back to location 0
    // What the display and the shell say about a load that fell back (beansem):
    int failedslot = -1;      // the location whose load fell back while it stands, -1 none
    CoreAnsx failreason{""};  // why, "FILE: reason" (the load's first level-0 refusal)
                              // also a failed location 0's own, for the boot's row
    CoreAnsx loadnotices{""}; // the last load's notices, one per line (beansem)
    std::set<int> loadfailed; // locations whose last load failed, until one of them loads
    // After a load of slot: the fallback's report, and the lists' mark.
    void noteLoad(int slot, bool loaded, CoreAnsx const& why);
    CoreAnsx listName(int slot, CoreAnsx const& name); // name as the lists show slot (beansem)
    // svfld with the shown line made of prefix and the reason, upper case,
    // when that fits the display's 36 columns; else of prefix and the
    // reason's short cause ("DISK FULL", "SEE THE LOG" for none known).
    void svrsn(CoreAnsx const& file, CoreAnsx const& prefix, CoreAnsx const& reason);
    CoreAnsx svref();           // why the live program may not be saved to its slot, "" it may
    CoreAnsx saverefusal{""};   // why the last saveProgram wrote nothing (refusal or system's)
    CoreAnsx loadedtext{"0"};   // stored text of the loaded location as loaded or written back
    CoreAnsx foundfolder{""};   // folder the current program's file was found in
    int appliedoffset = 0;      // program time offset applied to the ring positions, samples
    bool forcemono = false;     // FORCEMONO of the program
    bool rateconverted = false; // the impulse files were converted to another rate
    bool inputtrim = false;     // the program's input trim is bound
    bool outputtrim = false;    // the program's output trim is bound
    // Written under both engine locks; read by the bus and the program writer.
    std::atomic<long> ownperiod{-1};      // the period the program asked for, us; below 1 none
    std::atomic<bool> ownperiodon{false}; // bean 11: the program carries its own rate
};

// Runs one accessor body: a failed engine answers fallback at once, and
// whatever the body throws is logged and answered with fallback.
template <class T, class F>
T CorePrcs::bean_(T fallback, char const* accessor, int id, F&& body) noexcept {
    if (failed) return fallback;
    try {
        return body();
    } catch (...) {
        beanf(accessor, id);
        return fallback;
    }
}
