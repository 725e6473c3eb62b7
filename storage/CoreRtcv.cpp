#include "storage/CoreRtcv.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>

#include "platform/PlatSignalVect.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "storage/DataRtcv.h"

const int CoreRtcv::iCslots = 3;
const int CoreRtcv::iCmaxphase = 2048;
const int CoreRtcv::iCwindowpower = 11;

namespace {

const double kPi = CoreButl::dCpi;

double blackman(int k, int n) {
    const double x = static_cast<double>(k) / (n - 1);
    return 0.42 - 0.5 * std::cos(2.0 * kPi * x) + 0.08 * std::cos(4.0 * kPi * x);
}

// Side tap of a sinc: sin(pi k / factor) * gain / (pi k).
double sincTap(int k, double factor, double gain) {
    return std::sin(kPi * k / factor) * gain / (kPi * k);
}

// Centre tap at h - 1, side taps at k + h - 1 for k = 1 - h .. -1 and,
// unless half, k = 1 .. h - 1.
void fillSinc(int n, double* buffer, double centre, double factor, double gain, bool half) {
    const int h = n / 2;
    if (h < 1) return; // no centre position inside n taps
    buffer[h - 1] = centre;
    for (int k = 1 - h; k <= -1; ++k) buffer[k + h - 1] = sincTap(k, factor, gain);
    if (!half)
        for (int k = 1; k <= h - 1; ++k) buffer[h - 1 + k] = sincTap(k, factor, gain);
}

void emptySlot(CoreRtcv::STAGELOC* s) {
    std::memset(static_cast<void*>(s), 0, sizeof(CoreRtcv::STAGELOC));
}

} // namespace

CoreRtcv::CoreRtcv(CorePool* p, DataRtcv* r) : nextslot(0), slots(nullptr), recipes(r), pool(p) {
    slots = static_cast<STAGELOC*>(
        pool->mallc(5, static_cast<int>(sizeof(STAGELOC)) * iCslots, "RTCV", "CoreRtcv"));
    for (int i = 0; i < iCslots; ++i) emptySlot(&slots[i]);
}

CoreRtcv::~CoreRtcv() {
    for (short i = 0; i < iCslots; ++i) dlclc(i);
    pool->free_(slots);
}

const CoreRtcv::STAGELOC* CoreRtcv::getsl(short slot) const {
    if (slot < 0 || slot >= iCslots) return nullptr;
    return &slots[slot];
}

double* CoreRtcv::cnvrt(double* input, long n, long& outLength, double rate, double& outRate,
                        short row) {
    if (row == -1) row = static_cast<short>(recipes->getpt(rate, outRate));
    if (row < 0) {
        outLength = n;
        return input;
    }
    if (input == nullptr || n < 1 || n > INT_MAX || row >= DataRtcv::iCcount) {
        CoreLog_::loger(CoreAnsx("CoreRtcv::cnvrt: nothing to convert (") + CoreAnsx(n) +
                            CoreAnsx(" samples, row ") + CoreAnsx(int(row)) + CoreAnsx(")"),
                        1);
        outLength = n < 0 ? 0 : n;
        outRate = rate;
        return input;
    }
    const short count = recipes->getst(row);
    double* data = input;
    int length = static_cast<int>(n);
    int anchor = 0; // where the block's first sample falls in data
    for (short k = 0; k < count; ++k) {
        unsigned short kind;
        int L = 0, M = 0;
        k = stage(row, k, kind, L, M);
        const short slot = mkclc(kind, rate, L, M, length, anchor);
        if (slot < 0) break; // logged by mkclc; report what was reached
        apply(slot, data);
        data = slots[slot].out;
        rate = slots[slot].outrate;
        length = slots[slot].outlen;
        anchor = slots[slot].lead;
    }
    outRate = rate;
    outLength = length;
    return data;
}

short CoreRtcv::stage(short row, short k, unsigned short& kind, int& L, int& M) {
    const int f = recipes->getfc(row, k);
    L = 1;
    M = 1;
    if (k == 0 && !recipes->getfi(row)) {
        kind = 1;
        M = f;
    } else if (k + 1 >= recipes->getst(row)) {
        kind = 0;
        L = f;
    } else {
        kind = 2;
        L = f;
        M = recipes->getfc(row, static_cast<short>(k + 1));
        ++k;
    }
    return k;
}

bool CoreRtcv::fits(int L, int M, long n) {
    // Lengths and taps must fit the 32-bit fields of a design.
    return L >= 1 && M >= 1 && n >= 1 && int64_t(iCmaxphase) * std::max(L, M) <= INT_MAX / 4 &&
           int64_t(n) * L + int64_t(iCmaxphase) * std::max(L, M) <= INT_MAX / 2;
}

