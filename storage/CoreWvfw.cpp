#include "storage/CoreWvfw.h"

#include <cstring>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "storage/CoreWavs.h"

namespace {

// Largest sample block handed to write at once, bytes.
constexpr int blockBytes = 1024;

} // namespace

CoreWvfw::CoreWvfw(CorePool* pool, CoreAnsx path, short channels, int rate, bool wide)
    : path(path), buffersize(0), count(channels), bytes(wide ? 8 : 4), datalength(0), good(false),
      dropped(false), wide(wide), buffer(nullptr), header(nullptr), dataheader(nullptr),
      file(nullptr), pool(pool) {
    if (count < 1) {
        CoreLog_::loger(CoreAnsx("CoreWvfw: channel count ") + CoreAnsx(int(channels)) +
                            CoreAnsx(" taken as 1"),
                        1);
        count = 1;
    }
    buffersize = count * 4096;
    header = static_cast<char*>(pool->mallc(5, CoreWavs::iCheaderdim, "WVFW", "CoreWvfw"));
    try {
        dataheader = static_cast<char*>(pool->mallc(5, 8, "WVFW", "CoreWvfw"));
        buffer = static_cast<char*>(pool->mallc(5, buffersize, "WVFW", "CoreWvfw"));
    } catch (...) {
        if (dataheader != nullptr) pool->free_(dataheader);
        pool->free_(header);
        throw;
    }

    CoreWavs::fillHeader(header, dataheader, count, rate, bytes);

    file = CoreButl::ffpen(path, "wb");
    if (file == nullptr) {
        int const kind = CoreButl::fferr(); // a FIFO or device there stays as it is
        CoreLog_::logfl(kind != 0 ? path + CoreAnsx(": ") + CoreButl::systemReason(kind) : path, 1);
        return;
    }
    good = puthd();
    if (!good) CoreLog_::logfl(path, 1);
}

CoreWvfw::~CoreWvfw() {
    // A file that opened but whose header failed is closed too.
    if (file != nullptr) std::fclose(file);
    pool->free_(buffer);
    pool->free_(dataheader);
    pool->free_(header);
}

bool CoreWvfw::puthd() {
    CoreWavs::setHeaderSizes(header, dataheader, datalength);
    if (file == nullptr) return false;
    if (std::fseek(file, 0, SEEK_SET) != 0) return false;
    std::size_t const head = CoreWavs::iCheaderdim;
    bool ok =
        std::fwrite(header, 1, head, file) == head && std::fwrite(dataheader, 1, 8, file) == 8;
    // Flushed so that a reader opening the file meanwhile sees a valid header.
    return std::fflush(file) == 0 && ok;
}

void CoreWvfw::updhd() {
    if (!puthd() && good) {
        CoreLog_::logfl(path, 1);
        good = false;
    }
}

void CoreWvfw::write(long n) {
    if (n <= 0) return;
    if (n > buffersize) n = buffersize;
    if (static_cast<long long>(datalength) + n > iCdatamax) {
        CoreLog_::loger(CoreAnsx("CoreWvfw: file full, block dropped: ") + path, 1);
        dropped = true;
        return;
    }
    datalength += static_cast<int>(n);
    if (!good) {
        CoreWavs::setHeaderSizes(header, dataheader, datalength);
        return;
    }
    bool ok = puthd() && std::fseek(file, 0, SEEK_END) == 0 &&
              std::fwrite(buffer, 1, static_cast<size_t>(n), file) == static_cast<size_t>(n) &&
              std::fflush(file) == 0;
    if (!ok) {
        // The header must not claim samples that never reached the disk:
        // take the block back and state what the file really holds.
        datalength -= static_cast<int>(n);
        puthd();
        CoreLog_::logfl(path, 1);
        good = false;
    }
}

bool CoreWvfw::complete() const { return good && !dropped; }

template <typename Sample> void CoreWvfw::stream(long n, Sample* left, Sample* right) {
    if (n < 1 || left == nullptr) return;
    int const frame = bytes * count;
    // A frame wider than a block goes out alone; the buffer always holds one.
    long framesPerBlock = frame >= blockBytes ? 1 : blockBytes / frame;
    long done = 0;
    while (done < n) {
        long take = n - done < framesPerBlock ? n - done : framesPerBlock;
        std::memset(buffer, 0, static_cast<size_t>(take * frame));
        for (long k = 0; k < take; ++k) {
            int at = static_cast<int>(k * frame);
            Sample l = left[done + k];
            Sample r = right != nullptr ? right[done + k] : Sample(0);
            if constexpr (sizeof(Sample) == sizeof(float)) {
                CoreButl::chffl(l, buffer, at, wide);
                if (count >= 2) CoreButl::chffl(r, buffer, at + bytes, wide);
            } else {
                CoreButl::chfdb(l, buffer, at, wide);
                if (count >= 2) CoreButl::chfdb(r, buffer, at + bytes, wide);
            }
        }
        write(take * frame);
        done += take;
    }
}

void CoreWvfw::setdt(long n, float* left, float* right) { stream(n, left, right); }

void CoreWvfw::setdt(long n, double* left, double* right) { stream(n, left, right); }

void CoreWvfw::wfile(CorePool* pool, CoreAnsx path, double* samples, long n, bool wide) {
    CoreWvfw writer(pool, path, 1, CoreButl::iCdefaultrate, wide);
    writer.setdt(n, samples, nullptr);
}

bool CoreWvfw::exprt(CorePool* pool, CoreAnsx path, short channels, int rate, long n, double* left,
                     double* right, bool wide) {
    CoreWvfw writer(pool, path, channels, rate, wide);
    writer.setdt(n, left, right);
    return writer.complete();
}
