// CorePrcs property bus, reading side: the six getters, the element checks
// every element id goes through, and the texts of the host parameters
// (229 to 231). Dispatch: a failed engine answers at once; while the boot is
// pending the accessor's guarded ids answer the default and the open ids are
// served; every element index is checked against its table first.
#include "processing/CorePrcs.h"

#include <algorithm>
#include <initializer_list>

#include "engine/CoreCnvl.h"
#include "engine/CorePlel.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "program/CoreMmry.h"
#include "program/CoreProg.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePmsg.h"
#include "runtime/CorePool.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreXutl.h"
#include "storage/CoreDcry.h"
#include "storage/CoreVars.h"
#include "storage/CoreXml_.h"

namespace {

using BEANSTRUCT = CorePrcs::BEANSTRUCT;

BEANSTRUCT wordsOf(BEANSTRUCT const* index) { return index != nullptr ? *index : BEANSTRUCT{}; }

// Word 0 as the modulator and slot ids read it: its low 16 bits, signed.
short low16(std::int32_t word) { return static_cast<short>(word); }

bool among(int id, std::initializer_list<int> ids) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

constexpr int kControls = 10;   // interface controls: MIX1..8, GAININ, GAINOUT
constexpr int kLfos = 4;        // LFO1..4
constexpr int kFunctions = 8;   // FUN1..8
constexpr int kFollowers = 5;   // EVF1..5
constexpr int kDynamics = 2;    // DNM1..2
constexpr int kEnvelopes = 2;   // ENV1..2
constexpr int kEntries = 4;     // segments of an envelope generator
constexpr int kParameters = 16; // PRM1..16
constexpr int kIndicators = 8;  // change indicators of MIX1..8
constexpr int kLevels = 4;      // published level followers
// ms a waiting write's text waits at most for the engine and worker locks:
// longer than a block takes, shorter than a load.
constexpr int kPendingTextWait = 20;

// A text built where nothing may throw: out of memory, the unassigned text.
CoreAnsx safeText(char const* text) noexcept {
    try {
        return CoreAnsx(text);
    } catch (...) {
        return CoreAnsx();
    }
}

} // namespace

void CorePrcs::beanf(char const* accessor, int id) noexcept {
    try {
        CoreLog_::loger(CoreAnsx(accessor) + CoreAnsx(" failed for id ") + CoreAnsx(id), 0);
    } catch (...) {
    }
}

// ---- element checks -------------------------------------------------------------------------

CoreIfce* CorePrcs::ifce_(long i, char const* what) {
    return CoreAudp::index(i, kControls, what) ? program->getif(i) : nullptr;
}
CoreLfo_* CorePrcs::lfo__(long i, char const* what) {
    return CoreAudp::index(i, kLfos, what) ? program->getlf(static_cast<short>(i)) : nullptr;
}
CoreFun_* CorePrcs::fun__(long i, char const* what) {
    return CoreAudp::index(i, kFunctions, what) ? program->getfn(static_cast<short>(i)) : nullptr;
}
CoreEnvf* CorePrcs::envf_(long i, char const* what) {
    return CoreAudp::index(i, kFollowers, what) ? program->getef(static_cast<short>(i)) : nullptr;
}
CoreDynm* CorePrcs::dynm_(long i, char const* what) {
    return CoreAudp::index(i, kDynamics, what) ? program->getdy(static_cast<short>(i)) : nullptr;
}
CoreEnv_* CorePrcs::env__(long i, char const* what, long entry) {
    if (!CoreAudp::index(i, kEnvelopes, what) || !CoreAudp::index(entry, kEntries, what))
        return nullptr;
    return program->geten(static_cast<short>(i));
}
CorePrm_* CorePrcs::prm__(long i, char const* what) {
    return CoreAudp::index(i, kParameters, what) ? program->getpm(static_cast<short>(i)) : nullptr;
}
bool CorePrcs::vslot(long i, char const* what) { return CoreAudp::index(i, hdimmax + 1L, what); }

// ---- host parameter texts (229 to 231) ------------------------------------------------------

