// The per-block steps of the player: plain kernel calls, the harmonic
// (Volterra) steps and the crossfading steps. Audio thread or engine worker:
// nothing here allocates, logs or locks (the meters take their own spin lock).
#include "engine/CoreCnvl.h"
#include "engine/CoreCnvlIntl.h"

#include "runtime/CoreAudp.h"
#include "runtime/CoreTime.h"

#include <algorithm>
#include <cassert>

void CoreCnvlIntl::silence(double* outL, double* outR, long n) {
    if (n < 1) return;
    std::fill(outL, outL + n, 0.0);
    std::fill(outR, outR + n, 0.0);
}

void CoreCnvlIntl::silence(double* outL, double* outR, const FFTEXTENSION* ext) {
    silence(outL, outR, ext != nullptr ? ext->block : 0);
}

bool CoreCnvlIntl::refreshDue(const FFTEXTENSION* ext) {
    return ext->changed == nullptr || *ext->changed || !ext->spectravalid;
}

void CoreCnvlIntl::refreshDone(FFTEXTENSION* ext) {
    if (ext->changed != nullptr) *ext->changed = false;
    ext->spectravalid = true;
}

void CoreCnvlIntl::nextPartition(FFTEXTENSION* ext) {
    if (++*ext->index >= ext->partitions) *ext->index = 0;
}

void CoreCnvl::meterEnter(CoreTime* meterA, CoreTime* meterB) const {
    if (oncpu) return;
    if (meterA != nullptr) meterA->setmp(false, 0);
    if (meterB != nullptr) meterB->setmp(true, 0);
}

void CoreCnvl::meterLeave(CoreTime* meterA, CoreTime* meterB) const {
    if (oncpu) return;
    if (meterB != nullptr) meterB->setmp(false, 0);
    if (meterA != nullptr) meterA->setmp(true, 0);
}

void CoreCnvl::callKernel(const double* inL, const double* inR, double* outL, double* outR,
                          const double* kernL, const double* kernR) {
    if (worklength < 1) {
        // No ring to walk: the kernel sees N = 0 and writes silence.
        position = 0;
        kernel(inL, inR, outL, outR, kernL, kernR, ringL, ringR, worklength, position, &ext);
        return;
    }
    // The ring is double-mapped with period N; stepping back by N keeps the
    // phase whatever the block.
    if (position >= wraplimit) position -= worklength;
    kernel(inL, inR, outL, outR, kernL, kernR, ringL, ringR, worklength, position, &ext);
    position += block;
}

void CoreCnvl::runBlocks(const double* inL, const double* inR, double* outL, double* outR,
                         const double* kernL, const double* kernR, int frames, CoreTime* meterA,
                         CoreTime* meterB) {
    ext.subblock = 0;
    if (!ready()) return CoreCnvlIntl::silence(outL, outR, frames);
    meterEnter(meterA, meterB);
    int k = 0;
    do {
        callKernel(inL + k, inR + k, outL + k, outR + k, kernL, kernR);
        ++ext.subblock;
        k += block;
    } while (k < frames);
    meterLeave(meterA, meterB);
}

void CoreCnvl::cnvlc(const double* inL, const double* inR, double* outL, double* outR,
                     const double* kernL, const double* kernR, CoreTime* meterA,
                     CoreTime* meterB) noexcept {
    CoreAudp audio;
    if (!ready()) return CoreCnvlIntl::silence(outL, outR, block);
    meterEnter(meterA, meterB);
    callKernel(inL, inR, outL, outR, kernL, kernR);
    meterLeave(meterA, meterB);
}

void CoreCnvl::vltrr(bool first, const double* inL, const double* inR, double* outL, double* outR,
                     const double* kernL, const double* kernR, double* powL, double* powR,
                     double* workL, double* workR, int frames, CoreTime* meterA,
                     CoreTime* meterB) noexcept {
    CoreAudp audio;
    vltry(first, first, inL, inR, outL, outR, kernL, kernR, powL, powR, workL, workR, frames,
          meterA, meterB);
}

