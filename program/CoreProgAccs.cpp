// CoreProg state accessors: slot records, scalar settings, texts, modulator
// and control getters and the values derived from the fixed parameters.
#include "program/CoreProg.h"

#include "engine/CoreRvct.h"
#include "engine/CoreVctr.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreRfun.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

#include <cmath>

// ---- helpers ---------------------------------------------------------------------------

CoreProg::HLOC* CoreProg::slotAt(int s, char const* operation) {
    if (hslots && s >= 0 && s <= capacity) return &hslots[s];
    CoreLog_::loger(CoreAnsx(operation) + CoreAnsx(": no kernel slot ") + CoreAnsx(s), 1);
    return nullptr;
}

double CoreProg::trimOf(double v) {
    double const t = CoreButl::flushSubnormal(v * dCtrimfactor);
    return t == 0.0 ? 1.0 : t;
}

// ---- slot getters ----------------------------------------------------------------------

int CoreProg::getbr(short s) {
    HLOC* h = slotAt(s, "getbr");
    return h ? h->block : 0;
}

bool CoreProg::getv3(short s) {
    HLOC* h = slotAt(s, "getv3");
    return h && h->extended;
}

int CoreProg::getid(short s) {
    HLOC* h = slotAt(s, "getid");
    return h ? h->normallength : 0;
}

int CoreProg::getep(short s) {
    HLOC* h = slotAt(s, "getep");
    return h ? h->padded : 0;
}

int CoreProg::getex(short s) {
    HLOC* h = slotAt(s, "getex");
    return h ? h->extendedlength : 0;
}

int CoreProg::getco(short s) {
    HLOC* h = slotAt(s, "getco");
    return h && h->inuse ? h->extendedfadeout : 0;
}

int CoreProg::getib(short s, short sel, bool ext) {
    HLOC* h = slotAt(s, "getib");
    if (!h || !h->inuse) return 0;
    if (sel == 0) return ext ? h->extendedfadeend : h->normalfadeend;
    if (sel == 1) return ext ? h->extendedbound : h->normalbound;
    return 0;
}

int CoreProg::getod(short s, short sel) {
    HLOC* h = slotAt(s, "getod");
    if (!h || !h->inuse) return 0;
    if (sel == 0) return h->normallength;
    if (sel == 1) return h->extendedlength;
    return 0;
}

int CoreProg::getts(short s) {
    HLOC* h = slotAt(s, "getts");
    return h && h->inuse ? h->extendedlength : 0;
}

CoreVctr* CoreProg::getvr(short s) {
    HLOC* h = slotAt(s, "getvr");
    return h ? h->root : nullptr;
}

void* CoreProg::getli(short s) {
    HLOC* h = slotAt(s, "getli");
    return h ? h->left : nullptr;
}

void* CoreProg::getri(short s) {
    HLOC* h = slotAt(s, "getri");
    return h ? h->right : nullptr;
}

void* CoreProg::getls() { return hslots[0].secondleft; }

void* CoreProg::getrs() { return hslots[0].secondright; }

bool CoreProg::ismkr(short s) {
    HLOC* h = slotAt(s, "ismkr");
    return h && h->marker;
}

short CoreProg::gethc(bool all) {
    if (all || hdim <= 0) return slots;
    return hdim < slots ? hdim : slots;
}

// ---- slot setters ----------------------------------------------------------------------

void CoreProg::setv3(short s, bool b) {
    HLOC* h = slotAt(s, "setv3");
    if (!h) return;
    h->changed = true;
    h->extended = b;
}

void CoreProg::setcv(int i, CoreCnvl* cnvl) {
    if (HLOC* h = slotAt(i, "setcv")) h->convolver = cnvl;
}

void CoreProg::setsp(short sel) {
    // Nothing to switch before a program has built slot 0.
    if (hslots[0].root) hslots[0].root->setcc(sel);
}

// ---- scalar state ----------------------------------------------------------------------

double CoreProg::getff() { return feedbackfactor; }
void CoreProg::setff(double v) { feedbackfactor = v; }
bool CoreProg::hasfb() { return feedbackfactor > 0.0; }
double CoreProg::getdr() { return drygain; }
void CoreProg::setdr(double v) { drygain = v; }
double CoreProg::getpi() { return padin; }
void CoreProg::setpi(double v) { padin = v; }
double CoreProg::getpo() { return padout; }
void CoreProg::setpo(double v) { padout = v; }
double CoreProg::getsz() { return datasize; }
int CoreProg::getsm() { return loadedfiles; }
long CoreProg::getua() { return lookahead; }
void CoreProg::setua(long v) { lookahead = v; }
void CoreProg::setac(long samples) { lookaheadcap = samples; }
long CoreProg::getpr() { return programrate; }
short CoreProg::getsh() { return hdim; }
void CoreProg::setsh(short v) { hdim = v; }
short CoreProg::getst() { return smooth; }
void CoreProg::setst(short v) { smooth = v; }
int CoreProg::getof() { return largestoffset; }
int CoreProg::getfr() { return filerate; }
int CoreProg::getcr() { return convertedrate; }
void CoreProg::setrt(int r) { rate = r; }
void CoreProg::setrc(long us) { conversionceiling = us; }
void CoreProg::setmp(int n) { minblock = n; }
void CoreProg::setnf(CoreAnsx const& f) { programfile = f; }
void CoreProg::setfs(CoreFsys* s) { store = s; }
void CoreProg::setsb(CorePmsg* rows) { messages = rows; }
bool CoreProg::getf2() { return forceot2; }
bool CoreProg::setf2(bool b) { return forceot2 = b; }
bool CoreProg::getfm() { return forcemono; }
bool CoreProg::setfm(bool b) { return forcemono = b; }
bool CoreProg::getfi() { return invisiblethread; }
void CoreProg::setfi(bool b) { invisiblethread = b; }
bool CoreProg::getfh() { return forcehybrid; }
bool CoreProg::getnc() { return namechanged; }
DataSrce* CoreProg::getsr() { return sources; }
DataGfun* CoreProg::getgf() { return functions; }

