// CorePrcs property bus, writing side: the six setters and the actions.
// Changes that move block timing or the convolver set-up (10, 24, 35, 44,
// 45, 52, 54, 55) run under the engine lock and then the worker lock, so no
// block is in flight while they change; so do the few others whose fields
// the audio path reads (7, 179, 180, 186, 205).
#include "processing/CorePrcs.h"

#include <climits>
#include <initializer_list>

#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CorePrm_.h"
#include "program/CoreMmry.h"
#include "program/CoreProg.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreHutl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePmsg.h"
#include "runtime/CoreSmgd.h"
#include "storage/CoreVars.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"

namespace {

using BEANSTRUCT = CorePrcs::BEANSTRUCT;

BEANSTRUCT wordsOf(BEANSTRUCT const* index) { return index != nullptr ? *index : BEANSTRUCT{}; }
short low16(std::int32_t word) { return static_cast<short>(word); }
bool among(int id, std::initializer_list<int> ids) {
    for (int i : ids)
        if (i == id) return true;
    return false;
}

// The engine lock, then the worker lock, for one scope; released in reverse.
struct Both {
    explicit Both(CorePrcs& engine) : e(engine) { e.lockp(); }
    ~Both() { e.rlsep(); }
    Both(Both const&) = delete;
    Both& operator=(Both const&) = delete;
    CorePrcs& e;
};

} // namespace

// ---- helpers --------------------------------------------------------------------------------

void CorePrcs::setctl(long i, double value, bool main) {
    if (ifce_(i, "bean control") != nullptr) setiv(static_cast<short>(i), value, main);
}

void CorePrcs::reload() {
    CoreSmgd lockload(loadsem);
    reloadHeld(false);
}

bool CorePrcs::reloadHeld(bool booting) {
    // The live program goes back to its location first, as a batch load
    // does, so reloading keeps the user's edits. The write-back holds the
    // load lock (a load on another thread replaces the document meanwhile)
    // and both engine semaphores (blocks and rate changes move the program).
    // Not under fallback, nor into a location that no longer holds the
    // loaded program: either would put another program's text there.
    // The location is read under the load lock, so a program another thread
    // loaded meanwhile (a host chunk) is the one reloaded.
    {
        CoreSmgd lockengine(enginesem);
        CoreSmgd lockworker(workersem);
        // The boot ends its pending state, checks its rate and hands over in
        // one hold of these locks: read here, the state cannot show the boot
        // ended while the bypass still plays its held input.
        if (bootpending.getvl() != booting) return false;
        // A booting program holds nothing of the user's yet.
        if (!booting) {
            try {
                writeBack(false);
            } catch (CoreAnsx const& e) {
                CoreLog_::loger(CoreAnsx("reload: program not written back: ") + e, 0);
            }
        }
    }
    // Under fallback location 0 plays in place of the location that failed,
    // and that location is the one tried again.
    int const slot = fallback && failedslot > 0 ? failedslot : currentslot.load();
    loadHeld(slot, false);
    currentslot = fallback ? 0 : slot;
    return true;
}

// ---- bool -----------------------------------------------------------------------------------