CoreRtcv::SHAPELOC CoreRtcv::shape(int L, int M) {
    SHAPELOC p{};
    p.N = iCmaxphase * (L > 1 ? L : M);
    p.c = p.N / 2 - 1;
    // The cutoff is the lower of the two Nyquist rates; the gain L makes up
    // for the zeros interpolation puts between the input samples.
    p.factor = L > M ? L : M;
    p.gain = L;
    const double centre = (L > M) ? 1.0 : static_cast<double>(L) / M;
    p.peak = centre * std::pow(blackman(p.c, 2 * p.c + 1), iCwindowpower);
    // The taps outside [edge, 2c - edge] stay below -140 dB of the centre's:
    // the output stops there instead of running the whole prototype out (a
    // margin below -120 dB, so a file with silence in front converts to the
    // same samples within 1e-6 of the peak).
    const double floor = 1e-7 * std::fabs(p.peak);
    p.edge = p.c;
    for (int t = 0; t < p.c; ++t)
        if (std::fabs(sincTap(t - p.c, p.factor, p.gain)) *
                std::pow(blackman(t, 2 * p.c + 1), iCwindowpower) >=
            floor) {
            p.edge = t;
            break;
        }
    return p;
}

void CoreRtcv::place(const SHAPELOC& p, int L, int M, int n, int anchor, int& first, int& lead,
                     int& outlen) {
    // Input sample i is centred on upsampled position i L + c. Output t is
    // taken at position first + t M, with first the last position at or before
    // the response's start that lies a whole number of outputs before the
    // anchor's centre: the anchor lands on output lead exactly.
    const int64_t centre = int64_t(anchor) * L + p.c;
    const int64_t back = ((int64_t(p.edge) - centre) % M + M) % M;
    first = static_cast<int>(p.edge - back);
    lead = static_cast<int>((centre - first) / M);
    const int64_t last = int64_t(n - 1) * L + 2 * p.c - p.edge;
    outlen = static_cast<int>((last - first) / M + 1);
}

long CoreRtcv::chainlength(long n, short row) {
    if (n < 1) return 0;
    if (row < 0 || row >= DataRtcv::iCcount || n > INT_MAX) return n;
    long lead = 0;
    return walk(n, row, lead);
}

long CoreRtcv::chainlead(short row) {
    if (row < 0 || row >= DataRtcv::iCcount) return 0;
    long lead = 0;
    walk(1, row, lead);
    return lead;
}

long CoreRtcv::walk(long n, short row, long& lead) {
    const short count = recipes->getst(row);
    int length = static_cast<int>(n);
    int anchor = 0;
    for (short k = 0; k < count; ++k) {
        unsigned short kind;
        int L = 1, M = 1;
        k = stage(row, k, kind, L, M);
        if (!fits(L, M, length)) break; // where cnvrt stops too
        int first = 0;
        place(shape(L, M), L, M, length, anchor, first, anchor, length);
    }
    lead = anchor;
    return length;
}

void CoreRtcv::chainratio(short row, long long& up, long long& down) {
    up = 1;
    down = 1;
    if (row < 0 || row >= DataRtcv::iCcount) return;
    const short count = recipes->getst(row);
    for (short k = 0; k < count; ++k) {
        unsigned short kind;
        int L = 1, M = 1;
        k = stage(row, k, kind, L, M);
        if (!fits(L, M, 1)) break;
        up *= L;
        down *= M;
    }
}

short CoreRtcv::mkclc(unsigned short kind, double rate, int L, int M, int n, int anchor) {
    for (short i = 0; i < iCslots; ++i) {
        const STAGELOC& s = slots[i];
        if (s.built && s.kind == kind && s.inrate == rate && s.L == L && s.M == M && s.n == n &&
            s.anchor == anchor) {
            nextslot = static_cast<short>((i + 1) % iCslots);
            return i;
        }
    }
    const short slot = nextslot;
    dlclc(slot);
    if (kind > 2 || !fits(L, M, n) || anchor < 0 || (kind == 0 && M != 1) ||
        (kind == 1 && L != 1)) {
        CoreLog_::loger(CoreAnsx("CoreRtcv::mkclc: no stage for kind ") + CoreAnsx(int(kind)) +
                            CoreAnsx(" L ") + CoreAnsx(L) + CoreAnsx(" M ") + CoreAnsx(M) +
                            CoreAnsx(" n ") + CoreAnsx(n),
                        1);
        return -1;
    }
    try {
        build(&slots[slot], kind, rate, L, M, n, anchor);
    } catch (...) {
        dlclc(slot); // a half-built design must not be reused
        throw;
    }
    if (!slots[slot].built) {
        dlclc(slot);
        return -1;
    }
    nextslot = static_cast<short>((slot + 1) % iCslots);
    return slot;
}

