#pragma once
// CoreCnvl: one convolution "player", which convolves a stereo signal with one
// stereo kernel on one selected engine. The processing engine owns one per
// harmonic order plus one work player ("H1", "H2", ...), selects an engine for
// each from an 18-row descriptor table (direct, FFT and GPU-bridge engines,
// with validity tests and fallbacks), plans it, and runs the per-block steps,
// including the harmonic (Volterra) steps where player h convolves x^h.
// Vectors of kernels (CoreVctr) reach kernel memory only through the element
// functions of the engine selected here.
//
// Threads: construction, selection and planning on the control thread or the
// engine worker, may block (plans allocate from the pool and log). The
// per-block steps run on the audio thread or the engine worker: no
// allocation, no file or log I/O, no lock but the engine's time meters. A
// player is used by one thread at a time; the processing engine serialises.
//
// State: a player is "planned" only after a successful plan_ that follows the
// last selection; every per-block step of an unplanned player writes silence
// where it would have written (or added) kernel output.
//
// Source files: CoreCnvl.cpp (table, selection, planning, getters),
// CoreCnvlStep.cpp (per-block steps), CoreCnvlElem.cpp (element sets),
// CoreCnvlPlan.cpp (engines 6, 7, 8, 17, the shared computation plan of
// the "ch" engines and the partition bookkeeping of the partitioned engines),
// CoreCnvlFft.cpp (engines 9 to 11), CoreCnvlGpu.cpp (engines 12 to 16).
// This header is the player's face: selection, planning, the per-block steps
// and the element functions of the selection. The engines' own functions
// (validity tests, element sets, plan functions, kernels, table rows) are
// declared in engine/CoreCnvlIntl.h, for the engine subsystem and its tests.
#include "platform/PlatBridge.h"
#include "runtime/CoreAnsx.h"

#include <array>
#include <cstdint>

class CorePool;
class CoreCubr;
class CoreTime;
class CoreSpmx;
class CoreVctr;

class CoreCnvl {
public:
    // The plan of one player; written at plan time (engine worker), read by the
    // kernels through FFTEXTENSION. Buffers come from the player's pool.
    struct FFTSTRUCT {
        bool loaded = false;          // a plan is loaded
        bool partloaded = false;      // partition state loaded (partitioned plans)
        bool blockfamily = false;     // selected engine works in blocks (FFT or GPU)
        bool partitioned = false;     // selected engine partitions the kernel
        int fftlength = 0;            // F: FFT-length parameter given to the selection (samples)
        int partlength = 0;           // L: partition length (samples)
        int totallength = 0;          // T: total kernel length (samples)
        int worklength = 0;           // N: FFT length actually used (samples)
        int index = 0;                // current accumulator index, 0..P-1, shared by both channels
        int partitions = 0;           // P: number of partitions
        double* work = nullptr;       // host work buffer, 3N doubles
        double* spectral = nullptr;   // host kernel spectra left, P*N doubles
        double* spectrar = nullptr;   // host kernel spectra right, P*N doubles
        double* accuml = nullptr;     // host accumulators left, P*N doubles
        double* accumr = nullptr;     // host accumulators right, P*N doubles
        int* partlens = nullptr;      // P partition lengths (samples)
        float* gpuwork = nullptr;     // bridge work buffer, M*16 bytes
        float* gpuspectral = nullptr; // bridge kernel spectra left, M*P*8 bytes
        float* gpuspectrar = nullptr; // bridge kernel spectra right, M*P*8 bytes
        float* gpuaccuml = nullptr;   // bridge accumulators left, M*P*8 bytes
        float* gpuaccumr = nullptr;   // bridge accumulators right, M*P*8 bytes
        // Bridge handles: engine 12 forward, inverse, spectra left, spectra right;
        // engines 13 to 16 one convolution state in the first.
        PlatBridge::Handle handles[4] = {nullptr, nullptr, nullptr, nullptr};
        void* fftspec = nullptr;    // FFT plan of the signal layer
        void* fftwork = nullptr;    // FFT work buffer of the signal layer
        bool needscomp = false;     // engine needs a computation plan
        int complength = -1;        // computation length (values); -1 after selection
        void* compbuffer = nullptr; // computation buffer shared along a chain of players
        bool compowned = false;     // compbuffer was allocated by this plan, which frees it
        CorePool* pool = nullptr;   // the player's pool (not owned)
    };

