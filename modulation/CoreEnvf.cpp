#include "modulation/CoreEnvf.h"

#include <cmath>
#include <limits>

#include "modulation/CoreFltr.h"
#include "modulation/CoreGfun.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"

int CoreEnvf::iVhighpassmaxorder = 8;
const double CoreEnvf::dCtimeconstanttorisetimefactor = 1.0 / std::log(9.0);
const double CoreEnvf::dCvufactor = 1.0 / std::log(100.0);

namespace {
CoreAnsx const offKey("OFF");

// Bus value of a source, -1 ("OFF") when there is none.
double sourceValue(CoreSrce const* s) { return s ? s->getvl() : -1.0; }

// Unipolar 0..1 of a bipolar source value, flushed.
double unipolar(CoreSrce const* s) { return CoreGfun::unipolar(sourceValue(s)); }

// One-pole coefficient of a time in samples. A control read from a source
// below -1 (a raw-function output, a time estimate) gives a time of 0 or
// less, where exp(-1/t) exceeds 1 and the smoother would run off to infinity;
// such a time is taken as instant, the limit of exp(-1/t) as t falls to 0.
double smoothing(double samples) {
    return samples > 0.0 ? CoreButl::flushSubnormal(std::exp(-1.0 / samples)) : 0.0;
}
} // namespace

CoreEnvf::CoreEnvf(CorePool* pool, CoreAnsx const& name, bool withcontrols, DataSrce* catalogue,
                   CoreSrce* leveloutput, CoreSrce* attackoutput, CoreSrce* releaseoutput)
    : name(name), busbalancetext(offKey), deltaattacktext(offKey), deltareleasetext(offKey),
      outputattacktext(offKey), outputreleasetext(offKey), attacktext(""), releasetext(""),
      highpasstext(offKey), mode(9), count(0), highpassorder(0), holdlength(1), holdcountdown(1),
      minattack(0), maxattack(0), minrelease(0), maxrelease(0), minattackd(1.0), maxattackd(1.0),
      minreleased(1.0), maxreleased(1.0), balance(0.0), pendingbalance(0.0), outputweight(0.0),
      inputweight(0.0), attackcoef(0.0), releasecoef(0.0), prevattack(0.0), prevrelease(0.0),
      envelope(0.0), outputlevel(0.0), runningmax(0.0), heldpeak(0.0), lastmagnitude(0.0),
      timescale(0.0), detector(0.0), prevdetector(0.0), vutrim(std::pow(10.0, 0.038)),
      samplerate(0.0), highpassfrequency(0.0), active(false), hascontrols(false),
      busbalanceon(false), deltaon(false), outputson(false), timeson(false), attacking(false),
      wasattacking(false), highpasson(false), catalogue(catalogue), busbalancesource(nullptr),
      deltaattacksource(nullptr), deltareleasesource(nullptr), outputattacksource(nullptr),
      outputreleasesource(nullptr), leveloutput(nullptr), attackoutput(nullptr),
      releaseoutput(nullptr), highpasssource(nullptr), attack(nullptr), release(nullptr),
      pool(pool), filter(nullptr), buffer(nullptr) {
    if (!pool) {
        CoreAnsx text = CoreAnsx("Envelope follower without pool: ") + name;
        CoreLog_::loger(text, 0);
        throw text;
    }
    buffer = static_cast<double*>(pool->mallc(0, iCbufferdim, "ENVF", CoreAnsx("")));
    for (int i = 0; i < iCbufferdim; ++i) buffer[i] = 0.0;
    if (!withcontrols) return;
    try {
        attack = new CoreParm(CoreAnsx("Attack"), CoreAnsx("Attack"), CoreAnsx("t"), 1.0, 1000000.0,
                              catalogue);
        release = new CoreParm(CoreAnsx("Release"), CoreAnsx("Release"), CoreAnsx("t"), 1.0,
                               1000000.0, catalogue);
        filter = new CoreFltr(CoreFltr::iChighpass, iVhighpassmaxorder);
    } catch (...) {
        delete attack;
        delete release;
        pool->free_(buffer);
        throw CoreAnsx("Memory request failed for envelope follower ") + name;
    }
    hascontrols = true;
    this->leveloutput = writable(leveloutput);
    this->attackoutput = writable(attackoutput);
    this->releaseoutput = writable(releaseoutput);
}

