#include "engine/CoreCnvl.h"
#include "engine/CoreCnvlIntl.h"
#include "engine/CoreSpmx.h"

#include "engine/CoreCubr.h"
#include "engine/CoreOpti.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"

#include <algorithm>
#include <climits>
#include <vector>

const char* const CoreCnvl::sCnoversion = "N/A";

namespace {

// Element sets of the table rows.
void setElements1(CoreCnvl::ENGINEDESC& d) {
    d.elsize = CoreCnvlIntl::szel1;
    d.elnew = CoreCnvlIntl::nwel1;
    d.eldel = CoreCnvlIntl::dlel1;
    d.elcopy = CoreCnvlIntl::copy1;
    d.eladj = CoreCnvlIntl::adj_1;
    d.elfade = CoreCnvlIntl::fade1;
    d.elmix = CoreCnvlIntl::vmix1;
}

// The bridge offers no way to free an element, so set 2 has no delete.
void setElements2(CoreCnvl::ENGINEDESC& d) {
    d.elsize = CoreCnvlIntl::szel2;
    d.elnew = CoreCnvlIntl::nwel2;
    d.eldel = nullptr;
    d.elcopy = CoreCnvlIntl::copy2;
    d.eladj = CoreCnvlIntl::adj_2;
    d.elfade = CoreCnvlIntl::fade2;
    d.elmix = CoreCnvlIntl::vmix2;
}

// A direct engine: no plan, granularity 2.
CoreCnvl::ENGINEDESC direct(CoreCnvl::KERNEL k, CoreCnvl::VALIDTEST test, int block, bool sse2,
                            bool listed) {
    CoreCnvl::ENGINEDESC d;
    d.kernel = k;
    d.test = test;
    d.listed = listed;
    d.block = block;
    d.sse2 = sse2;
    d.granularity = 2;
    setElements1(d);
    return d;
}

// A block-family engine: caller's block, granularity 128 (CPU) or 1024 (GPU).
CoreCnvl::ENGINEDESC blockwise(CoreCnvl::KERNEL k, CoreCnvl::VALIDTEST test, bool partitioned,
                               bool needscomp, bool gpu, CoreCnvl::LOADFN load,
                               CoreCnvl::PLANFN unload, CoreCnvl::PLANFN clear,
                               CoreCnvl::LCOMFN loadcomp, CoreCnvl::PLANFN unloadcomp) {
    CoreCnvl::ENGINEDESC d;
    d.kernel = k;
    d.test = test;
    d.listed = true;
    d.block = -1;
    d.blockfamily = true;
    d.partitioned = partitioned;
    d.needscomp = needscomp;
    d.gpu = gpu;
    d.cpu = !gpu;
    d.granularity = gpu ? 1024 : 128;
    d.load = load;
    d.unload = unload;
    d.clear = clear;
    d.loadcomp = loadcomp;
    d.unloadcomp = unloadcomp;
    setElements1(d);
    return d;
}

} // namespace

