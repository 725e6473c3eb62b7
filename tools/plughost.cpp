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
//     --rate HZ            host rate, 1000 to 768000 (default: the input file's,
//                          else 44100); an input at another rate is converted,
//                          keeping its level and the place of its first frame,
//                          when the converter reaches HZ from its rate exactly
//     --block N            block size in frames, 1 to 1048576 (default 512)
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
// input's length plus the tail, the longest the plug-in reported during the
// render (a program change may bring a longer one); MIDI frames count from
// the input's first.
// An input the converter cannot take to --rate exactly ends the run with
// exit status 1. An option it cannot take (a signal other than impulse, noise
// or sine:HZ below half the rate), an output that exists and is not a plain
// file, a length, input or lead-in included, that the WAV writer cannot hold,
// or buffers the memory cannot hold by its estimate end it with exit status 2
// before anything is rendered; an output that cannot be created, with the
// system's reason and status 1, also before; running out of memory while
// rendering anyway, or a file not written whole (past a file-size limit
// too: SIGXFSZ is ignored, so the write fails and says so), with status 1.
// An output named through symbolic links is written at their target, the
// links kept. An input from a pipe or a device is read while it starts as a
// WAV file and fits one, the item store and the memory (else status 1, or 2
// for the memory). SIGINT, SIGTERM or SIGHUP remove the run's temporary
// file beside the output, and the signal ends the run.
// Three environment variables are test seams, read by nothing else:
// PLUGHOST_TEST_BYTES_AVAILABLE stands in for the memory available (the
// suite's sanitizer build cannot run under an address-space limit),
// PLUGHOST_TEST_ALLOCATION_FAILS makes the render's allocation fail, and
// PLUGHOST_TEST_ITEM_BYTES stands in for the bytes the item store takes as
// one item (a stream near 2 GB is no test input).
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "platform/x11/PlatX11.h"
#include "plugin/CorePrvt.h"
#include "runtime/CoreBnid.h"
#include "runtime/CoreButl.h"
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

// Frames a WAV file of two 4-byte channels holds: what the writer takes.
constexpr long long kWavFrames = CoreWvfw::iCdatamax / 8;

// Bytes this process can still take: the smaller of what the system has
// available (MemAvailable, else the physical memory) and the room left under
// the address-space limit when one is set.
long long bytesAvailable() {
    if (char const* seam = std::getenv("PLUGHOST_TEST_BYTES_AVAILABLE")) return std::atoll(seam);
    long long const page = sysconf(_SC_PAGE_SIZE);
    long long available = -1;
    std::ifstream meminfo("/proc/meminfo");
    for (std::string line; available < 0 && std::getline(meminfo, line);)
        if (line.rfind("MemAvailable:", 0) == 0) available = std::atoll(line.c_str() + 13) * 1024;
    if (available < 0) available = sysconf(_SC_PHYS_PAGES) * page;
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        long long mapped = 0; // pages of address space this process holds already
        std::ifstream("/proc/self/statm") >> mapped;
        available = std::min(available, static_cast<long long>(limit.rlim_cur) - mapped * page);
    }
    return std::max(available, 0LL);
}

// False, with why, when `bytes` more would pass the bytes available.
bool affordable(std::string const& what, long long bytes, std::string& why) {
    long long const available = bytesAvailable();
    if (bytes <= available) return true;
    why = what + " needs about " + std::to_string(bytes) + " bytes of memory, " +
          std::to_string(available) + " are available";
    return false;
}

// The bytes the store takes as one item (CoreFsys::iCitemdim).
long long itemBytes() {
    if (char const* seam = std::getenv("PLUGHOST_TEST_ITEM_BYTES")) return std::atoll(seam);
    return CoreFsys::iCitemdim;
}

// An input past limit, the bytes the store takes as one item, which a RIFF
// file can pass, is refused before a byte more is read.
std::string tooLarge(long long limit) {
    return "larger than the WAV reader takes (" + std::to_string(limit) + " bytes at most)";
}

// Room in bytes for `more` bytes past those it holds, each growth first
// judged as a file of that size is: 0, else the exit status (1 past limit,
// what a WAV file can be, 2 past the memory) with why.
int grow(std::string& bytes, std::size_t more, long long limit, std::string& why) {
    long long const need = static_cast<long long>(bytes.size() + more);
    // The limit before the room: a reservation may give more than it asked.
    if (need > limit) {
        why = tooLarge(limit);
        return 1;
    }
    if (need <= static_cast<long long>(bytes.capacity())) return 0;
    long long const room =
        std::min(std::max(need, 2 * static_cast<long long>(bytes.capacity())), limit);
    if (!affordable("reading it", 2 * room, why)) return 2;
    bytes.reserve(std::size_t(room));
    return 0;
}

