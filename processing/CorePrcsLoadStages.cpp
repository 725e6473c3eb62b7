// CorePrcs program loading: a program memory location becomes the engine's
// program by stages (its files, the program reader, then the engine's
// buffers, slots, plans and rate), with processing paused; a location that
// fails falls back to location 0. Also the small buffer helpers of loading
// (side ring, crossfade tables, bypass ring) and the program's state written
// back into its document. Control or display thread, may block; never the
// audio thread.
#include "processing/CorePrcs.h"

#include "engine/CoreCnvl.h"
#include "modulation/CoreIfce.h"
#include "modulation/CorePrm_.h"
#include "program/CoreMmry.h"
#include "program/CoreProg.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePmsg.h"
#include "runtime/CorePool.h"
#include "runtime/CoreSmgd.h"
#include "storage/CoreFsys.h"
#include "storage/CoreXml_.h"

#include <cstring>
#include <string>

namespace {

bool isArchive(CoreAnsx const& file) {
    CoreAnsx const ext = CoreButl::sCextv2p;
    int const n = file.Length();
    int const m = ext.Length();
    if (n < m) return false;
    return CoreAnsx(file.c_str() + (n - m)).UpperCase() == ext;
}

void dbg(char const* text, int timer, short level) {
    CoreLog_::debug(CoreAnsx(text), timer, level);
}

// Loads the archive name, found in folder, into store. In the shell's data
// folder it is the shell's item of that name (the shell joins its items to
// that folder itself, and may hold the archive in memory); elsewhere (an
// alternative data path, or no shell) it is read from its file. False, with
// path and reason of the refusal, when it does not load; the reason is ""
// when the read stopped as the instance closes (memory's endbk), as the
// bank's read stops.
bool loadArchive(CoreFsys* store, CoreFsys* shell, CoreAnsx const& folder, CoreAnsx const& name,
                 CoreAnsx& reason, CoreMmry const* memory) {
    bool const shared = shell != nullptr && shell->isdtf(folder);
    try {
        if (store->loada(shared ? name : folder + name, CoreAnsx("0"), true,
                         shared ? shell : nullptr, -1,
                         [memory] { return memory != nullptr && memory->ended(); }))
            return true;
        reason = store->getrf() == CoreFsys::sCstopped ? CoreAnsx("") : store->getrf();
    } catch (CoreAnsx const& error) {
        reason = error; // its table of contents does not parse, or no memory for it
    }
    return false;
}

// The one level-0 line of a load refused for an archive; none for a read
// the instance's close stopped.
bool archiveRefused(CoreAnsx const& path, CoreAnsx const& reason) {
    if (reason.Length() > 0) CoreLog_::logfl(CoreButl::escct(path) + CoreAnsx(": ") + reason, 0);
    return false;
}

// A refusal as a few words: the file it names without its folders, then why
// ("/data/vectors/SAT2.WAV: cut short" becomes "SAT2.WAV: cut short").
CoreAnsx shortReason(CoreAnsx const& text) {
    std::string line(text.c_str());
    std::size_t const colon = line.find(": ");
    std::size_t const slash = colon == std::string::npos ? colon : line.rfind('/', colon);
    if (slash != std::string::npos) line.erase(0, slash + 1);
    // A name the line quoted ("vectors/ROOM.CSV": ...) loses its closing
    // quote with the opening one.
    std::size_t const quote = line.find('"');
    if (quote != std::string::npos && line.compare(quote, 3, "\": ") == 0) line.erase(quote, 1);
    return CoreAnsx(line.c_str());
}

} // namespace

bool CorePrcs::ldpdm(int slot, bool keep) {
    if (failed) return false;
    CoreSmgd lockload(loadsem);
    return loadHeld(slot, keep);
}

bool CorePrcs::loadSelect(int slot, bool keep, CoreAnsx const* restored) {
    if (failed) return false;
    if (restored == nullptr) askedloads.fetch_add(1, std::memory_order_acq_rel);
    // One step under the load lock, so a load on another thread never
    // lands between this load and the choice of its location, nor between
    // this load and its outcome.
    CoreSmgd lockload(loadsem);
    return selectHeld(slot, keep, restored);
}

bool CorePrcs::selectHeld(int slot, bool keep, CoreAnsx const* restored) {
    bool const loaded = loadHeld(slot, keep) && !fallback;
    // What plays is named: location 0 when the load fell back.
    currentslot = fallback ? 0 : slot;
    programselected = true;
    wheeltarget = -1;
    // A restore that fell back keeps the session's program for the host's
    // next save; any other program requested ends that.
    restoredchunk = restored != nullptr && fallback ? *restored : CoreAnsx("");
    return loaded;
}

