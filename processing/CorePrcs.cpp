// CorePrcs construction, teardown and fboot.
#include "processing/CorePrcs.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "engine/CoreCnvl.h"
#include "engine/CoreCubr.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreMidi.h"
#include "platform/PlatSignalThrd.h"
#include "program/CoreMmry.h"
#include "program/CoreProg.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreHutl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePmsg.h"
#include "runtime/CorePool.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreXutl.h"
#include "storage/CoreDcry.h"
#include "storage/CoreFsys.h"
#include "storage/CoreVars.h"
#include "storage/CoreXml_.h"

namespace {

constexpr char const* kTag = "PRCS";
constexpr int kLargestRing = 1 << 30; // the largest power of two an int ring index reaches

// n zeroed elements of a pool kind (0: doubles, 5: bytes, 6: shorts).
template <typename T> T* zeroed(CorePool* pool, short kind, int n) {
    T* block = static_cast<T*>(pool->mallc(kind, n, kTag, CoreAnsx("CorePrcs")));
    std::memset(block, 0, sizeof(T) * static_cast<std::size_t>(n));
    return block;
}

template <typename T> void giveBack(CorePool* pool, T*& block) noexcept {
    if (block != nullptr && pool != nullptr) pool->free_(block);
    block = nullptr;
}

void debug3(CoreAnsx const& text) { CoreLog_::debug(text, 0, 3); }

bool isFolder(CoreAnsx const& path) {
    struct stat info {};
    return ::stat(CoreButl::rslve(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

CorePrcs::CorePrcs(CorePool* pool, CoreAnsx codepath, int rate, CoreBlnk* blink, CoreAnsx codename,
                   bool nocache, bool keeplog, CoreFsys* shellfsys, CoreAnsx mastertext,
                   bool diskoption, CorePlel* sharedcache)
    : CoreTthr(true), pool(pool), blink(blink), shellfsys(shellfsys), sharedcache(sharedcache),
      diskoption(diskoption), nocache(nocache), keeplog(keeplog), codepath(codepath),
      codename(codename) {
    failed = false;
    samplerate = rate;
    requestedrate = rate;
    // Here the plug-in's own folder: a foreign absolute default would be
    // relative on this platform and spread logs and caches into the host's
    // working folder.
    datapath = join_(codepath, CoreAnsx(""));
    try {
        if (pool == nullptr) throw CoreAnsx("CorePrcs: no pool");
        midi = new CoreMidi();
        masterdoc = new CoreXml_();
        int threads = 0;
        int ippthreads = 1;
        long refresh = iCurefreshoverflow;
        // Until the settings name the data path, and whenever it is not a
        // folder there, the log lies beside the plug-in file.
        if (!keeplog) CoreLog_::setpt(join_(codepath, CoreAnsx("")));
        rdmst(mastertext, threads, ippthreads, refresh);
        sizes(threads);
        if (!keeplog) {
            if (isFolder(datapath))
                CoreLog_::setpt(datapath);
            else
                CoreLog_::logfl(datapath + CoreAnsx(": data path is not a folder here"), 0);
            CoreLog_::setdb(debuglevel, false);
        }
        logms(ippthreads);
        pcksk();
        debugpath = datapath + CoreAnsx("DEBUG/");

        // Delays and ring positions, from the microseconds the settings
        // give: a rate change converts these again.
        openedoffset = forceoffset;
        openedahead = aheadlength;
        int size = 0;
        if (!delaysAtRate(forcedoffset, lookahead, size))
            throw CoreAnsx("CorePrcs: the delays need a ring beyond the largest");
        if (openedoffset > 0) delaycompensation = baselatency + forcedoffset + lookahead;
        debug3(CoreAnsx("DELAY COMPENSATION:") + CoreAnsx(delaycompensation.load()));
        if (size > ringsize)
            debug3(CoreAnsx("WORKBUFFER raised to hold the delays:") + CoreAnsx(size));
        ringsize = size;
        ringwrap = size - 1;
        restPositions();

        if (ippthreads > 0) PlatSignalThrd::setCount(ippthreads);
        debug3(CoreAnsx("ippGetNumThreads:") + CoreAnsx(PlatSignalThrd::count()));

        protectionlimit = std::pow(10.0, CoreButl::flushSubnormal(protectiondb) / 20.0);
        overflowhold = static_cast<double>(refresh) / CoreButl::dCu / CoreButl::dCsecondsperday;

        build();
    } catch (...) {
        release();
        throw;
    }
    if (threaded) {
        Resume();
        // Without a worker every hand-off and the teardown's wait would block
        // for ever; the engine then does its work on the callers' threads.
        if (!alive()) {
            threaded = false;
            CoreLog_::loger(CoreAnsx("CorePrcs: no worker thread, running unthreaded"), 0);
        }
    }
}

CorePrcs::~CorePrcs() {
    // The failed flag skips only what touches audio and the worker's
    // commands; the thread is always stopped and what was built released.
    if (!failed) teardown();
    Terminate();
    WaitFor();
    release();
}

void CorePrcs::sizes(int threads) {
    processingblock = CoreButl::getp2(CoreButl::max__(dspbuffer, CoreButl::iCsamplealign));
    currentblock = processingblock;
    currentblock2 = processingblock;
    ringsize = CoreButl::getp2(workbuffer);
    ringwrap = ringsize - 1;
    threaded = threads > 0;
    extralatency = threaded ? processingblock : 0;
    handoff = false;
    baselatency = extralatency + processingblock;
    hostblock = threadsmindim;
    tempo.store(defaulttempo);
    // The rates stand for the master period until the boot adapts them; a
    // block never meets a control period of 0.
    programperiod = programrateus;
    effectiveperiod = programrateus;
    int const rate = CoreButl::max__(
        1, static_cast<int>(CoreButl::min__(CoreButl::tpfup(samplerate, programrateus), 1L << 30)));
    realtimerate = rate;
    offlinerate = CoreButl::max__(1, rate / CoreButl::max__(1, exportquality));
    programrate = realtimerate;
}

bool CorePrcs::delaysAtRate(int& forced, int& ahead, int& size) const noexcept {
    forced = -1;
    ahead = 0;
    if (openedoffset > 0) {
        forced = static_cast<int>(CoreButl::tpfup(samplerate, openedoffset));
        ahead = static_cast<int>(CoreButl::tpfup(samplerate, openedahead));
    }
    // Every ring position must lie inside the ring, whatever WORKBUFFER
    // says: the input is written a whole delay compensation ahead of the
    // output, with room for a full host chunk, and so is the bypass ring.
    long long const needed = static_cast<long long>(baselatency) + ahead +
                             CoreButl::max__(forced, 0) + processingblock + 1;
    if (needed > kLargestRing) return false;
    size = CoreButl::max__(CoreButl::getp2(static_cast<int>(needed)), CoreButl::getp2(workbuffer));
    return true;
}

void CorePrcs::allocateRings(int size) {
    // The side ring only while the program feeds it.
    double** const rings[] = {inring, outring, bypassring, sidering};
    bool const side = sidering[0] != nullptr;
    double* fresh[std::size(rings)][iCchannels] = {};
    double* gains = nullptr; // the callers fill it with the Gain out in force
    try {
        for (std::size_t k = 0; k < std::size(rings); ++k)
            for (int c = 0; c < iCchannels && (rings[k] != sidering || side); ++c)
                fresh[k][c] = zeroed<double>(pool, 0, size);
        gains = zeroed<double>(pool, 0, size);
    } catch (...) {
        for (auto& kind : fresh)
            for (double*& block : kind) giveBack(pool, block);
        throw;
    }
    for (std::size_t k = 0; k < std::size(rings); ++k)
        for (int c = 0; c < iCchannels && (rings[k] != sidering || side); ++c) {
            giveBack(pool, rings[k][c]);
            rings[k][c] = fresh[k][c];
        }
    giveBack(pool, gainring);
    gainring = gains;
    ringsize = size;
    ringwrap = size - 1;
}

void CorePrcs::restPositions() noexcept {
    outread = 0;
    // The forced offset is latency held in reserve: a program's kernel
    // keeps its time offset ahead of the sync point and the load takes
    // that offset off this distance, so every program's sync point comes
    // out at the delay compensation, the bypass ring's delay.
    inwrite = static_cast<int>(modRing(static_cast<long>(baselatency) + lookahead +
                                       CoreButl::max__(forcedoffset, 0) - appliedoffset));
    alignHandoff();
    bypassread = 0;
    bypasswrite = wrap_(delaycompensation.load());
}

void CorePrcs::alignHandoff() noexcept {
    // The block worker runs on whole blocks of the ring, the lookahead
    // behind the input. What lies between the hand-off end and the input
    // still waits for its block: dropping it would leave the block worker
    // behind the output.
    long const back = modRing(static_cast<long>(inwrite) - lookahead);
    int const block = processingblock >= 1 ? processingblock : 1;
    handedend = static_cast<int>(back - back % block);
    record.position = handedend;
    {
        CoreSmgd guard(ringsem);
        producedend = handedend;
    }
    carry = static_cast<int>(back - handedend);
}

void CorePrcs::pcksk() {
    chosenskin = skinname;
    if (chosenskin.Length() > 0) return;
    CoreAnsx* list = nullptr;
    int count = 0;
    CoreHutl::readr(datapath + skinsub, CoreAnsx("*") + CoreButl::sCextv2s, &list, count,
                    CoreAnsx("*"));
    // Packages come first in the list, folders after them; a folder is a
    // skin only when it holds a description, so that any other folder there
    // (or the data folder itself) is never offered to the skin reader.
    int packages = 0;
    CoreHutl::readr(datapath + skinsub, CoreAnsx("*") + CoreButl::sCextv2s, nullptr, packages,
                    CoreAnsx("0"));
    int kept = packages;
    for (int i = packages; i < count; ++i) {
        CoreAnsx* inside = nullptr;
        int found = 0;
        CoreHutl::readr(datapath + skinsub + list[i], CoreAnsx("*"), &inside, found, CoreAnsx("0"));
        bool described = false;
        for (int k = 0; k < found && !described; ++k)
            described = inside[k].UpperCase() == CoreAnsx("ROM.XML");
        delete[] inside;
        if (described) list[kept++] = list[i];
    }
    count = kept;
    if (count > 0) {
        double const now = CoreXutl::ttime() * CoreButl::dCsecondsperday * 1000.0;
        std::srand(static_cast<unsigned>(std::fmod(now, 4294967296.0)));
        // In double: (count - 1) x rand() overflows an int.
        double const pick =
            std::trunc((count - 1) * static_cast<double>(std::rand()) / double(RAND_MAX));
        int index = static_cast<int>(pick);
        if (index < 0) index = 0;
        if (index > count - 1) index = count - 1;
        chosenskin = list[index];
    }
    delete[] list;
}

static_assert(CorePrcs::iChdimmaxlargest + CoreProg::iChworkdim == 32767);

void CorePrcs::build() {
    bridge = new CoreCubr();
    cnvlcount = static_cast<short>(hdimmax + CoreProg::iChworkdim);
    cnvls = new CNVLLOC[cnvlcount];
    slotstate = new SLOTSTATE[cnvlcount];
    for (short i = 0; i < cnvlcount; ++i) {
        cnvls[i].kernels = new void* [2] { nullptr, nullptr };
        cnvls[i].cnvl = new CoreCnvl(pool, CoreAnsx("H") + CoreAnsx(i + 1), 0, bridge);
    }
    bool const caching = cachepresent && !nocache;
    memory = new CoreMmry(pool, datapath, altcount, altpaths, setupsub, programsub, vectorsub,
                          cachesub, caching, shellfsys);
    meterreadings = zeroed<double>(pool, 0, iCmeters);
    for (CoreEnvf*& follower : meterfollowers)
        follower = new CoreEnvf(pool, CoreAnsx(""), false, nullptr, nullptr, nullptr, nullptr);
    allocateRings(ringsize);
    for (int c = 0; c < iCchannels; ++c) {
        powerbuf[c] = zeroed<double>(pool, 0, processingblock);
        workbuf[c] = zeroed<double>(pool, 0, processingblock);
        feedbackbuf[c] = zeroed<double>(pool, 0, processingblock);
    }
    fillGain(0, ringsize, outputgain);
    metermodes = zeroed<short>(pool, 6, iCmetermodes);
    for (int i = 0; i < iCmetermodes; ++i) metermodes[i] = 3;
    meterlevels = zeroed<double>(pool, 0, iCmeterlevels);
    vars = new CoreVars();
    programdoc = new CoreXml_();
    programfsys = new CoreFsys(pool, datapath, false, diskoption);
    secondfsys = new CoreFsys(pool, datapath, false, diskoption);
    CoreAnsx const dictionaryfile = datapath + dictionarysub + dictionaryromname;
    try {
        dictionary = new CoreDcry(dictionaryfile);
        memory->setdc(dictionary);
    } catch (CoreAnsx const&) {
        // Categories then show untranslated; nothing else depends on it.
        CoreLog_::logfl(dictionaryfile + CoreAnsx(": dictionary does not parse"), 0);
    }
    workevent.ResetEvent();
    bypassevent.ResetEvent();
    messages = new CorePmsg(1, 256);
    program =
        new CoreProg(pool, programfsys, hdimmax, vectorsub, ltimed, lfreqd, forceoffset, lookahead,
                     delaycompensation.load(), ringsize, processingblock, blink, sharedcache);
    program->setsb(messages);
    for (short i = 0; i < cnvlcount; ++i) program->setcv(i, cnvls[i].cnvl);
    program->setrt(samplerate);
    program->setrc(rateconversion);
}

void CorePrcs::teardown() noexcept {
    try {
        if (!bypass.getvl()) smpby(true, iCteardownlock, false, false);
        enginesem.locks(iCteardownlock);
        workersem.locks(iCteardownlock);
        tellStalls(true);
        for (short s = 0; s < cnvlcount; ++s) setcf(s);
        if (threaded) postc(iCcmdstopgpu, 0, true);
        workersem.relse();
        enginesem.relse();
    } catch (...) {
        CoreLog_::loger(CoreAnsx("CorePrcs: teardown failed to release the plans"), 0);
    }
}

void CorePrcs::release() noexcept {
    delete program;
    program = nullptr;
    delete messages;
    messages = nullptr;
    delete dictionary;
    dictionary = nullptr;
    delete programdoc;
    programdoc = nullptr;
    delete programfsys;
    programfsys = nullptr;
    delete secondfsys;
    secondfsys = nullptr;
    delete vars;
    vars = nullptr;
    giveBack(pool, metermodes);
    giveBack(pool, meterlevels);
    slot0table = nullptr;
    worktable = nullptr;
    giveBack(pool, fallingtable);
    giveBack(pool, risingtable);
    tablecapacity = 0;
    for (int c = 0; c < iCchannels; ++c) {
        giveBack(pool, sidering[c]);
        giveBack(pool, inring[c]);
        giveBack(pool, outring[c]);
        giveBack(pool, bypassring[c]);
        giveBack(pool, powerbuf[c]);
        giveBack(pool, workbuf[c]);
        giveBack(pool, feedbackbuf[c]);
    }
    giveBack(pool, gainring);
    for (CoreEnvf*& follower : meterfollowers) {
        delete follower;
        follower = nullptr;
    }
    giveBack(pool, meterreadings);
    delete memory;
    memory = nullptr;
    // No chunk read is in flight: the shell lets none in once close began.
    for (CHUNKANSWER& answer : chunkanswers) {
        giveBack(pool, answer.buffer);
        answer.size = 0;
    }
    delete[] textlist;
    textlist = nullptr;
    textcount = 0;
    delete[] slotstate;
    slotstate = nullptr;
    if (cnvls != nullptr) {
        for (short i = 0; i < cnvlcount; ++i) {
            delete[] cnvls[i].kernels;
            delete cnvls[i].cnvl;
        }
        delete[] cnvls;
        cnvls = nullptr;
    }
    cnvlcount = 0;
    delete bridge;
    bridge = nullptr;
    delete[] altpaths;
    altpaths = nullptr;
    altcount = 0;
    delete masterdoc;
    masterdoc = nullptr;
    delete midi;
    midi = nullptr;
    blink = nullptr;
}

bool CorePrcs::fboot() {
    if (failed || !bootpending.getvl()) return false;
    int step = 0;
    CoreAnsx message;
    bool first = false;
    bool last = false;
    boots(true, step, message, first, last);
    return bootpending.getvl();
}

void CorePrcs::btfls(CoreAnsx& setup, CoreAnsx& programs) const {
    setup = datapath + setupsub + setupromname;
    programs = datapath + programsub;
}

CoreAnsx CorePrcs::join_(CoreAnsx const& folder, CoreAnsx const& name) {
    // An absolute name stands for itself; gluing it to the folder would name
    // a path that does not exist.
    if (name.Length() > 0 && name.c_str()[0] == '/') return name;
    CoreAnsx base = folder;
    int const n = base.Length();
    if (n > 0 && base.c_str()[n - 1] != '/') base += CoreAnsx("/");
    return base + name;
}
