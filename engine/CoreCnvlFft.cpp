// Engines 9, 10 and 11 of the player: convolution through double-precision
// real FFTs of the signal layer, in its Pack layout.
//   9  one transform of N >= B + T - 1 per block;
//   10 uniformly partitioned (partition = block, N = 2B) with a frequency
//      delay line of P accumulators;
//   11 as 10, but the players of a group sum their spectra in a shared
//      buffer so that only the last one runs an inverse transform.
// Spectra held from block to block (kernel partitions, accumulators, the
// shared buffer) are in a split layout of the same size, see macSplit.
// Plan functions: engine worker (allocate from the pool, plan, may log).
// Kernels: audio thread or engine worker, no allocation, no I/O, no lock.
//
// Ring use: the rings are 3N long and the player keeps N <= p <= 2N - B. The
// overlap-add keeps its running sums only in the middle third [N, 2N): a
// value for ring slot p + j lands at p + j, or at p + j - N past 2N. That is
// the double-mapped contract with the never-read thirds left alone.
#include "engine/CoreCnvl.h"
#include "engine/CoreCnvlIntl.h"
#include "engine/CoreSpmx.h"

#include "platform/PlatSignalFft.h"
#include "platform/PlatSignalType.h"
#include "platform/PlatSignalVect.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"

#include <algorithm>
#include <climits>

