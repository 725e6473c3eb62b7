// The numeric and signal half of CoreButl: integers and powers of two,
// times, buffers, windows, the FFT, sample bytes, table lookups and the
// kernel tree. Nothing here locks or touches a file, and nothing allocates
// but fftdb's refusal of a size no caller should pass, so the audio thread may
// call any of it; the path, file and text half is CoreButlFile.cpp.
#include "runtime/CoreButl.h"

#include <cmath>
#include <cstdlib>

double CoreButl::lindb(double x) {
    x = flushSubnormal(x);
    if (!(x > 0.0)) return dCdbmin;
    double db = 20.0 * std::log10(x);
    return db < dCdbmin ? dCdbmin : db;
}

// ---- Integers and powers of two ------------------------------------------

bool CoreButl::ispo2(unsigned n) { return n >= 2 && (n & (n - 1)) == 0; }

// Bit length of a non-negative int (0 for 0).
static int bitLength(int n) {
    int bits = 0;
    for (unsigned v = static_cast<unsigned>(n); v != 0; v >>= 1) ++bits;
    return bits;
}

int CoreButl::getp2(int n) {
    if (n <= 0) return 1; // a negative count is a caller fault; answer the smallest power
    if (ispo2(static_cast<unsigned>(n))) return n;
    int bits = bitLength(n);
    if (bits >= 31) return 1 << 30; // 2^31 does not fit an int; the largest power does
    return 1 << bits;
}

int CoreButl::geto2(int n) {
    if (n <= 0) return 0;
    int bits = bitLength(n);
    return ispo2(static_cast<unsigned>(n)) ? bits - 1 : bits;
}

int CoreButl::nrobn(unsigned n) {
    if (n == 0) return 0;
    int count = 0;
    while ((n & 1u) == 0) {
        n >>= 1;
        ++count;
    }
    return count;
}

unsigned CoreButl::revbt(unsigned v, unsigned bits) {
    unsigned r = 0;
    for (unsigned i = 0; i < bits && i < 32; ++i) {
        r = (r << 1) | (v & 1u);
        v >>= 1;
    }
    return r;
}

int CoreButl::setmn(int n, int m) {
    if (n < 1 || m < 2) return n;
    float quotient = static_cast<float>(n) / static_cast<float>(m);
    return static_cast<int>(static_cast<double>(m) * std::ceil(static_cast<double>(quotient)));
}

// ---- Times and sample counts ------------------------------------------------

long CoreButl::tpfup(int rate, long us) {
    if (us < 1) return us;
    return static_cast<long>(static_cast<double>(rate) * static_cast<double>(us) / dCu);
}

double CoreButl::tpfud(int rate, long us) {
    return static_cast<double>(rate) * static_cast<double>(us) / dCu;
}

double CoreButl::upftp(int rate, long samples) {
    if (rate < 1) return static_cast<double>(samples);
    return static_cast<double>(samples) * dCu / static_cast<double>(rate);
}

// ---- Buffers ------------------------------------------------------------------

double CoreButl::getgn(double const* buf, long offset, long count) {
    if (count < 1 || buf == nullptr) return 0.0;
    double peak = 0.0;
    for (long i = offset; i < offset + count; ++i) {
        double a = std::fabs(buf[i]);
        if (a > peak) peak = a;
    }
    return peak;
}

double CoreButl::getgn(double* const* bufs, short channel, long offset, long count) {
    if (bufs == nullptr || channel < 0) return 0.0;
    return getgn(bufs[channel], offset, count);
}

long CoreButl::getpk(double const* buf, long offset, long count) {
    if (count < 1 || buf == nullptr) return 0;
    long best = offset;
    double peak = std::fabs(buf[offset]);
    for (long i = offset + 1; i < offset + count; ++i) {
        double a = std::fabs(buf[i]);
        if (a > peak) {
            peak = a;
            best = i;
        }
    }
    return best;
}

int CoreButl::getsg(double const* buf, long n) {
    if (buf == nullptr) return 0;
    long best = 0;
    for (long i = 1; i < n; ++i)
        if (std::fabs(buf[i]) > std::fabs(buf[best])) best = i;
    return buf[best] > 0.0 ? 1 : (buf[best] < 0.0 ? -1 : 0);
}

