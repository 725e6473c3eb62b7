#pragma once
// CoreWavs: a complete WAV file image (IEEE float samples, 32 or 64 bits)
// built in memory, then copied to a caller's buffer or written to a file in
// one go. Used where an export must be handed over whole (host chunks, item
// store entries) rather than streamed.
// Owner: the caller that exports; the three blocks come from its pool and go
// back to it on destruction.
// Threads: loader, engine worker or control thread; may block in `write`.

#include "runtime/CoreAnsx.h"
#include "runtime/CorePool.h"

class CoreWavs {
public:
    // Header blocks and a data block of frames x channels x (4 or 8) bytes,
    // all from the pool (tag "WAVS"); the header is filled, data cleared,
    // position 0. Channels below 1 count as 1. An image beyond the sizes a
    // WAV header can state throws CoreAnsx, as pool exhaustion does.
    CoreWavs(CorePool* pool, short channels, int rate, long frames, bool wide);
    ~CoreWavs();
    CoreWavs(CoreWavs const&) = delete;
    CoreWavs& operator=(CoreWavs const&) = delete;
    CoreWavs(CoreWavs&&) = delete;
    CoreWavs& operator=(CoreWavs&&) = delete;

    // Appends up to n frames: left[k] in channel 0 and, with 2 or more
    // channels, right[k] in channel 1 (0 when right is null). Stops at the
    // end of the image; returns the frames stored, 0 when full.
    long setdt(long n, double* left, double* right);
    int getmd();                   // bytes of the whole image: data length + 44
    void wrtmm(char* destination); // copies the image into getmd() bytes
    // Writes the image to path ("wb"); false when the file can't be opened
    // or a write fails, and then no partial file is left behind.
    bool write(CoreAnsx path);

    // The 44 header bytes of every WAV file the system writes (IEEE float,
    // format tag 3), shared with the streaming writer: fills the 36-byte RIFF
    // and fmt block and the 8-byte data chunk head for channels x bytes per
    // sample at rate (negative rates as 0), with sizes for no data yet.
    static void fillHeader(char* header, char* dataheader, short channels, int rate, int bytes);
    // States datalength bytes of samples in both size fields (RIFF size = data + 36).
    static void setHeaderSizes(char* header, char* dataheader, int datalength);

private:
    int position;     // byte offset of the next frame in the data block
    int datalength;   // bytes of sample data: frames x channels x bytes per sample
    int bytes;        // bytes per sample, 4 or 8
    short count;      // channel count
    bool wide;        // 64-bit samples
    char* data;       // pool block of datalength bytes (at least 1)
    char* header;     // pool block of 36 bytes: RIFF header and fmt chunk
    char* dataheader; // pool block of 8 bytes: "data" and the data length
    CorePool* pool;   // owns the blocks; not owned here
};
