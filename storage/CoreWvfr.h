#pragma once
// CoreWvfr: reads WAV files through the item store (loose files and archive
// items alike) and delivers the first two channels as doubles, optionally
// converted to a target sample rate. Accepted: integer PCM of 1, 2, 3 or 4
// bytes per sample, IEEE float of 4 or 8 bytes, plain or extensible fmt
// chunks, chunk ids in either case. Anything else, and every broken file
// (no RIFF/WAVE, missing or short fmt, no channels, an unknown sample width
// or encoding, a block align other than channels x bytes per sample, frames
// wider than the read buffer, a rate outside 1,000..768,000 Hz, a data chunk
// running past the end of the file, not one whole frame of data) is refused
// by open_ before any sample is read: it logs why and throws a CoreAnsx
// holding the empty text.
// Converting, the reader takes the recipe row nearest the pair of rates; when
// it does not reach the target exactly, getrt and getdr tell what it really
// delivers and open_ logs the difference, once per file and pair of rates in
// this reader's life (a load opens each file twice: to size it, to read it).
// Conversion keeps the whole file: reading the rest in one call delivers a
// lead (getld samples) before the place where the file's first frame falls,
// and the filter's tail after its last; a smaller read delivers a piece from
// its first frame's place on.
// Owner: the loading task that makes it (one per impulse file, export or
// program vector); it owns its pool blocks and its converter.
// Threads: loader or engine worker; it reads files and allocates, so never
// the audio thread.

#include <set>
#include <string>

#include "runtime/CoreAnsx.h"
#include "runtime/CorePool.h"

class CoreFsys;
class CoreRtcv;
class DataRtcv;

class CoreWvfr {
public:
    // Allocates the read blocks (tag "WVFR"); not open, not converting.
    // With loadWhole every item of at most CoreButl::iCwholebytes is read
    // into memory before it is parsed; a larger one is read in pieces.
    CoreWvfr(CorePool* pool, CoreFsys* store, bool loadWhole);
    ~CoreWvfr();
    CoreWvfr(CoreWvfr const&) = delete;
    CoreWvfr& operator=(CoreWvfr const&) = delete;
    CoreWvfr(CoreWvfr&&) = delete;
    CoreWvfr& operator=(CoreWvfr&&) = delete;

    void set32(bool on); // 8-byte samples rounded to single precision
    // Target rate for conversion from the next open_; below 1 turns it off.
    // `plain` (no gain compensation) is taken only when conversion turns on.
    void setfr(int rate, bool plain);
    void open_(CoreAnsx name); // throws CoreAnsx("") for anything it cannot read
    // Why the last open_ refused its file, as it logged it; "" after a good one.
    char const* getrs() const { return reason.c_str(); }

    // Delivers up to n frames: channel 0 into left, channel 1 into right
    // (only for files of 2 or more channels, and only when right is given).
    // Never writes more than n values to either array. Returns the count.
    // A read that fails midway throws CoreAnsx("").
    long getdt(long n, double* left, double* right);
    long getdt(long n); // skips up to n file frames; returns the count
    // Largest magnitude among the file's samples the reads since open_
    // decoded (only the channels they delivered), before conversion or gain.
    double getpk() const { return decodedpeak; }

    int getca();  // channels, -1 when no file is open
    int getrt();  // rate of the delivered samples (nearest Hz), -1 when no file is open
    int getrr();  // file rate, Hz, -1 when no file is open
    bool getdb(); // the file holds 8-byte samples
    // Frames left (raw), or exactly the frames reading the rest in one call
    // delivers (lead and tail included when converting); -1 when closed.
    long getdr(bool raw);
    long getdw(); // room a caller needs for the rest: the larger of getow and getdr(false)
    // The rest's own length at the delivered rate, without lead and tail:
    // ceil(left x ratio) if ratio > 1, else the frames left.
    long getow();
    long getld(); // delivered samples before the file's first frame falls; -1 when closed
    // open_, deliver getdr(false) frames, close; returns that count.
    long imprt(CoreAnsx name, double* left, double* right);
    void close(); // closes the item
    void clefs(); // closes, then drops the item (and its loaded content) from the store