    // Per-player view handed to every kernel; the kernels of the direct engines
    // ignore it. Audio thread or engine worker, one thread at a time.
    struct FFTEXTENSION {
        double* work = nullptr;       // host work buffer
        int block = 0;                // B: samples per kernel call
        int length = 0;               // N, or M = N/2 + 1 complex bins for engines 12 to 14
        bool* changed = nullptr;      // caller's kernel-changed flag (right channel clears it)
        double scale = 1.0;           // output scale, 1/N (engine 12)
        int partitions = 0;           // P
        int* index = nullptr;         // the plan's current accumulator index
        int* partlens = nullptr;      // partition lengths (samples)
        int partlength = 0;           // L (samples)
        double* spectral = nullptr;   // host kernel spectra left
        double* spectrar = nullptr;   // host kernel spectra right
        double* accuml = nullptr;     // host accumulators left
        double* accumr = nullptr;     // host accumulators right
        int totallength = 0;          // T (samples; engine 12)
        float* gpuwork = nullptr;     // bridge work buffer
        float* gpuspectral = nullptr; // bridge kernel spectra left
        float* gpuspectrar = nullptr; // bridge kernel spectra right
        float* gpuaccuml = nullptr;   // bridge accumulators left
        float* gpuaccumr = nullptr;   // bridge accumulators right
        PlatBridge::Handle* handles = nullptr; // the plan's bridge handles
        CoreCubr* bridge = nullptr;            // the GPU bridge, possibly not loaded (not owned)
        void* fftspec = nullptr;               // FFT plan of the signal layer
        void* fftwork = nullptr;               // FFT work buffer of the signal layer
        std::int16_t compmode = 3;             // 0 store, 1 add, 2 add in and output, 3 none
        double* compbuffer = nullptr;          // computation buffer
        int complength = 0;                    // computation length (values)
        std::int16_t subblock = 0;             // kernel calls so far within one harmonic step
        bool monomode = false;                 // both channels use the left kernel
        int onetap = 0;                        // one-tap index (samples)
        bool spectravalid = false; // kernel spectra computed since the last load or clear
        // Element spectra the partitioned CPU engines mix their kernel spectra
        // from, when the kernel is a vector's sum of elements; null: transform.
        CoreSpmx* spectramix = nullptr;
    };

    // Capabilities of this machine, handed to every validity test.
    struct VALIDSTRUCT {
        bool sse2 = false; // the processor has SSE2 (filled at construction)
        bool fftw = false; // never set: the engines that need it are never usable
        bool gpu = false;  // a GPU bridge with at least one device was found
    };

    // The record every element operation receives. Element set 1 ignores it.
    struct VECEXTENSION {
        CoreCubr* bridge = nullptr; // the player's GPU bridge, possibly not loaded (not owned)
    };

    // One element mix as the vector (CoreVctr) hands it to the mix function.
    struct VECTORMIXSTRUCT {
        double gain = 1.0;        // weight of every source when not in pair mode (linear)
        double retention = 0.0;   // factor the destination is multiplied by first (liquid amount)
        double panll = 1.0;       // pan gain, left kernel into the left output
        double panlr = 0.0;       // pan gain, left kernel into the right output
        double panrl = 0.0;       // pan gain, right kernel into the left output
        double panrr = 1.0;       // pan gain, right kernel into the right output
        double weight0 = 0.0;     // weight of the first chosen element (gain included)
        double weight1 = 0.0;     // weight of the second chosen element (gain included)
        std::int32_t index0 = -1; // first chosen element, -1 for none
        std::int32_t index1 = -1; // second chosen element, -1 for none
    };

    // Per-call convolution: one engine block of stereo input through the rings
    // (N = work length, p = ring position, N <= p < 2N).
    using KERNEL = void (*)(const double* inL, const double* inR, double* outL, double* outR,
                            const double* kernL, const double* kernR, double* ringL, double* ringR,
                            int N, int p, FFTEXTENSION* ext);
    using VALIDTEST = bool (*)(const VALIDSTRUCT* valid);
    // Plan load: F, plan, extension, engine block B, work length N (in: the
    // kernel length; out: the length the rings are sized for). True on success.
    using LOADFN = bool (*)(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N);
    // Unload, clear and unload-compute. Must be harmless when nothing is loaded.
    using PLANFN = void (*)(FFTSTRUCT* plan, FFTEXTENSION* ext);
    // Load-compute: builds the computation plan over buffer (mode, length in values).
    using LCOMFN = bool (*)(FFTSTRUCT* plan, FFTEXTENSION* ext, void* buffer, std::int16_t mode,
                            int length);