void CoreProg::setfh(bool b) {
    // Runs whatever b is: the one caller passes the toggled value, and the
    // reset must also happen when hybrid mode is switched off twice.
    HLOC& head = hslots[0];
    HLOC& hybrid = hslots[capacity];
    if (forcehybrid) {
        if (hybrid.inuse) {
            head.extendedlength = hybrid.extendedlength;
            head.extendedfadeout = hybrid.extendedfadeout;
            head.extended = false;
            hybrid.extended = false;
            forceot2 = false;
        }
    } else {
        head.extendedlength = head.extendedbound;
        head.extended = false;
        forceot2 = false;
        smooth = -1;
    }
    head.changed = true;
    forcehybrid = b;
}

// ---- texts -----------------------------------------------------------------------------

CoreAnsx CoreProg::getnm() { return name; }

void CoreProg::setnm(CoreAnsx const& text) {
    name = text;
    namechanged = true;
}

CoreAnsx CoreProg::getds() { return description; }
void CoreProg::setds(CoreAnsx const& text) { description = text; }

CoreAnsx CoreProg::getct(short level) {
    return level >= 0 && level < 3 ? category[level] : CoreAnsx("");
}

void CoreProg::setct(CoreAnsx const& text, short level) {
    if (level >= 0 && level < 3) category[level] = text;
}

CoreAnsx CoreProg::getfs() { return feedbacksource; }

void CoreProg::setfs(CoreAnsx const& key) {
    feedbacksource = key;
    feedbackcontrol->setsr(key, 0.0, 1.0);
}

CoreAnsx CoreProg::getys() { return gaindrysource; }

void CoreProg::setys(CoreAnsx const& key) {
    gaindrysource = key;
    gaindrycontrol->setsr(key, 0.0, 1.0);
}

CoreAnsx CoreProg::getar() { return lookaheadsource; }

void CoreProg::setar(CoreAnsx const& key) {
    lookaheadsource = key;
    lookaheadcontrol->setsr(key, 0.0, 1.0);
}

void CoreProg::setvf(CoreAnsx const& file) {
    namechanged = false;
    vectorfilename = file;
}

// ---- modulators and controls -------------------------------------------------------------

CoreLfo_* CoreProg::getlf(short i) { return i >= 0 && i < iClfos ? lfos[i] : nullptr; }
CoreFun_* CoreProg::getfn(short i) { return i >= 0 && i < iCfuns ? funs[i] : nullptr; }
CoreEnvf* CoreProg::getef(short i) { return i >= 0 && i < iCevfs ? evfs[i] : nullptr; }
CoreEnv_* CoreProg::geten(short i) { return i >= 0 && i < iCenvs ? envs[i] : nullptr; }
CoreDynm* CoreProg::getdy(short i) { return i >= 0 && i < iCdnms ? dnms[i] : nullptr; }
CorePrm_* CoreProg::getpm(short i) { return i >= 0 && i < iCprms ? prms[i] : nullptr; }
CoreIfce* CoreProg::getmx(short i) { return i >= 0 && i < iCmixes ? ifces[i] : nullptr; }

CoreIfce* CoreProg::getif(long i) {
    if (i >= 0 && i < iCifces) return ifces[i];
    CoreLog_::loger(CoreAnsx("getif: no interface control ") + CoreAnsx(i), 1);
    return nullptr;
}

short CoreProg::setpm(short i, CorePrm_* prm) {
    if (i >= 0 && i < iCprms) prms[i] = prm;
    return i;
}

// ---- derived values --------------------------------------------------------------------

double CoreProg::getrf() {
    return CoreButl::flushSubnormal(feedbackfactor * feedbackcontrol->getvl());
}
double CoreProg::getry() { return CoreButl::flushSubnormal(drygain * gaindrycontrol->getvl()); }
double CoreProg::getaf() { return lookaheadcontrol->getvl(); }
double CoreProg::getti() { return trimOf(padintrim->getvl()); }
double CoreProg::getto() { return trimOf(padouttrim->getvl()); }

double CoreProg::getab() {
    // A negative lookahead passes tpfup unchanged; a negative ring offset
    // would read before the lookahead ring, so 0 is the floor.
    long n = CoreButl::tpfup(rate, lookahead);
    if (n > lookaheadcap) n = lookaheadcap;
    return n > 0 ? static_cast<double>(n) : 0.0;
}

double CoreProg::getsc(CoreAnsx const& key) { return sources->getsc(key)->getvl(); }

void CoreProg::upsrc(int i, double v) noexcept {
    // Called per block: an index outside the bus is dropped without a log line.
    if (i >= 0 && i < DataSrce::iCsources) sources->getis(i)->setvl(v);
}

bool CoreProg::isqpr() { return evfs[iCevfs - 1]->isact(); }

bool CoreProg::inphs(double const* values, int n) {
    if (!values || n <= 0) return false;
    double lowest = 0.0, highest = 0.0;
    for (int k = 0; k < n; ++k) {
        if (values[k] > highest) highest = values[k];
        if (values[k] < lowest) lowest = values[k];
    }
    return highest > std::fabs(lowest);
}

void CoreProg::test_(int n) noexcept {
    for (CoreEnvf* e : evfs) e->updte();
    for (int r = 0; r < iCrawslots; ++r)
        if (rawslots[r].inuse && rawslots[r].root) rawslots[r].root->chnup();
    for (CoreRfun* f : rawfuns)
        if (f->isact()) f->updte(static_cast<double>(n));
}
