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
    int getmd();                   // bytes of the whole image: data length + iCfiledim
    void wrtmm(char* destination); // copies the image into getmd() bytes
    // Writes the image to path ("wb"); false when the file can't be opened
    // or a write fails, and then no partial file is left behind.
    bool write(CoreAnsx path);

    // The header of every WAV file the system writes (IEEE float, format tag
    // 3), shared with the streaming writer: the RIFF head, an fmt chunk of 18
    // bytes (extension size 0) and a fact chunk holding the frame count, as
    // the format asks of every non-PCM file (readers warn without them), then
    // the data chunk's head.
    static constexpr int iCheaderdim = 50; // RIFF head, fmt and fact chunks, bytes
    static constexpr int iCfiledim = 58;   // the whole header: those and the data chunk head
    // Fills the iCheaderdim-byte block and the 8-byte data chunk head for
    // channels x bytes per sample at rate (negative rates as 0), with sizes
    // for no data yet.
    static void fillHeader(char* header, char* dataheader, short channels, int rate, int bytes);
    // States datalength bytes of samples in the size fields (RIFF size =
    // data + iCheaderdim) and the whole frames they hold in the fact chunk.
    static void setHeaderSizes(char* header, char* dataheader, int datalength);

private:
    int position;     // byte offset of the next frame in the data block
    int datalength;   // bytes of sample data: frames x channels x bytes per sample
    int bytes;        // bytes per sample, 4 or 8
    short count;      // channel count
    bool wide;        // 64-bit samples
    char* data;       // pool block of datalength bytes (at least 1)
    char* header;     // pool block of iCheaderdim bytes: RIFF head, fmt and fact chunks
    char* dataheader; // pool block of 8 bytes: "data" and the data length
    CorePool* pool;   // owns the blocks; not owned here
};