CoreAnsx CorePrcs::ctltx(int id, long i) {
    CoreIfce* control = ifce_(i, "bean control text");
    if (control == nullptr) return CoreAnsx("");
    CoreAnsx& last = ctltext[id - 229][i];
    // Program loads and the GUI-rate update replace the parameter modulators
    // and their texts: read only while neither runs, else the last text.
    if (enginesem.locka()) {
        CoreSmgd engine(enginesem, CoreSmgd::ADOPT{});
        if (workersem.locka()) {
            CoreSmgd worker(workersem, CoreSmgd::ADOPT{});
            CoreAnsx text = ctltxLocked(id, control);
            CoreSmgd guard(beansem);
            last = text;
            return text;
        }
    }
    CoreSmgd guard(beansem);
    return last;
}

CoreAnsx CorePrcs::ctlpd(long i, double fraction) noexcept {
    return bean_(safeText(""), "ctlpd", 230, [&]() -> CoreAnsx { return ctlpdBody(i, fraction); });
}

CoreAnsx CorePrcs::ctlpdBody(long i, double fraction) {
    CoreIfce* control = ifce_(i, "bean control text");
    if (control == nullptr) return CoreAnsx("");
    // A process call, its block on the worker or the GUI-rate update holds
    // the locks for a moment; a load for longer, and the boot's steps for
    // seconds: no wait then.
    bool const booting = bootpending.getvl();
    for (int waited = 0;; ++waited) {
        if (enginesem.locka()) {
            CoreSmgd engine(enginesem, CoreSmgd::ADOPT{});
            if (workersem.locka()) {
                CoreSmgd worker(workersem, CoreSmgd::ADOPT{});
                return ctltxLocked(230, control, &fraction);
            }
        }
        if (booting || waited >= kPendingTextWait) break;
        CoreXutl::sleep(1);
    }
    // Before the boot no program maps a mix control yet: the value as the
    // host holds it, a gain's as its level, as the blank program shows them
    // beside their units (none, and dB).
    if (booting) return ctlvl(control, nullptr, &fraction);
    CoreSmgd guard(beansem);
    return ctltext[1][i];
}

CoreAnsx CorePrcs::ctltxLocked(int id, CoreIfce* control, double const* pending) {
    short const bound = control->getcp();
    CorePrm_* prm = bound >= 0 && bound < kParameters ? program->getpm(bound) : nullptr;
    if (id == 229) return prm != nullptr ? prm->getlb() : control->getlb();
    if (id == 231) return prm != nullptr ? prm->getun() : control->getun();
    return ctlvl(control, prm, pending);
}

CoreAnsx CorePrcs::ctlvl(CoreIfce* control, CorePrm_* prm, double const* pending) {
    double source = 0.0, share = 0.0;
    // A control that takes no value (not valid) shows its own. Before the
    // boot the value is the one the boot program sets, and the blank
    // program's controls take none yet.
    bool const written =
        pending != nullptr && (control->getpv(*pending, source, share) || bootpending.getvl());
    if (prm != nullptr) {
        double shown = 0.0;
        if (written) {
            shown = prm->getvw(control->getsr(), source);
        } else {
            prm->updte();
            shown = prm->getvl();
        }
        return prm->getpu() + CoreAnsx::_FloatToStrF(shown, 0, 15, 3) + prm->getou();
    }
    double value = written ? share : control->getvl(false);
    // A gain control holds half its linear gain (0.5 plays at unity), so its
    // level is that of twice the value; a value whose exponent bits are zero
    // is silence, not a level doubled out of it.
    if (control->getun() == CoreAnsx("dB"))
        value = CoreButl::lindb(2.0 * CoreButl::flushSubnormal(value));
    return CoreAnsx::_FloatToStrF(value, 0, 15, 3);
}

// ---- bool -----------------------------------------------------------------------------------

