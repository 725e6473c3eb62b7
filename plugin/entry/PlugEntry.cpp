// The plug-in's exported entry points: VSTPluginMain, the same under the
// name "main" for older hosts, and createEffectInstance behind both. Every
// other symbol of the shared object stays hidden (version script).
// Threads: the host's loading thread.
#include "platform/PlatVst.h"
#include "plugin/CoreVrlg.h"
#include "runtime/CoreLog_.h"

#define VORLAN_EXPORT extern "C" __attribute__((visibility("default")))

// A new plug-in object for the host; null when the host has no callback or
// memory runs out. The object frees itself at close; the record the host
// holds stays until the library unloads.
PlatVst::Effect* createEffectInstance(PlatVst::HostCallback host) {
    try {
        return (new CoreVrlg(host))->getef();
    } catch (...) {
        CoreLog_::loger(CoreAnsx("Fatal error"), 0);
        return nullptr;
    }
}

VORLAN_EXPORT PlatVst::Effect* VSTPluginMain(PlatVst::HostCallback host) {
    if (host == nullptr) return nullptr;
    // A host that answers 0 to the version request speaks no version we know.
    if (host(nullptr, PlatVst::hostVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    return createEffectInstance(host);
}

// Older hosts look the entry up as "main".
VORLAN_EXPORT PlatVst::Effect* vorlanMain(PlatVst::HostCallback host) __asm__("main");
PlatVst::Effect* vorlanMain(PlatVst::HostCallback host) { return VSTPluginMain(host); }
