// CoreProg document write-back of the modulator sections: every LFO, function
// generator, envelope follower, envelope, dynamics processor and parameter
// modulator becomes one whole element that replaces the old one.
#include "program/CoreProg.h"

#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"

#include <cmath>
#include <memory>

namespace {

using X = DataXml_;
using ELEMENT = std::unique_ptr<CoreNode>;

ELEMENT element(CoreAnsx const& tag) { return std::make_unique<CoreNode>(tag); }
ELEMENT element(CoreAnsx const& tag, int n) { return element(tag + CoreAnsx(n)); }

// <tag>value</tag> appended to parent.
template <typename V> void add(ELEMENT const& parent, CoreAnsx const& tag, V const& v) {
    ELEMENT child = element(tag);
    child->addcd(new CoreNode(v));
    parent->addcd(child.release());
}

void add(ELEMENT const& parent, ELEMENT child) { parent->addcd(child.release()); }

// Source texts: a parameter's binding as a document holds it (constants with
// ten decimals), and the text last given to its binding.
CoreAnsx bindingOf(CoreParm const* parm) { return parm != nullptr ? parm->getsa() : CoreAnsx(""); }
CoreAnsx boundText(CoreParm const* parm) { return parm != nullptr ? parm->getsc() : CoreAnsx(""); }

// Puts el at PROGRAM/tag (PROGRAM/DISPLAY/tag with display), replacing the
// element of that name and moving it to the end of its parent.
void replace(CoreXml_* doc, ELEMENT el, bool display = false) {
    if (doc->getrt() == nullptr) doc->setrt(new CoreNode(CoreXml_::sCroot));
    CoreAnsx const tag = el->gettx();
    CoreAnsx const inside[3] = {X::sCtagprogrm, X::sCtagrootds, tag};
    CoreAnsx const top[2] = {X::sCtagprogrm, tag};
    if (display)
        doc->getrt()->prplc(inside, 3, el.release());
    else
        doc->getrt()->prplc(top, 2, el.release());
}

// The element tag under PROGRAM as the document holds it before the
// writer replaces it; null when there is none.
CoreNode const* held(CoreXml_* doc, CoreAnsx const& tag) {
    CoreAnsx const path[2] = {X::sCtagprogrm, tag};
    return doc->getrt() != nullptr ? doc->getrt()->pfind(path, 2) : nullptr;
}

// A time as text: the one the document held under tag when reading it
// again gives the samples the modulator runs, so a time the user left alone
// keeps its text (1234 us stays 1234, not the 1225 us of 54 samples at
// 44.1 kHz); else the time of those samples.
CoreAnsx timeText(CoreNode const* old, CoreAnsx const& tag, long samples, int rate) {
    if (old != nullptr && old->exslc(tag)) {
        double const us = old->getld(tag);
        if (std::isfinite(us) && us >= 0.0 && us < 2147483647.0 && rate >= 1 &&
            CoreButl::tpfup(rate, static_cast<long>(us)) == samples)
            return old->getls(tag);
    }
    return CoreAnsx(CoreProg::timeOf(samples, rate));
}

bool refused(CoreXml_* doc, char const* writer) {
    if (doc != nullptr) return false;
    CoreLog_::loger(CoreAnsx(writer) + CoreAnsx(": no document to write"), 1);
    return true;
}

} // namespace

void CoreProg::chglf(CoreXml_* doc) {
    if (refused(doc, "chglf")) return;
    for (int n = 1; n <= iClfos; ++n) {
        CoreLfo_ const* lfo = lfos[n - 1];
        CoreAnsx const shape = CoreButl::getnv(lfo->getsh());
        if (shape == CoreButl::sCnull) continue; // an LFO never set up keeps its element
        // A blank rate or phase source is left out: the reader then binds
        // nothing, where "NULL" would read as a constant.
        CoreAnsx const ratesource = CoreButl::getnv(lfo->getrc());
        CoreAnsx const phasesource = CoreButl::getnv(lfo->getps());
        ELEMENT el = element(X::sCtagrootlf, n);
        add(el, X::sCtagmnrate, lfo->getrt()->getsl());
        add(el, X::sCtagmxrate, lfo->getrt()->getsu());
        if (ratesource != CoreButl::sCnull) add(el, X::sCtagsource, ratesource);
        add(el, X::sCtagshape_, shape);
        add(el, X::sCtagphasef, lfo->getph());
        if (phasesource != CoreButl::sCnull) add(el, X::sCtagphases, phasesource);
        add(el, X::sCtaglfortq, lfo->getqt());
        replace(doc, std::move(el));
    }
}

