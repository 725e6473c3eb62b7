#include "runtime/CoreButl.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/CoreLog_.h"
#include "runtime/CoreVutl.h"
#include "runtime/CoreXutl.h"

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

double CoreButl::dbfch(char const* bytes, int offset, short size) {
    unsigned char const* p = reinterpret_cast<unsigned char const*>(bytes) + offset;
    switch (size) {
    case 1: return (static_cast<double>(p[0]) - 128.0) / 127.0;
    case 2: {
        int v = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
        return static_cast<double>(v) / 32767.0;
    }
    case 3: {
        int32_t v =
            static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                 (static_cast<uint32_t>(p[2]) << 16));
        if (v & 0x800000) v -= 0x1000000; // sign-extend 24 bits
        return static_cast<double>(v) / 8388607.0;
    }
    case 4: {
        uint32_t bits = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                        (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return static_cast<double>(f);
    }
    default: return 0.0;
    }
}

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

// ---- Path parts -------------------------------------------------------------------------

namespace {

// The four parts of a path as split by CoreVutl::fnspl.
struct PathParts {
    CoreAnsx drive;
    CoreAnsx folder;
    CoreAnsx name;
    CoreAnsx extension;
};

PathParts splitPath(CoreAnsx const& path) {
    std::size_t size = std::strlen(path.c_str()) + 1;
    std::vector<char> drive(size), folder(size), name(size), extension(size);
    CoreVutl::fnspl(path.c_str(), drive.data(), folder.data(), name.data(), extension.data());
    return PathParts{CoreAnsx(drive.data()), CoreAnsx(folder.data()), CoreAnsx(name.data()),
                     CoreAnsx(extension.data())};
}

bool isDirectory(char const* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(char const* path) {
    struct stat st;
    return ::lstat(path, &st) == 0;
}

} // namespace

CoreAnsx CoreButl::getpt(CoreAnsx const& path) {
    PathParts p = splitPath(path);
    return p.drive + p.folder;
}

CoreAnsx CoreButl::getfn(CoreAnsx const& path, bool withoutExtension) {
    PathParts p = splitPath(path);
    return withoutExtension ? p.name : p.name + p.extension;
}

CoreAnsx CoreButl::getfx(CoreAnsx const& path) { return splitPath(path).extension.UpperCase(); }

CoreAnsx CoreButl::setfx(CoreAnsx const& path, CoreAnsx const& extension) {
    PathParts p = splitPath(path);
    return p.drive + p.folder + p.name + extension.LowerCase();
}

CoreAnsx CoreButl::rnfle(CoreAnsx const& path, CoreAnsx const& suffix, bool nameOnly) {
    PathParts p = splitPath(path);
    CoreAnsx result = nameOnly ? CoreAnsx("") : p.drive + p.folder;
    return result + p.name + suffix + p.extension;
}

CoreAnsx CoreButl::ffpen(CoreAnsx const& path) { return rplce(path, '\\', '/'); }

CoreAnsx CoreButl::getvs(CoreAnsx const& path, short digits) {
    int d = digits < 1 ? 1 : digits;
    CoreAnsx extension = getfx(path);
    CoreAnsx base = setfx(path, "");
    int length = base.Length();
    CoreAnsx numbered;
    if (length > d && base.c_str()[length - d - 1] == bCversionseparator) {
        int k = base.SubString(length - d + 1, d).ToInt();
        CoreAnsx next = intas(k + 1);
        while (next.Length() < d) next = CoreAnsx('0') + next;
        // Only the last d digits are kept, so the count wraps to all zeros.
        numbered = base.SubString(1, length - d) + next.SubString(next.Length() - d + 1, d);
    } else {
        numbered = base + CoreAnsx(bCversionseparator) + lpad_("1", d, '0');
    }
    return setfx(numbered, extension);
}

CoreAnsx CoreButl::getpv(CoreAnsx const& path, CoreAnsx const& fallback,
                         CoreAnsx const& extension) {
    CoreAnsx folder = getpt(path);
    if (folder.Length() > 0 && isDirectory(ffpen(folder).c_str())) return setfx(path, extension);
    CoreAnsx name = getfn(path, true);
    if (name == "" || name == "0") return setfx(fallback, extension);
    return setfx(getpt(fallback) + name, extension);
}

CoreAnsx CoreButl::rslve(CoreAnsx const& path) {
    CoreAnsx given = ffpen(path);
    char const* text = given.c_str();
    if (*text == '\0' || exists(text)) return given;

    // Walk the components; keep each one that exists as given, else take the
    // entry of its folder that matches without regard to case. Of several
    // such entries the lowest by byte order wins, so the answer is stable.
    std::string resolved = text[0] == '/' ? "/" : "";
    std::string rest = text;
    std::size_t pos = 0;
    while (pos < rest.size()) {
        std::size_t slash = rest.find('/', pos);
        std::size_t end = slash == std::string::npos ? rest.size() : slash;
        std::string component = rest.substr(pos, end - pos);
        pos = end + 1;
        if (component.empty()) continue;
        std::string candidate = resolved + component;
        // A component with more to follow must be a folder: a file of the
        // same name in another case cannot lead anywhere.
        bool needFolder = slash != std::string::npos;
        bool usable = needFolder ? isDirectory(candidate.c_str()) : exists(candidate.c_str());
        if (!usable && component != "." && component != "..") {
            std::string folder = resolved.empty() ? "." : resolved;
            DIR* dir = ::opendir(folder.c_str());
            if (dir == nullptr) return given;
            std::string best;
            while (dirent* entry = ::readdir(dir)) {
                if (::strcasecmp(entry->d_name, component.c_str()) == 0 &&
                    (best.empty() || std::strcmp(entry->d_name, best.c_str()) < 0) &&
                    (!needFolder || isDirectory((resolved + entry->d_name).c_str())))
                    best = entry->d_name;
            }
            ::closedir(dir);
            if (best.empty()) return given;
            candidate = resolved + best;
        }
        resolved = candidate;
        if (slash != std::string::npos) resolved += '/';
    }
    return CoreAnsx(resolved.c_str());
}

// ---- Whole files --------------------------------------------------------------------------

FILE* CoreButl::ffpen(CoreAnsx const& path, CoreAnsx const& mode) {
    // Existing files are found regardless of the case of their name; files
    // opened for writing keep the name as given.
    char first = mode.c_str()[0];
    CoreAnsx target = (first == 'r' || first == 'a') ? rslve(path) : ffpen(path);
    return std::fopen(target.c_str(), mode.c_str());
}

CoreAnsx CoreButl::getfc(CoreAnsx const& path) {
    FILE* file = ffpen(path, "rb");
    if (file == nullptr) return CoreAnsx(0);
    // The text ends at the first NUL byte, as a C string does, so reading
    // stops there: a large binary file is not pulled into memory for nothing.
    std::string content;
    bool failed = false;
    bool tooLarge = false;
    try {
        char chunk[65536];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            void const* nul = std::memchr(chunk, '\0', got);
            std::size_t keep =
                nul ? static_cast<std::size_t>(static_cast<char const*>(nul) - chunk) : got;
            // A text holds fewer than INT_MAX characters.
            if (content.size() + keep > static_cast<std::size_t>(INT_MAX - 16)) {
                tooLarge = true;
                break;
            }
            content.append(chunk, keep);
            if (nul) break;
        }
        failed = std::ferror(file) != 0;
    } catch (std::bad_alloc const&) {
        std::fclose(file);
        throw CoreAnsx(CoreAnsx("Memory request failed reading ") + path);
    }
    std::fclose(file);
    if (failed || tooLarge) {
        CoreLog_::logfl(tooLarge ? CoreAnsx(" too large to read: ") + path : path, 1);
        return CoreAnsx(0);
    }
    return CoreAnsx(content.c_str());
}

