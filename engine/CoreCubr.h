#pragma once
// CoreCubr: loader of the external GPU bridge library and holder of its entry
// points. The processing engine owns one and hands it to every convolution
// player; the GPU engines call the entry points through it. When no bridge
// can be loaded (the usual case on this platform) every entry point stays
// null and the players never select a GPU engine.
// Control thread or engine worker, may block (opens and closes a library);
// the entry points themselves are called from wherever the engine runs a
// player. Not thread-safe: the engine serialises the calls.
#include "platform/PlatBridge.h"
#include "runtime/CoreAnsx.h"

#include <vector>

class CoreCubr {
public:
    // The fixed places of the bridge library, tried in this order.
    static const char* const bCfilename[2];
    // Size of the status and version text buffers the bridge fills (chars).
    static constexpr int iCversionlength = 256;

    CoreCubr();
    ~CoreCubr();
    CoreCubr(const CoreCubr&) = delete;
    CoreCubr& operator=(const CoreCubr&) = delete;
    CoreCubr(CoreCubr&&) = delete;
    CoreCubr& operator=(CoreCubr&&) = delete;

    // Loads the bridge on the first call; later calls only return the result.
    // True when a library opened, every entry point the engines call resolved
    // and the bridge reported itself usable.
    bool start();
    // Makes the device ready (cudabridge_init_) once, after a successful start.
    void initd(int device);
    // Stops a device that initd made ready, forgets the entry points and closes
    // the library; start stays tried. The destructor does the same.
    void stop_();
    // Stops the device (cudabridge_stop_) when initd made it ready.
    void stopd();
    // Looks one symbol up in an open library; null when absent.
    static void* loadm(void* handle, const char* name);

    // Replaces the places tried by start (before the first start); an empty list
    // restores bCfilename. Lets tests point the loader at a stand-in bridge.
    void setpl(const std::vector<CoreAnsx>& paths);

    bool getld() const { return loaded; }      // bridge loaded and usable
    bool gettr() const { return tried; }       // start has run
    bool getin() const { return initialised; } // initd made the device ready

    // Entry points in the bridge's table order; null unless loaded.
    PlatBridge::devcs_t cudabridge_devcs = nullptr;
    PlatBridge::init__t cudabridge_init_ = nullptr;
    PlatBridge::stop__t cudabridge_stop_ = nullptr;
    PlatBridge::cudav_t cudabridge_cudav = nullptr;
    PlatBridge::check_t cudabridge_check = nullptr; // optional, never called
    PlatBridge::versn_t cudabridge_versn = nullptr;
    PlatBridge::mallc_t cudabridge_mallc = nullptr;
    PlatBridge::free__t cudabridge_free_ = nullptr;
    PlatBridge::plan__t cudabridge_plan_ = nullptr;
    PlatBridge::despl_t cudabridge_despl = nullptr;
    PlatBridge::exect_t cudabridge_exect = nullptr;
    PlatBridge::op32p_t cudabridge_op32p = nullptr;
    PlatBridge::op32d_t cudabridge_op32d = nullptr;
    PlatBridge::op32c_t cudabridge_op32c = nullptr;
    PlatBridge::opchp_t cudabridge_opchp = nullptr;
    PlatBridge::opchd_t cudabridge_opchd = nullptr;
    PlatBridge::cnm15_t cudabridge_cnm15 = nullptr;
    PlatBridge::cnm16_t cudabridge_cnm16 = nullptr;
    PlatBridge::af32p_t cudabridge_af32p = nullptr;
    PlatBridge::af32d_t cudabridge_af32d = nullptr;
    PlatBridge::af32c_t cudabridge_af32c = nullptr;
    PlatBridge::afchp_t cudabridge_afchp = nullptr;
    PlatBridge::afchd_t cudabridge_afchd = nullptr;
    PlatBridge::cnm17_t cudabridge_cnm17 = nullptr;
    PlatBridge::avnwe_t cudabridge_avnwe = nullptr;
    void* reserved = nullptr; // empty slot of the table (no bridge entry frees an element)
    PlatBridge::avcpe_t cudabridge_avcpe = nullptr;
    PlatBridge::avade_t cudabridge_avade = nullptr;
    PlatBridge::avfde_t cudabridge_avfde = nullptr;
    PlatBridge::avvmx_t cudabridge_avvmx = nullptr;
    PlatBridge::cnm18_t cudabridge_cnm18 = nullptr; // optional, never called

private:
    // Resolves every entry point from handle; false (and names logged) when
    // one that the engines call is missing.
    bool resolve();
    // Nulls every entry point.
    void forget();
    // Stops a ready device, forgets the entry points, closes the library,
    // clears loaded and initialised.
    void close();

    bool loaded = false;         // library open, complete and usable
    bool tried = false;          // start has run once
    bool initialised = false;    // cudabridge_init_ called since loading
    void* handle = nullptr;      // library handle from the dynamic loader
    std::vector<CoreAnsx> paths; // places tried by start, in order
};