double* CoreRtcv::take(int count, const char* op) {
    // A block of at least one value, so degenerate designs still own valid buffers.
    return static_cast<double*>(pool->mallc(0, std::max(count, 1), "RTCV", op));
}

void CoreRtcv::build(STAGELOC* s, unsigned short kind, double rate, int L, int M, int n,
                     int anchor) {
    s->kind = kind;
    s->inrate = rate;
    s->L = L;
    s->M = M;
    s->n = n;
    s->anchor = anchor;
    s->F = L;
    const SHAPELOC p = shape(L, M);
    place(p, L, M, n, anchor, s->first, s->lead, s->outlen);
    s->edge = p.edge;
    s->P = p.N / L;
    s->K = CoreButl::getp2(2 * s->P - 1);
    s->outrate = rate * L / M;
    s->acclen = n + s->P - 1;

    // Prototype: a window centred on tap c over a sinc centred there too; a
    // window half a tap off would leave the phases' gains -100 dB apart.
    const int N = p.N;
    double* h = take(N, "mkclc");
    std::fill(h, h + N, 0.0);
    h[p.c] = p.peak;
    for (int t = 0; t < p.c; ++t)
        h[t] =
            sincTap(t - p.c, p.factor, p.gain) * std::pow(blackman(t, 2 * p.c + 1), iCwindowpower);
    for (int t = 1; t <= p.c; ++t) h[p.c + t] = h[p.c - t];

    try {
        if (!newpl(pool, &s->plan, s->K)) {
            pool->free_(h);
            return; // not built; mkclc reports
        }
        s->acc = take(s->acclen, "mkclc");
        s->work = take(s->K, "mkclc");
        s->out = take(s->outlen, "mkclc");
        s->spectra = static_cast<double**>(pool->mallc(0, L, "RTCV", "mkclc"));
        for (int j = 0; j < L; ++j) s->spectra[j] = nullptr;
        // Phase j holds the taps j, j + L, j + 2 L ...: it makes the upsampled
        // positions j modulo L of the filtered signal.
        for (int j = 0; j < L; ++j) {
            double* g = take(s->K, "mkclc");
            s->spectra[j] = g;
            std::fill(g, g + s->K, 0.0);
            for (int m = 0; m < s->P; ++m) g[m] = h[j + m * L];
            ippsFFTFwd_RToPack_64f_I(g, s->plan.spec, s->plan.buffer);
        }
    } catch (...) {
        pool->free_(h); // the slot's own blocks are freed by mkclc
        throw;
    }
    pool->free_(h);
    s->built = 1;
}

void CoreRtcv::ovadd(STAGELOC* s, const double* y, int n, const double* g) {
    double* acc = s->acc;
    double* work = s->work;
    const int P = s->P;
    const int K = s->K;
    std::fill(acc, acc + s->acclen, 0.0);
    for (int start = 0; start < n; start += P) {
        const int b = std::min(P, n - start);
        std::copy(y + start, y + start + b, work);
        std::fill(work + b, work + K, 0.0);
        ippsFFTFwd_RToPack_64f_I(work, s->plan.spec, s->plan.buffer);
        ippsMulPack_64f_I(g, work, K);
        ippsFFTInv_PackToR_64f_I(work, s->plan.spec, s->plan.buffer);
        const int add = std::min(b + P - 1, s->acclen - start);
        for (int i = 0; i < add; ++i) acc[start + i] += work[i];
    }
}

void CoreRtcv::apply(short slot, const double* y) {
    if (slot < 0 || slot >= iCslots || !slots[slot].built || y == nullptr) {
        CoreLog_::loger(CoreAnsx("CoreRtcv::apply: slot not built ") + CoreAnsx(int(slot)), 1);
        return;
    }
    STAGELOC* s = &slots[slot];
    const int L = s->L;
    const int M = s->M;
    const int count = s->outlen;
    const int period = L / std::gcd(L, M); // outputs between two of the same phase
    std::fill(s->out, s->out + count, 0.0);
    for (int j = 0; j < L; ++j) {
        ovadd(s, y, s->n, s->spectra[j]);
        for (int t0 = 0; t0 < period && t0 < count; ++t0) {
            const int64_t m0 = int64_t(s->first) + int64_t(t0) * M;
            if (((m0 % L) + L) % L != j) continue;
            // Positions before the first input's response are silence.
            for (int64_t t = t0, m = m0; t < count; t += period, m += int64_t(period) * M)
                if (m >= 0 && m / L < s->acclen) s->out[t] = s->acc[m / L];
        }
    }
}

