#include "tools/CoreWkld.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "runtime/CoreButl.h"
#include "tools/CoreDdoc.h"
#include "tools/CoreDemo.h"

namespace {

using D = CoreDdoc;
using CHANNELS = CoreHost::CHANNELS;

char const* const setupName = "WORKLOAD.XML";
char const* const programName = "WORKLOAD.XML";

using NOISE = CoreDemo::NOISE; // the demo data's seeded noise
static_assert(CoreWkld::iCrate == CoreDemo::iCrate, "the impulses are written as the demo's");

// A decaying noise tail behind a unit first sample, n samples per channel,
// scaled by gain: peak at the start, so every file aligns on its first sample.
CHANNELS decay(int n, std::uint32_t seed, double t60, double gain) {
    CHANNELS x(2, std::vector<double>(n, 0.0));
    for (int c = 0; c < 2; ++c) {
        NOISE noise{seed * 2 + static_cast<std::uint32_t>(c) + 1};
        for (int k = 1; k < n; ++k)
            x[c][k] = CoreButl::flushSubnormal(gain * 0.3 * noise.next() *
                                               std::exp(-6.907755 * k / (t60 * CoreWkld::iCrate)));
        x[c][0] = gain;
    }
    return x;
}

// A slot's COMMON values: aligned at the forced offset, length and fade-out in us.
D::VALUES common(long lengthus, long fadeoutus) {
    return {{"OFFSET", std::to_string(CoreDemo::iCforceoffset)},
            {"OT2", D::elmnt("LENGTH", std::to_string(lengthus)) +
                        D::elmnt("FADEOUT", std::to_string(fadeoutus))}};
}

// The program and the impulse files it plays.
D::PROGRAM program(CoreWkld::PROGRAM which, std::vector<std::pair<std::string, CHANNELS>>& files) {
    int const seconds2 = 2 * CoreWkld::iCrate;
    int const harmonics = which == CoreWkld::iCshort ? 1 : CoreWkld::iCharmonics;
    D::PROGRAM p("Workload", "Test",
                 {{"HDIM", std::to_string(harmonics)}, {"GAININ", "0.0"}, {"GAINOUT", "0.0"}});
    if (which == CoreWkld::iCshort) {
        files.emplace_back("TAPS.WAV", decay(300, 300, 0.004, 0.8));
        D::VECTOR v({"TAPS.WAV"});
        v.common = common(8000, 1000);
        p.slots.push_back(v);
        return p;
    }
    if (which == CoreWkld::iCdynamic)
        p.sections = D::elmnt("LFO1", D::elmnt("MINRATE", "0.5") + D::elmnt("MAXRATE", "0.5") +
                                          D::elmnt("SHAPE", "Sine"));
    for (int h = 0; h < harmonics; ++h) {
        double const gain = 0.8 / (h + 1);
        std::string const a = "A" + std::to_string(h) + ".WAV";
        files.emplace_back(a, decay(seconds2, 10 + h, 1.2, gain));
        if (which == CoreWkld::iCstatic) {
            D::VECTOR v({a});
            v.common = common(2000000, 20000);
            p.slots.push_back(v);
            continue;
        }
        std::string const b = "B" + std::to_string(h) + ".WAV";
        files.emplace_back(b, decay(seconds2, 50 + h, 0.6, gain));
        D::VECTOR pair({a, b});
        pair.source = "LFO1";
        D::VECTOR root;
        root.common = common(2000000, 20000);
        root.children.push_back(pair);
        p.slots.push_back(root);
    }
    return p;
}

} // namespace

bool CoreWkld::wrins(std::string const& folder, std::string const& plugin, PROGRAM which,
                     int dspbuffer) {
    std::error_code error;
    std::filesystem::copy_file(plugin, folder + "vorlan.so",
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error || !CoreDemo::wrdem(CoreAnsx(folder.c_str()), CoreAnsx("vorlan.so"))) return false;
    std::string const data = folder + CoreDemo::sCdatapath;
    std::vector<std::pair<std::string, CHANNELS>> files;
    D::PROGRAM const p = program(which, files);
    for (auto const& [name, samples] : files)
        if (!CoreDemo::wrwav(data + CoreDemo::sCvectors + name, samples)) return false;
    if (!CoreDemo::wrtxt(data + CoreDemo::sCprograms + programName, D::prgxm(p))) return false;
    if (!CoreDemo::wrtxt(data + CoreDemo::sCsetups + setupName, D::stpxm({programName}, 0)))
        return false;
    D::VALUES values = CoreDemo::mstvl();
    for (auto& v : values)
        if (v.first == "SETUPROMNAME") v.second = setupName;
    std::erase_if(values, [](auto const& v) { return v.first == "HDIM"; });
    values.insert(values.end(), {{"DSPBUFFER", std::to_string(dspbuffer)},
                                 {"PROGRAMRATE", std::to_string(iCprogramrate)},
                                 {"LFREQD", std::to_string(iClfreqd)},
                                 {"HDIM", std::to_string(iCharmonics)}});
    return CoreDemo::wrtxt(folder + CoreDemo::mstnm(CoreAnsx("vorlan.so")).c_str(),
                           D::mstxm(values));
}

CHANNELS CoreWkld::noise(double seconds) {
    int const n = static_cast<int>(seconds * iCrate);
    CHANNELS x(2, std::vector<double>(n));
    for (int c = 0; c < 2; ++c) {
        NOISE noise{977u + static_cast<std::uint32_t>(c)};
        for (double& v : x[c]) v = 0.25 * noise.next();
    }
    return x;
}

bool CoreWkld::start(CoreHost& host) {
    if (!host.valid()) return false;
    host.start();
    // The boot reports once it ended, and the program change once its load did.
    if (!host.wtupd(0, 120.0)) return false;
    int const seen = host.updts();
    host.slot_(0);
    return host.wtupd(seen, 120.0);
}

CHANNELS CoreWkld::rendr(CoreHost& host, CHANNELS const& in, bool dbl) {
    long const latency = host.getdl();
    CHANNELS padded = in;
    for (auto& c : padded) c.resize(c.size() + static_cast<std::size_t>(latency), 0.0);
    CHANNELS out;
    host.rendr(padded, out, dbl);
    for (auto& c : out) c.erase(c.begin(), c.begin() + std::min<long>(latency, long(c.size())));
    return out;
}

std::vector<CoreWkld::SECOND> CoreWkld::persc(CHANNELS const& out) {
    std::vector<SECOND> seconds;
    std::size_t const n = out.empty() ? 0 : out[0].size();
    for (std::size_t start = 0; start + iCrate <= n; start += iCrate) {
        SECOND s{};
        for (int c = 0; c < 2; ++c) {
            double sum = 0.0;
            for (std::size_t k = start; k < start + iCrate; ++k) {
                s.peak[c] = std::max(s.peak[c], std::fabs(out[c][k]));
                sum += out[c][k] * out[c][k];
            }
            s.rms[c] = std::sqrt(sum / iCrate);
        }
        seconds.push_back(s);
    }
    return seconds;
}
