#include "modulation/CoreEnv_.h"

#include <cmath>

#include "modulation/CoreGfun.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

namespace {
char const* const controlNames[4] = {"Activ Control", "Deactiv Control", "Level Control",
                                     "Source Control"};

// Stage length from a time and a factor; saturates instead of wrapping.
int scaledTime(double samples) {
    if (!(samples > -2.0e9)) return samples != samples ? 0 : -2000000000;
    if (samples > 2.0e9) return 2000000000;
    return static_cast<int>(samples);
}

// start + length in samples, saturating instead of overflowing.
int sampleSum(int start, int length) {
    long long const sum = static_cast<long long>(start) + length;
    if (sum > 2147483647LL) return 2147483647;
    if (sum < -2147483647LL) return -2147483647;
    return static_cast<int>(sum);
}

// Counts beyond this are moved back while the sustain holds.
constexpr int rebaseAbove = 1 << 30;
} // namespace

CoreEnv_::CoreEnv_(CoreAnsx const& name, DataSrce* catalogue, CoreSrce* output)
    : name(name), pendingactivation(""), pendingdeactivation(""), pendinglevelsource(""),
      pendingtimesource(""), elapsed(0), stage(5), curve(0), stagestart(0),
      stageend(0), times{0, 0, 0, 0}, pendingtimes{0, 0, 0, 0}, curves{0, 0, 0, 0},
      pendingcurves{0, 0, 0, 0}, levelfactor(0.0), pendinglevelfactor(0.0), timefactor(0.0),
      output(0.0), pendingtimefactor(0.0), activationwashigh(false), deactivationwashigh(false),
      running(false),
      released(false), levels{0.0, 0.0, 0.0, 0.0}, pendinglevels{0.0, 0.0, 0.0, 0.0},
      startlevel(0.0), destination(0.0),
      active(false), controls{nullptr, nullptr, nullptr, nullptr}, outputsource(output) {
    try {
        for (int i = 0; i < 4; ++i)
            controls[i] = new CoreParm(CoreAnsx(controlNames[i]), CoreAnsx(controlNames[i]),
                                       CoreAnsx(""), -1.0, 1.0, catalogue);
    } catch (...) {
        for (CoreParm* c : controls) delete c;
        throw CoreAnsx("Memory request failed for envelope ") + name;
    }
}

CoreEnv_::~CoreEnv_() {
    for (CoreParm*& c : controls) {
        delete c;
        c = nullptr;
    }
    outputsource = nullptr;
}

void CoreEnv_::setvl() {
    active = false;
    output = 0.0;
    levelfactor = pendinglevelfactor = 0.0;
    timefactor = pendingtimefactor = 0.0;
    for (int i = 0; i < 4; ++i) {
        levels[i] = pendinglevels[i] = 0.0;
        times[i] = pendingtimes[i] = 0;
        curves[i] = pendingcurves[i] = 0;
    }
    pendingactivation = pendingdeactivation = pendinglevelsource = pendingtimesource = "";
    controls[0]->setsr(CoreAnsx(""), -1.0, 1.0);
    controls[1]->setsr(CoreAnsx(""), -1.0, 1.0);
    controls[2]->setsr(CoreAnsx(""), 0.0, 1.0);
    controls[3]->setsr(CoreAnsx(""), 0.0, 1.0);
    running = released = activationwashigh = deactivationwashigh = false;
    elapsed = 0;
    stage = 5;
}

bool CoreEnv_::setvl(CoreAnsx const& activation, CoreAnsx const& deactivation, double const lv[4],
                     int const tm[4], short const cv[4], double lf, CoreAnsx const& levelsource,
                     double tf, CoreAnsx const& timesource) {
    static double const zeroLevels[4] = {0.0, 0.0, 0.0, 0.0};
    static int const zeroTimes[4] = {0, 0, 0, 0};
    static short const zeroCurves[4] = {0, 0, 0, 0};
    if (!lv || !tm || !cv)
        CoreLog_::loger(CoreAnsx("Envelope tables missing, taken as 0: ") + name, 1);
    double const* l = lv ? lv : zeroLevels;
    int const* t = tm ? tm : zeroTimes;
    short const* c = cv ? cv : zeroCurves;
    // Copy the tables first: rfrvl hands in the pending arrays themselves.
    for (int i = 0; i < 4; ++i) {
        levels[i] = l[i];
        times[i] = t[i];
        curves[i] = c[i];
    }
    for (int i = 0; i < 4; ++i) {
        pendinglevels[i] = levels[i];
        pendingtimes[i] = times[i];
        pendingcurves[i] = curves[i];
    }
    levelfactor = pendinglevelfactor = lf;
    timefactor = pendingtimefactor = tf;
    CoreAnsx const a = activation, d = deactivation, ls = levelsource, ts = timesource;
    pendingactivation = a;
    pendingdeactivation = d;
    pendinglevelsource = ls;
    pendingtimesource = ts;
    controls[0]->setsr(a, -1.0, 1.0);
    controls[1]->setsr(d, -1.0, 1.0);
    controls[2]->setsr(ls, 0.0, 1.0);
    controls[3]->setsr(ts, 0.0, 1.0);
    output = 0.0;
    elapsed = 0;
    stage = 5;
    running = released = activationwashigh = deactivationwashigh = false;
    active = controls[0]->actve();
    return active;
}