    // Element set: an element is one channel of kernel data, n values.
    using ELSIZE = int (*)();                                          // bytes of one element value
    using ELNEW = void* (*)(VECEXTENSION* ext, CorePool* pool, int n); // zeroed; null on failure
    using ELDEL = void (*)(VECEXTENSION* ext, CorePool* pool, void* element);
    using ELCOPY = void (*)(VECEXTENSION* ext, void* dst, const void* src, int n, bool transfer,
                            int offset, bool flush);
    using ELADJ = void (*)(VECEXTENSION* ext, void* left, void* right, int n, double gain);
    using ELFADE = void (*)(VECEXTENSION* ext, int n, void* left, void* right, int windowLength,
                            const void* window, int tailLength, const void* tailWindow);
    using ELMIX = void (*)(VECEXTENSION* ext, bool skip, bool selected, bool pan,
                           const VECTORMIXSTRUCT* mix, int n, int count, void* dstL, void* dstR,
                           void* const* srcL, void* const* srcR);

    // One engine of the table; every row is fixed at construction.
    struct ENGINEDESC {
        KERNEL kernel = nullptr;     // per-call convolution function
        VALIDTEST test = nullptr;    // validity test; none: always usable
        bool listed = false;         // offered to the user (engines 0 to 15); nothing reads it
        int block = 1;               // samples per call: 1, 2, or -1 for the caller's block
        bool blockfamily = false;    // FFT or GPU engine (6 to 16)
        bool partitioned = false;    // kernel split in partitions (7, 8, 10 to 16)
        bool sse2 = false;           // SSE2 engine (2 and 5)
        bool needscomp = false;      // needs a computation plan (8, 11, 14, 15, 16)
        bool gpu = false;            // GPU engine (12 to 16)
        bool cpu = true;             // runs on the CPU (false for 12 to 16)
        int granularity = 2;         // processing-block multiple the engine needs (samples)
        LOADFN load = nullptr;       // plan load, or none
        PLANFN unload = nullptr;     // plan unload, or none
        PLANFN clear = nullptr;      // zeroes the plan's running state, or none
        LCOMFN loadcomp = nullptr;   // computation-plan load, or none
        PLANFN unloadcomp = nullptr; // computation-plan unload, or none
        ELSIZE elsize = nullptr;     // element set: value size
        ELNEW elnew = nullptr;       // element set: new
        ELDEL eldel = nullptr;       // element set: delete (none for set 2)
        ELCOPY elcopy = nullptr;     // element set: copy
        ELADJ eladj = nullptr;       // element set: adjust (gain)
        ELFADE elfade = nullptr;     // element set: fade
        ELMIX elmix = nullptr;       // element set: mix
    };

    static constexpr short iCengines = 18;    // rows of the engine table
    static constexpr short iCdefaultdir = 3;  // fallback of a direct engine or a bad index
    static constexpr short iCdefaultbe_ = 11; // default FFT engine after construction
    static const char* const sCnoversion;     // "N/A": no bridge or no device

    // pool: the instance's pool (not owned); name: "H" + order; unused: no
    // effect; bridge: the engine's GPU bridge (not owned, may be null).
    CoreCnvl(CorePool* pool, CoreAnsx name, long unused, CoreCubr* bridge);
    // Releases plans still loaded and the rings.
    ~CoreCnvl();
    CoreCnvl(const CoreCnvl&) = delete;
    CoreCnvl& operator=(const CoreCnvl&) = delete;
    CoreCnvl(CoreCnvl&&) = delete;
    CoreCnvl& operator=(CoreCnvl&&) = delete;

