#include "tools/CoreDemo.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "storage/CoreWavs.h"
#include "tools/CoreDskn.h"

namespace {

using D = CoreDdoc;

using NOISE = CoreDemo::NOISE;

// A small space: a direct sound, a few early reflections and a diffuse tail
// of noise that decays by 60 dB over t60 and darkens as it goes (a one-pole
// lowpass whose coefficient runs from bright to dark). The direct sound is
// the loudest sample, so the program reader aligns every file on it.
struct SPACE {
    double seconds;     // length
    double t60;         // decay time to -60 dB, s
    double direct;      // first sample, both channels
    double tail;        // gain of the diffuse tail
    double bright;      // lowpass coefficient at the start (1 = open)
    double dark;        // lowpass coefficient at the end
    double reflections; // gain of the early reflections, 0 none
    std::uint32_t seed; // of the left channel; the right one takes seed + 1
    double gain;        // of the whole space: its response stays below unity at every frequency
    double silence = 0; // s of silence after the sound
};

CoreDemo::CHANNELS space(SPACE const& s) {
    // Reflection times (ms) and signs; the right channel's arrive a little later.
    static constexpr double kTimes[] = {4.3, 7.9, 11.2, 15.6, 21.0, 27.4};
    static constexpr double kSigns[] = {1, -1, 1, -1, -1, 1};
    int const n = static_cast<int>(s.seconds * CoreDemo::iCrate);
    int const fade = CoreDemo::iCrate / 200; // the last 5 ms fade out: no cut at the end
    int const pad = static_cast<int>(s.silence * CoreDemo::iCrate);
    CoreDemo::CHANNELS x(2, std::vector<double>(n + pad, 0.0));
    for (int c = 0; c < 2; ++c) {
        std::vector<double>& ch = x[c];
        NOISE noise{s.seed + static_cast<std::uint32_t>(c)};
        double y = 0.0;
        for (int k = 1; k < n; ++k) {
            double const t = double(k) / CoreDemo::iCrate;
            y += (s.bright + (s.dark - s.bright) * k / n) * (noise.next() - y);
            double const onset = std::fmin(1.0, t / 0.012);
            ch[k] = s.tail * onset * std::exp(-6.907755 * t / s.t60) * y;
        }
        ch[0] = s.direct;
        for (int r = 0; r < 6 && s.reflections > 0.0; ++r) {
            int const k = static_cast<int>((kTimes[r] + 0.6 * c) * CoreDemo::iCrate / 1000.0);
            if (k < n) ch[k] += s.reflections * kSigns[r] * (c ? -1.0 : 1.0) * (1.0 - 0.1 * r);
        }
        for (int k = n - fade; k < n; ++k)
            if (k > 0) ch[k] *= double(n - 1 - k) / fade;
        for (int k = 0; k < n; ++k) ch[k] = CoreButl::flushSubnormal(s.gain * ch[k]);
    }
    return x;
}

// One kernel of the saturator, mono: the linear part passes a clean impulse;
// the second harmonic is a small, soft band (warmth) with no gain at DC, so
// the squared input's mean leaves no offset; the third a smaller, shorter
// ring (edge). Each peaks at its first sample. The three together keep a
// full-scale sine below full scale at every frequency.
CoreDemo::CHANNELS harmonic(int h) {
    constexpr double kLevel = 0.65;
    std::vector<double> x(256, 0.0);
    x[0] = kLevel;
    if (h == 2) {
        // A fast decay less a slow one of the same area.
        double fast = 0.0, slow = 0.0;
        for (int k = 0; k < 256; ++k) fast += std::exp(-k / 6.0), slow += std::exp(-k / 12.0);
        for (int k = 0; k < 256; ++k)
            x[k] = 0.1 * kLevel * (std::exp(-k / 6.0) - fast / slow * std::exp(-k / 12.0));
    }
    if (h == 3)
        for (int k = 0; k < 256; ++k)
            x[k] = 0.05 * kLevel * std::exp(-k / 8.0) * std::cos(3.14159265358979 * k / 6.0);
    for (double& v : x) v = CoreButl::flushSubnormal(v);
    return {x};
}

std::string offset() { return std::to_string(CoreDemo::iCforceoffset); }

// The global values of every demo program: its harmonics, and unity gains.
// A fresh program's gain controls stand at their top, 6 dB each, and "0"
// would read as absent and keep them there: 0 dB is written "0.0".
D::VALUES globals(int harmonics) {
    return {{"HDIM", std::to_string(harmonics)}, {"GAININ", "0.0"}, {"GAINOUT", "0.0"}};
}

// The COMMON values of a slot's top vector: aligned at the forced offset and,
// for kernels longer than the direct engines' share, an extended length.
D::VALUES common(long lengthus, long fadeoutus, bool extended) {
    std::string const limits = D::elmnt("LENGTH", std::to_string(lengthus)) +
                               D::elmnt("FADEOUT", std::to_string(fadeoutus));
    if (extended) return {{"OFFSET", offset()}, {"OT2", limits}};
    return {{"OFFSET", offset()},
            {"LENGTH", std::to_string(lengthus)},
            {"FADEOUT", std::to_string(fadeoutus)}};
}

bool folder(std::string const& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (!error) return true;
    CoreLog_::loger(CoreAnsx("Demo data: cannot make the folder ") + CoreAnsx(path.c_str()), 1);
    return false;
}

} // namespace

