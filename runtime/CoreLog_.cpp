#include "runtime/CoreLog_.h"

#include "platform/PlatFile.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreXutl.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

CoreAnsx CoreLog_::sVpath("");
CoreAnsx CoreLog_::sVfilename("Vorlan3olvio.log");
std::atomic<short> CoreLog_::iVdebuglevel{0};
std::atomic<bool> CoreLog_::bVdebugtimestamp{false};
std::atomic<double> CoreLog_::tVdebugtimestamp[10] = {};
std::atomic<short> CoreLog_::iVtracelevel{0};

CoreAnsx const CoreLog_::sCerrorprm("***ERROR***>");
CoreAnsx const CoreLog_::sCnoticepr("***NOTICE***>");
CoreAnsx const CoreLog_::sCerrorfle("Error in file");
CoreAnsx const CoreLog_::sCerrortag("Error in tag");
CoreAnsx const CoreLog_::sCsimplelogpath("C:\\test.log");
CoreAnsx const CoreLog_::sCerrorsm2("SSE2 not supported");
CoreAnsx const CoreLog_::sCwarngcvd("CONVOLUTION:");
CoreAnsx const CoreLog_::sCvendor_n("Olvio");
CoreAnsx const CoreLog_::sCversion_("1.3.508");
CoreAnsx const CoreLog_::sCsubvrsn_("(Lumo3 1.0)");
CoreAnsx const CoreLog_::sCproductn("Vorlan3 olvio");
CoreAnsx const CoreLog_::sCmagicnum("o010");
CoreAnsx const CoreLog_::sCwarngbin("BREVANTA LOADER ver ");
CoreAnsx const CoreLog_::sCwarngbdl("DEBUG level: ");
CoreAnsx const CoreLog_::sCwarngbmo("MASTER Ok ");
CoreAnsx const CoreLog_::sCwarngbmk("MASTER Ko: master descriptor not found ");
CoreAnsx const CoreLog_::sCwarngbro("ROM MEMORY Ok ");
CoreAnsx const CoreLog_::sCwarngbrk("ROM MEMORY Ko: rom descriptor not found ");
CoreAnsx const CoreLog_::sCwarngbmt("MASTER Ko: master descriptor ");
CoreAnsx const CoreLog_::sCwarngbrt("ROM MEMORY Ko: rom descriptor ");
CoreAnsx const CoreLog_::sCwarngbpo("PROGRAM MANAGER Ok ");
CoreAnsx const CoreLog_::sCwarngbso("SSE2 supported ");
CoreAnsx const CoreLog_::sCwarngbsk("SSE2 not supported ");
CoreAnsx const CoreLog_::sCwarngbco("CONVOLVER ENGINE Ok ");
CoreAnsx const CoreLog_::sCwarngbgo("GRAPHICS Ok ");
CoreAnsx const CoreLog_::sCwarngbio("PROGRAM #0 Ok ");
CoreAnsx const CoreLog_::sCwarngsto("SETTINGS Ok ");
CoreAnsx const CoreLog_::sCwarngbeo("STARTING...");
CoreAnsx const CoreLog_::sCstatsloa("Loading");
CoreAnsx const CoreLog_::sCstatspar("Parsing");
CoreAnsx const CoreLog_::sCstatsexe("Executing");

namespace {

constexpr double secondsPerDay = 86400.0;
constexpr int timerCount = 10;

std::atomic<double (*)()> clockSource{nullptr}; // test seam; null: wall clock

double daysNow() {
    double (*source)() = clockSource.load(std::memory_order_relaxed);
    return source ? source() : CoreXutl::ttime();
}

// The folder and name texts are set by the engine while other instances'
// threads may be logging; they are copied under this leaf lock so a line
// never reads a block that is being reallocated. Nothing else is held.
std::mutex& nameLock() {
    static std::mutex lock;
    return lock;
}

void writeAll(int fd, char const* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// Holds off thread cancellation for its scope, restoring the previous state.
class CancelOff {
public:
    CancelOff() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous); }
    ~CancelOff() {
        int ignored = 0;
        pthread_setcancelstate(previous, &ignored);
    }
    CancelOff(CancelOff const&) = delete;
    CancelOff& operator=(CancelOff const&) = delete;

private:
    int previous = PTHREAD_CANCEL_ENABLE; // the thread's state before the guard
};

} // namespace

