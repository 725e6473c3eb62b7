#pragma once
// Plain value types and constants of the signal-processing layer, under the
// names the rest of the system uses for them. Header only: no state, no
// threads. Complex values are stored as (re, im) pairs, so an array of them
// can be read as interleaved reals.

// One byte of untyped work memory.
using Ipp8u = unsigned char;
// Single-precision sample.
using Ipp32f = float;
// Double-precision sample.
using Ipp64f = double;

// Single-precision complex value.
struct Ipp32fc {
    Ipp32f re; // real part
    Ipp32f im; // imaginary part
};

// Double-precision complex value.
struct Ipp64fc {
    Ipp64f re; // real part
    Ipp64f im; // imaginary part
};

// Result of a layer call: 0 on success, negative on failure.
using IppStatus = int;
inline constexpr IppStatus ippStsNoErr = 0;        // success
inline constexpr IppStatus ippStsSizeErr = -1;     // length or order out of range
inline constexpr IppStatus ippStsNullPtrErr = -2;  // a required pointer was null
inline constexpr IppStatus ippStsMemAllocErr = -3; // allocation or planning failed
inline constexpr IppStatus ippStsFftOrderErr = -4; // FFT order below 0 or too large
inline constexpr IppStatus ippStsFftFlagErr = -5;  // scaling flag not one of the four

// Planning hint; the layer always plans for accuracy and determinism, the
// hint is accepted for the callers' sake.
enum IppHintAlgorithm : int {
    ippAlgHintNone = 0,     // no preference
    ippAlgHintFast = 1,     // prefer speed
    ippAlgHintAccurate = 2, // prefer accuracy
};

// Scaling flags of a planned real FFT (exactly one of them).
inline constexpr int IPP_FFT_DIV_FWD_BY_N = 1; // forward result divided by n
inline constexpr int IPP_FFT_DIV_INV_BY_N = 2; // inverse result divided by n
inline constexpr int IPP_FFT_DIV_BY_SQRTN = 4; // both directions divided by sqrt(n)
inline constexpr int IPP_FFT_NODIV_BY_ANY = 8; // neither direction scaled
