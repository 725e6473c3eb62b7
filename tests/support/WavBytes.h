#pragma once
// WAV files as byte strings, written and parsed by the tests alone (no code
// under test involved): IEEE float of 4 bytes (tag 3) or signed 24-bit
// integer PCM (tag 1, scaled by 8388607), any channel count, one fmt and one
// data chunk. Test thread only.

#include <string>
#include <vector>

struct WavBytes {
    int rate = 44100;                           // Hz
    int tag = 3;                                // 1: integer PCM, 3: IEEE float
    int bits = 32;                              // 24 with tag 1, 32 with tag 3
    std::vector<std::vector<double>> channels;  // samples per channel, equal lengths
};

// The whole RIFF/WAVE file; float samples are rounded to single precision,
// integer ones to the nearest step.
std::string wavBytes(WavBytes const& wav);

// The file read back (chunks walked in order, odd chunks padded).
WavBytes parseWav(std::string const& bytes);