CoreEnvf::~CoreEnvf() {
    delete filter;
    delete attack;
    delete release;
    pool->free_(buffer);
    busbalancesource = deltaattacksource = deltareleasesource = nullptr;
    outputattacksource = outputreleasesource = highpasssource = nullptr;
    leveloutput = attackoutput = releaseoutput = nullptr;
}

CoreSrce* CoreEnvf::writable(CoreSrce* s) const {
    // The fixed "OFF" and "ON" sources are read by every unbound control; a
    // follower writing there would corrupt the whole bus.
    if (s && catalogue &&
        (s == catalogue->getis(0) || s == catalogue->getis(DataSrce::iCsources - 1)))
        return nullptr;
    return s;
}

void CoreEnvf::writeBipolar(CoreSrce* s, double unipolarvalue) {
    if (!s) return;
    s->setvl(CoreGfun::bipolar(unipolarvalue));
}

void CoreEnvf::setvl(int minattack, int maxattack, CoreAnsx const& attacksource, int minrelease,
                     int maxrelease, CoreAnsx const& releasesource, double balance, short mode,
                     bool busbalanceon, CoreAnsx const& busbalancesource, bool deltaon,
                     CoreAnsx const& deltaattacksource, CoreAnsx const& deltareleasesource,
                     bool timeson, double samplerate, bool outputson,
                     CoreAnsx const& outputattacksource, CoreAnsx const& outputreleasesource,
                     bool highpasson, double highpassfrequency, int highpassorder,
                     CoreAnsx const& highpasssource) {
    active = false;
    this->minattack = minattack;
    this->maxattack = maxattack;
    this->minrelease = minrelease;
    this->maxrelease = maxrelease;
    this->balance = balance;
    pendingbalance = balance;
    if (balance >= 0.0) {
        outputweight = balance * 0.5;
        inputweight = (1.0 - balance) * 0.5;
    } else {
        outputweight = 1.0;
        inputweight = 1.0;
    }

    this->mode = mode;
    double scale = 1.0;
    if (mode == 5 || mode == 6)
        scale = dCtimeconstanttorisetimefactor;
    else if (mode == 7)
        scale = dCvufactor;
    minattackd = minattack * scale;
    maxattackd = maxattack * scale;
    minreleased = minrelease * scale;
    maxreleased = maxrelease * scale;
    if (!(minattackd > 0.0)) minattackd = 1.0;
    if (maxattackd < minattackd) maxattackd = minattackd;
    if (!(minreleased > 0.0)) minreleased = 1.0;
    if (maxreleased < minreleased) maxreleased = minreleased;

    attacktext = attacksource;
    releasetext = releasesource;
    if (hascontrols) {
        attack->setsr(attacksource, minattackd, maxattackd);
        release->setsr(releasesource, minreleased, maxreleased);
        this->samplerate = samplerate;
        timescale = samplerate > 0.0 ? 0.01 / samplerate : 0.0;
        this->highpasson = highpasson;
        this->highpassfrequency = highpassfrequency;
        this->highpassorder = highpassorder;
        highpasstext = highpasssource;
        this->highpasssource =
            (highpasson && catalogue) ? catalogue->getsc(highpasssource) : nullptr;
    }

    prevattack = 0.0;
    prevrelease = 0.0;
    attackcoef = 0.0;
    releasecoef = 0.0;
    envelope = 0.0;
    runningmax = 0.0;
    heldpeak = 0.0;
    holdlength = 1;
    holdcountdown = 1;

    if (mode >= 0 && mode <= 8)
        active = true;
    else
        outputlevel = 0.0;

    count = 0;
    this->busbalanceon = busbalanceon;
    busbalancetext = busbalancesource;
    this->busbalancesource = nullptr;
    if (busbalanceon) {
        this->busbalancesource = catalogue ? writable(catalogue->getsc(busbalancesource)) : nullptr;
        lastmagnitude = 0.0;
    }
    this->deltaon = deltaon;
    deltaattacktext = deltaattacksource;
    deltareleasetext = deltareleasesource;
    this->deltaattacksource =
        (deltaon && catalogue) ? catalogue->getsc(deltaattacksource) : nullptr;
    this->deltareleasesource =
        (deltaon && catalogue) ? catalogue->getsc(deltareleasesource) : nullptr;
    this->timeson = timeson;
    this->outputson = outputson;
    outputattacktext = outputattacksource;
    outputreleasetext = outputreleasesource;
    this->outputattacksource = nullptr;
    this->outputreleasesource = nullptr;
    if (outputson) {
        if (catalogue) {
            this->outputattacksource = catalogue->getsc(outputattacksource);
            this->outputreleasesource = catalogue->getsc(outputreleasesource);
        }
        attacking = true;
        wasattacking = true;
        detector = 0.0;
        prevdetector = 0.0;
    }

    // The first samples of a run are detected before the first updte; with
    // the coefficients and the cut-off still zero they would pass unsmoothed
    // (and blocked by the high-pass), so the result would hang on the length
    // of the first block.
    if (active) {
        refreshCoefficients();
        if (this->highpasson) refreshFilter();
    }
}

