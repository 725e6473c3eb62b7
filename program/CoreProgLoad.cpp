// CoreProg program document reader: the global table, the LFO, raw-function
// and function settings, the hand-off of the modulator sections, the H and
// RAW sections, then the kernels and raw tables built.
#include "program/CoreProg.h"

#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "modulation/CoreRfun.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePmsg.h"
#include "storage/CoreNode.h"
#include "storage/DataXml_.h"

#include <cmath>
#include <limits>

namespace {

using X = DataXml_;

double const kAbsent = std::numeric_limits<double>::quiet_NaN();

CoreAnsx numbered(CoreAnsx const& tag, int n) { return tag + CoreAnsx(n); }

// The reason of a section that is not there at all.
CoreAnsx const sCmissing{"missing"};

// Debug line "tag:value" (level 3, timer and indentation 2).
void note(CoreAnsx const& tag, CoreAnsx const& value) {
    CoreLog_::debug(tag + CoreAnsx(":") + value, 2, 3);
}

// A debug line that cannot be written costs the line, never the load.
void quietly(CoreAnsx const& text, int timer, short level) noexcept {
    try {
        CoreLog_::debug(text, timer, level);
    } catch (...) {
    }
}

} // namespace

long CoreProg::longOf(CoreNode const* node, CoreAnsx const& tag, long fallback) {
    double const v = numberOf(node, tag, kAbsent);
    if (std::isnan(v)) return fallback;
    if (v >= static_cast<double>(std::numeric_limits<long>::max()))
        return std::numeric_limits<long>::max();
    if (v <= static_cast<double>(std::numeric_limits<long>::min()))
        return std::numeric_limits<long>::min();
    return static_cast<long>(v);
}

bool CoreProg::load_(CoreNode* root, bool keep) {
    // 1.-3.
    if (messages) {
        try {
            messages->addrw(CoreLog_::sCstatspar);
        } catch (...) {
            // A lost progress row does not stop the load.
        }
    }
    uload();
    uloar();
    quietly(CoreAnsx("load_ starts"), 1, 2);
    // 4.
    loaded = true;
    feedbackfactor = 0.0;
    drygain = 0.0;
    padin = padout = 1.0;
    // 5.-13.
    CoreAnsx tag(X::sCtagprogrm);
    CoreAnsx why("");
    bool read = false;
    try {
        CoreNode* const program = childOf(root, X::sCtagprogrm);
        if (!program) throw CoreAnsx(sCmissing);
        readGlobals(program, tag);
        readModulators(program, tag);
        readSections(program, tag);
        readSlots(program, tag);
        read = true;
    } catch (CoreAnsx const& reason) {
        why = reason;
    } catch (...) {
        why = CoreAnsx("Memory request failed");
    }
    if (!read) {
        // The refusal's one line at level 0, which the load reports as its
        // reason: the file, the section and why.
        try {
            CoreAnsx const file =
                programfile.Length() > 0 ? programfile + CoreAnsx(": ") : CoreAnsx("");
            CoreLog_::logfl(file + tag + CoreAnsx(": ") +
                                (why.Length() > 0 ? why : CoreAnsx("not readable")),
                            0);
        } catch (...) {
        }
        // The readers leave only whole trees behind, each on its slot's
        // root: unloading deletes every vector they made, once.
        uload();
        uloar();
    } else {
        // 14.
        try {
            start(keep);
        } catch (...) {
            CoreLog_::loger(CoreAnsx("start ") + name, 1);
            uload();
            uloar();
        }
        // 15. Whatever start did.
        try {
            starr();
        } catch (...) {
            CoreLog_::loger(CoreAnsx("starr ") + name, 1);
            uload();
            uloar();
        }
    }
    // 16.
    quietly(CoreAnsx("load_ ends"), 1, 2);
    return loaded;
}

