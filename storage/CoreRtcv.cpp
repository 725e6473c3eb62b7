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
    for (short k = 0; k < count; ++k) {
        unsigned short kind;
        int L = 0, M = 0;
        k = stage(row, k, kind, L, M);
        const short slot = mkclc(kind, rate, L, M, length);
        if (slot < 0) break; // logged by mkclc; report what was reached
        apply(slot, data);
        data = slots[slot].out;
        rate = slots[slot].outrate;
        length = slots[slot].outlen;
    }
    outRate = rate;
    outLength = length;
    return data;
}

short CoreRtcv::stage(short row, short k, unsigned short& kind, int& L, int& M) {
    const int f = recipes->getfc(row, k);
    L = 0;
    M = 0;
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

bool CoreRtcv::fits(unsigned short kind, int L, int M, long n) {
    const bool badFactors =
        (kind == 0 && L < 1) || (kind == 1 && M < 1) || (kind == 2 && (L < 1 || M < 1)) || kind > 2;
    // Lengths and taps must fit the 32-bit fields of a design.
    const int64_t grow = (kind == 1) ? 1 : std::max(L, 1);
    return !badFactors && n >= 1 && int64_t(n) * grow <= INT_MAX / 2 &&
           int64_t(iCmaxphase) * std::max(L, M) <= INT_MAX / 2;
}

long CoreRtcv::chainlength(long n, short row) {
    if (n < 1) return 0;
    if (row < 0 || row >= DataRtcv::iCcount || n > INT_MAX) return n;
    const short count = recipes->getst(row);
    long length = n;
    for (short k = 0; k < count; ++k) {
        unsigned short kind;
        int L = 0, M = 0;
        k = stage(row, k, kind, L, M);
        if (!fits(kind, L, M, length)) break; // where cnvrt stops too
        length = (kind == 0)   ? length * L
                 : (kind == 1) ? length / M
                               : static_cast<long>(int64_t(length) * L / M);
    }
    return length;
}

void CoreRtcv::chainratio(short row, long long& up, long long& down) {
    up = 1;
    down = 1;
    if (row < 0 || row >= DataRtcv::iCcount) return;
    const short count = recipes->getst(row);
    for (short k = 0; k < count; ++k) {
        unsigned short kind;
        int L = 0, M = 0;
        k = stage(row, k, kind, L, M);
        if (!fits(kind, L, M, 1)) break;
        if (kind != 1) up *= L;
        if (kind != 0) down *= M;
    }
}

short CoreRtcv::mkclc(unsigned short kind, double rate, int L, int M, int n) {
    for (short i = 0; i < iCslots; ++i) {
        const STAGELOC& s = slots[i];
        if (s.built && s.kind == kind && s.inrate == rate && s.L == L && s.M == M && s.n == n) {
            nextslot = static_cast<short>((i + 1) % iCslots);
            return i;
        }
    }
    const short slot = nextslot;
    dlclc(slot);
    if (!fits(kind, L, M, n)) {
        CoreLog_::loger(CoreAnsx("CoreRtcv::mkclc: no stage for kind ") + CoreAnsx(int(kind)) +
                            CoreAnsx(" L ") + CoreAnsx(L) + CoreAnsx(" M ") + CoreAnsx(M) +
                            CoreAnsx(" n ") + CoreAnsx(n),
                        1);
        return -1;
    }
    try {
        build(&slots[slot], kind, rate, L, M, n);
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

void CoreRtcv::build(STAGELOC* s, unsigned short kind, double rate, int L, int M, int n) {
    s->kind = kind;
    s->inrate = rate;
    s->L = (kind == 1) ? 0 : L;
    s->M = (kind == 0) ? 0 : M;
    s->n = n;
    s->F = (kind == 1) ? M : L;
    const int F = s->F;

    // Prototype.
    int N;
    if (kind == 1)
        N = static_cast<int>(std::min<int64_t>(int64_t(iCmaxphase) * M, n));
    else
        N = static_cast<int>(std::min<int64_t>(int64_t(iCmaxphase) * L, int64_t(n) * L));
    const int h0 = N / 2;
    double* h = take(N, "mkclc");
    std::fill(h, h + std::max(N, 1), 0.0);
    if (h0 >= 1) {
        double centre;
        double factor;
        double gain;
        if (kind == 0 || (kind == 2 && L > M)) {
            centre = 1.0;
            factor = L;
            gain = L;
        } else if (kind == 1) {
            centre = 1.0 / M;
            factor = M;
            gain = 1.0;
        } else {
            centre = static_cast<double>(L) / M;
            factor = M;
            gain = L;
        }
        fillSinc(N, h, centre, factor, gain, true);
        if (N >= 2)
            for (int t = 0; t <= h0 && t < N; ++t) h[t] *= std::pow(blackman(t, N), iCwindowpower);
        flhcp(N, h);
    }

    // Phase layout. With no centre tap (a one-sample block) the design is
    // silent: delay and phase 0, every spectrum zero.
    s->D = (h0 >= 1) ? (h0 - 1) / F : 0;
    s->ph = (h0 >= 1) ? (h0 - 1) % F : 0;
    s->P = N / F;
    s->K = CoreButl::getp2(2 * s->P - 1);
    const int64_t outlen = (kind == 0) ? int64_t(n) * L : (kind == 1) ? n / M : int64_t(n) * L / M;
    s->outlen = static_cast<int>(outlen);
    s->outrate = (kind == 0) ? rate * L : (kind == 1) ? rate / M : rate * L / M;
    s->acclen = std::max(((kind == 1) ? s->outlen : n) + s->P - 1, 1);

    try {
        if (!newpl(pool, &s->plan, s->K)) {
            pool->free_(h);
            return; // not built; mkclc reports
        }
        s->acc = take(s->acclen, "mkclc");
        s->work = take(s->K, "mkclc");
        s->out = take(s->outlen, "mkclc");
        if (kind == 1) s->decin = take(s->outlen, "mkclc");
        s->spectra = static_cast<double**>(pool->mallc(0, F, "RTCV", "mkclc"));
        for (int j = 0; j < F; ++j) s->spectra[j] = nullptr;

        const int taps = (kind == 1) ? s->P - 1 : s->P;
        for (int j = 0; j < F; ++j) {
            double* g = take(s->K, "mkclc");
            s->spectra[j] = g;
            std::fill(g, g + s->K, 0.0);
            if (taps <= 0) continue;
            for (int m = 0; m < taps; ++m)
                g[m] = (kind == 2) ? h[j + m * L] : h[(s->ph + j) % F + m * F];
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
    if (P <= 0) return; // no taps: the convolution is zero
    for (int start = 0; start < n - 1; start += P) {
        const int b = std::min(P, n - 1 - start);
        std::copy(y + start, y + start + b, work);
        std::fill(work + b, work + K, 0.0);
        ippsFFTFwd_RToPack_64f_I(work, s->plan.spec, s->plan.buffer);
        ippsMulPack_64f_I(g, work, K);
        ippsFFTInv_PackToR_64f_I(work, s->plan.spec, s->plan.buffer);
        const int add = std::min({2 * P, P - 1 + n - start, K, s->acclen - start});
        for (int i = 0; i < add; ++i) acc[start + i] += work[i];
    }
}

void CoreRtcv::apply(short slot, const double* y) {
    if (slot < 0 || slot >= iCslots || !slots[slot].built || y == nullptr) {
        CoreLog_::loger(CoreAnsx("CoreRtcv::apply: slot not built ") + CoreAnsx(int(slot)), 1);
        return;
    }
    STAGELOC* s = &slots[slot];
    const int F = s->F;
    const int n = s->n;
    if (s->kind == 0) {
        for (int j = 0; j < F; ++j) {
            ovadd(s, y, n, s->spectra[j]);
            const int first = (j + s->ph) % F;
            for (int m = 0; m < n; ++m) s->out[first + m * F] = s->acc[s->D + m];
        }
    } else if (s->kind == 1) {
        const int count = s->outlen;
        std::fill(s->out, s->out + std::max(count, 1), 0.0);
        for (int j = 0; j < F; ++j) {
            // Phase j holds the taps h[a + m F], a = (ph + j) mod F. Output i is
            // the filter centred on input i F + ph + D F, so tap a + m F must meet
            // input (i + D - m) F + ph - a: the phase reads the inputs ph - a
            // (-F < ph - a <= ph) past each multiple of F. Pairing the taps with
            // any other offset misaligns the phases against each other, which
            // turns the low-pass into a comb (passband droop, aliases let through).
            const int offset = s->ph - (s->ph + j) % F;
            for (int i = 0; i + 1 < count; ++i) {
                const int at = offset + i * F;
                s->decin[i] = (at >= 0) ? y[at] : 0.0; // before the block: silence
            }
            if (count >= 1) s->decin[count - 1] = 0.0;
            ovadd(s, s->decin, count, s->spectra[j]);
            for (int i = 0; i + 1 < count; ++i) s->out[i] += s->acc[s->D + i];
        }
    } else {
        const int L = s->L;
        const int M = s->M;
        const int g = std::gcd(L, M);
        const int period = L / g;    // outputs between two of the same phase
        const int64_t qstep = M / g; // input positions between them
        const int count = s->outlen;
        for (int j = 0; j < F; ++j) {
            ovadd(s, y, n, s->spectra[j]);
            for (int t0 = 0; t0 < period && t0 < count; ++t0) {
                const int64_t pos = int64_t(t0 + 1) * M - 1;
                if (pos % L != j) continue;
                int64_t q = pos / L;
                for (int t = t0; t < count; t += period, q += qstep) s->out[t] = s->acc[s->D + q];
            }
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
    if (s->decin != nullptr) pool->free_(s->decin);
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