bool CoreDemo::wrtxt(std::string const& path, std::string const& bytes) {
    return CoreButl::wrall(CoreAnsx(path.c_str()), bytes.data(), bytes.size());
}

bool CoreDemo::wrwav(std::string const& path, CHANNELS samples) {
    CorePool pool;
    long const frames = static_cast<long>(samples[0].size());
    short const channels = static_cast<short>(samples.size());
    CoreWavs image(&pool, channels, iCrate, frames, false);
    image.setdt(frames, samples[0].data(), channels > 1 ? samples[1].data() : nullptr);
    return image.write(CoreAnsx(path.c_str()));
}

CoreAnsx CoreDemo::mstnm(CoreAnsx const& pluginfile) {
    std::string const name = pluginfile.c_str();
    if (name.empty() || name == "0" || name.find('/') != std::string::npos) return CoreAnsx("");
    return CoreButl::setfx(pluginfile, CoreButl::sCextxml);
}

D::VALUES CoreDemo::mstvl() {
    return {{"DATAPATH", sCdatapath},
            {"PROGRAMSUBPATH", sCprograms},
            {"VECTORSUBPATH", sCvectors},
            {"SETUPSUBPATH", sCsetups},
            {"SKINSUBPATH", sCskins},
            {"SKINNAME", CoreDskn::sCpackage.c_str()},
            {"SETUPROMNAME", sCsetup},
            {"FORCEOFFSET", offset()},
            {"HDIM", std::to_string(iCharmonics)},
            {"DSPBUFFER", std::to_string(iCdspbuffer)},
            {"RATECONVERSION", std::to_string(iCrateconversion)}};
}

