#pragma once
// CoreWvfw: writes a WAV file of IEEE float samples (32 or 64 bits) as a
// stream, with CoreWavs's header (fmt and fact chunks). The header, frame
// count included, is rewritten at offset 0 and flushed after every block,
// so the file on disk is a complete, readable WAV file at every moment, even
// while an export is still running or after it was cut short.
// Owner: the exporter that makes it (engine export, kernel rendering); lives
// for one file. Blocks come from the exporter's pool (tag "WVFW").
// Threads: loader, engine worker or control thread; it writes files and may
// block, so never the audio thread.

#include <cstdio>

#include "runtime/CoreAnsx.h"
#include "runtime/CorePool.h"
#include "storage/CoreWavs.h"

class CoreWvfw {
public:
    // Most bytes of sample data a file takes: the RIFF size field (data and
    // header) must stay within 31 bits, as the data length is an int.
    static constexpr long long iCdatamax = 0x7FFFFFFFLL - CoreWavs::iCheaderdim;

    // Allocates the blocks, opens path "wb" and writes the header with data
    // length 0. When the file cannot be created every later call only keeps
    // the sizes in memory. Channels below 1 count as 1.
    CoreWvfw(CorePool* pool, CoreAnsx path, short channels, int rate, bool wide);
    ~CoreWvfw();
    CoreWvfw(CoreWvfw const&) = delete;
    CoreWvfw& operator=(CoreWvfw const&) = delete;
    CoreWvfw(CoreWvfw&&) = delete;
    CoreWvfw& operator=(CoreWvfw&&) = delete;

    // Appends n frames (left[k], then right[k] with 2 or more channels; 0
    // where right is null; further channels silent) in blocks of at most
    // 1024 bytes. n below 1 writes nothing.
    void setdt(long n, float* left, float* right);
    void setdt(long n, double* left, double* right);
    // Counts `bytes` more of data, rewrites the header and appends that many
    // bytes of the buffer. A block that would take the data past iCdatamax
    // is dropped (logged, and complete answers false from then on).
    void write(long bytes);
    void updhd(); // refreshes the size fields and rewrites the header at offset 0
    // True while every frame handed in has reached the file: it was created,
    // no write failed and no block was dropped for want of room.
    bool complete() const;

    // Mono file at the default rate (44,100 Hz) from one array.
    static void wfile(CorePool* pool, CoreAnsx path, double* samples, long n, bool wide);
    // File with the given channels and rate from a left and a right array;
    // true when the file holds all n frames (complete).
    static bool exprt(CorePool* pool, CoreAnsx path, short channels, int rate, long n, double* left,
                      double* right, bool wide);

private:
    // Fills the buffer frame by frame from either sample type, one block at a time.
    template <typename Sample> void stream(long n, Sample* left, Sample* right);
    bool puthd(); // writes both header blocks at offset 0; true when both went out

    CoreAnsx path;    // file written
    int buffersize;   // bytes of the buffer: channels x 4096
    short count;      // channel count
    int bytes;        // bytes per sample, 4 or 8
    int datalength;   // bytes of sample data written so far
    bool good;        // the file was created and its header written
    bool dropped;     // a block was dropped: the file is full
    bool wide;        // 64-bit samples
    char* buffer;     // pool block of buffersize bytes: the block being written
    char* header;     // pool block of CoreWavs::iCheaderdim bytes: RIFF head, fmt, fact
    char* dataheader; // pool block of 8 bytes: "data" and the data length
    FILE* file;       // open output, or null
    CorePool* pool;   // owns the blocks; not owned here
};