void CoreProg::chgfn(CoreXml_* doc) {
    if (refused(doc, "chgfn")) return;
    for (int n = 1; n <= iCfuns; ++n) {
        CoreFun_ const* fun = funs[n - 1];
        ELEMENT el = element(X::sCtagrootfn, n);
        add(el, X::sCtagfuncta, bindingOf(fun->getfa()));
        add(el, X::sCtagfunctb, bindingOf(fun->getfb()));
        add(el, X::sCtagrootfn, fun->getfn());
        replace(doc, std::move(el));
    }
}

void CoreProg::chgef(CoreXml_* doc) { chgef(doc, takel()); }

void CoreProg::chgef(CoreXml_* doc, LIVE const& live) {
    if (refused(doc, "chgef")) return;
    for (int n = 1; n <= iCevfs; ++n) {
        CoreEnvf const* evf = evfs[n - 1];
        ELEMENT el = element(X::sCtagrootef, n);
        CoreNode const* old = held(doc, el->gettx());
        add(el, X::sCtagefexpn, static_cast<int>(evf->getex()));
        add(el, X::sCtagefoutp, evf->getba());
        if (evf->bbsrc()) add(el, X::sCtagefbbsr, evf->getbb());
        if (evf->hpsrc()) {
            add(el, X::sCtagfilter, evf->gethp());
            add(el, X::sCtagfltfre, evf->gethf());
            add(el, X::sCtagfltord, evf->getho());
        }
        if (evf->dsrc_()) {
            add(el, X::sCtagefdatt, evf->getda());
            add(el, X::sCtagefdrel, evf->getdr());
        }
        add(el, X::sCtagefenet, evf->enabt());
        if (evf->osrc_()) {
            add(el, X::sCtagefoatt, evf->getoa());
            add(el, X::sCtageforel, evf->getor());
        }
        add(el, X::sCtagattkmn, timeText(old, X::sCtagattkmn, evf->getma(), live.rate));
        add(el, X::sCtagattkmx, timeText(old, X::sCtagattkmx, evf->getxa(), live.rate));
        add(el, X::sCtagatsrce, boundText(evf->getat()));
        add(el, X::sCtagrlsemn, timeText(old, X::sCtagrlsemn, evf->getmr(), live.rate));
        add(el, X::sCtagrlsemx, timeText(old, X::sCtagrlsemx, evf->getxr(), live.rate));
        add(el, X::sCtagrlsrce, boundText(evf->getrl()));
        replace(doc, std::move(el));
    }
}

void CoreProg::chgen(CoreXml_* doc) { chgen(doc, takel()); }

