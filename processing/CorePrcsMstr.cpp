// CorePrcs master settings: reading (inside the constructor), the settings
// log lines, chgms and savem.
#include "processing/CorePrcs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/CoreCnvl.h"
#include "modulation/CoreMidi.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"

namespace {

using X = DataXml_;

CoreAnsx const kProtectionDb{"PROTECTIONDB"};

bool fileThere(CoreAnsx const& path) {
    struct stat info {};
    return ::stat(CoreButl::rslve(path).c_str(), &info) == 0;
}

// There even when it cannot be followed (a link loop): only a name that
// leads nowhere is missing.
bool nameThere(CoreAnsx const& path) {
    struct stat info {};
    return ::stat(CoreButl::rslve(path).c_str(), &info) == 0 ||
           (errno != ENOENT && errno != ENOTDIR);
}

CoreAnsx numbered(CoreAnsx const& tag, int n) { return tag + CoreAnsx(n); }

// A 16-bit setting: the integer reading cut to its low 16 bits.
short low16(int v) { return static_cast<short>(v); }

void line(CoreAnsx const& tag, CoreAnsx const& value) {
    CoreLog_::debug(tag + CoreAnsx(":") + value, 0, 3);
}
void line(CoreAnsx const& tag, long value) { line(tag, CoreAnsx(value)); }
void line(CoreAnsx const& tag, int value) { line(tag, CoreAnsx(value)); }
void line(CoreAnsx const& tag, short value) { line(tag, CoreAnsx(static_cast<int>(value))); }
void line(CoreAnsx const& tag, bool value) { line(tag, CoreAnsx(value ? "1" : "0")); }
void line(CoreAnsx const& tag, double value) { line(tag, CoreAnsx(value)); }

// One bound line, level 0: "<tag> <written> <why>, taken as <taken>"; a tag
// line from the settings, a notice from the bus.
void boundLine(CoreAnsx const& tag, CoreAnsx const& written, CoreAnsx const& why,
               CoreAnsx const& taken, bool bus) {
    CoreAnsx const text =
        tag + CoreAnsx(" ") + written + CoreAnsx(" ") + why + CoreAnsx(", taken as ") + taken;
    if (bus)
        CoreLog_::notce(text);
    else
        CoreLog_::logtg(text, 0);
}

// What a value taken means, where its number does not say it.
CoreAnsx meaning(CoreAnsx const& tag, long taken) {
    if (tag == X::sCtagratecv && taken == 0)
        return CoreAnsx(" (off: the kernels play unconverted)");
    return CoreAnsx("");
}

// The log's deepest debug level.
constexpr long kDebugLevelMost = 7;

// A number as the settings hold it (sign, digits, one decimal point or comma,
// exponent), cut toward zero into a long, fraction telling whether the cut
// dropped anything; false for anything else: empty, text, NAN, INF.
bool wholeOf(CoreAnsx const& text, long& value, bool& fraction) {
    char const* s = text.c_str();
    int i = *s == '+' || *s == '-' ? 1 : 0, digits = 0;
    for (bool point = false; s[i] != '\0'; ++i) {
        if (s[i] >= '0' && s[i] <= '9')
            ++digits;
        else if ((s[i] == '.' || s[i] == ',') && !point)
            point = true;
        else
            break;
    }
    if (digits == 0) return false;
    if (s[i] == 'e' || s[i] == 'E') {
        i += s[i + 1] == '+' || s[i + 1] == '-' ? 2 : 1;
        if (s[i] < '0' || s[i] > '9') return false;
        while (s[i] >= '0' && s[i] <= '9') ++i;
    }
    if (s[i] != '\0') return false;
    double const v = CoreButl::rplce(text, ',', '.').ToDouble();
    value = !(v > -9.2e18) ? LONG_MIN : v >= 9.2e18 ? LONG_MAX : static_cast<long>(v);
    fraction = v != std::trunc(v);
    return true;
}

// The key's element holds exactly "0", which the document getters read as
// absent; an empty element stays absent.
bool writtenZero(CoreNode const* m, CoreAnsx const& key) {
    CoreNode const* element = m->getcd(key);
    return element != nullptr && !element->leaf_() && element->getcd()->gettx() == CoreAnsx("0");
}

// A whole-number master key as written.
struct WRITTEN {
    bool there = false;    // present; a written "0" counts, an empty element does not
    bool number = false;   // a number, cut toward zero into value
    bool fraction = false; // the cut dropped a fraction
    long value = 0;
    CoreAnsx text; // as written, trimmed
};

// Unlike a program's documents, the user writes this file by hand: a
// written 0 is the number 0.
WRITTEN writtenWhole(CoreNode const* m, CoreAnsx const& key) {
    WRITTEN w;
    bool const read = m->exslc(key);
    w.there = read || writtenZero(m, key);
    w.text = read ? m->getls(key) : CoreAnsx("0");
    w.number = w.there && wholeOf(w.text, w.value, w.fraction);
    return w;
}

// A fraction the bound kept is still not what was written: one line says
// what plays ("LTIMED 7000.9 not a whole number, taken as 7000"). A value
// the bound moved has its bound line already.
void fractionLine(CoreAnsx const& tag, WRITTEN const& w, long taken) {
    if (w.number && w.fraction && taken == w.value)
        boundLine(tag, w.text, CoreAnsx("not a whole number"), CoreAnsx(taken), false);
}

void unreadable(CoreAnsx const& tag, CoreAnsx const& written, CoreAnsx const& taken) {
    boundLine(tag, CoreAnsx("\"") + written + CoreAnsx("\""), CoreAnsx("not a whole number"), taken,
              false);
}

} // namespace