void CoreEnvf::setvl() {
    active = false;
    if (hascontrols) {
        attack->setsr(CoreAnsx(""), attack->getbl(), attack->getbl());
        release->setsr(CoreAnsx(""), release->getbl(), release->getbl());
    } else {
        CoreLog_::loger(CoreAnsx("Envelope follower reset without controls: ") + name, 3);
    }
    attacktext = "";
    releasetext = "";
    busbalanceon = false;
    highpasson = false;
    deltaon = false;
    outputson = false;
    timeson = false;
    busbalancetext = offKey;
    deltaattacktext = offKey;
    deltareleasetext = offKey;
    outputattacktext = offKey;
    outputreleasetext = offKey;
    highpasstext = offKey;
    busbalancesource = deltaattacksource = deltareleasesource = nullptr;
    outputattacksource = outputreleasesource = highpasssource = nullptr;
    outputweight = 0.0;
    inputweight = 0.0;
    balance = 0.0;
    pendingbalance = 0.0;
    mode = 9;
    outputlevel = 0.0;
    count = 0;
}

void CoreEnvf::rfrvl() {
    // Copies: setvl assigns these very members.
    CoreAnsx const at = attacktext, rt = releasetext, bb = busbalancetext;
    CoreAnsx const da = deltaattacktext, dr = deltareleasetext;
    CoreAnsx const oa = outputattacktext, orl = outputreleasetext, hp = highpasstext;
    setvl(minattack, maxattack, at, minrelease, maxrelease, rt, pendingbalance, mode, busbalanceon,
          bb, da != offKey && dr != offKey, da, dr, timeson, samplerate, outputson, oa, orl,
          hp != offKey, highpassfrequency, highpassorder, hp);
}

void CoreEnvf::setei(double x) noexcept {
    CoreAudp audio;

    if (!active) return;
    // An infinite sample (NaN already fails the test) would turn the
    // envelope and the high-pass history into NaN for good; it counts as
    // silence like a subnormal one.
    double const m = std::fabs(x);
    buffer[count++] =
        (m > dCdenormalthreshold && m <= std::numeric_limits<double>::max()) ? x : 0.0;
    if (count >= iCbufferdim) prcss();
}

void CoreEnvf::setei(double a, double b, double c, double d) noexcept {
    CoreAudp audio;

    setei((CoreButl::flushSubnormal(a) + CoreButl::flushSubnormal(b)) * inputweight +
          (CoreButl::flushSubnormal(c) + CoreButl::flushSubnormal(d)) * outputweight);
}