void CoreLog_::setpt(CoreAnsx const& folder) {
    try {
        CoreAnsx copy(folder);
        std::lock_guard<std::mutex> guard(nameLock());
        sVpath = std::move(copy);
    } catch (...) {
    }
}

CoreAnsx CoreLog_::getpt() {
    std::lock_guard<std::mutex> guard(nameLock());
    return sVpath;
}

void CoreLog_::setfn(CoreAnsx const& name) {
    try {
        CoreAnsx copy(name);
        std::lock_guard<std::mutex> guard(nameLock());
        sVfilename = std::move(copy);
    } catch (...) {
    }
}

CoreAnsx CoreLog_::getfn() {
    std::lock_guard<std::mutex> guard(nameLock());
    return sVfilename;
}

void CoreLog_::setdb(short level, bool timestamps) {
    iVdebuglevel.store(level);
    bVdebugtimestamp.store(timestamps);
    double const now = daysNow();
    for (auto& timer : tVdebugtimestamp) timer.store(now);
}

short CoreLog_::getdb() { return iVdebuglevel.load(); }

bool CoreLog_::aredb() { return iVdebuglevel.load() > 0; }

void CoreLog_::logas(CoreAnsx const& text) {
    CoreAudp::forbid("CoreLog_::logas");
    try {
        CoreAnsx file;
        {
            std::lock_guard<std::mutex> guard(nameLock());
            if (sVpath.Length() <= 0 || sVfilename.Length() <= 0) return;
            file = sVpath + sVfilename;
        }
        // The whole line goes out in one append, so concurrent writers
        // (threads or other instances) never split each other's lines.
        char prefix[64];
        char* end = std::to_chars(prefix, prefix + 24, CoreXutl::getpi()).ptr;
        *end++ = '-';
        end = std::to_chars(end, prefix + 48, CoreXutl::getti()).ptr;
        *end++ = ' ';
        *end = 0;
        CoreAnsx line(prefix);
        line += text;
        line += CoreAnsx('\n');

        // open, write and close are cancellation points. A thread cancelled
        // there would unwind into the catch-all below, which may not swallow
        // a cancellation (the process aborts), and could leave half a line.
        // So the line is written with cancellation held off; a pending cancel
        // acts at the thread's next cancellation point.
        CancelOff hold;
        // Only a plain file takes the log, as only a plain file is opened
        // anywhere: a FIFO there would block every line until a reader came,
        // and opening a device can act on it. Such a log logs nothing.
        // Its own refusal, not the thread's fferr: a line logged between an
        // open and its caller's question must not answer it.
        int kind = 0;
        int const fd = CoreButl::plnfd(file, O_WRONLY | O_APPEND | O_CREAT, kind);
        if (fd < 0) return;
        // Under a file-size limit a write that starts at it raises SIGXFSZ,
        // whose default action ends the host: a line that would cross it is
        // dropped. Another writer may append between the look and the write,
        // so the write runs with the signal held off this thread: the line
        // then ends cut at the limit, and the write after it fails.
        struct stat st;
        long long const room = ::fstat(fd, &st) == 0 ? PlatFile::roomBefore(st.st_size) : -1;
        if (room < 0 || room >= line.Length()) {
            PlatFile::SizeHold hold;
            writeAll(fd, line.c_str(), static_cast<std::size_t>(line.Length()));
        }
        ::close(fd);
    } catch (...) {
    }
}

namespace {

thread_local CoreAnsx* reasonSink = nullptr; // rsnsk's sink of this thread
thread_local CoreAnsx* noticeSink = nullptr; // ntsnk's sink of this thread

// Runs write when a line of this level is logged at all, and swallows what it
// throws: logging never fails its caller.
template <typename Write> void whenLogged(short level, Write write) {
    if (level > CoreLog_::iVdebuglevel.load()) return;
    try {
        write();
    } catch (...) {
    }
}

} // namespace

void CoreLog_::debug(CoreAnsx const& text, int timer, short level) {
    whenLogged(level, [&] {
        CoreAnsx line;
        if (bVdebugtimestamp.load() && timer >= 0 && timer < timerCount) {
            double const now = daysNow();
            double elapsed = (now - tVdebugtimestamp[timer].load()) * secondsPerDay;
            if (elapsed < 0) elapsed = 0;
            line.sprintf("%.1f >", elapsed);
            while (line.Length() < 8) line.start(CoreAnsx("0") + line, 0, -1);
            tVdebugtimestamp[timer].store(now);
        } else {
            line = ">";
        }
        for (int dash = 0; dash < timer; ++dash) line += CoreAnsx('-');
        line += text;
        line += CoreAnsx('<');
        logas(line);
    });
}