CoreCnvl::ENGINEDESC CoreCnvlIntl::engine(short i) {
    switch (i) {
    case 0: return direct(CoreOpti::cnvs0, nullptr, 1, false, true);
    case 1: return direct(::cnvs1, nullptr, 1, false, true);
    case 2: return direct(CoreOpti::cnvs2, isss2, 2, true, true);
    case 3: return direct(CoreOpti::cnvs4, nullptr, 1, false, true);
    case 4: return direct(::cnvs5, nullptr, 1, false, true);
    case 5: return direct(CoreOpti::cnvs6, isss2, 2, true, true);
    case 6:
        return blockwise(cnvs8, isffw, false, false, false, load2, uloa2, clea2, nullptr, nullptr);
    case 7:
        return blockwise(cnvs9, isffw, true, false, false, load1, uloa1, clea1, nullptr, nullptr);
    case 8: return blockwise(cns13, isffw, true, true, false, load6, uloa6, clea6, lcom1, ucom1);
    case 9:
        return blockwise(cns10, nullptr, false, false, false, load3, uloa3, clea3, nullptr,
                         nullptr);
    case 10:
        return blockwise(cns11, nullptr, true, false, false, load4, uloa4, clea4, nullptr, nullptr);
    case 11: return blockwise(cns12, nullptr, true, true, false, load5, uloa5, clea5, lcom1, ucom1);
    case 12:
        return blockwise(cns14, iscda, true, false, true, load7, uloa7, clea7, nullptr, nullptr);
    case 13:
        return blockwise(cns15, iscda, true, false, true, load8, uloa8, clea8, nullptr, nullptr);
    case 14: return blockwise(cns16, iscda, true, true, true, load9, uloa9, clea9, lcom2, ucom2);
    case 15: return blockwise(cns17, iscda, true, true, true, lod10, ulo10, cle10, lcom3, ucom3);
    case 16: {
        ENGINEDESC d = blockwise(cns18, iscda, true, true, true, lod10, ulo10, cle10, lcom3, ucom3);
        d.listed = false;
        setElements2(d);
        return d;
    }
    case 17: return direct(cns18, nullptr, 1, false, false);
    default: return ENGINEDESC{};
    }
}

CoreCnvl::CoreCnvl(CorePool* pool, CoreAnsx name, long, CoreCubr* bridge)
    : name(name), pool(pool), bridge(bridge) {
    for (short i = 0; i < iCengines; ++i) table[static_cast<size_t>(i)] = CoreCnvlIntl::engine(i);
    valid.sse2 = issm2();
    valid.fftw = false;
    version = gtbdv();
    valid.gpu = version != CoreAnsx(sCnoversion);
    ext.bridge = bridge;
    ext.index = &fft.index;
    ext.handles = fft.handles;
    fft.pool = pool;
    vecext.bridge = bridge;
}

CoreCnvl::~CoreCnvl() {
    // The owner normally releases the plans first; whatever is still loaded
    // would otherwise leak.
    try {
        delpc();
        uload();
    } catch (...) {
    }
    freeRings();
    delete spectramix;
}

void CoreCnvl::setvr(CoreVctr* root) {
    // Every slot is bound anew after one slot's edit: spectra made for the
    // same vector under the same plan stand.
    if (ext.spectramix != nullptr && spectramix->rebnd(root, ext)) return;
    dropSpectra();
    if (root == nullptr || !planned || !oncpu || !fft.partloaded) return;
    try {
        if (spectramix == nullptr) spectramix = new CoreSpmx(pool);
        if (spectramix->setup(root, ext)) ext.spectramix = spectramix;
    } catch (...) {
        // Only a saving is lost: the kernel is transformed as before.
        CoreLog_::debug(CoreAnsx("player ") + name + CoreAnsx(": no room for element spectra"), 1,
                        3);
    }
}

void CoreCnvl::dropSpectra() noexcept {
    // Partitions the last mix left to its two terms were never written into
    // the kernel spectra: without the terms they are whole only after a
    // refresh.
    if (ext.spectramix != nullptr && ext.spectramix->pairs()) ext.spectravalid = false;
    ext.spectramix = nullptr;
    if (spectramix != nullptr) spectramix->clear();
}

CoreAnsx CoreCnvl::gtbdv() {
    if (bridge == nullptr || !bridge->start() || bridge->cudabridge_devcs == nullptr ||
        bridge->cudabridge_versn == nullptr || bridge->cudabridge_devcs() <= 0)
        return CoreAnsx(sCnoversion);
    std::vector<char> text(static_cast<size_t>(CoreCubr::iCversionlength) + 1, '\0');
    bridge->cudabridge_versn(text.data());
    text.back() = '\0';
    return CoreAnsx(text.data());
}

bool CoreCnvlIntl::isss2(const VALIDSTRUCT* v) { return v != nullptr && v->sse2; }
bool CoreCnvlIntl::isffw(const VALIDSTRUCT* v) { return v != nullptr && v->fftw; }
bool CoreCnvlIntl::iscda(const VALIDSTRUCT* v) { return v != nullptr && v->gpu; }