bool CorePrcs::loadHeld(int slot, bool keep) {
    bool r = false;
    {
        CoreSmgd lockengine(enginesem);
        CoreSmgd lockworker(workersem);
        bool const was = bypass.getvl();
        if (!keep) bypass.setvl(true);
        overflow.setvl(false);
        feedbacksuspended = false;
        fallback = false;
        delsf();
        CoreAnsx why("");
        CoreAnsx notices("");
        CoreAnsx* const outer = CoreLog_::rsnsk(&why);
        CoreAnsx* const outernotices = CoreLog_::ntsnk(&notices);
        r = ldpsm(slot);
        CoreLog_::rsnsk(outer);
        if (!r && slot != 0) {
            // Location 0 keeps the engine playing; the caller still learns
            // that its location did not load.
            ldpsm(0);
            fallback = true;
        }
        CoreLog_::ntsnk(outernotices);
        {
            CoreSmgd guard(beansem);
            loadnotices = notices;
        }
        if (!keep) {
            // A boot's loads leave the bypass ring alone: its delayed input
            // is what the host hears until the program takes over.
            clepr(true, bootpending.getvl());
            bypass.setvl(was);
        }
        adjif();
        markLoaded(r ? slot : -1);
        noteLoad(slot, r, why);
    }
    return r;
}

void CorePrcs::noteLoad(int slot, bool loaded, CoreAnsx const& why) {
    CoreAnsx reason("");
    // Location 0 has nothing to fall back on; its refusal is kept all the
    // same, for the boot's row to say why nothing plays.
    if (fallback || (slot == 0 && !loaded)) {
        // An entry that failed at boot holds no program: its own refusal
        // then is the reason, as the load itself read nothing.
        reason = memory->faild(slot) ? memory->getwy(slot) : why;
        if (reason.Length() <= 0) reason = memory->getpf(slot) + CoreAnsx(": not loaded");
        reason = shortReason(reason);
    }
    CoreSmgd guard(beansem);
    if (loaded) loadfailed.erase(slot);
    if (fallback) loadfailed.insert(slot);
    failedslot = fallback ? slot : -1;
    failreason = reason;
}

CoreAnsx CorePrcs::listName(int slot, CoreAnsx const& name) {
    {
        CoreSmgd guard(beansem);
        if (loadfailed.count(slot) == 0) return name;
    }
    if (memory->faild(slot)) return name; // marked already
    return CoreMmry::sCfailedname + CoreButl::getfn(memory->getpf(slot), true).UpperCase();
}

int CorePrcs::setpg(int slot, bool keep) {
    loadSelect(slot, keep);
    return slot;
}

bool CorePrcs::ldpsm(int slot) noexcept {
    bool r = false;
    try {
        CoreLog_::debug(CoreAnsx("ldpsm starts: ") + CoreAnsx(slot), 0, 2);
        messages->addrw(CoreLog_::sCstatsloa);
        // The slots still point at the old program's kernels, which the
        // reader is about to release: nothing plays until the new ones are bound.
        unbindAll();
        programfsys->init_();
        program->setnf(memory->getpf(slot));
        r = slot != 0 ? ldfls(slot) : ldini();
    } catch (...) {
        CoreLog_::loger(CoreAnsx("program load failed: location ") + CoreAnsx(slot), 0);
        r = false;
    }
    try {
        if (!r) programfsys->init_();
        // The reader has built the kernels: the impulse data may go.
        programfsys->uload(CoreButl::sCextwav);
        if (secondfsys != nullptr) secondfsys->uload(CoreButl::sCextwav);
    } catch (...) {
    }
    if (r) {
        dbg("buffers allocation starts", 1, 5);
        try {
            r = ldbuf();
        } catch (...) {
            CoreLog_::loger(
                CoreAnsx("program load failed in its buffers: location ") + CoreAnsx(slot), 0);
            r = false;
        }
        dbg("buffers allocation ends", 1, 5);
        if (!r) unbindAll();
    }
    try {
        pool->logst();
    } catch (...) {
    }
    dbg("ldpsm ends", 0, 2);
    return r;
}

