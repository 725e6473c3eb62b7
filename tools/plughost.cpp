// plughost: renders audio through a plug-in's shared object, or shows its
// editor.
//   plughost PLUGIN.so OUTPUT.wav [options]
//   plughost PLUGIN.so --editor [--slot N] [--wait S]
//     --editor             open the plug-in's editor in a window of its own on
//                          DISPLAY and keep it going (idle about 30 times a
//                          second) until the window is closed
//     --in FILE.wav        input (default: the test signal of --signal)
//     --signal KIND        impulse | sine:HZ | noise (default impulse)
//     --seconds S          length of the test signal (default 1)
//     --rate HZ            host rate (default: the input file's, else 44100); an
//                          input at another rate is converted, keeping its level
//                          and the place of its first frame
//     --block N            block size in frames (default 512)
//     --double             double precision (default single)
//     --slot N             program slot to load first (bank x 100 + program)
//     --midi F:S:D1:D2     a MIDI message at input frame F (decimal bytes); repeatable
//     --lead-in S          seconds of silence run through the plug-in before
//                          the input, not written (default 1: the program's
//                          kernels have settled, as in a host that was running)
//     --wait S             longest wait for the boot and the program load (default 30)
// Before feeding audio it waits until the plug-in says its boot ended (and
// then the program load), which it says by asking the host to update its
// display. A boot that failed, a wait that ran out, or a slot that holds no
// program ends the run with a message and no output file (exit status 1).
// After the lead-in the input is padded with latency + tail frames of
// silence and the latency is cut from the output, so the output holds the
// input's length plus the tail; MIDI frames count from the input's first.
// An option it cannot take (a signal other than impulse, noise or sine:HZ
// below half the rate, a length a WAV file cannot hold) ends the run with
// exit status 2; running out of memory while rendering with status 1.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

#include "platform/x11/PlatX11.h"
#include "plugin/CorePrvt.h"
#include "runtime/CoreBnid.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreWvfr.h"
#include "storage/CoreWvfw.h"
#include "tools/CoreHost.h"
#include "tools/CorePeer.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: plughost PLUGIN.so OUTPUT.wav [--in FILE.wav] [--signal "
                         "impulse|sine:HZ|noise] [--seconds S] [--rate HZ] [--block N] "
                         "[--double] [--slot N] [--midi F:S:D1:D2]... [--lead-in S] [--wait S]\n"
                         "         (--lead-in: seconds of silence run before the input so the "
                         "program has settled, default 1; not written)\n"
                         "       plughost PLUGIN.so --editor [--slot N] [--wait S]\n");
    return 2;
}

// The editor in a top-level window of ours, driven from this thread as a
// host's user-interface thread drives it. Audio is not run: the plug-in's
// control thread keeps the display going on its own.
int editor(CoreHost& host) {
    if ((host.getef()->flags & PlatVst::flagHasEditor) == 0) {
        std::fprintf(stderr, "plughost: the plug-in has no editor\n");
        return 1;
    }
    PlatVst::Rect* rect = nullptr;
    host.dispt(PlatVst::opEditGetRect, 0, 0, &rect);
    int const width = rect != nullptr ? rect->right - rect->left : 0;
    int const height = rect != nullptr ? rect->bottom - rect->top : 0;
    PlatX11 x11;
    if (!x11.open()) {
        std::fprintf(stderr, "plughost: %s\n", x11.problem().c_str());
        return 1;
    }
    PlatX11::Window const window = x11.createTopLevel(width, height, "plughost");
    if (window == 0) {
        std::fprintf(stderr, "plughost: no window of %d x %d pixels\n", width, height);
        return 1;
    }
    x11.sync();
    if (host.dispt(PlatVst::opEditOpen, 0, 0, reinterpret_cast<void*>(window)) == 0) {
        std::fprintf(stderr, "plughost: the plug-in's editor did not open\n");
        return 1;
    }
    std::printf("plughost: editor open in window 0x%lx (%d x %d); close the window to end\n",
                window, width, height);
    std::fflush(stdout);
    bool open = true;
    while (open && !x11.lost()) {
        host.dispt(PlatVst::opEditIdle);
        PlatX11::Event e;
        while (x11.nextEvent(e))
            if ((e.kind == PlatX11::Kind::close || e.kind == PlatX11::Kind::destroy) &&
                e.window == window)
                open = false;
        usleep(33000);
    }
    host.dispt(PlatVst::opEditClose);
    x11.destroyWindow(window);
    x11.close();
    return 0;
}