void CorePrcs::rdmst(CoreAnsx const& mastertext, int& threads, int& ippthreads, long& refresh) {
    masterfilename =
        codename == CoreAnsx("0") ? sCmstrfilenme : CoreButl::setfx(codename, CoreButl::sCextxml);
    masterpath = join_(codepath, masterfilename);
    installerpath = CoreButl::rnfle(masterpath, sCinstallerxml, false);

    bool const fromtext = !(mastertext == CoreAnsx("0"));
    bool const there = fromtext || nameThere(masterpath);
    CoreNode* root = nullptr;
    char const* reason = there ? "holds no MASTER" : "master settings not found";
    CoreAnsx refused; // the opener's reason for a file of the wrong kind
    try {
        root = fromtext ? masterdoc->getfc(mastertext) : masterdoc->getff(masterpath, true);
        if (root == nullptr && !fromtext && CoreButl::fferr() != 0)
            reason = (refused = CoreButl::systemReason(CoreButl::fferr())).c_str();
        else if (root == nullptr && there && !fromtext &&
                 ::access(CoreButl::rslve(masterpath).c_str(), R_OK) != 0)
            reason = (refused = CoreButl::systemReason(errno)).c_str();
        // Cut short, it would read as defaults for every key it lost.
        if (masterdoc->cutsh(masterpath)) {
            root = nullptr;
            reason = nullptr; // said already
        }
    } catch (CoreAnsx const&) {
        reason = "does not parse";
        root = nullptr;
    }
    CoreNode* master = root != nullptr ? root->getcd(X::sCtagmaster) : nullptr;
    if (master == nullptr) {
        // Counted as absent: the boot reports it and stops; a later save
        // must not replace what the user has there.
        masterbroken = there;
        masterwhy = !there              ? CoreAnsx("")
                    : reason != nullptr ? CoreAnsx(reason)
                                        : CoreAnsx("cut short");
        if (reason != nullptr) CoreLog_::logfl(masterpath + CoreAnsx(": ") + CoreAnsx(reason), 0);
        return;
    }

    if (fileThere(installerpath)) {
        installermerged = true;
        CoreXml_ installer;
        try {
            if (installer.getff(installerpath, true) != nullptr) masterdoc->merge(&installer);
        } catch (CoreAnsx const&) {
            CoreLog_::logfl(installerpath + CoreAnsx(": installer settings do not parse"), 0);
        }
        master = masterdoc->getrt()->getcd(X::sCtagmaster);
    }
    masterpresent = true;
    rdkey(master, !fromtext, threads, ippthreads, refresh);
}