bool CoreCnvl::ldble(short engine) const {
    if (engine < 0 || engine >= iCengines) return false;
    const ENGINEDESC& d = table[static_cast<size_t>(engine)];
    return d.test == nullptr || d.test(&valid);
}

bool CoreCnvl::isfft(short engine) const {
    if (engine < 0 || engine >= iCengines) return false;
    return table[static_cast<size_t>(engine)].blockfamily;
}

bool CoreCnvl::getpt() const {
    return selected >= 0 && selected < iCengines && table[static_cast<size_t>(selected)].gpu;
}

int CoreCnvl::getmp() const {
    if (selected < 0 || selected >= iCengines) return 0;
    return table[static_cast<size_t>(selected)].granularity;
}

int CoreCnvl::set__(short engine, int block, int kernelLength, int fftLength, int partLength,
                    int totalLength) {
    selected = engine;
    fallback = false;
    if (!ldble(engine)) {
        fallback = true;
        if (isfft(engine)) {
            // setdb takes any number; an unusable default must not be selected.
            selected = ldble(defaultfft) ? defaultfft : iCdefaultbe_;
        } else {
            selected = iCdefaultdir;
        }
    }
    if (block <= 0) return -1;

    // A plan still loaded goes with the functions that loaded it; the copies
    // below would otherwise leave it to the new engine's unload or to nobody.
    releasePlans();
    const ENGINEDESC& d = table[static_cast<size_t>(selected)];
    planned = false; // the rings and plan no longer match the selection
    ext.monomode = false;
    fft.complength = -1;
    kernel = d.kernel;
    load = d.load;
    unload = d.unload;
    clearfn = d.clear;
    loadcomp = d.loadcomp;
    unloadcomp = d.unloadcomp;
    this->block = d.block == -1 ? block : d.block;
    ext.block = this->block;
    oncpu = d.cpu;
    fft.blockfamily = d.blockfamily;
    fft.partitioned = d.partitioned;
    kernellength = kernelLength;
    worklength = kernelLength;
    if (fftLength > 0) fft.fftlength = fftLength;
    if (partLength > 0) fft.partlength = partLength;
    if (totalLength > 0) fft.totallength = totalLength;
    return this->block;
}

void CoreCnvl::set__() {
    releasePlans();
    kernel = nullptr;
    load = nullptr;
    unload = nullptr;
    clearfn = nullptr;
    loadcomp = nullptr;
    unloadcomp = nullptr;
    fallback = false;
    oncpu = false;
    fft.blockfamily = false;
    planned = false;
    freeRings();
}

void CoreCnvl::releasePlans() {
    delpc();
    uload();
}

void CoreCnvl::setci(double* buffer, short mode, int length) {
    ext.compbuffer = buffer;
    ext.compmode = mode;
    ext.complength = length;
}

bool CoreCnvl::load_(int& N) {
    if (load == nullptr) return true;
    return load(fft.fftlength, &fft, &ext, block, N);
}

