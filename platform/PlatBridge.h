#pragma once
// PlatBridge: the calling convention of the external GPU bridge library, as
// this system calls it. The bridge is a shared library found at run time
// (CoreCubr loads it); every entry point is a C function named
// "cudabridge_" + the five letters below. These are our own types, written
// from what the engines pass; the bridge keeps its own state behind opaque
// handles. Elements are the bridge's 32-bit kernel buffers (element set 2).
// No instances; any thread that the engine uses for a player calls them.
#include <cstdint>

struct PlatBridge {
    PlatBridge() = delete;

    // Opaque bridge-side object: an FFT plan or a whole-convolution state.
    using Handle = void*;

    // --- device -------------------------------------------------------------
    using devcs_t = int (*)();                      // number of devices (0: none)
    using init__t = bool (*)(int device);           // makes the device ready
    using stop__t = void (*)();                     // stops the device
    using cudav_t = bool (*)(int zero, char* text); // usable? fills a status text (256 chars)
    using check_t = void (*)();                     // resolved, never called
    using versn_t = void (*)(char* text);           // fills the version text (256 chars)

    // --- memory and FFT plans (engine 12) ------------------------------------
    using mallc_t = bool (*)(void** address, long bytes); // host-visible block, true on success
    using free__t = void (*)(void* block);                // frees a block of mallc
    // Real FFT of length n over batch transforms (spectra 2*(n/2+1) floats apart),
    // in place when in == out; direction -1 forward, 1 inverse (not scaled).
    using plan__t = bool (*)(int n, float* in, float* out, int direction, int batch,
                             Handle* handle);
    using despl_t = void (*)(Handle handle); // frees a plan
    using exect_t = void (*)(Handle handle); // runs a plan in place

    // --- whole convolution (engines 13 to 16) --------------------------------
    // Parameter block: P, B, N, third extension field (M or N), T, L, N.
    using op32p_t = bool (*)(const std::int32_t* params, Handle* handle);
    using op32d_t = void (*)(Handle handle); // releases the state
    using op32c_t = void (*)(Handle handle); // zeroes the running state
    // Chained computation: buffer word may be replaced by the bridge's own buffer;
    // mode 0 store, 1 add, 2 add in and output, 3 alone.
    using opchp_t = bool (*)(Handle handle, void** buffer, short mode, int length);
    using opchd_t = void (*)(Handle handle); // ends the chained computation
    // One engine block of one channel; ring is the player's 3N-double ring, position
    // p; the right channel (1) clears *kernelChanged after refreshing its kernel.
    using cnm15_t = void (*)(Handle handle, const double* in, double* out, const double* kernel,
                             double* ring, int p, int channel, bool* kernelChanged);
    // As cnm15 with the spectra slot before the channel and the sub-block counter last.
    using cnm16_t = void (*)(Handle handle, const double* in, double* out, const double* kernel,
                             double* ring, int p, int slot, int channel, bool* kernelChanged,
                             short subBlock);
    using af32p_t = op32p_t;
    using af32d_t = op32d_t;
    using af32c_t = op32c_t;
    using afchp_t = opchp_t;
    using afchd_t = opchd_t;
    using cnm17_t = cnm16_t;

    // --- elements (element set 2) ---------------------------------------------
    using avnwe_t = bool (*)(void** element, long count); // count zeroed 32-bit values
    // Copies n values into dst from dst[offset]: from host doubles when transfer is
    // true, from another element otherwise; a null src zeroes; flush clears denormals.
    using avcpe_t = void (*)(void* dst, const void* src, long n, bool transfer, long offset,
                             bool flush);
    // Scales n values of both elements by gain (linear).
    using avade_t = void (*)(void* left, void* right, long n, float gain);
    // Fades the first windowLength values by window and the last tailLength by tail.
    using avfde_t = void (*)(long n, void* left, void* right, long windowLength,
                             const double* window, long tailLength, const double* tail);
    // Mixes count sources into dst as the vector mix record `mix` (VECTORMIXSTRUCT) says.
    using avvmx_t = void (*)(bool skip, bool selected, bool pan, const void* mix, long n, int count,
                             void* dstL, void* dstR, void* const* srcL, void* const* srcR);
    using cnm18_t = void (*)(); // resolved, never called
};