bool CorePrcs::ldfls(int slot) {
    CoreAnsx const file = memory->getfp(slot, false);
    if (file == CoreAnsx("0")) return false;
    dbg("file-system manager starts", 0, 5);
    bool const archive = isArchive(file);
    if (!CoreFsys::exstf(datapath, altcount, altpaths, file, foundfolder)) {
        // A plain program's whole document is in memory (a host chunk's,
        // say): it plays from there, reads its kernels from the data path
        // and is saved there. An archive program needs its archive.
        if (archive) {
            CoreLog_::loger(CoreAnsx("program file not found: ") + file, 0);
            return false;
        }
        dbg("program file not in a data path: the data path stands in", 0, 3);
        foundfolder = datapath;
    }
    // The alternative paths are read upper-cased; reads find the folder
    // whatever its case, but a program saved back to where it was found must
    // go to the folder on disk, not to a new one of the upper-cased name.
    foundfolder = CoreButl::rslve(foundfolder);
    if (!archive) {
        programfsys->setdt(foundfolder);
    } else {
        dbg("file-system manager loads (program)", 1, 5);
        CoreAnsx why;
        if (!loadArchive(programfsys, shellfsys, foundfolder, file, why, memory))
            return archiveRefused(foundfolder + file, why);
        dbg("files checked", 1, 5);
    }
    CoreAnsx const text = memory->getvl(slot, true);
    if (text == CoreAnsx("0")) return false;
    if (archive && !ldvct(programfsys, foundfolder, slot)) return false;
    programdoc->getfc(text);
    CoreNode* root = programdoc->getrt();
    if (root == nullptr) return false;
    dbg("loader starts", 0, 5);
    program->setmp(granularity);
    CoreLog_::debug(programdoc->settc(false, false), 0, 7);
    return program->load_(root, false);
}

bool CorePrcs::ldvct(CoreFsys* store, CoreAnsx const& folder, int slot) {
    CoreAnsx const vector = memory->getfv(slot, false);
    dbg("file-system manager loads (vector)", 1, 5);
    CoreAnsx why;
    if (!loadArchive(store, shellfsys, folder, vector, why, memory)) {
        // Under the program folder when the vector folder does not hold it;
        // only when neither does is the load refused for it.
        CoreAnsx const moved = CoreButl::rplce(vector, vectorsub, programsub);
        CoreAnsx whyMoved;
        if (!loadArchive(store, shellfsys, folder, moved, whyMoved, memory)) {
            // The report names the archive that is there and would not read.
            if (!CoreFsys::exstf(folder, vector) && CoreFsys::exstf(folder, moved))
                return archiveRefused(folder + moved, whyMoved);
            return archiveRefused(folder + vector, why);
        }
    }
    dbg("files checked", 1, 5);
    return true;
}

bool CorePrcs::ldini() {
    dbg("file-system manager starts (INIT)", 1, 5);
    foundfolder = datapath;
    CoreAnsx const file = memory->getfp(0, false);
    if (file != CoreAnsx("0") && isArchive(file)) {
        dbg("file-system manager loads", 1, 5);
        secondfsys->init_();
        CoreAnsx why;
        if (!loadArchive(secondfsys, shellfsys, datapath, file, why, memory))
            return archiveRefused(datapath + file, why);
        if (!ldvct(secondfsys, datapath, 0)) return false;
        dbg("files checked", 1, 5);
    } else {
        secondfsys->init_();
        secondfsys->setdt(datapath);
    }
    CoreAnsx const text = memory->getvl(0, true);
    if (text == CoreAnsx("0")) return false;
    program->setfs(secondfsys);
    bool r = false;
    try {
        programdoc->getfc(text);
        CoreNode* root = programdoc->getrt();
        if (root != nullptr) {
            program->setmp(granularity);
            CoreLog_::debug(programdoc->settc(false, false), 0, 7);
            r = program->load_(root, true);
        }
    } catch (...) {
        program->setfs(programfsys);
        throw;
    }
    dbg("loader starts", 1, 5);
    program->setfs(programfsys);
    return r;
}