void CorePrcs::setbb(int id, bool value, BEANSTRUCT* index) noexcept {
    bean_(false, "setbb", id, [&]() -> bool {
        BEANSTRUCT const x = wordsOf(index);
        short const i = low16(x.element);
        if (bootpending.getvl() && among(id, {11, 20, 21, 23, 24, 33, 35, 37, 41})) return false;
        switch (id) {
        case 11: {
            Both locks(*this);
            if (value == ownperiodon) break;
            ownperiodon = value;
            // On: the period playing becomes the program's own until the page
            // writes another. Off: the master's period at once.
            if (value)
                ownperiod = programperiod;
            else
                adjrt(programrateus);
            break;
        }
        case 20: scanboot = value; break;
        case 21: fastboot = value; break;
        case 23: program->setf2(value); break;
        case 24: {
            Both locks(*this);
            program->setfi(value);
            invisible = value;
            break;
        }
        case 33: program->setfm(value); break;
        case 35: {
            nodrop = value;
            Both locks(*this);
            program->setfi(value);
            invisible = value;
            break;
        }
        case 37: autothread = value; break;
        case 41: mode = value ? 1 : 0; break;
        case 53: setby(value); break;
        case 144: {
            int step = 0;
            CoreAnsx message("");
            bool first = false, last = false;
            bool const result = boots(value, step, message, first, last);
            CoreSmgd guard(beansem);
            bootcounter = step;
            bootmessage = message;
            bootfirst = first;
            bootlast = last;
            bootresult = result;
            break;
        }
        case 165:
            if (vslot(i, "bean 165 slot")) program->setv3(i, value);
            break;
        case 187:
            if (CoreIfce* c = ifce_(x.element, "bean 187 control")) c->mode_(value);
            break;
        case 196:
            if (CorePrm_* p = prm__(i, "bean parameter modulator")) {
                p->setds(value);
                adjif();
            }
            break;
        case 254: queueallow = value; break;
        case 258: smpby(value, 0, true, false); break;
        default: break;
        }
        return true;
    });
}

// ---- short ----------------------------------------------------------------------------------

void CorePrcs::setbh(int id, short value, BEANSTRUCT* index) noexcept {
    bean_(false, "setbh", id, [&]() -> bool {
        BEANSTRUCT const x = wordsOf(index);
        short const i = low16(x.element);
        switch (id) {
        case 21: fastboot = value != 0; break;
        case 32: fontcolour = value; break;
        case 38: loaderpriority = value; break;
        case 45: {
            long const taken = bndms(DataXml_::sCtagexport, value, 1, iCqualityceiling, true);
            Both locks(*this);
            if (taken == exportquality) break;
            exportquality = static_cast<int>(taken);
            // The period asked for, as a rate change does: the rounded one
            // would grow at every change.
            adjrt(programperiod);
            processlevel = -1; // the next host call picks its rate again
            break;
        }
        case 50: setop(value); break;
        case 51: setof(value); break;
        case 54: {
            Both locks(*this);
            hdim = static_cast<short>(bndms(DataXml_::sCtaghsdim_, value, 1, hdimmax, true));
            adjhc();
            setck();
            break;
        }
        case 55: {
            Both locks(*this);
            program->setsh(value);
            programharmonics = program->gethc(false);
            adjhc();
            setck();
            break;
        }
        case 112:
            if (CoreEnvf* f = envf_(i, "bean follower")) f->setex(value);
            break;
        case 129:
        case 130:
            if (CoreDynm* d = dynm_(i, "bean dynamics"))
                id == 129 ? d->setst(value) : d->setrc(value);
            break;
        case 138:
            if (CoreEnv_* e = env__(i, "bean envelope", x.subindex)) e->setcv(x.subindex, value);
            break;
        case 179: {
            Both locks(*this); // learn slots are shared with the block's MIDI update
            midi->setms(value, x.element, x.subindex);
            break;
        }
        case 180: {
            bool learning = false;
            int status = 0, controller = 0, channel = 0, level = 0;
            {
                Both locks(*this);
                if (!midi->getms(value, learning, status, controller, channel, level)) {
                    learning = false;
                    status = controller = channel = level = 0;
                }
            }
            CoreSmgd guard(beansem);
            midilearning = learning;
            midiquery[0] = status;
            midiquery[1] = controller;
            midiquery[2] = channel;
            midiquery[3] = level;
            break;
        }
        default: break;
        }
        return true;
    });
}

// ---- int ------------------------------------------------------------------------------------