bool CoreCnvl::plan_() {
    planned = false;
    if (kernel == nullptr || block < 1) {
        CoreLog_::loger(CoreAnsx("player ") + name + CoreAnsx(": no engine selected to plan"), 1);
        return false;
    }
    int N = kernellength;
    if (!load_(N)) return false;
    if (N < 0) N = 0;
    if (N > INT_MAX / 3) {
        // 3N values per ring would not fit the ring length.
        CoreLog_::loger(CoreAnsx("player ") + name + CoreAnsx(": work length ") + CoreAnsx(N) +
                            CoreAnsx(" too long"),
                        1);
        return false;
    }
    if (N % block != 0) {
        // The ring wraps by N; a block that does not divide N would tear it.
        CoreLog_::loger(CoreAnsx("player ") + name + CoreAnsx(": engine block ") + CoreAnsx(block) +
                            CoreAnsx(" does not divide ") + CoreAnsx(N),
                        1);
        return false;
    }
    const int length = 3 * N;
    if (length != allocated || !ringsallocated) {
        if (length < 1) {
            freeRings();
        } else {
            // New rings first, so a failed request leaves the old ones in place.
            auto* newL = static_cast<double*>(pool->mallc(0, length, "CNV0", CoreAnsx("")));
            double* newR = nullptr;
            try {
                newR = static_cast<double*>(pool->mallc(0, length, "CNV0", CoreAnsx("")));
            } catch (...) {
                pool->free_(newL);
                throw;
            }
            freeRings();
            ringL = newL;
            ringR = newR;
            allocated = length;
            ringsallocated = true;
        }
    }
    if (ringsallocated) {
        std::fill(ringL, ringL + allocated, 0.0);
        std::fill(ringR, ringR + allocated, 0.0);
    }
    worklength = N;
    ringlength = length;
    wrapstart = N;
    wraplimit = 2 * N;
    position = N;
    if (CoreLog_::getdb() >= 3)
        CoreLog_::debug(CoreAnsx("player ") + name + CoreAnsx(": ") + CoreAnsx(kernellength) +
                            CoreAnsx(":") + CoreAnsx(fft.fftlength) + CoreAnsx(":") + CoreAnsx(N),
                        1, 3);
    planned = true;
    return true;
}

void CoreCnvl::uload() {
    dropSpectra(); // made for the plan that goes
    if (unload != nullptr) unload(&fft, &ext);
}

void CoreCnvl::delpl() {
    planned = false;
    uload();
}

void CoreCnvl::clear() {
    if (ringsallocated) {
        std::fill(ringL, ringL + allocated, 0.0);
        std::fill(ringR, ringR + allocated, 0.0);
    }
    if (clearfn != nullptr) clearfn(&fft, &ext);
}

void CoreCnvl::set_c(void* buffer, short mode, long length) {
    compbuffer = buffer;
    compmode = mode;
    complength = static_cast<std::int32_t>(length);
}

bool CoreCnvl::planc() {
    delpc();
    if (loadcomp == nullptr) return true;
    fft.compbuffer = compbuffer;
    const bool ok = loadcomp(&fft, &ext, compbuffer, compmode, complength);
    comploaded = true; // unloads are harmless on a half-built plan
    return ok;
}

void CoreCnvl::delpc() {
    if (!comploaded) return;
    if (unloadcomp != nullptr) unloadcomp(&fft, &ext);
    comploaded = false;
}

bool CoreCnvl::getci(int& length, int& block) const {
    length = fft.complength;
    block = this->block;
    return fft.needscomp;
}

void CoreCnvl::cleas() {
    planned = false;
    freeRings();
}

void CoreCnvl::freeRings() {
    if (ringsallocated && pool != nullptr) {
        pool->free_(ringL);
        pool->free_(ringR);
    }
    ringL = nullptr;
    ringR = nullptr;
    ringsallocated = false;
    allocated = 0;
}

const CoreCnvl::ENGINEDESC& CoreCnvl::elementRow() const {
    if (selected >= 0 && selected < iCengines) return table[static_cast<size_t>(selected)];
    return table[0]; // set 1
}

void CoreCnvl::getse(ELSIZE& f) const { f = elementRow().elsize; }
void CoreCnvl::getne(ELNEW& f) const { f = elementRow().elnew; }
void CoreCnvl::getde(ELDEL& f) const { f = elementRow().eldel; }
void CoreCnvl::getce(ELCOPY& f) const { f = elementRow().elcopy; }
void CoreCnvl::getae(ELADJ& f) const { f = elementRow().eladj; }
void CoreCnvl::getfd(ELFADE& f) const { f = elementRow().elfade; }
void CoreCnvl::getvm(ELMIX& f) const { f = elementRow().elmix; }

void CoreCnvl::getve(VECEXTENSION*& e) {
    e = (selected >= 0 && selected < iCengines) ? &vecext : nullptr;
}
