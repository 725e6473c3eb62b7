// CorePrcs block worker: per step the feedback, the modulation update at the
// program rate, the harmonic convolution case and the output stage (gains,
// dry path, overflow and protection, the followers); and the small entries
// around it: MIDI learn, control input, the GUI-rate program update, the
// host's suspend and the meter type.
//
// Everything from prcss() down runs on the audio path (the host's thread or
// the engine worker) with the engine and worker semaphores held: nothing
// allocates, logs or waits there except the designed leaf locks (smoothing
// tables, ring position; waited for in pauses of at most 0.1 ms) and the
// flags' own.
#include "processing/CorePrcs.h"

#include <cmath>
#include <cstring>

#include "engine/CoreCnvl.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreIfce.h"
#include "modulation/CorePrm_.h"
#include "program/CoreProg.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreXutl.h"

namespace {

// Bus sources that carry metering followers 0 to 5.
constexpr int kMeterSources[CorePrcs::iCmeters] = {48, 49, 50, 51, 64, 65};

inline double const* kernelOf(CorePrcs::CNVLLOC const& slot, int c) noexcept {
    return static_cast<double const*>(slot.kernels[c]);
}

} // namespace

void CorePrcs::prcss() {
    CoreAudp audio;
    meters[0].setmp(true, 0);
    int const frames = record.frames;
    int const start = record.position;
    if (record.rebuild) {
        // A switch of the program rate restarts the modulation; the tables
        // were sized for both rates when they were set, so nothing allocates.
        {
            CoreSmgd guard(smoothsem, CoreSmgd::BRIEF{});
            if (smoothorder >= 0 && record.period + 1L <= tablecapacity) mkesf(record.period);
            countdown = 0;
            crossfadepos = 0;
        }
        ratechange.store(false);
        record.rebuild = false;
    }
    int const st = step;
    bool mute = false; // lasts the rest of this call once an output blew up
    if (st < 1) {
        for (int c = 0; c < iCchannels; ++c)
            for (int i = 0; i < frames; ++i) outring[c][(start + i) & ringwrap] = 0.0;
    } else {
        int p = start;
        for (int done = 0; done < frames; done += st) {
            if (feedback && !feedbacksuspended) {
                // The output of the previous step re-enters here, one step late.
                for (int i = 0; i < st; ++i) {
                    int const q = (p + i) & ringwrap;
                    inring[0][q] -= feedbackbuf[0][i] * feedbackgain;
                    inring[1][q] -= feedbackbuf[1][i] * feedbackgain;
                }
            }
            while (countdown <= 0) modulate();
            if (p + st > ringsize) {
                // Ring positions are kept on multiples of the step; a step
                // over the ring's end could only follow a bug: silence.
                ++straddles;
                for (int c = 0; c < iCchannels; ++c)
                    for (int i = 0; i < st; ++i) outring[c][(p + i) & ringwrap] = 0.0;
            } else {
                convolve(p);
            }
            mute = outputStage(p, mute);
            p = (p + st) & ringwrap;
            countdown -= st;
        }
    }
    record.position = (start + frames) & ringwrap;
    {
        CoreSmgd guard(ringsem, CoreSmgd::BRIEF{});
        producedend = (producedend + frames) & ringwrap;
    }
    if (midi != nullptr) mdupd(midi->updte(-1));
    newlevels.store(true);
    meters[0].setmp(false, frames);
    meters[1].setms(frames);
}

void CorePrcs::modulate() noexcept {
    int const period = record.period >= 1 ? record.period : 1;
    countdown += period;
    if (smoothorder >= 0) {
        CoreSmgd guard(smoothsem, CoreSmgd::BRIEF{});
        smoothselector = smoothselector != 0 ? 0 : 1;
        setsp(smoothselector);
        crossfadepos = countdown;
    }
    if (midi != nullptr) mdupd(midi->updte(period));
    program->updte(true, static_cast<double>(period), lastoutput, tempo.load());
    updated.store(true);
    if (feedback) feedbackgain = program->getrf();
    if (dry) drygain = program->getry();
    if (programahead > 0.0) aheadoffset = aheadSamples();
    // The level sources carry the level up to this update, not the one the
    // display's meter pass last closed.
    for (int k = 0; k < iCmeters; ++k) {
        meterfollowers[k]->updte();
        program->upsrc(kMeterSources[k], meterfollowers[k]->getbl());
    }
    feedbacksuspended = false;
}

