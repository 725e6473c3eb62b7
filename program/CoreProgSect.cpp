// CoreProg modulator section readers (PRM, ENV, DNM, EVF) and the document
// reading rules every section and element reader shares.
#include "program/CoreProg.h"

#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CorePrm_.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "storage/CoreNode.h"
#include "storage/DataXml_.h"

#include <cmath>
#include <initializer_list>
#include <limits>

namespace {

using X = DataXml_;

// v truncated toward zero and held inside T's range (v is finite).
template <typename T> T saturate(double v) {
    if (v >= static_cast<double>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    if (v <= static_cast<double>(std::numeric_limits<T>::min()))
        return std::numeric_limits<T>::min();
    return static_cast<T>(v);
}

CoreAnsx const sCoff{"OFF"};
CoreAnsx const sCsep{":"};

// "a:b:c" debug text of what a reader took.
CoreAnsx joined(std::initializer_list<CoreAnsx> parts) {
    CoreAnsx out("");
    bool first = true;
    for (CoreAnsx const& p : parts) {
        if (!first) out += sCsep;
        out += p;
        first = false;
    }
    return out;
}

} // namespace

// ---- reading rules ---------------------------------------------------------------------

bool CoreProg::present(CoreNode const* node, CoreAnsx const& tag) {
    return node != nullptr && node->exslc(tag);
}

CoreNode* CoreProg::childOf(CoreNode const* node, CoreAnsx const& tag) {
    return present(node, tag) ? node->getcd(tag) : nullptr;
}

CoreAnsx CoreProg::textOf(CoreNode const* node, CoreAnsx const& tag, CoreAnsx const& fallback) {
    return CoreNode::gtnls(node, tag, fallback);
}

double CoreProg::numberOf(CoreNode const* node, CoreAnsx const& tag, double fallback) {
    if (!present(node, tag)) return fallback;
    double const v = node->getld(tag);
    if (!std::isfinite(v)) {
        // "nan" and "inf" parse; handed on they would poison every mix.
        CoreLog_::loger(CoreAnsx("No finite number in ") + tag + CoreAnsx(": ") + node->getls(tag),
                        1);
        return fallback;
    }
    return v;
}

int CoreProg::microsOf(CoreNode const* node, CoreAnsx const& tag, int fallback) {
    double const v = numberOf(node, tag, std::numeric_limits<double>::quiet_NaN());
    return std::isnan(v) ? fallback : saturate<int>(v);
}

short CoreProg::shortOf(CoreNode const* node, CoreAnsx const& tag, short fallback) {
    double const v = numberOf(node, tag, std::numeric_limits<double>::quiet_NaN());
    return std::isnan(v) ? fallback : saturate<short>(v);
}

int CoreProg::samplesOf(int us) const {
    long const n = CoreButl::tpfup(rate, us);
    return saturate<int>(static_cast<double>(n));
}

// ---- PRM ---------------------------------------------------------------------------------

void CoreProg::dsprm(CoreNode* section, CorePrm_* prm) {
    CoreAnsx tag("PRM");
    try {
        if (!section || !prm) throw CoreAnsx("no section or no modulator");
        tag = X::sCtagfuncta;
        CoreAnsx const a = textOf(section, tag, "");
        tag = X::sCtagfunctb;
        CoreAnsx const b = textOf(section, tag, "");
        tag = X::sCtagrootfn;
        CoreAnsx const fn = textOf(section, tag, "");
        tag = X::sCtagdslabl;
        CoreAnsx const label = textOf(section, tag, "");
        tag = X::sCtagdsprlb;
        CoreAnsx const prelabel = textOf(section, tag, "");
        tag = X::sCtagdsunit;
        CoreAnsx const unit = textOf(section, tag, "");
        tag = X::sCtagdsprun;
        CoreAnsx const preunit = textOf(section, tag, "");
        tag = X::sCtagdspoun;
        CoreAnsx const postunit = textOf(section, tag, "");
        tag = X::sCtagmnvalu;
        double const minimum = numberOf(section, tag, 0.0);
        tag = X::sCtagmxvalu;
        double const maximum = numberOf(section, tag, 0.0);
        tag = X::sCtagmnbrvl;
        double const barmin = numberOf(section, tag, minimum);
        tag = X::sCtagmxbrvl;
        double const barmax = numberOf(section, tag, maximum);
        // "0" is absent and so visible; a zero in any other spelling hides.
        tag = X::sCtadsvisbl;
        bool const visible = !present(section, tag) || numberOf(section, tag, 1.0) != 0.0;
        tag = "PRM";
        prm->setvl(visible, a, b, fn, label, prelabel, unit, preunit, postunit, minimum, maximum,
                   barmin, barmax);
    } catch (...) {
        CoreLog_::logtg(tag, 1);
        throw CoreAnsx(tag);
    }
}

// ---- ENV ---------------------------------------------------------------------------------

void CoreProg::envlp(CoreNode* section, CoreEnv_* env) {
    CoreAnsx tag("ENV");
    try {
        if (!section || !env) throw CoreAnsx("no section or no modulator");
        // A missing sub-element reads as absent values, like a missing tag.
        tag = X::sCtagcontrl;
        CoreNode const* control = childOf(section, tag);
        CoreAnsx const activation = textOf(control, X::sCtagacsrce, "");
        CoreAnsx const deactivation = textOf(control, X::sCtagdasrce, "");
        CoreLog_::debug(joined({tag, activation, deactivation}), 3, 3);

        tag = X::sCtagevlevl;
        CoreNode const* level = childOf(section, tag);
        CoreNode const* levelcommon = childOf(level, X::sCtagcommon);
        double const levels[4] = {
            numberOf(level, X::sCtagevstrt, 0.0), numberOf(level, X::sCtagevattc, 0.0),
            numberOf(level, X::sCtagevbrea, 0.0), numberOf(level, X::sCtagevsust, 0.0)};
        double const levelfactor = numberOf(levelcommon, X::sCtagmodfct, 0.0);
        CoreAnsx const levelsource = textOf(levelcommon, X::sCtagmdsrce, "");
        CoreLog_::debug(joined({tag, CoreAnsx(levels[0]), CoreAnsx(levels[1]), CoreAnsx(levels[2]),
                                CoreAnsx(levels[3]), CoreAnsx(levelfactor), levelsource}),
                        3, 3);

        tag = X::sCtagevtime;
        CoreNode const* time = childOf(section, tag);
        CoreNode const* timecommon = childOf(time, X::sCtagcommon);
        int const micros[4] = {microsOf(time, X::sCtagevattc, 0), microsOf(time, X::sCtagevdecy, 0),
                               microsOf(time, X::sCtagevslpe, 0),
                               microsOf(time, X::sCtagevrlse, 0)};
        double const timefactor = numberOf(timecommon, X::sCtagmodfct, 0.0);
        CoreAnsx const timesource = textOf(timecommon, X::sCtagmdsrce, "");
        CoreLog_::debug(joined({tag, CoreAnsx(micros[0]), CoreAnsx(micros[1]), CoreAnsx(micros[2]),
                                CoreAnsx(micros[3]), CoreAnsx(timefactor), timesource}),
                        3, 3);

        tag = X::sCtagevcrve;
        CoreNode const* curve = childOf(section, tag);
        short const curves[4] = {
            shortOf(curve, X::sCtagevattc, 0), shortOf(curve, X::sCtagevdecy, 0),
            shortOf(curve, X::sCtagevslpe, 0), shortOf(curve, X::sCtagevrlse, 0)};
        CoreLog_::debug(joined({tag, CoreAnsx(int(curves[0])), CoreAnsx(int(curves[1])),
                                CoreAnsx(int(curves[2])), CoreAnsx(int(curves[3]))}),
                        3, 3);

        tag = "ENV";
        int const times[4] = {samplesOf(micros[0]), samplesOf(micros[1]), samplesOf(micros[2]),
                              samplesOf(micros[3])};
        env->setvl(activation, deactivation, levels, times, curves, levelfactor, levelsource,
                   timefactor, timesource);
    } catch (...) {
        CoreLog_::logtg(tag, 1);
        throw CoreAnsx(tag);
    }
}

// ---- DNM ---------------------------------------------------------------------------------

void CoreProg::dynam(CoreNode* section, CoreDynm* dnm) {
    CoreAnsx tag("DNM");
    try {
        if (!section || !dnm) throw CoreAnsx("no section or no modulator");
        tag = X::sCtagtrsrce;
        CoreAnsx const threshold = textOf(section, tag, "");
        tag = X::sCtaginsrce;
        CoreAnsx const input = textOf(section, tag, "");
        // Compressor unless only the expander's ratio source is given.
        bool compress = true;
        CoreAnsx ratio("");
        tag = X::sCtagrcsrce;
        if (present(section, tag)) {
            ratio = textOf(section, tag, "");
        } else {
            tag = X::sCtagresrce;
            if (present(section, tag)) {
                ratio = textOf(section, tag, "");
                compress = false;
            }
        }
        tag = X::sCtagdnrnge;
        double const rangelimit = numberOf(section, tag, 0.0);
        // Numbered as the display numbers it: n > 0 is curve n - 1, and
        // absent, "0" or negative is no curve.
        tag = X::sCtagdnrtcv;
        short const ratiocurve = shortOf(section, tag, 0);
        tag = X::sCtaggainpd;
        double const gainpad = numberOf(section, tag, 0.0);
        CoreLog_::debug(
            joined({threshold, input, CoreAnsx(compress ? "C" : "E"), ratio,
                    CoreAnsx(int(ratiocurve)), CoreAnsx(rangelimit), CoreAnsx(gainpad)}),
            3, 3);
        tag = "DNM";
        dnm->setvl(static_cast<short>(compress ? 0 : 1), threshold, input, ratio, ratiocurve,
                   rangelimit, gainpad);
    } catch (...) {
        CoreLog_::logtg(tag, 1);
        throw CoreAnsx(tag);
    }
}

// ---- EVF ---------------------------------------------------------------------------------

void CoreProg::envfl(CoreNode* section, CoreEnvf* evf, bool fifth) {
    // What was read so far: the debug line, and the text of a failure.
    CoreAnsx line("EVF");
    try {
        if (!section || !evf) throw CoreAnsx("no section or no modulator");
        auto note = [&line](CoreAnsx const& value) { line += sCsep + value; };
        int const minattack = microsOf(section, X::sCtagattkmn, 0);
        note(CoreAnsx(minattack));
        int const maxattack = microsOf(section, X::sCtagattkmx, 0);
        note(CoreAnsx(maxattack));
        CoreAnsx const attacksource = textOf(section, X::sCtagatsrce, "");
        note(attacksource);
        int const minrelease = microsOf(section, X::sCtagrlsemn, 0);
        note(CoreAnsx(minrelease));
        int const maxrelease = microsOf(section, X::sCtagrlsemx, 0);
        note(CoreAnsx(maxrelease));
        CoreAnsx const releasesource = textOf(section, X::sCtagrlsrce, "");
        note(releasesource);
        double const balance = numberOf(section, X::sCtagefoutp, 0.0);
        note(CoreAnsx(balance));
        short const mode = fifth ? short(9) : shortOf(section, X::sCtagefexpn, 0);
        note(CoreAnsx(int(mode)));
        CoreAnsx const busbalance = textOf(section, X::sCtagefbbsr, sCoff);
        note(busbalance);
        CoreAnsx const deltaattack = textOf(section, X::sCtagefdatt, sCoff);
        note(deltaattack);
        CoreAnsx const deltarelease = textOf(section, X::sCtagefdrel, sCoff);
        note(deltarelease);
        bool const times = numberOf(section, X::sCtagefenet, 0.0) != 0.0;
        note(CoreAnsx(times ? "T" : "F"));
        CoreAnsx const outputattack = textOf(section, X::sCtagefoatt, sCoff);
        note(outputattack);
        CoreAnsx const outputrelease = textOf(section, X::sCtageforel, sCoff);
        note(outputrelease);
        CoreAnsx highpass = sCoff;
        double frequency = 0.0;
        int order = 1;
        if (present(section, X::sCtagfilter)) {
            highpass = textOf(section, X::sCtagfilter, sCoff);
            frequency = numberOf(section, X::sCtagfltfre, 0.0);
            if (present(section, X::sCtagfltord)) order = section->getli(X::sCtagfltord);
        }
        note(highpass);
        note(CoreAnsx(frequency));
        note(CoreAnsx(order));
        CoreLog_::debug(line, 3, 3);
        // The links and the high-pass are on exactly when their keys are not
        // "OFF" as written (case counts: "off" is a key like any other).
        evf->setvl(samplesOf(minattack), samplesOf(maxattack), attacksource, samplesOf(minrelease),
                   samplesOf(maxrelease), releasesource, balance, mode, busbalance != sCoff,
                   busbalance, deltaattack != sCoff && deltarelease != sCoff, deltaattack,
                   deltarelease, times, static_cast<double>(rate),
                   outputattack != sCoff && outputrelease != sCoff, outputattack, outputrelease,
                   highpass != sCoff, frequency, order, highpass);
    } catch (...) {
        CoreLog_::logtg(line, 1);
        throw CoreAnsx(line);
    }
}