bool CoreEnv_::rfrvl() {
    return setvl(pendingactivation, pendingdeactivation, pendinglevels, pendingtimes, pendingcurves,
                 pendinglevelfactor, pendinglevelsource, pendingtimefactor, pendingtimesource);
}

void CoreEnv_::updte(double samples) noexcept {
    CoreAudp audio;

    if (active) {
        bool const a = controls[0]->getvl() >= 0.0;
        bool const d = controls[1]->getvl() >= 0.0;
        if (d && !deactivationwashigh) released = true;
        if (running) {
            elapsed = sampleSum(elapsed, scaledTime(samples));
            if (stage == 3 && !released) {
                stageend = elapsed; // the sustain holds
                // Only differences of the three counts matter, and in the
                // hold the ramp fraction is 0 either way: move them back so
                // a sustain held for hours leaves room for the release.
                if (elapsed > rebaseAbove) elapsed = stagestart = stageend = 0;
            } else if (elapsed > stageend || stage == 3) {
                ++stage;
                if (stage >= 5) {
                    output = 0.0;
                    running = false;
                } else {
                    double const lf = levelfactor * controls[2]->getvl();
                    double const tf = timefactor * controls[3]->getvl();
                    startlevel = destination;
                    stagestart = stageend;
                    if (stage == 1 || stage == 2) {
                        curve = curves[stage];
                        stageend = sampleSum(stagestart, scaledTime(times[stage] * tf));
                        destination = lf * levels[stage + 1];
                    } else if (stage == 3) {
                        stageend = elapsed;
                    } else {
                        curve = curves[3];
                        stageend = sampleSum(stagestart, scaledTime(times[3] * tf));
                        destination = 0.0;
                    }
                }
            }
            if (running) {
                double r = 0.0;
                if (stageend != stagestart)
                    r = (static_cast<double>(stageend) - elapsed) /
                        (static_cast<double>(stageend) - stagestart);
                // A stage shorter than the block has already ended: without
                // the clamp the ramp would run far past its destination.
                if (!(r > 0.0))
                    r = 0.0;
                else if (r > 1.0)
                    r = 1.0;
                if (curve >= 2) r = std::pow(r, curve);
                output = CoreButl::flushSubnormal(destination - (destination - startlevel) * r);
            }
        }
        if (a && !activationwashigh) {
            running = true;
            released = false;
            elapsed = 0;
            stage = 0;
            if (levels[0] > 0.0) {
                startlevel = levels[0];
                output = levels[0];
            } else {
                startlevel = output;
            }
            stagestart = 0;
            stageend = scaledTime(timefactor * controls[3]->getvl() * times[0]);
            curve = curves[0];
            destination = levelfactor * controls[2]->getvl() * levels[1];
        }
        activationwashigh = a;
        deactivationwashigh = d;
    }
    if (outputsource) outputsource->setvl(CoreGfun::bipolar(std::fabs(output)));
}

CoreParm* CoreEnv_::getpr(int i) const { return (i >= 0 && i < 4) ? controls[i] : nullptr; }
int const* CoreEnv_::gettm() const { return times; }
short const* CoreEnv_::getcv() const { return curves; }
double const* CoreEnv_::getlv() const { return levels; }
double CoreEnv_::getlf() const { return levelfactor; }
double CoreEnv_::gettf() const { return timefactor; }
void CoreEnv_::setlf(double f) { pendinglevelfactor = f; }
void CoreEnv_::settf(double f) { pendingtimefactor = f; }
void CoreEnv_::setas(CoreAnsx const& key) { pendingactivation = key; }
void CoreEnv_::setds(CoreAnsx const& key) { pendingdeactivation = key; }
void CoreEnv_::setls(CoreAnsx const& key) { pendinglevelsource = key; }
void CoreEnv_::setts(CoreAnsx const& key) { pendingtimesource = key; }

void CoreEnv_::settm(int index, int samples) {
    if (index >= 0 && index < 4)
        pendingtimes[index] = samples;
    else
        CoreLog_::loger(CoreAnsx("Envelope time index out of range: ") + CoreAnsx(index), 1);
}

void CoreEnv_::setcv(int index, short c) {
    if (index >= 0 && index < 4)
        pendingcurves[index] = c;
    else
        CoreLog_::loger(CoreAnsx("Envelope curve index out of range: ") + CoreAnsx(index), 1);
}

void CoreEnv_::setlv(int index, double level) {
    if (index >= 0 && index < 4)
        pendinglevels[index] = level;
    else
        CoreLog_::loger(CoreAnsx("Envelope level index out of range: ") + CoreAnsx(index), 1);
}