// The whole file, read as given (relative, absolute, any characters), then
// handed to the WAV reader as an item in memory: the store's own file names
// are upper-cased and joined to a folder. False with why on failure.
// Converted to another rate, the input keeps its level and its timing: no
// gain keeping a kernel's sum, and the lead before its first frame dropped.
bool readWav(std::string const& path, int rate, CoreHost::CHANNELS& out, int& fileRate,
             std::string& why) {
    std::string bytes;
    {
        errno = 0;
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) {
            why = std::strerror(errno);
            return false;
        }
        char chunk[65536];
        std::size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
        bool const failed = std::ferror(file) != 0;
        std::fclose(file);
        if (failed) {
            why = "read error";
            return false;
        }
    }
    if (bytes.size() > 0x7FFFFFF0u) {
        why = "larger than a WAV file can be";
        return false;
    }
    try {
        CorePool pool;
        CoreFsys store(&pool);
        int const item = store.crtit(CoreAnsx("IN.WAV"), false);
        store.setit(item, bytes.data(), static_cast<long>(bytes.size()), CoreAnsx(""), true, false);
        CoreWvfr reader(&pool, &store, false);
        if (rate > 0) reader.setfr(rate, true);
        try {
            reader.open_(CoreAnsx("IN.WAV"));
        } catch (CoreAnsx const&) {
            why = reader.getrs();
            return false;
        }
        fileRate = reader.getrt();
        if (reader.getca() > 2)
            std::fprintf(stderr, "plughost: %s has %d channels; channels 1 and 2 are used\n",
                         path.c_str(), reader.getca());
        long const n = reader.getdr(false);
        long const lead = reader.getld();
        out.assign(2, std::vector<double>(std::size_t(n > 0 ? n : 0)));
        long const got = reader.getdt(n, out[0].data(), out[1].data());
        if (reader.getca() < 2) out[1] = out[0];
        long const skip = std::min(std::max(lead, 0L), got);
        for (auto& c : out) {
            c.resize(std::size_t(got));
            c.erase(c.begin(), c.begin() + skip);
        }
        reader.close();
    } catch (...) {
        why = "could not be read";
        return false;
    }
    if (out[0].empty()) {
        why = "no sample data";
        return false;
    }
    return true;
}

bool writeWav(std::string const& path, int rate, CoreHost::CHANNELS& data) {
    // Written beside the target, then renamed: never a half-written file.
    std::string const part = path + ".part";
    try {
        CorePool pool;
        CoreWvfw::exprt(&pool, CoreAnsx(part.c_str()), 2, rate, static_cast<long>(data[0].size()),
                        data[0].data(), data[1].data(), false);
    } catch (...) {
        std::remove(part.c_str());
        return false;
    }
    return std::rename(part.c_str(), path.c_str()) == 0;
}

// Frames a WAV file of two 4-byte channels holds: its data size is 32 bits.
constexpr long long kWavFrames = (0xFFFFFFFFll - 44) / 8;

// The test signal's kind is impulse, noise or sine:HZ with 0 < HZ < rate / 2.
bool known(std::string const& kind, int rate) {
    if (kind == "impulse" || kind == "noise") return true;
    if (kind.rfind("sine:", 0) != 0) return false;
    char* end = nullptr;
    double const hz = std::strtod(kind.c_str() + 5, &end);
    return end != kind.c_str() + 5 && *end == '\0' && std::isfinite(hz) && hz > 0.0 &&
           hz < rate / 2.0;
}

CoreHost::CHANNELS signal(std::string const& kind, int rate, long n) {
    CoreHost::CHANNELS s(2, std::vector<double>(std::size_t(n > 0 ? n : 0), 0.0));
    if (n <= 0) return s;
    if (kind.rfind("sine:", 0) == 0) {
        double const hz = std::atof(kind.c_str() + 5);
        for (long k = 0; k < n; ++k)
            s[0][std::size_t(k)] = 0.5 * std::sin(2 * M_PI * hz * k / rate);
    } else if (kind == "noise") {
        std::mt19937 g(1);
        std::uniform_real_distribution<double> d(-0.5, 0.5);
        for (long k = 0; k < n; ++k) s[0][std::size_t(k)] = d(g);
    } else {
        s[0][0] = 1.0;
    }
    s[1] = s[0];
    return s;
}

bool terminal = false;
void progress(long done, long total) {
    if (!terminal || total < 1) return;
    int const width = 40;
    int const filled = static_cast<int>(width * done / total);
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
                 width - filled, "", static_cast<int>(100 * done / total));
    if (done == total) std::fprintf(stderr, "\n");
}

// Our plug-in's answers to the private calls its tools make (0 from a
// plug-in that does not know them).
int ask(CoreHost& host, std::int32_t kind) {
    CorePrvt::CALL call;
    call.kind = kind;
    return static_cast<int>(host.dispt(PlatVst::opVendorSpecific, CorePrvt::iCtag, 0, &call));
}

