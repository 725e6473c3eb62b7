#include "modulation/CoreLfo_.h"

#include <cmath>
#include <new>

#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

namespace {
// Rate over 24 Hz as written to the rate source; documents and displays were
// made with this rounded factor, not the exact double of 1/24.
constexpr double rateFraction = 0.041666666666;
} // namespace

CoreLfo_::CoreLfo_(CoreAnsx const& name, DataGfun* functions, DataSrce* sources,
                   CoreSrce* lfosource, CoreSrce* ratesource)
    : maxrate(0.0), minrate(0.0), phase(0.0), phasedepth(0.0), prevoffset(0.0), running(0.0),
      quantisation(0.0), name(name), wavekey(""), ratekey(""), phasekey(""),
      quantised(false), state{0.0, 0.0}, catalogue(functions), waveform(nullptr),
      lfosource(lfosource), ratesource(ratesource) {
    try {
        rateparm = std::make_unique<CoreParm>(name + CoreAnsx(" Rate"), name + CoreAnsx(" Rate"),
                                              CoreAnsx("Hz"), 0.0, 24.0, sources);
        phaseparm = std::make_unique<CoreParm>(name + CoreAnsx(" Phase"), name + CoreAnsx(" Phase"),
                                               CoreAnsx(""), -1.0, 1.0, sources);
    } catch (std::bad_alloc const&) {
        throw CoreAnsx("Memory request failed for the parameters of ") + name;
    }
}

CoreLfo_::~CoreLfo_() {
    waveform = nullptr;
    catalogue = nullptr;
    lfosource = nullptr;
    ratesource = nullptr;
}

void CoreLfo_::setvl(double minrate, double maxrate, double quant, CoreAnsx const& ratekey,
                     CoreAnsx const& wavekey, double phasedeg, CoreAnsx const& phasekey) {
    this->minrate = minrate;
    this->maxrate = maxrate;
    quantisation = quant;
    this->ratekey = ratekey;
    this->wavekey = wavekey;
    phase = phasedeg;
    this->phasekey = phasekey;
    start();
}

void CoreLfo_::setmn(double minrate) {
    this->minrate = minrate;
    if (minrate > maxrate) maxrate = minrate;
    start();
}

void CoreLfo_::setmx(double maxrate) {
    this->maxrate = maxrate;
    if (minrate > maxrate) minrate = maxrate;
    start();
}

void CoreLfo_::setqt(double quant) {
    quantisation = quant;
    start();
}

void CoreLfo_::setrt(CoreAnsx const& ratekey) {
    this->ratekey = ratekey;
    start();
}

void CoreLfo_::setsh(CoreAnsx const& wavekey) {
    this->wavekey = wavekey;
    start();
}

void CoreLfo_::setph(double phasedeg) {
    phase = phasedeg;
    start();
}

void CoreLfo_::setps(CoreAnsx const& phasekey) {
    this->phasekey = phasekey;
    start();
}

void CoreLfo_::rfrvl() {
    // Copies: setvl assigns its arguments to the very members they name.
    CoreAnsx const rate = ratekey;
    CoreAnsx const wave = wavekey;
    CoreAnsx const phasesource = phasekey;
    setvl(minrate, maxrate, quantisation, rate, wave, phase, phasesource);
}

CoreParm* CoreLfo_::getrt() const { return rateparm.get(); }

double CoreLfo_::getqt() const { return quantised ? quantisation : 0.0; }

double CoreLfo_::getph() const { return phase; }

CoreAnsx CoreLfo_::getrc() const { return ratekey; }

CoreAnsx CoreLfo_::getsh() const { return wavekey; }

CoreAnsx CoreLfo_::getps() const { return phasekey; }

void CoreLfo_::start() {
    rateparm->setsr(ratekey, minrate, maxrate);
    quantised = quantisation > 0.0;
    phasedepth = CoreButl::flushSubnormal(phase / 180.0);
    if (!std::isfinite(phasedepth))
        phasedepth = 0.0; // an infinite phase would leave the waveform no position
    prevoffset = phasedepth;
    running = phasedepth;
    phaseparm->setsr(phasekey, 0.0, 1.0);
    if (catalogue)
        waveform = catalogue->getgf(0, wavekey);
    else
        CoreLog_::loger(CoreAnsx("LFO without function catalogue: ") + name, 0);
}

void CoreLfo_::updte(double dt, double bpm) noexcept {
    CoreAudp audio;

    if (!waveform) return; // not configured: nothing to play
    double r = rateparm->getvl();
    if (quantised) {
        // A tempo of 0 or an unknown tempo has no grid to snap to: the rate
        // then runs unsnapped instead of becoming a division by zero.
        double const k = quantisation * bpm / 60.0;
        if (k > 0.0 && std::isfinite(k)) {
            double const snapped = std::floor(r * k) / k;
            if (std::isfinite(snapped)) r = snapped;
        }
    }
    if (phaseparm->actve()) {
        double const offset = phasedepth * phaseparm->getvl();
        if (std::isfinite(offset)) {
            running = running - prevoffset + offset;
            prevoffset = offset;
        }
    }
    if (!std::isfinite(r))
        r = 0.0; // a rate constant that is no number must not stall the bus on NaN
    r = CoreButl::flushSubnormal(r);
    double const advance = 2.0 * dt * r;
    if (std::isfinite(advance)) running = CoreButl::flushSubnormal(running + advance);
    double const v = waveform->xtfun(running, 0.0, &state);
    state.value = v;
    state.phase = CoreGfun::fold(running);
    if (lfosource) lfosource->setvl(v);
    if (ratesource) ratesource->setvl(CoreGfun::bipolar(r * rateFraction));
}