void CorePrcs::setbi(int id, int value, BEANSTRUCT* index) noexcept {
    bean_(false, "setbi", id, [&]() -> bool {
        BEANSTRUCT const x = wordsOf(index);
        switch (id) {
        case 44:
            if (value != samplerate) {
                CoreLog_::debug(CoreAnsx("beanrate *rate: ") + CoreAnsx(samplerate), 0, 3);
                irate(value); // the program's rate follows, under both locks
            }
            break;
        case 66: updgu(value); break;
        case 67: currentslot = value; break;
        case 78: irate(value); break;
        case 82: {
            long const target = wheeltarget.load();
            if (target < 0) break; // no control chosen: the steps move nothing
            if (CoreIfce* c = ifce_(target, "bean 82 wheel target")) c->mswhl(value);
            break;
        }
        case 84: {
            int before = 0, after = 0;
            bool pending = false;
            {
                Both locks(*this);
                before = hostblock;
            }
            // Recorded while the boot is pending too, so that the boot stores
            // a processing block fitting what the host sends.
            blksz(value);
            {
                Both locks(*this);
                after = hostblock;
                pending = bootpending.getvl();
            }
            if (after != before && !pending) reload(); // memory is empty while pending
            break;
        }
        case 88: {
            if (bootpending.getvl()) break;
            if (!CoreAudp::index(value, CoreMmry::iCmemorydim, "bean 88 location")) break;
            loadSelect(booterror ? 0 : value, false);
            break;
        }
        case 178:
            if (ifce_(x.element, "bean 178 control") != nullptr) setmc(x.element, value);
            break;
        case 186: {
            if (bootpending.getvl()) break;
            auto const word = static_cast<unsigned>(value);
            Both locks(*this); // MIDI learn takes one thread at a time
            try {
                mdupd(midi->mdctr(x.element, static_cast<int>(word & 0xFFu),
                                  static_cast<int>((word >> 8) & 0xFFu),
                                  static_cast<int>((word >> 16) & 0xFFu),
                                  static_cast<int>((word >> 24) & 0xFFu)));
            } catch (CoreAnsx const& e) {
                CoreLog_::loger(CoreAnsx("bean 186: MIDI event dropped: ") + e, 0);
            }
            break;
        }
        case 245: memory->settr(x.element, value); break;
        case 260:
            if (CoreEnvf* f = envf_(low16(x.element), "bean follower")) f->setho(value);
            break;
        default: break;
        }
        return true;
    });
}

// ---- long -----------------------------------------------------------------------------------

void CorePrcs::setbl(int id, long value, BEANSTRUCT* index) noexcept {
    bean_(false, "setbl", id, [&]() -> bool {
        BEANSTRUCT const x = wordsOf(index);
        short const i = low16(x.element);
        if (bootpending.getvl() && among(id, {7, 10, 30, 83})) return false;
        switch (id) {
        case 7: {
            Both locks(*this); // the block worker reads the lookahead figures
            program->setua(value);
            programahead = program->getab();
            aheadoffset = aheadSamples();
            break;
        }
        case 10: {
            Both locks(*this);
            if (ownperiodon) ownperiod = value; // asked for, not the period it rounds to
            adjrt(value);
            break;
        }
        // The long master values are kept within what the file's reader
        // takes; a negative RATECONVERSION applies the stored one again.
        case 30:
            setrc(value < 0 ? value : bndms(DataXml_::sCtagratecv, value, 0, INT_MAX, true));
            break;
        case 52: {
            long const taken = bndms(DataXml_::sCtagprrate, value, INT_MIN, INT_MAX, true);
            Both locks(*this);
            if (taken == programrateus) break;
            programrateus = taken;
            if (!ownperiodon) adjrt(taken); // a program's own rate keeps playing
            break;
        }
        case 65:
            guirate = bndms(DataXml_::sCtaggurate, value, iCguiratefloor, iCguirateceiling, true);
            break;
        case 70: forceoffset = bndfo(value, true); break;
        case 83: wheeltarget = value < 0 ? -1 : value; break;
        case 114:
        case 115:
        case 117:
        case 118:
            if (CoreEnvf* f = envf_(i, "bean follower")) {
                int const v = static_cast<int>(value);
                id == 114   ? f->setma(v)
                : id == 115 ? f->setxa(v)
                : id == 117 ? f->setmr(v)
                            : f->setxr(v);
            }
            break;
        case 137:
            if (CoreEnv_* e = env__(i, "bean envelope", x.subindex))
                e->settm(x.subindex, static_cast<int>(value));
            break;
        case CoreBnid::iCforcedlength:
            if (CoreBnid::slctr(x) == 0)
                ltimed = bndms(DataXml_::sCtagforcel, value, iCltimedfloor, iCltimedceiling, true);
            if (CoreBnid::slctr(x) == 1)
                lfreqd = bndms(DataXml_::sCtagforclf, value, iCltimedfloor, iClfreqdceiling, true);
            break;
        case 236:
            dspbuffer = static_cast<int>(
                bndms(DataXml_::sCtagdbuffr, value, iCdspbufferfloor, iCmaxdelaydim, true));
            break;
        default: break;
        }
        return true;
    });
}