bool CoreButl::setfc(CoreAnsx const& path, CoreAnsx const& text) {
    return wrall(path, text.c_str(), std::strlen(text.c_str()));
}

bool CoreButl::svatx(CoreAnsx const& path, CoreAnsx const& text, bool flag) {
    // The writer adds the final line feed and replaces the file in one step.
    if (CoreXutl::lgexc(ffpen(path), sCxmlheader + sCxmlcopyright + text, flag)) return true;
    CoreLog_::loger(CoreAnsx("Cannot write file ") + path, 1);
    return false;
}

void CoreButl::logas(CoreAnsx const& path, CoreAnsx const& text, bool append) {
    FILE* file = ffpen(path, append ? "a" : "w");
    if (file == nullptr) return;
    std::fputs(text.c_str(), file);
    std::fputc('\n', file);
    std::fclose(file);
}

bool CoreButl::wrall(CoreAnsx const& path, char const* bytes, std::size_t size) {
    CoreAnsx given = ffpen(path);
    std::string target = given.c_str();
    if (target.empty()) {
        CoreLog_::loger(CoreAnsx("Cannot write a file without a name"), 1);
        return false;
    }
    // Write through a link to the file it names, so the link survives.
    char real[PATH_MAX];
    struct stat linkStat;
    if (::lstat(target.c_str(), &linkStat) == 0 && S_ISLNK(linkStat.st_mode) &&
        ::realpath(target.c_str(), real) != nullptr)
        target = real;

    auto fail = [&](char const* what) {
        CoreLog_::loger(CoreAnsx(what) + given + CoreAnsx(": ") + CoreAnsx(std::strerror(errno)),
                        1);
        return false;
    };

    // Renaming over a device or pipe would replace it with a plain file.
    struct stat targetStat;
    if (::stat(target.c_str(), &targetStat) == 0 && !S_ISREG(targetStat.st_mode)) {
        CoreLog_::loger(CoreAnsx("Cannot replace what is not a plain file: ") + given, 1);
        return false;
    }

    // The lock is taken on the target itself; a target that does not exist
    // yet is created empty for it and removed again if the write fails.
    bool created = false;
    int lockFd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (lockFd >= 0) {
        if (::access(target.c_str(), W_OK) != 0) {
            int saved = errno;
            ::close(lockFd);
            errno = saved;
            return fail("Cannot write file ");
        }
    } else {
        lockFd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (lockFd < 0) return fail("Cannot write file ");
        created = true;
    }
    while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
    }

    static std::atomic<unsigned> counter{0};
    std::string temp =
        target + ".~" + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
    bool ok = false;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        std::size_t done = 0;
        ok = true;
        // A replaced file keeps its permission bits.
        struct stat old;
        if (!created && ::stat(target.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
        while (done < size) {
            ssize_t n = ::write(fd, bytes + done, size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok = false;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        if (ok && ::fsync(fd) != 0) ok = false;
        if (::close(fd) != 0) ok = false;
        if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false;
        if (ok) {
            // The rename reaches the disk only with its folder.
            std::size_t slash = target.rfind('/');
            std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
            int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dir >= 0) {
                ::fsync(dir);
                ::close(dir);
            }
        }
        if (!ok) {
            int saved = errno;
            ::unlink(temp.c_str());
            errno = saved;
        }
    }
    int saved = errno;
    if (!ok && created) ::unlink(target.c_str());
    ::flock(lockFd, LOCK_UN);
    ::close(lockFd);
    errno = saved;
    if (!ok) return fail("Cannot write file ");
    return true;
}

// ---- Texts ----------------------------------------------------------------------------------

CoreAnsx CoreButl::sbstr(CoreAnsx const& text, int start, int count) {
    if (start < 1) start = 1;
    int length = text.Length() < 0 ? 0 : text.Length();
    if (start > length) return CoreAnsx(" ");
    return text.SubString(start, count);
}

// Text cut to width by sbstr and the number of fill characters it still needs.
static CoreAnsx cutToWidth(CoreAnsx const& text, int width, int& missing) {
    CoreAnsx cut = CoreButl::sbstr(text, 1, width < 0 ? 0 : width);
    missing = width - cut.Length();
    if (missing < 0) missing = 0;
    return cut;
}

static CoreAnsx repeated(char fill, int count) {
    std::string s(static_cast<std::size_t>(count > 0 ? count : 0), fill);
    return CoreAnsx(s.c_str());
}

CoreAnsx CoreButl::lpad_(CoreAnsx const& text, int width, char fill) {
    int missing;
    CoreAnsx cut = cutToWidth(text, width, missing);
    return repeated(fill, missing) + cut;
}

CoreAnsx CoreButl::rpad_(CoreAnsx const& text, int width, char fill) {
    int missing;
    CoreAnsx cut = cutToWidth(text, width, missing);
    return cut + repeated(fill, missing);
}

CoreAnsx CoreButl::cpad_(CoreAnsx const& text, int width, char fill) {
    int missing;
    CoreAnsx cut = cutToWidth(text, width, missing);
    int left = (missing + 1) / 2;
    return repeated(fill, left) + cut + repeated(fill, missing - left);
}

CoreAnsx CoreButl::getcn(CoreAnsx const& text, short width) {
    int blanks = (width - text.Trim().Length()) / 2;
    return repeated(' ', blanks) + text;
}

CoreAnsx CoreButl::rplce(CoreAnsx const& text, char from, char to) {
    std::string s = text.c_str();
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c != from)
            out += c;
        else if (to != '\0')
            out += to;
    }
    return CoreAnsx(out.c_str());
}