void CoreProg::readGlobals(CoreNode* program, CoreAnsx& tag) {
    auto has = [&](CoreAnsx const& t) {
        tag = t;
        return present(program, t);
    };
    // dB to linear; a gain that overflows is taken as absent.
    auto linear = [&](CoreAnsx const& t, double fallback) {
        double const db = CoreButl::flushSubnormal(numberOf(program, t, 0.0));
        double const v = std::pow(10.0, db / 20.0);
        if (std::isfinite(v)) return v;
        CoreLog_::loger(CoreAnsx("No finite gain for ") + t + CoreAnsx(" ") + CoreAnsx(db), 1);
        return fallback;
    };
    // A trim or control source: the key, or the constant 1.0 when absent.
    auto bind = [&](CoreAnsx const& t, CoreParm* control, CoreAnsx* keep) {
        if (keep) *keep = "";
        if (has(t)) {
            CoreAnsx const key = textOf(program, t, "");
            if (keep) *keep = key;
            control->setsr(key, 0.0, 1.0);
            note(t, key);
        } else {
            control->setsr("", 1.0, 1.0);
        }
    };
    auto flag = [&](CoreAnsx const& t, bool& field) {
        field = false;
        if (has(t)) {
            field = numberOf(program, t, 0.0) > 0.0;
            CoreLog_::debug(t, 2, 3);
        }
    };

    tag = X::sCtagprognm;
    name = textOf(program, tag, "");
    CoreAnsx const texts[] = {X::sCtagcategr, X::sCtagsubca1, X::sCtagsubca2};
    for (int level = 0; level < 3; ++level)
        if (has(texts[level])) category[level] = textOf(program, texts[level], "");
    if (has(X::sCtagdescrp)) description = textOf(program, X::sCtagdescrp, "");
    tag = X::sCtagactvnm;
    vectorfilename = textOf(program, tag, "0");

    for (int n = 1; n <= iCmixes; ++n) {
        CoreAnsx const t = numbered(X::sCtagrootmx, n);
        tag = t;
        double const v = numberOf(program, t, kAbsent);
        if (std::isnan(v))
            ifces[n - 1]->setiv(-1.0, false, true);
        else
            ifces[n - 1]->setiv(v, true, true);
    }
    // GAININ and GAINOUT keep their value when absent.
    for (auto [t, control] :
         {std::pair<CoreAnsx, CoreIfce*>{X::sCtaggainou, ifces[9]}, {X::sCtaggainin, ifces[8]}}) {
        if (!has(t)) continue;
        double const v = linear(t, kAbsent);
        if (std::isnan(v)) continue;
        control->setiv(0.5 * v, true, false);
        note(t, CoreAnsx(v));
    }
    padout = has(X::sCtaggnpdou) ? linear(X::sCtaggnpdou, 1.0) : 1.0;
    if (has(X::sCtaggnpdou)) note(X::sCtaggnpdou, CoreAnsx(padout));
    padin = has(X::sCtaggnpdin) ? linear(X::sCtaggnpdin, 1.0) : 1.0;
    if (has(X::sCtaggnpdin)) note(X::sCtaggnpdin, CoreAnsx(padin));
    bind(X::sCtaggpitrm, padintrim, nullptr);
    bind(X::sCtaggpotrm, padouttrim, nullptr);
    // Read whatever is there: absent or "0" are 0 dB alike.
    tag = X::sCtaggainir;
    gainir = linear(tag, 1.0);
    note(tag, CoreAnsx(gainir));

    lookahead = 0;
    if (has(X::sCtaglookah)) {
        lookahead = longOf(program, X::sCtaglookah, 0);
        note(tag, CoreAnsx(lookahead));
    }
    lookaheadsource = has(X::sCtaglasrce) ? textOf(program, X::sCtaglasrce, "") : CoreAnsx("ON");
    lookaheadcontrol->setsr(lookaheadsource, 0.0, 1.0);
    note(X::sCtaglasrce, lookaheadsource);
    programrate = -1;
    if (has(X::sCtagprrate)) {
        programrate = longOf(program, X::sCtagprrate, -1);
        note(tag, CoreAnsx(programrate));
    }
    alignbalance = 0.0;
    if (has(X::sCtagaligbl)) {
        alignbalance = numberOf(program, X::sCtagaligbl, 0.0);
        note(tag, CoreAnsx(alignbalance));
    }
    flag(X::sCtagtrainm, trainmode);
    flag(X::sCtagjittrm, jittermode);
    flag(X::sCtaghrtf_m, hrtfmode);
    syncversion = 0;
    if (has(X::sCtagsyncvr)) {
        syncversion = microsOf(program, X::sCtagsyncvr, 0);
        note(tag, CoreAnsx(syncversion));
    }
    alignoffset = 0;
    if (has(X::sCtagaligof)) {
        alignoffset = longOf(program, X::sCtagaligof, 0);
        note(tag, CoreAnsx(alignoffset));
    }
    flag(X::sCtagfrcot2, forceot2);
    flag(X::sCtagfrcivt, invisiblethread);
    flag(X::sCtagfrchyb, forcehybrid);
    flag(X::sCtagmono_m, forcemono);
    hdim = 0;
    if (has(X::sCtaghsdim_)) {
        hdim = shortOf(program, X::sCtaghsdim_, 0);
        note(tag, CoreAnsx(int(hdim)));
    }
}