namespace {

using Fft = PlatSignalFft<double>;
using FFTSTRUCT = CoreCnvl::FFTSTRUCT;
using FFTEXTENSION = CoreCnvl::FFTEXTENSION;

const Fft* specOf(const FFTEXTENSION* e) { return static_cast<const Fft*>(e->fftspec); }
unsigned char* scratchOf(const FFTEXTENSION* e) { return static_cast<unsigned char*>(e->fftwork); }

// The plan matches the call: loaded buffers, the ring the plan was sized
// for, and a position that leaves a whole block inside the middle third.
bool callFits(const FFTEXTENSION* e, const double* ringL, const double* ringR, int N, int p) {
    return e->work != nullptr && e->fftspec != nullptr && ringL != nullptr && ringR != nullptr &&
           N == e->length && e->block >= 1 && p >= N && p + e->block <= 2 * N;
}

// The partitioned engines keep their kernel spectra, accumulators and input
// spectrum in split form rather than Pack: for n values and h = n/2, the real
// parts of bins 0..h-1 then the imaginary parts, with the Nyquist bin (real)
// in the imaginary slot of bin 0. The multiply-add, the hot loop of the
// engine, then needs no shuffles; the conversions cost O(n) per block.

// Pack -> split.
void packToSplit(const double* __restrict pack, double* __restrict split, int n) {
    const int h = n / 2;
    split[0] = pack[0];
    split[h] = pack[n - 1];
    for (int k = 1; k < h; ++k) {
        split[k] = pack[2 * k - 1];
        split[h + k] = pack[2 * k];
    }
}

// Split -> Pack.
void splitToPack(const double* __restrict split, double* __restrict pack, int n) {
    const int h = n / 2;
    pack[0] = split[0];
    pack[n - 1] = split[h];
    for (int k = 1; k < h; ++k) {
        pack[2 * k - 1] = split[k];
        pack[2 * k] = split[h + k];
    }
}

CNVL_CLONES
void macLoop(const double* __restrict xr, const double* __restrict xi, const double* __restrict yr,
             const double* __restrict yi, double* __restrict cr, double* __restrict ci, int h) {
    for (int k = 0; k < h; ++k) {
        const double ar = xr[k], ai = xi[k], br = yr[k], bi = yi[k];
        cr[k] += ar * br - ai * bi;
        ci[k] += ar * bi + ai * br;
    }
}

// acc += a * b for split spectra of n values: the same products and sums,
// in the same order, as a packed product followed by an add.
void macSplit(const double* a, const double* b, double* acc, int n) {
    const int h = n / 2;
    // Bin 0 holds two real bins; the loop treats it as complex, so its sums
    // are made apart and put back.
    const double dc = acc[0] + a[0] * b[0];
    const double nyquist = acc[h] + a[h] * b[h];
    macLoop(a, a + h, b, b + h, acc, acc + h, h);
    acc[0] = dc;
    acc[h] = nyquist;
}

CNVL_CLONES
void macLoop2(const double* __restrict xr, const double* __restrict xi, const double* __restrict pr,
              const double* __restrict pi, double wp, const double* __restrict qr,
              const double* __restrict qi, double wq, double* __restrict cr, double* __restrict ci,
              int h) {
    for (int k = 0; k < h; ++k) {
        const double ar = xr[k], ai = xi[k];
        const double br = pr[k] * wp + qr[k] * wq, bi = pi[k] * wp + qi[k] * wq;
        cr[k] += ar * br - ai * bi;
        ci[k] += ar * bi + ai * br;
    }
}

// acc += a * (p * wp + q * wq): macSplit of a two-term mixed spectrum, the
// same sums as the spectrum written first, without writing it.
void macSplit2(const double* a, const double* p, double wp, const double* q, double wq, double* acc,
               int n) {
    const int h = n / 2;
    const double dc = acc[0] + a[0] * (p[0] * wp + q[0] * wq);
    const double nyquist = acc[h] + a[h] * (p[h] * wp + q[h] * wq);
    macLoop2(a, a + h, p, p + h, wp, q, q + h, wq, acc, acc + h, h);
    acc[0] = dc;
    acc[h] = nyquist;
}

// dst := Pack spectrum of the first m values of src, zero-padded to n. A
// missing source reads as silence.
void spectrumOf(const FFTEXTENSION* e, const double* src, int m, double* dst, int n) {
    if (src == nullptr) m = 0;
    CoreButl::movp0(n, std::min(m, n), dst, src);
    specOf(e)->forwardToPack(dst, dst, scratchOf(e));
}

// Adds the N values of y into the ring from position p and outputs the B
// finished samples at p, clearing their slots for the next lap.
void overlapAdd(const double* y, double* ring, int N, int p, int B, double* out) {
    double* r = ring + p;
    for (int j = 0; j < B; ++j) {
        out[j] = r[j] + y[j];
        r[j] = 0.0;
    }
    const int split = 2 * N - p; // first j whose slot lies past 2N
    for (int j = B; j < split; ++j) r[j] += y[j];
    double* w = ring + p - N;
    for (int j = std::max(B, split); j < N; ++j) w[j] += y[j];
}

// Inverse of split spectrum s (through Pack in the work buffer's last third)
// into its second third, then overlap-add.
void emit(FFTEXTENSION* e, const double* s, double* ring, int N, int p, double* out) {
    double* pack = e->work + 2 * N;
    double* y = e->work + N;
    splitToPack(s, pack, N);
    specOf(e)->inverseFromPack(pack, y, scratchOf(e));
    overlapAdd(y, ring, N, p, e->block, out);
}

// ---- pool helpers --------------------------------------------------------

template <typename T> void release(CorePool* pool, T*& block) {
    if (block != nullptr && pool != nullptr) pool->free_(block);
    block = nullptr;
}

double* zeroedDoubles(CorePool* pool, long count, const char* tag) {
    auto* d = static_cast<double*>(pool->mallc(0, static_cast<int>(count), tag, CoreAnsx("")));
    std::fill(d, d + count, 0.0);
    return d;
}

// Plans the FFT of N points and its own scratch, so that each player's
// transforms are independent of every other player's.
bool planFft(FFTSTRUCT* plan, FFTEXTENSION* ext, int N, const char* tag) {
    Fft* fft = Fft::create(CoreButl::geto2(N), IPP_FFT_DIV_INV_BY_N);
    if (fft == nullptr) {
        CoreLog_::loger(
            CoreAnsx("FFT of ") + CoreAnsx(N) + CoreAnsx(" points could not be planned"), 1);
        return false;
    }
    plan->fftspec = fft;
    ext->fftspec = fft;
    plan->fftwork = plan->pool->mallc(5, fft->bufferBytes(), tag, CoreAnsx(""));
    ext->fftwork = plan->fftwork;
    return true;
}

bool refuse(const char* what) {
    CoreLog_::loger(CoreAnsx("FFT engine not planned: ") + CoreAnsx(what), 1);
    return false;
}

// ---- mono kernels ----------------------------------------------------------

// Engine 9, one channel: X = FFT(x), H = FFT(kernel) when refreshed, y = X.H.
void cnm10(const double* in, double* out, const double* kern, double* ring, int N, int p, int ch,
           bool refresh, FFTEXTENSION* e) {
    double* x = e->work;
    double* h = e->work + (ch + 1) * N;
    spectrumOf(e, in, e->block, x, N);
    if (refresh) spectrumOf(e, kern, e->totallength, h, N);
    PlatSignalVect::mulPackInPlace(h, x, N);
    specOf(e)->inverseFromPack(x, x, scratchOf(e));
    overlapAdd(x, ring, N, p, e->block, out);
}

// Engines 10 and 11, one channel up to the summed spectrum: X = FFT(x),
// partition spectra when refreshed, acc[(c + i) mod P] += X.H[i]. Returns
// the accumulator that is due now (acc[c]). Work buffer: X in split form in
// the first third, Pack transforms in the last.
double* accumulate(const double* in, const double* kern, double* spectra, double* acc, int N,
                   int ch, bool refresh, FFTEXTENSION* e) {
    const int P = e->partitions;
    const int L = e->partlength;
    double* x = e->work;
    double* pack = e->work + 2 * N;
    spectrumOf(e, in, e->block, pack, N);
    packToSplit(pack, x, N);
    if (refresh)
        for (int i = 0; i < P; ++i)
            CoreCnvlIntl::prtsp(e, kern == nullptr ? nullptr : kern + static_cast<long>(i) * L,
                                e->partlens[i], spectra + static_cast<long>(i) * N);
    const int c = *e->index;
    // Partitions the element spectra mix holds as a pair of terms are not
    // written out: the product takes the terms themselves.
    const CoreSpmx* mix = e->monomode ? nullptr : e->spectramix;
    const bool paired = mix != nullptr && mix->pairs();
    for (int i = 0, j = c; i < P; ++i) {
        const double *p = nullptr, *q = nullptr;
        double wp = 0.0, wq = 0.0;
        double* a = acc + static_cast<long>(j) * N;
        if (paired && mix->terms(ch, i, p, wp, q, wq))
            macSplit2(x, p, wp, q, wq, a, N);
        else
            macSplit(x, spectra + static_cast<long>(i) * N, a, N);
        if (++j == P) j = 0;
    }
    return acc + static_cast<long>(c) * N;
}

// Engine 10, one channel.
void cnm11(const double* in, double* out, const double* kern, double* spectra, double* acc,
           double* ring, int N, int p, int ch, bool refresh, FFTEXTENSION* e) {
    double* s = accumulate(in, kern, spectra, acc, N, ch, refresh, e);
    emit(e, s, ring, N, p, out);
    std::fill(s, s + N, 0.0);
}

// The slot of the shared computation buffer for this channel and sub-block,
// or null when there is no buffer or it is too short for it.
double* sharedSlot(const FFTEXTENSION* e, int ch, int N) {
    if (e->compbuffer == nullptr || e->subblock < 0) return nullptr;
    const long offset = (ch + 2L * e->subblock) * N;
    if (offset + N > 2L * e->complength) return nullptr;
    return e->compbuffer + offset;
}

// Engine 11, one channel. Without a usable shared buffer every mode outputs
// its own spectrum: the players' outputs are summed by the harmonic step, so
// the group's total stays right, only the saving is lost.
void cnm12(const double* in, double* out, const double* kern, double* spectra, double* acc,
           double* ring, int N, int p, int ch, bool refresh, FFTEXTENSION* e) {
    double* s = accumulate(in, kern, spectra, acc, N, ch, refresh, e);
    double* shared = sharedSlot(e, ch, N);
    const int B = e->block;
    switch (e->compmode) {
    case 0:
        if (shared == nullptr) {
            emit(e, s, ring, N, p, out);
        } else {
            std::copy(s, s + N, shared);
            std::fill(out, out + B, 0.0);
        }
        break;
    case 1:
        if (shared == nullptr) {
            emit(e, s, ring, N, p, out);
        } else {
            PlatSignalVect::addInPlace(s, shared, N);
            std::fill(out, out + B, 0.0);
        }
        break;
    case 2:
        if (shared != nullptr) PlatSignalVect::addInPlace(shared, s, N);
        emit(e, s, ring, N, p, out);
        break;
    case 3: emit(e, s, ring, N, p, out); break;
    default:
        // No output of its own; silence rather than whatever the buffer held.
        std::fill(out, out + B, 0.0);
        break;
    }
    std::fill(s, s + N, 0.0);
}

void clearPartitioned(FFTSTRUCT* plan, FFTEXTENSION* ext) {
    ext->spectravalid = false;
    // A load the pool stopped half-way leaves buffers of the new size beside
    // the old lengths: only a whole plan has sizes to clear by.
    if (!plan->loaded) return;
    const long N = plan->worklength;
    const long PN = static_cast<long>(plan->partitions) * N;
    if (plan->work != nullptr) std::fill(plan->work, plan->work + 3 * N, 0.0);
    for (double* a : {plan->spectral, plan->spectrar, plan->accuml, plan->accumr})
        if (a != nullptr) std::fill(a, a + PN, 0.0);
    plan->index = 0;
    ext->spectravalid = false;
}

} // namespace