// The whole file, read as given (relative, absolute, any characters), then
// handed to the WAV reader as an item in memory: the store's own file names
// are upper-cased and joined to a folder. A pipe or a device is read as it
// comes, while its start is a WAV file's and its bytes fit a WAV file and
// the memory. Returns the exit status: 0 when read, else 1 (unreadable, or
// not at `rate` exactly once converted) or 2 (more frames than the output
// holds, or more memory than there is), with why.
// Converted to another rate, the input keeps its level and its timing: no
// gain keeping a kernel's sum, and the lead before its first frame dropped.
int readWav(std::string const& path, int rate, CoreHost::CHANNELS& out, int& fileRate,
            std::string& why) {
    std::string bytes;
    {
        errno = 0;
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) {
            why = CoreButl::systemReason(errno).c_str();
            return 1;
        }
        struct stat about {};
        // A pipe or a device gives no size: it may never end.
        bool const sized = fstat(fileno(file), &about) == 0 && S_ISREG(about.st_mode);
        long long const size = sized ? about.st_size : 0;
        // The file's bytes, then the store's copy of them.
        long long const limit = itemBytes();
        bool const large = size > limit;
        if (large || !affordable("reading it", 2 * size, why)) {
            if (large) why = tooLarge(limit);
            std::fclose(file);
            return large ? 1 : 2;
        }
        int status = 0;
        try {
            bytes.reserve(std::size_t(size));
            char chunk[65536];
            std::size_t got = 0;
            while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
                if ((status = grow(bytes, got, limit, why)) != 0) break;
                bytes.append(chunk, got);
                // A stream is read no further once its start is no WAV file's.
                if (!sized && bytes.size() >= 12 && bytes.size() - got < 12 &&
                    (bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)) {
                    why = "not a RIFF/WAVE file";
                    status = 1;
                    break;
                }
            }
        } catch (std::bad_alloc const&) {
            why = "out of memory reading it";
            status = 1;
        }
        bool const failed = status == 0 && std::ferror(file) != 0;
        std::fclose(file);
        if (failed) {
            why = "read error";
            return 1;
        }
        if (status != 0) return status;
    }
    long n = 0;
    try {
        CorePool pool;
        CoreFsys store(&pool);
        int const item = store.crtit(CoreAnsx("IN.WAV"), false);
        store.setit(item, bytes.data(), static_cast<long>(bytes.size()), CoreAnsx(""), true, false);
        // A refused input is never read from a file of the item's name.
        if (!store.isvld(item)) {
            why = "refused by the item store (" + std::to_string(bytes.size()) + " bytes)";
            return 1;
        }
        std::string().swap(bytes); // the store holds its own copy
        CoreWvfr reader(&pool, &store, false);
        if (rate > 0) reader.setfr(rate, true);
        try {
            reader.open_(CoreAnsx("IN.WAV"));
        } catch (CoreAnsx const&) {
            why = reader.getrs();
            return 1;
        }
        fileRate = reader.getrt();
        int const own = reader.getrr();
        // The nearest recipe would play it at another speed and pitch.
        if (rate > 0 && fileRate != rate) {
            why = "at " + std::to_string(own) + " Hz it cannot be converted exactly to the " +
                  std::to_string(rate) + " Hz of --rate (" +
                  (fileRate == own
                       ? std::string("no recipe converts it")
                       : "the nearest recipe delivers " + std::to_string(fileRate) + " Hz") +
                  ")";
            return 1;
        }
        if (reader.getca() > 2)
            std::fprintf(stderr, "plughost: %s has %d channels; channels 1 and 2 are used\n",
                         path.c_str(), reader.getca());
        n = reader.getdr(false);
        if (n > kWavFrames) {
            why = "its " + std::to_string(n) + " frames at " + std::to_string(fileRate) +
                  " Hz are more than a WAV file holds (" + std::to_string(kWavFrames) + ")";
            return 2;
        }
        // Both channels of doubles; converting, also the file's frames as
        // doubles and the converter's stages for one channel, which take up
        // to four doubles a frame (measured).
        long long const raw = reader.getdr(true);
        long long const need =
            16LL * n + (own != fileRate ? 16 * raw + 32 * std::max<long long>(n, raw) : 0);
        if (!affordable("reading its " + std::to_string(n) + " frames", need, why)) return 2;
        long const lead = reader.getld();
        out.assign(2, {});
        for (auto& c : out) c.assign(std::size_t(n > 0 ? n : 0), 0.0);
        long const got = reader.getdt(n, out[0].data(), out[1].data());
        if (reader.getca() < 2) out[1] = out[0];
        long const skip = std::min(std::max(lead, 0L), got);
        for (auto& c : out) {
            c.resize(std::size_t(got));
            c.erase(c.begin(), c.begin() + skip);
        }
        reader.close();
    } catch (std::bad_alloc const&) {
        why = "out of memory for " + std::to_string(n) + " frames";
        return 1;
    } catch (...) {
        why = "could not be read";
        return 1;
    }
    if (out[0].empty()) {
        why = "no sample data";
        return 1;
    }
    return 0;
}

