#pragma once
// CoreSpmx: the kernel spectra of a partitioned FFT player mixed from the
// spectra of the vector elements its kernel is a weighted sum of. The
// transform is linear, so the weighted sum of the elements' partition
// spectra is the spectrum of the weighted sum: a vector update that only
// moves weights costs one pass over the spectra instead of one transform
// per partition. Partitions the sum does not describe (faded ends, the part
// past the mixed length) are transformed from the kernel itself as before,
// and a kernel that is no such sum (smoothing, pan, a switching pair) is
// transformed whole by the caller. While bound, the vector writes its
// output only in the partitions transformed from it (CoreVctr::chndf): any
// refresh that reads more has the rest written first.
// Owner: the player (CoreCnvl). The vector root is not owned; the processing
// engine binds it with the kernel and drops it before the program goes.
// Threads: setup and clear on the loader path (allocate from the pool); mixed
// on the audio thread or engine worker (no allocation, no I/O, no lock).

#include "engine/CoreCnvl.h"

class CorePool;
class CoreVctr;

class CoreSpmx {
public:
    explicit CoreSpmx(CorePool* pool) : pool(pool) {}
    ~CoreSpmx() { clear(); }
    CoreSpmx(CoreSpmx const&) = delete;
    CoreSpmx& operator=(CoreSpmx const&) = delete;
    CoreSpmx(CoreSpmx&&) = delete;
    CoreSpmx& operator=(CoreSpmx&&) = delete;

    static constexpr int iCelements = 8; // element pairs a kernel may be mixed from
    // Values of element spectra one player may hold (32 MB): a longer or
    // wider vector is transformed as before rather than held twice over.
    static constexpr long iCbudget = 4L << 20;

    // Holds spectra for root's leaf elements under the plan in ext (N, P and
    // the partition lengths of a partitioned CPU engine); false (and nothing
    // held) when there is no root, no such plan, too many elements or more
    // than iCbudget values. Throws CoreAnsx when the pool refuses.
    bool setup(CoreVctr* root, CoreCnvl::FFTEXTENSION const& ext);
    // Frees the spectra and forgets the root, which writes its outputs
    // whole from now on.
    void clear();
    // Binds root again when the spectra held were made for it under this
    // very plan and its elements are still the same buffers: they stand
    // (a rebind after another slot's edit costs no transform). False, with
    // nothing changed, otherwise. Loader path.
    bool rebnd(CoreVctr* root, CoreCnvl::FFTEXTENSION const& ext);

    // Both channels' partition spectra (split form, P x N each) for the
    // kernel pair kernL, kernR that root's output pair 0 is now. False, with
    // nothing written, when it is not a sum of held elements: the kernel is
    // then whole for the caller to transform.
    bool mixed(CoreCnvl::FFTEXTENSION* ext, double const* kernL, double const* kernR) noexcept;
    // The kernel is read whole without mixed: the root writes out what it left.
    void whole() noexcept;
    // The last mixed kernel was two weighted elements: its clean partitions
    // were not written, and terms gives them.
    bool pairs() const { return paired; }
    // Partition i of channel ch as p * wp + q * wq when it was not written.
    bool terms(int ch, int i, double const*& p, double& wp, double const*& q,
               double& wq) const noexcept {
        if (!paired || unwritten[i] == 0) return false;
        long const at = static_cast<long>(i) * length;
        p = pair[0]->spectra[ch] + at;
        q = pair[1]->spectra[ch] + at;
        wp = pairweight[0];
        wq = pairweight[1];
        return true;
    }

private:
    struct ELEMENT {
        void const* left = nullptr;
        void const* right = nullptr;
        CoreVctr const* owner = nullptr;         // leaf whose version the spectra were made at
        long version = -1;                       // owner's getev then; -1 never made
        int valid = 0;                           // partitions made (whole inside the mixed length)
        double* spectra[2] = {nullptr, nullptr}; // P x N per channel
    };
    // Makes element e's spectra from its buffers (one transform per partition).
    void make(CoreCnvl::FFTEXTENSION* ext, ELEMENT& e, CoreVctr const* owner) noexcept;
    bool mixSpectra(CoreCnvl::FFTEXTENSION* ext, double const* kernL, double const* kernR) noexcept;
    void release(); // frees the spectra and forgets the root

    CorePool* pool; // the player's pool (not owned)
    // The kernel's vector (not owned); cleared by the vector when it goes first.
    CoreVctr* root = nullptr;
    int count = 0;       // elements held
    int length = 0;      // N the spectra were made for
    int partitions = 0;  // P the spectra were made for
    int partlength = 0;  // L and the kernel length T the partitions were cut
    int totallength = 0; // by (their lengths follow from P, L and T)
    ELEMENT elements[iCelements];
    bool paired = false;                         // see pairs
    ELEMENT const* pair[2] = {nullptr, nullptr}; // the two terms then
    double pairweight[2] = {0.0, 0.0};
    unsigned char* unwritten = nullptr; // P flags: partition left to the terms
};
