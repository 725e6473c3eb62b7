#pragma once
// CoreCnvlIntl: the insides of the convolution player (CoreCnvl) that only
// the engine table, the vector tree and the tests reach: the validity tests,
// the two element sets, the plan functions and kernels of the FFT, GPU and
// one-tap engines, the row builder of the engine table and the helpers those
// engines share. The rest of the system goes through a player's selection,
// planning, per-block and element-getter calls instead; nothing outside
// engine/ (and its tests) includes this header.
// Owns nothing: static functions only, over records the player owns.
// Threads: element new/delete and the plan functions on the control thread
// or the engine worker (may allocate from the pool and log); kernels, element
// copy/adjust/fade/mix and the shared helpers on the audio thread or the
// engine worker (no allocation, no file or log I/O, no lock).
// Source files: as CoreCnvl (Elem, Plan, Fft, Gpu, Step) and CoreCnvl.cpp
// for the table rows and validity tests.
#include "engine/CoreCnvl.h"

#include <climits>
#include <cstdint>

// The engines' vector loops are built for the baseline and for AVX2 (without
// FMA, so the sums are the same to the bit); the loader picks the variant the
// processor runs. Not under ThreadSanitizer: the loader calls the
// instrumented resolver before the sanitizer's runtime is up, and every
// program crashes at start.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define CNVL_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define CNVL_CLONES
#endif

struct CoreCnvlIntl {
    using FFTSTRUCT = CoreCnvl::FFTSTRUCT;
    using FFTEXTENSION = CoreCnvl::FFTEXTENSION;
    using VALIDSTRUCT = CoreCnvl::VALIDSTRUCT;
    using VECEXTENSION = CoreCnvl::VECEXTENSION;
    using VECTORMIXSTRUCT = CoreCnvl::VECTORMIXSTRUCT;
    using ENGINEDESC = CoreCnvl::ENGINEDESC;

    CoreCnvlIntl() = delete;

    // ---- test seam: the capability record of one player ----------------------
    // Replaces it (a machine without SSE2, say); selection reads it afterwards.
    static void setvs(CoreCnvl& player, const VALIDSTRUCT& valid) { player.valid = valid; }
    static const VALIDSTRUCT& getvs(const CoreCnvl& player) { return player.valid; }
    // The element spectra the player mixes its kernel spectra from; null: none.
    static const CoreSpmx* getsm(const CoreCnvl& player) { return player.ext.spectramix; }

    // ---- validity tests: the engine can run here (false for a null record) ----
    static bool isss2(const VALIDSTRUCT* v); // the processor has SSE2
    static bool isffw(const VALIDSTRUCT* v); // the double FFT library is there (never here)
    static bool iscda(const VALIDSTRUCT* v); // a GPU bridge with at least one device is there

