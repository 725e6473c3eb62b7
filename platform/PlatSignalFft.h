#pragma once
// A planned real FFT of length n = 2^order in double or float precision, with
// the packed spectrum layout the convolution code works in:
//   Pack (n >= 2): [R0, R1, I1, R2, I2, ..., R(n/2-1), I(n/2-1), R(n/2)], n values;
//                  n = 1 gives [R0].
//   CCS:           [R0, 0, R1, I1, ..., R(n/2), 0], n + 2 values.
// Forward uses e^(-i 2 pi k t / n); scaling follows the flag given at creation.
// Owner: the player, converter stage or design that created it (create/delete).
// Threads: create and delete on the loader or engine worker (they take the
// process-wide planner lock, may block). The transforms are for the audio
// thread: no allocation, no I/O, no lock. Callers that share a spec between
// threads pass each their own work buffer (bufferBytes() bytes); with a null
// buffer the spec's own scratch is claimed, and a call that finds it claimed
// by another thread falls back to a temporary block (allocated, so never let
// that happen on the audio thread) rather than corrupt both results.

#include <atomic>
#include <cstddef>

template <typename T> class PlatSignalFft {
public:
    // Largest order accepted; keeps every byte count within a 32-bit int.
    static constexpr int iCmaxorder = 26;

    // Plans both directions; flag is one of the IPP_FFT_* scaling flags.
    // Returns null when the order or flag is out of range or planning failed.
    static PlatSignalFft* create(int order, int flag);
    ~PlatSignalFft();
    PlatSignalFft(const PlatSignalFft&) = delete;
    PlatSignalFft& operator=(const PlatSignalFft&) = delete;
    PlatSignalFft(PlatSignalFft&&) = delete;
    PlatSignalFft& operator=(PlatSignalFft&&) = delete;

    int size() const { return n; }       // transform length, samples (2^order)
    int order() const { return log2n; }  // log2 of the length
    int flag() const { return scaling; } // IPP_FFT_* scaling flag given to create
    // Bytes of caller work buffer that makes a transform reentrant (includes
    // 64 bytes of alignment slack).
    int bufferBytes() const;

    // The transforms accept src == dst (in place) and any element alignment;
    // buffer may be null (the spec's own scratch is then used). Partially
    // overlapping src and dst are not supported.
    // n reals -> n packed values.
    void forwardToPack(const T* src, T* dst, unsigned char* buffer) const;
    // n packed values -> n reals.
    void inverseFromPack(const T* src, T* dst, unsigned char* buffer) const;
    // n reals -> n + 2 CCS values (dst must hold n + 2).
    void forwardToCcs(const T* src, T* dst, unsigned char* buffer) const;
    // n + 2 CCS values -> n reals; the imaginary parts of bins 0 and n/2 are ignored.
    void inverseFromCcs(const T* src, T* dst, unsigned char* buffer) const;

private:
    PlatSignalFft() = default;
    struct Scratch {
        T* real;    // n reals, planned alignment
        T* complex; // n/2 + 1 interleaved complex values, planned alignment
    };
    // The scratch of one transform call, given back when the call ends.
    class Lease {
    public:
        Lease(const PlatSignalFft& fft, unsigned char* buffer);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Scratch s; // arrays the call works in
    private:
        const PlatSignalFft* claimed = nullptr; // spec whose own scratch is held, or null
        unsigned char* temporary = nullptr; // fftw(f)_malloc block when the spec's scratch was busy
    };
    // Runs r2c of src into s.complex, through s.real when src is misaligned.
    void runForward(const T* src, const Scratch& s) const;
    // Runs c2r of s.complex (already scaled) into dst, through s.real when dst is misaligned.
    void runInverse(T* dst, const Scratch& s) const;

    int n = 0;                            // transform length, samples
    int log2n = 0;                        // order, log2 of n
    int scaling = 0;                      // IPP_FFT_* flag given at creation
    T forwardScale = 1;                   // factor applied to forward results
    T inverseScale = 1;                   // factor applied to inverse results
    void* forwardPlan = nullptr;          // fftw(f)_plan, r2c, real scratch -> complex scratch
    void* inversePlan = nullptr;          // fftw(f)_plan, c2r, complex scratch -> real scratch
    T* realScratch = nullptr;             // n reals, fftw(f)_malloc
    T* complexScratch = nullptr;          // n/2 + 1 complex values, fftw(f)_malloc
    int realAlign = 0;                    // fftw(f)_alignment_of the real scratch
    int complexAlign = 0;                 // fftw(f)_alignment_of the complex scratch
    mutable std::atomic_flag scratchBusy; // set while a call works in the spec's own scratch
};

extern template class PlatSignalFft<double>;
extern template class PlatSignalFft<float>;