D::PROGRAM CoreDemo::prgrm(int index) {
    if (index == iCinit) {
        D::PROGRAM p("Demo Init", "Init", globals(1));
        D::VECTOR unit({"INIT.WAV"});
        unit.common = common(6000, 1000, false);
        p.slots.push_back(unit);
        return p;
    }
    if (index == iCsaturator) {
        D::PROGRAM p("Demo Saturator", "Distortion", globals(3));
        for (char const* file : {"SAT1.WAV", "SAT2.WAV", "SAT3.WAV"}) {
            D::VECTOR v({file});
            v.common = common(6000, 1000, false);
            p.slots.push_back(v);
        }
        return p;
    }
    if (index == iCsweep) {
        D::PROGRAM p("Demo Sweep", "Modulation", globals(1));
        // Mix control 1 sets LFO 1's rate over 0.1 to 1.1 Hz; it starts at
        // -0.8 (a tenth of its span), so the sweep starts at 0.2 Hz. The
        // parameter modulator numbered "1" shows that rate as a row of the
        // program page, and a drag on the row moves the control.
        p.values.push_back({"MIX1", "-0.8"});
        p.sections = D::elmnt("LFO1", D::elmnt("MINRATE", "0.1") + D::elmnt("MAXRATE", "1.1") +
                                          D::elmnt("SOURCE", "MIX1") + D::elmnt("SHAPE", "Sine")) +
                     D::elmnt("DISPLAY", D::elmnt("PRM1", D::elmts({{"A", "MIX1"},
                                                                    {"FUN", "a"},
                                                                    {"LABEL", "LFO rate"},
                                                                    {"PRELABEL", "1"},
                                                                    {"UNIT", "Hz"},
                                                                    {"MINVALUE", "0.1"},
                                                                    {"MAXVALUE", "1.1"}})));
        D::VECTOR spaces({"SWEEPA.WAV", "SWEEPB.WAV"});
        spaces.source = "LFO1";
        D::VECTOR root;
        root.common = common(200000, 20000, true);
        root.children.push_back(spaces);
        p.slots.push_back(root);
        return p;
    }
    D::PROGRAM p("Demo Room", "Reverb", globals(1));
    // The room's kernel holds the offset ahead of the sound, and its length
    // ends in the fade-out: the file's silence after the sound takes both,
    // so the kernel is the whole room file.
    D::VECTOR room({"ROOM.WAV"});
    room.common = common(460000, 40000, true);
    p.slots.push_back(room);
    return p;
}

std::vector<CoreDemo::IMPULSE> CoreDemo::impls() {
    return {
        {"INIT.WAV", {{1.0}}},
        // The room decays only 48 dB over its 0.4 s, then the short fade: it
        // ends there at every host rate, though a kernel converted to a
        // higher rate has smaller samples.
        {"ROOM.WAV", space({0.4, 0.5, 0.8, 0.08, 0.6, 0.15, 0.3, 20250, 0.2, 0.06})},
        {"SAT1.WAV", harmonic(1)},
        {"SAT2.WAV", harmonic(2)},
        {"SAT3.WAV", harmonic(3)},
        // The sweep turns between a bright, close space and a dark, wider one.
        {"SWEEPA.WAV", space({0.2, 0.15, 0.8, 0.1, 0.9, 0.7, 0.25, 7, 0.12})},
        {"SWEEPB.WAV", space({0.2, 0.2, 0.8, 0.3, 0.12, 0.05, 0.0, 11, 0.12})},
    };
}

bool CoreDemo::wrdem(CoreAnsx const& target, CoreAnsx const& pluginfile) {
    CoreAnsx const master = mstnm(pluginfile);
    if (master.Length() == 0) {
        CoreLog_::loger(CoreAnsx("Demo data: no plug-in file name in ") + pluginfile, 1);
        return false;
    }
    std::string base = target.c_str();
    if (base.empty()) base = ".";
    if (base.back() != '/') base += '/';
    std::string const data = base + sCdatapath;
    for (char const* sub : {sCprograms, sCvectors, sCsetups, sCskins})
        if (!folder(data + sub)) return false;
    try {
        for (IMPULSE& impulse : impls())
            if (!wrwav(data + sCvectors + impulse.file, std::move(impulse.samples))) return false;
        for (int i = 0; i < iCprograms; ++i)
            if (!wrtxt(data + sCprograms + sCprogramfiles[i], D::prgxm(prgrm(i)))) return false;
        std::vector<std::string> const files(sCprogramfiles, sCprogramfiles + iCprograms);
        if (!wrtxt(data + sCsetups + sCsetup, D::stpxm(files, iCroom))) return false;
        std::string const skin = data + sCskins + CoreDskn::sCpackage.c_str();
        if (!CoreDskn::wrskn(CoreAnsx(skin.c_str()))) return false;
        // Last: an engine finds settings only once their data is all there.
        return wrtxt(base + master.c_str(), D::mstxm(mstvl()));
    } catch (CoreAnsx const& error) {
        CoreLog_::loger(CoreAnsx("Demo data not written: ") + error, 1);
        return false;
    }
}