void CoreButl::movp0(int n, int m, double* dst, double const* src) {
    if (m > n) m = n;
    if (m < 0) m = 0;
    if (m > 0) std::memmove(dst, src, static_cast<std::size_t>(m) * sizeof(double));
    for (int i = m; i < n; ++i) dst[i] = 0.0;
}

void CoreButl::mvwav(double const* src, long srcLength, long srcAnchor, double* dst, long dstLength,
                     long dstAnchor) {
    for (long i = 0; i < dstLength; ++i) dst[i] = 0.0;
    // Elements before the anchor that fit on both sides, then the anchor and after.
    long before = srcAnchor < dstAnchor ? srcAnchor : dstAnchor;
    long after = (srcLength - srcAnchor) < (dstLength - dstAnchor) ? (srcLength - srcAnchor)
                                                                   : (dstLength - dstAnchor);
    if (before < 0 || after < 0) return;
    for (long k = -before; k < after; ++k) dst[dstAnchor + k] = src[srcAnchor + k];
}

void CoreButl::fdecc(long n, double* buf) {
    if (n < 2) {
        for (long i = 0; i < n; ++i) buf[i] = 0.0;
        return;
    }
    for (long i = 0; i < n; ++i) buf[i] = static_cast<double>(i) / static_cast<double>(n - 1);
}

void CoreButl::fdecc(long n, double* buf, short order, bool rising) {
    if (n < 1) return;
    if (n == 1) {
        // One sample: the end point of the fade (a rising fade has arrived at
        // full level, a falling one has not started).
        buf[0] = 1.0;
        return;
    }
    double steps = static_cast<double>(n - 1);
    if (order <= 19) {
        for (long i = 0; i < n; ++i) {
            double x =
                rising ? static_cast<double>(i) / steps : static_cast<double>(n - 1 - i) / steps;
            double v = x;
            if (order >= 2) {
                v = 1.0;
                for (int k = 0; k < order; ++k) v *= x;
            }
            buf[i] = flushSubnormal(v);
        }
    } else {
        int power = order - 20;
        for (long i = 0; i < n; ++i) {
            double g = rising ? -100.0 + 100.0 * static_cast<double>(i) / steps
                              : -100.0 * static_cast<double>(i) / steps;
            double v = std::pow(10.0, g / 20.0);
            if (power >= 2) v = std::pow(v, static_cast<double>(power));
            buf[i] = flushSubnormal(v);
        }
    }
}

void CoreButl::cfdcc(long n, double* buf) {
    for (long i = 0; i < n; ++i) buf[i] = flushSubnormal(1.0 - buf[i]);
}

double CoreButl::divmg(double a, double b, double w) { return (w * b + (1.0 - w) * a) / a; }

void CoreButl::whtns(double* buf, int n, double gain) {
    for (int i = 0; i < n; ++i) {
        double r = static_cast<double>(std::rand());
        buf[i] = (6.0 * 10923.0 * r / 2147483648.0 - 32766.0) / 32767.0 * gain;
    }
}

void CoreButl::windw(double* buf, int n, short type) {
    if (n < 1 || type < 0 || type > 4) return;
    // One sample: the x-based windows would divide by n - 1 = 0, so the sample
    // is left as it is. Hamming divides by n + 1 and keeps its own value.
    if (n == 1 && type != 1) return;
    double denom = n > 1 ? static_cast<double>(n - 1) : 1.0;
    for (int i = 0; i < n; ++i) {
        double x = dCpi * static_cast<double>(i) / denom;
        double w = 1.0;
        switch (type) {
        case 0: w = 0.5 * (1.0 - std::cos(2.0 * x)); break;
        case 1:
            w = 0.53836 - 0.46164 * std::cos(2.0 * dCpi * static_cast<double>(i) /
                                             static_cast<double>(n + 1));
            break;
        case 2:
            w = 1.0 - 1.93 * std::cos(2.0 * x) + 1.29 * std::cos(4.0 * x) -
                0.388 * std::cos(6.0 * x) + 0.032 * std::cos(8.0 * x);
            break;
        case 3:
            w = 0.3635819 - 0.4891775 * std::cos(2.0 * x) + 0.1365995 * std::cos(4.0 * x) -
                0.0106411 * std::cos(6.0 * x);
            break;
        case 4: {
            w = 0.0;
            for (int k = 0; k < iCalbrecht; ++k) {
                double term = dCalbrecht[k] * std::cos(2.0 * k * x);
                w += (k % 2 == 0) ? term : -term;
            }
            break;
        }
        }
        buf[i] *= w;
    }
}