void CorePrcs::rdkey(CoreNode* m, bool fromfile, int& threads, int& ippthreads, long& refresh) {
    auto has = [m](CoreAnsx const& key) { return m->exslc(key); };
    // The document getters take a bare "0" for absent; this file is written
    // by hand, where "0" and " 0 " are the same number.
    auto written = [m](CoreAnsx const& key) { return m->exslc(key) || writtenZero(m, key); };
    auto integer = [m](CoreAnsx const& key, int fallback) {
        return writtenZero(m, key) ? 0 : CoreNode::gtnli(m, key, fallback);
    };
    auto text = [m](CoreAnsx const& key, char const* fallback) {
        return CoreNode::gtnls(m, key, CoreAnsx(fallback));
    };
    auto folder = [&text](CoreAnsx const& key) {
        return CoreButl::rplce(text(key, ""), '\\', '/');
    };
    // A whole-number key judged as written, before any cut. Absent, it is the
    // fallback bounded quietly (a default may derive from another key); a
    // number outside lo..hi, or anything else (taken as other), is one line.
    auto whole = [m](CoreAnsx const& key, long fallback, long lo, long hi, long other) {
        WRITTEN const w = writtenWhole(m, key);
        if (!w.there) return std::clamp(fallback, lo, hi);
        if (w.number) {
            long const taken = bndms(key, w.value, lo, hi, false, &w.text);
            fractionLine(key, w, taken);
            return taken;
        }
        unreadable(key, w.text, CoreAnsx(other) + meaning(key, other));
        return other;
    };
    // A switch is a whole number from 0 to 1: 5 is on and -1 off, each with
    // its line, and a text is off with one too.
    auto toggle = [&whole](CoreAnsx const& key, bool fallback) {
        return whole(key, fallback ? 1 : 0, 0, 1, 0) != 0;
    };

    if (has(X::sCtagmagic_)) magic = CoreButl::sbstr(m->getls(X::sCtagmagic_), 1, 4);
    if (has(X::sCtagdtapth)) setdp(folder(X::sCtagdtapth), fromfile);
    // Below 0 the log would drop even the level-0 lines of a failed load.
    debuglevel = static_cast<short>(whole(X::sCtagdebugl, 0, 0, kDebugLevelMost, 0));
    fastboot = toggle(X::sCtagfastbt, false);
    fastbootmissing = !written(X::sCtagfastbt);
    scanboot = toggle(X::sCtagscanbt, true);
    frozenboot = toggle(X::sCtagfrozbt, false);
    nodrop = toggle(X::sCtagnodrop, false);
    autothread = toggle(X::sCtagautoth, true);
    // Below 0 or unreadable, conversion stays off, as 0 and an absent key have it.
    rateconversion = whole(X::sCtagratecv, 0, 0, INT_MAX, 0);
    // Held only to what the file's reader takes back; unreadable, as absent.
    programrateus = whole(X::sCtagprrate, 3000, INT_MIN, INT_MAX, 3000);
    aheadlength = whole(X::sCtagaheadl, programrateus, 0, iCdelaylargest, 0);
    guirate = whole(X::sCtaggurate, 40000, iCguiratefloor, iCguirateceiling, iCguiratefloor);
    exportquality = static_cast<int>(whole(X::sCtagexport, 1, 1, iCqualityceiling, 1));
    // LTIMED also sizes the engine timing's kernel at a first boot.
    ltimed = whole(X::sCtagforcel, 10000, iCltimedfloor, iCltimedceiling, iCltimedfloor);
    lfreqd = whole(X::sCtagforclf, 1000000, iCltimedfloor, iClfreqdceiling, iCltimedfloor);
    WRITTEN const offset = writtenWhole(m, X::sCtagforceo);
    forceoffset = offset.number ? bndfo(offset.value, false, &offset.text) : -1;
    fractionLine(X::sCtagforceo, offset, forceoffset);
    if (offset.there && !offset.number)
        unreadable(X::sCtagforceo, offset.text, CoreAnsx("-1 (none)"));
    forcolumn = low16(integer(X::sCtagforcol, 24));
    programsub = folder(X::sCtagprgspt);
    vectorsub = folder(X::sCtagvecspt);
    setupsub = folder(X::sCtagsetspt);
    skinsub = folder(X::sCtagsknspt);
    dictionarysub = folder(X::sCtagdctspt);
    skinname = text(X::sCtagsknsnm, "");
    cachesub = folder(X::sCtagccespt);
    cachepresent = has(X::sCtagccespt);
    setupromname = text(X::sCtagsetrnm, "");
    dictionaryromname = text(X::sCtagdctrnm, "NULL");
    workbuffer = static_cast<int>(whole(X::sCtagwbuffr, 32000, INT_MIN, iCworkbufferlargest, 0));
    // Judged whole before the cut to int. Unreadable, it counts as absent:
    // this instance plays the default and the boot writes its own choice. A
    // block of 0 samples asks for that choice too, quietly.
    WRITTEN const buffer = writtenWhole(m, X::sCtagdbuffr);
    bool const choose = buffer.number && buffer.value == 0 && !buffer.fraction;
    dspbuffermissing = !buffer.number || choose;
    if (buffer.there && !buffer.number) unreadable(X::sCtagdbuffr, buffer.text, CoreAnsx("absent"));
    dspbuffer = !dspbuffermissing
                    ? static_cast<int>(bndms(X::sCtagdbuffr, buffer.value, iCdspbufferfloor,
                                             iCmaxdelaydim, false, &buffer.text))
                    : 8192;
    fractionLine(X::sCtagdbuffr, buffer, dspbuffer);
    threads = integer(X::sCtagthread, 0);
    threadsmindim = integer(X::sCtagthdmin, 2048);
    metertype = low16(integer(X::sCtagmtrtyp, 2));
    otimed = low16(integer(X::sCtagoptimz, CoreCnvl::iCdefaultdir));
    otimedmissing = !written(X::sCtagoptimz);
    ofreqd = low16(integer(X::sCtagoptimf, CoreCnvl::iCdefaultbe_));
    // Judged whole, before it is cut to 16 bits: no slot array can be built
    // from a count below 1 or one that overflows with the work slot.
    hdimmax = static_cast<short>(whole(X::sCtaghsdimm, 10, 1, iChdimmaxlargest, 1));
    // Below 1 or wrapped through the cut, every program would play silence.
    hdim = static_cast<short>(whole(X::sCtaghsdim_, 1, 1, hdimmax, 1));
    // A tempo of 0 means nothing, nor does one past every number (NAN, 1e999,
    // which would reach the modulators' rates): either plays the default,
    // with its line.
    double const read =
        writtenZero(m, X::sCtagbpmdef) ? 0.0 : CoreNode::gtnld(m, X::sCtagbpmdef, 120000.0);
    double const tempo = std::isfinite(read) ? read : 0.0;
    if (tempo == 0.0) {
        WRITTEN const w = writtenWhole(m, X::sCtagbpmdef);
        boundLine(X::sCtagbpmdef, w.number ? w.text : CoreAnsx("\"") + w.text + CoreAnsx("\""),
                  CoreAnsx("not a tempo"), CoreAnsx("120000 (120 BPM)"), false);
    }
    defaulttempo = (tempo == 0.0 ? 120000.0 : tempo) / 1000.0;
    fontcolour = low16(integer(X::sCtagcolour, 0));
    loaderpriority = low16(integer(X::sCtagloadrp, 1));
    mode = toggle(X::sCtagmode__, true) ? 1 : 0;

    int const alternatives = m->getcc(X::sCtagadtpth);
    if (alternatives > 0) {
        altpaths = new CoreAnsx[alternatives];
        for (int i = 0; i < alternatives; ++i) altpaths[i] = m->getls(X::sCtagadtpth, i);
        altcount = static_cast<short>(alternatives);
    }
    for (short i = 0; i < CoreMidi::iCslots; ++i) {
        int const status = integer(numbered(X::sCtagmstmix, i + 1), 176);
        if (written(numbered(X::sCtagmctmix, i + 1)))
            midi->setms(i, status, integer(numbered(X::sCtagmctmix, i + 1), 0));
    }
    fixedquality = CoreNode::gtnld(m, X::sCtagfixedq, 0.0) != 0.0 ? 4 : 0;
    protectiondb = CoreNode::gtnld(m, kProtectionDb, dCprotectiondb);
    legacystereo = toggle(X::sCtaglegstc, true);
    refresh = integer(X::sCtagrfrovf, iCurefreshoverflow);
    ippthreads = integer(X::sCtagippthr, 1);
}

