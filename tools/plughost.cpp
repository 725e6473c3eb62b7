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
//     --rate HZ            host rate (default: the input file's, else 44100)
//     --block N            block size in frames (default 512)
//     --double             double precision (default single)
//     --slot N             program slot to load first (bank x 100 + program)
//     --midi F:S:D1:D2     a MIDI message at input frame F (decimal bytes); repeatable
//     --wait S             longest wait for the boot and the program load (default 30)
// Before feeding audio it waits until the plug-in says its boot ended (and
// then the program load), which it says by asking the host to update its
// display; past the wait it renders anyway and says so. The input is padded
// with latency + tail frames of silence, the latency is cut from the output,
// so the output holds the input's length plus the tail.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>

#include "platform/x11/PlatX11.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreWvfr.h"
#include "storage/CoreWvfw.h"
#include "tools/CoreHost.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: plughost PLUGIN.so OUTPUT.wav [--in FILE.wav] [--signal "
                         "impulse|sine:HZ|noise] [--seconds S] [--rate HZ] [--block N] "
                         "[--double] [--slot N] [--midi F:S:D1:D2]... [--wait S]\n"
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

bool readWav(std::string const& path, int rate, CoreHost::CHANNELS& out, int& fileRate) {
    std::size_t const cut = path.rfind('/');
    std::string const folder = cut == std::string::npos ? "." : path.substr(0, cut);
    std::string const name = cut == std::string::npos ? path : path.substr(cut + 1);
    try {
        CorePool pool;
        CoreFsys store(&pool, CoreAnsx(folder.c_str()), false);
        CoreWvfr reader(&pool, &store, true);
        if (rate > 0) reader.setfr(rate, false);
        reader.open_(CoreAnsx(name.c_str()));
        fileRate = reader.getrt();
        long const n = reader.getdr(false);
        out.assign(2, std::vector<double>(std::size_t(n > 0 ? n : 0)));
        long const got = reader.getdt(n, out[0].data(), out[1].data());
        if (reader.getca() < 2) out[1] = out[0];
        for (auto& c : out) c.resize(std::size_t(got));
        reader.close();
        return true;
    } catch (...) {
        return false;
    }
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

CoreHost::CHANNELS signal(std::string const& kind, int rate, double seconds) {
    long const n = std::lround(seconds * rate);
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

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    std::string const plugin = argv[1];
    bool const withEditor = std::strcmp(argv[2], "--editor") == 0;
    std::string const output = withEditor ? "" : argv[2];
    std::string input, kind = "impulse";
    double seconds = 1.0, wait = 30.0;
    int rate = 0, block = 512, slot = -1;
    bool dbl = false;
    std::vector<CoreHost::MIDI> midi;
    for (int i = 3; i < argc; ++i) {
        std::string const a = argv[i];
        bool const more = i + 1 < argc;
        if (a == "--double")
            dbl = true;
        else if (a == "--in" && more)
            input = argv[++i];
        else if (a == "--signal" && more)
            kind = argv[++i];
        else if (a == "--seconds" && more)
            seconds = std::atof(argv[++i]);
        else if (a == "--rate" && more)
            rate = std::atoi(argv[++i]);
        else if (a == "--block" && more)
            block = std::atoi(argv[++i]);
        else if (a == "--slot" && more)
            slot = std::atoi(argv[++i]);
        else if (a == "--wait" && more)
            wait = std::atof(argv[++i]);
        else if (a == "--midi" && more) {
            long f = 0;
            unsigned s = 0, d1 = 0, d2 = 0;
            if (std::sscanf(argv[++i], "%ld:%u:%u:%u", &f, &s, &d1, &d2) != 4) return usage();
            midi.push_back({f,
                            {static_cast<unsigned char>(s), static_cast<unsigned char>(d1),
                             static_cast<unsigned char>(d2)}});
        } else
            return usage();
    }
    if (block < 1 || (rate != 0 && (rate < 1000 || rate > 768000)) || slot > 9999) return usage();
    if (withEditor && (!input.empty() || !midi.empty())) return usage();

    CoreHost::CHANNELS in;
    if (!input.empty()) {
        int fileRate = 0;
        if (!readWav(input, rate, in, fileRate)) {
            std::fprintf(stderr, "plughost: %s is not a readable WAV file\n", input.c_str());
            return 1;
        }
        if (rate == 0) rate = fileRate;
    } else {
        if (rate == 0) rate = 44100;
        in = signal(kind, rate, seconds);
    }

    CoreHost host(plugin, rate, block);
    if (!host.valid()) {
        std::fprintf(stderr, "plughost: %s: %s\n", plugin.c_str(), host.error().c_str());
        return 1;
    }
    host.start();
    bool ready = host.wtupd(0, wait);
    if (ready && slot >= 0) {
        int const seen = host.updts();
        host.slot_(slot);
        ready = host.wtupd(seen, wait);
    }
    if (!ready)
        std::fprintf(stderr,
                     "plughost: the plug-in did not report its boot%s within %g s; "
                     "rendering anyway\n",
                     slot >= 0 ? " and program load" : "", wait);
    if (withEditor) return editor(host);

    long const latency = host.getdl();
    long const tail = static_cast<long>(host.dispt(PlatVst::opGetTailSize));
    long const frames = static_cast<long>(in[0].size());
    for (auto& c : in) c.resize(std::size_t(frames + latency + (tail > 1 ? tail : 0)), 0.0);
    terminal = isatty(2) && in[0].size() > std::size_t(10 * rate);
    CoreHost::CHANNELS out;
    auto const t0 = std::chrono::steady_clock::now();
    host.rendr(in, out, dbl, false, midi, progress);
    double const spent =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    for (auto& c : out) c.erase(c.begin(), c.begin() + std::min<long>(latency, long(c.size())));
    if (!writeWav(output, rate, out)) {
        std::fprintf(stderr, "plughost: %s could not be written\n", output.c_str());
        return 1;
    }
    double const audio = double(in[0].size()) / rate;
    std::printf("plughost: %ld frames at %d Hz, block %d, %s precision; latency %ld, tail %ld "
                "frames; %.3f s rendered in %.3f s (%.1fx real time)%s\n",
                frames, rate, block, dbl ? "double" : "single", latency, tail, audio, spent,
                spent > 0 ? audio / spent : 0.0, ready ? "" : "; boot not reported");
    std::printf("%s\n", output.c_str());
    return 0;
}