// Linear factor of a level in dB, with a zero-exponent level taken as 0 dB.
static double levelToLinear(double db) {
    return std::pow(10.0, CoreButl::flushSubnormal(db) / 20.0);
}

void CoreButl::fixbd(double* m, int n, double fraction, int referenceBin) {
    if (m == nullptr || n < 1) return;
    double T = 0.5 * static_cast<double>(n) * fraction;
    double R;
    if (referenceBin > 0 && referenceBin < n) {
        R = lindb(m[referenceBin]);
    } else {
        // A reference bin past the end cannot be read: fall back to the band mean.
        long w = static_cast<long>(static_cast<double>(n) - 2.0 * T);
        if (w < 1) w = 1;
        if (w > n) w = n;
        long s = n / 2 - w / 2;
        if (s + w >= n) {
            s = 0;
            w = n;
        }
        double sum = 0.0;
        for (long i = s; i < s + w; ++i) sum += lindb(m[i]);
        R = sum / static_cast<double>(w);
    }
    if (T > 0.0) {
        long tb = static_cast<long>(T);
        if (tb > n) tb = n;
        for (long i = n - tb; i < n; ++i) {
            double j = static_cast<double>(i - n);
            double d = lindb(m[i]);
            double level = d - (d - R) * (j + T) / T;
            m[i] = levelToLinear(level);
        }
        double B = static_cast<double>(iCfixbdbass) * T;
        if (B > n) B = n;
        long bb = static_cast<long>(B);
        for (long k = 0; k < bb; ++k) {
            double d = lindb(m[k]);
            double level = d - (d - R) * (B - static_cast<double>(k)) / B;
            m[k] = levelToLinear(level);
        }
    }
}

void CoreButl::fftdb(unsigned n, int inverse, double const* reIn, double const* imIn, double* reOut,
                     double* imOut) {
    if (!ispo2(n)) throw CoreAnsx("");
    unsigned bits = static_cast<unsigned>(nrobn(n));
    for (unsigned i = 0; i < n; ++i) {
        unsigned j = revbt(i, bits);
        reOut[j] = reIn[i];
        imOut[j] = imIn != nullptr ? imIn[i] : 0.0;
    }
    double numerator = inverse ? 2.0 * dCpi : -2.0 * dCpi;
    for (unsigned size = 2; size <= n; size <<= 1) {
        unsigned half = size / 2;
        double delta = numerator / static_cast<double>(size);
        // Twiddles by recurrence: w(k+1) = w(k) * e^(i delta).
        double sd = std::sin(delta);
        double cd = std::cos(delta);
        double wr = 1.0;
        double wi = 0.0;
        for (unsigned k = 0; k < half; ++k) {
            for (unsigned start = 0; start < n; start += size) {
                unsigned a = start + k;
                unsigned b = a + half;
                double tr = wr * reOut[b] - wi * imOut[b];
                double ti = wr * imOut[b] + wi * reOut[b];
                reOut[b] = reOut[a] - tr;
                imOut[b] = imOut[a] - ti;
                reOut[a] += tr;
                imOut[a] += ti;
            }
            double nwr = wr * cd - wi * sd;
            wi = wr * sd + wi * cd;
            wr = nwr;
        }
    }
    if (inverse) {
        for (unsigned i = 0; i < n; ++i) {
            reOut[i] /= static_cast<double>(n);
            imOut[i] /= static_cast<double>(n);
        }
    }
}

// ---- Sample bytes -----------------------------------------------------------------

// Stores the bytes of a value little-endian at buf + offset.
template <typename T> static void storeLittle(T value, char* buf, int offset) {
    unsigned char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    // The platform is little-endian; the copy keeps the byte order of the file.
    std::memcpy(buf + offset, raw, sizeof(T));
}