// ---- double ---------------------------------------------------------------------------------

void CorePrcs::setbd(int id, double value, BEANSTRUCT* index) noexcept {
    bean_(false, "setbd", id, [&]() -> bool {
        BEANSTRUCT const x = wordsOf(index);
        short const i = low16(x.element);
        if (bootpending.getvl() && among(id, {0, 1, 8, 12, 19, 155, 156})) return false;
        switch (id) {
        case 0: program->setpi(value); break;
        case 1: program->setpo(value); break;
        case 8: {
            Both locks(*this); // the block worker reads the feedback flag and factor
            program->setff(value);
            feedback = program->hasfb();
            break;
        }
        case 12: {
            Both locks(*this); // the block worker reads the dry flag and gain
            program->setdr(value);
            dry = program->hasdr();
            break;
        }
        case 19: {
            // Read back through samples; judged whole, NaN as below the range.
            long const whole = !(value > -1e15) ? LONG_MIN
                               : value > 1e15   ? LONG_MAX
                                                : static_cast<long>(value);
            CoreAnsx const written =
                whole == LONG_MIN || whole == LONG_MAX ? CoreAnsx(value) : CoreAnsx(whole);
            aheadlength = bndms(DataXml_::sCtagaheadl, whole, 0, iCdelaylargest, true, &written);
            break;
        }
        case 150:
            if (vslot(i, "bean 150 slot")) setco(i, value);
            break;
        case 155: setctl(x.element, value, false); break;
        case 156: setctl(x.element, value, true); break;
        case 161:
            if (vslot(i, "bean 161 slot")) setod(i, static_cast<short>(x.subindex), value);
            break;
        case 188:
        case 189:
        case 190:
        case 191:
        case 193:
        case 235:
            if (CoreIfce* c = ifce_(x.element, "bean control")) {
                switch (id) {
                case 188: c->setiv(value, false, false); break;
                case 189: c->setiv(value, false, true); break;
                case 190: c->setiv(value, true, false); break;
                case 191: c->setiv(value, true, true); break;
                case 193: c->setvl(value, true); break;
                default: c->setpa(value); break;
                }
            }
            break;
        default: setModulatorDouble(id, x, value); break;
        }
        return true;
    });
}

