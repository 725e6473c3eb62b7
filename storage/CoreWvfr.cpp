#include "storage/CoreWvfr.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "storage/CoreFsys.h"
#include "storage/CoreRtcv.h"
#include "storage/DataRtcv.h"

namespace {

uint16_t u16(char const* at) {
    unsigned char const* p = reinterpret_cast<unsigned char const*>(at);
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t u32(char const* at) {
    unsigned char const* p = reinterpret_cast<unsigned char const*>(at);
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

double f64(char const* at) {
    uint64_t const bits =
        static_cast<uint64_t>(u32(at)) | (static_cast<uint64_t>(u32(at + 4)) << 32);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Decodes frames frames of bytes into left and, unless it is null, right
// (channel 1, width bytes after channel 0), raising peak[0] and peak[1] to
// their largest magnitudes. The peaks stay in locals for the loop: stored
// through the caller's pointer they might alias the arrays.
template <class Sample>
void decodePiece(char const* bytes, long frames, int framesize, int width, double* left,
                 double* right, double* peak, Sample sample) {
    double top0 = peak[0], top1 = peak[1];
    if (right == nullptr) {
        for (long f = 0; f < frames; ++f, bytes += framesize) {
            double const l = sample(bytes);
            left[f] = l;
            top0 = std::max(top0, std::fabs(l));
        }
    } else {
        for (long f = 0; f < frames; ++f, bytes += framesize) {
            double const l = sample(bytes), r = sample(bytes + width);
            left[f] = l;
            right[f] = r;
            top0 = std::max(top0, std::fabs(l));
            top1 = std::max(top1, std::fabs(r));
        }
    }
    peak[0] = top0;
    peak[1] = top1;
}

// Four characters compared after upper-casing, so "riff" and "data" pass.
bool sameId(char const* at, char const* id) {
    for (int i = 0; i < 4; ++i) {
        char c = at[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != id[i]) return false;
    }
    return true;
}

// Format tags of the fmt chunk that name a sample encoding.
constexpr uint16_t tagPcm = 1;
constexpr uint16_t tagFloat = 3;
constexpr uint16_t tagExtensible = 0xFFFE;

// Bytes 2..15 of the sub-format identifier that every standard encoding shares;
// bytes 0..1 hold the encoding's format tag.
unsigned char const subformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

} // namespace

CoreWvfr::CoreWvfr(CorePool* pool, CoreFsys* store, bool loadWhole)
    : datalength(-1), readsize(0), framesleft(0), filerate(0), deliveredrate(0), channels(0),
      bytespersample(0), framesize(0), item(-1), targetrate(0), recipe(-1), bitspersample(0),
      ratio(1.0), inverse(1.0), ratioup(1), ratiodown(1), lead(0), decodedpeak(0.0),
      converting(false), open(false), datafound(false), loadwhole(loadWhole), plain(false),
      round32(false), encoding(Encoding::none), reason(""), readbuffer(nullptr),
      riffheader(nullptr), chunkheader(nullptr), fmtblock(nullptr), workleft(nullptr),
      workright(nullptr), workframes(0), store(store), recipes(nullptr), converter(nullptr),
      pool(pool) {
    try {
        readbuffer = static_cast<char*>(pool->mallc(5, iCfilebufferdim, "WVFR", "CoreWvfr"));
        riffheader = static_cast<char*>(pool->mallc(5, 12, "WVFR", "CoreWvfr"));
        chunkheader = static_cast<char*>(pool->mallc(5, 8, "WVFR", "CoreWvfr"));
        fmtblock = static_cast<char*>(pool->mallc(5, 40, "WVFR", "CoreWvfr"));
    } catch (...) {
        for (char* block : {readbuffer, riffheader, chunkheader, fmtblock})
            if (block != nullptr) pool->free_(block);
        throw;
    }
}

CoreWvfr::~CoreWvfr() {
    try {
        close();
        conversionoff();
    } catch (...) {
    }
    releasework();
    pool->free_(fmtblock);
    pool->free_(chunkheader);
    pool->free_(riffheader);
    pool->free_(readbuffer);
}

void CoreWvfr::set32(bool on) { round32 = on; }

void CoreWvfr::conversionoff() {
    delete converter;
    converter = nullptr;
    delete recipes;
    recipes = nullptr;
    converting = false;
    // A file already open goes on unconverted rather than through a deleted converter.
    recipe = -1;
    ratio = 1.0;
    inverse = 1.0;
    ratioup = 1;
    ratiodown = 1;
    lead = 0;
    deliveredrate = filerate;
}

void CoreWvfr::setfr(int rate, bool plainGain) {
    if (rate < 1) {
        conversionoff();
    } else if (!converting) {
        recipes = new DataRtcv(pool);
        try {
            converter = new CoreRtcv(pool, recipes);
        } catch (...) {
            delete recipes;
            recipes = nullptr;
            throw;
        }
        converting = true;
        plain = plainGain;
    }
    targetrate = rate;
}

void CoreWvfr::fail(CoreAnsx const& name, CoreAnsx const& why) {
    datalength = -1;
    datafound = false;
    reason = why;
    CoreLog_::loger(CoreAnsx("WAV file ") + name + CoreAnsx(": ") + why, 0);
    throw CoreAnsx("");
}

bool CoreWvfr::ready() { return open && datafound && datalength > 0; }

void CoreWvfr::openitem(CoreAnsx const& name) {
    errno = 0;
    if (!store->wopen(item, "rb")) fail(name, CoreAnsx("cannot be opened: ") + CoreButl::opnwy());
    open = true;
}

long CoreWvfr::itemsize() {
    if (store->isvld(item)) {
        void* data = nullptr;
        return store->getco(item, &data);
    }
    if (store->wseek(item, 0, 2) != 0) return -1;
    long size = store->wtell(item);
    if (store->wseek(item, 0, 0) != 0) return -1;
    return size;
}

bool CoreWvfr::readat(long long offset, void* into, long bytes) {
    if (store->wseek(item, static_cast<long>(offset), 0) != 0) return false;
    return store->wread(item, into, 1, bytes) == bytes;
}

bool CoreWvfr::findc(char const* id, long long from, long long total, long long& body,
                     long long& size) {
    long long at = from;
    // Every step moves at least 8 bytes on, so the walk ends at the file's end.
    while (at + 8 <= total) {
        if (!readat(at, chunkheader, 8)) return false;
        long long chunk = u32(chunkheader + 4);
        if (sameId(chunkheader, id)) {
            body = at + 8;
            size = chunk;
            return true;
        }
        // A chunk of odd size is followed by a pad byte.
        at += 8 + chunk + (chunk & 1);
    }
    return false;
}

void CoreWvfr::open_(CoreAnsx name) {
    close();
    encoding = Encoding::none;
    reason = "";
    decodedpeak = 0.0;
    if (store == nullptr) fail(name, "no item store");
    item = store->crtit(name, false);
    datalength = -1;
    openitem(name);
    // Only a kernel within the bound on whole reads is held in memory: a
    // larger one is read in pieces, as every encoding is decoded anyway, so
    // padding after its samples is never read.
    if (loadwhole && !store->isvld(item)) {
        long const size = itemsize();
        if (size >= 0 && size <= CoreButl::iCwholebytes) {
            close();
            // A file that grew past the bound since is refused there and
            // read in pieces all the same.
            store->loadc(item, true, CoreButl::iCwholebytes);
            openitem(name);
        }
    }

    long long const total = itemsize();
    if (total < 12 || !readat(0, riffheader, 12)) fail(name, "too short for a RIFF header");
    if (!sameId(riffheader, "RIFF") || !sameId(riffheader + 8, "WAVE"))
        fail(name, "not a RIFF/WAVE file");

    long long body = 0, size = 0;
    if (!findc("FMT ", 12, total, body, size)) fail(name, "no fmt chunk");
    if (size < 16 || body + 16 > total || !readat(body, fmtblock, 16))
        fail(name, "fmt chunk too short");
    uint16_t tag = u16(fmtblock);
    uint32_t const channelCount = u16(fmtblock + 2);
    uint32_t const rate = u32(fmtblock + 4);
    uint16_t const bits = u16(fmtblock + 14);
    if (tag == tagExtensible) {
        // The encoding is named by the sub-format of the extension.
        if (size < 40 || body + 40 > total || !readat(body + 16, fmtblock + 16, 24))
            fail(name, "extensible fmt chunk too short");
        if (std::memcmp(fmtblock + 26, subformatTail, sizeof subformatTail) != 0)
            fail(name, "unknown sub-format");
        tag = u16(fmtblock + 24);
    }
    long long const next = body + size + (size & 1);

    // Samples are stored in whole bytes: 12 or 20 bits sit in 2 or 3 bytes.
    int const width = (bits + 7) / 8;
    Encoding kind = Encoding::none;
    if (tag == tagPcm) {
        kind = width == 1   ? Encoding::unsigned8
               : width == 2 ? Encoding::signed16
               : width == 3 ? Encoding::signed24
               : width == 4 ? Encoding::signed32
                            : Encoding::none;
    } else if (tag == tagFloat) {
        kind = width == 4 ? Encoding::float32 : width == 8 ? Encoding::float64 : Encoding::none;
    } else {
        fail(name, "compressed or unknown sample format");
    }
    if (kind == Encoding::none) fail(name, "unsupported bits per sample");
    if (channelCount < 1) fail(name, "no channels");
    // Block align is the frame as the writer laid it out; a channel count or
    // width that disagrees with it would read every frame at the wrong offset.
    if (u16(fmtblock + 12) != channelCount * static_cast<uint32_t>(width))
        fail(name, "block align differs from channels x bytes per sample");
    if (static_cast<long long>(channelCount) * width > iCfilebufferdim)
        fail(name, "frame wider than the read buffer");
    if (rate < static_cast<uint32_t>(iCminrate) || rate > static_cast<uint32_t>(iCmaxrate))
        fail(name, "sample rate outside 1000 to 768000 Hz");

    if (!findc("DATA", next, total, body, size)) fail(name, "no data chunk");
    // A chunk shorter than one frame holds no sample either.
    if (size < static_cast<long long>(channelCount) * width) fail(name, "no sample data");
    if (body + size > total) fail(name, "data chunk runs past the end of the file");
    if (size > 0x7FFFFFFF || store->wseek(item, static_cast<long>(body), 0) != 0)
        fail(name, "data chunk cannot be read");

    datafound = true;
    encoding = kind;
    channels = static_cast<int>(channelCount);
    filerate = static_cast<int>(rate);
    bitspersample = static_cast<short>(bits);
    bytespersample = width;
    framesize = width * channels;
    datalength = static_cast<int>(size);
    framesleft = datalength / framesize;
    readsize = iCfilebufferdim - (iCfilebufferdim % framesize);

    recipe = -1;
    ratio = 1.0;
    inverse = 1.0;
    ratioup = 1;
    ratiodown = 1;
    lead = 0;
    deliveredrate = filerate;
    if (converting && recipes != nullptr && converter != nullptr) {
        int row = recipes->getpt(filerate, targetrate);
        double factor = row >= 0 ? recipes->getcf(row) : 0.0;
        if (row >= 0 && factor > 0.0) {
            recipe = row;
            ratio = factor;
            inverse = 1.0 / factor;
            converter->chainratio(static_cast<short>(recipe), ratioup, ratiodown);
            lead = converter->chainlead(static_cast<short>(recipe));
            // The row nearest the pair may start from another rate or miss
            // its nominal one: what counts is the rate its stages make of
            // this file's, which is what the caller gets.
            deliveredrate =
                static_cast<int>(std::lround(static_cast<double>(filerate) * ratioup / ratiodown));
        }
        // A notice, not a refusal: the file is read, at the rate it can have.
        if (static_cast<long long>(filerate) * ratioup !=
                static_cast<long long>(targetrate) * ratiodown &&
            inexactlogged
                .insert(std::string(name.c_str()) + "|" + std::to_string(filerate) + "|" +
                        std::to_string(targetrate))
                .second)
            CoreLog_::notce(CoreAnsx("WAV file ") + name + CoreAnsx(": no exact conversion from ") +
                            CoreAnsx(filerate) + CoreAnsx(" to ") + CoreAnsx(targetrate) +
                            CoreAnsx(" Hz, delivered at ") + CoreAnsx(deliveredrate) +
                            CoreAnsx(" Hz"));
    }
}

void CoreWvfr::decode(long m, double* left, double* right) {
    bool const wantRight = right != nullptr && channels >= 2;
    long k = 0;
    long remaining = m * framesize;
    // Kept in locals for the read, one a channel so neither waits on the
    // other: the member, stored at every sample beside the caller's arrays
    // it might alias, tripled the decode's cost.
    double peak[2] = {decodedpeak, decodedpeak};
    while (remaining > 0) {
        long piece = remaining < readsize ? remaining : readsize;
        if (store->wread(item, readbuffer, 1, piece) != piece) {
            decodedpeak = std::max(peak[0], peak[1]);
            CoreLog_::loger(CoreAnsx("WAV file read failed at frame ") + CoreAnsx(k), 0);
            throw CoreAnsx("");
        }
        long const frames = piece / framesize;
        // The encoding is chosen once a piece, so each loop below decodes
        // one kind only: chosen at every sample, it cost a quarter more.
        // The integers through CoreButl::dbfch, inlined with its size fixed.
        auto const run = [&](auto sample) {
            decodePiece(readbuffer, frames, framesize, bytespersample, left + k,
                        wantRight ? right + k : nullptr, peak, sample);
        };
        switch (encoding) {
        case Encoding::unsigned8:
            run([](char const* s) { return CoreButl::dbfch(s, 0, 1); });
            break;
        case Encoding::signed16: run([](char const* s) { return CoreButl::dbfch(s, 0, 2); }); break;
        case Encoding::signed24: run([](char const* s) { return CoreButl::dbfch(s, 0, 3); }); break;
        case Encoding::signed32:
            run([](char const* s) {
                return static_cast<double>(static_cast<int32_t>(u32(s))) / 2147483647.0;
            });
            break;
        case Encoding::float32:
            run([](char const* s) {
                uint32_t const bits = u32(s);
                float f;
                std::memcpy(&f, &bits, sizeof f);
                // Zero and subnormal singles (exponent bits all zero) read as +0.0.
                return (bits & 0x7F800000u) == 0 ? 0.0 : static_cast<double>(f);
            });
            break;
        case Encoding::float64:
            if (round32)
                run([](char const* s) {
                    return CoreButl::flushSubnormal(
                        static_cast<double>(static_cast<float>(f64(s))));
                });
            else
                run([](char const* s) { return CoreButl::flushSubnormal(f64(s)); });
            break;
        case Encoding::none: break;
        }
        k += frames;
        remaining -= piece;
    }
    decodedpeak = std::max(peak[0], peak[1]);
}

void CoreWvfr::reserve(long m) {
    if (m <= workframes) return;
    releasework();
    // Frames left never exceed what an int counts, so neither does m.
    workleft = static_cast<double*>(pool->mallc(0, static_cast<int>(m), "WVFR", "getdt"));
    workright = static_cast<double*>(pool->mallc(0, static_cast<int>(m), "WVFR", "getdt"));
    workframes = m;
}

void CoreWvfr::releasework() {
    if (workleft != nullptr) pool->free_(workleft);
    if (workright != nullptr) pool->free_(workright);
    workleft = nullptr;
    workright = nullptr;
    workframes = 0;
}

long CoreWvfr::getdt(long n, double* left, double* right) {
    if (!ready() || n < 1 || left == nullptr) return 0;
    bool const convert = converting && converter != nullptr && recipe >= 0;
    long m = n < framesleft ? n : framesleft;
    if (convert) {
        // ceil(n / ratio) file frames, but never more than are left.
        long long const up = ratioup, down = ratiodown;
        long long const most =
            static_cast<long long>(framesleft) * up; // n beyond this needs all frames
        long long const asked = n < most ? n : most;
        long long const wanted = (asked * down + up - 1) / up;
        m = wanted < framesleft ? static_cast<long>(wanted) : framesleft;
        // A piece is delivered from its first frame's place on (its lead
        // dropped): take the fewest frames that make n samples, or all.
        if (m < framesleft) {
            if (chainlength(framesleft) - lead <= n) {
                m = framesleft;
            } else {
                long lo = m, hi = framesleft; // all frames make more than n
                while (lo < hi) {
                    long const mid = lo + (hi - lo) / 2;
                    if (chainlength(mid) - lead >= n)
                        hi = mid;
                    else
                        lo = mid + 1;
                }
                m = lo;
            }
        }
    }
    if (m < 1) return 0;
    if (!convert) {
        decode(m, left, right);
        framesleft -= static_cast<int>(m);
        return m;
    }

    // Downsampling needs more file frames than the caller has room for, so the
    // raw samples go to work arrays of our own first.
    reserve(m);
    bool const stereo = right != nullptr && channels >= 2;
    decode(m, workleft, stereo ? workright : nullptr);
    framesleft -= static_cast<int>(m);

    double const gain = plain ? 1.0 : inverse;
    long length = 0;
    double outRate = targetrate;
    double* out =
        converter->cnvrt(workleft, m, length, filerate, outRate, static_cast<short>(recipe));
    if (length != chainlength(m)) {
        // A stage could not be planned: the samples are not at the rate getrt
        // reports, so they are not handed out as if they were.
        CoreLog_::loger(CoreAnsx("WAV file conversion failed with frames left: ") +
                            CoreAnsx(static_cast<long>(framesleft)),
                        0);
        throw CoreAnsx("");
    }
    // Reading the rest whole delivers its lead too; a piece starts where its first frame falls.
    long const skip = n >= length ? 0 : lead;
    long d = length - skip < n ? length - skip : n;
    if (d < 0) d = 0;
    for (long k = 0; k < d; ++k) left[k] = out[skip + k] * gain;
    if (stereo) {
        // Converted after the left is copied out: both share the converter's output.
        long lengthRight = 0;
        outRate = targetrate;
        out = converter->cnvrt(workright, m, lengthRight, filerate, outRate,
                               static_cast<short>(recipe));
        long dr = lengthRight - skip < d ? lengthRight - skip : d;
        for (long k = 0; k < d; ++k) right[k] = k < dr ? out[skip + k] * gain : 0.0;
    }
    return d;
}

long CoreWvfr::getdt(long n) {
    if (!ready() || n < 1) return 0;
    long m = n < framesleft ? n : framesleft;
    long remaining = m * framesize;
    while (remaining > 0) {
        long piece = remaining < readsize ? remaining : readsize;
        if (store->wread(item, readbuffer, 1, piece) != piece) {
            CoreLog_::loger(CoreAnsx("WAV file read failed while skipping"), 0);
            throw CoreAnsx("");
        }
        remaining -= piece;
    }
    framesleft -= static_cast<int>(m);
    return m;
}

int CoreWvfr::getca() { return ready() ? channels : -1; }

int CoreWvfr::getrt() { return ready() ? deliveredrate : -1; }

int CoreWvfr::getrr() { return ready() ? filerate : -1; }

bool CoreWvfr::getdb() { return ready() && bytespersample == 8; }

long CoreWvfr::getdr(bool raw) {
    if (!ready()) return -1;
    if (raw) return framesleft;
    return static_cast<long>(chainlength(framesleft));
}

long CoreWvfr::getdw() {
    if (!ready()) return -1;
    return std::max<long>(getow(), static_cast<long>(chainlength(framesleft)));
}

long CoreWvfr::getow() {
    if (!ready()) return -1;
    if (ratio <= 1.0) return framesleft;
    return static_cast<long>((static_cast<long long>(framesleft) * ratioup + ratiodown - 1) /
                             ratiodown);
}

long CoreWvfr::getld() { return ready() ? lead : -1; }

long long CoreWvfr::chainlength(long long m) {
    if (converter == nullptr || recipe < 0) return m;
    return converter->chainlength(static_cast<long>(m), static_cast<short>(recipe));
}

long CoreWvfr::imprt(CoreAnsx name, double* left, double* right) {
    open_(name);
    long n = getdr(false);
    long got = 0;
    try {
        got = getdt(n, left, right);
    } catch (...) {
        close();
        throw;
    }
    close();
    return got;
}

void CoreWvfr::close() {
    if (open && store != nullptr) store->wclse(item);
    open = false;
    datafound = false;
    datalength = -1;
}

void CoreWvfr::clefs() {
    close();
    if (item >= 0 && store != nullptr) store->delct(item);
}