int CorePrcs::aheadSamples() const noexcept {
    // Truncated; a control outside its range stays inside the ring.
    double const v = program->getaf() * programahead;
    return v >= 1.0 && v < static_cast<double>(ringsize) ? static_cast<int>(v)
           : v >= static_cast<double>(ringsize)          ? ringwrap
                                                         : 0;
}

void CorePrcs::convolve(int p) noexcept {
    int const st = step;
    double const* inL = inring[0] + p;
    double const* inR = inring[1] + p;
    double* outL = outring[0] + p;
    double* outR = outring[1] + p;
    CoreTime* ma = &meters[0];
    CoreTime* mb = &meters[1];
    int const h = CoreButl::min__(static_cast<int>(harmonicsinuse), static_cast<int>(hdimmax));
    bool const smoothing = smoothorder >= 0 && !hybrid;
    bool const work = hybrid || smoothing;
    // A slot without kernels (nothing bound) would send its player to null.
    bool ready = h >= 1;
    for (int s = 0; ready && s < h; ++s)
        ready = cnvls[s].kernels[0] != nullptr && cnvls[s].kernels[1] != nullptr;
    if (ready && work)
        ready = cnvls[hdimmax].kernels[0] != nullptr && cnvls[hdimmax].kernels[1] != nullptr;
    double const* fade0 = nullptr;
    double const* fadew = nullptr;
    if (ready && smoothing) {
        CoreSmgd guard(smoothsem, CoreSmgd::BRIEF{});
        fade0 = slot0table;
        fadew = worktable;
        ready = fade0 != nullptr && fadew != nullptr;
    }
    // Single-block calls run once per engine block; a block that does not
    // divide the step (no plan of this configuration gives one) is silence.
    CoreCnvl* first = cnvls[0].cnvl;
    int const b = first->getcb();
    bool const whole = b >= 1 && b <= st && st % b == 0;
    if (ready && h == 1 && !hybrid)
        ready = whole && (!smoothing || cnvls[hdimmax].cnvl->getcb() == b);
    if (!ready) {
        std::memset(outL, 0, sizeof(double) * static_cast<std::size_t>(st));
        std::memset(outR, 0, sizeof(double) * static_cast<std::size_t>(st));
        return;
    }
    double* pwL = powerbuf[0];
    double* pwR = powerbuf[1];
    double* wkL = workbuf[0];
    double* wkR = workbuf[1];
    if (!hybrid && !smoothing) {
        if (h == 1) {
            for (int k = 0; k < st; k += b)
                first->cnvlc(inL + k, inR + k, outL + k, outR + k, kernelOf(cnvls[0], 0),
                             kernelOf(cnvls[0], 1), ma, mb);
        } else {
            for (int s = 0; s < h; ++s)
                cnvls[s].cnvl->vltrr(s == 0, inL, inR, outL, outR, kernelOf(cnvls[s], 0),
                                     kernelOf(cnvls[s], 1), pwL, pwR, wkL, wkR, st, ma, mb);
        }
        if (smoothPath()) feedWork(inL, inR);
        return;
    }
    CNVLLOC& w = cnvls[hdimmax];
    if (hybrid) {
        for (int s = 0; s < h; ++s)
            cnvls[s].cnvl->vltry(false, s == 0, inL, inR, outL, outR, kernelOf(cnvls[s], 0),
                                 kernelOf(cnvls[s], 1), pwL, pwR, wkL, wkR, st, ma, mb);
        w.cnvl->vltry(true, false, inL, inR, outL, outR, kernelOf(w, 0), kernelOf(w, 1), pwL, pwR,
                      wkL, wkR, st, ma, mb);
        return;
    }
    long position = crossfadepos;
    if (h != 1) {
        first->cnvsy(true, inL, inR, outL, outR, kernelOf(cnvls[0], 0), kernelOf(cnvls[0], 1), pwL,
                     pwR, wkL, wkR, fade0, position, st, ma, mb);
        w.cnvl->cnvsy(false, inL, inR, outL, outR, kernelOf(w, 0), kernelOf(w, 1), pwL, pwR, wkL,
                      wkR, fadew, position, st, ma, mb);
        for (int s = 1; s < h; ++s)
            cnvls[s].cnvl->vltry(false, false, inL, inR, outL, outR, kernelOf(cnvls[s], 0),
                                 kernelOf(cnvls[s], 1), pwL, pwR, wkL, wkR, st, ma, mb);
    } else {
        for (int k = 0; k < st; k += b) {
            first->cnvsc(true, inL + k, inR + k, outL + k, outR + k, kernelOf(cnvls[0], 0),
                         kernelOf(cnvls[0], 1), wkL, wkR, fade0, position, ma, mb);
            w.cnvl->cnvsc(false, inL + k, inR + k, outL + k, outR + k, kernelOf(w, 0),
                          kernelOf(w, 1), wkL, wkR, fadew, position, ma, mb);
        }
    }
    crossfadepos = static_cast<int>(position);
}