void CorePrcs::setModulatorDouble(int id, BEANSTRUCT const& x, double value) {
    short const i = low16(x.element);
    if (id == 92 || id == 93 || id == 98 || id == 99) {
        if (CoreLfo_* l = lfo__(i, "bean LFO")) {
            switch (id) {
            case 92: l->setqt(value); break;
            case 93: l->setph(value); break;
            case 98: l->setmn(value); break;
            default: l->setmx(value); break;
            }
        }
    } else if (id == 120 || id == 259) {
        if (CoreEnvf* f = envf_(i, "bean follower")) id == 120 ? f->setob(value) : f->sethf(value);
    } else if (id == 131 || id == 132) {
        if (CoreDynm* d = dynm_(i, "bean dynamics")) d->setbd(id == 131 ? 3 : 4, value);
    } else if (id >= 134 && id <= 136) {
        if (CoreEnv_* e = env__(i, "bean envelope", id == 134 ? x.subindex : 0)) {
            if (id == 134) e->setlv(x.subindex, value);
            if (id == 135) e->setlf(value);
            if (id == 136) e->settf(value);
        }
    } else if (id >= 214 && id <= 217) {
        if (CorePrm_* p = prm__(i, "bean parameter modulator")) {
            switch (id) {
            case 214: p->setmn(value); break;
            case 215: p->setmx(value); break;
            case 216: p->setbn(value); break;
            default: p->setbx(value); break;
            }
        }
    }
}

// ---- string ---------------------------------------------------------------------------------

bool CorePrcs::setbs(int id, CoreAnsx value, BEANSTRUCT* index) noexcept {
    return bean_(false, "setbs", id, [&]() -> bool {
        BEANSTRUCT const x = wordsOf(index);
        if (bootpending.getvl() && among(id, {9, 13, 39, 56, 64, 87})) return false;
        switch (id) {
        case 9: program->setfs(value); break;
        case 13: program->setys(value); break;
        case 39: program->setar(value); break;
        case 56: program->setnm(value); break;
        case 62: {
            CoreAnsx const name = CoreButl::getfn(value, false);
            CoreSmgd guard(beansem);
            chosenskin = name;
            // Only the master page's field writes here: a choice the user
            // made, which SAVE keeps (a random boot pick never comes here).
            skinname = name;
            break;
        }
        case 64: program->setds(value); break;
        case 87: {
            // Refused whole, the file name stays, and the bus answers so.
            if (!nameUsable(value, "bean 87 (program file name)", false,
                            memory->getwp(currentslot) ? CoreButl::sCextv2p : CoreButl::sCextxml))
                return false;
            CoreSmgd lockload(loadsem);
            setpf(value);
            break;
        }
        case 167: memory->setnm(x.element, value); break;
        case 170: memory->setct(x.element, value, x.subindex); break;
        case 171: memory->setbs(x.element, value); break;
        case CoreBnid::iCcategory:
            program->setct(value, static_cast<short>(CoreBnid::slctr(x)));
            break;
        case 177: memory->setds(x.element, value); break;
        case 223: {
            CoreSmgd guard(beansem);
            batchname = value;
            break;
        }
        case 224: {
            CoreAnsx name("");
            {
                CoreSmgd guard(beansem);
                name = batchname;
            }
            vars->addit(name, value);
            break;
        }
        case 233: {
            CoreSmgd guard(beansem);
            archivepath = value;
            break;
        }
        case 234: {
            CoreAnsx path("");
            {
                CoreSmgd guard(beansem);
                path = archivepath;
            }
            setds(pool, path, value);
            break;
        }
        case 237:
        case 238: {
            CoreSmgd guard(beansem);
            (id == 237 ? listfolder : listmask) = value;
            break;
        }
        case 262:
            // The display's click or key: only clearing it is taken.
            if (value.Length() > 0) return false;
            clearSaveError();
            break;
        default: setModulatorText(id, x, value); break;
        }
        return true;
    });
}

