#pragma once
// Sample-rate converter: runs one recipe of DataRtcv on one channel block,
// stage by stage; each stage is a polyphase resampler (interpolate by L,
// decimate by M, or L/M) whose windowed-sinc prototype is split into phases
// and applied by FFT overlap-add. Stage designs (phase spectra, FFT plan,
// buffers) live in three slots reused while the same stage comes again; a
// new design takes the next slot round-robin.
// Each block is converted on its own, with no state carried between calls, as
// if silence came before and after it: the whole filtered block is delivered,
// its first sample landing a whole number of output samples (the lead) from
// the start. Whole-file conversion is seamless, piecewise conversion shows seams.
// Owner: the WAV reader, on its pool, with the DataRtcv it owns.
// Threads: that reader's thread only (loader or engine worker); it allocates
// and plans, so never the audio thread.

#include "platform/PlatSignalCall.h"

class CorePool;
class DataRtcv;

class CoreRtcv {
public:
    // One real FFT of a stage.
    struct IPPPLAN {
        IppsFFTSpec_R_64f* spec; // planned FFT, null when none
        Ipp8u* buffer;           // pool block ("RTCV") of the size the spec reports
    };

    // One stage design (a slot). A stage upsamples by L, filters and keeps
    // every M-th sample; it treats the time before and after its block as
    // silence and delivers the whole filtered block: a lead before the place
    // where the block's first sample (the anchor) falls, and a tail after the
    // last one, both cut where the prototype's taps fall below -140 dB of its
    // centre. Neither filter nor alignment depends on the block's length.
    struct STAGELOC {
        short built;         // 1 when the design below is complete
        unsigned short kind; // 0 interpolate by L, 1 decimate by M, 2 fractional L/M
        double inrate;       // input rate, Hz
        int F;               // phase count: L
        int L;               // interpolation factor (1 for kind 1)
        int M;               // decimation factor (1 for kind 0)
        int n;               // input samples per call
        int anchor;          // input sample the converted file's first sample falls on
        double outrate;      // output rate, Hz
        int outlen;          // output samples per call: lead, n L / M, tail
        int lead;            // output sample the anchor falls on exactly
        int first;           // upsampled position of output 0 (input 0 at position 0)
        int edge;            // first prototype tap above -140 dB of the centre tap
        int P;               // phase filter length, taps
        int K;               // FFT size
        int acclen;          // accumulator length, samples: n + P - 1
        double** spectra;    // F pointers, each to K doubles: Pack spectrum of one phase filter
        double* acc;         // accumulator, acclen doubles
        double* work;        // FFT work, K doubles
        double* out;         // output, outlen doubles
        IPPPLAN plan;        // FFT of size K
    };

    // The prototype a stage of factors L, M filters with.
    struct SHAPELOC {
        int N;         // taps: 2048 L (2048 M when L is 1)
        int c;         // centre tap, N / 2 - 1; the taps are symmetric about it
        int edge;      // first tap above -140 dB of the centre tap
        double factor; // sinc period, upsampled samples: the larger of L and M
        double gain;   // side-tap gain: L
        double peak;   // centre tap, windowed
    };

    CoreRtcv(CorePool* pool, DataRtcv* recipes);
    ~CoreRtcv();
    CoreRtcv(const CoreRtcv&) = delete;
    CoreRtcv& operator=(const CoreRtcv&) = delete;
    CoreRtcv(CoreRtcv&&) = delete;
    CoreRtcv& operator=(CoreRtcv&&) = delete;

    // Converts n samples at rate by recipe row (-1: look it up for (rate,
    // outRate)). Returns the converted samples (in a slot's output, valid until
    // that slot is rebuilt or the converter deleted) or the input itself when
    // nothing is converted; outLength and outRate tell what was returned. A
    // stage that cannot be planned stops the chain there (logged).
    // The input's first sample falls on output chainlead(row).
    double* cnvrt(double* input, long n, long& outLength, double rate, double& outRate, short row);
    // Samples cnvrt makes of n samples by a table row (n for any other row):
    // the lead, about n x ratio, and the tail.
    long chainlength(long n, short row);
    // Output sample the input's first sample falls on, the same for every
    // length (0 for no row).
    long chainlead(short row);
    // The row's rate ratio as the exact fraction up / down of its stages'
    // factors (1 / 1 for no row); the table's double ratio is a rounded value.
    void chainratio(short row, long long& up, long long& down);
    // Slot holding the stage design (kind, rate, L, M, n, anchor), built when
    // missing; -1 when it could not be planned. Kind 0 takes M = 1, kind 1 L = 1.
    short mkclc(unsigned short kind, double rate, int L, int M, int n, int anchor = 0);
    // Runs the built stage of a slot on its n input samples into its output.
    void apply(short slot, const double* input);
    // Frees a slot's buffers, spectra and plan; marks it not built.
    void dlclc(short slot);
    // Creates an FFT of size (a power of two) with the inverse divided by size,
    // and its work buffer; false (logged) when planning fails.
    static bool newpl(CorePool* pool, IPPPLAN* plan, int size);
    static void delpl(CorePool* pool, IPPPLAN* plan); // frees the plan's FFT and work buffer
    // One phase's FFT overlap-add of y (n samples) with the Pack spectrum g into
    // the slot's accumulator: the whole convolution, n + P - 1 samples.
    void ovadd(STAGELOC* s, const double* y, int n, const double* g);

    // Filter building blocks (n taps, h = n / 2; half fills only the first half).
    // Blackman window on n values (n / 2 + 1 when half), to the power 1 + ceil(p) when p > 0.
    static void flblk(int n, double* buffer, double p, bool half);
    static void flint(int n, double* buffer, int L, bool half); // interpolation sinc, centre 1
    static void fldec(int n, double* buffer, int M, bool half); // decimation sinc, centre 1 / M
    static void flfrc(int n, double* buffer, double gain, double factor,
                      bool half);             // gain-scaled sinc
    static void flhcp(int n, double* buffer); // mirrors the first half about h - 1, zeroes the tail
    // Steps phase by M modulo L from start until sought has been met count
    // times (at least once), counting steps and wrap-arounds.
    static void frcps(int L, int M, int count, int start, int sought, int& steps, int& carries);

    short getns() const { return nextslot; } // slot the next new design goes to
    const STAGELOC* getsl(short slot) const; // a slot's design, null for a bad index

    static const int iCslots;       // stage slots (3)
    static const int iCmaxphase;    // prototype taps per phase at most (2048)
    static const int iCwindowpower; // power of the prototype's Blackman window (11)

private:
    // Stage of a row's chain that starts at factor k: its kind and factors;
    // returns the index of its last factor.
    short stage(short row, short k, unsigned short& kind, int& L, int& M);
    // A stage of these factors can be designed for n input samples.
    static bool fits(int L, int M, long n);
    static SHAPELOC shape(int L, int M); // the prototype of a stage
    // Where a stage of n input samples, whose anchor is input sample anchor,
    // takes output 0 (first), where the anchor lands (lead) and how many
    // samples it makes (outlen).
    static void place(const SHAPELOC& p, int L, int M, int n, int anchor, int& first, int& lead,
                      int& outlen);
    // Length and lead a row makes of n samples, stage by stage as cnvrt runs.
    long walk(long n, short row, long& lead);
    void build(STAGELOC* s, unsigned short kind, double rate, int L, int M, int n, int anchor);
    double* take(int count, const char* op);

    short nextslot;    // 0..2, where the next new design goes
    STAGELOC* slots;   // pool block ("RTCV") of iCslots designs
    DataRtcv* recipes; // not owned
    CorePool* pool;    // not owned
};
