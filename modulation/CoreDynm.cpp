#include "modulation/CoreDynm.h"

#include <cmath>

#include "modulation/CoreGfun.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

namespace {
char const* const controlNames[3] = {"Threshold Control", "Input Control", "Ratio Control"};

// Ratios closer to 0 than this are inverted as if they were this far out.
constexpr double smallestInvertedRatio = 1e-12;

// Level in dB of a bipolar control value taken as unipolar 0..1.
double controlDb(double bipolar) {
    double const u = CoreGfun::unipolar(bipolar);
    if (!(u > 0.0)) return CoreButl::dCdbmin;
    double const db = 20.0 * std::log10(u);
    return db > CoreButl::dCdbmin ? db : CoreButl::dCdbmin;
}
} // namespace

CoreDynm::CoreDynm(CoreAnsx const& name, DataSrce* catalogue, CoreSrce* output)
    : name(name), pendingtexts{CoreAnsx(""), CoreAnsx(""), CoreAnsx("")}, rangelimit(0.0),
      lastgain(0.0), gainpad(0.0), reciprocallimit(0.0), pendingrangelimit(0.0),
      pendinggainpad(0.0), curve(-1), pendingmode(0), pendingcurve(0), active(false),
      compress(true), curveenabled(false), controls{nullptr, nullptr, nullptr},
      outputsource(output) {
    try {
        for (int i = 0; i < 3; ++i)
            controls[i] = new CoreParm(CoreAnsx(controlNames[i]), CoreAnsx(controlNames[i]),
                                       CoreAnsx(""), -1.0, 1.0, catalogue);
    } catch (...) {
        for (CoreParm* c : controls) delete c;
        throw CoreAnsx("Memory request failed for dynamics ") + name;
    }
}

CoreDynm::~CoreDynm() {
    for (CoreParm*& c : controls) {
        delete c;
        c = nullptr;
    }
    outputsource = nullptr;
}

void CoreDynm::setvl() {
    active = false;
    lastgain = 0.0;
    rangelimit = gainpad = reciprocallimit = 0.0;
    pendingrangelimit = pendinggainpad = 0.0;
    curveenabled = false;
    compress = true;
    curve = -1;
    pendingmode = 0;
    pendingcurve = 0;
    for (int i = 0; i < 3; ++i) {
        pendingtexts[i] = "";
        controls[i]->setsr(CoreAnsx(""), -1.0, 1.0);
    }
}

void CoreDynm::setvl(short mode, CoreAnsx const& threshold, CoreAnsx const& input,
                     CoreAnsx const& ratio, short ratiocurve, double limit, double pad) {
    bool const enabled = ratiocurve > 0;
    setvl(threshold, input, mode == 0, ratio, enabled,
          enabled ? static_cast<short>(ratiocurve - 1) : -1, limit, pad);
}

void CoreDynm::setvl(CoreAnsx const& threshold, CoreAnsx const& input, bool compressor,
                     CoreAnsx const& ratio, bool enabled, short c, double limit, double pad) {
    CoreAnsx const keys[3] = {threshold, input, ratio}; // copies: rfrvl passes the pending texts
    for (int i = 0; i < 3; ++i) {
        controls[i]->setsr(keys[i], -1.0, 1.0);
        pendingtexts[i] = keys[i];
    }
    compress = compressor;
    curveenabled = enabled;
    rangelimit = limit;
    reciprocallimit = limit > 0.0 ? 1.0 / limit : 0.0;
    gainpad = pad;
    curve = c < iCmaxratiocurve + 1 ? c : iCmaxratiocurve;
    lastgain = 0.0;
    active = controls[1]->actve();
    // The pending copy mirrors what is now in force, so a later single edit
    // followed by rfrvl keeps every other setting.
    pendingmode = compress ? 0 : 1;
    pendingcurve = getrc();
    pendingrangelimit = rangelimit;
    pendinggainpad = gainpad;
}

void CoreDynm::rfrvl() {
    setvl(pendingmode, pendingtexts[0], pendingtexts[1], pendingtexts[2], pendingcurve,
          pendingrangelimit, pendinggainpad);
}

void CoreDynm::updte() noexcept {
    CoreAudp audio;

    if (active) {
        double const T = controlDb(controls[0]->getvl());
        double const I = controlDb(controls[1]->getvl());
        double const over = I - T;
        if (!(over > 0.0)) {
            lastgain = 1.0;
        } else {
            double r = controls[2]->getvl();
            double const d = rangelimit < over ? rangelimit : over;
            if (curveenabled) {
                double const x = CoreButl::flushSubnormal(1.0 - d * reciprocallimit);
                double const p = curve >= 2 ? CoreButl::flushSubnormal(std::pow(x, curve)) : x;
                r = CoreButl::flushSubnormal((1.0 - r) * p + r);
            }
            if (!compress) {
                // A ratio control at mid-scale reads 0: inverting it would
                // give an infinite gain, or NaN with no span left.
                if (std::fabs(r) < smallestInvertedRatio)
                    r = r < 0.0 ? -smallestInvertedRatio : smallestInvertedRatio;
                r = 1.0 / r;
            }
            double db = CoreButl::flushSubnormal((r - 1.0) * d + gainpad);
            if (db > dCgainceiling) db = dCgainceiling;
            lastgain = std::pow(10.0, db / 20.0);
        }
    }
    if (outputsource) outputsource->setvl(CoreGfun::bipolar(lastgain));
}

CoreAnsx CoreDynm::getbs(int i) const {
    if (i >= 0 && i < 3) return controls[i]->getsc();
    return CoreAnsx("");
}

void CoreDynm::setbs(int i, CoreAnsx const& key) {
    if (i >= 0 && i < 3)
        pendingtexts[i] = key;
    else
        CoreLog_::loger(CoreAnsx("Dynamics control index out of range: ") + CoreAnsx(i), 1);
}

short CoreDynm::getst() const { return compress ? 0 : 1; }
void CoreDynm::setst(short mode) { pendingmode = mode; }
short CoreDynm::getrc() const { return curveenabled ? static_cast<short>(curve + 1) : 0; }
void CoreDynm::setrc(short ratiocurve) { pendingcurve = ratiocurve; }

double CoreDynm::getbd(int i) const {
    if (i == 3) return rangelimit;
    if (i == 4) return gainpad;
    return 0.0;
}

void CoreDynm::setbd(int i, double value) {
    if (i == 3)
        pendingrangelimit = value;
    else if (i == 4)
        pendinggainpad = value;
}