    // ---- selection (control thread or engine worker) ---------------------------
    // The bridge's version text, "N/A" unless it starts and has a device.
    CoreAnsx gtbdv();
    CoreAnsx getbv() const { return version; } // version text found at construction
    // Selects engine (falling back, with the error flag, when it is outside
    // 0..17 or unusable here); block > 0 copies its functions and sizes and
    // returns the engine block, otherwise -1 and nothing is copied.
    int set__(short engine, int block, int kernelLength, int fftLength, int partLength,
              int totalLength);
    // Releases the selection (function copies, flags, rings); the index stays.
    void set__();
    bool ldble(short engine) const; // engine exists and passes its validity test
    bool isfft(short engine) const; // engine is block-family (false outside 0..17)
    // Same as isfft (engine is block-family).
    bool getbe(short engine) const { return isfft(engine); }
    bool getbe() const { return fft.blockfamily; } // selected engine works in blocks
    bool getpt() const;                            // selected engine is a GPU engine
    int getmp() const;                       // selected engine's granularity, 0 when none (samples)
    int getcb() const { return block; }      // engine block (samples)
    bool error() const { return fallback; }  // last selection fell back
    bool perfr() const { return oncpu; }     // selected engine runs on the CPU
    short getsl() const { return selected; } // selected engine index, -1 = none
    // Fallback of an unusable block-family engine (an unusable one falls back to 11).
    void setdb(short engine) { defaultfft = engine; }
    short getdb() const { return defaultfft; } // fallback block-family engine
    // Both channels use the left kernel. The held spectra were built for the
    // previous setting, so they are rebuilt on the next block.
    void setms(bool mono) {
        if (ext.monomode != mono) ext.spectravalid = false;
        ext.monomode = mono;
    }
    void setff(int tap) { ext.onetap = tap; } // one-tap index (samples)
    // The caller's kernel-changed flag: raised by the caller when the kernel
    // changed, cleared once the spectra are rebuilt; null: rebuilt every block.
    void setup(bool* kernelChanged) { ext.changed = kernelChanged; }
    // The vector whose output pair 0 is the kernel (null: none or unknown): a
    // partitioned CPU engine then mixes the kernel spectra from spectra of
    // its elements made once. Allocates (loader path); null only forgets.
    // Bound after planning: a new plan (or selection) drops the spectra, and
    // the vector is not looked at again until it is bound anew.
    void setvr(CoreVctr* root);
    void setci(double* buffer, short mode, int length); // computation values into the extension

    // ---- planning (engine worker or inline; may allocate and log) ------------
    // Loads the plan and sizes the rings; false leaves the rings as they were.
    bool plan_();
    bool load_(int& N); // calls the load function, if any (N in/out)
    void delpl();       // releases the plan (unload function, if any)
    void uload();       // calls the unload function, if any
    void clear();       // zeroes the rings and the plan's running state
    void set_c(void* buffer, short mode, long length); // values for planc
    bool planc(); // (re)loads the computation plan; true when none is needed
    void delpc(); // unloads the computation plan when loaded
    void* grplc() const { return fft.compbuffer; } // buffer of the last planc
    // Computation-plan marker, with its length (values) and the engine block.
    bool getci(int& length, int& block) const;
    void cleas();                              // frees the rings
    bool isplanned() const { return planned; } // plan_ succeeded since the last selection
    int getwl() const { return worklength; }   // work length N (samples)
    int getrp() const { return position; }     // ring position (values)
    int getrl() const { return allocated; }    // allocated ring length (values)
    const double* getrg(bool right) const { return right ? ringR : ringL; } // ring array

    // ---- per block (audio thread or engine worker) ----------------------------
    // The kernel always runs on whole engine blocks (at least one), so buffers
    // hold the frame count rounded up to a whole number of engine blocks.
    // Meters may be null; they are touched only for engines off the CPU.
    // One kernel call of one engine block.
    void cnvlc(const double* inL, const double* inR, double* outL, double* outR,
               const double* kernL, const double* kernR, CoreTime* meterA,
               CoreTime* meterB) noexcept;
    // Harmonic step: first restarts pow := in and sets out := work; otherwise
    // pow *= in and out += work. out must not alias in.
    void vltrr(bool first, const double* inL, const double* inR, double* outL, double* outR,
               const double* kernL, const double* kernR, double* powL, double* powR, double* workL,
               double* workR, int frames, CoreTime* meterA, CoreTime* meterB) noexcept;
    // As vltrr with the restart of the power and the setting of the output apart.
    void vltry(bool firstPower, bool setOutput, const double* inL, const double* inR, double* outL,
               double* outR, const double* kernL, const double* kernR, double* powL, double* powR,
               double* workL, double* workR, int frames, CoreTime* meterA,
               CoreTime* meterB) noexcept;
    // One engine block scaled by the fade table read backwards; set writes the
    // output without consuming fadeIndex, add consumes it.
    void cnvsc(bool set, const double* inL, const double* inR, double* outL, double* outR,
               const double* kernL, const double* kernR, double* workL, double* workR,
               const double* fade, long& fadeIndex, CoreTime* meterA, CoreTime* meterB) noexcept;
    // A run of frames scaled by the fade table; set also copies in into copy.
    // Returns the next fade index.
    long cnvsy(bool set, const double* inL, const double* inR, double* outL, double* outR,
               const double* kernL, const double* kernR, double* copyL, double* copyR,
               double* workL, double* workR, const double* fade, long& fadeIndex, int frames,
               CoreTime* meterA, CoreTime* meterB) noexcept;