void CoreEnvf::prcss() noexcept {
    CoreAudp audio;

    if (count <= 0) return;
    if (highpasson && filter)
        for (int i = 0; i < count; ++i) buffer[i] = filter->prcss(buffer[i]);
    double e = envelope;
    double v = detector;
    // One-pole smoothing of a detector, attack or release by direction.
    auto smooth = [&](auto detect) {
        for (int i = 0; i < count; ++i) {
            v = detect(buffer[i]);
            attacking = v > e;
            e = v + (e - v) * (attacking ? attackcoef : releasecoef);
        }
    };
    switch (mode) {
    case 0:
    case 3:
    case 5:
    case 6:
    case 7: smooth([](double x) { return std::fabs(x); }); break;
    case 1:
    case 4: smooth([](double x) { return x * x; }); break;
    case 2:
        for (int i = 0; i < count; ++i) {
            // "<= 0" so that a hold shorter than one sample still reloads.
            if (--holdcountdown <= 0) {
                holdcountdown = holdlength;
                heldpeak = runningmax;
                runningmax = 0.0;
            }
            double const m = std::fabs(buffer[i]);
            if (m > runningmax) runningmax = m;
            v = heldpeak;
            attacking = v > e;
            e = attacking ? v : v + (e - v) * releasecoef;
        }
        break;
    case 8:
        for (int i = 0; i < count; ++i) e = e + (buffer[i] * buffer[i] - e) * attackcoef;
        break;
    default: break;
    }
    envelope = CoreButl::flushSubnormal(e);
    detector = v;
    if (busbalanceon) lastmagnitude = std::fabs(buffer[count - 1]);
    count = 0;
}

void CoreEnvf::refreshCoefficients() {
    if (deltaon) {
        attackcoef = unipolar(deltaattacksource) + 0.5;
        releasecoef = unipolar(deltareleasesource) + 0.5;
        // The sources span 0.5..1.5, but a one-pole smoother runs off to
        // infinity with a coefficient above 1 and would write that to the
        // bus; at 1 it holds. The running mean of mode 8 is stable up to 2.
        if (mode != 8 && attackcoef > 1.0) attackcoef = 1.0;
        if (releasecoef > 1.0) releasecoef = 1.0;
        return;
    }
    double const a = hascontrols ? attack->getvl() : minattackd;
    if (a != prevattack) {
        prevattack = a;
        if (mode == 2) {
            holdlength = a < 2.0e9 ? static_cast<int>(a) : 2000000000;
        } else if (mode == 8) {
            // A running mean shorter than one sample would overshoot and ring.
            attackcoef = a > 1.0 ? 1.0 / a : 1.0;
        } else {
            attackcoef = smoothing(a);
        }
    }
    double const r = hascontrols ? release->getvl() : minreleased;
    if (r != prevrelease) {
        prevrelease = r;
        releasecoef = smoothing(r);
    }
}

void CoreEnvf::refreshFilter() {
    if (!filter) return;
    filter->setvl(unipolar(highpasssource) * highpassfrequency, 0.0, samplerate, highpassorder);
}