void CorePrcs::feedWork(double const* inL, double const* inR) noexcept {
    // With smoothing off the work slot's output is dropped, but it keeps
    // hearing the input: when smoothing comes back its kernel set fades in
    // from current history, not from the input of when it was switched off.
    CNVLLOC& w = cnvls[hdimmax];
    int const b = w.cnvl->getcb();
    if (w.kernels[0] == nullptr || w.kernels[1] == nullptr || b < 1 || step % b != 0) return;
    for (int k = 0; k < step; k += b)
        w.cnvl->cnvlc(inL + k, inR + k, workbuf[0] + k, workbuf[1] + k, kernelOf(w, 0),
                      kernelOf(w, 1), &meters[0], &meters[1]);
}

bool CorePrcs::outputStage(int p, bool mute) noexcept {
    double const scale = record.scale;
    int const delay = record.drydelay;
    bool const sides = fourinput && sidering[0] != nullptr && sidering[1] != nullptr;
    bool over = false;
    for (int i = 0; i < step; ++i) {
        int const q = (p + i) & ringwrap;
        double const a = outring[0][q] * scale;
        double const b = outring[1][q] * scale;
        meterfollowers[5]->setei(a * 0.5 + b * 0.5);
        // The input frame this output frame carries (its sync point and
        // its dry sample) brought the Gain out it plays at.
        int const d = (q - delay) & ringwrap;
        double const gain = gainring[d];
        double l = a;
        double r = b;
        if (dry) {
            l += inring[0][d] * drygain;
            r += inring[1][d] * drygain;
        }
        l *= gain;
        r *= gain;
        // The indicator is one-sided; the protection takes the magnitude,
        // and a sample that is no number, so a blow-up of either sign mutes.
        if (l > 1.0 || r > 1.0) over = true;
        if (!(std::fabs(l) < protectionlimit) || !(std::fabs(r) < protectionlimit)) mute = true;
        if (mute) {
            l = 0.0;
            r = 0.0;
        }
        outring[0][q] = l;
        outring[1][q] = r;
        feedbackbuf[0][i] = l;
        feedbackbuf[1][i] = r;
        int const ahead = (q + aheadoffset) & ringwrap;
        program->setef(inring[0][ahead], inring[1][ahead], a, b);
        if (sides) program->setes(sidering[0][ahead], sidering[1][ahead]);
        double const inl = inring[0][q];
        double const inr = inring[1][q];
        meterfollowers[0]->setei(inl);
        meterfollowers[1]->setei(inr);
        meterfollowers[2]->setei(l);
        meterfollowers[3]->setei(r);
        meterfollowers[4]->setei((inl + inr) * 0.5);
        lastoutput = l;
    }
    if (over) {
        // Once per step: the indicator's lock and the clock are not per sample.
        feedbacksuspended = true;
        overflow.setvl(true);
        overflowtime.store(CoreXutl::ttime());
    }
    return mute;
}