CoreAnsx CoreButl::rplce(CoreAnsx const& text, CoreAnsx const& from, CoreAnsx const& to) {
    std::string s = text.c_str();
    std::string needle = from.c_str();
    std::string replacement = to.c_str();
    if (needle.empty()) return CoreAnsx(s.c_str());
    // The search goes on after the inserted text, so a replacement holding the
    // searched text cannot make it loop.
    std::size_t pos = 0;
    while ((pos = s.find(needle, pos)) != std::string::npos) {
        s.replace(pos, needle.size(), replacement);
        pos += replacement.size();
    }
    return CoreAnsx(s.c_str());
}

CoreAnsx CoreButl::getu8(CoreAnsx const& text) {
    char const* s = text.c_str();
    if (static_cast<unsigned char>(s[0]) != 0xFF || static_cast<unsigned char>(s[1]) != 0xFE)
        return text;
    // The text cannot hold zero bytes, so only the mark needs dropping here;
    // getac drops the zeros when the raw bytes are at hand.
    return CoreAnsx(s + 2);
}

CoreAnsx CoreButl::getac(char const* bytes, int n) {
    std::string out;
    for (int i = 0; bytes != nullptr && i < n; ++i)
        if (bytes[i] != '\0') out += bytes[i];
    return CoreAnsx(out.c_str());
}