void CoreProg::readModulators(CoreNode* program, CoreAnsx& tag) {
    for (int n = 1; n <= iClfos; ++n) {
        tag = numbered(X::sCtagrootlf, n);
        CoreNode const* s = childOf(program, tag);
        lfos[n - 1]->setvl(numberOf(s, X::sCtagmnrate, 0.0), numberOf(s, X::sCtagmxrate, 0.0),
                           numberOf(s, X::sCtaglfortq, 0.0), textOf(s, X::sCtagsource, ""),
                           textOf(s, X::sCtagshape_, ""), numberOf(s, X::sCtagphasef, 0.0),
                           textOf(s, X::sCtagphases, ""));
    }
    for (int n = 1; n <= iCrawfuns; ++n) {
        tag = numbered(X::sCtagrootrf, n);
        CoreNode const* s = childOf(program, tag);
        rawfuns[n - 1]->setvl(textOf(s, X::sCtagfuncta, ""), textOf(s, X::sCtagfunctb, ""),
                              textOf(s, X::sCtagfunctc, ""), textOf(s, X::sCtagfunctd, ""),
                              textOf(s, X::sCtagrootfn, ""), rate, -1.0);
    }
    for (int n = 1; n <= iCfuns; ++n) {
        tag = numbered(X::sCtagrootfn, n);
        CoreNode const* s = childOf(program, tag);
        funs[n - 1]->setvl(textOf(s, X::sCtagfuncta, ""), textOf(s, X::sCtagfunctb, ""),
                           textOf(s, X::sCtagrootfn, ""));
    }
}

void CoreProg::readSections(CoreNode* program, CoreAnsx& tag) {
    // The section's node when present (logged), else null.
    auto section = [&](CoreNode* parent, CoreAnsx const& t) -> CoreNode* {
        tag = t;
        CoreNode* node = childOf(parent, t);
        if (node) CoreLog_::debug(t, 2, 3);
        return node;
    };
    for (int n = 1; n <= iCevfs; ++n) {
        if (CoreNode* s = section(program, numbered(X::sCtagrootef, n))) {
            envfl(s, evfs[n - 1], false);
        } else if (CoreNode* first =
                       n == iCevfs ? childOf(program, numbered(X::sCtagrootef, 1)) : nullptr) {
            // The fifth follower falls back on the first one's settings.
            tag = numbered(X::sCtagrootef, 1);
            envfl(first, evfs[n - 1], true);
        } else {
            evfs[n - 1]->setvl();
        }
    }
    for (int n = 1; n <= iCdnms; ++n) {
        if (CoreNode* s = section(program, numbered(X::sCtagrootdn, n)))
            dynam(s, dnms[n - 1]);
        else
            dnms[n - 1]->setvl();
    }
    for (int n = 1; n <= iCenvs; ++n) {
        if (CoreNode* s = section(program, numbered(X::sCtagrootev, n)))
            envlp(s, envs[n - 1]);
        else
            envs[n - 1]->setvl();
    }

    feedbacksource = "";
    tag = X::sCtagfeedbk;
    feedbackfactor = 0.0;
    if (present(program, tag)) {
        feedbackfactor = numberOf(program, tag, 0.0) / 100.0;
        note(tag, CoreAnsx(feedbackfactor));
    }
    // A control bound to a key, or to the constant 1.0 when absent.
    auto bind = [&](CoreAnsx const& t, CoreParm* control, CoreAnsx& keep) {
        tag = t;
        keep = "";
        if (present(program, t)) {
            keep = textOf(program, t, "");
            control->setsr(keep, 0.0, 1.0);
            note(t, keep);
        } else {
            control->setsr("", 1.0, 1.0);
        }
    };
    bind(X::sCtagfbsrce, feedbackcontrol, feedbacksource);
    gaindrysource = "";
    tag = X::sCtaggaindr;
    drygain = 0.0;
    if (present(program, tag)) {
        double const db = CoreButl::flushSubnormal(numberOf(program, tag, 0.0));
        double const v = std::pow(10.0, db / 20.0);
        if (std::isfinite(v))
            drygain = v;
        else
            CoreLog_::loger(CoreAnsx("No finite gain for ") + tag + CoreAnsx(" ") + CoreAnsx(db),
                            1);
        note(tag, CoreAnsx(drygain));
    }
    bind(X::sCtaggainds, gaindrycontrol, gaindrysource);
    tag = X::sCtagsmooth;
    smooth = -1;
    if (present(program, tag)) {
        smooth = shortOf(program, tag, -1);
        note(tag, CoreAnsx(int(smooth)));
    }

    // Without DISPLAY the parameter modulators stay as the unload left them.
    if (CoreNode* display = section(program, X::sCtagrootds)) {
        for (int n = 1; n <= iCprms; ++n) {
            CoreNode* s = section(display, numbered(X::sCtagroot2p, n));
            if (!s) s = section(display, numbered(X::sCtagrootpm, n));
            if (s)
                dsprm(s, prms[n - 1]);
            else
                prms[n - 1]->setvl(false);
        }
    }
}

