#pragma once
// WAV files as byte strings, written and parsed by the tests alone (no code
// under test involved). wavBytes/parseWav: IEEE float of 4 bytes (tag 3) or
// signed 24-bit integer PCM (tag 1, scaled by 8388607), any channel count,
// one fmt and one data chunk. wavFile: any header and raw sample bytes,
// malformed on request. Test thread only.

#include <cstdint>
#include <string>
#include <vector>

struct WavBytes {
    int rate = 44100;                          // Hz
    int tag = 3;                               // 1: integer PCM, 3: IEEE float
    int bits = 32;                             // 24 with tag 1, 32 with tag 3
    std::vector<std::vector<double>> channels; // samples per channel, equal lengths
};

// The whole RIFF/WAVE file; float samples are rounded to single precision,
// integer ones to the nearest step.
std::string wavBytes(WavBytes const& wav);

// The file read back (chunks walked in order, odd chunks padded).
WavBytes parseWav(std::string const& bytes);

// The lowest `bytes` bytes of v (two's complement), least significant first.
std::string leBytes(std::int64_t v, int bytes);
std::string f32Bytes(float v);  // the 4 bytes of an IEEE single
std::string f64Bytes(double v); // the 8 bytes of an IEEE double

// id, the size of body, body, and a pad byte after an odd body when pad.
std::string riffChunk(std::string const& id, std::string const& body, bool pad = true);

// Every field of a WAV file written byte by byte.
struct WavShape {
    unsigned tag = 1;           // format tag written in fmt
    unsigned channels = 1;      // channel count written in fmt
    std::uint32_t rate = 44100; // Hz
    unsigned bits = 16;         // bits per sample written in fmt
    unsigned container = 0;     // bytes per sample in the data (0: ceil(bits / 8))
    bool lower = false;         // "riff" and "wave" in lower case
    bool upper = false;         // "FMT " and "DATA" in upper case
    bool extensible = false;    // fmt of 40 bytes, sub-format = tag
    std::string before;         // chunks placed between fmt and data
    std::string samples;        // raw interleaved sample bytes
    long dataSizeBias = 0;      // added to the stated data size
};

// RIFF header, fmt chunk, the chunks before, then the data chunk (never
// padded, its size as stated).
std::string wavFile(WavShape const& shape);