// Whether the WAV file can go to target (the output with its links followed,
// CoreButl::lnktg): 0 when it is absent or a plain file; else, with why, 2
// for something that is not a plain file (a FIFO or a device renamed over
// would become one) or a loop of links.
int outputRefused(std::string const& target, std::string& why) {
    struct stat about {};
    if (target.empty() || (stat(target.c_str(), &about) == 0 && !S_ISREG(about.st_mode))) {
        why = target.empty() ? "a loop of symbolic links" : "exists and is not a plain file";
        return 2;
    }
    return 0;
}

// The temporary as an interrupting signal finds it: its name in a buffer
// of its own and its descriptor, -1 while there is none to remove.
char interruptedName[PATH_MAX];
volatile sig_atomic_t interruptedFd = -1;

// SIGINT, SIGTERM or SIGHUP: the temporary goes while its name still names
// the file made, then the signal ends the run as it would have. Only calls
// safe in a signal handler.
void interrupted(int signal) {
    struct stat made {};
    struct stat named {};
    int const fd = interruptedFd;
    if (fd >= 0 && fstat(fd, &made) == 0 && lstat(interruptedName, &named) == 0 &&
        made.st_dev == named.st_dev && made.st_ino == named.st_ino)
        unlink(interruptedName);
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigaction(signal, &plain, nullptr);
    raise(signal);
}

// The handler for each of those signals that the run was not started
// ignoring (nohup's SIGHUP stays ignored).
void catchInterrupts() {
    for (int const signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction was {};
        if (sigaction(signal, nullptr, &was) != 0 || was.sa_handler == SIG_IGN) continue;
        struct sigaction caught {};
        caught.sa_handler = interrupted;
        sigemptyset(&caught.sa_mask);
        for (int const other : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&caught.sa_mask, other);
        sigaction(signal, &caught, nullptr);
    }
}

// The interrupting signals held back while the temporary is made and
// recorded for the handler: one arriving between the file's creation and its
// record would otherwise end the run with the file left. No other thread runs
// yet then to take the signal instead.
struct InterruptsHeld {
    sigset_t was{};
    InterruptsHeld() {
        sigset_t held{};
        sigemptyset(&held);
        for (int const signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
        pthread_sigmask(SIG_BLOCK, &held, &was);
    }
    ~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &was, nullptr); }
    InterruptsHeld(InterruptsHeld const&) = delete;
    InterruptsHeld& operator=(InterruptsHeld const&) = delete;
};