bool CorePrcs::getbb(int id, BEANSTRUCT* index) noexcept {
    return bean_(false, "getbb", id, [&]() -> bool {
        BEANSTRUCT const x = wordsOf(index);
        short const si = low16(x.element);
        if (bootpending.getvl()) {
            switch (id) {
            case 14: return setst(si);
            case 22: return fastboot && !installermerged;
            case 41: return mode != 0;
            case 154: return true;
            case 226: return false; // no step runs before the boot has ended
            default:
                if (id >= 2 && id <= 41) return false;
            }
        }
        bool served = true;
        switch (id) {
        case 2: return memory->getwp(currentslot);
        case 11: return ownperiodon;
        case 14: return setst(si);
        case 20: return scanboot;
        case 21: return fastboot;
        case 22: return fastboot && !installermerged;
        case 23: return program->getf2();
        case 24: return program->getfi();
        case 25: return handoff;
        case 26: return threaded;
        case 27: return program->getfh();
        case 31: {
            int const file = program->getfr(), converted = program->getcr();
            return file > 0 && converted > 0 && file != converted;
        }
        case 33: return program->getfm();
        case 35: return nodrop;
        case 37: return autothread;
        case 41: return mode != 0;
        case 42: return planerror;
        case 46: return bootpending.getvl();
        case 53: return getby();
        case 58: return program->getnc();
        case 59: return midi->actvt();
        case 60: {
            if (!workersem.locka()) return false;
            CoreSmgd worker(workersem, CoreSmgd::ADOPT{});
            return updated.exchange(false);
        }
        case 63: return newlevels.exchange(false);
        case 81: return updld();
        case 146: return bootfirst;
        case 147: return bootlast;
        case 148: return bootresult;
        case 154: {
            CoreIfce* c = ifce_(x.element, "bean 154 control");
            return c != nullptr && c->isalt();
        }
        case 157: {
            CoreCnvl* c = cnvlcount > 0 ? cnvls[0].cnvl : nullptr;
            return c != nullptr && c->getbe(si) && c->ldble(si);
        }
        case 162: {
            if (!CoreAudp::index(si, cnvlcount, "bean 162 slot") || cnvls[si].cnvl == nullptr)
                return false;
            CoreCnvl* c = cnvls[si].cnvl;
            if (x.subindex == 1) return c->getbe();
            return x.subindex == 0 && !c->getbe() && c->getsl() >= 0;
        }
        case 181: {
            CoreSmgd guard(beansem);
            return midilearning;
        }
        case 192: {
            CoreIfce* c = ifce_(x.element, "bean 192 control");
            return c != nullptr && c->isval(true);
        }
        case 218: {
            CoreSmgd guard(beansem);
            return overflowcopy;
        }
        case 226: {
            CoreAnsx message("");
            bool const ended = batch(vars, message);
            CoreSmgd guard(beansem);
            batchmessage = message;
            return ended;
        }
        case 248: return memory->islte();
        case 255: return queueallocated;
        case 256: return legacystereo;
        case 258: return bypassstate.getvl();
        case 263: {
            CoreSmgd guard(beansem);
            return failedslot >= 0;
        }
        default: break;
        }
        bool const answer = modulatorBool(id, x, served);
        return served && answer;
    });
}

bool CorePrcs::modulatorBool(int id, BEANSTRUCT const& x, bool& served) {
    short const i = low16(x.element);
    served = true;
    switch (id) {
    case 108:
    case 109: {
        CoreFun_* f = fun__(i, "bean function");
        return f != nullptr && (id == 108 ? f->getfa() : f->getfb())->iscst();
    }
    case 196: {
        CorePrm_* p = prm__(i, "bean parameter modulator");
        return p != nullptr && p->isdis();
    }
    case 206:
    case 207: {
        CorePrm_* p = prm__(i, "bean parameter modulator");
        return p != nullptr && (id == 206 ? p->getfa() : p->getfb())->iscst();
    }
    default: served = false; return false;
    }
}

// ---- short ----------------------------------------------------------------------------------