void CoreCnvl::vltry(bool firstPower, bool setOutput, const double* inL, const double* inR,
                     double* outL, double* outR, const double* kernL, const double* kernR,
                     double* powL, double* powR, double* workL, double* workR, int frames,
                     CoreTime* meterA, CoreTime* meterB) noexcept {
    CoreAudp audio;
    // Later players read in again, so out may not overwrite it.
    assert(outL != inL && outR != inR);
    // The power buffers are shared by the players of one block: each later
    // player raises the previous player's power by one.
    if (firstPower || setOutput) {
        if (powL != inL) std::copy(inL, inL + std::max(frames, 0), powL);
        if (powR != inR) std::copy(inR, inR + std::max(frames, 0), powR);
    } else {
        for (int i = 0; i < frames; ++i) {
            powL[i] *= inL[i];
            powR[i] *= inR[i];
        }
    }
    runBlocks(powL, powR, workL, workR, kernL, kernR, frames, meterA, meterB);
    if (setOutput) {
        for (int i = 0; i < frames; ++i) {
            outL[i] = workL[i];
            outR[i] = workR[i];
        }
    } else {
        for (int i = 0; i < frames; ++i) {
            outL[i] += workL[i];
            outR[i] += workR[i];
        }
    }
}

void CoreCnvl::cnvsc(bool set, const double* inL, const double* inR, double* outL, double* outR,
                     const double* kernL, const double* kernR, double* workL, double* workR,
                     const double* fade, long& fadeIndex, CoreTime* meterA,
                     CoreTime* meterB) noexcept {
    CoreAudp audio;
    if (block < 1) return;
    if (ready()) {
        meterEnter(meterA, meterB);
        callKernel(inL, inR, workL, workR, kernL, kernR);
        meterLeave(meterA, meterB);
    } else {
        CoreCnvlIntl::silence(workL, workR, block);
    }
    const long B = block;
    if (set) {
        // Reads the same positions as the adding player, without consuming them.
        const long start = std::max(fadeIndex, B - 1);
        for (long i = 0; i < B; ++i) {
            const double f = fade[start - i];
            outL[i] = workL[i] * f;
            outR[i] = workR[i] * f;
        }
    } else {
        fadeIndex = std::max(fadeIndex, B - 1);
        for (long i = 0; i < B; ++i) {
            const double f = fade[fadeIndex];
            outL[i] += workL[i] * f;
            outR[i] += workR[i] * f;
            --fadeIndex;
        }
    }
}

long CoreCnvl::cnvsy(bool set, const double* inL, const double* inR, double* outL, double* outR,
                     const double* kernL, const double* kernR, double* copyL, double* copyR,
                     double* workL, double* workR, const double* fade, long& fadeIndex, int frames,
                     CoreTime* meterA, CoreTime* meterB) noexcept {
    CoreAudp audio;
    runBlocks(inL, inR, workL, workR, kernL, kernR, frames, meterA, meterB);
    const long B = std::max(block, 1);
    long idx = fadeIndex;
    if (set) {
        idx = std::max(fadeIndex, B - 1);
        for (int f = 0; f < frames; ++f) {
            const long i = idx < 0 ? B - 1 : idx;
            outL[f] = workL[f] * fade[i];
            outR[f] = workR[f] * fade[i];
            copyL[f] = inL[f];
            copyR[f] = inR[f];
            idx = i - 1;
        }
        return idx;
    }
    if (idx < B - 1) {
        idx = B - 1;
        fadeIndex = B - 1;
    }
    for (int f = 0; f < frames; ++f) {
        if (idx < 0) {
            idx = B - 1;
            fadeIndex = B - 1;
        }
        outL[f] += workL[f] * fade[idx];
        outR[f] += workR[f] * fade[fadeIndex];
        --fadeIndex;
        idx = fadeIndex;
    }
    return idx;
}
