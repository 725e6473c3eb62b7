#include "plugin/CoreMstr.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>

#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "engine/CorePlel.h"
#include "platform/PlatBundle.h"
#include "plugin/CorePrbn.h"
#include "processing/CorePrcs.h"
#include "runtime/CoreBlnk.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "skin/CoreSkin.h"
#include "storage/CoreFsys.h"

namespace {
std::mutex sharedLock;             // guards the four below
int sharedUsers = 0;               // instances holding the shared objects
CorePool* sharedPool_ = nullptr;   // process-wide pool
CorePlel* sharedCache_ = nullptr;  // process-wide kernel cache, on sharedPool_
std::atomic<int> failures{0};      // test hook: assemblies still to fail
std::atomic<bool> hookRead{false}; // the environment's hook was read
} // namespace

void CoreMstr::failNext(int n) { failures.store(n > 0 ? n : 0); }

int CoreMstr::users() {
    std::lock_guard<std::mutex> guard(sharedLock);
    return sharedUsers;
}

CorePool* CoreMstr::sharedPool() {
    std::lock_guard<std::mutex> guard(sharedLock);
    return sharedPool_;
}

CorePlel* CoreMstr::sharedCache() {
    std::lock_guard<std::mutex> guard(sharedLock);
    return sharedCache_;
}

bool CoreMstr::acquire() {
    std::lock_guard<std::mutex> guard(sharedLock);
    if (sharedUsers == 0) {
        try {
            sharedPool_ = new CorePool();
            sharedCache_ = new CorePlel(sharedPool_);
        } catch (...) {
            delete sharedPool_;
            sharedPool_ = nullptr;
            return false;
        }
    }
    ++sharedUsers;
    return true;
}

void CoreMstr::release() {
    std::lock_guard<std::mutex> guard(sharedLock);
    if (sharedUsers <= 0 || --sharedUsers > 0) return;
    delete sharedCache_;
    delete sharedPool_;
    sharedCache_ = nullptr;
    sharedPool_ = nullptr;
}

void CoreMstr::where(CoreAnsx& folder, CoreAnsx& file) {
    folder = CoreAnsx("");
    file = CoreAnsx("0");
    // Resolved: the loader keeps the name the host gave, which may be
    // relative or hold "..", and the engine joins its data path to this folder.
    std::string const path = PlatBundle::imagePath(reinterpret_cast<void const*>(&CoreMstr::where));
    if (path.empty()) return;
    std::size_t const cut = path.rfind('/');
    if (cut == std::string::npos) {
        folder = CoreAnsx("./");
        file = CoreAnsx(path.c_str());
    } else {
        folder = CoreAnsx(path.substr(0, cut + 1).c_str());
        file = CoreAnsx(path.substr(cut + 1).c_str());
    }
}

CoreMstr::CoreMstr(int rate, CoreAnsx const& codepath, CoreAnsx const& codename, CorePlif* plugin) {
    if (!hookRead.exchange(true)) {
        if (char const* n = std::getenv("VORLAN_FAIL_ASSEMBLY")) failNext(std::atoi(n));
    }
    try {
        // The engine needs this much in one piece at its first load; a host
        // that cannot give it now gets a failed instance, not a crash later.
        bool forced = false;
        for (int left = failures.load(); left > 0 && !forced;)
            forced = failures.compare_exchange_weak(left, left - 1);
        char* probe = forced ? nullptr : new (std::nothrow) char[CorePrcs::iCmemoryrequirements];
        if (probe == nullptr) throw CoreAnsx("memory test failed");
        delete[] probe;
        if (!acquire()) throw CoreAnsx("shared pool and cache could not be built");
        shared = true;
        pool = new CorePool();
        blink = new CoreBlnk();
        mailbox = new CoreDspc();
        fsys = new CoreFsys(pool);
        engine = new CorePrcs(pool, codepath, rate, blink, codename, false, false, fsys,
                              CoreAnsx("0"), false, sharedCache_);
        // A skin that cannot be read answers its fallbacks; the instance opens.
        skin = new CoreSkin(engine->getbs(62, nullptr));
        bus = new CorePrbn(engine);
        display = new CoreDsif(bus, mailbox, blink, skin, plugin);
    } catch (CoreAnsx const& e) {
        CoreLog_::loger(CoreAnsx("Fatal error: ") + e, 0);
        clear();
    } catch (...) {
        CoreLog_::loger(CoreAnsx("Fatal error"), 0);
        clear();
    }
}

CoreMstr::~CoreMstr() { clear(); }

void CoreMstr::clear() noexcept {
    // The display first (it waits for a batch in progress and stops its
    // thread), then the engine (it bypasses, stops its worker and frees its
    // plans), then what they borrowed, then the shared reference.
    delete display;
    display = nullptr;
    delete bus;
    bus = nullptr;
    delete skin;
    skin = nullptr;
    delete engine;
    engine = nullptr;
    delete fsys;
    fsys = nullptr;
    delete mailbox;
    mailbox = nullptr;
    delete blink;
    blink = nullptr;
    delete pool;
    pool = nullptr;
    if (shared) release();
    shared = false;
}