short CorePrcs::getbh(int id, BEANSTRUCT* index) noexcept {
    return bean_(short(0), "getbh", id, [&]() -> short {
        BEANSTRUCT const x = wordsOf(index);
        short const i = low16(x.element);
        switch (id) {
        case 21: return fastboot ? 1 : 0;
        case 32: return fontcolour;
        case 38: return loaderpriority;
        case 43: return hdimmax;
        case 45: return static_cast<short>(exportquality);
        case 48: return metertype;
        case 50: return otimed;
        case 51: return ofreqd;
        case 54: return hdim;
        case 55: return program->getsh();
        case 73: return debuglevel;
        case 74: return smoothorder;
        case 75: return harmonicsinuse;
        case 112: {
            CoreEnvf* f = envf_(i, "bean follower");
            return f != nullptr ? f->getex() : short(0);
        }
        case 129:
        case 130: {
            CoreDynm* d = dynm_(i, "bean dynamics");
            return d == nullptr ? short(0) : id == 129 ? d->getst() : d->getrc();
        }
        case 138: {
            CoreEnv_* e = env__(i, "bean envelope", x.subindex);
            return e != nullptr ? e->getcv()[x.subindex] : short(0);
        }
        case 194: {
            CoreIfce* c = ifce_(x.element, "bean 194 control");
            return c != nullptr ? c->getcp() : short(0);
        }
        case 220: {
            if (!CoreAudp::index(x.element, kIndicators, "bean 220 indicator")) return 0;
            CoreSmgd guard(beansem);
            return metermodes[x.element];
        }
        case 221: return static_cast<short>(messages->getrw());
        case 251: return forcolumn;
        default: return 0;
        }
    });
}

// ---- int ------------------------------------------------------------------------------------

int CorePrcs::getbi(int id, BEANSTRUCT* index) noexcept {
    return bean_(0, "getbi", id, [&]() -> int {
        BEANSTRUCT const x = wordsOf(index);
        switch (id) {
        case 44: return samplerate;
        case 67: return currentslot;
        case 264: {
            CoreSmgd guard(beansem);
            return failedslot;
        }
        case 69: return workbuffer;
        case 85: return static_cast<int>(pool->getma());
        case 86: return static_cast<int>(pool->getxa());
        case 145: {
            CoreSmgd guard(beansem);
            return bootcounter;
        }
        case 166: return getpf(x.element);
        case 168: return memory->getck(x.element, static_cast<short>(x.subindex), nullptr, 0);
        case 169: return memory->getbk(x.element, static_cast<short>(x.subindex));
        case 172: return memory->getbs();
        case 173: return memory->getbc();
        case 174: {
            memory->setbb(x.element);
            int const count = memory->getbs();
            if (count == 0) memory->setbb(-1);
            return count;
        }
        case 182:
        case 183:
        case 184:
        case 185: {
            CoreSmgd guard(beansem);
            return midiquery[id - 182];
        }
        case 239: {
            CoreSmgd guard(beansem);
            return textcount;
        }
        case 246: return memory->gettn();
        case 257:
            return sharedcache != nullptr && sharedcache->getpl() != nullptr
                       ? static_cast<int>(sharedcache->getpl()->getma())
                       : 0;
        case 260: {
            CoreEnvf* f = envf_(low16(x.element), "bean follower");
            return f != nullptr ? f->getho() : 0;
        }
        default: return 0;
        }
    });
}

// ---- long -----------------------------------------------------------------------------------

long CorePrcs::getbl(int id, BEANSTRUCT* index) noexcept {
    return bean_(0L, "getbl", id, [&]() -> long {
        BEANSTRUCT const x = wordsOf(index);
        short const i = low16(x.element);
        if (bootpending.getvl() && among(id, {6, 7, 10, 28, 29, 30})) return 0;
        switch (id) {
        case 6: return program->getsm();
        case 7: return program->getua();
        case 10: return effectiveperiod;
        case 28: return program->getfr();
        case 29: return program->getcr();
        case 30: return rateconversion;
        case 49: return delaycompensation.load();
        case 52: return programrateus;
        case 61: return getts();
        case 65: return guirate;
        case 70: return forceoffset;
        case 71: return processingblock;
        case 83: return wheeltarget.load();
        case 114:
        case 115:
        case 117:
        case 118: {
            CoreEnvf* f = envf_(i, "bean follower");
            if (f == nullptr) return 0;
            return id == 114   ? f->getma()
                   : id == 115 ? f->getxa()
                   : id == 117 ? f->getmr()
                               : f->getxr();
        }
        case 137: {
            CoreEnv_* e = env__(i, "bean envelope", x.subindex);
            return e != nullptr ? e->gettm()[x.subindex] : 0;
        }
        case 149: {
            if (!vslot(i, "bean 149 slot")) return 0;
            CoreSmgd engine(enginesem);
            CoreSmgd worker(workersem);
            return program->getid(i);
        }
        case CoreBnid::iCforcedlength: {
            std::int32_t const selector = CoreBnid::slctr(x);
            return selector == 0 ? ltimed : selector == 1 ? lfreqd : 0;
        }
        case 236: return dspbuffer;
        default: return 0;
        }
    });
}

