#include "tests/support/WavBytes.h"

#include <cmath>
#include <cstring>

namespace {

std::uint32_t rd(std::string const& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint32_t(std::uint8_t(b[at + i])) << (8 * i);
    return v;
}

} // namespace

std::string leBytes(std::int64_t v, int bytes) {
    std::string b;
    for (int i = 0; i < bytes; ++i) b += char((std::uint64_t(v) >> (8 * i)) & 0xFF);
    return b;
}

std::string f32Bytes(float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    return leBytes(u, 4);
}

std::string f64Bytes(double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    return leBytes(std::int64_t(u), 8);
}

std::string riffChunk(std::string const& id, std::string const& body, bool pad) {
    std::string c = id + leBytes(body.size(), 4) + body;
    if (pad && (body.size() & 1)) c += '\0';
    return c;
}

std::string wavFile(WavShape const& s) {
    const unsigned width = s.container ? s.container : (s.bits + 7) / 8;
    std::string fmt = leBytes(s.extensible ? 0xFFFE : s.tag, 2) + leBytes(s.channels, 2) +
                      leBytes(s.rate, 4) + leBytes(std::uint32_t(s.rate * s.channels * width), 4) +
                      leBytes(s.channels * width, 2) + leBytes(s.bits, 2);
    if (s.extensible) {
        fmt += leBytes(22, 2) + leBytes(s.bits, 2) + leBytes(3, 4) + leBytes(s.tag, 2);
        fmt += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    const std::string data = std::string(s.upper ? "DATA" : "data") +
                             leBytes(std::uint32_t(long(s.samples.size()) + s.dataSizeBias), 4) +
                             s.samples;
    const std::string body = std::string(s.lower ? "wave" : "WAVE") +
                             riffChunk(s.upper ? "FMT " : "fmt ", fmt) + s.before + data;
    return std::string(s.lower ? "riff" : "RIFF") + leBytes(std::uint32_t(body.size()), 4) + body;
}

std::string wavBytes(WavBytes const& w) {
    WavShape s;
    s.tag = unsigned(w.tag);
    s.channels = unsigned(w.channels.size());
    s.rate = std::uint32_t(w.rate);
    s.bits = unsigned(w.bits);
    const std::size_t frames = w.channels.empty() ? 0 : w.channels[0].size();
    for (std::size_t f = 0; f < frames; ++f)
        for (auto const& channel : w.channels)
            s.samples += w.tag == 3 ? f32Bytes(float(channel[f]))
                                    : leBytes(std::lround(channel[f] * 8388607.0), 3);
    return wavFile(s);
}

WavBytes parseWav(std::string const& b) {
    WavBytes w;
    std::size_t at = 12, dataAt = 0, dataSize = 0;
    int nc = 0;
    while (at + 8 <= b.size()) {
        const std::string id = b.substr(at, 4);
        const std::size_t size = rd(b, at + 4, 4);
        if (id == "fmt " && at + 24 <= b.size()) {
            w.tag = int(rd(b, at + 8, 2));
            nc = int(rd(b, at + 10, 2));
            w.rate = int(rd(b, at + 12, 4));
            w.bits = int(rd(b, at + 22, 2));
        } else if (id == "data") {
            dataAt = at + 8;
            dataSize = size;
        }
        at += 8 + size + (size & 1);
    }
    const int width = w.bits / 8;
    if (nc < 1 || width < 1 || dataAt + dataSize > b.size()) return w;
    const std::size_t frames = dataSize / std::size_t(nc * width);
    w.channels.assign(nc, std::vector<double>(frames));
    for (std::size_t f = 0; f < frames; ++f)
        for (int c = 0; c < nc; ++c) {
            const std::uint32_t u = rd(b, dataAt + (f * nc + c) * width, width);
            if (w.tag == 3) {
                float v;
                std::memcpy(&v, &u, 4);
                w.channels[c][f] = v;
            } else {
                w.channels[c][f] = double(std::int32_t(u << 8) >> 8) / 8388607.0;
            }
        }
    return w;
}