long CorePrcs::bndms(CoreAnsx const& tag, long value, long lo, long hi, bool bus,
                     CoreAnsx const* written) {
    long const taken = value < lo ? lo : value > hi ? hi : value;
    if (taken == value) return value;
    boundLine(tag, written != nullptr ? *written : CoreAnsx(value),
              CoreAnsx(value < lo ? "below " : "above ") + CoreAnsx(taken),
              CoreAnsx(taken) + meaning(tag, taken), bus);
    return taken;
}

long CorePrcs::bndfo(long value, bool bus, CoreAnsx const* written) {
    if (value > 0) return bndms(X::sCtagforceo, value, 1, iCdelaylargest, bus, written);
    if (value < INT_MIN)
        boundLine(X::sCtagforceo, written != nullptr ? *written : CoreAnsx(value),
                  CoreAnsx("below ") + CoreAnsx(long(INT_MIN)), CoreAnsx("-1 (none)"), bus);
    return -1;
}

void CorePrcs::setdp(CoreAnsx const& value, bool fromfile) {
    if (value.Length() <= 0)
        datapath = join_(codepath, CoreAnsx(""));
    else if (shellfsys != nullptr && fromfile)
        datapath = join_(codepath, value);
    else
        datapath = value;
    if (shellfsys == nullptr) return;
    // A folder is its own data folder: splitting it as a file path would
    // take a dot in a folder name ("~/.lxvst/") for an extension.
    int const length = datapath.Length();
    bool const folder =
        length > 0 && (datapath.c_str()[length - 1] == '/' || datapath.c_str()[length - 1] == '\\');
    shellfsys->setdt(folder ? datapath : CoreButl::getpt(datapath));
    try {
        shellfsys->loada(datapath, CoreAnsx("0"), true, nullptr);
    } catch (CoreAnsx const&) {
        CoreLog_::logfl(datapath + CoreAnsx(": data archive does not parse"), 0);
    }
}

