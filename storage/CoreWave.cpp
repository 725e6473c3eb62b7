#include "storage/CoreWave.h"

#include <cstring>

CoreWave::CoreWave(CorePool* pool, long frames, short channels)
    : channels(nullptr), length(frames < 0 ? 0 : frames), count(channels < 0 ? 0 : channels),
      pool(pool) {
    // The pool counts elements in an int; a longer buffer is refused here
    // rather than truncated there.
    if (length > 0x7FFFFFFFL) throw CoreAnsx("Memory request failed ") + CoreAnsx(length);
    this->channels = new double*[count > 0 ? count : 1]();
    try {
        for (short c = 0; c < count; ++c) {
            this->channels[c] =
                static_cast<double*>(pool->mallc(0, static_cast<int>(length), "WAVE", "CoreWave"));
            if (length > 0)
                std::memset(this->channels[c], 0, sizeof(double) * static_cast<size_t>(length));
        }
    } catch (...) {
        for (short c = 0; c < count; ++c)
            if (this->channels[c] != nullptr) pool->free_(this->channels[c]);
        delete[] this->channels;
        throw;
    }
}

CoreWave::~CoreWave() {
    for (short c = 0; c < count; ++c) pool->free_(channels[c]);
    delete[] channels;
}

double** CoreWave::getwv() { return channels; }

double* CoreWave::getwv(short channel) {
    if (channel < 0 || channel >= count) return nullptr;
    return channels[channel];
}

long CoreWave::getdm() { return length; }

short CoreWave::getch() { return count; }

void CoreWave::reset() {
    if (length <= 0) return;
    for (short c = 0; c < count; ++c)
        std::memset(channels[c], 0, sizeof(double) * static_cast<size_t>(length));
}

long CoreWave::copy_(long position, long n, CoreWave* source, long sourcePosition) {
    return blend(position, n, source, sourcePosition, false);
}

long CoreWave::merge(long position, long n, CoreWave* source, long sourcePosition) {
    return blend(position, n, source, sourcePosition, true);
}

long CoreWave::blend(long position, long n, CoreWave* source, long sourcePosition, bool add) {
    if (source == nullptr || position < 0 || sourcePosition < 0) return 0;
    // Clip to both buffers: a short source must not be read past its end.
    long frames = n;
    if (frames > length - position) frames = length - position;
    if (frames > source->length - sourcePosition) frames = source->length - sourcePosition;
    if (frames < 1) return 0;
    short shared = count < source->count ? count : source->count;
    for (short c = 0; c < shared; ++c) {
        double* to = channels[c] + position;
        double const* from = source->channels[c] + sourcePosition;
        if (add && to > from && to < from + frames) {
            // Merging a buffer into a later part of itself: walking backwards
            // adds every source sample before it is itself added to.
            for (long k = frames - 1; k >= 0; --k) to[k] += from[k];
        } else if (add) {
            for (long k = 0; k < frames; ++k) to[k] += from[k];
        } else {
            std::memmove(to, from, sizeof(double) * static_cast<size_t>(frames));
        }
    }
    return frames;
}