    // ---- element functions of the selected engine (set 1 when none) ----------
    void getse(ELSIZE& f) const;  // f := value size (bytes per element value)
    void getne(ELNEW& f) const;   // f := element new
    void getde(ELDEL& f) const;   // f := element delete (null for set 2)
    void getce(ELCOPY& f) const;  // f := element copy
    void getae(ELADJ& f) const;   // f := element adjust (gain)
    void getfd(ELFADE& f) const;  // f := element fade
    void getvm(ELMIX& f) const;   // f := element mix
    void getve(VECEXTENSION*& e); // null when no engine is selected

private:
    // The engines' insides and the capability test seam (engine/CoreCnvlIntl.h).
    friend struct CoreCnvlIntl;

    // Ready to run a kernel: planned, a kernel and a positive engine block.
    bool ready() const { return planned && kernel != nullptr && block >= 1; }
    // Meters around a kernel call (or run) of an engine off the CPU.
    void meterEnter(CoreTime* meterA, CoreTime* meterB) const;
    void meterLeave(CoreTime* meterA, CoreTime* meterB) const;
    // Wraps the position, runs one kernel call and advances by the engine block.
    void callKernel(const double* inL, const double* inR, double* outL, double* outR,
                    const double* kernL, const double* kernR);
    // Kernel calls in engine-block steps over frames (at least one), counting
    // sub-blocks; silence over frames when not ready.
    void runBlocks(const double* inL, const double* inR, double* outL, double* outR,
                   const double* kernL, const double* kernR, int frames, CoreTime* meterA,
                   CoreTime* meterB);
    // Frees both rings.
    void freeRings();
    void dropSpectra() noexcept; // the element spectra of the bound vector go
    // Unloads the computation plan and the plan with the function copies they
    // were loaded with (harmless when nothing is loaded).
    void releasePlans();

    // The row whose element functions the getters hand out.
    const ENGINEDESC& elementRow() const;

    CoreAnsx name;                           // "H" + the 1-based order
    CorePool* pool;                          // the instance's pool (not owned)
    CoreCubr* bridge;                        // the GPU bridge (not owned, may be null)
    double* ringL = nullptr;                 // ring accumulator left, 3N values
    double* ringR = nullptr;                 // ring accumulator right, 3N values
    void* compbuffer = nullptr;              // computation buffer for planc (set_c)
    std::int16_t compmode = 3;               // computation mode for planc (set_c)
    short selected = -1;                     // selected engine index, -1 = none
    short defaultfft = iCdefaultbe_;         // fallback of a block-family engine
    int block = 0;                           // engine block: samples per kernel call
    int position = 0;                        // ring position, N..2N-1 before each call
    int worklength = 0;                      // N (samples)
    int ringlength = 0;                      // 3N (values)
    int wrapstart = 0;                       // N
    int wraplimit = 0;                       // 2N
    int kernellength = 0;                    // kernel length requested by set__ (samples)
    int allocated = 0;                       // values in each allocated ring
    std::int32_t complength = 0;             // computation length for planc (values)
    bool fallback = false;                   // last selection fell back
    bool oncpu = false;                      // selected engine runs on the CPU
    bool ringsallocated = false;             // both rings are allocated
    bool comploaded = false;                 // the computation plan is loaded
    bool planned = false;                    // plan_ succeeded after the last selection
    std::array<ENGINEDESC, iCengines> table; // the engine table (fixed rows)
    KERNEL kernel = nullptr;                 // selected engine's kernel (copy of the row)
    LOADFN load = nullptr;                   // selected engine's plan load
    PLANFN unload = nullptr;                 // selected engine's plan unload
    PLANFN clearfn = nullptr;                // selected engine's plan clear
    LCOMFN loadcomp = nullptr;               // selected engine's computation-plan load
    PLANFN unloadcomp = nullptr;             // selected engine's computation-plan unload
    FFTEXTENSION ext;                        // per-player engine extension
    FFTSTRUCT fft;                           // the plan
    VALIDSTRUCT valid;                       // capabilities of this machine
    CoreAnsx version;                        // bridge version text ("N/A" without one)
    VECEXTENSION vecext;                     // handed to the element functions
    CoreSpmx* spectramix = nullptr;          // element spectra of the vector setvr bound (owned)
};