// ---- double ---------------------------------------------------------------------------------

double CorePrcs::getbd(int id, BEANSTRUCT* index) noexcept {
    return bean_(0.0, "getbd", id, [&]() -> double {
        BEANSTRUCT const x = wordsOf(index);
        short const i = low16(x.element);
        if (bootpending.getvl() && among(id, {0, 1, 3, 4, 5, 8, 12, 14, 19, 34, 36, 155, 156, 193}))
            return 0.0;
        switch (id) {
        case 0: return program->getpi();
        case 1: return program->getpo();
        case 3: return program->getif(8)->getvl(false) * 2.0;
        case 4: return program->getif(9)->getvl(false) * 2.0;
        case 5: return program->getsz();
        case 8: return program->getff();
        case 12: return program->getdr();
        case 14: return smoothorder < 0 ? 0.0 : smoothorder + 1.0;
        case 19: return CoreButl::upftp(samplerate, CoreButl::tpfup(samplerate, aheadlength));
        case 34: return defaulttempo;
        case 36: return CoreButl::upftp(samplerate, static_cast<long>(dspbuffer) * 64);
        case 150:
        case 151: {
            if (!vslot(i, "bean fade-out slot")) return 0.0;
            return id == 150 ? getco(i) : getmo(i);
        }
        case 159:
        case 160: {
            if (!vslot(i, "bean bound slot")) return 0.0;
            return getib(i, static_cast<short>(x.subindex), id == 160);
        }
        case 161: {
            if (!vslot(i, "bean length slot")) return 0.0;
            return getod(i, static_cast<short>(x.subindex));
        }
        case 155:
        case 156:
        case 188:
        case 189:
        case 193:
        case 235: {
            CoreIfce* c = ifce_(x.element, "bean control");
            if (c == nullptr) return 0.0;
            switch (id) {
            case 155: return c->getvl(false);
            case 156:
            case 193: return c->getvl(true);
            case 188: return c->getiv(false);
            case 189: return c->getiv(true);
            default: return c->getpa();
            }
        }
        case 219: {
            if (!CoreAudp::index(x.element, kLevels, "bean 219 level")) return 0.0;
            CoreSmgd guard(beansem);
            return meterlevels[x.element];
        }
        case 266: {
            // Loads and property 7 set it between blocks, under both locks.
            CoreSmgd engine(enginesem);
            CoreSmgd worker(workersem);
            return CoreButl::upftp(samplerate, static_cast<long>(programahead));
        }
        default: break;
        }
        bool served = true;
        double const answer = modulatorDouble(id, x, served);
        return served ? answer : 0.0;
    });
}