bool CorePrcs::ldbuf() {
    CoreProg& g = *program;
    allcq();
    invisible = g.getfi() || nodrop;
    hybrid = g.getfh();
    forcemono = g.getfm();
    programharmonics = g.gethc(false);
    loadedslots = g.gethc(true);
    smoothorder = g.getst();
    smoothcapable = false;
    // Each kernel carries its own file's rate factor (CoreProg::streh), so
    // the program's output scale holds none.
    rateconverted = g.getfr() != g.getcr();
    for (short i = 0; i < cnvlcount; ++i) cnvls[i].marker = false;
    for (short i = 0; i < loadedslots && i < hdimmax; ++i) cnvls[i].marker = g.ismkr(i);
    if (hybrid)
        cnvls[hdimmax].marker = g.ismkr(hdimmax);
    else if (smoothorder >= 0)
        cnvls[hdimmax].marker = g.ismkr(0);

    // Ring positions: the program's offset replaces the previous one, and the
    // block worker starts a whole block behind the input, the lookahead back.
    // The kernel holds its sync point o samples in, so taking o off the
    // input's lead brings the sync point out at the delay compensation. The
    // base latency has one sample of slack beyond the forced offset (a time
    // offset is at least one sample): a larger shift would have the host read
    // output before the block worker made it, so such a program (an offset
    // without FORCEOFFSET) plays that much later instead.
    int const o = g.getof() > 0 ? g.getof() : 0;
    int const shift = CoreButl::min__(o, CoreButl::max__(forcedoffset, 0) + 1);
    inwrite = modRing(static_cast<long>(inwrite) - shift + appliedoffset);
    alignHandoff();
    appliedoffset = shift;
    // The dry signal leaves with the sync point, not the offset ahead of it.
    drydelay = shift;
    holdGain();

    bool ok = false;
    {
        CoreSmgd guard(bypasssem);
        // A program that plays later than the forced offset allows (its
        // offset in samples grew with a higher host rate) has the delay
        // reported and the bypass delayed as it plays.
        int const figure = baselatency + forcedoffset + lookahead + (o - shift);
        if (forcedoffset > 0 && figure + processingblock < ringsize) {
            int const reported = delaycompensation.load();
            for (int k = reported; k < figure; ++k) {
                bypassring[0][bypasswrite] = bypassring[1][bypasswrite] = 0.0;
                bypasswrite = wrap_(bypasswrite + 1);
            }
            if (figure < reported) bypasswrite = wrap_(bypasswrite - (reported - figure));
            delaycompensation.store(figure);
        }
        ok = adjoc(otimed, -1);
    }
    if (!ok) return false;
    for (short i = 0; i < cnvlcount; ++i) {
        bindSlot(i);
        cnvls[i].cnvl->setff(o);
    }
    if (!hybrid && smoothorder >= 0) {
        mkesf(programrate);
        smoothcapable = true;
    }
    harmonicsinuse = static_cast<short>(CoreButl::min__(programharmonics, hdim));
    if (hdim == 0) {
        smoothorder = -1;
        resetSmoothing();
    } else {
        smoothorder = g.getst();
        if (smoothorder >= 0) setsp(smoothselector);
    }
    if (!setck()) return false;
    feedback = g.hasfb();
    inputtrim = g.hasti();
    outputtrim = g.hasto();
    dry = g.hasdr();
    programahead = g.getab();
    aheadoffset = aheadSamples(); // truncated, as the block worker does
    long const own = g.getpr();
    ownperiod = own;
    ownperiodon = own >= 1;
    adjrt(own >= 1 ? own : programrateus);
    loadedrate = samplerate;
    CoreLog_::debug(CoreAnsx("name: ") + g.getnm(), 0, 2);
    return true;
}

void CorePrcs::unbindAll() noexcept {
    for (short i = 0; i < cnvlcount; ++i) {
        cnvls[i].kernels[0] = nullptr;
        cnvls[i].kernels[1] = nullptr;
        if (cnvls[i].cnvl != nullptr) {
            cnvls[i].cnvl->setup(nullptr);
            cnvls[i].cnvl->setvr(nullptr);
        }
    }
    harmonicsinuse = 0;
    feedback = false;
    dry = false;
    programahead = 0.0;
    aheadoffset = 0;
}

long CorePrcs::modRing(long i) const noexcept {
    long const n = ringsize >= 1 ? ringsize : 1;
    long const m = i % n;
    return m < 0 ? m + n : m;
}

int CorePrcs::ldpfs(int slot) {
    if (failed) return 0;
    CoreSmgd lockload(loadsem);
    CoreSmgd lockengine(enginesem);
    CoreSmgd lockworker(workersem);
    try {
        unbindAll();
        program->setnf(memory->getpf(slot));
        programdoc->getfc(memory->getvl(slot, true));
        CoreNode* root = programdoc->getrt();
        if (root == nullptr) return 0;
        program->setfs(programfsys);
        program->setmp(granularity);
        CoreLog_::debug(programdoc->settc(false, false), 0, 7);
        int const r = program->load_(root, false) ? 1 : 0;
        currentslot = slot;
        markLoaded(r == 1 ? slot : -1);
        return r;
    } catch (...) {
        CoreLog_::loger(CoreAnsx("program not loaded: location ") + CoreAnsx(slot), 0);
        return 0;
    }
}