void CoreCnvlIntl::prtsp(const FFTEXTENSION* e, const double* src, int m, double* split) {
    const int N = e->length;
    double* pack = e->work + 2 * N;
    spectrumOf(e, src, m, pack, N);
    packToSplit(pack, split, N);
}

namespace {

// The refresh of both channels' partition spectra from the kernel vector's
// element spectra, when the kernel is such a sum; false: transform it.
bool mixedRefresh(FFTEXTENSION* e, const double* kernL, const double* kernR) {
    if (e->spectramix == nullptr) return false;
    if (!e->monomode) return e->spectramix->mixed(e, kernL, kernR);
    e->spectramix->whole();
    return false;
}

// The kernel spectra are due and not mixed from element spectra (which
// would have made them current): this block transforms the kernel.
bool transformDue(FFTEXTENSION* e, const double* kernL, const double* kernR) {
    if (!CoreCnvlIntl::refreshDue(e)) return false;
    if (!mixedRefresh(e, kernL, kernR)) return true;
    CoreCnvlIntl::refreshDone(e);
    return false;
}

} // namespace

// ---- engine 9: one FFT per block --------------------------------------------

bool CoreCnvlIntl::load3(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N) {
    uloa3(plan, ext);
    const int T = plan->totallength;
    if (plan->pool == nullptr) return refuse("no pool");
    if (B < 1 || T < 1) return refuse("block and kernel length must be positive");
    // A smaller or odd F would wrap the convolution or overrun the buffer.
    const long need = std::max(static_cast<long>(F), static_cast<long>(B) + T - 1);
    if (need > (1L << Fft::iCmaxorder)) return refuse("kernel too long");
    const int n = CoreButl::getp2(static_cast<int>(need));
    plan->work = zeroedDoubles(plan->pool, 3L * n, "CNV3");
    if (!planFft(plan, ext, n, "CNV3")) {
        uloa3(plan, ext);
        return false;
    }
    plan->worklength = n;
    ext->work = plan->work;
    ext->length = n;
    ext->totallength = T;
    ext->spectravalid = false;
    plan->loaded = true;
    plan->partloaded = false;
    N = n;
    return true;
}