void CoreProg::chgen(CoreXml_* doc, LIVE const& live) {
    if (refused(doc, "chgen")) return;
    CoreAnsx const stages[4] = {X::sCtagevattc, X::sCtagevdecy, X::sCtagevslpe, X::sCtagevrlse};
    for (int n = 1; n <= iCenvs; ++n) {
        CoreEnv_ const* env = envs[n - 1];
        ELEMENT el = element(X::sCtagrootev, n);
        CoreNode const* old = held(doc, el->gettx());
        CoreNode const* oldtime = old != nullptr ? old->getcd(X::sCtagevtime) : nullptr;

        ELEMENT control = element(X::sCtagcontrl);
        add(control, X::sCtagacsrce, boundText(env->getpr(0)));
        add(control, X::sCtagdasrce, boundText(env->getpr(1)));
        add(el, std::move(control));

        double const* levels = env->getlv();
        ELEMENT level = element(X::sCtagevlevl);
        add(level, X::sCtagevstrt, levels[0]);
        add(level, X::sCtagevattc, levels[1]);
        add(level, X::sCtagevbrea, levels[2]);
        add(level, X::sCtagevsust, levels[3]);
        ELEMENT levelcommon = element(X::sCtagcommon);
        add(levelcommon, X::sCtagmodfct, env->getlf());
        add(levelcommon, X::sCtagmdsrce, boundText(env->getpr(2)));
        add(level, std::move(levelcommon));
        add(el, std::move(level));

        int const* times = env->gettm();
        ELEMENT time = element(X::sCtagevtime);
        for (int k = 0; k < 4; ++k)
            add(time, stages[k], timeText(oldtime, stages[k], times[k], live.rate));
        ELEMENT timecommon = element(X::sCtagcommon);
        add(timecommon, X::sCtagmodfct, env->gettf());
        add(timecommon, X::sCtagmdsrce, boundText(env->getpr(3)));
        add(time, std::move(timecommon));
        add(el, std::move(time));

        short const* curves = env->getcv();
        ELEMENT curve = element(X::sCtagevcrve);
        for (int k = 0; k < 4; ++k) add(curve, stages[k], static_cast<int>(curves[k]));
        add(el, std::move(curve));

        replace(doc, std::move(el));
    }
}

void CoreProg::chgdy(CoreXml_* doc) {
    if (refused(doc, "chgdy")) return;
    for (int n = 1; n <= iCdnms; ++n) {
        CoreDynm const* dnm = dnms[n - 1];
        ELEMENT el = element(X::sCtagrootdn, n);
        add(el, dnm->getst() == 1 ? X::sCtagresrce : X::sCtagrcsrce, dnm->getbs(2));
        add(el, X::sCtagtrsrce, dnm->getbs(0));
        add(el, X::sCtaginsrce, dnm->getbs(1));
        // Curve + 1, 0 for none: the numbering the reader takes.
        add(el, X::sCtagdnrtcv, static_cast<int>(dnm->getrc()));
        add(el, X::sCtagdnrnge, dnm->getbd(3));
        add(el, X::sCtaggainpd, dnm->getbd(4));
        replace(doc, std::move(el));
    }
}

void CoreProg::chgpt(CoreXml_* doc) { chgpt(doc, takel()); }

void CoreProg::chgpt(CoreXml_* doc, LIVE const& live) {
    if (refused(doc, "chgpt")) return;
    for (int n = 1; n <= iCprms; ++n) {
        CorePrm_ const* prm = live.prms[n - 1];
        if (prm == nullptr) continue;
        ELEMENT el = element(X::sCtagrootpm, n);
        // Written, " 0 " reads back as a present zero, which hides.
        if (!prm->isdis()) add(el, X::sCtadsvisbl, false);
        add(el, X::sCtagdsprlb, prm->getpl());
        add(el, X::sCtagdslabl, prm->getlb());
        add(el, X::sCtagdsprun, prm->getpu());
        add(el, X::sCtagdspoun, prm->getou());
        add(el, X::sCtagdsunit, prm->getun());
        add(el, X::sCtagmnvalu, prm->getbd(0));
        add(el, X::sCtagmxvalu, prm->getbd(1));
        add(el, X::sCtagmnbrvl, prm->getbd(2));
        add(el, X::sCtagmxbrvl, prm->getbd(3));
        add(el, X::sCtagfuncta, bindingOf(prm->getfa()));
        add(el, X::sCtagfunctb, bindingOf(prm->getfb()));
        add(el, X::sCtagrootfn, prm->getfn());
        // The reader prefers the older LUMOIIPRMn: left beside the new
        // element it would bring the old settings back at the next load.
        if (doc->getrt() == nullptr) doc->setrt(new CoreNode(CoreXml_::sCroot));
        CoreAnsx const displaypath[2] = {X::sCtagprogrm, X::sCtagrootds};
        if (CoreNode* display = doc->getrt()->pfind(displaypath, 2))
            display->delcn(X::sCtagroot2p + CoreAnsx(n));
        replace(doc, std::move(el), true);
    }
}