void CorePrcs::adjif() {
    for (short j = 0; j < 10; ++j)
        if (CoreIfce* c = program->getif(j)) c->setcp(-1);
    for (short j = 0; j < 8; ++j) {
        CoreIfce* c = program->getif(j);
        if (c == nullptr) continue;
        CoreAnsx const t(j + 1);
        for (short k = 0; k < 16; ++k) {
            CorePrm_* p = program->getpm(k);
            if (p != nullptr && p->isdis() && p->getpl() == t) {
                c->setcp(k);
                break;
            }
        }
    }
}

CorePrcs::LIVEDOC CorePrcs::takcd() {
    LIVEDOC live;
    live.program = program->takel();
    live.periodon = ownperiodon;
    live.period = ownperiod;
    return live;
}

void CorePrcs::putcd(LIVEDOC const& live) {
    CoreXml_* d = programdoc;
    if (d->getrt() == nullptr) return; // nothing loaded: no document to write into
    CoreProg::LIVE const& moving = live.program;
    program->chgmx(d, moving);
    program->chggl(d, moving);
    program->chglf(d);
    program->chgpr(d, live.periodon, live.period); // as asked for, not as rounded to the block
    program->chgfn(d);
    program->chgef(d, moving);
    program->chgen(d, moving);
    program->chgdy(d);
    program->chgpt(d, moving);
}

void CorePrcs::fixcd() { putcd(takcd()); }

void CorePrcs::markLoaded(int slot) noexcept {
    // What the location held when its program was loaded: a later write-back
    // goes only where that text still stands.
    try {
        loadedtext = slot >= 0 ? memory->getvl(slot, false) : CoreAnsx("0");
    } catch (...) {
        loadedtext = CoreAnsx("0");
    }
}

bool CorePrcs::holdsLoaded() {
    CoreAnsx const text = memory->getvl(currentslot, false);
    return text != CoreAnsx("0") && text == loadedtext;
}

bool CorePrcs::writeBack(bool cache) { return writeBack(takcd(), cache); }

bool CorePrcs::writeBack(LIVEDOC const& live, bool cache) {
    if (fallback || programdoc->getrt() == nullptr) return false;
    if (!holdsLoaded()) {
        CoreLog_::debug(CoreAnsx("write-back skipped: location ") + CoreAnsx(currentslot.load()) +
                            CoreAnsx(" no longer holds the loaded program"),
                        0, 2);
        return false;
    }
    putcd(live);
    memory->setvl(currentslot, programdoc->settc(false, false), cache);
    loadedtext = memory->getvl(currentslot, false);
    return true;
}

CoreAnsx CorePrcs::getdt() {
    CoreSmgd lockload(loadsem);
    CoreSmgd lockengine(enginesem);
    CoreSmgd lockworker(workersem);
    fixcd();
    return programdoc->settc(false, false);
}

void CorePrcs::allcq() {
    // Only a host that gives inputs 3 and 4 can feed the fifth follower's ring.
    bool const want = queueallow.load() && program->isqpr();
    if (want == fourinput) return;
    if (!want) {
        dealq();
        return;
    }
    for (int c = 0; c < iCchannels; ++c) {
        auto* ring = static_cast<double*>(pool->mallc(0, ringsize, "PRCS", CoreAnsx("allcq")));
        std::memset(ring, 0, sizeof(double) * static_cast<std::size_t>(ringsize));
        sidering[c] = ring;
    }
    fourinput = true;
    queueallocated = true;
}

void CorePrcs::dealq() {
    fourinput = false;
    queueallocated = false;
    for (int c = 0; c < iCchannels; ++c)
        if (sidering[c] != nullptr) {
            pool->free_(sidering[c]);
            sidering[c] = nullptr;
        }
}

void CorePrcs::delsf() {
    CoreSmgd guard(smoothsem);
    slot0table = nullptr;
    worktable = nullptr;
    if (fallingtable != nullptr) pool->free_(fallingtable);
    if (risingtable != nullptr) pool->free_(risingtable);
    fallingtable = nullptr;
    risingtable = nullptr;
    tablecapacity = 0;
    smoothcapable = false;
}

void CorePrcs::cleby() {
    for (int c = 0; c < iCchannels; ++c)
        if (bypassring[c] != nullptr)
            std::memset(bypassring[c], 0, sizeof(double) * static_cast<std::size_t>(ringsize));
}