// ---- MIDI learn and control input ---------------------------------------------------------

void CorePrcs::mdupd(CoreMidi::MIDISLIDERCALLBACKINFO* info) {
    if (info == nullptr) return;
    bool any = false;
    for (int i = 0; i < CoreMidi::iCslots; ++i) any = any || info[i].changed;
    if (!any || bootpending.getvl()) return;
    for (int i = 0; i < CoreMidi::iCslots; ++i)
        if (info[i].changed) setiv(static_cast<short>(i), static_cast<double>(info[i].value), true);
}

void CorePrcs::mdctr(int frame, int word) {
    auto const byte = [word](int k) { return (static_cast<unsigned>(word) >> (8 * k)) & 0xFFu; };
    mdctr(frame, static_cast<int>(byte(0)), static_cast<int>(byte(1)), static_cast<int>(byte(2)),
          static_cast<int>(byte(3)));
}

void CorePrcs::mdctr(int frame, int channel, int status, int data1, int data2) {
    if (failed || bootpending.getvl()) return;
    try {
        mdupd(midi->mdctr(frame, channel, status, data1, data2));
    } catch (...) {
        CoreLog_::loger(CoreAnsx("CorePrcs: MIDI event dropped"), 0);
    }
}

void CorePrcs::setms(short slot, int status, int controller) {
    midi->setms(slot, status, controller);
}

void CorePrcs::setiv(short i, double value, bool flag) {
    if (bootpending.getvl()) return;
    CoreIfce* control = program->getif(i);
    if (control == nullptr) return;
    double const old = control->getvl(flag);
    control->setvl(value, flag);
    if (old != value) overflow.setvl(false);
}

void CorePrcs::updpm() {
    if (failed || bootpending.getvl()) return;
    if (!enginesem.locka()) return;
    CoreSmgd engine(enginesem, CoreSmgd::ADOPT{});
    if (!workersem.locka()) return;
    CoreSmgd worker(workersem, CoreSmgd::ADOPT{});
    program->updte(false, 0.0, 0.0, tempo.load());
    updated.store(true);
    for (short k = 0; k < CoreProg::iCprms; ++k)
        if (CorePrm_* prm = program->getpm(k)) prm->updte();
}

void CorePrcs::clean() {
    if (failed || bootpending.getvl() || bypass.getvl()) return;
    CoreSmgd engine(enginesem);
    CoreSmgd worker(workersem);
    clepr(true);
}

void CorePrcs::setmt(short type, bool force) {
    if (!force && type == metertype) return;
    auto const samples = [this](long us) {
        return static_cast<int>(CoreButl::tpfup(samplerate, us));
    };
    CoreAnsx const off("0");
    auto const configure = [&](CoreEnvf* f, short mode, int attack, int release) {
        f->setvl(attack, 0, off, release, 0, off, -1.0, mode, false, off, false, off, off, false,
                 static_cast<double>(samplerate), false, off, off, false, 0.0, 0, off);
    };
    int const slow = samples(300000);
    for (int k = 4; k < iCmeters; ++k) configure(meterfollowers[k], 4, slow, slow);
    short mode = type;
    int attack = slow;
    int release = slow;
    if (type == 8) {
        attack = samples(2000000);
        release = 0;
    } else if (type == 2) {
        attack = samples(60000);
        release = samples(30000);
    }
    for (int k = 0; k < 4; ++k) configure(meterfollowers[k], mode, attack, release);
    metertype = type;
}