void CorePrcs::setModulatorText(int id, BEANSTRUCT const& x, CoreAnsx const& value) {
    short const i = low16(x.element);
    if (id == 90 || id == 91 || id == 100) {
        if (CoreLfo_* l = lfo__(i, "bean LFO")) {
            if (id == 90) l->setsh(value);
            if (id == 91) l->setps(value);
            if (id == 100) l->setrt(value);
        }
    } else if (id >= 103 && id <= 105) {
        if (CoreFun_* f = fun__(i, "bean function")) {
            if (id == 103) f->setfn(value);
            if (id == 104) f->setia(value);
            if (id == 105) f->setib(value);
        }
    } else if (id == 116 || id == 119 || id == 252 || id == 253 || id == 261) {
        if (CoreEnvf* f = envf_(i, "bean follower")) {
            if (id == 116) f->setas(value);
            if (id == 119) f->setrs(value);
            if (id == 252) f->setda(value);
            if (id == 253) f->setdr(value);
            if (id == 261) f->sethp(value);
        }
    } else if (id >= 126 && id <= 128) {
        int const control[3] = {1, 0, 2}; // Input, Threshold, Ratio
        if (CoreDynm* d = dynm_(i, "bean dynamics")) d->setbs(control[id - 126], value);
    } else if (id >= 139 && id <= 142) {
        if (CoreEnv_* e = env__(i, "bean envelope", 0)) {
            if (id == 139) e->setas(value);
            if (id == 140) e->setds(value);
            if (id == 141) e->setls(value);
            if (id == 142) e->setts(value);
        }
    } else if (among(id, {197, 198, 201, 202, 203, 204, 210, 211})) {
        if (CorePrm_* p = prm__(i, "bean parameter modulator")) {
            switch (id) {
            case 197:
                p->setpl(value);
                adjif();
                break;
            case 198: p->setlb(value); break;
            case 201: p->setpu(value); break;
            case 202: p->setou(value); break;
            case 203: p->setun(value); break;
            case 204: p->setfn(value); break;
            case 210: p->setsa(value); break;
            default: p->setsb(value); break;
            }
        }
    }
}

// ---- actions --------------------------------------------------------------------------------

void CorePrcs::setbv(int id, BEANSTRUCT* index) noexcept {
    bean_(false, "setbv", id, [&]() -> bool {
        BEANSTRUCT const x = wordsOf(index);
        short const i = low16(x.element);
        switch (id) {
        case 79: {
            clearSaveError();
            savem();
            break;
        }
        case 80: clean(); break;
        case 121:
            if (CoreEnvf* f = envf_(i, "bean follower")) f->rfrvl();
            break;
        case 133:
            if (CoreDynm* d = dynm_(i, "bean dynamics")) d->rfrvl();
            break;
        case 143:
            if (CoreEnv_* e = env__(i, "bean envelope", 0)) e->rfrvl();
            break;
        case 195:
            if (CorePrm_* p = prm__(i, "bean parameter modulator")) p->updte();
            break;
        case 205: {
            short const j = low16(x.subindex);
            CorePrm_* a = prm__(i, "bean 205 first");
            CorePrm_* b = prm__(j, "bean 205 second");
            if (a == nullptr || b == nullptr) break;
            {
                Both locks(*this); // the host texts read the table under these locks
                program->setpm(i, b);
                program->setpm(j, a);
            }
            adjif();
            break;
        }
        case 222: messages->clear(); break;
        case 225:
            // A failed save's line stays: a program change can post its load
            // while the save's batch still runs. The next save, click or key
            // clears it.
            vars->free_();
            break;
        case 239: {
            CoreAnsx folder(""), mask("");
            {
                CoreSmgd guard(beansem);
                folder = listfolder;
                mask = listmask;
            }
            CoreAnsx* list = nullptr;
            int count = 0;
            CoreHutl::readr(folder, mask, &list, count, CoreAnsx("0"));
            CoreSmgd guard(beansem);
            delete[] textlist;
            textlist = list;
            textcount = count;
            break;
        }
        case 241: updpm(); break;
        case 242: memory->pushb(); break;
        case 243: memory->popb_(); break;
        case 244:
            memory->updtt();
            memory->ordrt(0);
            break;
        default: break;
        }
        return true;
    });
}