// The run's own file beside the output, created exclusively under a name no
// entry had (the output's, ".~", the process id and a count), so the run
// never writes or removes a file it did not make. It goes at the end of the
// run unless it was renamed over the output, and when a signal ends the run.
struct Temporary {
    std::string path;
    int fd = -1;
    Temporary() = default;
    Temporary(Temporary const&) = delete;
    Temporary& operator=(Temporary const&) = delete;
    ~Temporary() {
        if (fd < 0) return;
        // Removed before the handler forgets it: a signal in between finds
        // the name gone, not the file left.
        if (ours()) unlink(path.c_str());
        interruptedFd = -1;
        close(fd);
    }
    // False, with the system's reason, when none can be made beside target.
    bool make(std::string const& target, std::string& why) {
        InterruptsHeld const held;
        for (int n = 0; fd < 0 && n < 100; ++n) {
            path = target + ".~" + std::to_string(getpid()) + "." + std::to_string(n);
            fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd < 0) why = CoreButl::systemReason(errno).c_str();
        // A name the open took fits the buffer.
        if (fd >= 0 && path.size() < sizeof interruptedName) {
            std::memcpy(interruptedName, path.c_str(), path.size() + 1);
            std::atomic_signal_fence(std::memory_order_seq_cst); // the name before the descriptor
            interruptedFd = fd;
        }
        return fd >= 0;
    }
    // Whether name names the file made here.
    bool same(std::string const& name, bool follow) const {
        struct stat made {};
        struct stat named {};
        return fstat(fd, &made) == 0 &&
               (follow ? stat(name.c_str(), &named) : lstat(name.c_str(), &named)) == 0 &&
               made.st_dev == named.st_dev && made.st_ino == named.st_ino;
    }
    bool ours() const { return same(path, false); }
    // Why a write stopped short when the file-size limit (ulimit -f) is what
    // stopped it (the file has reached it), else "".
    std::string limited() const {
        struct stat made {};
        rlimit limit{};
        if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
            fstat(fd, &made) != 0 || static_cast<rlim_t>(made.st_size) < limit.rlim_cur)
            return "";
        return ": it would pass the file size limit of " + std::to_string(limit.rlim_cur) +
               " bytes (ulimit -f)";
    }
    // The name the writer opens: the descriptor's own, which names this file
    // whatever happens to its name meanwhile; without one, its name.
    std::string handle() const {
        std::string const own = "/proc/self/fd/" + std::to_string(fd);
        return same(own, true) ? own : path;
    }
    // Renamed over target; false with why.
    bool place(std::string const& target, std::string& why) {
        if (!ours()) {
            why = "its temporary was replaced";
            return false;
        }
        if (std::rename(path.c_str(), target.c_str()) != 0) {
            why = CoreButl::systemReason(errno).c_str();
            return false;
        }
        interruptedFd = -1;
        close(fd);
        fd = -1;
        return true;
    }
};

// The whole file into the run's temporary; false when a frame is missing
// (full disk, failed write, the writer's limit).
bool writeWav(Temporary const& temp, int rate, CoreHost::CHANNELS& data) {
    try {
        CorePool pool;
        return CoreWvfw::exprt(&pool, CoreAnsx(temp.handle().c_str()), 2, rate,
                               static_cast<long>(data[0].size()), data[0].data(), data[1].data(),
                               false);
    } catch (...) {
        return false;
    }
}

// The test signal's kind is impulse, noise or sine:HZ with 0 < HZ < rate / 2.
bool known(std::string const& kind, int rate) {
    if (kind == "impulse" || kind == "noise") return true;
    if (kind.rfind("sine:", 0) != 0) return false;
    char* end = nullptr;
    double const hz = std::strtod(kind.c_str() + 5, &end);
    return end != kind.c_str() + 5 && *end == '\0' && std::isfinite(hz) && hz > 0.0 &&
           hz < rate / 2.0;
}