void CoreButl::chfdb(double v, char* buf, int offset, bool wide) {
    if (wide)
        storeLittle<double>(v, buf, offset);
    else
        storeLittle<float>(static_cast<float>(v), buf, offset);
}

void CoreButl::chffl(float v, char* buf, int offset, bool wide) {
    if (wide)
        storeLittle<double>(static_cast<double>(v), buf, offset);
    else
        storeLittle<float>(v, buf, offset);
}

void CoreButl::wrfwv(char const* tag, char* buf) { std::memcpy(buf, tag, 4); }

// ---- Table lookups ------------------------------------------------------------------

double CoreButl::envsv(double x, int n, double const* table, double step, double& next,
                       bool skipFirst) {
    int first = skipFirst ? 1 : 0;
    if (n <= first || table == nullptr) {
        next = 0.0;
        return 0.0;
    }
    double q = step != 0.0 ? x / step : 0.0;
    double fl = std::floor(q);
    // Clamp before converting so a huge position cannot overflow the index.
    double jd = fl + static_cast<double>(first);
    if (jd < static_cast<double>(first)) {
        next = table[first];
        return table[first];
    }
    if (jd < static_cast<double>(n - 1)) {
        int j = static_cast<int>(jd);
        next = table[j + 1];
        return table[j] + (table[j + 1] - table[j]) * (q - fl);
    }
    next = table[n - 1];
    return table[n - 1];
}

// Fractional position of value inside segment [a, b], or -1 when outside.
static double segmentFraction(double value, double a, double b) {
    double lo = a < b ? a : b;
    double hi = a < b ? b : a;
    if (value < lo || value > hi) return -1.0;
    if (b == a) return 0.0;
    return (value - a) / (b - a);
}

double CoreButl::envst(double value, int n, double const* table, double step, bool falling) {
    (void)falling; // the segment test works for either direction
    for (int i = n - 2; i >= 0; --i) {
        double f = segmentFraction(value, table[i], table[i + 1]);
        if (f >= 0.0) return (static_cast<double>(i) + f) * step;
    }
    return static_cast<double>(n) * step;
}

double CoreButl::enste(double value, int n, double const* table, double step, bool falling) {
    int low = 0;
    int high = n - 1;
    while (high - low > iCenste) {
        int mid = low + (high - low) / 2;
        bool below = falling ? value > table[mid] : value < table[mid];
        if (below)
            high = mid;
        else
            low = mid;
    }
    for (int i = low; i < high; ++i) {
        double f = segmentFraction(value, table[i], table[i + 1]);
        if (f >= 0.0) return (static_cast<double>(i) + f) * step;
    }
    return static_cast<double>(n) * step;
}

long CoreButl::lsswt(double f1, double f2, double f, long steps) {
    return static_cast<long>(std::log(f / f1) * static_cast<double>(steps) / std::log(f2 / f1));
}

// ---- Kernel tree ----------------------------------------------------------------------

CoreButl::VECTORELEMENT* CoreButl::btini(VECTORELEMENT* elements, int n) {
    if (elements == nullptr || n < 1) return nullptr;
    for (int i = 0; i < n; ++i) {
        elements[i].left = nullptr;
        elements[i].right = nullptr;
    }
    for (int i = 0; i < n - 1; ++i)
        for (int j = i + 1; j < n; ++j)
            if (elements[j].position < elements[i].position) {
                VECTORELEMENT t = elements[i];
                elements[i] = elements[j];
                elements[j] = t;
            }
    int used = 1;
    while (used < n && elements[used].position != elements[used - 1].position) ++used;
    return btpop(elements, used, 0, used - 1);
}

CoreButl::VECTORELEMENT* CoreButl::btpop(VECTORELEMENT* elements, int n, int low, int high) {
    if (low > high || low < 0 || high >= n) return nullptr;
    int root = low + (high - low + 1) / 2; // low + ceil((high - low) / 2)
    VECTORELEMENT* node = &elements[root];
    node->left = btpop(elements, n, low, root - 1);
    node->right = btpop(elements, n, root + 1, high);
    return node;
}