// Whether the last load fell back to location 0 (the plug-in says which
// slot failed and why); a bank without a boot program plays location 0
// too, and is no failure.
bool fellBack(CoreHost& host, char const* nothing) {
    if (CorePeer::bus(host, CoreBnid::iCfallback, 'b').number == 0.0) return false;
    int const failed = static_cast<int>(CorePeer::bus(host, CoreBnid::iCfailedslot, 'i').number);
    std::fprintf(stderr, "plughost: slot %d did not load (%s), location 0 plays%s\n", failed,
                 CorePeer::bus(host, CoreBnid::iCfailreason, 's').text, nothing);
    return true;
}

// Waits for the plug-in's next report after `seen` (the boot's end or a
// load's): true when it came, false when the boot failed or time ran out.
bool report(CoreHost& host, int seen, double seconds) {
    auto const end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (host.updts() <= seen) {
        if (ask(host, CorePrvt::iCboot) < 0 || std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return ask(host, CorePrvt::iCboot) >= 0;
}

// Whole text as a number, else false.
bool number(char const* text, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && errno == 0 && std::isfinite(value);
}
bool number(char const* text, int& value) {
    double v = 0.0;
    if (!number(text, v) || v != std::floor(v) || std::fabs(v) > 1e9) return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    std::string const plugin = argv[1];
    bool const withEditor = std::strcmp(argv[2], "--editor") == 0;
    std::string const output = withEditor ? "" : argv[2];
    std::string input, kind = "impulse";
    double seconds = 1.0, wait = 30.0, leadin = 1.0;
    int rate = 0, block = 512, slot = -1;
    bool dbl = false;
    std::vector<CoreHost::MIDI> midi;
    for (int i = 3; i < argc; ++i) {
        std::string const a = argv[i];
        bool const more = i + 1 < argc;
        int const at = i;
        bool good = true;
        if (a == "--double")
            dbl = true;
        else if (a == "--in" && more)
            input = argv[++i];
        else if (a == "--signal" && more)
            kind = argv[++i];
        else if (a == "--seconds" && more)
            good = number(argv[++i], seconds) && seconds >= 0.0;
        else if (a == "--rate" && more)
            good = number(argv[++i], rate) && rate >= 1000 && rate <= 768000;
        else if (a == "--block" && more)
            good = number(argv[++i], block) && block >= 1;
        else if (a == "--slot" && more)
            good = number(argv[++i], slot) && slot >= 0 && slot <= 9999;
        else if (a == "--wait" && more)
            good = number(argv[++i], wait) && wait >= 0.0;
        else if (a == "--lead-in" && more)
            good = number(argv[++i], leadin) && leadin >= 0.0;
        else if (a == "--midi" && more) {
            long f = 0;
            unsigned s = 0, d1 = 0, d2 = 0;
            char end = 0;
            good = std::sscanf(argv[++i], "%ld:%u:%u:%u%c", &f, &s, &d1, &d2, &end) == 4 &&
                   f >= 0 && s < 256 && d1 < 128 && d2 < 128;
            midi.push_back({f,
                            {static_cast<unsigned char>(s), static_cast<unsigned char>(d1),
                             static_cast<unsigned char>(d2)}});
        } else
            good = false;
        if (!good) {
            std::fprintf(stderr, "plughost: \"%s%s%s\" is not understood\n", a.c_str(),
                         i > at ? " " : "", i > at ? argv[i] : "");
            return usage();
        }
    }
    if (withEditor && (!input.empty() || !midi.empty())) return usage();
    // Lengths are checked before anything is allocated, and again with the
    // plug-in's latency and tail once it is loaded.
    auto fits = [](char const* option, double value, long long frames) {
        if (frames <= kWavFrames) return true;
        std::fprintf(stderr,
                     "plughost: %s %g makes %lld frames, more than a WAV file holds (%lld)\n",
                     option, value, frames, kWavFrames);
        return false;
    };
    auto frameCount = [](double seconds, int hz) {
        double const n = std::round(seconds * hz);
        return n > 9e18 ? LLONG_MAX : static_cast<long long>(n);
    };
    std::stable_sort(
        midi.begin(), midi.end(),
        [](CoreHost::MIDI const& x, CoreHost::MIDI const& y) { return x.frame < y.frame; });

    CoreHost::CHANNELS in;
    long long signalFrames = 0;
    if (!input.empty()) {
        int fileRate = 0;
        std::string why;
        if (!readWav(input, rate, in, fileRate, why)) {
            std::fprintf(stderr, "plughost: %s: %s; no output written\n", input.c_str(),
                         why.c_str());
            return 1;
        }
        if (rate == 0) rate = fileRate;
    } else if (rate == 0) {
        rate = 44100;
    }
    if (!known(kind, rate)) {
        std::fprintf(stderr,
                     "plughost: \"--signal %s\" is not understood: impulse, noise or sine:HZ "
                     "with 0 < HZ < %g\n",
                     kind.c_str(), rate / 2.0);
        return usage();
    }
    if (input.empty()) signalFrames = frameCount(seconds, rate);
    if (!fits("--lead-in", leadin, frameCount(leadin, rate)) ||
        !fits("--seconds", seconds, signalFrames))
        return 2;

    char const* const nothing = withEditor ? "" : "; no output written";
    CoreHost host(plugin, rate, block);
    if (!host.valid()) {
        std::fprintf(stderr, "plughost: %s: %s%s\n", plugin.c_str(), host.error().c_str(), nothing);
        return 1;
    }
    host.start();
    if (!report(host, 0, wait)) {
        if (ask(host, CorePrvt::iCboot) < 0) {
            std::fprintf(stderr, "plughost: %s: the plug-in's boot failed%s; its display:\n",
                         plugin.c_str(), nothing);
            for (std::string const& row : CorePeer::screen(host))
                if (std::size_t const end = row.find_last_not_of(' '); end != std::string::npos)
                    std::fprintf(stderr, "  %s\n", row.substr(0, end + 1).c_str());
        } else
            std::fprintf(stderr,
                         "plughost: %s: the plug-in did not report its boot within %g s%s\n",
                         plugin.c_str(), wait, nothing);
        // The editor still opens: its display shows how far the boot came.
        if (!withEditor) return 1;
    } else if (slot >= 0) {
        int const seen = host.updts();
        host.slot_(slot);
        if (!report(host, seen, wait)) {
            std::fprintf(stderr,
                         "plughost: the plug-in did not report the load of slot %d within %g s%s\n",
                         slot, wait, nothing);
            if (!withEditor) return 1;
        } else if (std::strcmp(CorePeer::bus(host, CoreBnid::iCslotname, 's', slot).text, "0") ==
                   0) {
            std::fprintf(stderr, "plughost: slot %d holds no program%s\n", slot, nothing);
            if (!withEditor) return 1;
        } else if (fellBack(host, nothing)) {
            if (!withEditor) return 1;
        }
    } else if (fellBack(host, nothing) && !withEditor) {
        return 1;
    }
    if (withEditor) return editor(host);

    // Silence until the program has settled, in whole blocks; none of it is kept.
    long const lead = (std::lround(leadin * rate) + block - 1) / block * block;
    long const latency = host.getdl();
    long const tail = static_cast<long>(host.dispt(PlatVst::opGetTailSize));
    long long const extra = std::max(latency, 0L) + (tail > 1 ? tail : 0);
    if (!fits("--lead-in", leadin, lead + extra) ||
        (input.empty() && !fits("--seconds", seconds, signalFrames + extra)))
        return 2;
    long frames = 0;
    double spent = 0.0;
    CoreHost::CHANNELS out;
    try {
        if (lead > 0) {
            CoreHost::CHANNELS quiet(2, std::vector<double>(std::size_t(lead), 0.0)), ignored;
            host.rendr(quiet, ignored, dbl);
        }
        if (input.empty()) in = signal(kind, rate, static_cast<long>(signalFrames));
        frames = static_cast<long>(in[0].size());
        for (auto& c : in) c.resize(std::size_t(frames + latency + (tail > 1 ? tail : 0)), 0.0);
        terminal = isatty(2) && in[0].size() > std::size_t(10 * rate);
        auto const t0 = std::chrono::steady_clock::now();
        host.rendr(in, out, dbl, false, midi, progress);
        spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        for (auto& c : out) c.erase(c.begin(), c.begin() + std::min<long>(latency, long(c.size())));
    } catch (std::bad_alloc const&) {
        std::fprintf(stderr, "plughost: out of memory for %ld frames%s\n", frames, nothing);
        return 1;
    }
    if (!writeWav(output, rate, out)) {
        std::fprintf(stderr, "plughost: %s could not be written\n", output.c_str());
        return 1;
    }
    double const audio = double(in[0].size()) / rate;
    std::printf("plughost: %ld frames at %d Hz, block %d, %s precision, lead-in %ld frames; "
                "latency %ld, tail %ld frames; %.3f s rendered in %.3f s (%.1fx real time)\n",
                frames, rate, block, dbl ? "double" : "single", lead, latency, tail, audio, spent,
                spent > 0 ? audio / spent : 0.0);
    std::printf("%s\n", output.c_str());
    return 0;
}