void CoreProg::readSlots(CoreNode* program, CoreAnsx& tag) {
    slots = 0;
    for (short k = 0; k < capacity; ++k) {
        CoreAnsx const hname = numbered(X::sCtagrooth_, k + 1);
        CoreLog_::debug(CoreAnsx("H:") + hname, 2, 3);
        tag = hname;
        if (!present(program, hname)) break;
        CoreLog_::debug(hname, 2, 3);
        CoreNode* const hnode = childOf(program, hname);
        elementdepth = 1;
        CoreNode* const element = childOf(hnode, X::sCtagelemnt);
        currentpath = "";
        HLOC& h = hslots[k];
        h.inuse = true;
        h.root = elmnt(pool, cache, store, hslots, sources, k, element, elementdepth, currentpath,
                       vectorfolder, forcedoffset, capacity);
        h.extended = false;
        // A bare impulse file or no ELEMENT at all holds no vector to play.
        CoreAnsx const novector(element ? "ELEMENT holds no VECTOR" : "ELEMENT missing");
        if (!h.root) throw novector;
        HLOC& hybrid = hslots[capacity];
        if (forcehybrid && k == 0) {
            // Same files as slot 0: the path and depth start afresh. Its
            // head is zeroed and rewritten later, so its kernels are kept
            // out of the shared cache.
            elementdepth = 1;
            currentpath = "";
            hybrid.inuse = true;
            hybrid.root = elmnt(pool, nullptr, store, hslots, sources, capacity, element,
                                elementdepth, currentpath, vectorfolder, forcedoffset, capacity);
            hybrid.extended = false;
            if (!hybrid.root) throw novector;
        }
        if (present(hnode, X::sCtagfrcot2) && numberOf(hnode, X::sCtagfrcot2, 0.0) > 0.0) {
            h.extended = true;
            CoreLog_::debug(X::sCtagfrcot2, 3, 3);
        }
        h.trainthreshold = 0.0;
        if (present(element, X::sCtagtraint)) {
            double const db = CoreButl::flushSubnormal(numberOf(element, X::sCtagtraint, 0.0));
            double const v = std::pow(10.0, db / 20.0);
            h.trainthreshold = std::isfinite(v) ? v : 0.0;
            CoreLog_::debug(X::sCtagtraint + CoreAnsx(":") + CoreAnsx(h.trainthreshold), 3, 3);
        }
        if (forcehybrid && k == 0) hybrid.trainthreshold = h.trainthreshold;
        ++slots;
    }
    if (slots == 0) {
        tag = numbered(X::sCtagrooth_, 1);
        throw sCmissing;
    }

    for (int n = 1; n <= iCrawslots; ++n) {
        CoreAnsx const rname = numbered(X::sCtagrootrw, n);
        tag = rname;
        if (!present(program, rname)) continue;
        CoreLog_::debug(rname, 2, 3);
        elementdepth = 1;
        CoreNode* const element = childOf(childOf(program, rname), X::sCtagelemnt);
        currentpath = "";
        RAWLOC& raw = rawslots[n - 1];
        raw.inuse = true;
        raw.root = relmn(pool, cache, store, rawslots, sources, static_cast<short>(n - 1), element,
                         elementdepth, currentpath, vectorfolder);
    }
}