    // ---- element set 1: pool doubles, tag "CNVL" (CoreCnvlElem.cpp) ----------
    // The extension is ignored. new and delete on the loader path; copy,
    // adjust, fade and mix also in the per-block vector update (no allocation).
    static int szel1(); // bytes of one value (8)
    // n zeroed values from pool; null when n < 1 or without a pool.
    static void* nwel1(VECEXTENSION* ext, CorePool* pool, int n);
    // Returns an element to pool; a null element is harmless.
    static void dlel1(VECEXTENSION* ext, CorePool* pool, void* element);
    // Copies n values of src (zeros when src is null) to dst + offset, ranges
    // may overlap; flush stores subnormals as +0. transfer is ignored.
    static void copy1(VECEXTENSION* ext, void* dst, const void* src, int n, bool transfer,
                      int offset, bool flush);
    // Scales n values of both sides by gain (a shared buffer once).
    static void adj_1(VECEXTENSION* ext, void* left, void* right, int n, double gain);
    // Scales the first windowLength values by window and the last tailLength
    // by tailWindow (a shared buffer once).
    static void fade1(VECEXTENSION* ext, int n, void* left, void* right, int windowLength,
                      const void* window, int tailLength, const void* tailWindow);
    // dst := dst * mix->retention + the sources: all count of them at mix->gain
    // or, when selected, the two chosen at their weights; through the pan
    // gains when pan. skip leaves dst as it is; subnormals end as +0.
    static void vmix1(VECEXTENSION* ext, bool skip, bool selected, bool pan,
                      const VECTORMIXSTRUCT* mix, int n, int count, void* dstL, void* dstR,
                      void* const* srcL, void* const* srcR);
    // vmix1 (mix null: skip) with the output fade of fade1 over fadeLength
    // values folded in, in one pass over the buffers: the same values as
    // vmix1 followed by fade1 (a fade past n falls back to the two). split:
    // the fade scales the fresh share only, as a mix at retention 0 and the
    // fade into a scratch pair, then a mix of that pair at gain 1 would;
    // false (nothing done) when that takes more than one pass. Only values
    // from .. to - 1 are mixed (each value's sum depends on it alone); false
    // when a part is asked of a shape only mixed whole (a shared buffer, a
    // fade past n).
    static bool vmixf(const VECTORMIXSTRUCT* mix, bool selected, bool pan, int n, int count,
                      void* dstL, void* dstR, void* const* srcL, void* const* srcR, int fadeLength,
                      int headLength, const void* head, int tailLength, const void* tail,
                      bool split, int from = 0, int to = INT_MAX);
    // Element terms vmixf sums in one pass (more take further passes); a
    // split mix of more is refused.
    static constexpr int iCmixterms = 16;
    // ---- element set 2: 32-bit values held by the bridge ---------------------
    // The same operations forwarded to the bridge in ext; an entry the bridge
    // lacks does nothing (new returns null). The bridge frees no element.
    static int szel2(); // bytes of one value (4)
    static void* nwel2(VECEXTENSION* ext, CorePool* pool, int n);
    static void copy2(VECEXTENSION* ext, void* dst, const void* src, int n, bool transfer,
                      int offset, bool flush);
    static void adj_2(VECEXTENSION* ext, void* left, void* right, int n, double gain);
    static void fade2(VECEXTENSION* ext, int n, void* left, void* right, int windowLength,
                      const void* window, int tailLength, const void* tailWindow);
    static void vmix2(VECEXTENSION* ext, bool skip, bool selected, bool pan,
                      const VECTORMIXSTRUCT* mix, int n, int count, void* dstL, void* dstR,
                      void* const* srcL, void* const* srcR);