void CoreRtcv::dlclc(short slot) {
    if (slot < 0 || slot >= iCslots) return;
    STAGELOC* s = &slots[slot];
    // Frees whatever exists, so a design that failed half-way is cleaned too.
    if (s->spectra != nullptr) {
        for (int j = 0; j < s->F; ++j)
            if (s->spectra[j] != nullptr) pool->free_(s->spectra[j]);
        pool->free_(s->spectra);
    }
    if (s->acc != nullptr) pool->free_(s->acc);
    if (s->work != nullptr) pool->free_(s->work);
    if (s->out != nullptr) pool->free_(s->out);
    delpl(pool, &s->plan);
    emptySlot(s);
}

bool CoreRtcv::newpl(CorePool* p, IPPPLAN* plan, int size) {
    plan->spec = nullptr;
    plan->buffer = nullptr;
    const IppStatus status = ippsFFTInitAlloc_R_64f(&plan->spec, CoreButl::geto2(size),
                                                    IPP_FFT_DIV_INV_BY_N, ippAlgHintAccurate);
    if (status != ippStsNoErr) {
        CoreLog_::loger(CoreAnsx("CoreRtcv::newpl: no FFT of size ") + CoreAnsx(size) +
                            CoreAnsx(", status ") + CoreAnsx(status),
                        1);
        plan->spec = nullptr;
        return false;
    }
    int bytes = 0;
    ippsFFTGetBufSize_R_64f(plan->spec, &bytes);
    try {
        plan->buffer = static_cast<Ipp8u*>(p->mallc(5, bytes, "RTCV", "newpl"));
    } catch (...) {
        ippsFFTFree_R_64f(plan->spec);
        plan->spec = nullptr;
        throw;
    }
    return true;
}

void CoreRtcv::delpl(CorePool* p, IPPPLAN* plan) {
    if (plan->spec != nullptr) ippsFFTFree_R_64f(plan->spec);
    if (plan->buffer != nullptr) p->free_(plan->buffer);
    plan->spec = nullptr;
    plan->buffer = nullptr;
}

void CoreRtcv::flblk(int n, double* buffer, double p, bool half) {
    if (buffer == nullptr || n < 2)
        return; // a window of one value has no shape (and n - 1 would be 0)
    const int count = half ? std::min(n / 2 + 1, n) : n;
    const double power = (p > 0) ? 1.0 + std::ceil(p) : 1.0;
    for (int k = 0; k < count; ++k) {
        const double w = blackman(k, n);
        buffer[k] *= (power == 1.0) ? w : std::pow(w, power);
    }
}

void CoreRtcv::flint(int n, double* buffer, int L, bool half) {
    if (buffer == nullptr || L == 0) return;
    fillSinc(n, buffer, 1.0, L, L, half);
}

void CoreRtcv::fldec(int n, double* buffer, int M, bool half) {
    if (buffer == nullptr || M == 0) return;
    fillSinc(n, buffer, 1.0 / M, M, 1.0, half);
}

void CoreRtcv::flfrc(int n, double* buffer, double gain, double factor, bool half) {
    if (buffer == nullptr || factor == 0.0) return;
    fillSinc(n, buffer, gain / factor, factor, gain, half);
}

void CoreRtcv::flhcp(int n, double* buffer) {
    if (buffer == nullptr || n < 1) return;
    const int h0 = n / 2;
    if (h0 >= 2)
        for (int i = 0; i <= h0 - 2; ++i) buffer[h0 + i] = buffer[h0 - 2 - i];
    for (int t = (h0 >= 2) ? 2 * h0 - 1 : h0; t < n; ++t) buffer[t] = 0.0;
}

void CoreRtcv::frcps(int L, int M, int count, int start, int sought, int& steps, int& carries) {
    if (start == sought && count < 1) return;
    if (L < 1 || M < 0) return;
    const int wanted = std::max(count, 1);
    int met = 0;
    int phase = start;
    // The phases reachable from start repeat after L steps; a sought phase not
    // met by then never will be, so the walk stops instead of spinning.
    const int64_t limit = int64_t(L) * wanted;
    for (int64_t i = 0; i < limit && met < wanted; ++i) {
        phase += M;
        ++steps;
        while (phase >= L) {
            phase -= L;
            ++carries;
        }
        if (phase == sought) ++met;
    }
}