double CorePrcs::modulatorDouble(int id, BEANSTRUCT const& x, bool& served) {
    short const i = low16(x.element);
    served = true;
    if (id >= 92 && id <= 97) {
        CoreLfo_* l = lfo__(i, "bean LFO");
        if (l == nullptr) return 0.0;
        switch (id) {
        case 92: return l->getqt();
        case 93: return l->getph();
        case 94: return l->getrt()->getbl();
        case 95: return l->getrt()->getbu();
        case 96: return l->getrt()->getsl();
        default: return l->getrt()->getsu();
        }
    }
    if (id == 106 || id == 107) {
        CoreFun_* f = fun__(i, "bean function");
        return f == nullptr ? 0.0 : (id == 106 ? f->getfa() : f->getfb())->getcv();
    }
    if (id == 113 || id == 259 || (id >= 122 && id <= 125)) {
        CoreEnvf* f = envf_(i, "bean follower");
        if (f == nullptr) return 0.0;
        if (id == 113) return f->getba();
        if (id == 259) return f->gethf();
        CoreParm* p = id <= 123 ? f->getat() : f->getrl();
        if (p == nullptr) return 0.0;
        return id % 2 == 0 ? p->getsl() : p->getsu();
    }
    if (id == 131 || id == 132) {
        CoreDynm* d = dynm_(i, "bean dynamics");
        return d == nullptr ? 0.0 : d->getbd(id == 131 ? 3 : 4);
    }
    if (id >= 134 && id <= 136) {
        CoreEnv_* e = env__(i, "bean envelope", id == 134 ? x.subindex : 0);
        if (e == nullptr) return 0.0;
        return id == 134 ? e->getlv()[x.subindex] : id == 135 ? e->getlf() : e->gettf();
    }
    if (id == 199 || id == 200 || id == 208 || id == 209 || (id >= 214 && id <= 217)) {
        CorePrm_* p = prm__(i, "bean parameter modulator");
        if (p == nullptr) return 0.0;
        switch (id) {
        case 199: return p->getbf();
        case 200: return p->getvl();
        case 208: return p->getfa()->getvl();
        case 209: return p->getfb()->getvl();
        case 214: return p->getmn();
        case 215: return p->getmx();
        case 216: return p->getbn();
        default: return p->getbx();
        }
    }
    served = false;
    return 0.0;
}

// ---- string ---------------------------------------------------------------------------------

CoreAnsx CorePrcs::getbs(int id, BEANSTRUCT* index) noexcept {
    if (failed) return safeText("0");
    return bean_(safeText(""), "getbs", id, [&]() -> CoreAnsx {
        BEANSTRUCT const x = wordsOf(index);
        if (bootpending.getvl() && among(id, {9, 13, 15, 16, 17, 18, 39, 40, 76, 87, 152, 153}))
            return CoreAnsx("");
        switch (id) {
        case 9: return program->getfs();
        case 13: return program->getys();
        case 15: return datapath + setupsub;
        case 16:
        case 101: return datapath + programsub;
        case 17:
        case 102: return datapath + vectorsub;
        case 18: return setupromname;
        case 39: return program->getar();
        case 40: {
            CoreSmgd guard(beansem);
            return bridgeversion;
        }
        case 47: return CoreLog_::sCversion_;
        case 56: return program->getnm();
        case 62: {
            // No skin chosen (none named, none found) is no path: the skin
            // folder itself is no skin to read.
            CoreSmgd guard(beansem);
            return chosenskin.Length() > 0 ? datapath + skinsub + chosenskin : CoreAnsx("");
        }
        case 64: return program->getds();
        case 68: return getdt();
        case 72: return datapath;
        case 76: return getnp();
        case 77: return magic;
        case 87: return memory->getpf(x.element);
        case 145: {
            CoreSmgd guard(beansem);
            return bootmessage;
        }
        case 152:
        case 153: {
            CoreIfce* c = ifce_(x.element, "bean control text");
            return c == nullptr ? CoreAnsx("") : id == 152 ? c->getlb() : c->getun();
        }
        case 167: return listName(x.element, memory->getnm(x.element));
        case 170: return memory->getbc(x.element);
        case 175: return memory->getct(x.element, x.subindex);
        case CoreBnid::iCcategory: return program->getct(static_cast<short>(CoreBnid::slctr(x)));
        case 177: return memory->getds(x.element);
        case 221: return messages->getrw(static_cast<short>(x.element));
        case 224: {
            CoreAnsx name("");
            {
                CoreSmgd guard(beansem);
                name = batchname;
            }
            return vars->getit(name);
        }
        case 226: {
            CoreSmgd guard(beansem);
            return batchmessage;
        }
        case 229:
        case 230:
        case 231: return ctltx(id, x.element);
        case 232: return memory->getcc(x.element);
        case 239: {
            CoreSmgd guard(beansem);
            if (!CoreAudp::index(x.element, textcount, "bean 239 entry") || textlist == nullptr)
                return CoreAnsx("");
            return textlist[x.element];
        }
        case 247: {
            // A program's leaf reads "<location> - <name>".
            CoreAnsx const text = memory->gette();
            int const dash = text.Pos(CoreAnsx(" - "));
            if (!memory->islte() || dash <= 1) return text;
            CoreAnsx const head = text.SubString(1, dash - 1);
            for (char const* c = head.c_str(); *c != 0; ++c)
                if (*c < '0' || *c > '9') return text;
            int const slot = head.ToInt();
            CoreAnsx const name = text.SubString(dash + 3, text.Length());
            return head + CoreAnsx(" - ") + listName(slot, name);
        }
        case 262: {
            CoreSmgd guard(beansem);
            return saveerror;
        }
        case 265: {
            CoreSmgd guard(beansem);
            return failreason;
        }
        case 267: {
            // One notice each, so no answer is cut by a caller's text room.
            std::string all;
            {
                CoreSmgd guard(beansem);
                all = loadnotices.c_str();
            }
            std::size_t at = 0;
            for (int n = 0; at < all.size(); ++n) {
                std::size_t const end = std::min(all.find('\n', at), all.size());
                if (n == x.element) return CoreAnsx(all.substr(at, end - at).c_str());
                at = end + 1;
            }
            return CoreAnsx("");
        }
        case 249: return memory->gettt();
        case 250:
            return dictionary != nullptr
                       ? dictionary->getvl(CoreAnsx("CATEGORY"), CoreMmry::sClastctg)
                       : CoreMmry::sClastctg;
        default: break;
        }
        bool served = true;
        CoreAnsx answer = modulatorText(id, x, served);
        return served ? answer : CoreAnsx("");
    });
}