// Frees every host-side buffer and FFT a CPU engine may have left in the
// plan, whichever engine loaded it, and forgets them in the extension.
void CoreCnvlIntl::uloa3(FFTSTRUCT* plan, FFTEXTENSION* ext) {
    delete static_cast<Fft*>(plan->fftspec);
    plan->fftspec = nullptr;
    release(plan->pool, plan->fftwork);
    release(plan->pool, plan->work);
    release(plan->pool, plan->spectral);
    release(plan->pool, plan->spectrar);
    release(plan->pool, plan->accuml);
    release(plan->pool, plan->accumr);
    dropPartitions(plan, ext);
    ext->work = nullptr;
    ext->fftspec = nullptr;
    ext->fftwork = nullptr;
    ext->spectral = nullptr;
    ext->spectrar = nullptr;
    ext->accuml = nullptr;
    ext->accumr = nullptr;
    ext->length = 0;
}

void CoreCnvlIntl::clea3(FFTSTRUCT* plan, FFTEXTENSION* ext) {
    ext->spectravalid = false;
    if (!plan->loaded) return; // see clearPartitioned
    if (plan->work != nullptr) std::fill(plan->work, plan->work + 3L * plan->worklength, 0.0);
}

void CoreCnvlIntl::cns10(const double* inL, const double* inR, double* outL, double* outR,
                         const double* kernL, const double* kernR, double* ringL, double* ringR,
                         int N, int p, FFTEXTENSION* ext) {
    if (!callFits(ext, ringL, ringR, N, p)) return silence(outL, outR, ext);
    const bool refresh = refreshDue(ext);
    cnm10(inL, outL, kernL, ringL, N, p, 0, refresh, ext);
    cnm10(inR, outR, kernR, ringR, N, p, 1, refresh, ext);
    if (refresh) refreshDone(ext);
}

// ---- engine 10: uniformly partitioned -----------------------------------------