    // ---- plan functions and kernels, one group per engine -------------------
    // loadN: plan load (see CoreCnvl::LOADFN); uloaN: unload; cleaN: zeroes the
    // running state; lcomN, ucomN: computation-plan load and unload. Kernels
    // (cnvsN, cnsNN) run one engine block (see CoreCnvl::KERNEL).
    // Engines 6, 7, 8 are never usable here; their kernels write silence
    // (CoreCnvlPlan.cpp). Engine 6: unpartitioned.
    static bool load2(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N);
    static void uloa2(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void clea2(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void cnvs8(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, FFTEXTENSION* ext);
    // Engine 7: partitioned.
    static bool load1(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N);
    static void uloa1(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void clea1(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void cnvs9(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, FFTEXTENSION* ext);
    // Engine 8: partitioned, with a computation plan.
    static bool load6(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N);
    static void uloa6(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void clea6(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void cns13(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, FFTEXTENSION* ext);
    // Shared computation plan of engines 8 and 11: mode 0 owns a new buffer of
    // 2 * length doubles ("CNV+"), other modes use the buffer handed on.
    static bool lcom1(FFTSTRUCT* plan, FFTEXTENSION* ext, void* buffer, std::int16_t mode,
                      int length);
    static void ucom1(FFTSTRUCT* plan, FFTEXTENSION* ext);
    // Engine 9 (CoreCnvlFft.cpp): one transform of N >= B + T - 1 per block.
    static bool load3(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N);
    static void uloa3(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void clea3(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void cns10(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, FFTEXTENSION* ext);
    // Engine 10: uniformly partitioned, a frequency delay line of P accumulators.
    static bool load4(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N);
    static void uloa4(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void clea4(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void cns11(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, FFTEXTENSION* ext);
    // Engine 11: as 10; the players of a chain sum their spectra in the shared
    // computation buffer (lcom1) and only the last transforms back.
    static bool load5(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N);
    static void uloa5(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void clea5(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void cns12(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, FFTEXTENSION* ext);
    // Engine 12 (CoreCnvlGpu.cpp): bridge transforms, partitioned products here.
    static bool load7(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N);
    static void uloa7(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void clea7(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void cns14(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, FFTEXTENSION* ext);
    // Engine 13: the whole convolution held by the bridge.
    static bool load8(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N);
    static void uloa8(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void clea8(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void cns15(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, FFTEXTENSION* ext);
    // Engine 14: as 13, chained along the players through lcom2.
    static bool load9(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N);
    static void uloa9(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void clea9(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static bool lcom2(FFTSTRUCT* plan, FFTEXTENSION* ext, void* buffer, std::int16_t mode,
                      int length);
    static void ucom2(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void cns16(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, FFTEXTENSION* ext);
    // Engine 15: the bridge's second whole-convolution family, chained through
    // lcom3; engine 16 loads the same plan and plays one tap (cns18).
    static bool lod10(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N);
    static void ulo10(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void cle10(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static bool lcom3(FFTSTRUCT* plan, FFTEXTENSION* ext, void* buffer, std::int16_t mode,
                      int length);
    static void ucom3(FFTSTRUCT* plan, FFTEXTENSION* ext);
    static void cns17(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, FFTEXTENSION* ext);
    // One tap (engines 16 and 17): out = kernel[t] * in delayed by t = ext->onetap,
    // over one engine block (ext->block samples, at least one); silence when t
    // is not below N.
    static void cns18(const double* inL, const double* inR, double* outL, double* outR,
                      const double* kernL, const double* kernR, double* ringL, double* ringR, int N,
                      int p, FFTEXTENSION* ext);

    // The fixed row of engine i (0..17) as the constructor builds it.
    static ENGINEDESC engine(short i);

    // ---- shared by the engines of several source files -----------------------
    // Zeroes n values of both outputs; nothing when n < 1 (CoreCnvlStep.cpp).
    static void silence(double* outL, double* outR, long n);
    // Silence over one engine block: what a kernel that cannot run plays.
    static void silence(double* outL, double* outR, const FFTEXTENSION* ext);
    // The kernel spectra must be rebuilt this block: the caller raised its
    // flag, or gave none (any block may then bring a new kernel), or the plan
    // was just loaded or cleared.
    static bool refreshDue(const FFTEXTENSION* ext);
    // Both channels' spectra are current again.
    static void refreshDone(FFTEXTENSION* ext);
    // Split spectrum (n = N values, see CoreCnvlFft.cpp) of the first m values
    // of src zero-padded to N, through the plan's transform; the work
    // buffer's last third is its scratch (CoreCnvlFft.cpp).
    static void prtsp(const FFTEXTENSION* ext, const double* src, int m, double* split);
    // Moves the shared accumulator index on by one block, wrapping at P.
    static void nextPartition(FFTEXTENSION* ext);
    // Plan time (CoreCnvlPlan.cpp): P partitions of the plan's kernel, the
    // lengths from the pool under tag, recorded in the plan and the extension
    // with the index back at 0. Throws CoreAnsx when the pool refuses.
    static void planPartitions(FFTSTRUCT* plan, FFTEXTENSION* ext, int P, const char* tag);
    // Frees the partition lengths and marks plan and extension unloaded with
    // no partitions and no valid spectra.
    static void dropPartitions(FFTSTRUCT* plan, FFTEXTENSION* ext);
};