CoreAnsx CorePrcs::modulatorText(int id, BEANSTRUCT const& x, bool& served) {
    short const i = low16(x.element);
    CoreAnsx const none("");
    served = true;
    if (id >= 89 && id <= 91) {
        CoreLfo_* l = lfo__(i, "bean LFO");
        if (l == nullptr) return none;
        return id == 89 ? l->getrc() : id == 90 ? l->getsh() : l->getps();
    }
    if (id == 103 || id == 110 || id == 111) {
        CoreFun_* f = fun__(i, "bean function");
        if (f == nullptr) return none;
        return id == 103 ? f->getfn() : (id == 110 ? f->getfa() : f->getfb())->getsc();
    }
    if (id == 116 || id == 119 || id == 252 || id == 253 || id == 261) {
        CoreEnvf* f = envf_(i, "bean follower");
        if (f == nullptr) return none;
        if (id == 252) return f->getda();
        if (id == 253) return f->getdr();
        if (id == 261) return f->gethp();
        CoreParm* p = id == 116 ? f->getat() : f->getrl();
        return p != nullptr ? p->getsa() : none;
    }
    if (id >= 126 && id <= 128) {
        CoreDynm* d = dynm_(i, "bean dynamics");
        int const control[3] = {1, 0, 2}; // Input, Threshold, Ratio
        return d != nullptr ? d->getbs(control[id - 126]) : none;
    }
    if (id >= 139 && id <= 142) {
        CoreEnv_* e = env__(i, "bean envelope", 0);
        CoreParm* p = e != nullptr ? e->getpr(id - 139) : nullptr;
        return p != nullptr ? p->getsc() : none;
    }
    if ((id >= 197 && id <= 204 && id != 199 && id != 200) || id == 210 || id == 211) {
        CorePrm_* p = prm__(i, "bean parameter modulator");
        if (p == nullptr) return none;
        switch (id) {
        case 197: return p->getpl();
        case 198: return p->getlb();
        case 201: return p->getpu();
        case 202: return p->getou();
        case 203: return p->getun();
        case 204: return p->getfn();
        case 210: return p->getfa()->getsc();
        default: return p->getfb()->getsc();
        }
    }
    served = false;
    return none;
}