bool CoreCnvlIntl::load4(int, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N) {
    uloa4(plan, ext);
    const int T = plan->totallength;
    const int L = plan->partlength;
    if (plan->pool == nullptr) return refuse("no pool");
    if (B < 1 || T < 1 || L < 1)
        return refuse("block, kernel and partition lengths must be positive");
    // The delay line shifts partition i by i blocks: only right when L = B.
    if (L != B) return refuse("the partition length must equal the block");
    const long P = (static_cast<long>(T) + L - 1) / L;
    const long n = CoreButl::getp2(B + L - 1);
    if (static_cast<long>(B) + L - 1 > (1L << Fft::iCmaxorder) || P * n > INT_MAX / 2)
        return refuse("kernel too long");
    const int Nn = static_cast<int>(n);
    const long PN = P * n;

    planPartitions(plan, ext, static_cast<int>(P), "CNV4");
    plan->work = zeroedDoubles(plan->pool, 3L * Nn, "CNV4");
    if (!planFft(plan, ext, Nn, "CNV4")) {
        uloa4(plan, ext);
        return false;
    }
    plan->spectral = zeroedDoubles(plan->pool, PN, "CNV4");
    plan->spectrar = zeroedDoubles(plan->pool, PN, "CNV4");
    plan->accuml = zeroedDoubles(plan->pool, PN, "CNV4");
    plan->accumr = zeroedDoubles(plan->pool, PN, "CNV4");

    plan->worklength = Nn;
    ext->work = plan->work;
    ext->length = Nn;
    ext->spectral = plan->spectral;
    ext->spectrar = plan->spectrar;
    ext->accuml = plan->accuml;
    ext->accumr = plan->accumr;
    ext->spectravalid = false;
    plan->loaded = true;
    plan->partloaded = true;
    N = Nn;
    return true;
}

void CoreCnvlIntl::uloa4(FFTSTRUCT* plan, FFTEXTENSION* ext) { uloa3(plan, ext); }

void CoreCnvlIntl::clea4(FFTSTRUCT* plan, FFTEXTENSION* ext) { clearPartitioned(plan, ext); }

void CoreCnvlIntl::cns11(const double* inL, const double* inR, double* outL, double* outR,
                         const double* kernL, const double* kernR, double* ringL, double* ringR,
                         int N, int p, FFTEXTENSION* ext) {
    if (!callFits(ext, ringL, ringR, N, p) || ext->partitions < 1) return silence(outL, outR, ext);
    const bool refresh = transformDue(ext, kernL, kernR);
    cnm11(inL, outL, kernL, ext->spectral, ext->accuml, ringL, N, p, 0, refresh, ext);
    cnm11(inR, outR, kernR, ext->spectrar, ext->accumr, ringR, N, p, 1, refresh, ext);
    if (refresh) refreshDone(ext);
    nextPartition(ext);
}

// ---- engine 11: partitioned, spectra summed across a group -------------------

bool CoreCnvlIntl::load5(int F, FFTSTRUCT* plan, FFTEXTENSION* ext, int B, int& N) {
    if (!load4(F, plan, ext, B, N)) return false;
    plan->needscomp = true;
    plan->complength = N;
    // A computation plan still loaded keeps its mode, so its unload can still
    // free the buffer it owns.
    if (plan->compbuffer == nullptr) {
        ext->compmode = 3;
        ext->complength = N;
    }
    return true;
}

void CoreCnvlIntl::uloa5(FFTSTRUCT* plan, FFTEXTENSION* ext) {
    // Releases an owned computation buffer first; a later ucom1 finds nothing.
    ucom1(plan, ext);
    uloa4(plan, ext);
    plan->needscomp = false;
}

void CoreCnvlIntl::clea5(FFTSTRUCT* plan, FFTEXTENSION* ext) { clearPartitioned(plan, ext); }

void CoreCnvlIntl::cns12(const double* inL, const double* inR, double* outL, double* outR,
                         const double* kernL, const double* kernR, double* ringL, double* ringR,
                         int N, int p, FFTEXTENSION* ext) {
    if (!callFits(ext, ringL, ringR, N, p) || ext->partitions < 1) return silence(outL, outR, ext);
    const bool refresh = transformDue(ext, kernL, kernR);
    if (ext->monomode) {
        // Both channels on the left kernel, held once in the second spectra set.
        cnm12(inL, outL, kernL, ext->spectrar, ext->accuml, ringL, N, p, 0, refresh, ext);
        cnm12(inR, outR, kernL, ext->spectrar, ext->accumr, ringR, N, p, 1, false, ext);
    } else {
        cnm12(inL, outL, kernL, ext->spectral, ext->accuml, ringL, N, p, 0, refresh, ext);
        cnm12(inR, outR, kernR, ext->spectrar, ext->accumr, ringR, N, p, 1, refresh, ext);
    }
    if (refresh) refreshDone(ext);
    nextPartition(ext);
}