    static constexpr int iCfilebufferdim = 1024; // read buffer, bytes
    static constexpr int iCminrate = 1000;       // lowest sample rate accepted, Hz
    static constexpr int iCmaxrate = 768000;     // highest sample rate accepted, Hz

private:
    // How the bytes of one sample are turned into a double.
    enum class Encoding { none, unsigned8, signed16, signed24, signed32, float32, float64 };

    [[noreturn]] void fail(CoreAnsx const& name, CoreAnsx const& why); // logs and throws
    bool ready();                                                      // a valid file is open
    // Opens the item "rb" and marks it open; fails with the opener's reason.
    void openitem(CoreAnsx const& name);
    long itemsize(); // bytes of the open item
    // Finds the chunk whose upper-cased id is `id`, starting at byte `from`;
    // body offset and size on success.
    bool findc(char const* id, long long from, long long total, long long& body, long long& size);
    bool readat(long long offset, void* into, long bytes); // seek and read exactly
    void decode(long m, double* left, double* right);      // m frames from the file
    void reserve(long m);                                  // work arrays of at least m frames
    void releasework();
    void conversionoff();
    // Samples the recipe's chain of stages makes of m file frames (m
    // without a recipe): lead, about m x ratio, tail.
    long long chainlength(long long m);

    int datalength;      // bytes of the data chunk; -1 while no valid file is open
    int readsize;        // largest multiple of the frame size not above 1024, bytes
    int framesleft;      // frames not yet delivered
    int filerate;        // sample rate from the fmt chunk, Hz
    int deliveredrate;   // file rate, or the rate the recipe makes of it (nearest Hz)
    int channels;        // channels in the file
    int bytespersample;  // bytes of one sample
    int framesize;       // bytes of one frame: bytes per sample x channels
    int item;            // item id in the store
    int targetrate;      // rate set by setfr, Hz (0: none)
    int recipe;          // conversion recipe row in use, -1 for none
    short bitspersample; // bits from the fmt chunk
    double ratio;        // output frames per input frame (1 when not converting)
    double inverse;      // 1 / ratio: the gain that keeps a resampled impulse's energy
    // The ratio as the exact fraction ratioup / ratiodown of the recipe's
    // factors (1 / 1 without one). Frame counts are scaled with it in
    // integers: floor or ceil of a product with the rounded double ratio that
    // should be a whole number would land one frame off.
    long long ratioup;
    long long ratiodown;
    long lead;           // converted samples before the file's first frame (0 without a recipe)
    double decodedpeak;  // largest magnitude decoded since open_, before conversion
    bool converting;     // a target rate is set
    bool open;           // an item is open in the store
    bool datafound;      // the data chunk was found and accepted
    bool loadwhole;      // read each item within the whole-read bound into memory first
    bool plain;          // converted samples are not gain-compensated
    bool round32;        // 8-byte samples rounded to single precision
    Encoding encoding;   // sample encoding of the open file
    CoreAnsx reason;     // why the last open_ failed, "" otherwise
    char* readbuffer;    // pool block of iCfilebufferdim bytes
    char* riffheader;    // pool block of 12 bytes
    char* chunkheader;   // pool block of 8 bytes
    char* fmtblock;      // pool block of the fmt body (40 bytes: plain and extensible)
    double* workleft;    // pool block: raw left samples before conversion, or null
    double* workright;   // pool block: raw right samples before conversion, or null
    long workframes;     // frames the work blocks hold
    CoreFsys* store;     // item store read through; not owned
    DataRtcv* recipes;   // owned recipe table, null while not converting
    CoreRtcv* converter; // owned converter, null while not converting
    CorePool* pool;      // owns the blocks; not owned here
    // Files whose inexact conversion was logged, as "name|from|to".
    std::set<std::string> inexactlogged;
};
