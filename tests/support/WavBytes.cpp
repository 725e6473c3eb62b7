#include "tests/support/WavBytes.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

void le(std::string& b, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b += char((v >> (8 * i)) & 0xFF);
}

std::uint32_t rd(std::string const& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint32_t(std::uint8_t(b[at + i])) << (8 * i);
    return v;
}

} // namespace

std::string wavBytes(WavBytes const& w) {
    const int width = w.bits / 8, nc = int(w.channels.size());
    const std::size_t frames = w.channels.empty() ? 0 : w.channels[0].size();
    std::string fmt, data;
    le(fmt, std::uint32_t(w.tag), 2);
    le(fmt, std::uint32_t(nc), 2);
    le(fmt, std::uint32_t(w.rate), 4);
    le(fmt, std::uint32_t(w.rate * nc * width), 4);
    le(fmt, std::uint32_t(nc * width), 2);
    le(fmt, std::uint32_t(w.bits), 2);
    for (std::size_t f = 0; f < frames; ++f)
        for (int c = 0; c < nc; ++c) {
            if (w.tag == 3) {
                float v = float(w.channels[c][f]);
                std::uint32_t u;
                std::memcpy(&u, &v, 4);
                le(data, u, 4);
            } else {
                le(data, std::uint32_t(std::lround(w.channels[c][f] * 8388607.0)), 3);
            }
        }
    std::string body = "WAVEfmt ";
    le(body, std::uint32_t(fmt.size()), 4);
    body += fmt + "data";
    le(body, std::uint32_t(data.size()), 4);
    body += data;
    std::string out = "RIFF";
    le(out, std::uint32_t(body.size()), 4);
    return out + body;
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