void CoreLog_::debgs(CoreAnsx const& name, CoreAnsx const& value, int timer, short level) {
    whenLogged(level, [&] { debug(name + CoreAnsx(" = ") + value, timer, level); });
}

void CoreLog_::debgb(CoreAnsx const& name, bool value, int timer, short level) {
    whenLogged(level, [&] { debgs(name, CoreAnsx(value ? "True" : "False"), timer, level); });
}

void CoreLog_::debgd(CoreAnsx const& name, double value, int timer, short level) {
    whenLogged(level, [&] { debgs(name, CoreAnsx(value), timer, level); });
}

void CoreLog_::debgi(CoreAnsx const& name, int value, int timer, short level) {
    whenLogged(level, [&] { debgs(name, CoreAnsx(value), timer, level); });
}

namespace {

void keepReason(CoreAnsx const& text, short level) {
    if (level != 0 || reasonSink == nullptr || reasonSink->Length() > 0) return;
    try {
        *reasonSink = text;
    } catch (...) {
    }
}

} // namespace

CoreAnsx* CoreLog_::rsnsk(CoreAnsx* sink) {
    CoreAnsx* const previous = reasonSink;
    reasonSink = sink;
    return previous;
}

void CoreLog_::loger(CoreAnsx const& text, short level) {
    CoreAudp::forbid("CoreLog_::loger");
    keepReason(text, level);
    whenLogged(level, [&] { logas(sCerrorprm + CoreAnsx(" ") + text); });
}

CoreAnsx* CoreLog_::ntsnk(CoreAnsx* sink) {
    CoreAnsx* const previous = noticeSink;
    noticeSink = sink;
    return previous;
}

void CoreLog_::notce(CoreAnsx const& text) {
    CoreAudp::forbid("CoreLog_::notce");
    if (noticeSink != nullptr) {
        try {
            // Several kernels of one load give the same notice: it is kept once.
            std::string const kept(noticeSink->c_str());
            std::string const line(text.c_str());
            bool seen = false;
            for (std::size_t at = 0; !seen && at < kept.size();) {
                std::size_t const end = std::min(kept.find('\n', at), kept.size());
                seen = kept.compare(at, end - at, line) == 0 && end - at == line.size();
                at = end + 1;
            }
            if (!seen) *noticeSink = *noticeSink + text + CoreAnsx("\n");
        } catch (...) {
        }
    }
    whenLogged(0, [&] { logas(sCnoticepr + CoreAnsx(" ") + text); });
}

void CoreLog_::logfl(CoreAnsx const& text, short level) {
    CoreAudp::forbid("CoreLog_::logfl");
    keepReason(text, level);
    whenLogged(level, [&] { logas(sCerrorprm + sCerrorfle + CoreAnsx(" ") + text); });
}

void CoreLog_::logtg(CoreAnsx const& text, short level) {
    CoreAudp::forbid("CoreLog_::logtg");
    keepReason(text, level);
    whenLogged(level, [&] { logas(sCerrorprm + sCerrortag + CoreAnsx(" ") + text); });
}

void CoreLog_::login(CoreAnsx const& text, int number) {
    CoreAudp::forbid("CoreLog_::login");
    try {
        logas(text + CoreAnsx(" ") + CoreAnsx(number));
    } catch (...) {
    }
}

void CoreLog_::trace(CoreAnsx const& text, bool leaving) {
    if (iVtracelevel.load() <= 0) return;
    try {
        logas(CoreAnsx(leaving ? "<<<" : ">>>") + text);
    } catch (...) {
    }
}

void CoreLog_::dtime(CoreAnsx const& text) {
    CoreAudp::forbid("CoreLog_::dtime");
    try {
        double const now = daysNow();
        double elapsed = (now - tVdebugtimestamp[timerCount - 1].load()) * secondsPerDay;
        CoreAnsx line;
        line.sprintf("%.3f >", elapsed);
        line += text;
        tVdebugtimestamp[timerCount - 1].store(now);
        logas(line);
    } catch (...) {
    }
}

void CoreLog_::smlog(CoreAnsx const&) {}

void CoreLog_::useClock(double (*source)()) {
    clockSource.store(source, std::memory_order_relaxed);
}