CoreAnsx CoreButl::disps(CoreAnsx const& text) {
    if (text == "" || text == "0") return CoreAnsx("0 ");
    return text;
}

CoreAnsx CoreButl::getnv(CoreAnsx const& text) {
    if (text == "0" || text.Trim() == "") return sCnull;
    return text;
}

CoreAnsx CoreButl::intas(int v) { return CoreAnsx(v); }

CoreAnsx CoreButl::dotas(double v) {
    if (v == 0.0) return CoreAnsx("0");
    return CoreAnsx(v);
}

int CoreButl::getci(CoreAnsx const& value, int n, CoreAnsx const* list, bool numeric,
                    bool minusOne) {
    int notFound = minusOne ? -1 : 0;
    if (list == nullptr || n < 1) return notFound;
    if (!numeric) {
        CoreAnsx key = value.UpperCase().Trim();
        for (int i = 0; i < n; ++i)
            if (list[i].UpperCase().Trim() == key) return i;
        return notFound;
    }
    double x = value.ToDouble();
    int best = 0;
    double bestDistance = std::fabs(list[0].ToDouble() - x);
    for (int i = 1; i < n; ++i) {
        double distance = std::fabs(list[i].ToDouble() - x);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

void CoreButl::sortv(CoreAnsx* list, int n) {
    if (list == nullptr) return;
    for (int i = 0; i < n - 1; ++i)
        for (int j = i + 1; j < n; ++j)
            if (list[j].Trim().UpperCase() < list[i].Trim().UpperCase()) {
                CoreAnsx t = list[i];
                list[i] = list[j];
                list[j] = t;
            }
}

CoreAnsx CoreButl::getds(CoreAnsx const& name, short n) {
    CoreAnsx cut = name;
    int blank = name.Pos(" ");
    if (blank > 0) cut = name.SubString(1, blank);
    if (cut.Length() <= n) return cut;
    std::string rest;
    for (char const* p = cut.c_str() + (cut.Length() > 3 ? 3 : cut.Length()); *p != '\0'; ++p)
        if (std::strchr("AEIOU", *p) == nullptr) rest += *p;
    int keep = n - 3;
    if (keep < 0) keep = 0;
    return cut.SubString(1, 3) + CoreAnsx(rest.substr(0, static_cast<std::size_t>(keep)).c_str());
}

bool CoreButl::isnmb(CoreAnsx const& text) {
    (void)text; // the integer conversion never fails
    return true;
}

CoreAnsx CoreButl::fndqp(CoreAnsx const& mask, CoreAnsx const& name) {
    char const* m = mask.c_str();
    char const* q = std::strchr(m, '?');
    if (q == nullptr) return CoreAnsx("");
    std::size_t from = static_cast<std::size_t>(q - m);
    std::size_t to = from;
    while (m[to] == '?') ++to;
    std::string s = name.c_str();
    if (from >= s.size()) return CoreAnsx("");
    return CoreAnsx(s.substr(from, to - from).c_str());
}
