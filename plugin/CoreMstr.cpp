#include "plugin/CoreMstr.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "engine/CorePlel.h"
#include "platform/PlatBundle.h"
#include "plugin/CorePrbn.h"
#include "processing/CorePrcs.h"
#include "runtime/CoreBlnk.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "runtime/CoreTlst.h"
#include "skin/CoreSkin.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"

namespace {
std::mutex sharedLock;             // guards the four below
int sharedUsers = 0;               // instances holding the shared objects
CorePool* sharedPool_ = nullptr;   // process-wide pool
CorePlel* sharedCache_ = nullptr;  // process-wide kernel cache, on sharedPool_
std::atomic<int> failures{0};      // test hook: assemblies still to fail
std::atomic<bool> hookRead{false}; // the environment's hook was read
constexpr int kControls = 10;      // MIX1..8, GAININ, GAINOUT
constexpr int kMixes = 8;

// The top element tag of the file at path, parsed into document; null when
// the file cannot be read or holds no such element. Quietly: the boot reads
// the same file on another thread and says once what is wrong with it.
CoreNode* topOf(CoreXml_& document, CoreAnsx const& path, CoreAnsx const& tag) {
    struct stat info {};
    if (::stat(CoreButl::rslve(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > CoreButl::iCwholebytes)
        return nullptr;
    try {
        document.quiet(true);
        CoreNode* const root = document.getff(path, false);
        CoreNode* const found = root != nullptr ? root->getcd(tag) : nullptr;
        return found != nullptr && !found->leaf_() ? found : nullptr;
    } catch (...) {
        return nullptr;
    }
}

// What the program reader sets from one program document: every MIX control
// (a missing or non-finite value leaves it unused, at the bottom of its
// -1..1 range), and a gain only where the document holds one (half the
// linear gain; a level too large for a finite gain is not taken). NaN marks
// a gain not given.
void readControls(CoreNode const* program, double* controls) {
    using X = DataXml_;
    auto number = [program](CoreAnsx const& tag) {
        if (!program->exslc(tag)) return std::nan("");
        double const v = program->getld(tag);
        return std::isfinite(v) ? v : std::nan("");
    };
    for (int n = 1; n <= kMixes; ++n) {
        double const v = number(X::sCtagrootmx + CoreAnsx(n));
        controls[n - 1] = std::isnan(v) ? 0.0 : (v + 1.0) / 2.0;
    }
    CoreAnsx const gains[2] = {X::sCtaggainin, X::sCtaggainou};
    for (int g = 0; g < 2; ++g) {
        if (!program->exslc(gains[g])) continue;
        // A level that is not a finite number reads as 0 dB, as the reader has it.
        double db = CoreButl::flushSubnormal(program->getld(gains[g]));
        if (!std::isfinite(db)) db = 0.0;
        double const linear = std::pow(10.0, db / 20.0);
        if (std::isfinite(linear)) controls[kMixes + g] = 0.5 * linear;
    }
}

} // namespace

void CoreMstr::btval(float* values) const {
    double controls[kControls];
    for (int i = 0; i < kControls; ++i) controls[i] = i < kMixes ? 0.0 : std::nan("");
    if (engine != nullptr) {
        try {
            using X = DataXml_;
            CoreAnsx setupfile, programs;
            engine->btfls(setupfile, programs);
            CoreXml_ setupdoc;
            CoreNode const* const setup = topOf(setupdoc, setupfile, X::sCtagsetup_);
            // The bank's entries in document order, and the two the boot
            // reads, as the bank load places them.
            std::vector<CoreAnsx> files;
            std::vector<int> sequences;
            std::vector<bool> marks; // LOAD
            CoreTlst const* list = setup != nullptr ? setup->getcn() : nullptr;
            for (unsigned c = 0; list != nullptr && c < unsigned(list->count); ++c) {
                auto const* entry = static_cast<CoreNode const*>((*list)[c]);
                if (entry->leaf_() || entry->gettx().Trim().UpperCase() != X::sCtagprogrm) continue;
                files.push_back(entry->getls(X::sCtagfilenm));
                sequences.push_back(entry->getli(X::sCtagsequen));
                marks.push_back(entry->getlb(X::sCtagload__));
            }
            int first = -1, boot = -1;
            CorePrcs::bootEntries(sequences, marks, first, boot);
            // Location 0, then the boot program over it; a file name that
            // leaves the program folder, or a file that cannot be read, gives
            // nothing.
            for (int const k : {first, boot == first ? -1 : boot}) {
                if (k < 0) continue;
                CoreAnsx name = files[std::size_t(k)];
                if (!CoreButl::infld(name)) continue;
                if (CoreButl::getfx(name).Length() <= 0) name = name + CoreButl::sCextxml;
                CoreXml_ document;
                if (CoreNode const* program = topOf(document, programs + name, X::sCtagprogrm))
                    readControls(program, controls);
            }
        } catch (...) {
            // A text that could not be made: what was read so far stands.
        }
    }
    for (int i = 0; i < kControls; ++i)
        values[i] = static_cast<float>(std::isnan(controls[i]) ? 0.5 : controls[i]);
}

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
    // plans), then what they borrowed, then the shared reference. A version
    // waiting for the bank's lock gives up first: the display waits for it.
    if (engine != nullptr) engine->endbk();
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
