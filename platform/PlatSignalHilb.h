#pragma once
// A planned Hilbert transform of float sequences of one length: turns x into
// its analytic signal z (Re z = x, Im z = the Hilbert transform of x) by the
// frequency-domain method: z = IDFT(w . DFT(x)) with w = 1 at DC, 2 for bins
// 1 .. ceil(len/2) - 1, 1 at Nyquist for even len, 0 above. The work runs in
// double precision.
// Owner: the design that created it (create/delete).
// Threads: create and delete take the process-wide planner lock and may
// block (loader or engine worker, never audio); run uses the object's own
// scratch, so one object serves one thread at a time.

#include "platform/PlatSignalType.h"

class PlatSignalHilb {
public:
    // Plans for sequences of len samples (len >= 1); null on bad length or failure.
    static PlatSignalHilb* create(int len);
    ~PlatSignalHilb();
    PlatSignalHilb(const PlatSignalHilb&) = delete;
    PlatSignalHilb& operator=(const PlatSignalHilb&) = delete;
    PlatSignalHilb(PlatSignalHilb&&) = delete;
    PlatSignalHilb& operator=(PlatSignalHilb&&) = delete;

    int size() const { return n; } // sequence length, samples
    // dst[i] = (src[i], Hilbert transform of src at i), len values each.
    void run(const Ipp32f* src, Ipp32fc* dst) const;

private:
    PlatSignalHilb() = default;

    int n = 0;                   // sequence length, samples
    void* forwardPlan = nullptr; // fftw_plan, r2c of real -> spectrum
    void* inversePlan = nullptr; // fftw_plan, complex backward, in place on spectrum
    double* real = nullptr;      // n doubles, fftw_malloc
    double* spectrum = nullptr;  // n complex doubles (interleaved), fftw_malloc
};