// n frames of the signal in arrays of `room` frames (the rest silent).
CoreHost::CHANNELS signal(std::string const& kind, int rate, long n, long room) {
    CoreHost::CHANNELS s(2, std::vector<double>(std::size_t(std::max(n, room)), 0.0));
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

// The tail a plug-in reports, frames (0 and 1 say unknown and none).
long tailOf(CoreHost& host) {
    long const tail = static_cast<long>(host.dispt(PlatVst::opGetTailSize));
    return tail > 1 ? tail : 0;
}

// The longest tail the plug-in reported while rendering: a program change
// may bring a longer one, so from the block that carried the first MIDI
// message on it is asked again after every block (the new program reports
// its tail once its load and the silence after it are over).
struct TAILS {
    CoreHost* host = nullptr;
    long first = LONG_MAX; // frame of the first MIDI message of this render
    long longest = 0;
};
TAILS tails;

bool terminal = false;
void progress(long done, long total) {
    if (tails.host != nullptr && tails.first < done)
        tails.longest = std::max(tails.longest, tailOf(*tails.host));
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

// What the plug-in noticed in its last load (a kernel played unconverted, a
// rate pair without an exact recipe), each distinct notice once on stderr:
// the render stands, but it may not be what was meant.
void notices(CoreHost& host) {
    std::vector<std::string> said;
    for (int n = 0; n < 1000; ++n) {
        std::string const text = CorePeer::bus(host, CoreBnid::iCloadnotices, 's', n).text;
        if (text.empty()) break;
        if (std::find(said.begin(), said.end(), text) != said.end()) continue;
        said.push_back(text);
        std::fprintf(stderr, "plughost: notice: %s\n", text.c_str());
    }
}

// Whether the last load fell back to location 0 (the plug-in says which
// slot failed and why, then what the load noticed on its way); a bank
// without a boot program plays location 0 too, and is no failure.
bool fellBack(CoreHost& host, char const* nothing) {
    if (CorePeer::bus(host, CoreBnid::iCfallback, 'b').number == 0.0) return false;
    int const failed = static_cast<int>(CorePeer::bus(host, CoreBnid::iCfailedslot, 'i').number);
    std::fprintf(stderr, "plughost: slot %d did not load (%s), location 0 plays%s\n", failed,
                 CorePeer::bus(host, CoreBnid::iCfailreason, 's').text, nothing);
    notices(host);
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
    // Past a file-size limit (ulimit -f) a write fails with EFBIG and the run
    // says so, its temporary removed, rather than being killed with it left.
    std::signal(SIGXFSZ, SIG_IGN);
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
        char const* range = ""; // what a refused option takes
        if (a == "--double")
            dbl = true;
        else if (a == "--in" && more)
            input = argv[++i];
        else if (a == "--signal" && more)
            kind = argv[++i];
        else if (a == "--seconds" && more)
            good = number(argv[++i], seconds) && seconds >= 0.0;
        else if (a == "--rate" && more) {
            good = number(argv[++i], rate) && rate >= 1000 && rate <= 768000;
            range = ": 1000 to 768000 Hz";
        } else if (a == "--block" && more) { // the plug-in's largest block
            good = number(argv[++i], block) && block >= 1 && block <= 1 << 20;
            range = ": 1 to 1048576 frames";
        } else if (a == "--slot" && more)
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
            std::fprintf(stderr, "plughost: \"%s%s%s\" is not understood%s\n", a.c_str(),
                         i > at ? " " : "", i > at ? argv[i] : "", range);
            return usage();
        }
    }
    if (withEditor && (!input.empty() || !midi.empty())) return usage();
    // Whatever the output is named through, what it names is checked before
    // anything is read or rendered, and again before it is replaced.
    std::string const target =
        withEditor ? "" : std::string(CoreButl::lnktg(CoreAnsx(output.c_str())).c_str());
    auto refused = [&] {
        std::string why;
        int const status = outputRefused(target, why);
        if (status != 0)
            std::fprintf(stderr, "plughost: %s: %s; no output written\n", output.c_str(),
                         why.c_str());
        return status;
    };
    if (int const status = withEditor ? 0 : refused(); status != 0) return status;
    // Caught before the temporary is made: a signal meanwhile finds none.
    if (!withEditor) catchInterrupts();
    Temporary temp;
    if (std::string why; !withEditor && !temp.make(target, why)) {
        std::fprintf(stderr, "plughost: %s: %s; no output written\n", output.c_str(), why.c_str());
        return 1;
    }
    // Lengths are checked before anything is allocated, and again with the
    // plug-in's latency and tail once it is loaded.
    auto fits = [](std::string const& what, long long frames) {
        if (frames <= kWavFrames) return true;
        std::fprintf(stderr, "plughost: %s makes %lld frames, more than a WAV file holds (%lld)\n",
                     what.c_str(), frames, kWavFrames);
        return false;
    };
    auto option = [](char const* name, double value) {
        char text[64];
        std::snprintf(text, sizeof text, "%s %g", name, value);
        return std::string(text);
    };
    // Bytes the render takes beyond the input already read: the lead-in's
    // silence and its output, given back before the input's and the
    // output's arrays of `total` frames are made. Each is two channels of
    // doubles, and the host makes the output's by copying a third: 40 bytes
    // a frame, of which an input read holds 16 already.
    CoreHost::CHANNELS in;
    auto roomFor = [&](long long lead, long long total) {
        long long const held = in.empty() ? 0 : static_cast<long long>(in[0].size());
        std::string why;
        if (affordable("rendering " + std::to_string(total) + " frames",
                       std::max(40 * lead, 40 * total - 16 * held), why))
            return true;
        std::fprintf(stderr, "plughost: %s; no output written\n", why.c_str());
        return false;
    };
    auto frameCount = [](double seconds, int hz) {
        double const n = std::round(seconds * hz);
        return n > 9e18 ? LLONG_MAX : static_cast<long long>(n);
    };
    std::stable_sort(
        midi.begin(), midi.end(),
        [](CoreHost::MIDI const& x, CoreHost::MIDI const& y) { return x.frame < y.frame; });

    long long signalFrames = 0;
    if (!input.empty()) {
        int fileRate = 0;
        std::string why;
        if (int const status = readWav(input, rate, in, fileRate, why); status != 0) {
            std::fprintf(stderr, "plughost: %s: %s; no output written\n", input.c_str(),
                         why.c_str());
            return status;
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
    if (!fits(option("--lead-in", leadin), frameCount(leadin, rate)) ||
        !fits(option("--seconds", seconds), signalFrames) ||
        (!withEditor &&
         !roomFor(frameCount(leadin, rate), input.empty() ? signalFrames : long(in[0].size()))))
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
    long tail = tailOf(host); // the tail the render is padded with so far
    long long const extra = std::max(latency, 0L) + tail;
    long const frames = input.empty() ? static_cast<long>(signalFrames) : long(in[0].size());
    long const total = static_cast<long>(frames + extra);
    if (!fits(option("--lead-in", leadin), lead + extra) ||
        !fits(input.empty() ? option("--seconds", seconds)
                            : input + " with the plug-in's latency and tail",
              frames + extra) ||
        !roomFor(lead, total))
        return 2;
    double spent = 0.0;
    CoreHost::CHANNELS out;
    try {
        if (std::getenv("PLUGHOST_TEST_ALLOCATION_FAILS") != nullptr) throw std::bad_alloc();
        if (lead > 0) {
            CoreHost::CHANNELS quiet(2, std::vector<double>(std::size_t(lead), 0.0)), ignored;
            host.rendr(quiet, ignored, dbl);
        }
        if (input.empty())
            in = signal(kind, rate, frames, total);
        else
            for (auto& c : in) c.resize(std::size_t(total), 0.0);
        terminal = isatty(2) && in[0].size() > std::size_t(10 * rate);
        tails = {&host, midi.empty() ? LONG_MAX : midi.front().frame, tail};
        auto const t0 = std::chrono::steady_clock::now();
        host.rendr(in, out, dbl, false, midi, progress);
        // A program a MIDI message switched to may ring longer than the first:
        // the render goes on in silence (with the messages that fall there)
        // for the longest tail reported.
        terminal = false;
        while (tails.longest > tail) {
            long const at = long(out[0].size()), more = tails.longest - tail;
            tail = tails.longest;
            if (!fits(input.empty() ? option("--seconds", seconds)
                                    : input + " with the plug-in's latency and tail",
                      frames + std::max(latency, 0L) + tail))
                return 2;
            std::vector<CoreHost::MIDI> later;
            for (CoreHost::MIDI m : midi)
                if (m.frame >= at && m.frame < at + more) {
                    m.frame -= at;
                    later.push_back(m);
                }
            tails = {&host, 0, tail};
            CoreHost::CHANNELS quiet(2, std::vector<double>(std::size_t(more), 0.0)), rest;
            host.rendr(quiet, rest, dbl, false, later, progress);
            for (std::size_t c = 0; c < out.size(); ++c)
                out[c].insert(out[c].end(), rest[c].begin(), rest[c].end());
        }
        tails = {};
        spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        for (auto& c : out) c.erase(c.begin(), c.begin() + std::min<long>(latency, long(c.size())));
    } catch (std::bad_alloc const&) {
        std::fprintf(stderr,
                     "plughost: out of memory for %ld frames (%ld with latency and tail)%s\n",
                     frames, frames + std::max(latency, 0L) + tail, nothing);
        return 1;
    }
    notices(host);
    if (refused() != 0) return 1; // the output may have changed while rendering
    if (!writeWav(temp, rate, out)) {
        std::fprintf(stderr, "plughost: %s could not be written whole%s; no output written\n",
                     output.c_str(), temp.limited().c_str());
        return 1;
    }
    // Or while the temporary was written: checked again just before the rename.
    if (std::string why; refused() != 0 || !temp.place(target, why)) {
        if (!why.empty())
            std::fprintf(stderr, "plughost: %s: %s; no output written\n", output.c_str(),
                         why.c_str());
        return 1;
    }
    double const audio = double(frames + std::max(latency, 0L) + tail) / rate;
    std::printf("plughost: %ld frames at %d Hz, block %d, %s precision, lead-in %ld frames; "
                "latency %ld, tail %ld frames; %.3f s rendered in %.3f s (%.1fx real time)\n",
                frames, rate, block, dbl ? "double" : "single", lead, latency, tail, audio, spent,
                spent > 0 ? audio / spent : 0.0);
    std::printf("%s\n", output.c_str());
    return 0;
}
