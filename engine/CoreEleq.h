#pragma once
// CoreEleq: designs an equalising filter from two measured impulse responses,
// a response to correct and the response it should sound like. Both are
// transformed, their magnitudes averaged in logarithmically spaced bands, the
// per-band gain that moves the first towards the second smoothed with a
// B-spline and resampled onto every bin, and a minimum-phase spectrum with
// that magnitude built from the Hilbert transform of the log magnitude.
// Owner: nobody; static functions only. Work buffers come from the caller's
// pool (tag "ELEQ") and go back to it before each call returns.
// Threads: engine worker or loader; plans transforms and allocates, so never
// the audio thread.

#include "platform/PlatSignalType.h"

class CorePool;

class CoreEleq {
public:
    CoreEleq() = delete;

    // Spline points per control point and resolution step.
    static const int iCsplinemaxfactor; // 256

    // FFT size for two responses: the smallest power of two not below the
    // longer length (samples).
    static int eqgts(int length1, int length2);

    // Designs the correction of response1 towards response2 (lengths in
    // samples, both at most N, N a power of two of at least 2). spectrum1 and
    // spectrum2 hold N bins each. On return spectrum1 is the spectrum of
    // response1 (windowed when asked) and bins 0 .. N/2 of spectrum2 the
    // minimum-phase correction filter; its bins above N/2 still hold
    // response2's spectrum, so readers take only 0 .. N/2. Both spectra carry
    // the transform's 1/sqrt(N) scaling; the filter is a plain gain.
    // span / 2 is the ratio of the highest to the lowest analysed bin;
    // bandFraction the band width as a fraction of the bins (0: one bin per
    // band); splineDegree the smoothing degree; weight how far to move (1:
    // all the way, 0: not at all); taperLevel > 0 tapers the target curve's
    // ends (CoreButl::fixbd) towards the level of one band point (reference
    // > 0 picks point min(2^(reference / b) x m / 2, m - 1) of the m points)
    // or else the mid-band mean; resolution multiplies the spline points.
    // Returns false when no band holds a bin (spectrum2 then is response2's
    // spectrum) or when the arguments cannot describe a design (logged).
    // Pool exhaustion throws CoreAnsx.
    static bool eqcal(CorePool* pool, Ipp64fc* spectrum1, Ipp64fc* spectrum2, int N, int length1,
                      double* response1, int length2, double* response2, int span,
                      double bandFraction, bool window, short splineDegree, double weight,
                      double taperLevel, int resolution, int reference);

    // Designs with eqcal (resolution 1, no reference point) and filters
    // response1 in place with the result (circular convolution over N, first
    // length1 samples kept). Returns whether it filtered; response1 is
    // untouched otherwise.
    static bool eqcaf(CorePool* pool, int length1, double* response1, int length2,
                      double* response2, int span, double bandFraction, bool window,
                      short splineDegree, double weight, double taperLevel);

    // Smallest magnitude taken into a gain or a logarithm: the dB floor as a
    // linear value, so a silent band yields a very small gain, not inf or NaN.
    static const double dCmagnitudefloor; // 10^(-192.64 / 20)
};