void CorePrcs::logms(int ippthreads) {
    CoreLog_::debug(CoreLog_::sCproductn + CoreAnsx(" ") + CoreLog_::sCversion_, 0, 3);
    if (!(magic == CoreAnsx("0"))) line(X::sCtagmagic_, magic);
    line(X::sCtagfastbt, fastboot);
    line(X::sCtagscanbt, scanboot);
    line(X::sCtagnodrop, nodrop);
    line(X::sCtagautoth, autothread);
    line(X::sCtagmode__, mode != 0);
    line(X::sCtaglegstc, legacystereo);
    line(X::sCtagprrate, programrateus);
    line(X::sCtaggurate, guirate);
    line(X::sCtagexport, exportquality);
    line(X::sCtagforcel, ltimed);
    line(X::sCtagforclf, lfreqd);
    line(X::sCtagforceo, forceoffset);
    line(X::sCtagratecv, rateconversion);
    line(X::sCtagprgspt, programsub);
    line(X::sCtagvecspt, vectorsub);
    line(X::sCtagsetspt, setupsub);
    line(X::sCtagsetrnm, setupromname);
    line(X::sCtagdctrnm, dictionaryromname);
    line(X::sCtagccespt, cachesub);
    line(X::sCtagdctspt, dictionarysub);
    line(X::sCtagwbuffr, ringsize);
    line(X::sCtagdbuffr, processingblock);
    CoreLog_::debug(CoreAnsx("PROCESSINGBUFFER:") + CoreAnsx(baselatency), 0, 3);
    line(X::sCtagmtrtyp, metertype);
    line(X::sCtaghsdim_, hdim);
    line(X::sCtaghsdimm, hdimmax);
    line(X::sCtagbpmdef, defaulttempo);
    line(X::sCtagcolour, fontcolour);
    line(X::sCtagloadrp, loaderpriority);
    line(X::sCtagforcol, forcolumn);
    line(kProtectionDb, protectiondb);
    line(X::sCtagippthr, ippthreads);
    CoreLog_::debug(CoreAnsx("*rate:") + CoreAnsx(samplerate), 0, 3);
    if (threaded) line(X::sCtagthdmin, threadsmindim);
}

