#include "storage/CoreWavs.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

namespace {

void putU32(char* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void putU16(char* at, uint16_t v) {
    at[0] = static_cast<char>(v & 0xFF);
    at[1] = static_cast<char>((v >> 8) & 0xFF);
}

} // namespace

CoreWavs::CoreWavs(CorePool* pool, short channels, int rate, long frames, bool wide)
    : position(0), datalength(0), bytes(wide ? 8 : 4), count(channels), wide(wide), data(nullptr),
      header(nullptr), dataheader(nullptr), pool(pool) {
    if (count < 1) {
        CoreLog_::loger(CoreAnsx("CoreWavs: channel count ") + CoreAnsx(int(channels)) +
                            CoreAnsx(" taken as 1"),
                        1);
        count = 1;
    }
    if (frames < 0) frames = 0;
    // Both size fields of the header are 32-bit and the RIFF size adds the header;
    // the pool counts in int as well.
    long long wanted = static_cast<long long>(frames) * count * bytes;
    if (wanted > 0x7FFFFFFFLL - iCfiledim)
        throw CoreAnsx("Memory request failed ") + CoreAnsx(static_cast<long>(wanted));
    datalength = static_cast<int>(wanted);

    header = static_cast<char*>(pool->mallc(5, iCheaderdim, "WAVS", "CoreWavs"));
    try {
        dataheader = static_cast<char*>(pool->mallc(5, 8, "WAVS", "CoreWavs"));
        data =
            static_cast<char*>(pool->mallc(5, datalength > 0 ? datalength : 1, "WAVS", "CoreWavs"));
    } catch (...) {
        if (dataheader != nullptr) pool->free_(dataheader);
        pool->free_(header);
        throw;
    }
    std::memset(data, 0, static_cast<size_t>(datalength > 0 ? datalength : 1));

    fillHeader(header, dataheader, count, rate, bytes);
    setHeaderSizes(header, dataheader, datalength);
}

void CoreWavs::fillHeader(char* header, char* dataheader, short channels, int rate, int bytes) {
    uint32_t const r = rate < 0 ? 0u : static_cast<uint32_t>(rate);
    std::memcpy(header, "RIFF", 4);
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    putU32(header + 16, 18);
    putU16(header + 20, 3);
    putU16(header + 22, static_cast<uint16_t>(channels));
    putU32(header + 24, r);
    putU32(header + 28, static_cast<uint32_t>(channels) * r * static_cast<uint32_t>(bytes));
    putU16(header + 32, static_cast<uint16_t>(bytes * channels));
    putU16(header + 34, static_cast<uint16_t>(bytes * 8));
    putU16(header + 36, 0);
    std::memcpy(header + 38, "fact", 4);
    putU32(header + 42, 4);
    std::memcpy(dataheader, "data", 4);
    setHeaderSizes(header, dataheader, 0);
}

void CoreWavs::setHeaderSizes(char* header, char* dataheader, int datalength) {
    putU32(header + 4, static_cast<uint32_t>(datalength) + uint32_t(iCheaderdim));
    unsigned const frame = static_cast<unsigned char>(header[32]) |
                           static_cast<unsigned>(static_cast<unsigned char>(header[33])) << 8;
    putU32(header + 46, frame > 0 ? static_cast<uint32_t>(datalength) / frame : 0u);
    putU32(dataheader + 4, static_cast<uint32_t>(datalength));
}

CoreWavs::~CoreWavs() {
    pool->free_(data);
    pool->free_(dataheader);
    pool->free_(header);
}

long CoreWavs::setdt(long n, double* left, double* right) {
    if (left == nullptr) return 0;
    int const frame = bytes * count;
    long stored = 0;
    while (stored < n && position + frame <= datalength) {
        CoreButl::chfdb(left[stored], data, position, wide);
        if (count >= 2)
            CoreButl::chfdb(right != nullptr ? right[stored] : 0.0, data, position + bytes, wide);
        position += frame;
        ++stored;
    }
    return stored;
}

int CoreWavs::getmd() { return datalength + iCfiledim; }

void CoreWavs::wrtmm(char* destination) {
    if (destination == nullptr) return;
    std::memcpy(destination, header, iCheaderdim);
    std::memcpy(destination + iCheaderdim, dataheader, 8);
    if (datalength > 0) std::memcpy(destination + iCfiledim, data, static_cast<size_t>(datalength));
}

bool CoreWavs::write(CoreAnsx path) {
    // The whole image goes to a temporary beside the target and replaces it
    // in one step: a failed write leaves the user's previous file whole.
    std::string image(reinterpret_cast<char const*>(header), iCheaderdim);
    image.append(reinterpret_cast<char const*>(dataheader), 8);
    if (datalength > 0)
        image.append(reinterpret_cast<char const*>(data), static_cast<size_t>(datalength));
    return CoreButl::wrall(path, image.data(), image.size());
}
