#include "engine/CoreCubr.h"

#include "runtime/CoreLog_.h"

#include <dlfcn.h>

const char* const CoreCubr::bCfilename[2] = {
    "/Library/Frameworks/Vorlan.framework/Versions/1.0/bin/Pelgra03.dylib",
    "/Library/Frameworks/Vorlan.framework/Versions/1.0/bin/Pelgra01.dylib",
};

namespace {

// Looks name up and stores it in slot; a missing name that the engines call
// is added to missing.
template <typename T>
void bind(void* handle, T& slot, const char* name, bool required, CoreAnsx& missing) {
    slot = reinterpret_cast<T>(CoreCubr::loadm(handle, name));
    if (slot == nullptr && required) missing += CoreAnsx(" ") + CoreAnsx(name);
}

} // namespace

CoreCubr::CoreCubr() { setpl({}); }

CoreCubr::~CoreCubr() { close(); }

void CoreCubr::setpl(const std::vector<CoreAnsx>& list) {
    paths.clear();
    if (list.empty()) {
        for (const char* name : bCfilename) paths.emplace_back(name);
    } else {
        paths = list;
    }
}

void* CoreCubr::loadm(void* library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return dlsym(library, name);
}

bool CoreCubr::resolve() {
    CoreAnsx missing("");
    bind(handle, cudabridge_devcs, "cudabridge_devcs", true, missing);
    bind(handle, cudabridge_init_, "cudabridge_init_", true, missing);
    bind(handle, cudabridge_stop_, "cudabridge_stop_", true, missing);
    bind(handle, cudabridge_cudav, "cudabridge_cudav", true, missing);
    bind(handle, cudabridge_check, "cudabridge_check", false, missing);
    bind(handle, cudabridge_versn, "cudabridge_versn", true, missing);
    bind(handle, cudabridge_mallc, "cudabridge_mallc", true, missing);
    bind(handle, cudabridge_free_, "cudabridge_free_", true, missing);
    bind(handle, cudabridge_plan_, "cudabridge_plan_", true, missing);
    bind(handle, cudabridge_despl, "cudabridge_despl", true, missing);
    bind(handle, cudabridge_exect, "cudabridge_exect", true, missing);
    bind(handle, cudabridge_op32p, "cudabridge_op32p", true, missing);
    bind(handle, cudabridge_op32d, "cudabridge_op32d", true, missing);
    bind(handle, cudabridge_op32c, "cudabridge_op32c", true, missing);
    bind(handle, cudabridge_opchp, "cudabridge_opchp", true, missing);
    bind(handle, cudabridge_opchd, "cudabridge_opchd", true, missing);
    bind(handle, cudabridge_cnm15, "cudabridge_cnm15", true, missing);
    bind(handle, cudabridge_cnm16, "cudabridge_cnm16", true, missing);
    bind(handle, cudabridge_af32p, "cudabridge_af32p", true, missing);
    bind(handle, cudabridge_af32d, "cudabridge_af32d", true, missing);
    bind(handle, cudabridge_af32c, "cudabridge_af32c", true, missing);
    bind(handle, cudabridge_afchp, "cudabridge_afchp", true, missing);
    bind(handle, cudabridge_afchd, "cudabridge_afchd", true, missing);
    bind(handle, cudabridge_cnm17, "cudabridge_cnm17", true, missing);
    bind(handle, cudabridge_avnwe, "cudabridge_avnwe", true, missing);
    bind(handle, cudabridge_avcpe, "cudabridge_avcpe", true, missing);
    bind(handle, cudabridge_avade, "cudabridge_avade", true, missing);
    bind(handle, cudabridge_avfde, "cudabridge_avfde", true, missing);
    bind(handle, cudabridge_avvmx, "cudabridge_avvmx", true, missing);
    bind(handle, cudabridge_cnm18, "cudabridge_cnm18", false, missing);
    if (missing.Length() > 0) {
        CoreLog_::loger(CoreAnsx("GPU bridge refused, missing entry points:") + missing, 0);
        return false;
    }
    return true;
}

void CoreCubr::forget() {
    cudabridge_devcs = nullptr;
    cudabridge_init_ = nullptr;
    cudabridge_stop_ = nullptr;
    cudabridge_cudav = nullptr;
    cudabridge_check = nullptr;
    cudabridge_versn = nullptr;
    cudabridge_mallc = nullptr;
    cudabridge_free_ = nullptr;
    cudabridge_plan_ = nullptr;
    cudabridge_despl = nullptr;
    cudabridge_exect = nullptr;
    cudabridge_op32p = nullptr;
    cudabridge_op32d = nullptr;
    cudabridge_op32c = nullptr;
    cudabridge_opchp = nullptr;
    cudabridge_opchd = nullptr;
    cudabridge_cnm15 = nullptr;
    cudabridge_cnm16 = nullptr;
    cudabridge_af32p = nullptr;
    cudabridge_af32d = nullptr;
    cudabridge_af32c = nullptr;
    cudabridge_afchp = nullptr;
    cudabridge_afchd = nullptr;
    cudabridge_cnm17 = nullptr;
    cudabridge_avnwe = nullptr;
    reserved = nullptr;
    cudabridge_avcpe = nullptr;
    cudabridge_avade = nullptr;
    cudabridge_avfde = nullptr;
    cudabridge_avvmx = nullptr;
    cudabridge_cnm18 = nullptr;
}

void CoreCubr::close() {
    // The device runs on the library's code: unloading it under a device that
    // was made ready and never stopped pulls that code from under the bridge.
    stopd();
    forget();
    if (handle != nullptr) dlclose(handle);
    handle = nullptr;
    loaded = false;
    initialised = false;
}

bool CoreCubr::start() {
    if (tried) return loaded;
    tried = true;
    for (const CoreAnsx& path : paths) {
        handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
        if (handle != nullptr) break;
    }
    if (handle == nullptr) return false;
    loaded = true;
    // A bridge that lacks an entry point would crash the first engine that calls
    // it, so it counts as absent.
    if (!resolve()) {
        close();
        return false;
    }
    char text[iCversionlength] = {};
    const bool usable = cudabridge_cudav(0, text);
    text[iCversionlength - 1] = '\0';
    CoreLog_::debug(CoreAnsx(text), 0, 3);
    if (!usable) {
        close();
        return false;
    }
    char version[iCversionlength] = {};
    cudabridge_versn(version);
    version[iCversionlength - 1] = '\0';
    CoreLog_::debug(CoreAnsx(version), 0, 3);
    return loaded;
}

void CoreCubr::initd(int device) {
    if (initialised || !start()) return;
    cudabridge_init_(device);
    initialised = true;
}

void CoreCubr::stopd() {
    if (!initialised) return;
    if (cudabridge_stop_ != nullptr) cudabridge_stop_();
    // A stopped device needs initd again before the next GPU plan.
    initialised = false;
}

void CoreCubr::stop_() { close(); }