void CorePrcs::chgms() {
    if (masterdoc == nullptr) return;
    CoreAnsx path[2] = {X::sCtagmaster, CoreAnsx("")};
    auto put = [&](CoreAnsx const& key, CoreNode* value) {
        path[1] = key;
        masterdoc->pappr(path, 2, value);
    };
    auto putInt = [&](CoreAnsx const& key, long v) { put(key, new CoreNode(static_cast<int>(v))); };
    put(X::sCtagmtrtyp, new CoreNode(static_cast<int>(metertype)));
    put(X::sCtagoptimz, new CoreNode(static_cast<int>(otimed)));
    put(X::sCtagoptimf, new CoreNode(static_cast<int>(ofreqd)));
    putInt(X::sCtagprrate, programrateus);
    putInt(X::sCtagexport, exportquality);
    putInt(X::sCtagforceo, forceoffset);
    putInt(X::sCtagforcel, ltimed);
    putInt(X::sCtagforclf, lfreqd);
    putInt(X::sCtaggurate, guirate);
    put(X::sCtaghsdim_, new CoreNode(static_cast<int>(hdim)));
    put(X::sCtagbpmdef, new CoreNode(std::floor(defaulttempo * 1000.0)));
    // The microseconds as read (or set), in full: derived back from samples
    // the value would be lost without FORCEOFFSET and shrink by a sample's
    // worth with it, and "%G" would round anything above six digits.
    putInt(X::sCtagaheadl, aheadlength);
    put(X::sCtagscanbt, new CoreNode(scanboot));
    put(X::sCtagautoth, new CoreNode(autothread));
    put(X::sCtagfastbt, new CoreNode(fastboot));
    putInt(X::sCtagratecv, rateconversion);
    put(X::sCtagcolour, new CoreNode(static_cast<int>(fontcolour)));
    CoreAnsx skin("");
    {
        CoreSmgd guard(beansem); // the master page's choice may arrive meanwhile
        skin = skinname;
    }
    put(X::sCtagsknsnm, new CoreNode(skin));
    put(X::sCtagnodrop, new CoreNode(nodrop));
    put(X::sCtagloadrp, new CoreNode(CoreButl::intas(loaderpriority)));
    put(X::sCtagmode__, new CoreNode(mode != 0));
    putInt(X::sCtagdbuffr, dspbuffer);
    for (short i = 0; i < CoreMidi::iCslots; ++i) {
        bool learning = false;
        int status = 0, controller = 0, channel = 0, value = 0;
        if (!midi->getms(i, learning, status, controller, channel, value)) continue;
        putInt(numbered(X::sCtagmstmix, i + 1), status);
        putInt(numbered(X::sCtagmctmix, i + 1), controller);
    }
}

bool CorePrcs::savem() {
    if (failed || masterdoc == nullptr) return false;
    if (masterbroken) {
        svrsn(masterpath, CoreAnsx("NOT SAVED"), CoreAnsx("the file there holds no MASTER"));
        return false;
    }
    try {
        chgms();
        errno = 0;
        if (masterdoc->settf(CoreButl::rslve(masterpath), true, false, false)) return true;
        svrsn(masterpath, CoreAnsx("NOT SAVED"),
              errno != 0 ? CoreButl::systemReason(errno) : CoreAnsx("not written"));
    } catch (CoreAnsx const& e) {
        svrsn(masterpath, CoreAnsx("NOT SAVED"), e);
    }
    return false;
}