void CoreEnvf::updte() noexcept {
    CoreAudp audio;

    if (active) {
        if (highpasson) refreshFilter();
        prcss();
        if (busbalanceon) writeBipolar(busbalancesource, lastmagnitude);
        refreshCoefficients();
        double level = envelope;
        if (hascontrols && outputson)
            level = unipolar(attacking ? outputattacksource : outputreleasesource) * prevdetector;
        if (mode == 1 || mode == 4 || mode == 8) level = envelope > 0.0 ? std::sqrt(envelope) : 0.0;
        switch (mode) {
        case 3: level *= dCformafactor; break;
        case 4:
        case 6:
        case 8: level *= dC3dbfix; break;
        case 7: level *= vutrim * dCvu3dbfix; break;
        default: break;
        }
        outputlevel = CoreButl::flushSubnormal(level);
    }
    if (!hascontrols) return;
    if (outputlevel > 1.0) outputlevel = 1.0;
    writeBipolar(leveloutput, outputlevel);
    if (timeson) {
        double q = detector != 0.0 ? envelope / detector : 0.0;
        // A detector value at the bottom of the double range (a high-passed
        // tail fading out) overflows the quotient; the largest finite one
        // keeps the estimates finite.
        double const largest = std::numeric_limits<double>::max();
        q = q > largest ? largest : q < -largest ? -largest : q;
        double const u = CoreButl::flushSubnormal(1.0 - q);
        writeBipolar(attackoutput, eaerc(u, attackcoef, timescale));
        writeBipolar(releaseoutput, eaerc(q, releasecoef, timescale));
    }
    // Kept whenever there are controls: the output-source scaling reads the
    // previous detector value even when no times are written.
    wasattacking = attacking;
    prevdetector = detector;
}

double CoreEnvf::eaerc(double x, double c, double s) {
    x = CoreButl::flushSubnormal(x);
    c = CoreButl::flushSubnormal(c);
    if (!(x > 0.0) || !(c > 0.0)) return 0.0;
    double const lc = std::log(c);
    if (lc == 0.0) return 0.0;
    return s * std::log(x) / lc;
}

double CoreEnvf::getou() const { return outputlevel; }

double CoreEnvf::getbl() const { return CoreGfun::bipolar(outputlevel); }

double CoreEnvf::getdb() const { return CoreButl::lindb(outputlevel); }

void CoreEnvf::setex(short m) { mode = m; }
short CoreEnvf::getex() const { return mode; }
void CoreEnvf::setma(int samples) { minattack = samples; }
int CoreEnvf::getma() const { return minattack; }
void CoreEnvf::setxa(int samples) { maxattack = samples; }
int CoreEnvf::getxa() const { return maxattack; }
void CoreEnvf::setmr(int samples) { minrelease = samples; }
int CoreEnvf::getmr() const { return minrelease; }
void CoreEnvf::setxr(int samples) { maxrelease = samples; }
int CoreEnvf::getxr() const { return maxrelease; }
void CoreEnvf::setda(CoreAnsx const& key) { deltaattacktext = key; }
void CoreEnvf::setdr(CoreAnsx const& key) { deltareleasetext = key; }
void CoreEnvf::setas(CoreAnsx const& key) { attacktext = key; }
void CoreEnvf::setrs(CoreAnsx const& key) { releasetext = key; }
void CoreEnvf::sethp(CoreAnsx const& key) { highpasstext = key; }
void CoreEnvf::sethf(double hz) { highpassfrequency = hz; }
double CoreEnvf::gethf() const { return highpassfrequency; }
void CoreEnvf::setho(int order) { highpassorder = order; }
int CoreEnvf::getho() const { return highpassorder; }
void CoreEnvf::setob(double b) { pendingbalance = b; }
double CoreEnvf::getba() const { return balance; }
CoreParm* CoreEnvf::getat() const { return attack; }
CoreParm* CoreEnvf::getrl() const { return release; }
CoreAnsx CoreEnvf::getbb() const { return busbalancetext; }
CoreAnsx CoreEnvf::getda() const { return deltaattacktext; }
CoreAnsx CoreEnvf::getdr() const { return deltareleasetext; }
CoreAnsx CoreEnvf::getoa() const { return outputattacktext; }
CoreAnsx CoreEnvf::getor() const { return outputreleasetext; }
CoreAnsx CoreEnvf::gethp() const { return highpasstext; }
bool CoreEnvf::isact() const { return active; }
bool CoreEnvf::bbsrc() const { return busbalanceon; }
bool CoreEnvf::dsrc_() const { return deltaon; }
bool CoreEnvf::osrc_() const { return outputson; }
bool CoreEnvf::hpsrc() const { return highpasson; }
bool CoreEnvf::enabt() const { return timeson; }
